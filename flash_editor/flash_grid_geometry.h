#pragma once
// Cell geometry of the two flash grids in client pixels: every cell is
// followed by a one-pixel grid line.
#include <QRect>

namespace flash_grid {

constexpr int LineWidth = 1;
constexpr int RowHeight = 20;
constexpr int RowCount = 9;  // row 0 is the heading

// Hex grid: a 34-pixel address column, then 16 byte columns of 23 pixels.
constexpr int HexColCount = 17;
constexpr int HexFixedColWidth = 34;
constexpr int HexColWidth = 23;
// Character grid: 16 columns of 12 pixels, no fixed column.
constexpr int CharColCount = 16;
constexpr int CharColWidth = 12;

constexpr int HexColLeft(int c)
{
    return c == 0 ? 0 : HexFixedColWidth + LineWidth + (c - 1) * (HexColWidth + LineWidth);
}
constexpr int HexColWidthOf(int c) { return c == 0 ? HexFixedColWidth : HexColWidth; }
constexpr int CharColLeft(int c) { return c * (CharColWidth + LineWidth); }
constexpr int RowTop(int r) { return r * (RowHeight + LineWidth); }

constexpr int HexGridWidth() { return HexColLeft(HexColCount); }
constexpr int CharGridWidth() { return CharColLeft(CharColCount); }
constexpr int GridHeight() { return RowTop(RowCount); }

inline QRect HexCellRect(int c, int r) { return QRect(HexColLeft(c), RowTop(r), HexColWidthOf(c), RowHeight); }
inline QRect CharCellRect(int c, int r) { return QRect(CharColLeft(c), RowTop(r), CharColWidth, RowHeight); }

}  // namespace flash_grid
