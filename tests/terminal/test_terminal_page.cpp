// The Terminal page: layout, "Local Echo", and the rule that the terminal
// takes received bytes only while it holds the focus.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QtTest>

#include "common/port_controls.h"
#include "pty_peer_helper.h"
#include "serial/com_led.h"
#include "serial/com_port.h"
#include "terminal/com_terminal.h"
#include "terminal/terminal_page.h"

class TestTerminalPage : public QObject {
    Q_OBJECT
private slots:
    void layout();
    void localEchoFollowsCheckBox();
    void focusDecidesWhoReadsReceivedBytes();
};

void TestTerminalPage::layout()
{
    TComPort port;
    TPortControls controls;
    TTerminalPage page(port, controls);

    QCOMPARE(page.CheckBox1->objectName(), QStringLiteral("CheckBox1"));
    QCOMPARE(page.CheckBox1->text(), QStringLiteral("Local Echo"));
    QCOMPARE(page.CheckBox1->pos(), QPoint(8, 6));
    QVERIFY(!(page.CheckBox1->focusPolicy() & Qt::TabFocus));

    struct Lamp {
        TComLed* led;
        const char* name;
        int left;
        const char* caption;
    };
    const Lamp lamps[] = {{page.ComLed11, "ComLed11", 136, "Open"},
                          {page.ComLed7, "ComLed7", 208, "Transmit Data"},
                          {page.ComLed9, "ComLed9", 320, "Receive Data"},
                          {page.ComLed10, "ComLed10", 432, "Clear To Send"},
                          {page.ComLed8, "ComLed8", 544, "Data Set Ready"}};
    const QList<QLabel*> labels = page.findChildren<QLabel*>();
    for (const Lamp& l : lamps) {
        QCOMPARE(l.led->objectName(), QLatin1String(l.name));
        QCOMPARE(l.led->geometry(), QRect(l.left, 0, 25, 25));
        const bool labelled = std::any_of(labels.begin(), labels.end(), [&](QLabel* lb) {
            return lb->text() == QLatin1String(l.caption) && lb->pos() == QPoint(l.left + 24, 6);
        });
        QVERIFY2(labelled, l.caption);
    }

    TComTerminal* t = page.ComTerminal;
    QCOMPARE(t->objectName(), QStringLiteral("ComTerminal"));
    QCOMPARE(t->geometry(), QRect(0, 32, 649, 329));
    QVERIFY(!t->isEnabled());
    QCOMPARE(t->Rows(), 27);
    QCOMPARE(t->Columns(), 80);
    QCOMPARE(t->Emulation(), teVT100orANSI);
    QVERIFY(t->SendLF());
    QVERIFY(t->WrapLines());
    QVERIFY(!t->LocalEcho());
    QCOMPARE(t->ArrowKeys(), akTerminal);
    QCOMPARE(t->ScrollBars(), ssBoth);
    QCOMPARE(t->Color(), QColor(Qt::black));
    QCOMPARE(t->FontColor(), QColor(Qt::white));
    QVERIFY(TCustomComTerminal::IsFixedPitch(t->Font()));
    // The whole 80 x 27 screen is visible in the page.
    QVERIFY(80 * t->CellWidth() <= t->contentsRect().width());
    QVERIFY(27 * t->CellHeight() <= t->contentsRect().height());
    QVERIFY(t->ComPort() == nullptr);

    QCOMPARE(controls.Settings(), std::vector<QWidget*>{page.CheckBox1});
    QCOMPARE(controls.Operations(), std::vector<QWidget*>{t});
}

void TestTerminalPage::localEchoFollowsCheckBox()
{
    TComPort port;
    TPortControls controls;
    TTerminalPage page(port, controls);
    page.CheckBox1->setChecked(true);
    QVERIFY(page.ComTerminal->LocalEcho());
    page.CheckBox1->click();
    QVERIFY(!page.ComTerminal->LocalEcho());
}

void TestTerminalPage::focusDecidesWhoReadsReceivedBytes()
{
    TPtyPeer peer;
    if (!peer.Ok()) QSKIP("no pseudo-terminal available");
    TComPort port;
    TPortControls controls;
    QWidget window;
    auto* box = new QVBoxLayout(&window);
    auto* page = new TTerminalPage(port, controls);
    page->setMinimumSize(657, 370);
    auto* elsewhere = new QLineEdit;  // a control of "another page"
    box->addWidget(page);
    box->addWidget(elsewhere);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    // With the port closed the terminal is disabled and cannot take the focus.
    page->ComTerminal->setFocus();
    QVERIFY(!page->ComTerminal->hasFocus());
    QVERIFY(page->ComTerminal->ComPort() == nullptr);

    port.SetPort(peer.SlavePath());
    port.OpenPort();
    controls.EnableOperations(true);
    controls.EnableSettings(false);
    elsewhere->setFocus();
    QTRY_VERIFY(elsewhere->hasFocus());

    // Not focused: the bytes stay queued for the polling exchanges.
    peer.Write("hello");
    QTRY_COMPARE_WITH_TIMEOUT(port.InQueueCount(), 5, 5000);
    QVERIFY(!port.HasLink(&page->ComTerminal->RxLink()));
    QCOMPARE(page->ComTerminal->Buffer().LoadCell(1, 1).Ch, uint8_t(0));
    char buf[8] = {};
    QCOMPARE(port.ReadBytes(buf, 5), 5);
    QCOMPARE(QByteArray(buf, 5), QByteArray("hello"));

    // A click attaches it; received bytes are shown.
    QTest::mouseClick(page->ComTerminal->viewport(), Qt::LeftButton, {}, QPoint(30, 30));
    QTRY_VERIFY(page->ComTerminal->hasFocus());
    QVERIFY(page->ComTerminal->ComPort() == &port);
    QVERIFY(port.HasLink(&page->ComTerminal->RxLink()));
    peer.Write("abc");
    QTRY_COMPARE_WITH_TIMEOUT(page->ComTerminal->Buffer().LoadCell(3, 1).Ch, uint8_t('c'), 5000);
    QCOMPARE(port.InQueueCount(), 0);

    // Typed Enter sends CR LF (SendLF of the page's terminal).
    QTest::keyClick(page->ComTerminal, Qt::Key_Return);
    QCOMPARE(peer.Read(2, 5000), QByteArray("\r\n"));

    // Leaving detaches it before anything else is sent; the screen stays.
    elsewhere->setFocus();
    QTRY_VERIFY(elsewhere->hasFocus());
    QVERIFY(page->ComTerminal->ComPort() == nullptr);
    QVERIFY(!port.HasLink(&page->ComTerminal->RxLink()));
    peer.Write("\x6B");
    QTRY_COMPARE_WITH_TIMEOUT(port.InQueueCount(), 1, 5000);
    QCOMPARE(page->ComTerminal->Buffer().LoadCell(1, 1).Ch, uint8_t('a'));
    port.ClosePort();
}

QTEST_MAIN(TestTerminalPage)
#include "test_terminal_page.moc"
