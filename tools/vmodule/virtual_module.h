#pragma once
// The virtual module: plays the module's side of the command-mode protocol
// on a pseudo-terminal, with its own memory and fault injection. Runs on its
// own thread; every public member is safe to call from any thread.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct TVirtualModuleFaults {
    int replyDelayMs = 0;          // delay before each reply
    bool silent = false;           // never answer (commands still take effect)
    long silentAfterBytes = -1;    // >= 0: answer only the first this many bytes since SetFaults
    int readFlashHeader = -1;      // >= 0: header byte sent for Read Flash instead of 0x40|(n-1)
    bool extraReplyByte = false;   // append one byte 0x00 to every reply
    long hangUpAfterBytes = -1;    // >= 0: close the pty master when this many bytes have come in
                                   // since SetFaults (the last one goes unanswered)
    int versionReplyLength = 5;    // bytes answered to Read Version ("C" + 4)
    uint8_t versionFirstByte = 0x43;
    long onlyAtBaud = 0;           // > 0: bytes arriving while the line is set to another
                                   // rate are garbage to the module (ignored, unanswered)
    int corruptWriteAddress = -1;  // 0x00-0xFF: block writes store this address's byte wrongly (bit 0 flipped)
};

class TVirtualModule {
public:
    TVirtualModule();
    ~TVirtualModule();
    TVirtualModule(const TVirtualModule&) = delete;
    TVirtualModule& operator=(const TVirtualModule&) = delete;

    // Opens a pseudo-terminal and starts answering. False with *error set on
    // failure. After a hang-up (Running() false) it makes a new pty; memory
    // is kept, registers start cleared.
    bool Start(std::string* error = nullptr);
    void Stop();
    bool Running() const;
    // The path the panel opens (the pty's slave, or a stable symlink to it).
    std::string PortPath() const;
    // The pty's slave device itself (/dev/pts/N); empty before Start.
    std::string SlavePath() const;
    // Before Start: also make PATH a symlink to the slave (replacing an older
    // symlink there, never a file); PortPath() then answers PATH. Removed by Stop.
    void SetLinkPath(const std::string& path);

    // 256 bytes: 0x00-0x7F flash, 0x80-0xFF configuration. Starts all 0xFF.
    std::array<uint8_t, 256> Memory() const;
    void SetMemory(const std::array<uint8_t, 256>& m);
    std::array<uint8_t, 8> Registers() const;
    uint16_t UnitAddress() const;
    void SetUnitAddress(uint16_t a);

    TVirtualModuleFaults Faults() const;
    void SetFaults(const TVirtualModuleFaults& f);

    // The rate the panel set on the line (0 before Start or when unknown).
    long LineBaud() const;

    // Every byte received so far, in order (for protocol assertions).
    std::vector<uint8_t> Received() const;
    void ClearReceived();
    long ReceivedCount() const;

    // Optional image file: loaded by Start when it exists, saved by Stop and
    // after every write to memory.
    void SetImageFile(const std::string& path);
    // The last image load or save failure, empty when none.
    std::string ImageError() const;

    // Keep at most this many of the latest received bytes for Received()
    // (ReceivedCount() still counts them all); 0 keeps none. The default,
    // 1 MiB, is far beyond any test run but bounds a long --simulate session.
    void SetReceivedLimit(size_t bytes);

    // Payload of the last Send Serial Data command.
    std::vector<uint8_t> SentSerialData() const;

    // Sends bytes to the panel unasked, as traffic arriving over the radio
    // would; lost when the panel does not hold the port open.
    void Inject(const std::vector<uint8_t>& bytes);

    // "Cable Link" mode: every byte from the line goes to sink (called on the
    // module thread, no lock held) instead of the command reader. Before Start.
    void SetSerialSink(std::function<void(const uint8_t*, size_t)> sink);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};
