#pragma once
// The panel's side of an operation: progress goes to the progress window,
// pauses keep the window alive, and the Abort button is heard where the
// operation asks for it.
#include "module/operation_observer.h"

class TPanelObserver : public TOperationObserver {
public:
    // The flash and configuration operations run to their end whatever the
    // Abort button says; the command sender listens to it.
    explicit TPanelObserver(bool honourAbort = false) : honourAbort_(honourAbort) {}

    void Progress(int percent, TOperationPhase phase) override;
    bool AbortRequested() override;
    void Pause(int32_t ms) override;
    void KeepAlive() override;

private:
    bool honourAbort_;
};
