#pragma once
// "Send Command" (one row, again and again while the row repeats) and "Send
// All" as whole runs, without a window: the Command page runs them on the
// runner's worker, the command-line tool's "send" runs the one-row run.
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "commands/command_encoder.h"
#include "commands/command_exchange.h"

class TCustomComPort;
class TLogLine;
class TModuleSession;
class TOperationObserver;

// What waits in the receive queue before a command goes to the log on a line
// started with startText: at most 1024 bytes or 250 ms, since a device that
// keeps sending would hold the run here for good. What is left stays queued
// for the next drain. Nothing is read from a closed port or a stopped run.
void DrainInput(TModuleSession& session, TLogLine& line, const QString& startText);
constexpr int32_t kDrainInputMaxBytes = 1024;

struct TCommandRow {
    int row = 1;      // the row's number in the log ("3. ")
    int command = 0;  // 0: an empty row
    TCommandRowValues values;
};

struct TCommandRunResult {
    bool noModule = false;      // the presence check failed, or the port was closed
    bool aborted = false;       // a repeating row was ended by Abort
    bool answered = true;       // the last frame's reply came whole (or none was due)
    TExchangeResult last;       // the last frame's exchange
};

// One row: waiting input drained ("Peripheral "), the presence check where
// the command needs one (passPresence false: the caller has checked, as
// "Send All" does once for all rows; then only an open port counts), the
// frame and its reply; a repeating row again until its byte comes, Abort or
// a stop. afterSend: 100 % and 100 ms after the frame. stageEachPass: the
// progress window is shown anew for each pass (a single row). XON/XOFF is
// left as the caller set it.
TCommandRunResult RunCommandRow(TModuleSession& session, TOperationObserver& observer, const TCommandRow& row,
                                TLogLine& line, bool presenceCheck, bool afterSend, int32_t sliceMs);

// "Send Command" of one row, with XON/XOFF off for the run.
TCommandRunResult SendCommandRun(TModuleSession& session, TOperationObserver& observer, const TCommandRow& row,
                                 TLogLine& line, int32_t sliceMs);

// "Send All": XON/XOFF off, one communication check, then rows 1..n, the
// progress at row * 100 / n before each; a row that found the port closed
// ends the run, as does a stop. noModule: a row found the port closed (the
// caller shows the message once); a failed first check ends silently.
TCommandRunResult SendAllRun(TModuleSession& session, TOperationObserver& observer,
                             const std::vector<TCommandRow>& rows, TLogLine& line, int32_t sliceMs);
