#pragma once
// TOperationRunner: where the panel's operations with the module run. A run
// is a job on a worker thread of its own; the window thread starts it,
// observes what it reports (posted back as queued calls) and gets the end
// as one call once the worker has finished. No pause or wait of the
// protocol runs inside an event loop, so no click, timer or box can enter
// an exchange or hold it.
//
// One run at a time in the whole program: a start while one runs (or while
// the program quits) is refused with the reason, whoever asks: a button,
// a menu, Program Pair, Find Module, a profile load or a reconnect.
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <mutex>
#include <thread>

#include "module/stop_flag.h"

class TOperationRunner {
public:
    // The program's one runner.
    static TOperationRunner& Panel();

    using TJob = std::function<void(TStopFlag& stop)>;
    using TDone = std::function<void()>;

    // Window thread. Starts job on a worker; done runs on the window thread
    // after the worker ended (also when the job threw: the exception is
    // handed to done through RethrowFailure). False and *reason when refused.
    bool Start(const QString& name, TJob job, TDone done, QString* reason = nullptr);
    // The reason a start would be refused now; empty when it would not.
    QString Refusal() const;

    // From Start until done has returned.
    bool Running() const;
    QString RunningName() const;
    // The run ends at its next wait: nothing more is written, it takes its
    // failure path. Any thread.
    void RequestStop();
    bool StopRequested() const { return stop_.Requested(); }
    TStopFlag& Stop() { return stop_; }

    // Inside done: the exception that ended the job, rethrown (nothing when
    // the job returned).
    void RethrowFailure();

    // Posts fn to ctx's thread; dropped when ctx is gone by then.
    static void Post(QObject* ctx, std::function<void()> fn);

    // Waits for the worker and runs its done now when the event loop can no
    // longer deliver it (the program's end).
    void Finish();
    // Processes events until no run is left, at most timeoutMs (tests).
    bool WaitIdle(int timeoutMs = 30000);

private:
    void Ended();

    mutable std::mutex m_;
    bool running_ = false;
    bool doneRun_ = true;
    QString name_;
    TStopFlag stop_;
    std::thread worker_;
    TDone done_;
    std::exception_ptr failure_;
    std::exception_ptr rethrow_;
};
