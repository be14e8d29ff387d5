#include "module/program_runs.h"

#include "module/port_setup.h"
#include "module/session.h"
#include "serial/com_port.h"

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
    TFlowControlRestore restore(session.Port(), flowItem);
    restore.SwitchToProgramming();
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
