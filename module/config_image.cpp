#include "module/config_image.h"

#include "common/hex_text.h"
#include "module/config_layout.h"
#include "settings/config_values.h"
#include "settings/conversions.h"

namespace {

using namespace config_layout;

constexpr int kModeCount = 5;
constexpr uint8_t kModeCodes[kModeCount] = {0x01, 0x14, 0x04, 0x09, 0x02};
// Frame bits: bit 3 always, bit 4 eight data bits, bit 5 parity, bit 6 even, bit 7 two stop bits.
constexpr uint8_t kFrameBits[12] = {0x18, 0x78, 0x38, 0x98, 0xF8, 0xB8, 0x08, 0x68, 0x28, 0x88, 0xE8, 0xA8};
// Peripheral mode takes the code the Set UART command sends for the item.
constexpr uint8_t kModuleBaudCode[8] = {4, 0, 1, 2, 3, 5, 6, 7};

template <size_t N>
uint8_t Lookup(const uint8_t (&table)[N], int item)
{
    return item >= 0 && size_t(item) < N ? table[item] : 0x00;
}

uint8_t Item(int item, int count) { return item >= 0 && item < count ? uint8_t(item) : 0; }

uint8_t HexPair(const QString& text, int start) { return uint8_t(HexSubstringValue(text, start, 2) & 0xFF); }

TConfigImage MakeTemplate()
{
    TConfigImage t{};
    static const uint8_t channels[48] = {
        0xD8, 0x08, 0x38, 0xD8, 0xDC, 0x0C, 0x3C, 0xDC, 0xE0, 0x10, 0x40, 0xE0, 0xE4, 0x14, 0x44, 0xE4,
        0xB8, 0xE8, 0x18, 0xB8, 0xBC, 0xEC, 0x1C, 0xBC, 0xC0, 0xF0, 0x20, 0xC0, 0xC4, 0xF4, 0x24, 0xC4,
        0xC8, 0xF8, 0x28, 0xC8, 0xCC, 0xFC, 0x2C, 0xCC, 0xD0, 0x00, 0x30, 0xD0, 0xD4, 0x04, 0x34, 0xD4};
    for (int i = 0; i < 48; ++i) t[size_t(i)] = channels[i];
    t[0x64] = 0x1F;
    t[0x65] = 0x1B;
    // 0x68-0x79: 02 01, "ATD" and five 0x00, "+++", "ATH" and two 0x00.
    static const uint8_t fixed[] = {0x02, 0x01, 'A', 'T', 'D', 0, 0, 0, 0, 0, '+', '+', '+', 'A', 'T', 'H', 0, 0};
    for (size_t i = 0; i < sizeof fixed; ++i) t[0x68 + i] = fixed[i];
    for (int i = 0x7C; i <= 0x7F; ++i) t[size_t(i)] = 0xFF;
    return t;
}

}  // namespace

const TConfigImage& ConfigTemplate()
{
    static const TConfigImage t = MakeTemplate();
    return t;
}

uint8_t PowerUpRateRoleByte(int mode, int rfDataRateItem, int masterSlaveItem)
{
    const int r = 4 - Item(rfDataRateItem, 5);
    const uint8_t pointA = masterSlaveItem == 0 ? 0x40 : 0x00;
    switch (mode) {
    case 0:  // Cable Link
    case 3:  // Remote Control
        return uint8_t(0xA1 + 4 * r + pointA);
    case 1:  // Command
    case 4:  // AT Command
        return uint8_t(0x81 + 4 * r + 0x40);
    default:  // Peripheral
        return uint8_t(0x81 + 4 * r);
    }
}

uint8_t PowerUpUARTByte(int mode, int baudItem, int bitsItem, int uartEnableItem)
{
    const uint8_t frame = Lookup(kFrameBits, bitsItem);
    switch (mode) {
    case 2:  // Peripheral
        return uartEnableItem == 0 ? uint8_t(Lookup(kModuleBaudCode, baudItem) | frame) : 0x00;
    case 3:  // Remote Control
        return 0x00;
    default:
        return uint8_t(Item(baudItem, 8) | frame);
    }
}

uint8_t PowerUpModeCode(int mode) { return Lookup(kModeCodes, mode); }

TConfigImage ConfigImage(const TConfigValues& v, int* rejected)
{
    int beeps = 0;
    TConfigImage img = ConfigTemplate();

    // Channels 12-15: three steps and the first one again.
    for (int ch = 0; ch < 4; ++ch) {
        uint8_t steps[3];
        for (int k = 0; k < 3; ++k) {
            QString text = v.channels[size_t(ch * 3 + k)];
            bool beep = false;
            steps[k] = uint8_t(int8_t(NormalizeChannelFrequency(text, &beep)));
            beeps += beep;
        }
        const int off = kOffChannels12 + 4 * ch;
        img[size_t(off)] = steps[0];
        img[size_t(off + 1)] = steps[1];
        img[size_t(off + 2)] = steps[2];
        img[size_t(off + 3)] = steps[0];
    }

    for (int j = 0; j < 16; ++j) img[size_t(kOffKey + j)] = HexPair(v.key, 2 * j + 1);

    const uint8_t addrLow = HexPair(v.address, 3);
    const uint8_t addrHigh = HexPair(v.address, 1);
    img[kOffAddress] = addrLow;
    img[kOffAddress + 1] = addrHigh;
    img[kOffAddressAgain] = addrLow;
    img[kOffAddressAgain + 1] = addrHigh;

    {
        QString text = v.temperature;
        bool beep = false;
        const auto t = uint16_t(int16_t(ParseTemperatureOffset(text, &beep)));
        beeps += beep;
        img[kOffTemperature] = uint8_t(t & 0xFF);
        img[kOffTemperature + 1] = uint8_t(t >> 8);
    }
    {
        QString text = v.customBaud;
        bool beep = false;
        const auto d = uint16_t(BaudDivisor(ParseCustomBaud(text, &beep)));
        beeps += beep;
        img[kOffDivisor] = uint8_t(d & 0xFF);
        img[kOffDivisor + 1] = uint8_t(d >> 8);
    }

    const bool remote = v.mode == 3;
    uint8_t low = 0, high = 0;
    if (remote) {
        for (int i = 0; i < 8; ++i) {
            if (v.outputPins[size_t(i)]) low |= uint8_t(1 << i);
            if (v.outputPins[size_t(i + 8)]) high |= uint8_t(1 << i);
        }
    }
    img[kOffPinsLow] = low;
    img[kOffPinsHigh] = high;
    img[kOffChannel] = uint8_t(Item(v.channel, 16) * 4);
    img[kOffRateRole] = PowerUpRateRoleByte(v.mode, v.rfDataRate, v.masterSlave);
    img[kOffUART] = PowerUpUARTByte(v.mode, v.baudRate, v.bitSettings, v.uartEnable);
    img[kOffFlow] = remote ? 0x00 : Item(v.flowControl, 2);
    img[kOffMode] = PowerUpModeCode(v.mode);
    img[kOffMode + 1] = 0x00;

    if (rejected) *rejected = beeps;
    return img;
}

void SetImageUnitAddress(TConfigImage& image, int address)
{
    using namespace config_layout;
    image[kOffAddress] = image[kOffAddressAgain] = uint8_t(address & 0xFF);
    image[kOffAddress + 1] = image[kOffAddressAgain + 1] = uint8_t((address >> 8) & 0xFF);
}

int ImageUnitAddress(const TConfigImage& image)
{
    using namespace config_layout;
    if (image[kOffAddress] != image[kOffAddressAgain] || image[kOffAddress + 1] != image[kOffAddressAgain + 1]) return -1;
    return image[kOffAddress] | (image[kOffAddress + 1] << 8);
}
