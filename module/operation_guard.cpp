#include "module/operation_guard.h"

#include <QApplication>

#include "module/status_form.h"

TOperationGuard::TOperationGuard(QWidget* page) : page_(page)
{
    if (page_) page_->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

TOperationGuard::~TOperationGuard()
{
    HideStatus();
    if (page_) page_->setEnabled(true);
    QApplication::restoreOverrideCursor();
}
