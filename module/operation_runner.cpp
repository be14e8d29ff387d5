#include "module/operation_runner.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include "common/posted_call.h"
#include "module/operation_state.h"

TOperationRunner& TOperationRunner::Panel()
{
    static TOperationRunner runner;
    return runner;
}

void TOperationRunner::Post(QObject* ctx, std::function<void()> fn)
{
    PostCall(ctx, std::move(fn));
}

QString TOperationRunner::Refusal() const
{
    std::lock_guard<std::mutex> lock(m_);
    if (running_) return QStringLiteral("\"%1\" is still running: wait for it to end, or stop it with Close Port.").arg(name_);
    if (TOperationState::Quitting()) return QStringLiteral("The program is closing.");
    return {};
}

bool TOperationRunner::Start(const QString& name, TJob job, TDone done, QString* reason)
{
    const QString refusal = Refusal();
    if (!refusal.isEmpty()) {
        if (reason) *reason = refusal;
        return false;
    }
    if (worker_.joinable()) worker_.join();  // a run whose done already ran
    {
        std::lock_guard<std::mutex> lock(m_);
        running_ = true;
        doneRun_ = false;
        name_ = name;
        done_ = std::move(done);
        failure_ = nullptr;
    }
    stop_.Reset();
    TOperationState::Begin();  // the page controls are held, the lamps paint at once
    if (TOperationState::Quitting()) stop_.Request();
    worker_ = std::thread([this, job = std::move(job)] {
        try {
            job(stop_);
        } catch (...) {
            std::lock_guard<std::mutex> lock(m_);
            failure_ = std::current_exception();
        }
        // The end on the window thread; the application object outlives
        // every run (Finish runs a done the loop did not deliver).
        Post(QCoreApplication::instance(), [this] { Ended(); });
    });
    return true;
}

void TOperationRunner::Ended()
{
    TDone done;
    {
        std::lock_guard<std::mutex> lock(m_);
        if (doneRun_) return;
        doneRun_ = true;
        done = std::move(done_);
        done_ = nullptr;
        rethrow_ = failure_;
        failure_ = nullptr;
    }
    if (worker_.joinable()) worker_.join();
    struct TEnd {
        TOperationRunner* r;
        ~TEnd()
        {
            {
                std::lock_guard<std::mutex> lock(r->m_);
                r->running_ = false;
                r->rethrow_ = nullptr;
            }
            TOperationState::End();
        }
    } end{this};
    if (done) done();
}

void TOperationRunner::RethrowFailure()
{
    std::exception_ptr e;
    {
        std::lock_guard<std::mutex> lock(m_);
        e = rethrow_;
    }
    if (e) std::rethrow_exception(e);
}

bool TOperationRunner::Running() const
{
    std::lock_guard<std::mutex> lock(m_);
    return running_;
}

QString TOperationRunner::RunningName() const
{
    std::lock_guard<std::mutex> lock(m_);
    return running_ ? name_ : QString();
}

void TOperationRunner::RequestStop()
{
    if (Running()) stop_.Request();
}

void TOperationRunner::Finish()
{
    if (worker_.joinable()) worker_.join();
    Ended();
}

bool TOperationRunner::WaitIdle(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (Running()) {
        if (deadline.hasExpired()) return false;
        // Sleeps until an event comes; the timer bounds the sleep.
        QTimer::singleShot(10, [] {});
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}
