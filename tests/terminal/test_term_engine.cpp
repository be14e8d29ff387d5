// The terminal engine: screen buffer, caret, attributes, modes, replies and
// the bytes typed keys send, without any window.
#include <QtTest>

#include "terminal/com_term_engine.h"

namespace {

std::string E(const std::string& tail) { return "\x1B" + tail; }

// An engine as the Terminal page sets it up, with a recording port.
struct Rig {
    TComTermEngine t;
    bool portOpen = true;
    std::string sent;
    std::vector<uint8_t> chars;
    std::vector<std::pair<TEscapeCode, std::string>> unhandled;

    Rig(int rows = 27, bool wrap = true)
    {
        t.SetRows(rows);
        t.WrapLines = wrap;
        t.CanSend = [this] { return portOpen; };
        t.Write = [this](const std::string& s) { sent += s; };
        t.OnChar = [this](uint8_t c) { chars.push_back(c); };
        t.OnUnhandledCode = [this](TEscapeCode c, const std::string& s) { unhandled.emplace_back(c, s); };
    }
    void Rx(const std::string& s) { t.ReceivedData(s.data(), static_cast<int>(s.size())); }
    char At(int x, int y) const { return static_cast<char>(t.Buffer().LoadCell(x, y).Ch); }
    std::string RowText(int y) const
    {
        std::string s;
        for (int x = 1; x <= t.Columns(); ++x) s.push_back(At(x, y) ? At(x, y) : ' ');
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return s;
    }
    TTermPoint Caret() const { return t.CaretCell(); }
};

}  // namespace

class TestTermEngine : public QObject {
    Q_OBJECT
private slots:
    void bufferBasics();
    void wrapOnLastRow();
    void noWrapOverwritesLastColumn();
    void controlCharacters();
    void repliesToTheHost();
    void repliesNeedAnOpenPortAndAForm();
    void attributes();
    void modes();
    void cursorCodesClampAndHugeParameters();
    void erasing();
    void tabStops();
    void saveRestoreAndScreenTest();
    void receivedBlockHooks();
    void typedCharactersAndEcho();
    void cursorKeys();
    void emulations();
    void dirtyRegion();
};

void TestTermEngine::bufferBasics()
{
    TComTermBuffer b;
    b.AllocateBuffer(10, 3);
    QCOMPARE(b.NextTabStop(1), 1);
    QCOMPARE(b.NextTabStop(2), 9);
    QCOMPARE(b.NextTabStop(10), 0);
    TTermCell c;
    c.Ch = 'a';
    b.StoreCell(10, 1, c);
    c.Ch = 'b';
    b.StoreCell(1, 3, c);
    b.StoreCell(11, 1, c);  // outside: ignored
    b.StoreCell(0, 0, c);
    QCOMPARE(b.LoadCell(11, 1).Ch, uint8_t(0));
    b.ScrollBufferDown();
    QCOMPARE(b.LoadCell(10, 1).Ch, uint8_t(0));
    QCOMPARE(b.LoadCell(10, 2).Ch, uint8_t('a'));
    QCOMPARE(b.LoadCell(1, 3).Ch, uint8_t(0));  // pushed off the bottom
    b.ScrollBufferUp();
    QCOMPARE(b.LoadCell(10, 1).Ch, uint8_t('a'));
    QCOMPARE(b.LoadCell(10, 3).Ch, uint8_t(0));
}

void TestTermEngine::wrapOnLastRow()
{
    Rig r;
    r.Rx("top");
    r.t.MoveCaret(1, 27);
    r.Rx(std::string(79, 'a'));
    QCOMPARE(r.Caret(), (TTermPoint{80, 27}));
    r.Rx("b");  // 80th character lands in column 80, then the screen scrolls
    QCOMPARE(r.At(80, 26), 'b');
    QCOMPARE(r.Caret(), (TTermPoint{1, 27}));
    QCOMPARE(r.RowText(27), std::string());
    QCOMPARE(r.RowText(1), std::string());  // "top" scrolled away
    r.Rx("c");  // the 81st appears in column 1 of row 27
    QCOMPARE(r.At(1, 27), 'c');
    QCOMPARE(r.Caret(), (TTermPoint{2, 27}));

    // Wrapping in the middle of the screen moves to the next row, no scroll.
    Rig m;
    m.t.MoveCaret(80, 3);
    m.Rx("xy");
    QCOMPARE(m.At(80, 3), 'x');
    QCOMPARE(m.At(1, 4), 'y');
}

void TestTermEngine::noWrapOverwritesLastColumn()
{
    Rig r(27, false);
    r.t.MoveCaret(1, 27);
    r.Rx(std::string(80, 'a'));
    QCOMPARE(r.Caret(), (TTermPoint{80, 27}));
    r.Rx("bcd");
    QCOMPARE(r.Caret(), (TTermPoint{80, 27}));
    QCOMPARE(r.At(80, 27), 'd');
    QCOMPARE(r.At(79, 27), 'a');
}

void TestTermEngine::controlCharacters()
{
    Rig r;
    r.Rx("ab\bX");
    QCOMPARE(r.RowText(1), std::string("aX"));
    r.Rx("\r\b\b");  // backspace stops at column 1, erases nothing
    QCOMPARE(r.Caret(), (TTermPoint{1, 1}));
    QCOMPARE(r.RowText(1), std::string("aX"));
    r.t.MoveCaret(5, 2);
    r.Rx("\n");
    QCOMPARE(r.Caret(), (TTermPoint{5, 3}));  // line feed keeps the column
    r.Rx("\f");
    QCOMPARE(r.Caret(), (TTermPoint{5, 4}));
    r.t.MoveCaret(3, 27);
    r.Rx("Z\n");
    QCOMPARE(r.Caret(), (TTermPoint{4, 27}));
    QCOMPARE(r.At(3, 26), 'Z');

    // 0x07 shows nothing, moves nothing, but is still reported.
    r.chars.clear();
    const TTermPoint before = r.Caret();
    r.Rx("\a");
    QCOMPARE(r.Caret(), before);
    QCOMPARE(r.chars, std::vector<uint8_t>{0x07});
    QCOMPARE(r.At(before.X, before.Y), '\0');

    // Bytes 0x80..0xFF are characters.
    r.Rx("\xC4");
    QCOMPARE(static_cast<uint8_t>(r.At(before.X, before.Y)), uint8_t(0xC4));
}

void TestTermEngine::repliesToTheHost()
{
    Rig r;
    r.t.MoveCaret(12, 5);
    for (const auto& [query, reply] : {std::pair{"[6n", "[5;12R"}, {"[c", "[?1;2c"}, {"[0c", "[?1;2c"}, {"[5n", "[0n"}}) {
        r.sent.clear();
        r.Rx(E(query));
        QCOMPARE(r.sent, E(reply));
    }
    QVERIFY(r.unhandled.empty());
    QCOMPARE(r.Caret(), (TTermPoint{12, 5}));

    // Reports from the host itself are not performed: the owner hears of them.
    r.sent.clear();
    r.Rx(E("[5;12R") + E("[0n") + E("[?1;2c") + E("[1J"));
    QVERIFY(r.sent.empty());
    QCOMPARE(r.unhandled.size(), std::size_t(4));
    QCOMPARE(r.unhandled[0].first, ecReportCursorPos);
    QCOMPARE(r.unhandled[0].second, std::string("[5;12R"));
    QCOMPARE(r.unhandled[3].first, ecUnknown);
    QCOMPARE(r.unhandled[3].second, std::string("[1J"));
    QVERIFY(r.t.Parser()->ParamList.empty());
}

void TestTermEngine::repliesNeedAnOpenPortAndAForm()
{
    Rig r;
    r.portOpen = false;
    r.Rx(E("[6n") + E("[c") + E("[5n"));
    QVERIFY(r.sent.empty());

    Rig v;
    v.t.SetEmulation(teVT52);
    v.t.MoveCaret(3, 4);
    v.Rx(E("Z"));
    QCOMPARE(v.sent, E("/Z"));
    v.sent.clear();
    // VT52 has no status or position reports: nothing is sent.
    v.t.ApplyCode(ecQueryCursorPos, nullptr);
    v.t.ApplyCode(ecQueryDevice, nullptr);
    QVERIFY(v.sent.empty());
}

void TestTermEngine::attributes()
{
    Rig r;
    r.Rx(E("[1;4;7m"));
    QVERIFY(r.t.CurrentAttr().Bold);
    QVERIFY(r.t.CurrentAttr().Underline);
    QVERIFY(r.t.CurrentAttr().Inverse);
    r.Rx("A");
    TTermCell a = r.t.Buffer().LoadCell(1, 1);
    QCOMPARE(a.FrontColor, r.t.AltColor());  // bold wins over inverse
    QCOMPARE(a.BackColor, r.t.FontColor());
    QCOMPARE(a.Underline, uint8_t(1));

    r.Rx(E("[21m") + "B");
    TTermCell b = r.t.Buffer().LoadCell(2, 1);
    QCOMPARE(b.FrontColor, r.t.Color());  // inverse alone: background on font colour
    QCOMPARE(b.BackColor, r.t.FontColor());

    r.Rx(E("[m") + "C");
    QVERIFY(!r.t.CurrentAttr().Bold && !r.t.CurrentAttr().Underline && !r.t.CurrentAttr().Inverse);
    TTermCell c = r.t.Buffer().LoadCell(3, 1);
    QCOMPARE(c.FrontColor, uint32_t(0xFFFFFF));
    QCOMPARE(c.BackColor, uint32_t(0x000000));
    QCOMPARE(c.Underline, uint8_t(0));

    // Colour selections change nothing; 24 and 27 switch single flags off.
    const TTermAttr plain = r.t.CurrentAttr();
    r.Rx(E("[31m") + E("[44m"));
    QCOMPARE(r.t.CurrentAttr(), plain);
    r.Rx(E("[4;7m") + E("[24m"));
    QVERIFY(!r.t.CurrentAttr().Underline && r.t.CurrentAttr().Inverse);
    r.Rx(E("[27m"));
    QCOMPARE(r.t.CurrentAttr(), plain);
    // A parameter that is no number counts as 1 (bold); 0 resets midway.
    r.Rx(E("[;5m"));
    QVERIFY(r.t.CurrentAttr().Bold);
    r.Rx(E("[4;0;7m"));
    QVERIFY(!r.t.CurrentAttr().Underline && r.t.CurrentAttr().Inverse && !r.t.CurrentAttr().Bold);
    // ESC c resets the attributes only.
    r.t.MoveCaret(7, 7);
    r.Rx(E("c"));
    QCOMPARE(r.t.CurrentAttr(), plain);
    QCOMPARE(r.Caret(), (TTermPoint{7, 7}));
    QCOMPARE(r.At(1, 1), 'A');
}

void TestTermEngine::modes()
{
    Rig r;
    int allocations = 0;
    r.t.OnBufferAllocated = [&] { ++allocations; };
    r.Rx("hello");
    r.t.MoveCaret(100, 20);
    r.Rx(E("[?3h"));
    QCOMPARE(r.t.Columns(), 132);
    QCOMPARE(allocations, 1);
    QCOMPARE(r.RowText(1), std::string());  // cleared
    QCOMPARE(r.t.Buffer().NextTabStop(130), 0);
    QCOMPARE(r.t.Buffer().NextTabStop(122), 129);
    r.t.MoveCaret(132, 1);
    r.Rx(E("[?3l"));
    QCOMPARE(r.t.Columns(), 80);
    QCOMPARE(r.Caret().X, 80);  // the caret stays on the smaller screen

    r.Rx(E("[?7l"));
    QVERIFY(!r.t.WrapLines);
    r.Rx(E("[?7h"));
    QVERIFY(r.t.WrapLines);
    r.Rx(E("[?1h"));
    QVERIFY(r.t.AppCursorMode());
    r.Rx(E("[?1l"));
    QVERIFY(!r.t.AppCursorMode());
    // Only the first parameter counts; others are ignored.
    r.Rx(E("[?1;?3h") + E("[4h") + E("[h"));
    QVERIFY(r.t.AppCursorMode());
    QCOMPARE(r.t.Columns(), 80);
}

void TestTermEngine::cursorCodesClampAndHugeParameters()
{
    Rig r;
    // One after the other: the bytes received, where the caret is then.
    const std::pair<std::string, TTermPoint> steps[] = {
        {E("[12;40H"), {40, 12}},
        {E("[H"), {1, 1}},
        {E("[3B") + E("[5C"), {6, 4}},
        {E("[A") + E("[2D"), {4, 3}},
        {E("[99;999f"), {80, 27}},
        {E("[2147483647A"), {80, 1}},
        {E("[2147483647B") + E("[2147483647C"), {80, 27}},
        {E("[-2147483648B") + E("[-2147483648C"), {1, 1}},
        {E("[0;0H"), {1, 1}},
        {E("[5;5H") + E("[99999999999999999999A"), {5, 4}},  // not an integer: one step
    };
    for (const auto& [bytes, caret] : steps) {
        r.Rx(bytes);
        QCOMPARE(r.Caret(), caret);
    }

    // A runaway sequence ends, and what follows is shown again.
    r.Rx(E("[") + std::string(5000, '7') + "\r\nok");
    QCOMPARE(r.unhandled.size(), std::size_t(1));
    QCOMPARE(r.unhandled[0].first, ecUnknown);
    QCOMPARE(r.RowText(r.Caret().Y), std::string("ok"));
    const std::string sevens = r.RowText(r.Caret().Y - 1);
    QVERIFY(!sevens.empty() && sevens.find_first_not_of('7') == std::string::npos);

    // Reverse line feed scrolls down on row 1 (VT52 ESC I).
    Rig v;
    v.t.SetEmulation(teVT52);
    v.Rx("top" + E("I"));
    QCOMPARE(v.RowText(2), std::string("top"));
    QCOMPARE(v.Caret(), (TTermPoint{4, 1}));
    v.Rx(E("Y\x25\x30"));
    QCOMPARE(v.Caret(), (TTermPoint{17, 6}));
    v.Rx(E("I"));
    QCOMPARE(v.Caret(), (TTermPoint{17, 5}));
}

void TestTermEngine::erasing()
{
    Rig r;
    for (int y = 1; y <= 3; ++y) {
        r.t.MoveCaret(1, y);
        r.Rx("abcdef");
    }
    r.t.MoveCaret(3, 1);
    r.Rx(E("[K"));
    QCOMPARE(r.RowText(1), std::string("ab"));
    QCOMPARE(r.Caret(), (TTermPoint{3, 1}));
    r.t.MoveCaret(4, 2);
    r.Rx(E("[2K"));
    QCOMPARE(r.RowText(2), std::string());
    QCOMPARE(r.Caret(), (TTermPoint{1, 2}));
    r.t.MoveCaret(5, 1);
    r.Rx(E("[J"));
    QCOMPARE(r.RowText(1), std::string("ab"));
    QCOMPARE(r.RowText(3), std::string());
    r.t.MoveCaret(1, 1);
    r.Rx("xyz");
    r.t.MoveCaret(9, 9);
    r.Rx(E("[2J"));
    QCOMPARE(r.RowText(1), std::string());
    QCOMPARE(r.Caret(), (TTermPoint{1, 1}));
}

void TestTermEngine::tabStops()
{
    Rig r;
    r.Rx("\t");
    QCOMPARE(r.Caret().X, 9);
    r.t.MoveCaret(73, 1);
    r.Rx("\t");
    QCOMPARE(r.Caret().X, 73);  // no stop right of it
    r.t.MoveCaret(76, 1);
    r.Rx(E("H"));  // set a stop at 76
    r.t.MoveCaret(73, 1);
    r.Rx("\t");
    QCOMPARE(r.Caret().X, 76);
    r.t.MoveCaret(9, 1);
    r.Rx(E("[g"));  // clear the stop at 9
    r.t.MoveCaret(1, 1);
    r.Rx("\t");
    QCOMPARE(r.Caret().X, 17);
    r.Rx(E("[3g"));
    r.t.MoveCaret(1, 1);
    r.Rx("\t");
    QCOMPARE(r.Caret().X, 1);
    r.Rx("a\tb");
    QCOMPARE(r.RowText(1), std::string("ab"));  // tab writes nothing
}

void TestTermEngine::saveRestoreAndScreenTest()
{
    Rig r;
    r.Rx(E("[u"));
    QCOMPARE(r.Caret(), (TTermPoint{1, 1}));  // stored caret starts at (0, 0), clamped
    r.t.MoveCaret(10, 5);
    r.Rx(E("[1m") + E("7"));
    r.Rx(E("[m") + E("[20;30H"));
    r.Rx(E("8"));
    QCOMPARE(r.Caret(), (TTermPoint{10, 5}));
    QVERIFY(r.t.CurrentAttr().Bold);
    r.Rx(E("[m") + E("[3;4H") + E("[s") + E("[1m") + E("[9;9H") + E("[u"));
    QCOMPARE(r.Caret(), (TTermPoint{4, 3}));
    QVERIFY(r.t.CurrentAttr().Bold);  // caret only

    r.Rx(E("#8"));
    for (int y : {1, 27})
        for (int x : {1, 80}) {
            const TTermCell c = r.t.Buffer().LoadCell(x, y);
            QCOMPARE(c.Ch, uint8_t('E'));
            QCOMPARE(c.FrontColor, r.t.FontColor());
            QCOMPARE(c.BackColor, r.t.Color());
            QCOMPARE(c.Underline, uint8_t(0));
        }
}

void TestTermEngine::receivedBlockHooks()
{
    Rig r;
    r.t.AppendLF = true;
    r.Rx("ab\rcd\r");
    QCOMPARE(r.RowText(1), std::string("ab"));
    QCOMPARE(r.RowText(2), std::string("cd"));
    QCOMPARE(r.Caret(), (TTermPoint{1, 3}));
    QCOMPARE(r.chars, (std::vector<uint8_t>{'a', 'b', '\r', '\n', 'c', 'd', '\r', '\n'}));

    Rig s;
    s.t.OnStrReceived = [](std::string& text) { text = "<" + text + ">"; };
    s.Rx("x");
    QCOMPARE(s.RowText(1), std::string("<x>"));

    Rig f;
    f.t.Force7Bit = true;
    f.Rx("\xC1zz");
    f.t.MoveCaret(2, 1);
    f.Rx("\x9B[K");  // 0x9B masks to ESC, so this erases to the end of the line
    QCOMPARE(f.RowText(1), std::string("A"));
    QCOMPARE(f.Caret(), (TTermPoint{2, 1}));
    f.t.Force7Bit = false;
    f.Rx("\xC1");
    QCOMPARE(static_cast<uint8_t>(f.At(2, 1)), uint8_t(0xC1));
}

void TestTermEngine::typedCharactersAndEcho()
{
    Rig r;
    r.t.SendLF = true;
    r.t.SendTypedChar('\r');
    QCOMPARE(r.sent, std::string("\r\n"));
    QCOMPARE(r.Caret(), (TTermPoint{1, 1}));  // no echo

    r.sent.clear();
    r.t.LocalEcho = true;
    r.t.MoveCaret(5, 3);
    r.t.SendTypedChar('\r');
    QCOMPARE(r.sent, std::string("\r\n"));
    QCOMPARE(r.Caret(), (TTermPoint{1, 4}));
    r.t.SendTypedChar('q');
    QCOMPARE(r.At(1, 4), 'q');
    QCOMPARE(r.chars.back(), uint8_t('q'));

    r.sent.clear();
    r.t.SendLF = false;
    r.t.SendTypedChar('\r');
    QCOMPARE(r.sent, std::string("\r"));

    // Closed port: nothing sent, nothing echoed.
    r.sent.clear();
    r.portOpen = false;
    r.t.SendTypedChar('z');
    QVERIFY(r.sent.empty());
    QCOMPARE(r.At(1, 4), 'q');
    QCOMPARE(r.Caret(), (TTermPoint{1, 4}));
}

void TestTermEngine::cursorKeys()
{
    Rig r;
    r.t.MoveCaret(5, 5);
    // akTerminal: keys go to the port, the caret stays.
    QVERIFY(r.t.KeyDown(tkUp));
    QVERIFY(r.t.KeyDown(tkLeft));
    QVERIFY(r.t.KeyDown(tkHome));
    QCOMPARE(r.sent, E("[A") + E("[D") + E("[H"));
    QCOMPARE(r.Caret(), (TTermPoint{5, 5}));

    // With local echo the code is also performed.
    r.sent.clear();
    r.t.LocalEcho = true;
    r.t.KeyDown(tkDown);
    r.t.KeyDown(tkRight);
    QCOMPARE(r.sent, E("[B") + E("[C"));
    QCOMPARE(r.Caret(), (TTermPoint{6, 6}));
    r.t.LocalEcho = false;

    // akWindows: performed locally, nothing sent.
    r.sent.clear();
    r.t.ArrowKeys = akWindows;
    r.t.KeyDown(tkUp);
    r.t.KeyDown(tkLeft);
    QCOMPARE(r.Caret(), (TTermPoint{5, 5}));
    r.t.KeyDown(tkHome);
    QCOMPARE(r.Caret(), (TTermPoint{1, 1}));
    QVERIFY(r.sent.empty());

    // Application mode: arrows send ESC O x whatever ArrowKeys says; Home is ignored.
    r.Rx(E("[?1h"));
    r.t.MoveCaret(5, 5);
    r.t.KeyDown(tkUp);
    r.t.KeyDown(tkDown);
    r.t.KeyDown(tkRight);
    r.t.KeyDown(tkLeft);
    r.t.KeyDown(tkHome);
    QCOMPARE(r.sent, E("OA") + E("OB") + E("OC") + E("OD"));
    QCOMPARE(r.Caret(), (TTermPoint{5, 5}));
    r.t.ArrowKeys = akTerminal;
    r.sent.clear();
    r.t.KeyDown(tkLeft);
    QCOMPARE(r.sent, E("OD"));

    // No port: nothing.
    r.sent.clear();
    r.portOpen = false;
    r.t.KeyDown(tkUp);
    QVERIFY(r.sent.empty());
}

void TestTermEngine::emulations()
{
    Rig r;
    r.t.SetEmulation(teNone);
    QVERIFY(r.t.Parser() == nullptr);
    r.Rx(E("[2J") + "x");  // without a parser every byte is a character (ESC shows nothing)
    QCOMPARE(r.RowText(1), std::string("[2Jx"));
    r.t.KeyDown(tkUp);  // no parser: nothing to send
    QVERIFY(r.sent.empty());

    // teNone asks the owner for a parser.
    r.t.OnParserWanted = [](std::unique_ptr<TEscapeCodes>& p) { p = std::make_unique<TEscapeCodesVT52>(); };
    r.t.SetEmulation(teVT100orANSI);
    r.t.SetEmulation(teNone);
    QVERIFY(dynamic_cast<TEscapeCodesVT52*>(r.t.Parser()) != nullptr);
    r.t.SetEmulation(teVT100orANSI);
    QVERIFY(dynamic_cast<TEscapeCodesVT100*>(r.t.Parser()) != nullptr);
}

void TestTermEngine::dirtyRegion()
{
    Rig r;
    r.t.TakeDirty();
    QVERIFY(!r.t.Dirty().Any);
    r.t.MoveCaret(10, 3);
    QVERIFY(!r.t.Dirty().Any);  // moving the caret changes no cell
    r.Rx("ab");
    r.t.MoveCaret(4, 5);
    r.Rx("c");
    TTermDirty d = r.t.TakeDirty();
    QVERIFY(d.Any);
    QCOMPARE(d.X1, 4);
    QCOMPARE(d.Y1, 3);
    QCOMPARE(d.X2, 11);
    QCOMPARE(d.Y2, 5);
    QVERIFY(!r.t.Dirty().Any);
    // A scroll moves the changed rows with the screen and changes the new
    // bottom row; a changed row that leaves the top is forgotten.
    r.t.MoveCaret(1, 27);
    r.Rx("\n");
    d = r.t.TakeDirty();
    QCOMPARE(d.ScrolledUp, 1);
    QCOMPARE(d.X1, 1);
    QCOMPARE(d.Y1, 27);
    QCOMPARE(d.X2, 80);
    QCOMPARE(d.Y2, 27);
    r.t.MoveCaret(5, 10);
    r.Rx("x");
    r.t.MoveCaret(1, 27);
    r.Rx("\n\n");
    d = r.t.TakeDirty();
    QCOMPARE(d.ScrolledUp, 2);
    QCOMPARE(d.Y1, 8);
    QCOMPARE(d.Y2, 27);
    QCOMPARE(d.X1, 1);
    r.t.MoveCaret(5, 1);
    r.Rx("y");
    r.t.MoveCaret(1, 27);
    r.Rx("\n");
    d = r.t.TakeDirty();
    QCOMPARE(d.Y1, 27);
    QCOMPARE(d.Y2, 27);
    // Scrolling down cannot be told as a move up: everything is changed.
    r.t.SetEmulation(teVT52);
    r.t.MoveCaret(1, 1);
    r.Rx("\x1bI");
    d = r.t.TakeDirty();
    QCOMPARE(d.Y1, 1);
    QCOMPARE(d.Y2, 27);
}

QTEST_APPLESS_MAIN(TestTermEngine)
#include "test_term_engine.moc"
