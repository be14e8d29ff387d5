#include "module/ui/flash_transfer.h"

#include <QByteArray>
#include <memory>

#include "flash_editor/ui/flash_page.h"
#include "module/ui/communication_error.h"
#include "module/ui/operation_guard.h"
#include "module/operation_report.h"
#include "module/operation_state.h"
#include "module/ui/panel_observer.h"
#include "module/program_runs.h"
#include "module/ui/read_back.h"
#include "module/session.h"
#include "serial/com_port.h"

namespace {

const QString kCaption = QStringLiteral("Flash Memory");

}  // namespace

void ReadFlashButtonClick(TModuleSession& session, TFlashPage& page)
{
    QPointer<TFlashPage> p(&page);
    auto read = std::make_shared<TMemoryRead>();
    const bool started = StartPanelRun(
        {&page, QStringLiteral("Read Flash"), kCaption, QStringLiteral("Reading")},
        [&session, p, read](TStopFlag& stop) {
            TPanelLineHold hold(session, stop);
            TPanelObserver observer(stop, p, kCaption);
            // Each block goes into the grids as it arrives.
            *read = ReadAreaRun(session, observer, kFlashFirstBlock, [p](int k, const uint8_t* data) {
                const QByteArray block(reinterpret_cast<const char*>(data), kMemoryBlockBytes);
                TOperationRunner::Post(p, [p, k, block] {
                    p->Image().SetRange(k * kMemoryBlockBytes, reinterpret_cast<const uint8_t*>(block.constData()),
                                        kMemoryBlockBytes);
                });
            });
        },
        [p, read] {
            if (p && !read->Ok()) ShowCommunicationError(p);
        });
    if (started) page.ClearMarks();
}

void ProgramFlashButtonClick(TModuleSession& session, TFlashPage& page)
{
    QPointer<TFlashPage> p(&page);
    const TMemoryBytes image = page.Image().Data();
    const bool verify = page.VerifyAfterProgramming();
    auto run = std::make_shared<TProgramRun>();
    const QString port = TCustomComPort::DevicePath(session.Port().Port());
    const QDateTime begun = QDateTime::currentDateTimeUtc();
    const bool started = StartPanelRun(
        {&page, QStringLiteral("Program Flash"), kCaption, QStringLiteral("Programming")},
        [&session, p, image, verify, run](TStopFlag& stop) {
            TPanelLineHold hold(session, stop);
            TPanelObserver observer(stop, p, kCaption);
            *run = ProgramFlashRun(session, observer, image, verify);
        },
        [p, run, port, begun, image] {
            ReportOperation(ProgramReport(QStringLiteral("program-flash"), port, begun, image, false, *run,
                                            TOperationState::StopRequested()));
            if (!p) return;
            if (!run->checked) {
                ShowCommunicationError(p);
            } else if (run->error != TOperationError::None) {
                ShowCommunicationError(p, QStringLiteral("Error Programming Config Memory"));
            } else if (run->verifyRan) {
                const std::vector<TByteDifference> differences = ShowVerifyResult(p, run->verify);
                std::vector<int> marks;
                for (const TByteDifference& d : differences) marks.push_back(d.address);
                if (!marks.empty()) p->MarkDifferences(marks, DifferenceSummary(differences));
            }
        });
    if (started) page.ClearMarks();
}
