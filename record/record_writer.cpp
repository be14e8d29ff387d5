#include "record/record_writer.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "record/production_record.h"
#include "record/record_location.h"

namespace {

class TWriterThread {
public:
    // The panel's saved choice until it is set otherwise.
    TWriterThread() : location_(SavedRecordLocation()) {}
    ~TWriterThread()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    void Post(const TRecordEntry& entry)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!enabled_) return;
            queue_.push_back(entry);
            if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
        }
        wake_.notify_all();
    }

    bool Flush(int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return idle_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return queue_.empty() && !busy_; });
    }

    void SetLocation(const QString& location, const QString& localPath)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        location_ = location;
        localPath_ = localPath;
    }
    void SetEnabled(bool enabled)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        enabled_ = enabled;
    }
    void SetNoticeHandler(std::function<void(const QString&)> handler)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        notice_ = std::move(handler);
    }

private:
    void Run()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (queue_.empty() && stop_) return;
            TRecordEntries batch(queue_.begin(), queue_.end());
            queue_.clear();
            busy_ = true;
            const QString location = location_, localPath = localPath_;
            const auto notice = notice_;
            lock.unlock();
            TRecordResult r;
            {
                // A record per batch: no connection outlives the batch, so
                // nothing is left open when the program ends.
                TProductionRecord record(location, localPath);
                r = record.Append(batch);
            }
            if (!r.notice.isEmpty() && notice) notice(r.notice);
            lock.lock();
            busy_ = false;
            idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<TRecordEntry> queue_;
    std::thread thread_;
    bool stop_ = false;
    bool busy_ = false;
    bool enabled_ = true;
    QString location_, localPath_;
    std::function<void(const QString&)> notice_;
};

TWriterThread& Writer()
{
    static TWriterThread writer;
    return writer;
}

}  // namespace

void TRecordWriter::SetLocation(const QString& location, const QString& localPath) { Writer().SetLocation(location, localPath); }
void TRecordWriter::SetEnabled(bool enabled) { Writer().SetEnabled(enabled); }
void TRecordWriter::SetNoticeHandler(std::function<void(const QString&)> handler) { Writer().SetNoticeHandler(std::move(handler)); }
void TRecordWriter::Post(const TRecordEntry& entry) { Writer().Post(entry); }
bool TRecordWriter::Flush(int timeoutMs) { return Writer().Flush(timeoutMs); }
