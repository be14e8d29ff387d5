#pragma once
// TModuleFinder: looks for the module on several ports (and rates) at once.
// Each port is tried on a worker thread with a port object of its own,
// created, used and destroyed on that thread (nothing is shared but a few
// counters and the result list under a mutex). No widgets: the Com Port
// page and the command-line tool both drive it.
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "module/port_setup.h"
#include "module/stop_flag.h"

class TCustomComPort;
class TTrafficLog;

// The Serial Baud Rate group's items (0 "115200 baud" .. 7 "300 baud") as numbers.
int BaudOfItem(int baudItem);

// The one probe of a module, for Find Module and the tool's "probe": the
// shared communication check (module/session), then "Read Version" (0x0F,
// five bytes beginning 0x43). True when the module answered both; *version
// gets the four version bytes as text, *reply the five bytes. The port must
// be open; it may be closed and reopened by the check. A stop ends it.
bool ProbeModuleAt(TCustomComPort& port, QString* version, TStopFlag* stop = nullptr, QByteArray* reply = nullptr);

struct TFindAttempt {
    QString port;
    int baudItem = 0;
    bool answered = false;
    QString version;
    QString error;  // the port could not be opened or is in use (the other rates then are skipped)
};

struct TFindRequest {
    QStringList ports;          // in the order of preference
    QList<int> baudItems;       // Serial Baud Rate items, the chosen one first
    TPortChoices settings;      // data length, parity, stop bits, flow control
    int parallel = 4;           // ports tried at once
    TTrafficLog* traffic = nullptr;  // where the probes' bytes go, tagged by port
};

struct TFindResult {
    bool found = false;
    bool aborted = false;
    QString port;
    int baudItem = -1;
    QString version;
    std::vector<TFindAttempt> tried;  // in port, then rate order
    // "Tarnwick module 1.17 on /dev/ttyUSB1 at 57600 baud"
    QString Summary() const;
    // One line per port: "/dev/ttyUSB0 at 57600, 9600 baud" (or why it could not be opened).
    QStringList TriedLines() const;
};

class TModuleFinder {
public:
    explicit TModuleFinder(TFindRequest request);
    ~TModuleFinder();  // aborts and waits for the workers
    TModuleFinder(const TModuleFinder&) = delete;
    TModuleFinder& operator=(const TModuleFinder&) = delete;

    void Start();
    // Each worker ends after its current attempt (a second at most).
    void Abort();
    bool Finished() const;
    // Attempts done (skipped ones included) and their total, for progress.
    int Done() const { return done_.load(); }
    int Total() const { return total_; }
    // Waits at most timeoutMs for the end; true when finished.
    bool WaitFinished(int timeoutMs);
    // After Finished().
    TFindResult Result() const;

    // Called on a worker thread after every attempt (may be empty).
    std::function<void()> OnProgress;

    // Start, wait, result: for callers without an event loop of their own.
    TFindResult Run();

private:
    void Worker();
    void TryPort(int index);

    const TFindRequest req_;
    const int total_;
    std::vector<std::thread> workers_;
    std::atomic<int> next_{0};
    std::atomic<int> done_{0};
    std::atomic<int> best_{INT_MAX};  // lowest port index that answered
    TStopFlag abort_;
    mutable std::mutex m_;
    std::condition_variable cv_;
    int running_ = 0;
    bool started_ = false;
    std::vector<std::vector<TFindAttempt>> perPort_;
};
