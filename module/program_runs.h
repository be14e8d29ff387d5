#pragma once
// "Program Flash" and "Program Config" as whole runs without a window, put
// together from the panel's own pieces in the order its handlers use them:
// the communication check, the pauses, the block programming, and for the
// configuration the flow control for programming and back.
#include "module/memory_operations.h"

class TModuleSession;

TOperationError ProgramFlashRun(TModuleSession& session, TOperationObserver& observer, const TMemoryBytes& image);

// flowItem: the flow control the port had (0 rtscts .. 3 none), given back
// at the end, also when a port error ends the run.
TOperationError ProgramConfigRun(TModuleSession& session, TOperationObserver& observer, const TMemoryBytes& image,
                                 int flowItem);
