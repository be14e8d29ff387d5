#pragma once
// "Find Module" on the Com Port page: the progress window with Abort while
// TModuleFinder tries the listed ports, then the answer in a message box.
class TComPortPage;
class TCustomComPort;

// Selects the port and rate that answered and reports the module's version;
// otherwise says what was tried. Runs with the port closed.
void RunFindModule(TComPortPage& page, TCustomComPort& port);

struct TFindResult;
// The search's answer: the port and rate selected and the version told, or
// what was tried and the command-mode reminder.
void ShowFindResult(TComPortPage& page, const TFindResult& result);
