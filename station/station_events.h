#pragma once
// What a station tells whoever runs it: one event per plug, step, pass or
// failure of a socket, each carrying the socket's state at that moment, so
// that a window can paint a tile and a tool print a line from the event
// alone. Events come on the socket's own thread; an observer that paints
// posts them to its window thread.
#include <QDateTime>
#include <QString>

#include "module/memory_operations.h"

// The steps a plugged module goes through, in order.
enum class TStationStep {
    None,           // not started (a socket that is empty or waits)
    Check,          // the communication check
    ReadConfig,     // the state before, kept in the record
    ProgramConfig,  // with the module's own unit address
    Verify,         // the read-back after programming
    Record,         // the row stored
    Label,          // the label made (and printed)
};

// "Program Config", as the step is named in messages and tiles.
QString StationStepName(TStationStep step);

// What a socket shows: a tile's state.
enum class TSocketState {
    Empty,    // nothing plugged (or the last module taken out before it ran)
    Running,  // a module is going through its steps
    Passed,   // shown until the next module is plugged into this socket
    Failed,   // idem
};

// The outcome of one module: what the tool prints as one JSON object and
// the window shows on the tile.
struct TStationModuleResult {
    bool ok = false;
    QString port;         // the device path the station opened
    QString byId;         // the watched entry's name (its /dev/serial/by-id name), empty for a fixed port
    QString unitAddress;  // 4 hex digits; empty when none was given
    QString rowId;        // the record's row for this try; empty when it could not be kept at all
    QString error;        // "pulled during Program Config: plug it again"; empty when ok
    QString label;        // the label file (or what the label step made); empty when none
    QString redoOf;       // the row of the failed try this one repeats, in the same socket
    TStationStep failedStep = TStationStep::None;
    bool alreadyProgrammed = false;  // passed without a write: the module held this profile and its address
    bool stopped = false;  // stopped by the station (not judged): its row's outcome is "stopped"
    bool rowWaits = false; // the record could not take the row: it waits in the spool (not recorded yet)
    qint64 durationMs = 0;
    QString recordNotice; // what the record asks to tell (rows kept locally), empty when all went as asked
};

struct TStationEvent {
    enum Kind {
        Plugged,     // a module appeared in the socket
        Step,        // a step started (step), or progress within it (percent)
        Finished,    // the module passed or failed: result holds the outcome
        Unplugged,   // the module was taken out (the tile keeps its result)
    };
    Kind kind = Plugged;
    int socket = 0;       // the socket's number, from 0, in the order sockets appeared
    QString socketName;   // the watched entry's name or the fixed port's path
    TSocketState state = TSocketState::Empty;
    TStationStep step = TStationStep::None;
    int percent = 0;      // within the step, 0-100
    TStationModuleResult result;  // Finished only
};

// Told of everything a station does. Called on the sockets' threads, one
// call at a time per socket, never under a lock of the station.
class TStationObserver {
public:
    virtual ~TStationObserver() = default;
    virtual void StationEvent(const TStationEvent& event) = 0;
};

// One tile: a socket's state as last reported.
struct TSocketView {
    int socket = 0;
    QString name;
    TSocketState state = TSocketState::Empty;
    TStationStep step = TStationStep::None;
    int percent = 0;
    TStationModuleResult last;  // the last finished module (state Passed/Failed)
};

// The station's running sums.
struct TStationSums {
    int passed = 0;
    int failed = 0;
    int stopped = 0;      // stopped by the station before their end (not judged)
    int notRecorded = 0;  // finished modules whose row waits in the spool
    qint64 elapsedMs = 0;  // since the station started
    // passed / (passed + failed), 0 when none finished.
    double Yield() const { return passed + failed ? double(passed) / double(passed + failed) : 0.0; }
    // Finished modules per hour since the start.
    double ModulesPerHour() const { return elapsedMs > 0 ? double(passed + failed) * 3600000.0 / double(elapsedMs) : 0.0; }
};

// The label step: filled in by whoever can draw (the label library through
// the tool or the window). Called on the socket's thread after the row is
// stored, for a module that passed.
struct TStationLabelRequest {
    QString unitAddress;
    QString rowId;
    QString profileName;
    QString port;
    QString byId;
    QString station;     // host name, as in the record
    QDateTime timeUtc;
    TMemoryBytes image{};  // the configuration written (holds the key: never print it whole)
};
struct TStationLabelOutcome {
    bool ok = false;
    QString file;   // the label made (PNG path), or empty
    QString error;  // "cannot print on line-3: ..." when !ok
};
