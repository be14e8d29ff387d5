// tarnwick-vmodule: its command line, and the program run as a separate process.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>
#include <sys/stat.h>

#include <fstream>

#include "tools/vmodule/vmodule_options.h"
#include "vmodule_peer_helper.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool Parse(const std::vector<std::string>& args, TVModuleOptions* o, std::string* e = nullptr)
{
    std::string dummy;
    return ParseVModuleOptions(args, o, e ? e : &dummy);
}

}  // namespace

class TestVModuleProgram : public QObject {
    Q_OBJECT

    QString exe_;

    // Starts the program and reads the path line it prints.
    bool Launch(QProcess& p, const QStringList& args, std::string* path)
    {
        p.setProgram(exe_);
        p.setArguments(args);
        p.start();
        if (!p.waitForStarted(10000)) return false;
        if (!QTest::qWaitFor([&] { return p.canReadLine() || p.state() != QProcess::Running; }, 10000)) return false;
        if (!p.canReadLine()) return false;
        *path = QString::fromLocal8Bit(p.readLine()).trimmed().toStdString();
        return !path->empty();
    }

    static bool EndWith(QProcess& p, int sig)
    {
        ::kill(pid_t(p.processId()), sig);
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit;
    }

private slots:
    void initTestCase() { exe_ = qEnvironmentVariable("TW_VMODULE"); }

    void defaultsAndEveryOption()
    {
        TVModuleOptions o;
        QVERIFY(Parse({}, &o));
        QVERIFY(!o.help);
        QVERIFY(o.image.empty() && o.link.empty() && !o.addressSet);
        QCOMPARE(o.faults.replyDelayMs, 0);
        QCOMPARE(o.faults.readFlashHeader, -1);
        QCOMPARE(o.faults.hangUpAfterBytes, -1L);
        QCOMPARE(o.faults.versionReplyLength, 5);

        QVERIFY(Parse({"--image", "/tmp/a.img", "--link=/tmp/ttyT", "--delay", "250", "--silent", "--read-header",
                       "5f", "--extra-byte", "--hangup-after=12", "--address", "12AB", "--version-length", "6",
                       "--version-byte", "44"},
                      &o));
        QCOMPARE(o.image, std::string("/tmp/a.img"));
        QCOMPARE(o.link, std::string("/tmp/ttyT"));
        QCOMPARE(o.faults.replyDelayMs, 250);
        QVERIFY(o.faults.silent);
        QCOMPARE(o.faults.readFlashHeader, 0x5F);
        QVERIFY(o.faults.extraReplyByte);
        QCOMPARE(o.faults.hangUpAfterBytes, 12L);
        QVERIFY(o.addressSet);
        QCOMPARE(o.address, uint16_t(0x12AB));
        QCOMPARE(o.faults.versionReplyLength, 6);
        QCOMPARE(o.faults.versionFirstByte, uint8_t(0x44));
        QCOMPARE(o.faults.corruptWriteAddress, -1);
        QVERIFY(Parse({"--corrupt-write", "C5", "--config-image=/tmp/c.bin"}, &o));
        QCOMPARE(o.faults.corruptWriteAddress, 0xC5);
        QCOMPARE(o.configImage, std::string("/tmp/c.bin"));
        QVERIFY(Parse({"--help"}, &o));
        QVERIFY(o.help);
        QVERIFY(Parse({"--mode", "cable-link", "--air=bench", "--air-loss", "0.05", "--air-bit-errors", "1e-4",
                       "--air-latency", "20"},
                      &o));
        QVERIFY(o.cableLink && o.air.name == "bench" && !o.air.loopback);
        QCOMPARE(o.air.loss, 0.05);
        QCOMPARE(o.air.bitErrors, 1e-4);
        QCOMPARE(o.air.latencyMs, 20);
    }

    void badCommandLines_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("unknown") << QStringList{"--fast"};
        QTest::newRow("bare word") << QStringList{"image.bin"};
        QTest::newRow("missing value") << QStringList{"--delay"};
        QTest::newRow("empty path") << QStringList{"--image="};
        QTest::newRow("negative delay") << QStringList{"--delay", "-5"};
        QTest::newRow("huge delay") << QStringList{"--delay", "99999999"};
        QTest::newRow("header not hex") << QStringList{"--read-header", "G0"};
        QTest::newRow("header too big") << QStringList{"--read-header", "100"};
        QTest::newRow("address too big") << QStringList{"--address", "10000"};
        QTest::newRow("hang-up not a number") << QStringList{"--hangup-after", "3x"};
        QTest::newRow("flag with value") << QStringList{"--silent=1"};
        QTest::newRow("version too long") << QStringList{"--version-length", "65"};
        QTest::newRow("corrupt address too big") << QStringList{"--corrupt-write", "100"};
        QTest::newRow("air without cable-link mode") << QStringList{"--air", "x"};
        QTest::newRow("cable-link without an air") << QStringList{"--mode", "cable-link"};
        QTest::newRow("air and loopback") << QStringList{"--mode", "cable-link", "--air", "x", "--loopback"};
        QTest::newRow("loss above one") << QStringList{"--mode", "cable-link", "--loopback", "--air-loss", "1.5"};
        QTest::newRow("air name with a slash") << QStringList{"--mode", "cable-link", "--air", "a/b"};
        QTest::newRow("corrupt address missing") << QStringList{"--corrupt-write"};
        QTest::newRow("config image empty") << QStringList{"--config-image="};
    }
    void badCommandLines()
    {
        QFETCH(QStringList, args);
        std::vector<std::string> a;
        for (const QString& s : args) a.push_back(s.toStdString());
        TVModuleOptions o;
        o.faults.replyDelayMs = 77;
        std::string error;
        QVERIFY(!Parse(a, &o, &error));
        QVERIFY(!error.empty());
        QCOMPARE(o.faults.replyDelayMs, 77);  // untouched on failure
    }

    void programAnswersUntilInterrupted()
    {
        if (exe_.isEmpty()) QSKIP("TW_VMODULE names no program");
        QProcess p;
        std::string path;
        QVERIFY(Launch(p, {}, &path));
        TPtyPeer peer;
        QVERIFY2(peer.Open(path), path.c_str());
        QCOMPARE(peer.Exchange({0x0F}, 5).size(), size_t(5));
        peer.Close();
        QVERIFY(peer.Open(path));
        QCOMPARE(peer.Exchange({0x01}, 1), Bytes{0x6B});
        QCOMPARE(peer.Exchange({0x00, 0x00, 0x00}, 1), Bytes{0x6B});
        QVERIFY(EndWith(p, SIGINT));
        QCOMPARE(p.exitCode(), 0);
        // The pty went with it.
        QVERIFY(peer.WaitHangUp());
    }

    void programWithFaultsImageAndLink()
    {
        if (exe_.isEmpty()) QSKIP("TW_VMODULE names no program");
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("m.img"));
        const QString link = dir.filePath(QStringLiteral("ttyT"));
        QProcess p;
        std::string path;
        QVERIFY(Launch(p,
                       {"--image", image, "--link", link, "--read-header", "60", "--extra-byte", "--delay", "20",
                        "--address", "0102"},
                       &path));
        QCOMPARE(QString::fromStdString(path), link);
        TPtyPeer peer;
        QVERIFY(peer.Open(path));
        const Bytes r = peer.Exchange({0x31, 0x1F}, 34);
        QCOMPARE(r.size(), size_t(34));
        QCOMPARE(r[0], uint8_t(0x60));
        QCOMPARE(peer.Exchange({0x00, 0x02, 0x01}, 2), (Bytes{0x6B, 0x00}));
        QCOMPARE(peer.Exchange({0x30, 0x00, 0x12}, 2), (Bytes{0x6B, 0x00}));
        peer.Close();
        QVERIFY(EndWith(p, SIGTERM));
        QCOMPARE(p.exitCode(), 0);
        std::ifstream f(image.toStdString(), std::ios::binary);
        const Bytes saved((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        QCOMPARE(saved.size(), size_t(256));
        QCOMPARE(saved[0], uint8_t(0x12));
        QCOMPARE(saved[1], uint8_t(0xFF));
        struct stat st;
        QCOMPARE(lstat(link.toLocal8Bit().constData(), &st), -1);
    }

    // The configuration memory starts from a 128-byte file; a block write
    // to the corrupted address keeps a wrong byte there.
    void programWithConfigImageAndCorruptWrite()
    {
        if (exe_.isEmpty()) QSKIP("TW_VMODULE names no program");
        QTemporaryDir dir;
        const QString config = dir.filePath(QStringLiteral("config.bin"));
        Bytes cfg(128);
        for (int i = 0; i < 128; ++i) cfg[size_t(i)] = uint8_t(i * 7 + 1);
        {
            std::ofstream f(config.toStdString(), std::ios::binary);
            f.write(reinterpret_cast<const char*>(cfg.data()), 128);
        }
        QProcess p;
        std::string path;
        QVERIFY(Launch(p, {"--config-image", config, "--corrupt-write", "03"}, &path));
        TPtyPeer peer;
        QVERIFY(peer.Open(path));
        for (int block = 0; block < 4; ++block) {
            const Bytes r = peer.Exchange({0x31, uint8_t(0x9F + 0x20 * block)}, 33);
            QCOMPARE(r.size(), size_t(33));
            QCOMPARE(Bytes(r.begin() + 1, r.end()), Bytes(cfg.begin() + 32 * block, cfg.begin() + 32 * block + 32));
        }
        QCOMPARE(peer.Exchange({0x31, 0x1F}, 33)[1], uint8_t(0xFF));  // flash untouched
        QCOMPARE(peer.Exchange({0x30, 0x03, 0x10, 0x20, 0x30, 0x40}, 1), Bytes{0x6B});
        QCOMPARE(peer.Exchange({0x31, 0x03}, 5), (Bytes{0x43, 0x10, 0x20, 0x30, 0x41}));
        peer.Close();
        QVERIFY(EndWith(p, SIGTERM));

        // A file of another length, or none, is refused at start.
        for (const QString& bad : {dir.filePath(QStringLiteral("missing.bin")), dir.filePath(QStringLiteral("short"))}) {
            if (bad.endsWith(QLatin1String("short"))) std::ofstream(bad.toStdString()) << "abc";
            p.start(exe_, {"--config-image", bad});
            QVERIFY(p.waitForFinished(10000));
            QCOMPARE(p.exitCode(), 1);
            QVERIFY(p.readAllStandardError().contains(bad.toLocal8Bit()));
        }
    }

    void programHangsUpAndEnds()
    {
        if (exe_.isEmpty()) QSKIP("TW_VMODULE names no program");
        QProcess p;
        std::string path;
        QVERIFY(Launch(p, {"--hangup-after", "2"}, &path));
        TPtyPeer peer;
        QVERIFY(peer.Open(path));
        QCOMPARE(peer.Exchange({0x01}, 1), Bytes{0x6B});
        QVERIFY(peer.Send({0x02}));
        QVERIFY(peer.WaitHangUp());
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.readAllStandardError().contains("hung up"));
    }

    void helpAndBadOption()
    {
        if (exe_.isEmpty()) QSKIP("TW_VMODULE names no program");
        QProcess p;
        p.start(exe_, {"--help"});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray help = p.readAllStandardOutput();
        for (const char* opt : {"--image", "--delay", "--silent", "--read-header", "--extra-byte", "--hangup-after",
                                "--link", "--help", "--config-image", "--corrupt-write"})
            QVERIFY2(help.contains(opt), opt);
        p.start(exe_, {"--bogus"});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("--bogus"));
        QVERIFY(p.readAllStandardOutput().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestVModuleProgram)
#include "test_vmodule_program.moc"
