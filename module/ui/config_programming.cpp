#include "module/ui/config_programming.h"

#include <memory>

#include "module/ui/communication_error.h"
#include "module/config_image.h"
#include "module/ui/operation_guard.h"
#include "module/operation_report.h"
#include "module/operation_state.h"
#include "module/ui/panel_observer.h"
#include "module/program_runs.h"
#include "module/ui/read_back.h"
#include "module/session.h"
#include "serial/com_port.h"
#include "settings/ui/config_page.h"

void ProgramConfigButtonClick(TModuleSession& session, TConfigPage& page, int flowItem)
{
    QPointer<TConfigPage> p(&page);
    int rejected = 0;
    const TConfigImage image = ConfigImage(page.Values(), &rejected);
    const bool verify = page.VerifyAfterProgramming();
    auto run = std::make_shared<TProgramRun>();
    const QString port = TCustomComPort::DevicePath(session.Port().Port());
    const QDateTime started = QDateTime::currentDateTimeUtc();
    StartPanelRun(
        {&page, QStringLiteral("Program Config"), QStringLiteral("Config Memory"), QStringLiteral("Programming")},
        [&session, p, image, flowItem, verify, rejected, run](TStopFlag& stop) {
            TPanelLineHold hold(session, stop);
            TPanelObserver observer(stop, p, QStringLiteral("Config Memory"));
            *run = ProgramConfigRun(session, observer, image, flowItem, verify, rejected);
        },
        [p, run, port, started, image] {
            ReportOperation(ProgramReport(QStringLiteral("program-config"), port, started, image, true, *run,
                                            TOperationState::StopRequested()));
            if (!p) return;
            if (!run->checked)
                ShowCommunicationError(p);
            else if (run->error != TOperationError::None)
                ShowCommunicationError(p, QStringLiteral("Error Programming Config Memory"));
            else if (run->verifyRan)
                ShowVerifyResult(p, run->verify);
        });
}
