#include "serial/ui/traffic_line_delegate.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>

TTrafficLineDelegate::TTrafficLineDelegate(const QFont& font, QObject* parent)
    : QAbstractItemDelegate(parent), font_(font)
{
    const QFontMetricsF fm(font_);
    advance_ = fm.horizontalAdvance(QLatin1Char('0'));
    ascent_ = qRound(fm.ascent());
    height_ = qCeil(fm.height()) + 2;
    glyphs_.Reset(font_);
}

void TTrafficLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = option.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    if (selected) painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
    const QString text = index.data(Qt::DisplayRole).toString();
    painter->save();
    painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    const qreal x0 = option.rect.left() + Margin;
    const qreal y = option.rect.top() + (option.rect.height() - height_) / 2 + 1 + ascent_;
    bool allGlyphs = glyphs_.Valid();
    QList<quint32> ids;
    QList<QPointF> positions;
    ids.reserve(text.size());
    positions.reserve(text.size());
    for (qsizetype i = 0; i < text.size() && allGlyphs; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char(' ')) continue;
        const quint32 g = c.unicode() < 256 ? glyphs_.Glyph(uint8_t(c.unicode())) : 0;
        if (g == 0) allGlyphs = false;  // a character the font lacks: drawn as text below
        ids.append(g);
        positions.append(QPointF(x0 + qreal(i) * advance_, y));
    }
    if (allGlyphs) {
        QGlyphRun run;
        run.setRawFont(glyphs_.Raw());
        run.setGlyphIndexes(ids);
        run.setPositions(positions);
        painter->drawGlyphRun(QPointF(0, 0), run);
    } else {
        painter->setFont(font_);
        painter->drawText(QPointF(x0, y), text);
    }
    if (option.state & QStyle::State_HasFocus) {
        painter->setPen(QPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text), 1, Qt::DotLine));
        painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    }
    painter->restore();
}

QSize TTrafficLineDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    const qsizetype n = index.data(Qt::DisplayRole).toString().size();
    return QSize(qCeil(qreal(n) * advance_) + 2 * Margin, height_);
}
