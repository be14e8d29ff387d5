#include "module/config_decoder.h"

#include <array>
#include <cmath>
#include <optional>

#include "common/hex_text.h"
#include "common/message_lines.h"
#include "module/config_layout.h"
#include "settings/conversions.h"
#include "settings/power_up_rules.h"

namespace {

using namespace config_layout;

constexpr int kMinStep = -94;
constexpr int kMaxStep = 93;

// Rates a person is likely to have typed; one of them is shown when its
// divisor matches, before the rate nearest the module's actual one.
constexpr int kCommonBauds[] = {75,    110,   150,   300,   600,   1200,  1800,  2400,   4800,  7200,  9600,
                                14400, 19200, 28800, 31250, 38400, 56000, 57600, 76800, 115200, 128000};

using TReasons = std::array<std::optional<TDecodeReason>, 128>;

// A custom baud the field accepts whose divisor is d; nullopt when none.
std::optional<int> BaudForDivisor(int d)
{
    if (d < 1 || d > kMaxBaudDivisor) return std::nullopt;
    for (int b : kCommonBauds)
        if (BaudDivisor(b) == d) return b;
    const long double exact = kBaudClock / d;
    const long lo = std::max<long>(kMinCustomBaud, long(std::floor(kBaudClock / (d + 0.5L))) - 1);
    const long hi = std::min<long>(kMaxCustomBaud, long(std::ceil(kBaudClock / (d - 0.5L))) + 1);
    std::optional<int> best;
    long double bestDistance = 0;
    for (long b = lo; b <= hi; ++b) {
        if (BaudDivisor(int(b)) != d) continue;
        const long double distance = std::fabs(b - exact);
        if (!best || distance < bestDistance) {
            best = int(b);
            bestDistance = distance;
        }
    }
    return best;
}

int ModeOfCode(uint8_t code)
{
    for (int m = 0; m < 5; ++m)
        if (PowerUpModeCode(m) == code) return m;
    return -1;
}

// The "Power up" bits item whose frame bits are these; -1 when none.
int BitsItemOfFrame(uint8_t frame)
{
    for (int item = 0; item < 12; ++item)
        if (PowerUpUARTByte(powerup::pmCommand, 0, item, 0) == frame) return item;
    return -1;
}

// Baud list item whose code in this mode is the given one; -1 when none.
int BaudItemOfCode(int mode, uint8_t code)
{
    for (int item = 0; item < 8; ++item)
        if ((PowerUpUARTByte(mode, item, 0, 0) & 0x07) == code) return item;
    return -1;
}

// Offsets no field or choice writes: the template's, and the constants.
bool IsFixedOffset(int offset)
{
    return offset < kOffChannels12 || offset == 0x50 || offset == 0x51 || offset == 0x54 ||
           (offset >= 0x58 && offset <= 0x5B) || offset == 0x5D || offset == 0x64 || offset == 0x65 ||
           (offset >= 0x67 && offset <= 0x79) || offset >= 0x7C;
}

void Note(TReasons& reasons, int offset, TDecodeReason reason)
{
    if (!reasons[size_t(offset)]) reasons[size_t(offset)] = reason;
}

void DecodeChannels(const TConfigImage& img, TConfigValues& v, TReasons& reasons)
{
    for (int ch = 0; ch < 4; ++ch) {
        const int off = kOffChannels12 + 4 * ch;
        for (int k = 0; k < 3; ++k) {
            const int step = int8_t(img[size_t(off + k)]);
            const bool ok = step >= kMinStep && step <= kMaxStep;
            if (!ok) Note(reasons, off + k, TDecodeReason::ChannelStep);
            v.channels[size_t(ch * 3 + k)] = ChannelStepText(ok ? step : 0);
        }
        const bool repeats = img[size_t(off + 3)] == img[size_t(off)];
        Note(reasons, off + 3, repeats ? TDecodeReason::ChannelStep : TDecodeReason::ChannelRepeat);
    }
}

void DecodeFields(const TConfigImage& img, TConfigValues& v, TReasons& reasons)
{
    QString key;
    for (int j = 0; j < 16; ++j) key += HexByte(img[size_t(kOffKey + j)]);
    v.key = key;

    v.address = HexByte(img[kOffAddress + 1]) + HexByte(img[kOffAddress]);
    Note(reasons, kOffAddressAgain, TDecodeReason::AddressCopy);
    Note(reasons, kOffAddressAgain + 1, TDecodeReason::AddressCopy);

    v.temperature = QString::number(int16_t(uint16_t(img[kOffTemperature] | img[kOffTemperature + 1] << 8)));

    const int divisor = img[kOffDivisor] | img[kOffDivisor + 1] << 8;
    const std::optional<int> baud = BaudForDivisor(divisor);
    if (!baud) {
        Note(reasons, kOffDivisor, TDecodeReason::UnknownCode);
        Note(reasons, kOffDivisor + 1, TDecodeReason::UnknownCode);
    }
    v.customBaud = QString::number(baud.value_or(300));
}

void DecodePowerUp(const TConfigImage& img, TConfigValues& v, TReasons& reasons)
{
    using namespace powerup;
    const int mode = ModeOfCode(img[kOffMode]);
    if (mode < 0) Note(reasons, kOffMode, TDecodeReason::UnknownCode);
    v.mode = mode < 0 ? pmCableLink : mode;
    const bool remote = v.mode == pmRemoteControl;

    // 0x55: the channel times four.
    const uint8_t ch = img[kOffChannel];
    if (ch & 0x03) Note(reasons, kOffChannel, TDecodeReason::UnusedBits);
    if ((ch >> 2) > 15) Note(reasons, kOffChannel, TDecodeReason::UnknownCode);
    v.channel = (ch >> 2) <= 15 ? ch >> 2 : 0;

    // 0x56: r in bits 2-4, the role in bit 6 where the mode has one.
    const uint8_t rr = img[kOffRateRole];
    const int r = (rr >> 2) & 0x07;
    if (r > 4) Note(reasons, kOffRateRole, TDecodeReason::UnknownCode);
    v.rfDataRate = r > 4 ? 0 : 4 - r;
    v.masterSlave = (v.mode == pmCableLink || remote) && !(rr & 0x40) ? 1 : 0;

    // 0x57: baud code and frame bits, or nothing.
    const uint8_t uart = img[kOffUART];
    v.uartEnable = 0;
    if (remote) {
        // Nothing of the UART is written; the lists keep their start items.
        if (uart != 0x00) Note(reasons, kOffUART, TDecodeReason::UnusedBits);
    } else if (v.mode == pmPeripheral && uart == 0x00) {
        v.uartEnable = 1;
    } else {
        const int bits = BitsItemOfFrame(uint8_t(uart & 0xF8));
        if (bits < 0) Note(reasons, kOffUART, (uart & 0x08) ? TDecodeReason::UnknownCode : TDecodeReason::UnusedBits);
        v.bitSettings = bits < 0 ? 0 : bits;
        v.baudRate = BaudItemOfCode(v.mode, uint8_t(uart & 0x07));  // every code 0-7 has an item
    }

    // 0x5C: flow control, 0x00 in Remote Control.
    const uint8_t flow = img[kOffFlow];
    if (flow > (remote ? 0 : 1)) Note(reasons, kOffFlow, remote ? TDecodeReason::UnusedBits : TDecodeReason::UnknownCode);
    v.flowControl = !remote && flow <= 1 ? flow : 0;

    // 0x52-0x53: output pins in Remote Control; fixed pins keep their state.
    const int pins = img[kOffPinsLow] | img[kOffPinsHigh] << 8;
    for (int pin = 1; pin <= 16; ++pin) {
        const bool set = (pins >> (pin - 1)) & 1;
        const int off = pin <= 8 ? kOffPinsLow : kOffPinsHigh;
        if (!remote) {
            if (set) Note(reasons, off, TDecodeReason::UnusedBits);
            continue;
        }
        if (PinFixed(pin)) {
            if (set != PinStartsChecked(pin)) Note(reasons, off, TDecodeReason::FixedPin);
            v.outputPins[size_t(pin - 1)] = PinStartsChecked(pin);
        } else {
            v.outputPins[size_t(pin - 1)] = set;
        }
    }
}

}  // namespace

TConfigDecoding DecodeConfigImage(const TConfigImage& image)
{
    TConfigDecoding d;
    TReasons reasons;
    DecodeChannels(image, d.values, reasons);
    DecodeFields(image, d.values, reasons);
    DecodePowerUp(image, d.values, reasons);

    // What the page would write is the judge: every byte that differs is
    // listed, with the reason found while decoding it.
    const TConfigImage again = ConfigImage(d.values);
    for (int i = 0; i < 128; ++i) {
        if (again[size_t(i)] == image[size_t(i)]) continue;
        TConfigDifference diff;
        diff.offset = i;
        diff.found = image[size_t(i)];
        diff.written = again[size_t(i)];
        diff.reason = reasons[size_t(i)].value_or(IsFixedOffset(i) ? TDecodeReason::TemplateByte
                                                                   : TDecodeReason::UnusedBits);
        d.differences.push_back(diff);
    }
    return d;
}

QString DecodeReasonText(TDecodeReason reason)
{
    switch (reason) {
    case TDecodeReason::TemplateByte:
        return QStringLiteral("a fixed byte of the template changed");
    case TDecodeReason::ChannelStep:
        return QStringLiteral("channel step outside -94..+93");
    case TDecodeReason::ChannelRepeat:
        return QStringLiteral("the channel's fourth byte does not repeat its first");
    case TDecodeReason::UnknownCode:
        return QStringLiteral("a code that no item has");
    case TDecodeReason::UnusedBits:
        return QStringLiteral("bits that no control sets");
    case TDecodeReason::FixedPin:
        return QStringLiteral("a header pin the page holds fixed");
    case TDecodeReason::AddressCopy:
        return QStringLiteral("the second copy of the unit address differs");
    }
    return {};
}

QString DifferenceMessage(const std::vector<TConfigDifference>& differences)
{
    QStringList lines = DifferenceMessageLines(differences);
    if (lines.size() < 2) return lines.join(QLatin1Char('\n'));
    const QString heading = lines.takeFirst(), closing = lines.takeLast();
    return (QStringList{heading} + CappedMessageLines(lines) + QStringList{closing}).join(QLatin1Char('\n'));
}

QStringList DifferenceMessageLines(const std::vector<TConfigDifference>& differences)
{
    QStringList lines;
    if (differences.empty()) return lines;
    lines << (differences.size() == 1
                  ? QStringLiteral("The configuration memory holds 1 byte that the Config Memory page cannot show:")
                  : QStringLiteral("The configuration memory holds %1 bytes that the Config Memory page cannot show:")
                        .arg(differences.size()));
    for (const TConfigDifference& d : differences) {
        lines << QStringLiteral("offset %1 (address %2): %3, the page would write %4 (%5)")
                     .arg(QStringLiteral("0x") + HexByte(uint8_t(d.offset)),
                          QStringLiteral("0x") + HexByte(uint8_t(0x80 + d.offset)), HexByte(d.found),
                          HexByte(d.written), DecodeReasonText(d.reason));
    }
    lines << QStringLiteral("\"Program Config\" would replace %1 with what the page would write.")
                 .arg(differences.size() == 1 ? QStringLiteral("it") : QStringLiteral("them"));
    return lines;
}
