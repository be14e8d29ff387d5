// tarnwick-cli as a program against virtual modules on pseudo-terminals:
// every command, every exit status, the JSON form, several modules at once,
// and what the program links.
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <poll.h>
#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "module/config_image.h"
#include "process_run.h"
#include "pty_pair.h"
#include "settings/config_profile.h"
#include "settings/config_values.h"
#include "tools/vmodule/virtual_module.h"

namespace {

struct TRun : TProcessRun {
    QList<QJsonObject> Json() const
    {
        QList<QJsonObject> list;
        for (const QByteArray& line : out.trimmed().split('\n'))
            if (!line.isEmpty()) list << QJsonDocument::fromJson(line).object();
        return list;
    }
};

QString CliPath() { return qEnvironmentVariable("TW_CLI"); }

// prefix: a program and its arguments to run the tool under (another user).
TRun RunCli(const QStringList& args, const QStringList& prefix = {})
{
    QProcess p;
    if (prefix.isEmpty()) {
        p.start(CliPath(), args);
    } else {
        p.start(prefix.first(), prefix.mid(1) + QStringList{CliPath()} + args);
    }
    if (!p.waitForStarted(20000)) return {};
    p.closeWriteChannel();
    TRun r;
    static_cast<TProcessRun&>(r) = FinishProcess(p);
    return r;
}

QByteArray Area(const std::array<uint8_t, 256>& memory, int first)
{
    return QByteArray(reinterpret_cast<const char*>(memory.data()) + first, 128);
}

bool RunningAsRoot() { return geteuid() == 0; }
// Root ignores permissions and exclusive opens: those cases run the tool
// as "nobody".
QStringList AsNobody() { return {QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups")}; }

}  // namespace

class TestCliTool : public QObject {
    Q_OBJECT

    std::vector<std::unique_ptr<TVirtualModule>> modules_;
    QTemporaryDir dir_;

    TVirtualModule& Module(int i = 0)
    {
        while (int(modules_.size()) <= i) {
            modules_.push_back(std::make_unique<TVirtualModule>());
            std::string error;
            if (!modules_.back()->Start(&error)) qFatal("virtual module: %s", error.c_str());
        }
        return *modules_[size_t(i)];
    }
    QString PortOf(int i = 0) { return QString::fromStdString(Module(i).PortPath()); }
    QStringList On(int i = 0) { return {QStringLiteral("--port"), PortOf(i), QStringLiteral("-q")}; }
    QString File(const QString& name) { return dir_.filePath(name); }
    QString WriteFile(const QString& name, const QByteArray& bytes)
    {
        QFile f(File(name));
        if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(f.fileName()));
        f.write(bytes);
        return f.fileName();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(CliPath()).isExecutable(), "TW_CLI names the tool");
        QVERIFY(dir_.isValid());
    }
    void cleanup() { modules_.clear(); }

    void helpVersionAndUsageErrors()
    {
        TRun r = RunCli({QStringLiteral("--help")});
        QCOMPARE(r.exitCode, 0);
        for (const char* s : {"--port PATH", "--json", "program-config FILE", "send COMMAND", "Exit status"})
            QVERIFY2(r.out.contains(s), s);
        r = RunCli({QStringLiteral("--version")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.startsWith("tarnwick-cli "));

        r = RunCli({QStringLiteral("probe")});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.contains("needs at least one --port"));
        QVERIFY(r.err.contains("Usage: tarnwick-cli"));
        QVERIFY(r.out.isEmpty());
    }

    void probePrintsTheVersion()
    {
        TRun r = RunCli(On() + QStringList{QStringLiteral("probe")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("C2.10\n"));

        r = RunCli(On() + QStringList{QStringLiteral("--json"), QStringLiteral("probe")});
        QCOMPARE(r.exitCode, 0);
        const QList<QJsonObject> json = r.Json();
        QCOMPARE(json.size(), 1);
        QCOMPARE(json[0].value(QStringLiteral("port")).toString(), PortOf());
        QCOMPARE(json[0].value(QStringLiteral("command")).toString(), QStringLiteral("probe"));
        QCOMPARE(json[0].value(QStringLiteral("ok")).toBool(), true);
        QVERIFY(json[0].value(QStringLiteral("error")).isNull());
        QVERIFY(json[0].value(QStringLiteral("duration_ms")).toDouble() > 0);
        QCOMPARE(json[0].value(QStringLiteral("version")).toString(), QStringLiteral("C2.10"));
    }

    void silentModuleExitsOne()
    {
        TVirtualModuleFaults f;
        f.silent = true;
        Module().SetFaults(f);
        const QString out = File(QStringLiteral("silent.bin"));
        TRun r = RunCli(On() + QStringList{QStringLiteral("read-flash"), QStringLiteral("-o"), out});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("command mode"), r.err.constData());
        // A failed read leaves no file.
        QVERIFY(!QFile::exists(out));
        r = RunCli(On() + QStringList{QStringLiteral("probe")});
        QCOMPARE(r.exitCode, 1);
    }

    // The line hung up mid-run, as an unplugged adapter does: exit 1 and
    // words for a technician, not the component's Win32 function names.
    void hangUpMidProgramSaysUnplugged()
    {
        TVirtualModuleFaults f;
        f.hangUpAfterBytes = 40;
        Module().SetFaults(f);
        const QString in = WriteFile(QStringLiteral("hangup.bin"), QByteArray(128, 'H'));
        TRun r = RunCli(On() + QStringList{QStringLiteral("--no-record"), QStringLiteral("program-config"), in});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("unplugged"), r.err.constData());
        QVERIFY2(!r.err.contains("function failed") && !r.err.contains("Comm"), r.err.constData());
    }

    void missingDeviceExitsThree()
    {
        const TRun r = RunCli({QStringLiteral("--port"), QStringLiteral("/dev/ttyNOSUCH9"), QStringLiteral("probe")});
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.err.contains("No such device"), r.err.constData());
        QVERIFY(r.err.contains("tarnwick-cli ports"));
    }

    void deviceHeldByAnotherProgramExitsThree()
    {
        const QByteArray slave = QByteArray::fromStdString(Module().SlavePath());
        // The other program: holds the line open, exclusively.
        const int fd = ::open(slave.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        QVERIFY(::ioctl(fd, TIOCEXCL) == 0);
        QStringList prefix;
        if (RunningAsRoot()) {
            ::chmod(slave.constData(), 0666);
            prefix = AsNobody();
        }
        const TRun r = RunCli({QStringLiteral("--port"), QString::fromLatin1(slave), QStringLiteral("probe")}, prefix);
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.err.contains("in use by another program"), r.err.constData());
    }

    void permissionDeniedNamesTheGroup()
    {
        if (!RunningAsRoot()) QSKIP("needs root to run the tool as another user");
        const QByteArray slave = QByteArray::fromStdString(Module().SlavePath());
        ::chmod(slave.constData(), 0600);
        const TRun r = RunCli({QStringLiteral("--port"), QString::fromLatin1(slave), QStringLiteral("probe")}, AsNobody());
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.err.contains("dialout"), r.err.constData());
    }

    void readFlashDumpsOrWritesTheFile()
    {
        std::array<uint8_t, 256> memory;
        for (int i = 0; i < 256; ++i) memory[size_t(i)] = uint8_t(i ^ 0x5A);
        Module().SetMemory(memory);

        TRun r = RunCli(On() + QStringList{QStringLiteral("read-flash")});
        QCOMPARE(r.exitCode, 0);
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 8);
        QVERIFY2(lines[0].startsWith("00  5A 5B 58 59"), lines[0].constData());

        const QString out = File(QStringLiteral("flash.bin"));
        r = RunCli(On() + QStringList{QStringLiteral("read-flash"), QStringLiteral("-o"), out});
        QCOMPARE(r.exitCode, 0);
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), Area(memory, 0));
    }

    void programFlashWritesAndVerifies()
    {
        QByteArray image(128, '\0');
        for (int i = 0; i < 128; ++i) image[i] = char(0x80 + i);
        const QString in = WriteFile(QStringLiteral("in.bin"), image);
        TRun r = RunCli(On() + QStringList{QStringLiteral("--json"), QStringLiteral("program-flash"), in});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.Json().value(0).value(QStringLiteral("verified")).toBool(), true);
        QCOMPARE(Area(Module().Memory(), 0), image);
    }

    void badInputFilesSendNothing()
    {
        const QString shortBin = WriteFile(QStringLiteral("short.bin"), QByteArray(100, 'A'));
        Module().ClearReceived();
        TRun r = RunCli(On() + QStringList{QStringLiteral("program-flash"), shortBin});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains("100 bytes"), r.err.constData());

        const QString broken = WriteFile(QStringLiteral("broken.json"), QByteArray("{\"key\": "));
        r = RunCli(On() + QStringList{QStringLiteral("program-config"), broken});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(!r.err.isEmpty());

        r = RunCli(On() + QStringList{QStringLiteral("send"), QStringLiteral("Set RF Channel"), QStringLiteral("Channel 99")});
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(Module().ReceivedCount(), 0L);
    }

    void corruptedWriteFailsVerification()
    {
        TVirtualModuleFaults f;
        f.corruptWriteAddress = 0x85;
        Module().SetFaults(f);
        const QString in = WriteFile(QStringLiteral("config.bin"), QByteArray(128, '\x11'));
        TRun r = RunCli(On() + QStringList{QStringLiteral("--json"), QStringLiteral("program-config"), in});
        QCOMPARE(r.exitCode, 1);
        const QJsonObject o = r.Json().value(0);
        QVERIFY2(o.value(QStringLiteral("error")).toString().contains(QStringLiteral("0x85")), r.out.constData());
        QCOMPARE(o.value(QStringLiteral("differences")).toArray().first().toObject().value(QStringLiteral("address")).toInt(), 0x85);
        QVERIFY(r.err.contains("0x85"));
        // Without the read-back the same run passes: the check is what caught it.
        r = RunCli(On() + QStringList{QStringLiteral("--no-verify"), QStringLiteral("program-config"), in});
        QCOMPARE(r.exitCode, 0);
    }

    void configRoundTripIntoABlankModule()
    {
        // Module 0 holds a configuration the page can express.
        TConfigValues values;
        values.key = QStringLiteral("00112233445566778899AABBCCDDEEFF");
        values.mode = 1;
        values.channel = 7;
        values.address = QStringLiteral("1234");
        std::array<uint8_t, 256> memory;
        memory.fill(0xFF);
        const TConfigImage image = ConfigImage(values);
        std::copy(image.begin(), image.end(), memory.begin() + 128);
        Module(0).SetMemory(memory);
        Module(1);  // blank: all 0xFF

        const QString profile = File(QStringLiteral("profile.json"));
        TRun r = RunCli(On(0) + QStringList{QStringLiteral("read-config"), QStringLiteral("-o"), profile});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(QFile::exists(profile));
        // A configuration holds the key: its owner's only.
        QCOMPARE(QFile::permissions(profile) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        // Without -o the profile goes to stdout.
        r = RunCli(On(0) + QStringList{QStringLiteral("read-config")});
        QCOMPARE(r.exitCode, 0);
        QFile f(profile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(r.out), QJsonDocument::fromJson(f.readAll()));

        r = RunCli(On(1) + QStringList{QStringLiteral("program-config"), profile});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(Area(Module(1).Memory(), 128), Area(Module(0).Memory(), 128));

        // The raw image goes the same way.
        const QString raw = File(QStringLiteral("config.bin"));
        r = RunCli(On(0) + QStringList{QStringLiteral("read-config"), QStringLiteral("-o"), raw});
        QCOMPARE(r.exitCode, 0);
        QFile b(raw);
        QVERIFY(b.open(QIODevice::ReadOnly));
        QCOMPARE(b.readAll(), Area(Module(0).Memory(), 128));
    }

    void sendPrintsTheLogLine()
    {
        TRun r = RunCli(On() + QStringList{QStringLiteral("send"), QStringLiteral("Set RF Channel"), QStringLiteral("Channel 3")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("1. <20><50><0C>[6B]\n"));

        r = RunCli(On() + QStringList{QStringLiteral("--json"), QStringLiteral("send"), QStringLiteral("Read Version")});
        QCOMPARE(r.exitCode, 0);
        const QJsonObject o = r.Json().value(0);
        QCOMPARE(o.value(QStringLiteral("reply")).toString(), QStringLiteral("43322E3130"));

        TVirtualModuleFaults f;
        f.silent = true;
        Module().SetFaults(f);
        r = RunCli(On() + QStringList{QStringLiteral("send"), QStringLiteral("Read Version")});
        QCOMPARE(r.exitCode, 1);
    }

    void fourModulesAtOnce()
    {
        QStringList args{QStringLiteral("-q"), QStringLiteral("--json")};
        for (int i = 0; i < 4; ++i) args << QStringLiteral("--port") << PortOf(i);
        // One of them cannot be opened: the others still run.
        args << QStringLiteral("--port") << QStringLiteral("/dev/ttyNOSUCH8");
        const QString in = WriteFile(QStringLiteral("four.bin"), QByteArray(128, 'Q'));
        const TRun r = RunCli(args + QStringList{QStringLiteral("program-flash"), in});
        QCOMPARE(r.exitCode, 3);
        const QList<QJsonObject> json = r.Json();
        QCOMPARE(json.size(), 5);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(json[i].value(QStringLiteral("port")).toString(), PortOf(i));
            QVERIFY2(json[i].value(QStringLiteral("ok")).toBool(), qPrintable(json[i].value(QStringLiteral("error")).toString()));
            QCOMPARE(Area(Module(i).Memory(), 0), QByteArray(128, 'Q'));
        }
        QCOMPARE(json[4].value(QStringLiteral("ok")).toBool(), false);
        QCOMPARE(json[4].value(QStringLiteral("exit_status")).toInt(), 3);
    }

    void interruptStopsBetweenBlocksAndLeavesNoFile()
    {
        TVirtualModuleFaults f;
        f.replyDelayMs = 200;  // a read of several seconds
        Module().SetFaults(f);
        const QString out = File(QStringLiteral("interrupted.bin"));
        QProcess p;
        p.start(CliPath(), On() + QStringList{QStringLiteral("read-flash"), QStringLiteral("-o"), out});
        QVERIFY(p.waitForStarted(20000));
        // Once the first block has been asked for, Ctrl-C.
        QVERIFY(QTest::qWaitFor([&] {
            const auto rx = Module().Received();
            return std::find(rx.begin(), rx.end(), uint8_t(0x31)) != rx.end();
        }, 20000));
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(p.readAllStandardError().contains("aborted"));
        QVERIFY(!QFile::exists(out));
    }

    // QtGui is linked for the station's labels alone: every other run makes
    // no GUI application, so it runs where no platform plugin loads.
    void toolLinksNoWidgetsAndRunsWithoutGui()
    {
        QProcess p;
        p.start(QStringLiteral("readelf"), {QStringLiteral("-d"), CliPath()});
        QVERIFY(p.waitForFinished(30000));
        const QByteArray dynamic = p.readAllStandardOutput();
        QVERIFY2(dynamic.contains("libQt6Core"), dynamic.constData());
        QVERIFY2(!dynamic.contains("libQt6Widgets"), "the tool must not need the widget library");

        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-platform"));
        run.setProcessEnvironment(env);
        run.start(CliPath(), {QStringLiteral("ports")});
        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 0);
    }

    void probeScanFindsTheModuleAtItsRate()
    {
        TVirtualModuleFaults silent;
        silent.silent = true;
        Module(0).SetFaults(silent);
        TVirtualModuleFaults at9600;
        at9600.onlyAtBaud = 9600;
        Module(1).SetFaults(at9600);
        const QStringList ports{QStringLiteral("--port"), PortOf(0), QStringLiteral("--port"), PortOf(1),
                                QStringLiteral("-q")};

        TRun r = RunCli(ports + QStringList{QStringLiteral("--all-rates"), QStringLiteral("probe"), QStringLiteral("--scan")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QString::fromLocal8Bit(r.out), QStringLiteral("Tarnwick module 2.10 on %1 at 9600 baud\n").arg(PortOf(1)));

        // At the default rate alone nobody answers: what was tried, and the way on.
        r = RunCli(ports + QStringList{QStringLiteral("--json"), QStringLiteral("probe"), QStringLiteral("--scan")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("no Tarnwick module answered") && r.err.contains("--all-rates"), r.err.constData());
        const QList<QJsonObject> json = r.Json();
        QCOMPARE(json.size(), 1);
        QVERIFY(json[0].value(QStringLiteral("port")).isNull());
        const QJsonArray tried = json[0].value(QStringLiteral("tried")).toArray();
        QCOMPARE(tried.size(), 2);
        for (const QJsonValue& t : tried) {
            QCOMPARE(t.toObject().value(QStringLiteral("baud")).toInt(), 57600);
            QCOMPARE(t.toObject().value(QStringLiteral("answered")).toBool(), false);
        }

        // A device that is not there cannot be opened at any rate.
        r = RunCli({QStringLiteral("--port"), QStringLiteral("/dev/ttyNOSUCH9"), QStringLiteral("probe"), QStringLiteral("--scan")});
        QCOMPARE(r.exitCode, 3);

        for (const QStringList& bad : {QStringList{QStringLiteral("--port"), PortOf(1), QStringLiteral("read-flash"), QStringLiteral("--scan")},
                                       QStringList{QStringLiteral("--port"), PortOf(1), QStringLiteral("probe"), QStringLiteral("--all-rates")},
                                       QStringList{QStringLiteral("--baud"), QStringLiteral("4800"), QStringLiteral("probe"), QStringLiteral("--scan")}}) {
            r = RunCli(bad);
            QCOMPARE(r.exitCode, 2);
            QVERIFY(r.out.isEmpty());
        }
    }

    // Checked before the first byte: an output that cannot be written, one
    // device under two names (a link and its node).
    void refusedBeforeAnythingIsSent_data()
    {
        QTest::addColumn<QStringList>("args");  // {port} the module's link, {node} its node, {dir} a folder
        QTest::addColumn<QString>("says");
        QTest::newRow("no such folder") << QStringList{"--port", "{port}", "read-flash", "-o", "{dir}/none/flash.bin"}
                                        << "cannot write";
        QTest::newRow("target is a folder") << QStringList{"--port", "{port}", "read-config", "-o", "{dir}/sub.json"}
                                            << "is a folder";
        QTest::newRow("one device twice") << QStringList{"--port", "{port}", "--port", "{node}", "read-flash"} << "one device";
        QTest::newRow("one pair device twice") << QStringList{"--port", "{node}", "--port", "{port}", "pair", "{dir}/link.json"}
                                               << "one device";
        QTest::newRow("its name under /dev") << QStringList{"--port", "{rel}", "--port", "{node}", "read-flash"} << "one device";
        QTest::newRow("pair, its name under /dev") << QStringList{"--port", "{node}", "--port", "{rel}", "pair", "{dir}/link.json"}
                                                   << "one device";
        QTest::newRow("link test, its name under /dev") << QStringList{"link-test", "--port", "{rel}", "--port", "{node}"}
                                                        << "one device";
        // Inputs: only a regular file, refused at once (no hang on a FIFO, no endless read).
        QTest::newRow("pair with a weak key") << QStringList{"--port", "{port}", "--port", "{other}", "pair", "{dir}/weak.json"}
                                              << "weak key (it is all zeros";
        QTest::newRow("FIFO as a profile") << QStringList{"--port", "{port}", "program-config", "{dir}/fifo.json"} << "pipe";
        QTest::newRow("endless device as a profile") << QStringList{"--port", "{port}", "pair", "{dir}/zero.json", "--port", "{other}"}
                                                     << "device";
        QTest::newRow("endless device as an image") << QStringList{"--port", "{port}", "program-flash", "{dir}/zero.json"} << "device";
        // Two ports whose names end alike would write one file.
        QTest::newRow("outputs that collide") << QStringList{"--port", "{dir}/d1/mod", "--port", "{dir}/d2/mod", "read-flash", "-o",
                                                             "{dir}/backup-{PORT}.bin"}
                                              << "both write";
    }
    void refusedBeforeAnythingIsSent()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        const QString link = File(QStringLiteral("ttyLINK0"));
        QFile::remove(link);
        QVERIFY(QFile::link(PortOf(), link));
        QVERIFY(QDir(dir_.path()).mkpath(QStringLiteral("sub.json")));
        WriteFile(QStringLiteral("link.json"), WriteConfigProfile(TConfigValues{}));
        TConfigValues weak;
        weak.key = QString(32, QLatin1Char('0'));
        WriteFile(QStringLiteral("weak.json"), WriteConfigProfile(weak));
        const QString fifo = File(QStringLiteral("fifo.json")), zero = File(QStringLiteral("zero.json"));
        if (!QFile::exists(fifo)) QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        if (!QFileInfo(zero).isSymLink()) QVERIFY(QFile::link(QStringLiteral("/dev/zero"), zero));
        for (int i = 0; i < 2; ++i) {
            const QString d = File(QStringLiteral("d%1").arg(i + 1));
            QVERIFY(QDir().mkpath(d));
            QFile::remove(d + QStringLiteral("/mod"));
            QVERIFY(QFile::link(PortOf(i), d + QStringLiteral("/mod")));
        }
        for (QString& a : args)
            a.replace(QLatin1String("{port}"), link)
                .replace(QLatin1String("{node}"), PortOf())
                .replace(QLatin1String("{rel}"), PortOf().mid(5))  // "pts/3", as opening finds it under /dev
                .replace(QLatin1String("{other}"), PortOf(1))
                .replace(QLatin1String("{dir}"), dir_.path())
                .replace(QLatin1String("{PORT}"), QLatin1String("{port}"));
        Module().ClearReceived();
        const TRun r = RunCli(QStringList{QStringLiteral("-q")} + args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(says.toLocal8Bit()), r.err.constData());
        QCOMPARE(Module().ReceivedCount(), 0L);
    }

    void lossyProfileIsRefusedForTheRawImage()
    {
        // An erased module holds no settings: the message says so and what to do.
        const QString json = File(QStringLiteral("erased.json"));
        TRun r = RunCli(On() + QStringList{QStringLiteral("read-config"), QStringLiteral("-o"), json});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(!QFile::exists(json));
        QVERIFY2(r.err.contains("erased") && r.err.contains("-o " + File(QStringLiteral("erased.bin")).toLocal8Bit()),
                 r.err.constData());
        // A memory with a byte the page cannot express lists it.
        auto memory = Module().Memory();
        const TConfigImage image = ConfigImage(TConfigValues{});
        std::copy(image.begin(), image.end(), memory.begin() + 128);
        memory[128] ^= 0x01;
        Module().SetMemory(memory);
        r = RunCli(On() + QStringList{QStringLiteral("read-config"), QStringLiteral("-o"), json});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(!QFile::exists(json));
        QVERIFY2(r.err.contains("0x80") && !r.err.contains("0x81"), r.err.constData());
    }

    void exampleKeyIsWarnedOf_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("warned");  // "" none
        QTest::newRow("profile") << "example.json" << TConfigValues{}.key << "example key";
        QTest::newRow("raw image") << "example.bin" << TConfigValues{}.key << "example key";
        QTest::newRow("a private key") << "private.json" << "00112233445566778899AABBCCDDEEFF" << "";
        QTest::newRow("short key") << "short.json" << "1234" << "weak key (it has only 4 of 32";
        QTest::newRow("one byte repeated") << "same.bin" << "77777777777777777777777777777777" << "weak key";
    }
    void exampleKeyIsWarnedOf()
    {
        QFETCH(QString, file);
        QFETCH(QString, key);
        QFETCH(QString, warned);
        TConfigValues v;
        v.key = key;
        const TConfigImage image = ConfigImage(v);
        const QString path = WriteFile(file, file.endsWith(QLatin1String(".bin"))
                                                 ? QByteArray(reinterpret_cast<const char*>(image.data()), qsizetype(image.size()))
                                                 : WriteConfigProfile(v));
        const TRun r = RunCli(On() + QStringList{QStringLiteral("--no-verify"), QStringLiteral("program-config"), path});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(warned.isEmpty() ? !r.err.contains("key") : r.err.contains(warned.toLocal8Bit()), r.err.constData());
    }

    void sendJudgesTheReply()
    {
        // A "Read Flash" reply whose header is no header: logged as sent, judged 1.
        TVirtualModuleFaults f;
        f.readFlashHeader = 0x20;
        Module().SetFaults(f);
        const TRun r = RunCli(On() + QStringList{QStringLiteral("send"), QStringLiteral("Read Flash"), QStringLiteral("0"),
                                                 QStringLiteral("00")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.out.startsWith("1. <31><00>[20]"), r.out.constData());
        QVERIFY2(r.err.contains("header"), r.err.constData());
    }

    void drainOfAStreamingDeviceIsBounded()
    {
        // The far end keeps sending: the drain before a command takes its
        // share and the command still goes.
        TPtyPair line;
        QVERIFY(line.Ok());
        std::atomic<bool> stop{false};
        std::thread stream([&] {
            const QByteArray chunk(256, 'S');
            QDeadlineTimer deadline(180000);
            while (!stop && !deadline.hasExpired()) {
                if (::write(line.MasterFd(), chunk.constData(), size_t(chunk.size())) <= 0) {
                    pollfd p{line.MasterFd(), POLLOUT, 0};
                    ::poll(&p, 1, 20);
                }
            }
        });
        // Opening the port empties its queue: a run may find it empty at
        // the drain, so it runs again until one drained something.
        qsizetype drained = 0;
        bool finished = true;
        for (int run = 0; run < 5 && finished && drained == 0; ++run) {
            QProcess p;
            p.start(CliPath(), {QStringLiteral("-q"), QStringLiteral("--port"), line.Path(), QStringLiteral("send"),
                                QStringLiteral("NOP"), QStringLiteral("1")});
            finished = p.waitForFinished(30000);
            if (!finished) {
                p.kill();
                p.waitForFinished();
            }
            drained = p.readAllStandardOutput().count("[53]");
        }
        stop = true;
        stream.join();
        QVERIFY2(finished, "the drain followed the stream");
        QVERIFY(drained > 0);
        // Two drains: before the command's turn and before its frame.
        QVERIFY2(drained <= 2 * 1024, qPrintable(QString::number(drained)));
    }

    void portsListsWithoutError()
    {
        const TRun r = RunCli({QStringLiteral("ports")});
        QCOMPARE(r.exitCode, 0);
        const TRun j = RunCli({QStringLiteral("ports"), QStringLiteral("--json")});
        QCOMPARE(j.exitCode, 0);
        for (const QJsonObject& o : j.Json()) QVERIFY(o.value(QStringLiteral("port")).toString().startsWith("/dev/"));
    }
};

QTEST_GUILESS_MAIN(TestCliTool)
#include "test_cli_tool.moc"
