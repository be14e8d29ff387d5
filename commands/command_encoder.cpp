#include "commands/command_encoder.h"

#include <algorithm>

#include "commands/command_catalogue.h"
#include "common/hex_text.h"

namespace {

class TFrameWriter {
public:
    explicit TFrameWriter(TCommandFrame& frame) : frame_(frame) { frame_.fill(kFrameEnd); }
    // Stored as given: a 0xFFFF entry ends the frame at that point.
    void Add(uint16_t entry)
    {
        if (pos_ < kFrameEntries - 1) frame_[size_t(pos_++)] = entry;
    }

private:
    TCommandFrame& frame_;
    int pos_ = 0;
};

const TCommandParam& Param(const TCommandRowValues& row, int position)
{
    static const TCommandParam empty;
    const size_t i = size_t(position - 1);
    return i < row.params.size() ? row.params[i] : empty;
}

uint16_t HexAt(const TCommandRowValues& row, int position, int start, int count)
{
    return HexSubstringValue(Param(row, position).text, start, count);
}

// count + 1 data bytes from the data text; a byte that does not decode ends
// the frame, so the loop stops there too.
void AddData(TFrameWriter& w, const QString& data, int count)
{
    for (int k = 0; k <= count; ++k) {
        const uint16_t b = HexSubstringValue(data, 2 * k + 1, 2);
        w.Add(b);
        if (b == kFrameEnd) break;
    }
}

// Pin 1 ends in bit 0 of the first byte, pin 16 in bit 7 of the second.
uint8_t PinByte(const TCommandRowValues& row, int firstPin)
{
    uint8_t b = 0;
    for (int pin = firstPin; pin < firstPin + 8; ++pin) {
        b = static_cast<uint8_t>(b >> 1);
        if (Param(row, pin).checked) b |= 0x80;
    }
    return b;
}

}  // namespace

TEncodedCommand EncodeCommand(const TCommandRowValues& row)
{
    TEncodedCommand e;
    TFrameWriter w(e.CommandFrame);

    // Address: one digit; length: two digits. The count sent in the header
    // and the number of data bytes both use the masked length, so the frame
    // never claims fewer bytes than it carries.
    const auto addr = [&] { return HexAt(row, 1, 1, 1); };
    const auto len = [&] { return HexAt(row, 2, 1, 2); };

    switch (row.command) {
    case cmd::Connect:
        w.Add(0x00);
        w.Add(HexAt(row, 1, 3, 2));
        w.Add(HexAt(row, 1, 1, 2));
        e.ReplyLength = 1;
        break;
    case cmd::Disconect:
        w.Add(0x01);
        e.ReplyLength = 1;
        break;
    case cmd::ReadStatus:
    case cmd::ReadNotStatus:
        w.Add(row.command == cmd::ReadStatus ? 0x02 : 0x03);
        e.ReplyLength = 1;
        e.RepeatFlag = Param(row, 1).checked;
        break;
    case cmd::WriteRegisters: {
        const int n = len() & 7;
        w.Add(0x20);
        w.Add(uint16_t(((addr() & 7) << 4) | n));
        AddData(w, Param(row, 3).text, n);
        e.ReplyLength = 1;
        break;
    }
    case cmd::ReadRegisters: {
        const int n = len() & 7;
        w.Add(0x21);
        w.Add(uint16_t(((addr() & 7) << 4) | n));
        e.ReplyLength = n + 2;
        break;
    }
    case cmd::WriteFlash: {
        const int n = len() & 0x1F;
        w.Add(0x30);
        w.Add(uint16_t(((addr() & 7) << 5) | n));
        AddData(w, Param(row, 3).text, n);
        e.ReplyLength = 1;
        break;
    }
    case cmd::EraseFlash:
        w.Add(0x40);
        e.ReplyLength = 2;
        break;
    case cmd::ReadFlash: {
        const int n = len() & 0x1F;
        w.Add(0x31);
        w.Add(uint16_t(((addr() & 7) << 5) | n));
        e.ReplyLength = n + 2;
        break;
    }
    case cmd::SendSerialData: {
        const int n = len() & 0x1F;
        w.Add(0x50);
        w.Add(uint16_t(n));
        AddData(w, Param(row, 3).text, n);
        e.ReplyLength = 1;
        break;
    }
    case cmd::Nop: {
        // A count that does not decode means as many as a frame holds.
        const int n = std::min<int>(HexAt(row, 1, 1, 2), 255);
        for (int i = 0; i < n; ++i) w.Add(0xFF);
        e.ReplyLength = 0;
        break;
    }
    case cmd::SetRFChannel:
        w.Add(0x20);
        w.Add(0x50);
        w.Add(RFChannelCode(Param(row, 1).item));
        e.ReplyLength = 1;
        break;
    case cmd::SetRFDataRate:
        w.Add(0x20);
        w.Add(0x60);
        w.Add(RFDataRateCode(Param(row, 1).item));
        e.ReplyLength = 1;
        break;
    case cmd::SetUART:
        // The flow list has the one item "Hardware", which adds nothing.
        w.Add(0x20);
        w.Add(0x70);
        w.Add(uint16_t((UartBaudCode(Param(row, 1).item) + UartFormatCode(Param(row, 2).item)) & 0xFF));
        e.ReplyLength = 1;
        break;
    case cmd::SelectADChannel:
        w.Add(0x20);
        w.Add(0x40);
        w.Add(ADChannelCode(Param(row, 1).item));
        e.ReplyLength = 1;
        break;
    case cmd::ReadAD:
        w.Add(0x21);
        w.Add(0x61);
        e.ReplyLength = 3;
        break;
    case cmd::SetPortDirection:
    case cmd::SetPortPins:
        w.Add(0x20);
        w.Add(row.command == cmd::SetPortDirection ? 0x21 : 0x01);
        w.Add(PinByte(row, 1));
        w.Add(PinByte(row, 9));
        e.ReplyLength = 1;
        break;
    case cmd::ReadPortPins:
        w.Add(0x21);
        w.Add(0x41);
        e.ReplyLength = 3;
        break;
    case cmd::ReadVersion:
        w.Add(0x0F);
        e.ReplyLength = 5;
        break;
    case cmd::ReadRFStatus:
        w.Add(0x60);
        e.ReplyLength = 2;
        break;
    default:
        break;
    }
    return e;
}

int FrameLength(const TCommandFrame& frame)
{
    int n = 0;
    while (n < kFrameEntries && frame[size_t(n)] != kFrameEnd) ++n;
    return n;
}

std::vector<uint8_t> FrameBytes(const TCommandFrame& frame)
{
    std::vector<uint8_t> bytes;
    const int n = FrameLength(frame);
    bytes.reserve(size_t(n));
    for (int i = 0; i < n; ++i) bytes.push_back(uint8_t(frame[size_t(i)] & 0xFF));
    return bytes;
}

bool RepeatSatisfied(int command, uint8_t firstReplyByte)
{
    return (command == cmd::ReadStatus && firstReplyByte == 0x6B) ||
           (command == cmd::ReadNotStatus && firstReplyByte == 0x62);
}

bool NeedsPresenceCheck(int command) { return command != cmd::Nop; }

bool PausesAfterFirstByte(int replyLength) { return replyLength > 1; }
