#pragma once
// The module's memory as operations without a window: reading four blocks
// ("Read Flash" on the wire), block programming, and comparing what was
// written with what a read brought back. They talk to the port through the
// session and to whoever runs them through a TOperationObserver.
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "module/operation_observer.h"

class TModuleSession;

// Four blocks of 32 bytes: the flash (blocks 0-3) or the configuration
// memory (blocks 4-7).
constexpr int kMemoryBlockBytes = 32;
constexpr int kMemoryAreaBlocks = 4;
constexpr int kMemoryAreaBytes = kMemoryBlockBytes * kMemoryAreaBlocks;
constexpr int kFlashFirstBlock = 0;
constexpr int kConfigFirstBlock = 4;
constexpr uint8_t kEraseFlash = 0x40;
constexpr uint8_t kEraseConfig = 0x48;
using TMemoryBytes = std::array<uint8_t, kMemoryAreaBytes>;

// A block's name on the wire: block * 32 + 31.
inline uint8_t BlockAddress(int block) { return static_cast<uint8_t>(block * 32 + 31); }

struct TMemoryRead {
    TOperationError error = TOperationError::NoModule;
    TMemoryBytes bytes{};
    std::array<bool, kMemoryAreaBlocks> blocks{};  // which blocks arrived
    bool Ok() const { return error == TOperationError::None; }
};

// Called with each block as it arrives: its index in the area (0-3) and its
// 32 bytes. The highest block comes first.
using TBlockSink = std::function<void(int index, const uint8_t* data)>;

// The communication check, Disconect, Connect, Read Status, then for the
// area's blocks highest first: 0x31 and the block address, a header byte
// with (header & 0xE0) == 0x40, 32 data bytes. Progress 10, 20, 30 through
// the handshake, then 60, 80, 100, 120 after each block (also after one
// that failed). The handshake steps all run even after one failed; the
// blocks only when none did; a failed block ends the loop.
TMemoryRead ReadMemoryBlocks(TModuleSession& session, TOperationObserver& observer, int firstBlock,
                             const TBlockSink& onBlock = {});

// Block programming of an area (the caller ran the communication check):
// Disconect, Connect, Write Registers 0x40 0xAA, the erase byte and 330 ms,
// then per block a communication check, Disconect, Connect, Write Flash with
// the block address and the 32 bytes, the transmit queue drained within
// 1200 ms and 660 ms. Progress 20 to 100. No erase is sent once an early
// reply failed; after the erase every started block is written out.
TOperationError ProgramMemoryBlocks(TModuleSession& session, TOperationObserver& observer, uint8_t eraseByte,
                                    int firstBlock, const TMemoryBytes& bytes);

struct TByteDifference {
    int address = 0;  // module address (configuration memory: 0x80-0xFF)
    uint8_t written = 0;
    uint8_t read = 0;
};

// The addresses where actual differs from expected, lowest first.
std::vector<TByteDifference> CompareMemory(int firstBlock, const TMemoryBytes& expected,
                                           const TMemoryBytes& actual);

struct TVerifyResult {
    TOperationError error = TOperationError::NoModule;  // of the read
    std::vector<TByteDifference> differences;
    bool Ok() const { return error == TOperationError::None && differences.empty(); }
};

// Reads the area back (as ReadMemoryBlocks) and compares it with expected.
TVerifyResult VerifyMemory(TModuleSession& session, TOperationObserver& observer, int firstBlock,
                           const TMemoryBytes& expected, const TBlockSink& onBlock = {});

// "3 bytes differ, first at 0x25".
QString DifferenceSummary(const std::vector<TByteDifference>& differences);
// The summary and the first `shown` differences, one per line:
// "0x25: written 41, read 40".
QString DifferenceReport(const std::vector<TByteDifference>& differences, int shown = 8);
// True for an address of the encryption key (0xC0 to 0xCF): its values are
// never shown, stored or printed, only the address.
bool IsKeyAddress(int address);
