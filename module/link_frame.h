#pragma once
// The Link Test's frame on the serial line, and the reader that finds frames
// in what arrives. Every frame of a run has the same size:
//   A5 5A | stream | sequence (4, LE) | send time in us (8, LE) | pattern | CRC-32 (4, LE)
// The CRC covers everything after the sync word. Pattern bytes are below
// 0x80, so the sync word's first byte never occurs there.
#include <QByteArray>
#include <cstdint>
#include <functional>

constexpr int kLinkFrameHeader = 15;
constexpr int kLinkFrameMinSize = kLinkFrameHeader + 4 + 5;  // at least five pattern bytes
constexpr int kLinkFrameMaxSize = 1024;

uint32_t LinkCrc32(const uint8_t* data, size_t n);
QByteArray EncodeLinkFrame(int size, uint8_t stream, uint32_t sequence, uint64_t sendUs);

struct TLinkFrameEvent {
    bool intact = false;  // false: a corrupted frame, nothing in it trusted
    uint8_t stream = 0;
    uint32_t sequence = 0;
    uint64_t sendUs = 0;
};

class TLinkFrameReader {
public:
    explicit TLinkFrameReader(int size) : size_(size) {}
    // Called once per frame found, intact or not. Bytes that make no frame
    // (a damaged frame, a sync word that was hit) count as corrupted frames,
    // one per frame's worth of them and at least one, told when the next
    // intact frame shows where they end: one lost byte costs one frame.
    void Feed(const char* data, int n, const std::function<void(const TLinkFrameEvent&)>& onFrame);
    // The end of the stream: what is left is told as damaged.
    void Finish(const std::function<void(const TLinkFrameEvent&)>& onFrame);

private:
    void Damaged(const std::function<void(const TLinkFrameEvent&)>& onFrame, bool all);
    int size_;
    QByteArray buf_;
    int garbage_ = 0;  // bytes that made no frame since the last one told
};
