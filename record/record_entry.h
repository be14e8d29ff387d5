#pragma once
// One row of the production record: an operation that wrote to or tested a
// module. Never holds the key: the image is kept as a hash taken with the
// key bytes zeroed, the key as a short fingerprint.
#include <QDateTime>
#include <QString>
#include <vector>

struct TRecordEntry {
    QString rowId;           // unique per row (a UUID); a row sent twice is stored once
    QDateTime timeUtc;       // when the operation started
    QString station;         // host name
    QString user;
    QString programVersion;  // "tarnwick-cli 1.17", "tarnwick-panel 1.17"
    QString port;            // the device path used
    QString portById;        // its /dev/serial/by-id name, empty when none
    QString usbSerial;       // the adapter's USB serial number, empty when none
    QString moduleVersion;   // the "Read Version" text where the operation read it
    QString operation;       // "program-flash", "program-config", "pair", "read-config", "compare"
    QString profile;         // the profile or image file's name
    QString imageSha256;     // of the image with the key bytes zeroed (hex)
    QString keyFingerprint;  // first 8 hex digits of SHA-256 of the key
    QString verified;        // "yes", "no", "skipped"
    QString differences;     // the differing addresses, "0x25 0x40"
    QString outcome;         // "ok" or "failed"
    int exitStatus = 0;
    QString error;           // the failure in plain words
    qint64 durationMs = 0;
    QString pairId;          // shared by the two rows of a pair
    QString unitAddress;     // the unit address given to this module, 4 hex digits
    QString runId;           // one per tool run or panel session: a batch's rows share it
    QString redoOf;          // the row id of the failed try this row repeats (same port and unit address)
    QString role;            // a pair's row: "A" (Point A) or "B" (Point B)

    bool Failed() const { return outcome != QLatin1String("ok"); }
};

using TRecordEntries = std::vector<TRecordEntry>;

// A new row with its id, the time now, this station, this user, this run.
TRecordEntry NewRecordEntry(const QString& programVersion, const QString& operation);
// This process's run id (made once): a tool run or a panel session.
QString RecordRunId();
