#include "module/operation_guard.h"

#include <QApplication>

#include "module/status_form.h"

namespace {
int g_active = 0;  // user-interface thread only
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
    HideStatus();
    if (page_) page_->setEnabled(true);
    QApplication::restoreOverrideCursor();
    --g_active;
}
