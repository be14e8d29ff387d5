#pragma once
// The stop of one run: asked from any thread ("Close Port", the window
// closing, Ctrl-C, a finder that has its answer), seen by the run's waits
// and pauses, which end at once instead of sleeping on.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class TStopFlag {
public:
    bool Requested() const { return stop_.load(std::memory_order_acquire); }
    void Request();
    // Before a new run on the same flag.
    void Reset();
    // Sleeps ms milliseconds; returns early (false) when a stop is asked.
    bool Sleep(int32_t ms);

private:
    std::atomic<bool> stop_{false};
    std::mutex m_;
    std::condition_variable cv_;
};
