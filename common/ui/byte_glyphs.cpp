#include "common/ui/byte_glyphs.h"

#include <QList>
#include <QString>

void TByteGlyphs::Reset(const QFont& font, std::function<QChar(uint8_t)> toChar)
{
    raw_ = QRawFont::fromFont(font);
    toChar_ = std::move(toChar);
    Forget();
}

quint32 TByteGlyphs::Glyph(uint8_t b)
{
    if (!known_[b]) {
        known_[b] = true;
        const QChar c = toChar_ ? toChar_(b) : QChar(b);
        const QList<quint32> g = raw_.isValid() ? raw_.glyphIndexesForString(QString(c)) : QList<quint32>();
        glyphs_[b] = g.size() == 1 ? g.front() : 0;
    }
    return glyphs_[b];
}
