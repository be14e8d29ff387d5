#pragma once
// The record's rows as CSV (RFC 4180, a header line) and as JSON lines, for
// the tool's history and the History window's export. The columns are the
// record's: nothing else, so no export can carry more than the record.
#include <QByteArray>

#include "record/record_entry.h"

QByteArray RecordCsv(const TRecordEntries& rows);
QByteArray RecordJsonLines(const TRecordEntries& rows);
// One line per row for a terminal: time, station, port, operation, outcome.
QByteArray RecordText(const TRecordEntries& rows);
