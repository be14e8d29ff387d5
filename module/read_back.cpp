#include "module/read_back.h"

#include <QStringList>
#include <memory>

#include "common/dialogs.h"
#include "flash_editor/flash_page.h"
#include "module/communication_error.h"
#include "module/config_decoder.h"
#include "module/operation_guard.h"
#include "module/panel_observer.h"
#include "module/program_runs.h"
#include "module/session.h"
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
    QPointer<TConfigPage> p(&page);
    auto read = std::make_shared<TMemoryRead>();
    StartPanelRun(
        {&page, QStringLiteral("Read Config"), QStringLiteral("Config Memory"), QStringLiteral("Reading")},
        [&session, p, read](TStopFlag& stop) {
            TPanelLineHold hold(session, stop);
            TPanelObserver observer(stop, p, QStringLiteral("Config Memory"));
            *read = ReadAreaRun(session, observer, kConfigFirstBlock);
        },
        [p, read] {
            if (!p) return;
            if (!read->Ok()) {
                ShowCommunicationError(p);
                return;
            }
            const TConfigDecoding decoding = DecodeConfigImage(read->bytes);
            p->SetValues(decoding.values);
            if (!decoding.differences.empty())
                Dialogs().MessageBox(p, DifferenceMessage(decoding.differences), QStringLiteral("Read Config"),
                                     mb::Ok | mb::IconExclamation);
        });
}

void CompareFlashButtonClick(TModuleSession& session, TFlashPage& page)
{
    QPointer<TFlashPage> p(&page);
    const TFlashImage::Bytes shown = page.Image().Data();
    auto read = std::make_shared<TMemoryRead>();
    const bool started = StartPanelRun(
        {&page, QStringLiteral("Compare with Module"), QStringLiteral("Flash Memory"), QStringLiteral("Reading")},
        [&session, p, read](TStopFlag& stop) {
            TPanelLineHold hold(session, stop);
            TPanelObserver observer(stop, p, QStringLiteral("Flash Memory"));
            *read = ReadAreaRun(session, observer, kFlashFirstBlock);
        },
        [p, read, shown] {
            if (!p) return;
            if (!read->Ok()) {
                ShowCommunicationError(p);
                return;
            }
            const std::vector<TByteDifference> differences = CompareMemory(kFlashFirstBlock, shown, read->bytes);
            p->MarkDifferences(Addresses(differences), DifferenceSummary(differences));
        });
    if (started) page.ClearMarks();
}

std::vector<TByteDifference> ShowVerifyResult(QWidget* page, const TVerifyResult& result)
{
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
