#pragma once
// Unit addresses handed out by the record: each one is reserved once, in a
// table whose key is the address (unit_reservation), inside one transaction
// that only one writer at a time holds (SQLite's write lock, a table lock in
// PostgreSQL), so processes and stations running at once never get the same
// address. A reservation is "reserved" until the row of the module it went
// to is stored ("used" when that row is ok, "failed" otherwise), or until
// MarkUnitAddress() says so; one of a run that was killed stays "reserved".
// None is handed out again by Next or Start. Called through
// TProductionRecord::ReserveUnitAddresses / MarkUnitAddress.
#include <QString>
#include <vector>

#include "record/record_entry.h"

enum class TUnitFrom {
    Next,   // the highest address ever reserved, plus one
    Start,  // the lowest free address at or above `address`
    Exact,  // `address` itself: refused when it went to another port
};

struct TUnitRequest {
    TUnitFrom from = TUnitFrom::Next;
    int address = 0;                // Start: the lowest to give; Exact: the address (0x0000-0xFFFF)
    QString port;                   // the device path
    QString portById;               // its /dev/serial/by-id name, empty when none
    QString runId = RecordRunId();  // the rows of this run mark their reservation
};

struct TUnitReservation {
    QString address;  // 4 upper-case hex digits, as TRecordEntry::unitAddress
    QString redoOf;   // Exact on an address whose last try on this port failed: that try's row id
};

// The reservation states as stored.
namespace unit_state {
inline const char* const kReserved = "reserved";
inline const char* const kUsed = "used";
inline const char* const kFailed = "failed";
}  // namespace unit_state

// "00A1" for 0xA1.
QString UnitAddressText(int value);
