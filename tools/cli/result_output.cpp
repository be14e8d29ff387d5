#include "tools/cli/result_output.h"

#include <QJsonDocument>

QJsonObject ResultJson(const TPortResult& r)
{
    QJsonObject o = r.data;
    o.insert(QStringLiteral("port"), r.port);
    o.insert(QStringLiteral("command"), r.command);
    o.insert(QStringLiteral("ok"), r.Ok());
    o.insert(QStringLiteral("exit_status"), r.exitCode);
    o.insert(QStringLiteral("error"), r.Ok() ? QJsonValue(QJsonValue::Null) : QJsonValue(r.error));
    o.insert(QStringLiteral("duration_ms"), double(r.durationMs));
    return o;
}

TPrintedResults PrintResults(const std::vector<TPortResult>& results, bool json)
{
    TPrintedResults p;
    const bool several = results.size() > 1;
    for (const TPortResult& r : results) {
        if (json) {
            p.out += QJsonDocument(ResultJson(r)).toJson(QJsonDocument::Compact) + '\n';
        } else {
            for (const QString& line : r.text)
                p.out += ((several ? r.port + QStringLiteral(": ") : QString()) + line).toLocal8Bit() + '\n';
        }
        // The reason for a failure goes to stderr in both forms: a script
        // that reads the JSON still shows the user what went wrong.
        for (const QString& w : r.warnings)
            p.err += QStringLiteral("tarnwick-cli: %1: warning: %2\n").arg(r.port, w).toLocal8Bit();
        if (!r.Ok()) p.err += QStringLiteral("tarnwick-cli: %1: %2\n").arg(r.port, r.error).toLocal8Bit();
    }
    return p;
}

QStringList HexDump(const uint8_t* bytes, int count, int firstAddress)
{
    QStringList lines;
    for (int row = 0; row < count; row += 16) {
        QString hex, chars;
        for (int i = row; i < row + 16 && i < count; ++i) {
            const uint8_t b = bytes[i];
            hex += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0')).toUpper();
            chars += (b >= 0x20 && b < 0x7F) ? QChar(b) : QLatin1Char('.');
        }
        lines << QStringLiteral("%1  %2 %3").arg(firstAddress + row, 2, 16, QLatin1Char('0')).toUpper().arg(hex, -48).arg(chars);
    }
    return lines;
}
