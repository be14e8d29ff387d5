#include "tools/cli/cli_record.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QUuid>

#include "common/atomic_file.h"
#include "commands/pair_programming.h"
#include "module/config_image.h"
#include "module/config_layout.h"
#include "record/image_hash.h"
#include "record/record_export.h"
#include "serial/port_list.h"
#include "station/station_record.h"
#include "tools/cli/cli_commands.h"
#include "tools/cli/cli_options.h"

#ifndef TW_VERSION
#define TW_VERSION "0"
#endif

namespace {

TCliRecordOptions g_options;
QHash<QString, QString> g_unitAddresses;  // port as given -> 4 hex digits
bool g_notRecorded = false;               // a row of this run could not be stored
QHash<QString, QString> g_redoOf;         // port as given -> the row id of the failed try it repeats

bool Fail(QString* error, const QString& text)
{
    *error = text;
    return false;
}

// Options of the other commands that take a value: their value is no command.
bool TakesValue(const QString& a)
{
    static const QStringList names{QStringLiteral("--port"), QStringLiteral("--baud"), QStringLiteral("--flow"),
                                   QStringLiteral("--data"), QStringLiteral("--parity"), QStringLiteral("--stop"),
                                   QStringLiteral("-o"), QStringLiteral("--output")};
    return names.contains(a);
}

bool IsHexAddress(const QString& v)
{
    static const QRegularExpression re(QStringLiteral("^[0-9A-Fa-f]{1,4}$"));
    return re.match(v).hasMatch();
}

QString Address(int value) { return UnitAddressText(value); }

// A UTC day (2026-03-01) or an ISO 8601 time with or without a zone (none:
// UTC); anything else is an invalid time.
QDateTime ParseSince(const QString& text)
{
    static const QRegularExpression form(QStringLiteral(
        "^\\d{4}-\\d{2}-\\d{2}(T\\d{2}:\\d{2}(:\\d{2}(\\.\\d{1,3})?)?(Z|[+-]\\d{2}:?\\d{2})?)?$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) return {};
    if (m.capturedLength(1) == 0) {
        const QDate d = QDate::fromString(text, Qt::ISODate);
        return d.isValid() ? QDateTime(d, QTime(0, 0), Qt::UTC) : QDateTime();
    }
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (t.isValid() && m.capturedLength(4) == 0) t = QDateTime(t.date(), t.time(), Qt::UTC);
    return t;
}

bool ParseHistory(const QStringList& args, TCliRecordOptions* o, QString* error)
{
    bool formatGiven = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString a = args[i];
        auto value = [&](QString* v) {
            if (i + 1 >= args.size()) return false;
            *v = args[++i];
            return !v->isEmpty();
        };
        QString v;
        if (a == QLatin1String("history")) continue;
        if (a == QLatin1String("--since")) {
            if (!value(&v)) return Fail(error, QStringLiteral("--since needs a date (2026-03-01 or 2026-03-01T08:00:00Z)"));
            o->query.since = ParseSince(v);
            if (!o->query.since.isValid())
                return Fail(error, QStringLiteral("--since needs a date (2026-03-01 or 2026-03-01T08:00:00Z), not %1").arg(v));
        } else if (a == QLatin1String("--failed")) {
            o->query.failedOnly = true;
        } else if (a == QLatin1String("--port")) {
            if (!value(&v)) return Fail(error, QStringLiteral("--port needs a device path or by-id name"));
            o->query.port = v;
        } else if (a == QLatin1String("--pair")) {
            if (!value(&v)) return Fail(error, QStringLiteral("--pair needs a pair id"));
            o->query.pairId = v;
        } else if (a == QLatin1String("--csv") || a == QLatin1String("--json")) {
            if (formatGiven) return Fail(error, QStringLiteral("history takes --csv or --json, not both"));
            formatGiven = true;
            o->format = a == QLatin1String("--csv") ? TCliRecordOptions::Csv : TCliRecordOptions::Json;
        } else if (a == QLatin1String("-q") || a == QLatin1String("--quiet")) {
        } else {
            return Fail(error, QStringLiteral("history takes no %1").arg(a));
        }
    }
    return true;
}

TRecordEntry EntryFor(const QString& operation, const QString& port)
{
    TRecordEntry e = NewRecordEntry(QStringLiteral("tarnwick-cli " TW_VERSION), operation);
    e.port = port;
    e.portById = PortByIdName(port);
    e.usbSerial = PortUsbSerial(port);
    return e;
}

void SetOutcome(TRecordEntry& e, const TPortResult& r)
{
    e.outcome = r.Ok() ? QStringLiteral("ok") : QStringLiteral("failed");
    e.exitStatus = r.exitCode;
    e.error = r.error;
    e.durationMs = r.durationMs;
}

QByteArray Store(const TRecordEntries& rows)
{
    TProductionRecord record(g_options.location);
    const TRecordResult r = record.Append(rows);
    if (r.spooled > 0 || r.lost > 0) g_notRecorded = true;
    if (r.notice.isEmpty()) return {};
    return QStringLiteral("tarnwick-cli: record: %1\n").arg(r.notice).toLocal8Bit();
}

QByteArray HexBytes(const QString& hex)
{
    return QByteArray::fromHex(hex.toLatin1());
}

}  // namespace

void SetCliRecordOptions(const TCliRecordOptions& options) { g_options = options; }

QString RecordWarning(const TCliRecordOptions& options)
{
    if (!options.enabled || !TProductionRecord(options.location).HasPasswordInLocation()) return {};
    return QStringLiteral("the --record URL holds a password, which other users can see in the process list; "
                          "PGPASSWORD, ~/.pgpass or a service file keep it private");
}

int WithRecordStatus(int exitCode)
{
    return exitCode == cli_exit::Ok && g_notRecorded ? cli_exit::NotRecorded : exitCode;
}

QString RecordUsage()
{
    return QStringLiteral(
        "\n"
        "Production record: program-flash, program-config, pair, read-config and link-test\n"
        "add a row per module to the record ($XDG_DATA_HOME/tarnwick/record.sqlite):\n"
        "  --record URL        postgresql://USER@HOST/DB, a record shared by a line of\n"
        "                      stations (rows wait in the local file while it cannot be\n"
        "                      reached), or another SQLite file\n"
        "  --no-record         no row for this run\n"
        "  --unit-address-from 0001|next|FILE   program-config: each port its own unit\n"
        "                      address, in the order of the ports: the free ones from\n"
        "                      0001 (hex) up, the record's highest plus one, or those of\n"
        "                      a FILE of \"BY-ID-NAME ADDRESS\" lines. Each is reserved in\n"
        "                      the record before anything is sent and never given to\n"
        "                      another module, even when the run fails or is killed\n"
        "  history [--since DATE] [--failed] [--port P] [--pair ID] [--csv | --json]\n"
        "                      the record's rows, oldest first; DATE is 2026-03-01 (a UTC\n"
        "                      day) or an ISO 8601 time, 2026-03-01T08:00:00 (no zone:\n"
        "                      UTC), 2026-03-01T08:00:00+01:00 or ...Z\n"
        "Rows the record cannot take (a damaged file, one of a newer program, a lock held\n"
        "too long, a full disk, a read-only folder) wait in RECORD.spool beside it, one\n"
        "JSON line per row, and the next run that can store them does. A run whose rows\n"
        "wait so exits 4 when it would have exited 0 (\"done, but not recorded\").\n"
        "A shared record takes its password from PGPASSWORD, ~/.pgpass or a service file\n"
        "(PGSERVICE); one inside the URL works, but other users see it in the process list.\n");
}

bool ExtractRecordOptions(QStringList* args, TCliRecordOptions* out, QString* error)
{
    TCliRecordOptions o;
    QStringList rest;
    bool recordGiven = false;
    const bool walked = TakeOptions(*args, [&](const QString& a, bool, const TOptionValue& value, bool* failed) {
        if (a == QLatin1String("--record")) {
            if (!value(&o.location)) *failed = !Fail(error, QStringLiteral("--record needs postgresql://… or a SQLite file"));
            recordGiven = true;
        } else if (a == QLatin1String("--no-record")) {
            o.enabled = false;
        } else if (a == QLatin1String("--unit-address-from")) {
            if (!value(&o.unitFrom)) *failed = !Fail(error, QStringLiteral("--unit-address-from needs 0001, next or a FILE"));
        } else {
            return false;
        }
        return true;
    }, &rest);
    if (!walked) return false;
    // The command: the first word that is no option's value.
    QString command;
    for (int i = 0; i < rest.size() && command.isEmpty(); ++i) {
        if (rest[i] == QLatin1String("--")) break;
        if (!rest[i].startsWith(QLatin1Char('-')) && (i == 0 || !TakesValue(rest[i - 1]))) command = rest[i];
    }
    if (recordGiven && !o.enabled) return Fail(error, QStringLiteral("--record and --no-record exclude each other"));
    if (command == QLatin1String("history")) {
        o.history = true;
        if (!o.unitFrom.isEmpty()) return Fail(error, QStringLiteral("history takes no --unit-address-from"));
        if (!ParseHistory(rest, &o, error)) return false;
        rest.clear();
    } else if (!o.unitFrom.isEmpty() && command != QLatin1String("program-config") && command != QLatin1String("station")) {
        return Fail(error, QStringLiteral("--unit-address-from goes with program-config and station"));
    }
    *args = rest;
    *out = o;
    return true;
}

int RunHistory(const TCliRecordOptions& options, QByteArray* out, QByteArray* err)
{
    TProductionRecord record(options.location);
    TRecordEntries rows;
    QString error;
    if (!record.Select(options.query, &rows, &error)) {
        *err += QStringLiteral("tarnwick-cli: the record cannot be read: %1\n").arg(error).toLocal8Bit();
        return cli_exit::ModuleFailed;
    }
    switch (options.format) {
    case TCliRecordOptions::Csv: *out = RecordCsv(rows); break;
    case TCliRecordOptions::Json: *out = RecordJsonLines(rows); break;
    default: *out = RecordText(rows); break;
    }
    return cli_exit::Ok;
}

bool PrepareUnitAddresses(const TCliPlan& plan, QString* error)
{
    g_unitAddresses.clear();
    g_redoOf.clear();
    const QString from = g_options.unitFrom;
    if (from.isEmpty()) return true;
    const QStringList& ports = plan.options.ports;
    std::vector<TUnitRequest> requests;
    for (const QString& port : ports) {
        TUnitRequest r;
        r.port = port;
        r.portById = PortByIdName(port);
        requests.push_back(r);
    }
    if (from == QLatin1String("next")) {
        if (!g_options.enabled) return Fail(error, QStringLiteral("--unit-address-from next reads the record: not with --no-record"));
    } else if (IsHexAddress(from)) {
        const int first = from.toInt(nullptr, 16);
        if (first + ports.size() - 1 > 0xFFFF)
            return Fail(error, QStringLiteral("%1 ports from unit address %2 go past FFFF").arg(ports.size()).arg(Address(first)));
        for (size_t i = 0; i < requests.size(); ++i) {
            requests[i].from = TUnitFrom::Start;
            requests[i].address = first + int(i);
        }
        // Without the record, in order from the address given.
        if (!g_options.enabled) {
            for (const TUnitRequest& r : requests) g_unitAddresses.insert(r.port, Address(r.address));
            return true;
        }
    } else {
        TUnitAddressPlan file;
        if (!ParseUnitAddressPlan(from, &file, error)) return false;
        const QHash<QString, QString>& map = file.byName;
        for (TUnitRequest& r : requests) {
            QString address = map.value(r.port);
            if (address.isEmpty()) address = map.value(StablePortName(r.port));
            if (address.isEmpty()) return Fail(error, QStringLiteral("%1 gives no unit address for %2").arg(from, r.port));
            r.from = TUnitFrom::Exact;
            r.address = address.toInt(nullptr, 16);
        }
        if (!g_options.enabled) {
            for (const TUnitRequest& r : requests) g_unitAddresses.insert(r.port, Address(r.address));
            return true;
        }
    }
    // Reserved in the record, all in one transaction, before anything is sent.
    TProductionRecord record(g_options.location);
    std::vector<TUnitReservation> reserved;
    if (!record.ReserveUnitAddresses(requests, &reserved, error)) {
        *error = QStringLiteral("no unit addresses: %1").arg(*error);
        return false;
    }
    for (size_t i = 0; i < requests.size(); ++i) {
        g_unitAddresses.insert(requests[i].port, reserved[i].address);
        if (!reserved[i].redoOf.isEmpty()) g_redoOf.insert(requests[i].port, reserved[i].redoOf);
    }
    return true;
}

TMemoryBlock ImageForPort(const TMemoryBlock& image, const QString& port)
{
    const QString address = g_unitAddresses.value(port);
    if (address.isEmpty()) return image;
    TMemoryBlock out = image;
    SetImageUnitAddress(out, address.toInt(nullptr, 16));
    return out;
}

QByteArray RecordResults(const TCliPlan& plan, const std::vector<TPortResult>& results)
{
    if (!g_options.enabled) return {};
    QString operation;
    switch (plan.options.command) {
    case TCliCommand::ProgramFlash: operation = QStringLiteral("program-flash"); break;
    case TCliCommand::ProgramConfig: operation = QStringLiteral("program-config"); break;
    case TCliCommand::ReadConfig: operation = QStringLiteral("read-config"); break;
    default: return {};  // reads that change nothing are not recorded
    }
    const bool program = plan.options.command != TCliCommand::ReadConfig;
    const bool config = plan.options.command != TCliCommand::ProgramFlash;
    TRecordEntries rows;
    for (const TPortResult& r : results) {
        TRecordEntry e = EntryFor(operation, r.port);
        // The time the run began, not when it was recorded.
        e.timeUtc = e.timeUtc.addMSecs(-r.durationMs);
        SetOutcome(e, r);
        if (program) {
            e.profile = QFileInfo(plan.options.args.value(0)).fileName();
            const TMemoryBlock image = config ? ImageForPort(plan.config, r.port) : plan.flash;
            e.imageSha256 = config ? ConfigImageHashWithoutKey(image.data(), int(image.size()))
                                   : ImageHash(image.data(), int(image.size()));
            if (config) e.keyFingerprint = ConfigKeyFingerprint(image.data(), int(image.size()));
            e.unitAddress = g_unitAddresses.value(r.port);
            e.redoOf = g_redoOf.value(r.port);
            e.verified = !plan.options.verify ? QStringLiteral("skipped")
                         : r.data.value(QStringLiteral("verified")).toBool() ? QStringLiteral("yes")
                                                                              : QStringLiteral("no");
            QStringList addresses;
            for (const QJsonValue& d : r.data.value(QStringLiteral("differences")).toArray())
                addresses << QStringLiteral("0x%1").arg(d.toObject().value(QStringLiteral("address")).toInt(), 2, 16, QLatin1Char('0'));
            e.differences = addresses.join(QLatin1Char(' '));
        } else {
            const QByteArray image = HexBytes(r.data.value(QStringLiteral("config")).toString());
            const auto* bytes = reinterpret_cast<const uint8_t*>(image.constData());
            if (!image.isEmpty()) {
                e.imageSha256 = ConfigImageHashWithoutKey(bytes, int(image.size()));
                e.keyFingerprint = ConfigKeyFingerprint(bytes, int(image.size()));
            }
            if (!plan.options.output.isEmpty()) e.profile = QFileInfo(OutputPathFor(plan.options.output, r.port)).fileName();
        }
        rows.push_back(e);
    }
    return Store(rows);
}

QByteArray RecordPair(const TCliPlan& plan, const TPairResult& pair, qint64 durationMs)
{
    if (!g_options.enabled) return {};
    const QString pairId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const std::array<TMemoryBytes, 2> images = PairImages(plan.pair);
    TRecordEntries rows;
    for (int i = 0; i < 2; ++i) {
        const TPairModule& m = pair.modules[size_t(i)];
        TRecordEntry e = EntryFor(QStringLiteral("pair"), m.port.isEmpty() ? plan.options.ports.value(i) : m.port);
        e.timeUtc = e.timeUtc.addMSecs(-durationMs);
        e.profile = QFileInfo(plan.options.args.value(0)).fileName();
        e.moduleVersion = m.version;
        e.imageSha256 = ConfigImageHashWithoutKey(images[size_t(i)].data(), int(images[size_t(i)].size()));
        e.keyFingerprint = ConfigKeyFingerprint(images[size_t(i)].data(), int(images[size_t(i)].size()));
        e.verified = m.verified ? QStringLiteral("yes") : QStringLiteral("no");
        e.outcome = m.Ok() ? QStringLiteral("ok") : QStringLiteral("failed");
        e.exitStatus = m.Ok() ? cli_exit::Ok : m.failure == TPairFailure::Port ? cli_exit::PortFailed : cli_exit::ModuleFailed;
        e.error = m.error;
        e.durationMs = durationMs;
        e.pairId = pairId;
        e.role = i == 0 ? QStringLiteral("A") : QStringLiteral("B");
        const TMemoryBytes& image = images[size_t(i)];
        e.unitAddress = Address(image[config_layout::kOffAddress] | image[config_layout::kOffAddress + 1] << 8);
        rows.push_back(e);
    }
    return Store(rows);
}

QByteArray RecordLinkTest(const QStringList& ports, const QDateTime& started, qint64 durationMs, const QString& outcome,
                          int exitStatus, const QString& reason)
{
    if (!g_options.enabled) return {};
    TRecordEntries rows;
    for (const QString& port : ports) {
        TRecordEntry e = EntryFor(QStringLiteral("link-test"), port);
        e.timeUtc = started;
        e.outcome = outcome;
        e.exitStatus = exitStatus;
        e.error = reason;
        e.durationMs = durationMs;
        rows.push_back(e);
    }
    return Store(rows);
}
