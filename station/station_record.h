#pragma once
// The station's side of the production record: unit addresses reserved
// before a module is written (never handed out twice, also when the try
// fails), whether an address is one the record gave, and the rows. The
// station calls it from every socket's thread at once: an implementation is
// safe for that.
#include <QHash>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>

#include "record/record_entry.h"

class TStationRecord {
public:
    virtual ~TStationRecord() = default;
    struct TReservation {
        QString address;  // 4 hex digits
        QString redoOf;   // the failed try on this port that this one repeats, empty for none
    };
    // Reserves the module's unit address, never handed out twice. port: the
    // device path; byId: the watched entry's name (a file of addresses maps
    // those), empty for a fixed port; again: the address of the failed try
    // this module repeats in its socket (empty for none), taken again. False
    // with *error when none can be given: the module is failed before
    // anything is written.
    virtual bool Reserve(const QString& port, const QString& byId, const QString& again, TReservation* out,
                         QString* error) = 0;
    // Whether the record gave address to a module that passed: a module that
    // already holds the profile with it is not written to again.
    virtual bool Given(const QString& address) = 0;
    // What became of a row.
    struct TStored {
        enum Kind {
            Stored,   // in the record, or kept locally for a shared record out of reach (sent later)
            Spooled,  // the record could not take it: it waits in the spool (not recorded yet)
            Lost,     // not even the spool could keep it: not recorded at all
        } kind = Stored;
        QString notice;  // what the station should be told; empty when it was stored as asked
    };
    // Stores a row (which ends its address's reservation: used or failed).
    virtual TStored Store(const TRecordEntry& row) = 0;
};

// Where the addresses come from: "0100" (that one and up), "next" (after
// the highest the record gave) or a file of "BY-ID-NAME ADDRESS" lines.
struct TUnitAddressPlan {
    enum Kind { None, From, Next, File } kind = None;
    int first = 0;                   // From
    QHash<QString, QString> byName;  // File: by-id name -> 4 hex digits
};
// Parses --unit-address-from's value (reads the file). False with *error.
bool ParseUnitAddressPlan(const QString& value, TUnitAddressPlan* plan, QString* error);

// The record of this machine or a shared one (TProductionRecord, one per
// call, so one per calling thread). Addresses come from the plan, each
// reserved in the record in a transaction of its own; without the record
// (--no-record) under a lock of this process.
class TProductionStationRecord : public TStationRecord {
public:
    // location as TProductionRecord takes it; enabled false: no rows (--no-record).
    TProductionStationRecord(const QString& location, const TUnitAddressPlan& plan, bool enabled = true);
    ~TProductionStationRecord() override;
    // Reads what the plan needs from the record ("next"). False with *error.
    bool Prepare(QString* error);

    bool Reserve(const QString& port, const QString& byId, const QString& again, TReservation* out,
                 QString* error) override;
    bool Given(const QString& address) override;
    TStored Store(const TRecordEntry& row) override;

private:
    QString location_;
    TUnitAddressPlan plan_;
    bool enabled_;
    std::mutex m_;
    int next_ = 0;  // without the record: the next address to give (From)
    QHash<QString, QString> given_;  // address -> row of a module that passed with it
};
