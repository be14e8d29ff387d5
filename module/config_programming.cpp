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

namespace {

// Puts the Com Port page's flow control back, whichever way the run ends.
class TFlowControlRestore {
public:
    TFlowControlRestore(TCustomComPort& port, int flowItem) : port_(port), flowItem_(flowItem) {}
    ~TFlowControlRestore()
    {
        if (!armed_) return;
        // Unwinding from a port error: put the settings back, and do not let
        // a second error escape from here.
        try {
            Restore();
        } catch (...) {
        }
    }

    // The run changes the flow control only while the port is open.
    void Arm() { armed_ = true; }

    // As "Open Port" applies the item; reopens the port when it is open,
    // unless the run was stopped (the window closed: the port goes).
    void Restore()
    {
        if (!armed_) return;
        armed_ = false;
        const bool open = port_.Connected();
        if (open) port_.SetConnected(false);
        ApplyFlowControlItem(port_, flowItem_);
        if (open && !TOperationState::StopRequested()) port_.OpenPort();
    }

private:
    TCustomComPort& port_;
    int flowItem_;
    bool armed_ = false;
};

}  // namespace

void ProgramConfigButtonClick(TModuleSession& session, TConfigPage& page, int flowItem)
{
    if (TOperationState::Busy()) return;  // one operation at a time
    TOperationGuard guard(&page);
    ShowStatus(QStringLiteral("Config Memory"), QStringLiteral("Programming"));

    TCustomComPort& port = session.Port();
    TFlowControlRestore restore(port, flowItem);
    if (port.Connected()) {
        restore.Arm();
        port.SetConnected(false);
        ApplyProgrammingFlowControl(port);
        port.OpenPort();
    }

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
