#pragma once
// Software flow control off for the run of an operation with the module.
// Its replies and the flash image are binary: with XON/XOFF on, the line
// takes their bytes 0x11 and 0x13 for flow control, so they never arrive as
// data and a received 0x13 stops our output.
class TCustomComPort;

class TXonXoffSuspend {
public:
    // Clears XON/XOFF both ways; takes effect at once on an open port.
    explicit TXonXoffSuspend(TCustomComPort& port);
    // Puts both back as they were, also when a port error unwinds the run.
    ~TXonXoffSuspend();
    TXonXoffSuspend(const TXonXoffSuspend&) = delete;
    TXonXoffSuspend& operator=(const TXonXoffSuspend&) = delete;

private:
    void Restore();
    TCustomComPort& port_;
    bool in_;
    bool out_;
};
