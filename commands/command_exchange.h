#pragma once
// One command frame sent to the module and its reply read, without a window:
// the Command page's rows and the command-line tool's "send" share it.
#include <QString>
#include <cstdint>
#include <vector>

#include "commands/command_encoder.h"

class TCustomComPort;
class TLogLine;
class TModuleSession;
class TOperationObserver;

struct TExchangeResult {
    bool complete = false;       // the whole reply came in time
    uint8_t firstReplyByte = 0;  // valid when complete
    std::vector<uint8_t> reply;  // the reply bytes read (all of them when complete)
};

// Sends the frame one byte per write, each logged on a line started with
// lineStart (no line when the frame is empty); a byte waiting in the receive
// queue means the module has started to talk, and the rest stays unsent. A
// reply of more than one byte gets 300 ms after the first byte. The transmit
// queue gets 1200 ms to drain; with afterSend the observer then gets 100 %
// and a 100 ms pause. A reply is awaited for 2400 ms and logged as it comes;
// when none came complete, one waiting byte is logged. A repeating command's
// waits give the observer a turn (KeepAlive) every sliceMs. The line is
// flushed to the log at the end.
TExchangeResult SendCommandFrame(TModuleSession& session, TOperationObserver& observer, const TEncodedCommand& e,
                                 TLogLine& line, const QString& lineStart, bool afterSend, int32_t sliceMs);

// One drain of the input waiting before a command reads at most this many
// bytes and stops after kInputDrainMaxMs: a device that keeps sending cannot
// hold the caller for good. What is left stays queued for the next drain.
constexpr int32_t kInputDrainMaxBytes = 1024;
constexpr int32_t kInputDrainMaxMs = 250;

// Reads the bytes waiting in the receive queue into the line (not flushed),
// within those bounds; nothing from a closed port or once a stop was asked.
// Returns the bytes read.
int32_t DrainWaitingInput(TCustomComPort& port, TLogLine& line);
