// tarnwick-cli link-test: the whole loop (pair two virtual modules with a
// new key, power them up in Cable Link mode, prove the link) and the exit
// statuses.
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "cable_link_rig.h"
#include "cli_run.h"

using TRun = TProcessRun;

class TestCliLinkTest : public QObject {
    Q_OBJECT

private slots:
    void pairThenLinkTestPasses()
    {
        QTemporaryDir dir;
        const QString profile = dir.filePath(QStringLiteral("link.json"));
        TConfigValues v;  // "Cable Link", 76800 bps
        v.channel = 5;
        QVERIFY(WriteProfileFile(profile, v));

        std::array<uint8_t, 256> memA{}, memB{};
        {
            TVirtualModule a, b;
            QVERIFY(a.Start() && b.Start());
            const TRun pair = RunCli({QStringLiteral("-q"), QStringLiteral("--port"), QString::fromStdString(a.PortPath()),
                                      QStringLiteral("--port"), QString::fromStdString(b.PortPath()), QStringLiteral("pair"),
                                      profile, QStringLiteral("--new-key")});
            QVERIFY2(pair.exitCode == 0, pair.err.constData());
            memA = a.Memory();
            memB = b.Memory();
        }
        // Jumpered for Cable Link and powered up again.
        TCableLinkModule a, b;
        TAirOptions o;
        o.name = FreshAirName();
        QVERIFY(a.Start(memA, o) && b.Start(memB, o));
        QVERIFY(AirsMeet(a, b));
        const TRun r = RunCli({QStringLiteral("link-test"), QStringLiteral("--port"), a.Port(), QStringLiteral("--port"),
                               b.Port(), QStringLiteral("--frames"), QStringLiteral("100"), QStringLiteral("--json")});
        QVERIFY2(r.exitCode == 0, r.out.constData());
        const QJsonObject j = QJsonDocument::fromJson(r.out).object();
        QVERIFY(j.value(QStringLiteral("passed")).toBool());
        QCOMPARE(j.value(QStringLiteral("total")).toObject().value(QStringLiteral("received")).toInt(), 200);
    }

    void exitStatus_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("status");
        QTest::newRow("one port without --loopback") << "usage" << 2;
        QTest::newRow("port that does not open") << "missing" << 3;
        QTest::newRow("modules that are no pair") << "unpaired" << 1;
        QTest::newRow("one device under two names") << "twice" << 2;
        QTest::newRow("a --csv that cannot be written") << "csv" << 2;
        QTest::newRow("--flow xonxoff") << "xonxoff" << 2;
    }
    void exitStatus()
    {
        QFETCH(QString, how);
        QFETCH(int, status);
        TCableLinkModule a, b;
        TAirOptions o;
        o.name = FreshAirName();
        // Both Point A with the same key: no pair.
        QVERIFY(a.Start(CableLinkMemory(0x11, true), o) && b.Start(CableLinkMemory(0x11, true), o));
        QVERIFY(AirsMeet(a, b));
        QStringList args{QStringLiteral("link-test"), QStringLiteral("--frames"), QStringLiteral("10")};
        if (how == QLatin1String("usage")) args << QStringLiteral("--port") << a.Port();
        if (how == QLatin1String("missing")) args << QStringLiteral("--loopback") << QStringLiteral("--port") << QStringLiteral("/dev/tarnwick-none");
        if (how == QLatin1String("unpaired")) args << QStringLiteral("--port") << a.Port() << QStringLiteral("--port") << b.Port();
        QTemporaryDir dir;
        const QString alias = dir.filePath(QStringLiteral("alias"));
        if (how == QLatin1String("twice")) {
            QVERIFY(QFile::link(a.Port(), alias));
            args << QStringLiteral("--port") << a.Port() << QStringLiteral("--port") << alias;
        }
        if (how == QLatin1String("csv") || how == QLatin1String("xonxoff"))
            args << QStringLiteral("--port") << a.Port() << QStringLiteral("--port") << b.Port();
        if (how == QLatin1String("csv")) args << QStringLiteral("--csv") << dir.filePath(QStringLiteral("no/such/folder/x.csv"));
        if (how == QLatin1String("xonxoff")) args << QStringLiteral("--flow") << QStringLiteral("xonxoff");
        a.vm.ClearReceived();
        const TRun r = RunCli(args);
        QCOMPARE(r.exitCode, status);
        if (how == QLatin1String("unpaired")) QVERIFY(r.out.contains("Point A and the other Point B"));
        if (status == 2) QCOMPARE(a.vm.ReceivedCount(), 0L);  // nothing was sent
        if (how == QLatin1String("xonxoff")) QVERIFY2(r.err.contains("frames are binary"), r.err.constData());
        QVERIFY(!r.err.contains("win error"));
    }

    // Flat out, a dead direction sends only a window's worth while the
    // other carries thousands: pooled, it would pass. Each direction is
    // judged on its own.
    void deadDirectionFails()
    {
        TCableLinkModule a, b;
        TAirOptions o;
        o.name = FreshAirName();
        TAirOptions dead = o;
        dead.loss = 1.0;  // B's packets never arrive
        QVERIFY(a.Start(CableLinkMemory(0x11, true), o) && b.Start(CableLinkMemory(0x11, false), dead));
        QVERIFY(AirsMeet(a, b));
        const TRun r = RunCli({QStringLiteral("link-test"), QStringLiteral("--port"), a.Port(), QStringLiteral("--port"), b.Port(),
                               QStringLiteral("--seconds"), QStringLiteral("3"), QStringLiteral("--max-per"), QStringLiteral("5"),
                               QStringLiteral("--no-record"), QStringLiteral("--json")});
        QVERIFY2(r.exitCode == 1, r.out.constData());
        const QJsonObject j = QJsonDocument::fromJson(r.out).object();
        QCOMPARE(j.value(QStringLiteral("verdict")).toString(), QStringLiteral("failed"));
        const QStringList failures = j.value(QStringLiteral("failures")).toVariant().toStringList();
        QVERIFY2(failures.contains(QStringLiteral("B to A: nothing arrived")), r.out.constData());
        QVERIFY(!failures.join(' ').contains(QStringLiteral("A to B")));
        QVERIFY(j.value(QStringLiteral("advice")).toVariant().toStringList().join(' ').contains(QStringLiteral("Point A and the other Point B")));
        // The pooled rate alone would have passed it.
        QVERIFY2(j.value(QStringLiteral("total")).toObject().value(QStringLiteral("per_percent")).toDouble() < 5, r.out.constData());
    }

    // Ctrl-C or SIGTERM: not judged, its own exit status, and the record's
    // rows say "stopped", never "ok".
    void stoppedRunIsNotPassed()
    {
        TCableLinkModule m;
        TAirOptions o;
        o.loopback = true;
        QVERIFY(m.Start(CableLinkMemory(0x11, true), o));
        QTemporaryDir dir;
        const QString record = dir.filePath(QStringLiteral("record.sqlite"));
        QProcess p;
        p.start(qEnvironmentVariable("TW_CLI"), {QStringLiteral("link-test"), QStringLiteral("--loopback"), QStringLiteral("--port"),
                                                 m.Port(), QStringLiteral("--seconds"), QStringLiteral("60"),
                                                 QStringLiteral("--record"), record});
        QVERIFY(p.waitForStarted(20000));
        QTRY_VERIFY_WITH_TIMEOUT(m.vm.ReceivedCount() > 1000, 30000);
        p.terminate();  // SIGTERM
        QVERIFY(p.waitForFinished(30000));
        const QByteArray out = p.readAllStandardOutput();
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY2(p.exitCode() == 5, out.constData());
        QVERIFY2(out.startsWith("STOPPED after") && out.contains("not judged"), out.constData());
        QVERIFY(!out.contains("PASSED"));
        const TRun h = RunCli({QStringLiteral("history"), QStringLiteral("--record"), record, QStringLiteral("--json")});
        QCOMPARE(h.exitCode, 0);
        const QList<QByteArray> rows = h.out.trimmed().split('\n');
        QCOMPARE(rows.size(), 1);
        const QJsonObject row = QJsonDocument::fromJson(rows[0]).object();
        QCOMPARE(row.value(QStringLiteral("operation")).toString(), QStringLiteral("link-test"));
        QCOMPARE(row.value(QStringLiteral("outcome")).toString(), QStringLiteral("stopped"));
        QCOMPARE(row.value(QStringLiteral("exit_status")).toInt(), 5);
    }
};

QTEST_GUILESS_MAIN(TestCliLinkTest)
#include "test_cli_link_test.moc"
