#pragma once
// The power-up panel's fixed tables: the items of its choices, the header
// pins' fixed states, and which rows each mode shows.
#include <QStringList>

namespace powerup {

enum TPowerUpMode { pmCableLink = 0, pmCommand = 1, pmPeripheral = 2, pmRemoteControl = 3, pmATCommand = 4 };

QStringList ModeItems();
QStringList RFDataRateItems();
QStringList ChannelItems();
QStringList MasterSlaveItems();
QStringList UARTEnableItems();
QStringList BaudRateItems();
QStringList BitSettingsItems();
QStringList FlowControlItems();

// Header pin (1..16): fixed pins cannot be changed by the user.
bool PinFixed(int pin);
bool PinStartsChecked(int pin);

// Rows shown for a mode; in Peripheral the UART settings follow the
// UART enable item (0 "UART Enable").
struct TVisibility {
    bool rfDataRate = false;
    bool channel = false;
    bool masterSlave = false;
    bool uartEnable = false;
    bool uartSettings = false;
    bool outputs = false;
    bool address = false;
    bool note3 = false;
};
TVisibility VisibilityFor(int mode, int uartEnableItem = 0);

}  // namespace powerup
