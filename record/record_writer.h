#pragma once
// The panel's way into the record: Post() hands a row over and returns at
// once; a thread of the writer's own stores it, so no window ever waits for
// a database. Callable from any thread.
#include <QString>
#include <functional>

#include "record/record_entry.h"

class TRecordWriter {
public:
    // Where rows go from now on: as TProductionRecord takes it (empty for
    // the default SQLite file). localPath: the SQLite file, empty for the default.
    static void SetLocation(const QString& location, const QString& localPath = {});
    // Turns recording off (and on again).
    static void SetEnabled(bool enabled);
    // Called on the writer's thread with what the station should be told
    // (the shared record unreachable, rows kept and sent later).
    static void SetNoticeHandler(std::function<void(const QString&)> handler);

    static void Post(const TRecordEntry& entry);
    // Waits until every posted row is stored or the time-out passed; true
    // when none is left. For closing the program and for tests.
    static bool Flush(int timeoutMs);
};
