// The engine's fast paths (runs of printable characters, whole control
// sequences within one received block, the ring of rows in the buffer) give
// the same screen, caret, attributes, parser state, replies and
// notifications as the byte-by-byte path, wherever the blocks are cut.
#include <QtTest>

#include <array>
#include <tuple>

#include "terminal/com_term_engine.h"

namespace {

std::string E(const std::string& tail) { return "\x1B" + tail; }

struct Options {
    bool wrap = true;
    TTermEmulation emulation = teVT100orANSI;
    bool appendLF = false;
    bool force7Bit = false;
    // Watching each character sends every byte through ShowChar one by one.
    bool watchChars = false;
    // An unhandled code switches to VT52 (a handler that swaps the parser).
    bool swapParserOnUnhandled = false;
};

// Everything of the engine that the view, the owner or the host can see.
struct Snapshot {
    std::vector<std::tuple<uint8_t, uint32_t, uint32_t, uint8_t>> cells;
    TTermPoint caret, stored;
    TTermAttr attr;
    bool appCursor = false, wrap = false;
    int columns = 0, rows = 0;
    bool parser = false;
    char lastChar = 0;
    TEscapeCode lastCode = ecUnknown;
    std::string seqText;
    bool inEscape = false;
    TParamList params;
    bool dirtyAny = false;
    std::array<int, 4> dirty{};
    std::string sent;
    std::vector<std::pair<TEscapeCode, std::string>> unhandled;
    std::vector<uint8_t> chars;
    bool operator==(const Snapshot&) const = default;
};

// What differs first, for the failure message.
QString FirstDifference(const Snapshot& a, const Snapshot& b)
{
    for (std::size_t i = 0; i < std::min(a.cells.size(), b.cells.size()); ++i)
        if (a.cells[i] != b.cells[i])
            return QString("cell %1 (char %2 against %3)").arg(i).arg(std::get<0>(a.cells[i])).arg(std::get<0>(b.cells[i]));
    if (a.caret != b.caret)
        return QString("caret %1,%2 against %3,%4").arg(a.caret.X).arg(a.caret.Y).arg(b.caret.X).arg(b.caret.Y);
    if (a.attr != b.attr || a.stored != b.stored) return "attributes or stored caret";
    if (a.lastChar != b.lastChar) return QString("LastChar %1 against %2").arg(int(a.lastChar)).arg(int(b.lastChar));
    if (a.lastCode != b.lastCode || a.seqText != b.seqText || a.inEscape != b.inEscape || a.params != b.params)
        return QString("parser: code %1 \"%2\" against %3 \"%4\"")
            .arg(a.lastCode)
            .arg(QByteArray::fromStdString(a.seqText).toPercentEncoding())
            .arg(b.lastCode)
            .arg(QByteArray::fromStdString(b.seqText).toPercentEncoding());
    if (a.dirtyAny != b.dirtyAny || a.dirty != b.dirty) return "dirty region";
    if (a.sent != b.sent) return "bytes sent";
    if (a.unhandled != b.unhandled) return "unhandled codes";
    if (a.chars != b.chars) return "characters reported";
    return "modes or size";
}

struct Rig {
    TComTermEngine t;
    std::string sent;
    std::vector<std::pair<TEscapeCode, std::string>> unhandled;
    std::vector<uint8_t> chars;

    explicit Rig(const Options& o)
    {
        t.SetRows(27);
        t.WrapLines = o.wrap;
        t.AppendLF = o.appendLF;
        t.Force7Bit = o.force7Bit;
        t.SetEmulation(o.emulation);
        t.CanSend = [] { return true; };
        t.Write = [this](const std::string& s) { sent += s; };
        const bool swap = o.swapParserOnUnhandled;
        t.OnUnhandledCode = [this, swap](TEscapeCode c, const std::string& s) {
            unhandled.emplace_back(c, s);
            if (swap) t.SetEmulation(teVT52);
        };
        if (o.watchChars) t.OnChar = [this](uint8_t c) { chars.push_back(c); };
    }
    void Rx(const std::string& s, std::size_t from, std::size_t to)
    {
        t.ReceivedData(s.data() + from, static_cast<int>(to - from));
    }
    Snapshot Take()
    {
        Snapshot s;
        const TComTermBuffer& b = t.Buffer();
        for (int y = 1; y <= b.Rows(); ++y)
            for (int x = 1; x <= b.Columns(); ++x) {
                const TTermCell c = b.LoadCell(x, y);
                if (b.Row(y)[x - 1].Ch != c.Ch) s.caret = {-1, -1};  // Row and LoadCell disagree
                s.cells.emplace_back(c.Ch, c.FrontColor, c.BackColor, c.Underline);
            }
        if (s.caret.X != -1) s.caret = t.CaretCell();
        s.stored = t.StoredCaret();
        s.attr = t.CurrentAttr();
        s.appCursor = t.AppCursorMode();
        s.wrap = t.WrapLines;
        s.columns = t.Columns();
        s.rows = t.Rows();
        if (const TEscapeCodes* p = t.Parser()) {
            s.parser = true;
            s.lastChar = p->LastChar;
            s.lastCode = p->LastCode;
            s.seqText = p->SeqText;
            s.inEscape = p->InEscape;
            s.params = p->ParamList;
        }
        const TTermDirty d = t.Dirty();
        s.dirtyAny = d.Any;
        s.dirty = {d.X1, d.Y1, d.X2, d.Y2};
        s.sent = sent;
        s.unhandled = unhandled;
        s.chars = chars;
        return s;
    }
};

// The byte-by-byte path: one byte per block and every character watched,
// so no run and no whole sequence is ever seen at once.
Snapshot Reference(const std::string& in, Options o)
{
    o.watchChars = true;
    Rig r(o);
    for (std::size_t i = 0; i < in.size(); ++i) r.Rx(in, i, i + 1);
    Snapshot s = r.Take();
    return s;
}

Snapshot InBlocks(const std::string& in, const Options& o, const std::vector<std::size_t>& cuts)
{
    Rig r(o);
    std::size_t from = 0;
    for (std::size_t c : cuts) {
        r.Rx(in, from, c);
        from = c;
    }
    r.Rx(in, from, in.size());
    return r.Take();
}

// Compares the reference with the input cut in two at every position (and
// in one piece), with and without watching characters.
void CheckEveryCut(const std::string& in, const Options& base, const char* what)
{
    Options quiet = base;
    quiet.watchChars = false;
    Snapshot ref = Reference(in, base);
    Snapshot refQuiet = ref;
    refQuiet.chars.clear();
    for (std::size_t cut = 0; cut <= in.size(); ++cut) {
        const std::vector<std::size_t> cuts{cut};
        const Snapshot q = InBlocks(in, quiet, cuts);
        if (!(q == refQuiet))
            QFAIL(qPrintable(QString("%1, cut at %2: %3").arg(what).arg(cut).arg(FirstDifference(q, refQuiet))));
        Options watched = base;
        watched.watchChars = true;
        const Snapshot w = InBlocks(in, watched, cuts);
        if (!(w == ref))
            QFAIL(qPrintable(QString("%1 (watched), cut at %2: %3").arg(what).arg(cut).arg(FirstDifference(w, ref))));
    }
}

struct Lcg {
    uint32_t s;
    uint32_t Next(uint32_t n)
    {
        s = s * 1664525u + 1013904223u;
        return (s >> 8) % n;
    }
};

// Mostly the pieces of control sequences, so that the fast paths are tried
// on well-formed, nearly well-formed and cut sequences.
std::string RandomStream(Lcg& r, std::size_t length)
{
    static const char* const pieces[] = {"\x1B[", "\x1B", "[", ";", "0", "1", "2", "3", "7", "9", "27", "31", "42",
                                         "999999999", "1234567890", "H", "f", "m", "A", "B", "C", "D", "K", "J",
                                         "?", "h", "l", "n", "c", "r", "s", "u", "7", "8", "Y", "I", "#", "\r",
                                         "\n", "\t", "\b", "\a", "\x7F", "\xE9", " ", "text", "\x00"};
    std::string s;
    while (s.size() < length) {
        const char* p = pieces[r.Next(sizeof pieces / sizeof *pieces)];
        if (*p == 0)
            s.push_back('\0');
        else
            s += p;
    }
    return s;
}

}  // namespace

class TestTermFastPaths : public QObject {
    Q_OBJECT
private slots:
    void sequencesCutAtEveryPosition_data();
    void sequencesCutAtEveryPosition();
    void randomStreamsInRandomBlocks();
    void handlerSwapsParserMidBlock();
    void textRunsAtTheEdges();
    void bufferRingMatchesPlainRows();
};

void TestTermFastPaths::sequencesCutAtEveryPosition_data()
{
    QTest::addColumn<QByteArray>("input");
    const std::string text80(80, 'x');
    const std::vector<std::pair<const char*, std::string>> rows = {
        {"cursor moves", E("[5;10Hx") + E("[3Ay") + E("[B") + E("[12Cz") + E("[0D") + E("[2;3fw") + E("[H") + "q"},
        {"colours and attributes",
         E("[31;42mA") + E("[0mB") + E("[1;4;7mC") + E("[mD") + E("[21;24m") + E("[27mE") + E("[7;1mF")},
        {"erasing", "abcdef" + E("[3D") + E("[K") + "\r\n12345" + E("[1;3H") + E("[J") + E("[2;2H") + E("[2K") +
                        "z" + E("[20K") + E("[05J") + E("[2J") + "after"},
        {"huge and odd numbers", E("[1234567890A") + E("[2147483648H") + E("[9999999999Bv") + E("[999999999;999999999Hx") + E("[+5C") +
                                     E("[-3D") + E("[0000000002Cy")},
        {"odd forms", E("[;5Ha") + E("[5;Hb") + E("[5;;3Hc") + E("[5\rHd") + E("\x1B[He") + E("[1K") + E("[3;25r") +
                          E("[5X") + "f"},
        {"modes and replies", E("[?7l") + text80 + "ab" + E("[?7h") + E("[?1h") + E("[6n") + E("[c") + E("[5n") +
                                  E("[?1l") + E("[0c")},
        {"saving and tabs", E("[5;5H") + E("[1m") + E("7") + E("[10;10H") + E("[m") + E("8") + "s" + E("[s") +
                                E("[H") + E("[u") + "u" + "\t\tT" + E("H") + E("[g") + E("[3g") + "\t" + E("#8")},
        {"many parameters", E("[1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16m") + "a" +
                                E("[0;1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;7m") + "b"},
        {"too long a sequence", E("[") + std::string(300, '1') + "Hx" + E("[") + std::string(254, ';') + "Hy"},
        {"plain text scrolling", [] {
             std::string s = E("[27;1H");
             for (int i = 0; i < 5; ++i) s += "line " + std::to_string(i) + " of text\r\n";
             return s + std::string(170, 'w') + "\x7F\xE9\xFF\b\a";
         }()},
    };
    for (const auto& [name, in] : rows) QTest::newRow(name) << QByteArray(in.data(), qsizetype(in.size()));
}

void TestTermFastPaths::sequencesCutAtEveryPosition()
{
    QFETCH(QByteArray, input);
    const std::string in(input.constData(), std::size_t(input.size()));
    Options o;
    CheckEveryCut(in, o, "wrap");
    o.wrap = false;
    CheckEveryCut(in, o, "no wrap");
    o.wrap = true;
    o.emulation = teVT52;
    CheckEveryCut(in, o, "VT52");
    o.emulation = teVT100orANSI;
    o.appendLF = o.force7Bit = true;
    CheckEveryCut(in, o, "append LF, 7 bits");
}

void TestTermFastPaths::randomStreamsInRandomBlocks()
{
    Lcg r{2024};
    for (int round = 0; round < 300; ++round) {
        const std::string in = RandomStream(r, 50 + r.Next(400));
        Options o;
        o.wrap = r.Next(4) != 0;
        o.emulation = r.Next(5) == 0 ? teVT52 : teVT100orANSI;
        o.watchChars = r.Next(3) == 0;
        const Snapshot ref = [&] {
            Snapshot s = Reference(in, o);
            if (!o.watchChars) s.chars.clear();
            return s;
        }();
        std::vector<std::size_t> cuts;
        for (std::size_t at = r.Next(40); at < in.size(); at += 1 + r.Next(60)) cuts.push_back(at);
        const Snapshot got = InBlocks(in, o, cuts);
        if (!(got == ref))
            QFAIL(qPrintable(QString("random stream %1: %2").arg(round).arg(FirstDifference(got, ref))));
    }
}

void TestTermFastPaths::handlerSwapsParserMidBlock()
{
    // After the first unhandled code the handler switches to VT52, so the
    // rest of the block must be read as VT52 codes.
    const std::string in = "a" + E("[3;25r") + E("[5;5H") + "b" + E("Y%%") + "c" + E("[2J");
    Options o;
    o.swapParserOnUnhandled = true;
    CheckEveryCut(in, o, "parser swapped");
    Rig whole(o);
    whole.Rx(in, 0, in.size());
    QCOMPARE(whole.t.Emulation(), teVT52);
    QCOMPARE(whole.t.Buffer().LoadCell(6, 6).Ch, uint8_t('c'));  // ESC Y: row 6, column 6
}

void TestTermFastPaths::textRunsAtTheEdges()
{
    // A run longer than the screen wraps and scrolls row by row; without
    // wrapping the last column keeps the run's last character.
    Options o;
    Rig r(o);
    const std::string in = E("[26;75H") + std::string(6, 'a') + std::string(80, 'b') + "c";
    r.Rx(in, 0, in.size());
    QCOMPARE(r.t.Buffer().LoadCell(80, 25).Ch, uint8_t('a'));
    QCOMPARE(r.t.Buffer().LoadCell(80, 26).Ch, uint8_t('b'));
    QCOMPARE(r.t.Buffer().LoadCell(1, 27).Ch, uint8_t('c'));
    QCOMPARE(r.t.CaretCell(), (TTermPoint{2, 27}));

    o.wrap = false;
    Rig n(o);
    const std::string in2 = E("[3;78H") + "xyz123" + "\r\n" + "k";
    n.Rx(in2, 0, in2.size());
    QCOMPARE(n.t.Buffer().LoadCell(78, 3).Ch, uint8_t('x'));
    QCOMPARE(n.t.Buffer().LoadCell(80, 3).Ch, uint8_t('3'));
    QCOMPARE(n.t.Buffer().LoadCell(1, 4).Ch, uint8_t('k'));
    QCOMPARE(n.Take().lastChar, 'k');
}

void TestTermFastPaths::bufferRingMatchesPlainRows()
{
    // The ring of rows against rows kept the plain way, over random
    // stores, scrolls both ways and erases.
    constexpr int cols = 7, rows = 5;
    TComTermBuffer b;
    b.AllocateBuffer(cols, rows);
    std::vector<std::vector<uint8_t>> model(rows, std::vector<uint8_t>(cols, 0));
    Lcg r{7};
    for (int step = 0; step < 3000; ++step) {
        const int x = 1 + int(r.Next(cols + 1)), y = 1 + int(r.Next(rows));
        switch (r.Next(6)) {
        case 0:
        case 1: {
            TTermCell c;
            c.Ch = uint8_t(1 + r.Next(255));
            c.FrontColor = c.Ch * 3u;
            b.StoreCell(x, y, c);
            if (x <= cols) model[y - 1][x - 1] = c.Ch;
            break;
        }
        case 2:
            b.ScrollBufferUp();
            model.erase(model.begin());
            model.emplace_back(cols, 0);
            break;
        case 3:
            b.ScrollBufferDown();
            model.pop_back();
            model.insert(model.begin(), std::vector<uint8_t>(cols, 0));
            break;
        case 4:
            b.EraseLineFrom(x, y);
            for (int c = x; c <= cols; ++c) model[y - 1][c - 1] = 0;
            break;
        case 5:
            if (r.Next(4) != 0) break;
            b.EraseScreenFrom(x, y);
            for (int c = x; c <= cols; ++c) model[y - 1][c - 1] = 0;
            for (int row = y + 1; row <= rows; ++row) model[row - 1].assign(cols, 0);
            break;
        }
        for (int row = 1; row <= rows; ++row)
            for (int c = 1; c <= cols; ++c) {
                const TTermCell cell = b.LoadCell(c, row);
                if (cell.Ch != model[row - 1][c - 1] || b.Row(row)[c - 1].Ch != cell.Ch ||
                    cell.FrontColor != cell.Ch * 3u)
                    QFAIL(qPrintable(QString("step %1: cell %2,%3 differs").arg(step).arg(c).arg(row)));
            }
    }
}

QTEST_APPLESS_MAIN(TestTermFastPaths)
#include "test_term_fast_paths.moc"
