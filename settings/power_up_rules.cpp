#include "settings/power_up_rules.h"

namespace powerup {

QStringList ModeItems()
{
    return {QStringLiteral("Cable Link"), QStringLiteral("Command"), QStringLiteral("Peripheral"),
            QStringLiteral("Remote Control"), QStringLiteral("AT Command")};
}

QStringList RFDataRateItems()
{
    return {QStringLiteral("76800 bps"), QStringLiteral("38400 bps"), QStringLiteral("19200 bps"),
            QStringLiteral("9600 bps"), QStringLiteral("4800 bps")};
}

QStringList ChannelItems()
{
    QStringList items;
    for (int i = 0; i < 16; ++i) items << QStringLiteral("Channel %1").arg(i);
    return items;
}

QStringList MasterSlaveItems() { return {QStringLiteral("Point A"), QStringLiteral("Point B")}; }

QStringList UARTEnableItems() { return {QStringLiteral("UART Enable"), QStringLiteral("UART Disable")}; }

QStringList BaudRateItems()
{
    return {QStringLiteral("115200 baud"), QStringLiteral("57600 baud"), QStringLiteral("38400 baud"),
            QStringLiteral("19200 baud"),  QStringLiteral("9600 baud"),  QStringLiteral("2400 baud"),
            QStringLiteral("1200 baud"),   QStringLiteral("Custom")};
}

QStringList BitSettingsItems()
{
    return {QStringLiteral("8,n,1"), QStringLiteral("8,e,1"), QStringLiteral("8,o,1"), QStringLiteral("8,n,2"),
            QStringLiteral("8,e,2"), QStringLiteral("8,o,2"), QStringLiteral("7,n,1"), QStringLiteral("7,e,1"),
            QStringLiteral("7,o,1"), QStringLiteral("7,n,2"), QStringLiteral("7,e,2"), QStringLiteral("7,o,2")};
}

QStringList FlowControlItems() { return {QStringLiteral("Hardware"), QStringLiteral("None")}; }

bool PinFixed(int pin)
{
    // Pin 1 selects the power-up configuration; 11 and 13-16 are no outputs.
    return pin == 1 || pin == 11 || pin >= 13;
}

bool PinStartsChecked(int pin) { return pin == 1; }

TVisibility VisibilityFor(int mode, int uartEnableItem)
{
    TVisibility v;
    v.rfDataRate = true;
    v.channel = true;
    switch (mode) {
    case pmCableLink:
        v.masterSlave = v.uartSettings = v.address = v.note3 = true;
        break;
    case pmCommand:
    case pmATCommand:
        v.uartSettings = true;
        break;
    case pmPeripheral:
        v.uartEnable = v.address = true;
        v.uartSettings = uartEnableItem == 0;
        break;
    case pmRemoteControl:
        v.masterSlave = v.outputs = v.note3 = true;
        break;
    default:
        // No item chosen: only the mode row.
        v.rfDataRate = v.channel = false;
        break;
    }
    return v;
}

}  // namespace powerup
