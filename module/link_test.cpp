#include "module/link_test.h"

#include <cerrno>

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
constexpr int kWindowBytes = 512;
// Longest single wait while a window is full and nothing comes back on this port.
constexpr int kWindowWaitMs = 10;
constexpr int kWriteTimeoutMs = 250;

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

TLinkLatency LatencyOf(std::vector<float> ms)
{
    TLinkLatency l;
    if (ms.empty()) return l;
    std::sort(ms.begin(), ms.end());
    l.count = int(ms.size());
    auto rank = [&](double q) { return double(ms[std::min(ms.size() - 1, size_t(std::ceil(q * double(ms.size()))) - (q > 0 ? 1 : 0))]); };
    l.minMs = ms.front();
    l.medianMs = ms.size() % 2 ? ms[ms.size() / 2] : (double(ms[ms.size() / 2 - 1]) + ms[ms.size() / 2]) / 2;
    l.p95Ms = rank(0.95);
    l.maxMs = ms.back();
    return l;
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

struct TLinkTest::Shared {
    struct TStream {
        bool active = false;
        int sender = 0;    // side that sends it
        int receiver = 0;  // side that reads it
        QString name;
        TLinkCounts counts;
        long highest = -1;      // highest sequence received intact
        std::vector<bool> seen;
        bool sendingDone = false;
        int64_t sendEndUs = 0;
        int64_t firstSendUs = -1;
        int64_t lastArrivalUs = -1;
    };

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
    QString partialReason;
    QString portError;
    TStream streams[2];
    std::vector<float> latencies;
    std::vector<TLinkSample> samples;
    int64_t maxLatencyUs = 0;
    int64_t endUs = 0;

    TLinkSample& SampleAt(int64_t us)
    {
        const size_t s = size_t(std::max<int64_t>(0, us / 1000000));
        while (samples.size() <= s) {
            TLinkSample x;
            x.second = int(samples.size());
            samples.push_back(x);
        }
        return samples[s];
    }
    // A stream that will bring nothing more.
    bool StreamDone(const TStream& st, int64_t nowUs) const
    {
        if (!st.active) return true;
        if (!st.sendingDone) return false;
        if (abort) return true;
        if (st.highest + 1 >= st.counts.sent) return true;
        return nowUs > st.sendEndUs + kLinkLostAfterMs * 1000 + maxLatencyUs;
    }
};

TLinkTest::TLinkTest(TLinkTestRequest request) : req_(std::move(request)), s_(std::make_unique<Shared>())
{
    Shared& s = *s_;
    s.ports = req_.loopback ? 1 : 2;
    if (req_.loopback) {
        s.streams[0].active = true;
        s.streams[0].name = QStringLiteral("out and back");
    } else {
        s.streams[0].active = req_.direction != TLinkDirection::BToA;
        s.streams[0].receiver = 1;
        s.streams[0].name = QStringLiteral("A to B");
        s.streams[1].active = req_.direction != TLinkDirection::AToB;
        s.streams[1].sender = 1;
        s.streams[1].name = QStringLiteral("B to A");
    }
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

void TLinkTest::Stop()
{
    std::lock_guard<std::mutex> lock(s_->m);
    if (!s_->finished && s_->partialReason.isEmpty()) s_->partialReason = QStringLiteral("stopped");
    s_->stop = true;
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
            // A line held by flow control (no module, CTS low) must not
            // hold a Stop for the default seconds: short writes, retried.
            port.Timeouts().SetWriteTotalMultiplier(0);
            port.Timeouts().SetWriteTotalConstant(kWriteTimeoutMs);
            port.OpenPort();
            opened = port.Connected();
            if (opened) port.PurgeBuffers(true, true);
        } catch (const EComPort& e) {
            std::lock_guard<std::mutex> lock(s_->m);
            if (s_->portError.isEmpty()) s_->portError = QStringLiteral("%1: %2").arg(c.port, e.Message());
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
                std::lock_guard<std::mutex> lock(s_->m);
                s_->partialReason = QStringLiteral("port lost: %1: %2").arg(c.port, e.Message());
                s_->abort = true;
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
    Shared::TStream* mine = nullptr;  // the stream this side sends
    for (auto& st : s.streams)
        if (st.active && st.sender == side) mine = &st;
    const uint8_t myId = mine ? uint8_t(mine - s.streams) : 0;
    const int size = std::clamp(req_.size, kLinkFrameMinSize, kLinkFrameMaxSize);
    const size_t window = size_t(std::max(2, kWindowBytes / size));
    const int64_t periodUs = req_.rate > 0 ? int64_t(1e6 / req_.rate) : 0;
    const int64_t endUs = int64_t(req_.seconds * 1e6);
    std::deque<std::pair<long, int64_t>> onWay;  // sequence, send time
    int64_t nextDueUs = 0;
    long sent = 0;
    TLinkFrameReader reader(size);
    std::vector<char> buf(4096);

    auto onFrame = [&](const TLinkFrameEvent& e) {
        // Under s.m.
        const int64_t now = UsSince(s.t0);
        TLinkSample& arrived = s.SampleAt(now);
        Shared::TStream* st = nullptr;
        if (e.intact && e.stream < 2 && s.streams[e.stream].active && s.streams[e.stream].receiver == side)
            st = &s.streams[e.stream];
        if (!st) {
            // Damaged, or not meant for this port: charged to what this port receives.
            for (auto& x : s.streams)
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
        ++s.SampleAt(int64_t(e.sendUs)).received;
        if (int64_t(e.sendUs) <= now) {
            const int64_t lat = now - int64_t(e.sendUs);
            s.latencies.push_back(float(double(lat) / 1000.0));
            s.maxLatencyUs = std::max(s.maxLatencyUs, lat);
        }
    };

    for (;;) {
        int64_t now = UsSince(s.t0);
        bool sending = false;
        bool windowOpen = false;
        {
            std::unique_lock<std::mutex> lock(s.m);
            if (mine && !mine->sendingDone) {
                const bool more = req_.frames > 0 ? sent < req_.frames : now < endUs;
                if (!more || s.stop || s.abort) {
                    mine->sendingDone = true;
                    mine->sendEndUs = now;
                } else {
                    sending = true;
                    while (!onWay.empty() && (onWay.front().first <= mine->highest ||
                                              onWay.front().second < now - int64_t(kLinkLostAfterMs) * 1000 - s.maxLatencyUs))
                        onWay.pop_front();
                    windowOpen = onWay.size() < window;
                }
            }
            if (!sending) {
                bool done = s.abort.load();
                if (!done) {
                    done = true;
                    for (auto& st : s.streams)
                        if (st.receiver == side && !s.StreamDone(st, now)) done = false;
                    if (mine && !mine->sendingDone) done = false;
                }
                if (done) return;
            }
        }
        if (sending && windowOpen && now >= nextDueUs) {
            const QByteArray frame = EncodeLinkFrame(size, myId, uint32_t(sent), uint64_t(now));
            {
                std::lock_guard<std::mutex> lock(s.m);
                if (mine->firstSendUs < 0) mine->firstSendUs = now;
                ++mine->counts.sent;
                ++s.SampleAt(now).sent;
            }
            onWay.emplace_back(sent, now);
            ++sent;
            int done = 0;
            while (done < frame.size() && !s.abort) {
                const int w = port.WriteText(frame.mid(done));
                if (w <= 0 && s.stop) break;  // a line held by flow control: give up on stop
                done += std::max(0, w);
            }
            nextDueUs = periodUs > 0 ? std::max(nextDueUs + periodUs, now - 1000000) : now;
            continue;
        }
        const int queued = port.InQueueCount();
        if (queued > 0) {
            const int n = port.ReadBytes(buf.data(), std::min<int>(queued, int(buf.size())));
            std::lock_guard<std::mutex> lock(s.m);
            reader.Feed(buf.data(), n, onFrame);
            continue;
        }
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
    r.partial = !s.partialReason.isEmpty();
    r.partialReason = s.partialReason;
    const int64_t now = s.finished ? s.endUs : (s.go ? UsSince(s.t0) : 0);
    r.seconds = double(now) / 1e6;
    const int lineBaud = LineBaudOf(req_);
    const int bitsPerByte = LineBitsPerByte(req_.portA);
    for (const auto& st : s.streams) {
        if (!st.active) continue;
        TLinkDirectionResult d;
        d.name = st.name;
        d.counts = st.counts;
        // Frames before the last one that arrived are lost unless they came;
        // at the end every frame not seen is.
        const long accounted = s.finished ? st.counts.sent : st.highest + 1;
        d.counts.lost = std::max(0L, accounted - st.counts.received - st.counts.corrupted);
        d.perPercent = s.finished ? d.counts.Per()
                                  : accounted > 0 ? 100.0 * double(accounted - std::min(accounted, st.counts.received)) / double(accounted)
                                                  : 0;
        if (st.firstSendUs >= 0) {
            const int64_t until = s.finished ? std::max(st.lastArrivalUs, st.firstSendUs) : now;
            const double secs = std::max(1e-3, double(until - st.firstSendUs) / 1e6);
            d.throughput = st.counts.bytes / secs;
        }
        d.lineShare = lineBaud > 0 ? 100.0 * d.throughput * bitsPerByte / lineBaud : 0;
        d.rfShare = req_.rfBps > 0 ? 100.0 * d.throughput * 8 / req_.rfBps : 0;
        r.total.Add(d.counts);
        r.directions.push_back(d);
    }
    r.latenciesMs = s.latencies;
    r.latency = LatencyOf(s.latencies);
    r.samples = s.samples;
    const int64_t settleUs = int64_t(kLinkLostAfterMs) * 1000 + s.maxLatencyUs;
    for (TLinkSample& x : r.samples) x.settled = s.finished || int64_t(x.second + 1) * 1000000 + settleUs < now;

    if (!s.finished) return r;
    if (!r.portError.isEmpty()) r.failures << QStringLiteral("a port did not open: %1").arg(r.portError);
    r.nothingArrived = r.portError.isEmpty() && r.total.sent > 0 && r.total.received == 0;
    if (r.nothingArrived) {
        r.failures << QStringLiteral("nothing arrived");
        r.advice = LinkNothingArrivedAdvice(req_.loopback);
    } else if (r.total.sent > 0) {
        if (r.total.Per() > req_.maxPerPercent)
            r.failures << QStringLiteral("packet error rate %1 % is above %2 %")
                              .arg(r.total.Per(), 0, 'f', 2)
                              .arg(req_.maxPerPercent, 0, 'f', 2);
        for (const auto& d : r.directions)
            if (d.throughput < req_.minThroughput)
                r.failures << QStringLiteral("%1: %2 B/s is below %3 B/s")
                                  .arg(d.name)
                                  .arg(d.throughput, 0, 'f', 0)
                                  .arg(req_.minThroughput, 0, 'f', 0);
    }
    if (r.partialReason.startsWith(QLatin1String("port lost"))) r.failures << r.partialReason;
    r.passed = r.failures.isEmpty() && r.total.sent > 0;
    return r;
}

QJsonObject TLinkTestResult::ToJson(const TLinkTestRequest& q) const
{
    QJsonObject o;
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
    lat.insert(QStringLiteral("count"), latency.count);
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
    QString verdict = passed ? QStringLiteral("PASSED") : QStringLiteral("FAILED");
    if (partial) verdict += QStringLiteral(" (partial result: %1)").arg(partialReason);
    l << verdict;
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
        l << QStringLiteral("Nothing arrived. Check:");
        for (const QString& a : advice) l << QStringLiteral("  - %1").arg(a);
    }
    return l;
}
