#pragma once
// TStation: a production station that programs every module plugged in.
// It is a set of sockets, each an operation of its own on its own thread:
// a socket watches for its module (an entry of a watched folder, as
// /dev/serial/by-id shows adapters, or a fixed adapter polled with the
// communication check), runs the module's steps with the panel's own
// runners (Read Config, Program Config with verify), records, labels and
// reports. The station only starts and stops sockets and sums their
// results. No widgets, no event loop of its own: Run blocks its caller (the
// tool's main thread, or the panel runner's worker, so the station is one
// operation and the one-operation rule holds).
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "module/memory_operations.h"
#include "station/station_events.h"

class TCustomComPort;
class TStationRecord;
class TStopFlag;

struct TStationSetup {
    QString profileName;   // recorded and printed on the label
    TMemoryBytes image{};  // the profile's configuration image; each module gets its own unit address in it
    QStringList watchDirs; // folders whose entries are serial devices
    QStringList ports;     // fixed adapters where modules are swapped
    // Line settings for a port before it is opened (the path is set by the
    // station). May throw EComPort. Null: the port's defaults.
    std::function<void(TCustomComPort& port, const QString& path)> setUpPort;
    int flowItem = 0;      // the flow control each port gets back after programming
    bool reprogram = false;  // write also a module that already holds the profile and its address
    QString programVersion = QStringLiteral("tarnwick-cli");  // for the record's rows
    int pollMs = 1000;     // fixed ports: the check's interval while empty, and while a finished module stays
    int settleMs = 100;    // a new entry is opened this long after it appeared (udev sets it up meanwhile)
    // The label step; null: none (the module passes after its row).
    std::function<TStationLabelOutcome(const TStationLabelRequest&)> label;
};

class TStation {
public:
    TStation(const TStationSetup& setup, TStationRecord& record, TStationObserver& observer);
    ~TStation();  // stops every socket and waits for them
    TStation(const TStation&) = delete;
    TStation& operator=(const TStation&) = delete;

    // Starts watching: the folders (with inotify) and the fixed ports. False
    // with *error when none of them can be used (the tool's exit status 3);
    // a folder or port that cannot be used beside others that can is told
    // in *warnings.
    bool Start(QString* error, QStringList* warnings = nullptr);
    // Any thread. No module is taken any more; the running ones finish.
    void StopTaking();
    // Any thread. The running modules are stopped at their next wait (they
    // fail as stopped); nothing is taken any more.
    void StopNow();
    bool Taking() const;
    // Blocks until the station has been stopped (StopTaking or StopNow) and
    // every running module has finished, or until stop is requested (then as
    // StopNow). The runner's job body: station.Run(stop).
    void Run(TStopFlag* stop = nullptr);
    // Blocks until the station has been stopped and every running module has
    // finished, at most timeoutMs. True when it has.
    bool WaitEnded(int timeoutMs);
    // Blocks until no module runs and none waits to be opened, at most
    // timeoutMs. True when idle (tests, benchmarks).
    bool WaitIdle(int timeoutMs);

    TStationSums Sums() const;
    // Every socket that has had a module, in the order they appeared: the tiles.
    std::vector<TSocketView> Sockets() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};
