// The Terminal page: layout, "Local Echo", and the rule that the terminal
// takes received bytes only while it holds the focus.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QtTest>

#include "common/ui/port_controls.h"
#include "pty_pair.h"
#include "serial/ui/com_led.h"
#include "serial/com_port.h"
#include "terminal/ui/com_terminal.h"
#include "terminal/ui/terminal_page.h"

namespace {

struct Lamp {
    TComLed* led;
    const char* name;
    int left;  // design place, kept when the label leaves room
    const char* caption;
};

QLabel* LabelOf(const TTerminalPage& page, const char* caption)
{
    for (QLabel* lb : page.findChildren<QLabel*>())
        if (lb->text() == QLatin1String(caption)) return lb;
    return nullptr;
}

// Each label sits 24 pixels right of its lamp at top 6, shows its whole text,
// ends before the next lamp and no further right than the terminal.
template <size_t N>
void VerifyLampStrip(const TTerminalPage& page, const Lamp (&lamps)[N])
{
    const int right = page.ComTerminal->geometry().right();
    QVERIFY(lamps[0].led->x() > page.CheckBox1->geometry().right());
    for (size_t i = 0; i < N; ++i) {
        QLabel* lb = LabelOf(page, lamps[i].caption);
        QVERIFY2(lb, lamps[i].caption);
        QCOMPARE(lb->pos(), QPoint(lamps[i].led->x() + 24, 6));
        QVERIFY2(lb->width() >= lb->sizeHint().width(), lamps[i].caption);
        const int limit = i + 1 < N ? lamps[i + 1].led->x() - 1 : right;
        QVERIFY2(lb->geometry().right() <= limit, lamps[i].caption);
    }
}

}  // namespace

class TestTerminalPage : public QObject {
    Q_OBJECT
private slots:
    void layout();
    void lampLabelsShowInFullInTheWindow();
    void lampLabelsFollowFontChanges();
    void localEchoFollowsCheckBox();
    void focusDecidesWhoReadsReceivedBytes();
    void deactivationAndMenusKeepThePort();
    void attachingShowsWhatWasQueued();
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

    const Lamp lamps[] = {{page.ComLed11, "ComLed11", 136, "Open"},
                          {page.ComLed7, "ComLed7", 208, "Transmit Data"},
                          {page.ComLed9, "ComLed9", 320, "Receive Data"},
                          {page.ComLed10, "ComLed10", 432, "Clear To Send"},
                          {page.ComLed8, "ComLed8", 544, "Data Set Ready"}};
    for (const Lamp& l : lamps) {
        QCOMPARE(l.led->objectName(), QLatin1String(l.name));
        QCOMPARE(l.led->size(), QSize(25, 25));
        QCOMPARE(l.led->y(), 0);
        QVERIFY2(l.led->x() <= l.left, l.caption);
    }
    VerifyLampStrip(page, lamps);

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
    // 80 columns fill the width beside the vertical bar, in a legible font;
    // the rows that do not fit scroll.
    QVERIFY(QFontInfo(t->Font()).pixelSize() >= 11);
    const int width = t->contentsRect().width() - t->verticalScrollBar()->sizeHint().width();
    QVERIFY(80 * t->CellWidth() <= width);
    QVERIFY(80 * t->CellWidth() > width * 8 / 10);
    QVERIFY(t->ComPort() == nullptr);

    QCOMPARE(controls.Settings(), std::vector<QWidget*>{page.CheckBox1});
    QCOMPARE(controls.Operations(), std::vector<QWidget*>{t});
}

void TestTerminalPage::lampLabelsShowInFullInTheWindow()
{
    // As in the main window: the page inside a 657 x 401 tab control.
    TComPort port;
    TPortControls controls;
    QTabWidget tabs;
    tabs.setFixedSize(657, 401);
    auto* page = new TTerminalPage(port, controls);
    tabs.addTab(page, QStringLiteral("Terminal"));
    tabs.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tabs));
    for (QLabel* lb : page->findChildren<QLabel*>()) {
        const QRect shown = lb->geometry() & page->rect();
        QVERIFY2(shown == lb->geometry(), qPrintable(lb->text()));
        QVERIFY2(lb->width() >= lb->sizeHint().width(), qPrintable(lb->text()));
    }
}

void TestTerminalPage::lampLabelsFollowFontChanges()
{
    TComPort port;
    TPortControls controls;
    TTerminalPage page(port, controls);
    const Lamp lamps[] = {{page.ComLed11, "ComLed11", 136, "Open"},
                          {page.ComLed7, "ComLed7", 208, "Transmit Data"},
                          {page.ComLed9, "ComLed9", 320, "Receive Data"},
                          {page.ComLed10, "ComLed10", 432, "Clear To Send"},
                          {page.ComLed8, "ComLed8", 544, "Data Set Ready"}};

    // A small font leaves room: the lamps stand at their design places.
    QFont small = page.font();
    small.setPixelSize(8);
    page.setFont(small);
    for (const Lamp& l : lamps) QCOMPARE(l.led->x(), l.left);
    VerifyLampStrip(page, lamps);

    // The smallest larger font whose last label no longer fits at the design
    // place: lamps move left so that every label still shows.
    const int right = page.ComTerminal->geometry().right();
    QFont large = page.font();
    for (int px = 9; px <= 40; ++px) {
        large.setPixelSize(px);
        if (544 + 24 + QFontMetrics(large).horizontalAdvance(QStringLiteral("Data Set Ready")) > right) break;
    }
    page.setFont(large);
    QVERIFY(page.ComLed8->x() < 544);
    VerifyLampStrip(page, lamps);
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
    TPtyPair peer;
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

    port.SetPort(peer.Path());
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
    QCOMPARE(peer.ReadProcessingEvents(2, 5000), QByteArray("\r\n"));

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

namespace {

// The page and a control of "another page" in one window, the port open.
struct TOpenPage {
    TPtyPair peer;
    TComPort port;
    TPortControls controls;
    QWidget window;
    TTerminalPage* page = nullptr;
    QLineEdit* elsewhere = nullptr;

    bool Open()
    {
        if (!peer.Ok()) return false;
        auto* box = new QVBoxLayout(&window);
        page = new TTerminalPage(port, controls);
        page->setMinimumSize(657, 370);
        elsewhere = new QLineEdit;
        box->addWidget(page);
        box->addWidget(elsewhere);
        window.show();
        if (!QTest::qWaitForWindowActive(&window)) return false;
        port.SetPort(peer.Path());
        port.OpenPort();
        controls.EnableOperations(true);
        controls.EnableSettings(false);
        return true;
    }
    QString Row1(int n) const
    {
        QString s;
        for (int x = 1; x <= n; ++x) s += QChar(page->ComTerminal->Buffer().LoadCell(x, 1).Ch);
        return s;
    }
};

}  // namespace

void TestTerminalPage::deactivationAndMenusKeepThePort()
{
    TOpenPage t;
    if (!t.Open()) QSKIP("no pseudo-terminal or no active window");
    TComTerminal* term = t.page->ComTerminal;
    QTest::mouseClick(term->viewport(), Qt::LeftButton, {}, QPoint(30, 30));
    QTRY_VERIFY(term->hasFocus());
    QVERIFY(term->ComPort() == &t.port);

    // A menu opens and closes.
    QFocusEvent popupOut(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(term, &popupOut);
    QVERIFY(term->ComPort() == &t.port);

    // The user works in another window: bytes still show.
    QWidget other;
    other.show();
    other.activateWindow();
    QTRY_VERIFY(!t.window.isActiveWindow());
    QVERIFY(term->ComPort() == &t.port);
    t.peer.Write("ab");
    QTRY_COMPARE_WITH_TIMEOUT(t.Row1(2), QStringLiteral("ab"), 5000);
    QCOMPARE(t.port.InQueueCount(), 0);

    // Back again: still attached. Another control while inactive detaches it
    // when the window comes back.
    t.window.activateWindow();
    QTRY_VERIFY(t.window.isActiveWindow());
    QVERIFY(term->hasFocus());
    QVERIFY(term->ComPort() == &t.port);
    other.activateWindow();
    QTRY_VERIFY(!t.window.isActiveWindow());
    t.elsewhere->setFocus();
    t.window.activateWindow();
    QTRY_VERIFY(t.window.isActiveWindow());
    QTRY_VERIFY(t.elsewhere->hasFocus());
    QVERIFY(term->ComPort() == nullptr);
    t.port.ClosePort();
}

void TestTerminalPage::attachingShowsWhatWasQueued()
{
    TOpenPage t;
    if (!t.Open()) QSKIP("no pseudo-terminal or no active window");
    TComTerminal* term = t.page->ComTerminal;
    t.elsewhere->setFocus();
    QTRY_VERIFY(t.elsewhere->hasFocus());
    t.peer.Write("queued");
    QTRY_COMPARE_WITH_TIMEOUT(t.port.InQueueCount(), 6, 5000);
    QCoreApplication::processEvents();  // the port's report of the bytes has come and gone
    // Attaching shows them at once, without waiting for one more byte.
    term->setFocus(Qt::MouseFocusReason);
    QVERIFY(term->hasFocus());
    QCOMPARE(t.Row1(6), QStringLiteral("queued"));
    QCOMPARE(t.port.InQueueCount(), 0);
    t.port.ClosePort();
}

QTEST_MAIN(TestTerminalPage)
#include "test_terminal_page.moc"
