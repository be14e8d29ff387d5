// The terminal view: painting from the buffer through the view origin,
// scroll bars, caret, keys, and the port link against a pseudo-terminal.
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QScreen>
#include <QScrollBar>
#include <functional>
#include <QtTest>

#include "pty_pair.h"
#include "serial/com_port.h"
#include "terminal/ui/com_terminal.h"

namespace {

// Counts paint events of the terminal's viewport.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

std::string E(const std::string& tail) { return "\x1B" + tail; }

// Fraction of pixels of a cell that differ from the background colour.
double InkInCell(TComTerminal& t, int viewCol, int viewRow, QColor background = Qt::black)
{
    const QImage img = t.viewport()->grab().toImage();
    const QRect r((viewCol - 1) * t.CellWidth(), (viewRow - 1) * t.CellHeight(), t.CellWidth(), t.CellHeight());
    int ink = 0, all = 0;
    for (int y = r.top(); y <= r.bottom() && y < img.height(); ++y)
        for (int x = r.left(); x <= r.right() && x < img.width(); ++x) {
            ++all;
            if (img.pixelColor(x, y).rgb() != background.rgb()) ++ink;
        }
    return all ? double(ink) / all : 0.0;
}

}  // namespace

class TestComTerminal : public QObject {
    Q_OBJECT
private slots:
    void defaults();
    void paintsCellsThroughTheViewOrigin();
    void burstCostsOneRepaint();
    void scrollingMovesThePicture();
    void scrollBarCatchesUpAfterTheStream();
    void scrollBars();
    void caretFollowsFocus();
    void fontStaysFixedPitch();
    void keysWithoutPort();
    void portLinkAndReplies();
    void typedKeysReachThePort();
    void columnsFillTheWidth();
    void narrowingLeavesNothingBeyondTheBuffer();
};

void TestComTerminal::defaults()
{
    TComTerminal t;
    QCOMPARE(t.Columns(), 80);
    QCOMPARE(t.Rows(), 24);
    QCOMPARE(t.Emulation(), teVT100orANSI);
    QCOMPARE(t.Caret(), tcBlock);
    QCOMPARE(t.ArrowKeys(), akTerminal);
    QVERIFY(!t.LocalEcho() && !t.SendLF() && !t.AppendLF() && !t.Force7Bit() && !t.WrapLines());
    QVERIFY(!t.SmoothScroll() && !t.WantTab());
    QCOMPARE(t.AltColor(), QColor(0xA6, 0xA6, 0xA6));
    QCOMPARE(t.Color(), QColor(Qt::black));
    QCOMPARE(t.FontColor(), QColor(Qt::white));
    QCOMPARE(t.size(), QSize(400, 250));
    QCOMPARE(t.ViewOrigin(), (TTermPoint{1, 1}));
    QVERIFY(t.ComPort() == nullptr);
    QVERIFY(!t.Connected());
    QVERIFY(TCustomComTerminal::IsFixedPitch(t.Font()));
    t.SetColumns(1000);
    QCOMPARE(t.Columns(), 256);
    t.SetRows(1);
    QCOMPARE(t.Rows(), 2);
}

void TestComTerminal::paintsCellsThroughTheViewOrigin()
{
    TComTerminal t;
    t.SetColumns(20);
    t.SetRows(5);
    t.SetCaret(tcNone);  // the shown window takes the focus; keep the caret out of the pixels
    t.resize(t.sizeHint());
    t.show();
    QVERIFY(QTest::qWaitForWindowExposed(&t));
    t.ShowText("A" + E("[7m") + " " + E("[m") + "\r\n  W");
    QVERIFY(InkInCell(t, 1, 1) > 0.02);  // a glyph
    QVERIFY(InkInCell(t, 2, 1) > 0.9);   // an inverse blank is a white block
    QCOMPARE(InkInCell(t, 3, 1), 0.0);   // empty cell: background
    QVERIFY(InkInCell(t, 3, 2) > 0.02);

    // Erasing repaints the cells as background.
    t.ShowText(E("[2J"));
    QCOMPARE(InkInCell(t, 1, 1), 0.0);
    QCOMPARE(InkInCell(t, 2, 1), 0.0);

    // A smaller view than the screen: the bars move the view origin.
    t.resize(10 * t.CellWidth() + 2 * t.frameWidth() + t.verticalScrollBar()->sizeHint().width(),
             3 * t.CellHeight() + 2 * t.frameWidth() + t.horizontalScrollBar()->sizeHint().height());
    QTRY_VERIFY(t.horizontalScrollBar()->maximum() > 0);
    t.MoveCaret(15, 4);
    t.ShowText("Z");
    t.horizontalScrollBar()->setValue(14);
    t.verticalScrollBar()->setValue(3);
    const TTermPoint origin = t.ViewOrigin();
    QCOMPARE(origin.X, std::min(15, t.horizontalScrollBar()->maximum() + 1));
    QCOMPARE(origin.Y, std::min(4, t.verticalScrollBar()->maximum() + 1));
    QVERIFY(InkInCell(t, 15 - origin.X + 1, 4 - origin.Y + 1) > 0.02);
}

void TestComTerminal::burstCostsOneRepaint()
{
    TComTerminal t;
    t.SetRows(27);
    t.SetWrapLines(true);
    t.resize(t.sizeHint());
    t.show();
    QVERIFY(QTest::qWaitForWindowExposed(&t));
    PaintCounter counter;
    t.viewport()->installEventFilter(&counter);
    QCoreApplication::processEvents();
    counter.paints = 0;

    std::string burst;
    for (int i = 0; i < 200; ++i) burst += "line " + std::to_string(i) + E("[1m") + " bold" + E("[m") + "\r\n";
    t.ReceivedData(burst.data(), static_cast<int>(burst.size()));
    QVERIFY(QTest::qWaitFor([&] { return counter.paints > 0; }, 5000));
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 1);
}

// Lines arriving a few at a time: the picture on the screen (what the
// window system was given, not a fresh rendering) equals a fresh rendering
// of the buffer after every step, while most repaints draw only the rows
// that came in.
void TestComTerminal::scrollingMovesThePicture()
{
    TComTerminal t;
    t.SetRows(27);
    t.SetWrapLines(true);
    // Every row in sight beside the scroll bar the scrollback brings.
    t.resize(t.sizeHint() + QSize(t.verticalScrollBar()->sizeHint().width(), t.horizontalScrollBar()->sizeHint().height()));
    t.show();
    QVERIFY(QTest::qWaitForWindowExposed(&t));
    t.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&t));
    t.setFocus();  // the caret is drawn into the picture too
    QVERIFY(t.hasFocus());
    QRegion painted;
    int partial = 0;
    struct TRectsSeen : QObject {
        std::function<void(const QRect&)> seen;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint) seen(static_cast<QPaintEvent*>(e)->rect());
            return false;
        }
    } rects;
    rects.seen = [&](const QRect& r) {
        if (r.height() < t.viewport()->height() / 2) ++partial;
    };
    t.viewport()->installEventFilter(&rects);
    auto shown = [&] {
        const QPoint at = t.viewport()->mapTo(t.window(), QPoint(0, 0));
        return t.screen()->grabWindow(t.window()->winId(), at.x(), at.y(), t.viewport()->width(), t.viewport()->height()).toImage()
            .convertToFormat(QImage::Format_RGB32);
    };
    int line = 0;
    for (int step = 0; step < 12; ++step) {
        // Now and then an empty line first: the row the caret was drawn on
        // moves up unchanged.
        std::string chunk = step % 2 ? "\r\n" : "";
        for (int i = 0; i < 3 + step % 4; ++i, ++line) chunk += "line " + std::to_string(line) + " " + std::string(size_t(line % 50), char('a' + line % 26)) + "\r\n";
        // A row in the middle changes as well, between scrolls.
        if (step % 3 == 1) chunk += E("[12;5H") + "changed " + std::to_string(step) + E("[27;1H");
        t.ReceivedData(chunk.data(), static_cast<int>(chunk.size()));
        QTest::qWait(100);  // a few repaint periods
        QTRY_COMPARE_WITH_TIMEOUT(shown(), t.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32), 2000);
    }
    QVERIFY2(partial >= 6, qPrintable(QString::number(partial)));
}

// While lines stream in, the scroll bar's range changes a few times a
// second, not with every repaint; it is exact once the stream pauses, and
// at once when the user reaches for the keys.
void TestComTerminal::scrollBarCatchesUpAfterTheStream()
{
    TComTerminal t;
    t.SetRows(27);
    t.resize(t.sizeHint());
    t.show();
    QVERIFY(QTest::qWaitForWindowExposed(&t));
    QScrollBar* bar = t.verticalScrollBar();
    int rangeChanges = 0;
    connect(bar, &QScrollBar::rangeChanged, [&] { ++rangeChanges; });
    int line = 0;
    auto send = [&](int lines) {
        std::string chunk;
        for (int i = 0; i < lines; ++i, ++line) chunk += "line " + std::to_string(line) + "\r\n";
        t.ReceivedData(chunk.data(), static_cast<int>(chunk.size()));
    };
    send(30);
    QTest::qWait(400);  // the bar settles
    rangeChanges = 0;
    QElapsedTimer streaming;
    streaming.start();
    const int chunks = 20;
    for (int i = 0; i < chunks; ++i) {
        send(2);
        QTest::qWait(40);  // each chunk gets its own repaint
    }
    // Four times a second at most (with a change at each end), however
    // slowly the machine went through the chunks; each one would change it.
    const qint64 ms = streaming.elapsed();
    QVERIFY2(rangeChanges <= ms / 250 + 2 && rangeChanges < chunks,
             qPrintable(QStringLiteral("%1 changes for %2 chunks in %3 ms").arg(rangeChanges).arg(chunks).arg(ms)));
    auto exact = [&] {
        const int visRows = t.viewport()->height() / t.CellHeight();
        // At the bottom: the screen's first row at the top of the view.
        return bar->maximum() == std::max(0, 27 + t.Scrollback().Count() - visRows) &&
               bar->value() == std::min(bar->maximum(), t.Scrollback().Count());
    };
    QTRY_VERIFY_WITH_TIMEOUT(exact(), 2000);
    // Keys reach a bar that is up to date even in the middle of a stream.
    send(5);
    QTest::keyClick(&t, Qt::Key_PageUp, Qt::ShiftModifier);
    QCOMPARE(bar->maximum(), std::max(0, 27 + t.Scrollback().Count() - t.viewport()->height() / t.CellHeight()));
}

void TestComTerminal::scrollBars()
{
    TComTerminal t;
    t.SetRows(27);
    t.resize(200, 100);
    t.show();
    QVERIFY(QTest::qWaitForWindowExposed(&t));
    QScrollBar* h = t.horizontalScrollBar();
    QScrollBar* v = t.verticalScrollBar();
    const int visCols = t.viewport()->width() / t.CellWidth();
    const int visRows = t.viewport()->height() / t.CellHeight();
    QCOMPARE(h->maximum(), 80 - visCols);
    QCOMPARE(v->maximum(), 27 - visRows);
    QCOMPARE(h->pageStep(), visCols);
    QCOMPARE(v->pageStep(), visRows);
    QCOMPARE(h->singleStep(), 1);
    v->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(t.ViewOrigin().Y, 2);
    v->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(t.ViewOrigin().Y, std::min(2 + visRows, v->maximum() + 1));

    // ?3h widens the screen: the range follows the new buffer.
    t.ShowText(E("[?3h"));
    QCOMPARE(t.Columns(), 132);
    QCOMPARE(h->maximum(), 132 - t.viewport()->width() / t.CellWidth());

    // Large enough for the whole screen: nothing to scroll.
    t.ShowText(E("[?3l"));
    t.resize(t.sizeHint() + QSize(40, 40));
    QTRY_COMPARE(h->maximum(), 0);
    QTRY_COMPARE(v->maximum(), 0);
    QCOMPARE(t.ViewOrigin(), (TTermPoint{1, 1}));

    t.SetScrollBars(ssNone);
    QCOMPARE(t.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    t.SetSmoothScroll(true);
    QVERIFY(v->hasTracking());
}

void TestComTerminal::caretFollowsFocus()
{
    QWidget w;
    auto* t = new TComTerminal(&w);
    auto* other = new QWidget(&w);
    other->setFocusPolicy(Qt::StrongFocus);
    other->setGeometry(0, 260, 50, 20);
    int enters = 0, exits = 0;
    t->OnEnter = [&](TCustomComTerminal*) { ++enters; };
    t->OnExit = [&](TCustomComTerminal*) { ++exits; };
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    other->setFocus();
    QTRY_VERIFY(other->hasFocus());
    QVERIFY(!t->CaretExists());
    enters = exits = 0;

    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    QTRY_VERIFY(t->hasFocus());
    QCOMPARE(enters, 1);
    QVERIFY(t->CaretExists());
    QCOMPARE(t->CaretRect().height(), t->CellHeight());
    t->MoveCaret(3, 2);
    QCOMPARE(t->CaretRect().topLeft(), QPoint(2 * t->CellWidth(), 2 * t->CellHeight() - t->CellHeight()));

    t->SetCaret(tcUnderline);
    QVERIFY(t->CaretExists());
    QCOMPARE(t->CaretRect().height(), std::max(1, t->CellHeight() / 8));
    QCOMPARE(t->CaretRect().bottom(), 2 * t->CellHeight() - 1);
    t->SetCaret(tcNone);
    QVERIFY(!t->CaretExists());
    t->SetCaret(tcBlock);
    QVERIFY(t->CaretExists());

    other->setFocus();
    QTRY_VERIFY(!t->hasFocus());
    QCOMPARE(exits, 1);
    QVERIFY(!t->CaretExists());
}

void TestComTerminal::fontStaysFixedPitch()
{
    TComTerminal t;
    QFont f(QStringLiteral("Sans Serif"), 14);
    f.setStyleHint(QFont::SansSerif);
    f.setUnderline(true);
    t.SetFont(f);
    QVERIFY(!t.Font().underline());
    QVERIFY(TCustomComTerminal::IsFixedPitch(t.Font()));
    const int h = t.CellHeight();
    QFont big = t.Font();
    big.setPointSize(20);
    t.SetFont(big);
    QVERIFY(t.CellHeight() > h);
    QCOMPARE(t.sizeHint().width(), 80 * t.CellWidth() + 2 * t.frameWidth());
}

void TestComTerminal::keysWithoutPort()
{
    QWidget w;
    auto* t = new TComTerminal(&w);
    auto* other = new QWidget(&w);
    other->setFocusPolicy(Qt::StrongFocus);
    other->setGeometry(0, 260, 50, 20);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    t->setFocus();
    QTRY_VERIFY(t->hasFocus());

    // Without a port typed characters do nothing, even with local echo.
    t->SetLocalEcho(true);
    QTest::keyClicks(t, "abc");
    QCOMPARE(t->Buffer().LoadCell(1, 1).Ch, uint8_t(0));

    // akWindows: cursor keys only move the caret.
    t->SetArrowKeys(akWindows);
    QTest::keyClick(t, Qt::Key_Down);
    QTest::keyClick(t, Qt::Key_Down);
    QTest::keyClick(t, Qt::Key_Right);
    QCOMPARE(t->CaretCell(), (TTermPoint{2, 3}));
    QTest::keyClick(t, Qt::Key_Home);
    QCOMPARE(t->CaretCell(), (TTermPoint{1, 1}));

    // Tab moves the focus unless WantTab.
    QTest::keyClick(t, Qt::Key_Tab);
    QTRY_VERIFY(other->hasFocus());
    t->setFocus();
    QTRY_VERIFY(t->hasFocus());
    t->SetWantTab(true);
    QTest::keyClick(t, Qt::Key_Tab);
    QVERIFY(t->hasFocus());
}

void TestComTerminal::portLinkAndReplies()
{
    TPtyPair peer;
    if (!peer.Ok()) QSKIP("no pseudo-terminal available");
    TComPort port;
    port.SetPort(peer.Path());
    port.OpenPort();

    TComTerminal t;
    t.SetRows(27);
    std::string seen;
    t.OnStrRecieved = [&](TCustomComTerminal*, std::string& s) { seen += s; };
    t.SetComPort(&port);
    QVERIFY(port.HasLink(&t.RxLink()));
    QVERIFY(t.Connected());

    peer.Write("hi" + QByteArray("\x1B[5;12H\x1B[6n"));
    const QByteArray reply = peer.ReadProcessingEvents(7, 5000);
    QCOMPARE(reply, QByteArray("\x1B[5;12R"));
    QCOMPARE(t.Buffer().LoadCell(1, 1).Ch, uint8_t('h'));
    QCOMPARE(t.Buffer().LoadCell(2, 1).Ch, uint8_t('i'));
    QCOMPARE(seen.substr(0, 2), std::string("hi"));

    peer.Write("\x1B[c\x1B[5n");
    QCOMPARE(peer.ReadProcessingEvents(11, 5000), QByteArray("\x1B[?1;2c\x1B[0n"));

    // Detached: the link is gone, the screen stays.
    t.SetComPort(nullptr);
    QVERIFY(!port.HasLink(&t.RxLink()));
    QVERIFY(!t.Connected());
    QCOMPARE(t.Buffer().LoadCell(1, 1).Ch, uint8_t('h'));

    // A port destroyed while attached leaves the terminal without one.
    {
        TComPort second;
        t.SetComPort(&second);
        QVERIFY(second.HasLink(&t.RxLink()));
    }
    QVERIFY(t.ComPort() == nullptr);
    port.ClosePort();
}

void TestComTerminal::typedKeysReachThePort()
{
    TPtyPair peer;
    if (!peer.Ok()) QSKIP("no pseudo-terminal available");
    TComPort port;
    port.SetPort(peer.Path());
    port.OpenPort();

    QWidget w;
    auto* t = new TComTerminal(&w);
    t->SetRows(27);
    t->SetSendLF(true);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    t->SetComPort(&port);
    t->setFocus();
    QTRY_VERIFY(t->hasFocus());

    QTest::keyClick(t, Qt::Key_Return);
    QCOMPARE(peer.ReadProcessingEvents(2, 5000), QByteArray("\r\n"));
    QTest::keyClicks(t, "at");
    QCOMPARE(peer.ReadProcessingEvents(2, 5000), QByteArray("at"));
    QCOMPARE(t->Buffer().LoadCell(1, 1).Ch, uint8_t(0));  // no local echo

    t->SetLocalEcho(true);
    t->MoveCaret(5, 3);
    QTest::keyClick(t, Qt::Key_Return);
    QCOMPARE(peer.ReadProcessingEvents(2, 5000), QByteArray("\r\n"));
    QCOMPARE(t->CaretCell(), (TTermPoint{1, 4}));
    t->SetLocalEcho(false);

    QTest::keyClick(t, Qt::Key_Up);
    QTest::keyClick(t, Qt::Key_Left);
    QCOMPARE(peer.ReadProcessingEvents(6, 5000), QByteArray("\x1B[A\x1B[D"));
    peer.Write("\x1B[?1h");
    QTRY_VERIFY(t->Engine().AppCursorMode());
    QTest::keyClick(t, Qt::Key_Down);
    QCOMPARE(peer.ReadProcessingEvents(3, 5000), QByteArray("\x1BOB"));
    QTest::keyClick(t, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(peer.ReadProcessingEvents(1, 5000), QByteArray("\x03"));

    t->SetComPort(nullptr);
    port.ClosePort();
}

void TestComTerminal::columnsFillTheWidth()
{
    // The Terminal page's terminal: 649 x 329, 80 x 27 cells.
    TComTerminal t;
    t.setGeometry(0, 0, 649, 329);
    t.SetRows(27);
    t.FitFontToColumns(11);
    t.show();
    QVERIFY(QTest::qWaitForWindowExposed(&t));
    QVERIFY(QFontInfo(t.Font()).pixelSize() >= 11);
    QVERIFY(TCustomComTerminal::IsFixedPitch(t.Font()));
    // 80 columns fit beside the vertical bar, in the widest cells that do.
    const int width = t.viewport()->width();
    const QByteArray cells = QStringLiteral("%1 x 80 in %2").arg(t.CellWidth()).arg(width).toLatin1();
    QVERIFY2(80 * t.CellWidth() <= width, cells.constData());
    QVERIFY2(80 * (t.CellWidth() + 1) > width || QFontInfo(t.Font()).pixelSize() == 11, cells.constData());
    QVERIFY2(80 * t.CellWidth() > width * 8 / 10, cells.constData());
    QCOMPARE(t.horizontalScrollBar()->maximum(), 0);
    // Rows that do not fit scroll.
    QVERIFY(t.verticalScrollBar()->maximum() > 0);
    QVERIFY(t.verticalScrollBar()->isVisible());
}

void TestComTerminal::narrowingLeavesNothingBeyondTheBuffer()
{
    TComTerminal t;
    t.setGeometry(0, 0, 649, 329);
    t.SetRows(27);
    t.SetCaret(tcNone);
    t.FitFontToColumns(11);
    t.show();
    QVERIFY(QTest::qWaitForWindowExposed(&t));
    // 132 columns full of ink, seen scrolled to the right.
    t.ShowText(E("[?3h"));
    std::string full;
    for (int r = 0; r < 27; ++r) full += std::string(132, '#');
    t.ShowText(full);
    t.horizontalScrollBar()->setValue(t.horizontalScrollBar()->maximum());
    QTRY_VERIFY(t.ViewOrigin().X > 1);
    QCoreApplication::processEvents();
    t.ShowText(E("[H") + std::string(132, 'W'));
    // Back to 80 columns: the screen clears, and beyond column 80 nothing is left.
    t.ShowText(E("[?3l") + E("[H") + std::string(80, '#'));
    QTRY_COMPARE(t.ViewOrigin().X, 1);
    QCoreApplication::processEvents();
    const QImage img = t.viewport()->grab().toImage();
    const int right = 80 * t.CellWidth();
    int stale = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = right; x < img.width(); ++x)
            if (img.pixelColor(x, y).rgb() != QColor(Qt::black).rgb()) ++stale;
    QCOMPARE(stale, 0);
    // Row 1 shows the new text, row 2 is empty.
    QVERIFY(InkInCell(t, 1, 1) > 0.02);
    QCOMPARE(InkInCell(t, 1, 2), 0.0);
}

QTEST_MAIN(TestComTerminal)
#include "test_com_terminal.moc"
