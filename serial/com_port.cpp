#include "serial/com_port.h"

#include <poll.h>

#include <QThread>

#include <algorithm>
#include <chrono>
#include <climits>
#include <vector>

#include "common/posted_call.h"
#include "serial/com_thread.h"
#include "serial/dcb_flags.h"
#include "serial/serial_device.h"
#include "serial/termios_device.h"

namespace {

// The classic "invalid handle" code that every query on a closed port reports.
constexpr int kInvalidHandle = 6;

// Error word bits of ClearCommError.
constexpr uint32_t CE_RXOVER = 0x0001;
constexpr uint32_t CE_OVERRUN = 0x0002;
constexpr uint32_t CE_RXPARITY = 0x0004;
constexpr uint32_t CE_FRAME = 0x0008;
constexpr uint32_t CE_BREAK = 0x0010;
constexpr uint32_t CE_TXFULL = 0x0100;
constexpr uint32_t CE_IOE = 0x0400;
constexpr uint32_t CE_MODE = 0x8000;

constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

// How often a write held by DSR output flow looks at the line again.
constexpr int64_t kDsrSampleMs = 5;
// A write that a stop may end waits for room this long at a time.
constexpr int32_t kWriteSliceMs = 25;

using Clock = std::chrono::steady_clock;

uint32_t RateOf(TBaudRate b, int32_t custom)
{
    static const uint32_t rates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                     14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    if (b == brCustom) return static_cast<uint32_t>(custom);
    return rates[b];
}

int64_t MsLeft(Clock::time_point deadline)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

void SleepMs(int64_t ms) { ::poll(nullptr, 0, static_cast<int>(std::max<int64_t>(ms, 0))); }

// Keeps rxSeq_ odd while bytes leave the receive queue, so the event thread
// never takes a half-done read for newly received bytes.
class TRxChange {
public:
    explicit TRxChange(std::atomic<uint32_t>& seq) : seq_(seq) { seq_.fetch_add(1, std::memory_order_acq_rel); }
    ~TRxChange() { seq_.fetch_add(1, std::memory_order_acq_rel); }

private:
    std::atomic<uint32_t>& seq_;
};

}  // namespace

struct TCustomComPort::TCounterBase {
    TSerialCounters counters;
    bool present = false;
};

TCustomComPort::TCustomComPort(QObject* parent) : QObject(parent), counterBase_(std::make_unique<TCounterBase>()) {}

TCustomComPort::~TCustomComPort()
{
    try {
        ClosePort();
    } catch (...) {
        // Destruction must not fail: stop the thread and drop the device anyway.
        StopThread();
        if (device_) device_->Close();
        device_.reset();
    }
    const std::vector<TComLink*> links = links_;
    links_.clear();
    for (TComLink* l : links)
        if (l->OnPortDestroyed) l->OnPortDestroyed(this);
}

// ---------------------------------------------------------------- properties

bool TCustomComPort::Connected() const { return open_.load(std::memory_order_acquire); }

void TCustomComPort::SetConnected(bool v)
{
    if (v == Connected()) return;
    if (v)
        OpenPort();
    else
        ClosePort();
}

void TCustomComPort::SetBaudRate(TBaudRate v)
{
    if (v == baudRate_) return;
    baudRate_ = v;
    ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(int32_t v)
{
    if (v == customBaudRate_) return;
    customBaudRate_ = v;
    ApplyLineSettings();
}

void TCustomComPort::SetPort(const QString& v)
{
    if (v == port_) return;
    port_ = v;
    if (Connected()) {
        ClosePort();
        OpenPort();
    }
}

void TCustomComPort::SetStopBits(TStopBits v)
{
    if (v == stopBits_) return;
    stopBits_ = v;
    ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits v)
{
    if (v == dataBits_) return;
    dataBits_ = v;
    ApplyLineSettings();
}

void TCustomComPort::SetDiscardNull(bool v)
{
    if (v == discardNull_) return;
    discardNull_ = v;
    ApplyLineSettings();
}

void TCustomComPort::SetEventChar(char v)
{
    if (v == eventChar_) return;
    eventChar_ = v;
    ApplyLineSettings();
}

void TCustomComPort::SetEvents(TComEvents v) { events_ = static_cast<TComEvents>(v & AllComEvents); }

void TCustomComPort::SetSyncMethod(TSyncMethod v)
{
    if (v == syncMethod_) return;
    if (Connected()) throw EComPort(CError_ConnChangeProp, -1);
    syncMethod_ = v;
}

void TCustomComPort::SetDeviceFactory(DeviceFactory f) { factory_ = std::move(f); }

void TCustomComPort::SetWakeFdFactory(WakeFdFactory f) { wakeFdFactory_ = std::move(f); }

QString TCustomComPort::DevicePath(const QString& port)
{
    if (port.startsWith(QLatin1Char('/'))) return port;
    if (port.size() > 3 && port.startsWith(QLatin1String("COM"))) {
        bool ok = false;
        const int n = port.mid(3).toInt(&ok);
        if (ok && n >= 1 && port.mid(3) == QString::number(n)) return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    }
    return QStringLiteral("/dev/") + port;
}

TDCBRecord TCustomComPort::MakeDCB() const
{
    TDCBRecord d;
    d.DCBlength = 28;
    d.BaudRate = RateOf(baudRate_, customBaudRate_);
    const TComFlowControl& fc = flowControl_;
    uint32_t f = dcb::Binary;
    if (parity_.Check()) f |= dcb::Parity;
    if (fc.OutCTSFlow()) f |= dcb::OutxCtsFlow;
    if (fc.OutDSRFlow()) f |= dcb::OutxDsrFlow;
    f |= static_cast<uint32_t>(fc.ControlDTR()) << 4;
    if (fc.DSRSensitivity()) f |= dcb::DsrSensitivity;
    if (fc.TxContinueOnXoff()) f |= dcb::TxContinueOnXoff;
    if (fc.XonXoffOut()) f |= dcb::OutX;
    if (fc.XonXoffIn()) f |= dcb::InX;
    const bool errorChar = parity_.Check() && parity_.Replace();
    if (errorChar) f |= dcb::ErrorChar;
    if (discardNull_) f |= dcb::Null;
    f |= static_cast<uint32_t>(fc.ControlRTS()) << 12;
    d.Flags = f;
    d.XonLim = static_cast<uint16_t>(buffer_.InputSize() / 4);
    d.XoffLim = static_cast<uint16_t>(buffer_.InputSize() / 4);
    d.ByteSize = static_cast<uint8_t>(5 + dataBits_);
    d.Parity = static_cast<uint8_t>(parity_.Bits());
    d.StopBits = static_cast<uint8_t>(stopBits_);
    d.XonChar = fc.XonChar();
    d.XoffChar = fc.XoffChar();
    d.ErrorChar = errorChar ? parity_.ReplaceChar() : 0;
    d.EofChar = 0;
    d.EvtChar = eventChar_;
    return d;
}

// ------------------------------------------------------------ apply settings

void TCustomComPort::ApplyLineSettings()
{
    if (!device_) return;
    if (const int e = device_->ApplyLineSettings(MakeDCB())) throw EComPort(CError_SetStateFailed, e);
}

void TCustomComPort::ApplyTimeoutSettings()
{
    // The timeouts are the port's own: each transfer computes its deadline
    // from them, so there is nothing to hand to the driver.
    if (!device_) return;
}

void TCustomComPort::ApplyBufferSizes()
{
    if (!device_) return;
    if (const int e = device_->SetQueueSizes(buffer_.InputSize(), buffer_.OutputSize()))
        throw EComPort(CError_SetupComFailed, e);
}

void TCustomComPort::ApplyAllSettings()
{
    ApplyBufferSizes();
    ApplyLineSettings();
    ApplyTimeoutSettings();
}

// ------------------------------------------------------------- open / close

void TCustomComPort::OpenPort()
{
    if (Connected()) return;
    CallEvent(OnBeforeOpen);
    std::unique_ptr<TSerialDevice> dev = factory_ ? factory_() : std::make_unique<TTermiosDevice>();
    if (const int e = dev->Open(DevicePath(port_).toLocal8Bit().toStdString())) throw EComPort(CError_OpenFailed, e);
    {
        std::lock_guard<std::recursive_mutex> lock(deviceM_);
        device_ = std::move(dev);
        ++openSerial_;
        rxConsumed_.store(0);
        txSeq_.store(0);
        try {
            ApplyAllSettings();
        } catch (...) {
            device_->Close();
            device_.reset();
            throw;
        }
        // Line errors from before the open are not ours to report.
        {
            std::lock_guard<std::mutex> counters(countersM_);
            if (device_->Counters(&counterBase_->counters, &counterBase_->present) != 0) counterBase_->present = false;
        }
        if (events_ != 0) StartThread();
        open_.store(true, std::memory_order_release);
    }
    SignalLinks(0, true);
    CallEvent(OnAfterOpen);
    ReportSignals();
}

void TCustomComPort::ClosePort()
{
    if (!Connected() || closing_) return;
    struct TClosing {
        bool& flag;
        explicit TClosing(bool& f) : flag(f) { flag = true; }
        ~TClosing() { flag = false; }
    } closing(closing_);

    SignalLinks(1, false);
    SignalLinks(2, false);
    SignalLinks(3, false);
    CallSignal(OnCTSChange, false);
    CallSignal(OnDSRChange, false);
    CallSignal(OnRLSDChange, false);
    CallEvent(OnBeforeClose);
    {
        std::lock_guard<std::recursive_mutex> lock(deviceM_);
        // Aborting pending transfers: Linux transfers never outlive their
        // call, so this only checks that the device still answers.
        if (const int e = device_->Purge(false, false)) throw EComPort(CError_PurgeFailed, e);
        // What came in and was never read goes with the device: the traffic
        // still shows it.
        RecordUnread();
        StopThread();
        open_.store(false, std::memory_order_release);
        device_->Close();
        device_.reset();
    }
    SignalLinks(0, false);
    CallEvent(OnAfterClose);
}

void TCustomComPort::RecordUnread()
{
    int32_t queued = 0;
    if (device_->InQueue(&queued) != 0 || queued <= 0) return;
    std::vector<char> unread(static_cast<std::size_t>(queued));
    int32_t n = 0;
    if (device_->Read(unread.data(), queued, &n) == 0 && n > 0)
        trafficTo_->Record(TTrafficDirection::Rx, unread.data(), static_cast<std::size_t>(n), trafficTag_);
}

void TCustomComPort::ShareTraffic(TTrafficLog* log)
{
    trafficTo_ = log ? log : &traffic_;
    trafficTag_ = log ? TrafficTagFor(DevicePath(port_).toStdString()) : 0;
}

bool TCustomComPort::Foreign() const { return QThread::currentThread() != thread(); }

void TCustomComPort::OnOwnThread(std::function<void()> f)
{
    if (!Foreign()) {
        f();
        return;
    }
    PostCall(this, std::move(f));
}

void TCustomComPort::CallEvent(const std::function<void(TCustomComPort*)>& event)
{
    if (!event) return;
    if (!Foreign()) {
        event(this);
        return;
    }
    OnOwnThread([this, event] { event(this); });
}

void TCustomComPort::CallSignal(const std::function<void(TCustomComPort*, bool)>& event, bool on)
{
    if (!event) return;
    OnOwnThread([this, event, on] { event(this, on); });
}

void TCustomComPort::Reserve() { reservedBy_.store(std::this_thread::get_id()); }
void TCustomComPort::Release() { reservedBy_.store(std::thread::id()); }

bool TCustomComPort::ReservedElsewhere() const
{
    const std::thread::id by = reservedBy_.load();
    return by != std::thread::id() && by != std::this_thread::get_id();
}

void TCustomComPort::StartThread()
{
    thread_ = std::make_unique<TComThread>(this, events_, syncMethod_, buffer_.InputSize(), wakeFdFactory_);
    if (const int e = thread_->Start()) {
        // Without its wake-up the thread could never be stopped on a device
        // without modem lines: the open fails instead.
        thread_.reset();
        device_->Close();
        device_.reset();
        throw EComPort(CError_OpenFailed, e);
    }
}

void TCustomComPort::StopThread()
{
    if (!thread_) return;
    thread_->Stop();
    // Closed from inside a handler: the hand-over that called it still runs
    // on this stack, so the thread object lives until that one returns.
    if (handOverDepth_ > 0) retired_.push_back(std::move(thread_));
    thread_.reset();
}

bool TCustomComPort::EventThreadRunning() const { return thread_ && thread_->Running(); }

bool TCustomComPort::HandOverWaiting() const { return thread_ && thread_->HandOverWaiting(); }

void TCustomComPort::RunPendingHandOver()
{
    // An operation's thread may be closing the port: the device and the
    // event thread stay while the batch runs.
    std::lock_guard<std::recursive_mutex> lock(deviceM_);
    if (!thread_) return;
    struct TDepth {
        TCustomComPort* port;
        explicit TDepth(TCustomComPort* p) : port(p) { ++port->handOverDepth_; }
        ~TDepth()
        {
            if (--port->handOverDepth_ == 0) port->retired_.clear();
        }
    } depth(this);
    thread_->RunPendingHandOver();
}

void TCustomComPort::NotifyDeviceLost(uint64_t openSerial)
{
    if (openSerial != openSerial_.load() || !Connected()) return;
    const std::vector<TComLink*> links = links_;
    for (TComLink* l : links)
        if (HasLink(l) && l->OnDeviceLost) l->OnDeviceLost(this);
}

void TCustomComPort::CheckOpen(int portError) const
{
    if (!device_) throw EComPort(portError, kInvalidHandle);
}

// ----------------------------------------------------------------- transfers

int32_t TCustomComPort::WriteTimeoutMs(int32_t count) const
{
    const uint64_t mult = static_cast<uint32_t>(timeouts_.WriteTotalMultiplier());
    const uint64_t constant = static_cast<uint32_t>(timeouts_.WriteTotalConstant());
    if (mult == 0 && constant == 0) return -1;  // no total time-out
    const uint64_t total = mult * static_cast<uint64_t>(count) + constant;
    return static_cast<int32_t>(std::min<uint64_t>(total, INT32_MAX));
}

int32_t TCustomComPort::WriteText(const QByteArray& bytes, const std::function<bool()>& stopped)
{
    if (bytes.isEmpty()) return 0;
    // The line belongs to an operation on another thread: nothing goes out.
    if (ReservedElsewhere()) return 0;
    CheckOpen(CError_WriteFailed);
    const QByteArray copy(bytes.constData(), bytes.size());  // the links get what was asked for
    const int32_t count = static_cast<int32_t>(copy.size());

    struct TWriting {
        TCustomComPort* port;
        explicit TWriting(TCustomComPort* p) : port(p) { port->txSeq_.fetch_add(1); }
        ~TWriting()
        {
            port->txSeq_.fetch_add(1);
            if (port->thread_) port->thread_->Wake();
        }
    };
    int32_t written = 0;
    {
        TWriting writing(this);
        SignalLinks(6, true);
        if (!device_) throw EComPort(CError_WriteFailed, kInvalidHandle);  // a link closed the port
        int32_t timeoutMs = WriteTimeoutMs(count);
        if (WaitForDsr(&timeoutMs, stopped)) {
            const int e = WriteSliced(copy.constData(), count, timeoutMs, stopped, &written);
            trafficTo_->Record(TTrafficDirection::Tx, copy.constData(), static_cast<std::size_t>(std::max(written, 0)),
                               trafficTag_);
            if (e) throw EComPort(CError_WriteFailed, e);
        }
    }
    PassTxToLinks(copy.constData(), count);
    return written;
}

int TCustomComPort::WriteSliced(const char* data, int32_t count, int32_t timeoutMs,
                                const std::function<bool()>& stopped, int32_t* written)
{
    if (!stopped) return device_->Write(data, count, timeoutMs, written);
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    *written = 0;
    while (*written < count && !stopped()) {
        int32_t slice = kWriteSliceMs;
        if (timeoutMs >= 0) {
            const int64_t left = MsLeft(deadline);
            if (left <= 0) break;
            slice = static_cast<int32_t>(std::min<int64_t>(left, kWriteSliceMs));
        }
        int32_t n = 0;
        const int e = device_->Write(data + *written, count - *written, slice, &n);
        *written += n;
        if (e) return e;
    }
    return 0;
}

bool TCustomComPort::WaitForDsr(int32_t* timeoutMs, const std::function<bool()>& stopped)
{
    // Termios has no DSR output flow control: the port holds the write back
    // itself while DSR is low, sampling the line within the write's time-out.
    // A device without modem lines (a pseudo-terminal) cannot tell: it sends.
    if (!flowControl_.OutDSRFlow()) return true;
    const auto start = Clock::now();
    for (;;) {
        uint8_t m = 0;
        bool present = false;
        if (const int e = device_->ModemStatus(&m, &present)) throw EComPort(CError_WriteFailed, e);
        const int64_t waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        const int64_t left = *timeoutMs < 0 ? INT32_MAX : *timeoutMs - waited;
        if (!present || (m & ms::Dsr)) {
            if (*timeoutMs >= 0) *timeoutMs = static_cast<int32_t>(std::max<int64_t>(left, 0));
            return true;
        }
        if (left <= 0 || (stopped && stopped())) return false;
        SleepMs(std::min<int64_t>(left, kDsrSampleMs));
    }
}

int32_t TCustomComPort::ReadWithTimeouts(char* buffer, int32_t count)
{
    const uint32_t interval = static_cast<uint32_t>(timeouts_.ReadInterval());
    const uint32_t mult = static_cast<uint32_t>(timeouts_.ReadTotalMultiplier());
    const uint32_t constant = static_cast<uint32_t>(timeouts_.ReadTotalConstant());

    TRxChange change(rxSeq_);
    int32_t got = 0;
    auto readSome = [&] {
        int32_t n = 0;
        if (const int e = device_->Read(buffer + got, count - got, &n)) throw EComPort(CError_ReadFailed, e);
        trafficTo_->Record(TTrafficDirection::Rx, buffer + got, static_cast<std::size_t>(std::max(n, 0)), trafficTag_);
        got += n;
        rxConsumed_.fetch_add(static_cast<uint64_t>(n), std::memory_order_acq_rel);
        return n;
    };
    auto waitReadable = [&](int64_t ms) {
        TDeviceWaitResult r;
        if (const int e = device_->Wait(true, false, static_cast<int>(std::min<int64_t>(ms, INT_MAX)), -1, &r))
            throw EComPort(CError_ReadFailed, e);
        if (r.hangup) SleepMs(std::min<int64_t>(ms, 2));  // the next read reports it; never spin
    };

    readSome();
    // The default: return at once with whatever is queued.
    if (got == count || (interval == kMaxDword && mult == 0 && constant == 0)) return got;

    if (interval == kMaxDword && mult == kMaxDword && constant != 0 && constant != kMaxDword) {
        // Wait up to the constant for the first byte, then return what is there.
        const auto deadline = Clock::now() + std::chrono::milliseconds(constant);
        while (got == 0) {
            const int64_t left = MsLeft(deadline);
            if (left <= 0) break;
            waitReadable(left);
            readSome();
        }
        return got;
    }

    const uint64_t totalMs = static_cast<uint64_t>(mult) * static_cast<uint64_t>(count) + constant;
    const bool hasTotal = totalMs != 0;
    const auto totalDeadline = Clock::now() + std::chrono::milliseconds(std::min<uint64_t>(totalMs, INT32_MAX));
    const bool hasInterval = interval != 0 && interval != kMaxDword;
    auto intervalDeadline = Clock::now() + std::chrono::milliseconds(interval);
    while (got < count) {
        int64_t left = -1;
        if (hasTotal) left = MsLeft(totalDeadline);
        if (hasInterval && got > 0) {
            const int64_t li = MsLeft(intervalDeadline);
            left = left < 0 ? li : std::min(left, li);
        }
        if (left == 0 || (left < 0 && (hasTotal || (hasInterval && got > 0)))) break;
        waitReadable(left < 0 ? INT_MAX : left);
        if (readSome() > 0) intervalDeadline = Clock::now() + std::chrono::milliseconds(interval);
    }
    return got;
}

int32_t TCustomComPort::ReadBytes(char* buffer, int32_t count)
{
    // The replies belong to the operation that holds the line.
    if (ReservedElsewhere()) return 0;
    CheckOpen(CError_ReadFailed);
    if (count <= 0) return 0;
    const int32_t got = ReadWithTimeouts(buffer, count);
    if (InQueueCount() == 0) SignalLinks(5, false);
    return got;
}

int32_t TCustomComPort::ReadText(QByteArray& text, int32_t count)
{
    if (count <= 0) {
        text.clear();
        return 0;
    }
    text.resize(count);
    const int32_t got = ReadBytes(text.data(), count);
    text.resize(got);
    return got;
}

// ------------------------------------------------------------------- queries

TCustomComPort::TCommState TCustomComPort::ClearCommError(bool withStatus)
{
    std::lock_guard<std::recursive_mutex> lock(deviceM_);
    CheckOpen(CError_ClearComFailed);
    TCommState s;
    if (const int e = device_->InQueue(&s.inQueue)) throw EComPort(CError_ClearComFailed, e);
    if (const int e = device_->OutQueue(&s.outQueue)) throw EComPort(CError_ClearComFailed, e);

    // Line errors are the driver counters' growth since the last call.
    std::lock_guard<std::mutex> counters(countersM_);
    if (counterBase_->present) {
        TSerialCounters c;
        bool present = false;
        if (const int e = device_->Counters(&c, &present)) throw EComPort(CError_ClearComFailed, e);
        if (present) {
            const TSerialCounters& b = counterBase_->counters;
            if (c.frame != b.frame) s.errors |= CE_FRAME;
            if (c.parity != b.parity) s.errors |= CE_RXPARITY;
            if (c.overrun != b.overrun) s.errors |= CE_OVERRUN;
            if (c.bufOverrun != b.bufOverrun) s.errors |= CE_RXOVER;
            if (c.brk != b.brk) s.errors |= CE_BREAK;
            counterBase_->counters = c;
        }
    }

    if (withStatus) {
        // Hold bits from the flow settings and the lines the driver reports;
        // a device without modem lines holds nothing.
        uint8_t m = 0;
        bool present = false;
        if (const int e = device_->ModemStatus(&m, &present)) throw EComPort(CError_ClearComFailed, e);
        if (present) {
            if (flowControl_.OutCTSFlow() && !(m & ms::Cts)) s.status |= cs::CtsHold;
            if (flowControl_.OutDSRFlow() && !(m & ms::Dsr)) s.status |= cs::DsrHold;
        }
    }
    return s;
}

int32_t TCustomComPort::InQueueCount() { return ClearCommError(false).inQueue; }

int32_t TCustomComPort::OutQueueCount() { return ClearCommError(false).outQueue; }

uint8_t TCustomComPort::CommStatusFlags() { return ClearCommError(true).status; }

TComErrors TCustomComPort::LineErrors()
{
    const uint32_t e = ClearCommError(false).errors;
    TComErrors r = 0;
    if (e & CE_FRAME) r |= 1u << errFrame;
    if ((e & CE_RXPARITY) && parity_.Check()) r |= 1u << errRxParity;
    if (e & CE_OVERRUN) r |= 1u << errOverrun;
    if (e & CE_RXOVER) r |= 1u << errRxOver;
    if (e & CE_TXFULL) r |= 1u << errTxFull;
    if (e & CE_BREAK) r |= 1u << errBreak;
    if (e & CE_IOE) r |= 1u << errIO;
    if (e & CE_MODE) r |= 1u << errMode;
    return r;
}

uint8_t TCustomComPort::ModemSignals()
{
    std::lock_guard<std::recursive_mutex> lock(deviceM_);
    CheckOpen(CError_ModemStatFailed);
    uint8_t m = 0;
    bool present = false;
    if (const int e = device_->ModemStatus(&m, &present)) throw EComPort(CError_ModemStatFailed, e);
    return m;
}

void TCustomComPort::PurgeBuffers(bool input, bool output)
{
    if (ReservedElsewhere()) return;
    std::lock_guard<std::recursive_mutex> lock(deviceM_);
    CheckOpen(CError_PurgeFailed);
    TRxChange change(rxSeq_);
    int32_t queued = 0;
    if (input) device_->InQueue(&queued);
    if (queued > 0) {
        // Received bytes that nobody will read still show in the traffic.
        std::vector<char> discarded(static_cast<std::size_t>(queued));
        int32_t n = 0;
        if (device_->Read(discarded.data(), queued, &n) == 0)
            trafficTo_->Record(TTrafficDirection::Rx, discarded.data(), static_cast<std::size_t>(std::max(n, 0)),
                               trafficTag_);
    }
    if (const int e = device_->Purge(input, output)) throw EComPort(CError_PurgeFailed, e);
    rxConsumed_.fetch_add(static_cast<uint64_t>(std::max(queued, 0)), std::memory_order_acq_rel);
}

bool TCustomComPort::WaitForInput(int32_t minCount, int32_t timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        const int32_t n = InQueueCount();
        if (n >= minCount) return true;
        const int64_t left = MsLeft(deadline);
        if (left <= 0) return false;
        if (n > 0) {
            // poll would return at once for the bytes already queued.
            SleepMs(std::min<int64_t>(left, 2));
            continue;
        }
        TDeviceWaitResult r;
        if (const int e = device_->Wait(true, false, static_cast<int>(std::min<int64_t>(left, INT_MAX)), -1, &r))
            throw EComPort(CError_ClearComFailed, e);
        if (r.hangup) SleepMs(std::min<int64_t>(left, 2));  // the next query reports it; never spin
    }
}

bool TCustomComPort::WaitForOutputEmpty(int32_t timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (OutQueueCount() == 0) return true;
        const int64_t left = MsLeft(deadline);
        if (left <= 0) return false;
        // The driver offers no wake-up for "transmit queue empty".
        SleepMs(std::min<int64_t>(left, 2));
    }
}

// --------------------------------------------------------------------- links

void TCustomComPort::RegisterLink(TComLink* link)
{
    if (!link || HasLink(link)) throw EComPort(CError_RegFailed, -1);
    links_.push_back(link);
    RecomputeRxLinkFlag();
}

void TCustomComPort::UnregisterLink(TComLink* link)
{
    auto it = std::find(links_.begin(), links_.end(), link);
    if (it == links_.end()) throw EComPort(CError_RegFailed, -1);
    links_.erase(it);
    RecomputeRxLinkFlag();
}

bool TCustomComPort::HasLink(const TComLink* link) const
{
    return std::find(links_.begin(), links_.end(), link) != links_.end();
}

void TCustomComPort::RecomputeRxLinkFlag()
{
    hasRxLink_ = std::any_of(links_.begin(), links_.end(), [](const TComLink* l) { return bool(l->OnRxData); });
}

void TCustomComPort::SignalLinks(int code, bool onOff)
{
    if (Foreign()) {
        OnOwnThread([this, code, onOff] { SignalLinks(code, onOff); });
        return;
    }
    // A handler may unregister links: walk a copy, skip the ones gone.
    const std::vector<TComLink*> links = links_;
    for (TComLink* l : links) {
        if (!HasLink(l)) continue;
        std::function<void(TCustomComPort*, bool)>* slot = nullptr;
        switch (code) {
        case 0: slot = &l->OnOpenChange; break;
        case 1: slot = &l->OnCTSSignal; break;
        case 2: slot = &l->OnDSRSignal; break;
        case 3: slot = &l->OnRLSDSignal; break;
        case 5: slot = &l->OnRxActive; break;
        case 6: slot = &l->OnTxActive; break;
        default: break;
        }
        if (slot && *slot) (*slot)(this, onOff);
    }
}

void TCustomComPort::NotifyLinks(int code)
{
    if (Foreign()) {
        OnOwnThread([this, code] { NotifyLinks(code); });
        return;
    }
    const std::vector<TComLink*> links = links_;
    for (TComLink* l : links) {
        if (!HasLink(l)) continue;
        std::function<void(TCustomComPort*)>* slot = nullptr;
        switch (code) {
        case 4: slot = &l->OnRingSignal; break;
        case 7: slot = &l->OnTxEmptied; break;
        case 8: slot = &l->OnRxFlagged; break;
        default: break;
        }
        if (slot && *slot) (*slot)(this);
    }
}

void TCustomComPort::PassTxToLinks(const char* buffer, int count)
{
    if (Foreign()) {
        const QByteArray copy(buffer, count);
        OnOwnThread([this, copy] { PassTxToLinks(copy.constData(), int(copy.size())); });
        return;
    }
    const std::vector<TComLink*> links = links_;
    for (TComLink* l : links)
        if (HasLink(l) && l->OnTxData) l->OnTxData(this, buffer, count);
}

// ------------------------------------------------------------ event handling

void TCustomComPort::HandleEvents(TComEvents events)
{
    auto has = [events](TComEvent e) { return (events & EventBit(e)) != 0; };
    if (has(evError)) {
        const TComErrors errors = LineErrors();
        if (errors != 0 && OnError) OnError(this, errors);
    }
    if (has(evRxChar)) HandleRxChar();
    if (has(evTxEmpty)) {
        SignalLinks(6, false);
        NotifyLinks(7);
        if (OnTxEmpty) OnTxEmpty(this);
    }
    if (has(evBreak) && OnBreak) OnBreak(this);
    if (has(evRing)) {
        NotifyLinks(4);
        if (OnRing) OnRing(this);
    }
    if (has(evCTS)) ReportSignal(1);
    if (has(evDSR)) ReportSignal(2);
    if (has(evRxFlag)) {
        NotifyLinks(8);
        if (OnRxFlag) OnRxFlag(this);
    }
    if (has(evRLSD)) ReportSignal(3);
    if (has(evRx80Full) && OnRx80Full) OnRx80Full(this);
}

void TCustomComPort::ReportSignal(int code)
{
    const uint8_t m = ModemSignals();
    switch (code) {
    case 1:
        SignalLinks(1, m & ms::Cts);
        CallSignal(OnCTSChange, (m & ms::Cts) != 0);
        break;
    case 2:
        SignalLinks(2, m & ms::Dsr);
        CallSignal(OnDSRChange, (m & ms::Dsr) != 0);
        break;
    default:
        SignalLinks(3, m & ms::Rlsd);
        CallSignal(OnRLSDChange, (m & ms::Rlsd) != 0);
        break;
    }
}

void TCustomComPort::ReportSignals()
{
    ReportSignal(1);
    ReportSignal(2);
    ReportSignal(3);
}

void TCustomComPort::HandleRxChar()
{
    int32_t count = InQueueCount();
    if (count > 0) SignalLinks(5, true);
    // An operation on another thread reads its replies itself.
    if (ReservedElsewhere()) return;
    if (count > 0 && !(deliverRxChar_ && !hasRxLink_)) {
        bool taken = false;
        std::vector<char> buffer;
        auto readAll = [&] {
            buffer.assign(static_cast<size_t>(count), 0);
            // Hand on what was read, never bytes that did not arrive.
            const int32_t got = ReadBytes(buffer.data(), count);
            buffer.resize(static_cast<size_t>(got));
            if (OnRxBuf) OnRxBuf(this, buffer.data(), got);
            return got;
        };
        const std::vector<TComLink*> links = links_;
        for (size_t i = 0; i < links.size(); ++i) {
            if (!HasLink(links[i]) || !links[i]->OnRxData) continue;
            const int32_t got = readAll();
            for (size_t j = i; j < links.size(); ++j)
                if (HasLink(links[j]) && links[j]->OnRxData) links[j]->OnRxData(this, buffer.data(), got);
            taken = true;
            break;
        }
        if (!taken && !deliverRxChar_) {
            readAll();
            taken = true;
        }
        if (taken) count = 0;
    }
    if (count > 0 && OnRxChar) OnRxChar(this, count);
}
