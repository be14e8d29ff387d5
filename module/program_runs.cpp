#include "module/program_runs.h"

#include "module/port_setup.h"
#include "module/session.h"
#include "serial/com_port.h"

namespace {

// Reopens the port with the given flow control; once, and also while a port
// error unwinds (that error is the one reported, not a second).
class TFlowRestore {
public:
    TFlowRestore(TCustomComPort& port, int flowItem) : port_(port), flowItem_(flowItem) {}
    ~TFlowRestore()
    {
        try {
            Restore();
        } catch (...) {
        }
    }
    void Restore()
    {
        if (done_) return;
        done_ = true;
        const bool open = port_.Connected();
        if (open) port_.SetConnected(false);
        ApplyFlowControlItem(port_, flowItem_);
        if (open) port_.OpenPort();
    }

private:
    TCustomComPort& port_;
    int flowItem_;
    bool done_ = false;
};

}  // namespace

TOperationError ProgramFlashRun(TModuleSession& session, TOperationObserver& observer, const TMemoryBytes& image)
{
    if (!session.Communication_Check(observer)) return TOperationError::NoModule;
    const TOperationError e = ProgramMemoryBlocks(session, observer, kEraseFlash, kFlashFirstBlock, image);
    observer.Pause(100);
    return e;
}

TOperationError ProgramConfigRun(TModuleSession& session, TOperationObserver& observer, const TMemoryBytes& image,
                                 int flowItem)
{
    TCustomComPort& port = session.Port();
    TFlowRestore restore(port, flowItem);
    if (port.Connected()) {
        port.SetConnected(false);
        ApplyProgrammingFlowControl(port);
        port.OpenPort();
    }
    TOperationError e = TOperationError::NoModule;
    if (session.Communication_Check(observer)) {
        observer.Progress(10, TOperationPhase::Handshake);
        observer.Pause(100);
        e = ProgramMemoryBlocks(session, observer, kEraseConfig, kConfigFirstBlock, image);
        observer.Pause(100);
    }
    restore.Restore();
    return e;
}
