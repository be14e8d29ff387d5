#include "flash_grid_controller.h"

#include "common/hex_text.h"
#include "flash_editor/flash_grid_geometry.h"
#include "flash_editor/flash_image.h"

using namespace flash_grid;

namespace {

constexpr int kLastAddress = 127;

int Wrap(int address) { return (address + 128) % 128; }

}  // namespace

TFlashGridController::TFlashGridController(TFlashImage& image, QObject* parent) : QObject(parent), image_(image)
{
}

void TFlashGridController::MoveTo(int address)
{
    address_ = Wrap(address);
    emit CursorChanged();
}

void TFlashGridController::SetHexCell(int col, int row)
{
    if (col < 1 || col > 16 || row < 1 || row > 8) return;
    MoveTo((row - 1) * 16 + (col - 1));
}

void TFlashGridController::SetCharCell(int col, int row)
{
    if (col < 0 || col > 15 || row < 1 || row > 8) return;
    // The character grid always hands the hex grid a cell to start at its first digit.
    nibble_ = 1;
    MoveTo((row - 1) * 16 + col);
}

void TFlashGridController::SetFocus(TFlashGrid grid)
{
    focus_ = grid;
    if (grid == TFlashGrid::Char) nibble_ = 1;
    emit CursorChanged();
}

void TFlashGridController::ResetNibble()
{
    nibble_ = 1;
    emit CursorChanged();
}

void TFlashGridController::NextNibble()
{
    ++nibble_;
    emit CursorChanged();
}

void TFlashGridController::PrevNibble()
{
    --nibble_;
    emit CursorChanged();
}

void TFlashGridController::AdvanceHexCell()
{
    nibble_ = 1;
    MoveTo(address_ + 1);
}

QChar TFlashGridController::HexDigitKey(QChar ch)
{
    const char16_t u = ch.unicode();
    if ((u >= '0' && u <= '9') || (u >= 'A' && u <= 'F')) return ch;
    if (u >= 'a' && u <= 'f') return QChar(char16_t(u - 'a' + 'A'));
    return QChar(0);
}

void TFlashGridController::EnterHexNibble(QChar ch)
{
    QString text = image_.HexText(address_);
    if (nibble_ >= 1 && nibble_ <= text.size()) text[nibble_ - 1] = ch;
    StoreHexCell(text);
}

void TFlashGridController::StoreHexCell(const QString& text)
{
    image_.SetByte(address_, static_cast<uint8_t>(HexSubstringValue(text, 1, 2) & 0xFF));
    if (nibble_ == 2)
        AdvanceHexCell();
    else
        NextNibble();
}

void TFlashGridController::HexKeyPress(QChar key)
{
    key = HexDigitKey(key);
    if (key.unicode() != 0) EnterHexNibble(key);
}

bool TFlashGridController::GridDefaultKey(int key, Qt::KeyboardModifiers mods)
{
    const int col = address_ % 16;
    const int row = address_ / 16;
    const bool ctrl = mods.testFlag(Qt::ControlModifier);
    switch (key) {
    case Qt::Key_Up:
        if (row > 0) address_ -= 16;
        break;
    case Qt::Key_Down:
        if (row < 7) address_ += 16;
        break;
    // All eight data rows are on view, so a page is the whole grid.
    case Qt::Key_PageUp: address_ = col; break;
    case Qt::Key_PageDown: address_ = 7 * 16 + col; break;
    case Qt::Key_Home: address_ = ctrl ? 0 : row * 16; break;
    case Qt::Key_End: address_ = ctrl ? kLastAddress : row * 16 + 15; break;
    default: return false;
    }
    emit CursorChanged();
    return true;
}

bool TFlashGridController::HexKeyDown(int key, Qt::KeyboardModifiers mods)
{
    const int col = HexCol();
    switch (key) {
    case Qt::Key_Backspace:
    case Qt::Key_Left:
        if (nibble_ == 2) {
            PrevNibble();
        } else if (address_ != 0) {
            nibble_ = 2;
            MoveTo(address_ - 1);
        }
        return true;
    case Qt::Key_Right:
        if (nibble_ == 1) {
            NextNibble();
        } else {
            nibble_ = 1;
            MoveTo(address_ + 1);
        }
        return true;
    case Qt::Key_End:
        nibble_ = 2;
        if (col == 16) address_ = 7 * 16 + (col - 1);
        return GridDefaultKey(key, mods);
    case Qt::Key_Home:
        if (col == 1) address_ = 0;
        nibble_ = 1;
        return GridDefaultKey(key, mods);
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        nibble_ = 1;
        return GridDefaultKey(key, mods);
    default:
        return GridDefaultKey(key, mods);
    }
}

void TFlashGridController::HexMouseDown(int x, int y)
{
    // Truncating division as the grid has always computed it: a click on the
    // right part of the address column lands in column 1.
    const int c = (x - HexFixedColWidth - LineWidth) / (HexColWidth + LineWidth) + 1;
    const int r = (y - LineWidth) / (RowHeight + LineWidth);
    const int middle = (HexFixedColWidth + LineWidth) + (c - 1) * (HexColWidth + LineWidth) + HexColWidth / 2;
    nibble_ = x > middle ? 2 : 1;
    if (r > 0 && c > 0 && r < RowCount && c < HexColCount)
        SetHexCell(c, r);
    else
        emit CursorChanged();
}

void TFlashGridController::CharKeyPress(QChar key)
{
    const int b = FlashByteForChar(key);
    if (b < 0) return;  // no byte stands for this character
    nibble_ = 1;
    image_.SetByte(address_, static_cast<uint8_t>(b));
    MoveTo(address_ + 1);
}

bool TFlashGridController::CharKeyDown(int key, Qt::KeyboardModifiers mods)
{
    const int col = CharCol();
    nibble_ = 1;
    switch (key) {
    case Qt::Key_Backspace:
    case Qt::Key_Left:
        if (address_ != 0)
            MoveTo(address_ - 1);
        else
            emit CursorChanged();
        return true;
    case Qt::Key_Right:
        MoveTo(address_ + 1);
        return true;
    case Qt::Key_End:
        if (col == 15) address_ = 7 * 16 + col;
        return GridDefaultKey(key, mods);
    case Qt::Key_Home:
        if (col == 0) address_ = 0;
        return GridDefaultKey(key, mods);
    default:
        return GridDefaultKey(key, mods);
    }
}

void TFlashGridController::CharMouseDown(int x, int y)
{
    if (x < 0 || y < 0) return;
    SetCharCell(x / (CharColWidth + LineWidth), y / (RowHeight + LineWidth));
}

QString TFlashGridController::HexCellText(int col, int row) const
{
    if (row == 0 && col == 0) return HexByte(static_cast<uint8_t>(address_));
    if (row == 0) return QString::number(col - 1, 16).toUpper();
    if (col == 0) return HexByte(static_cast<uint8_t>(row - 1));
    return image_.HexText((row - 1) * 16 + (col - 1));
}

QString TFlashGridController::CharCellText(int col, int row) const
{
    if (row == 0) return QString::number(col, 16).toUpper();
    return image_.CharText((row - 1) * 16 + col);
}

TCellLook TFlashGridController::HexCellLook(int col, int row) const
{
    TCellLook look;
    const bool data = col > 0 && row > 0;
    const bool current = col == HexCol() && row == HexRow();
    if (data && focus_ == TFlashGrid::Hex) {
        if (current) {
            look.split = true;
            look.highlightedNibble = nibble_;
        }
        return look;
    }
    const bool header = (row == 0) != (col == 0);
    // The byte the character grid is on is shaded while the hex grid is not focused.
    if (header || (data && current)) look.background = TCellColor::ButtonFace;
    return look;
}

TCellLook TFlashGridController::CharCellLook(int col, int row) const
{
    TCellLook look;
    if (row == 0) look.background = TCellColor::ButtonFace;
    if (row > 0 && col == CharCol() && row == CharRow())
        look.background = focus_ == TFlashGrid::Char ? TCellColor::Highlight : TCellColor::ButtonFace;
    return look;
}
