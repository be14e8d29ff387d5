#include "tools/cli/station_command.h"

#include <signal.h>
#include <unistd.h>

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <cstdio>
#include <mutex>

#include "labels/station_label.h"
#include "module/config_decoder.h"
#include "station/station.h"
#include "station/station_record.h"
#include "tools/cli/cli_commands.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/cli_record.h"

#ifndef TW_VERSION
#define TW_VERSION "0"
#endif

namespace {

std::atomic<int> g_interrupts{0};

void OnStationInterrupt(int)
{
    // The third one does not wait for anything.
    if (g_interrupts.fetch_add(1) >= 2) _exit(130);
}

bool Fail(QString* error, const QString& text)
{
    *error = text;
    return false;
}

const char* EventName(TStationEvent::Kind kind)
{
    switch (kind) {
    case TStationEvent::Plugged: return "plugged";
    case TStationEvent::Step: return "step";
    case TStationEvent::Finished: return "finished";
    case TStationEvent::Unplugged: return "unplugged";
    }
    return "";
}

void PrintErr(const QString& text)
{
    const QByteArray bytes = QStringLiteral("tarnwick-cli: %1\n").arg(text).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// One line per event on stdout, whole lines only: the sockets report at once.
class TStationPrinter : public TStationObserver {
public:
    explicit TStationPrinter(bool json) : json_(json) {}
    void StationEvent(const TStationEvent& e) override
    {
        // Progress within a step is for tiles; a line says when a step starts.
        if (e.kind == TStationEvent::Step && e.percent != 0) return;
        Line(json_ ? Json(e) : Text(e));
        // Rows kept locally or not recorded: told as every command tells it
        // (the JSON object carries it as "record").
        if (!json_ && e.kind == TStationEvent::Finished && !e.result.recordNotice.isEmpty())
            PrintErr(QStringLiteral("record: %1").arg(e.result.recordNotice));
    }
    void Line(const QString& line)
    {
        std::lock_guard<std::mutex> lock(m_);
        const QByteArray bytes = (line + QLatin1Char('\n')).toLocal8Bit();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
    }

private:
    static QString Text(const TStationEvent& e)
    {
        const QString who = QStringLiteral("socket %1 (%2): ").arg(e.socket + 1).arg(e.socketName);
        switch (e.kind) {
        case TStationEvent::Plugged: return who + QStringLiteral("plugged");
        case TStationEvent::Step: return who + StationStepName(e.step);
        case TStationEvent::Unplugged: return who + QStringLiteral("unplugged");
        case TStationEvent::Finished: break;
        }
        const TStationModuleResult& r = e.result;
        const QString seconds = QString::number(double(r.durationMs) / 1000.0, 'f', 1);
        if (!r.ok) return who + QStringLiteral("%1: %2 (%3 s)").arg(r.stopped ? QStringLiteral("STOPPED") : QStringLiteral("FAILED"), r.error, seconds);
        QString text = r.alreadyProgrammed ? QStringLiteral("passed: already programmed (unit %1)").arg(r.unitAddress)
                                           : QStringLiteral("passed: unit %1, verified").arg(r.unitAddress);
        if (!r.label.isEmpty()) text += QStringLiteral(", label %1").arg(r.label);
        return who + text + QStringLiteral(" (%1 s)").arg(seconds);
    }
    static QString Json(const TStationEvent& e)
    {
        QJsonObject o;
        if (e.kind == TStationEvent::Finished) {
            const TStationModuleResult& r = e.result;
            o = {{QStringLiteral("ok"), r.ok},
                 {QStringLiteral("port"), r.port},
                 {QStringLiteral("by_id"), r.byId},
                 {QStringLiteral("unit_address"), r.unitAddress},
                 {QStringLiteral("row_id"), r.rowId},
                 {QStringLiteral("error"), r.error},
                 {QStringLiteral("duration_ms"), r.durationMs},
                 {QStringLiteral("label"), r.label},
                 {QStringLiteral("socket"), e.socket + 1},
                 {QStringLiteral("already_programmed"), r.alreadyProgrammed}};
            if (r.stopped) o.insert(QStringLiteral("stopped"), true);
            if (!r.ok) o.insert(QStringLiteral("step"), StationStepName(r.failedStep));
            if (!r.redoOf.isEmpty()) o.insert(QStringLiteral("redo_of"), r.redoOf);
            if (!r.recordNotice.isEmpty()) o.insert(QStringLiteral("record"), r.recordNotice);
        } else {
            o = {{QStringLiteral("event"), QString::fromLatin1(EventName(e.kind))},
                 {QStringLiteral("socket"), e.socket + 1},
                 {QStringLiteral("name"), e.socketName}};
            if (e.kind == TStationEvent::Step) o.insert(QStringLiteral("step"), StationStepName(e.step));
        }
        return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
    }

    bool json_;
    std::mutex m_;
};

QString Summary(const TStationSums& s, bool json)
{
    if (json)
        return QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("event"), QStringLiteral("summary")},
                                                           {QStringLiteral("passed"), s.passed},
                                                           {QStringLiteral("failed"), s.failed},
                                                           {QStringLiteral("stopped"), s.stopped},
                                                           {QStringLiteral("not_recorded"), s.notRecorded},
                                                           {QStringLiteral("yield"), s.Yield()},
                                                           {QStringLiteral("modules_per_hour"), s.ModulesPerHour()}})
                                     .toJson(QJsonDocument::Compact));
    QString counts = QStringLiteral("passed %1, failed %2").arg(s.passed).arg(s.failed);
    if (s.stopped) counts += QStringLiteral(", stopped %1").arg(s.stopped);
    if (s.notRecorded) counts += QStringLiteral(", %1 row(s) waiting in the spool").arg(s.notRecorded);
    return QStringLiteral("%1, yield %2 %, %3 modules per hour")
        .arg(counts)
        .arg(s.Yield() * 100.0, 0, 'f', 1)
        .arg(s.ModulesPerHour(), 0, 'f', 0);
}

}  // namespace

bool ExtractStationOptions(QStringList* args, TStationCliOptions* out, QString* error)
{
    TStationCliOptions o;
    QStringList rest;
    const bool walked = TakeOptions(*args, [&](const QString& a, bool hasInline, const TOptionValue& value, bool* failed) {
        QString v;
        if (a == QLatin1String("--watch")) {
            if (!value(&v)) *failed = !Fail(error, QStringLiteral("--watch needs a folder"));
            else if (o.watch.contains(v)) *failed = !Fail(error, QStringLiteral("--watch %1 is given twice").arg(v));
            else o.watch << v;
        } else if (a == QLatin1String("--labels")) {
            if (!value(&o.labels)) *failed = !Fail(error, QStringLiteral("--labels needs a folder"));
        } else if (a == QLatin1String("--print")) {
            if (!value(&o.printer)) *failed = !Fail(error, QStringLiteral("--print needs a printer's name"));
        } else if (a == QLatin1String("--label-size")) {
            TLabelSize size;
            if (!value(&o.labelSize)) *failed = !Fail(error, QStringLiteral("--label-size needs WIDTHxHEIGHT in mm (62x29)"));
            else *failed = !TLabelSize::Parse(o.labelSize, &size, error);
        } else if (a == QLatin1String("--reprogram")) {
            if (hasInline) *failed = !Fail(error, QStringLiteral("--reprogram takes no value"));
            o.reprogram = true;
        } else {
            return false;
        }
        return true;
    }, &rest);
    if (!walked) return false;
    *args = rest;
    *out = o;
    return true;
}

QString StationUsage()
{
    return QStringLiteral(
        "\n"
        "Station: programs every module plugged in, unattended, until Ctrl-C:\n"
        "  station PROFILE [--watch DIR]... [--port P]... [--unit-address-from ADDR|next|FILE]\n"
        "          [--labels DIR] [--print PRINTER] [--label-size WxH] [--reprogram] [--json]\n"
        "  --watch DIR         a module is plugged when an entry appears in DIR (a serial\n"
        "                      device or a link to one), unplugged when it goes; without\n"
        "                      --watch and --port: /dev/serial/by-id\n"
        "  --port P            a fixed adapter where modules are swapped: plugged while a\n"
        "                      module answers the communication check (tried once a second)\n"
        "  --reprogram         write also a module that holds the profile and an address\n"
        "                      the record gave (otherwise it passes without a write)\n"
        "  Each module: check, Read Config, Program Config with its own unit address,\n"
        "  verify, record, label. One line per event; with --json one object per\n"
        "  finished module (\"ok\" true or false) and events with \"event\".\n"
        "  Ctrl-C takes no new module and lets the running ones finish; a second one\n"
        "  stops them (their rows say \"stopped\"). Exit: 0 every module passed, 1 one\n"
        "  failed, 2 usage, 3 no watched folder or port could be used, 4 all passed\n"
        "  but a row waits in the spool (the record could not take it), 5 none failed\n"
        "  but one was stopped before its end (not judged).\n");
}

int RunStationCommand(const TCliPlan& plan, const TStationCliOptions& options, const TCliRecordOptions& recordOptions)
{
    const TCliOptions& o = plan.options;
    TUnitAddressPlan addresses;
    QString error;
    if (!ParseUnitAddressPlan(recordOptions.unitFrom, &addresses, &error)) {
        PrintErr(error);
        return cli_exit::Usage;
    }
    TProductionStationRecord record(recordOptions.location, addresses, recordOptions.enabled);
    if (!record.Prepare(&error)) {
        PrintErr(error);
        return cli_exit::Usage;
    }

    TStationSetup setup;
    setup.profileName = QFileInfo(o.args.value(0)).fileName();
    setup.image = plan.config;
    setup.watchDirs = options.watch;
    setup.ports = o.ports;
    setup.flowItem = o.flowItem;
    setup.reprogram = options.reprogram;
    setup.programVersion = QStringLiteral("tarnwick-cli " TW_VERSION);
    setup.setUpPort = [o](TCustomComPort& port, const QString& path) { SetUpPort(port, o, path); };
    TStationLabelSetup labels;
    labels.dir = options.labels;
    labels.printer = options.printer;
    labels.profileName = setup.profileName;
    labels.profile = DecodeConfigImage(plan.config).values;
    if (!options.labelSize.isEmpty()) TLabelSize::Parse(options.labelSize, &labels.size, &error);
    if (labels.IsSet()) setup.label = [labels](const TStationLabelRequest& q) { return MakeStationLabel(q, labels); };

    TStationPrinter printer(o.json);
    TStation station(setup, record, printer);
    QStringList warnings;
    if (!station.Start(&error, &warnings)) {
        PrintErr(error);
        return cli_exit::PortFailed;
    }
    for (const QString& w : warnings) PrintErr(QStringLiteral("warning: %1").arg(w));

    struct sigaction sa {};
    sa.sa_handler = OnStationInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    int seen = 0;
    // The signal handler only counts: looked at a few times a second.
    while (!station.WaitEnded(200)) {
        const int now = g_interrupts.load();
        if (now == seen) continue;
        seen = now;
        if (now == 1) {
            PrintErr(QStringLiteral("stopping: no new module is taken, the running ones finish (Ctrl-C again stops them)"));
            station.StopTaking();
        } else {
            station.StopNow();
        }
    }
    const TStationSums sums = station.Sums();
    printer.Line(Summary(sums, o.json));
    if (sums.failed) return cli_exit::ModuleFailed;
    if (sums.stopped) return cli_exit::Stopped;
    return sums.notRecorded ? cli_exit::NotRecorded : cli_exit::Ok;
}
