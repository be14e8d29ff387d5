#pragma once
// The terminal's screen cells and tab stops. Coordinates are 1-based
// (column x, row y). The rows are kept as a ring, so that scrolling one row
// moves no cells: it turns the ring and clears one row. Each row's cells lie
// side by side.
#include <cstdint>
#include <vector>

struct TTermCell {
    uint8_t Ch = 0;           // 0: empty, never drawn
    uint32_t FrontColor = 0;  // 0xRRGGBB
    uint32_t BackColor = 0;
    uint8_t Underline = 0;
};

class TComTermBuffer {
public:
    // Drops the old content: new zeroed cells, a tab stop at 1, 9, 17, ...
    void AllocateBuffer(int columns, int rows);
    int Columns() const { return columns_; }
    int Rows() const { return rows_; }

    // Cells outside the screen are ignored on store and read as empty.
    void StoreCell(int x, int y, const TTermCell& cell);
    TTermCell LoadCell(int x, int y) const;
    // The cells of row y (1..Rows), Columns of them side by side.
    const TTermCell* Row(int y) const { return &cells_[RowStart(y)]; }
    TTermCell* MutableRow(int y) { return &cells_[RowStart(y)]; }

    void ScrollBufferUp();    // rows 2..Rows up by one, last row zeroed
    void ScrollBufferDown();  // rows 1..Rows-1 down by one, first row zeroed
    void EraseLineFrom(int x, int y);
    void EraseScreenFrom(int x, int y);

    void SetTabStop(int x, bool on);
    bool TabStopAt(int x) const;
    // First column >= x with a stop, or 0 when there is none.
    int NextTabStop(int x) const;
    void ClearTabStops();

private:
    bool Inside(int x, int y) const { return x >= 1 && x <= columns_ && y >= 1 && y <= rows_; }
    std::size_t RowStart(int y) const
    {
        int r = top_ + y - 1;
        if (r >= rows_) r -= rows_;
        return static_cast<std::size_t>(r) * columns_;
    }
    std::size_t Index(int x, int y) const { return RowStart(y) + (x - 1); }
    void ClearRow(int y);

    int columns_ = 0;
    int rows_ = 0;
    int top_ = 0;  // the ring row that shows as row 1
    std::vector<TTermCell> cells_;
    std::vector<uint8_t> tabs_;
};
