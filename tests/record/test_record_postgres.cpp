// The shared record against a real PostgreSQL server that the test starts
// itself (initdb, pg_ctl) in a temporary folder on a Unix socket, as an
// unprivileged user when the test runs as root (the server refuses root).
// Skipped only when the server's programs are not installed.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include "record/history_model.h"
#include "record/production_record.h"

namespace {

QString PostgresBin()
{
    const QStringList found = QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (auto it = found.crbegin(); it != found.crend(); ++it) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(*it);
        if (QFileInfo(bin + QStringLiteral("/initdb")).isExecutable() && QFileInfo(bin + QStringLiteral("/pg_ctl")).isExecutable())
            return bin;
    }
    return {};
}

TRecordEntry Row(int i)
{
    TRecordEntry e = NewRecordEntry(QStringLiteral("test"), QStringLiteral("program-config"));
    e.port = QStringLiteral("/dev/ttyUSB%1").arg(i);
    e.outcome = QStringLiteral("ok");
    return e;
}

}  // namespace

class TestRecordPostgres : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString bin_;
    QString data_, socket_;
    bool running_ = false;

    // The server's programs run as "nobody" under root.
    bool Run(const QString& program, const QStringList& args, QByteArray* output = nullptr)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setWorkingDirectory(dir_.path());
        const QString exe = bin_ + QLatin1Char('/') + program;
        if (::geteuid() == 0)
            p.start(QStringLiteral("setpriv"), QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                                           QStringLiteral("--clear-groups"), exe} + args);
        else
            p.start(exe, args);
        const bool ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (output) *output = p.readAll();
        return ok;
    }
    bool Start()
    {
        QByteArray out;
        running_ = Run(QStringLiteral("pg_ctl"),
                       {QStringLiteral("-D"), data_, QStringLiteral("-l"), dir_.filePath(QStringLiteral("pg/log")), QStringLiteral("-w"),
                        QStringLiteral("-o"), QStringLiteral("-k %1 -c listen_addresses= -p 5432").arg(socket_), QStringLiteral("start")},
                       &out);
        if (!running_) qWarning("%s", out.constData());
        return running_;
    }
    bool Stop()
    {
        running_ = !Run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), data_, QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")});
        return !running_;
    }
    QString Url() const { return QStringLiteral("postgresql:///postgres?host=%1&port=5432&user=tarnwick").arg(socket_); }
    QString Local() const { return dir_.filePath(QStringLiteral("local.sqlite")); }

private slots:
    void initTestCase()
    {
        bin_ = PostgresBin();
        if (bin_.isEmpty()) QSKIP("PostgreSQL's initdb and pg_ctl are not installed (Debian package postgresql)");
        QVERIFY(dir_.isValid());
        // A folder the server's user owns; the test's own stays private otherwise.
        const QString pg = dir_.filePath(QStringLiteral("pg"));
        QVERIFY(QDir().mkpath(pg + QStringLiteral("/sock")));
        if (::geteuid() == 0) {
            QVERIFY(::chmod(QFile::encodeName(dir_.path()).constData(), 0711) == 0);
            for (const QString& d : {pg, pg + QStringLiteral("/sock")})
                QVERIFY(::chown(QFile::encodeName(d).constData(), 65534, 65534) == 0);
        }
        data_ = pg + QStringLiteral("/data");
        socket_ = pg + QStringLiteral("/sock");
        QByteArray out;
        QVERIFY2(Run(QStringLiteral("initdb"), {QStringLiteral("-D"), data_, QStringLiteral("-U"), QStringLiteral("tarnwick"),
                                                QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("--no-locale"),
                                                QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--no-sync")},
                     &out),
                 out.constData());
        QVERIFY(Start());
    }
    void cleanupTestCase()
    {
        if (running_) Stop();
    }

    void rowsGoToTheSharedRecord()
    {
        TProductionRecord record(Url(), Local());
        const TRecordResult r = record.Append({Row(1), Row(2)});
        QVERIFY2(r.ok && r.stored == 2 && r.keptLocally == 0, qPrintable(r.notice));
        TRecordEntries rows;
        QString error;
        QVERIFY2(record.Select({}, &rows, &error), qPrintable(error));
        QCOMPARE(int(rows.size()), 2);
        QCOMPARE(rows[1].port, QStringLiteral("/dev/ttyUSB2"));
        QVERIFY(!record.Describe().contains(QStringLiteral("password")));
    }

    void stationsAtOnceNeverShareAnAddress()
    {
        // Two stations, each a thread with its own connection, one module at
        // a time: forty addresses, none twice.
        std::vector<TUnitReservation> got[2];
        QString errors[2];
        auto station = [&](int s) {
            TProductionRecord record(Url(), dir_.filePath(QStringLiteral("station%1.sqlite").arg(s)));
            for (int i = 0; i < 20; ++i) {
                TUnitRequest r;
                r.port = QStringLiteral("/dev/ttyUSB%1").arg(i);
                r.runId = QStringLiteral("station%1").arg(s);
                std::vector<TUnitReservation> one;
                if (!record.ReserveUnitAddresses({r}, &one, &errors[s])) return;
                got[s].push_back(one[0]);
            }
        };
        QThread* a = QThread::create(station, 0);
        QThread* b = QThread::create(station, 1);
        a->start();
        b->start();
        QVERIFY(a->wait(60000) && b->wait(60000));
        delete a;
        delete b;
        QVERIFY2(errors[0].isEmpty() && errors[1].isEmpty(), qPrintable(errors[0] + errors[1]));
        QSet<QString> all;
        for (const auto& list : got)
            for (const TUnitReservation& r : list) all.insert(r.address);
        QCOMPARE(int(all.size()), 40);
        // The row marks its reservation; its time comes back as it went in.
        TProductionRecord record(Url(), Local());
        TRecordEntry e = Row(3);
        e.unitAddress = got[0][3].address;
        e.runId = QStringLiteral("station0");
        QVERIFY(record.Append({e}).ok);
        TRecordEntries rows;
        QString error;
        TRecordQuery q;
        q.since = e.timeUtc;
        QVERIFY2(record.Select(q, &rows, &error), qPrintable(error));
        QCOMPARE(int(rows.size()), 1);
        QCOMPARE(rows[0].timeUtc, e.timeUtc);
        QCOMPARE(rows[0].unitAddress, e.unitAddress);
    }

    void missingDatabaseToldAsSuchAndRowsWaitForTheirOwn()
    {
        const QString other = QStringLiteral("postgresql:///nosuchdb?host=%1&port=5432&user=tarnwick").arg(socket_);
        const QString local = dir_.filePath(QStringLiteral("own.sqlite"));
        TProductionRecord missing(other, local);
        const TRecordResult r = missing.Append({Row(7)});
        QVERIFY(r.ok);
        QCOMPARE(r.keptLocally, 1);
        QVERIFY2(r.notice.contains(QStringLiteral("no such database")), qPrintable(r.notice));
        // The reachable record beside it never takes that row.
        TProductionRecord reachable(Url(), local);
        const TRecordResult s = reachable.Append({});
        QCOMPARE(s.sentLater, 0);
        QCOMPARE(reachable.PendingCount(), 0);
        QCOMPARE(missing.PendingCount(), 1);
    }

    void serverStoppedMidBatchKeepsRowsAndSendsThemLater()
    {
        // One record object across the outage: its open connection breaks.
        TProductionRecord record(Url(), Local());
        TRecordEntries before;
        QString error;
        QVERIFY(record.Select({}, &before, &error));
        QVERIFY(record.Append({Row(10)}).ok);
        QVERIFY(Stop());
        TRecordResult r = record.Append({Row(11), Row(12)});
        QVERIFY(r.ok);
        QCOMPARE(r.keptLocally, 2);
        QVERIFY2(r.notice.contains(QStringLiteral("cannot be reached")), qPrintable(r.notice));
        r = record.Append({Row(13)});
        QCOMPARE(r.keptLocally, 1);
        QCOMPARE(record.PendingCount(), 3);

        QVERIFY(Start());
        r = record.Append({Row(14)});
        QVERIFY2(r.ok && r.sentLater == 3 && r.stored == 1, qPrintable(r.notice));
        QCOMPARE(record.PendingCount(), 0);
        TRecordEntries rows;
        QVERIFY2(record.Select({}, &rows, &error), qPrintable(error));
        QCOMPARE(int(rows.size()), int(before.size()) + 5);
        QSet<QString> ids;
        for (const TRecordEntry& e : rows) ids.insert(e.rowId);
        QCOMPARE(int(ids.size()), int(rows.size()));
    }

    // The History's questions in PostgreSQL's dialect: a search in any
    // case that hits one row of a pair, sorted by port, counted.
    void historyReadsTheSharedRecord()
    {
        TRecordEntries rows{Row(30), Row(31), Row(32)};
        rows[0].pairId = rows[2].pairId = QStringLiteral("shared-pair");
        rows[2].error = QStringLiteral("No Answer");
        {
            TProductionRecord record(Url(), Local());
            QVERIFY(record.Append(rows).ok);
        }
        THistoryModel model;
        THistoryFilter f;
        f.text = QStringLiteral("no answer");
        model.SetFilter(f);
        model.sort(THistoryModel::Port, Qt::DescendingOrder);
        model.SetLocation(Url(), Local());
        QTRY_VERIFY_WITH_TIMEOUT(model.CurrentState() == THistoryModel::State::Idle
                                     && (model.MatchingRows() >= 0 || !model.LoadError().isEmpty()), 20000);
        QCOMPARE(model.LoadError(), QString());
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.MatchingRows(), qint64(2));
        QCOMPARE(model.EntryAt(0).port, QStringLiteral("/dev/ttyUSB30"));
        QCOMPARE(model.EntryAt(1).port, QStringLiteral("/dev/ttyUSB32"));
    }
};

QTEST_GUILESS_MAIN(TestRecordPostgres)
#include "test_record_postgres.moc"
