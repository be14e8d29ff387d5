#include "terminal/com_term_buffer.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

void TComTermBuffer::AllocateBuffer(int columns, int rows)
{
    columns_ = std::max(columns, 1);
    rows_ = std::max(rows, 1);
    top_ = 0;
    cells_.assign(static_cast<std::size_t>(columns_) * rows_, TTermCell{});
    tabs_.assign(static_cast<std::size_t>(columns_), 0);
    for (int x = 1; x <= columns_; x += 8) tabs_[x - 1] = 1;
}

void TComTermBuffer::StoreCell(int x, int y, const TTermCell& cell)
{
    if (Inside(x, y)) cells_[Index(x, y)] = cell;
}

TTermCell TComTermBuffer::LoadCell(int x, int y) const
{
    return Inside(x, y) ? cells_[Index(x, y)] : TTermCell{};
}

// An empty cell is all zero bytes.
static_assert(std::is_trivially_copyable_v<TTermCell>);

void TComTermBuffer::ClearRow(int y) { std::memset(static_cast<void*>(MutableRow(y)), 0, sizeof(TTermCell) * columns_); }

void TComTermBuffer::ScrollBufferUp()
{
    if (cells_.empty()) return;
    top_ = top_ + 1 == rows_ ? 0 : top_ + 1;
    ClearRow(rows_);
}

void TComTermBuffer::ScrollBufferDown()
{
    if (cells_.empty()) return;
    top_ = top_ == 0 ? rows_ - 1 : top_ - 1;
    ClearRow(1);
}

void TComTermBuffer::EraseLineFrom(int x, int y)
{
    if (y < 1 || y > rows_) return;
    x = std::clamp(x, 1, columns_ + 1);
    std::memset(static_cast<void*>(MutableRow(y) + (x - 1)), 0, sizeof(TTermCell) * (columns_ - x + 1));
}

void TComTermBuffer::EraseScreenFrom(int x, int y)
{
    if (y < 1 || y > rows_) return;
    EraseLineFrom(x, y);
    for (int r = y + 1; r <= rows_; ++r) ClearRow(r);
}

void TComTermBuffer::SetTabStop(int x, bool on)
{
    if (x >= 1 && x <= columns_) tabs_[x - 1] = on ? 1 : 0;
}

bool TComTermBuffer::TabStopAt(int x) const { return x >= 1 && x <= columns_ && tabs_[x - 1]; }

int TComTermBuffer::NextTabStop(int x) const
{
    for (int c = std::max(x, 1); c <= columns_; ++c)
        if (tabs_[c - 1]) return c;
    return 0;
}

void TComTermBuffer::ClearTabStops() { std::fill(tabs_.begin(), tabs_.end(), 0); }
