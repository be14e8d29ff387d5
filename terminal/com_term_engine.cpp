#include "terminal/com_term_engine.h"

#include <algorithm>
#include <typeinfo>

TComTermEngine::TComTermEngine()
{
    currentAttr_.FrontColor = fontColor_;
    currentAttr_.BackColor = color_;
    storedAttr_ = currentAttr_;
    CreateParser();
    AllocateBuffer();
}

TComTermEngine::~TComTermEngine() = default;

// ---------------------------------------------------------------- per character
// Small steps of every character, defined first so that they inline.

inline void TComTermEngine::MarkDirty(int x1, int y1, int x2, int y2)
{
    if (dirty_.Any && x1 >= dirty_.X1 && y1 >= dirty_.Y1 && x2 <= dirty_.X2 && y2 <= dirty_.Y2) return;
    if (!dirty_.Any) {
        dirty_.Any = true;
        dirty_.X1 = x1;
        dirty_.Y1 = y1;
        dirty_.X2 = x2;
        dirty_.Y2 = y2;
        return;
    }
    dirty_.X1 = std::min(dirty_.X1, x1);
    dirty_.Y1 = std::min(dirty_.Y1, y1);
    dirty_.X2 = std::max(dirty_.X2, x2);
    dirty_.Y2 = std::max(dirty_.Y2, y2);
}

inline void TComTermEngine::MarkScrolledUp()
{
    ++dirty_.ScrolledUp;
    if (dirty_.Any) {
        // A changed top row left the screen: nothing of it is left to draw.
        if (dirty_.Y2 <= 1) {
            dirty_.Any = false;
        } else {
            dirty_.Y1 = std::max(1, dirty_.Y1 - 1);
            --dirty_.Y2;
        }
    }
    MarkDirty(1, rows_, columns_, rows_);
}

// Field by field into the cell: a whole-cell copy from a local that was
// just written goes through memory in a way that stalls the store.
inline void TComTermEngine::FillCell(TTermCell& cell, uint8_t c) const
{
    cell.Ch = c;
    cell.FrontColor = currentAttr_.Bold ? altColor_ : currentAttr_.Inverse ? color_ : fontColor_;
    cell.BackColor = currentAttr_.Inverse ? fontColor_ : color_;
    cell.Underline = currentAttr_.Underline ? 1 : 0;
}

// After a printable character.
inline void TComTermEngine::Advance()
{
    if (caret_.X < columns_) {
        ++caret_.X;
    } else if (WrapLines) {
        if (caret_.Y < rows_) {
            caret_ = {1, caret_.Y + 1};
        } else {
            buffer_.ScrollBufferUp();
            MarkScrolledUp();
            caret_ = {1, rows_};
        }
    }
}

// ---------------------------------------------------------------- settings

void TComTermEngine::SetColumns(int v)
{
    v = std::clamp(v, MinColumns, MaxColumns);
    if (v == columns_) return;
    columns_ = v;
    AllocateBuffer();
}

void TComTermEngine::SetRows(int v)
{
    v = std::clamp(v, MinRows, MaxRows);
    if (v == rows_) return;
    rows_ = v;
    AllocateBuffer();
}

void TComTermEngine::AllocateBuffer()
{
    buffer_.AllocateBuffer(columns_, rows_);
    // The caret must stay on the (possibly smaller) screen.
    MoveCaret(caret_.X, caret_.Y);
    MarkAll();
    if (OnBufferAllocated) OnBufferAllocated();
}

void TComTermEngine::SetEmulation(TTermEmulation v)
{
    if (v == emulation_) return;
    emulation_ = v;
    CreateParser();
}

void TComTermEngine::CreateParser()
{
    parser_.reset();
    switch (emulation_) {
    case teVT100orANSI: parser_ = std::make_unique<TEscapeCodesVT100>(); break;
    case teVT52: parser_ = std::make_unique<TEscapeCodesVT52>(); break;
    case teNone:
        if (OnParserWanted) OnParserWanted(parser_);
        break;
    }
    // Only our own parsers (not one derived from them) have the fast paths.
    if (!parser_)
        parserKind_ = pkNone;
    else if (typeid(*parser_) == typeid(TEscapeCodesVT100))
        parserKind_ = pkVT100;
    else if (typeid(*parser_) == typeid(TEscapeCodesVT52))
        parserKind_ = pkVT52;
    else
        parserKind_ = pkOther;
}

void TComTermEngine::SetFontColor(uint32_t v)
{
    fontColor_ = v;
    currentAttr_.FrontColor = v;
}

void TComTermEngine::SetColor(uint32_t v)
{
    color_ = v;
    currentAttr_.BackColor = v;
}

// ---------------------------------------------------------------- receiving

void TComTermEngine::ReceivedData(const char* data, int count)
{
    const std::size_t n = static_cast<std::size_t>(std::max(count, 0));
    // Nothing to change and no one to show the text to: no copy.
    if (!AppendLF && !Force7Bit && !OnStrReceived) {
        ShowBytes(data, n);
        return;
    }
    std::string text;
    if (AppendLF) {
        text.reserve(n + n / 8);
        for (std::size_t i = 0; i < n; ++i) {
            text.push_back(data[i]);
            if (data[i] == '\r') text.push_back('\n');
        }
    } else {
        text.assign(data, n);
    }
    if (Force7Bit)
        for (char& c : text) c = static_cast<char>(c & 0x7F);
    if (OnStrReceived) OnStrReceived(text);
    ShowText(text);
}

void TComTermEngine::ShowText(const std::string& text) { ShowBytes(text.data(), text.size()); }

// Each byte gives the same cells, caret, attributes, parser state and
// notifications as going through the parser and ShowChar one by one; the
// fast paths only skip the work in between. A handler may swap the parser,
// so it is looked up again after anything that can call one.
void TComTermEngine::ShowBytes(const char* data, std::size_t count)
{
    std::size_t i = 0;
    while (i < count) {
        TEscapeCodes* parser = parser_.get();
        const auto c = static_cast<uint8_t>(data[i]);
        if (parser && (parserKind_ == pkOther || parser->InEscape)) {
            FeedParser(parser, data[i++]);
            continue;
        }
        // An idle parser hands every byte but ESC on as a plain character.
        if (c >= 0x20 && !OnChar) {
            const std::size_t taken = PutRun(reinterpret_cast<const uint8_t*>(data + i), count - i);
            i += taken;
            if (parser) parser->LastChar = data[i - 1];
            continue;
        }
        if (c == 0x1B && parser) {
            if (parserKind_ == pkVT100) {
                const std::size_t taken = TryControlSequence(data + i, count - i);
                if (taken > 0) {
                    i += taken;
                    continue;
                }
            }
            FeedParser(parser, data[i++]);
            continue;
        }
        if (parser) parser->LastChar = data[i];
        ShowChar(c);
        ++i;
    }
}

void TComTermEngine::FeedParser(TEscapeCodes* parser, char c)
{
    switch (parser->FeedChar(c)) {
    case frPlain: ShowChar(static_cast<uint8_t>(parser->LastChar)); break;
    case frCodeReady: {
        const TEscapeCode code = parser->LastCode;
        if (!ApplyCode(code, &parser->ParamList) && OnUnhandledCode) {
            const std::string seq = parser->SeqText;
            OnUnhandledCode(code, seq);
        }
        if (parser_) parser_->ParamList.clear();
        break;
    }
    case frCollecting: break;
    }
}

std::size_t TComTermEngine::TryControlSequence(const char* data, std::size_t count)
{
    // ESC [ then decimal numbers of up to nine digits separated by single
    // semicolons, then the final letter: the parser would give each number
    // as one parameter of exactly that value. Anything else (other
    // characters, longer numbers, a sequence cut off by the end of the
    // block) goes through the parser.
    constexpr std::size_t kLongest = 64;  // well below MaxSequenceLength
    constexpr int kMaxParams = 16;
    auto* parser = static_cast<TEscapeCodesVT100*>(parser_.get());
    if (count < 3 || data[1] != '[' || parser->InControlSequence) return 0;
    const std::size_t end = std::min(count, kLongest);
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    int params[kMaxParams];
    int np = 0;
    std::size_t i = 2;
    if (digit(data[i])) {
        for (;;) {
            int v = 0;
            int digits = 0;
            while (i < end && digit(data[i])) {
                if (++digits > 9) return 0;
                v = v * 10 + (data[i] - '0');
                ++i;
            }
            if (np == kMaxParams) return 0;
            params[np++] = v;
            if (i < end && data[i] == ';') {
                ++i;
                if (i < end && digit(data[i])) continue;
                return 0;
            }
            break;
        }
    }
    if (i >= end) return 0;
    const long long p1 = np >= 1 ? params[0] : 1;
    const long long p2 = np >= 2 ? params[1] : 1;
    const char first = np >= 1 ? data[2] : '\0';
    TEscapeCode code;
    switch (data[i]) {
    case 'A': code = ecCursorUp; break;
    case 'B': code = ecCursorDown; break;
    case 'C': code = ecCursorRight; break;
    case 'D': code = ecCursorLeft; break;
    case 'H': code = ecCursorHome; break;
    case 'f': code = ecCursorMove; break;
    case 'm': code = ecAttributes; break;
    case 'K':
        if (first == '\0' || first == '0')
            code = ecEraseLineToEnd;
        else if (first == '2')
            code = ecEraseLine;
        else
            return 0;
        break;
    case 'J':
        if (first == '\0' || first == '0')
            code = ecEraseScreenToEnd;
        else if (first == '2')
            code = ecEraseScreen;
        else
            return 0;
        break;
    default: return 0;
    }
    // The parser's state as after the same sequence.
    parser->LastCode = code;
    parser->SeqText.assign(data + 1, i);
    parser->ParamList.clear();
    if (code == ecAttributes) {
        if (np == 0) ResetAttributes();
        for (int k = 0; k < np; ++k) SetAttribute(params[k]);
    } else {
        ApplyNumbers(code, p1, p2);
    }
    return i + 1;
}

std::size_t TComTermEngine::PutRun(const uint8_t* s, std::size_t count)
{
    TTermCell cell;
    FillCell(cell, 0);
    const uint32_t front = cell.FrontColor, back = cell.BackColor;
    const uint8_t underline = cell.Underline;
    std::size_t done = 0;
    while (done < count) {
        const int x = caret_.X, y = caret_.Y;
        const auto room = static_cast<std::size_t>(columns_ - x + 1);
        const std::size_t limit = std::min(count - done, room);
        TTermCell* row = buffer_.MutableRow(y) + (x - 1);
        std::size_t k = 0;
        // Field by field, as in FillCell.
        for (; k < limit && s[done + k] >= 0x20; ++k) {
            TTermCell& c = row[k];
            c.Ch = s[done + k];
            c.FrontColor = front;
            c.BackColor = back;
            c.Underline = underline;
        }
        if (k == 0) break;
        MarkDirty(x, y, x + static_cast<int>(k) - 1, y);
        done += k;
        if (k < room) {
            caret_.X = x + static_cast<int>(k);
            if (k < limit) break;  // a control character
            continue;
        }
        caret_.X = columns_;  // the last character went to the last column
        if (WrapLines) {
            Advance();
        } else {
            // The caret stays in the last column, where each further
            // character of the run lands in turn: the last one stays.
            while (done < count && s[done] >= 0x20) ++done;
            FillCell(row[k - 1], s[done - 1]);
            break;
        }
    }
    return done;
}

void TComTermEngine::ShowChar(uint8_t c)
{
    switch (c) {
    case 0x08: MoveCaret(caret_.X - 1, caret_.Y); break;
    case 0x09: {
        const int next = buffer_.NextTabStop(caret_.X + 1);
        if (next > 0) MoveCaret(next, caret_.Y);
        break;
    }
    case 0x0A:
    case 0x0C: LineFeed(); break;
    case 0x0D: MoveCaret(1, caret_.Y); break;
    default:
        if (c >= 0x20) {
            FillCell(buffer_.MutableRow(caret_.Y)[caret_.X - 1], c);
            MarkDirty(caret_.X, caret_.Y, caret_.X, caret_.Y);
            Advance();
        }
        break;
    }
    if (OnChar) OnChar(c);
}

void TComTermEngine::LineFeed()
{
    if (caret_.Y < rows_) {
        MoveCaret(caret_.X, caret_.Y + 1);
    } else {
        buffer_.ScrollBufferUp();
        MarkScrolledUp();
    }
}

void TComTermEngine::ReverseLineFeed()
{
    if (caret_.Y > 1) {
        MoveCaret(caret_.X, caret_.Y - 1);
    } else {
        buffer_.ScrollBufferDown();
        MarkAll();
    }
}

void TComTermEngine::MoveCaret(long long x, long long y)
{
    caret_.X = static_cast<int>(std::clamp<long long>(x, 1, columns_));
    caret_.Y = static_cast<int>(std::clamp<long long>(y, 1, rows_));
}

bool TComTermEngine::ApplyCode(TEscapeCode code, const TParamList* params)
{
    switch (code) {
    case ecAttributes: SetAttributes(params); return true;
    case ecSetMode: SetMode(params, true); return true;
    case ecResetMode: SetMode(params, false); return true;
    default: return ApplyNumbers(code, TEscapeCodes::ParamValue(1, params), TEscapeCodes::ParamValue(2, params));
    }
}

bool TComTermEngine::ApplyNumbers(TEscapeCode code, long long p1, long long p2)
{
    const long long n = p1;
    const int x = caret_.X, y = caret_.Y;
    switch (code) {
    case ecCursorUp:
    case ecAppCursorUp: MoveCaret(x, y - n); return true;
    case ecCursorDown: MoveCaret(x, y + n); return true;
    case ecCursorLeft: MoveCaret(x - n, y); return true;
    case ecCursorRight: MoveCaret(x + n, y); return true;
    case ecCursorHome:
    case ecCursorMove: MoveCaret(p2, p1); return true;
    case ecReverseLineFeed: ReverseLineFeed(); return true;
    case ecEraseLineToEnd:
        buffer_.EraseLineFrom(x, y);
        MarkDirty(x, y, columns_, y);
        return true;
    case ecEraseScreenToEnd:
        buffer_.EraseScreenFrom(x, y);
        MarkDirty(y == rows_ ? x : 1, y, columns_, rows_);
        return true;
    case ecEraseLine:
        buffer_.EraseLineFrom(1, y);
        MarkDirty(1, y, columns_, y);
        MoveCaret(1, y);
        return true;
    case ecEraseScreen:
        buffer_.EraseScreenFrom(1, 1);
        MarkAll();
        MoveCaret(1, 1);
        return true;
    case ecSetTab: buffer_.SetTabStop(x, true); return true;
    case ecClearTab: buffer_.SetTabStop(x, false); return true;
    case ecClearAllTabs: buffer_.ClearTabStops(); return true;
    case ecIdentify: {
        const TParamList reply{"2"};
        SendReply(ecIdentifyResponse, &reply);
        return true;
    }
    case ecQueryDevice: SendReply(ecReportDeviceOk, nullptr); return true;
    case ecQueryCursorPos: {
        const TParamList reply{std::to_string(y), std::to_string(x)};
        SendReply(ecReportCursorPos, &reply);
        return true;
    }
    case ecAttributes:
    case ecSetMode:
    case ecResetMode: return false;  // they take the parameter list (ApplyCode)
    case ecResetDevice: ResetAttributes(); return true;  // as attributes "0"
    case ecSaveCaretAndAttr:
        storedCaret_ = caret_;
        storedAttr_ = currentAttr_;
        return true;
    case ecRestoreCaretAndAttr:
        MoveCaret(storedCaret_.X, storedCaret_.Y);
        currentAttr_ = storedAttr_;
        return true;
    case ecSaveCaret: storedCaret_ = caret_; return true;
    case ecRestoreCaret: MoveCaret(storedCaret_.X, storedCaret_.Y); return true;
    case ecScreenTest: {
        TTermCell e;
        e.Ch = 'E';
        e.FrontColor = fontColor_;
        e.BackColor = color_;
        for (int row = 1; row <= rows_; ++row)
            for (int col = 1; col <= columns_; ++col) buffer_.StoreCell(col, row, e);
        MarkAll();
        return true;
    }
    case ecUnknown:
    case ecNotCompleted:
    case ecAppCursorLeft:
    case ecAppCursorRight:
    case ecAppCursorDown:
    case ecIdentifyResponse:
    case ecReportDeviceOk:
    case ecReportDeviceFailure:
    case ecReportCursorPos: return false;
    }
    return false;
}

void TComTermEngine::ResetAttributes()
{
    currentAttr_.FrontColor = fontColor_;
    currentAttr_.BackColor = color_;
    currentAttr_.Bold = currentAttr_.Underline = currentAttr_.Inverse = false;
}

void TComTermEngine::SetAttributes(const TParamList* params)
{
    if (!params || params->empty()) {
        ResetAttributes();
        return;
    }
    for (std::size_t i = 1; i <= params->size(); ++i)
        SetAttribute(TEscapeCodes::ParamValue(static_cast<int>(i), params));
}

void TComTermEngine::SetAttribute(int value)
{
    switch (value) {
    case 0: ResetAttributes(); break;
    case 1: currentAttr_.Bold = true; break;
    case 4: currentAttr_.Underline = true; break;
    case 7: currentAttr_.Inverse = true; break;
    case 21: currentAttr_.Bold = false; break;
    case 24: currentAttr_.Underline = false; break;
    case 27: currentAttr_.Inverse = false; break;
    default: break;  // colours and the rest are not shown
    }
}

void TComTermEngine::SetMode(const TParamList* params, bool on)
{
    if (!params || params->empty()) return;
    const std::string& mode = params->front();
    if (mode == "?1")
        appCursorMode_ = on;
    else if (mode == "?7")
        WrapLines = on;
    else if (mode == "?3")
        SetColumns(on ? 132 : 80);
}

TTermDirty TComTermEngine::TakeDirty()
{
    TTermDirty d = dirty_;
    dirty_ = TTermDirty{};
    return d;
}

// ---------------------------------------------------------------- sending

void TComTermEngine::SendTypedChar(char c)
{
    if (!PortReady()) return;
    if (Write) Write(std::string(1, c));
    if (LocalEcho) ShowChar(static_cast<uint8_t>(c));
    if (c == '\r' && SendLF) SendTypedChar('\n');
}

void TComTermEngine::SendKeyCode(TEscapeCode code, const TParamList* params)
{
    if (!PortReady() || !parser_) return;
    const std::string seq = parser_->SequenceFor(code, params);
    if (!seq.empty() && Write) Write(seq);
    if (LocalEcho) ApplyCode(code, params);
}

void TComTermEngine::SendReply(TEscapeCode code, const TParamList* params)
{
    if (!PortReady() || !parser_) return;
    const std::string seq = parser_->SequenceFor(code, params);
    if (!seq.empty() && Write) Write(seq);
}

bool TComTermEngine::KeyDown(TTermKey key)
{
    if (appCursorMode_) {
        switch (key) {
        case tkUp: SendKeyCode(ecAppCursorUp, nullptr); return true;
        case tkDown: SendKeyCode(ecAppCursorDown, nullptr); return true;
        case tkLeft: SendKeyCode(ecAppCursorLeft, nullptr); return true;
        case tkRight: SendKeyCode(ecAppCursorRight, nullptr); return true;
        case tkHome: return true;
        }
        return false;
    }
    TEscapeCode code = ecUnknown;
    switch (key) {
    case tkHome: code = ecCursorHome; break;
    case tkLeft: code = ecCursorLeft; break;
    case tkUp: code = ecCursorUp; break;
    case tkRight: code = ecCursorRight; break;
    case tkDown: code = ecCursorDown; break;
    }
    if (ArrowKeys == akWindows)
        ApplyCode(code, nullptr);
    else
        SendKeyCode(code, nullptr);
    return true;
}
