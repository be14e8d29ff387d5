#include "commands/command_catalogue.h"

#include <array>

namespace {

template <size_t N>
uint8_t Code(const std::array<uint8_t, N>& codes, int item)
{
    // A list always has a selection; should it have none, the top item stands in.
    if (item < 0 || item >= int(N)) item = 0;
    return codes[size_t(item)];
}

constexpr std::array<uint8_t, 5> kRFDataRate = {0x10, 0x0C, 0x08, 0x04, 0x00};
constexpr std::array<uint8_t, 8> kUartBaud = {0x04, 0x00, 0x01, 0x02, 0x03, 0x05, 0x06, 0x07};
// 0x08 always, 0x10 for 8 data bits, 0x20 odd / 0x60 even parity, 0x80 two stop bits.
constexpr std::array<uint8_t, 12> kUartFormat = {0x18, 0x78, 0x38, 0x98, 0xF8, 0xB8,
                                                 0x08, 0x68, 0x28, 0x88, 0xE8, 0xA8};
constexpr std::array<uint8_t, 7> kADChannel = {0x04, 0x03, 0x07, 0x06, 0x02, 0x0A, 0x0B};

}  // namespace

const QStringList& CommandItems()
{
    static const QStringList items = {
        QString(),
        QStringLiteral("Connect"),
        QStringLiteral("Disconect"),
        QStringLiteral("Read Status"),
        QStringLiteral("Read /Status"),
        QStringLiteral("Write Registers"),
        QStringLiteral("Read Registers"),
        QStringLiteral("Write Flash"),
        QStringLiteral("Erase Flash"),
        QStringLiteral("Read Flash"),
        QStringLiteral("Send Serial Data"),
        QStringLiteral("NOP"),
        QStringLiteral("Set RF Channel"),
        QStringLiteral("Set RF Data Rate"),
        QStringLiteral("Set UART"),
        QStringLiteral("Select A/D Channel"),
        QStringLiteral("Read A/D"),
        QStringLiteral("Set Port Direction"),
        QStringLiteral("Set Port Pins"),
        QStringLiteral("Read Port Pins"),
        QStringLiteral("Read Version"),
        QStringLiteral("Read RF Status"),
    };
    return items;
}

const QStringList& RFChannelItems()
{
    static const QStringList items = [] {
        QStringList l;
        for (int i = 0; i < 16; ++i) l << QStringLiteral("Channel %1").arg(i);
        return l;
    }();
    return items;
}

const QStringList& RFDataRateItems()
{
    static const QStringList items = {QStringLiteral("76800 bps"), QStringLiteral("38400 bps"),
                                      QStringLiteral("19200 bps"), QStringLiteral("9600 bps"),
                                      QStringLiteral("4800 bps")};
    return items;
}

const QStringList& UartBaudItems()
{
    static const QStringList items = {QStringLiteral("115200 baud"), QStringLiteral("57600 baud"),
                                      QStringLiteral("38400 baud"),  QStringLiteral("19200 baud"),
                                      QStringLiteral("9600 baud"),   QStringLiteral("2400 baud"),
                                      QStringLiteral("1200 baud"),   QStringLiteral("Custom")};
    return items;
}

const QStringList& UartFormatItems()
{
    static const QStringList items = {QStringLiteral("8,n,1"), QStringLiteral("8,e,1"), QStringLiteral("8,o,1"),
                                      QStringLiteral("8,n,2"), QStringLiteral("8,e,2"), QStringLiteral("8,o,2"),
                                      QStringLiteral("7,n,1"), QStringLiteral("7,e,1"), QStringLiteral("7,o,1"),
                                      QStringLiteral("7,n,2"), QStringLiteral("7,e,2"), QStringLiteral("7,o,2")};
    return items;
}

const QStringList& UartFlowItems()
{
    static const QStringList items = {QStringLiteral("Hardware")};
    return items;
}

const QStringList& ADChannelItems()
{
    static const QStringList items = {QStringLiteral("Pin 5"),  QStringLiteral("Pin 6"),
                                      QStringLiteral("Pin 7"),  QStringLiteral("Pin 8"),
                                      QStringLiteral("Pin 12"), QStringLiteral("Temperature"),
                                      QStringLiteral("VCC Voltage")};
    return items;
}

uint8_t RFChannelCode(int item)
{
    if (item < 0 || item > 15) item = 0;
    return static_cast<uint8_t>(item * 4);
}

uint8_t RFDataRateCode(int item) { return Code(kRFDataRate, item); }
uint8_t UartBaudCode(int item) { return Code(kUartBaud, item); }
uint8_t UartFormatCode(int item) { return Code(kUartFormat, item); }
uint8_t ADChannelCode(int item) { return Code(kADChannel, item); }
