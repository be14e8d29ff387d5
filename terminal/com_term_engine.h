#pragma once
// The terminal without its window: screen buffer, caret, attributes and
// modes, the handling of received text and escape codes, and the bytes the
// terminal sends (typed characters, cursor keys, status replies). The view
// (com_terminal.h) paints what it marks dirty and moves the caret it keeps.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "terminal/com_term_buffer.h"
#include "terminal/escape_codes.h"

enum TTermEmulation { teVT100orANSI, teVT52, teNone };
enum TArrowKeys { akTerminal, akWindows };
// The keys the terminal turns into cursor codes.
enum TTermKey { tkHome, tkLeft, tkUp, tkRight, tkDown };

struct TTermPoint {
    int X = 1;
    int Y = 1;
    bool operator==(const TTermPoint&) const = default;
};

struct TTermAttr {
    uint32_t FrontColor = 0xFFFFFF;
    uint32_t BackColor = 0x000000;
    bool Inverse = false;
    bool Bold = false;
    bool Underline = false;
    bool operator==(const TTermAttr&) const = default;
};

// Buffer cells changed since the view last asked: a bounding box (1-based),
// in the screen's present rows. ScrolledUp: lines the whole screen moved up
// meanwhile; every row outside the box holds what the row ScrolledUp below it
// held when the view last asked (so a view can move its picture instead of
// drawing every row again).
struct TTermDirty {
    bool Any = false;
    int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
    int ScrolledUp = 0;
};

class TComTermEngine {
public:
    static constexpr int MinColumns = 2, MaxColumns = 256;
    static constexpr int MinRows = 2, MaxRows = 100;

    TComTermEngine();
    ~TComTermEngine();

    // --- screen size; each change reallocates and clears the buffer ---
    int Columns() const { return columns_; }
    int Rows() const { return rows_; }
    void SetColumns(int v);
    void SetRows(int v);

    TTermEmulation Emulation() const { return emulation_; }
    void SetEmulation(TTermEmulation v);
    // Re-creates the parser for the current emulation (asks OnParserWanted for teNone).
    void CreateParser();
    TEscapeCodes* Parser() const { return parser_.get(); }

    // --- colours (0xRRGGBB) ---
    uint32_t FontColor() const { return fontColor_; }
    void SetFontColor(uint32_t v);
    uint32_t Color() const { return color_; }
    void SetColor(uint32_t v);
    uint32_t AltColor() const { return altColor_; }
    void SetAltColor(uint32_t v) { altColor_ = v; }

    // --- options ---
    bool WrapLines = false;
    bool AppendLF = false;
    bool Force7Bit = false;  // strips the eighth bit of received bytes
    bool LocalEcho = false;
    bool SendLF = false;
    TArrowKeys ArrowKeys = akTerminal;

    // --- state ---
    TTermPoint CaretCell() const { return caret_; }
    TTermPoint StoredCaret() const { return storedCaret_; }
    const TTermAttr& CurrentAttr() const { return currentAttr_; }
    bool AppCursorMode() const { return appCursorMode_; }
    const TComTermBuffer& Buffer() const { return buffer_; }
    // The buffer's hook for rows leaving the top of the screen (scrollback).
    std::function<void(const TTermCell*, int)>& OnRowScrolledOff() { return buffer_.OnTopRowLeaving; }

    // --- receiving ---
    void ReceivedData(const char* data, int count);
    void ShowText(const std::string& text);
    void ShowChar(uint8_t c);
    // False when the code is not performed.
    bool ApplyCode(TEscapeCode code, const TParamList* params);
    // Clamps to the screen; wide arithmetic so huge parameters cannot overflow.
    void MoveCaret(long long x, long long y);

    // --- sending ---
    void SendTypedChar(char c);
    void SendKeyCode(TEscapeCode code, const TParamList* params);
    void SendReply(TEscapeCode code, const TParamList* params);
    // Cursor keys; true when the key was one of them and was dealt with.
    bool KeyDown(TTermKey key);

    // --- what the view and the owner plug in (each optional) ---
    std::function<bool()> CanSend;                      // a port is assigned and open
    std::function<void(const std::string&)> Write;       // bytes to the port
    std::function<void(uint8_t)> OnChar;                 // after each ShowChar
    std::function<void(std::string&)> OnStrReceived;     // may replace a received block
    std::function<void(TEscapeCode, const std::string&)> OnUnhandledCode;
    std::function<void(std::unique_ptr<TEscapeCodes>&)> OnParserWanted;
    std::function<void()> OnBufferAllocated;             // Columns or Rows changed

    // Changed cells since the last call, then forgets them.
    TTermDirty TakeDirty();
    const TTermDirty& Dirty() const { return dirty_; }

private:
    // Which parser is in use, for the fast paths: they stand in for the
    // parser only where it is one of ours and idle.
    enum TParserKind { pkNone, pkVT100, pkVT52, pkOther };

    void AllocateBuffer();
    // ShowText on bytes in place.
    void ShowBytes(const char* data, std::size_t count);
    // One byte through the parser, and what it yields.
    void FeedParser(TEscapeCodes* parser, char c);
    // The printable characters (0x20..0xFF) at the start of s when no one
    // watches each character; returns how many there were (at least one).
    std::size_t PutRun(const uint8_t* s, std::size_t count);
    // A whole control sequence of the common kinds (cursor moves, attributes,
    // erasing) at data[0] == ESC, done without the parser; returns the bytes
    // taken, or 0 when the parser must deal with them.
    std::size_t TryControlSequence(const char* data, std::size_t count);
    // A character with the current attributes.
    void FillCell(TTermCell& cell, uint8_t c) const;
    void Advance();
    void SetAttribute(int value);
    // ApplyCode for the codes that take at most two numbers.
    bool ApplyNumbers(TEscapeCode code, long long p1, long long p2);
    void LineFeed();
    void ReverseLineFeed();
    void SetAttributes(const TParamList* params);
    void ResetAttributes();
    void SetMode(const TParamList* params, bool on);
    void MarkDirty(int x1, int y1, int x2, int y2);
    void MarkAll() { MarkDirty(1, 1, columns_, rows_); }
    // The screen moved up one line: the changed rows move with it, the new
    // bottom row is changed.
    void MarkScrolledUp();
    bool PortReady() const { return CanSend && CanSend(); }

    int columns_ = 80;
    int rows_ = 24;
    TTermEmulation emulation_ = teVT100orANSI;
    std::unique_ptr<TEscapeCodes> parser_;
    TParserKind parserKind_ = pkNone;
    TComTermBuffer buffer_;
    uint32_t fontColor_ = 0xFFFFFF;
    uint32_t color_ = 0x000000;
    uint32_t altColor_ = 0xA6A6A6;
    TTermPoint caret_;
    TTermPoint storedCaret_{0, 0};
    TTermAttr currentAttr_;
    TTermAttr storedAttr_;
    bool appCursorMode_ = false;
    TTermDirty dirty_;
};
