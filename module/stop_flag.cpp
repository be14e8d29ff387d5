#include "module/stop_flag.h"

#include <chrono>

void TStopFlag::Request()
{
    {
        std::lock_guard<std::mutex> lock(m_);
        stop_.store(true, std::memory_order_release);
    }
    cv_.notify_all();
}

void TStopFlag::Reset()
{
    std::lock_guard<std::mutex> lock(m_);
    stop_.store(false, std::memory_order_release);
}

bool TStopFlag::Sleep(int32_t ms)
{
    if (ms <= 0) return !Requested();
    std::unique_lock<std::mutex> lock(m_);
    return !cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return Requested(); });
}
