#include "terminal/escape_codes.h"

#include <climits>

namespace {

constexpr char ESC = '\x1B';

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string Esc(const char* tail) { return std::string(1, ESC) + tail; }

}  // namespace

// ---------------------------------------------------------------- base

FeedResult TEscapeCodes::FeedChar(char c)
{
    if (!InEscape) {
        if (c == ESC) {
            SeqText.clear();
            InEscape = true;
            return frCollecting;
        }
        LastChar = c;
        return frPlain;
    }
    SeqText.push_back(c);
    TEscapeCode code = Classify();
    if (code == ecNotCompleted) {
        if (SeqText.size() < MaxSequenceLength) return frCollecting;
        code = ecUnknown;
        ParamList.clear();
    }
    LastCode = code;
    EndSequence();
    return frCodeReady;
}

int TEscapeCodes::ParamValue(int n, const TParamList* params)
{
    if (!params || n < 1 || static_cast<std::size_t>(n) > params->size()) return 1;
    const std::string& s = (*params)[n - 1];
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    if (i == s.size()) return 1;
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return 1;
        v = v * 10 + (s[i] - '0');
        // Beyond 32 bits it is no integer; stop before the sum can overflow.
        if (v > static_cast<long long>(INT_MAX) + 1) return 1;
    }
    if (negative) v = -v;
    if (v > INT_MAX || v < INT_MIN) return 1;
    return static_cast<int>(v);
}

// ---------------------------------------------------------------- VT100

TParamList TEscapeCodesVT100::SplitParams(const std::string& text)
{
    TParamList list;
    std::string current;
    for (char c : text) {
        if (c == ';' && !current.empty()) {
            list.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) list.push_back(current);
    return list;
}

void TEscapeCodesVT100::EndSequence()
{
    InEscape = false;
    InControlSequence = false;
}

TEscapeCode TEscapeCodesVT100::Classify()
{
    if (!InControlSequence && SeqText.size() == 1 && SeqText[0] == '[') {
        InControlSequence = true;
        return ecNotCompleted;
    }
    if (InControlSequence) return ClassifyControlSequence();

    if (SeqText == "#" || SeqText == "O") return ecNotCompleted;
    if (SeqText == "7") return ecSaveCaretAndAttr;
    if (SeqText == "8") return ecRestoreCaretAndAttr;
    if (SeqText == "H") return ecSetTab;
    if (SeqText == "c") return ecResetDevice;
    if (SeqText == "#8") return ecScreenTest;
    if (SeqText == "OA") return ecAppCursorUp;
    if (SeqText == "OB") return ecAppCursorDown;
    if (SeqText == "OC") return ecAppCursorRight;
    if (SeqText == "OD") return ecAppCursorLeft;
    return ecUnknown;
}

TEscapeCode TEscapeCodesVT100::ClassifyControlSequence()
{
    const char final = SeqText.back();
    if (!IsLetter(final)) return ecNotCompleted;

    TParamList list = SplitParams(SeqText.substr(1, SeqText.size() - 2));
    const char first = list.empty() || list[0].empty() ? '\0' : list[0][0];
    TEscapeCode code = ecUnknown;
    bool emptyList = false;
    switch (final) {
    case 'A': code = ecCursorUp; break;
    case 'B': code = ecCursorDown; break;
    case 'C': code = ecCursorRight; break;
    case 'D': code = ecCursorLeft; break;
    case 'H': code = ecCursorHome; break;
    case 'f': code = ecCursorMove; break;
    case 'R': code = ecReportCursorPos; break;
    case 'h': code = ecSetMode; break;
    case 'l': code = ecResetMode; break;
    case 'm': code = ecAttributes; break;
    case 's': code = ecSaveCaret; break;
    case 'u': code = ecRestoreCaret; break;
    case 'J':
        code = (first == '\0' || first == '0') ? ecEraseScreenToEnd : first == '2' ? ecEraseScreen : ecUnknown;
        emptyList = true;
        break;
    case 'K':
        code = (first == '\0' || first == '0') ? ecEraseLineToEnd : first == '2' ? ecEraseLine : ecUnknown;
        emptyList = true;
        break;
    case 'g':
        code = (first == '\0' || first == '0') ? ecClearTab : first == '3' ? ecClearAllTabs : ecUnknown;
        emptyList = true;
        break;
    case 'n':
        switch (first) {
        case '0': code = ecReportDeviceOk; break;
        case '3': code = ecReportDeviceFailure; break;
        case '5': code = ecQueryDevice; break;
        case '6': code = ecQueryCursorPos; break;
        default: code = ecUnknown; break;
        }
        emptyList = true;
        break;
    case 'c':
        if (list.empty() || (list.size() == 1 && list[0] == "0"))
            code = ecIdentify;
        else if (list.size() == 2 && list[0] == "?1")
            code = ecIdentifyResponse;
        else
            code = ecUnknown;
        break;
    default: code = ecUnknown; break;
    }
    if (emptyList) list.clear();
    ParamList = std::move(list);
    return code;
}

std::string TEscapeCodesVT100::SequenceFor(TEscapeCode code, const TParamList* params) const
{
    const int p1 = ParamValue(1, params);
    const int p2 = ParamValue(2, params);
    switch (code) {
    case ecCursorUp: return Esc("[A");
    case ecCursorDown: return Esc("[B");
    case ecCursorLeft: return Esc("[D");
    case ecCursorRight: return Esc("[C");
    case ecCursorHome: return Esc("[H");
    case ecCursorMove: return Esc("[") + std::to_string(p1) + ";" + std::to_string(p2) + "f";
    case ecAppCursorLeft: return Esc("OD");
    case ecAppCursorRight: return Esc("OC");
    case ecAppCursorUp: return Esc("OA");
    case ecAppCursorDown: return Esc("OB");
    case ecEraseLineToEnd: return Esc("[K");
    case ecEraseScreenToEnd: return Esc("[J");
    case ecEraseLine: return Esc("[2K");
    case ecEraseScreen: return Esc("[2J");
    case ecSetTab: return Esc("H");
    case ecClearTab: return Esc("[g");
    case ecClearAllTabs: return Esc("[3g");
    case ecIdentify: return Esc("[c");
    case ecIdentifyResponse: return Esc("[?1;") + std::to_string(p1) + "c";
    case ecQueryDevice: return Esc("[5n");
    case ecReportDeviceOk: return Esc("[0n");
    case ecReportDeviceFailure: return Esc("[3n");
    case ecQueryCursorPos: return Esc("[6n");
    case ecReportCursorPos: return Esc("[") + std::to_string(p1) + ";" + std::to_string(p2) + "R";
    case ecAttributes: return Esc("[m");
    case ecSetMode: return Esc("[h");
    case ecResetMode: return Esc("[l");
    case ecResetDevice: return Esc("c");
    case ecSaveCaretAndAttr: return Esc("7");
    case ecRestoreCaretAndAttr: return Esc("8");
    case ecSaveCaret: return Esc("[s");
    case ecRestoreCaret: return Esc("[u");
    case ecScreenTest: return Esc("#8");
    case ecReverseLineFeed:
    case ecUnknown:
    case ecNotCompleted: return {};
    }
    return {};
}

// ---------------------------------------------------------------- VT52

TEscapeCode TEscapeCodesVT52::Classify()
{
    switch (SeqText[0]) {
    case 'A': return ecCursorUp;
    case 'B': return ecCursorDown;
    case 'C': return ecCursorRight;
    case 'D': return ecCursorLeft;
    case 'H': return ecCursorHome;
    case 'I': return ecReverseLineFeed;
    case 'J': return ecEraseScreenToEnd;
    case 'K': return ecEraseLineToEnd;
    case 'Z': return ecIdentify;
    case 'Y':
        if (SeqText.size() < 3) return ecNotCompleted;
        ParamList.push_back(std::to_string(static_cast<unsigned char>(SeqText[1]) - 31));
        ParamList.push_back(std::to_string(static_cast<unsigned char>(SeqText[2]) - 31));
        return ecCursorMove;
    case '/':
        if (SeqText.size() < 2) return ecNotCompleted;
        return SeqText == "/Z" ? ecIdentifyResponse : ecUnknown;
    default: return ecUnknown;
    }
}

std::string TEscapeCodesVT52::SequenceFor(TEscapeCode code, const TParamList* params) const
{
    switch (code) {
    case ecCursorUp: return Esc("A");
    case ecCursorDown: return Esc("B");
    case ecCursorLeft: return Esc("D");
    case ecCursorRight: return Esc("C");
    case ecCursorHome: return Esc("H");
    case ecCursorMove: {
        // Character codes wrap to a byte, as a byte-sized write would.
        const long long row = static_cast<long long>(ParamValue(1, params)) + 31;
        const long long col = static_cast<long long>(ParamValue(2, params)) + 31;
        std::string s = Esc("Y");
        s.push_back(static_cast<char>(static_cast<unsigned char>(row & 0xFF)));
        s.push_back(static_cast<char>(static_cast<unsigned char>(col & 0xFF)));
        return s;
    }
    case ecReverseLineFeed: return Esc("I");
    case ecEraseLineToEnd: return Esc("K");
    case ecEraseScreenToEnd: return Esc("J");
    case ecIdentify: return Esc("Z");
    case ecIdentifyResponse: return Esc("/Z");
    default: return {};
    }
}
