#include "module/operation_state.h"

#include <atomic>

#include "module/operation_runner.h"

namespace {

// Atomic: runs on their worker threads read them.
std::atomic<bool> g_running{false};
std::atomic<bool> g_quitting{false};
std::atomic<bool> g_failureShown{false};
std::function<void(bool)> g_observer;  // window thread only

void Notify(bool running)
{
    // A copy: the observer may replace itself.
    if (auto observer = g_observer) observer(running);
}

}  // namespace

bool TOperationState::Running() { return g_running; }
bool TOperationState::Busy() { return g_running || g_quitting; }

bool TOperationState::StopRequested() { return g_quitting || TOperationRunner::Panel().StopRequested(); }
void TOperationState::RequestStop() { TOperationRunner::Panel().RequestStop(); }

bool TOperationState::Quitting() { return g_quitting; }
void TOperationState::RequestQuit()
{
    g_quitting = true;
    TOperationRunner::Panel().RequestStop();
}

void TOperationState::NoteFailureShown() { g_failureShown = true; }
bool TOperationState::FailureShown() { return g_failureShown; }

void TOperationState::SetObserver(std::function<void(bool)> observer) { g_observer = std::move(observer); }

void TOperationState::Begin()
{
    g_running = true;
    g_failureShown = false;
    Notify(true);
}

void TOperationState::End()
{
    if (!g_running) return;
    g_running = false;
    Notify(false);
}

void TOperationState::Reset()
{
    g_running = false;
    g_quitting = false;
    g_failureShown = false;
}
