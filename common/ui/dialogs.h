#pragma once
// The one seam through which the program asks the user anything: message
// boxes, file choosers and the error box. Tests install a scripted seam.
#include <QMap>
#include <QString>

class QWidget;

// Message-box styles and results keep their classic numeric values, so the
// callers read like the protocol documents they were written from.
namespace mb {
constexpr int Ok = 0x00;
constexpr int OkCancel = 0x01;
constexpr int YesNo = 0x04;
constexpr int IconError = 0x10;
constexpr int IconQuestion = 0x20;
constexpr int IconExclamation = 0x30;
constexpr int IconInformation = 0x40;
constexpr int IdOk = 1;
constexpr int IdCancel = 2;
constexpr int IdYes = 6;
constexpr int IdNo = 7;
}  // namespace mb

class TDialogs {
public:
    virtual ~TDialogs() = default;
    // Shows a modal message box; returns one of the mb::Id* values.
    virtual int MessageBox(QWidget* parent, const QString& text, const QString& caption, int style) = 0;
    // File choosers; an empty result means the user cancelled.
    virtual QString OpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                 const QString& defaultExt) = 0;
    virtual QString SaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                 const QString& defaultExt) = 0;
    // As SaveFileName, with a file name proposed (in the folder last used
    // for this title).
    virtual QString SaveFileNameProposing(QWidget* parent, const QString& title, const QString& filter,
                                          const QString& defaultExt, const QString& proposedName)
    {
        (void)proposedName;
        return SaveFileName(parent, title, filter, defaultExt);
    }
    // The application's error box for an exception that reached the top.
    virtual void ErrorBox(QWidget* parent, const QString& message, const QString& details) = 0;
    // The system beep that answers invalid input in an entry field.
    virtual void Beep() = 0;
};

// The seam in force; by default Qt's own (non-native) dialogs.
TDialogs& Dialogs();
// Installs another seam (tests); nullptr restores the default. Not owned.
void SetDialogs(TDialogs* dialogs);

// The folder each file chooser (by its title) was last used in: Qt's
// choosers open there and remember the folder of the file chosen. The
// remembered settings keep the map between runs.
QMap<QString, QString> DialogFolders();
void SetDialogFolders(const QMap<QString, QString>& folders);
void RememberDialogFolder(const QString& title, const QString& chosenFile);
