#include "module/program_runs.h"

#include "module/port_setup.h"
#include "module/session.h"
#include "module/xon_xoff_suspend.h"
#include "serial/com_port.h"

namespace {

// A stop in the pause after the blocks leaves the module's write unconfirmed:
// the run was stopped, not done.
void StoppedInPause(TProgramRun& run, TModuleSession& session)
{
    if (run.error == TOperationError::None && session.StopRequested()) run.error = TOperationError::Aborted;
}

void VerifyInto(TProgramRun& run, TModuleSession& session, TOperationObserver& observer, int firstBlock,
                const TMemoryBytes& image)
{
    observer.Stage(QStringLiteral("Verifying"));
    run.verifyRan = true;
    run.verify = VerifyMemory(session, observer, firstBlock, image);
}

}  // namespace

TMemoryRead ReadAreaRun(TModuleSession& session, TOperationObserver& observer, int firstBlock,
                        const TBlockSink& onBlock)
{
    TXonXoffSuspend xonXoff(session.Port());  // the blocks may hold 0x11 and 0x13
    return ReadMemoryBlocks(session, observer, firstBlock, onBlock);
}

TProgramRun ProgramFlashRun(TModuleSession& session, TOperationObserver& observer, const TMemoryBytes& image,
                            bool verify)
{
    TXonXoffSuspend xonXoff(session.Port());
    TProgramRun run;
    run.checked = session.Communication_Check(observer);
    if (!run.checked) return run;
    run.error = ProgramMemoryBlocks(session, observer, kEraseFlash, kFlashFirstBlock, image);
    observer.Pause(100);
    StoppedInPause(run, session);
    if (verify && run.error == TOperationError::None) VerifyInto(run, session, observer, kFlashFirstBlock, image);
    return run;
}

TProgramRun ProgramConfigRun(TModuleSession& session, TOperationObserver& observer, const TMemoryBytes& image,
                             int flowItem, bool verify, int rejected)
{
    // Back to the port's flow control whichever way the run ends.
    TFlowControlRestore restore(session.Port(), flowItem, session.Stop());
    restore.SwitchToProgramming();
    TProgramRun run;
    run.checked = session.Communication_Check(observer);
    if (run.checked) {
        observer.Progress(10, TOperationPhase::Handshake);
        observer.Pause(100);
        for (int i = 0; i < rejected; ++i) observer.Beep();
        run.error = ProgramMemoryBlocks(session, observer, kEraseConfig, kConfigFirstBlock, image);
        observer.Pause(100);
        StoppedInPause(run, session);
        // Still on the programming line: the image's 0x11 and 0x13 come back as data.
        if (verify && run.error == TOperationError::None)
            VerifyInto(run, session, observer, kConfigFirstBlock, image);
    }
    restore.Restore();
    return run;
}
