#include "common/atomic_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit on a chain of links

QString ErrnoText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Opens a fresh temporary file beside target with the given permission
// bits (the umask applies, as it does to any new file).
int OpenTemporary(const QString& target, mode_t mode, QString* tempPath)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        *tempPath = target + QStringLiteral(".%1.tmp").arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
        const int fd = ::open(QFile::encodeName(*tempPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

bool WriteAll(int fd, const QByteArray& bytes, QString* reason)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A write cut short (disk full, file-size limit) says how far it got.
            if (n == 0 || done > 0 || errno == ENOSPC || errno == EFBIG || errno == EDQUOT)
                *reason = QStringLiteral("only %1 of %2 bytes could be written (is the disk full?)")
                              .arg(done)
                              .arg(bytes.size());
            else
                *reason = ErrnoText(errno);
            return false;
        }
        done += n;
    }
    return true;
}

bool WriteAtomically(const QString& path, const QByteArray& bytes, bool owner, QString* error)
{
    // A link is followed, when it may be: the file it leads to is replaced, the link stays.
    QString target;
    if (!ResolveWritableLink(path, &target, error)) return false;
    struct stat old {};
    const bool exists = ::stat(QFile::encodeName(target).constData(), &old) == 0;

    QString temp;
    const int fd = OpenTemporary(target, owner ? 0600 : 0666, &temp);
    const auto fail = [&](const QString& reason) {
        if (error) *error = reason.isEmpty() ? QStringLiteral("the file could not be written") : reason;
        if (fd >= 0) {
            ::close(fd);
            ::unlink(QFile::encodeName(temp).constData());
        }
        return false;
    };
    if (fd < 0) return fail(ErrnoText(errno));
    if (exists) {
        const mode_t keep = old.st_mode & (owner ? mode_t(S_IRWXU) : mode_t(0777));
        if (::fchmod(fd, keep) != 0) return fail(ErrnoText(errno));
    }
    QString reason;
    if (!WriteAll(fd, bytes, &reason)) return fail(reason);
    if (::fsync(fd) != 0) return fail(ErrnoText(errno));
    if (::close(fd) != 0) {
        const int code = errno;
        ::unlink(QFile::encodeName(temp).constData());
        if (error) *error = ErrnoText(code);
        return false;
    }
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target).constData()) != 0) {
        const int code = errno;
        ::unlink(QFile::encodeName(temp).constData());
        if (error) *error = ErrnoText(code);
        return false;
    }
    return true;
}

}  // namespace

bool ResolveWritableLink(const QString& path, QString* target, QString* error)
{
    QString current = path;
    for (int hops = 0; hops <= kMaxLinks; ++hops) {
        const QByteArray name = QFile::encodeName(current);
        struct stat link {};
        if (::lstat(name.constData(), &link) != 0 || !S_ISLNK(link.st_mode)) {
            *target = current;
            return true;
        }
        const QString folder = QFileInfo(current).absolutePath();
        struct stat dir {};
        if (::stat(QFile::encodeName(folder).constData(), &dir) != 0) {
            if (error) *error = ErrnoText(errno);
            return false;
        }
        // The kernel's rule for links in sticky, world-writable folders such
        // as /tmp: followed only when the link is the user's or the folder's
        // owner's. Anyone could have planted any other link there.
        const bool shared = (dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH);
        if (shared && link.st_uid != ::geteuid() && link.st_uid != dir.st_uid) {
            if (error)
                *error = QStringLiteral("%1 is a link that another user made in the shared folder %2; nothing is "
                                        "written through it (remove the link or choose another name)")
                             .arg(current, folder);
            return false;
        }
        char buffer[4096];
        const ssize_t n = ::readlink(name.constData(), buffer, sizeof buffer);
        if (n < 0 || n == ssize_t(sizeof buffer)) {
            if (error) *error = n < 0 ? ErrnoText(errno) : QStringLiteral("the link is too long");
            return false;
        }
        const QString to = QFile::decodeName(QByteArray(buffer, int(n)));
        current = QDir::isAbsolutePath(to) ? to : folder + QLatin1Char('/') + to;
    }
    if (error) *error = ErrnoText(ELOOP);
    return false;
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    return WriteAtomically(path, bytes, false, error);
}

bool WritePrivateFileAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    return WriteAtomically(path, bytes, true, error);
}

bool MakeFileOwnerOnly(const QString& path, QString* error)
{
    QString target;
    if (!ResolveWritableLink(path, &target, error)) return false;
    const int fd = ::open(QFile::encodeName(target).constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    struct stat st {};
    // Only a regular file's mode is ours to change (not a device such as /dev/null).
    if (fd < 0 || ::fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && ::fchmod(fd, st.st_mode & S_IRWXU) != 0)) {
        if (error) *error = ErrnoText(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

bool ReadFileHead(const QString& path, qint64 count, QByteArray* bytes, bool* more, QString* error)
{
    // Not blocking: opening a FIFO must not wait for a writer that never comes.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat st {};
    QString why;
    if (fd < 0 || ::fstat(fd, &st) != 0)
        why = ErrnoText(errno);
    else if (!S_ISREG(st.st_mode))
        why = S_ISDIR(st.st_mode)    ? QStringLiteral("it is a folder, not a file")
              : S_ISFIFO(st.st_mode) ? QStringLiteral("it is a pipe, not a regular file")
                                     : QStringLiteral("it is a device, not a regular file");
    QByteArray data;
    if (why.isEmpty()) {
        // One byte more than wanted tells whether more follow (also in a file growing now).
        data.resize(qsizetype(std::min<qint64>(st.st_size, count) + 1));
        qsizetype got = 0;
        while (got < data.size()) {
            const ssize_t n = ::read(fd, data.data() + got, size_t(data.size() - got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) why = ErrnoText(errno);
            if (n <= 0) break;
            got += n;
            if (got == data.size() && got <= count) data.resize(qsizetype(std::min<qint64>(count + 1, got * 2)));
        }
        *more = got > count;
        data.resize(qsizetype(std::min<qint64>(got, count)));
    }
    if (fd >= 0) ::close(fd);
    if (!why.isEmpty()) {
        if (error) *error = why;
        return false;
    }
    *bytes = data;
    return true;
}

bool ReadSmallFile(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* error)
{
    QByteArray data;
    bool more = false;
    if (!ReadFileHead(path, maxBytes, &data, &more, error)) return false;
    if (more) {
        if (error) *error = QStringLiteral("the file is larger than %1 bytes").arg(maxBytes);
        return false;
    }
    *bytes = data;
    return true;
}
