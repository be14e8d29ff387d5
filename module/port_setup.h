#pragma once
// The Com Port page's choices as a plain record, and how "Open Port" applies
// them to the port. "Program Config" restores the flow control the same way.
#include <QString>

class TCustomComPort;

struct TPortChoices {
    QString port = QStringLiteral("COM1");
    int baudItem = 1;    // 0 "115200 baud" .. 7 "300 baud"
    int dataItem = 0;    // 0 "8 Bit", 1 "7 Bit"
    int parityItem = 0;  // 0 "None", 1 "Odd", 2 "Even"
    int stopItem = 0;    // 0 "1", 1 "2"
    int flowItem = 0;    // 0 "RTS/CTS", 1 "DTR/DSR", 2 "Xon/Xoff", 3 "None"
};

// Flow-control item to the port's members. Each item sets the same members
// whatever was chosen before: "Xon/Xoff" also enables DTR and clears DSR
// out-flow, "None" also clears XON/XOFF.
void ApplyFlowControlItem(TCustomComPort& port, int item);

// The flow control of a programming run: no handshaking, DTR and RTS held
// on. XON/XOFF is cleared as well: the image is binary, and its bytes 0x11
// and 0x13 must reach the module as data, not stop the line.
void ApplyProgrammingFlowControl(TCustomComPort& port);

// Baud, data length, parity, stop bits, flow control and the port name, in
// the order "Open Port" applies them. Does not open the port.
void ApplyPortChoices(TCustomComPort& port, const TPortChoices& choices);
