#pragma once
// An owner-drawn grid of fixed-size cells: it lays out and frames the cells
// and hands painting, keys, typed characters and clicks to its owner.
#include <QFrame>
#include <functional>

class TFlashGridView : public QFrame {
    Q_OBJECT
public:
    // colLeft/colWidth give each column's geometry in client pixels; rows
    // are RowHeight high; a one-pixel line follows every cell.
    TFlashGridView(int colCount, int fixedCols, std::function<QRect(int col, int row)> cellRect,
                   QWidget* parent = nullptr);

    int ColCount() const { return colCount_; }
    int RowCount() const;
    QRect CellRect(int col, int row) const { return cellRect_(col, row); }
    // Client coordinates (the cell area, inside the frame) of a widget point.
    QPoint ToClient(QPoint widgetPos) const;
    QPoint FromClient(QPoint clientPos) const;

    // Handlers set by the page that owns the grid.
    std::function<void(QPainter&, int col, int row, const QRect& rect)> OnDrawCell;
    std::function<bool(int key, Qt::KeyboardModifiers mods)> OnKeyDown;  // true: handled
    std::function<void(QChar key)> OnKeyPress;
    std::function<void(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)> OnMouseDown;
    std::function<void(bool focused)> OnFocusChange;

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    int colCount_;
    int fixedCols_;
    std::function<QRect(int, int)> cellRect_;
};
