#include "module/read_back.h"

#include <QStringList>

#include "common/dialogs.h"
#include "flash_editor/flash_page.h"
#include "module/communication_error.h"
#include "module/config_decoder.h"
#include "module/operation_guard.h"
#include "module/operation_state.h"
#include "module/panel_observer.h"
#include "module/session.h"
#include "module/status_form.h"
#include "module/xon_xoff_suspend.h"
#include "settings/config_page.h"

namespace {

std::vector<int> Addresses(const std::vector<TByteDifference>& differences)
{
    std::vector<int> out;
    out.reserve(differences.size());
    for (const TByteDifference& d : differences) out.push_back(d.address);
    return out;
}

}  // namespace

void ReadConfigButtonClick(TModuleSession& session, TConfigPage& page)
{
    if (TOperationState::Busy()) return;  // one operation at a time
    TOperationGuard guard(&page);
    TXonXoffSuspend xonXoff(session.Port());  // the blocks may hold 0x11 and 0x13
    ShowStatus(QStringLiteral("Config Memory"), QStringLiteral("Reading"));

    TPanelObserver observer;
    const TMemoryRead read = ReadMemoryBlocks(session, observer, kConfigFirstBlock);
    if (!read.Ok()) {
        ShowCommunicationError(&page);
        return;
    }
    const TConfigDecoding decoding = DecodeConfigImage(read.bytes);
    page.SetValues(decoding.values);
    if (!decoding.differences.empty())
        Dialogs().MessageBox(&page, DifferenceMessage(decoding.differences), QStringLiteral("Read Config"),
                             mb::Ok | mb::IconExclamation);
}

void CompareFlashButtonClick(TModuleSession& session, TFlashPage& page)
{
    if (TOperationState::Busy()) return;  // one operation at a time
    TOperationGuard guard(&page);
    TXonXoffSuspend xonXoff(session.Port());  // the blocks may hold 0x11 and 0x13
    page.ClearMarks();
    ShowStatus(QStringLiteral("Flash Memory"), QStringLiteral("Reading"));

    TPanelObserver observer;
    const TFlashImage::Bytes shown = page.Image().Data();
    const TMemoryRead read = ReadMemoryBlocks(session, observer, kFlashFirstBlock);
    if (!read.Ok()) {
        ShowCommunicationError(&page);
        return;
    }
    const std::vector<TByteDifference> differences = CompareMemory(kFlashFirstBlock, shown, read.bytes);
    page.MarkDifferences(Addresses(differences), DifferenceSummary(differences));
}

std::vector<TByteDifference> VerifyAfterProgramming(TModuleSession& session, QWidget* page, const QString& caption,
                                                    int firstBlock, const TMemoryBytes& written)
{
    ShowStatus(caption, QStringLiteral("Verifying"));
    TPanelObserver observer;
    const TVerifyResult result = VerifyMemory(session, observer, firstBlock, written);
    if (result.error != TOperationError::None) {
        ShowCommunicationError(page);
        return {};
    }
    if (!result.differences.empty())
        Dialogs().MessageBox(page,
                             QStringLiteral("Verify after programming: the module does not hold what was written.\n") +
                                 DifferenceReport(result.differences),
                             QStringLiteral("Verify Error"), mb::Ok | mb::IconExclamation);
    return result.differences;
}
