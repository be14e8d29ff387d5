// A pair programmed into two virtual modules at once: both memories hold
// the same configuration except the role bit, each verified, both versions
// read; a silent module leaves the other programmed and is the one named.
#include <QtTest>
#include <memory>
#include <set>

#include "commands/pair_programming.h"
#include "module/config_image.h"
#include "module/port_setup.h"
#include "module/stop_flag.h"
#include "serial/com_port.h"
#include "support/module_pair.h"

namespace {

std::vector<int> Differing(const TMemoryBytes& a, const TMemoryBytes& b)
{
    std::vector<int> at;
    for (int i = 0; i < kMemoryAreaBytes; ++i)
        if (a[size_t(i)] != b[size_t(i)]) at.push_back(i);
    return at;
}

}  // namespace

class TestPairProgramming : public QObject, TModulePair {
    Q_OBJECT


    TPairRequest Request(const TConfigValues& values)
    {
        TPairRequest r;
        r.ports = {QString::fromStdString(a_->PortPath()), QString::fromStdString(b_->PortPath())};
        r.values = values;
        r.setUpPort = [](TCustomComPort& port, const QString&) { port.SetBaudRate(br57600); };
        return r;
    }

private slots:
    void init()
    {
        std::string error;
        QVERIFY2(StartPair(&error), error.c_str());
    }
    void cleanup() { StopPair(); }

    // With Xon/Xoff on the line the binary image (a key holding 0x11 and
    // 0x13) still goes out and comes back whole: the verify runs on the
    // programming line, the flow control comes back after it. Every byte of
    // both runs shows in the shared traffic log, tagged with its port.
    void xonXoffLineAndSharedTraffic()
    {
        TConfigValues v;
        v.key = QStringLiteral("1113111311131113111311131113A5A5");
        TPairRequest r = Request(v);
        r.flowItem = 2;
        r.setUpPort = [](TCustomComPort& port, const QString& path) {
            TPortChoices c;
            c.port = path;
            c.baudItem = 1;
            c.flowItem = 2;  // "Xon/Xoff"
            ApplyPortChoices(port, c);
        };
        TTrafficLog log;
        r.traffic = &log;
        const TPairResult result = ProgramPair(r);
        QVERIFY2(result.Ok(), qPrintable(result.modules[0].error + QLatin1Char('|') + result.modules[1].error));
        const auto images = PairImages(v);
        QCOMPARE(ConfigOf(*a_), images[0]);
        QCOMPARE(ConfigOf(*b_), images[1]);
        std::set<std::string> tagged;
        for (const TTrafficChunk& c : log.ChunksFrom(0)) tagged.insert(TrafficTagName(c.Tag));
        QCOMPARE(tagged, (std::set<std::string>{a_->PortPath(), b_->PortPath()}));
    }

    void imagesDifferOnlyInTheRoleBit()
    {
        TConfigValues v;
        v.masterSlave = 1;  // whatever the page had: the pair sets each role
        for (int mode = 0; mode < 5; ++mode) {
            v.mode = mode;
            const std::array<TMemoryBytes, 2> images = PairImages(v);
            const std::vector<int> at = Differing(images[0], images[1]);
            const bool carriesRole = mode == 0 || mode == 3;
            QCOMPARE(at.size(), size_t(carriesRole ? 1 : 0));
            if (carriesRole) QCOMPARE(images[0][size_t(at[0])] ^ images[1][size_t(at[0])], 0x40);
        }
        QCOMPARE(KeyHint(QStringLiteral("0123456789ABCDEF0123456789ABCDEF")), QStringLiteral("0123\u2026CDEF"));
    }

    void pairLeavesEqualVerifiedMemories()
    {
        TConfigValues v;
        v.key = QStringLiteral("00112233445566778899AABBCCDDEEFF");
        v.channel = 7;
        const TPairResult r = ProgramPair(Request(v));
        QVERIFY2(r.Ok(), qPrintable(PairSummary(r, v).join(QLatin1Char('\n'))));
        for (const TPairModule& m : r.modules) {
            QVERIFY(m.verified);
            QCOMPARE(m.version, QStringLiteral("C2.10"));
        }
        const TMemoryBytes ma = ConfigOf(*a_), mb = ConfigOf(*b_);
        const std::array<TMemoryBytes, 2> images = PairImages(v);
        QVERIFY(ma == images[0]);
        QVERIFY(mb == images[1]);
        const std::vector<int> at = Differing(ma, mb);
        QCOMPARE(at.size(), size_t(1));
        QCOMPARE(ma[size_t(at[0])] & 0x40, 0x40);  // Point A
        QCOMPARE(mb[size_t(at[0])] & 0x40, 0x00);
        const QStringList summary = PairSummary(r, v);
        QVERIFY(summary[0].startsWith(QStringLiteral("Point A on ")));
        QVERIFY(summary[0].contains(QStringLiteral("ok")));
        QVERIFY(summary[2].contains(QStringLiteral("0011\u2026EEFF")));
        QVERIFY(!summary.join(QString()).contains(v.key));
    }

    void noRoleModeGivesEqualMemories()
    {
        TConfigValues v;
        v.mode = 1;  // Command: the role carries no bit
        const TPairResult r = ProgramPair(Request(v));
        QVERIFY2(r.Ok(), qPrintable(PairSummary(r, v).join(QLatin1Char('\n'))));
        QVERIFY(ConfigOf(*a_) == ConfigOf(*b_));
        QVERIFY(ConfigOf(*a_) == PairImages(v)[0]);
    }

    void silentModuleLeavesTheOtherProgrammed()
    {
        TVirtualModuleFaults f;
        f.silent = true;
        b_->SetFaults(f);
        TConfigValues v;
        const TPairResult r = ProgramPair(Request(v));
        QVERIFY(!r.Ok());
        QVERIFY(r.modules[0].Ok());
        QVERIFY(ConfigOf(*a_) == PairImages(v)[0]);
        QCOMPARE(r.modules[1].failure, TPairFailure::Module);
        const QStringList summary = PairSummary(r, v);
        QVERIFY(summary[0].contains(QStringLiteral(": ok")));
        QVERIFY2(summary[1].startsWith(QStringLiteral("Point B on %1: FAILED").arg(r.modules[1].port)), qPrintable(summary[1]));
        QVERIFY(summary[1].contains(QStringLiteral("Redo this module")));
        QVERIFY(summary[1].contains(QStringLiteral("no module answered")));
    }

    // A stop once Point B's erase went out: B is not called unanswered but
    // erased, to be programmed again; no module is called ok that is not.
    void stopAfterTheEraseSaysWhatIsLeft()
    {
        struct TStopAfterErase : TBlockingObserver {
            TStopFlag& stop;
            explicit TStopAfterErase(TStopFlag& s) : TBlockingObserver(&s), stop(s) {}
            void Progress(int percent, TOperationPhase phase) override
            {
                if (phase == TOperationPhase::Erasing && percent >= 60) stop.Request();
            }
        };
        TStopFlag stop;
        TBlockingObserver pointA(&stop);
        TStopAfterErase pointB(stop);
        TConfigValues v;
        TPairRequest req = Request(v);
        req.stop = &stop;
        req.observers = {&pointA, &pointB};
        const TPairResult r = ProgramPair(req);
        QVERIFY(!r.Ok());
        const TPairModule& b = r.modules[1];
        QVERIFY(b.stopped && !b.Ok());
        const QString summary = PairSummary(r, v).join(QLatin1Char('\n'));
        QVERIFY2(summary.contains(QStringLiteral("Point B on %1: STOPPED").arg(b.port)), qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral("Point B is erased: program it again")), qPrintable(summary));
        QVERIFY2(!summary.contains(QStringLiteral("no module answered")), qPrintable(summary));
        if (!r.modules[0].Ok()) QVERIFY(r.modules[0].stopped);
    }

    void missingPortIsAPortFailure()
    {
        TPairRequest req = Request(TConfigValues{});
        req.ports[0] = QStringLiteral("/dev/ttyNOSUCH9");
        const TPairResult r = ProgramPair(req);
        QCOMPARE(r.modules[0].failure, TPairFailure::Port);
        QVERIFY(r.modules[1].Ok());
    }
};

QTEST_MAIN(TestPairProgramming)
#include "test_pair_programming.moc"
