#include "record/record_export.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "record/production_record.h"

namespace {

QByteArray CsvField(const QString& value)
{
    QByteArray v = value.toUtf8();
    // A leading formula sign would run as a formula in a spreadsheet, and
    // so would one behind a TAB or CR that the spreadsheet drops.
    if (!v.isEmpty() && QByteArray("=+-@\t\r").contains(v[0])) v.prepend('\'');
    if (v.contains(',') || v.contains('"') || v.contains('\n') || v.contains('\r'))
        return '"' + v.replace("\"", "\"\"") + '"';
    return v;
}

}  // namespace

QByteArray RecordCsv(const TRecordEntries& rows)
{
    QByteArray out = RecordColumns().join(QLatin1Char(',')).toUtf8() + "\r\n";
    for (const TRecordEntry& e : rows) {
        for (int c = 0; c < RecordColumns().size(); ++c) {
            if (c) out += ',';
            out += CsvField(RecordValue(e, c));
        }
        out += "\r\n";
    }
    return out;
}

QByteArray RecordJsonLines(const TRecordEntries& rows)
{
    QByteArray out;
    for (const TRecordEntry& e : rows) {
        QJsonObject o;
        for (int c = 0; c < RecordColumns().size(); ++c) {
            const QString& col = RecordColumns()[c];
            if (col == QLatin1String("exit_status")) o.insert(col, e.exitStatus);
            else if (col == QLatin1String("duration_ms")) o.insert(col, qint64(e.durationMs));
            else o.insert(col, RecordValue(e, c));
        }
        out += QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
    }
    return out;
}

QByteArray RecordText(const TRecordEntries& rows)
{
    QByteArray out;
    for (const TRecordEntry& e : rows) {
        QString line = QStringLiteral("%1  %2  %3  %4  %5").arg(RecordValue(e, 1), e.station, e.port, e.operation, e.outcome);
        if (!e.unitAddress.isEmpty()) line += QStringLiteral("  unit %1").arg(e.unitAddress);
        if (!e.pairId.isEmpty()) line += QStringLiteral("  pair %1").arg(e.pairId.left(8));
        if (!e.error.isEmpty()) line += QStringLiteral("  (%1)").arg(e.error);
        out += line.toUtf8() + '\n';
    }
    return out;
}
