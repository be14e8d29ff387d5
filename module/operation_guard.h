#pragma once
// Brackets an operation with the module. TOperationScope makes it the one
// operation that runs (TOperationState) and, when "Close Port" stopped it
// before it said anything, shows its one failure message at the end.
// TOperationGuard adds what the page gets back: it disables the page and
// shows the hourglass; the destructor gives both back, also when a port
// error unwinds the operation, and hides the progress window.
#include <QPointer>
#include <QWidget>

class TOperationScope {
public:
    // The caller has checked TOperationState::Busy() for an operation of its own.
    explicit TOperationScope(QWidget* parent);
    ~TOperationScope();
    TOperationScope(const TOperationScope&) = delete;
    TOperationScope& operator=(const TOperationScope&) = delete;

    // Outermost scope of an operation stopped by "Close Port" that has shown
    // nothing yet: the "Communication Error" box. Once.
    void ReportStop();

private:
    QPointer<QWidget> parent_;
    bool outer_;
    bool reported_ = false;
};

class TOperationGuard {
public:
    explicit TOperationGuard(QWidget* page);
    ~TOperationGuard();
    TOperationGuard(const TOperationGuard&) = delete;
    TOperationGuard& operator=(const TOperationGuard&) = delete;

    // Operations running now (nested ones counted).
    static int Active();

private:
    TOperationScope scope_;
    QPointer<QWidget> page_;
};
