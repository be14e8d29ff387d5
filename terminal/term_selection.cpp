#include "terminal/term_selection.h"

#include <algorithm>

namespace {

// Columns [from, to) of one line, blanks at the end dropped.
std::string LinePart(const TTermLineSource& source, int64_t line, int from, int to)
{
    int count = 0;
    const TTermCell* cells = source ? source(line, &count) : nullptr;
    std::string s;
    if (!cells) return s;
    to = std::min(to, count + 1);
    for (int c = std::max(from, 1); c < to; ++c) {
        const uint8_t ch = cells[c - 1].Ch;
        s.push_back(ch == 0 ? ' ' : static_cast<char>(ch));
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

}  // namespace

void TTermSelection::Start(TTermTextPos p)
{
    active_ = true;
    anchor_ = end_ = p;
}

void TTermSelection::Extend(TTermTextPos p)
{
    if (active_) end_ = p;
}

bool TTermSelection::Contains(int64_t line, int column) const
{
    if (Empty()) return false;
    const TTermTextPos p{line, column};
    return !(p < Begin()) && p < End();
}

std::string TTermSelection::Text(const TTermLineSource& source) const
{
    if (Empty()) return {};
    const TTermTextPos b = Begin(), e = End();
    std::string out;
    for (int64_t line = b.Line; line <= e.Line; ++line) {
        const int from = line == b.Line ? b.Column : 1;
        const int to = line == e.Line ? e.Column : INT32_MAX;
        if (line == e.Line && to <= 1 && line != b.Line) break;  // ends before this line's first cell
        out += LinePart(source, line, from, to);
        if (line != e.Line) out += '\n';
    }
    return out;
}

std::string TermLinesText(const TTermLineSource& source, int64_t first, int64_t last)
{
    std::string out;
    std::size_t keep = 0;  // length up to the last line with text
    for (int64_t line = first; line <= last; ++line) {
        out += LinePart(source, line, 1, INT32_MAX);
        if (!out.empty() && out.back() != '\n') keep = out.size();
        out += '\n';
    }
    out.resize(keep);
    if (keep > 0) out += '\n';
    return out;
}
