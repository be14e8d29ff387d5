#include "record/production_record.h"

#include "record/record_spool.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sqlite3.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>
#include <atomic>

namespace {

const char* const kTable = "production_record";
const char* const kPending = "pending_shared";  // local rows waiting for the shared record

QString TimeText(const QDateTime& t) { return RecordTimeText(t); }

QString NextConnectionName(const char* kind)
{
    static std::atomic<int> counter{0};
    return QStringLiteral("tw_record_%1_%2").arg(QLatin1String(kind)).arg(counter.fetch_add(1));
}

// The columns after the id, for both databases.
QString ColumnsDdl()
{
    return QStringLiteral(
        "row_id TEXT NOT NULL UNIQUE, time_utc TEXT NOT NULL, station TEXT NOT NULL DEFAULT '', "
        "user_name TEXT NOT NULL DEFAULT '', program_version TEXT NOT NULL DEFAULT '', "
        "port TEXT NOT NULL DEFAULT '', port_by_id TEXT NOT NULL DEFAULT '', usb_serial TEXT NOT NULL DEFAULT '', "
        "module_version TEXT NOT NULL DEFAULT '', operation TEXT NOT NULL DEFAULT '', "
        "profile TEXT NOT NULL DEFAULT '', image_sha256 TEXT NOT NULL DEFAULT '', "
        "key_fingerprint TEXT NOT NULL DEFAULT '', verified TEXT NOT NULL DEFAULT '', "
        "differences TEXT NOT NULL DEFAULT '', outcome TEXT NOT NULL DEFAULT '', "
        "exit_status INTEGER NOT NULL DEFAULT 0, error TEXT NOT NULL DEFAULT '', "
        "duration_ms BIGINT NOT NULL DEFAULT 0, pair_id TEXT NOT NULL DEFAULT '', "
        "unit_address TEXT NOT NULL DEFAULT ''");
}

// The schema, one step per version; a database is brought from the version
// it has to the last one. Steps are never changed once released: a new
// version appends a step.
QStringList MigrationStep(int version, bool postgres)
{
    const QString id = postgres ? QStringLiteral("id BIGSERIAL PRIMARY KEY")
                                : QStringLiteral("id INTEGER PRIMARY KEY AUTOINCREMENT");
    switch (version) {
    case 1: {
        QStringList s{QStringLiteral("CREATE TABLE production_record (%1, %2)").arg(id, ColumnsDdl()),
                      QStringLiteral("CREATE INDEX production_record_time ON production_record (time_utc)"),
                      QStringLiteral("CREATE INDEX production_record_pair ON production_record (pair_id)")};
        // Only the local file keeps rows for a shared record.
        if (!postgres) s << QStringLiteral("CREATE TABLE pending_shared (%1, %2)").arg(id, ColumnsDdl());
        return s;
    }
    case 2: {
        // A run id per tool run or panel session, a redo's link to the failed
        // try it repeats, a pair row's role; the questions a line asks get an
        // index; the unit addresses given so far become reservations (an
        // address two runs both got is reserved once).
        QStringList s;
        for (const char* table : {"production_record", "pending_shared"}) {
            if (postgres && qstrcmp(table, "pending_shared") == 0) continue;
            for (const char* column : {"run_id", "redo_of", "role"})
                s << QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 TEXT NOT NULL DEFAULT ''")
                         .arg(QLatin1String(table), QLatin1String(column));
        }
        if (postgres)
            s << QStringLiteral("ALTER TABLE production_record ALTER COLUMN time_utc TYPE timestamptz "
                                "USING time_utc::timestamptz");
        for (const char* column : {"outcome", "port", "port_by_id", "unit_address", "run_id", "redo_of"})
            s << QStringLiteral("CREATE INDEX production_record_%1 ON production_record (%1)").arg(QLatin1String(column));
        s << QStringLiteral("CREATE TABLE unit_reservation (unit_address TEXT NOT NULL PRIMARY KEY, "
                            "state TEXT NOT NULL, run_id TEXT NOT NULL DEFAULT '', station TEXT NOT NULL DEFAULT '', "
                            "user_name TEXT NOT NULL DEFAULT '', port TEXT NOT NULL DEFAULT '', "
                            "port_by_id TEXT NOT NULL DEFAULT '', time_utc %1 NOT NULL, "
                            "row_id TEXT NOT NULL DEFAULT '')")
                 .arg(postgres ? QStringLiteral("timestamptz") : QStringLiteral("TEXT"))
          << QStringLiteral("INSERT INTO unit_reservation (unit_address, state, station, user_name, port, port_by_id, "
                            "time_utc, row_id) SELECT unit_address, CASE WHEN MAX(CASE WHEN outcome = 'ok' THEN 1 "
                            "ELSE 0 END) = 1 THEN 'used' ELSE 'failed' END, MIN(station), MIN(user_name), MIN(port), "
                            "MIN(port_by_id), MIN(time_utc), MAX(row_id) FROM production_record "
                            "WHERE unit_address <> '' GROUP BY unit_address");
        return s;
    }
    default:
        return {};
    }
}
constexpr int kSchemaVersion = 2;

// The last connection to close would checkpoint the WAL into the file and
// sync it, three syncs for every tool run. Instead a run appends to the WAL
// and the WAL is emptied once it is long (see TrimWal); the file stays whole
// whatever is killed when.
void KeepWalOnClose(const QSqlDatabase& db)
{
    const QVariant handle = db.driver()->handle();
    if (qstrcmp(handle.typeName(), "sqlite3*") != 0) return;
    sqlite3* raw = *static_cast<sqlite3* const*>(handle.data());
    if (raw) sqlite3_db_config(raw, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
}

bool Exec(QSqlQuery& q, const QString& sql, QString* error)
{
    if (q.exec(sql)) return true;
    if (error) *error = q.lastError().text();
    return false;
}

// Brings the schema up to date in one transaction that only one writer at a
// time can hold.
bool Migrate(QSqlDatabase& db, bool postgres, QString* error)
{
    QSqlQuery q(db);
    if (!Exec(q, QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"), error)) {
        // Two stations creating it at the same moment: one wins, the other
        // finds it made.
        if (!Exec(q, QStringLiteral("SELECT 1 FROM schema_version"), error)) return false;
    }
    auto current = [&](int* v) {
        if (!Exec(q, QStringLiteral("SELECT COALESCE(MAX(version), 0) FROM schema_version"), error)) return false;
        *v = q.next() ? q.value(0).toInt() : 0;
        return true;
    };
    int version = 0;
    if (!current(&version)) return false;
    if (version == kSchemaVersion) return true;
    if (version > kSchemaVersion) {
        *error = QStringLiteral("the record was made by a newer program (schema %1, this one knows %2)")
                     .arg(version)
                     .arg(kSchemaVersion);
        return false;
    }
    if (postgres) {
        if (!db.transaction()) return (*error = db.lastError().text(), false);
        if (!Exec(q, QStringLiteral("LOCK TABLE schema_version IN EXCLUSIVE MODE"), error)) return (db.rollback(), false);
    } else if (!Exec(q, QStringLiteral("BEGIN IMMEDIATE"), error)) {
        return false;
    }
    auto rollback = [&] {
        if (postgres) db.rollback();
        else q.exec(QStringLiteral("ROLLBACK"));
        return false;
    };
    if (!current(&version)) return rollback();
    for (int v = version + 1; v <= kSchemaVersion; ++v) {
        for (const QString& sql : MigrationStep(v, postgres))
            if (!Exec(q, sql, error)) return rollback();
        if (!Exec(q, QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(v), error)) return rollback();
    }
    if (postgres) {
        if (!db.commit()) return (*error = db.lastError().text(), false);
    } else if (!Exec(q, QStringLiteral("COMMIT"), error)) {
        return rollback();
    }
    return true;
}

// The file is made by us with mode 0600 before SQLite opens it: SQLite would
// use the umask, and the WAL and shared-memory files take the file's mode.
bool PrepareLocalFile(const QString& path, QString* error)
{
    const QFileInfo info(path);
    QDir dir = info.absoluteDir();
    if (!dir.exists()) {
        if (!QDir().mkpath(dir.absolutePath())) {
            *error = QStringLiteral("cannot make the folder %1").arg(dir.absolutePath());
            return false;
        }
        ::chmod(QFile::encodeName(dir.absolutePath()).constData(), 0700);
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    ::close(fd);
    return true;
}

QString InsertSql(const QString& table)
{
    QStringList marks;
    for (int i = 0; i < RecordColumns().size(); ++i) marks << QStringLiteral("?");
    // The row id makes a row sent twice (the answer to a commit lost) a no-op.
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT (row_id) DO NOTHING")
        .arg(table, RecordColumns().join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
}

// The reservations of the stored rows' unit addresses end with their outcome
// (in the rows' transaction). A row that passed marks its address used also
// over a failed try of the same run stored just before it (that try's row
// waited in the spool while its redo took the address again); a failed row
// never undoes a used one.
bool MarkReservations(QSqlDatabase& db, const TRecordEntries& rows, QString* error)
{
    // [0]: a failed row's statement, [1]: a passed row's.
    QSqlQuery q[2] = {QSqlQuery(db), QSqlQuery(db)};
    bool prepared[2] = {false, false};
    for (const TRecordEntry& e : rows) {
        if (e.unitAddress.isEmpty() || e.runId.isEmpty()) continue;
        const int ok = e.Failed() ? 0 : 1;
        if (!prepared[ok] && !q[ok].prepare(QStringLiteral("UPDATE unit_reservation SET state = ?, row_id = ? "
                                                           "WHERE unit_address = ? AND run_id = ? AND state IN (%1)")
                                                .arg(ok ? QStringLiteral("'reserved', 'failed'") : QStringLiteral("'reserved'"))))
            return (*error = q[ok].lastError().text(), false);
        prepared[ok] = true;
        q[ok].bindValue(0, QLatin1String(ok ? unit_state::kUsed : unit_state::kFailed));
        q[ok].bindValue(1, e.rowId);
        q[ok].bindValue(2, e.unitAddress);
        q[ok].bindValue(3, e.runId);
        if (!q[ok].exec()) return (*error = q[ok].lastError().text(), false);
    }
    return true;
}

bool InsertRows(QSqlDatabase& db, const QString& table, const TRecordEntries& rows, QString* error)
{
    QSqlQuery q(db);
    if (!q.prepare(InsertSql(table))) return (*error = q.lastError().text(), false);
    for (const TRecordEntry& e : rows) {
        for (int c = 0; c < RecordColumns().size(); ++c) {
            const QString col = RecordColumns()[c];
            if (col == QLatin1String("exit_status")) q.bindValue(c, e.exitStatus);
            else if (col == QLatin1String("duration_ms")) q.bindValue(c, e.durationMs);
            else {
                // An empty value is stored as '' (the columns are NOT NULL), never as NULL.
                const QString v = RecordValue(e, c);
                q.bindValue(c, v.isNull() ? QStringLiteral("") : v);
            }
        }
        if (!q.exec()) return (*error = q.lastError().text(), false);
    }
    return true;
}

// PostgreSQL keeps the time as timestamptz, SQLite as fixed-width UTC text.
QDateTime TimeFrom(const QVariant& v)
{
    if (v.metaType().id() == QMetaType::QDateTime) return v.toDateTime().toUTC();
    return QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
}

TRecordEntry EntryFrom(const QSqlQuery& q)
{
    TRecordEntry e;
    int i = 0;
    e.rowId = q.value(i++).toString();
    e.timeUtc = TimeFrom(q.value(i++));
    e.station = q.value(i++).toString();
    e.user = q.value(i++).toString();
    e.programVersion = q.value(i++).toString();
    e.port = q.value(i++).toString();
    e.portById = q.value(i++).toString();
    e.usbSerial = q.value(i++).toString();
    e.moduleVersion = q.value(i++).toString();
    e.operation = q.value(i++).toString();
    e.profile = q.value(i++).toString();
    e.imageSha256 = q.value(i++).toString();
    e.keyFingerprint = q.value(i++).toString();
    e.verified = q.value(i++).toString();
    e.differences = q.value(i++).toString();
    e.outcome = q.value(i++).toString();
    e.exitStatus = q.value(i++).toInt();
    e.error = q.value(i++).toString();
    e.durationMs = q.value(i++).toLongLong();
    e.pairId = q.value(i++).toString();
    e.unitAddress = q.value(i++).toString();
    e.runId = q.value(i++).toString();
    e.redoOf = q.value(i++).toString();
    e.role = q.value(i++).toString();
    return e;
}

bool SelectRows(QSqlDatabase& db, const QString& table, const TRecordQuery& query, TRecordEntries* out,
                QString* error)
{
    QStringList where;
    QVariantList values;
    if (query.since.isValid()) where << QStringLiteral("time_utc >= ?"), values << TimeText(query.since);
    if (query.until.isValid()) where << QStringLiteral("time_utc < ?"), values << TimeText(query.until);
    if (query.failedOnly) where << QStringLiteral("outcome <> 'ok'");
    if (!query.port.isEmpty()) where << QStringLiteral("(port = ? OR port_by_id = ?)"), values << query.port << query.port;
    if (!query.pairId.isEmpty()) where << QStringLiteral("pair_id = ?"), values << query.pairId;
    if (!query.station.isEmpty()) where << QStringLiteral("station = ?"), values << query.station;
    QString sql = QStringLiteral("SELECT %1 FROM %2").arg(RecordColumns().join(QLatin1Char(',')), table);
    if (!where.isEmpty()) sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY time_utc, id");
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql)) return (*error = q.lastError().text(), false);
    for (int i = 0; i < values.size(); ++i) q.bindValue(i, values[i]);
    if (!q.exec()) return (*error = q.lastError().text(), false);
    while (q.next()) out->push_back(EntryFrom(q));
    return true;
}

QString HostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return QString::fromLocal8Bit(name);
}

QString UserName()
{
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty()) user = qEnvironmentVariable("LOGNAME");
    if (user.isEmpty()) {
        const passwd* pw = ::getpwuid(::getuid());
        user = pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(::getuid());
    }
    return user;
}

}  // namespace

QString RecordTimeText(const QDateTime& t)
{
    return t.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

const QStringList& RecordColumns()
{
    static const QStringList columns{
        QStringLiteral("row_id"),          QStringLiteral("time_utc"),       QStringLiteral("station"),
        QStringLiteral("user_name"),       QStringLiteral("program_version"), QStringLiteral("port"),
        QStringLiteral("port_by_id"),      QStringLiteral("usb_serial"),     QStringLiteral("module_version"),
        QStringLiteral("operation"),       QStringLiteral("profile"),        QStringLiteral("image_sha256"),
        QStringLiteral("key_fingerprint"), QStringLiteral("verified"),       QStringLiteral("differences"),
        QStringLiteral("outcome"),         QStringLiteral("exit_status"),    QStringLiteral("error"),
        QStringLiteral("duration_ms"),     QStringLiteral("pair_id"),        QStringLiteral("unit_address"),
        QStringLiteral("run_id"),          QStringLiteral("redo_of"),        QStringLiteral("role")};
    return columns;
}

QString RecordValue(const TRecordEntry& e, int column)
{
    switch (column) {
    case 0: return e.rowId;
    case 1: return TimeText(e.timeUtc);
    case 2: return e.station;
    case 3: return e.user;
    case 4: return e.programVersion;
    case 5: return e.port;
    case 6: return e.portById;
    case 7: return e.usbSerial;
    case 8: return e.moduleVersion;
    case 9: return e.operation;
    case 10: return e.profile;
    case 11: return e.imageSha256;
    case 12: return e.keyFingerprint;
    case 13: return e.verified;
    case 14: return e.differences;
    case 15: return e.outcome;
    case 16: return QString::number(e.exitStatus);
    case 17: return e.error;
    case 18: return QString::number(e.durationMs);
    case 19: return e.pairId;
    case 20: return e.unitAddress;
    case 21: return e.runId;
    case 22: return e.redoOf;
    case 23: return e.role;
    default: return {};
    }
}

void SetRecordValue(TRecordEntry& e, int column, const QString& v)
{
    switch (column) {
    case 0: e.rowId = v; break;
    case 1: e.timeUtc = QDateTime::fromString(v, Qt::ISODateWithMs); break;
    case 2: e.station = v; break;
    case 3: e.user = v; break;
    case 4: e.programVersion = v; break;
    case 5: e.port = v; break;
    case 6: e.portById = v; break;
    case 7: e.usbSerial = v; break;
    case 8: e.moduleVersion = v; break;
    case 9: e.operation = v; break;
    case 10: e.profile = v; break;
    case 11: e.imageSha256 = v; break;
    case 12: e.keyFingerprint = v; break;
    case 13: e.verified = v; break;
    case 14: e.differences = v; break;
    case 15: e.outcome = v; break;
    case 16: e.exitStatus = v.toInt(); break;
    case 17: e.error = v; break;
    case 18: e.durationMs = v.toLongLong(); break;
    case 19: e.pairId = v; break;
    case 20: e.unitAddress = v; break;
    case 21: e.runId = v; break;
    case 22: e.redoOf = v; break;
    case 23: e.role = v; break;
    default: break;
    }
}

TRecordEntry NewRecordEntry(const QString& programVersion, const QString& operation)
{
    TRecordEntry e;
    e.rowId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    e.timeUtc = QDateTime::currentDateTimeUtc();
    e.station = HostName();
    e.user = UserName();
    e.programVersion = programVersion;
    e.operation = operation;
    e.runId = RecordRunId();
    return e;
}

QString RecordRunId()
{
    static const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    return id;
}

// ---------------------------------------------------------------- TProductionRecord

TProductionRecord::TProductionRecord(const QString& location, const QString& localPath)
    : location_(location), localPath_(localPath)
{
    shared_ = IsSharedLocation(location);
    if (localPath_.isEmpty()) {
        if (!shared_ && !location.isEmpty())
            localPath_ = location.startsWith(QLatin1String("sqlite:")) ? location.mid(7) : location;
        else
            localPath_ = DefaultLocalPath();
    }
    localName_ = NextConnectionName("local");
    sharedName_ = NextConnectionName("shared");
}

TProductionRecord::~TProductionRecord()
{
    for (const QString& name : {localName_, sharedName_}) {
        if (!QSqlDatabase::contains(name)) continue;
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
}

QString TProductionRecord::DefaultLocalPath()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/tarnwick/record.sqlite");
}

bool TProductionRecord::IsSharedLocation(const QString& location)
{
    return location.startsWith(QLatin1String("postgresql://")) || location.startsWith(QLatin1String("postgres://"));
}

QString TProductionRecord::Describe() const
{
    if (!shared_) return localPath_;
    // Cut by hand, not by a URL parser: a password holding '/', '@' or '#'
    // would leave a piece of it in the text. What lies before the last '@'
    // of the authority is the user and password; only the user stays.
    const int start = location_.indexOf(QLatin1String("://")) + 3;
    const int query = location_.indexOf(QLatin1Char('?'), start);
    const int at = location_.lastIndexOf(QLatin1Char('@'), query < 0 ? -1 : query);
    if (at < start) return location_;
    const QString userInfo = location_.mid(start, at - start);
    return location_.left(start) + userInfo.section(QLatin1Char(':'), 0, 0) + location_.mid(at);
}

bool TProductionRecord::OpenLocal()
{
    if (localOpen_) return true;
    if (!PrepareLocalFile(localPath_, &error_)) return false;
    QSqlDatabase db = QSqlDatabase::contains(localName_) ? QSqlDatabase::database(localName_, false)
                                                         : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), localName_);
    if (!db.isValid()) return (error_ = QStringLiteral("the SQLite driver of QtSql is missing (libqt6sql6-sqlite)"), false);
    db.setDatabaseName(localPath_);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=20000"));
    if (!db.open()) return (error_ = db.lastError().text(), false);
    QSqlQuery q(db);
    // WAL: readers never wait for the writer, writers wait their turn (the
    // busy time-out). NORMAL is safe in WAL against a program killed at any
    // point; only a power cut can lose the last commits.
    for (const char* pragma : {"PRAGMA busy_timeout = 20000", "PRAGMA journal_mode = WAL", "PRAGMA synchronous = NORMAL"})
        if (!Exec(q, QLatin1String(pragma), &error_)) return false;
    q.finish();
    KeepWalOnClose(db);
    if (!Migrate(db, false, &error_)) return false;
    localOpen_ = true;
    return true;
}

bool TProductionRecord::HasPasswordInLocation() const
{
    return shared_ && Describe() != location_;
}

bool TProductionRecord::OpenShared()
{
    if (sharedOpen_) {
        QSqlDatabase db = QSqlDatabase::database(sharedName_, false);
        if (db.isOpen()) return true;
        sharedOpen_ = false;
    }
    const QUrl url(location_);
    QSqlDatabase db = QSqlDatabase::contains(sharedName_) ? QSqlDatabase::database(sharedName_, false)
                                                          : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), sharedName_);
    if (!db.isValid()) return (error_ = QStringLiteral("the PostgreSQL driver of QtSql is missing (libqt6sql6-psql)"), false);
    const QUrlQuery query(url);
    QString host = url.host();
    if (query.hasQueryItem(QStringLiteral("host"))) host = query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded);
    if (!host.isEmpty()) db.setHostName(host);
    if (url.port() > 0) db.setPort(url.port());
    if (query.hasQueryItem(QStringLiteral("port"))) db.setPort(query.queryItemValue(QStringLiteral("port")).toInt());
    if (!url.userName().isEmpty()) db.setUserName(url.userName(QUrl::FullyDecoded));
    if (query.hasQueryItem(QStringLiteral("user"))) db.setUserName(query.queryItemValue(QStringLiteral("user"), QUrl::FullyDecoded));
    if (!url.password().isEmpty()) db.setPassword(url.password(QUrl::FullyDecoded));
    QString name = url.path(QUrl::FullyDecoded).mid(1);
    if (name.isEmpty()) name = QStringLiteral("tarnwick");
    db.setDatabaseName(name);
    db.setConnectOptions(QStringLiteral("connect_timeout=5"));
    connectFailed_ = !db.open();
    if (connectFailed_) {
        error_ = db.lastError().text().trimmed();
        db.close();
        return false;
    }
    // The server's notices (a table that exists already) are not the station's business.
    QSqlQuery(db).exec(QStringLiteral("SET client_min_messages = warning"));
    if (!Migrate(db, true, &error_)) {
        db.close();
        return false;
    }
    sharedOpen_ = true;
    return true;
}

bool TProductionRecord::StoreLocal(const TRecordEntries& rows, const char* table)
{
    if (!OpenLocal()) return false;
    QSqlDatabase db = QSqlDatabase::database(localName_, false);
    QSqlQuery q(db);
    // Takes the write lock at once, so no two writers deadlock upgrading.
    if (!Exec(q, QStringLiteral("BEGIN IMMEDIATE"), &error_)) return false;
    if (!InsertRows(db, QLatin1String(table), rows, &error_) ||
        (qstrcmp(table, kTable) == 0 && !MarkReservations(db, rows, &error_))) {
        q.exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    if (!Exec(q, QStringLiteral("COMMIT"), &error_)) {
        q.exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    TrimWal(db);
    return true;
}

// Every process's first connection reads the whole WAL (and forgets what was
// checkpointed), so the WAL is emptied outright once it holds a few dozen
// rows: one checkpoint's syncs every few dozen runs, a short read at each.
void TProductionRecord::TrimWal(QSqlDatabase& db)
{
    constexpr qint64 kWalLimit = 512 * 1024;
    if (QFileInfo(localPath_ + QStringLiteral("-wal")).size() < kWalLimit) return;
    // Busy (another writer, a reader on an old snapshot): a later run does it.
    QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
}

bool TProductionRecord::StoreShared(const TRecordEntries& rows)
{
    if (!OpenShared()) return false;
    QSqlDatabase db = QSqlDatabase::database(sharedName_, false);
    if (!db.transaction()) {
        error_ = db.lastError().text();
        db.close();
        return false;
    }
    if (!InsertRows(db, QLatin1String(kTable), rows, &error_) || !MarkReservations(db, rows, &error_) ||
        !db.commit()) {
        if (error_.isEmpty()) error_ = db.lastError().text();
        db.rollback();
        // A connection that failed mid-way is opened anew next time.
        db.close();
        return false;
    }
    return true;
}

int TProductionRecord::SendPendingRows(QString* error)
{
    if (!OpenLocal()) return (*error = error_, -1);
    TRecordEntries pending;
    {
        QSqlDatabase local = QSqlDatabase::database(localName_, false);
        if (!SelectRows(local, QLatin1String(kPending), {}, &pending, error)) return -1;
    }
    if (pending.empty()) return 0;
    if (!StoreShared(pending)) return (*error = error_, -1);
    // Sent and committed; a crash before this delete only sends them again,
    // which the row ids make harmless.
    QSqlDatabase local = QSqlDatabase::database(localName_, false);
    QSqlQuery q(local);
    if (!Exec(q, QStringLiteral("BEGIN IMMEDIATE"), error)) return -1;
    q.prepare(QStringLiteral("DELETE FROM pending_shared WHERE row_id = ?"));
    for (const TRecordEntry& e : pending) {
        q.bindValue(0, e.rowId);
        if (!q.exec()) {
            *error = q.lastError().text();
            QSqlQuery(local).exec(QStringLiteral("ROLLBACK"));
            return -1;
        }
    }
    if (!Exec(q, QStringLiteral("COMMIT"), error)) return -1;
    return int(pending.size());
}

namespace {

// Rows of the backlog stored per run at most.
constexpr int kBacklogBatch = 500;

// What a line's operator should do about a local file that cannot be written.
QString LocalAdvice(const QString& path, const QString& error)
{
    const QString e = error.toLower();
    if (e.contains(QLatin1String("not a database")) || e.contains(QLatin1String("malformed")) ||
        e.contains(QLatin1String("corrupt")))
        return QStringLiteral("%1 is damaged and is left as it is: move it aside (mv '%1' '%1.damaged') and keep it "
                              "for inspection; the next run then starts a new record and stores the waiting rows")
            .arg(path);
    if (e.contains(QLatin1String("newer program")))
        return QStringLiteral("use the newer program, or give this one a record of its own with --record");
    if (e.contains(QLatin1String("locked")) || e.contains(QLatin1String("busy")))
        return QStringLiteral("another program held the record's lock too long; the next run stores the waiting rows");
    return QStringLiteral("free space or give write access; the next run that can write it stores the waiting rows");
}

// A shared record's failure told as what it is.
QString SharedFailure(const QString& where, const QString& error)
{
    const QString e = error.toLower();
    if (e.contains(QLatin1String("password authentication failed")) || e.contains(QLatin1String("no password supplied")) ||
        e.contains(QLatin1String("authentication failed")))
        return QStringLiteral("%1 refused the user name or password (%2)").arg(where, error.simplified());
    if (e.contains(QLatin1String("database")) && e.contains(QLatin1String("does not exist")))
        return QStringLiteral("%1 has no such database (%2)").arg(where, error.simplified());
    return QStringLiteral("%1 cannot be reached (%2)").arg(where, error.simplified());
}

}  // namespace

QString TProductionRecord::SpoolTarget() const
{
    return shared_ ? Describe() : QFileInfo(localPath_).absoluteFilePath();
}

int TProductionRecord::StoreBacklog(QString* error)
{
    int sent = 0;
    // Rows an earlier program kept in the local file for the shared record.
    if (shared_ && QFileInfo::exists(localPath_)) {
        sent = SendPendingRows(error);
        if (sent < 0) return -1;
    }
    TRecordSpool spool(localPath_);
    TRecordEntries waiting;
    if (!spool.Peek(SpoolTarget(), kBacklogBatch, &waiting, error)) return -1;
    if (waiting.empty()) return sent;
    if (!(shared_ ? StoreShared(waiting) : StoreLocal(waiting, kTable))) return (*error = error_, -1);
    // Stored; a crash before they are taken out only stores them again,
    // which the row ids make harmless.
    if (!spool.Remove(SpoolTarget(), waiting, error)) return -1;
    return sent + int(waiting.size());
}

TRecordResult TProductionRecord::SendPending()
{
    TRecordResult r;
    QString error;
    const int sent = StoreBacklog(&error);
    r.ok = sent >= 0;
    r.sentLater = std::max(sent, 0);
    if (sent > 0) r.notice = QStringLiteral("%1 row(s) that waited were stored in %2").arg(sent).arg(Describe());
    if (sent < 0) r.notice = shared_ ? SharedFailure(Describe(), error) : QStringLiteral("%1: %2").arg(Describe(), error);
    return r;
}

int TProductionRecord::PendingCount()
{
    int n = 0;
    if (shared_ && QFileInfo::exists(localPath_)) {
        if (!OpenLocal()) return -1;
        QSqlQuery q(QSqlDatabase::database(localName_, false));
        if (!Exec(q, QStringLiteral("SELECT COUNT(*) FROM pending_shared"), &error_) || !q.next()) return -1;
        n = q.value(0).toInt();
    }
    const int spooled = TRecordSpool(localPath_).Count(SpoolTarget());
    return spooled < 0 ? -1 : n + spooled;
}

TRecordResult TProductionRecord::Append(const TRecordEntries& rows)
{
    TRecordResult r;
    error_.clear();
    // The backlog first, one batch at most: a long one never holds up this
    // run by more than a batch, and its rows keep their order before ours.
    QString backlogError;
    const int sent = StoreBacklog(&backlogError);
    r.sentLater = std::max(sent, 0);
    error_.clear();
    // A shared record that just failed to connect is not tried twice in a row.
    const bool unreachable = shared_ && sent < 0 && connectFailed_;
    if (unreachable) error_ = backlogError;
    if (rows.empty() || (!unreachable && (shared_ ? StoreShared(rows) : StoreLocal(rows, kTable)))) {
        r.ok = true;
        r.stored = int(rows.size());
        if (sent > 0) r.notice = QStringLiteral("%1 row(s) that waited were stored in %2").arg(sent).arg(Describe());
        if (sent < 0 && rows.empty())
            r.notice = shared_ ? SharedFailure(Describe(), backlogError) : QStringLiteral("%1: %2").arg(Describe(), backlogError);
        return r;
    }
    const QString reason = error_.simplified();
    TRecordSpool spool(localPath_);
    QString spoolError;
    if (!spool.Add(SpoolTarget(), rows, &spoolError)) {
        r.lost = int(rows.size());
        r.notice = QStringLiteral("%1 could not take %2 row(s) (%3), and they could not be kept in %4 either (%5): "
                                  "they are not recorded")
                       .arg(Describe())
                       .arg(rows.size())
                       .arg(reason, spool.Path(), spoolError);
        return r;
    }
    const int waiting = std::max(spool.Count(SpoolTarget()), int(rows.size()));
    if (shared_) {
        // A shared record is expected to be out of reach at times: its rows wait.
        r.ok = true;
        r.keptLocally = int(rows.size());
        r.notice = QStringLiteral("%1; %2 row(s) kept in %3 (%4 waiting in all), sent when it can be reached")
                       .arg(SharedFailure(Describe(), reason))
                       .arg(rows.size())
                       .arg(spool.Path())
                       .arg(waiting);
        return r;
    }
    r.spooled = int(rows.size());
    r.notice = QStringLiteral("the record %1 could not be written (%2); %3 row(s) kept in %4 (%5 waiting in all). %6")
                   .arg(Describe(), reason)
                   .arg(rows.size())
                   .arg(spool.Path())
                   .arg(waiting)
                   .arg(LocalAdvice(Describe(), reason));
    return r;
}

bool TProductionRecord::Select(const TRecordQuery& query, TRecordEntries* out, QString* error)
{
    out->clear();
    if (shared_) {
        if (!OpenShared()) return (*error = QStringLiteral("%1 cannot be reached: %2").arg(Describe(), error_), false);
        QSqlDatabase db = QSqlDatabase::database(sharedName_, false);
        return SelectRows(db, QLatin1String(kTable), query, out, error);
    }
    if (!OpenLocal()) return (*error = error_, false);
    QSqlDatabase db = QSqlDatabase::database(localName_, false);
    return SelectRows(db, QLatin1String(kTable), query, out, error);
}

bool TProductionRecord::OpenWriter(QString* connection, bool* postgres, QString* error)
{
    *postgres = shared_;
    *connection = shared_ ? sharedName_ : localName_;
    if (shared_ ? OpenShared() : OpenLocal()) return true;
    *error = shared_ ? QStringLiteral("%1 cannot be reached: %2").arg(Describe(), error_) : error_;
    return false;
}

bool TProductionRecord::ReadQuery(const QString& sql, const QVariantList& values,
                                  const std::function<void(const QSqlQuery&)>& row, QString* error)
{
    QString name = localName_;
    if (shared_) {
        if (!OpenShared()) return (*error = QStringLiteral("%1 cannot be reached: %2").arg(Describe(), error_), false);
        name = sharedName_;
    } else if (!OpenLocal()) {
        return (*error = error_, false);
    }
    QSqlDatabase db = QSqlDatabase::database(name, false);
    // Only the outermost read installs the handler (the History's reads nest).
    static thread_local int depth = 0;
    sqlite3* raw = nullptr;
    if (depth == 0 && readInterrupt_ && qstrcmp(db.driver()->handle().typeName(), "sqlite3*") == 0)
        raw = *static_cast<sqlite3* const*>(db.driver()->handle().data());
    if (raw) {
        sqlite3_progress_handler(raw, 20000, [](void* stop) -> int {
            return (*static_cast<std::function<bool()>*>(stop))() ? 1 : 0;
        }, &readInterrupt_);
    }
    QString failure;
    ++depth;
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!q.prepare(sql)) failure = q.lastError().text();
        for (int i = 0; i < values.size(); ++i) q.bindValue(i, values[i]);
        if (failure.isEmpty() && !q.exec()) failure = q.lastError().text();
        while (failure.isEmpty() && q.next()) row(q);
        if (failure.isEmpty() && q.lastError().isValid()) failure = q.lastError().text();
    }
    --depth;
    if (raw) sqlite3_progress_handler(raw, 0, nullptr, nullptr);
    if (!failure.isEmpty()) *error = failure;
    return failure.isEmpty();
}

bool TProductionRecord::SelectEntries(const QString& sql, const QVariantList& values,
                                      const std::function<void(const TRecordEntry&)>& each, QString* error)
{
    QStringList columns;
    for (const QString& c : RecordColumns()) columns << QStringLiteral("r.") + c;
    return ReadQuery(QStringLiteral("SELECT %1 %2").arg(columns.join(QLatin1Char(',')), sql), values,
                     [&each](const QSqlQuery& q) { each(EntryFrom(q)); }, error);
}

bool TProductionRecord::SelectValues(const QString& sql, const QVariantList& values, QStringList* out, QString* error)
{
    out->clear();
    return ReadQuery(sql, values, [out](const QSqlQuery& q) { out->push_back(q.value(0).toString()); }, error);
}
