#include "module/config_programming.h"

#include "common/dialogs.h"
#include "module/config_image.h"
#include "module/communication_error.h"
#include "module/flash_transfer.h"
#include "module/memory_operations.h"
#include "module/operation_guard.h"
#include "module/operation_state.h"
#include "module/panel_observer.h"
#include "module/port_setup.h"
#include "module/read_back.h"
#include "module/session.h"
#include "module/status_form.h"
#include "serial/com_port.h"
#include "settings/config_page.h"

void ProgramConfigButtonClick(TModuleSession& session, TConfigPage& page, int flowItem)
{
    if (TOperationState::Busy()) return;  // one operation at a time
    TOperationGuard guard(&page);
    ShowStatus(QStringLiteral("Config Memory"), QStringLiteral("Programming"));

    // Back to the Com Port page's flow control whichever way the run ends.
    TFlowControlRestore restore(session.Port(), flowItem);
    restore.SwitchToProgramming();

    TPanelObserver observer;
    if (!session.Communication_Check(observer)) {
        ShowCommunicationError(&page);
    } else {
        observer.Progress(10, TOperationPhase::Handshake);
        observer.Pause(100);

        int rejected = 0;
        const TConfigImage image = ConfigImage(page.Values(), &rejected);
        for (int i = 0; i < rejected; ++i) Dialogs().Beep();

        const bool failed = ProgramMemory(session, kEraseConfig, kConfigFirstBlock, image);
        observer.Pause(100);
        if (failed)
            ShowCommunicationError(&page, QStringLiteral("Error Programming Config Memory"));
        else if (page.VerifyAfterProgramming())
            // After the specified bytes, still with the programming's flow control.
            VerifyAfterProgramming(session, &page, QStringLiteral("Config Memory"), kConfigFirstBlock, image);
    }

    restore.Restore();
}
