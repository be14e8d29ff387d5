#include "tools/cli/link_test_command.h"

#include <unistd.h>

#include <QJsonDocument>
#include <cstdio>

#include <QDateTime>
#include <QElapsedTimer>

#include "common/atomic_file.h"
#include "module/link_frame.h"
#include "serial/port_list.h"
#include "tools/cli/cli_commands.h"
#include "tools/cli/cli_files.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/cli_record.h"
#include "tools/cli/scan_command.h"

namespace {

bool Fail(QString* error, const QString& text)
{
    if (error) *error = text;
    return false;
}

void Print(FILE* f, const QString& text)
{
    const QByteArray b = text.toLocal8Bit();
    std::fwrite(b.constData(), 1, size_t(b.size()), f);
    std::fflush(f);
}

QString LiveLine(const TLinkTestResult& r)
{
    QString line = QStringLiteral("%1 s").arg(r.seconds, 5, 'f', 1);
    // While running, frames that are overdue count as lost.
    for (const auto& d : r.directions)
        line += QStringLiteral("  %1: %2/%3, PER %4 %, %5 B/s")
                    .arg(d.name)
                    .arg(d.counts.received)
                    .arg(d.counts.sent)
                    .arg(d.perPercent, 0, 'f', 1)
                    .arg(d.throughput, 0, 'f', 0);
    return line;
}

}  // namespace

bool IsLinkTestCommand(const QStringList& args) { return args.contains(QStringLiteral("link-test")); }

bool ParseLinkTestOptions(const QStringList& args, TLinkTestOptions* out, QString* error)
{
    TLinkTestOptions o;
    TLinkTestRequest& q = o.request;
    q.portA.baudItem = 1;  // the tool's 57600 baud
    q.portA.flowItem = 0;
    QStringList ports;
    bool seconds = false;
    bool commandSeen = false;
    for (int i = 0; i < args.size(); ++i) {
        QString name = args[i];
        QString value;
        bool inlineValue = false;
        if (name.startsWith(QLatin1String("--")) && name.indexOf(QLatin1Char('=')) > 0) {
            value = name.mid(name.indexOf(QLatin1Char('=')) + 1);
            name = name.left(name.indexOf(QLatin1Char('=')));
            inlineValue = true;
        }
        auto take = [&](QString* v) {
            if (inlineValue) return (*v = value, true);
            if (i + 1 >= args.size()) return false;
            *v = args[++i];
            return true;
        };
        auto number = [&](double lo, double hi, double* v) {
            QString t;
            bool ok = false;
            *v = take(&t) ? t.toDouble(&ok) : 0;
            return ok && *v >= lo && *v <= hi;
        };
        auto item = [&](const QStringList& items) {
            QString t;
            return take(&t) ? int(items.indexOf(t.toLower())) : -1;
        };
        double n = 0;
        QString v;
        if (name == QLatin1String("link-test") && !commandSeen) {
            commandSeen = true;
        } else if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            o.help = true;
        } else if (name == QLatin1String("--json")) {
            o.json = true;
        } else if (name == QLatin1String("-q") || name == QLatin1String("--quiet")) {
            o.quiet = true;
        } else if (name == QLatin1String("--loopback")) {
            q.loopback = true;
        } else if (name == QLatin1String("--port")) {
            if (!take(&v) || v.isEmpty()) return Fail(error, QStringLiteral("--port needs a device path"));
            for (const QString& p : ports)
                if (SameSerialDevice(p, v)) return Fail(error, QStringLiteral("--port %1 and --port %2 are one device; give each device once").arg(p, v));
            ports << v;
        } else if (name == QLatin1String("--seconds")) {
            if (!number(0.1, 864000, &q.seconds)) return Fail(error, QStringLiteral("--seconds needs 0.1 to 864000"));
            seconds = true;
        } else if (name == QLatin1String("--frames")) {
            if (!number(1, 1e9, &n)) return Fail(error, QStringLiteral("--frames needs a count, 1 or more"));
            q.frames = long(n);
        } else if (name == QLatin1String("--size")) {
            if (!number(kLinkFrameMinSize, kLinkFrameMaxSize, &n))
                return Fail(error, QStringLiteral("--size needs %1 to %2 bytes").arg(kLinkFrameMinSize).arg(kLinkFrameMaxSize));
            q.size = int(n);
        } else if (name == QLatin1String("--rate")) {
            if (!number(0.01, 100000, &q.rate)) return Fail(error, QStringLiteral("--rate needs frames per second, above 0"));
        } else if (name == QLatin1String("--max-per")) {
            if (!number(0, 100, &q.maxPerPercent)) return Fail(error, QStringLiteral("--max-per needs a percentage, 0 to 100"));
        } else if (name == QLatin1String("--min-throughput")) {
            if (!number(0, 1e9, &q.minThroughput)) return Fail(error, QStringLiteral("--min-throughput needs bytes per second"));
        } else if (name == QLatin1String("--rf-rate")) {
            if (!number(1, 1e7, &n)) return Fail(error, QStringLiteral("--rf-rate needs bits per second"));
            q.rfBps = int(n);
        } else if (name == QLatin1String("--direction")) {
            const int d = item({QStringLiteral("both"), QStringLiteral("a-to-b"), QStringLiteral("b-to-a")});
            if (d < 0) return Fail(error, QStringLiteral("--direction needs both, a-to-b or b-to-a"));
            q.direction = TLinkDirection(d);
        } else if (name == QLatin1String("--csv")) {
            if (!take(&o.csv) || o.csv.isEmpty()) return Fail(error, QStringLiteral("--csv needs a file name"));
        } else if (name == QLatin1String("--baud")) {
            if (!number(50, 4000000, &n)) return Fail(error, QStringLiteral("--baud needs a line rate in baud, 50 to 4000000"));
            const int b = int(n);
            q.portA.baudItem = BaudItemOfRate(b);
            q.customBaud = q.portA.baudItem < 0 ? b : 0;
            if (q.portA.baudItem < 0) q.portA.baudItem = 1;
        } else if (name == QLatin1String("--flow")) {
            q.portA.flowItem = item({QStringLiteral("rtscts"), QStringLiteral("dtrdsr"), QStringLiteral("xonxoff"), QStringLiteral("none")});
            if (q.portA.flowItem < 0) return Fail(error, QStringLiteral("--flow needs rtscts, dtrdsr, xonxoff or none"));
            // XON and XOFF are bytes a frame may hold: the line would eat them.
            if (q.portA.flowItem == 2)
                return Fail(error, QStringLiteral("link-test cannot use --flow xonxoff: its frames are binary and may "
                                                  "hold the XON and XOFF bytes; use rtscts, dtrdsr or none"));
        } else if (name == QLatin1String("--data")) {
            q.portA.dataItem = item({QStringLiteral("8"), QStringLiteral("7")});
            if (q.portA.dataItem < 0) return Fail(error, QStringLiteral("--data needs 8 or 7"));
        } else if (name == QLatin1String("--parity")) {
            q.portA.parityItem = item({QStringLiteral("none"), QStringLiteral("odd"), QStringLiteral("even")});
            if (q.portA.parityItem < 0) return Fail(error, QStringLiteral("--parity needs none, odd or even"));
        } else if (name == QLatin1String("--stop")) {
            q.portA.stopItem = item({QStringLiteral("1"), QStringLiteral("2")});
            if (q.portA.stopItem < 0) return Fail(error, QStringLiteral("--stop needs 1 or 2"));
        } else {
            return Fail(error, QStringLiteral("link-test: unknown option %1").arg(args[i]));
        }
    }
    if (o.help) {
        *out = o;
        return true;
    }
    if (seconds && q.frames > 0) return Fail(error, QStringLiteral("link-test takes --seconds or --frames, not both"));
    if (q.loopback && ports.size() != 1) return Fail(error, QStringLiteral("link-test --loopback needs exactly one --port"));
    if (!q.loopback && ports.size() != 2)
        return Fail(error, QStringLiteral("link-test needs two --port (Point A's, then Point B's), or one with --loopback"));
    if (q.loopback && q.direction != TLinkDirection::Both)
        return Fail(error, QStringLiteral("--direction goes with two ports"));
    // A 7-bit line cannot carry the frames' binary bytes.
    if (q.portA.dataItem == 1) return Fail(error, QStringLiteral("link-test needs 8 data bits: its frames are binary"));
    if (ports.size() == 2 && SameSerialDevice(ports[0], ports[1]))
        return Fail(error, QStringLiteral("--port %1 and --port %2 are one device; give each device once").arg(ports[0], ports[1]));
    q.portA.port = ports.value(0);
    q.portB = ports.value(1);
    *out = o;
    return true;
}

QString LinkTestUsage()
{
    return QStringLiteral(
        "Usage: tarnwick-cli link-test --port A [--port B] [--loopback] [--seconds S | --frames N]\n"
        "                  [--size N] [--rate FRAMES_PER_S] [--max-per PCT] [--min-throughput BPS]\n"
        "                  [--rf-rate BPS] [--direction both|a-to-b|b-to-a] [--csv FILE] [--json] [-q]\n"
        "                  [--baud N] [--flow ...] [--parity ...] [--stop ...]\n"
        "Sends test frames between two modules in \"Cable Link\" mode (Point A's port,\n"
        "then Point B's; both directions at once by default), or out and back on one\n"
        "port whose far end is looped back, and judges the link.\n"
        "\n"
        "  --seconds S         sending time (default 10)\n"
        "  --frames N          frames per direction instead of a time\n"
        "  --size N            bytes per frame on the line, 24 to 1024 (default 64)\n"
        "  --rate F            frames per second per direction (default: flat out)\n"
        "  --max-per PCT       pass when the packet error rate is at most PCT (default 1)\n"
        "  --min-throughput BPS  pass when each direction carries at least BPS payload\n"
        "                      bytes per second (default 0)\n"
        "  --rf-rate BPS       the modules' RF data rate, for the share of it (76800)\n"
        "  --csv FILE          write the per-second figures (checked before anything is sent)\n"
        "  --json              the summary as one JSON object\n"
        "  --record URL, --no-record   the production record, as for the other commands:\n"
        "                      a row per port (outcome ok, failed, stopped or lost)\n"
        "  --flow              rtscts, dtrdsr or none: xonxoff cannot carry binary frames\n"
        "Live figures go to stderr while it is a terminal. Each direction is judged on\n"
        "its own. Exit status:\n"
        "  0 passed\n"
        "  1 failed: a direction's packet error rate or throughput, nothing arrived,\n"
        "    or the line held by flow control\n"
        "  2 usage (nothing was sent)\n"
        "  3 a port did not open\n"
        "  5 stopped before its end (Ctrl-C, SIGTERM): not judged\n"
        "  6 a port went away during the run: not judged\n");
}

int LinkTestExitStatus(TLinkVerdict v)
{
    switch (v) {
    case TLinkVerdict::Passed: return cli_exit::Ok;
    case TLinkVerdict::Stopped: return cli_exit::Stopped;
    case TLinkVerdict::Lost: return cli_exit::PortLost;
    case TLinkVerdict::NotRun: return cli_exit::PortFailed;
    default: return cli_exit::ModuleFailed;
    }
}

int RunLinkTestCommand(const QStringList& given)
{
    QStringList args = given;
    TLinkTestOptions o;
    TCliRecordOptions record;
    QString error;
    if (!ExtractRecordOptions(&args, &record, &error) || !ParseLinkTestOptions(args, &o, &error)) {
        Print(stderr, QStringLiteral("tarnwick-cli: %1\n\n%2").arg(error, LinkTestUsage()));
        return cli_exit::Usage;
    }
    if (o.help) {
        Print(stdout, LinkTestUsage());
        return cli_exit::Ok;
    }
    // Every input is checked before the first frame goes out.
    if (!o.csv.isEmpty() && !CheckOutputWritable(o.csv, &error)) {
        Print(stderr, QStringLiteral("tarnwick-cli: %1\n").arg(error));
        return cli_exit::Usage;
    }
    SetCliRecordOptions(record);
    InstallAbortOnInterrupt();
    const bool live = !o.quiet && isatty(STDERR_FILENO);
    const QDateTime started = QDateTime::currentDateTimeUtc();
    QElapsedTimer timer;
    timer.start();
    TLinkTest test(o.request);
    test.Start();
    bool stopped = false;
    while (!test.WaitFinished(live ? 500 : 100)) {
        if (AbortWasRequested() && !stopped) {
            stopped = true;
            test.Stop();
        }
        if (live) Print(stderr, QStringLiteral("\r%1\033[K").arg(LiveLine(test.Snapshot())));
    }
    if (live) Print(stderr, QStringLiteral("\n"));
    const TLinkTestResult r = test.Result();
    const int status = LinkTestExitStatus(r.verdict);
    if (!o.csv.isEmpty()) {
        QString e;
        if (!WritePrivateFileAtomically(o.csv, r.ToCsv(), &e)) Print(stderr, QStringLiteral("tarnwick-cli: %1\n").arg(e));
    }
    if (o.json)
        Print(stdout, QString::fromUtf8(QJsonDocument(r.ToJson(o.request)).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
    else
        Print(stdout, r.SummaryLines().join(QLatin1Char('\n')) + QLatin1Char('\n'));
    QStringList ports{o.request.portA.port};
    if (!o.request.loopback) ports << o.request.portB;
    Print(stderr, QString::fromLocal8Bit(RecordLinkTest(ports, started, timer.elapsed(), LinkVerdictOutcome(r.verdict), status, r.Reason())));
    return status;
}
