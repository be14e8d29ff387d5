#include "station/station_record.h"

#include <QFile>
#include <QRegularExpression>
#include <algorithm>

#include "common/atomic_file.h"
#include "record/production_record.h"
#include "record/unit_reservation.h"
#include "serial/port_list.h"

namespace {

bool Fail(QString* error, const QString& text)
{
    if (error) *error = text;
    return false;
}

bool IsHexAddress(const QString& v)
{
    static const QRegularExpression re(QStringLiteral("^[0-9A-Fa-f]{1,4}$"));
    return re.match(v).hasMatch();
}

}  // namespace

bool ParseUnitAddressPlan(const QString& value, TUnitAddressPlan* plan, QString* error)
{
    *plan = {};
    if (value.isEmpty()) return true;
    if (value == QLatin1String("next")) {
        plan->kind = TUnitAddressPlan::Next;
        return true;
    }
    if (IsHexAddress(value)) {
        plan->kind = TUnitAddressPlan::From;
        plan->first = value.toInt(nullptr, 16);
        return true;
    }
    // A file: one "BY-ID-NAME ADDRESS" per line, # for comments.
    // A line a device: a megabyte is far more than any bench has.
    QByteArray text;
    QString why;
    if (!ReadSmallFile(value, 1 << 20, &text, &why)) return Fail(error, QStringLiteral("cannot read %1: %2").arg(value, why));
    plan->kind = TUnitAddressPlan::File;
    int lineNo = 0;
    for (const QByteArray& raw : text.split('\n')) {
        ++lineNo;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        const QStringList parts = line.split(QRegularExpression(QStringLiteral("\\s+")));
        if (parts.size() != 2 || !IsHexAddress(parts[1]))
            return Fail(error, QStringLiteral("%1 line %2: needs a device name and a unit address (4 hex digits)")
                                   .arg(value)
                                   .arg(lineNo));
        plan->byName.insert(parts[0], UnitAddressText(parts[1].toInt(nullptr, 16)));
    }
    return true;
}

TProductionStationRecord::TProductionStationRecord(const QString& location, const TUnitAddressPlan& plan, bool enabled)
    : location_(location), plan_(plan), enabled_(enabled)
{
}

TProductionStationRecord::~TProductionStationRecord() = default;

bool TProductionStationRecord::Prepare(QString* error)
{
    std::lock_guard<std::mutex> lock(m_);
    given_.clear();
    next_ = plan_.first;
    if (!enabled_) {
        if (plan_.kind == TUnitAddressPlan::Next)
            return Fail(error, QStringLiteral("--unit-address-from next reads the record: not with --no-record"));
        return true;
    }
    // The addresses the record gave to modules that passed.
    TProductionRecord record(location_);
    TRecordEntries rows;
    QString e;
    if (!record.Select({}, &rows, &e)) return Fail(error, QStringLiteral("the record cannot be read: %1").arg(e));
    for (const TRecordEntry& row : rows)
        if (!row.unitAddress.isEmpty() && !row.Failed() && row.operation == QLatin1String("program-config"))
            given_.insert(row.unitAddress.toUpper(), row.rowId);
    return true;
}

bool TProductionStationRecord::Reserve(const QString& port, const QString& byId, const QString& again,
                                       TReservation* out, QString* error)
{
    TUnitRequest request;
    request.port = port;
    request.portById = byId.isEmpty() ? PortByIdName(port) : byId;
    if (!again.isEmpty()) {
        request.from = TUnitFrom::Exact;
        request.address = again.toInt(nullptr, 16);
    } else {
        switch (plan_.kind) {
        case TUnitAddressPlan::None:
            return Fail(error, QStringLiteral("no unit address: give --unit-address-from"));
        case TUnitAddressPlan::File: {
            const QString name = byId.isEmpty() ? port : byId.mid(byId.lastIndexOf(QLatin1Char('/')) + 1);
            QString a = plan_.byName.value(name);
            if (a.isEmpty()) a = plan_.byName.value(port);
            if (a.isEmpty()) return Fail(error, QStringLiteral("the unit address file gives no address for %1").arg(name));
            request.from = TUnitFrom::Exact;
            request.address = a.toInt(nullptr, 16);
            break;
        }
        case TUnitAddressPlan::From:
            request.from = TUnitFrom::Start;
            request.address = plan_.first;
            break;
        case TUnitAddressPlan::Next:
            request.from = TUnitFrom::Next;
            break;
        }
    }
    if (!enabled_) {
        // No record to hold the reservations: this process hands them out.
        std::lock_guard<std::mutex> lock(m_);
        int a = request.address;
        if (request.from == TUnitFrom::Start) {
            a = std::max(next_, request.address);
            if (a > 0xFFFF) return Fail(error, QStringLiteral("the unit addresses are used up (past FFFF)"));
            next_ = a + 1;
        }
        *out = {UnitAddressText(a), QString()};
        return true;
    }
    TProductionRecord record(location_);
    std::vector<TUnitReservation> got;
    if (!record.ReserveUnitAddresses({request}, &got, error) || got.empty()) return false;
    *out = {got[0].address, got[0].redoOf};
    return true;
}

bool TProductionStationRecord::Given(const QString& address)
{
    std::lock_guard<std::mutex> lock(m_);
    return given_.contains(address.toUpper());
}

TStationRecord::TStored TProductionStationRecord::Store(const TRecordEntry& row)
{
    TStored out;
    if (enabled_) {
        TProductionRecord record(location_);
        const TRecordResult r = record.Append({row});
        out.notice = r.notice;
        if (r.lost > 0) out.kind = TStored::Lost;
        else if (r.spooled > 0) out.kind = TStored::Spooled;
    }
    // An address counts as given once its row is kept somewhere.
    if (out.kind != TStored::Lost && !row.Failed() && !row.unitAddress.isEmpty() &&
        row.operation == QLatin1String("program-config")) {
        std::lock_guard<std::mutex> lock(m_);
        given_.insert(row.unitAddress.toUpper(), row.rowId);
    }
    return out;
}
