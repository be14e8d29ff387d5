#include "module/operation_guard.h"

#include <QApplication>

#include "module/operation_state.h"
#include "module/communication_error.h"
#include "module/status_form.h"

TOperationScope::TOperationScope(QWidget* parent) : parent_(parent), outer_(TOperationState::Begin()) {}

TOperationScope::~TOperationScope()
{
    ReportStop();
    TOperationState::End();
}

void TOperationScope::ReportStop()
{
    if (!outer_ || reported_) return;
    reported_ = true;
    if (TOperationState::StopRequested() && !TOperationState::FailureShown()) ShowCommunicationError(parent_);
}

namespace {
int g_active = 0;  // user-interface thread only
}  // namespace

int TOperationGuard::Active() { return g_active; }

TOperationGuard::TOperationGuard(QWidget* page) : scope_(page), page_(page)
{
    ++g_active;
    if (page_) page_->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

TOperationGuard::~TOperationGuard()
{
    // The message first, while the page is still disabled, as after a failure.
    scope_.ReportStop();
    HideStatus();
    if (page_) page_->setEnabled(true);
    QApplication::restoreOverrideCursor();
    --g_active;
}
