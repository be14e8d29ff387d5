#include "serial/traffic_log.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

int64_t SteadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

TTrafficLog::TTrafficLog(std::size_t byteCapacity, std::size_t chunkCapacity)
    : originNs_(SteadyNs()), chunkCapacity_(std::max<std::size_t>(chunkCapacity, 1)),
      data_(std::max<std::size_t>(byteCapacity, 1))
{
}

int64_t TTrafficLog::NowNs() const { return SteadyNs() - originNs_; }

namespace {

struct TTagTable {
    std::mutex m;
    std::vector<std::string> names;
};

TTagTable& Tags()
{
    static TTagTable table;
    return table;
}

}  // namespace

uint16_t TrafficTagFor(const std::string& portName)
{
    TTagTable& t = Tags();
    std::lock_guard<std::mutex> lock(t.m);
    for (std::size_t i = 0; i < t.names.size(); ++i)
        if (t.names[i] == portName) return static_cast<uint16_t>(i + 1);
    if (t.names.size() >= 0xFFFE) return 0xFFFF;  // one per device: never in practice
    t.names.push_back(portName);
    return static_cast<uint16_t>(t.names.size());
}

std::string TrafficTagName(uint16_t tag)
{
    TTagTable& t = Tags();
    std::lock_guard<std::mutex> lock(t.m);
    if (tag == 0 || tag > t.names.size()) return {};
    return t.names[tag - 1];
}

void TTrafficLog::Record(TTrafficDirection dir, const char* data, std::size_t count, uint16_t tag)
{
    if (count == 0) return;
    RecordAt(dir, NowNs(), data, count, tag);
}

void TTrafficLog::RecordAt(TTrafficDirection dir, int64_t timeNs, const char* data, std::size_t count, uint16_t tag)
{
    if (count == 0) return;
    const std::size_t cap = data_.size();
    TTrafficChunk forSinks;
    const bool sinks = hasSinks_.load(std::memory_order_acquire);
    if (sinks) {
        forSinks.Dir = dir;
        forSinks.TimeNs = timeNs;
        forSinks.Tag = tag;
        forSinks.Bytes.assign(data, count);
    }
    {
        std::lock_guard<std::mutex> lock(m_);
        if (sinks) forSinks.FirstByte = end_;
        // Only the newest `cap` bytes of a huge transfer can be kept.
        if (count > cap) {
            const std::size_t skip = count - cap;
            dropped_ += (end_ - first_) + skip;
            end_ += skip;
            first_ = end_;
            headers_.clear();
            data += skip;
            count = cap;
        }
        const uint64_t newEnd = end_ + count;
        if (newEnd - first_ > cap) DropFront(newEnd - first_ - cap);
        if (headers_.size() >= chunkCapacity_) {
            const THeader& h = headers_.front();
            DropFront(h.first + h.count - first_);
        }
        // Copy into the ring, wrapping once at most.
        const std::size_t at = static_cast<std::size_t>(end_ % cap);
        const std::size_t firstPart = std::min(count, cap - at);
        std::memcpy(data_.data() + at, data, firstPart);
        if (firstPart < count) std::memcpy(data_.data(), data + firstPart, count - firstPart);
        headers_.push_back({end_, timeNs, static_cast<uint32_t>(count), dir, tag});
        end_ = newEnd;
    }
    if (sinks) {
        std::vector<std::function<void(const TTrafficChunk&)>> call;
        {
            std::lock_guard<std::mutex> lock(sinksM_);
            for (const auto& s : sinks_) call.push_back(s.second);
        }
        for (const auto& f : call) f(forSinks);
    }
}

void TTrafficLog::DropFront(uint64_t bytes)
{
    const uint64_t newFirst = std::min(first_ + bytes, end_);
    dropped_ += newFirst - first_;
    first_ = newFirst;
    while (!headers_.empty()) {
        THeader& h = headers_.front();
        if (h.first + h.count <= first_) {
            headers_.pop_front();
            continue;
        }
        if (h.first < first_) {
            h.count -= static_cast<uint32_t>(first_ - h.first);
            h.first = first_;
        }
        break;
    }
}

uint64_t TTrafficLog::FirstByte() const
{
    std::lock_guard<std::mutex> lock(m_);
    return first_;
}

uint64_t TTrafficLog::EndByte() const
{
    std::lock_guard<std::mutex> lock(m_);
    return end_;
}

uint64_t TTrafficLog::DroppedBytes() const
{
    std::lock_guard<std::mutex> lock(m_);
    return dropped_;
}

void TTrafficLog::Clear()
{
    std::lock_guard<std::mutex> lock(m_);
    headers_.clear();
    first_ = end_;
    dropped_ = 0;
}

void TTrafficLog::CopyOut(uint64_t from, uint32_t count, std::string* out) const
{
    const std::size_t cap = data_.size();
    const std::size_t at = static_cast<std::size_t>(from % cap);
    const std::size_t firstPart = std::min<std::size_t>(count, cap - at);
    out->assign(data_.data() + at, firstPart);
    if (firstPart < count) out->append(data_.data(), count - firstPart);
}

std::vector<TTrafficChunk> TTrafficLog::ChunksFrom(uint64_t from) const
{
    std::lock_guard<std::mutex> lock(m_);
    std::vector<TTrafficChunk> out;
    from = std::max(from, first_);
    if (from >= end_) return out;
    // Headers are ordered by their first byte: find the one holding `from`.
    auto it = std::upper_bound(headers_.begin(), headers_.end(), from,
                               [](uint64_t v, const THeader& h) { return v < h.first; });
    if (it != headers_.begin()) --it;
    out.reserve(static_cast<std::size_t>(headers_.end() - it));
    for (; it != headers_.end(); ++it) {
        uint64_t start = it->first;
        uint32_t count = it->count;
        if (start + count <= from) continue;
        if (start < from) {
            count -= static_cast<uint32_t>(from - start);
            start = from;
        }
        TTrafficChunk c;
        c.FirstByte = start;
        c.TimeNs = it->timeNs;
        c.Dir = it->dir;
        c.Tag = it->tag;
        CopyOut(start, count, &c.Bytes);
        out.push_back(std::move(c));
    }
    return out;
}

int TTrafficLog::AddSink(std::function<void(const TTrafficChunk&)> sink)
{
    std::lock_guard<std::mutex> lock(sinksM_);
    const int id = nextSink_++;
    sinks_.emplace_back(id, std::move(sink));
    hasSinks_.store(true, std::memory_order_release);
    return id;
}

void TTrafficLog::RemoveSink(int id)
{
    std::lock_guard<std::mutex> lock(sinksM_);
    sinks_.erase(std::remove_if(sinks_.begin(), sinks_.end(), [id](const auto& s) { return s.first == id; }),
                 sinks_.end());
    hasSinks_.store(!sinks_.empty(), std::memory_order_release);
}
