#pragma once
// Maps the Win32-style line-settings record onto termios, as a pure function
// so the mapping is tested without a device (a pty forces CS8, no parity).
#include <termios.h>

#include <cstdint>

struct TDCBRecord;

struct TTermiosSettings {
    termios tio{};         // raw mode plus the record's framing and flow flags
    uint32_t baud = 0;     // bits per second
    speed_t speed = 0;     // the Bxxx constant, or 0 when the rate needs BOTHER
    bool dtr = false;      // output line levels to set after the termios
    bool rts = false;
};

// Returns 0, or EINVAL for a record no UART can take (rate 0, 9 data bits...).
int DcbToTermios(const TDCBRecord& dcb, TTermiosSettings* out);

// The Bxxx constant for a standard rate, 0 for any other rate.
speed_t StandardSpeed(uint32_t baud);
