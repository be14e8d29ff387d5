#include "app/window_settings.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QTabWidget>

#include "app/main_window.h"
#include "commands/ui/command_page.h"
#include "flash_editor/ui/flash_page.h"
#include "common/ui/dialogs.h"
#include "common/ui/radio_group.h"
#include "module/ui/com_port_page.h"
#include "serial/ui/com_combo_box.h"
#include "settings/ui/config_page.h"
#include "terminal/ui/terminal_page.h"

QList<QPair<QString, QCheckBox*>> RememberedCheckBoxes(TTarnwickForm& form)
{
    return {
        {QStringLiteral("localEcho"), form.TerminalSheet->CheckBox1},
        {QStringLiteral("verifyFlash"), form.FlashMemorySheet->VerifyFlashCheckBox},
        {QStringLiteral("verifyConfig"), form.FlashConfigSheet->VerifyConfigCheckBox},
        {QStringLiteral("reconnect"), form.ComPortSheet->ReconnectCheckBox},
        {QStringLiteral("findAllRates"), form.ComPortSheet->AllRatesCheckBox},
    };
}

TRememberedSettings CaptureSettings(TTarnwickForm& form)
{
    TRememberedSettings s;
    TComPortPage& com = *form.ComPortSheet;
    s.port = StableDeviceName(com.ComComboBox1->Text());
    // A pseudo-terminal (the built-in virtual module's among them) gets a new
    // name each time; the same name later may be someone else's terminal.
    if (s.port.startsWith(QLatin1String("/dev/pts/"))) s.port.clear();
    s.choices = com.Choices();
    s.page = form.PageControl1->currentIndex();
    s.geometry = form.saveGeometry();
    for (const auto& [name, box] : RememberedCheckBoxes(form)) s.checks.insert(name, box->isChecked());
    s.folders = DialogFolders();
    s.config = form.FlashConfigSheet->Values();
    std::vector<TCommandRowValues> rows;
    for (int n = 1; n <= TCommandPage::kRows; ++n) rows.push_back(form.CommandSheet->RowValues(n));
    s.rows = rows;
    return s;
}

namespace {

void ApplyPort(TComPortPage& com, const QString& port)
{
    if (port.isEmpty() || !QFileInfo::exists(port)) return;  // unplugged since: not an error
    TComComboBox& chooser = *com.ComComboBox1;
    const QString device = QFileInfo(port).canonicalFilePath();
    for (const QString& name : {port, device, QFileInfo(device).fileName()}) {
        chooser.SetText(name);
        if (chooser.Text().compare(name, Qt::CaseInsensitive) == 0) return;
    }
    chooser.AddExtraPort(port);
}

}  // namespace

void ApplySettings(TTarnwickForm& form, const TRememberedSettings& s)
{
    TComPortPage& com = *form.ComPortSheet;
    ApplyPort(com, s.port);
    com.BaudRateGroup->SetItemIndex(s.choices.baudItem);
    com.DataLengthGroup->SetItemIndex(s.choices.dataItem);
    com.ParityGroup->SetItemIndex(s.choices.parityItem);
    com.StopBitGroup->SetItemIndex(s.choices.stopItem);
    com.FlowControlGroup->SetItemIndex(s.choices.flowItem);
    for (const auto& [name, box] : RememberedCheckBoxes(form))
        if (s.checks.contains(name)) box->setChecked(s.checks.value(name));
    SetDialogFolders(s.folders);
    if (s.config) form.FlashConfigSheet->SetValues(*s.config);
    if (s.rows)
        for (int n = 1; n <= TCommandPage::kRows && size_t(n) <= s.rows->size(); ++n)
            form.CommandSheet->SetRowValues(n, (*s.rows)[size_t(n - 1)]);
    form.PageControl1->setCurrentIndex(s.page);
    if (!s.geometry.isEmpty()) form.restoreGeometry(s.geometry);
}

void RestoreWindowSettings(TTarnwickForm& form, const QString& path, bool reset)
{
    const QString caption = QStringLiteral("Tarnwick Control Panel");
    if (reset) {
        // The file stays where it could not be deleted: it is not read, the
        // window starts from the start values all the same.
        if (!ForgetRememberedSettings(path))
            Dialogs().MessageBox(&form,
                                 QStringLiteral("The remembered settings \"%1\" could not be deleted; the panel "
                                                "starts with the start values.")
                                     .arg(path),
                                 caption, mb::Ok | mb::IconExclamation);
        ApplySettings(form, TRememberedSettings{});
        return;
    }
    const TRememberedSettings s = ReadRememberedSettings(path);
    ApplySettings(form, s);
    if (!s.lost.isEmpty())
        Dialogs().MessageBox(&form, s.lost.join(QLatin1Char('\n')), caption, mb::Ok | mb::IconExclamation);
}

bool SaveWindowSettings(TTarnwickForm& form, const QString& path)
{
    return WriteRememberedSettings(path, CaptureSettings(form));
}
