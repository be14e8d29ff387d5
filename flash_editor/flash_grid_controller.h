#pragma once
// Cursor, digit position and key/mouse rules of the two flash grids, kept
// apart from the widgets. Both grids show one cursor: the hex grid's current
// cell (c, r) and the character grid's (c - 1, r) are always the same byte.
#include <QObject>
#include <QString>
#include <Qt>

class TFlashImage;

enum class TFlashGrid { None, Hex, Char };

// System colours a cell is painted with.
enum class TCellColor { Window, Highlight, ButtonFace };

struct TCellLook {
    TCellColor background = TCellColor::Window;  // text: highlight text on Highlight, else window text
    bool split = false;                          // the edited hex cell: two halves
    int highlightedNibble = 0;                   // with split: 1 = left half, 2 = right half
};

class TFlashGridController : public QObject {
    Q_OBJECT
public:
    explicit TFlashGridController(TFlashImage& image, QObject* parent = nullptr);

    TFlashImage& Image() { return image_; }

    // --- cursor ---
    int Address() const { return address_; }
    int HexCol() const { return address_ % 16 + 1; }
    int HexRow() const { return address_ / 16 + 1; }
    int CharCol() const { return address_ % 16; }
    int CharRow() const { return address_ / 16 + 1; }
    int NibblePosition() const { return nibble_; }
    // Cells outside the data area are ignored.
    void SetHexCell(int col, int row);
    void SetCharCell(int col, int row);

    TFlashGrid Focus() const { return focus_; }
    void SetFocus(TFlashGrid grid);

    // --- the digit being edited ---
    void ResetNibble();
    void NextNibble();
    void PrevNibble();
    void AdvanceHexCell();
    // Upper-case hex digit, or character 0 for anything else.
    static QChar HexDigitKey(QChar ch);
    void EnterHexNibble(QChar ch);
    void StoreHexCell(const QString& text);

    // --- the hex grid ---
    void HexKeyPress(QChar key);
    // Navigation keys; false for a key this grid leaves alone.
    bool HexKeyDown(int key, Qt::KeyboardModifiers mods = {});
    // A press at client pixel (x, y).
    void HexMouseDown(int x, int y);

    // --- the character grid ---
    void CharKeyPress(QChar key);
    bool CharKeyDown(int key, Qt::KeyboardModifiers mods = {});
    void CharMouseDown(int x, int y);

    // --- what the cells show ---
    QString HexCellText(int col, int row) const;
    QString CharCellText(int col, int row) const;
    TCellLook HexCellLook(int col, int row) const;
    TCellLook CharCellLook(int col, int row) const;

signals:
    // The cursor, the edited digit or the focused grid changed: repaint.
    void CursorChanged();

private:
    void MoveTo(int address);
    // The grid's own handling of the vertical and Home/End keys.
    bool GridDefaultKey(int key, Qt::KeyboardModifiers mods);

    TFlashImage& image_;
    int address_ = 0;
    int nibble_ = 1;
    TFlashGrid focus_ = TFlashGrid::None;
};
