#include "flash_grid_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "flash_editor/flash_grid_geometry.h"

using namespace flash_grid;

TFlashGridView::TFlashGridView(int colCount, int fixedCols, std::function<QRect(int, int)> cellRect,
                               QWidget* parent)
    : QFrame(parent), colCount_(colCount), fixedCols_(fixedCols), cellRect_(std::move(cellRect))
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setLineWidth(1);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    const QRect last = cellRect_(colCount_ - 1, RowCount() - 1);
    const QMargins m = contentsMargins();
    setFixedSize(last.right() + 1 + LineWidth + m.left() + m.right(),
                 last.bottom() + 1 + LineWidth + m.top() + m.bottom());
}

int TFlashGridView::RowCount() const { return flash_grid::RowCount; }

QPoint TFlashGridView::ToClient(QPoint widgetPos) const { return widgetPos - contentsRect().topLeft(); }

QPoint TFlashGridView::FromClient(QPoint clientPos) const { return clientPos + contentsRect().topLeft(); }

void TFlashGridView::paintEvent(QPaintEvent* e)
{
    QFrame::paintEvent(e);
    QPainter p(this);
    p.setClipRect(contentsRect());
    p.translate(contentsRect().topLeft());
    p.fillRect(QRect(QPoint(0, 0), contentsRect().size()), palette().color(QPalette::Base));
    p.setFont(font());
    for (int r = 0; r < RowCount(); ++r)
        for (int c = 0; c < colCount_; ++c)
            if (OnDrawCell) {
                p.save();
                OnDrawCell(p, c, r, cellRect_(c, r));
                p.restore();
            }
    // Lines only around the fixed cells.
    p.setPen(palette().color(QPalette::WindowText));
    const QRect corner = cellRect_(0, 0);
    const QRect last = cellRect_(colCount_ - 1, RowCount() - 1);
    const int right = last.right() + 1;
    const int bottom = last.bottom() + 1;
    p.drawLine(0, corner.bottom() + 1, right, corner.bottom() + 1);
    for (int c = 0; c < colCount_; ++c) {
        const QRect cell = cellRect_(c, 0);
        p.drawLine(cell.right() + 1, 0, cell.right() + 1, cell.bottom());
    }
    for (int c = 0; c < fixedCols_; ++c) {
        const QRect cell = cellRect_(c, 0);
        p.drawLine(cell.right() + 1, 0, cell.right() + 1, bottom);
    }
    for (int r = 1; r < RowCount() && fixedCols_ > 0; ++r) {
        const QRect cell = cellRect_(fixedCols_ - 1, r);
        p.drawLine(0, cell.bottom() + 1, cell.right(), cell.bottom() + 1);
    }
}

void TFlashGridView::keyPressEvent(QKeyEvent* e)
{
    if (OnKeyDown && OnKeyDown(e->key(), e->modifiers())) {
        update();
        e->accept();
        return;
    }
    const QString text = e->text();
    // Delete carries a DEL character on X11 but types nothing; Alt+key is a
    // menu mnemonic, not a typed character.
    if (!text.isEmpty() && e->key() != Qt::Key_Delete && !e->modifiers().testFlag(Qt::AltModifier) && OnKeyPress) {
        for (const QChar ch : text) OnKeyPress(ch);
        update();
        e->accept();
        return;
    }
    QFrame::keyPressEvent(e);
}

void TFlashGridView::mousePressEvent(QMouseEvent* e)
{
    setFocus(Qt::MouseFocusReason);
    const QPoint pos = ToClient(e->position().toPoint());
    if (OnMouseDown) OnMouseDown(e->button(), e->modifiers(), pos.x(), pos.y());
    update();
    e->accept();
}

void TFlashGridView::focusInEvent(QFocusEvent* e)
{
    QFrame::focusInEvent(e);
    if (OnFocusChange) OnFocusChange(true);
    update();
}

void TFlashGridView::focusOutEvent(QFocusEvent* e)
{
    QFrame::focusOutEvent(e);
    if (OnFocusChange) OnFocusChange(false);
    update();
}
