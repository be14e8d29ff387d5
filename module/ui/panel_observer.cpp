#include "module/ui/panel_observer.h"

#include "common/ui/dialogs.h"
#include "module/operation_runner.h"
#include "module/session.h"
#include "module/ui/status_form.h"
#include "serial/com_port.h"

void TPanelObserver::Progress(int percent, TOperationPhase)
{
    TOperationRunner::Post(ctx_, [percent] { UpdateStatus(percent); });
}

bool TPanelObserver::AbortRequested() { return honourAbort_ && ::AbortRequested(); }

void TPanelObserver::ClearAbort()
{
    if (honourAbort_) SetAbortRequested(false);
}

void TPanelObserver::Pause(int32_t ms) { stop_.Sleep(ms); }

void TPanelObserver::Stage(const QString& mode)
{
    TOperationRunner::Post(ctx_, [caption = caption_, mode] { ShowStatus(caption, mode); });
}

void TPanelObserver::Beep()
{
    TOperationRunner::Post(ctx_, [] { Dialogs().Beep(); });
}

TPanelLineHold::TPanelLineHold(TModuleSession& session, TStopFlag& stop) : session_(session)
{
    session_.SetStop(&stop);
    session_.Port().Reserve();
}

TPanelLineHold::~TPanelLineHold() { session_.Port().Release(); }
