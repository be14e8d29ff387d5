#pragma once
// Rows that their record could not take (a damaged file, one of a newer
// program, a lock held too long, a full disk, a read-only folder, a shared
// record out of reach) wait in a spool beside the local record file
// (RECORD.spool, mode 0600, one JSON line per row). Each line names the
// record it was meant for, and only that record ever takes it: the next run
// that can store into it does, in batches. Appending and taking out hold a
// lock file (RECORD.spool.lock), so processes at once lose no line; a lock
// that another program holds longer than the time-out (one stopped while it
// held it) fails the call instead of holding this one for good.
#include <QString>

#include "record/record_entry.h"

class TRecordSpool {
public:
    // localPath: the local SQLite file the spool lies beside; lockTimeoutMs:
    // how long the lock is waited for (as long as the record's busy time-out).
    explicit TRecordSpool(const QString& localPath, int lockTimeoutMs = 20000);

    QString Path() const { return path_; }
    // Adds the rows for the record `target` (a file path or a URL without
    // its password). False with *error when they could not be kept.
    bool Add(const QString& target, const TRecordEntries& rows, QString* error);
    // At most `limit` rows waiting for `target`, oldest first.
    bool Peek(const QString& target, int limit, TRecordEntries* out, QString* error);
    // Takes the rows of these ids out (once they are stored).
    bool Remove(const QString& target, const TRecordEntries& stored, QString* error);
    // Rows waiting for `target`; 0 when there is no spool, -1 when it cannot be read.
    int Count(const QString& target);

private:
    QString path_;
    int lockTimeoutMs_;
};

// Rows waiting in the spool for the record at `location` (as TProductionRecord
// takes it; localPath empty for the default file): for the History window.
int SpooledRowCount(const QString& location, const QString& localPath = {});
