#pragma once
// "Log to file": every transfer the log records is written to a file as
// soon as it is recorded, one line per transfer (or 16 bytes), and flushed,
// so the file holds everything up to a hang-up or a crash. QtCore only.
#include <QFile>
#include <QString>
#include <functional>
#include <mutex>

#include "serial/ui/traffic_format.h"
#include "serial/traffic_log.h"

class TTrafficFileLog {
public:
    TTrafficFileLog() = default;
    ~TTrafficFileLog();
    TTrafficFileLog(const TTrafficFileLog&) = delete;
    TTrafficFileLog& operator=(const TTrafficFileLog&) = delete;

    // Appends to path (a file that exists keeps its content). False with
    // *error set when it cannot be opened.
    bool Start(TTrafficLog& log, const QString& path, QString* error);
    void Stop();
    bool Active() const;
    QString Path() const { return path_; }

    // A write failed: logging has stopped. Called on the recording thread.
    std::function<void(const QString& error)> OnFailed;

private:
    void Write(const TTrafficChunk& chunk);

    mutable std::mutex m_;
    TTrafficLog* log_ = nullptr;
    int sink_ = 0;
    QFile file_;
    QString path_;
    TTrafficLines lines_{false};
};
