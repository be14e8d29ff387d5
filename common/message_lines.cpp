#include "common/message_lines.h"

QString CappedMessageLine(const QString& line)
{
    if (line.size() <= kMessageLineChars) return line;
    return line.left(kMessageLineChars - 3) + QStringLiteral("...");
}

QStringList CappedMessageLines(const QStringList& entries, int listed)
{
    QStringList out;
    for (qsizetype i = 0; i < entries.size() && i < listed; ++i) out << CappedMessageLine(entries[i]);
    if (entries.size() > listed) out << QStringLiteral("... and %1 more").arg(entries.size() - listed);
    return out;
}
