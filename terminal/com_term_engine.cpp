#include "terminal/com_term_engine.h"

#include <algorithm>

TComTermEngine::TComTermEngine()
{
    currentAttr_.FrontColor = fontColor_;
    currentAttr_.BackColor = color_;
    storedAttr_ = currentAttr_;
    CreateParser();
    AllocateBuffer();
}

TComTermEngine::~TComTermEngine() = default;

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
    std::string text;
    text.reserve(static_cast<std::size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        text.push_back(data[i]);
        if (AppendLF && data[i] == '\r') text.push_back('\n');
    }
    if (Force7Bit)
        for (char& c : text) c = static_cast<char>(c & 0x7F);
    if (OnStrReceived) OnStrReceived(text);
    ShowText(text);
}

void TComTermEngine::ShowText(const std::string& text)
{
    for (char c : text) {
        // A handler may swap the parser, so look it up for every byte.
        TEscapeCodes* parser = parser_.get();
        if (!parser) {
            ShowChar(static_cast<uint8_t>(c));
            continue;
        }
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
            TTermCell cell;
            cell.Ch = c;
            cell.FrontColor = currentAttr_.Bold ? altColor_ : currentAttr_.Inverse ? color_ : fontColor_;
            cell.BackColor = currentAttr_.Inverse ? fontColor_ : color_;
            cell.Underline = currentAttr_.Underline ? 1 : 0;
            buffer_.StoreCell(caret_.X, caret_.Y, cell);
            MarkDirty(caret_.X, caret_.Y, caret_.X, caret_.Y);
            if (caret_.X < columns_) {
                MoveCaret(caret_.X + 1, caret_.Y);
            } else if (WrapLines) {
                if (caret_.Y < rows_) {
                    MoveCaret(1, caret_.Y + 1);
                } else {
                    buffer_.ScrollBufferUp();
                    MarkAll();
                    MoveCaret(1, rows_);
                }
            }
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
        MarkAll();
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
    const long long n = TEscapeCodes::ParamValue(1, params);
    const long long p1 = n;
    const long long p2 = TEscapeCodes::ParamValue(2, params);
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
    case ecAttributes: SetAttributes(params); return true;
    case ecSetMode: SetMode(params, true); return true;
    case ecResetMode: SetMode(params, false); return true;
    case ecResetDevice: {
        const TParamList reset{"0"};
        SetAttributes(&reset);
        return true;
    }
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
    for (std::size_t i = 1; i <= params->size(); ++i) {
        switch (TEscapeCodes::ParamValue(static_cast<int>(i), params)) {
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

void TComTermEngine::MarkDirty(int x1, int y1, int x2, int y2)
{
    if (!dirty_.Any) {
        dirty_ = {true, x1, y1, x2, y2};
        return;
    }
    dirty_.X1 = std::min(dirty_.X1, x1);
    dirty_.Y1 = std::min(dirty_.Y1, y1);
    dirty_.X2 = std::max(dirty_.X2, x2);
    dirty_.Y2 = std::max(dirty_.Y2, y2);
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
