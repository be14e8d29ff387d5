#include "tools/cli/cli_files.h"
#include "tools/cli/cli_options.h"

#include <QFile>
#include <QHash>
#include <QFileInfo>
#include <QTemporaryFile>

bool LoadRawImage(const QString& path, TMemoryBlock* image, QString* error)
{
    QByteArray bytes;
    bool more = false;
    QString why;
    if (!ReadFileHead(path, qint64(image->size()), &bytes, &more, &why)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, why);
        return false;
    }
    if (more || bytes.size() != qsizetype(image->size())) {
        *error = QStringLiteral("%1 holds %2 bytes; an image is exactly %3 bytes (as read-config -o FILE.bin or "
                                "the Flash page's Save writes it)")
                     .arg(path)
                     .arg(more ? QStringLiteral("more than %1").arg(image->size()) : QString::number(bytes.size()))
                     .arg(image->size());
        return false;
    }
    for (size_t i = 0; i < image->size(); ++i) (*image)[i] = uint8_t(bytes[qsizetype(i)]);
    return true;
}

bool CheckOutputsDistinct(const QString& pattern, const QStringList& ports, QString* error)
{
    QHash<QString, QString> portOf;  // the file, cleaned, to the first port that writes it
    for (const QString& port : ports) {
        const QString file = QFileInfo(OutputPathFor(pattern, port)).absoluteFilePath();
        const QString first = portOf.value(file);
        if (!first.isEmpty()) {
            *error = QStringLiteral("--port %1 and --port %2 would both write %3, and one module's file would be "
                                    "lost; make -o name each port apart (e.g. with {port} in a folder per port)")
                         .arg(first, port, OutputPathFor(pattern, port));
            return false;
        }
        portOf.insert(file, port);
    }
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
