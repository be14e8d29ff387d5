// The signal lamps: pictures per kind, State and code 19, the link slots per
// signal, the ring timer, attaching and detaching, and lamps following a
// scripted line and a real pseudo-terminal.
#include <QElapsedTimer>
#include <QtTest>
#include <memory>
#include <vector>

#include "pty_pair.h"
#include "scripted_device_helper.h"
#include "serial/ui/com_led.h"
#include "serial/com_port.h"

namespace {

const TLedKind kKinds[] = {lkRedLight, lkGreenLight, lkBlueLight, lkYellowLight, lkPurpleLight, lkBulb};
const TComLedSignal kSignals[] = {lsConn, lsCTS, lsDSR, lsRLSD, lsRing, lsRx, lsTx};

QImage Grab(TComLed& led) { return led.grab().toImage().convertToFormat(QImage::Format_ARGB32); }

// How many of the link's signal slots are set.
int SlotsSet(const TComLink& l)
{
    return bool(l.OnOpenChange) + bool(l.OnCTSSignal) + bool(l.OnDSRSignal) + bool(l.OnRLSDSignal) +
           bool(l.OnRingSignal) + bool(l.OnTxActive) + bool(l.OnRxActive);
}

// Counts paint events, to tell whether a lamp painted before the loop ran.
class TPaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

// Seven lamps, one per signal, on one port, with the states they went through.
struct TLampSet {
    std::vector<std::unique_ptr<TComLed>> leds;
    std::vector<std::vector<TLedState>> history;
    explicit TLampSet(TCustomComPort* port, int ringMs = 1000)
    {
        history.resize(std::size(kSignals));
        for (size_t i = 0; i < std::size(kSignals); ++i) {
            auto led = std::make_unique<TComLed>();
            led->SetLedSignal(kSignals[i]);
            led->SetRingDuration(ringMs);
            led->OnChange = [this, i](TComLed*, TLedState s) { history[i].push_back(s); };
            led->SetComPort(port);
            leds.push_back(std::move(led));
        }
    }
    TComLed& operator[](TComLedSignal s) { return *leds[s]; }
    std::vector<TLedState>& History(TComLedSignal s) { return history[s]; }
};

}  // namespace

class TestComLed : public QObject {
    Q_OBJECT
private slots:
    void picturesDifferOnAndOffForEveryKind();
    void lampIsCentredAndDisabledShowsOff();
    void customGlyphsOnlyForCustomKind();
    void stateWriteRaisesCode19WhileAttached();
    void oneLinkSlotPerSignal();
    void signalPaintsAtOnce();
    void activityLampHoldsItsPicture();
    void ringLampGoesDarkAfterItsTime();
    void attachingShowsOpenPortAtOnce();
    void linkRegistrationFollowsAttachment();
    void lampsFollowScriptedLine();
    void lampsFollowPtyPort();
};

void TestComLed::picturesDifferOnAndOffForEveryKind()
{
    for (TLedKind k : kKinds) {
        const QImage on = LedPicture(k, true), off = LedPicture(k, false);
        QCOMPARE(on.size(), QSize(15, 15));
        QCOMPARE(off.size(), QSize(15, 15));
        QVERIFY(on != off);
        // Transparent around the lamp, as the drawing is put on any background.
        QCOMPARE(qAlpha(on.pixel(0, 14)), 0);
        QCOMPARE(qAlpha(off.pixel(0, 14)), 0);
        QVERIFY(qAlpha(on.pixel(7, 7)) == 255);

        TComLed led;
        led.SetKind(k);
        QCOMPARE(led.Kind(), k);
        QCOMPARE(led.size(), QSize(25, 25));
        const QImage dark = Grab(led);
        led.SetState(lsOn);
        const QImage lit = Grab(led);
        QVERIFY2(dark != lit, qPrintable(LedPictureName(k, true)));
        // A lit lamp is brighter at its centre.
        QVERIFY(qGray(lit.pixel(12, 12)) > qGray(dark.pixel(12, 12)));
    }
    QCOMPARE(LedPictureName(lkRedLight, true), QStringLiteral("LEDREDON"));
    QCOMPARE(LedPictureName(lkBulb, false), QStringLiteral("LEDBULBOFF"));
    QCOMPARE(LedPictureName(lkPurpleLight, false), QStringLiteral("LEDPURPLEOFF"));
    QVERIFY(LedPicture(lkCustom, true).isNull());
}

void TestComLed::lampIsCentredAndDisabledShowsOff()
{
    TComLed led;
    led.resize(41, 31);
    led.SetState(lsOn);
    const QImage img = Grab(led);
    const QImage pic = LedPicture(lkRedLight, true).convertToFormat(QImage::Format_ARGB32);
    // Picture placed at ((41-15)/2, (31-15)/2) = (13, 8): its opaque centre there.
    QCOMPARE(img.pixel(13 + 7, 8 + 7), pic.pixel(7, 7));
    QVERIFY(img.pixel(2, 2) != pic.pixel(7, 7));
    led.resize(25, 25);
    const QImage lit = Grab(led);
    led.setEnabled(false);
    QCOMPARE(led.State(), lsOn);
    QCOMPARE(led.CurrentPicture(), LedPicture(lkRedLight, false));
    QVERIFY(Grab(led) != lit);
}

void TestComLed::customGlyphsOnlyForCustomKind()
{
    QImage glyph(15, 15, QImage::Format_RGB32);
    glyph.fill(qRgb(0, 255, 0));  // background, named by the bottom-left pixel
    for (int y = 4; y < 11; ++y)
        for (int x = 4; x < 11; ++x) glyph.setPixel(x, y, qRgb(200, 0, 200));

    TComLed led;
    const QImage red = led.GlyphOn();
    led.SetGlyphOn(glyph);
    QCOMPARE(led.GlyphOn(), red);

    led.SetKind(lkCustom);
    QCOMPARE(led.GlyphOn(), red);  // the current pictures stay
    led.SetGlyphOn(glyph);
    led.SetGlyphOff(glyph.mirrored());
    QCOMPARE(qAlpha(led.GlyphOn().pixel(0, 0)), 0);
    QCOMPARE(led.GlyphOn().pixel(7, 7), qRgb(200, 0, 200));
    led.SetState(lsOn);
    const QImage img = Grab(led);
    QCOMPARE(img.pixel(5 + 7, 5 + 7), qRgb(200, 0, 200));
    QVERIFY(img.pixel(5, 5) != qRgb(0, 255, 0));  // transparent: the background shows
}

void TestComLed::stateWriteRaisesCode19WhileAttached()
{
    TComLed led;
    std::vector<TLedState> seen;
    led.OnChange = [&](TComLed* sender, TLedState s) {
        QCOMPARE(sender, &led);
        seen.push_back(s);
    };
    led.SetState(lsOn);
    QCOMPARE(led.State(), lsOn);
    led.SetState(lsOn);  // told again although unchanged
    QCOMPARE(seen, (std::vector<TLedState>{lsOn, lsOn}));

    TComPort port;
    led.SetComPort(&port);
    QCOMPARE(led.State(), lsOn);  // a closed port leaves the state as it was
    seen.clear();
    try {
        led.SetState(lsOff);
        QFAIL("no EComPort");
    } catch (const EComPort& e) {
        QCOMPARE(e.PortError(), 19);
        QCOMPARE(e.SystemError(), -1);
        QCOMPARE(e.Message(), QStringLiteral("Cannot change led state if ComPort is selected"));
    }
    QCOMPARE(led.State(), lsOn);
    QVERIFY(seen.empty());

    // Detaching turns the lamp off; then State may be written again.
    led.SetComPort(nullptr);
    QCOMPARE(led.State(), lsOff);
    led.SetState(lsOn);
    QCOMPARE(led.State(), lsOn);
}

void TestComLed::oneLinkSlotPerSignal()
{
    TComLed led;
    QCOMPARE(led.LedSignal(), lsConn);
    QVERIFY(bool(led.Link().OnOpenChange));
    QCOMPARE(SlotsSet(led.Link()), 1);
    QVERIFY(!led.Link().OnRxData && !led.Link().OnTxData);
    for (TComLedSignal s : kSignals) {
        led.SetLedSignal(s);
        const TComLink& l = led.Link();
        QCOMPARE(SlotsSet(l), 1);
        // Writing the signal does not re-read the state.
        led.SetState(lsOff);
        switch (s) {
        case lsConn: l.OnOpenChange(nullptr, true); break;
        case lsCTS: l.OnCTSSignal(nullptr, true); break;
        case lsDSR: l.OnDSRSignal(nullptr, true); break;
        case lsRLSD: l.OnRLSDSignal(nullptr, true); break;
        case lsRing: l.OnRingSignal(nullptr); break;
        case lsRx: l.OnRxActive(nullptr, true); break;
        case lsTx: l.OnTxActive(nullptr, true); break;
        }
        QCOMPARE(led.State(), lsOn);
        if (s == lsRing) continue;
        switch (s) {
        case lsConn: l.OnOpenChange(nullptr, false); break;
        case lsCTS: l.OnCTSSignal(nullptr, false); break;
        case lsDSR: l.OnDSRSignal(nullptr, false); break;
        case lsRLSD: l.OnRLSDSignal(nullptr, false); break;
        case lsRx: l.OnRxActive(nullptr, false); break;
        case lsTx: l.OnTxActive(nullptr, false); break;
        default: break;
        }
        QCOMPARE(led.State(), lsOff);
    }
}

void TestComLed::signalPaintsAtOnce()
{
    TComLed led;
    led.show();
    QVERIFY(QTest::qWaitForWindowExposed(&led));
    TPaintCounter counter;
    led.installEventFilter(&counter);
    // No event loop runs between the notification and the check, as inside
    // a blocking write; nor inside it: nothing queued runs there.
    bool queuedRan = false;
    QMetaObject::invokeMethod(&led, [&queuedRan] { queuedRan = true; }, Qt::QueuedConnection);
    led.Link().OnOpenChange(nullptr, true);
    QVERIFY(counter.paints >= 1);
    QVERIFY(!queuedRan);
    QCOMPARE(Grab(led).pixel(12, 12), LedPicture(lkRedLight, true).pixel(7, 7));

    // Turned off (no exchange blocks the loop): the change waits for the loop.
    TComLed::SetPaintInNotification(false);
    bool ran = false;
    QMetaObject::invokeMethod(&led, [&ran] { ran = true; }, Qt::QueuedConnection);
    led.Link().OnOpenChange(nullptr, false);
    QVERIFY(!ran);
    TComLed::SetPaintInNotification(true);
    QTRY_VERIFY(ran);
    QCOMPARE(Grab(led).pixel(12, 12), LedPicture(lkRedLight, false).pixel(7, 7));
}

void TestComLed::activityLampHoldsItsPicture()
{
    TComPort port;  // attached, never opened
    const QImage on = LedPicture(lkRedLight, true), off = LedPicture(lkRedLight, false);
    for (TComLedSignal s : {lsRx, lsTx}) {
        TComLed led;
        led.SetLedSignal(s);
        led.SetComPort(&port);
        led.show();
        QVERIFY(QTest::qWaitForWindowExposed(&led));
        auto pulse = [&](bool v) { s == lsRx ? led.Link().OnRxActive(nullptr, v) : led.Link().OnTxActive(nullptr, v); };
        // On and off within one handler, as a read that empties the queue.
        QElapsedTimer lit;
        lit.start();
        pulse(true);
        pulse(false);
        QCOMPARE(led.State(), lsOff);  // the state stays exact
        QVERIFY(led.Lit());
        QVERIFY(led.CurrentPicture() == on);
        QTRY_VERIFY_WITH_TIMEOUT(!led.Lit(), 5000);
        QVERIFY(lit.elapsed() >= TComLed::ActivityHoldMs - 1);
        QCOMPARE(Grab(led).pixel(12, 12), off.pixel(7, 7));
        // A busy line keeps it lit; once quiet it goes dark.
        for (int i = 0; i < 5; ++i) {
            pulse(true);
            pulse(false);
            QVERIFY(led.Lit());
            QTest::qWait(10);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!led.Lit(), 5000);
        QCOMPARE(Grab(led).pixel(12, 12), off.pixel(7, 7));
    }
    // Level signals and lamps without a port show their state as it is.
    TComLed conn;
    conn.SetComPort(&port);
    conn.Link().OnOpenChange(nullptr, true);
    conn.Link().OnOpenChange(nullptr, false);
    QVERIFY(!conn.Lit());
    TComLed free;
    free.SetLedSignal(lsRx);
    free.SetState(lsOn);
    free.SetState(lsOff);
    QVERIFY(!free.Lit());
}

void TestComLed::ringLampGoesDarkAfterItsTime()
{
    TComLed led;
    led.SetLedSignal(lsRing);
    led.SetRingDuration(1000);
    QCOMPARE(led.RingDuration(), 1000);
    QVERIFY(!led.RingTimerActive());
    led.Link().OnRingSignal(nullptr);
    QCOMPARE(led.State(), lsOn);
    QVERIFY(led.RingTimerActive());
    // A second ring of the series does not lengthen the lit period.
    QVERIFY(QTest::qWaitFor([&] { return led.RingTimeLeft() < 700; }, 5000));
    const int left = led.RingTimeLeft();
    led.Link().OnRingSignal(nullptr);
    QVERIFY(led.RingTimeLeft() <= left);
    QCOMPARE(led.State(), lsOn);
    QTRY_COMPARE_WITH_TIMEOUT(led.State(), lsOff, 10000);
    QVERIFY(!led.RingTimerActive());
    // A new series lights it again.
    led.SetRingDuration(50);
    led.Link().OnRingSignal(nullptr);
    QCOMPARE(led.State(), lsOn);
    QTRY_COMPARE_WITH_TIMEOUT(led.State(), lsOff, 10000);
}

void TestComLed::attachingShowsOpenPortAtOnce()
{
    auto line = std::make_shared<TScriptedLine>();
    line->SetModem(ms::Cts | ms::Rlsd);
    TComPort port;
    port.SetDeviceFactory(line->Factory());
    port.SetPort(QStringLiteral("ttyTEST0"));
    port.SetEvents(0);  // no event thread: only what attaching reads
    port.OpenPort();

    TLampSet lamps(&port);
    QCOMPARE(lamps[lsConn].State(), lsOn);
    QCOMPARE(lamps[lsCTS].State(), lsOn);
    QCOMPARE(lamps[lsDSR].State(), lsOff);
    QCOMPARE(lamps[lsRLSD].State(), lsOn);
    QCOMPARE(lamps[lsRing].State(), lsOff);
    QCOMPARE(lamps[lsRx].State(), lsOff);
    QCOMPARE(lamps[lsTx].State(), lsOff);

    // Attached to a closed port a lamp keeps its state until notified.
    TComPort closed;
    TComLed led;
    led.SetState(lsOn);
    led.SetComPort(&closed);
    QCOMPARE(led.State(), lsOn);
    closed.SetDeviceFactory(line->Factory());
    closed.SetEvents(0);
    closed.OpenPort();
    closed.ClosePort();
    QCOMPARE(led.State(), lsOff);
}

void TestComLed::linkRegistrationFollowsAttachment()
{
    auto a = std::make_unique<TComPort>();
    TComPort b;
    {
        TComLed led;
        led.SetComPort(a.get());
        QVERIFY(a->HasLink(&led.Link()));
        led.SetComPort(a.get());  // the same port again changes nothing
        led.SetComPort(&b);
        QVERIFY(!a->HasLink(&led.Link()));
        QVERIFY(b.HasLink(&led.Link()));
    }
    // A destroyed lamp leaves no link behind: registering another works.
    TComLed other;
    other.SetComPort(&b);
    QVERIFY(b.HasLink(&other.Link()));

    // The port goes first: the lamp detaches and goes dark.
    TComLed led;
    led.SetState(lsOn);
    led.SetComPort(a.get());
    a.reset();
    QCOMPARE(led.ComPort(), nullptr);
    QCOMPARE(led.State(), lsOff);
    led.SetState(lsOn);  // unattached again
}

void TestComLed::lampsFollowScriptedLine()
{
    auto line = std::make_shared<TScriptedLine>();
    line->SetModem(ms::Dsr);
    TComPort port;
    port.SetDeviceFactory(line->Factory());
    port.SetPort(QStringLiteral("ttyTEST0"));
    TLampSet lamps(&port, 300);

    port.OpenPort();
    QCOMPARE(lamps[lsConn].State(), lsOn);
    QCOMPARE(lamps[lsDSR].State(), lsOn);
    QCOMPARE(lamps[lsCTS].State(), lsOff);

    line->SetModem(ms::Dsr | ms::Cts | ms::Rlsd);
    QTRY_COMPARE_WITH_TIMEOUT(lamps[lsCTS].State(), lsOn, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(lamps[lsRLSD].State(), lsOn, 10000);

    line->Change(ms::Dsr | ms::Cts | ms::Rlsd, 2);
    QTRY_COMPARE_WITH_TIMEOUT(lamps[lsRing].State(), lsOn, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(lamps[lsRing].State(), lsOff, 10000);

    line->Receive("abc");
    QTRY_COMPARE_WITH_TIMEOUT(lamps[lsRx].State(), lsOn, 10000);
    char buf[8];
    QCOMPARE(port.ReadBytes(buf, 8), 3);
    QCOMPARE(lamps[lsRx].State(), lsOff);

    QCOMPARE(port.WriteText("xy"), 2);
    QVERIFY(!lamps.History(lsTx).empty());
    QCOMPARE(lamps.History(lsTx).front(), lsOn);
    QTRY_COMPARE_WITH_TIMEOUT(lamps[lsTx].State(), lsOff, 10000);

    port.ClosePort();
    for (TComLedSignal s : {lsConn, lsCTS, lsDSR, lsRLSD}) QCOMPARE(lamps[s].State(), lsOff);
}

void TestComLed::lampsFollowPtyPort()
{
    TPtyPair pty;
    QVERIFY(pty.Ok());
    TComPort port;
    port.SetPort(pty.Path());
    TLampSet lamps(&port);
    QCOMPARE(lamps[lsConn].State(), lsOff);

    port.OpenPort();
    QCOMPARE(lamps[lsConn].State(), lsOn);
    // A pty has no modem lines: they read as off.
    QCOMPARE(lamps[lsCTS].State(), lsOff);

    QCOMPARE(port.WriteText("hello"), 5);
    QCOMPARE(pty.Read(5, 5000), QByteArray("hello"));
    QCOMPARE(lamps.History(lsTx).front(), lsOn);
    QTRY_COMPARE_WITH_TIMEOUT(lamps[lsTx].State(), lsOff, 10000);

    pty.Write("abcd");
    QTRY_COMPARE_WITH_TIMEOUT(lamps[lsRx].State(), lsOn, 10000);
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += [&] {
                                  QByteArray t;
                                  port.ReadText(t, 16);
                                  return t;
                              }()) == "abcd",
                             10000);
    QCOMPARE(lamps[lsRx].State(), lsOff);

    port.ClosePort();
    QCOMPARE(lamps[lsConn].State(), lsOff);
    port.OpenPort();
    QCOMPARE(lamps[lsConn].State(), lsOn);
}

QTEST_MAIN(TestComLed)
#include "test_com_led.moc"
