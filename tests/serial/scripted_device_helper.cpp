#include "scripted_device_helper.h"

#include <poll.h>

#include <cerrno>
#include <chrono>

// ------------------------------------------------------------- TScriptedLine

void TScriptedLine::Receive(const QByteArray& bytes)
{
    {
        std::lock_guard<std::mutex> l(m_);
        rx_ += bytes;
    }
    cv_.notify_all();
}

void TScriptedLine::SetModem(uint8_t lines) { Change(lines, 0); }

void TScriptedLine::Change(uint8_t lines, int ringPulses)
{
    {
        std::lock_guard<std::mutex> l(m_);
        if ((lines ^ modem_) & ms::Cts) ++counters_.cts;
        if ((lines ^ modem_) & ms::Dsr) ++counters_.dsr;
        if ((lines ^ modem_) & ms::Rlsd) ++counters_.dcd;
        modem_ = lines;
        counters_.rng += static_cast<uint64_t>(ringPulses);
    }
    cv_.notify_all();
}

void TScriptedLine::AddErrors(int frame, int parity, int overrun, int brk)
{
    {
        std::lock_guard<std::mutex> l(m_);
        counters_.frame += static_cast<uint64_t>(frame);
        counters_.parity += static_cast<uint64_t>(parity);
        counters_.overrun += static_cast<uint64_t>(overrun);
        counters_.brk += static_cast<uint64_t>(brk);
    }
    cv_.notify_all();
}

void TScriptedLine::SetTxHeld(bool held, int32_t capacity)
{
    {
        std::lock_guard<std::mutex> l(m_);
        txHeld_ = held;
        txCapacity_ = capacity;
    }
    cv_.notify_all();
}

void TScriptedLine::ReleaseTx()
{
    {
        std::lock_guard<std::mutex> l(m_);
        sent_ += held_;
        held_.clear();
        txHeld_ = false;
    }
    cv_.notify_all();
}

void TScriptedLine::HangUp()
{
    {
        std::lock_guard<std::mutex> l(m_);
        hungUp_ = true;
    }
    cv_.notify_all();
}

void TScriptedLine::SetHasModemLines(bool v) { std::lock_guard<std::mutex> l(m_); hasModemLines_ = v; }
void TScriptedLine::SetOpenError(int e) { std::lock_guard<std::mutex> l(m_); openError_ = e; }
void TScriptedLine::SetApplyError(int e) { std::lock_guard<std::mutex> l(m_); applyError_ = e; }
void TScriptedLine::SetOutQueueHook(std::function<void()> hook) { std::lock_guard<std::mutex> l(m_); outQueueHook_ = std::move(hook); }
QByteArray TScriptedLine::Sent() const { std::lock_guard<std::mutex> l(m_); return sent_; }
int32_t TScriptedLine::TxQueued() const { std::lock_guard<std::mutex> l(m_); return static_cast<int32_t>(held_.size()); }
int TScriptedLine::Opens() const { std::lock_guard<std::mutex> l(m_); return opens_; }
int TScriptedLine::ModemLooks() const { std::lock_guard<std::mutex> l(m_); return modemLooks_; }
int TScriptedLine::Closes() const { std::lock_guard<std::mutex> l(m_); return closes_; }
std::string TScriptedLine::OpenedPath() const { std::lock_guard<std::mutex> l(m_); return path_; }
std::vector<TDCBRecord> TScriptedLine::Applied() const { std::lock_guard<std::mutex> l(m_); return applied_; }

TCustomComPort::DeviceFactory TScriptedLine::Factory()
{
    // The line outlives neither the test nor the port: the test owns both.
    TScriptedLine* self = this;
    return [self] {
        return std::unique_ptr<TSerialDevice>(
            new TScriptedDevice(std::shared_ptr<TScriptedLine>(self, [](TScriptedLine*) {})));
    };
}

// ----------------------------------------------------------- TScriptedDevice

int TScriptedDevice::Open(const std::string& path)
{
    std::lock_guard<std::mutex> l(line_->m_);
    ++line_->opens_;
    line_->path_ = path;
    if (line_->openError_) return line_->openError_;
    open_ = true;
    return 0;
}

void TScriptedDevice::Close()
{
    if (!open_) return;
    std::lock_guard<std::mutex> l(line_->m_);
    ++line_->closes_;
    line_->rx_.clear();
    line_->held_.clear();
    open_ = false;
}

int TScriptedDevice::ApplyLineSettings(const TDCBRecord& dcb)
{
    std::lock_guard<std::mutex> l(line_->m_);
    line_->applied_.push_back(dcb);
    return line_->applyError_;
}

int TScriptedDevice::SetQueueSizes(int32_t, int32_t) { return 0; }

int TScriptedDevice::Write(const char* data, int32_t count, int32_t timeoutMs, int32_t* written)
{
    *written = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> l(line_->m_);
    int32_t done = 0;
    for (;;) {
        if (line_->hungUp_) {
            *written = done;
            return EIO;
        }
        if (!line_->txHeld_) {
            line_->sent_.append(data + done, count - done);
            done = count;
        } else {
            const int32_t room = line_->txCapacity_ - static_cast<int32_t>(line_->held_.size());
            const int32_t n = std::min(room, count - done);
            if (n > 0) {
                line_->held_.append(data + done, n);
                done += n;
            }
        }
        if (done == count) break;
        if (timeoutMs < 0) {
            line_->cv_.wait(l);
        } else if (line_->cv_.wait_until(l, deadline) == std::cv_status::timeout) {
            break;
        }
    }
    *written = done;
    return 0;
}

int TScriptedDevice::Read(char* data, int32_t count, int32_t* got)
{
    std::lock_guard<std::mutex> l(line_->m_);
    *got = 0;
    if (line_->hungUp_) return EIO;
    const int32_t n = std::min<int32_t>(count, static_cast<int32_t>(line_->rx_.size()));
    memcpy(data, line_->rx_.constData(), static_cast<size_t>(n));
    line_->rx_.remove(0, n);
    *got = n;
    return 0;
}

int TScriptedDevice::InQueue(int32_t* count)
{
    std::lock_guard<std::mutex> l(line_->m_);
    *count = 0;
    if (line_->hungUp_) return EIO;
    *count = static_cast<int32_t>(line_->rx_.size());
    return 0;
}

int TScriptedDevice::OutQueue(int32_t* count)
{
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> l(line_->m_);
        *count = 0;
        if (line_->hungUp_) return EIO;
        *count = static_cast<int32_t>(line_->held_.size());
        hook = line_->outQueueHook_;
    }
    if (hook) hook();
    return 0;
}

int TScriptedDevice::Purge(bool input, bool output)
{
    {
        std::lock_guard<std::mutex> l(line_->m_);
        if (line_->hungUp_ && (input || output)) return EIO;
        if (input) line_->rx_.clear();
        if (output) line_->held_.clear();
    }
    line_->cv_.notify_all();
    return 0;
}

int TScriptedDevice::ModemStatus(uint8_t* lines, bool* present)
{
    std::lock_guard<std::mutex> l(line_->m_);
    *lines = 0;
    *present = false;
    ++line_->modemLooks_;
    if (line_->hungUp_) return EIO;
    *present = line_->hasModemLines_;
    if (*present) *lines = line_->modem_;
    return 0;
}

int TScriptedDevice::Counters(TSerialCounters* counters, bool* present)
{
    std::lock_guard<std::mutex> l(line_->m_);
    *counters = {};
    *present = false;
    if (line_->hungUp_) return EIO;
    *present = line_->hasModemLines_;
    if (*present) *counters = line_->counters_;
    return 0;
}

int TScriptedDevice::Wait(bool wantRead, bool wantWrite, int timeoutMs, int wakeFd, TDeviceWaitResult* result)
{
    *result = {};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::unique_lock<std::mutex> l(line_->m_);
    // The wake-up descriptor is looked at in short slices; script changes
    // wake the waiter at once through the condition variable.
    for (;;) {
        result->hangup = line_->hungUp_;
        result->readable = wantRead && !line_->rx_.isEmpty();
        result->writable = wantWrite && (!line_->txHeld_ || line_->held_.size() < line_->txCapacity_);
        if (result->hangup || result->readable || result->writable) return 0;
        if (wakeFd >= 0) {
            pollfd p{wakeFd, POLLIN, 0};
            if (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
                result->woken = true;
                return 0;
            }
        }
        auto slice = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
        if (timeoutMs >= 0) {
            if (std::chrono::steady_clock::now() >= deadline) return 0;
            slice = std::min(slice, deadline);
        }
        line_->cv_.wait_until(l, slice);
    }
}
