// The jumper decision: header states, DB9 marks, overlay and label texts for
// every selection, and the enable/show rows of the page's controls.
#include <QtTest>

#include "settings/jumper_table.h"

namespace {

using Header = std::array<THeaderState, kHeaderPositions>;
constexpr THeaderState U = hsUpper, L = hsLower, R = hsRemoved;

TJumperSelections Sel(TDunmereMode mode, bool flash = false)
{
    TJumperSelections s;
    s.Mode = mode;
    s.LoadFromFlash = flash;
    return s;
}

std::vector<int> ShownMarks(const TJumperDrawing& d)
{
    std::vector<int> v;
    for (int m = 0; m < kDb9MarkCount; ++m)
        if (d.Db9Marks[m]) v.push_back(m);
    return v;
}

QStringList Labels(const TJumperDrawing& d) { return {d.Labels[0], d.Labels[1], d.Labels[2], d.Labels[3]}; }

const QStringList kNoLabels{QString(), QString(), QString(), QString()};

}  // namespace

Q_DECLARE_METATYPE(THeaderState)

class TestJumperTable : public QObject {
    Q_OBJECT
private slots:
    void startState()
    {
        const TJumperDrawing d = DecideJumpers(TJumperSelections{});
        QCOMPARE(d.Header, (Header{L, L, L, L, L, L, L}));
        QCOMPARE(ShownMarks(d), (std::vector<int>{jmSerialStraight1, jmSerialStraight2, jmFlowVertical1,
                                                   jmFlowVertical2}));
        QCOMPARE(d.Overlay, ovHide);
        QCOMPARE(Labels(d), (QStringList{"FI", "FO", "TX", "RX"}));
    }

    void demoPutsBaudPositionsUpperAndNoDb9()
    {
        for (int b = bd115200; b <= bdCustom; ++b) {
            TJumperSelections s = Sel(dmDemo);
            s.BaudRate = TDunmereBaudRate(b);
            s.RS232Serial = dsTx3Rx2;
            s.FlowControl = dfFi4Fo6;
            const TJumperDrawing d = DecideJumpers(s);
            QCOMPARE(d.Header, (Header{L, L, U, U, L, L, L}));
            QVERIFY(ShownMarks(d).empty());
            QCOMPARE(d.Overlay, ovKeep);
            QCOMPARE(Labels(d), kNoLabels);
        }
        TJumperSelections s = Sel(dmDemo);
        s.MasterSlave = ptPointB;
        s.RFDataRate = dr4800;
        s.RFChannel = 5;
        QCOMPARE(DecideJumpers(s).Header, (Header{L, U, U, U, R, U, U}));
    }

    void rcDrawsNothing()
    {
        TJumperSelections s = Sel(dmRC);
        s.FlowControl = dfFi6Fo4;
        QCOMPARE(DecideJumpers(s), TJumperDrawing{});
        s.LoadFromFlash = true;
        QCOMPARE(DecideJumpers(s), TJumperDrawing{});
    }

    void peripheralAndAtCommandDrawOnlyDb9()
    {
        for (TDunmereMode m : {dmPeripheral, dmATCommand}) {
            const TJumperDrawing d = DecideJumpers(Sel(m));
            QCOMPARE(d.Header, (Header{R, R, R, R, R, R, R}));
            QCOMPARE(ShownMarks(d).size(), size_t(4));
            QCOMPARE(Labels(d), (QStringList{"FI", "FO", "TX", "RX"}));
        }
    }

    void commandFixesModeAndRolePositions()
    {
        TJumperSelections s = Sel(dmCommand);
        s.MasterSlave = ptPointB;
        s.BaudRate = bd19200;
        const TJumperDrawing d = DecideJumpers(s);
        QCOMPARE(d.Header, (Header{U, L, U, R, L, L, L}));
        QCOMPARE(ShownMarks(d).size(), size_t(4));
    }

    void loadFromFlash()
    {
        TJumperSelections s = Sel(dmCommand);
        s.RS232Serial = dsTx3Rx2;
        const TJumperDrawing unchecked = DecideJumpers(s);
        s.LoadFromFlash = true;
        const TJumperDrawing checked = DecideJumpers(s);
        QCOMPARE(unchecked.Header, (Header{U, L, L, L, L, L, L}));
        QCOMPARE(checked.Header, (Header{R, R, R, R, R, R, R}));
        QCOMPARE(checked.Db9Marks, unchecked.Db9Marks);
        QCOMPARE(Labels(checked), Labels(unchecked));
        QCOMPARE(checked.Overlay, unchecked.Overlay);
        s.LoadFromFlash = false;
        QCOMPARE(DecideJumpers(s), unchecked);

        // Checked: the DB9 part stays for these three modes, nothing for the others.
        QCOMPARE(ShownMarks(DecideJumpers(Sel(dmCableLink, true))).size(), size_t(4));
        QCOMPARE(ShownMarks(DecideJumpers(Sel(dmPeripheral, true))).size(), size_t(4));
        QCOMPARE(DecideJumpers(Sel(dmDemo, true)), TJumperDrawing{});
        QCOMPARE(DecideJumpers(Sel(dmATCommand, true)), TJumperDrawing{});
    }

    void rfDataRateAndPointRows()
    {
        const THeaderState rates[] = {L, R, U};
        for (int r = 0; r < 3; ++r) {
            TJumperSelections s = Sel(dmCableLink);
            s.RFDataRate = TDunmereRFDataRate(r);
            QCOMPARE(DecideJumpers(s).Header[1], rates[r]);
        }
        TJumperSelections s = Sel(dmCableLink);
        s.MasterSlave = ptPointB;
        QCOMPARE(DecideJumpers(s).Header[6], U);
        s.MasterSlave = ptPointA;
        QCOMPARE(DecideJumpers(s).Header[6], L);
    }

    void baudRows_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<THeaderState>("p3");
        QTest::addColumn<THeaderState>("p4");
        QTest::newRow("115200") << int(bd115200) << R << U;
        QTest::newRow("57600") << int(bd57600) << L << L;
        QTest::newRow("38400") << int(bd38400) << L << R;
        QTest::newRow("19200") << int(bd19200) << U << R;
        QTest::newRow("9600") << int(bd9600) << R << L;
        QTest::newRow("2400") << int(bd2400) << U << L;
        QTest::newRow("1200") << int(bd1200) << R << R;
        QTest::newRow("Custom") << int(bdCustom) << L << U;
    }
    void baudRows()
    {
        QFETCH(int, baud);
        QFETCH(THeaderState, p3);
        QFETCH(THeaderState, p4);
        for (TDunmereMode m : {dmCableLink, dmCommand}) {
            TJumperSelections s = Sel(m);
            s.BaudRate = TDunmereBaudRate(baud);
            const Header h = DecideJumpers(s).Header;
            QCOMPARE(h[2], p3);
            QCOMPARE(h[3], p4);
        }
    }

    void channelRows_data()
    {
        QTest::addColumn<int>("item");
        QTest::addColumn<THeaderState>("p5");
        QTest::addColumn<THeaderState>("p6");
        QTest::newRow("0") << 0 << L << L;
        QTest::newRow("1") << 1 << L << R;
        QTest::newRow("2") << 2 << R << L;
        QTest::newRow("3") << 3 << R << R;
        QTest::newRow("4") << 4 << L << U;
        QTest::newRow("5") << 5 << R << U;
        QTest::newRow("6") << 6 << U << L;
        QTest::newRow("7") << 7 << U << R;
        QTest::newRow("15") << kChannel15Item << U << U;
    }
    void channelRows()
    {
        QFETCH(int, item);
        QFETCH(THeaderState, p5);
        QFETCH(THeaderState, p6);
        for (TDunmereMode m : {dmDemo, dmCableLink, dmCommand}) {
            TJumperSelections s = Sel(m);
            s.RFChannel = item;
            const Header h = DecideJumpers(s).Header;
            QCOMPARE(h[4], p5);
            QCOMPARE(h[5], p6);
        }
    }

    void db9Wiring_data()
    {
        QTest::addColumn<int>("serial");
        QTest::addColumn<int>("flow");
        QTest::addColumn<QList<int>>("marks");
        QTest::addColumn<int>("overlay");
        QTest::addColumn<QStringList>("labels");  // boxes P, Q, R, S
        const struct {
            int flow;
            QList<int> marks;
            int overlay;
            const char* p;
            const char* q;
        } flows[] = {
            {dfFi7Fo8, {jmFlowVertical1, jmFlowVertical2}, ovHide, "FI", "FO"},
            {dfFi8Fo7, {jmFlowPairA1, jmFlowPairA2}, ovHide, "FO", "FI"},
            {dfFi4Fo6, {jmFlowVertical3, jmFlowVertical4}, ovShow, "FO", "FI"},
            {dfFi6Fo4, {jmFlowPairB1, jmFlowPairB2}, ovShow, "FI", "FO"},
        };
        for (const auto& f : flows) {
            QList<int> straight = {jmSerialStraight1, jmSerialStraight2};
            QList<int> crossed = {jmSerialCrossed1, jmSerialCrossed2};
            QTest::addRow("straight-flow%d", f.flow)
                << int(dsTx2Rx3) << f.flow << straight + f.marks << f.overlay
                << QStringList{f.p, f.q, "TX", "RX"};
            QTest::addRow("crossed-flow%d", f.flow)
                << int(dsTx3Rx2) << f.flow << crossed + f.marks << f.overlay
                << QStringList{f.p, f.q, "RX", "TX"};
        }
    }
    void db9Wiring()
    {
        QFETCH(int, serial);
        QFETCH(int, flow);
        QFETCH(QList<int>, marks);
        QFETCH(int, overlay);
        QFETCH(QStringList, labels);
        for (TDunmereMode m : {dmCableLink, dmCommand, dmPeripheral, dmATCommand}) {
            TJumperSelections s = Sel(m);
            s.RS232Serial = TDb9Serial(serial);
            s.FlowControl = TDb9Flow(flow);
            const TJumperDrawing d = DecideJumpers(s);
            std::sort(marks.begin(), marks.end());
            QCOMPARE(ShownMarks(d), std::vector<int>(marks.begin(), marks.end()));
            QCOMPARE(int(d.Overlay), overlay);
            QCOMPARE(Labels(d), labels);
        }
    }

    void controlRows()
    {
        // Enabled groups in the order data rate, baud, channel, point, DB9 serial, DB9 flow;
        // then point notes, SerialDefaultLabel, LoadFromFlash.
        auto row = [](const TJumperControls& c) {
            return QList<bool>{c.RFDataRate, c.BaudRate,   c.RFChannel,          c.MasterSlave,  c.RS232Serial,
                               c.FlowControl, c.PointNotes, c.SerialDefaultLabel, c.LoadFromFlash};
        };
        const bool T = true, F = false;
        QCOMPARE(row(ModeControls(dmDemo)), (QList<bool>{T, F, T, T, F, F, T, F, F}));
        QCOMPARE(row(ModeControls(dmCableLink)), (QList<bool>{T, T, T, T, T, T, T, T, T}));
        QCOMPARE(row(ModeControls(dmCommand)), (QList<bool>{T, T, T, F, T, T, F, T, T}));
        QCOMPARE(row(ModeControls(dmPeripheral)), (QList<bool>{F, F, F, F, T, T, F, F, F}));
        QCOMPARE(row(ModeControls(dmRC)), (QList<bool>{F, F, F, F, F, F, T, F, F}));
        QCOMPARE(row(ModeControls(dmATCommand)), (QList<bool>{F, F, F, F, T, T, F, F, F}));

        QCOMPARE(row(LoadFromFlashControls(dmCableLink, true)), (QList<bool>{F, F, F, F, T, T, T, F, T}));
        QCOMPARE(row(LoadFromFlashControls(dmCommand, true)), (QList<bool>{F, F, F, F, T, T, F, F, T}));
        QCOMPARE(LoadFromFlashControls(dmCableLink, false), ModeControls(dmCableLink));
        QCOMPARE(LoadFromFlashControls(dmCommand, false), ModeControls(dmCommand));
    }
};

QTEST_APPLESS_MAIN(TestJumperTable)
#include "test_jumper_table.moc"
