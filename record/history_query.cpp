#include "record/history_query.h"

#include <QRegularExpression>
#include <algorithm>

#include "record/production_record.h"

namespace {

const QString kColumnsSearched[] = {
    QStringLiteral("station"),  QStringLiteral("user_name"),  QStringLiteral("port"),        QStringLiteral("port_by_id"),
    QStringLiteral("operation"), QStringLiteral("profile"),   QStringLiteral("unit_address"), QStringLiteral("verified"),
    QStringLiteral("outcome"),  QStringLiteral("error"),      QStringLiteral("module_version"),
    QStringLiteral("key_fingerprint"), QStringLiteral("pair_id"), QStringLiteral("image_sha256"),
    QStringLiteral("differences")};

// Leads a group: a row alone, or the first stored row of its pair.
const QString kLead = QStringLiteral(
    "(r.pair_id = '' OR r.id = (SELECT MIN(p.id) FROM production_record p WHERE p.pair_id = r.pair_id))");

struct TSql {
    QString where;
    QVariantList values;
};

// The filter on the row named `a`; empty when it lets every row pass.
TSql RowFilter(const THistoryFilter& f, const QString& a, bool postgres)
{
    QStringList where;
    TSql s;
    auto timeText = [](const QDateTime& t) { return t.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")); };
    if (f.from.isValid()) where << a + QStringLiteral(".time_utc >= ?"), s.values << timeText(f.from);
    if (f.to.isValid()) where << a + QStringLiteral(".time_utc < ?"), s.values << timeText(f.to);
    if (f.outcome == 1) where << a + QStringLiteral(".outcome = 'ok'");
    if (f.outcome == 2) where << a + QStringLiteral(".outcome <> 'ok'");
    if (!f.station.isEmpty()) where << a + QStringLiteral(".station = ?"), s.values << f.station;
    if (!f.text.isEmpty()) {
        QString pattern = f.text;
        pattern.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
            .replace(QLatin1Char('%'), QLatin1String("\\%"))
            .replace(QLatin1Char('_'), QLatin1String("\\_"));
        pattern = QLatin1Char('%') + pattern + QLatin1Char('%');
        // Column by column: a match never spans two, and the first hit ends the test.
        QStringList any;
        const QString like = postgres ? QStringLiteral(" ILIKE ? ESCAPE '\\'") : QStringLiteral(" LIKE ? ESCAPE '\\'");
        for (const QString& c : kColumnsSearched) any << a + QLatin1Char('.') + c + like, s.values << pattern;
        where << QLatin1Char('(') + any.join(QStringLiteral(" OR ")) + QLatin1Char(')');
    }
    s.where = where.join(QStringLiteral(" AND "));
    return s;
}

// The group filter on row r: r passes, or its pair's other row does.
TSql GroupFilter(const THistoryFilter& f, bool postgres)
{
    const TSql own = RowFilter(f, QStringLiteral("r"), postgres);
    if (own.where.isEmpty()) return own;
    const TSql other = RowFilter(f, QStringLiteral("o"), postgres);
    TSql s;
    s.where = QStringLiteral("((%1) OR (r.pair_id <> '' AND EXISTS (SELECT 1 FROM production_record o WHERE "
                             "o.pair_id = r.pair_id AND o.id <> r.id AND %2)))")
                  .arg(own.where, other.where);
    s.values = own.values + other.values;
    return s;
}

}  // namespace

bool ReadHistoryGroups(TProductionRecord& record, const THistoryFilter& filter, const THistoryOrder& order, qint64 offset,
                       qint64 count, const std::function<void(const TRecordEntry&)>& each, QString* error)
{
    if (!RecordColumns().contains(order.column)) return (*error = QStringLiteral("no column %1").arg(order.column), false);
    const bool postgres = record.IsShared();
    TSql where = GroupFilter(filter, postgres);
    const QString key = order.text ? QStringLiteral("lower(r.%1)").arg(order.column) : QStringLiteral("r.") + order.column;
    const QString direction = order.descending ? QStringLiteral("DESC") : QStringLiteral("ASC");
    QString sql = QStringLiteral("FROM production_record r WHERE %1%2 ORDER BY %3 %4, r.id %4 LIMIT ? OFFSET ?")
                      .arg(kLead, where.where.isEmpty() ? QString() : QStringLiteral(" AND ") + where.where, key, direction);
    where.values << count << offset;

    // Leads are gathered a batch at a time; each batch's partners come in
    // one query. SQLite asks for them while the leads are still read;
    // PostgreSQL's connection takes one query at a time, so there the
    // leads are all read first.
    constexpr size_t kBatch = 500;
    TRecordEntries leads;
    QString partnerError;
    auto flush = [&] {
        for (size_t first = 0; first < leads.size(); first += kBatch) {
            const size_t end = std::min(leads.size(), first + kBatch);
            QStringList marks;
            QVariantList pairs;
            for (size_t i = first; i < end; ++i)
                if (!leads[i].pairId.isEmpty()) marks << QStringLiteral("?"), pairs << leads[i].pairId;
            TRecordEntries partners;
            if (!pairs.isEmpty()
                && !record.SelectEntries(QStringLiteral("FROM production_record r WHERE r.pair_id IN (%1) ORDER BY r.id")
                                             .arg(marks.join(QLatin1Char(','))),
                                         pairs, [&partners](const TRecordEntry& e) { partners.push_back(e); }, &partnerError))
                return false;
            for (size_t i = first; i < end; ++i) {
                each(leads[i]);
                if (leads[i].pairId.isEmpty()) continue;
                for (const TRecordEntry& p : partners)
                    if (p.pairId == leads[i].pairId && p.rowId != leads[i].rowId) each(p);
            }
        }
        leads.clear();
        return true;
    };
    bool partnersOk = true;
    const bool ok = record.SelectEntries(sql, where.values, [&](const TRecordEntry& e) {
        leads.push_back(e);
        if (!postgres && leads.size() == kBatch && partnersOk) partnersOk = flush();
    }, error);
    if (ok && partnersOk) partnersOk = flush();
    if (!partnersOk) *error = partnerError;
    return ok && partnersOk;
}

bool CountHistoryRows(TProductionRecord& record, const THistoryFilter& filter, qint64* rows, QString* error)
{
    const TSql where = GroupFilter(filter, record.IsShared());
    QString sql = QStringLiteral("SELECT COUNT(*) FROM production_record r");
    if (!where.where.isEmpty()) sql += QStringLiteral(" WHERE ") + where.where;
    QStringList out;
    if (!record.SelectValues(sql, where.values, &out, error)) return false;
    *rows = out.isEmpty() ? 0 : out.first().toLongLong();
    return true;
}

bool ReadHistoryStations(TProductionRecord& record, QStringList* stations, QString* error)
{
    return record.SelectValues(QStringLiteral("SELECT DISTINCT station FROM production_record ORDER BY station"), {},
                               stations, error);
}

bool ReadHistoryMark(TProductionRecord& record, QString* mark, QString* error)
{
    QStringList out;
    if (!record.SelectValues(QStringLiteral("SELECT COALESCE(MAX(id), 0) FROM production_record"), {}, &out, error))
        return false;
    *mark = out.value(0);
    return true;
}

QString LocationWithoutPassword(const QString& location)
{
    if (!TProductionRecord::IsSharedLocation(location)) return location;
    const int scheme = location.indexOf(QLatin1String("://")) + 3;
    QString out = location;
    // The user information ends at the last '@' (a password may hold '/', '?' or '@').
    const int at = out.lastIndexOf(QLatin1Char('@'));
    if (at > scheme) {
        const int colon = out.indexOf(QLatin1Char(':'), scheme);
        if (colon >= 0 && colon < at) out.remove(colon, at - colon);
    }
    // libpq also takes ?password= among the parameters.
    static const QRegularExpression parameter(QStringLiteral("([?&])password=[^&]*&?"),
                                              QRegularExpression::CaseInsensitiveOption);
    out.replace(parameter, QStringLiteral("\\1"));
    if (out.endsWith(QLatin1Char('?')) || out.endsWith(QLatin1Char('&'))) out.chop(1);
    return out;
}
