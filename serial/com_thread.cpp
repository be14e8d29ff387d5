#include "serial/com_thread.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QMetaObject>
#include <algorithm>
#include <cerrno>
#include <chrono>

#include "serial/com_port.h"
#include "serial/serial_device.h"

namespace {

struct TMaskEntry {
    TComEvent event;
    uint32_t deviceBit;
};
constexpr TMaskEntry kMask[] = {
    {evRxChar, 0x0001}, {evTxEmpty, 0x0004}, {evRxFlag, 0x0002}, {evRing, 0x0100},  {evBreak, 0x0040},
    {evCTS, 0x0008},    {evDSR, 0x0010},     {evError, 0x0080},  {evRLSD, 0x0020}, {evRx80Full, 0x0400},
};

// The order in which window-style hand-over sends single events.
constexpr TComEvent kWindowOrder[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                      evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};

constexpr int kModemSampleMs = 25;
constexpr int kTxDrainSampleMs = 2;
constexpr int kRxQueuedMinMs = 2;
constexpr int kRxQueuedMaxMs = 32;

bool Has(TComEvents set, TComEvent e) { return set & EventBit(e); }

}  // namespace

uint32_t EventsToMask(TComEvents events)
{
    uint32_t mask = 0;
    for (const TMaskEntry& e : kMask)
        if (Has(events, e.event)) mask |= e.deviceBit;
    return mask;
}

TComEvents MaskToEvents(uint32_t mask)
{
    TComEvents events = 0;
    for (const TMaskEntry& e : kMask)
        if (mask & e.deviceBit) events |= EventBit(e.event);
    return events;
}

TComThread::TComThread(TCustomComPort* port, TComEvents events, TSyncMethod sync, int32_t inputSize,
                       const std::function<int()>& makeWakeFd)
    : port_(port),
      events_(events),
      sync_(sync),
      rx80Threshold_(std::max<int32_t>(1, inputSize * 8 / 10)),
      baseCounters_(std::make_unique<TSerialCounters>())
{
    wakeFd_ = makeWakeFd ? makeWakeFd() : ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) wakeFdError_ = errno != 0 ? errno : EMFILE;
}

TComThread::~TComThread()
{
    Stop();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

int TComThread::Start()
{
    if (wakeFd_ < 0) return wakeFdError_;
    deviceMask_ = EventsToMask(events_);
    openSerial_ = port_->openSerial_;
    txReported_ = port_->txSeq_.load();
    // The baseline is taken before OpenPort returns, so a change right
    // after the open is an event even if the thread starts late.
    TSerialDevice* dev = port_->Device();
    if (dev->ModemStatus(&baseModem_, &hasModem_) != 0) hasModem_ = false;
    if (dev->Counters(baseCounters_.get(), &hasCounters_) != 0) hasCounters_ = false;
    thread_ = std::thread([this] { Run(); });
    return 0;
}

void TComThread::Wake()
{
    if (wakeFd_ < 0) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

bool TComThread::Running() const
{
    std::lock_guard<std::mutex> lock(m_);
    return thread_.joinable() && !finished_;
}

bool TComThread::HandOverWaiting() const
{
    std::lock_guard<std::mutex> lock(m_);
    return pending_;
}

void TComThread::Stop()
{
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m_);
        stop_ = true;
    }
    cv_.notify_all();
    Wake();
    std::this_thread::yield();
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_);
            cv_.wait(lock, [this] { return pending_ || finished_; });
            if (!pending_) break;
            // Dropped, not run: it would light lamps the close has just
            // reported off.
            pending_ = false;
            done_ = true;
        }
        cv_.notify_all();
    }
    thread_.join();
}

void TComThread::RunPendingHandOver()
{
    TComEvents events = 0;
    bool early = false;
    {
        std::lock_guard<std::mutex> lock(m_);
        if (!pending_) return;
        pending_ = false;
        events = pendingEvents_;
        early = releaseEarly_;
        if (early) done_ = true;
    }
    if (early) {
        // Window-style: the thread goes on at once; a failure goes to the
        // application's error display like any other.
        cv_.notify_all();
        if (port_->Connected()) port_->HandleEvents(events);
        return;
    }
    std::exception_ptr error;
    try {
        port_->HandleEvents(events);
    } catch (...) {
        error = std::current_exception();
    }
    {
        std::lock_guard<std::mutex> lock(m_);
        error_ = error;
        done_ = true;
    }
    cv_.notify_all();
}

bool TComThread::HandOverAndWait(TComEvents events, bool releaseEarly)
{
    {
        std::lock_guard<std::mutex> lock(m_);
        pendingEvents_ = events;
        releaseEarly_ = releaseEarly;
        pending_ = true;
        done_ = false;
        error_ = nullptr;
    }
    cv_.notify_all();  // a closing port waits for this
    TCustomComPort* port = port_;
    QMetaObject::invokeMethod(port, [port] { port->RunPendingHandOver(); }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(m_);
    // A stop also releases the wait: when the port is closed from inside the
    // handler itself, nobody else could ever finish this hand-over.
    cv_.wait(lock, [this] { return done_ || stop_; });
    return done_ && !error_;
}

bool TComThread::HandOver(TComEvents events)
{
    switch (sync_) {
    case smNone:
        try {
            port_->HandleEvents(events);
        } catch (...) {
            return false;
        }
        return true;
    case smWindowSync:
        for (TComEvent e : kWindowOrder)
            if (Has(events, e) && !HandOverAndWait(EventBit(e), true)) return false;
        return true;
    case smThreadSync:
    default:
        return HandOverAndWait(events, false);
    }
}

bool TComThread::SampleReceived(uint64_t* total, int32_t* queued)
{
    TSerialDevice* dev = port_->Device();
    for (;;) {
        const uint32_t before = port_->rxSeq_.load(std::memory_order_acquire);
        if (before & 1u) {
            // A read on the user-interface thread is moving bytes right now.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const uint64_t consumed = port_->rxConsumed_.load(std::memory_order_acquire);
        int32_t n = 0;
        if (dev->InQueue(&n) != 0) return false;
        if (port_->rxSeq_.load(std::memory_order_acquire) != before) continue;
        *total = consumed + static_cast<uint64_t>(std::max(n, 0));
        *queued = n;
        return true;
    }
}

void TComThread::Run()
{
    TSerialDevice* dev = port_->Device();
    const bool watchRx = deviceMask_ & (0x0001 | 0x0400);
    const bool watchTx = deviceMask_ & 0x0004;
    const bool watchModem = deviceMask_ & (0x0008 | 0x0010 | 0x0020 | 0x0100);
    const bool watchCounters = deviceMask_ & (0x0040 | 0x0080 | 0x0100);

    uint8_t lastModem = baseModem_;
    TSerialCounters lastCounters = *baseCounters_;
    const bool hasModem = hasModem_ && watchModem;
    const bool hasCounters = hasCounters_ && watchCounters;

    // Bytes already queued at open count as new.
    uint64_t lastRxTotal = port_->rxConsumed_.load(std::memory_order_acquire);
    bool rxAbove80 = false;
    int rxQueuedWaitMs = kRxQueuedMinMs;
    bool lost = false;

    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_);
            if (stop_) break;
        }
        uint32_t occurred = 0;
        int32_t queued = 0;
        bool gone = false;

        if (watchRx) {
            uint64_t total = 0;
            if (!SampleReceived(&total, &queued)) {
                gone = true;
            } else {
                if (total > lastRxTotal) occurred |= 0x0001;
                lastRxTotal = total;
                const bool above = queued >= rx80Threshold_;
                if (above && !rxAbove80) occurred |= 0x0400;
                rxAbove80 = above;
            }
        }
        const uint64_t txSeq = port_->txSeq_.load();
        if (watchTx && !gone && txSeq != txReported_ && !(txSeq & 1u)) {
            int32_t out = 0;
            if (dev->OutQueue(&out) != 0) {
                gone = true;
            } else if (out == 0 && port_->txSeq_.load() == txSeq) {
                // Another write meanwhile: its bytes may not have been
                // counted, so look again rather than report.
                txReported_ = txSeq;
                occurred |= 0x0004;
            }
        }
        if (hasModem && !gone) {
            uint8_t m = 0;
            bool present = false;
            if (dev->ModemStatus(&m, &present) != 0) {
                gone = true;
            } else {
                const uint8_t changed = m ^ lastModem;
                if (changed & ms::Cts) occurred |= 0x0008;
                if (changed & ms::Dsr) occurred |= 0x0010;
                if (changed & ms::Rlsd) occurred |= 0x0020;
                // The ring event marks the end of a ring pulse, as the classic driver did.
                if ((lastModem & ms::Ring) && !(m & ms::Ring)) occurred |= 0x0100;
                lastModem = m;
            }
        }
        if (hasCounters && !gone) {
            TSerialCounters c;
            bool present = false;
            if (dev->Counters(&c, &present) != 0) {
                gone = true;
            } else {
                // Counters catch pulses shorter than the sampling interval.
                if (c.frame != lastCounters.frame || c.overrun != lastCounters.overrun ||
                    c.parity != lastCounters.parity || c.bufOverrun != lastCounters.bufOverrun)
                    occurred |= 0x0080;
                if (c.brk != lastCounters.brk) occurred |= 0x0040;
                if (c.rng != lastCounters.rng) occurred |= 0x0100;
                if (c.cts != lastCounters.cts) occurred |= 0x0008;
                if (c.dsr != lastCounters.dsr) occurred |= 0x0010;
                if (c.dcd != lastCounters.dcd) occurred |= 0x0020;
                lastCounters = c;
            }
        }
        if (gone) {  // the device went away: nothing more will come
            lost = true;
            break;
        }

        const TComEvents events = MaskToEvents(occurred & deviceMask_);
        if (events != 0) {
            rxQueuedWaitMs = kRxQueuedMinMs;
            if (!HandOver(events)) break;
            continue;  // sample again: the handler may have read or written
        }

        // Poll for input only while the queue is empty: it is level-triggered
        // and would return at once for bytes nobody takes.
        const bool wantRead = watchRx && queued == 0;
        int timeout = -1;
        auto shorten = [&timeout](int ms) { timeout = timeout < 0 ? ms : std::min(timeout, ms); };
        if (watchRx && queued > 0) {
            shorten(rxQueuedWaitMs);
            rxQueuedWaitMs = std::min(rxQueuedWaitMs * 2, kRxQueuedMaxMs);
        } else {
            rxQueuedWaitMs = kRxQueuedMinMs;
        }
        if (watchTx && port_->txSeq_.load() != txReported_) shorten(kTxDrainSampleMs);
        if (hasModem || hasCounters) shorten(kModemSampleMs);

        TDeviceWaitResult r;
        if (dev->Wait(wantRead, false, timeout, wakeFd_, &r) != 0 || r.hangup) {
            lost = true;
            break;
        }
        if (r.woken) {
            uint64_t v = 0;
            [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &v, sizeof v);
        }
    }

    bool stopping;
    {
        std::lock_guard<std::mutex> lock(m_);
        stopping = stop_;
    }
    // A handler that failed may have failed because the device went away.
    // The device stays open until this thread is joined.
    if (!lost && !stopping) {
        int32_t n = 0;
        lost = dev->InQueue(&n) != 0;
    }
    if (lost && !stopping) {
        // Nobody may be reading or writing right now to notice: tell the
        // user-interface thread. Dropped when the port goes first.
        TCustomComPort* port = port_;
        const uint64_t serial = openSerial_;
        QMetaObject::invokeMethod(port, [port, serial] { port->NotifyDeviceLost(serial); }, Qt::QueuedConnection);
    }

    // Whatever is still queued is dropped with the thread, as at close.
    dev->Purge(true, true);
    {
        std::lock_guard<std::mutex> lock(m_);
        finished_ = true;
    }
    cv_.notify_all();
}
