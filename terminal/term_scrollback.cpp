#include "terminal/term_scrollback.h"

#include <algorithm>

TTermScrollback::TTermScrollback(int capacity) : capacity_(std::max(capacity, 1)) {}

void TTermScrollback::Push(const TTermCell* row, int columns)
{
    columns = std::max(columns, 0);
    if (count_ < capacity_) {
        lines_.emplace_back(row, row + columns);
        ++count_;
    } else {
        // The slot of the oldest line is reused, and with it its memory.
        lines_[static_cast<std::size_t>(head_)].assign(row, row + columns);
        head_ = (head_ + 1) % capacity_;
    }
    ++total_;
}

void TTermScrollback::Clear()
{
    lines_.clear();
    count_ = 0;
    head_ = 0;
}

const std::vector<TTermCell>& TTermScrollback::Line(int i) const
{
    return lines_[static_cast<std::size_t>((head_ + i) % capacity_)];
}

const std::vector<TTermCell>* TTermScrollback::ByNumber(int64_t n) const
{
    const int64_t i = n - (total_ - count_);
    if (i < 0 || i >= count_) return nullptr;
    return &Line(static_cast<int>(i));
}
