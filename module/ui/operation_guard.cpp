#include "module/ui/operation_guard.h"

#include <QApplication>
#include <exception>
#include <memory>

#include "common/ui/dialogs.h"
#include "module/ui/communication_error.h"
#include "module/ui/error_report.h"
#include "module/operation_state.h"
#include "module/ui/status_form.h"
#include "serial/com_types.h"

namespace {
int g_active = 0;  // window thread only
}  // namespace

int TOperationGuard::Active() { return g_active; }

TOperationGuard::TOperationGuard(QWidget* page) : page_(page)
{
    ++g_active;
    if (page_) page_->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

TOperationGuard::~TOperationGuard()
{
    // The message first, while the page is still disabled, as after a failure.
    ReportStop();
    HideStatus();
    if (page_) page_->setEnabled(true);
    QApplication::restoreOverrideCursor();
    --g_active;
}

void TOperationGuard::ReportStop()
{
    if (reported_) return;
    reported_ = true;
    if (TOperationState::StopRequested() && !TOperationState::FailureShown()) ShowCommunicationError(page_);
}

bool StartPanelRun(const TPanelRun& run, TOperationRunner::TJob job, std::function<void()> present, bool tellRefusal)
{
    TOperationRunner& runner = TOperationRunner::Panel();
    const QString refusal = runner.Refusal();
    if (!refusal.isEmpty()) {
        if (tellRefusal && !TOperationState::Quitting())
            Dialogs().MessageBox(run.page, refusal, run.name, mb::Ok | mb::IconExclamation);
        return false;
    }
    auto guard = std::make_shared<std::unique_ptr<TOperationGuard>>(std::make_unique<TOperationGuard>(run.page));
    if (!run.caption.isEmpty()) ShowStatus(run.caption, run.mode);
    QPointer<QWidget> page(run.page);
    auto done = [guard, page, present = std::move(present)] {
        try {
            TOperationRunner::Panel().RethrowFailure();
        } catch (const EComPort& e) {
            // The page, the cursor and the progress window come back first.
            guard->reset();
            ReportPortError(page, e);
            return;
        } catch (const std::exception& e) {
            guard->reset();
            if (!TOperationState::Quitting())
                Dialogs().MessageBox(page, QString::fromLocal8Bit(e.what()), QStringLiteral("Error"),
                                     mb::Ok | mb::IconError);
            return;
        }
        if (present) present();
        guard->reset();
    };
    return runner.Start(run.name, std::move(job), std::move(done));
}
