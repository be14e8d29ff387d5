#pragma once
// TSerialDevice on a Linux tty: termios for the line, ioctls for queues and
// modem lines, poll for waiting. Every system call of the port lives here.
#include <string>

#include "serial/serial_device.h"

class TTermiosDevice : public TSerialDevice {
public:
    TTermiosDevice() = default;
    ~TTermiosDevice() override;
    TTermiosDevice(const TTermiosDevice&) = delete;
    TTermiosDevice& operator=(const TTermiosDevice&) = delete;

    int Open(const std::string& path) override;
    void Close() override;
    bool IsOpen() const override { return fd_ >= 0; }
    int ApplyLineSettings(const TDCBRecord& dcb) override;
    int SetQueueSizes(int32_t input, int32_t output) override;
    int Write(const char* data, int32_t count, int32_t timeoutMs, int32_t* written) override;
    int Read(char* data, int32_t count, int32_t* got) override;
    int InQueue(int32_t* count) override;
    int OutQueue(int32_t* count) override;
    int Purge(bool input, bool output) override;
    int ModemStatus(uint8_t* lines, bool* present) override;
    int Counters(TSerialCounters* counters, bool* present) override;
    int Wait(bool wantRead, bool wantWrite, int timeoutMs, int wakeFd, TDeviceWaitResult* result) override;

    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};
