#pragma once
// The command line of tarnwick-cli as a plain record, parsed apart from
// main so that every rule (and every usage error) is tested directly.
#include <QString>
#include <QStringList>
#include <functional>

// Exit statuses: the worst of all ports wins.
namespace cli_exit {
constexpr int Ok = 0;
constexpr int ModuleFailed = 1;  // no answer, wrong answer, verify mismatch
constexpr int Usage = 2;         // usage error or bad input file; nothing was sent
constexpr int PortFailed = 3;    // a port could not be opened
constexpr int NotRecorded = 4;   // done, but not recorded: the rows wait in the spool
// link-test only (Stopped: the station too):
constexpr int Stopped = 5;       // stopped before its end (Ctrl-C, SIGTERM): not judged
constexpr int PortLost = 6;      // a port went away during the run: not judged
}  // namespace cli_exit

enum class TCliCommand { None, Ports, Probe, ReadFlash, ProgramFlash, ReadConfig, ProgramConfig, Send, Pair, Station };

struct TCliOptions {
    QStringList ports;      // --port, in the order given
    int baud = 57600;       // --baud
    int flowItem = 0;       // --flow: 0 rtscts, 1 dtrdsr, 2 xonxoff, 3 none (the Com Port page's items)
    int dataItem = 0;       // --data: 0 "8 Bit", 1 "7 Bit"
    int parityItem = 0;     // --parity: 0 none, 1 odd, 2 even
    int stopItem = 0;       // --stop: 0 one, 1 two
    bool json = false;      // --json
    bool quiet = false;     // -q, --quiet
    bool help = false;      // --help
    bool version = false;   // --version
    bool verify = true;     // cleared by --no-verify
    bool newKey = false;    // --new-key (pair)
    bool weakKey = false;   // --weak-key (pair): a weak key on purpose
    bool scan = false;      // --scan (probe): look for the module on every port
    bool allRates = false;  // --all-rates (probe --scan): every rate of the group
    QString output;         // -o FILE (may hold {port})
    TCliCommand command = TCliCommand::None;
    QString commandName;    // as typed
    QStringList args;       // the command's positional arguments
};

// args without the program name. False with *error set on a usage error.
bool ParseCliOptions(const QStringList& args, TCliOptions* out, QString* error);

// Takes some options out of a command line before the common parse. Each
// argument before "--" is offered to take: its name (without "=VALUE"),
// whether a value came with '=', and value(&v), which gives that value or
// else takes the next argument (false when there is none or it is empty).
// take returns true when the option was its own. False (the walk stopped)
// when take set *failed. *rest: what no take took, in order.
using TOptionValue = std::function<bool(QString*)>;
using TOptionTaker = std::function<bool(const QString& name, bool hasInline, const TOptionValue& value, bool* failed)>;
bool TakeOptions(const QStringList& args, const TOptionTaker& take, QStringList* rest);

QString CliUsage();
QString CliVersionText();

// The -o name for one port: "{port}" becomes the device's file name.
QString OutputPathFor(const QString& pattern, const QString& port);
