#include "module/operation_state.h"

#include <atomic>

namespace {

int g_depth = 0;
// Atomic: operations on worker threads (a command-line run, a port search)
// read them while the GUI thread may set them.
std::atomic<bool> g_stop{false};
std::atomic<bool> g_quitting{false};
bool g_failureShown = false;
std::function<void(bool)> g_observer;

void Notify(bool running)
{
    // A copy: the observer may replace itself.
    if (auto observer = g_observer) observer(running);
}

}  // namespace

bool TOperationState::Running() { return g_depth > 0; }
bool TOperationState::Busy() { return g_depth > 0 || g_quitting; }

bool TOperationState::StopRequested() { return g_stop; }
void TOperationState::RequestStop()
{
    if (g_depth > 0) g_stop = true;
}

bool TOperationState::Quitting() { return g_quitting; }
void TOperationState::RequestQuit()
{
    g_quitting = true;
    g_stop = true;
}

void TOperationState::NoteFailureShown() { g_failureShown = true; }
bool TOperationState::FailureShown() { return g_failureShown; }

void TOperationState::SetObserver(std::function<void(bool)> observer) { g_observer = std::move(observer); }

bool TOperationState::Begin()
{
    if (g_depth++ > 0) return false;
    g_stop = g_quitting.load();
    g_failureShown = false;
    Notify(true);
    return true;
}

void TOperationState::End()
{
    if (g_depth == 0) return;
    if (--g_depth == 0) {
        // The stop was for that operation: exchanges outside one (Program
        // Pair, Find Module) must not end at once because of it.
        g_stop = g_quitting.load();
        Notify(false);
    }
}

void TOperationState::Reset()
{
    g_depth = 0;
    g_stop = false;
    g_quitting = false;
    g_failureShown = false;
}
