// tarnwick-cli pair against two virtual modules: every exit status, the new
// key printed once or kept in the profile, and the memories it leaves.
#include <signal.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "commands/pair_programming.h"
#include "module/config_decoder.h"
#include "cli_run.h"
#include "module/config_image.h"
#include "settings/key_generator.h"
#include "support/module_pair.h"

using TRun = TProcessRun;

class TestCliPair : public QObject, TModulePair {
    Q_OBJECT

    QTemporaryDir dir_;
    QString profile_;

    QStringList Ports()
    {
        return {QStringLiteral("-q"), QStringLiteral("--port"), QString::fromStdString(a_->PortPath()),
                QStringLiteral("--port"), QString::fromStdString(b_->PortPath())};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        profile_ = dir_.filePath(QStringLiteral("link.json"));
        TConfigValues v;
        v.channel = 5;
        QVERIFY(WriteProfileFile(profile_, v));
    }
    void init()
    {
        std::string error;
        QVERIFY2(StartPair(&error), error.c_str());
    }
    void cleanup() { StopPair(); }

    void usageErrorsExitTwo()
    {
        const QString port = QString::fromStdString(a_->PortPath());
        TRun r = RunCli({QStringLiteral("--port"), port, QStringLiteral("pair"), profile_});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.contains("exactly two --port"));
        r = RunCli(Ports() + QStringList{QStringLiteral("pair"), profile_, QStringLiteral("-o"), dir_.filePath(QStringLiteral("x.json"))});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.contains("only with --new-key"));
        r = RunCli(Ports() + QStringList{QStringLiteral("--new-key"), QStringLiteral("probe")});
        QCOMPARE(r.exitCode, 2);
        r = RunCli(Ports() + QStringList{QStringLiteral("pair"), dir_.filePath(QStringLiteral("none.json"))});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.contains("cannot read"));
        // Nothing reached either module.
        QCOMPARE(a_->ReceivedCount(), 0L);
        QCOMPARE(b_->ReceivedCount(), 0L);
    }

    void newKeyIsPrintedOnceAndProgrammed()
    {
        const TRun r = RunCli(Ports() + QStringList{QStringLiteral("pair"), profile_, QStringLiteral("--new-key")});
        QCOMPARE(r.exitCode, 0);
        const QRegularExpression keyLine(QStringLiteral("New key: ([0-9A-F]{32})\n"));
        const QRegularExpressionMatch m = keyLine.match(QString::fromLocal8Bit(r.out));
        QVERIFY2(m.hasMatch(), r.out.constData());
        const QString key = m.captured(1);
        QCOMPARE(r.out.count(key.toLatin1()), 1);
        QVERIFY(!IsExampleKey(key));
        QVERIFY(r.out.contains("Point A on "));
        QVERIFY(r.out.contains("C2.10"));
        TConfigValues v;
        v.channel = 5;
        v.key = key;
        const std::array<TMemoryBytes, 2> images = PairImages(v);
        QVERIFY(ConfigOf(*a_) == images[0]);
        QVERIFY(ConfigOf(*b_) == images[1]);
    }

    // A weak key goes out only on request; a raw image serves as the settings.
    void weakKeyOnRequestFromAnImage()
    {
        TConfigValues v;
        v.channel = 5;
        v.key = QStringLiteral("FFFF");
        const TConfigImage image = ConfigImage(v);
        const QString bin = dir_.filePath(QStringLiteral("weak.bin"));
        QFile f(bin);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(image.data()), qsizetype(image.size()));
        f.close();
        const TRun r = RunCli(Ports() + QStringList{QStringLiteral("pair"), bin, QStringLiteral("--weak-key")});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QVERIFY2(r.err.contains("weak key"), r.err.constData());
        const TConfigValues decoded = DecodeConfigImage(image).values;
        QVERIFY(ConfigOf(*a_) == PairImages(decoded)[0]);
        QVERIFY(ConfigOf(*b_) == PairImages(decoded)[1]);
    }

    void newKeyGoesIntoTheProfileWithO()
    {
        const QString out = dir_.filePath(QStringLiteral("pair.json"));
        const TRun r = RunCli(Ports() + QStringList{QStringLiteral("--json"), QStringLiteral("pair"), profile_,
                                                    QStringLiteral("--new-key"), QStringLiteral("-o"), out});
        QCOMPARE(r.exitCode, 0);
        QFile f(out);
        // The file holds the key: its owner's only.
        QCOMPARE(f.permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const TConfigProfileRead read = ReadConfigProfile(f.readAll());
        QVERIFY(read.check.ok);
        QCOMPARE(read.values.channel, 5);
        QVERIFY(!IsExampleKey(read.values.key));
        // The key is in the file only, never on stdout.
        QVERIFY(!r.out.contains(read.values.key.toLatin1()));
        QVERIFY(ConfigOf(*a_) == PairImages(read.values)[0]);
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(QJsonDocument::fromJson(lines[1]).object().value(QStringLiteral("role")).toString(), QStringLiteral("Point B"));
    }

    void silentModuleExitsOneAndIsNamed()
    {
        TVirtualModuleFaults f;
        f.silent = true;
        a_->SetFaults(f);
        const TRun r = RunCli(Ports() + QStringList{QStringLiteral("pair"), profile_});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains("example key"));  // the profile kept it
        QVERIFY2(r.out.contains("Point A on " + QByteArray::fromStdString(a_->PortPath()) + ": FAILED"), r.out.constData());
        QVERIFY(r.out.contains("Redo this module"));
        QVERIFY(r.out.contains("Point B on " + QByteArray::fromStdString(b_->PortPath()) + ": ok"));
        TConfigValues v;
        v.channel = 5;
        QVERIFY(ConfigOf(*b_) == PairImages(v)[1]);
    }

    // However the run ends (here: at once, mid-run), the key the modules may
    // already hold is on stdout.
    void newKeyIsOutBeforeTheFirstByte_data()
    {
        QTest::addColumn<QStringList>("form");
        QTest::addColumn<QString>("keyPattern");
        QTest::newRow("text") << QStringList{} << "^New key: [0-9A-F]{32}\n$";
        QTest::newRow("json") << QStringList{"--json"} << "^\\{\"command\":\"pair\",\"new_key\":\"[0-9A-F]{32}\"\\}\n$";
    }
    void newKeyIsOutBeforeTheFirstByte()
    {
        QFETCH(QStringList, form);
        QFETCH(QString, keyPattern);
        TVirtualModuleFaults f;
        f.silent = true;  // a run long enough to be cut
        a_->SetFaults(f);
        b_->SetFaults(f);
        QProcess p;
        p.start(qEnvironmentVariable("TW_CLI"), Ports() + form + QStringList{QStringLiteral("pair"), profile_, QStringLiteral("--new-key")});
        QVERIFY(p.waitForStarted(20000));
        QVERIFY(QTest::qWaitFor([&] { return a_->ReceivedCount() > 0 || b_->ReceivedCount() > 0; }, 30000));
        ::kill(pid_t(p.processId()), SIGKILL);
        QVERIFY(p.waitForFinished(30000));
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        QVERIFY2(QRegularExpression(keyPattern).match(out).hasMatch(), qPrintable(out));
    }

    void missingDeviceExitsThree()
    {
        const TRun r = RunCli({QStringLiteral("-q"), QStringLiteral("--port"), QStringLiteral("/dev/ttyNOSUCH9"),
                               QStringLiteral("--port"), QString::fromStdString(b_->PortPath()), QStringLiteral("pair"),
                               profile_});
        QCOMPARE(r.exitCode, 3);
        QVERIFY(r.err.contains("/dev/ttyNOSUCH9"));
        QVERIFY(r.out.contains("Point B on " + QByteArray::fromStdString(b_->PortPath()) + ": ok"));
    }
};

QTEST_MAIN(TestCliPair)
#include "test_cli_pair.moc"
