#include "module/port_setup.h"

#include "module/stop_flag.h"
#include "serial/com_port.h"

void ApplyFlowControlItem(TCustomComPort& port, int item)
{
    TComFlowControl& fc = port.FlowControl();
    switch (item) {
    case 0:  // RTS/CTS
        fc.SetFlowControl(fcHardware);
        fc.SetControlDTR(dtrEnable);
        fc.SetControlRTS(rtsHandshake);
        fc.SetOutDSRFlow(false);
        fc.SetOutCTSFlow(true);
        break;
    case 1:  // DTR/DSR
        fc.SetFlowControl(fcHardware);
        fc.SetControlDTR(dtrHandshake);
        fc.SetControlRTS(rtsEnable);
        fc.SetOutDSRFlow(true);
        fc.SetOutCTSFlow(false);
        break;
    case 2:  // Xon/Xoff; DTR and DSR reset so the result never depends on the previous item
        fc.SetFlowControl(fcSoftware);
        fc.SetControlDTR(dtrEnable);
        fc.SetOutDSRFlow(false);
        break;
    default:  // None (XON/XOFF cleared for the same reason): the programming run's line
        ApplyProgrammingFlowControl(port);
        break;
    }
}

void ApplyProgrammingFlowControl(TCustomComPort& port)
{
    TComFlowControl& fc = port.FlowControl();
    fc.SetFlowControl(fcCustom);
    fc.SetControlDTR(dtrEnable);
    fc.SetControlRTS(rtsEnable);
    fc.SetOutDSRFlow(false);
    fc.SetOutCTSFlow(false);
    fc.SetXonXoffIn(false);
    fc.SetXonXoffOut(false);
}

void ApplyPortChoices(TCustomComPort& port, const TPortChoices& c)
{
    static const TBaudRate rates[] = {br115200, br57600, br38400, br19200, br9600, br2400, br1200, br300};
    if (c.baudItem >= 0 && c.baudItem < 8) port.SetBaudRate(rates[c.baudItem]);
    port.SetDataBits(c.dataItem == 1 ? dbSeven : dbEight);
    switch (c.parityItem) {
    case 1: port.Parity().SetBits(prOdd); port.Parity().SetCheck(true); break;
    case 2: port.Parity().SetBits(prEven); port.Parity().SetCheck(true); break;
    default: port.Parity().SetBits(prNone); port.Parity().SetCheck(false); break;
    }
    port.SetStopBits(c.stopItem == 1 ? sbTwoStopBits : sbOneStopBit);
    ApplyFlowControlItem(port, c.flowItem);
    port.SetPort(c.port);
}

TFlowControlRestore::~TFlowControlRestore()
{
    try {
        Restore();
    } catch (...) {
    }
}

void TFlowControlRestore::SwitchToProgramming()
{
    if (!port_.Connected()) return;
    armed_ = true;
    port_.SetConnected(false);
    ApplyProgrammingFlowControl(port_);
    port_.OpenPort();
}

void TFlowControlRestore::Restore()
{
    if (!armed_) return;
    armed_ = false;
    const bool open = port_.Connected();
    if (open) port_.SetConnected(false);
    ApplyFlowControlItem(port_, flowItem_);
    if (open && !(stop_ && stop_->Requested())) port_.OpenPort();
}
