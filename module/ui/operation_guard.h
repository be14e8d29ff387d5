#pragma once
// The window's side of a panel operation. TOperationGuard holds the page for
// the run: it disables the page and shows the hourglass; its end gives both
// back, hides the progress window and, when "Close Port" stopped the run
// before it said anything, shows its one failure message. StartPanelRun
// puts it together with the runner.
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

#include "module/operation_runner.h"

class TOperationGuard {
public:
    explicit TOperationGuard(QWidget* page);
    ~TOperationGuard();
    TOperationGuard(const TOperationGuard&) = delete;
    TOperationGuard& operator=(const TOperationGuard&) = delete;

    // Operations holding a page now.
    static int Active();

private:
    // A run stopped by "Close Port" that has shown nothing yet: the
    // "Communication Error" box. Once.
    void ReportStop();

    QPointer<QWidget> page_;
    bool reported_ = false;
};

struct TPanelRun {
    QWidget* page = nullptr;  // held during the run; the parent of its boxes
    QString name;             // "Program Flash": named when another start is refused
    QString caption;          // the progress window's caption; none when empty
    QString mode;             // and its mode line
};

// Starts a panel operation: the page held, the progress window shown, the
// job on the runner's worker. present runs on the window thread once the
// job has returned, before the page is given back; a port error that ended
// the job gets the error box after the page is given back. False when
// refused; with tellRefusal the reason is shown in a box.
bool StartPanelRun(const TPanelRun& run, TOperationRunner::TJob job, std::function<void()> present,
                   bool tellRefusal = false);
