#pragma once
// Reading the module's memory back: "Read Config", "Compare with Module",
// and how the verifying read that follows a successful "Program Flash" or
// "Program Config" is shown.
#include <QString>

#include "module/memory_operations.h"

class QWidget;
class TConfigPage;
class TFlashPage;
class TModuleSession;

// Blocks 7 to 4 into the Config Memory page, as if the user had typed each
// value; bytes the page cannot express are listed in one message. On
// failure the communication message, and the page keeps its values.
void ReadConfigButtonClick(TModuleSession& session, TConfigPage& page);

// Reads the flash without touching the grids and marks the differing cells.
void CompareFlashButtonClick(TModuleSession& session, TFlashPage& page);

// The verifying read's outcome: a module that did not answer gets the
// communication message, a mismatch one message with the count and the
// first differences. Silent on success. Returns the differences.
std::vector<TByteDifference> ShowVerifyResult(QWidget* page, const TVerifyResult& result);
