#pragma once
// Lines that scrolled off the top of the terminal's screen, oldest first,
// at most Capacity of them (the oldest go first). Lines are numbered for
// good: line n keeps its number while newer ones arrive, so a selection
// made on it stays on it.
#include <cstdint>
#include <vector>

#include "terminal/com_term_buffer.h"

class TTermScrollback {
public:
    static constexpr int DefaultCapacity = 5000;
    explicit TTermScrollback(int capacity = DefaultCapacity);

    void Push(const TTermCell* row, int columns);
    void Clear();

    int Count() const { return count_; }
    int Capacity() const { return capacity_; }
    // Lines ever pushed; the newest kept line is number TotalPushed() - 1,
    // and the screen's first row counts as line TotalPushed().
    int64_t TotalPushed() const { return total_; }
    // Kept line i, 0 = oldest.
    const std::vector<TTermCell>& Line(int i) const;
    // By its lasting number; nullptr when it is gone or not yet pushed.
    const std::vector<TTermCell>* ByNumber(int64_t n) const;

private:
    int capacity_;
    int count_ = 0;
    int head_ = 0;  // slot of the oldest line once the ring is full
    int64_t total_ = 0;
    std::vector<std::vector<TTermCell>> lines_;
};
