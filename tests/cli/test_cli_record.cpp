// The tool's rows in the production record, against virtual modules: one
// per module and operation with what it did, unit addresses in sequence,
// the key nowhere in the file or the exports, --no-record, a shared record
// out of reach, and many tool processes writing at once.
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <vector>

#include "cli_run.h"
#include "record/production_record.h"
#include "tools/vmodule/virtual_module.h"

using TRun = TProcessRun;

class TestCliRecord : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    std::vector<std::unique_ptr<TVirtualModule>> modules_;
    int round_ = 0;
    QString data_;  // XDG_DATA_HOME of this test function

    QString Port(int i)
    {
        while (int(modules_.size()) <= i) {
            modules_.push_back(std::make_unique<TVirtualModule>());
            std::string error;
            if (!modules_.back()->Start(&error)) qFatal("virtual module: %s", error.c_str());
        }
        return QString::fromStdString(modules_[size_t(i)]->PortPath());
    }
    QProcessEnvironment Env() const { return CliEnvironment(data_); }
    TRun Cli(const QStringList& args) { return RunCli(args, Env()); }
    QString NoPort(int i) const { return dir_.filePath(QStringLiteral("ttyNONE%1").arg(i)); }
    QString DbPath() const { return data_ + QStringLiteral("/tarnwick/record.sqlite"); }
    QVariant Scalar(const QString& sql)
    {
        QVariant v;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
            db.setDatabaseName(DbPath());
            QSqlQuery q(db);
            if (db.open() && q.exec(sql) && q.next()) v = q.value(0);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("peek"));
        return v;
    }
    TRecordEntries Rows(const TRecordQuery& q = {})
    {
        TProductionRecord record(QString(), DbPath());
        TRecordEntries rows;
        QString error;
        if (!record.Select(q, &rows, &error)) qWarning("%s", qPrintable(error));
        return rows;
    }
    QString Profile() { return KeyedProfile(dir_); }

private slots:
    void initTestCase()
    {
        QVERIFY(QFileInfo(qEnvironmentVariable("TW_CLI")).isExecutable());
        QVERIFY(dir_.isValid());
    }
    void init() { data_ = dir_.filePath(QStringLiteral("data%1").arg(++round_)); }
    void cleanup() { modules_.clear(); }

    void rowPerOperation_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("ports");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("verified");
        QTest::newRow("read-config") << QStringList{QStringLiteral("read-config")} << 1 << "read-config" << "";
        QTest::newRow("program-flash, no verify") << QStringList{QStringLiteral("program-flash"), QStringLiteral("FLASH"), QStringLiteral("--no-verify")}
                                                  << 1 << "program-flash" << "skipped";
        QTest::newRow("program-config, two ports") << QStringList{QStringLiteral("program-config"), QStringLiteral("PROFILE")} << 2
                                                   << "program-config" << "yes";
    }
    void rowPerOperation()
    {
        QFETCH(QStringList, args);
        QFETCH(int, ports);
        QFETCH(QString, operation);
        QFETCH(QString, verified);
        const QString flash = dir_.filePath(QStringLiteral("flash.bin"));
        QFile f(flash);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(128, 'A'));
        f.close();
        args.replaceInStrings(QStringLiteral("FLASH"), flash);
        if (args.contains(QStringLiteral("PROFILE"))) args.replaceInStrings(QStringLiteral("PROFILE"), Profile());
        QStringList line{QStringLiteral("-q")};
        for (int i = 0; i < ports; ++i) line << QStringLiteral("--port") << Port(i);
        const TRun r = Cli(line + args);
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const TRecordEntries rows = Rows();
        QCOMPARE(int(rows.size()), ports);
        for (int i = 0; i < ports; ++i) {
            const TRecordEntry& e = rows[size_t(i)];
            QCOMPARE(e.operation, operation);
            QCOMPARE(e.outcome, QStringLiteral("ok"));
            QCOMPARE(e.verified, verified);
            QVERIFY(e.programVersion.startsWith(QStringLiteral("tarnwick-cli ")));
            QCOMPARE(e.imageSha256.size(), 64);
            QVERIFY(!e.station.isEmpty());
        }
    }

    void unitAddressesInSequenceAndFromTheRecord()
    {
        const QString profile = Profile();
        TRun r = Cli({QStringLiteral("-q"), QStringLiteral("--port"), Port(0), QStringLiteral("--port"), Port(1),
                      QStringLiteral("program-config"), profile, QStringLiteral("--unit-address-from"), QStringLiteral("0009")});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        r = Cli({QStringLiteral("-q"), QStringLiteral("--port"), Port(2), QStringLiteral("program-config"), profile,
                 QStringLiteral("--unit-address-from"), QStringLiteral("next")});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QStringList got;
        for (const TRecordEntry& e : Rows()) got << e.port + QLatin1Char('=') + e.unitAddress;
        QStringList want{Port(0) + QStringLiteral("=0009"), Port(1) + QStringLiteral("=000A"), Port(2) + QStringLiteral("=000B")};
        got.sort();
        want.sort();
        QCOMPARE(got, want);
        // What went into each module: its address, low byte first, twice.
        const auto memory = modules_[1]->Memory();
        QCOMPARE(int(memory[0x80 + 0x5E]), 0x0A);
        QCOMPARE(int(memory[0x80 + 0x5F]), 0x00);
        QCOMPARE(int(memory[0x80 + 0x60]), 0x0A);
    }

    void processesAtOnceNeverShareAnAddress()
    {
        // Three runs of two modules each, started together: six addresses,
        // each in its module, each reserved once and marked by its row; a
        // port that fails keeps its address from every later run.
        const QString profile = Profile();
        std::vector<std::unique_ptr<QProcess>> runs;
        for (int i = 0; i < 3; ++i) {
            auto p = std::make_unique<QProcess>();
            p->setProcessEnvironment(Env());
            p->start(qEnvironmentVariable("TW_CLI"),
                     {QStringLiteral("-q"), QStringLiteral("--port"), Port(2 * i), QStringLiteral("--port"), Port(2 * i + 1),
                      QStringLiteral("program-config"), profile, QStringLiteral("--unit-address-from"), QStringLiteral("next")});
            runs.push_back(std::move(p));
        }
        for (auto& p : runs) {
            QVERIFY(p->waitForFinished(120000));
            QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
        }
        QSet<QString> addresses, inModules;
        for (const TRecordEntry& e : Rows()) addresses.insert(e.unitAddress);
        for (const auto& m : modules_) {
            const auto memory = m->Memory();
            inModules.insert(UnitAddressText(memory[0x80 + 0x5E] | memory[0x80 + 0x5F] << 8));
        }
        QCOMPARE(addresses, (QSet<QString>{"0001", "0002", "0003", "0004", "0005", "0006"}));
        QCOMPARE(inModules, addresses);
        QCOMPARE(Scalar(QStringLiteral("SELECT COUNT(*) FROM unit_reservation WHERE state = 'used'")).toInt(), 6);

        TRun r = Cli({QStringLiteral("-q"), QStringLiteral("--port"), NoPort(0), QStringLiteral("program-config"), profile,
                      QStringLiteral("--unit-address-from"), QStringLiteral("next")});
        QCOMPARE(r.exitCode, 3);
        QCOMPARE(Scalar(QStringLiteral("SELECT state FROM unit_reservation WHERE unit_address = '0007'")).toString(),
                 QStringLiteral("failed"));
        r = Cli({QStringLiteral("-q"), QStringLiteral("--port"), Port(0), QStringLiteral("program-config"), profile,
                 QStringLiteral("--unit-address-from"), QStringLiteral("0005")});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(Rows().back().unitAddress, QStringLiteral("0008"));
    }

    void pairRowsShareAnIdAndTheKeyIsNowhere()
    {
        const QString pairFile = dir_.filePath(QStringLiteral("pair.json"));
        const TRun r = Cli({QStringLiteral("-q"), QStringLiteral("--port"), Port(0), QStringLiteral("--port"), Port(1),
                            QStringLiteral("pair"), Profile(), QStringLiteral("--new-key"), QStringLiteral("-o"), pairFile});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const TRecordEntries rows = Rows();
        QCOMPARE(int(rows.size()), 2);
        QVERIFY(!rows[0].pairId.isEmpty());
        QCOMPARE(rows[0].pairId, rows[1].pairId);
        QCOMPARE(rows[0].keyFingerprint, rows[1].keyFingerprint);
        QVERIFY(!rows[0].moduleVersion.isEmpty());

        QFile f(pairFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString key = QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("encryptionKey")).toString();
        QCOMPARE(key.size(), 32);
        const QByteArray raw = QByteArray::fromHex(key.toLatin1());
        QByteArray stored;
        for (const QString& name : QDir(data_ + QStringLiteral("/tarnwick")).entryList(QDir::Files)) {
            QFile db(data_ + QStringLiteral("/tarnwick/") + name);
            QVERIFY(db.open(QIODevice::ReadOnly));
            stored += db.readAll();
        }
        QVERIFY(!stored.isEmpty());
        for (const QStringList& format : {QStringList{}, QStringList{QStringLiteral("--csv")}, QStringList{QStringLiteral("--json")}})
            stored += Cli(QStringList{QStringLiteral("history")} + format).out;
        QVERIFY(stored.contains(rows[0].pairId.toLatin1()));
        for (const QByteArray& needle : {key.toUpper().toLatin1(), key.toLower().toLatin1(), raw, raw.left(8).toHex()})
            QVERIFY2(!stored.contains(needle), needle.toHex().constData());
    }

    void damagedFileSpoolsAndStoresOnceMovedAside()
    {
        QVERIFY(QDir().mkpath(data_ + QStringLiteral("/tarnwick")));
        const QByteArray damaged = QByteArray("this is no record\n").repeated(300);
        {
            QFile f(DbPath());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(damaged);
        }
        QStringList ids;
        for (int i = 0; i < 2; ++i) {
            const TRun r = Cli({QStringLiteral("-q"), QStringLiteral("--port"), Port(0), QStringLiteral("read-config")});
            QCOMPARE(r.exitCode, 4);
            QVERIFY2(r.err.contains("damaged") && r.err.contains("move it aside") && r.err.contains(".spool"), r.err.constData());
        }
        QFile db(DbPath());
        QVERIFY(db.open(QIODevice::ReadOnly));
        QCOMPARE(db.readAll(), damaged);
        db.close();
        const QString spool = DbPath() + QStringLiteral(".spool");
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(spool).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        QVERIFY(QFile::rename(DbPath(), DbPath() + QStringLiteral(".damaged")));
        const TRun r = Cli({QStringLiteral("-q"), QStringLiteral("--port"), Port(0), QStringLiteral("read-config")});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(int(Rows().size()), 3);
        QVERIFY(!QFile::exists(spool));
    }

    void keyByteVerifyFailureShowsNoValue()
    {
        Port(0);
        TVirtualModuleFaults faults;
        faults.corruptWriteAddress = 0xC0;
        modules_[0]->SetFaults(faults);
        const TRun r = Cli({QStringLiteral("--json"), QStringLiteral("--port"), Port(0), QStringLiteral("program-config"), Profile()});
        QCOMPARE(r.exitCode, 1);
        QByteArray seen = r.out + r.err;
        QVERIFY2(seen.contains("0xC0"), seen.constData());
        for (const QString& name : QDir(data_ + QStringLiteral("/tarnwick")).entryList(QDir::Files)) {
            QFile f(data_ + QStringLiteral("/tarnwick/") + name);
            QVERIFY(f.open(QIODevice::ReadOnly));
            seen += f.readAll();
        }
        for (const QStringList& format : {QStringList{}, QStringList{QStringLiteral("--csv")}, QStringList{QStringLiteral("--json")}})
            seen += Cli(QStringList{QStringLiteral("history")} + format).out;
        QVERIFY(seen.contains("0xc0") || seen.contains("0xC0"));
        for (const char* needle : {"written", "\"read\":", "read 00", "01, read"})
            QVERIFY2(!seen.contains(needle), needle);
    }

    void badSinceExitsTwo_data()
    {
        QTest::addColumn<QString>("since");
        QTest::addColumn<int>("status");
        QTest::newRow("a day") << "2026-03-01" << 0;
        QTest::newRow("a time, no zone: UTC") << "2026-03-01T08:00:00" << 0;
        QTest::newRow("a time with a zone") << "2026-03-01T08:00:00+01:00" << 0;
        QTest::newRow("words") << "yesterday" << 2;
        QTest::newRow("no such day") << "2026-02-30" << 2;
        QTest::newRow("a time of day only") << "08:00" << 2;
        QTest::newRow("trailing text") << "2026-03-01junk" << 2;
        QTest::newRow("a space for the T") << "2026-03-01 08:00:00" << 2;
    }
    void badSinceExitsTwo()
    {
        QFETCH(QString, since);
        QFETCH(int, status);
        const TRun r = Cli({QStringLiteral("history"), QStringLiteral("--since"), since});
        QVERIFY2(r.exitCode == status, r.err.constData());
    }

    void sinceWithoutZoneIsUtc()
    {
        // Far from UTC, a time without a zone still means UTC.
        qputenv("TZ", "Asia/Tokyo");
        const TRun r = Cli({QStringLiteral("-q"), QStringLiteral("--port"), NoPort(0), QStringLiteral("read-config")});
        qunsetenv("TZ");
        QCOMPARE(r.exitCode, 3);
        const QDateTime at = Rows().front().timeUtc;
        for (int minutes : {-1, 1}) {
            const QString since = at.addSecs(60 * minutes).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
            qputenv("TZ", "Asia/Tokyo");
            const TRun h = Cli({QStringLiteral("history"), QStringLiteral("--since"), since, QStringLiteral("--csv")});
            qunsetenv("TZ");
            QCOMPARE(h.exitCode, 0);
            QCOMPARE(h.out.count('\n'), minutes < 0 ? 2 : 1);
        }
    }

    void noRecordWritesNoRow()
    {
        const TRun r = Cli({QStringLiteral("-q"), QStringLiteral("--no-record"), QStringLiteral("--port"), Port(0), QStringLiteral("read-config")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(!QFile::exists(DbPath()));
    }

    void unreachableSharedRecordKeepsRowsAndSaysSo()
    {
        const QString url = QStringLiteral("postgresql:///tarnwick?host=%1&port=5999").arg(dir_.filePath(QStringLiteral("no-server")));
        const TRun r = Cli({QStringLiteral("-q"), QStringLiteral("--record"), url, QStringLiteral("--port"), Port(0), QStringLiteral("read-config")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.contains("cannot be reached") && r.err.contains("kept"), r.err.constData());
        TProductionRecord record(url, DbPath());
        QCOMPARE(record.PendingCount(), 1);
    }

    void manyProcessesAtOnceLoseAndDoubleNothing()
    {
        // Each run is the tool's whole path to the record; its operation is
        // the cheapest there is, a port that does not open (a row all the
        // same, failed with exit status 3), so 400 runs take seconds.
        constexpr int kProcesses = 8, kRuns = 50;
        std::vector<std::unique_ptr<QProcess>> loops;
        for (int i = 0; i < kProcesses; ++i) {
            auto p = std::make_unique<QProcess>();
            p->setProcessEnvironment(Env());
            p->setStandardOutputFile(QProcess::nullDevice());
            const QString script =
                QStringLiteral("for i in $(seq %1); do \"$0\" -q --port \"$1\" read-config 2>/dev/null; [ $? = 3 ] || exit 1; done").arg(kRuns);
            p->start(QStringLiteral("bash"), {QStringLiteral("-c"), script, qEnvironmentVariable("TW_CLI"), NoPort(i)});
            loops.push_back(std::move(p));
        }
        for (auto& p : loops) {
            QVERIFY(p->waitForFinished(240000));
            QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
        }
        const TRecordEntries rows = Rows();
        QCOMPARE(int(rows.size()), kProcesses * kRuns);
        QSet<QString> ids;
        QHash<QString, int> perPort;
        for (const TRecordEntry& e : rows) {
            ids.insert(e.rowId);
            ++perPort[e.port];
        }
        QCOMPARE(int(ids.size()), kProcesses * kRuns);
        for (int i = 0; i < kProcesses; ++i) QCOMPARE(perPort.value(NoPort(i)), kRuns);
    }
};

QTEST_GUILESS_MAIN(TestCliRecord)
#include "test_cli_record.moc"
