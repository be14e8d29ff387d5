#pragma once
// The memory operations as whole runs, one function each, used alike by the
// panel (on its runner's worker), Program Pair and the command-line tool.
// Each owns its whole sequence: the line prepared for it (XON/XOFF off for
// every binary exchange, the programming flow control of a configuration
// run) and given back on every path, the communication check, the
// handshake, pauses and blocks, and the verifying read on the programming
// line before it is restored.
#include "module/memory_operations.h"

class TModuleSession;

// "Read Flash" (firstBlock 0), "Read Config" (4), and the read of "Compare
// with Module", with XON/XOFF off for the run.
TMemoryRead ReadAreaRun(TModuleSession& session, TOperationObserver& observer, int firstBlock,
                        const TBlockSink& onBlock = {});

struct TProgramRun {
    bool checked = false;  // the communication check answered
    TOperationError error = TOperationError::NoModule;  // of the programming
    bool verifyRan = false;
    TVerifyResult verify;  // when verifyRan
    bool Programmed() const { return checked && error == TOperationError::None; }
    bool Ok() const { return Programmed() && (!verifyRan || verify.Ok()); }
};

// "Program Flash": XON/XOFF off, the check, the blocks, 100 ms, then with
// verify the read-back (the observer's stage "Verifying").
TProgramRun ProgramFlashRun(TModuleSession& session, TOperationObserver& observer, const TMemoryBytes& image,
                            bool verify);

// "Program Config": the programming flow control, the check, 10 %, 100 ms,
// one beep per rejected value, the blocks, 100 ms, with verify the read-back,
// then flowItem (the flow control the port had, 0 rtscts .. 3 none) given
// back, also when a port error ends the run.
TProgramRun ProgramConfigRun(TModuleSession& session, TOperationObserver& observer, const TMemoryBytes& image,
                             int flowItem, bool verify, int rejected = 0);
