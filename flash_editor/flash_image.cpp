#include "flash_image.h"

#include <algorithm>

#include "common/hex_text.h"

namespace {

// Pictures for the control codes 0x01-0x1F, as the OEM fixed font draws them,
// so that a control byte is still visible in its 12-pixel cell. 0x14 and 0x15
// get variants of the pilcrow and section signs, which are Latin-1 0xB6 and 0xA7.
constexpr char16_t kControlPictures[32] = {
    0x0000, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9,
    0x2642, 0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x204B, 0x2E39,
    0x25AC, 0x21A8, 0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,
};
constexpr char16_t kDelPicture = 0x2302;
// 0x80-0x9F have no Latin-1 glyph; one shade marks them all.
constexpr char16_t kC1Picture = 0x2591;

}  // namespace

TFlashImage::TFlashImage(QObject* parent) : QObject(parent) {}

void TFlashImage::SetByte(int address, uint8_t b)
{
    if (address < 0 || address >= Size) return;
    bytes_[static_cast<size_t>(address)] = b;
    emit Changed(address, 1);
}

void TFlashImage::SetRange(int first, const uint8_t* data, int count)
{
    if (first < 0 || count <= 0 || first >= Size) return;
    count = std::min(count, Size - first);
    std::copy(data, data + count, bytes_.begin() + first);
    emit Changed(first, count);
}

void TFlashImage::Assign(const Bytes& bytes)
{
    bytes_ = bytes;
    emit Changed(0, Size);
}

void TFlashImage::Fill(uint8_t b)
{
    bytes_.fill(b);
    emit Changed(0, Size);
}

QString TFlashImage::HexText(int address) const { return HexByte(Byte(address)); }

QString TFlashImage::CharText(int address) const { return FlashDisplayChar(Byte(address)); }

QString FlashDisplayChar(uint8_t b)
{
    if (b == 0) return {};
    if (b < 0x20) return QString(QChar(kControlPictures[b]));
    if (b == 0x7F) return QString(QChar(kDelPicture));
    if (b >= 0x80 && b < 0xA0) return QString(QChar(kC1Picture));
    return QString(QChar(char16_t(b)));
}

int FlashByteForChar(QChar ch)
{
    const char16_t u = ch.unicode();
    if (u <= 0xFF) return u;
    // A picture pasted or typed back stands for its control code.
    for (int i = 1; i < 32; ++i)
        if (kControlPictures[i] == u) return i;
    if (u == kDelPicture) return 0x7F;
    return -1;
}
