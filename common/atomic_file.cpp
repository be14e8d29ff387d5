#include "common/atomic_file.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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
    // A link is followed: the file it leads to is replaced, the link stays.
    const QFileInfo info(path);
    const QString target = info.isSymLink() && info.exists() ? info.canonicalFilePath() : path;
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
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
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

bool ReadSmallFile(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = file.errorString();
        return false;
    }
    const QByteArray data = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        if (error) *error = file.errorString();
        return false;
    }
    if (data.size() > maxBytes) {
        if (error) *error = QStringLiteral("the file is larger than %1 bytes").arg(maxBytes);
        return false;
    }
    *bytes = data;
    return true;
}
