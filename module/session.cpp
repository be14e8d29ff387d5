#include "module/session.h"

#include <algorithm>
#include <chrono>

#include "module/operation_observer.h"
#include "module/stop_flag.h"
#include "serial/com_port.h"

namespace {

int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr uint8_t kNop = 0xFF;
constexpr uint8_t kReadVersion = 0x0F;
constexpr uint8_t kDisconnect = 0x01;
constexpr uint8_t kConnect = 0x00;
constexpr uint8_t kAck = 0x6B;
constexpr uint8_t kRlsdHoldOnly = 4;
// A stop is seen within this while a wait blocks on the device.
constexpr int32_t kStopSliceMs = 25;

}  // namespace

bool TModuleSession::StopRequested() const { return stop_ && stop_->Requested(); }

int32_t TModuleSession::WaitSliceMs() const
{
    const int32_t left = RemainingMs();
    return stop_ ? std::min(left, kStopSliceMs) : left;
}

void TModuleSession::SetDeadline(int32_t ms) { deadlineNs_ = NowNs() + int64_t(ms) * 1000000; }

// A stopped run finds every deadline passed, so each of its waits ends at once.
bool TModuleSession::DeadlineReached() const { return StopRequested() || NowNs() >= deadlineNs_; }

int32_t TModuleSession::RemainingMs() const
{
    if (StopRequested()) return 0;
    const int64_t left = deadlineNs_ - NowNs();
    if (left <= 0) return 0;
    return static_cast<int32_t>((left + 999999) / 1000000);
}

void TModuleSession::WriteByte(uint8_t b)
{
    if (StopRequested()) return;  // nothing more goes out
    // Flow control may hold the line: a stop ends the wait for room.
    port_.WriteText(QByteArray(1, static_cast<char>(b)), [this] { return StopRequested(); });
}

uint8_t TModuleSession::WaitforChar(int32_t ms)
{
    SetDeadline(ms);
    for (;;) {
        if (StopRequested()) return 0x00;
        if (port_.InQueueCount() >= 1) {
            char c = 0;
            if (port_.ReadBytes(&c, 1) == 1) return static_cast<uint8_t>(c);
        }
        if (DeadlineReached()) return 0x00;
        port_.WaitForInput(1, WaitSliceMs());
    }
}

bool TModuleSession::Communication_Check()
{
    TBlockingObserver pause(stop_);
    return Communication_Check(pause);
}

bool TModuleSession::Communication_Check(TOperationObserver& observer)
{
    if (StopRequested() || !port_.Connected()) return false;

    if (port_.CommStatusFlags() != kRlsdHoldOnly) {
        WriteByte(kNop);
        observer.Pause(300);
        // Stopped during the pause ("Close Port", the window closed): the
        // port must not be opened again.
        if (StopRequested()) return false;
    }
    port_.PurgeBuffers(true, true);
    port_.SetConnected(false);
    port_.OpenPort();

    bool ok = false;
    if (port_.Connected() && port_.CommStatusFlags() != kRlsdHoldOnly) {
        WriteByte(kReadVersion);
        SetDeadline(300);
        for (;;) {
            const int32_t n = port_.InQueueCount();
            if (n == 5) {
                char reply[5];
                const int32_t got = port_.ReadBytes(reply, 5);
                ok = got == 5 && static_cast<uint8_t>(reply[0]) == 0x43;
                break;
            }
            // The count only grows until we read: more than five can never
            // become exactly five, so the reply is already wrong.
            if (n > 5 || DeadlineReached()) break;
            port_.WaitForInput(5, WaitSliceMs());
        }
    }
    return ok && port_.Connected();
}

bool TModuleSession::ReconnectHandshake()
{
    WriteByte(kDisconnect);
    const bool first = WaitforChar(660) == kAck;
    WriteByte(kConnect);
    WriteByte(0x00);
    WriteByte(0x00);
    const bool second = WaitforChar(660) == kAck;
    return first && second;
}

bool TModuleSession::WaitForBytes(int32_t count, int32_t ms)
{
    SetDeadline(ms);
    for (;;) {
        if (port_.InQueueCount() >= count) return true;
        if (DeadlineReached()) return false;
        port_.WaitForInput(count, WaitSliceMs());
    }
}

bool TModuleSession::WaitForDrain(int32_t ms)
{
    SetDeadline(ms);
    for (;;) {
        if (port_.OutQueueCount() == 0) return true;
        if (DeadlineReached()) return false;
        port_.WaitForOutputEmpty(WaitSliceMs());
    }
}
