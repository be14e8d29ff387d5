#include "module/flash_transfer.h"

#include "flash_editor/flash_page.h"
#include "module/operation_guard.h"
#include "module/operation_state.h"
#include "module/session.h"
#include "module/status_form.h"
#include "module/xon_xoff_suspend.h"
#include "serial/com_port.h"

namespace {

constexpr uint8_t kDisconnect = 0x01;
constexpr uint8_t kConnect = 0x00;
constexpr uint8_t kReadStatus = 0x02;
constexpr uint8_t kReadFlash = 0x31;
constexpr uint8_t kWriteRegisters = 0x20;
constexpr uint8_t kWriteFlash = 0x30;
constexpr uint8_t kAck = 0x6B;
constexpr int kBlockBytes = 32;
constexpr int32_t kReplyMs = 660;
constexpr int32_t kBlockDataMs = 2400;
constexpr int32_t kDrainMs = 1200;

uint8_t BlockAddress(int block) { return static_cast<uint8_t>(block * 32 + 31); }

// Writes the bytes one write each and takes the single reply byte.
bool Command(TModuleSession& s, std::initializer_list<uint8_t> bytes)
{
    for (uint8_t b : bytes) s.WriteByte(b);
    return s.WaitforChar(kReplyMs) == kAck;
}

// Waits, blocking on the device, until count bytes are queued or the shared
// deadline passes.
bool WaitForBytes(TModuleSession& s, int32_t count, int32_t ms)
{
    TCustomComPort& port = s.Port();
    s.SetDeadline(ms);
    for (;;) {
        if (port.InQueueCount() >= count) return true;
        if (s.DeadlineReached()) return false;
        port.WaitForInput(count, s.RemainingMs());
    }
}

bool WaitForDrain(TModuleSession& s, int32_t ms)
{
    TCustomComPort& port = s.Port();
    s.SetDeadline(ms);
    for (;;) {
        if (port.OutQueueCount() == 0) return true;
        if (s.DeadlineReached()) return false;
        port.WaitForOutputEmpty(s.RemainingMs());
    }
}

}  // namespace

bool ProgramMemory(TModuleSession& session, uint8_t eraseByte, int firstBlock, const std::array<uint8_t, 128>& bytes)
{
    bool failed = false;
    UpdateStatus(20);
    failed |= !Command(session, {kDisconnect});
    // Once the module has not acknowledged, the erase is not sent: an erased
    // memory that no block is written to afterwards would be lost.
    if (!failed) {
        UpdateStatus(30);
        failed |= !Command(session, {kConnect, 0x00, 0x00});
    }
    if (!failed) {
        UpdateStatus(40);
        failed |= !Command(session, {kWriteRegisters, 0x40, 0xAA});
    }
    if (failed) return true;

    UpdateStatus(50);
    session.WriteByte(eraseByte);
    TModuleSession::PauseWithMessages(330);
    UpdateStatus(60);

    for (int n = 0; n < 4 && !failed; ++n) {
        if (!session.Communication_Check()) {
            failed = true;
            break;
        }
        failed |= !Command(session, {kDisconnect});
        failed |= !Command(session, {kConnect, 0x00, 0x00});
        // The block goes out even after a failed handshake: the memory is
        // already erased, and the loop ends after this pass.
        session.WriteByte(kWriteFlash);
        session.WriteByte(BlockAddress(firstBlock + n));
        for (int i = 0; i < kBlockBytes; ++i) session.WriteByte(bytes[size_t(n * kBlockBytes + i)]);
        if (!WaitForDrain(session, kDrainMs)) failed = true;
        TModuleSession::PauseWithMessages(660);
        UpdateStatus(70 + 10 * n);
    }
    return failed;
}

void ReadFlashButtonClick(TModuleSession& session, TFlashPage& page)
{
    if (TOperationState::Busy()) return;  // one operation at a time
    TOperationGuard guard(&page);
    TXonXoffSuspend xonXoff(session.Port());
    ShowStatus(QStringLiteral("Flash Memory"), QStringLiteral("Reading"));

    bool failed = true;
    if (session.Communication_Check()) {
        failed = false;
        UpdateStatus(10);
        failed |= !Command(session, {kDisconnect});
        UpdateStatus(20);
        failed |= !Command(session, {kConnect, 0x00, 0x00});
        UpdateStatus(30);
        failed |= !Command(session, {kReadStatus});
        // Highest block first.
        for (int k = 3; k >= 0 && !failed; --k) {
            session.WriteByte(kReadFlash);
            session.WriteByte(BlockAddress(k));
            const uint8_t header = session.WaitforChar(kReplyMs);
            if ((header & 0xE0) != 0x40) {
                failed = true;
            } else if (!WaitForBytes(session, kBlockBytes, kBlockDataMs)) {
                failed = true;
            } else {
                uint8_t data[kBlockBytes];
                const int32_t got = session.Port().ReadBytes(reinterpret_cast<char*>(data), kBlockBytes);
                if (got == kBlockBytes)
                    page.Image().SetRange(k * kBlockBytes, data, kBlockBytes);
                else
                    failed = true;
            }
            UpdateStatus(120 - 20 * k);
        }
    }
    if (failed) ShowCommunicationError(&page);
}

void ProgramFlashButtonClick(TModuleSession& session, TFlashPage& page)
{
    if (TOperationState::Busy()) return;  // one operation at a time
    TOperationGuard guard(&page);
    TXonXoffSuspend xonXoff(session.Port());
    ShowStatus(QStringLiteral("Flash Memory"), QStringLiteral("Programming"));

    if (!session.Communication_Check()) {
        ShowCommunicationError(&page);
        return;
    }
    const TFlashImage::Bytes image = page.Image().Data();
    const bool failed = ProgramMemory(session, 0x40, 0, image);
    TModuleSession::PauseWithMessages(100);
    if (failed) ShowCommunicationError(&page, QStringLiteral("Error Programming Config Memory"));
}
