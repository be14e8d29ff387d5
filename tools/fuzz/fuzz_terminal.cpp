// Received bytes through both parsers and the screen buffer behind them.
// The engine takes whole runs of text and whole control sequences at once
// where it can; a second engine fed one byte at a time, with each character
// watched, must end with the same screen, caret, attributes, parser state
// and replies.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "terminal/com_term_engine.h"

namespace {

void SetUp(TComTermEngine& engine, uint8_t flags, std::string& sent)
{
    engine.SetEmulation(flags & 1 ? teVT52 : teVT100orANSI);
    engine.WrapLines = flags & 2;
    engine.AppendLF = flags & 4;
    engine.Force7Bit = flags & 8;
    engine.SetRows(2 + (flags >> 4) * 6);
    engine.CanSend = [] { return true; };
    engine.Write = [&sent](const std::string& s) { sent += s; };
}

bool SameCells(const TComTermBuffer& a, const TComTermBuffer& b)
{
    if (a.Columns() != b.Columns() || a.Rows() != b.Rows()) return false;
    for (int y = 1; y <= a.Rows(); ++y)
        for (int x = 1; x <= a.Columns(); ++x) {
            const TTermCell p = a.LoadCell(x, y), q = b.LoadCell(x, y);
            if (p.Ch != q.Ch || p.FrontColor != q.FrontColor || p.BackColor != q.BackColor ||
                p.Underline != q.Underline)
                return false;
        }
    return true;
}

bool SameParser(const TEscapeCodes* a, const TEscapeCodes* b)
{
    if (!a || !b) return a == b;
    return a->LastChar == b->LastChar && a->LastCode == b->LastCode && a->SeqText == b->SeqText &&
           a->InEscape == b->InEscape && a->ParamList == b->ParamList;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    std::string sent, sentRef;
    TComTermEngine engine;
    SetUp(engine, data[0], sent);
    // Feed in a few uneven blocks, so sequences are split across receives.
    size_t pos = 1;
    size_t block = 1;
    while (pos < size) {
        const size_t n = std::min(block, size - pos);
        engine.ReceivedData(reinterpret_cast<const char*>(data + pos), static_cast<int>(n));
        pos += n;
        block = block * 3 % 97 + 1;
    }

    TComTermEngine ref;
    SetUp(ref, data[0], sentRef);
    ref.OnChar = [](uint8_t) {};
    for (pos = 1; pos < size; ++pos) ref.ReceivedData(reinterpret_cast<const char*>(data + pos), 1);
    if (!SameCells(engine.Buffer(), ref.Buffer()) || !(engine.CaretCell() == ref.CaretCell()) ||
        !(engine.StoredCaret() == ref.StoredCaret()) || !(engine.CurrentAttr() == ref.CurrentAttr()) ||
        engine.AppCursorMode() != ref.AppCursorMode() || engine.WrapLines != ref.WrapLines ||
        !SameParser(engine.Parser(), ref.Parser()) || sent != sentRef)
        std::abort();
    return 0;
}
