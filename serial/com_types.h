#pragma once
// Enumerations, sets and the exception of the serial component.
#include <QString>
#include <cstdint>
#include <stdexcept>

enum TBaudRate {
    brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
    br19200, br38400, br56000, br57600, br115200, br128000, br256000
};
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TSyncMethod { smThreadSync, smWindowSync, smNone };

// TComEvents: one bit per event.
enum TComEvent {
    evRxChar = 0, evTxEmpty = 1, evRxFlag = 2, evRing = 3, evBreak = 4,
    evCTS = 5, evDSR = 6, evError = 7, evRLSD = 8, evRx80Full = 9
};
using TComEvents = uint16_t;
constexpr TComEvents EventBit(TComEvent e) { return static_cast<TComEvents>(1u << e); }
constexpr TComEvents AllComEvents = 0x3FF;

// TComErrors: one bit per line error.
enum TComError {
    errFrame = 0, errRxParity = 1, errOverrun = 2, errBreak = 3,
    errIO = 4, errMode = 5, errRxOver = 6, errTxFull = 7
};
using TComErrors = uint8_t;

// Modem signal set returned by ModemSignals.
namespace ms {
constexpr uint8_t Cts = 0x01;
constexpr uint8_t Dsr = 0x02;
constexpr uint8_t Ring = 0x04;
constexpr uint8_t Rlsd = 0x08;
}  // namespace ms

// CommStatusFlags bits.
namespace cs {
constexpr uint8_t CtsHold = 0x01;
constexpr uint8_t DsrHold = 0x02;
constexpr uint8_t RlsdHold = 0x04;
constexpr uint8_t XoffHold = 0x08;
constexpr uint8_t XoffSent = 0x10;
constexpr uint8_t Eof = 0x20;
constexpr uint8_t Txim = 0x40;
}  // namespace cs

// Error codes of the component (PortError).
enum TComPortError {
    CError_OpenFailed = 1, CError_WriteFailed = 2, CError_ReadFailed = 3,
    CError_InvalidAsync = 4, CError_PurgeFailed = 5, CError_AsyncCheck = 6,
    CError_SetStateFailed = 7, CError_TimeoutsFailed = 8, CError_SetupComFailed = 9,
    CError_ClearComFailed = 10, CError_ModemStatFailed = 11, CError_EscapeComFailed = 12,
    CError_TransmitFailed = 13, CError_ConnChangeProp = 14, CError_EnumPortsFailed = 15,
    CError_StoreFailed = 16, CError_LoadFailed = 17, CError_RegFailed = 18,
    CError_LedStateFailed = 19, CError_ThreadCreated = 20, CError_WaitFailed = 21,
    CError_HasLink = 22, CError_RegError = 23
};

// The one exception of every serial failure. what() is the full message:
// the row's text, plus " (win error code: %d)" carrying errno when there is one.
class EComPort : public std::runtime_error {
public:
    EComPort(int portError, int systemError);  // systemError -1: none
    int PortError() const { return portError_; }
    int SystemError() const { return systemError_; }
    QString Message() const { return QString::fromLocal8Bit(what()); }
    // The bare text of a PortError row.
    static QString ErrorText(int portError);

private:
    int portError_;
    int systemError_;
};
