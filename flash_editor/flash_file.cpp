#include "flash_file.h"

#include <QDir>
#include <QFile>
#include <algorithm>

#include "common/atomic_file.h"
#include "flash_editor/flash_image.h"

bool LoadFlashFile(const QString& path, TFlashImage& image, QString* error, QString* note)
{
    QByteArray head;
    bool more = false;
    if (!ReadFileHead(path, TFlashImage::Size, &head, &more, error)) return false;
    TFlashImage::Bytes bytes;
    bytes.fill(0xFF);  // the erased state for addresses the file does not reach
    std::copy(head.begin(), head.end(), bytes.begin());
    image.Assign(bytes);
    if (note && (more || head.size() < TFlashImage::Size))
        *note = more ? QStringLiteral("The file is longer than %1 bytes: only its first %1 bytes were loaded.")
                           .arg(TFlashImage::Size)
                     : QStringLiteral("The file holds %1 bytes, not %2: addresses %3 to 7F were set to FF (erased).")
                           .arg(head.size())
                           .arg(TFlashImage::Size)
                           .arg(QStringLiteral("%1").arg(head.size(), 2, 16, QLatin1Char('0')).toUpper());
    return true;
}

bool SaveFlashFile(const QString& path, const TFlashImage& image, QString* error)
{
    // Written whole or not at all: an old file stays until the new one is complete.
    const QByteArray bytes(reinterpret_cast<const char*>(image.Data().data()), TFlashImage::Size);
    return WriteFileAtomically(path, bytes, error);
}
