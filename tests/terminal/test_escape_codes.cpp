// The VT100/ANSI and VT52 recognisers and generators.
#include <QtTest>

#include "terminal/escape_codes.h"

namespace {

struct Fed {
    FeedResult last = frPlain;
    int codes = 0;
    TEscapeCode code = ecUnknown;
    TParamList params;
    std::string plain;
};

// Feeds every byte; records the last finished code and the plain characters.
Fed Feed(TEscapeCodes& p, const std::string& bytes)
{
    Fed f;
    for (char c : bytes) {
        f.last = p.FeedChar(c);
        if (f.last == frPlain) f.plain.push_back(p.LastChar);
        if (f.last == frCodeReady) {
            ++f.codes;
            f.code = p.LastCode;
            f.params = p.ParamList;
            p.ParamList.clear();  // as the terminal does after every code
        }
    }
    return f;
}

std::string E(const std::string& tail) { return "\x1B" + tail; }

// A code and its parameters, and what a generator sends for it (nullptr: nothing).
struct TGenerated {
    TEscapeCode code;
    const TParamList* params;
    const char* tail;
};
void CheckGenerated(const TEscapeCodes& p, std::initializer_list<TGenerated> cases)
{
    for (const TGenerated& c : cases) QCOMPARE(p.SequenceFor(c.code, c.params), c.tail ? E(c.tail) : std::string());
}

}  // namespace

Q_DECLARE_METATYPE(TEscapeCode)

class TestEscapeCodes : public QObject {
    Q_OBJECT
private slots:
    void vt100ControlSequences_data();
    void vt100ControlSequences();
    void vt100ShortEscapes_data();
    void vt100ShortEscapes();
    void vt100WaitsForMore();
    void parameterSplitting();
    void plainCharactersAroundCodes();
    void splitAcrossReceiveBlocks();
    void sequenceCapEndsRunawaySequence();
    void hugeParameters();
    void vt52Recogniser();
    void paramValue();
    void vt100Generator();
    void vt52Generator();
};

void TestEscapeCodes::vt100ControlSequences_data()
{
    QTest::addColumn<QByteArray>("seq");
    QTest::addColumn<TEscapeCode>("code");
    QTest::addColumn<QStringList>("params");
    auto row = [](const char* name, const char* seq, TEscapeCode c, QStringList p = {}) {
        QTest::newRow(name) << QByteArray(seq) << c << p;
    };
    row("home with params", "[12;40H", ecCursorHome, {"12", "40"});
    row("home bare", "[H", ecCursorHome);
    row("move", "[3;4f", ecCursorMove, {"3", "4"});
    row("up", "[5A", ecCursorUp, {"5"});
    row("down", "[B", ecCursorDown);
    row("right", "[2C", ecCursorRight, {"2"});
    row("left", "[D", ecCursorLeft);
    row("report pos", "[5;12R", ecReportCursorPos, {"5", "12"});
    row("set mode", "[?1h", ecSetMode, {"?1"});
    row("reset mode", "[?7l", ecResetMode, {"?7"});
    row("attributes", "[1;4;7m", ecAttributes, {"1", "4", "7"});
    row("attributes bare", "[m", ecAttributes);
    row("save", "[s", ecSaveCaret);
    row("restore", "[u", ecRestoreCaret);
    row("erase screen to end", "[J", ecEraseScreenToEnd);
    row("erase screen to end 0", "[0J", ecEraseScreenToEnd);
    row("erase screen", "[2J", ecEraseScreen);
    row("erase 1J unknown, list emptied", "[1J", ecUnknown);
    row("erase line to end", "[K", ecEraseLineToEnd);
    row("erase line", "[2K", ecEraseLine);
    row("erase 1K", "[1K", ecUnknown);
    row("clear tab", "[g", ecClearTab);
    row("clear tab 0", "[0g", ecClearTab);
    row("clear all tabs", "[3g", ecClearAllTabs);
    row("clear 2g", "[2g", ecUnknown);
    row("status ok", "[0n", ecReportDeviceOk);
    row("status failure", "[3n", ecReportDeviceFailure);
    row("query device", "[5n", ecQueryDevice);
    row("query cursor", "[6n", ecQueryCursorPos);
    row("n bare", "[n", ecUnknown);
    row("n other", "[7n", ecUnknown);
    row("identify", "[c", ecIdentify);
    row("identify 0", "[0c", ecIdentify, {"0"});
    row("identify response", "[?1;2c", ecIdentifyResponse, {"?1", "2"});
    row("c other", "[1c", ecUnknown, {"1"});
    row("c three params", "[?1;2;3c", ecUnknown, {"?1", "2", "3"});
    row("other letter", "[5z", ecUnknown, {"5"});
}

void TestEscapeCodes::vt100ControlSequences()
{
    QFETCH(QByteArray, seq);
    QFETCH(TEscapeCode, code);
    QFETCH(QStringList, params);
    TEscapeCodesVT100 p;
    const Fed f = Feed(p, E(seq.toStdString()));
    QCOMPARE(f.codes, 1);
    QCOMPARE(f.last, frCodeReady);
    QCOMPARE(f.code, code);
    QStringList got;
    for (const auto& s : f.params) got << QString::fromStdString(s);
    QCOMPARE(got, params);
    QVERIFY(!p.InEscape);
    QVERIFY(!p.InControlSequence);
    QCOMPARE(p.SeqText, seq.toStdString());
}

void TestEscapeCodes::vt100ShortEscapes_data()
{
    QTest::addColumn<QByteArray>("seq");
    QTest::addColumn<TEscapeCode>("code");
    QTest::newRow("7") << QByteArray("7") << ecSaveCaretAndAttr;
    QTest::newRow("8") << QByteArray("8") << ecRestoreCaretAndAttr;
    QTest::newRow("H") << QByteArray("H") << ecSetTab;
    QTest::newRow("c") << QByteArray("c") << ecResetDevice;
    QTest::newRow("#8") << QByteArray("#8") << ecScreenTest;
    QTest::newRow("#5") << QByteArray("#5") << ecUnknown;
    QTest::newRow("OA") << QByteArray("OA") << ecAppCursorUp;
    QTest::newRow("OB") << QByteArray("OB") << ecAppCursorDown;
    QTest::newRow("OC") << QByteArray("OC") << ecAppCursorRight;
    QTest::newRow("OD") << QByteArray("OD") << ecAppCursorLeft;
    QTest::newRow("OX") << QByteArray("OX") << ecUnknown;
    QTest::newRow("M") << QByteArray("M") << ecUnknown;
    QTest::newRow("ESC ESC") << QByteArray("\x1B") << ecUnknown;
}

void TestEscapeCodes::vt100ShortEscapes()
{
    QFETCH(QByteArray, seq);
    QFETCH(TEscapeCode, code);
    TEscapeCodesVT100 p;
    const Fed f = Feed(p, E(seq.toStdString()));
    QCOMPARE(f.codes, 1);
    QCOMPARE(f.last, frCodeReady);
    QCOMPARE(f.code, code);
}

void TestEscapeCodes::vt100WaitsForMore()
{
    TEscapeCodesVT100 p;
    QCOMPARE(p.FeedChar('\x1B'), frCollecting);
    QVERIFY(p.InEscape);
    QCOMPARE(p.FeedChar('O'), frCollecting);
    QCOMPARE(p.FeedChar('A'), frCodeReady);

    QCOMPARE(p.FeedChar('\x1B'), frCollecting);
    QCOMPARE(p.FeedChar('#'), frCollecting);
    QCOMPARE(p.FeedChar('8'), frCodeReady);
    QCOMPARE(p.LastCode, ecScreenTest);

    // "[" then digits and separators, but no letter: still collecting.
    const Fed f = Feed(p, E("[12;34;?5"));
    QCOMPARE(f.last, frCollecting);
    QCOMPARE(f.codes, 0);
    QVERIFY(p.InControlSequence);
    // Control characters and even ESC become part of an open sequence.
    QCOMPARE(p.FeedChar('\x1B'), frCollecting);
    QCOMPARE(p.FeedChar('\r'), frCollecting);
    QCOMPARE(p.FeedChar('m'), frCodeReady);
    QCOMPARE(p.LastCode, ecAttributes);
}

void TestEscapeCodes::parameterSplitting()
{
    using V = TParamList;
    QCOMPARE(TEscapeCodesVT100::SplitParams(""), V{});
    QCOMPARE(TEscapeCodesVT100::SplitParams("5"), V{"5"});
    QCOMPARE(TEscapeCodesVT100::SplitParams("1;2"), (V{"1", "2"}));
    // A ";" met with an empty parameter is kept as its character.
    QCOMPARE(TEscapeCodesVT100::SplitParams(";5"), V{";5"});
    QCOMPARE(TEscapeCodesVT100::SplitParams("1;;2"), (V{"1", ";2"}));
    QCOMPARE(TEscapeCodesVT100::SplitParams("5;"), V{"5"});
    QCOMPARE(TEscapeCodesVT100::SplitParams(";"), V{";"});
    QCOMPARE(TEscapeCodesVT100::SplitParams("?1;2"), (V{"?1", "2"}));

    // ";5" reads as 1: ESC [;5H homes to row 1, column 1.
    TEscapeCodesVT100 p;
    const Fed f = Feed(p, E("[;5H"));
    QCOMPARE(f.code, ecCursorHome);
    QCOMPARE(f.params, V{";5"});
    QCOMPARE(TEscapeCodes::ParamValue(1, &f.params), 1);
    QCOMPARE(TEscapeCodes::ParamValue(2, &f.params), 1);
}

void TestEscapeCodes::plainCharactersAroundCodes()
{
    TEscapeCodesVT100 p;
    const Fed f = Feed(p, "ab" + E("[2J") + "c\r\n" + E("M") + "d");
    QCOMPARE(f.plain, std::string("abc\r\nd"));
    QCOMPARE(f.codes, 2);
    QCOMPARE(f.code, ecUnknown);
    QCOMPARE(p.LastChar, 'd');
}

void TestEscapeCodes::splitAcrossReceiveBlocks()
{
    // The same stream cut at every possible place gives the same codes.
    const std::string stream = "x" + E("[12;40H") + "y" + E("OB") + E("#8") + E("[?1;2c") + "z";
    TEscapeCodesVT100 whole;
    std::vector<TEscapeCode> expected;
    for (char c : stream)
        if (whole.FeedChar(c) == frCodeReady) expected.push_back(whole.LastCode);
    QCOMPARE(expected.size(), std::size_t(4));

    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        TEscapeCodesVT100 p;
        std::vector<TEscapeCode> got;
        std::vector<TParamList> params;
        for (const std::string& block : {stream.substr(0, cut), stream.substr(cut)})
            for (char c : block)
                if (p.FeedChar(c) == frCodeReady) {
                    got.push_back(p.LastCode);
                    params.push_back(p.ParamList);
                    p.ParamList.clear();
                }
        QCOMPARE(got, expected);
        QCOMPARE(params[0], (TParamList{"12", "40"}));
    }

    TEscapeCodesVT52 v;
    QCOMPARE(Feed(v, E("Y")).last, frCollecting);
    QCOMPARE(Feed(v, "\x25").last, frCollecting);
    const Fed f = Feed(v, "\x30");
    QCOMPARE(f.code, ecCursorMove);
    QCOMPARE(f.params, (TParamList{"6", "17"}));
}

void TestEscapeCodes::sequenceCapEndsRunawaySequence()
{
    // ESC [ and endless digits: the sequence ends as unknown at the cap and
    // the following text is plain again.
    TEscapeCodesVT100 p;
    QCOMPARE(p.FeedChar('\x1B'), frCollecting);
    QCOMPARE(p.FeedChar('['), frCollecting);
    int codes = 0;
    std::size_t fed = 1;
    for (int i = 0; i < 100000 && codes == 0; ++i) {
        const FeedResult r = p.FeedChar('9');
        ++fed;
        QVERIFY(p.SeqText.size() <= TEscapeCodes::MaxSequenceLength);
        if (r == frCodeReady) ++codes;
    }
    QCOMPARE(codes, 1);
    QCOMPARE(fed, TEscapeCodes::MaxSequenceLength);
    QCOMPARE(p.LastCode, ecUnknown);
    QVERIFY(p.ParamList.empty());
    QVERIFY(!p.InEscape);
    QVERIFY(!p.InControlSequence);
    QCOMPARE(p.FeedChar('A'), frPlain);
    QCOMPARE(p.LastChar, 'A');

    // A long but finished sequence just under the cap still parses.
    TEscapeCodesVT100 q;
    const std::string digits(TEscapeCodes::MaxSequenceLength - 3, '0');
    const Fed f = Feed(q, E("[" + digits + "7A"));
    QCOMPARE(f.codes, 1);
    QCOMPARE(f.code, ecCursorUp);
    QCOMPARE(TEscapeCodes::ParamValue(1, &f.params), 7);
}

void TestEscapeCodes::hugeParameters()
{
    TEscapeCodesVT100 p;
    const Fed f = Feed(p, E("[99999999999999999999;2147483647H"));
    QCOMPARE(f.code, ecCursorHome);
    QCOMPARE(TEscapeCodes::ParamValue(1, &f.params), 1);  // not a 32-bit integer
    QCOMPARE(TEscapeCodes::ParamValue(2, &f.params), 2147483647);
    const TParamList edge{"2147483648", "-2147483648", "-2147483649", "-", "+7", "12a"};
    QCOMPARE(TEscapeCodes::ParamValue(1, &edge), 1);
    QCOMPARE(TEscapeCodes::ParamValue(2, &edge), int(-2147483647 - 1));
    QCOMPARE(TEscapeCodes::ParamValue(3, &edge), 1);
    QCOMPARE(TEscapeCodes::ParamValue(4, &edge), 1);
    QCOMPARE(TEscapeCodes::ParamValue(5, &edge), 7);
    QCOMPARE(TEscapeCodes::ParamValue(6, &edge), 1);
    // Generators take extreme values without overflow.
    const TParamList big{"2147483647", "-2147483648"};
    QCOMPARE(TEscapeCodesVT100().SequenceFor(ecReportCursorPos, &big), E("[2147483647;-2147483648R"));
    QCOMPARE(TEscapeCodesVT52().SequenceFor(ecCursorMove, &big).size(), std::size_t(4));
}

void TestEscapeCodes::vt52Recogniser()
{
    struct Case {
        const char* seq;
        TEscapeCode code;
    };
    const Case cases[] = {
        {"A", ecCursorUp}, {"B", ecCursorDown}, {"C", ecCursorRight}, {"D", ecCursorLeft},
        {"H", ecCursorHome}, {"I", ecReverseLineFeed}, {"J", ecEraseScreenToEnd},
        {"K", ecEraseLineToEnd}, {"Z", ecIdentify}, {"/Z", ecIdentifyResponse},
        {"/X", ecUnknown}, {"[", ecUnknown}, {"x", ecUnknown},
    };
    for (const Case& c : cases) {
        TEscapeCodesVT52 p;
        const Fed f = Feed(p, E(c.seq));
        QCOMPARE(f.codes, 1);
        QCOMPARE(f.code, c.code);
    }
    TEscapeCodesVT52 p;
    QCOMPARE(p.FeedChar('\x1B'), frCollecting);
    QCOMPARE(p.FeedChar('/'), frCollecting);
    QCOMPARE(p.FeedChar('Z'), frCodeReady);

    // VT52 appends to the list; the terminal clears it between codes.
    TEscapeCodesVT52 a;
    for (char c : E("Y\x25\x30")) a.FeedChar(c);
    for (char c : E("Y\x20\x20")) a.FeedChar(c);
    QCOMPARE(a.ParamList, (TParamList{"6", "17", "1", "1"}));
}

void TestEscapeCodes::paramValue()
{
    const TParamList two{"12", "x"};
    QCOMPARE(TEscapeCodes::ParamValue(1, &two), 12);
    QCOMPARE(TEscapeCodes::ParamValue(2, &two), 1);
    QCOMPARE(TEscapeCodes::ParamValue(3, &two), 1);
    QCOMPARE(TEscapeCodes::ParamValue(0, &two), 1);
    QCOMPARE(TEscapeCodes::ParamValue(1, nullptr), 1);
    const TParamList zero{"0", ""};
    QCOMPARE(TEscapeCodes::ParamValue(1, &zero), 0);
    QCOMPARE(TEscapeCodes::ParamValue(2, &zero), 1);
}

void TestEscapeCodes::vt100Generator()
{
    TEscapeCodesVT100 p;
    const TParamList pos{"5", "12"};
    const TParamList two{"2"};
    CheckGenerated(p, {
        {ecCursorUp, nullptr, "[A"}, {ecCursorDown, nullptr, "[B"}, {ecCursorLeft, nullptr, "[D"},
        {ecCursorRight, nullptr, "[C"}, {ecCursorHome, &pos, "[H"}, {ecCursorMove, &pos, "[5;12f"},
        {ecCursorMove, nullptr, "[1;1f"}, {ecReverseLineFeed, nullptr, nullptr}, {ecAppCursorLeft, nullptr, "OD"},
        {ecAppCursorRight, nullptr, "OC"}, {ecAppCursorUp, nullptr, "OA"}, {ecAppCursorDown, nullptr, "OB"},
        {ecEraseLineToEnd, nullptr, "[K"}, {ecEraseScreenToEnd, nullptr, "[J"}, {ecEraseLine, nullptr, "[2K"},
        {ecEraseScreen, nullptr, "[2J"}, {ecSetTab, nullptr, "H"}, {ecClearTab, nullptr, "[g"},
        {ecClearAllTabs, nullptr, "[3g"}, {ecIdentify, nullptr, "[c"}, {ecIdentifyResponse, &two, "[?1;2c"},
        {ecQueryDevice, nullptr, "[5n"}, {ecReportDeviceOk, nullptr, "[0n"}, {ecReportDeviceFailure, nullptr, "[3n"},
        {ecQueryCursorPos, nullptr, "[6n"}, {ecReportCursorPos, &pos, "[5;12R"}, {ecAttributes, &pos, "[m"},
        {ecSetMode, &pos, "[h"}, {ecResetMode, &pos, "[l"}, {ecResetDevice, nullptr, "c"},
        {ecSaveCaretAndAttr, nullptr, "7"}, {ecRestoreCaretAndAttr, nullptr, "8"}, {ecSaveCaret, nullptr, "[s"},
        {ecRestoreCaret, nullptr, "[u"}, {ecScreenTest, nullptr, "#8"}, {ecUnknown, nullptr, nullptr},
        {ecNotCompleted, nullptr, nullptr}
    });

    // Every generated key or reply is recognised again as the same code.
    for (TEscapeCode c : {ecCursorUp, ecCursorDown, ecCursorLeft, ecCursorRight, ecCursorHome, ecCursorMove,
                          ecAppCursorLeft, ecAppCursorUp, ecEraseScreen, ecEraseLine, ecIdentify,
                          ecIdentifyResponse, ecQueryDevice, ecReportCursorPos, ecScreenTest, ecSaveCaret}) {
        TEscapeCodesVT100 r;
        const Fed f = Feed(r, p.SequenceFor(c, c == ecIdentifyResponse ? &two : &pos));
        QCOMPARE(f.code, c);
    }
}

void TestEscapeCodes::vt52Generator()
{
    TEscapeCodesVT52 p;
    const TParamList pos{"6", "17"};
    CheckGenerated(p, {
        {ecCursorUp, nullptr, "A"}, {ecCursorDown, nullptr, "B"}, {ecCursorLeft, nullptr, "D"},
        {ecCursorRight, nullptr, "C"}, {ecCursorHome, nullptr, "H"}, {ecCursorMove, &pos, "Y\x25\x30"},
        {ecReverseLineFeed, nullptr, "I"}, {ecEraseLineToEnd, nullptr, "K"}, {ecEraseScreenToEnd, nullptr, "J"},
        {ecIdentify, nullptr, "Z"}, {ecIdentifyResponse, &pos, "/Z"}
    });
    // No VT52 form: the terminal sends nothing for these.
    for (TEscapeCode c : {ecAppCursorUp, ecEraseLine, ecEraseScreen, ecSetTab, ecClearTab, ecClearAllTabs,
                          ecQueryDevice, ecReportDeviceOk, ecReportCursorPos, ecQueryCursorPos, ecAttributes,
                          ecSetMode, ecResetDevice, ecSaveCaret, ecScreenTest, ecUnknown})
        QCOMPARE(p.SequenceFor(c, &pos), std::string());
}

QTEST_APPLESS_MAIN(TestEscapeCodes)
#include "test_escape_codes.moc"
