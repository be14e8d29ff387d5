#pragma once
// The command-mode commands a row can hold: their item indices, the texts of
// the command list and of the list parameters, and the codes those lists
// stand for on the wire.
#include <QStringList>
#include <cstdint>

namespace cmd {
// Item indices of a row's command combo (0: no command).
enum : int {
    None = 0,
    Connect = 1,
    Disconect = 2,
    ReadStatus = 3,
    ReadNotStatus = 4,
    WriteRegisters = 5,
    ReadRegisters = 6,
    WriteFlash = 7,
    EraseFlash = 8,
    ReadFlash = 9,
    SendSerialData = 10,
    Nop = 11,
    SetRFChannel = 12,
    SetRFDataRate = 13,
    SetUART = 14,
    SelectADChannel = 15,
    ReadAD = 16,
    SetPortDirection = 17,
    SetPortPins = 18,
    ReadPortPins = 19,
    ReadVersion = 20,
    ReadRFStatus = 21,
    Count = 22,
};
}  // namespace cmd

// Items of the command combo: the empty item, then the 21 commands.
const QStringList& CommandItems();

// Items of the list parameters, top item first.
const QStringList& RFChannelItems();
const QStringList& RFDataRateItems();
const QStringList& UartBaudItems();
const QStringList& UartFormatItems();
const QStringList& UartFlowItems();
const QStringList& ADChannelItems();

// Wire codes of the list items; out-of-range items give the top item's code.
uint8_t RFChannelCode(int item);
uint8_t RFDataRateCode(int item);
uint8_t UartBaudCode(int item);
uint8_t UartFormatCode(int item);
uint8_t ADChannelCode(int item);
