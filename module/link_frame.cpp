#include "module/link_frame.h"

#include <algorithm>
#include <array>

namespace {

constexpr uint8_t kSync0 = 0xA5;
constexpr uint8_t kSync1 = 0x5A;

const std::array<uint32_t, 256>& CrcTable()
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

uint64_t Le(const uint8_t* p, int n)
{
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v |= uint64_t(p[i]) << (8 * i);
    return v;
}

}  // namespace

uint32_t LinkCrc32(const uint8_t* data, size_t n)
{
    const auto& t = CrcTable();
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) c = t[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

QByteArray EncodeLinkFrame(int size, uint8_t stream, uint32_t sequence, uint64_t sendUs)
{
    QByteArray f(size, '\0');
    auto* p = reinterpret_cast<uint8_t*>(f.data());
    p[0] = kSync0;
    p[1] = kSync1;
    p[2] = stream;
    for (int i = 0; i < 4; ++i) p[3 + i] = uint8_t(sequence >> (8 * i));
    for (int i = 0; i < 8; ++i) p[7 + i] = uint8_t(sendUs >> (8 * i));
    // A pattern that changes with the frame and the position, so a byte
    // that slipped or stuck shows in the CRC.
    for (int i = kLinkFrameHeader; i < size - 4; ++i) p[i] = uint8_t((sequence * 31u + uint32_t(i) * 7u + stream) & 0x7F);
    const uint32_t crc = LinkCrc32(p + 2, size_t(size - 6));
    for (int i = 0; i < 4; ++i) p[size - 4 + i] = uint8_t(crc >> (8 * i));
    return f;
}

void TLinkFrameReader::Damaged(const std::function<void(const TLinkFrameEvent&)>& onFrame, bool all)
{
    // Bytes that made no intact frame: one damaged frame per frame's worth
    // of them, at least one. While garbage keeps coming, whole frames of it
    // are told at once so the live figures move.
    while (garbage_ > 2 * size_) {
        onFrame(TLinkFrameEvent{});
        garbage_ -= size_;
    }
    if (!all || garbage_ == 0) return;
    for (int k = std::max(1, (garbage_ + size_ / 2) / size_); k > 0; --k) onFrame(TLinkFrameEvent{});
    garbage_ = 0;
}

void TLinkFrameReader::Feed(const char* data, int n, const std::function<void(const TLinkFrameEvent&)>& onFrame)
{
    buf_.append(data, n);
    const auto* b = reinterpret_cast<const uint8_t*>(buf_.constData());
    int pos = 0;
    for (;;) {
        // The next sync word at any position: after a frame that failed its
        // CRC, the next one may start anywhere, even inside it.
        int s = pos;
        while (s + 1 < buf_.size() && !(b[s] == kSync0 && b[s + 1] == kSync1)) ++s;
        if (s + 1 >= buf_.size()) {
            // Keep a last byte that may start a sync word.
            const int keep = (s < buf_.size() && b[s] == kSync0) ? 1 : 0;
            garbage_ += int(buf_.size()) - keep - pos;
            pos = int(buf_.size()) - keep;
            Damaged(onFrame, false);
            break;
        }
        garbage_ += s - pos;
        pos = s;
        if (buf_.size() - pos < size_) {
            Damaged(onFrame, false);
            break;
        }
        const uint8_t* f = b + pos;
        const uint32_t crc = uint32_t(Le(f + size_ - 4, 4));
        if (LinkCrc32(f + 2, size_t(size_ - 6)) == crc) {
            Damaged(onFrame, true);
            onFrame(TLinkFrameEvent{true, f[2], uint32_t(Le(f + 3, 4)), Le(f + 7, 8)});
            pos += size_;
            continue;
        }
        // Not a frame here (damaged, or a sync word inside a header or CRC):
        // one byte on, counted once the next intact frame shows how much was lost.
        garbage_ += 1;
        pos += 1;
    }
    buf_.remove(0, pos);
}

void TLinkFrameReader::Finish(const std::function<void(const TLinkFrameEvent&)>& onFrame)
{
    garbage_ += int(buf_.size());
    buf_.clear();
    Damaged(onFrame, true);
}
