#include "record_rows_helper.h"

TRecordEntry Row(const QString& port, const QString& outcome, const QString& pair, int minutesAgo)
{
    TRecordEntry e = NewRecordEntry(QStringLiteral("test"), QStringLiteral("program-config"));
    e.timeUtc = e.timeUtc.addSecs(-60 * minutesAgo);
    e.port = port;
    e.outcome = outcome;
    e.pairId = pair;
    return e;
}
