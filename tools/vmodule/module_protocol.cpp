#include "tools/vmodule/module_protocol.h"

#include <algorithm>

namespace {

// Command bytes of the catalogue.
enum : uint8_t {
    cConnect = 0x00,
    cDisconect = 0x01,
    cReadStatus = 0x02,
    cReadNotStatus = 0x03,
    cReadVersion = 0x0F,
    cWriteRegisters = 0x20,
    cReadRegisters = 0x21,
    cWriteFlash = 0x30,
    cReadFlash = 0x31,
    cEraseFlash = 0x40,
    cEraseConfig = 0x48,
    cSendSerialData = 0x50,
    cReadRFStatus = 0x60,
    cNop = 0xFF,
};

constexpr int kMaxVersionReply = 64;

}  // namespace

TModuleProtocol::TModuleProtocol()
{
    memory_.fill(0xFF);
    registers_.fill(0x00);
    frame_.reserve(40);
}

void TModuleProtocol::AbortFrame()
{
    state_ = State::Idle;
    frame_.clear();
}

size_t TModuleProtocol::FrameLength() const
{
    switch (command_) {
    case cConnect:
        return 2;
    case cReadRegisters:
    case cReadFlash:
        return 1;
    case cWriteRegisters:
        return frame_.empty() ? 1 : 1 + size_t(frame_[0] & 0x07) + 1;
    case cWriteFlash:
    case cSendSerialData:
        return frame_.empty() ? 1 : 1 + size_t(frame_[0] & 0x1F) + 1;
    default:
        return 0;
    }
}

void TModuleProtocol::Reply(Result& r, std::vector<uint8_t> bytes) const
{
    if (bytes.empty()) return;
    if (quirks_.extraReplyByte) bytes.push_back(0x00);
    r.reply.insert(r.reply.end(), bytes.begin(), bytes.end());
}

TModuleProtocol::Result TModuleProtocol::Feed(uint8_t byte)
{
    Result r;
    if (state_ == State::Idle) {
        Start(byte, r);
        return r;
    }
    frame_.push_back(byte);
    if (frame_.size() >= FrameLength()) Finish(r);
    return r;
}

void TModuleProtocol::Start(uint8_t command, Result& r)
{
    switch (command) {
    case cConnect:
    case cWriteRegisters:
    case cReadRegisters:
    case cWriteFlash:
    case cReadFlash:
    case cSendSerialData:
        command_ = command;
        frame_.clear();
        state_ = State::Collect;
        return;
    case cDisconect:
        connected_ = false;
        Reply(r, {vmod::kAck});
        return;
    case cReadStatus:
        Reply(r, {vmod::kAck});
        return;
    case cReadNotStatus:
        Reply(r, {vmod::kNotStatus});
        return;
    case cReadVersion: {
        const int n = std::clamp(quirks_.versionReplyLength, 0, kMaxVersionReply);
        std::vector<uint8_t> v(size_t(n), 0x00);
        for (int i = 0; i < n && i < int(vmod::kVersionReply.size()); ++i) v[size_t(i)] = vmod::kVersionReply[size_t(i)];
        if (n > 0) v[0] = quirks_.versionFirstByte;
        Reply(r, std::move(v));
        return;
    }
    case cEraseFlash:
        Erase(r, false);
        return;
    case cEraseConfig:
        Erase(r, true);
        return;
    case cReadRFStatus:
        // No link errors, nothing pending.
        Reply(r, {0x00, 0x00});
        return;
    case cNop:
    default:
        // NOP, and anything this module does not know, is ignored silently:
        // the presence check relies on NOP drawing no answer.
        return;
    }
}

void TModuleProtocol::Erase(Result& r, bool configuration)
{
    // Erasing needs the unlock value in register 4 first; it stays there,
    // as any register value does, until overwritten.
    if (registers_[vmod::kEraseUnlockRegister] != vmod::kEraseUnlock) {
        Reply(r, {vmod::kAck, vmod::kRefused});
        return;
    }
    const auto first = memory_.begin() + (configuration ? vmod::kMemorySize / 2 : 0);
    std::fill(first, first + vmod::kMemorySize / 2, uint8_t(0xFF));
    r.memoryWritten = true;
    Reply(r, {vmod::kAck, vmod::kAck});
}

void TModuleProtocol::Finish(Result& r)
{
    const uint8_t p = frame_.empty() ? 0 : frame_[0];
    switch (command_) {
    case cConnect: {
        const uint16_t address = uint16_t(frame_[0] | (frame_[1] << 8));
        // Address 0000 reaches every unit; another unit's address leaves
        // this one silent and unaddressed.
        if (address == 0x0000 || address == unitAddress_) {
            connected_ = true;
            Reply(r, {vmod::kAck});
        } else {
            connected_ = false;
        }
        break;
    }
    case cWriteRegisters: {
        const int first = (p >> 4) & 0x07;
        for (size_t i = 1; i < frame_.size(); ++i)
            registers_[size_t((first + int(i) - 1) % vmod::kRegisterCount)] = frame_[i];
        Reply(r, {vmod::kAck});
        break;
    }
    case cReadRegisters: {
        const int first = (p >> 4) & 0x07;
        const int count = (p & 0x07) + 1;
        std::vector<uint8_t> v{p};
        for (int i = 0; i < count; ++i) v.push_back(registers_[size_t((first + i) % vmod::kRegisterCount)]);
        Reply(r, std::move(v));
        break;
    }
    case cWriteFlash: {
        // Flash cells only lose bits when written; an erase brings them back.
        const size_t base = size_t((p >> 5) & 0x07) * vmod::kBlockSize;
        for (size_t i = 1; i < frame_.size(); ++i) {
            const size_t a = base + i - 1;
            memory_[a] &= frame_[i];
            // A cell that does not keep what was written, for verifying reads to catch.
            if (int(a) == quirks_.corruptWriteAddress) memory_[a] ^= 0x01;
        }
        r.memoryWritten = true;
        Reply(r, {vmod::kAck});
        break;
    }
    case cReadFlash: {
        const size_t base = size_t((p >> 5) & 0x07) * vmod::kBlockSize;
        const size_t count = size_t(p & 0x1F) + 1;
        const uint8_t header = quirks_.readFlashHeader >= 0 ? uint8_t(quirks_.readFlashHeader & 0xFF)
                                                            : uint8_t(0x40 | (p & 0x1F));
        std::vector<uint8_t> v{header};
        v.insert(v.end(), memory_.begin() + long(base), memory_.begin() + long(base + count));
        Reply(r, std::move(v));
        break;
    }
    case cSendSerialData:
        serialData_.assign(frame_.begin() + 1, frame_.end());
        Reply(r, {vmod::kAck});
        break;
    default:
        break;
    }
    AbortFrame();
}
