// The four settings objects of the port. Each setter compares first and asks
// its owner to re-apply its group only when the value changed.
#include "serial/com_port.h"

namespace {

template <typename T>
bool Store(T& member, T value)
{
    if (member == value) return false;
    member = value;
    return true;
}

int32_t EvenSize(int32_t v) { return (v > 0 && v % 2 == 1) ? v - 1 : v; }

}  // namespace

// --- TComParity ---
void TComParity::SetBits(TParityBits v) { if (Store(bits_, v)) owner_->ApplyLineSettings(); }
void TComParity::SetCheck(bool v) { if (Store(check_, v)) owner_->ApplyLineSettings(); }
void TComParity::SetReplace(bool v) { if (Store(replace_, v)) owner_->ApplyLineSettings(); }
void TComParity::SetReplaceChar(char v) { if (Store(replaceChar_, v)) owner_->ApplyLineSettings(); }

void TComParity::Assign(const TComParity& other)
{
    bits_ = other.bits_;
    check_ = other.check_;
    replace_ = other.replace_;
    replaceChar_ = other.replaceChar_;
    owner_->ApplyLineSettings();
}

// --- TComFlowControl ---
TFlowControl TComFlowControl::FlowControl() const
{
    if (controlRTS_ == rtsHandshake && outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) return fcHardware;
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffIn_ && xonXoffOut_) return fcSoftware;
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) return fcNone;
    return fcCustom;
}

void TComFlowControl::SetOutCTSFlow(bool v) { if (Store(outCTSFlow_, v)) owner_->ApplyLineSettings(); }
void TComFlowControl::SetOutDSRFlow(bool v) { if (Store(outDSRFlow_, v)) owner_->ApplyLineSettings(); }
void TComFlowControl::SetControlDTR(TDTRFlowControl v) { if (Store(controlDTR_, v)) owner_->ApplyLineSettings(); }
void TComFlowControl::SetControlRTS(TRTSFlowControl v) { if (Store(controlRTS_, v)) owner_->ApplyLineSettings(); }
void TComFlowControl::SetXonXoffOut(bool v) { if (Store(xonXoffOut_, v)) owner_->ApplyLineSettings(); }
void TComFlowControl::SetXonXoffIn(bool v) { if (Store(xonXoffIn_, v)) owner_->ApplyLineSettings(); }
void TComFlowControl::SetDSRSensitivity(bool v) { if (Store(dsrSensitivity_, v)) owner_->ApplyLineSettings(); }
void TComFlowControl::SetTxContinueOnXoff(bool v) { if (Store(txContinueOnXoff_, v)) owner_->ApplyLineSettings(); }
void TComFlowControl::SetXonChar(char v) { if (Store(xonChar_, v)) owner_->ApplyLineSettings(); }
void TComFlowControl::SetXoffChar(char v) { if (Store(xoffChar_, v)) owner_->ApplyLineSettings(); }

void TComFlowControl::SetFlowControl(TFlowControl v)
{
    // Members are written directly so the line settings go out once.
    if (v != fcCustom) {
        controlRTS_ = rtsDisable;
        outCTSFlow_ = false;
        xonXoffIn_ = false;
        xonXoffOut_ = false;
        if (v == fcHardware) {
            controlRTS_ = rtsHandshake;
            outCTSFlow_ = true;
        } else if (v == fcSoftware) {
            xonXoffIn_ = true;
            xonXoffOut_ = true;
        }
    }
    owner_->ApplyLineSettings();
}

void TComFlowControl::Assign(const TComFlowControl& o)
{
    outCTSFlow_ = o.outCTSFlow_;
    outDSRFlow_ = o.outDSRFlow_;
    controlDTR_ = o.controlDTR_;
    controlRTS_ = o.controlRTS_;
    xonXoffOut_ = o.xonXoffOut_;
    xonXoffIn_ = o.xonXoffIn_;
    dsrSensitivity_ = o.dsrSensitivity_;
    txContinueOnXoff_ = o.txContinueOnXoff_;
    xonChar_ = o.xonChar_;
    xoffChar_ = o.xoffChar_;
    owner_->ApplyLineSettings();
}

// --- TComTimeouts ---
void TComTimeouts::SetReadInterval(int32_t v) { if (Store(readInterval_, v)) owner_->ApplyTimeoutSettings(); }
void TComTimeouts::SetReadTotalMultiplier(int32_t v) { if (Store(readTotalMultiplier_, v)) owner_->ApplyTimeoutSettings(); }
void TComTimeouts::SetReadTotalConstant(int32_t v) { if (Store(readTotalConstant_, v)) owner_->ApplyTimeoutSettings(); }
void TComTimeouts::SetWriteTotalMultiplier(int32_t v) { if (Store(writeTotalMultiplier_, v)) owner_->ApplyTimeoutSettings(); }
void TComTimeouts::SetWriteTotalConstant(int32_t v) { if (Store(writeTotalConstant_, v)) owner_->ApplyTimeoutSettings(); }

void TComTimeouts::Assign(const TComTimeouts& o)
{
    readInterval_ = o.readInterval_;
    readTotalMultiplier_ = o.readTotalMultiplier_;
    readTotalConstant_ = o.readTotalConstant_;
    writeTotalMultiplier_ = o.writeTotalMultiplier_;
    writeTotalConstant_ = o.writeTotalConstant_;
    owner_->ApplyTimeoutSettings();
}

// --- TComBuffer ---
void TComBuffer::SetInputSize(int32_t v) { if (Store(inputSize_, EvenSize(v))) owner_->ApplyBufferSizes(); }
void TComBuffer::SetOutputSize(int32_t v) { if (Store(outputSize_, EvenSize(v))) owner_->ApplyBufferSizes(); }

void TComBuffer::Assign(const TComBuffer& o)
{
    inputSize_ = o.inputSize_;
    outputSize_ = o.outputSize_;
    owner_->ApplyBufferSizes();
}
