#include "module/memory_operations.h"

#include "module/config_layout.h"

#include <algorithm>
#include <initializer_list>

#include "module/session.h"
#include "serial/com_port.h"

namespace {

constexpr uint8_t kDisconnect = 0x01;
constexpr uint8_t kConnect = 0x00;
constexpr uint8_t kReadStatus = 0x02;
constexpr uint8_t kReadFlash = 0x31;
constexpr uint8_t kWriteRegisters = 0x20;
constexpr uint8_t kWriteFlash = 0x30;
constexpr uint8_t kAck = 0x6B;
constexpr int32_t kReplyMs = 660;
constexpr int32_t kBlockDataMs = 2400;
constexpr int32_t kDrainMs = 1200;
constexpr int32_t kEraseMs = 330;
constexpr int32_t kAfterBlockMs = 660;

// Writes the bytes one write each and takes the single reply byte.
bool Command(TModuleSession& s, std::initializer_list<uint8_t> bytes)
{
    for (uint8_t b : bytes) s.WriteByte(b);
    return s.WaitforChar(kReplyMs) == kAck;
}

TOperationError Fail(TOperationObserver& observer, TOperationError e)
{
    observer.Failed(e);
    return e;
}

QString Hex2(int v) { return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper(); }

}  // namespace

TMemoryRead ReadMemoryBlocks(TModuleSession& session, TOperationObserver& observer, int firstBlock,
                             const TBlockSink& onBlock)
{
    TMemoryRead result;
    if (!session.Communication_Check(observer)) {
        result.error = Fail(observer, TOperationError::NoModule);
        return result;
    }
    TOperationError error = TOperationError::None;
    observer.Progress(10, TOperationPhase::Handshake);
    if (!Command(session, {kDisconnect})) error = TOperationError::NoReply;
    observer.Progress(20, TOperationPhase::Handshake);
    if (!Command(session, {kConnect, 0x00, 0x00})) error = TOperationError::NoReply;
    observer.Progress(30, TOperationPhase::Handshake);
    if (!Command(session, {kReadStatus})) error = TOperationError::NoReply;

    // Highest block first.
    for (int k = kMemoryAreaBlocks - 1; k >= 0 && error == TOperationError::None; --k) {
        if (observer.AbortRequested()) {
            error = TOperationError::Aborted;
            break;
        }
        session.WriteByte(kReadFlash);
        session.WriteByte(BlockAddress(firstBlock + k));
        const uint8_t header = session.WaitforChar(kReplyMs);
        if ((header & 0xE0) != 0x40 || !session.WaitForBytes(kMemoryBlockBytes, kBlockDataMs)) {
            error = TOperationError::BlockData;
        } else {
            uint8_t* data = result.bytes.data() + k * kMemoryBlockBytes;
            if (session.Port().ReadBytes(reinterpret_cast<char*>(data), kMemoryBlockBytes) == kMemoryBlockBytes) {
                result.blocks[size_t(k)] = true;
                if (onBlock) onBlock(k, data);
            } else {
                error = TOperationError::BlockData;
            }
        }
        observer.Progress(120 - 20 * k, TOperationPhase::Reading);
    }
    result.error = error == TOperationError::None ? error : Fail(observer, error);
    return result;
}

TOperationError ProgramMemoryBlocks(TModuleSession& session, TOperationObserver& observer, uint8_t eraseByte,
                                    int firstBlock, const TMemoryBytes& bytes)
{
    observer.Progress(20, TOperationPhase::Handshake);
    // Once the module has not acknowledged, the erase is not sent: an erased
    // memory that no block is written to afterwards would be lost.
    if (!Command(session, {kDisconnect})) return Fail(observer, TOperationError::NoReply);
    observer.Progress(30, TOperationPhase::Handshake);
    if (!Command(session, {kConnect, 0x00, 0x00})) return Fail(observer, TOperationError::NoReply);
    observer.Progress(40, TOperationPhase::Handshake);
    if (!Command(session, {kWriteRegisters, 0x40, 0xAA})) return Fail(observer, TOperationError::NoReply);
    // The last moment to stop with the memory intact.
    if (observer.AbortRequested()) return Fail(observer, TOperationError::Aborted);

    observer.Progress(50, TOperationPhase::Erasing);
    session.WriteByte(eraseByte);
    observer.Pause(kEraseMs);
    observer.Progress(60, TOperationPhase::Erasing);

    TOperationError error = TOperationError::None;
    for (int n = 0; n < kMemoryAreaBlocks && error == TOperationError::None; ++n) {
        if (!session.Communication_Check(observer)) {
            error = TOperationError::NoModule;
            break;
        }
        if (!Command(session, {kDisconnect})) error = TOperationError::NoReply;
        if (!Command(session, {kConnect, 0x00, 0x00})) error = TOperationError::NoReply;
        // The block goes out even after a failed handshake: the memory is
        // already erased, and the loop ends after this pass.
        session.WriteByte(kWriteFlash);
        session.WriteByte(BlockAddress(firstBlock + n));
        for (int i = 0; i < kMemoryBlockBytes; ++i) session.WriteByte(bytes[size_t(n * kMemoryBlockBytes + i)]);
        if (!session.WaitForDrain(kDrainMs)) error = TOperationError::TransmitStuck;
        observer.Pause(kAfterBlockMs);
        observer.Progress(70 + 10 * n, TOperationPhase::Writing);
    }
    return error == TOperationError::None ? error : Fail(observer, error);
}

std::vector<TByteDifference> CompareMemory(int firstBlock, const TMemoryBytes& expected, const TMemoryBytes& actual)
{
    std::vector<TByteDifference> out;
    for (int i = 0; i < kMemoryAreaBytes; ++i) {
        if (expected[size_t(i)] != actual[size_t(i)])
            out.push_back({firstBlock * kMemoryBlockBytes + i, expected[size_t(i)], actual[size_t(i)]});
    }
    return out;
}

TVerifyResult VerifyMemory(TModuleSession& session, TOperationObserver& observer, int firstBlock,
                           const TMemoryBytes& expected, const TBlockSink& onBlock)
{
    TVerifyResult result;
    const TMemoryRead read = ReadMemoryBlocks(session, observer, firstBlock, onBlock);
    result.error = read.error;
    if (read.Ok()) result.differences = CompareMemory(firstBlock, expected, read.bytes);
    return result;
}

QString DifferenceSummary(const std::vector<TByteDifference>& differences)
{
    if (differences.empty()) return QStringLiteral("No byte differs");
    const QString first = QStringLiteral("0x") + Hex2(differences.front().address);
    if (differences.size() == 1) return QStringLiteral("1 byte differs, at %1").arg(first);
    return QStringLiteral("%1 bytes differ, first at %2").arg(differences.size()).arg(first);
}

bool IsKeyAddress(int address)
{
    constexpr int kKey = 0x80 + config_layout::kOffKey;
    return address >= kKey && address < kKey + 16;
}

QString DifferenceReport(const std::vector<TByteDifference>& differences, int shown)
{
    QString text = DifferenceSummary(differences) + QLatin1Char('.');
    const int n = std::min<int>(shown, int(differences.size()));
    for (int i = 0; i < n; ++i) {
        const TByteDifference& d = differences[size_t(i)];
        if (IsKeyAddress(d.address))
            text += QStringLiteral("\n0x%1: a key byte differs (its value is not shown)").arg(Hex2(d.address));
        else
            text += QStringLiteral("\n0x%1: written %2, read %3").arg(Hex2(d.address), Hex2(d.written), Hex2(d.read));
    }
    if (int(differences.size()) > n) text += QStringLiteral("\n...");
    return text;
}
