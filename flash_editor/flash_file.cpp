#include "flash_file.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include "flash_editor/flash_image.h"

bool LoadFlashFile(const QString& path, TFlashImage& image, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = file.errorString();
        return false;
    }
    TFlashImage::Bytes bytes;
    bytes.fill(0xFF);  // the erased state for addresses the file does not reach
    qint64 got = 0;
    while (got < TFlashImage::Size) {
        const qint64 n = file.read(reinterpret_cast<char*>(bytes.data()) + got, TFlashImage::Size - got);
        if (n < 0) {
            if (error) *error = file.errorString();
            return false;
        }
        if (n == 0) break;
        got += n;
    }
    image.Assign(bytes);
    return true;
}

bool SaveFlashFile(const QString& path, const TFlashImage& image, QString* error)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    const auto fail = [&](const QString& reason) {
        if (error) *error = reason.isEmpty() ? QStringLiteral("the file could not be written") : reason;
        file.cancelWriting();
        return false;
    };
    // Unbuffered, so that a short write (disk full, size limit) shows in the
    // write's own result: a buffered save that loses its tail while flushing
    // can still be committed.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return fail(file.errorString());
    const char* data = reinterpret_cast<const char*>(image.Data().data());
    const qint64 written = file.write(data, TFlashImage::Size);
    if (written != TFlashImage::Size) {
        if (written >= 0 && file.error() == QFileDevice::NoError)
            return fail(QStringLiteral("only %1 of %2 bytes could be written (is the disk full?)")
                            .arg(written)
                            .arg(TFlashImage::Size));
        return fail(file.errorString());
    }
    if (!file.flush() || file.size() != TFlashImage::Size) return fail(file.errorString());
    if (!file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}
