// The record on SQLite: what a row keeps (never the key), the file's mode
// and journal, the schema's version, the queries, a writer killed mid-write,
// the panel's call from a worker thread.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <array>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cstdio>

#include "module/config_layout.h"
#include "record/image_hash.h"
#include "record/production_record.h"
#include "record/record_export.h"
#include "record/record_location.h"
#include "record/record_spool.h"
#include "record/record_writer.h"
#include "record_rows_helper.h"

namespace {

// Runs a query on the file with a connection of its own.
QVariant Scalar(const QString& path, const QString& sql)
{
    QVariant v;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(sql) && q.next()) v = q.value(0);
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return v;
}

// The child of killedWriterLeavesSoundFile: appends one row at a time and
// says so after each commit, until it is killed.
int AppendForever(const QString& path)
{
    TProductionRecord record(path);
    for (int i = 0;; ++i) {
        TRecordEntries rows{Row(QStringLiteral("/dev/ttyUSB%1").arg(i), QStringLiteral("ok"))};
        rows[0].error = QString(2000, QLatin1Char('x'));  // pages enough that a kill lands mid-write
        if (!record.Append(rows).ok) return 1;
        std::printf("%d\n", i + 1);
        std::fflush(stdout);
    }
}

}  // namespace

class TestProductionRecord : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString Path(const QString& name) { return dir_.filePath(name); }

private slots:
    void keyFreeHashAndFingerprint_data()
    {
        QTest::addColumn<int>("changed");
        QTest::addColumn<bool>("sameHash");
        QTest::newRow("a key byte") << config_layout::kOffKey + 7 << true;
        QTest::newRow("the last key byte") << config_layout::kOffKey + 15 << true;
        QTest::newRow("the byte after the key") << config_layout::kOffKey + 16 << false;
        QTest::newRow("the address") << config_layout::kOffAddress << false;
    }
    void keyFreeHashAndFingerprint()
    {
        QFETCH(int, changed);
        QFETCH(bool, sameHash);
        std::array<uint8_t, 128> a{}, b{};
        for (int i = 0; i < 128; ++i) a[size_t(i)] = b[size_t(i)] = uint8_t(i * 7);
        b[size_t(changed)] ^= 0x5A;
        QCOMPARE(ConfigImageHashWithoutKey(a.data(), 128) == ConfigImageHashWithoutKey(b.data(), 128), sameHash);
        const bool keyChanged = changed >= config_layout::kOffKey && changed < config_layout::kOffKey + 16;
        QCOMPARE(ConfigKeyFingerprint(a.data(), 128) != ConfigKeyFingerprint(b.data(), 128), keyChanged);
        const QByteArray key(reinterpret_cast<const char*>(a.data()) + config_layout::kOffKey, 16);
        QCOMPARE(ConfigKeyFingerprint(a.data(), 128),
                 QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(8)));
    }

    void fileIsPrivateInWalModeWithSchemaVersion()
    {
        const QString path = Path(QStringLiteral("new/dir/record.sqlite"));
        {
            TProductionRecord record(path);
            QVERIFY(record.Append({Row(QStringLiteral("/dev/ttyUSB0"), QStringLiteral("ok"))}).ok);
        }
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        QCOMPARE(Scalar(path, QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));
        QCOMPARE(Scalar(path, QStringLiteral("SELECT MAX(version) FROM schema_version")).toInt(), 2);
    }

    void newerSchemaIsRefused()
    {
        const QString path = Path(QStringLiteral("newer.sqlite"));
        {
            TProductionRecord record(path);
            QVERIFY(record.Append({}).ok);
            QVERIFY(record.Append({Row(QStringLiteral("p"), QStringLiteral("ok"))}).ok);
        }
        Scalar(path, QStringLiteral("INSERT INTO schema_version VALUES (99)"));
        TProductionRecord record(path);
        const TRecordResult r = record.Append({Row(QStringLiteral("p"), QStringLiteral("ok"))});
        QVERIFY(!r.ok);
        QVERIFY2(r.notice.contains(QStringLiteral("newer program")), qPrintable(r.notice));
    }

    void queriesSelectRows_data()
    {
        QTest::addColumn<TRecordQuery>("query");
        QTest::addColumn<QStringList>("ports");
        TRecordQuery q;
        QTest::newRow("all, oldest first") << q << QStringList{"/dev/a", "/dev/b", "/dev/c", "/dev/d"};
        q.failedOnly = true;
        QTest::newRow("failed") << q << QStringList{"/dev/b", "/dev/d"};
        q = {};
        q.port = QStringLiteral("/dev/serial/by-id/usb-X");
        QTest::newRow("by-id name") << q << QStringList{"/dev/c"};
        q = {};
        q.pairId = QStringLiteral("P1");
        QTest::newRow("pair") << q << QStringList{"/dev/c", "/dev/d"};
        q = {};
        q.since = QDateTime::currentDateTimeUtc().addSecs(-90 * 60);
        QTest::newRow("since") << q << QStringList{"/dev/b", "/dev/c", "/dev/d"};
    }
    void queriesSelectRows()
    {
        QFETCH(TRecordQuery, query);
        QFETCH(QStringList, ports);
        const QString path = Path(QStringLiteral("query.sqlite"));
        TProductionRecord record(path);
        QString error;
        TRecordEntries rows;
        QVERIFY(record.Select({}, &rows, &error));
        if (rows.empty()) {
            TRecordEntries in{Row(QStringLiteral("/dev/a"), QStringLiteral("ok"), {}, 120),
                              Row(QStringLiteral("/dev/b"), QStringLiteral("failed"), {}, 60),
                              Row(QStringLiteral("/dev/c"), QStringLiteral("ok"), QStringLiteral("P1"), 1),
                              Row(QStringLiteral("/dev/d"), QStringLiteral("failed"), QStringLiteral("P1"), 1)};
            in[2].portById = QStringLiteral("/dev/serial/by-id/usb-X");
            QVERIFY(record.Append(in).ok);
        }
        QVERIFY2(record.Select(query, &rows, &error), qPrintable(error));
        QStringList got;
        for (const TRecordEntry& e : rows) got << e.port;
        QCOMPARE(got, ports);
    }

    void rowSentTwiceIsStoredOnce()
    {
        TProductionRecord record(Path(QStringLiteral("twice.sqlite")));
        const TRecordEntry e = Row(QStringLiteral("/dev/x"), QStringLiteral("ok"));
        QVERIFY(record.Append({e}).ok);
        QVERIFY(record.Append({e}).ok);
        TRecordEntries rows;
        QString error;
        QVERIFY(record.Select({}, &rows, &error));
        QCOMPARE(int(rows.size()), 1);
    }

    void walStaysShortAcrossRuns()
    {
        // Each run opens the file anew, as the tool does; the WAL must not grow
        // with the record, or every run reads more of it.
        const QString path = Path(QStringLiteral("wal.sqlite"));
        for (int i = 0; i < 300; ++i) {
            TProductionRecord record(path);
            QVERIFY(record.Append({Row(QStringLiteral("/dev/w"), QStringLiteral("ok"))}).ok);
        }
        QVERIFY2(QFileInfo(path + QStringLiteral("-wal")).size() < 1024 * 1024,
                 qPrintable(QString::number(QFileInfo(path + QStringLiteral("-wal")).size())));
    }

    void killedWriterLeavesSoundFile()
    {
        const QString path = Path(QStringLiteral("killed.sqlite"));
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--append-forever"), path});
        QVERIFY(child.waitForStarted());
        // Kill it once it has committed a good number of rows, mid-stream.
        QByteArray out;
        QDeadlineTimer deadline(60000);
        while (out.count('\n') < 200 && !deadline.hasExpired() && child.state() == QProcess::Running) {
            child.waitForReadyRead(1000);
            out += child.readAllStandardOutput();
        }
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished();
        out += child.readAllStandardOutput();
        const int acknowledged = out.trimmed().split('\n').last().toInt();
        QVERIFY2(acknowledged >= 200, out.right(100).constData());
        QCOMPARE(Scalar(path, QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
        // Every acknowledged row is there; at most the one being written is added.
        const int rows = Scalar(path, QStringLiteral("SELECT COUNT(*) FROM production_record")).toInt();
        QVERIFY2(rows == acknowledged || rows == acknowledged + 1, qPrintable(QStringLiteral("%1 rows, %2 acknowledged").arg(rows).arg(acknowledged)));
    }

    void sharedUrlShownWithoutPassword_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "postgresql://bob:s3cret@db:5432/line" << "postgresql://bob@db:5432/line";
        QTest::newRow("slash and at inside") << "postgresql://bob:a/b@c#d@db/line" << "postgresql://bob@db/line";
        QTest::newRow("no password") << "postgresql://bob@db/line" << "postgresql://bob@db/line";
        QTest::newRow("socket") << "postgresql:///line?host=/run/postgresql&user=bob" << "postgresql:///line?host=/run/postgresql&user=bob";
    }
    void sharedUrlShownWithoutPassword()
    {
        QFETCH(QString, url);
        QFETCH(QString, shown);
        const TProductionRecord record(url, Path(QStringLiteral("unused.sqlite")));
        QCOMPARE(record.Describe(), shown);
        QCOMPARE(record.HasPasswordInLocation(), url != shown);
        // The panel's saved choice never keeps it either.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(Path(QStringLiteral("config"))));
        QVERIFY(SaveRecordLocation(url, nullptr));
        QCOMPARE(SavedRecordLocation(), shown);
        qunsetenv("XDG_CONFIG_HOME");
    }

    void unitAddressesAreGivenOnce()
    {
        const QString path = Path(QStringLiteral("units.sqlite"));
        TProductionRecord record(path);
        auto request = [](TUnitFrom from, int address, const QString& port, const QString& run) {
            TUnitRequest r;
            r.from = from;
            r.address = address;
            r.port = port;
            r.runId = run;
            return r;
        };
        std::vector<TUnitReservation> got;
        QString error;
        // A run that is killed after reserving: its addresses stay reserved.
        QVERIFY2(record.ReserveUnitAddresses({request(TUnitFrom::Next, 0, QStringLiteral("/dev/a"), QStringLiteral("killed")),
                                              request(TUnitFrom::Next, 0, QStringLiteral("/dev/b"), QStringLiteral("killed"))},
                                             &got, &error), qPrintable(error));
        QCOMPARE(got[1].address, QStringLiteral("0002"));
        QVERIFY(record.ReserveUnitAddresses({request(TUnitFrom::Start, 1, QStringLiteral("/dev/c"), QStringLiteral("r2")),
                                             request(TUnitFrom::Next, 0, QStringLiteral("/dev/d"), QStringLiteral("r2"))},
                                            &got, &error));
        QCOMPARE(got[0].address, QStringLiteral("0003"));
        QCOMPARE(got[1].address, QStringLiteral("0004"));
        // Its row ends the reservation: failed here, so never given again...
        TRecordEntry failed = Row(QStringLiteral("/dev/c"), QStringLiteral("failed"));
        failed.unitAddress = QStringLiteral("0003");
        failed.runId = QStringLiteral("r2");
        QVERIFY(record.Append({failed}).ok);
        QCOMPARE(Scalar(path, QStringLiteral("SELECT state FROM unit_reservation WHERE unit_address = '0003'")).toString(),
                 QStringLiteral("failed"));
        QVERIFY(!record.ReserveUnitAddresses({request(TUnitFrom::Exact, 3, QStringLiteral("/dev/z"), QStringLiteral("r3"))},
                                             &got, &error));
        QVERIFY2(error.contains(QLatin1String("0003")) && error.contains(QLatin1String("/dev/c")), qPrintable(error));
        // ...but to the same port as a redo of the failed try, all or nothing.
        QVERIFY(!record.ReserveUnitAddresses({request(TUnitFrom::Exact, 3, QStringLiteral("/dev/c"), QStringLiteral("r3")),
                                              request(TUnitFrom::Exact, 1, QStringLiteral("/dev/z"), QStringLiteral("r3"))},
                                             &got, &error));
        QVERIFY(got.empty());
        QVERIFY(record.ReserveUnitAddresses({request(TUnitFrom::Exact, 3, QStringLiteral("/dev/c"), QStringLiteral("r3"))},
                                            &got, &error));
        QCOMPARE(got[0].redoOf, failed.rowId);
        QVERIFY2(record.MarkUnitAddress(QStringLiteral("0003"), QStringLiteral("r3"), true, QString(), &error), qPrintable(error));
        QVERIFY(!record.MarkUnitAddress(QStringLiteral("0004"), QStringLiteral("r3"), true, QString(), &error));
        QCOMPARE(Scalar(path, QStringLiteral("SELECT group_concat(unit_address || ':' || state, ' ') FROM "
                                             "(SELECT * FROM unit_reservation ORDER BY unit_address)")).toString(),
                 QStringLiteral("0001:reserved 0002:reserved 0003:used 0004:reserved"));
    }

    // A failed try whose row waited in the spool, and its redo in the same
    // run: the waiting row is stored first (failed), the redo's row that
    // passed after it still ends the reservation as used.
    void redoAfterASpooledFailureEndsUsed()
    {
        const QString path = Path(QStringLiteral("spooled-redo.sqlite"));
        TProductionRecord record(path);
        TUnitRequest request;
        request.from = TUnitFrom::Exact;
        request.address = 0x10;
        request.port = QStringLiteral("/dev/c");
        request.runId = QStringLiteral("r1");
        std::vector<TUnitReservation> got;
        QString error;
        QVERIFY2(record.ReserveUnitAddresses({request}, &got, &error), qPrintable(error));
        TRecordEntry failed = Row(QStringLiteral("/dev/c"), QStringLiteral("failed"));
        failed.unitAddress = QStringLiteral("0010");
        failed.runId = request.runId;
        QVERIFY2(TRecordSpool(record.LocalPath()).Add(record.SpoolTarget(), {failed}, &error), qPrintable(error));
        QVERIFY2(record.ReserveUnitAddresses({request}, &got, &error), qPrintable(error));
        TRecordEntry passed = Row(QStringLiteral("/dev/c"), QStringLiteral("ok"));
        passed.unitAddress = failed.unitAddress;
        passed.runId = request.runId;
        const TRecordResult stored = record.Append({passed});
        QCOMPARE(stored.sentLater, 1);
        QCOMPARE(stored.stored, 1);
        QCOMPARE(Scalar(path, QStringLiteral("SELECT state || ' ' || row_id FROM unit_reservation WHERE unit_address = '0010'"))
                     .toString(),
                 QStringLiteral("used ") + passed.rowId);
    }

    // A program stopped while it held the spool's lock: the spool's calls
    // fail after their time-out with the reason instead of waiting for good.
    void spoolLockHeldTooLongFailsTheCall()
    {
        const QString path = Path(QStringLiteral("held.sqlite"));
        const int holder = ::open(QFile::encodeName(path + QStringLiteral(".spool.lock")).constData(), O_RDWR | O_CREAT, 0600);
        QVERIFY(holder >= 0 && ::flock(holder, LOCK_EX) == 0);
        std::mutex m;
        std::condition_variable cv;
        bool done = false, added = true, peeked = true;
        QString error;
        std::thread caller([&] {
            TRecordSpool spool(path, 200);
            TRecordEntries rows;
            QString e;
            const bool a = spool.Add(QStringLiteral("t"), {Row(QStringLiteral("/dev/a"), QStringLiteral("ok"))}, &e);
            const bool p = spool.Peek(QStringLiteral("t"), 10, &rows, &e);
            std::lock_guard<std::mutex> lock(m);
            added = a;
            peeked = p;
            error = e;
            done = true;
            cv.notify_all();
        });
        bool ended = false;
        {
            std::unique_lock<std::mutex> lock(m);
            ended = cv.wait_for(lock, std::chrono::seconds(20), [&] { return done; });
        }
        ::close(holder);  // lets a caller that waits for good end
        caller.join();
        QVERIFY(ended);
        QVERIFY(!added);
        QVERIFY(!peeked);
        QVERIFY2(error.contains(QLatin1String("held by another program")), qPrintable(error));
    }

    void todaysFileMigratesWithEveryRow()
    {
        // A record made by the program before the reservations and run ids:
        // seven rows, two of them a batch's unit addresses 0001 and 0002 and
        // one 0003.
        const QString path = Path(QStringLiteral("v1.sqlite"));
        QVERIFY(QFile::copy(qEnvironmentVariable("TW_SOURCE_DIR") + QStringLiteral("/tests/record/data/record-v1.sqlite"), path));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        TRecordEntries before;
        QString error;
        {
            TProductionRecord record(path);
            QVERIFY2(record.Select({}, &before, &error), qPrintable(error));
            std::vector<TUnitReservation> got;
            TUnitRequest next;
            next.port = QStringLiteral("/dev/x");
            QVERIFY2(record.ReserveUnitAddresses({next}, &got, &error), qPrintable(error));
            QCOMPARE(got[0].address, QStringLiteral("0004"));
        }
        QCOMPARE(int(before.size()), 7);
        QCOMPARE(Scalar(path, QStringLiteral("SELECT MAX(version) FROM schema_version")).toInt(), 2);
        QCOMPARE(Scalar(path, QStringLiteral("SELECT COUNT(*) FROM unit_reservation WHERE state = 'used'")).toInt(), 3);
        QCOMPARE(before[1].unitAddress, QStringLiteral("0001"));
        QCOMPARE(before[3].operation, QStringLiteral("pair"));
        QCOMPARE(before[3].pairId, before[4].pairId);
        QVERIFY(before[5].Failed());
        QVERIFY(before[0].timeUtc.isValid());
        QVERIFY(before[0].runId.isEmpty());
    }

    void panelCallWorksFromWorkerThread()
    {
        const QString path = Path(QStringLiteral("writer.sqlite"));
        TRecordWriter::SetLocation(QString(), path);
        QThread* worker = QThread::create([] {
            for (int i = 0; i < 5; ++i) TRecordWriter::Post(Row(QStringLiteral("/dev/w%1").arg(i), QStringLiteral("ok")));
        });
        worker->start();
        QVERIFY(worker->wait(10000));
        delete worker;
        QVERIFY(TRecordWriter::Flush(20000));
        QCOMPARE(Scalar(path, QStringLiteral("SELECT COUNT(*) FROM production_record")).toInt(), 5);
    }

    void exportsQuoteAndCarryOnlyColumns()
    {
        TRecordEntry e = Row(QStringLiteral("/dev/a"), QStringLiteral("failed"));
        e.error = QStringLiteral("no answer, \"twice\"");
        e.profile = QStringLiteral("=cmd|' /C calc'!A0");
        e.station = QStringLiteral("\t=1+1");
        e.user = QStringLiteral("\r@SUM(A1)");
        const QByteArray csv = RecordCsv({e});
        QVERIFY(csv.startsWith("row_id,time_utc,station,"));
        QVERIFY2(csv.contains("\"no answer, \"\"twice\"\"\""), csv.constData());
        // A spreadsheet never runs a field as a formula.
        QVERIFY2(csv.contains(",'=cmd"), csv.constData());
        QVERIFY2(csv.contains(",'\t=1+1,\"'\r@SUM(A1)\","), csv.constData());
        QCOMPARE(RecordJsonLines({e}).count('\n'), 1);
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && QByteArray(argv[1]) == "--append-forever") {
        QCoreApplication app(argc, argv);
        return AppendForever(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    TestProductionRecord t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_production_record.moc"
