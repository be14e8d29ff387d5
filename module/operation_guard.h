#pragma once
// Brackets an operation with the module: disables its page and shows the
// hourglass; the destructor gives both back, also when a port error unwinds
// the operation, and hides the progress window.
#include <QPointer>
#include <QWidget>

class TOperationGuard {
public:
    explicit TOperationGuard(QWidget* page);
    ~TOperationGuard();
    TOperationGuard(const TOperationGuard&) = delete;
    TOperationGuard& operator=(const TOperationGuard&) = delete;

    // Operations running now (nested ones counted).
    static int Active();

private:
    QPointer<QWidget> page_;
};
