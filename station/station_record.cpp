#include "station/station_record.h"

#include <QFile>
#include <QRegularExpression>

#include "record/production_record.h"

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

QString Address(int value) { return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper(); }

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
    QFile f(value);
    if (!f.open(QIODevice::ReadOnly))
        return Fail(error, QStringLiteral("cannot read %1: %2").arg(value, f.errorString()));
    plan->kind = TUnitAddressPlan::File;
    int lineNo = 0;
    for (const QByteArray& raw : f.read(1 << 20).split('\n')) {
        ++lineNo;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        const QStringList parts = line.split(QRegularExpression(QStringLiteral("\\s+")));
        if (parts.size() != 2 || !IsHexAddress(parts[1]))
            return Fail(error, QStringLiteral("%1 line %2: needs a device name and a unit address (4 hex digits)")
                                   .arg(value)
                                   .arg(lineNo));
        plan->byName.insert(parts[0], Address(parts[1].toInt(nullptr, 16)));
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
    if (plan_.kind == TUnitAddressPlan::Next && !enabled_)
        return Fail(error, QStringLiteral("--unit-address-from next reads the record: not with --no-record"));
    if (enabled_) {
        // The addresses the record gave to modules that passed.
        TProductionRecord record(location_);
        TRecordEntries rows;
        QString e;
        if (!record.Select({}, &rows, &e)) return Fail(error, QStringLiteral("the record cannot be read: %1").arg(e));
        for (const TRecordEntry& row : rows)
            if (!row.unitAddress.isEmpty() && !row.Failed() && row.operation == QLatin1String("program-config"))
                given_.insert(row.unitAddress.toUpper(), row.rowId);
    }
    if (plan_.kind == TUnitAddressPlan::From) next_ = plan_.first;
    if (plan_.kind == TUnitAddressPlan::Next) {
        TProductionRecord record(location_);
        QString next;
        if (!record.NextUnitAddress(&next, error)) return false;
        next_ = next.toInt(nullptr, 16);
    }
    return true;
}

bool TProductionStationRecord::Reserve(const QString& byId, const QString& rowId, QString* address, QString* error)
{
    std::lock_guard<std::mutex> lock(m_);
    switch (plan_.kind) {
    case TUnitAddressPlan::None:
        return Fail(error, QStringLiteral("no unit address: give --unit-address-from"));
    case TUnitAddressPlan::File: {
        const QString a = plan_.byName.value(byId);
        if (a.isEmpty()) return Fail(error, QStringLiteral("the unit address file names no address for %1").arg(byId));
        *address = a;
        return true;
    }
    default:
        if (next_ < 0 || next_ > 0xFFFF) return Fail(error, QStringLiteral("the unit addresses are used up (past FFFF)"));
        *address = Address(next_++);
        (void)rowId;
        return true;
    }
}

bool TProductionStationRecord::Given(const QString& address)
{
    std::lock_guard<std::mutex> lock(m_);
    return given_.contains(address.toUpper());
}

QString TProductionStationRecord::Store(const TRecordEntry& row, const QString& redoOf)
{
    (void)redoOf;
    {
        std::lock_guard<std::mutex> lock(m_);
        if (!row.Failed() && !row.unitAddress.isEmpty() && row.operation == QLatin1String("program-config"))
            given_.insert(row.unitAddress.toUpper(), row.rowId);
    }
    if (!enabled_) return {};
    // One record object per call: its connections belong to this thread.
    TProductionRecord record(location_);
    const TRecordResult r = record.Append({row});
    return r.notice;
}
