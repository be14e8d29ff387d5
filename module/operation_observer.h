#pragma once
// What an operation with the module tells whoever runs it, and what it asks
// of them: how far it has got, how it failed, whether to stop, and how to
// pause. Operations run on a thread of their own: the panel's observer
// passes progress on to the window thread, a command-line tool prints it.
#include <QString>
#include <chrono>
#include <cstdint>
#include <thread>

#include "module/stop_flag.h"

enum class TOperationPhase {
    Checking,    // the communication check
    Handshake,   // Disconect, Connect, Read Status, Write Registers
    Erasing,
    Writing,     // a block being programmed
    Reading,     // a block being read
    Sending,     // a command frame
    Receiving,   // its reply
};

enum class TOperationError {
    None,
    NoModule,       // the communication check failed (port closed, no answer, wrong answer)
    NoReply,        // a reply byte of the handshake did not come or was wrong
    BlockData,      // a read block's header was refused or its 32 bytes did not come in time
    TransmitStuck,  // a block's bytes did not leave the transmit queue in time
    Aborted,        // the observer asked to stop where stopping is safe
};

// Plain words for an error, for logs and the command line.
inline const char* OperationErrorText(TOperationError e)
{
    switch (e) {
    case TOperationError::None: return "no error";
    case TOperationError::NoModule: return "no module answered the communication check";
    case TOperationError::NoReply: return "the module did not acknowledge a command";
    case TOperationError::BlockData: return "a memory block did not arrive complete";
    case TOperationError::TransmitStuck: return "the bytes of a block did not leave the transmit queue";
    case TOperationError::Aborted: return "aborted";
    }
    return "unknown error";
}

class TOperationObserver {
public:
    virtual ~TOperationObserver() = default;
    // Percent as the progress window takes it: it never shrinks, and values
    // above 100 show a full bar.
    virtual void Progress(int percent, TOperationPhase phase) = 0;
    // Once, just before a failing operation returns.
    virtual void Failed(TOperationError error) { (void)error; }
    // Asked where the operation can stop without harm (before an erase,
    // between read blocks, between passes of a repeating command).
    virtual bool AbortRequested() { return false; }
    // A new part of the run starts with Abort unclicked (each row of "Send
    // All" hears its own Abort).
    virtual void ClearAbort() {}
    // A fixed pause of the protocol; it must last ms milliseconds.
    virtual void Pause(int32_t ms) = 0;
    // Between the slices of a long wait that the user may want to end.
    virtual void KeepAlive() {}
    // The step the progress window names ("Verifying").
    virtual void Stage(const QString& mode) { (void)mode; }
    // A value the module cannot take was replaced: one beep each.
    virtual void Beep() {}
};

// Pauses by blocking the calling thread and reports nothing: one thread per
// port. With a stop flag, a pause ends the moment a stop is asked.
class TBlockingObserver : public TOperationObserver {
public:
    explicit TBlockingObserver(TStopFlag* stop = nullptr) : stop_(stop) {}
    void Progress(int, TOperationPhase) override {}
    void Pause(int32_t ms) override
    {
        if (stop_) stop_->Sleep(ms);
        else if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }

private:
    TStopFlag* stop_;
};
