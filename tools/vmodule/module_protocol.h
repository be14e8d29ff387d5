#pragma once
// The module's side of the command-mode protocol as a pure state machine:
// one received byte in, the reply bytes it completes out. No I/O, no clock,
// no threads, so it can be fed any byte stream (tests, fuzzing).
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

// Deviations from a healthy module that live in the replies themselves.
struct TProtocolQuirks {
    int readFlashHeader = -1;      // >= 0: this byte (low 8 bits) replaces the Read Flash header
    bool extraReplyByte = false;   // every non-empty reply gets one more byte, 0x00
    int versionReplyLength = 5;    // bytes answered to Read Version (clamped to 0..64)
    uint8_t versionFirstByte = 0x43;
    int corruptWriteAddress = -1;  // 0x00-0xFF: a block write stores this address's byte with bit 0 flipped
};

namespace vmod {
constexpr uint8_t kAck = 0x6B;          // "k"
constexpr uint8_t kNotStatus = 0x62;    // "b", the Read /Status answer
constexpr uint8_t kRefused = 0x6E;      // "n", second Erase byte when the erase was refused
constexpr uint8_t kEraseUnlock = 0xAA;  // register 4 must hold this for an erase
constexpr int kEraseUnlockRegister = 4;
constexpr int kMemorySize = 256;
constexpr int kBlockSize = 32;
constexpr int kRegisterCount = 8;
constexpr uint16_t kDefaultUnitAddress = 0xFFFE;
// "C" and the four version bytes of a healthy module.
constexpr std::array<uint8_t, 5> kVersionReply{0x43, 0x32, 0x2E, 0x31, 0x30};
}  // namespace vmod

class TModuleProtocol {
public:
    using Memory = std::array<uint8_t, vmod::kMemorySize>;
    using Registers = std::array<uint8_t, vmod::kRegisterCount>;

    struct Result {
        std::vector<uint8_t> reply;   // bytes to send back, possibly none
        bool memoryWritten = false;   // flash or configuration bytes changed hands
    };

    TModuleProtocol();

    // Takes one received byte. Bytes that start no known command are ignored.
    Result Feed(uint8_t byte);
    // Drops a partly received frame (the link went quiet in mid-frame).
    void AbortFrame();
    // True while a multi-byte command waits for more bytes.
    bool InFrame() const { return state_ != State::Idle; }

    const Memory& GetMemory() const { return memory_; }
    void SetMemory(const Memory& m) { memory_ = m; }
    const Registers& GetRegisters() const { return registers_; }
    void SetRegisters(const Registers& r) { registers_ = r; }
    uint16_t UnitAddress() const { return unitAddress_; }
    void SetUnitAddress(uint16_t a) { unitAddress_ = a; }
    const TProtocolQuirks& Quirks() const { return quirks_; }
    void SetQuirks(const TProtocolQuirks& q) { quirks_ = q; }

    // True after a Connect this module answered, until a Disconect or a
    // Connect to another unit. Informational only: commands are answered
    // whether or not a Connect came first, as the presence check needs.
    bool Connected() const { return connected_; }
    // Payload of the last Send Serial Data command (what went out over RF).
    const std::vector<uint8_t>& LastSerialData() const { return serialData_; }

private:
    enum class State { Idle, Collect };

    // Bytes after the command byte that the frame needs, given what came so far.
    size_t FrameLength() const;
    void Start(uint8_t command, Result& r);
    void Finish(Result& r);
    void Reply(Result& r, std::vector<uint8_t> bytes) const;
    void Erase(Result& r, bool configuration);

    Memory memory_{};
    Registers registers_{};
    uint16_t unitAddress_ = vmod::kDefaultUnitAddress;
    TProtocolQuirks quirks_;
    bool connected_ = false;
    std::vector<uint8_t> serialData_;

    State state_ = State::Idle;
    uint8_t command_ = 0;
    std::vector<uint8_t> frame_;   // bytes after the command byte
};
