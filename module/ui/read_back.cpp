#include "module/ui/read_back.h"

#include <QStringList>
#include <memory>

#include "common/ui/dialogs.h"
#include "flash_editor/ui/flash_page.h"
#include "module/ui/communication_error.h"
#include "module/config_decoder.h"
#include "module/ui/operation_guard.h"
#include "module/operation_report.h"
#include "module/operation_state.h"
#include "module/ui/panel_observer.h"
#include "module/program_runs.h"
#include "module/session.h"
#include "serial/com_port.h"
#include "settings/ui/config_page.h"

namespace {

std::vector<int> Addresses(const std::vector<TByteDifference>& differences)
{
    std::vector<int> out;
    out.reserve(differences.size());
    for (const TByteDifference& d : differences) out.push_back(d.address);
    return out;
}

// A read that a stop cut short says so, not what its waits returned after it.
QString StoppedOrErrorText(const TOperationReport& r, TOperationError error)
{
    return QString::fromLatin1(OperationErrorText(r.stopped ? TOperationError::Aborted : error));
}

}  // namespace

void ReadConfigButtonClick(TModuleSession& session, TConfigPage& page)
{
    QPointer<TConfigPage> p(&page);
    auto read = std::make_shared<TMemoryRead>();
    TOperationReport report;
    report.operation = QStringLiteral("read-config");
    report.port = TCustomComPort::DevicePath(session.Port().Port());
    report.started = QDateTime::currentDateTimeUtc();
    StartPanelRun(
        {&page, QStringLiteral("Read Config"), QStringLiteral("Config Memory"), QStringLiteral("Reading")},
        [&session, p, read](TStopFlag& stop) {
            TPanelLineHold hold(session, stop);
            TPanelObserver observer(stop, p, QStringLiteral("Config Memory"));
            *read = ReadAreaRun(session, observer, kConfigFirstBlock);
        },
        [p, read, report]() mutable {
            report.durationMs = report.started.msecsTo(QDateTime::currentDateTimeUtc());
            report.ok = read->Ok();
            report.stopped = !read->Ok() && TOperationState::StopRequested();
            if (read->Ok()) report.image.assign(read->bytes.begin(), read->bytes.end());
            else report.error = StoppedOrErrorText(report, read->error);
            report.configImage = true;
            ReportOperation(report);
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
    TOperationReport report;
    report.operation = QStringLiteral("compare");
    report.port = TCustomComPort::DevicePath(session.Port().Port());
    report.started = QDateTime::currentDateTimeUtc();
    const bool started = StartPanelRun(
        {&page, QStringLiteral("Compare with Module"), QStringLiteral("Flash Memory"), QStringLiteral("Reading")},
        [&session, p, read](TStopFlag& stop) {
            TPanelLineHold hold(session, stop);
            TPanelObserver observer(stop, p, QStringLiteral("Flash Memory"));
            *read = ReadAreaRun(session, observer, kFlashFirstBlock);
        },
        [p, read, shown, report]() mutable {
            report.durationMs = report.started.msecsTo(QDateTime::currentDateTimeUtc());
            report.image.assign(shown.begin(), shown.end());
            const std::vector<TByteDifference> differences =
                read->Ok() ? CompareMemory(kFlashFirstBlock, shown, read->bytes) : std::vector<TByteDifference>{};
            report.ok = read->Ok() && differences.empty();
            report.verified = read->Ok() ? (differences.empty() ? QStringLiteral("yes") : QStringLiteral("no"))
                                         : QStringLiteral("skipped");
            report.differences = DifferenceAddresses(differences);
            report.stopped = !read->Ok() && TOperationState::StopRequested();
            if (!read->Ok()) report.error = StoppedOrErrorText(report, read->error);
            else if (!differences.empty()) report.error = DifferenceSummary(differences);
            ReportOperation(report);
            if (!p) return;
            if (!read->Ok()) {
                ShowCommunicationError(p);
                return;
            }
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
