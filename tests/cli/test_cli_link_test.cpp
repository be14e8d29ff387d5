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
#include "process_run.h"
#include "settings/config_profile.h"

namespace {

using TRun = TProcessRun;

TRun RunCli(const QStringList& args)
{
    QProcess p;
    p.start(qEnvironmentVariable("TW_CLI"), args);
    if (!p.waitForStarted(20000)) return {};
    p.closeWriteChannel();
    return FinishProcess(p);
}

}  // namespace

class TestCliLinkTest : public QObject {
    Q_OBJECT

private slots:
    void pairThenLinkTestPasses()
    {
        QTemporaryDir dir;
        const QString profile = dir.filePath(QStringLiteral("link.json"));
        QFile f(profile);
        QVERIFY(f.open(QIODevice::WriteOnly));
        TConfigValues v;  // "Cable Link", 76800 bps
        v.channel = 5;
        f.write(WriteConfigProfile(v));
        f.close();

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
        const TRun r = RunCli(args);
        QCOMPARE(r.exitCode, status);
        if (how == QLatin1String("unpaired")) QVERIFY(r.out.contains("Point A and the other Point B"));
    }
};

QTEST_GUILESS_MAIN(TestCliLinkTest)
#include "test_cli_link_test.moc"
