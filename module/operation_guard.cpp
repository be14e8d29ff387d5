#include "module/operation_guard.h"

#include <QApplication>

#include "module/operation_state.h"
#include "module/session.h"
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

TOperationGuard::TOperationGuard(QWidget* page) : scope_(page), page_(page)
{
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
}
