#include "serial/ui/traffic_format.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>

void TTrafficLines::SetFilter(bool showTx, bool showRx)
{
    showTx_ = showTx;
    showRx_ = showRx;
}

TTrafficLines::TAdded TTrafficLines::Add(const TTrafficChunk& chunk)
{
    TAdded added;
    if (chunk.Bytes.empty()) return added;
    const int64_t gap = prevTimeNs_ < 0 ? -1 : std::max<int64_t>(chunk.TimeNs - prevTimeNs_, 0);
    prevTimeNs_ = chunk.TimeNs;
    const bool shown = chunk.Dir == TTrafficDirection::Tx ? showTx_ : showRx_;
    if (!shown) {
        open_ = false;  // a hidden transfer still ends the run
        return added;
    }
    const bool continues = merge_ && open_ && !lines_.empty() && lines_.back().Dir == chunk.Dir &&
                           lines_.back().Tag == chunk.Tag && gap >= 0 &&
                           gap <= RunGapNs;
    std::size_t i = 0;
    const std::size_t n = chunk.Bytes.size();
    if (continues) {
        TTrafficLine& last = lines_.back();
        while (i < n && last.Count < TTrafficLine::BytesPerLine) last.Bytes[last.Count++] = chunk.Bytes[i++];
        added.LastChanged = i > 0;
    }
    bool firstLine = !continues;
    while (i < n) {
        TTrafficLine line;
        line.FirstByte = chunk.FirstByte + i;
        line.TimeNs = chunk.TimeNs;
        line.GapNs = firstLine ? (gap < 0 ? 0 : gap) : -1;
        line.Dir = chunk.Dir;
        line.Tag = chunk.Tag;
        while (i < n && line.Count < TTrafficLine::BytesPerLine) line.Bytes[line.Count++] = chunk.Bytes[i++];
        lines_.push_back(line);
        ++added.NewLines;
        firstLine = false;
    }
    open_ = true;
    return added;
}

std::size_t TTrafficLines::DropBefore(uint64_t first)
{
    std::size_t dropped = 0;
    while (!lines_.empty() && lines_.front().FirstByte + lines_.front().Count <= first) {
        lines_.pop_front();
        ++dropped;
    }
    if (lines_.empty()) open_ = false;
    return dropped;
}

void TTrafficLines::Clear()
{
    lines_.clear();
    open_ = false;
    prevTimeNs_ = -1;
}

TTrafficLines TTrafficLines::TailCopy() const
{
    TTrafficLines t(merge_);
    t.showTx_ = showTx_;
    t.showRx_ = showRx_;
    t.open_ = open_;
    t.prevTimeNs_ = prevTimeNs_;
    if (!lines_.empty()) t.lines_.push_back(lines_.back());
    return t;
}

const char* TrafficDirectionText(TTrafficDirection dir) { return dir == TTrafficDirection::Tx ? "TX" : "RX"; }

std::string FormatTrafficSeconds(int64_t ns)
{
    const int64_t us = std::max<int64_t>(ns, 0) / 1000;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%" PRId64 ".%06" PRId64, us / 1000000, us % 1000000);
    return buf;
}

std::string FormatTrafficLine(const TTrafficLine& line)
{
    static const char kHex[] = "0123456789ABCDEF";
    char head[64];
    const std::string t = FormatTrafficSeconds(line.TimeNs);
    if (line.GapNs >= 0) {
        const int64_t us = line.GapNs / 1000;
        std::snprintf(head, sizeof head, "%12s  +%6" PRId64 ".%03" PRId64 " ms  %s  ", t.c_str(), us / 1000,
                      us % 1000, TrafficDirectionText(line.Dir));
    } else {
        std::snprintf(head, sizeof head, "%12s  %14s  %s  ", t.c_str(), "", TrafficDirectionText(line.Dir));
    }
    std::string s = head;
    std::string chars;
    for (int i = 0; i < TTrafficLine::BytesPerLine; ++i) {
        if (i < line.Count) {
            const uint8_t b = static_cast<uint8_t>(line.Bytes[static_cast<std::size_t>(i)]);
            s += kHex[b >> 4];
            s += kHex[b & 15];
            s += ' ';
            chars += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
        } else {
            s += "   ";
        }
    }
    s += ' ';
    s += chars;
    if (line.Tag != 0) {
        for (int i = line.Count; i < TTrafficLine::BytesPerLine; ++i) s += ' ';
        s += "  (" + TrafficTagName(line.Tag) + ")";
    }
    return s;
}

std::string TrafficCsvHeader() { return "time_s,direction,byte\n"; }

std::string TrafficCsvRows(const TTrafficChunk& chunk)
{
    static const char kHex[] = "0123456789ABCDEF";
    const std::string prefix = FormatTrafficSeconds(chunk.TimeNs) + ',' + TrafficDirectionText(chunk.Dir) + ',';
    std::string out;
    out.reserve(chunk.Bytes.size() * (prefix.size() + 3));
    for (char c : chunk.Bytes) {
        const uint8_t b = static_cast<uint8_t>(c);
        out += prefix;
        out += kHex[b >> 4];
        out += kHex[b & 15];
        out += '\n';
    }
    return out;
}

bool ParseTrafficCsvRow(const std::string& row, int64_t* timeNs, TTrafficDirection* dir, uint8_t* byte)
{
    const std::size_t c1 = row.find(',');
    if (c1 == std::string::npos) return false;
    const std::size_t c2 = row.find(',', c1 + 1);
    if (c2 == std::string::npos) return false;
    const std::string t = row.substr(0, c1), d = row.substr(c1 + 1, c2 - c1 - 1), b = row.substr(c2 + 1);
    const std::size_t dot = t.find('.');
    if (dot == std::string::npos || dot == 0 || t.size() - dot - 1 != 6) return false;
    int64_t sec = 0, us = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (i == dot) continue;
        if (t[i] < '0' || t[i] > '9') return false;
        int64_t& v = i < dot ? sec : us;
        v = v * 10 + (t[i] - '0');
        if (sec > 1'000'000'000'000) return false;
    }
    if (d == "TX")
        *dir = TTrafficDirection::Tx;
    else if (d == "RX")
        *dir = TTrafficDirection::Rx;
    else
        return false;
    if (b.size() != 2 || !std::isxdigit(static_cast<unsigned char>(b[0])) ||
        !std::isxdigit(static_cast<unsigned char>(b[1])))
        return false;
    *byte = static_cast<uint8_t>(std::stoi(b, nullptr, 16));
    *timeNs = (sec * 1000000 + us) * 1000;
    return true;
}
