#include "module/link_test.h"

#include <cerrno>
#include <cstring>

#include "module/line_claims.h"

#include <QJsonArray>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>

#include "module/link_frame.h"
#include "module/module_finder.h"
#include "serial/com_port.h"

namespace {

using Clock = std::chrono::steady_clock;

// Frames on their way per direction: about this many bytes, at least two frames.
// Longest single wait while a window is full and nothing comes back on this port.
constexpr int kWindowWaitMs = 10;
// A write's longest wait for room: the port is read between writes.
constexpr int kWriteTimeoutMs = 100;

// A port's failure in words: no error codes.
QString LinkPortFailureText(const EComPort& e)
{
    if (e.SystemError() == EIO || e.SystemError() == ENXIO || e.SystemError() == ENODEV)
        return QStringLiteral("the device stopped answering (unplugged or hung up)");
    if (e.SystemError() == EBUSY) return QStringLiteral("the port is in use (by this program or another)");
    QString t = EComPort::ErrorText(e.PortError());
    if (e.SystemError() > 0) t += QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(e.SystemError()));
    return t;
}

int64_t UsSince(Clock::time_point t0) { return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count(); }

TBaudRate BaudRateOf(int baud)
{
    switch (baud) {
    case 115200: return br115200;
    case 57600: return br57600;
    case 38400: return br38400;
    case 19200: return br19200;
    case 9600: return br9600;
    case 4800: return br4800;
    case 2400: return br2400;
    case 1200: return br1200;
    case 300: return br300;
    default: return brCustom;
    }
}

}  // namespace

int LineBaudOf(const TLinkTestRequest& r) { return r.customBaud > 0 ? r.customBaud : BaudOfItem(r.portA.baudItem); }

int LineBitsPerByte(const TPortChoices& c)
{
    return 1 + (c.dataItem == 1 ? 7 : 8) + (c.parityItem != 0 ? 1 : 0) + (c.stopItem == 1 ? 2 : 1);
}

double TLinkCounts::Per() const { return sent > 0 ? 100.0 * double(sent - std::min(received, sent)) / double(sent) : 0; }

void TLinkCounts::Add(const TLinkCounts& o)
{
    sent += o.sent;
    received += o.received;
    lost += o.lost;
    corrupted += o.corrupted;
    duplicated += o.duplicated;
    outOfOrder += o.outOfOrder;
    bytes += o.bytes;
}

double TLinkSample::PerPercent() const
{
    return sent > 0 ? 100.0 * double(sent - std::min(received, sent)) / double(sent) : 0;
}

QString LinkVerdictOutcome(TLinkVerdict v)
{
    switch (v) {
    case TLinkVerdict::Passed: return QStringLiteral("ok");
    case TLinkVerdict::Stopped: return QStringLiteral("stopped");
    case TLinkVerdict::Lost: return QStringLiteral("lost");
    default: return QStringLiteral("failed");
    }
}

int TLatencyHistogram::Bucket(int64_t us)
{
    us = std::clamp<int64_t>(us, 0, (int64_t(1) << 40) - 1);
    int bits = 0;
    for (int64_t v = us; v > 0; v >>= 1) ++bits;
    const int shift = std::max(0, bits - 6);
    return shift * kSub + int(us >> shift);
}

int64_t TLatencyHistogram::BucketMidUs(int bucket)
{
    const int shift = bucket < 2 * kSub ? 0 : bucket / kSub - 1;
    const int64_t low = int64_t(bucket - shift * kSub) << shift;
    return low + ((int64_t(1) << shift) >> 1);
}

void TLatencyHistogram::Add(int64_t us)
{
    const int b = Bucket(us);
    if (int(buckets_.size()) <= b) buckets_.resize(size_t(b) + 1, 0);
    ++buckets_[size_t(b)];
    min_ = count_ ? std::min(min_, us) : us;
    max_ = count_ ? std::max(max_, us) : us;
    ++count_;
}

double TLatencyHistogram::QuantileMs(double q) const
{
    if (!count_) return 0;
    const long rank = std::max(1L, long(std::ceil(q * double(count_))));
    long seen = 0;
    for (size_t b = 0; b < buckets_.size(); ++b) {
        seen += buckets_[b];
        if (seen >= rank) return double(std::clamp(BucketMidUs(int(b)), min_, max_)) / 1000;
    }
    return MaxMs();
}

TLinkLatency TLatencyHistogram::Figures() const
{
    TLinkLatency l;
    l.count = count_;
    l.minMs = MinMs();
    l.medianMs = QuantileMs(0.5);
    l.p95Ms = QuantileMs(0.95);
    l.maxMs = MaxMs();
    return l;
}

std::vector<int> TLatencyHistogram::Bins(int n, double widthMs) const
{
    std::vector<int> out(size_t(std::max(1, n)), 0);
    for (size_t b = 0; b < buckets_.size(); ++b) {
        if (!buckets_[b]) continue;
        const double ms = double(BucketMidUs(int(b))) / 1000;
        const int i = widthMs > 0 ? std::clamp(int(ms / widthMs), 0, int(out.size()) - 1) : 0;
        out[size_t(i)] += int(buckets_[b]);
    }
    return out;
}

QStringList LinkNothingArrivedAdvice(bool loopback)
{
    QStringList a;
    if (!loopback) {
        a << QStringLiteral("Both modules hold the same encryption key (Config Memory, \"Read Config\" on each).")
          << QStringLiteral("Both use the same RF channel (and, for channels 12 to 15, the same frequencies).")
          << QStringLiteral("Both use the same RF data rate.")
          << QStringLiteral("One module is Point A and the other Point B.")
          << QStringLiteral("Both carrier boards are jumpered for \"Cable Link\" mode and were powered up so.");
        a << QStringLiteral("DB9 wiring: each port's transmit reaches its module's receive (a null-modem "
                            "adapter or a wrong cable swaps them), and the ground is connected.");
    } else {
        a << QStringLiteral("The far module is paired with this one: same encryption key, RF channel (and "
                            "frequencies), RF data rate, and the opposite Point A/B role.")
          << QStringLiteral("Both carrier boards are jumpered for \"Cable Link\" mode and were powered up so.")
          << QStringLiteral("DB9 wiring: at the far end transmit is bridged to receive (pins 2 and 3); "
                            "here the port's transmit reaches the module's receive.");
    }
    a << QStringLiteral("The line settings (baud rate, data bits, parity, flow control) match the modules' UART settings.");
    return a;
}

long TLinkFigures::TStream::Known(int64_t nowUs, int64_t settleUs) const
{
    long known = std::max(highest + 1, overdueBelow);
    for (const auto& [seq, sentUs] : recent) {
        if (sentUs >= nowUs - settleUs) break;
        known = std::max(known, seq + 1);
    }
    return std::min(known, counts.sent);
}

TLinkFigures::TLinkFigures(const TLinkTestRequest& req)
{
    if (req.loopback) {
        streams[0].active = true;
        streams[0].name = QStringLiteral("out and back");
    } else {
        streams[0].active = req.direction != TLinkDirection::BToA;
        streams[0].receiver = 1;
        streams[0].name = QStringLiteral("A to B");
        streams[1].active = req.direction != TLinkDirection::AToB;
        streams[1].sender = 1;
        streams[1].name = QStringLiteral("B to A");
    }
}

TLinkSample& TLinkFigures::SampleAt(int64_t us)
{
    const size_t s = size_t(std::max<int64_t>(0, us / 1000000));
    while (samples.size() <= s) {
        TLinkSample x;
        x.second = int(samples.size());
        samples.push_back(x);
    }
    return samples[s];
}

void TLinkFigures::Sent(int stream, int64_t nowUs)
{
    TStream& st = streams[stream];
    if (st.firstSendUs < 0) st.firstSendUs = nowUs;
    st.recent.emplace_back(st.counts.sent, nowUs);
    ++st.counts.sent;
    ++SampleAt(nowUs).sent;
}

void TLinkFigures::Age(int stream, int64_t nowUs)
{
    TStream& st = streams[stream];
    const int64_t settle = SettleUs();
    while (!st.recent.empty() && (st.recent.front().first <= st.highest || st.recent.front().second < nowUs - settle)) {
        st.overdueBelow = std::max(st.overdueBelow, st.recent.front().first + 1);
        st.recent.pop_front();
    }
}

long TLinkFigures::InFlight(int stream) const
{
    const TStream& st = streams[stream];
    return st.counts.sent - std::min(st.counts.sent, std::max(st.highest + 1, st.overdueBelow));
}

size_t TLinkFigures::Window(int stream, int size) const
{
    const TStream& st = streams[stream];
    double bytes = kLinkWindowMinBytes;
    if (st.minLatencyUs > 0) bytes = 2 * st.rate * double(st.minLatencyUs) / 1e6;
    bytes = std::clamp<double>(bytes, kLinkWindowMinBytes, kLinkWindowMaxBytes);
    return size_t(std::max(2, int(bytes) / std::max(1, size)));
}

void TLinkFigures::Arrived(int side, const TLinkFrameEvent& e, int64_t now, int size)
{
    TLinkSample& arrived = SampleAt(now);
    TStream* st = nullptr;
    if (e.intact && e.stream < 2 && streams[e.stream].active && streams[e.stream].receiver == side)
        st = &streams[e.stream];
    if (!st) {
        // Damaged, or not meant for this port: charged to what this port receives.
        for (auto& x : streams)
            if (x.active && x.receiver == side) {
                ++x.counts.corrupted;
                break;
            }
        ++arrived.corrupted;
        return;
    }
    if (e.sequence >= uint32_t(st->counts.sent)) return;  // cannot be ours
    if (st->seen.size() <= e.sequence) st->seen.resize(size_t(e.sequence) + 1024, false);
    if (st->seen[e.sequence]) {
        ++st->counts.duplicated;
        return;
    }
    st->seen[e.sequence] = true;
    if (long(e.sequence) < st->highest) ++st->counts.outOfOrder;
    st->highest = std::max(st->highest, long(e.sequence));
    ++st->counts.received;
    st->counts.bytes += size;
    st->lastArrivalUs = now;
    arrived.bytes += size;
    ++SampleAt(int64_t(e.sendUs)).received;
    if (st->rateSinceUs < 0) st->rateSinceUs = now;
    st->rateBytes += size;
    if (now - st->rateSinceUs >= 100000) {
        st->rate = double(st->rateBytes) * 1e6 / double(now - st->rateSinceUs);
        st->rateSinceUs = now;
        st->rateBytes = 0;
    }
    if (int64_t(e.sendUs) <= now) {
        const int64_t lat = now - int64_t(e.sendUs);
        latencies.Add(lat);
        maxLatencyUs = std::max(maxLatencyUs, lat);
        st->minLatencyUs = st->minLatencyUs < 0 ? lat : std::min(st->minLatencyUs, lat);
    }
}

void TLinkFigures::Fill(TLinkTestResult& r, const TLinkTestRequest& req, int64_t now, bool finished) const
{
    r.seconds = double(now) / 1e6;
    const int lineBaud = LineBaudOf(req);
    const int bitsPerByte = LineBitsPerByte(req.portA);
    const int64_t settle = SettleUs();
    for (const auto& st : streams) {
        if (!st.active) continue;
        r.sendingSeconds = std::max(r.sendingSeconds, double(st.sendingDone ? st.sendEndUs : now) / 1e6);
        TLinkDirectionResult d;
        d.name = st.name;
        d.counts = st.counts;
        // Frames whose fate is known: at the end every frame sent (but after
        // a lost port only those known then); while running those that
        // arrived or are overdue, so frames on their way are no errors.
        long judged = finished ? st.counts.sent : st.Known(now, settle);
        if (st.judgedUpTo >= 0) judged = std::min(judged, st.judgedUpTo);
        const long receivedJudged = std::min(st.counts.received, judged);
        d.counts.lost = std::max(0L, judged - receivedJudged - st.counts.corrupted);
        if (st.judgedUpTo >= 0) d.counts.sent = judged;  // the rest were on their way, fate unknown
        d.perPercent = judged > 0 ? 100.0 * double(judged - receivedJudged) / double(judged) : 0;
        if (st.firstSendUs >= 0) {
            const int64_t until = finished ? std::max(st.lastArrivalUs, st.firstSendUs) : now;
            const double secs = std::max(1e-3, double(until - st.firstSendUs) / 1e6);
            d.throughput = double(st.counts.bytes) / secs;
        }
        d.lineShare = lineBaud > 0 ? 100.0 * d.throughput * bitsPerByte / lineBaud : 0;
        d.rfShare = req.rfBps > 0 ? 100.0 * d.throughput * 8 / req.rfBps : 0;
        r.total.Add(d.counts);
        r.directions.push_back(d);
    }
    r.latencies = latencies;
    r.latency = latencies.Figures();
    r.samples = samples;
    for (TLinkSample& x : r.samples) x.settled = finished || int64_t(x.second + 1) * 1000000 + settle < now;
}

// How a run ended before its end, first cause first.
enum TEndCause { kEndNone, kEndStopped, kEndLost, kEndHeld };

struct TLinkTest::Shared {
    explicit Shared(const TLinkTestRequest& r) : f(r) {}
    mutable std::mutex m;
    std::condition_variable cv;
    Clock::time_point t0;
    int ports = 1;
    int opened = 0;
    int running = 0;
    bool started = false;
    bool go = false;
    bool finished = false;
    std::atomic<bool> stop{false};
    std::atomic<bool> abort{false};
    int cause = kEndNone;
    QString partialReason;
    int64_t causeUs = 0;
    QString portError;
    TLinkFigures f;
    int64_t endUs = 0;
    int64_t heldUs[2] = {0, 0};  // per side: time writes waited without room

    // A stream that will bring nothing more.
    bool StreamDone(const TLinkFigures::TStream& st, int64_t nowUs) const
    {
        if (!st.active) return true;
        if (!st.sendingDone) return false;
        if (abort) return true;
        if (st.highest + 1 >= st.counts.sent) return true;
        return nowUs > st.sendEndUs + std::min<int64_t>(f.SettleUs(), int64_t(kLinkDrainMaxMs) * 1000);
    }
};

TLinkTest::TLinkTest(TLinkTestRequest request) : req_(std::move(request)), s_(std::make_unique<Shared>(req_))
{
    s_->ports = req_.loopback ? 1 : 2;
}

TLinkTest::~TLinkTest()
{
    s_->abort = true;
    s_->stop = true;
    s_->cv.notify_all();
    for (std::thread& t : workers_)
        if (t.joinable()) t.join();
}

void TLinkTest::Start()
{
    std::lock_guard<std::mutex> lock(s_->m);
    if (s_->started) return;
    s_->started = true;
    s_->running = s_->ports;
    s_->t0 = Clock::now();
    for (int side = 0; side < s_->ports; ++side) workers_.emplace_back([this, side] { Worker(side); });
}

void TLinkTest::Stop() { EndRun(kEndStopped, QStringLiteral("stopped")); }

void TLinkTest::EndRun(int cause, const QString& reason)
{
    std::lock_guard<std::mutex> lock(s_->m);
    if (!s_->finished && s_->cause == kEndNone) {
        s_->cause = cause;
        s_->partialReason = reason;
        s_->causeUs = s_->go ? UsSince(s_->t0) : 0;
        // Frames on their way when a port went away are not judged.
        if (cause == kEndLost)
            for (auto& st : s_->f.streams) st.judgedUpTo = st.Known(s_->causeUs, s_->f.SettleUs());
    }
    s_->stop = true;
    if (cause == kEndLost) s_->abort = true;
}

bool TLinkTest::Finished() const
{
    std::lock_guard<std::mutex> lock(s_->m);
    return s_->finished;
}

bool TLinkTest::WaitFinished(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(s_->m);
    return s_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return s_->finished; });
}

TLinkTestResult TLinkTest::Run()
{
    Start();
    while (!WaitFinished(1000)) {
    }
    return Result();
}

void TLinkTest::Worker(int side)
{
    {
        // The port object lives and dies on this thread; without events it
        // starts no event thread of its own.
        TComPort port;
        port.SetEvents(0);
        TPortChoices c = req_.portA;
        c.port = side == 0 ? req_.portA.port : req_.portB;
        bool opened = false;
        const TLineClaim claim(c.port, QStringLiteral("Link Test"));
        try {
            if (!claim.Ok()) throw EComPort(CError_OpenFailed, EBUSY);
            if (req_.preparePort) req_.preparePort(port, side);
            ApplyPortChoices(port, c);
            port.ShareTraffic(req_.traffic);
            // Frames are binary: no XON/XOFF, whatever the page chose.
            port.FlowControl().SetXonXoffIn(false);
            port.FlowControl().SetXonXoffOut(false);
            if (req_.customBaud > 0) {
                const TBaudRate r = BaudRateOf(req_.customBaud);
                if (r == brCustom) port.SetCustomBaudRate(req_.customBaud);
                port.SetBaudRate(r);
            }
            // A line held by flow control (no module, CTS low) must not hold
            // the run: short writes, and the port is read between them.
            port.Timeouts().SetWriteTotalMultiplier(0);
            port.Timeouts().SetWriteTotalConstant(kWriteTimeoutMs);
            port.OpenPort();
            opened = port.Connected();
            if (opened) port.PurgeBuffers(true, true);
        } catch (const EComPort& e) {
            std::lock_guard<std::mutex> lock(s_->m);
            if (s_->portError.isEmpty()) s_->portError = QStringLiteral("%1: %2").arg(c.port, LinkPortFailureText(e));
        }
        bool go = false;
        {
            // Both ports open before the first frame, so none is lost to a port not yet open.
            std::unique_lock<std::mutex> lock(s_->m);
            if (!opened) s_->abort = true;
            ++s_->opened;
            s_->cv.notify_all();
            s_->cv.wait(lock, [this] { return s_->opened == s_->ports || s_->abort; });
            if (!s_->go && !s_->abort) {
                s_->go = true;
                s_->t0 = Clock::now();
            }
            go = s_->go && !s_->abort;
        }
        if (go) {
            try {
                RunPort(side, port);
            } catch (const EComPort& e) {
                EndRun(kEndLost, QStringLiteral("port lost: %1: %2").arg(c.port, LinkPortFailureText(e)));
            }
        }
        try {
            port.ClosePort();
        } catch (const EComPort&) {
        }
    }
    std::lock_guard<std::mutex> lock(s_->m);
    if (--s_->running == 0) {
        s_->finished = true;
        s_->endUs = UsSince(s_->t0);
    }
    s_->cv.notify_all();
}

void TLinkTest::RunPort(int side, TCustomComPort& port)
{
    Shared& s = *s_;
    TLinkFigures& f = s.f;
    int mineIndex = -1;  // the stream this side sends
    for (int i = 0; i < 2; ++i)
        if (f.streams[i].active && f.streams[i].sender == side) mineIndex = i;
    TLinkFigures::TStream* mine = mineIndex >= 0 ? &f.streams[mineIndex] : nullptr;
    const int size = std::clamp(req_.size, kLinkFrameMinSize, kLinkFrameMaxSize);
    const int64_t periodUs = req_.rate > 0 ? int64_t(1e6 / req_.rate) : 0;
    const int64_t endUs = int64_t(req_.seconds * 1e6);
    int64_t nextDueUs = 0;
    long sent = 0;
    QByteArray pending;  // the frame being written
    int pendingDone = 0;
    int64_t pendingUs = 0;
    int64_t heldSinceUs = -1;  // a write has waited without room since then
    TLinkFrameReader reader(size);
    std::vector<char> buf(4096);
    auto onFrame = [&](const TLinkFrameEvent& e) { f.Arrived(side, e, UsSince(s.t0), size); };
    auto heldText = [&](int64_t us) {
        return QStringLiteral("the line was held by flow control for %1 s").arg(double(us) / 1e6, 0, 'f', 1);
    };

    for (;;) {
        int64_t now = UsSince(s.t0);
        bool sending = false;
        bool windowOpen = false;
        {
            std::unique_lock<std::mutex> lock(s.m);
            if (mine) f.Age(mineIndex, now);
            if (mine && !mine->sendingDone) {
                const bool more = req_.frames > 0 ? sent < req_.frames : now < endUs;
                const bool held = heldSinceUs >= 0 && now - heldSinceUs >= int64_t(kLinkHeldLimitMs) * 1000;
                if (!more || s.stop || s.abort || held) {
                    mine->sendingDone = true;
                    mine->sendEndUs = now;
                    // A frame still held at the limit: the line, not the link, ended the run.
                    if (!pending.isEmpty() && heldSinceUs >= 0 && s.cause == kEndNone) {
                        s.cause = kEndHeld;
                        s.causeUs = now;
                        s.partialReason = heldText(s.heldUs[side]);
                    }
                    pending.clear();
                } else {
                    sending = true;
                    windowOpen = periodUs > 0 || size_t(f.InFlight(mineIndex)) < f.Window(mineIndex, size);
                }
            }
            if (!sending) {
                bool done = s.abort.load();
                if (!done) {
                    done = true;
                    for (auto& st : f.streams)
                        if (st.receiver == side && !s.StreamDone(st, now)) done = false;
                }
                if (done) {
                    reader.Finish(onFrame);
                    return;
                }
            }
        }
        bool busy = false;
        if (sending && pending.isEmpty() && windowOpen && now >= nextDueUs) {
            pending = EncodeLinkFrame(size, uint8_t(mineIndex), uint32_t(sent), uint64_t(now));
            pendingDone = 0;
            pendingUs = now;
            nextDueUs = periodUs > 0 ? std::max(nextDueUs + periodUs, now - 1000000) : now;
        }
        if (sending && !pending.isEmpty()) {
            busy = true;
            const int want = int(pending.size()) - pendingDone;
            const int w = std::max(0, int(port.WriteText(pending.mid(pendingDone), [&] { return s.stop.load() || s.abort.load(); })));
            pendingDone += w;
            const int64_t after = UsSince(s.t0);
            std::lock_guard<std::mutex> lock(s.m);
            if (w < want) {
                // No room: the line is held (CTS low, the driver's buffer full, a far end that stopped reading).
                s.heldUs[side] += after - now;
                if (heldSinceUs < 0) heldSinceUs = now;
            } else {
                heldSinceUs = -1;
            }
            if (pendingDone >= int(pending.size())) {
                // Counted once it is on the line: its send time is the one it carries.
                f.Sent(mineIndex, pendingUs);
                ++sent;
                pending.clear();
            }
        }
        const int queued = port.InQueueCount();
        if (queued > 0) {
            const int n = port.ReadBytes(buf.data(), std::min<int>(queued, int(buf.size())));
            std::lock_guard<std::mutex> lock(s.m);
            reader.Feed(buf.data(), n, onFrame);
            continue;
        }
        if (busy) continue;
        int waitMs = 20;
        if (sending) waitMs = windowOpen ? int(std::clamp<int64_t>((nextDueUs - now + 999) / 1000, 0, 20)) : kWindowWaitMs;
        if (waitMs > 0) port.WaitForInput(1, waitMs);
    }
}

TLinkTestResult TLinkTest::Snapshot() const
{
    const Shared& s = *s_;
    std::lock_guard<std::mutex> lock(s.m);
    TLinkTestResult r;
    r.finished = s.finished;
    r.portError = s.portError;
    r.partial = s.cause != kEndNone;
    r.partialReason = s.partialReason;
    r.endedAfter = double(s.causeUs) / 1e6;
    const int64_t now = s.finished ? s.endUs : (s.go ? UsSince(s.t0) : 0);
    s.f.Fill(r, req_, now, s.finished);
    if (!s.finished) return r;

    if (!r.portError.isEmpty()) {
        r.verdict = TLinkVerdict::NotRun;
        r.failures << QStringLiteral("a port did not open: %1").arg(r.portError);
        return r;
    }
    if (s.cause == kEndStopped || s.cause == kEndLost) {
        // Not judged: a run that did not reach its end passes nothing.
        r.verdict = s.cause == kEndStopped ? TLinkVerdict::Stopped : TLinkVerdict::Lost;
        return r;
    }
    if (s.cause == kEndHeld) r.failures << r.partialReason;
    // Each direction on its own: a dead one fails the run, whatever the others carried.
    bool anyNothing = false;
    for (const auto& d : r.directions) {
        if (d.counts.sent == 0) {
            if (s.cause != kEndHeld) r.failures << QStringLiteral("%1: nothing was sent").arg(d.name);
        } else if (d.counts.received == 0) {
            anyNothing = true;
            r.failures << QStringLiteral("%1: nothing arrived").arg(d.name);
        } else if (d.counts.Per() > req_.maxPerPercent) {
            r.failures << QStringLiteral("%1: packet error rate %2 % is above %3 %")
                              .arg(d.name)
                              .arg(d.counts.Per(), 0, 'f', 2)
                              .arg(req_.maxPerPercent, 0, 'f', 2);
        }
        if (d.counts.sent > 0 && d.counts.received > 0 && d.throughput < req_.minThroughput)
            r.failures << QStringLiteral("%1: %2 B/s is below %3 B/s")
                              .arg(d.name)
                              .arg(d.throughput, 0, 'f', 0)
                              .arg(req_.minThroughput, 0, 'f', 0);
    }
    r.nothingArrived = r.total.sent > 0 && r.total.received == 0;
    if (anyNothing) r.advice = LinkNothingArrivedAdvice(req_.loopback);
    r.passed = r.failures.isEmpty() && r.total.sent > 0;
    r.verdict = r.passed ? TLinkVerdict::Passed : TLinkVerdict::Failed;
    return r;
}

QString TLinkTestResult::Headline() const
{
    switch (verdict) {
    case TLinkVerdict::Running: return QStringLiteral("RUNNING");
    case TLinkVerdict::Passed: return QStringLiteral("PASSED");
    case TLinkVerdict::Failed:
        return partial ? QStringLiteral("FAILED after %1 s (partial result: %2)").arg(endedAfter, 0, 'f', 1).arg(partialReason)
                       : QStringLiteral("FAILED");
    case TLinkVerdict::Stopped: return QStringLiteral("STOPPED after %1 s: not judged").arg(endedAfter, 0, 'f', 1);
    case TLinkVerdict::Lost:
        return QStringLiteral("PORT LOST after %1 s: not judged (%2)").arg(endedAfter, 0, 'f', 1).arg(partialReason);
    case TLinkVerdict::NotRun: return QStringLiteral("NOT RUN: a port did not open");
    }
    return {};
}

QString TLinkTestResult::Reason() const
{
    switch (verdict) {
    case TLinkVerdict::Passed: return {};
    case TLinkVerdict::Failed:
    case TLinkVerdict::NotRun: return failures.join(QStringLiteral("; "));
    default: return Headline();
    }
}

QJsonObject TLinkTestResult::ToJson(const TLinkTestRequest& q) const
{
    QJsonObject o;
    o.insert(QStringLiteral("verdict"), LinkVerdictOutcome(verdict));
    o.insert(QStringLiteral("summary"), Headline());
    o.insert(QStringLiteral("passed"), passed);
    o.insert(QStringLiteral("partial"), partial);
    o.insert(QStringLiteral("partial_reason"), partialReason.isEmpty() ? QJsonValue() : QJsonValue(partialReason));
    o.insert(QStringLiteral("port_error"), portError.isEmpty() ? QJsonValue() : QJsonValue(portError));
    o.insert(QStringLiteral("nothing_arrived"), nothingArrived);
    o.insert(QStringLiteral("failures"), QJsonArray::fromStringList(failures));
    o.insert(QStringLiteral("advice"), QJsonArray::fromStringList(advice));
    QJsonObject req;
    req.insert(QStringLiteral("port_a"), q.portA.port);
    req.insert(QStringLiteral("port_b"), q.loopback ? QJsonValue() : QJsonValue(q.portB));
    req.insert(QStringLiteral("loopback"), q.loopback);
    req.insert(QStringLiteral("line_baud"), LineBaudOf(q));
    req.insert(QStringLiteral("rf_bps"), q.rfBps);
    req.insert(QStringLiteral("frame_size"), q.size);
    req.insert(QStringLiteral("rate"), q.rate);
    req.insert(QStringLiteral("seconds"), q.frames > 0 ? QJsonValue() : QJsonValue(q.seconds));
    req.insert(QStringLiteral("frames"), q.frames > 0 ? QJsonValue(double(q.frames)) : QJsonValue());
    req.insert(QStringLiteral("max_per_percent"), q.maxPerPercent);
    req.insert(QStringLiteral("min_throughput"), q.minThroughput);
    o.insert(QStringLiteral("request"), req);
    o.insert(QStringLiteral("seconds"), seconds);
    auto counts = [](const TLinkCounts& c) {
        QJsonObject j;
        j.insert(QStringLiteral("sent"), double(c.sent));
        j.insert(QStringLiteral("received"), double(c.received));
        j.insert(QStringLiteral("lost"), double(c.lost));
        j.insert(QStringLiteral("corrupted"), double(c.corrupted));
        j.insert(QStringLiteral("duplicated"), double(c.duplicated));
        j.insert(QStringLiteral("out_of_order"), double(c.outOfOrder));
        j.insert(QStringLiteral("bytes"), double(c.bytes));
        j.insert(QStringLiteral("per_percent"), c.Per());
        return j;
    };
    o.insert(QStringLiteral("total"), counts(total));
    QJsonArray dirs;
    for (const auto& d : directions) {
        QJsonObject j = counts(d.counts);
        j.insert(QStringLiteral("direction"), d.name);
        j.insert(QStringLiteral("throughput"), d.throughput);
        j.insert(QStringLiteral("line_share_percent"), d.lineShare);
        j.insert(QStringLiteral("rf_share_percent"), d.rfShare);
        dirs.append(j);
    }
    o.insert(QStringLiteral("directions"), dirs);
    QJsonObject lat;
    lat.insert(QStringLiteral("kind"), q.loopback ? QStringLiteral("round trip") : QStringLiteral("one way"));
    lat.insert(QStringLiteral("count"), double(latency.count));
    lat.insert(QStringLiteral("min_ms"), latency.minMs);
    lat.insert(QStringLiteral("median_ms"), latency.medianMs);
    lat.insert(QStringLiteral("p95_ms"), latency.p95Ms);
    lat.insert(QStringLiteral("max_ms"), latency.maxMs);
    o.insert(QStringLiteral("latency"), lat);
    return o;
}

QByteArray TLinkTestResult::ToCsv() const
{
    QByteArray out = "second,sent,received,corrupted,per_percent,throughput_bytes_per_s\n";
    for (const TLinkSample& x : samples)
        out += QStringLiteral("%1,%2,%3,%4,%5,%6\n")
                   .arg(x.second)
                   .arg(x.sent)
                   .arg(x.received)
                   .arg(x.corrupted)
                   .arg(x.PerPercent(), 0, 'f', 2)
                   .arg(x.bytes)
                   .toLatin1();
    return out;
}

QStringList TLinkTestResult::SummaryLines() const
{
    QStringList l;
    l << Headline();
    for (const QString& f : failures) l << QStringLiteral("  %1").arg(f);
    for (const auto& d : directions)
        l << QStringLiteral("%1: sent %2, received %3, lost %4, corrupted %5, duplicated %6, out of order %7, "
                            "PER %8 %; %9 B/s (%10 % of the line, %11 % of the RF data rate)")
                 .arg(d.name)
                 .arg(d.counts.sent)
                 .arg(d.counts.received)
                 .arg(d.counts.lost)
                 .arg(d.counts.corrupted)
                 .arg(d.counts.duplicated)
                 .arg(d.counts.outOfOrder)
                 .arg(d.counts.Per(), 0, 'f', 2)
                 .arg(d.throughput, 0, 'f', 0)
                 .arg(d.lineShare, 0, 'f', 1)
                 .arg(d.rfShare, 0, 'f', 1);
    if (latency.count > 0)
        l << QStringLiteral("Latency (%1 frames): min %2 ms, median %3 ms, 95 % %4 ms, max %5 ms")
                 .arg(latency.count)
                 .arg(latency.minMs, 0, 'f', 1)
                 .arg(latency.medianMs, 0, 'f', 1)
                 .arg(latency.p95Ms, 0, 'f', 1)
                 .arg(latency.maxMs, 0, 'f', 1);
    if (!advice.isEmpty()) {
        l << QStringLiteral("Where nothing arrived, check:");
        for (const QString& a : advice) l << QStringLiteral("  - %1").arg(a);
    }
    return l;
}
