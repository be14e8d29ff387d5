// The tool's parts without a module: options and their usage errors, the
// send parameters, the output forms, the progress line, the per-port runner
// and the files.
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <stdexcept>

#include "commands/command_catalogue.h"
#include "module/line_claims.h"
#include "pty_pair.h"
#include "serial/port_list.h"
#include "tools/cli/cli_files.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/port_runner.h"
#include "tools/cli/progress_display.h"
#include "tools/cli/result_output.h"
#include "tools/cli/send_params.h"

class TestCliParts : public QObject {
    Q_OBJECT

    static TCliOptions Parse(const QStringList& args)
    {
        TCliOptions o;
        QString error;
        if (!ParseCliOptions(args, &o, &error)) qWarning("unexpected usage error: %s", qPrintable(error));
        return o;
    }

private slots:
    void optionsTakeTheContractsDefaultsAndValues()
    {
        TCliOptions o = Parse({QStringLiteral("--port"), QStringLiteral("/dev/ttyUSB0"), QStringLiteral("probe")});
        QCOMPARE(o.command, TCliCommand::Probe);
        QCOMPARE(o.ports, QStringList{QStringLiteral("/dev/ttyUSB0")});
        QCOMPARE(o.baud, 57600);
        QCOMPARE(o.flowItem, 0);  // RTS/CTS, as the Com Port page
        QCOMPARE(o.dataItem, 0);
        QCOMPARE(o.parityItem, 0);
        QCOMPARE(o.stopItem, 0);
        QVERIFY(o.verify);

        o = Parse({QStringLiteral("--port=/dev/a"), QStringLiteral("--port"), QStringLiteral("/dev/b"),
                   QStringLiteral("--baud"), QStringLiteral("9600"), QStringLiteral("--flow"), QStringLiteral("none"),
                   QStringLiteral("--data"), QStringLiteral("7"), QStringLiteral("--parity"), QStringLiteral("even"),
                   QStringLiteral("--stop"), QStringLiteral("2"), QStringLiteral("--json"), QStringLiteral("-q"),
                   QStringLiteral("program-flash"), QStringLiteral("image.bin"), QStringLiteral("--no-verify")});
        QCOMPARE(o.ports, (QStringList{QStringLiteral("/dev/a"), QStringLiteral("/dev/b")}));
        QCOMPARE(o.baud, 9600);
        QCOMPARE(o.flowItem, 3);
        QCOMPARE(o.dataItem, 1);
        QCOMPARE(o.parityItem, 2);
        QCOMPARE(o.stopItem, 1);
        QVERIFY(o.json && o.quiet && !o.verify);
        QCOMPARE(o.command, TCliCommand::ProgramFlash);
        QCOMPARE(o.args, QStringList{QStringLiteral("image.bin")});

        // send keeps its parameters in order, texts with blanks whole.
        o = Parse({QStringLiteral("--port"), QStringLiteral("/dev/a"), QStringLiteral("send"),
                   QStringLiteral("Set RF Channel"), QStringLiteral("Channel 3")});
        QCOMPARE(o.command, TCliCommand::Send);
        QCOMPARE(o.args, (QStringList{QStringLiteral("Set RF Channel"), QStringLiteral("Channel 3")}));

        QVERIFY(Parse({QStringLiteral("--help")}).help);
        QVERIFY(Parse({QStringLiteral("probe"), QStringLiteral("--version")}).version);
        QCOMPARE(Parse({QStringLiteral("ports")}).command, TCliCommand::Ports);
    }

    void usageErrorsSayWhatIsWrong_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        const QString p = QStringLiteral("--port"), d = QStringLiteral("/dev/x");
        QTest::newRow("nothing") << QStringList{} << "no command";
        QTest::newRow("unknown command") << QStringList{p, d, "erase"} << "unknown command erase";
        QTest::newRow("unknown option") << QStringList{p, d, "--fast", "probe"} << "unknown option --fast";
        QTest::newRow("no port") << QStringList{"probe"} << "needs at least one --port";
        QTest::newRow("port without path") << QStringList{"probe", p} << "--port needs";
        QTest::newRow("port twice") << QStringList{p, d, p, d, "probe"} << "given twice";
        QTest::newRow("ports with port") << QStringList{p, d, "ports"} << "ports takes no --port";
        QTest::newRow("bad baud") << QStringList{p, d, "--baud", "fast", "probe"} << "--baud";
        QTest::newRow("baud zero") << QStringList{p, d, "--baud", "0", "probe"} << "--baud";
        QTest::newRow("bad flow") << QStringList{p, d, "--flow", "cts", "probe"} << "--flow";
        QTest::newRow("bad data") << QStringList{p, d, "--data", "9", "probe"} << "--data";
        QTest::newRow("bad parity") << QStringList{p, d, "--parity", "mark", "probe"} << "--parity";
        QTest::newRow("bad stop") << QStringList{p, d, "--stop", "1.5", "probe"} << "--stop";
        QTest::newRow("program without file") << QStringList{p, d, "program-flash"} << "needs a FILE";
        QTest::newRow("extra argument") << QStringList{p, d, "probe", "now"} << "takes no argument now";
        QTest::newRow("-o on probe") << QStringList{p, d, "-o", "x.bin", "probe"} << "probe takes no -o";
        QTest::newRow("no-verify on read") << QStringList{p, d, "read-flash", "--no-verify"} << "--no-verify";
        QTest::newRow("config to txt") << QStringList{p, d, "read-config", "-o", "c.txt"} << "neither";
        QTest::newRow("one file, many ports") << QStringList{p, d, p, "/dev/y", "read-flash", "-o", "f.bin"}
                                              << "{port}";
        QTest::newRow("send alone") << QStringList{p, d, "send"} << "catalogue";
        QTest::newRow("value on a flag") << QStringList{p, d, "--json=yes", "probe"} << "takes no value";
    }
    void usageErrorsSayWhatIsWrong()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        TCliOptions o;
        QString error;
        QVERIFY(!ParseCliOptions(args, &o, &error));
        QVERIFY2(error.contains(says), qPrintable(error));
    }

    void outputPathPutsEachDeviceInItsOwnFile()
    {
        QCOMPARE(OutputPathFor(QStringLiteral("out/{port}.bin"), QStringLiteral("/dev/serial/by-id/usb-X-if00")),
                 QStringLiteral("out/usb-X-if00.bin"));
        QCOMPARE(OutputPathFor(QStringLiteral("flash.bin"), QStringLiteral("/dev/ttyUSB0")), QStringLiteral("flash.bin"));
    }

    void sendTakesTheRowsParameters_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("frame");  // hex of the bytes sent
        QTest::addColumn<int>("reply");
        QTest::newRow("Read Version") << QStringList{"Read Version"} << QByteArray("0F") << 5;
        QTest::newRow("list item") << QStringList{"Set RF Channel", "Channel 3"} << QByteArray("20500C") << 1;
        QTest::newRow("list item any case") << QStringList{"set rf channel", "channel 15"} << QByteArray("20503C") << 1;
        QTest::newRow("write flash a l d") << QStringList{"Write Flash", "7", "01", "4142"} << QByteArray("30E14142") << 1;
        QTest::newRow("write flash a d") << QStringList{"Write Flash", "7", "4142"} << QByteArray("30E14142") << 1;
        QTest::newRow("odd data padded") << QStringList{"Write Registers", "3", "102"} << QByteArray("20310102") << 1;
        QTest::newRow("serial data") << QStringList{"Send Serial Data", "41"} << QByteArray("500041") << 1;
        QTest::newRow("connect padded") << QStringList{"Connect", "12AB"} << QByteArray("00AB12") << 1;
        QTest::newRow("connect short") << QStringList{"Connect", "1"} << QByteArray("000100") << 1;
        QTest::newRow("read flash") << QStringList{"Read Flash", "1", "0F"} << QByteArray("312F") << 17;
        QTest::newRow("uart defaults") << QStringList{"Set UART"} << QByteArray("207018") << 1;
        QTest::newRow("uart items") << QStringList{"Set UART", "Custom", "7,e,2"} << QByteArray("2070EF") << 1;
        QTest::newRow("pins") << QStringList{"Set Port Pins", "1", "16"} << QByteArray("20010180") << 1;
        QTest::newRow("nop") << QStringList{"NOP", "3"} << QByteArray("FFFFFF") << 0;
        QTest::newRow("status repeat") << QStringList{"Read Status", "repeat"} << QByteArray("02") << 1;
    }
    void sendTakesTheRowsParameters()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, frame);
        QFETCH(int, reply);
        TCommandRowValues row;
        QString error;
        QVERIFY2(ParseSendCommand(args, &row, &error), qPrintable(error));
        const TEncodedCommand e = EncodeCommand(row);
        const std::vector<uint8_t> bytes = FrameBytes(e.CommandFrame);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())).toHex().toUpper(), frame);
        QCOMPARE(e.ReplyLength, reply);
        QCOMPARE(e.RepeatFlag, args.contains(QStringLiteral("repeat")));
    }

    void sendRefusesWhatTheRowWouldNotHold_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        QTest::newRow("unknown") << QStringList{"Read Everything"} << "unknown command";
        QTest::newRow("not an item") << QStringList{"Set RF Channel", "Channel 16"} << "Channel 15";
        QTest::newRow("missing item") << QStringList{"Set RF Channel"} << "takes channel";
        QTest::newRow("not hex") << QStringList{"Connect", "12G4"} << "hex digits";
        QTest::newRow("too long address") << QStringList{"Write Flash", "17", "00", "41"} << "the address";
        QTest::newRow("too much data") << QStringList{"Write Registers", "0", QString(18, '0')} << "16 hex digits";
        QTest::newRow("length disagrees") << QStringList{"Write Flash", "7", "00", "4142"} << "does not match";
        QTest::newRow("extra parameter") << QStringList{"Read Version", "now"} << "at most 0";
        QTest::newRow("pin out of range") << QStringList{"Set Port Pins", "17"} << "1 to 16";
        QTest::newRow("status word") << QStringList{"Read Status", "forever"} << "repeat";
    }
    void sendRefusesWhatTheRowWouldNotHold()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        TCommandRowValues row;
        QString error;
        QVERIFY(!ParseSendCommand(args, &row, &error));
        QVERIFY2(error.contains(says), qPrintable(error));
    }

    void sendRepliesAreJudged_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<QByteArray>("reply");  // hex
        QTest::addColumn<QString>("says");      // empty: a good reply
        QTest::newRow("connect acknowledged") << int(cmd::Connect) << 1 << true << QByteArray("6B") << "";
        QTest::newRow("connect refused") << int(cmd::Connect) << 1 << true << QByteArray("6E") << "with 6E";
        QTest::newRow("disconect wrong") << int(cmd::Disconect) << 1 << true << QByteArray("00") << "6B is expected";
        QTest::newRow("version") << int(cmd::ReadVersion) << 5 << true << QByteArray("43322E3130") << "";
        QTest::newRow("version wrong") << int(cmd::ReadVersion) << 5 << true << QByteArray("44322E3130") << "43 first";
        QTest::newRow("version incomplete") << int(cmd::ReadVersion) << 5 << false << QByteArray("4332") << "2 of 5";
        QTest::newRow("flash header") << int(cmd::ReadFlash) << 2 << true << QByteArray("4041") << "";
        QTest::newRow("flash header wrong") << int(cmd::ReadFlash) << 2 << true << QByteArray("2041") << "header";
        QTest::newRow("no reply at all") << int(cmd::SetRFChannel) << 1 << false << QByteArray() << "0 of 1";
        QTest::newRow("status byte not judged") << int(cmd::SetRFChannel) << 1 << true << QByteArray("00") << "";
        QTest::newRow("none awaited") << int(cmd::Nop) << 0 << false << QByteArray() << "";
    }
    void sendRepliesAreJudged()
    {
        QFETCH(int, command);
        QFETCH(int, length);
        QFETCH(bool, complete);
        QFETCH(QByteArray, reply);
        QFETCH(QString, says);
        const QByteArray bytes = QByteArray::fromHex(reply);
        const QString problem = SendReplyProblem(command, length, complete, std::vector<uint8_t>(bytes.begin(), bytes.end()));
        if (says.isEmpty()) QVERIFY2(problem.isEmpty(), qPrintable(problem));
        else QVERIFY2(problem.contains(says), qPrintable(problem));
    }

    void oneDeviceUnderTwoNamesIsOneDevice()
    {
        TPtyPair a, b;
        QTemporaryDir dir;
        QVERIFY(a.Ok() && b.Ok() && dir.isValid());
        const QString link = dir.filePath(QStringLiteral("usb-Tarnwick-if00"));
        QVERIFY(QFile::link(a.Path(), link));
        QVERIFY(SameSerialDevice(a.Path(), link));
        QVERIFY(!SameSerialDevice(a.Path(), b.Path()));
        QVERIFY(!SameSerialDevice(link, dir.filePath(QStringLiteral("missing"))));
        // Names as opening resolves them: under /dev, and COMn.
        QVERIFY(a.Path().startsWith(QLatin1String("/dev/")));
        QVERIFY(SameSerialDevice(a.Path().mid(5), link));
        QVERIFY(SameSerialDevice(QStringLiteral("COM1"), QStringLiteral("/dev/ttyS0")));
        QVERIFY(!SameSerialDevice(QStringLiteral("COM1"), QStringLiteral("COM2")));
        {
            const TLineClaim claim(a.Path().mid(5), QStringLiteral("Program Pair (Point A)"));
            QVERIFY(claim.Ok() && TLineClaim::Claimed(link));
            QVERIFY(!TLineClaim(a.Path(), QStringLiteral("Link Test")).Ok());
        }
        // A second node of one device, which no link resolution finds.
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(a.Path()).constData(), &st) == 0);
        const QByteArray node = QFile::encodeName(dir.filePath(QStringLiteral("node")));
        if (::mknod(node.constData(), S_IFCHR | 0600, st.st_rdev) != 0) QSKIP("no right to make a device node here");
        QVERIFY(SameSerialDevice(a.Path(), QFile::decodeName(node)));
        QVERIFY(!SameSerialDevice(b.Path(), QFile::decodeName(node)));
    }

    void jsonCarriesTheContractsFieldsAndTheData()
    {
        TPortResult ok;
        ok.port = QStringLiteral("/dev/a");
        ok.command = QStringLiteral("probe");
        ok.durationMs = 812;
        ok.data.insert(QStringLiteral("version"), QStringLiteral("C2.10"));
        TPortResult bad = ok;
        bad.port = QStringLiteral("/dev/b");
        bad.exitCode = 3;
        bad.error = QStringLiteral("cannot open /dev/b");

        const TPrintedResults p = PrintResults({ok, bad}, true);
        const QList<QByteArray> lines = p.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        const QJsonObject a = QJsonDocument::fromJson(lines[0]).object();
        QCOMPARE(a.value(QStringLiteral("port")).toString(), QStringLiteral("/dev/a"));
        QCOMPARE(a.value(QStringLiteral("command")).toString(), QStringLiteral("probe"));
        QCOMPARE(a.value(QStringLiteral("ok")).toBool(), true);
        QVERIFY(a.value(QStringLiteral("error")).isNull());
        QCOMPARE(a.value(QStringLiteral("duration_ms")).toInt(), 812);
        QCOMPARE(a.value(QStringLiteral("version")).toString(), QStringLiteral("C2.10"));
        const QJsonObject b = QJsonDocument::fromJson(lines[1]).object();
        QCOMPARE(b.value(QStringLiteral("ok")).toBool(), false);
        QCOMPARE(b.value(QStringLiteral("error")).toString(), QStringLiteral("cannot open /dev/b"));
        // The reason reaches the user on stderr as well.
        QVERIFY(p.err.contains("/dev/b: cannot open /dev/b"));
    }

    void textNamesThePortOnlyWhenThereAreSeveral()
    {
        TPortResult r;
        r.port = QStringLiteral("/dev/a");
        r.text = QStringList{QStringLiteral("C2.10")};
        QCOMPARE(PrintResults({r}, false).out, QByteArray("C2.10\n"));
        TPortResult s = r;
        s.port = QStringLiteral("/dev/b");
        QCOMPARE(PrintResults({r, s}, false).out, QByteArray("/dev/a: C2.10\n/dev/b: C2.10\n"));
    }

    void hexDumpShowsAddressBytesAndCharacters()
    {
        uint8_t bytes[32];
        for (int i = 0; i < 32; ++i) bytes[i] = uint8_t(0x40 + i);
        const QStringList lines = HexDump(bytes, 32);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QStringLiteral("00  40 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F  @ABCDEFGHIJKLMNO"));
        QVERIFY(lines[1].startsWith(QStringLiteral("10  50 51")));
        QVERIFY(lines[1].endsWith(QStringLiteral("PQRSTUVWXYZ[\\]^_")));
    }

    void progressLineHasBarPercentAndOperation()
    {
        const QString line = TProgressDisplay::Line(QStringLiteral("/dev/ttyUSB0"), 40, QStringLiteral("Reading"), 12);
        QCOMPARE(line, QStringLiteral("/dev/ttyUSB0 [############------------------]  40 % Reading"));
        // Over 100 shows a full bar; a long name keeps its end.
        QVERIFY(TProgressDisplay::Line(QStringLiteral("x"), 120, QString(), 1).contains(QStringLiteral("] 100 %")));
        QVERIFY(TProgressDisplay::Line(QStringLiteral("/dev/serial/by-id/usb-FTDI_A50"), 0, QString(), 10)
                    .startsWith(QStringLiteral("...TDI_A50 ")));
    }

    void progressWritesNothingWhenDisabled()
    {
        int fds[2];
        QVERIFY(pipe(fds) == 0);
        {
            TProgressDisplay off({QStringLiteral("/dev/a")}, false, fds[1]);
            off.Update(0, 50, QStringLiteral("Reading"));
            TProgressDisplay on({QStringLiteral("/dev/a"), QStringLiteral("/dev/b")}, true, fds[1]);
            on.Update(1, 50, QStringLiteral("Reading"));
            on.Update(1, 40, QStringLiteral("Reading"));  // never shrinks: nothing drawn
        }
        ::close(fds[1]);
        QByteArray all;
        char buf[512];
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0) all.append(buf, n);
        ::close(fds[0]);
        // One drawing of two lines, from the enabled display only.
        QCOMPARE(all.count('\n'), 2);
        QVERIFY(all.contains(" 50 % Reading"));
    }

    void runnerRunsEveryPortAtOnceAndKeepsTheirOrder()
    {
        const QStringList ports = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")};
        // Every job waits until all four run: only concurrent jobs finish.
        std::atomic<int> running{0};
        const auto results = RunOnPorts(ports, [&](int slot, const QString& port) {
            ++running;
            TPortResult r;
            QDeadlineTimer deadline(20000);
            while (running.load() < 4 && !deadline.hasExpired()) QThread::msleep(2);
            const bool all = running.load() == 4;
            if (port == QLatin1String("b")) throw std::runtime_error("b broke");
            r.exitCode = port == QLatin1String("c") ? 3 : (all ? 0 : 1);
            r.text << QString::number(slot);
            return r;
        });
        QCOMPARE(int(results.size()), 4);
        QCOMPARE(results[0].port, QStringLiteral("a"));
        QCOMPARE(results[0].exitCode, 0);
        QCOMPARE(results[0].text, QStringList{QStringLiteral("0")});
        QCOMPARE(results[1].exitCode, 1);  // a thrown error is that port's failure only
        QCOMPARE(results[1].error, QStringLiteral("b broke"));
        QCOMPARE(results[2].exitCode, 3);
        QCOMPARE(results[3].exitCode, 0);
        QCOMPARE(results[3].text, QStringList{QStringLiteral("3")});
        QCOMPARE(WorstExitCode(results), 3);
    }

    void inputImageMustBeExactly128Bytes()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        auto write = [&](const QString& name, int size) {
            QFile f(dir.filePath(name));
            f.open(QIODevice::WriteOnly);
            f.write(QByteArray(size, 'A'));
            return f.fileName();
        };
        TMemoryBlock image{};
        QString error;
        QVERIFY(LoadRawImage(write(QStringLiteral("good.bin"), 128), &image, &error));
        QCOMPARE(image[127], uint8_t('A'));
        QVERIFY(!LoadRawImage(write(QStringLiteral("short.bin"), 100), &image, &error));
        QVERIFY2(error.contains(QStringLiteral("100 bytes")), qPrintable(error));
        QVERIFY(!LoadRawImage(write(QStringLiteral("long.bin"), 129), &image, &error));
        QVERIFY(!LoadRawImage(dir.filePath(QStringLiteral("missing.bin")), &image, &error));
        QVERIFY(error.contains(QStringLiteral("cannot read")));
    }

    void atomicWriteLeavesNoHalfFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.bin"));
        QString error;
        QVERIFY(WriteFileAtomically(path, QByteArray(128, 'x'), &error));
        QCOMPARE(QFileInfo(path).size(), 128);
        // A directory that does not exist: nothing is created, no error hidden.
        QVERIFY(!WriteFileAtomically(dir.filePath(QStringLiteral("no/such/out.bin")), QByteArray(1, 'x'), &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("out.bin")});
    }
};

QTEST_GUILESS_MAIN(TestCliParts)
#include "test_cli_parts.moc"
