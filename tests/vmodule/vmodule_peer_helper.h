#pragma once
// The panel's end of the virtual module's pty, without the serial component:
// a raw, non-blocking descriptor with deadline-bounded reads.
#include <cstdint>
#include <string>
#include <vector>

class TPtyPeer {
public:
    ~TPtyPeer() { Close(); }
    // raw = false leaves the line settings as the pty has them.
    bool Open(const std::string& path, bool raw = true);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // One write per byte, as the panel does.
    bool Send(const std::vector<uint8_t>& bytes);
    // Reads until `count` bytes came or `timeoutMs` passed; returns what came.
    std::vector<uint8_t> Read(size_t count, int timeoutMs = 5000);
    // Sends, then reads `count` reply bytes.
    std::vector<uint8_t> Exchange(const std::vector<uint8_t>& bytes, size_t count, int timeoutMs = 5000);
    // Whatever is waiting now, without blocking.
    std::vector<uint8_t> Pending();
    // True when the line reported a hang-up (poll HUP, read 0 or EIO) within timeoutMs.
    bool WaitHangUp(int timeoutMs = 5000);

private:
    int fd_ = -1;
};

// 256 bytes of a seeded pattern that never holds 0xFF.
std::vector<uint8_t> PatternBytes(int salt);
