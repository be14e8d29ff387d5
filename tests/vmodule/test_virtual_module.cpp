// The virtual module on its pseudo-terminal, driven from a plain pty peer.
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <signal.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>

#include "tools/vmodule/air_link.h"
#include "tools/vmodule/virtual_module.h"
#include "tools/vmodule/vmodule_options.h"
#include "vmodule_peer_helper.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::array<uint8_t, 256> ToArray(const Bytes& v)
{
    std::array<uint8_t, 256> a{};
    std::copy_n(v.begin(), 256, a.begin());
    return a;
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& data)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

double ProcessCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

}  // namespace

class TestVirtualModule : public QObject {
    Q_OBJECT

    TVirtualModule* vm = nullptr;
    TPtyPeer* peer = nullptr;

    // The presence check as the panel makes it: NOP, purge, close and reopen, Read Version.
    bool PresenceCheck()
    {
        if (!peer->Send({0xFF})) return false;
        if (!QTest::qWaitFor([&] { return vm->ReceivedCount() > 0 && vm->Received().back() == 0xFF; }, 5000))
            return false;
        tcflush(peer->Fd(), TCIOFLUSH);
        peer->Close();
        if (!peer->Open(vm->PortPath())) return false;
        const Bytes v = peer->Exchange({0x0F}, 5);
        return v.size() == 5 && v[0] == 0x43;
    }

private slots:
    void init()
    {
        vm = new TVirtualModule;
        std::string err;
        QVERIFY2(vm->Start(&err), err.c_str());
        QVERIFY(vm->Running());
        peer = new TPtyPeer;
        QVERIFY(peer->Open(vm->PortPath()));
    }
    void cleanup()
    {
        delete peer;
        delete vm;
    }

    void versionAndHandshake()
    {
        QCOMPARE(vm->PortPath(), vm->SlavePath());
        QVERIFY(vm->SlavePath().rfind("/dev/pts/", 0) == 0);
        QCOMPARE(peer->Exchange({0x0F}, 5), (Bytes{0x43, 0x32, 0x2E, 0x31, 0x30}));
        QCOMPARE(peer->Exchange({0x01}, 1), Bytes{0x6B});
        QCOMPARE(peer->Exchange({0x00, 0x00, 0x00}, 1), Bytes{0x6B});
        QCOMPARE(peer->Exchange({0x02}, 1), Bytes{0x6B});
        QCOMPARE(vm->Received(), (Bytes{0x0F, 0x01, 0x00, 0x00, 0x00, 0x02}));
        QCOMPARE(vm->ReceivedCount(), 6L);
        // Nothing is echoed or added on the way.
        QVERIFY(peer->Pending().empty());
        vm->ClearReceived();
        QVERIFY(vm->Received().empty());
        QCOMPARE(vm->ReceivedCount(), 0L);
    }

    void lineIsRawBeforeAnyoneSetsIt()
    {
        // A peer that sets no mode of its own: no echo, no line editing, no
        // newline or control-character translation in either direction.
        peer->Close();
        QVERIFY(peer->Open(vm->PortPath(), false));
        termios t{};
        QCOMPARE(tcgetattr(peer->Fd(), &t), 0);
        QVERIFY(!(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN)));
        QVERIFY(!(t.c_oflag & OPOST));
        QVERIFY(!(t.c_iflag & (ICRNL | IXON)));
        const Bytes tricky{0x0A, 0x0D, 0x03, 0x04, 0x11, 0x13, 0x1A, 0x7F};
        const Bytes frame{0x30, 0x07, 0x0A, 0x0D, 0x03, 0x04, 0x11, 0x13, 0x1A, 0x7F};
        QCOMPARE(peer->Exchange(frame, 1), Bytes{0x6B});
        QVERIFY(std::equal(tricky.begin(), tricky.end(), vm->Memory().begin()));
        const Bytes r = peer->Exchange({0x31, 0x07}, 9);
        QCOMPARE(r.size(), size_t(9));
        QVERIFY(std::equal(tricky.begin(), tricky.end(), r.begin() + 1));
        QVERIFY(peer->Pending().empty());
    }

    void connectToOwnAndForeignAddress()
    {
        vm->SetUnitAddress(0x12AB);
        QCOMPARE(vm->UnitAddress(), uint16_t(0x12AB));
        QCOMPARE(peer->Exchange({0x00, 0xAB, 0x12}, 1), Bytes{0x6B});
        // Another unit's Connect draws nothing; the Read Status after it is
        // the first thing answered.
        QCOMPARE(peer->Exchange({0x00, 0x34, 0x12, 0x02}, 2, 1500), Bytes{0x6B});
    }

    void readFlashAfterSetMemory()
    {
        const auto mem = ToArray(PatternBytes(3));
        vm->SetMemory(mem);
        QCOMPARE(vm->Memory(), mem);
        for (int k = 3; k >= 0; --k) {
            const Bytes r = peer->Exchange({0x31, uint8_t(k * 32 + 31)}, 33);
            QCOMPARE(r.size(), size_t(33));
            QCOMPARE(r[0] & 0xE0, 0x40);
            QVERIFY(std::equal(r.begin() + 1, r.end(), mem.begin() + k * 32));
        }
    }

    void registersStatusAndNop()
    {
        QCOMPARE(peer->Exchange({0x20, 0x31, 0x01, 0x02}, 1), Bytes{0x6B});
        QCOMPARE(vm->Registers()[3], uint8_t(0x01));
        QCOMPARE(peer->Exchange({0x21, 0x23}, 5), (Bytes{0x23, 0x00, 0x01, 0x02, 0x00}));
        QCOMPARE(peer->Exchange({0x03}, 1), Bytes{0x62});
        // NOPs are silent: the reply to the Read Status after them comes first.
        QCOMPARE(peer->Exchange({0xFF, 0xFF, 0xFF, 0x02}, 2, 1500), Bytes{0x6B});
        QCOMPARE(peer->Exchange({0x50, 0x01, 0x41, 0x42}, 1), Bytes{0x6B});
        QCOMPARE(vm->SentSerialData(), (Bytes{0x41, 0x42}));
        QCOMPARE(peer->Exchange({0x60}, 2), (Bytes{0x00, 0x00}));
    }

    // Block programming as the panel runs it, for the flash and for the
    // configuration memory, with the presence check's reopen before each block.
    void programmingSequence_data()
    {
        QTest::addColumn<int>("erase");
        QTest::addColumn<int>("firstBlock");
        QTest::newRow("flash") << 0x40 << 0;
        QTest::newRow("configuration") << 0x48 << 4;
    }
    void programmingSequence()
    {
        QFETCH(int, erase);
        QFETCH(int, firstBlock);
        std::array<uint8_t, 256> before;
        before.fill(0x0F);  // bits an un-erased AND write could never set
        vm->SetMemory(before);
        const Bytes data = PatternBytes(9);

        QVERIFY(PresenceCheck());
        QCOMPARE(peer->Exchange({0x01}, 1), Bytes{0x6B});
        QCOMPARE(peer->Exchange({0x00, 0x00, 0x00}, 1), Bytes{0x6B});
        QCOMPARE(peer->Exchange({0x20, 0x40, 0xAA}, 1), Bytes{0x6B});
        QCOMPARE(peer->Exchange({uint8_t(erase)}, 2), (Bytes{0x6B, 0x6B}));
        for (int n = 0; n < 4; ++n) {
            QVERIFY(PresenceCheck());
            QCOMPARE(peer->Exchange({0x01}, 1), Bytes{0x6B});
            QCOMPARE(peer->Exchange({0x00, 0x00, 0x00}, 1), Bytes{0x6B});
            Bytes frame(34);
            frame[0] = 0x30;
            frame[1] = uint8_t((firstBlock + n) * 32 + 31);
            std::copy_n(data.begin() + n * 32, 32, frame.begin() + 2);
            QCOMPARE(peer->Exchange(frame, 1), Bytes{0x6B});
        }
        const auto after = vm->Memory();
        const int base = firstBlock * 32;
        for (int i = 0; i < 256; ++i) {
            const bool programmed = i >= base && i < base + 128;
            QCOMPARE(after[size_t(i)], programmed ? data[size_t(i - base)] : uint8_t(0x0F));
        }
    }

    void eraseRefusedWithoutRegisterWrite()
    {
        std::array<uint8_t, 256> zero{};
        vm->SetMemory(zero);
        QCOMPARE(peer->Exchange({0x40}, 2), (Bytes{0x6B, 0x6E}));
        QCOMPARE(peer->Exchange({0x48}, 2), (Bytes{0x6B, 0x6E}));
        QCOMPARE(vm->Memory(), zero);
        // Without an erase a write only clears bits.
        vm->SetMemory(ToArray(Bytes(256, 0xF0)));
        Bytes frame{0x30, 0x1F};
        frame.resize(34, 0x3C);
        QCOMPARE(peer->Exchange(frame, 1), Bytes{0x6B});
        QCOMPARE(vm->Memory()[0], uint8_t(0x30));
        QCOMPARE(vm->Memory()[31], uint8_t(0x30));
        QCOMPARE(vm->Memory()[32], uint8_t(0xF0));
    }

    void reopenBetweenExchangesWithoutSpinning()
    {
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(peer->Exchange({0x01}, 1), Bytes{0x6B});
            peer->Close();
            QVERIFY(peer->Open(vm->PortPath()));
        }
        // With the slave closed the module thread must sleep, not poll a
        // hang-up over and over.
        peer->Close();
        const double cpu0 = ProcessCpuMs();
        QTest::qWait(600);
        const double used = ProcessCpuMs() - cpu0;
        QVERIFY2(used < 240, qPrintable(QString::number(used)));
        QVERIFY(peer->Open(vm->PortPath()));
        QCOMPARE(peer->Exchange({0x02}, 1), Bytes{0x6B});
        QVERIFY(vm->Running());
    }

    void exclusiveFlagGoesWithItsPeer()
    {
        // A peer that sets the exclusive flag and closes without clearing it,
        // or dies with the port open, must not lock a non-root user out.
        const std::string slave = vm->SlavePath();
        QString setpriv;
        if (::geteuid() == 0) {
            setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
            if (setpriv.isEmpty()) QSKIP("root without setpriv: no way to open as another user");
            QCOMPARE(::chmod(slave.c_str(), 0666), 0);
        }
        auto reopenAsUser = [&] {
            if (setpriv.isEmpty()) {
                const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
                if (fd >= 0) ::close(fd);
                return fd >= 0;
            }
            QProcess p;
            p.start(setpriv, {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "sh", "-c",
                              QStringLiteral("exec 3<>%1").arg(QString::fromStdString(slave))});
            return p.waitForFinished(5000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        };
        peer->Close();

        // Closed without clearing the flag.
        {
            const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            QVERIFY(fd >= 0);
            QCOMPARE(::ioctl(fd, TIOCEXCL), 0);
            ::close(fd);
        }
        QTRY_VERIFY_WITH_TIMEOUT(reopenAsUser(), 5000);

        // Killed with the port open.
        int ready[2];
        QCOMPARE(::pipe(ready), 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const char ok = fd >= 0 && ::ioctl(fd, TIOCEXCL) == 0 ? 1 : 0;
            [[maybe_unused]] const ssize_t n = ::write(ready[1], &ok, 1);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char ok = 0;
        const ssize_t got = ::read(ready[0], &ok, 1);
        ::close(ready[0]);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        QVERIFY(got == 1 && ok == 1);
        QTRY_VERIFY_WITH_TIMEOUT(reopenAsUser(), 5000);

        // The module still answers the next peer.
        QVERIFY(peer->Open(vm->PortPath()));
        QCOMPARE(peer->Exchange({0x02}, 1), Bytes{0x6B});
    }

    void replyDueWhileClosedIsLost()
    {
        TVirtualModuleFaults f;
        f.replyDelayMs = 150;
        vm->SetFaults(f);
        QVERIFY(peer->Send({0x0F}));
        QTRY_COMPARE_WITH_TIMEOUT(vm->ReceivedCount(), 1L, 5000);
        peer->Close();
        QTest::qWait(500);  // the reply falls due while no one listens
        vm->SetFaults(TVirtualModuleFaults{});
        QVERIFY(peer->Open(vm->PortPath()));
        QCOMPARE(peer->Exchange({0x02}, 1), Bytes{0x6B});
    }

    void unfinishedFrameIsDropped()
    {
        // Half a Connect, then silence: the module gives the frame up and
        // takes the next byte as a command again.
        QVERIFY(peer->Send({0x00, 0x00}));
        QTest::qWait(2000);
        QCOMPARE(peer->Exchange({0x02}, 1), Bytes{0x6B});
    }

    void garbageOverTheLine()
    {
        // Arbitrary bytes in one burst: all recorded in order, and the module
        // answers again once its last unfinished frame has been given up.
        Bytes junk(3000);
        uint32_t x = 2463534242u;
        for (auto& b : junk) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = uint8_t(x);
        }
        size_t done = 0;
        Bytes replies;
        while (done < junk.size()) {
            const ssize_t n = ::write(peer->Fd(), junk.data() + done, std::min<size_t>(512, junk.size() - done));
            if (n > 0) done += size_t(n);
            const Bytes got = peer->Read(4096, 20);
            replies.insert(replies.end(), got.begin(), got.end());
        }
        QTRY_COMPARE_WITH_TIMEOUT(vm->ReceivedCount(), long(junk.size()), 10000);
        QCOMPARE(vm->Received(), junk);
        QVERIFY(vm->Running());
        QTest::qWait(1700);
        peer->Pending();
        QCOMPARE(peer->Exchange({0x02}, 1), Bytes{0x6B});
    }

    void faultDelay()
    {
        TVirtualModuleFaults f;
        f.replyDelayMs = 400;
        vm->SetFaults(f);
        QCOMPARE(vm->Faults().replyDelayMs, 400);
        QElapsedTimer t;
        t.start();
        QCOMPARE(peer->Exchange({0x01}, 1, 10000), Bytes{0x6B});
        QVERIFY2(t.elapsed() >= 380, qPrintable(QString::number(t.elapsed())));
    }

    void faultSilent()
    {
        TVirtualModuleFaults f;
        f.silent = true;
        vm->SetFaults(f);
        QVERIFY(peer->Send({0x0F, 0x20, 0x00, 0x5A}));
        QTRY_COMPARE_WITH_TIMEOUT(vm->ReceivedCount(), 4L, 5000);
        QVERIFY(peer->Read(1, 400).empty());
        // The command still took effect.
        QCOMPARE(vm->Registers()[0], uint8_t(0x5A));
    }

    void answersOnlyAtItsRate()
    {
        TVirtualModuleFaults f;
        f.onlyAtBaud = 57600;
        vm->SetFaults(f);
        auto setRate = [&](speed_t rate) {
            termios t{};
            QVERIFY(tcgetattr(peer->Fd(), &t) == 0);
            cfsetispeed(&t, rate);
            cfsetospeed(&t, rate);
            QVERIFY(tcsetattr(peer->Fd(), TCSANOW, &t) == 0);
        };
        setRate(B9600);
        QTRY_COMPARE(vm->LineBaud(), 9600L);
        // At the wrong rate the bytes arrive but mean nothing: no reply, no
        // half-taken frame left behind.
        QVERIFY(peer->Send({0x0F, 0x20, 0x00}));
        QTRY_COMPARE_WITH_TIMEOUT(vm->ReceivedCount(), 3L, 5000);
        QVERIFY(peer->Read(1, 400).empty());
        setRate(B57600);
        QCOMPARE(vm->LineBaud(), 57600L);
        QCOMPARE(peer->Exchange({0x0F}, 5), (Bytes{0x43, 0x32, 0x2E, 0x31, 0x30}));
        // The option from the command line.
        TVModuleOptions o;
        std::string e;
        QVERIFY(ParseVModuleOptions({"--only-baud", "57600"}, &o, &e));
        QCOMPARE(o.faults.onlyAtBaud, 57600L);
        QVERIFY(!ParseVModuleOptions({"--only-baud", "0"}, &o, &e));
    }

    void faultSilentAfterBytes()
    {
        TVirtualModuleFaults f;
        f.silentAfterBytes = 2;  // counted from here
        vm->SetFaults(f);
        QCOMPARE(peer->Exchange({0x01, 0x02}, 2), (Bytes{0x6B, 0x6B}));
        QVERIFY(peer->Send({0x20, 0x00, 0x5A, 0x01}));
        QTRY_COMPARE_WITH_TIMEOUT(vm->ReceivedCount(), 6L, 5000);
        QVERIFY(peer->Read(1, 400).empty());
        QCOMPARE(vm->Registers()[0], uint8_t(0x5A));
    }

    void injectReachesThePanelInOrder()
    {
        vm->Inject({'a', 'b'});
        vm->Inject({'c'});
        QCOMPARE(peer->Read(3), (Bytes{'a', 'b', 'c'}));
        QCOMPARE(vm->ReceivedCount(), 0L);
        // Replies and unasked bytes share the line.
        QCOMPARE(peer->Exchange({0x01}, 1), Bytes{0x6B});
        vm->Inject({});
        QVERIFY(peer->Read(1, 100).empty());
    }

    void faultReplyShapes()
    {
        TVirtualModuleFaults f;
        f.readFlashHeader = 0x60;
        vm->SetFaults(f);
        Bytes r = peer->Exchange({0x31, 0x1F}, 33);
        QCOMPARE(r.size(), size_t(33));
        QCOMPARE(r[0], uint8_t(0x60));

        f = TVirtualModuleFaults{};
        f.extraReplyByte = true;
        vm->SetFaults(f);
        QCOMPARE(peer->Exchange({0x01}, 2), (Bytes{0x6B, 0x00}));
        QCOMPARE(peer->Exchange({0x0F}, 6).size(), size_t(6));

        f = TVirtualModuleFaults{};
        f.versionReplyLength = 6;
        vm->SetFaults(f);
        QCOMPARE(peer->Exchange({0x0F}, 6), (Bytes{0x43, 0x32, 0x2E, 0x31, 0x30, 0x00}));
        f.versionReplyLength = 4;
        f.versionFirstByte = 0x44;
        vm->SetFaults(f);
        QCOMPARE(peer->Exchange({0x0F, 0x02}, 5), (Bytes{0x44, 0x32, 0x2E, 0x31, 0x6B}));
    }

    void faultHangUpAndRestart()
    {
        QCOMPARE(peer->Exchange({0x01}, 1), Bytes{0x6B});
        TVirtualModuleFaults f;
        f.hangUpAfterBytes = 3;  // counted from here
        vm->SetFaults(f);
        QCOMPARE(peer->Exchange({0x01, 0x02}, 2), (Bytes{0x6B, 0x6B}));
        QVERIFY(peer->Send({0x0F}));  // the third byte: never answered
        QVERIFY(peer->WaitHangUp());
        QTRY_VERIFY_WITH_TIMEOUT(!vm->Running(), 5000);
        QCOMPARE(vm->Received(), (Bytes{0x01, 0x01, 0x02, 0x0F}));
        QCOMPARE(peer->Read(1, 100), Bytes{});
        peer->Close();

        // A new pty, the same memory.
        vm->SetFaults(TVirtualModuleFaults{});
        vm->SetMemory(ToArray(PatternBytes(4)));
        std::string err;
        QVERIFY2(vm->Start(&err), err.c_str());
        QVERIFY(vm->Running());
        QVERIFY(peer->Open(vm->PortPath()));
        const Bytes r = peer->Exchange({0x31, 0x1F}, 33);
        QCOMPARE(r.size(), size_t(33));
        QCOMPARE(r[1], PatternBytes(4)[0]);

        // Zero bytes: the hang-up comes at once.
        f.hangUpAfterBytes = 0;
        vm->SetFaults(f);
        QVERIFY(peer->WaitHangUp());
        QTRY_VERIFY_WITH_TIMEOUT(!vm->Running(), 5000);
        vm->Stop();
        QVERIFY(!vm->Running());
    }

    void imageFileLoadAndSave()
    {
        QTemporaryDir dir;
        const std::string file = dir.filePath(QStringLiteral("module.img")).toStdString();
        const Bytes start = PatternBytes(5);
        WriteFile(file, start);
        peer->Close();
        vm->Stop();
        vm->SetImageFile(file);
        std::string err;
        QVERIFY2(vm->Start(&err), err.c_str());
        QCOMPARE(vm->Memory(), ToArray(start));
        QVERIFY(peer->Open(vm->PortPath()));
        // A write goes to the file at once, not only at Stop.
        QCOMPARE(peer->Exchange({0x30, 0x00, 0x00}, 1), Bytes{0x6B});
        Bytes expected = start;
        expected[0] = 0x00;
        QTRY_COMPARE_WITH_TIMEOUT(ReadFile(file), expected, 5000);
        QVERIFY(vm->ImageError().empty());
        expected[200] = 0x77;
        vm->SetMemory(ToArray(expected));
        QCOMPARE(ReadFile(file), expected);
        peer->Close();
        vm->Stop();
        QCOMPARE(ReadFile(file), expected);

        // A file that is no image is refused and left alone.
        const std::string other = dir.filePath(QStringLiteral("flash.bin")).toStdString();
        WriteFile(other, Bytes(128, 0x11));
        TVirtualModule vm2;
        vm2.SetImageFile(other);
        QVERIFY(!vm2.Start(&err));
        QVERIFY(err.find("256") != std::string::npos);
        QVERIFY(!vm2.Running());
        vm2.Stop();
        QCOMPARE(ReadFile(other), Bytes(128, 0x11));

        // A missing file is created on the first save.
        const std::string fresh = dir.filePath(QStringLiteral("new.img")).toStdString();
        TVirtualModule vm3;
        vm3.SetImageFile(fresh);
        QVERIFY(vm3.Start(&err));
        vm3.Stop();
        QCOMPARE(ReadFile(fresh), Bytes(256, 0xFF));
        // The image holds the key: its owner's only.
        for (const std::string& f : {file, fresh}) {
            struct stat st {};
            QVERIFY(::stat(f.c_str(), &st) == 0);
            QCOMPARE(int(st.st_mode & 0777), 0600);
        }
        // A FIFO is refused at once, not waited on.
        const std::string fifo = dir.filePath(QStringLiteral("fifo.img")).toStdString();
        QVERIFY(::mkfifo(fifo.c_str(), 0600) == 0);
        TVirtualModule vm4;
        vm4.SetImageFile(fifo);
        QVERIFY(!vm4.Start(&err));
        QVERIFY2(err.find("regular file") != std::string::npos, err.c_str());
    }

    // The air is this user's alone: its folder private, its peers the same user.
    void airKeepsToItsUser()
    {
        QTemporaryDir tmp;
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR"), oldTmp = qgetenv("TMPDIR");
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        const std::string folder = tmp.filePath(QStringLiteral("tarnwick-air-%1").arg(::geteuid())).toStdString();
        QCOMPARE(AirFolder(), folder);
        QCOMPARE(AirSocketPath("bench"), folder + "/bench");
        QVERIFY(VModuleUsage().find(folder + "/NAME") != std::string::npos);  // --help says where

        TAirOptions o;
        o.name = "bench";
        const auto identity = [] { return TAirIdentity{}; };
        const auto start = [&](std::string* err) {
            TAirLink air(o, identity, [](std::vector<uint8_t>) {});
            const bool ok = air.Start(err);
            air.Stop();
            return ok;
        };
        std::string err;
        QVERIFY2(start(&err), err.c_str());
        struct stat st {};
        QVERIFY(::lstat(folder.c_str(), &st) == 0);
        QCOMPARE(int(st.st_mode & 0777), 0700);
        QVERIFY(::chmod(folder.c_str(), 0755) == 0);  // open to others: refused
        QVERIFY(!start(&err));
        QVERIFY2(err.find("0700") != std::string::npos, err.c_str());
        QVERIFY(::chmod(folder.c_str(), 0700) == 0);

        if (::geteuid() == 0) {
            // Another user's folder is refused.
            QVERIFY(::chown(folder.c_str(), 65534, 65534) == 0);
            QVERIFY(!start(&err));
            QVERIFY2(err.find("another user") != std::string::npos, err.c_str());
            QVERIFY(::chown(folder.c_str(), 0, 0) == 0);

            // A peer of another user that reaches the socket is hung up on.
            TAirLink air(o, identity, [](std::vector<uint8_t>) {});
            QVERIFY2(air.Start(&err), err.c_str());
            const std::string path = AirSocketPath("bench");
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(QString::fromStdString(path)), 10000);
            QVERIFY(::chmod(QFile::encodeName(tmp.path()).constData(), 0711) == 0);
            QVERIFY(::chmod(folder.c_str(), 0711) == 0 && ::chmod(path.c_str(), 0777) == 0);
            const pid_t child = ::fork();
            if (child == 0) {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
                const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
                sockaddr_un addr{};
                addr.sun_family = AF_UNIX;
                std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
                if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) ::_exit(4);
                pollfd p{fd, POLLIN, 0};
                char c;
                // Closed by the air within 10 s: 0; still open: 1.
                ::_exit(::poll(&p, 1, 10000) == 1 && ::recv(fd, &c, 1, 0) <= 0 ? 0 : 1);
            }
            int status = -1;
            QVERIFY(::waitpid(child, &status, 0) == child);
            QCOMPARE(WEXITSTATUS(status), 0);
            QVERIFY(!air.PeerConnected());
            air.Stop();
        }
        if (runtime.isNull()) qunsetenv("XDG_RUNTIME_DIR"); else qputenv("XDG_RUNTIME_DIR", runtime);
        if (oldTmp.isNull()) qunsetenv("TMPDIR"); else qputenv("TMPDIR", oldTmp);
    }

    void linkPath()
    {
        QTemporaryDir dir;
        const std::string link = dir.filePath(QStringLiteral("ttyTarnwick")).toStdString();
        TVirtualModule m;
        m.SetLinkPath(link);
        std::string err;
        QVERIFY2(m.Start(&err), err.c_str());
        QCOMPARE(m.PortPath(), link);
        char target[256] = {};
        QVERIFY(readlink(link.c_str(), target, sizeof target - 1) > 0);
        QCOMPARE(std::string(target), m.SlavePath());
        TPtyPeer p;
        QVERIFY(p.Open(link));
        QCOMPARE(p.Exchange({0x01}, 1), Bytes{0x6B});
        p.Close();
        m.Stop();
        struct stat st;
        QCOMPARE(lstat(link.c_str(), &st), -1);

        // Never over a file that is not a link.
        WriteFile(link, Bytes{1, 2, 3});
        TVirtualModule m2;
        m2.SetLinkPath(link);
        QVERIFY(!m2.Start(&err));
        QVERIFY(!m2.Running());
        QCOMPARE(ReadFile(link), (Bytes{1, 2, 3}));
    }

    void receivedLimitKeepsTheLatest()
    {
        vm->SetReceivedLimit(4);
        QCOMPARE(peer->Exchange({0x01, 0x02, 0x03, 0x01, 0x02, 0x03}, 6).size(), size_t(6));
        QTRY_COMPARE_WITH_TIMEOUT(vm->ReceivedCount(), 6L, 5000);
        const Bytes r = vm->Received();
        QVERIFY(r.size() <= 4 && !r.empty());
        QCOMPARE(r.back(), uint8_t(0x03));
    }

    void stopAndStartAreRepeatable()
    {
        peer->Close();
        vm->Stop();
        vm->Stop();
        QVERIFY(!vm->Running());
        std::string err;
        QVERIFY(vm->Start(&err));
        QVERIFY(vm->Start(&err));  // already running: no second pty
        QVERIFY(peer->Open(vm->PortPath()));
        QCOMPARE(peer->Exchange({0x03}, 1), Bytes{0x62});
    }
};

QTEST_GUILESS_MAIN(TestVirtualModule)
#include "test_virtual_module.moc"
