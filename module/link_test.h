#pragma once
// TLinkTest: proves that a pair of modules in "Cable Link" mode talks, and
// how well. Frames (module/link_frame) go from one port to the other (both
// directions at once, or one), or out and back on one port whose far end is
// looped back. Each port is driven on a worker thread with a port object of
// its own, created, used and destroyed there; the caller polls Snapshot()
// for live figures and takes Result() at the end. No widgets: the panel's
// window and the command-line tool both drive it.
//
// Flow: flat out, a direction keeps a window of frames on its way that
// follows the measured bandwidth-delay product (twice the delivery rate times
// the shortest time on the way), from kLinkWindowMinBytes up to
// kLinkWindowMaxBytes: three quarters of a module's 4096-byte transmit
// buffer, so the modules' buffers are never flooded even when the whole
// window waits in one. A frame counts as on its way until a later one
// arrived or it is overdue (kLinkLostAfterMs plus the longest latency seen).
// Its latency includes the window's queue, so a latency figure of the link
// itself wants a --rate.
//
// The verdict is a small state machine (TLinkVerdict): a run that did not
// reach its end is never passed, and each direction is judged on its own.
// The figures are running sums (counts, a latency histogram, per-second
// samples), so a poll costs the same after ten million frames as after ten.
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "module/link_frame.h"
#include "module/port_setup.h"

class TCustomComPort;

constexpr int kLinkLostAfterMs = 1500;
constexpr int kLinkWindowMinBytes = 512;
constexpr int kLinkWindowMaxBytes = 3072;
// After sending ends, frames on their way are awaited at most this long.
constexpr int kLinkDrainMaxMs = 1750;
// A write held this long without a byte going out ends the run.
constexpr int kLinkHeldLimitMs = 10000;

// Running: not finished. Passed and Failed are judged; Stopped (Stop, Close
// Port, a closed window, Ctrl-C) and Lost (a port went away) are not; NotRun:
// a port did not open.
enum class TLinkVerdict { Running, Passed, Failed, Stopped, Lost, NotRun };
// The production record's outcome of a verdict: "ok", "failed", "stopped", "lost".
QString LinkVerdictOutcome(TLinkVerdict v);

enum class TLinkDirection { Both, AToB, BToA };

class TTrafficLog;

struct TLinkTestRequest {
    TPortChoices portA;          // line settings and Point A's port
    QString portB;               // empty with loopback
    bool loopback = false;       // one port, far end's DB9 looped back
    int customBaud = 0;          // > 0: this rate instead of the group's item
    TLinkDirection direction = TLinkDirection::Both;
    double seconds = 10;         // sending time; used when frames is 0
    long frames = 0;             // > 0: frames per direction instead of a time
    int size = 64;               // bytes per frame on the line
    double rate = 0;             // frames per second per direction; 0 flat out
    int rfBps = 76800;           // the modules' RF data rate, for its share
    double maxPerPercent = 1.0;  // pass thresholds
    double minThroughput = 0;    // payload bytes per second, each direction
    TTrafficLog* traffic = nullptr;  // where the ports' bytes go, tagged by port
    // Called on each port's worker before it opens (side 0: Point A, 1:
    // Point B): tests give the port a scripted device here.
    std::function<void(TCustomComPort&, int side)> preparePort;
};

// The line's bit rate of a request (the group's item or the custom rate).
int LineBaudOf(const TLinkTestRequest& r);
// Bits one byte takes on the line: start, data, parity, stop.
int LineBitsPerByte(const TPortChoices& c);

struct TLinkCounts {
    long sent = 0;
    long received = 0;  // intact and new, in order or not
    long lost = 0;      // sent, never arrived in any shape
    long corrupted = 0;
    long duplicated = 0;
    long outOfOrder = 0;
    qint64 bytes = 0;  // bytes of the intact frames received
    double Per() const;  // (sent - received) / sent, in percent
    void Add(const TLinkCounts& o);
};

struct TLinkSample {
    int second = 0;  // since the start
    long sent = 0;   // frames sent in this second
    long received = 0;  // of those, arrived intact
    long corrupted = 0;  // arrived damaged in this second
    qint64 bytes = 0;    // intact bytes that arrived in this second
    bool settled = false;  // every frame of the second arrived or is overdue
    double PerPercent() const;
};

struct TLinkDirectionResult {
    QString name;  // "A to B", "B to A", "out and back"
    TLinkCounts counts;
    // Packet error rate; while running, of the frames whose fate is known
    // (those before the last one that arrived), so frames on their way do
    // not count as errors.
    double perPercent = 0;
    double throughput = 0;  // payload bytes per second
    double lineShare = 0;   // of what the line can carry, percent
    double rfShare = 0;     // of the RF data rate, percent
};

struct TLinkLatency {
    long count = 0;
    double minMs = 0, medianMs = 0, p95Ms = 0, maxMs = 0;
};

// Latencies counted in buckets 1/32 of a doubling wide (exact below 64 us):
// quantiles within 1.6 %, the same cost after any number of frames.
class TLatencyHistogram {
public:
    void Add(int64_t us);
    long Count() const { return count_; }
    double QuantileMs(double q) const;
    double MinMs() const { return count_ ? double(min_) / 1000 : 0; }
    double MaxMs() const { return count_ ? double(max_) / 1000 : 0; }
    TLinkLatency Figures() const;
    // Counts in n bins of widthMs from 0; the last bin also takes every
    // longer latency.
    std::vector<int> Bins(int n, double widthMs) const;

private:
    static constexpr int kSub = 32;
    static int Bucket(int64_t us);
    static int64_t BucketMidUs(int bucket);
    std::vector<long> buckets_;
    long count_ = 0;
    int64_t min_ = 0, max_ = 0;
};

struct TLinkTestResult {
    TLinkVerdict verdict = TLinkVerdict::Running;
    bool finished = false;
    bool partial = false;    // the run did not reach its end
    // "stopped", "port lost: PATH: ...", "the line was held by flow control for 12 s"
    QString partialReason;
    double endedAfter = 0;   // seconds: when it was stopped, lost or held
    QString portError;       // a port did not open
    bool passed = false;     // verdict == Passed
    bool nothingArrived = false;
    QStringList failures;    // which threshold, in words
    QStringList advice;      // what to check when nothing arrived
    double seconds = 0;      // from the first frame sent to the last one awaited
    double sendingSeconds = 0;  // until the last direction stopped sending (so far)
    std::vector<TLinkDirectionResult> directions;
    TLinkCounts total;
    TLinkLatency latency;    // round trip when looped back, else one way
    TLatencyHistogram latencies;
    std::vector<TLinkSample> samples;

    // The verdict's line: "PASSED", "FAILED", "STOPPED after 6.0 s: not judged", ...
    QString Headline() const;
    // What a record row says about it: the failures, or why it was not judged.
    QString Reason() const;

    QJsonObject ToJson(const TLinkTestRequest& request) const;
    // Header and one line per second.
    QByteArray ToCsv() const;
    // A few lines for a person: verdict, counts, throughput, latency, advice.
    QStringList SummaryLines() const;
};

// The list shown when nothing arrived.
QStringList LinkNothingArrivedAdvice(bool loopback);

// The running sums of a run: what each direction sent and received, the
// frames whose fate is known, the latencies, the per-second samples. Not
// thread-safe: TLinkTest holds it under its lock.
class TLinkFigures {
public:
    struct TStream {
        bool active = false;
        int sender = 0;    // side that sends it
        int receiver = 0;  // side that reads it
        QString name;
        TLinkCounts counts;
        long highest = -1;  // highest sequence received intact
        std::vector<bool> seen;
        std::deque<std::pair<long, int64_t>> recent;  // sent, fate unknown: sequence, send time
        long overdueBelow = 0;  // every frame before it arrived or is overdue
        long judgedUpTo = -1;   // >= 0: only the frames before it are judged (a port was lost)
        bool sendingDone = false;
        int64_t sendEndUs = 0;
        int64_t firstSendUs = -1;
        int64_t lastArrivalUs = -1;
        int64_t minLatencyUs = -1;
        // The delivery rate, measured over a tenth of a second at a time.
        double rate = 0;
        int64_t rateSinceUs = -1;
        qint64 rateBytes = 0;
        // Frames whose fate is known at nowUs (arrived, or overdue).
        long Known(int64_t nowUs, int64_t settleUs) const;
    };

    TLinkFigures(const TLinkTestRequest& request);
    TStream streams[2];
    TLatencyHistogram latencies;
    std::vector<TLinkSample> samples;
    int64_t maxLatencyUs = 0;

    // Time after which a frame on its way counts as lost.
    int64_t SettleUs() const { return int64_t(kLinkLostAfterMs) * 1000 + maxLatencyUs; }
    void Sent(int stream, int64_t nowUs);
    // A frame event found on side's port; frame size in bytes.
    void Arrived(int side, const TLinkFrameEvent& e, int64_t nowUs, int size);
    // Drops frames whose fate became known from the stream's recent list.
    void Age(int stream, int64_t nowUs);
    // Frames on their way now.
    long InFlight(int stream) const;
    // The window, in frames of size bytes, for the stream flat out.
    size_t Window(int stream, int size) const;
    // Counts and figures into r (not the verdict).
    void Fill(TLinkTestResult& r, const TLinkTestRequest& request, int64_t nowUs, bool finished) const;

private:
    TLinkSample& SampleAt(int64_t us);
};

class TLinkTest {
public:
    explicit TLinkTest(TLinkTestRequest request);
    ~TLinkTest();  // stops and waits for the workers
    TLinkTest(const TLinkTest&) = delete;
    TLinkTest& operator=(const TLinkTest&) = delete;

    void Start();
    // Ends sending now; frames on their way are still awaited briefly. The
    // result says it is partial.
    void Stop();
    bool Finished() const;
    bool WaitFinished(int timeoutMs);
    // Figures so far (also after the end).
    TLinkTestResult Snapshot() const;
    TLinkTestResult Result() const { return Snapshot(); }
    const TLinkTestRequest& Request() const { return req_; }

    // Start, wait, result, for callers without an event loop.
    TLinkTestResult Run();

private:
    struct Shared;
    void Worker(int side);
    void EndRun(int cause, const QString& reason);
    void RunPort(int side, TCustomComPort& port);

    const TLinkTestRequest req_;
    std::unique_ptr<Shared> s_;
    std::vector<std::thread> workers_;
};
