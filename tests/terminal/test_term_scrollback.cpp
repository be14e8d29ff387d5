// Scrollback, selection, copy and paste: the store and the text rules on
// their own, then the terminal view with its scroll bar, wheel and keys,
// mouse selection to the clipboard, a paste onto a pseudo-terminal, and
// the saved terminal text.
#include <QClipboard>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include "pty_pair.h"
#include "serial/com_port.h"
#include "support/scripted_dialogs.h"
#include "terminal/ui/com_terminal.h"
#include "terminal/term_paste.h"
#include "terminal/term_scrollback.h"
#include "terminal/term_selection.h"

namespace {

std::vector<TTermCell> Row(const std::string& text, int columns)
{
    std::vector<TTermCell> r(static_cast<std::size_t>(columns));
    for (std::size_t i = 0; i < text.size() && i < r.size(); ++i) r[i].Ch = static_cast<uint8_t>(text[i]);
    return r;
}

// "line 0\r\nline 1\r\n..." : n numbered lines.
std::string Lines(int from, int to)
{
    std::string s;
    for (int i = from; i <= to; ++i) s += "line " + std::to_string(i) + "\r\n";
    return s;
}

QPoint CellCentre(const TComTerminal& t, int viewCol, int viewRow)
{
    return QPoint((viewCol - 1) * t.CellWidth() + t.CellWidth() / 2, (viewRow - 1) * t.CellHeight() + t.CellHeight() / 2);
}

QPoint CellLeftEdge(const TComTerminal& t, int viewCol, int viewRow)
{
    return QPoint((viewCol - 1) * t.CellWidth() + 1, (viewRow - 1) * t.CellHeight() + t.CellHeight() / 2);
}

// A terminal sized to show its whole screen.
void FitScreen(TComTerminal& t)
{
    t.resize(t.Columns() * t.CellWidth() + 2 * t.frameWidth() + t.verticalScrollBar()->sizeHint().width() + 4,
             t.Rows() * t.CellHeight() + 2 * t.frameWidth() + t.horizontalScrollBar()->sizeHint().height() + 4);
}

}  // namespace

class TestTermScrollback : public QObject {
    Q_OBJECT
private slots:
    void storeIsBoundedAndNumbersLast()
    {
        TTermScrollback sb(3);
        for (int i = 0; i < 5; ++i) sb.Push(Row(std::to_string(i), 4).data(), 4);
        QCOMPARE(sb.Count(), 3);
        QCOMPARE(sb.TotalPushed(), int64_t(5));
        QCOMPARE(sb.Line(0)[0].Ch, uint8_t('2'));
        QCOMPARE(sb.Line(2)[0].Ch, uint8_t('4'));
        QVERIFY(sb.ByNumber(1) == nullptr);
        QCOMPARE((*sb.ByNumber(3))[0].Ch, uint8_t('3'));
        QVERIFY(sb.ByNumber(5) == nullptr);
    }

    void selectionTextAndPasteRules()
    {
        const std::vector<std::vector<TTermCell>> lines = {Row("hello world", 20), Row("  second", 20), Row("", 20),
                                                           Row("fourth", 20)};
        const TTermLineSource src = [&](int64_t n, int* count) -> const TTermCell* {
            if (n < 0 || n >= int64_t(lines.size())) return nullptr;
            *count = 20;
            return lines[std::size_t(n)].data();
        };
        TTermSelection sel;
        QVERIFY(sel.Text(src).empty());
        sel.Start({0, 7});
        sel.Extend({0, 12});
        QCOMPARE(sel.Text(src), std::string("world"));
        // Backwards over lines: blanks at line ends go, empty cells read as spaces.
        sel.Start({1, 9});
        sel.Extend({0, 7});
        QCOMPARE(sel.Text(src), std::string("world\n  second"));
        QVERIFY(sel.Contains(0, 7) && sel.Contains(1, 8) && !sel.Contains(1, 9));
        QCOMPARE(TermLinesText(src, 0, 5), std::string("hello world\n  second\n\nfourth\n"));

        TTermPaste paste;
        paste.Add(u"a\r\nb\nc\u20ACd");  // the euro sign has no 8-bit code
        QCOMPARE(paste.Take(3), std::string("a\rb"));
        QCOMPARE(paste.Take(), std::string("\rcd"));
        QVERIFY(!paste.Pending());
    }

    void scrollbackViewAndKeys()
    {
        TComTerminal t;
        t.SetRows(5);
        t.SetColumns(20);
        FitScreen(t);
        t.show();
        QVERIFY(QTest::qWaitForWindowExposed(&t));
        QScrollBar* v = t.verticalScrollBar();
        t.ShowText(Lines(0, 9));  // 10 lines + the empty one: 6 scrolled off
        QCOMPARE(t.Scrollback().Count(), 6);
        QCOMPARE(t.Scrollback().Line(0)[0].Ch, uint8_t('l'));
        const int visRows = t.viewport()->height() / t.CellHeight();
        QVERIFY(visRows >= 5);
        const int bottom = std::min(6 + 5 - visRows, 6);
        QTRY_COMPARE(v->maximum(), 6 + 5 - visRows);  // the bar follows at the next repaint
        QCOMPARE(v->value(), bottom);  // the screen's rows all in view
        QCOMPARE(t.ViewOrigin().Y, bottom + 1 - 6);

        QTest::keyClick(&t, Qt::Key_PageUp, Qt::ShiftModifier);
        QVERIFY(v->value() < bottom);
        QCOMPARE(t.ViewOrigin().Y, v->value() + 1 - 6);
        QTest::keyClick(&t, Qt::Key_PageDown, Qt::ShiftModifier);
        QCOMPARE(v->value(), v->maximum());

        // Wheel up three lines.
        const QPoint at = t.viewport()->rect().center();
        QWheelEvent wheel(at, t.viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        const int before = v->value();
        QApplication::sendEvent(t.viewport(), &wheel);
        QVERIFY(v->value() < before);
        // The view shows the scrollback: view row 1 is an older line.
        QVERIFY(t.ViewOrigin().Y < bottom + 1 - 6);

        // New text brings the view back.
        t.ShowText("new\r\n");
        QCOMPARE(t.ViewOrigin().Y, bottom + 1 - 6);
        QTRY_COMPARE(v->value(), std::min(v->maximum(), t.Scrollback().Count()));
        QCOMPARE(t.ViewOrigin().Y, bottom + 1 - 6);

        // Clearing the screen keeps the scrollback.
        const int kept = t.Scrollback().Count();
        t.ShowText("\x1B[2J");
        QCOMPARE(t.Scrollback().Count(), kept);
        QVERIFY(t.AllText().startsWith(QStringLiteral("line 0\nline 1\n")));

        // Bounded: 5,000 lines at most.
        std::string many;
        for (int i = 0; i < 6000; ++i) many += "x\r\n";
        t.ShowText(many);
        QCOMPARE(t.Scrollback().Count(), TTermScrollback::DefaultCapacity);
        QTRY_COMPARE(v->maximum(), TTermScrollback::DefaultCapacity + 5 - visRows);
    }

    void mouseSelectionIsCopied()
    {
        TComTerminal t;
        t.SetRows(4);
        t.SetColumns(20);
        FitScreen(t);
        t.show();
        QVERIFY(QTest::qWaitForWindowExposed(&t));
        t.ShowText("first line\r\nsecond line\r\nthird\r\nfourth\r\nfifth");  // "first line" scrolled off
        QCOMPARE(t.Scrollback().Count(), 1);

        // Scroll up one line, then drag from "line" of row 1 to "sec" of row 2.
        QTRY_COMPARE(t.verticalScrollBar()->maximum(), std::max(0, 5 - t.viewport()->height() / t.CellHeight()));
        t.verticalScrollBar()->setValue(0);
        QWidget* vp = t.viewport();
        QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, CellLeftEdge(t, 7, 1));
        QTest::mouseMove(vp, CellLeftEdge(t, 4, 2));
        QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, CellLeftEdge(t, 4, 2));
        QCOMPARE(t.SelectedText(), QStringLiteral("line\nsec"));
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(&t, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("line\nsec"));
        // The selection keeps to its text while lines scroll away.
        t.ShowText("\r\nsixth\r\n");
        QCOMPARE(t.SelectedText(), QStringLiteral("line\nsec"));
        // A click without a drag selects nothing.
        QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, CellCentre(t, 2, 2));
        QVERIFY(t.SelectedText().isEmpty());
    }

    void pasteGoesOutInOrderWithTypedRules()
    {
        TPtyPair peer;
        if (!peer.Ok()) QSKIP("no pseudo-terminal available");
        TComPort port;
        port.SetPort(peer.Path());
        port.OpenPort();
        QWidget w;
        auto* t = new TComTerminal(&w);
        t->SetSendLF(true);
        t->SetLocalEcho(true);
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        t->SetComPort(&port);

        // Short: CR LF for each line end, echoed.
        QGuiApplication::clipboard()->setText(QStringLiteral("ab\ncd"));
        QTest::keyClick(t, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(peer.ReadProcessingEvents(6, 5000), QByteArray("ab\r\ncd"));
        QCOMPARE(t->Buffer().LoadCell(1, 2).Ch, uint8_t('c'));

        // Long: in slices, in order, the window answering in between.
        QByteArray expected;
        QString text;
        for (int i = 0; i < 400; ++i) {
            const QString line = QStringLiteral("%1 the quick brown fox").arg(i, 4, 10, QLatin1Char('0'));
            text += line + QLatin1Char('\n');
            expected += line.toLatin1() + "\r\n";
        }
        int timerTurns = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++timerTurns; });
        ticker.start(0);
        t->PasteText(text);
        QVERIFY(t->PastePending());
        const QByteArray got = peer.ReadProcessingEvents(expected.size(), 20000);
        QCOMPARE(got.size(), expected.size());
        QVERIFY(got == expected);
        QVERIFY(!t->PastePending());
        QVERIFY(timerTurns > 3);  // the event loop ran between the slices

        // Let go of the port: what was not sent is dropped, nothing blocks.
        t->PasteText(text);
        t->SetComPort(nullptr);
        QTRY_VERIFY(!t->PastePending());
        port.ClosePort();
    }

    void savedTextHoldsScrollbackAndScreen()
    {
        TScriptedDialogs dialogs;
        TDialogsScope scope(&dialogs);
        QTemporaryDir dir;
        TComTerminal t;
        t.SetRows(3);
        t.ShowText(Lines(0, 4));
        const QString path = dir.filePath(QStringLiteral("term.txt"));
        dialogs.saveNames.push_back(path);
        t.SaveTerminalText();
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("line 0\nline 1\nline 2\nline 3\nline 4\n"));
        QVERIFY(dialogs.messages.empty());
        // A folder that does not exist: told, nothing half-written.
        dialogs.saveNames.push_back(dir.filePath(QStringLiteral("missing/term.txt")));
        t.SaveTerminalText();
        QCOMPARE(dialogs.messages.size(), std::size_t(1));
    }
};

QTEST_MAIN(TestTermScrollback)
#include "test_term_scrollback.moc"
