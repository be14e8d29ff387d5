#include "common/ui/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

QMap<QString, QString>& Folders()
{
    static QMap<QString, QString> folders;
    return folders;
}

class TQtDialogs final : public TDialogs {
public:
    int MessageBox(QWidget* parent, const QString& text, const QString& caption, int style) override
    {
        QMessageBox box(parent);
        box.setWindowTitle(caption);
        box.setText(text);
        switch (style & 0xF0) {
        case mb::IconError: box.setIcon(QMessageBox::Critical); break;
        case mb::IconQuestion: box.setIcon(QMessageBox::Question); break;
        case mb::IconExclamation: box.setIcon(QMessageBox::Warning); break;
        case mb::IconInformation: box.setIcon(QMessageBox::Information); break;
        default: break;
        }
        switch (style & 0x0F) {
        case mb::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
        case mb::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
        default: box.setStandardButtons(QMessageBox::Ok); break;
        }
        switch (box.exec()) {
        case QMessageBox::Cancel: return mb::IdCancel;
        case QMessageBox::Yes: return mb::IdYes;
        case QMessageBox::No: return mb::IdNo;
        default: return mb::IdOk;
        }
    }

    QString OpenFileName(QWidget* parent, const QString& title, const QString& filter,
                         const QString& defaultExt) override
    {
        QFileDialog dlg(parent, title, Folders().value(title), filter);
        dlg.setOption(QFileDialog::DontUseNativeDialog);
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.setFileMode(QFileDialog::ExistingFile);
        dlg.setDefaultSuffix(defaultExt);
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
        RememberDialogFolder(title, dlg.selectedFiles().first());
        return dlg.selectedFiles().first();
    }

    QString SaveFileName(QWidget* parent, const QString& title, const QString& filter,
                         const QString& defaultExt) override
    {
        return SaveFileNameProposing(parent, title, filter, defaultExt, QString());
    }

    QString SaveFileNameProposing(QWidget* parent, const QString& title, const QString& filter, const QString& defaultExt,
                                  const QString& proposedName) override
    {
        QFileDialog dlg(parent, title, Folders().value(title), filter);
        dlg.setOption(QFileDialog::DontUseNativeDialog);
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setFileMode(QFileDialog::AnyFile);
        dlg.setDefaultSuffix(defaultExt);
        if (!proposedName.isEmpty()) dlg.selectFile(proposedName);
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
        RememberDialogFolder(title, dlg.selectedFiles().first());
        return dlg.selectedFiles().first();
    }

    void ErrorBox(QWidget* parent, const QString& message, const QString& details) override
    {
        QMessageBox box(parent);
        box.setWindowTitle(QApplication::applicationName());
        box.setIcon(QMessageBox::Critical);
        box.setText(message);
        if (!details.isEmpty()) box.setInformativeText(details);
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
    }

    void Beep() override { QApplication::beep(); }
};

TQtDialogs g_qtDialogs;
TDialogs* g_dialogs = nullptr;

}  // namespace

TDialogs& Dialogs() { return g_dialogs ? *g_dialogs : g_qtDialogs; }

void SetDialogs(TDialogs* dialogs) { g_dialogs = dialogs; }

QMap<QString, QString> DialogFolders() { return Folders(); }

void SetDialogFolders(const QMap<QString, QString>& folders) { Folders() = folders; }

void RememberDialogFolder(const QString& title, const QString& chosenFile)
{
    if (!chosenFile.isEmpty()) Folders()[title] = QFileInfo(chosenFile).absolutePath();
}
