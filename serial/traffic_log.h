#pragma once
// Every byte the port sends or receives, with a monotonic time and its
// direction, in a bounded ring: the oldest bytes go first and are counted.
// Recording is one copy under an uncontended mutex, so it stays on all the
// time; readers pull copies when they want them (nobody is called back per
// byte except the optional sinks, such as the log file).
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

enum class TTrafficDirection : uint8_t { Tx, Rx };

// One transfer: the bytes of one write, or of one read, at one time.
struct TTrafficChunk {
    uint64_t FirstByte = 0;  // number of its first byte since the log began
    int64_t TimeNs = 0;      // monotonic, since the log was created
    TTrafficDirection Dir = TTrafficDirection::Tx;
    std::string Bytes;
    uint16_t Tag = 0;  // 0: the log's own port; else another port (TrafficTagName)
};

// Tags for the ports that record into another port's log (Program Pair's
// and Find Module's): one per device path for the program's life.
uint16_t TrafficTagFor(const std::string& portName);
std::string TrafficTagName(uint16_t tag);

class TTrafficLog {
public:
    static constexpr std::size_t DefaultByteCapacity = 1u << 20;
    // Transfers are bounded too, so one-byte writes cannot grow the headers
    // without limit.
    static constexpr std::size_t DefaultChunkCapacity = 1u << 18;

    explicit TTrafficLog(std::size_t byteCapacity = DefaultByteCapacity,
                         std::size_t chunkCapacity = DefaultChunkCapacity);

    // Safe from any thread.
    void Record(TTrafficDirection dir, const char* data, std::size_t count, uint16_t tag = 0);
    void RecordAt(TTrafficDirection dir, int64_t timeNs, const char* data, std::size_t count, uint16_t tag = 0);
    // Nanoseconds on the log's clock now.
    int64_t NowNs() const;

    // Bytes numbered from 0 since the log began (a Clear does not restart
    // the numbers): [FirstByte, EndByte) are kept.
    uint64_t FirstByte() const;
    uint64_t EndByte() const;
    // Bytes that left the ring to make room since the last Clear.
    uint64_t DroppedBytes() const;
    // Forgets everything kept; counted neither as dropped nor recorded again.
    void Clear();

    // Copies of the kept transfers from byte number `from` on (a transfer
    // that began before it is cut to start there).
    std::vector<TTrafficChunk> ChunksFrom(uint64_t from) const;

    // Called after every recorded transfer, on the recording thread, with
    // the log unlocked. Returns an id for RemoveSink.
    int AddSink(std::function<void(const TTrafficChunk&)> sink);
    void RemoveSink(int id);

    std::size_t ByteCapacity() const { return data_.size(); }

private:
    struct THeader {
        uint64_t first;
        int64_t timeNs;
        uint32_t count;
        TTrafficDirection dir;
        uint16_t tag;
    };
    void DropFront(uint64_t bytes);  // under the lock
    void CopyOut(uint64_t from, uint32_t count, std::string* out) const;

    const int64_t originNs_;
    const std::size_t chunkCapacity_;
    mutable std::mutex m_;
    std::vector<char> data_;
    std::deque<THeader> headers_;
    uint64_t first_ = 0;
    uint64_t end_ = 0;
    uint64_t dropped_ = 0;

    std::mutex sinksM_;
    std::vector<std::pair<int, std::function<void(const TTrafficChunk&)>>> sinks_;
    int nextSink_ = 1;
    std::atomic<bool> hasSinks_{false};  // the fast path without sinks
};
