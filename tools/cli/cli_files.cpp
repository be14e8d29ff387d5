#include "tools/cli/cli_files.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

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

bool CheckOutputWritable(const QString& path, QString* error)
{
    const QFileInfo target(path);
    QString why;
    if (target.isDir()) {
        why = QStringLiteral("it is a folder");
    } else if (target.exists() && !target.isWritable()) {
        why = QStringLiteral("the file is not writable");
    } else {
        // The write creates a file beside the target and renames it over.
        QTemporaryFile probe(target.absolutePath() + QStringLiteral("/.tarnwick-cli-XXXXXX"));
        if (!probe.open()) why = probe.errorString();
    }
    if (why.isEmpty()) return true;
    *error = QStringLiteral("cannot write %1: %2").arg(path, why);
    return false;
}
