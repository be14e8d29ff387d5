#include "flash_file.h"

#include <QDir>
#include <QFile>

#include "common/atomic_file.h"
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
    // Written whole or not at all: an old file stays until the new one is complete.
    const QByteArray bytes(reinterpret_cast<const char*>(image.Data().data()), TFlashImage::Size);
    return WriteFileAtomically(path, bytes, error);
}
