// The terminal on a line that flow control holds (DSR low with DTR/DSR
// flow): keys and pastes wait in a queue instead of blocking the window in
// a write, go out when the line is let go, and can be dropped.
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "common/ui/port_controls.h"
#include "serial/com_port.h"
#include "serial/dcb_flags.h"
#include "terminal/ui/com_terminal.h"
#include "terminal/ui/terminal_page.h"
// The serial tests' scripted line, compiled into this test (helpers link per folder).
#include "serial/scripted_device_helper.cpp"

class TestTerminalHeldLine : public QObject {
    Q_OBJECT
private slots:
    void heldLineQueuesKeysAndPaste()
    {
        TScriptedLine line;
        line.SetModem(ms::Cts);  // DSR low
        TComPort port;
        port.SetDeviceFactory(line.Factory());
        port.FlowControl().SetControlDTR(dtrHandshake);
        port.FlowControl().SetOutDSRFlow(true);
        port.Timeouts().SetWriteTotalMultiplier(0);
        port.Timeouts().SetWriteTotalConstant(1100);
        port.OpenPort();
        TComTerminal t;
        t.SetComPort(&port);
        int changes = 0;
        t.OnOutputChange = [&](TCustomComTerminal*) { ++changes; };

        QElapsedTimer clock;
        clock.start();
        QTest::keyClicks(&t, QStringLiteral("ab"));
        t.PasteText(QString(1000, QLatin1Char('x')));
        // A write waiting for DSR would take 1.1 s per key.
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QTRY_VERIFY(t.OutputHeld());
        QCOMPARE(t.OutputWaiting(), std::size_t(1002));
        QVERIFY(line.Sent().isEmpty());
        QVERIFY(changes > 0);

        line.SetModem(ms::Cts | ms::Dsr);
        QTRY_COMPARE_WITH_TIMEOUT(line.Sent().size(), qsizetype(1002), 20000);
        QVERIFY(line.Sent().startsWith("ab"));
        QTRY_VERIFY(!t.OutputHeld() && t.OutputWaiting() == 0);

        // Held again: a paste can be stopped, and nothing of it goes later.
        line.SetModem(ms::Cts);
        t.PasteText(QString(1000, QLatin1Char('y')));
        QTRY_VERIFY(t.OutputHeld());
        t.StopSending();
        QCOMPARE(t.OutputWaiting(), std::size_t(0));
        line.SetModem(ms::Cts | ms::Dsr);
        QTest::keyClicks(&t, QStringLiteral("c"));
        QTRY_COMPARE(line.Sent().size(), qsizetype(1003));
        QVERIFY(line.Sent().endsWith("xc"));
        t.SetComPort(nullptr);
        port.ClosePort();
    }

    // The Terminal page shows that the line is held and how much waits;
    // its Stop Sending button drops it without taking the focus.
    void pageShowsTheHeldLine()
    {
        TScriptedLine line;
        line.SetModem(ms::Cts);
        TComPort port;
        port.SetDeviceFactory(line.Factory());
        port.FlowControl().SetControlDTR(dtrHandshake);
        port.FlowControl().SetOutDSRFlow(true);
        port.OpenPort();
        TPortControls controls;
        TTerminalPage page(port, controls);
        page.show();
        page.ComTerminal->SetComPort(&port);
        QVERIFY(!page.OutputLabel->isVisible());
        page.ComTerminal->PasteText(QStringLiteral("hello"));
        QTRY_VERIFY(page.OutputLabel->isVisible());
        QTRY_COMPARE(page.OutputLabel->text().trimmed(), QStringLiteral("Line held by flow control: 5 bytes waiting"));
        QCOMPARE(page.StopSendingButton->focusPolicy(), Qt::NoFocus);
        page.StopSendingButton->click();
        QVERIFY(!page.OutputLabel->isVisible() && !page.StopSendingButton->isVisible());
        page.ComTerminal->SetComPort(nullptr);
        port.ClosePort();
    }
};

QTEST_MAIN(TestTerminalHeldLine)
#include "test_terminal_held_line.moc"
