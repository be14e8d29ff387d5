#include "module/ui/find_module_run.h"

#include <QCheckBox>
#include <memory>

#include "common/ui/dialogs.h"
#include "common/message_lines.h"
#include "common/ui/radio_group.h"
#include "module/ui/com_port_page.h"
#include "module/module_finder.h"
#include "module/ui/operation_guard.h"
#include "module/operation_runner.h"
#include "module/operation_state.h"
#include "module/ui/status_form.h"
#include "serial/ui/com_combo_box.h"
#include "serial/com_port.h"

namespace {

const QString kCaption = QStringLiteral("Find Module");

}  // namespace

void RunFindModule(TComPortPage& page, TCustomComPort& port)
{
    // Not inside (or beside) another operation, whoever asks.
    const QString refusal = TOperationRunner::Panel().Refusal();
    if (!refusal.isEmpty()) {
        if (!TOperationState::Quitting()) Dialogs().MessageBox(&page, refusal, kCaption, mb::Ok | mb::IconExclamation);
        return;
    }
    if (port.Connected()) return;  // the button is off while the port is open
    TFindRequest req;
    for (const TPortInfo& p : page.ComComboBox1->Select().PortInfos()) req.ports << p.path;
    const int chosen = page.BaudRateGroup->ItemIndex() >= 0 ? page.BaudRateGroup->ItemIndex() : 1;
    req.baudItems << chosen;
    if (page.AllRatesCheckBox->isChecked())
        for (int i = 0; i < 8; ++i)
            if (i != chosen) req.baudItems << i;
    req.settings = page.Choices();
    req.traffic = &port.Traffic();  // the probes show in the Traffic window
    if (req.ports.isEmpty()) {
        Dialogs().MessageBox(&page, QStringLiteral("There is no serial port to search."), kCaption,
                             mb::Ok | mb::IconExclamation);
        return;
    }

    QPointer<TComPortPage> p(&page);
    auto result = std::make_shared<TFindResult>();
    SetAbortRequested(false);
    StartPanelRun(
        {&page, kCaption, kCaption, QStringLiteral("Searching %1 port(s) ...").arg(req.ports.size())},
        [req, p, result](TStopFlag& stop) {
            TModuleFinder finder(req);
            finder.Start();
            // Abort in the progress window, or a stop of the run (Close Port,
            // the window closing), ends the search within an attempt.
            while (!finder.WaitFinished(50)) {
                if (AbortRequested() || stop.Requested()) finder.Abort();
                if (finder.Total() > 0) {
                    const int percent = finder.Done() * 100 / finder.Total();
                    TOperationRunner::Post(p, [percent] { UpdateStatus(percent); });
                }
            }
            *result = finder.Result();
        },
        [p, result] {
            if (!p || TOperationState::Quitting()) return;
            ShowFindResult(*p, *result);
            TOperationState::NoteFailureShown();  // a stopped search said so itself
        },
        true);
}

void ShowFindResult(TComPortPage& page, const TFindResult& result)
{
    if (result.found) {
        page.ComComboBox1->SetText(result.port);
        page.BaudRateGroup->SetItemIndex(result.baudItem);
        Dialogs().MessageBox(&page, result.Summary() + QLatin1Char('.'), kCaption, mb::Ok | mb::IconInformation);
        return;
    }
    const QString head = result.aborted ? QStringLiteral("The search was aborted before a Tarnwick module answered.")
                                        : QStringLiteral("No Tarnwick module answered.");
    Dialogs().MessageBox(&page,
                         head + QStringLiteral("\n\nTried:\n") + CappedMessageLines(result.TriedLines()).join(QLatin1Char('\n')) +
                             QStringLiteral("\n\nThe module must be jumpered for Command Mode (see the Jumper "
                                            "Settings page) and connected to one of these ports."),
                         kCaption, mb::Ok | mb::IconExclamation);
}
