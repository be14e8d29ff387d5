#pragma once
// The one operation with the module that runs at a time, and how it is
// stopped. An operation runs inside its button handler; during its pauses
// the window takes user input, so another operation, "Open Port", "Close
// Port" or a close of the window can come in the middle of it. Process-wide,
// as the progress window and its Abort flag are.
#include <functional>

class TOperationState {
public:
    // An operation runs (between the outermost Begin and its End).
    static bool Running();
    // No operation may start now: one runs, or the program is quitting.
    static bool Busy();

    // The running operation ends at its next wait: the session's waits and
    // pauses return at once, nothing more is written, and the operation
    // takes its failure path. Cleared when the next operation begins.
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

    // Frame of an operation; a nested frame (a row inside "Send All", a pass
    // of a repeating row) belongs to the outer one. Begin returns true for
    // the outermost frame.
    static bool Begin();
    static void End();

    // Back to the state at start-up (tests that run the event loop again).
    static void Reset();
};
