#pragma once
// The panel's side of an operation that runs on the runner's worker: its
// progress, stages and beeps are posted to the window thread (the progress
// window), its pauses sleep on the run's stop flag, and the Abort button is
// heard where the operation asks for it.
#include <QPointer>
#include <QString>

#include "module/operation_observer.h"

class TPanelObserver : public TOperationObserver {
public:
    // The flash and configuration operations run to their end whatever the
    // Abort button says; the command sender listens to it. ctx: where the
    // reports go (they are dropped once it is gone); caption: the progress
    // window's caption for a new stage.
    TPanelObserver(TStopFlag& stop, QObject* ctx, const QString& caption, bool honourAbort = false)
        : stop_(stop), ctx_(ctx), caption_(caption), honourAbort_(honourAbort)
    {
    }

    void Progress(int percent, TOperationPhase phase) override;
    bool AbortRequested() override;
    void ClearAbort() override;
    void Pause(int32_t ms) override;
    void Stage(const QString& mode) override;
    void Beep() override;

private:
    TStopFlag& stop_;
    QPointer<QObject> ctx_;
    QString caption_;
    bool honourAbort_;
};

class TModuleSession;

// The frame of a panel job on its worker: the session takes the run's stop,
// and the port is reserved for this thread (the window's links leave its
// replies alone, the terminal sends nothing) until the job returns.
class TPanelLineHold {
public:
    TPanelLineHold(TModuleSession& session, TStopFlag& stop);
    ~TPanelLineHold();
    TPanelLineHold(const TPanelLineHold&) = delete;
    TPanelLineHold& operator=(const TPanelLineHold&) = delete;

private:
    TModuleSession& session_;
};
