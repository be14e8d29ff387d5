#pragma once
// Draws the traffic window's lines: single-byte text in a fixed-pitch font,
// put down as one glyph run per line at the font's pitch. The window
// repaints its visible lines several times a second while it follows the
// tail; shaping every line for every paint would cost more than the rest of
// the panel together.
#include <QAbstractItemDelegate>
#include <QFont>

#include "common/ui/byte_glyphs.h"

class TTrafficLineDelegate : public QAbstractItemDelegate {
public:
    TTrafficLineDelegate(const QFont& font, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    static constexpr int Margin = 3;  // pixels left of the text

private:
    QFont font_;
    mutable TByteGlyphs glyphs_;
    qreal advance_ = 0;
    int ascent_ = 0;
    int height_ = 0;
};
