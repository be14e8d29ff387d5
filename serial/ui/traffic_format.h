#pragma once
// The traffic as lines of text: transfers grouped into runs (one direction,
// no pause longer than RunGapNs, at most BytesPerLine bytes a line), the
// line text of the traffic window and its files, and the CSV rows.
#include <array>
#include <cstdint>
#include <deque>
#include <string>

#include "serial/traffic_log.h"

struct TTrafficLine {
    static constexpr int BytesPerLine = 16;
    uint64_t FirstByte = 0;
    int64_t TimeNs = 0;
    int64_t GapNs = -1;  // time since the byte before; -1: continues the line above
    TTrafficDirection Dir = TTrafficDirection::Tx;
    uint16_t Tag = 0;  // the port, when not the log's own (TrafficTagName)
    uint8_t Count = 0;
    std::array<char, BytesPerLine> Bytes{};
};

class TTrafficLines {
public:
    static constexpr int64_t RunGapNs = 20'000'000;

    // Without merging every transfer starts a line of its own (the log file,
    // which cannot rewrite a line it has written).
    explicit TTrafficLines(bool mergeRuns = true) : merge_(mergeRuns) {}

    void SetFilter(bool showTx, bool showRx);
    bool ShowTx() const { return showTx_; }
    bool ShowRx() const { return showRx_; }

    struct TAdded {
        bool LastChanged = false;  // the last line before the call grew
        std::size_t NewLines = 0;
    };
    TAdded Add(const TTrafficChunk& chunk);
    // Drops the lines whose bytes all lie before byte number `first`;
    // returns how many went (from the front).
    std::size_t DropBefore(uint64_t first);
    void Clear();
    // The same state with only the last line: to count what Add would do.
    TTrafficLines TailCopy() const;

    const std::deque<TTrafficLine>& Lines() const { return lines_; }

private:
    bool merge_;
    bool showTx_ = true;
    bool showRx_ = true;
    bool open_ = false;  // the last line may still grow
    int64_t prevTimeNs_ = -1;
    std::deque<TTrafficLine> lines_;
};

// "    0.300215  +300.123 ms  TX  FF 0F ...  |.."; another port's line ends
// with its name: "  (/dev/ttyUSB1)".
std::string FormatTrafficLine(const TTrafficLine& line);
const char* TrafficDirectionText(TTrafficDirection dir);  // "TX", "RX"
// Seconds with six decimals, from integer arithmetic.
std::string FormatTrafficSeconds(int64_t ns);

// CSV: a header, then one row per byte: time in seconds, direction, hex byte.
std::string TrafficCsvHeader();  // "time_s,direction,byte\n"
std::string TrafficCsvRows(const TTrafficChunk& chunk);
// One row back (no line end); false when it is not a row of ours.
bool ParseTrafficCsvRow(const std::string& row, int64_t* timeNs, TTrafficDirection* dir, uint8_t* byte);
