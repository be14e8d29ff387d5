#include "terminal/com_term_buffer.h"

#include <algorithm>

void TComTermBuffer::AllocateBuffer(int columns, int rows)
{
    columns_ = std::max(columns, 1);
    rows_ = std::max(rows, 1);
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

void TComTermBuffer::ScrollBufferUp()
{
    if (cells_.empty()) return;
    if (OnTopRowLeaving) OnTopRowLeaving(cells_.data(), columns_);
    std::move(cells_.begin() + columns_, cells_.end(), cells_.begin());
    std::fill(cells_.end() - columns_, cells_.end(), TTermCell{});
}

void TComTermBuffer::ScrollBufferDown()
{
    if (cells_.empty()) return;
    std::move_backward(cells_.begin(), cells_.end() - columns_, cells_.end());
    std::fill(cells_.begin(), cells_.begin() + columns_, TTermCell{});
}

void TComTermBuffer::EraseLineFrom(int x, int y)
{
    if (y < 1 || y > rows_) return;
    x = std::clamp(x, 1, columns_ + 1);
    std::fill(cells_.begin() + Index(x, y), cells_.begin() + Index(1, y) + columns_, TTermCell{});
}

void TComTermBuffer::EraseScreenFrom(int x, int y)
{
    if (y < 1 || y > rows_) return;
    x = std::clamp(x, 1, columns_ + 1);
    std::fill(cells_.begin() + Index(x, y), cells_.end(), TTermCell{});
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
