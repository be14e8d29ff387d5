// The Link Test engine against virtual modules in Cable Link mode: the pair
// rule, loss and corruption as measured, and results cut short. The frame
// reader and the pair rule are checked on their own as well.
#include <QtTest>
#include <memory>
#include <numeric>

#include "cable_link_rig.h"
#include "module/link_frame.h"
#include "module/link_test.h"
#include "serial/scripted_device_helper.cpp"  // the serial tests' scripted line, built in here

namespace {

struct TPairRig {
    TCableLinkModule a, b;
    bool Start(const std::array<uint8_t, 256>& ma, const std::array<uint8_t, 256>& mb, TAirOptions o = {})
    {
        o.name = FreshAirName();
        TAirOptions ob = o;
        o.randomStart = o.randomStart ? o.randomStart : 1;
        ob.randomStart = o.randomStart + 1;
        return a.Start(ma, o) && b.Start(mb, ob) && AirsMeet(a, b);
    }
    TLinkTestRequest Request() const
    {
        TLinkTestRequest q;
        q.portA.port = a.Port();
        q.portA.flowItem = 3;
        q.portB = b.Port();
        return q;
    }
};

std::vector<TLinkFrameEvent> Read(int size, const QByteArray& bytes)
{
    std::vector<TLinkFrameEvent> out;
    TLinkFrameReader reader(size);
    reader.Feed(bytes.constData(), int(bytes.size()), [&](const TLinkFrameEvent& e) { out.push_back(e); });
    return out;
}

}  // namespace

class TestLinkTest : public QObject {
    Q_OBJECT

private slots:
    // A bit flipped anywhere makes the frame corrupted, never intact.
    void everyFlippedBitIsCorrupted()
    {
        const int size = 32;
        const QByteArray good = EncodeLinkFrame(size, 1, 77, 123456);
        const auto ok = Read(size, good);
        QCOMPARE(ok.size(), size_t(1));
        QVERIFY(ok[0].intact);
        QCOMPARE(ok[0].sequence, 77u);
        QCOMPARE(ok[0].sendUs, uint64_t(123456));
        for (int bit = 0; bit < size * 8; ++bit) {
            QByteArray bad = good;
            bad[bit / 8] = char(bad[bit / 8] ^ (1 << (bit % 8)));
            const QByteArray next = EncodeLinkFrame(size, 1, 78, 0);
            const auto ev = Read(size, bad + next);
            int intact = 0, corrupted = 0;
            for (const auto& e : ev) (e.intact ? intact : corrupted)++;
            QVERIFY2(corrupted == 1 && intact == 1 && ev.back().sequence == 78, qPrintable(QString::number(bit)));
        }
    }

    // A frame cut short (a lost air packet) costs that frame only.
    void truncatedFrameDoesNotTakeTheNext()
    {
        const int size = 64;
        const QByteArray cut = EncodeLinkFrame(size, 0, 1, 0).left(40);
        const auto ev = Read(size, cut + EncodeLinkFrame(size, 0, 2, 0) + EncodeLinkFrame(size, 0, 3, 0));
        QCOMPARE(ev.size(), size_t(3));
        QVERIFY(!ev[0].intact);
        QVERIFY(ev[1].intact && ev[1].sequence == 2);
        QVERIFY(ev[2].intact && ev[2].sequence == 3);
    }

    void pairRule_data()
    {
        QTest::addColumn<int>("keyB");
        QTest::addColumn<bool>("roleB");
        QTest::addColumn<int>("rateB");
        QTest::addColumn<int>("channelB");
        QTest::addColumn<bool>("pair");
        QTest::newRow("matched") << 0x11 << false << 4 << 3 << true;
        QTest::newRow("other key") << 0x12 << false << 4 << 3 << false;
        QTest::newRow("same role") << 0x11 << true << 4 << 3 << false;
        QTest::newRow("other rate") << 0x11 << false << 2 << 3 << false;
        QTest::newRow("other channel") << 0x11 << false << 4 << 4 << false;
    }
    void pairRule()
    {
        QFETCH(int, keyB);
        QFETCH(bool, roleB);
        QFETCH(int, rateB);
        QFETCH(int, channelB);
        QFETCH(bool, pair);
        auto config = [](const std::array<uint8_t, 256>& m) {
            std::array<uint8_t, 128> c;
            std::copy(m.begin() + 128, m.end(), c.begin());
            return AirIdentityOf(c);
        };
        const TAirIdentity a = config(CableLinkMemory(0x11, true));
        const TAirIdentity b = config(CableLinkMemory(uint8_t(keyB), roleB, rateB, channelB));
        QCOMPARE(MakesPair(a, b), pair);
        QCOMPARE(a.rfBps, 76800);
    }

    // Through two virtual modules: a pair passes untouched, anything else
    // gets nothing through and the advice.
    void throughTheAir_data()
    {
        QTest::addColumn<int>("keyB");
        QTest::addColumn<bool>("roleB");
        QTest::addColumn<bool>("passes");
        QTest::newRow("matched pair") << 0x11 << false << true;
        QTest::newRow("different keys") << 0x22 << false << false;
        QTest::newRow("same role") << 0x11 << true << false;
    }
    void throughTheAir()
    {
        QFETCH(int, keyB);
        QFETCH(bool, roleB);
        QFETCH(bool, passes);
        TPairRig rig;
        QVERIFY(rig.Start(CableLinkMemory(0x11, true), CableLinkMemory(uint8_t(keyB), roleB)));
        TLinkTestRequest q = rig.Request();
        q.frames = 24;
        TLinkTest test(q);
        const TLinkTestResult r = test.Run();
        QVERIFY(r.finished && !r.partial);
        QCOMPARE(r.passed, passes);
        QCOMPARE(r.total.sent, 48L);
        QCOMPARE(r.total.received, passes ? 48L : 0L);
        QCOMPARE(r.total.lost, passes ? 0L : 48L);
        QCOMPARE(r.nothingArrived, !passes);
        QCOMPARE(r.advice.isEmpty(), passes);
        if (!passes) QVERIFY(r.advice.join(' ').contains(QStringLiteral("\"Cable Link\"")));
    }

    // While it runs, overdue frames count as lost: where nothing arrives the
    // live rate shows it instead of 0 %.
    void liveRateCountsOverdueFrames()
    {
        TPairRig rig;
        QVERIFY(rig.Start(CableLinkMemory(0x11, true), CableLinkMemory(0x22, false)));
        TLinkTestRequest q = rig.Request();
        q.direction = TLinkDirection::AToB;
        q.seconds = 30;
        q.rate = 20;
        TLinkTest test(q);
        test.Start();
        QTRY_VERIFY_WITH_TIMEOUT(test.Snapshot().directions[0].counts.lost > 0, 20000);
        const TLinkTestResult live = test.Snapshot();
        QVERIFY(!live.finished);
        QCOMPARE(live.directions[0].perPercent, 100.0);
        test.Stop();
        QVERIFY(test.WaitFinished(20000));
    }

    // 5 % of the air packets lost is measured as 5 % of the frames.
    void lossIsMeasured()
    {
        TPairRig rig;
        TAirOptions o;
        o.loss = 0.05;
        QVERIFY(rig.Start(CableLinkMemory(0x11, true), CableLinkMemory(0x11, false), o));
        TLinkTestRequest q = rig.Request();
        q.frames = 1000;
        q.size = 32;
        q.rate = 150;
        q.maxPerPercent = 10;
        const TLinkTestResult r = TLinkTest(q).Run();
        QCOMPARE(r.total.sent, 2000L);
        QVERIFY2(std::abs(r.total.Per() - 5.0) <= 1.5, qPrintable(QString::number(r.total.Per())));
        QCOMPARE(r.total.corrupted, 0L);
        QVERIFY(r.passed);
    }

    // Damaged frames are corrupted, never received: with about two bit
    // errors per frame few arrive whole.
    void corruptedFramesAreNotReceived()
    {
        TPairRig rig;
        TAirOptions o;
        o.bitErrors = 0.004;
        QVERIFY(rig.Start(CableLinkMemory(0x11, true), CableLinkMemory(0x11, false), o));
        TLinkTestRequest q = rig.Request();
        q.direction = TLinkDirection::AToB;
        q.frames = 200;
        q.rate = 100;
        const TLinkTestResult r = TLinkTest(q).Run();
        QCOMPARE(r.total.sent, 200L);
        // Whole with probability 0.996^512, about 13 %.
        QVERIFY2(r.total.received < 60, qPrintable(QString::number(r.total.received)));
        QVERIFY2(r.total.corrupted > 120, qPrintable(QString::number(r.total.corrupted)));
        QVERIFY(!r.passed);
    }

    // Stopped, or the line gone: a verdict of its own, never passed; frames
    // on their way when the device went are not counted as lost.
    void cutShort_data()
    {
        QTest::addColumn<bool>("pull");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("headline");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("stopped") << false << int(TLinkVerdict::Stopped) << "STOPPED after" << "stopped";
        QTest::newRow("device pulled") << true << int(TLinkVerdict::Lost) << "PORT LOST after" << "lost";
    }
    void cutShort()
    {
        QFETCH(bool, pull);
        QFETCH(int, verdict);
        QFETCH(QString, headline);
        QFETCH(QString, outcome);
        TCableLinkModule m;
        TAirOptions o;
        o.loopback = true;
        o.latencyMs = 100;  // frames always on their way
        QVERIFY(m.Start(CableLinkMemory(0x11, true), o));
        TLinkTestRequest q;
        q.portA.port = m.Port();
        q.portA.flowItem = 3;
        q.loopback = true;
        q.seconds = 60;
        TLinkTest test(q);
        test.Start();
        QTRY_VERIFY_WITH_TIMEOUT(test.Snapshot().total.received > 5, 20000);
        if (pull) {
            TVirtualModuleFaults f;
            f.hangUpAfterBytes = 0;
            m.vm.SetFaults(f);
        } else {
            test.Stop();
        }
        QVERIFY(test.WaitFinished(20000));
        const TLinkTestResult r = test.Result();
        QCOMPARE(int(r.verdict), verdict);
        QVERIFY(r.partial && !r.passed);
        QVERIFY2(r.Headline().startsWith(headline), qPrintable(r.Headline()));
        QVERIFY(r.Headline().contains(QStringLiteral("not judged")));
        QVERIFY(!r.Headline().contains(QStringLiteral("win error")));
        QCOMPARE(LinkVerdictOutcome(r.verdict), outcome);
        QCOMPARE(r.ToJson(q).value(QStringLiteral("verdict")).toString(), outcome);
        QVERIFY(!r.ToJson(q).value(QStringLiteral("passed")).toBool());
        if (pull) QCOMPARE(r.total.lost, 0L);
    }

    // A line held by flow control (no room in the driver) ends the run at
    // its limit plus at most 2 s, failed and partial, with the cause named.
    void heldLineEndsAtTheLimit()
    {
        auto a = std::make_shared<TScriptedLine>(), b = std::make_shared<TScriptedLine>();
        a->SetHasModemLines(false);
        b->SetHasModemLines(false);
        a->SetTxHeld(true, 100);  // two frames' room, then nothing goes
        TLinkTestRequest q;
        q.portA.port = QStringLiteral("scripted-a");
        q.portA.flowItem = 3;
        q.portB = QStringLiteral("scripted-b");
        q.direction = TLinkDirection::AToB;
        q.seconds = 2;
        q.preparePort = [a, b](TCustomComPort& port, int side) { port.SetDeviceFactory((side ? b : a)->Factory()); };
        TLinkTest test(q);
        test.Start();
        QVERIFY(test.WaitFinished(30000));
        const TLinkTestResult r = test.Result();
        QCOMPARE(int(r.verdict), int(TLinkVerdict::Failed));
        QVERIFY(r.partial);
        QVERIFY2(r.partialReason.startsWith(QStringLiteral("the line was held by flow control for ")), qPrintable(r.partialReason));
        QVERIFY2(r.Reason().contains(r.partialReason), qPrintable(r.Reason()));
        QVERIFY2(r.seconds <= q.seconds + 2, qPrintable(QString::number(r.seconds)));
    }

    // After a frame that fails its CRC the next sync word is looked for at
    // every position: a damaged frame costs one frame, also when its header
    // holds the sync word's bytes (sequence 0x5AA5).
    void damageCostsOneFrame_data()
    {
        QTest::addColumn<uint>("sequence");
        QTest::addColumn<int>("dropAt");  // -1: flip a bit at flipAt instead
        QTest::addColumn<int>("flipAt");
        QTest::newRow("byte lost") << 2u << 30 << -1;
        QTest::newRow("bit flipped") << 2u << -1 << 40;
        QTest::newRow("sync word in the header, byte lost") << 0x5AA5u << 30 << -1;
        QTest::newRow("sync word in the header, bit flipped") << 0x5AA5u << -1 << 40;
        QTest::newRow("sync word in the header, its first byte lost") << 0x5AA5u << 0 << -1;
    }
    void damageCostsOneFrame()
    {
        QFETCH(uint, sequence);
        QFETCH(int, dropAt);
        QFETCH(int, flipAt);
        const int size = 64;
        QByteArray bad = EncodeLinkFrame(size, 0, sequence, 0x5AA5);
        if (dropAt >= 0) bad.remove(dropAt, 1);
        else bad[flipAt] = char(bad[flipAt] ^ 0x04);
        const auto ev = Read(size, EncodeLinkFrame(size, 0, 1, 0) + bad + EncodeLinkFrame(size, 0, 3, 0));
        QCOMPARE(ev.size(), size_t(3));
        QVERIFY(ev[0].intact && ev[0].sequence == 1);
        QVERIFY(!ev[1].intact);
        QVERIFY(ev[2].intact && ev[2].sequence == 3);
    }

    // The histogram's figures hold without the samples, and one outlier
    // does not set the scale of the bars.
    void latencyHistogram()
    {
        TLatencyHistogram h;
        for (int ms = 1; ms <= 1000; ++ms) h.Add(int64_t(ms) * 1000);
        h.Add(60'000'000);
        const TLinkLatency l = h.Figures();
        QCOMPARE(l.count, 1001L);
        QCOMPARE(l.minMs, 1.0);
        QCOMPARE(l.maxMs, 60000.0);
        QVERIFY2(std::abs(l.medianMs - 501) <= 501 * 0.02, qPrintable(QString::number(l.medianMs)));
        QVERIFY2(std::abs(l.p95Ms - 951) <= 951 * 0.02, qPrintable(QString::number(l.p95Ms)));
        const std::vector<int> bins = h.Bins(10, 100);
        QCOMPARE(std::accumulate(bins.begin(), bins.end(), 0), 1001);
        for (int n : bins) QVERIFY2(n >= 85 && n <= 115, qPrintable(QString::number(n)));  // about 100 each
    }
};

QTEST_GUILESS_MAIN(TestLinkTest)
#include "test_link_test.moc"
