#include "record/unit_reservation.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "record/production_record.h"

namespace {

// A reservation as stored, for the address a request asks about.
struct TStored {
    bool exists = false;
    QString state, port, portById, station, time, rowId;
};

// The same module's port: the by-id names when both have one, else the paths.
bool SamePort(const TStored& s, const TUnitRequest& r)
{
    if (!s.portById.isEmpty() && !r.portById.isEmpty()) return s.portById == r.portById;
    return s.port == r.port;
}

class TReserver {
public:
    TReserver(QSqlDatabase db, QString* error) : db_(db), q_(db), error_(error) {}

    bool Fail(const QString& text)
    {
        *error_ = text;
        return false;
    }
    bool Check(bool ok) { return ok || Fail(q_.lastError().text()); }

    bool Read(int address, TStored* s)
    {
        *s = {};
        if (!Check(q_.prepare(QStringLiteral("SELECT state, port, port_by_id, station, time_utc, row_id "
                                             "FROM unit_reservation WHERE unit_address = ?"))))
            return false;
        q_.bindValue(0, UnitAddressText(address));
        if (!Check(q_.exec())) return false;
        if (!q_.next()) return true;
        s->exists = true;
        s->state = q_.value(0).toString();
        s->port = q_.value(1).toString();
        s->portById = q_.value(2).toString();
        s->station = q_.value(3).toString();
        const QVariant t = q_.value(4);
        s->time = t.metaType().id() == QMetaType::QDateTime ? RecordTimeText(t.toDateTime()) : t.toString();
        s->rowId = q_.value(5).toString();
        return true;
    }

    // The highest address reserved, -1 when none.
    bool Highest(int* top)
    {
        if (!Check(q_.exec(QStringLiteral("SELECT MAX(unit_address) FROM unit_reservation")))) return false;
        *top = q_.next() && !q_.value(0).toString().isEmpty() ? q_.value(0).toString().toInt(nullptr, 16) : -1;
        return true;
    }

    // The lowest address at or above from that no reservation holds, -1 when none.
    bool FirstFree(int from, int* free)
    {
        if (!Check(q_.prepare(QStringLiteral("SELECT unit_address FROM unit_reservation WHERE unit_address >= ? "
                                             "ORDER BY unit_address"))))
            return false;
        q_.bindValue(0, UnitAddressText(from));
        if (!Check(q_.exec())) return false;
        int candidate = from;
        while (q_.next() && q_.value(0).toString().toInt(nullptr, 16) == candidate) ++candidate;
        *free = candidate <= 0xFFFF ? candidate : -1;
        return true;
    }

    bool Insert(int address, const TUnitRequest& r, const TRecordEntry& who)
    {
        if (!Check(q_.prepare(QStringLiteral("INSERT INTO unit_reservation (unit_address, state, run_id, station, "
                                             "user_name, port, port_by_id, time_utc) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"))))
            return false;
        const QVariantList values{UnitAddressText(address), QLatin1String(unit_state::kReserved), r.runId,
                                  who.station, who.user, r.port, r.portById, RecordTimeText(who.timeUtc)};
        Bind(values);
        return Check(q_.exec());
    }

    // An address given before to this port taken again: reserved for this run.
    bool Retake(int address, const TUnitRequest& r, const TRecordEntry& who)
    {
        if (!Check(q_.prepare(QStringLiteral("UPDATE unit_reservation SET state = ?, run_id = ?, station = ?, "
                                             "user_name = ?, port = ?, port_by_id = ?, time_utc = ? "
                                             "WHERE unit_address = ?"))))
            return false;
        const QVariantList values{QLatin1String(unit_state::kReserved), r.runId, who.station, who.user, r.port,
                                  r.portById, RecordTimeText(who.timeUtc), UnitAddressText(address)};
        Bind(values);
        return Check(q_.exec());
    }

    bool Reserve(const TUnitRequest& r, const TRecordEntry& who, TUnitReservation* out)
    {
        *out = {};
        int address = -1;
        switch (r.from) {
        case TUnitFrom::Next: {
            int top = -1;
            if (!Highest(&top)) return false;
            if (top >= 0xFFFF) return Fail(QStringLiteral("the record already gave unit address FFFF"));
            address = std::max(top + 1, 1);
            break;
        }
        case TUnitFrom::Start:
            if (r.address < 0 || r.address > 0xFFFF) return Fail(QStringLiteral("no unit address %1").arg(r.address));
            if (!FirstFree(r.address, &address)) return false;
            if (address < 0)
                return Fail(QStringLiteral("every unit address from %1 to FFFF was given").arg(UnitAddressText(r.address)));
            break;
        case TUnitFrom::Exact: {
            if (r.address < 0 || r.address > 0xFFFF) return Fail(QStringLiteral("no unit address %1").arg(r.address));
            TStored s;
            if (!Read(r.address, &s)) return false;
            if (s.exists) {
                if (!SamePort(s, r))
                    return Fail(QStringLiteral("unit address %1 was given to %2 on %3 at %4 (%5), not to %6")
                                    .arg(UnitAddressText(r.address), s.portById.isEmpty() ? s.port : s.portById,
                                         s.station, s.time, s.state, r.portById.isEmpty() ? r.port : r.portById));
                // The same module again: a try that failed (or a run that
                // was killed) is repeated and linked to.
                if (s.state != QLatin1String(unit_state::kUsed)) out->redoOf = s.rowId;
                out->address = UnitAddressText(r.address);
                return Retake(r.address, r, who);
            }
            address = r.address;
            break;
        }
        }
        out->address = UnitAddressText(address);
        return Insert(address, r, who);
    }

private:
    // An empty value is stored as '' (the columns are NOT NULL), never as NULL.
    void Bind(const QVariantList& values)
    {
        for (int i = 0; i < values.size(); ++i) {
            const QString v = values[i].toString();
            q_.bindValue(i, v.isNull() ? QStringLiteral("") : v);
        }
    }

    QSqlDatabase db_;
    QSqlQuery q_;
    QString* error_;
};

}  // namespace

QString UnitAddressText(int value) { return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper(); }

bool TProductionRecord::ReserveUnitAddresses(const std::vector<TUnitRequest>& requests,
                                             std::vector<TUnitReservation>* out, QString* error)
{
    out->clear();
    QString connection;
    bool postgres = false;
    if (!OpenWriter(&connection, &postgres, error)) return false;
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    QSqlQuery q(db);
    // One writer at a time from here to the commit: SQLite's write lock
    // taken at once, in PostgreSQL a lock that conflicts with itself (reads
    // go on). The address's key makes a double reservation fail regardless.
    if (postgres) {
        if (!db.transaction()) return (*error = db.lastError().text(), false);
        if (!q.exec(QStringLiteral("LOCK TABLE unit_reservation IN SHARE ROW EXCLUSIVE MODE"))) {
            *error = q.lastError().text();
            db.rollback();
            return false;
        }
    } else if (!q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        return (*error = q.lastError().text(), false);
    }
    auto rollback = [&] {
        if (postgres) db.rollback();
        else QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        out->clear();
        return false;
    };
    {
        TReserver reserver(db, error);
        const TRecordEntry who = NewRecordEntry(QString(), QString());
        for (const TUnitRequest& r : requests) {
            TUnitReservation one;
            if (!reserver.Reserve(r, who, &one)) return rollback();
            out->push_back(one);
        }
    }
    const bool committed = postgres ? db.commit() : q.exec(QStringLiteral("COMMIT"));
    if (!committed) {
        *error = postgres ? db.lastError().text() : q.lastError().text();
        return rollback();
    }
    return true;
}

bool TProductionRecord::MarkUnitAddress(const QString& address, const QString& runId, bool ok, const QString& rowId,
                                        QString* error)
{
    QString connection;
    bool postgres = false;
    if (!OpenWriter(&connection, &postgres, error)) return false;
    QSqlQuery q(QSqlDatabase::database(connection, false));
    if (!q.prepare(QStringLiteral("UPDATE unit_reservation SET state = ?, row_id = ? WHERE unit_address = ? AND run_id = ?")))
        return (*error = q.lastError().text(), false);
    q.bindValue(0, QLatin1String(ok ? unit_state::kUsed : unit_state::kFailed));
    q.bindValue(1, rowId.isNull() ? QStringLiteral("") : rowId);
    q.bindValue(2, address);
    q.bindValue(3, runId);
    if (!q.exec()) return (*error = q.lastError().text(), false);
    if (q.numRowsAffected() != 1)
        return (*error = QStringLiteral("unit address %1 is not reserved by run %2").arg(address, runId), false);
    return true;
}
