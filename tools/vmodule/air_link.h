#pragma once
// The radio side of a module in "Cable Link" mode: what comes in on the
// serial line goes out over a simulated air, paced by the configured RF data
// rate, and what the air brings goes out on the serial line. Two modules
// share an air through a Unix socket named after it; a packet is taken only
// when the two configuration memories make a pair. With loopback a far end
// whose DB9 transmit and receive are bridged sends everything straight back.
//
// The air, as modelled: a packet carries at most kAirMaxPayload bytes and
// kAirOverhead bytes more (4 preamble, 2 sync word, 1 length, 1 sequence,
// 2 CRC) at the RF data rate; a packet leaves when the air is free and the
// serial line has paused for kAirGapMs or a full packet is waiting. Each
// direction has the air to itself (a real radio shares it between both
// directions). Loss, bit errors and latency are applied by the sending side.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

constexpr int kAirMaxPayload = 64;
constexpr int kAirOverhead = 10;
constexpr int kAirGapMs = 2;
// The module's transmit buffer: serial bytes beyond it are dropped, as a
// module without flow control would.
constexpr size_t kAirBufferBytes = 4096;

// What two modules must share, and the role they must not, read from the
// 128-byte configuration memory (0x80-0xFF as seen by the module).
struct TAirIdentity {
    std::array<uint8_t, 16> key{};
    uint8_t channel = 0;                   // 0..15
    std::array<uint8_t, 4> frequencies{};  // channels 12-15: the channel's frequency steps, else zero
    int rfBps = 76800;
    bool pointA = true;
    bool operator==(const TAirIdentity&) const = default;
};

TAirIdentity AirIdentityOf(const std::array<uint8_t, 128>& config);
// Same key, channel settings and data rate, opposite roles.
bool MakesPair(const TAirIdentity& a, const TAirIdentity& b);
// Air time of one packet with n payload bytes, in microseconds.
int64_t AirTimeUs(int payload, int rfBps);
// Serial bytes per second the air carries with full packets.
double AirCapacityBytesPerSecond(int rfBps);
// Where the airs' sockets live: a folder only this user can enter, so no
// other user reaches a module (or its key) over the air. The runtime folder
// $XDG_RUNTIME_DIR when it is private, else $TMPDIR/tarnwick-air-UID
// (/tmp without TMPDIR), made 0700 and checked to be this user's own.
std::string AirFolder();
// Makes the folder when missing; false with *error when it is not private
// (another user's, open to others, a link).
bool PrepareAirFolder(std::string* folder, std::string* error);
// The socket path for an air name: AirFolder()/tarnwick-air-NAME in the
// runtime folder, AirFolder()/NAME in the temporary one.
std::string AirSocketPath(const std::string& name);

struct TAirOptions {
    std::string name;      // empty: no peer (loopback alone)
    bool loopback = false;
    double loss = 0;       // probability that a packet is lost
    double bitErrors = 0;  // probability that a payload bit is flipped
    int latencyMs = 0;     // added to every packet
    uint64_t randomStart = 0;  // where the loss and errors draws start; 0: from the clock
};

class TAirLink {
public:
    using Deliver = std::function<void(std::vector<uint8_t>)>;
    // identity is read whenever a packet goes out or comes in, so a module
    // whose memory changes takes part with its new settings.
    TAirLink(TAirOptions options, std::function<TAirIdentity()> identity, Deliver deliver);
    ~TAirLink();
    TAirLink(const TAirLink&) = delete;
    TAirLink& operator=(const TAirLink&) = delete;

    bool Start(std::string* error);
    void Stop();
    // Serial bytes from the module's line, from any thread.
    void Send(const uint8_t* data, size_t n);

    struct TCounts {
        long packetsSent = 0, packetsLost = 0, packetsCorrupted = 0;
        long packetsTaken = 0, packetsRefused = 0;  // from the peer: paired, not paired
        long bytesDropped = 0;                      // transmit buffer full
    };
    TCounts Counts() const;
    bool PeerConnected() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};
