#include "module/xon_xoff_suspend.h"

#include "serial/com_port.h"

TXonXoffSuspend::TXonXoffSuspend(TCustomComPort& port)
    : port_(port), in_(port.FlowControl().XonXoffIn()), out_(port.FlowControl().XonXoffOut())
{
    try {
        port_.FlowControl().SetXonXoffIn(false);
        port_.FlowControl().SetXonXoffOut(false);
    } catch (...) {
        // The destructor of a half-built object does not run.
        Restore();
        throw;
    }
}

TXonXoffSuspend::~TXonXoffSuspend() { Restore(); }

void TXonXoffSuspend::Restore()
{
    // A port that failed meanwhile may refuse the settings; they are stored
    // all the same and go out with the next open.
    try {
        port_.FlowControl().SetXonXoffIn(in_);
    } catch (...) {
    }
    try {
        port_.FlowControl().SetXonXoffOut(out_);
    } catch (...) {
    }
}
