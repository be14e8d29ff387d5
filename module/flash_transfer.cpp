#include "module/flash_transfer.h"

#include "flash_editor/flash_page.h"
#include "module/communication_error.h"
#include "module/memory_operations.h"
#include "module/operation_guard.h"
#include "module/operation_state.h"
#include "module/panel_observer.h"
#include "module/read_back.h"
#include "module/session.h"
#include "module/status_form.h"
#include "module/xon_xoff_suspend.h"

bool ProgramMemory(TModuleSession& session, uint8_t eraseByte, int firstBlock, const std::array<uint8_t, 128>& bytes)
{
    TPanelObserver observer;
    return ProgramMemoryBlocks(session, observer, eraseByte, firstBlock, bytes) != TOperationError::None;
}

void ReadFlashButtonClick(TModuleSession& session, TFlashPage& page)
{
    if (TOperationState::Busy()) return;  // one operation at a time
    TOperationGuard guard(&page);
    TXonXoffSuspend xonXoff(session.Port());
    page.ClearMarks();
    ShowStatus(QStringLiteral("Flash Memory"), QStringLiteral("Reading"));

    TPanelObserver observer;
    // Each block goes into the grids as it arrives.
    const TMemoryRead read = ReadMemoryBlocks(session, observer, kFlashFirstBlock, [&page](int k, const uint8_t* data) {
        page.Image().SetRange(k * kMemoryBlockBytes, data, kMemoryBlockBytes);
    });
    if (!read.Ok()) ShowCommunicationError(&page);
}

void ProgramFlashButtonClick(TModuleSession& session, TFlashPage& page)
{
    if (TOperationState::Busy()) return;  // one operation at a time
    TOperationGuard guard(&page);
    TXonXoffSuspend xonXoff(session.Port());
    ShowStatus(QStringLiteral("Flash Memory"), QStringLiteral("Programming"));

    page.ClearMarks();
    TPanelObserver observer;
    if (!session.Communication_Check(observer)) {
        ShowCommunicationError(&page);
        return;
    }
    const TFlashImage::Bytes image = page.Image().Data();
    const bool failed = ProgramMemory(session, kEraseFlash, kFlashFirstBlock, image);
    observer.Pause(100);
    if (failed) {
        ShowCommunicationError(&page, QStringLiteral("Error Programming Config Memory"));
    } else if (page.VerifyAfterProgramming()) {
        // After the specified bytes: the four blocks read back and compared.
        const std::vector<TByteDifference> differences =
            VerifyAfterProgramming(session, &page, QStringLiteral("Flash Memory"), kFlashFirstBlock, image);
        std::vector<int> marks;
        for (const TByteDifference& d : differences) marks.push_back(d.address);
        if (!marks.empty()) page.MarkDifferences(marks, DifferenceSummary(differences));
    }
}
