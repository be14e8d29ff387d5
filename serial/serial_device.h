#pragma once
// The operating system's serial device as the port sees it. Every call
// returns 0 or an errno value; the port turns a failure into its EComPort row.
// Calls may come from the user-interface thread and the event thread at
// once, so an implementation must be safe for that.
#include <cstdint>
#include <string>

struct TDCBRecord;

// Cumulative driver counters (TIOCGICOUNT); the port works with deltas.
struct TSerialCounters {
    uint64_t cts = 0, dsr = 0, rng = 0, dcd = 0;
    uint64_t frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};

// Poll-style result of TSerialDevice::Wait.
struct TDeviceWaitResult {
    bool readable = false;
    bool writable = false;
    bool hangup = false;  // peer gone or device error: further I/O fails
    bool woken = false;   // the wake-up descriptor became readable
};

class TSerialDevice {
public:
    virtual ~TSerialDevice() = default;

    virtual int Open(const std::string& path) = 0;
    // Discards both queues, drops exclusivity and closes; never fails.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    virtual int ApplyLineSettings(const TDCBRecord& dcb) = 0;
    virtual int SetQueueSizes(int32_t input, int32_t output) = 0;

    // Writes up to count bytes, waiting for room until timeoutMs has passed
    // (negative: no limit). *written holds what went out, also on failure.
    virtual int Write(const char* data, int32_t count, int32_t timeoutMs, int32_t* written) = 0;
    // Never waits: *got is 0 when nothing is queued. A hung-up line is EIO.
    virtual int Read(char* data, int32_t count, int32_t* got) = 0;

    virtual int InQueue(int32_t* count) = 0;
    virtual int OutQueue(int32_t* count) = 0;
    // Both false only checks that the device is usable.
    virtual int Purge(bool input, bool output) = 0;

    // Input signals as ms:: bits. *present is false for a device without
    // modem lines (a pseudo-terminal); that is not a failure.
    virtual int ModemStatus(uint8_t* lines, bool* present) = 0;
    // *present is false when the driver keeps no counters.
    virtual int Counters(TSerialCounters* counters, bool* present) = 0;

    // Blocks until the device is readable (wantRead), writable (wantWrite),
    // hangs up, wakeFd (>= 0) is readable, or timeoutMs passed (negative:
    // no limit). A wake-up is not drained here.
    virtual int Wait(bool wantRead, bool wantWrite, int timeoutMs, int wakeFd, TDeviceWaitResult* result) = 0;
};
