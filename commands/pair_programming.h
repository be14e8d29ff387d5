#pragma once
// Two modules made into a matched pair: the same configuration programmed
// into both at once, the first as Point A and the second as Point B, each
// checked by reading it back, then each module's version read. Without a
// window: the Config Memory page's Program Pair and the command-line tool
// share it. One module failing never stops or hides the other.
#include <QString>
#include <QStringList>
#include <array>
#include <functional>

#include "module/memory_operations.h"
#include "module/port_error_advice.h"
#include "settings/config_values.h"

class TCustomComPort;
class TStopFlag;
class TTrafficLog;

enum class TPairFailure {
    None,
    Port,    // the port could not be opened
    Module,  // no answer, a refused step, a read-back that differs
};

struct TPairModule {
    QString port;
    TPairFailure failure = TPairFailure::Port;
    QString error;       // the failure in plain words; empty when ok
    QString version;     // the "Read Version" reply's text; empty when not read
    bool verified = false;
    bool stopped = false;  // a stop ended it; error then says what state the module is in
    TMemoryBytes image{};  // what was programmed
    bool Ok() const { return failure == TPairFailure::None; }
};

struct TPairRequest {
    std::array<QString, 2> ports;  // Point A, Point B
    TConfigValues values;          // key included; the role is set per module
    // Line settings for a port before it is opened (the path is set by the
    // operation). May throw EComPort.
    std::function<void(TCustomComPort& port, const QString& path)> setUpPort;
    int flowItem = 0;  // the flow control each port gets back after programming
    // One per module, called on that module's thread only; null for none.
    std::array<TOperationObserver*, 2> observers{};
    // Ends both runs at their next wait (the panel's Close Port, quitting,
    // Ctrl-C); null for none.
    TStopFlag* stop = nullptr;
    // Where the ports' bytes are recorded, tagged by port; null: nowhere.
    TTrafficLog* traffic = nullptr;
    TAdviceAudience audience = TAdviceAudience::CommandLine;
};

struct TPairResult {
    std::array<TPairModule, 2> modules;
    bool Ok() const { return modules[0].Ok() && modules[1].Ok(); }
};

// The two images: the values with "Point A" and with "Point B". They differ
// only where the mode carries the role.
std::array<TMemoryBytes, 2> PairImages(const TConfigValues& values);

// Runs both modules, each on a thread and a port of its own, and waits for
// both.
TPairResult ProgramPair(const TPairRequest& request);

// "1F2E…6978": enough to tell two keys apart, too little to use one.
QString KeyHint(const QString& key);

// The summary: each module's role, port, version and outcome (the failed
// one named as the one to redo), then the settings both share.
QStringList PairSummary(const TPairResult& result, const TConfigValues& values);
