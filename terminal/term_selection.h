#pragma once
// A text selection over the scrollback and the screen, in lasting line
// numbers (see TTermScrollback) and 1-based columns, and the text it holds.
#include <cstdint>
#include <functional>
#include <string>

#include "terminal/com_term_buffer.h"

struct TTermTextPos {
    int64_t Line = 0;
    int Column = 1;
    bool operator==(const TTermTextPos&) const = default;
    bool operator<(const TTermTextPos& o) const { return Line != o.Line ? Line < o.Line : Column < o.Column; }
};

// The cells of line n and their count; nullptr when there is no such line.
using TTermLineSource = std::function<const TTermCell*(int64_t line, int* count)>;

class TTermSelection {
public:
    void Start(TTermTextPos p);
    void Extend(TTermTextPos p);
    void Clear() { active_ = false; }
    // Nothing selected: none started, or no cell between anchor and end.
    bool Empty() const { return !active_ || anchor_ == end_; }
    TTermTextPos Begin() const { return end_ < anchor_ ? end_ : anchor_; }
    // One past the last selected cell.
    TTermTextPos End() const { return end_ < anchor_ ? anchor_ : end_; }
    bool Contains(int64_t line, int column) const;

    // The selected characters (8-bit codes): empty cells read as spaces,
    // blanks at the end of each line dropped, lines joined by '\n'.
    std::string Text(const TTermLineSource& source) const;

private:
    bool active_ = false;
    TTermTextPos anchor_;
    TTermTextPos end_;
};

// Lines first..last (inclusive) whole, as Text does; trailing empty lines
// are dropped.
std::string TermLinesText(const TTermLineSource& source, int64_t first, int64_t last);
