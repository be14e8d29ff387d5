#pragma once
// TLinkTest: proves that a pair of modules in "Cable Link" mode talks, and
// how well. Frames (module/link_frame) go from one port to the other (both
// directions at once, or one), or out and back on one port whose far end is
// looped back. Each port is driven on a worker thread with a port object of
// its own, created, used and destroyed there; the caller polls Snapshot()
// for live figures and takes Result() at the end. No widgets: the panel's
// window and the command-line tool both drive it.
//
// Flow: a direction keeps at most a window of frames (about 1 KiB) on its
// way; a frame counts as on its way until a later one arrived or
// kLinkLostAfterMs passed. So "flat out" fills the air without flooding the
// modules' buffers; its latency includes the window's queue (about 60 ms at
// 76800 bps), so a latency figure of the link itself wants a --rate.
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "module/port_setup.h"

class TCustomComPort;

constexpr int kLinkLostAfterMs = 1500;

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
    int count = 0;
    double minMs = 0, medianMs = 0, p95Ms = 0, maxMs = 0;
};

struct TLinkTestResult {
    bool finished = false;
    bool partial = false;
    QString partialReason;   // "stopped", "port lost: ..."
    QString portError;       // a port did not open
    bool passed = false;
    bool nothingArrived = false;
    QStringList failures;    // which threshold, in words
    QStringList advice;      // what to check when nothing arrived
    double seconds = 0;      // from the first frame sent to the last one awaited
    std::vector<TLinkDirectionResult> directions;
    TLinkCounts total;
    TLinkLatency latency;    // round trip when looped back, else one way
    std::vector<float> latenciesMs;  // every frame's, for a histogram
    std::vector<TLinkSample> samples;

    QJsonObject ToJson(const TLinkTestRequest& request) const;
    // Header and one line per second.
    QByteArray ToCsv() const;
    // A few lines for a person: verdict, counts, throughput, latency, advice.
    QStringList SummaryLines() const;
};

// The list shown when nothing arrived.
QStringList LinkNothingArrivedAdvice(bool loopback);
TLinkLatency LatencyOf(std::vector<float> ms);

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
    void RunPort(int side, TCustomComPort& port);

    const TLinkTestRequest req_;
    std::unique_ptr<Shared> s_;
    std::vector<std::thread> workers_;
};
