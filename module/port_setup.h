#pragma once
// The Com Port page's choices as a plain record, and how "Open Port" applies
// them to the port. "Program Config" restores the flow control the same way.
#include <QString>

class TCustomComPort;
class TStopFlag;

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

// A programming run's flow control and the way back: SwitchToProgramming
// puts an open port on the programming line (closed, set, reopened);
// Restore, or the destructor, puts the given item back as "Open Port"
// applies it, once, and reopens the port unless the run was stopped (the
// window closed: the port goes). While a port error unwinds, that error is
// the one reported, never one of the restore.
class TFlowControlRestore {
public:
    TFlowControlRestore(TCustomComPort& port, int flowItem, const TStopFlag* stop = nullptr)
        : port_(port), flowItem_(flowItem), stop_(stop) {}
    ~TFlowControlRestore();
    TFlowControlRestore(const TFlowControlRestore&) = delete;
    TFlowControlRestore& operator=(const TFlowControlRestore&) = delete;

    // Nothing changes on a closed port, and nothing is restored then.
    void SwitchToProgramming();
    void Restore();

private:
    TCustomComPort& port_;
    int flowItem_;
    const TStopFlag* stop_;
    bool armed_ = false;
};
