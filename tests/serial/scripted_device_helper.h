#pragma once
// A serial line the test scripts: modem lines, ring pulses, line errors, a
// transmit queue that can be held, a hang-up. TScriptedDevice objects made by
// Factory() share one TScriptedLine, so the test keeps scripting it across
// close and reopen.
#include <QByteArray>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/com_port.h"
#include "serial/serial_device.h"

class TScriptedLine {
public:
    // --- what the test does to the line ---
    void Receive(const QByteArray& bytes);
    void SetModem(uint8_t lines);  // ms:: bits
    // Changes the lines and adds ring pulses in one step (one event batch).
    void Change(uint8_t lines, int ringPulses);
    void AddErrors(int frame, int parity, int overrun, int brk);
    void SetTxHeld(bool held, int32_t capacity = 4096);  // held: bytes stay in the transmit queue
    void ReleaseTx();                                     // sends what is held
    void HangUp();
    void SetHasModemLines(bool v);
    void SetOpenError(int e);
    void SetApplyError(int e);
    // Called (outside the line's lock) by every OutQueue after the count is
    // taken, on whichever thread asks: lets a test act between a look at the
    // transmit queue and what the caller does with it.
    void SetOutQueueHook(std::function<void()> hook);

    // --- what the test reads back ---
    QByteArray Sent() const;
    int32_t TxQueued() const;
    int Opens() const;
    int ModemLooks() const;  // ModemStatus calls so far
    int Closes() const;
    std::string OpenedPath() const;
    std::vector<TDCBRecord> Applied() const;

    // A factory for TCustomComPort::SetDeviceFactory.
    TCustomComPort::DeviceFactory Factory();

private:
    friend class TScriptedDevice;
    mutable std::mutex m_;
    std::condition_variable cv_;
    QByteArray rx_, sent_, held_;
    bool txHeld_ = false;
    int32_t txCapacity_ = 4096;
    bool hasModemLines_ = true;
    uint8_t modem_ = 0;
    TSerialCounters counters_;
    bool hungUp_ = false;
    int openError_ = 0, applyError_ = 0;
    int opens_ = 0, closes_ = 0, modemLooks_ = 0;
    std::string path_;
    std::vector<TDCBRecord> applied_;
    std::function<void()> outQueueHook_;
};

class TScriptedDevice : public TSerialDevice {
public:
    explicit TScriptedDevice(std::shared_ptr<TScriptedLine> line) : line_(std::move(line)) {}
    int Open(const std::string& path) override;
    void Close() override;
    bool IsOpen() const override { return open_; }
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

private:
    std::shared_ptr<TScriptedLine> line_;
    bool open_ = false;
};
