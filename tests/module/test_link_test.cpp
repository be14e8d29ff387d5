// The Link Test engine against virtual modules in Cable Link mode: the pair
// rule, loss and corruption as measured, and results cut short. The frame
// reader and the pair rule are checked on their own as well.
#include <QtTest>
#include <memory>

#include "cable_link_rig.h"
#include "module/link_frame.h"
#include "module/link_test.h"

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

    // Stopped, or the line gone: a result that says it is partial.
    void cutShort_data()
    {
        QTest::addColumn<bool>("pull");
        QTest::addColumn<QString>("reason");
        QTest::newRow("stopped") << false << "stopped";
        QTest::newRow("device pulled") << true << "port lost";
    }
    void cutShort()
    {
        QFETCH(bool, pull);
        QFETCH(QString, reason);
        TCableLinkModule m;
        TAirOptions o;
        o.loopback = true;
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
        QVERIFY(r.partial);
        QVERIFY2(r.partialReason.startsWith(reason), qPrintable(r.partialReason));
        QVERIFY(r.SummaryLines().first().contains(QStringLiteral("partial")));
        QVERIFY(r.ToJson(q).value(QStringLiteral("partial")).toBool());
        QCOMPARE(r.passed, !pull);
    }
};

QTEST_GUILESS_MAIN(TestLinkTest)
#include "test_link_test.moc"
