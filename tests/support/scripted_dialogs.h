#pragma once
// A TDialogs that answers from a script and records what was asked.
#include <QStringList>
#include <deque>

#include "common/ui/dialogs.h"

class TScriptedDialogs : public TDialogs {
public:
    struct Shown {
        QString text;
        QString caption;
        int style;
    };
    std::vector<Shown> messages;
    QStringList errors;        // ErrorBox messages
    QStringList errorDetails;  // ErrorBox details
    std::deque<int> answers;   // MessageBox results, mb::IdOk when empty
    std::deque<QString> openNames, saveNames;
    QStringList proposedNames;  // SaveFileNameProposing's proposals
    int beeps = 0;

    int MessageBox(QWidget*, const QString& text, const QString& caption, int style) override
    {
        messages.push_back({text, caption, style});
        if (answers.empty()) return mb::IdOk;
        const int a = answers.front();
        answers.pop_front();
        return a;
    }
    QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override
    {
        if (openNames.empty()) return {};
        QString n = openNames.front();
        openNames.pop_front();
        return n;
    }
    QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override
    {
        if (saveNames.empty()) return {};
        QString n = saveNames.front();
        saveNames.pop_front();
        return n;
    }
    QString SaveFileNameProposing(QWidget* parent, const QString& title, const QString& filter, const QString& ext,
                                  const QString& proposed) override
    {
        proposedNames << proposed;
        return SaveFileName(parent, title, filter, ext);
    }
    void ErrorBox(QWidget*, const QString& message, const QString& details) override
    {
        errors << message;
        errorDetails << details;
    }
    void Beep() override { ++beeps; }
};

// Installs itself for the lifetime of the object.
class TDialogsScope {
public:
    explicit TDialogsScope(TDialogs* d) { SetDialogs(d); }
    ~TDialogsScope() { SetDialogs(nullptr); }
};
