#pragma once
// The panel's one operation with the module, as the rest of the window sees
// it: whether one runs, and how it is stopped. The run itself lives in
// TOperationRunner; Begin and End frame it on the window thread.
#include <functional>

class TOperationState {
public:
    // An operation runs (between Begin and End).
    static bool Running();
    // No operation may start now: one runs, or the program is quitting.
    static bool Busy();

    // The running operation ends at its next wait: its waits and pauses
    // return at once, nothing more is written, and it takes its failure path.
    static bool StopRequested();
    static void RequestStop();

    // The program is quitting: the running operation stops, no message box
    // is shown any more and no operation starts.
    static bool Quitting();
    static void RequestQuit();

    // The running operation has shown its failure message (or an error box).
    static void NoteFailureShown();
    static bool FailureShown();

    // Told when an operation begins (true) and ends (false); one observer.
    static void SetObserver(std::function<void(bool running)> observer);

    // Window thread: the frame of a run.
    static void Begin();
    static void End();

    // Back to the state at start-up (tests that run the event loop again).
    static void Reset();
};
