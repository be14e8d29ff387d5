#pragma once
// Exchange primitives with the module in command mode: the one shared
// millisecond deadline, the wait for one reply byte, the communication check
// and the reconnect handshake. A session runs on the operation's thread; its
// stop flag ends every wait and write of the run at once.
#include <cstdint>

#include "common/hex_text.h"

class TCustomComPort;
class TOperationObserver;
class TStopFlag;

class TModuleSession {
public:
    explicit TModuleSession(TCustomComPort& port, TStopFlag* stop = nullptr) : port_(port), stop_(stop) {}

    TCustomComPort& Port() { return port_; }
    // The run's stop; null for none.
    TStopFlag* Stop() const { return stop_; }
    void SetStop(TStopFlag* stop) { stop_ = stop; }
    bool StopRequested() const;

    // The shared deadline, on a monotonic clock (a wait across midnight ends on time).
    void SetDeadline(int32_t ms);
    bool DeadlineReached() const;
    // Milliseconds left until the deadline (0 when reached).
    int32_t RemainingMs() const;

    // One received byte within ms, or 0x00. Blocks on the device, processes
    // no window messages, returns the moment a byte arrives.
    uint8_t WaitforChar(int32_t ms);

    // The check pauses through the observer; without one it sleeps on the
    // stop flag.
    bool Communication_Check();
    bool Communication_Check(TOperationObserver& observer);
    bool ReconnectHandshake();

    // Blocking waits against the shared deadline, set to ms first: until
    // count bytes are queued, or until the transmit queue is empty. Each
    // returns false when the deadline passed first.
    bool WaitForBytes(int32_t count, int32_t ms);
    bool WaitForDrain(int32_t ms);

    // Writes one byte as its own write.
    void WriteByte(uint8_t b);

private:
    // How long one blocking wait may last: with a stop flag the wait is cut
    // into slices, so a stop is seen within one.
    int32_t WaitSliceMs() const;

    TCustomComPort& port_;
    TStopFlag* stop_;
    int64_t deadlineNs_ = 0;
};
