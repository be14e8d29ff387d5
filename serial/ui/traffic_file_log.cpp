#include "serial/ui/traffic_file_log.h"

#include <QDateTime>

#include "common/atomic_file.h"

TTrafficFileLog::~TTrafficFileLog() { Stop(); }

bool TTrafficFileLog::Start(TTrafficLog& log, const QString& path, QString* error)
{
    Stop();
    std::lock_guard<std::mutex> lock(m_);
    file_.setFileName(path);
    // What went over the line may hold a key: the file is the owner's only.
    if (!MakeFileOwnerOnly(path, error)) return false;
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        if (error) *error = file_.errorString();
        return false;
    }
    const QByteArray head = "# Traffic log started " +
                            QDateTime::currentDateTime().toString(Qt::ISODate).toLatin1() +
                            "\n#      time s  since previous  dir bytes\n";
    if (file_.write(head) != head.size() || !file_.flush()) {
        if (error) *error = file_.errorString();
        file_.close();
        return false;
    }
    path_ = path;
    lines_.Clear();
    log_ = &log;
    sink_ = log.AddSink([this](const TTrafficChunk& c) { Write(c); });
    return true;
}

void TTrafficFileLog::Stop()
{
    TTrafficLog* log = nullptr;
    int sink = 0;
    {
        std::lock_guard<std::mutex> lock(m_);
        log = log_;
        sink = sink_;
        log_ = nullptr;
        sink_ = 0;
        if (file_.isOpen()) file_.close();
    }
    if (log) log->RemoveSink(sink);
}

bool TTrafficFileLog::Active() const
{
    std::lock_guard<std::mutex> lock(m_);
    return file_.isOpen();
}

void TTrafficFileLog::Write(const TTrafficChunk& chunk)
{
    QString failure;
    {
        std::lock_guard<std::mutex> lock(m_);
        if (!file_.isOpen()) return;
        lines_.Add(chunk);
        QByteArray text;
        for (const TTrafficLine& l : lines_.Lines()) {
            text += FormatTrafficLine(l);
            text += '\n';
        }
        lines_.DropBefore(UINT64_MAX);
        if (file_.write(text) != text.size() || !file_.flush()) {
            failure = file_.errorString();
            file_.close();
        }
    }
    if (!failure.isEmpty() && OnFailed) OnFailed(failure);
}
