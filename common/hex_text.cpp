#include "common/hex_text.h"

uint16_t HexSubstringValue(const QString& text, int start, int count)
{
    if (start < 1 || count < 1) return 0xFFFF;
    if (text.size() < start + count - 1) return 0xFFFF;
    uint32_t value = 0;
    for (int i = start - 1; i < start - 1 + count; ++i) {
        const QChar c = text.at(i);
        int d;
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) d = c.unicode() - '0';
        else if (c >= QLatin1Char('A') && c <= QLatin1Char('F')) d = c.unicode() - 'A' + 10;
        else if (c >= QLatin1Char('a') && c <= QLatin1Char('f')) d = c.unicode() - 'a' + 10;
        else return 0xFFFF;
        // Only the low 16 bits are kept; longer numerals wrap like the original read.
        value = ((value << 4) | static_cast<uint32_t>(d)) & 0xFFFFFFFFu;
    }
    return static_cast<uint16_t>(value & 0xFFFF);
}

QString HexByte(uint8_t b)
{
    static const char digits[] = "0123456789ABCDEF";
    return QString(QLatin1Char(digits[b >> 4])) + QLatin1Char(digits[b & 0xF]);
}
