#pragma once
// The History table's questions to the record, asked in the database so
// that a record of a million rows is never read whole: one page of the
// table, how many rows match, the stations. A pair's two rows are one
// group: the group passes when one of its rows does, sorts by its first row
// (the one stored first) and is shown as that row followed by the other.
// QtCore and QtSql only.
#include <QDateTime>
#include <QStringList>
#include <functional>

#include "record/record_entry.h"

class TProductionRecord;

struct THistoryFilter {
    QDateTime from;       // invalid: no lower bound
    QDateTime to;         // invalid: no upper bound (exclusive)
    int outcome = 0;      // 0 all, 1 ok only, 2 failed only
    QString station;      // empty: every station
    QString text;         // searched in the text columns, any case (ASCII)
};

struct THistoryOrder {
    QString column = QStringLiteral("time_utc");  // a column of RecordColumns()
    bool text = false;                             // sorted in any case
    bool descending = true;
};

// The groups [offset, offset + count) in the order asked, each lead row
// followed by its partner, handed to `each` in that order.
bool ReadHistoryGroups(TProductionRecord& record, const THistoryFilter& filter, const THistoryOrder& order, qint64 offset,
                       qint64 count, const std::function<void(const TRecordEntry&)>& each, QString* error);
// How many rows the table has under this filter (both rows of every pair that passes).
bool CountHistoryRows(TProductionRecord& record, const THistoryFilter& filter, qint64* rows, QString* error);
bool ReadHistoryStations(TProductionRecord& record, QStringList* stations, QString* error);
// Grows whenever a row is added (the highest row number); "0" for an empty record.
bool ReadHistoryMark(TProductionRecord& record, QString* mark, QString* error);

// A record location fit to be shown: a postgresql:// URL without any
// password, also one that does not parse; anything else as it is.
QString LocationWithoutPassword(const QString& location);
