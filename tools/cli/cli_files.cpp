#include "tools/cli/cli_files.h"

#include <QFile>

bool LoadRawImage(const QString& path, TMemoryBlock* image, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    // One byte more than needed tells a long file from a right one.
    const QByteArray bytes = f.read(qint64(image->size()) + 1);
    if (bytes.size() != qsizetype(image->size())) {
        *error = QStringLiteral("%1 holds %2 bytes; an image is exactly %3 bytes")
                     .arg(path)
                     .arg(bytes.size() > qsizetype(image->size()) ? QStringLiteral("more than %1").arg(image->size())
                                                                  : QString::number(bytes.size()))
                     .arg(image->size());
        return false;
    }
    for (size_t i = 0; i < image->size(); ++i) (*image)[i] = uint8_t(bytes[qsizetype(i)]);
    return true;
}
