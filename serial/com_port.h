#pragma once
// TCustomComPort / TComPort: the program's one serial-line component.
// Settings live in four small objects with a back-reference to the port;
// every setter compares first and re-applies its group only while open.
// The operating system sits behind TSerialDevice (serial_device.h).
#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "serial/com_types.h"
#include "serial/traffic_log.h"

class TCustomComPort;
class TComThread;
class TSerialDevice;

class TComParity {
public:
    explicit TComParity(TCustomComPort* owner) : owner_(owner) {}
    TParityBits Bits() const { return bits_; }
    bool Check() const { return check_; }
    bool Replace() const { return replace_; }
    char ReplaceChar() const { return replaceChar_; }
    void SetBits(TParityBits v);
    void SetCheck(bool v);
    void SetReplace(bool v);
    void SetReplaceChar(char v);
    void Assign(const TComParity& other);  // copies every member, re-applies once

private:
    friend class TCustomComPort;
    TCustomComPort* owner_;
    TParityBits bits_ = prNone;
    bool check_ = false;
    bool replace_ = false;
    char replaceChar_ = 0;
};

class TComFlowControl {
public:
    explicit TComFlowControl(TCustomComPort* owner) : owner_(owner) {}
    bool OutCTSFlow() const { return outCTSFlow_; }
    bool OutDSRFlow() const { return outDSRFlow_; }
    TDTRFlowControl ControlDTR() const { return controlDTR_; }
    TRTSFlowControl ControlRTS() const { return controlRTS_; }
    bool XonXoffOut() const { return xonXoffOut_; }
    bool XonXoffIn() const { return xonXoffIn_; }
    bool DSRSensitivity() const { return dsrSensitivity_; }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    char XonChar() const { return xonChar_; }
    char XoffChar() const { return xoffChar_; }
    // Derived preset, computed from the members, never stored.
    TFlowControl FlowControl() const;

    void SetOutCTSFlow(bool v);
    void SetOutDSRFlow(bool v);
    void SetControlDTR(TDTRFlowControl v);
    void SetControlRTS(TRTSFlowControl v);
    void SetXonXoffOut(bool v);
    void SetXonXoffIn(bool v);
    void SetDSRSensitivity(bool v);
    void SetTxContinueOnXoff(bool v);
    void SetXonChar(char v);
    void SetXoffChar(char v);
    // Presets: never touch ControlDTR or OutDSRFlow; always re-apply once.
    void SetFlowControl(TFlowControl v);
    void Assign(const TComFlowControl& other);

private:
    friend class TCustomComPort;
    TCustomComPort* owner_;
    bool outCTSFlow_ = false;
    bool outDSRFlow_ = false;
    TDTRFlowControl controlDTR_ = dtrDisable;
    TRTSFlowControl controlRTS_ = rtsDisable;
    bool xonXoffOut_ = false;
    bool xonXoffIn_ = false;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = false;
    char xonChar_ = 0x11;
    char xoffChar_ = 0x13;
};

class TComTimeouts {
public:
    explicit TComTimeouts(TCustomComPort* owner) : owner_(owner) {}
    int32_t ReadInterval() const { return readInterval_; }
    int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
    int32_t ReadTotalConstant() const { return readTotalConstant_; }
    int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
    int32_t WriteTotalConstant() const { return writeTotalConstant_; }
    void SetReadInterval(int32_t v);
    void SetReadTotalMultiplier(int32_t v);
    void SetReadTotalConstant(int32_t v);
    void SetWriteTotalMultiplier(int32_t v);
    void SetWriteTotalConstant(int32_t v);
    void Assign(const TComTimeouts& other);

private:
    friend class TCustomComPort;
    TCustomComPort* owner_;
    int32_t readInterval_ = -1;
    int32_t readTotalMultiplier_ = 0;
    int32_t readTotalConstant_ = 0;
    int32_t writeTotalMultiplier_ = 100;
    int32_t writeTotalConstant_ = 1000;
};

class TComBuffer {
public:
    explicit TComBuffer(TCustomComPort* owner) : owner_(owner) {}
    int32_t InputSize() const { return inputSize_; }
    int32_t OutputSize() const { return outputSize_; }
    void SetInputSize(int32_t v);   // an odd positive size is stored minus one
    void SetOutputSize(int32_t v);
    void Assign(const TComBuffer& other);

private:
    friend class TCustomComPort;
    TCustomComPort* owner_;
    int32_t inputSize_ = 1024;
    int32_t outputSize_ = 1024;
};

// A linked control's notification slots; owned by the control, never by the port.
struct TComLink {
    std::function<void(TCustomComPort*, bool)> OnOpenChange;                    // code 0
    std::function<void(TCustomComPort*, const char*, int)> OnRxData;
    std::function<void(TCustomComPort*, const char*, int)> OnTxData;
    std::function<void(TCustomComPort*)> OnTxEmptied;                          // code 7
    std::function<void(TCustomComPort*)> OnRxFlagged;                          // code 8
    std::function<void(TCustomComPort*, bool)> OnCTSSignal;                     // code 1
    std::function<void(TCustomComPort*, bool)> OnDSRSignal;                     // code 2
    std::function<void(TCustomComPort*, bool)> OnRLSDSignal;                    // code 3
    std::function<void(TCustomComPort*)> OnRingSignal;                          // code 4
    std::function<void(TCustomComPort*, bool)> OnTxActive;                      // code 6
    std::function<void(TCustomComPort*, bool)> OnRxActive;                      // code 5
    // Told when the port is destroyed while the link is still registered.
    std::function<void(TCustomComPort*)> OnPortDestroyed;
    // Told when the open device went away (unplugged, hung up); the port
    // stays open until closed.
    std::function<void(TCustomComPort*)> OnDeviceLost;
};

// The Win32-style line-settings record, computed from the settings as a pure
// function (see MakeDCB) and then mapped to termios.
struct TDCBRecord {
    uint32_t DCBlength = 28;
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
};

class TCustomComPort : public QObject {
    Q_OBJECT
public:
    using DeviceFactory = std::function<std::unique_ptr<TSerialDevice>()>;

    explicit TCustomComPort(QObject* parent = nullptr);
    ~TCustomComPort() override;

    // --- properties ---
    bool Connected() const;
    void SetConnected(bool v);
    TBaudRate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudRate v);
    int32_t CustomBaudRate() const { return customBaudRate_; }
    void SetCustomBaudRate(int32_t v);
    QString Port() const { return port_; }
    void SetPort(const QString& v);
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits v);
    TDataBits DataBits() const { return dataBits_; }
    void SetDataBits(TDataBits v);
    bool DiscardNull() const { return discardNull_; }
    void SetDiscardNull(bool v);
    char EventChar() const { return eventChar_; }
    void SetEventChar(char v);
    TComEvents Events() const { return events_; }
    void SetEvents(TComEvents v);
    TSyncMethod SyncMethod() const { return syncMethod_; }
    void SetSyncMethod(TSyncMethod v);  // code 14 while open
    TComParity& Parity() { return parity_; }
    TComFlowControl& FlowControl() { return flowControl_; }
    TComTimeouts& Timeouts() { return timeouts_; }
    TComBuffer& Buffer() { return buffer_; }
    const TComParity& Parity() const { return parity_; }
    const TComFlowControl& FlowControl() const { return flowControl_; }
    const TComTimeouts& Timeouts() const { return timeouts_; }
    const TComBuffer& Buffer() const { return buffer_; }

    // --- operations ---
    void OpenPort();
    void ClosePort();
    // With stopped: the write waits for room (flow control holding the
    // line) in short slices and ends, with what went out, once stopped()
    // says so.
    int32_t WriteText(const QByteArray& bytes, const std::function<bool()>& stopped = {});
    int32_t ReadBytes(char* buffer, int32_t count);
    int32_t ReadText(QByteArray& text, int32_t count);
    int32_t InQueueCount();
    int32_t OutQueueCount();
    uint8_t CommStatusFlags();
    TComErrors LineErrors();
    uint8_t ModemSignals();
    void PurgeBuffers(bool input, bool output);

    // Blocking waits used by the module exchanges instead of busy loops:
    // return as soon as InQueueCount >= minCount (resp. OutQueueCount == 0)
    // or false when timeoutMs passed. Never dispatch window messages.
    bool WaitForInput(int32_t minCount, int32_t timeoutMs);
    bool WaitForOutputEmpty(int32_t timeoutMs);

    // Every byte written or read (or purged from the receive queue), kept
    // across opens for the traffic window and the traffic file.
    TTrafficLog& Traffic() { return *trafficTo_; }
    // Records into another port's log, tagged with this port's device path
    // (Program Pair's and Find Module's ports feed the panel's log). Set
    // before the port is used; nullptr for its own log again.
    void ShareTraffic(TTrafficLog* log);

    // --- threads ---
    // A port belongs to the thread that made it: its links and events are
    // called there. An operation may run on a worker thread meanwhile: what
    // it does to the port is told to the links on the port's thread, and
    // while it holds the reservation no other thread reads or writes the
    // line (the links do not take its replies, the terminal sends nothing).
    void Reserve();    // for the calling thread
    void Release();
    bool ReservedElsewhere() const;

    // --- links ---
    void RegisterLink(TComLink* link);    // code 18 when already registered
    void UnregisterLink(TComLink* link);  // code 18 when not registered
    bool HasLink(const TComLink* link) const;

    // --- line settings as a pure record ---
    TDCBRecord MakeDCB() const;
    // Kernel device path for a port name: "COMn" -> /dev/ttyS(n-1),
    // "ttyUSB0" -> /dev/ttyUSB0, an absolute path as it is.
    static QString DevicePath(const QString& port);

    // Tests put a scripted device behind the port; nullptr restores termios.
    void SetDeviceFactory(DeviceFactory f);
    // Tests make the event thread's wake-up descriptor fail (return -1 with
    // errno set); nullptr restores the eventfd.
    using WakeFdFactory = std::function<int()>;
    void SetWakeFdFactory(WakeFdFactory f);

    // --- events (each optional) ---
    std::function<void(TCustomComPort*)> OnAfterOpen, OnAfterClose, OnBeforeOpen, OnBeforeClose;
    std::function<void(TCustomComPort*, int)> OnRxChar;
    std::function<void(TCustomComPort*, const char*, int)> OnRxBuf;
    std::function<void(TCustomComPort*)> OnTxEmpty, OnBreak, OnRing, OnRxFlag, OnRx80Full;
    std::function<void(TCustomComPort*, bool)> OnCTSChange, OnDSRChange, OnRLSDChange;
    std::function<void(TCustomComPort*, TComErrors)> OnError;

    // Internal, named because the event thread and the lamps rely on them.
    void ApplyLineSettings();
    void ApplyTimeoutSettings();
    void ApplyBufferSizes();
    void ApplyAllSettings();
    void SignalLinks(int code, bool onOff);
    void NotifyLinks(int code);
    void PassTxToLinks(const char* buffer, int count);
    void HandleEvents(TComEvents events);  // the batch handler
    TSerialDevice* Device() const { return device_.get(); }
    // True while the event thread runs its loop (it ends early when a
    // handler raised or the device went away).
    bool EventThreadRunning() const;
    // True while the event thread waits with a batch for this thread.
    bool HandOverWaiting() const;
    // Runs an event batch that the event thread has handed over and waits
    // for; the event thread posts this (ClosePort drops a batch still waiting).
    void RunPendingHandOver();
    // The event thread of open number openSerial found the device gone;
    // tells the links when that open is still the current one.
    void NotifyDeviceLost(uint64_t openSerial);

private:
    friend class TComThread;
    // What one ClearCommError call returns: error word (CE_* bits),
    // queue counts and, on request, the status bits.
    struct TCommState {
        uint32_t errors = 0;
        int32_t inQueue = 0;
        int32_t outQueue = 0;
        uint8_t status = 0;
    };
    TCommState ClearCommError(bool withStatus);
    int32_t WriteTimeoutMs(int32_t count) const;
    // DSR output flow: false when DSR stayed low for the whole time-out;
    // otherwise *timeoutMs is what is left of it for the write.
    // A stop ends it too (false).
    bool WaitForDsr(int32_t* timeoutMs, const std::function<bool()>& stopped);
    // The device's write, cut into slices with a look at stopped between them.
    int WriteSliced(const char* data, int32_t count, int32_t timeoutMs, const std::function<bool()>& stopped,
                    int32_t* written);
    int32_t ReadWithTimeouts(char* buffer, int32_t count);
    void HandleRxChar();
    void ReportSignal(int code);
    void CheckOpen(int portError) const;
    void ReportSignals();  // CTS, DSR, RLSD after open
    void RecomputeRxLinkFlag();
    void StartThread();
    void StopThread();

    TBaudRate baudRate_ = br9600;
    int32_t customBaudRate_ = 9600;
    QString port_ = QStringLiteral("COM1");
    TStopBits stopBits_ = sbOneStopBit;
    TDataBits dataBits_ = dbEight;
    bool discardNull_ = false;
    char eventChar_ = 0;
    TComEvents events_ = AllComEvents;
    TSyncMethod syncMethod_ = smThreadSync;
    TComParity parity_{this};
    TComFlowControl flowControl_{this};
    TComTimeouts timeouts_{this};
    TComBuffer buffer_{this};

    std::unique_ptr<TSerialDevice> device_;
    std::unique_ptr<TComThread> thread_;
    std::vector<TComLink*> links_;
    bool hasRxLink_ = false;
    bool deliverRxChar_ = true;
    bool closing_ = false;
    int handOverDepth_ = 0;                            // hand-overs running on this stack
    std::vector<std::unique_ptr<TComThread>> retired_;  // threads stopped from inside one
    DeviceFactory factory_;
    WakeFdFactory wakeFdFactory_;
    // Counter values at the last ClearCommError (line errors are deltas).
    struct TCounterBase;
    std::unique_ptr<TCounterBase> counterBase_;

    // Shared with the event thread, which tells new bytes from bytes that
    // were read: bytes ever received = queued + consumed. rxSeq_ is odd while
    // a read or purge is changing the two.
    std::atomic<uint32_t> rxSeq_{0};
    std::atomic<uint64_t> rxConsumed_{0};
    // Odd while a write runs, up by two per write: the event thread gives
    // evTxEmpty for the value it saw drained, so a write that slips in
    // between its look at the queue and its report is never lost.
    std::atomic<uint64_t> txSeq_{0};
    std::atomic<uint64_t> openSerial_{0};  // counts opens, so a late notice finds its own open
    TTrafficLog traffic_;
    TTrafficLog* trafficTo_ = &traffic_;
    int trafficTag_ = 0;
    // Open state as other threads see it (device_ changes on the operation's thread).
    std::atomic<bool> open_{false};
    // Held while a hand-over runs on the port's thread, and while another
    // thread replaces the device: a hand-over never sees it half gone.
    std::recursive_mutex deviceM_;
    // ClearCommError's counter base, from the port's thread and a worker.
    std::mutex countersM_;
    std::atomic<std::thread::id> reservedBy_{};
    // True on a thread other than the port's: links and events are posted.
    bool Foreign() const;
    // Calls f on the port's thread: now, or posted when on another thread.
    void OnOwnThread(std::function<void()> f);
    void CallEvent(const std::function<void(TCustomComPort*)>& event);
    void CallSignal(const std::function<void(TCustomComPort*, bool)>& event, bool on);
    // Under deviceM_: records the bytes still queued before the device goes.
    void RecordUnread();
};

class TComPort : public TCustomComPort {
    Q_OBJECT
public:
    using TCustomComPort::TCustomComPort;
};
