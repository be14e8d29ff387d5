#include "record/record_spool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include "record/production_record.h"

namespace {

const char* const kTarget = "record_for";

QString ErrnoText() { return QString::fromLocal8Bit(strerror(errno)); }

// Holds RECORD.spool.lock (flock) while it lives, once it got it within
// timeoutMs.
class TSpoolLock {
public:
    TSpoolLock(const QString& spool, int timeoutMs) : path_(spool + QStringLiteral(".lock"))
    {
        fd_ = ::open(QFile::encodeName(path_).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            error_ = QStringLiteral("cannot write %1: %2").arg(path_, ErrnoText());
            return;
        }
        // flock has no time-out of its own: tried again every 20 ms until the deadline.
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
            if (errno == EINTR) continue;
            if (errno != EWOULDBLOCK) {
                error_ = QStringLiteral("cannot lock %1: %2").arg(path_, ErrnoText());
                break;
            }
            if (clock.elapsed() >= timeoutMs) {
                timedOut_ = true;
                error_ = QStringLiteral("%1 is held by another program (more than %2 s)").arg(path_).arg(timeoutMs / 1000.0);
                break;
            }
            ::usleep(20000);
        }
        ::close(fd_);
        fd_ = -1;
    }
    ~TSpoolLock()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Held() const { return fd_ >= 0; }
    // Another program held it past the deadline (readers, which go on
    // without a lock file they cannot make, stop here).
    bool TimedOut() const { return timedOut_; }
    QString Error() const { return error_; }

private:
    QString path_;
    int fd_ = -1;
    bool timedOut_ = false;
    QString error_;
};

QByteArray Line(const QString& target, const TRecordEntry& e)
{
    QJsonObject o;
    o.insert(QLatin1String(kTarget), target);
    for (int c = 0; c < RecordColumns().size(); ++c) o.insert(RecordColumns()[c], RecordValue(e, c));
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

// The lines of the spool; a line that is no row (cut by a full disk) is kept
// as it is and never taken.
bool ReadLines(const QString& path, QList<QByteArray>* lines, QString* error)
{
    lines->clear();
    QFile f(path);
    if (!f.exists()) return true;
    if (!f.open(QIODevice::ReadOnly)) return (*error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString()), false);
    for (const QByteArray& l : f.readAll().split('\n'))
        if (!l.trimmed().isEmpty()) lines->push_back(l);
    return true;
}

bool RowOf(const QByteArray& line, const QString& target, TRecordEntry* e)
{
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    if (o.value(QLatin1String(kTarget)).toString() != target) return false;
    for (int c = 0; c < RecordColumns().size(); ++c) SetRecordValue(*e, c, o.value(RecordColumns()[c]).toString());
    return !e->rowId.isEmpty();
}

bool WriteAt(const QString& path, const QByteArray& bytes, int flags, QString* error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return (*error = QStringLiteral("cannot write %1: %2").arg(path, ErrnoText()), false);
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = QStringLiteral("cannot write %1: %2").arg(path, ErrnoText());
            ::close(fd);
            return false;
        }
        done += n;
    }
    const bool synced = ::fsync(fd) == 0;
    if (!synced) *error = QStringLiteral("cannot write %1: %2").arg(path, ErrnoText());
    ::close(fd);
    return synced;
}

}  // namespace

TRecordSpool::TRecordSpool(const QString& localPath, int lockTimeoutMs)
    : path_(localPath + QStringLiteral(".spool")), lockTimeoutMs_(lockTimeoutMs)
{
}

bool TRecordSpool::Add(const QString& target, const TRecordEntries& rows, QString* error)
{
    // The folder, as the record file's own: this user's only.
    const QString folder = QFileInfo(path_).absolutePath();
    if (!QFileInfo::exists(folder)) {
        if (!QDir().mkpath(folder)) return (*error = QStringLiteral("cannot make the folder %1").arg(folder), false);
        ::chmod(QFile::encodeName(folder).constData(), 0700);
    }
    TSpoolLock lock(path_, lockTimeoutMs_);
    if (!lock.Held()) return (*error = lock.Error(), false);
    QByteArray bytes;
    for (const TRecordEntry& e : rows) bytes += Line(target, e);
    return WriteAt(path_, bytes, O_APPEND, error);
}

bool TRecordSpool::Peek(const QString& target, int limit, TRecordEntries* out, QString* error)
{
    out->clear();
    TSpoolLock lock(path_, lockTimeoutMs_);
    if (lock.TimedOut()) return (*error = lock.Error(), false);
    QList<QByteArray> lines;
    if (!ReadLines(path_, &lines, error)) return false;
    for (const QByteArray& l : lines) {
        if (int(out->size()) >= limit) break;
        TRecordEntry e;
        if (RowOf(l, target, &e)) out->push_back(e);
    }
    return true;
}

bool TRecordSpool::Remove(const QString& target, const TRecordEntries& stored, QString* error)
{
    QSet<QString> ids;
    for (const TRecordEntry& e : stored) ids.insert(e.rowId);
    TSpoolLock lock(path_, lockTimeoutMs_);
    if (!lock.Held()) return (*error = lock.Error(), false);
    QList<QByteArray> lines;
    if (!ReadLines(path_, &lines, error)) return false;
    QByteArray rest;
    for (const QByteArray& l : lines) {
        TRecordEntry e;
        if (RowOf(l, target, &e) && ids.contains(e.rowId)) continue;
        rest += l + '\n';
    }
    if (rest.isEmpty()) return QFile::remove(path_) || !QFile::exists(path_);
    // Replaced whole: a crash leaves the old spool, whose rows the row ids
    // make harmless to store again.
    const QString temp = path_ + QStringLiteral(".new");
    if (!WriteAt(temp, rest, O_TRUNC, error)) return false;
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path_).constData()) != 0)
        return (*error = QStringLiteral("cannot replace %1: %2").arg(path_, ErrnoText()), false);
    return true;
}

int TRecordSpool::Count(const QString& target)
{
    TSpoolLock lock(path_, lockTimeoutMs_);
    if (lock.TimedOut()) return -1;
    QList<QByteArray> lines;
    QString error;
    if (!ReadLines(path_, &lines, &error)) return -1;
    int n = 0;
    for (const QByteArray& l : lines) {
        TRecordEntry e;
        if (RowOf(l, target, &e)) ++n;
    }
    return n;
}

int SpooledRowCount(const QString& location, const QString& localPath)
{
    const TProductionRecord record(location, localPath);
    return TRecordSpool(record.LocalPath()).Count(record.SpoolTarget());
}
