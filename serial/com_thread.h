#pragma once
// TComThread: watches an open port's device and hands each batch of line
// events to the port's batch handler. Linux has no WaitCommEvent, so the
// thread blocks in poll on the device and a wake-up eventfd, and compares
// queue counts, modem lines and error counters between wake-ups. It only
// uses a timer while something cannot be waited for: bytes still queued,
// a transmit queue draining, or modem lines (sampled every 25 ms).
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/com_types.h"

class TCustomComPort;
struct TSerialCounters;

// Win32 event-mask values (EV_*) for the event set, and back.
uint32_t EventsToMask(TComEvents events);
TComEvents MaskToEvents(uint32_t mask);

class TComThread {
public:
    TComThread(TCustomComPort* port, TComEvents events, TSyncMethod sync, int32_t inputSize,
               const std::function<int()>& makeWakeFd = nullptr);
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // 0, or the errno of the wake-up descriptor that could not be made
    // (the thread is then not started).
    int Start();
    // Something changed that poll cannot see (a write started or ended).
    void Wake();
    // Signals stop and waits for the thread to end. A batch still waiting
    // for its hand-over is dropped: the close has already reported the
    // lines off, and the thread blocked in it is released.
    void Stop();
    // User-interface thread: runs the batch a hand-over is waiting with.
    void RunPendingHandOver();
    // False once the thread left its loop (stopped, device gone, or a
    // handler raised).
    bool Running() const;
    // True while a batch waits for the user-interface thread.
    bool HandOverWaiting() const;

    uint32_t DeviceMask() const { return deviceMask_; }

private:
    void Run();
    bool SampleReceived(uint64_t* total, int32_t* queued);
    bool HandOver(TComEvents events);
    bool HandOverAndWait(TComEvents events, bool releaseEarly);

    TCustomComPort* port_;
    const TComEvents events_;
    const TSyncMethod sync_;
    const int32_t rx80Threshold_;
    uint32_t deviceMask_ = 0;
    uint8_t baseModem_ = 0;
    bool hasModem_ = false;
    bool hasCounters_ = false;
    std::unique_ptr<TSerialCounters> baseCounters_;
    int wakeFd_ = -1;
    int wakeFdError_ = 0;
    uint64_t txReported_ = 0;  // the port's write sequence last reported drained
    uint64_t openSerial_ = 0;  // which open of the port this thread watches
    std::thread thread_;

    mutable std::mutex m_;
    std::condition_variable cv_;
    bool stop_ = false;
    bool finished_ = false;
    // One hand-over slot: the thread fills it and waits for done_.
    bool pending_ = false;
    bool done_ = false;
    bool releaseEarly_ = false;
    TComEvents pendingEvents_ = 0;
    std::exception_ptr error_;
};
