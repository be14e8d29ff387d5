#pragma once
// The glyphs of a fixed-pitch font for the 256 byte values, each looked up
// once: text of single-byte characters drawn as glyph runs at fixed cell
// positions, with no text shaping per paint.
#include <QFont>
#include <QRawFont>
#include <array>
#include <functional>

class TByteGlyphs {
public:
    // toChar: the character each byte shows; Latin-1 when empty.
    void Reset(const QFont& font, std::function<QChar(uint8_t)> toChar = {});
    // Forgets the looked-up glyphs (the characters the bytes show changed).
    void Forget() { known_.fill(false); }
    bool Valid() const { return raw_.isValid(); }
    const QRawFont& Raw() const { return raw_; }
    // The font's glyph for a byte, 0 when it has none.
    quint32 Glyph(uint8_t b);

private:
    QRawFont raw_;
    std::function<QChar(uint8_t)> toChar_;
    std::array<quint32, 256> glyphs_{};
    std::array<bool, 256> known_{};
};
