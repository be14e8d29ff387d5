#include "tools/cli/cli_options.h"

#include <QFileInfo>

#include "tools/cli/scan_command.h"

#ifndef TW_VERSION
#define TW_VERSION "0"
#endif

namespace {

struct TCommandName {
    const char* name;
    TCliCommand command;
    int minArgs;
    int maxArgs;  // -1: any
    bool takesOutput;
    bool takesVerify;
};

const TCommandName kCommands[] = {
    {"ports", TCliCommand::Ports, 0, 0, false, false},
    {"probe", TCliCommand::Probe, 0, 0, false, false},
    {"read-flash", TCliCommand::ReadFlash, 0, 0, true, false},
    {"program-flash", TCliCommand::ProgramFlash, 1, 1, false, true},
    {"read-config", TCliCommand::ReadConfig, 0, 0, true, false},
    {"program-config", TCliCommand::ProgramConfig, 1, 1, false, true},
    {"send", TCliCommand::Send, 1, -1, false, false},
    {"pair", TCliCommand::Pair, 1, 1, true, false},
    {"station", TCliCommand::Station, 1, 1, false, false},
};

bool Fail(QString* error, const QString& text)
{
    if (error) *error = text;
    return false;
}

int ItemOf(const QString& value, const QStringList& items)
{
    return items.indexOf(value.toLower());
}

}  // namespace

bool ParseCliOptions(const QStringList& args, TCliOptions* out, QString* error)
{
    TCliOptions o;
    bool noVerify = false;
    bool outputGiven = false;
    QStringList positional;
    bool optionsEnd = false;

    for (int i = 0; i < args.size(); ++i) {
        QString name = args[i];
        if (optionsEnd || name == QLatin1String("-") || !name.startsWith(QLatin1Char('-'))) {
            positional << name;
            continue;
        }
        if (name == QLatin1String("--")) {
            optionsEnd = true;
            continue;
        }
        QString value;
        bool inlineValue = false;
        if (name.startsWith(QLatin1String("--"))) {
            const int eq = name.indexOf(QLatin1Char('='));
            if (eq > 0) {
                value = name.mid(eq + 1);
                name = name.left(eq);
                inlineValue = true;
            }
        }
        auto take = [&](QString* v) {
            if (inlineValue) {
                *v = value;
                return true;
            }
            if (i + 1 >= args.size()) return false;
            *v = args[++i];
            return true;
        };
        auto flag = [&]() { return !inlineValue; };
        QString v;

        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            if (!flag()) return Fail(error, QStringLiteral("--help takes no value"));
            o.help = true;
        } else if (name == QLatin1String("--version")) {
            if (!flag()) return Fail(error, QStringLiteral("--version takes no value"));
            o.version = true;
        } else if (name == QLatin1String("--json")) {
            if (!flag()) return Fail(error, QStringLiteral("--json takes no value"));
            o.json = true;
        } else if (name == QLatin1String("-q") || name == QLatin1String("--quiet")) {
            if (!flag()) return Fail(error, QStringLiteral("--quiet takes no value"));
            o.quiet = true;
        } else if (name == QLatin1String("--no-verify")) {
            if (!flag()) return Fail(error, QStringLiteral("--no-verify takes no value"));
            noVerify = true;
        } else if (name == QLatin1String("--new-key")) {
            if (!flag()) return Fail(error, QStringLiteral("--new-key takes no value"));
            o.newKey = true;
        } else if (name == QLatin1String("--weak-key")) {
            if (!flag()) return Fail(error, QStringLiteral("--weak-key takes no value"));
            o.weakKey = true;
        } else if (name == QLatin1String("--scan")) {
            if (!flag()) return Fail(error, QStringLiteral("--scan takes no value"));
            o.scan = true;
        } else if (name == QLatin1String("--all-rates")) {
            if (!flag()) return Fail(error, QStringLiteral("--all-rates takes no value"));
            o.allRates = true;
        } else if (name == QLatin1String("--port")) {
            if (!take(&v) || v.isEmpty()) return Fail(error, QStringLiteral("--port needs a device path"));
            if (o.ports.contains(v)) return Fail(error, QStringLiteral("--port %1 is given twice").arg(v));
            o.ports << v;
        } else if (name == QLatin1String("-o") || name == QLatin1String("--output")) {
            if (!take(&v) || v.isEmpty()) return Fail(error, QStringLiteral("-o needs a file name"));
            if (outputGiven) return Fail(error, QStringLiteral("-o is given twice"));
            outputGiven = true;
            o.output = v;
        } else if (name == QLatin1String("--baud")) {
            bool ok = false;
            const int n = take(&v) ? v.toInt(&ok, 10) : 0;
            if (!ok || n < 50 || n > 4000000)
                return Fail(error, QStringLiteral("--baud needs a line rate in baud, 50 to 4000000"));
            o.baud = n;
        } else if (name == QLatin1String("--flow")) {
            const int item = take(&v) ? ItemOf(v, {QStringLiteral("rtscts"), QStringLiteral("dtrdsr"),
                                                   QStringLiteral("xonxoff"), QStringLiteral("none")})
                                      : -1;
            if (item < 0) return Fail(error, QStringLiteral("--flow needs rtscts, dtrdsr, xonxoff or none"));
            o.flowItem = item;
        } else if (name == QLatin1String("--data")) {
            const int item = take(&v) ? ItemOf(v, {QStringLiteral("8"), QStringLiteral("7")}) : -1;
            if (item < 0) return Fail(error, QStringLiteral("--data needs 8 or 7"));
            o.dataItem = item;
        } else if (name == QLatin1String("--parity")) {
            const int item = take(&v) ? ItemOf(v, {QStringLiteral("none"), QStringLiteral("odd"),
                                                   QStringLiteral("even")})
                                      : -1;
            if (item < 0) return Fail(error, QStringLiteral("--parity needs none, odd or even"));
            o.parityItem = item;
        } else if (name == QLatin1String("--stop")) {
            const int item = take(&v) ? ItemOf(v, {QStringLiteral("1"), QStringLiteral("2")}) : -1;
            if (item < 0) return Fail(error, QStringLiteral("--stop needs 1 or 2"));
            o.stopItem = item;
        } else {
            return Fail(error, QStringLiteral("unknown option %1").arg(args[i]));
        }
    }

    // --help and --version answer whatever else is on the line.
    if (o.help || o.version) {
        *out = o;
        return true;
    }
    if (positional.isEmpty()) return Fail(error, QStringLiteral("no command given"));

    o.commandName = positional.takeFirst();
    const TCommandName* found = nullptr;
    for (const TCommandName& c : kCommands)
        if (o.commandName == QLatin1String(c.name)) found = &c;
    if (!found) return Fail(error, QStringLiteral("unknown command %1").arg(o.commandName));
    o.command = found->command;
    o.args = positional;

    if (o.args.size() < found->minArgs) {
        if (o.command == TCliCommand::Send) return Fail(error, QStringLiteral("send needs a command of the catalogue"));
        return Fail(error, QStringLiteral("%1 needs a FILE").arg(o.commandName));
    }
    if (found->maxArgs >= 0 && o.args.size() > found->maxArgs)
        return Fail(error, QStringLiteral("%1 takes no argument %2").arg(o.commandName, o.args.value(found->maxArgs)));
    if (outputGiven && !found->takesOutput) return Fail(error, QStringLiteral("%1 takes no -o").arg(o.commandName));
    if (noVerify && !found->takesVerify) return Fail(error, QStringLiteral("%1 takes no --no-verify").arg(o.commandName));
    o.verify = !noVerify;

    if (o.newKey && o.command != TCliCommand::Pair) return Fail(error, QStringLiteral("%1 takes no --new-key").arg(o.commandName));
    if (o.weakKey && o.command != TCliCommand::Pair) return Fail(error, QStringLiteral("%1 takes no --weak-key").arg(o.commandName));
    if (o.scan && o.command != TCliCommand::Probe) return Fail(error, QStringLiteral("%1 takes no --scan").arg(o.commandName));
    if (o.allRates && !o.scan) return Fail(error, QStringLiteral("--all-rates goes with probe --scan"));
    if (o.scan) {
        // Without --port every listed serial device is searched.
        if (BaudItemOfRate(o.baud) < 0)
            return Fail(error, QStringLiteral("probe --scan tries the rates of the Serial Baud Rate group: --baud "
                                              "needs 115200, 57600, 38400, 19200, 9600, 2400, 1200 or 300"));
        *out = o;
        return true;
    }
    if (o.command == TCliCommand::Pair) {
        if (o.ports.size() != 2)
            return Fail(error, QStringLiteral("pair needs exactly two --port: Point A first, then Point B"));
        // -o is where the new key goes; without one it would write nothing new.
        if (outputGiven && !o.newKey) return Fail(error, QStringLiteral("pair takes -o only with --new-key"));
        *out = o;
        return true;
    }
    if (o.command == TCliCommand::Station) {
        // Without --port (and --watch) it watches /dev/serial/by-id.
        *out = o;
        return true;
    }
    if (o.command == TCliCommand::Ports) {
        if (!o.ports.isEmpty()) return Fail(error, QStringLiteral("ports takes no --port"));
    } else if (o.ports.isEmpty()) {
        return Fail(error, QStringLiteral("%1 needs at least one --port").arg(o.commandName));
    }

    if (outputGiven) {
        if (o.command == TCliCommand::ReadConfig) {
            const QString suffix = QFileInfo(o.output).suffix().toLower();
            if (suffix != QLatin1String("json") && suffix != QLatin1String("bin"))
                return Fail(error, QStringLiteral("read-config writes FILE.json (a profile) or FILE.bin (the raw "
                                                  "image); %1 is neither")
                                       .arg(o.output));
        }
        // Several modules never write over one another's file.
        if (o.ports.size() > 1 && !o.output.contains(QLatin1String("{port}")))
            return Fail(error, QStringLiteral("with several --port, -o needs {port} in the file name "
                                              "(it becomes each device's name)"));
    }
    *out = o;
    return true;
}

bool TakeOptions(const QStringList& args, const TOptionTaker& take, QStringList* rest)
{
    rest->clear();
    for (int i = 0; i < args.size(); ++i) {
        QString name = args[i];
        if (name == QLatin1String("--")) {
            *rest << args.mid(i);
            break;
        }
        QString inlineValue;
        const bool hasInline = name.startsWith(QLatin1String("--")) && name.contains(QLatin1Char('='));
        if (hasInline) {
            inlineValue = name.mid(name.indexOf(QLatin1Char('=')) + 1);
            name = name.left(name.indexOf(QLatin1Char('=')));
        }
        const TOptionValue value = [&](QString* v) {
            if (hasInline) *v = inlineValue;
            else if (i + 1 < args.size()) *v = args[++i];
            else return false;
            return !v->isEmpty();
        };
        bool failed = false;
        const int at = i;
        if (!take(name, hasInline, value, &failed)) *rest << args[at];
        if (failed) return false;
    }
    return true;
}

QString OutputPathFor(const QString& pattern, const QString& port)
{
    QString name = QFileInfo(port).fileName();
    if (name.isEmpty()) name = QStringLiteral("port");
    QString path = pattern;
    return path.replace(QLatin1String("{port}"), name);
}

QString CliVersionText() { return QStringLiteral("tarnwick-cli " TW_VERSION "\n"); }

QString CliUsage()
{
    return QStringLiteral(
        "Usage: tarnwick-cli [OPTIONS] COMMAND [ARGS]\n"
        "Runs the Tarnwick Control Panel's module operations on one or several serial\n"
        "ports at once (the module jumpered for command mode).\n"
        "\n"
        "Options:\n"
        "  --port PATH         the serial device; repeat it to run the command on\n"
        "                      several devices at once\n"
        "  --baud N            line rate (default 57600)\n"
        "  --flow rtscts|dtrdsr|xonxoff|none   flow control (default rtscts)\n"
        "  --data 8|7  --parity none|odd|even  --stop 1|2   (defaults 8, none, 1)\n"
        "  --json              one JSON object per port on stdout: port, command, ok,\n"
        "                      error, duration_ms and the command's data\n"
        "  -q, --quiet         no progress display\n"
        "  -o FILE             output file of read-flash and read-config; with several\n"
        "                      --port, {port} in FILE becomes each device's name\n"
        "  --no-verify         program-flash, program-config: no read-back\n"
        "  --scan              probe: look for the module on every listed serial device\n"
        "                      (or on the --port ones), several at once, at --baud\n"
        "  --all-rates         probe --scan: then at every other rate of the panel's\n"
        "                      Serial Baud Rate group\n"
        "  --new-key           pair: a new key from the system's random source; printed\n"
        "                      once on stdout before anything is sent, or written\n"
        "                      into the profile FILE of -o\n"
        "  --weak-key          pair: program the profile's key although it is weak\n"
        "                      (short, all zeros, all FF, one byte repeated)\n"
        "  --version, --help\n"
        "\n"
        "Commands:\n"
        "  ports                     list serial devices: path, /dev/serial/by-id name,\n"
        "                            description\n"
        "  probe                     communication check and \"Read Version\"; prints the\n"
        "                            version text\n"
        "  probe --scan [--all-rates]  the first port and rate where a module answers:\n"
        "                            \"Tarnwick module 2.10 on /dev/ttyUSB1 at 57600 baud\"\n"
        "  read-flash [-o FILE]      the 128-byte flash; FILE raw; without -o a hex dump\n"
        "  program-flash FILE        FILE: a 128-byte .bin; reads back and verifies\n"
        "  read-config [-o FILE]     the configuration memory; FILE.json a profile,\n"
        "                            FILE.bin the raw image; without -o the profile.\n"
        "                            Bytes a profile cannot hold: no FILE.json, exit 1\n"
        "  program-config FILE       FILE: a profile (.json) or a raw image (.bin);\n"
        "                            reads back and verifies\n"
        "  send COMMAND [PARAM...]   one command of the catalogue by its list text, with\n"
        "                            its parameters as the command row takes them; prints\n"
        "                            the log line; 1 when the reply is incomplete or\n"
        "                            its fixed byte wrong\n"
        "  pair --port A --port B PROFILE|IMAGE [--new-key [-o FILE]]\n"
        "                            the profile into two modules at once, the first as\n"
        "                            Point A, the second as Point B; both read back and\n"
        "                            verified, both versions read; a summary per module\n"
        "  link-test --port A [--port B] [--loopback] ...\n"
        "                            frames between two modules in Cable Link mode (or\n"
        "                            out and back); see tarnwick-cli link-test --help\n"
        "\n"
        "Examples:\n"
        "  tarnwick-cli --port /dev/ttyUSB0 probe\n"
        "  tarnwick-cli --port /dev/ttyUSB0 read-config -o backup.bin\n"
        "  tarnwick-cli --port /dev/ttyUSB0 program-config backup.bin\n"
        "  tarnwick-cli --port /dev/ttyUSB0 send \"Set RF Channel\" \"Channel 3\"\n"
        "  tarnwick-cli --port /dev/ttyUSB0 send \"Write Flash\" 0 01 4142\n"
        "  tarnwick-cli --port /dev/ttyUSB0 read-config -o link.json\n"
        "  tarnwick-cli --port /dev/ttyUSB0 --port /dev/ttyUSB1 pair link.json --new-key\n"
        "\n"
        "Exit status: 0 all ok; 1 a module did not answer or verification failed;\n"
        "2 usage error, bad input file, one device named twice or an output file that\n"
        "cannot be written (nothing is sent); 3 a port could not be opened;\n"
        "link-test also: 5 stopped before its end (not judged), 6 a port went away.\n"
        "Several ports: the worst status of all.\n");
}
