#pragma once
// Exchange primitives with the module in command mode: the one shared
// millisecond deadline, pauses that keep the window alive, the wait for one
// reply byte, the communication check and the reconnect handshake.
#include <cstdint>

#include "common/hex_text.h"

class TCustomComPort;
class TOperationObserver;

class TModuleSession {
public:
    explicit TModuleSession(TCustomComPort& port) : port_(port) {}

    TCustomComPort& Port() { return port_; }

    // The shared deadline, on a monotonic clock (a wait across midnight ends on time).
    void SetDeadline(int32_t ms);
    bool DeadlineReached() const;
    // Milliseconds left until the deadline (0 when reached).
    int32_t RemainingMs() const;

    // Returns after ms milliseconds, processing Qt events meanwhile. Waits,
    // pauses and writes end at once when the running operation was stopped
    // (TOperationState); an exit of the event loop during a pause stops it.
    static void PauseWithMessages(int32_t ms);

    // One received byte within ms, or 0x00. Blocks on the device, processes
    // no window messages, returns the moment a byte arrives.
    uint8_t WaitforChar(int32_t ms);

    // The check pauses through the observer; without one it pauses as
    // PauseWithMessages does.
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
    TCustomComPort& port_;
    int64_t deadlineNs_ = 0;
};
