#include "module/find_module_run.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QTimer>

#include "common/dialogs.h"
#include "common/message_lines.h"
#include "common/radio_group.h"
#include "module/com_port_page.h"
#include "module/module_finder.h"
#include "module/operation_guard.h"
#include "module/status_form.h"
#include "serial/com_combo_box.h"
#include "serial/com_port.h"

namespace {

const QString kCaption = QStringLiteral("Find Module");

}  // namespace

void RunFindModule(TComPortPage& page, TCustomComPort& port)
{
    if (port.Connected()) return;  // the button is off while the port is open
    TFindRequest req;
    for (const TPortInfo& p : page.ComComboBox1->Select().PortInfos()) req.ports << p.path;
    const int chosen = page.BaudRateGroup->ItemIndex() >= 0 ? page.BaudRateGroup->ItemIndex() : 1;
    req.baudItems << chosen;
    if (page.AllRatesCheckBox->isChecked())
        for (int i = 0; i < 8; ++i)
            if (i != chosen) req.baudItems << i;
    req.settings = page.Choices();
    if (req.ports.isEmpty()) {
        Dialogs().MessageBox(&page, QStringLiteral("There is no serial port to search."), kCaption,
                             mb::Ok | mb::IconExclamation);
        return;
    }

    TFindResult result;
    {
        TOperationGuard guard(&page);
        SetAbortRequested(false);
        ShowStatus(kCaption, QStringLiteral("Searching %1 port(s) ...").arg(req.ports.size()));
        TModuleFinder finder(req);
        finder.Start();
        // Waits in an event loop so the window and Abort stay alive; the
        // workers block on their own lines meanwhile.
        QEventLoop loop;
        QTimer tick;
        tick.setInterval(100);
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            if (AbortRequested()) finder.Abort();
            if (finder.Total() > 0) UpdateStatus(finder.Done() * 100 / finder.Total());
            if (finder.Finished()) loop.quit();
        });
        tick.start();
        loop.exec();
        if (!finder.Finished()) {  // the loop ended early: the program is quitting
            finder.Abort();
            while (!finder.WaitFinished(1000)) {
            }
        }
        result = finder.Result();
    }

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
