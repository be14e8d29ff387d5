// DSR output flow, which the port emulates: a write waits while DSR is low.
#include <QtTest>
#include <thread>

#include "scripted_device_helper.h"
#include "serial/com_port.h"
#include "serial/dcb_flags.h"
#include "serial/dcb_termios.h"

class TestDsrFlow : public QObject {
    Q_OBJECT
private slots:
    void heldWhileDsrIsLow();
    void goesWhenDsrRises();
    void lineWithoutModemLinesSends();
};

namespace {

void DtrDsrFlow(TComPort& port, int32_t writeConstantMs)
{
    TComFlowControl& fc = port.FlowControl();
    fc.SetControlDTR(dtrHandshake);
    fc.SetOutDSRFlow(true);
    port.Timeouts().SetWriteTotalMultiplier(0);
    port.Timeouts().SetWriteTotalConstant(writeConstantMs);
}

}  // namespace

void TestDsrFlow::heldWhileDsrIsLow()
{
    TScriptedLine line;
    line.SetModem(ms::Cts);
    TComPort port;
    port.SetDeviceFactory(line.Factory());
    DtrDsrFlow(port, 150);
    QByteArray txData;
    TComLink link;
    link.OnTxData = [&](TCustomComPort*, const char* b, int n) { txData.append(b, n); };
    port.RegisterLink(&link);
    port.OpenPort();
    // DTR is the handshake line: raised.
    TTermiosSettings s;
    QCOMPARE(DcbToTermios(line.Applied().back(), &s), 0);
    QVERIFY(s.dtr);
    QCOMPARE(port.CommStatusFlags(), uint8_t(cs::DsrHold));

    QElapsedTimer t;
    t.start();
    // Reported as the write time-out reports: the count that went, no failure.
    QCOMPARE(port.WriteText(QByteArray("\xFF\x0F")), 0);
    QVERIFY(t.elapsed() >= 140);
    QVERIFY(line.Sent().isEmpty());
    QCOMPARE(txData, QByteArray("\xFF\x0F"));  // the links get what was asked for, as on a time-out
    port.ClosePort();
    port.UnregisterLink(&link);
}

void TestDsrFlow::goesWhenDsrRises()
{
    TScriptedLine line;
    TComPort port;
    port.SetDeviceFactory(line.Factory());
    DtrDsrFlow(port, 10000);
    port.SetEvents(0);  // no event thread: every look at the lines is the write's
    port.OpenPort();
    const int looks = line.ModemLooks();
    std::thread raise([&] {
        // Raised once the write has found DSR low twice.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (line.ModemLooks() < looks + 2 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        line.SetModem(ms::Dsr);
    });
    QElapsedTimer t;
    t.start();
    const int32_t sent = port.WriteText(QByteArray("abc"));
    raise.join();
    QVERIFY(line.ModemLooks() >= looks + 2);
    QCOMPARE(sent, 3);
    QCOMPARE(line.Sent(), QByteArray("abc"));
    QVERIFY(t.elapsed() < 9000);
    // DSR high: nothing held.
    QCOMPARE(port.WriteText(QByteArray("d")), 1);
    QCOMPARE(line.Sent(), QByteArray("abcd"));
    port.ClosePort();
}

void TestDsrFlow::lineWithoutModemLinesSends()
{
    // A pseudo-terminal cannot tell DSR: the write goes as without the flow.
    TScriptedLine line;
    line.SetHasModemLines(false);
    TComPort port;
    port.SetDeviceFactory(line.Factory());
    DtrDsrFlow(port, 10000);
    port.OpenPort();
    QElapsedTimer t;
    t.start();
    QCOMPARE(port.WriteText(QByteArray("xy")), 2);
    QVERIFY(t.elapsed() < 5000);
    QCOMPARE(line.Sent(), QByteArray("xy"));
    port.ClosePort();
}

QTEST_GUILESS_MAIN(TestDsrFlow)
#include "test_dsr_flow.moc"
