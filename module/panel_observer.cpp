#include "module/panel_observer.h"

#include <QCoreApplication>

#include "module/session.h"
#include "module/status_form.h"

void TPanelObserver::Progress(int percent, TOperationPhase) { UpdateStatus(percent); }

bool TPanelObserver::AbortRequested() { return honourAbort_ && ::AbortRequested(); }

void TPanelObserver::Pause(int32_t ms) { TModuleSession::PauseWithMessages(ms); }

void TPanelObserver::KeepAlive() { QCoreApplication::processEvents(QEventLoop::AllEvents); }
