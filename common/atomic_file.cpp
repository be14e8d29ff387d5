#include "common/atomic_file.h"

#include <QFile>
#include <QSaveFile>

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    const auto fail = [&](const QString& reason) {
        if (error) *error = reason.isEmpty() ? QStringLiteral("the file could not be written") : reason;
        file.cancelWriting();
        return false;
    };
    // Unbuffered, so that a short write (disk full) shows in the write's own result.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return fail(file.errorString());
    const qint64 written = file.write(bytes);
    if (written != bytes.size()) {
        if (written >= 0 && file.error() == QFileDevice::NoError)
            return fail(QStringLiteral("only %1 of %2 bytes could be written (is the disk full?)")
                            .arg(written)
                            .arg(bytes.size()));
        return fail(file.errorString());
    }
    if (!file.flush()) return fail(file.errorString());
    if (!file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
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
