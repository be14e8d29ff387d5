// The port on real pseudo-terminals: open, settings, transfers, queues,
// purge, close, failures on closed and hung-up ports.
#include <termios.h>

#include <QElapsedTimer>
#include <QtTest>

#include "pty_pair.h"
#include "serial/com_port.h"
#include "serial/termios2_baud.h"
#include "serial/termios_device.h"

namespace {

int FdOf(TCustomComPort& port) { return static_cast<TTermiosDevice*>(port.Device())->Fd(); }

template <typename F>
void ExpectRow(F f, int row, int system)
{
    try {
        f();
    } catch (const EComPort& e) {
        QCOMPARE(e.PortError(), row);
        QCOMPARE(e.SystemError(), system);
        return;
    }
    QFAIL(qPrintable(QStringLiteral("no EComPort for row %1").arg(row)));
}

}  // namespace

class TestComPortPty : public QObject {
    Q_OBJECT
private slots:
    void writeReadAndQueues();
    void lineSettingsReachTheTty();
    void purgeAndCloseDiscardInput_data();
    void purgeAndCloseDiscardInput();
    void queriesOnClosedPortRaiseCode6();
    void openMissingDevice();
    void openAndCloseAreIdempotent();
    void writeIsBoundedWhenNobodyReads();
    void ptyHasNoModemLinesAndHoldsNothing();
    void hangUpMidTransferRaisesAndCloses();
    void hangUpIsToldToLinks();
    void hangUpNoticeForAClosedPortIsDropped();
    void waitForInputReturnsWhenBytesArrive();
};

void TestComPortPty::writeReadAndQueues()
{
    TPtyPair pty;
    QVERIFY(pty.Ok());
    TComPort port;
    port.SetPort(pty.Path());
    port.OpenPort();
    QVERIFY(port.Connected());

    QCOMPARE(port.WriteText(QByteArray("hello")), 5);
    QCOMPARE(pty.Read(5, 3000), QByteArray("hello"));
    QCOMPARE(port.WriteText(QByteArray()), 0);
    QCOMPARE(port.OutQueueCount(), 0);

    char buf[8] = {};
    QCOMPARE(port.ReadBytes(buf, 5), 0);  // nothing received: returns at once
    pty.Write(QByteArray("abc"));
    QVERIFY(port.WaitForInput(3, 5000));
    QCOMPARE(port.InQueueCount(), 3);
    QCOMPARE(port.ReadBytes(buf, 5), 3);
    QCOMPARE(QByteArray(buf, 3), QByteArray("abc"));
    QCOMPARE(port.InQueueCount(), 0);

    pty.Write(QByteArray("xyz12"));
    QVERIFY(port.WaitForInput(5, 5000));
    QByteArray text;
    QCOMPARE(port.ReadText(text, 2), 2);
    QCOMPARE(text, QByteArray("xy"));
    QCOMPARE(port.ReadText(text, 10), 3);
    QCOMPARE(text, QByteArray("z12"));
    QCOMPARE(port.ReadText(text, 0), 0);
    QVERIFY(text.isEmpty());
    QCOMPARE(port.LineErrors(), TComErrors(0));
    port.ClosePort();
    QVERIFY(!port.Connected());
}

void TestComPortPty::lineSettingsReachTheTty()
{
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.Path());
    port.SetBaudRate(br256000);
    port.SetStopBits(sbTwoStopBits);
    port.SetEvents(0);
    port.OpenPort();
    uint32_t baud = 0;
    QCOMPARE(GetArbitraryBaudRate(FdOf(port), &baud), 0);
    QCOMPARE(baud, 256000u);
    termios t{};
    QCOMPARE(tcgetattr(FdOf(port), &t), 0);
    QVERIFY(t.c_cflag & CSTOPB);
    QCOMPARE(t.c_lflag & (ICANON | ECHO), tcflag_t(0));

    port.SetBaudRate(br9600);  // re-applied while open
    QCOMPARE(GetArbitraryBaudRate(FdOf(port), &baud), 0);
    QCOMPARE(baud, 9600u);
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(14400);
    QCOMPARE(GetArbitraryBaudRate(FdOf(port), &baud), 0);
    QCOMPARE(baud, 14400u);
    port.ClosePort();
}

void TestComPortPty::purgeAndCloseDiscardInput_data()
{
    QTest::addColumn<int>("events");
    QTest::newRow("event thread") << int(AllComEvents);
    QTest::newRow("no events") << 0;
}

void TestComPortPty::purgeAndCloseDiscardInput()
{
    QFETCH(int, events);
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.Path());
    port.SetEvents(TComEvents(events));
    port.OpenPort();
    QCOMPARE(port.EventThreadRunning(), events != 0);

    pty.Write(QByteArray("1234"));
    QVERIFY(port.WaitForInput(4, 5000));
    port.PurgeBuffers(true, false);
    QCOMPARE(port.InQueueCount(), 0);
    port.PurgeBuffers(false, false);  // no-op, but the device is asked

    pty.Write(QByteArray("left over"));
    QVERIFY(port.WaitForInput(9, 5000));
    port.ClosePort();
    port.OpenPort();
    QCOMPARE(port.InQueueCount(), 0);
    port.ClosePort();
}

void TestComPortPty::queriesOnClosedPortRaiseCode6()
{
    TComPort port;
    char c = 0;
    for (int round = 0; round < 2; ++round) {
        ExpectRow([&] { port.InQueueCount(); }, 10, 6);
        ExpectRow([&] { port.OutQueueCount(); }, 10, 6);
        ExpectRow([&] { port.CommStatusFlags(); }, 10, 6);
        ExpectRow([&] { port.LineErrors(); }, 10, 6);
        ExpectRow([&] { port.ModemSignals(); }, 11, 6);
        ExpectRow([&] { port.PurgeBuffers(true, true); }, 5, 6);
        ExpectRow([&] { port.ReadBytes(&c, 1); }, 3, 6);
        ExpectRow([&] { port.WriteText(QByteArray("x")); }, 2, 6);
        ExpectRow([&] { port.WaitForInput(1, 10); }, 10, 6);
        QCOMPARE(port.WriteText(QByteArray()), 0);
        try {
            port.InQueueCount();
        } catch (const EComPort& e) {
            QCOMPARE(e.Message(), QStringLiteral("ClearCommError function failed (win error code: 6)"));
        }
        // Second round: a port that was opened and closed again.
        TPtyPair pty;
        port.SetPort(pty.Path());
        port.OpenPort();
        port.ClosePort();
    }
}

void TestComPortPty::openMissingDevice()
{
    TComPort port;
    port.SetPort("/dev/tw-no-such-serial-port");
    int beforeOpen = 0, afterOpen = 0;
    port.OnBeforeOpen = [&](TCustomComPort*) { ++beforeOpen; };
    port.OnAfterOpen = [&](TCustomComPort*) { ++afterOpen; };
    try {
        port.OpenPort();
        QFAIL("no exception");
    } catch (const EComPort& e) {
        QCOMPARE(e.PortError(), 1);
        QCOMPARE(e.SystemError(), 2);
        QCOMPARE(e.Message(), QStringLiteral("Unable to open com port (win error code: 2)"));
    }
    QVERIFY(!port.Connected());
    QCOMPARE(beforeOpen, 1);
    QCOMPARE(afterOpen, 0);
    QVERIFY_THROWS_EXCEPTION(EComPort, port.SetConnected(true));
    QVERIFY(!port.Connected());
}

void TestComPortPty::openAndCloseAreIdempotent()
{
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.Path());
    int events = 0;
    port.OnBeforeOpen = port.OnAfterOpen = port.OnBeforeClose = port.OnAfterClose = [&](TCustomComPort*) { ++events; };
    port.ClosePort();
    QCOMPARE(events, 0);
    port.SetConnected(true);
    QCOMPARE(events, 2);
    port.OpenPort();
    port.SetConnected(true);
    QCOMPARE(events, 2);
    port.SetConnected(false);
    QCOMPARE(events, 4);
    port.ClosePort();
    QCOMPARE(events, 4);
}

void TestComPortPty::writeIsBoundedWhenNobodyReads()
{
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.Path());
    port.Timeouts().SetWriteTotalMultiplier(0);
    port.Timeouts().SetWriteTotalConstant(200);
    port.OpenPort();
    // The pty takes some kilobytes and then stops, like a line held by CTS.
    const QByteArray big(256 * 1024, 'x');
    QElapsedTimer t;
    t.start();
    const int32_t sent = port.WriteText(big);
    QVERIFY(sent > 0);
    QVERIFY(sent < big.size());
    QVERIFY2(t.elapsed() < 20000, "the write must give up at its deadline");
    QVERIFY(port.Connected());
    port.ClosePort();
}

void TestComPortPty::ptyHasNoModemLinesAndHoldsNothing()
{
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.Path());
    port.FlowControl().SetFlowControl(fcHardware);
    port.FlowControl().SetOutDSRFlow(true);
    port.OpenPort();
    QCOMPARE(port.ModemSignals(), uint8_t(0));
    QCOMPARE(port.CommStatusFlags(), uint8_t(0));
    port.ClosePort();
}

void TestComPortPty::hangUpMidTransferRaisesAndCloses()
{
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.Path());
    port.OpenPort();
    QCOMPARE(port.WriteText(QByteArray("ab")), 2);
    pty.CloseMaster();

    char buf[4];
    ExpectRow([&] { port.ReadBytes(buf, 4); }, 3, EIO);
    ExpectRow([&] { port.WriteText(QByteArray("cd")); }, 2, EIO);
    ExpectRow([&] { port.InQueueCount(); }, 10, EIO);
    ExpectRow([&] { port.CommStatusFlags(); }, 10, EIO);
    ExpectRow([&] { port.ModemSignals(); }, 11, EIO);
    ExpectRow([&] { port.WaitForInput(1, 2000); }, 10, EIO);
    QTRY_VERIFY_WITH_TIMEOUT(!port.EventThreadRunning(), 5000);
    QVERIFY(port.Connected());
    // Closing a dead line still works: nothing is left to abort.
    port.ClosePort();
    QVERIFY(!port.Connected());
}

void TestComPortPty::hangUpIsToldToLinks()
{
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.Path());
    port.OpenPort();
    int lost = 0;
    TComLink link;
    link.OnDeviceLost = [&](TCustomComPort* p) {
        QCOMPARE(p, &port);
        ++lost;
    };
    port.RegisterLink(&link);
    pty.CloseMaster();
    QTRY_COMPARE_WITH_TIMEOUT(lost, 1, 5000);
    // Told, not closed: closing stays the user's.
    QVERIFY(port.Connected());
    port.ClosePort();
    port.UnregisterLink(&link);
    QCOMPARE(lost, 1);
}

void TestComPortPty::hangUpNoticeForAClosedPortIsDropped()
{
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.Path());
    port.OpenPort();
    int lost = 0;
    TComLink link;
    link.OnDeviceLost = [&](TCustomComPort*) { ++lost; };
    port.RegisterLink(&link);
    pty.CloseMaster();
    // The thread notices and posts; the port is closed before the notice runs.
    QElapsedTimer t;
    t.start();
    while (port.EventThreadRunning() && t.elapsed() < 5000) QThread::msleep(2);
    QVERIFY(!port.EventThreadRunning());
    port.ClosePort();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(lost, 0);
    port.UnregisterLink(&link);
}

void TestComPortPty::waitForInputReturnsWhenBytesArrive()
{
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.Path());
    port.OpenPort();
    QVERIFY(!port.WaitForInput(1, 30));
    pty.Write(QByteArray("1"));
    QVERIFY(port.WaitForInput(1, 5000));
    QVERIFY(!port.WaitForInput(3, 30));  // one queued, three wanted: times out
    pty.Write(QByteArray("23"));
    QVERIFY(port.WaitForInput(3, 5000));
    QVERIFY(port.WaitForOutputEmpty(1000));
    port.ClosePort();
}

QTEST_GUILESS_MAIN(TestComPortPty)
#include "test_com_port_pty.moc"
