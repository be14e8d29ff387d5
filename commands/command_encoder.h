#pragma once
// Turns what a command row holds into the bytes that go on the line, the
// number of reply bytes to wait for and whether the row repeats.
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

// One parameter control of a row, by its kind: an edit gives text, a list
// combo its item, a check box its state.
struct TCommandParam {
    QString text;
    int item = -1;
    bool checked = false;
    bool operator==(const TCommandParam&) const = default;
};

// A row's values: the command combo's item (-1: none selected) and its
// parameter controls in their list order.
struct TCommandRowValues {
    int command = -1;
    std::vector<TCommandParam> params;
    bool operator==(const TCommandRowValues&) const = default;
};

// 16-bit entries ended by the first 0xFFFF; only the low byte is sent.
constexpr uint16_t kFrameEnd = 0xFFFF;
constexpr int kFrameEntries = 256;
using TCommandFrame = std::array<uint16_t, kFrameEntries>;

struct TEncodedCommand {
    TCommandFrame CommandFrame;
    int ReplyLength = 0;      // 0..33; 0: no reply awaited
    bool RepeatFlag = false;  // send the row again after this exchange
};

TEncodedCommand EncodeCommand(const TCommandRowValues& row);

// Entries before the frame end.
int FrameLength(const TCommandFrame& frame);
// The bytes the frame puts on the line, in order.
std::vector<uint8_t> FrameBytes(const TCommandFrame& frame);

// The repeat test of the status commands: true when this first reply byte is
// the one the command waits for ("Read Status": 0x6B, "Read /Status": 0x62).
bool RepeatSatisfied(int command, uint8_t firstReplyByte);

// A single send of every command but "NOP" runs the presence check first.
bool NeedsPresenceCheck(int command);
// Ask for the pause after the first byte when more than one reply byte comes.
bool PausesAfterFirstByte(int replyLength);
