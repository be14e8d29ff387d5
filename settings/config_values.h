#pragma once
// What the Config Memory page holds, as read from its controls: the field
// texts as they stand and the item index of every choice. Defaults are the
// page's start values.
#include <QString>
#include <array>

struct TConfigValues {
    QString key = QStringLiteral("1F2E3D4C5B6A79880F1E2D3C4B5A6978");
    // ChannelAEdit .. ChannelLEdit: channels 12 to 15, three fields each.
    std::array<QString, 12> channels = {
        QStringLiteral("915.064"), QStringLiteral("915.064"), QStringLiteral("915.064"),
        QStringLiteral("915.064"), QStringLiteral("915.064"), QStringLiteral("915.064"),
        QStringLiteral("915.064"), QStringLiteral("915.064"), QStringLiteral("915.064"),
        QStringLiteral("915.064"), QStringLiteral("915.064"), QStringLiteral("915.064")};
    QString temperature = QStringLiteral("0");
    QString customBaud = QStringLiteral("300");

    int mode = 0;         // 0 "Cable Link", 1 "Command", 2 "Peripheral", 3 "Remote Control", 4 "AT Command"
    int rfDataRate = 0;   // 0 "76800 bps" .. 4 "4800 bps"
    int channel = 0;      // 0 "Channel 0" .. 15 "Channel 15"
    int masterSlave = 0;  // 0 "Point A", 1 "Point B"
    int uartEnable = 0;   // 0 "UART Enable", 1 "UART Disable", -1 typed text matching neither
    int baudRate = 0;     // 0 "115200 baud" .. 6 "1200 baud", 7 "Custom"
    int bitSettings = 0;  // 0 "8,n,1" .. 11 "7,o,2"
    int flowControl = 0;  // 0 "Hardware", 1 "None"
    // Header pins: outputPins[i] is PURCIO(i+1); pin 1 starts checked.
    std::array<bool, 16> outputPins = {true};
    QString address = QStringLiteral("FFFE");

    bool operator==(const TConfigValues&) const = default;
};
