#include "record/history_model.h"

#include <QHash>
#include <algorithm>

namespace {

const char* const kHeaders[] = {"Time (UTC)", "Station", "User", "Port", "By-id name", "Operation", "Profile",
                                "Unit address", "Verified", "Outcome", "Exit status", "Error", "Duration (ms)",
                                "Module version", "Key fingerprint", "Pair", "Image SHA-256", "Differences"};
static_assert(sizeof(kHeaders) / sizeof(kHeaders[0]) == THistoryModel::ColumnCount);

// The text of a text column; the numeric and time columns sort by number.
const QString& TextOf(const TRecordEntry& e, int column)
{
    static const QString none;
    switch (column) {
    case THistoryModel::Station: return e.station;
    case THistoryModel::User: return e.user;
    case THistoryModel::Port: return e.port;
    case THistoryModel::PortById: return e.portById;
    case THistoryModel::Operation: return e.operation;
    case THistoryModel::Profile: return e.profile;
    case THistoryModel::UnitAddress: return e.unitAddress;
    case THistoryModel::Verified: return e.verified;
    case THistoryModel::Outcome: return e.outcome;
    case THistoryModel::Error: return e.error;
    case THistoryModel::ModuleVersion: return e.moduleVersion;
    case THistoryModel::KeyFingerprint: return e.keyFingerprint;
    case THistoryModel::Pair: return e.pairId;
    case THistoryModel::ImageHash: return e.imageSha256;
    case THistoryModel::Differences: return e.differences;
    default: return none;
    }
}

qint64 NumberOf(const TRecordEntry& e, int column)
{
    switch (column) {
    case THistoryModel::Time: return e.timeUtc.toMSecsSinceEpoch();
    case THistoryModel::ExitStatus: return e.exitStatus;
    case THistoryModel::DurationMs: return e.durationMs;
    default: return 0;
    }
}

bool IsNumeric(int column)
{
    return column == THistoryModel::Time || column == THistoryModel::ExitStatus || column == THistoryModel::DurationMs;
}

}  // namespace

THistoryModel::THistoryModel(QObject* parent) : QAbstractTableModel(parent) {}

void THistoryModel::SetRows(TRecordEntries rows)
{
    beginResetModel();
    rows_ = std::move(rows);
    groups_.clear();
    groups_.reserve(rows_.size());
    QHash<QString, int> pairGroup;
    for (int i = 0; i < int(rows_.size()); ++i) {
        const QString& pair = rows_[size_t(i)].pairId;
        if (!pair.isEmpty()) {
            const auto it = pairGroup.constFind(pair);
            if (it != pairGroup.constEnd() && groups_[size_t(*it)].second < 0) {
                groups_[size_t(*it)].second = i;
                continue;
            }
            pairGroup.insert(pair, int(groups_.size()));
        }
        groups_.push_back(TGroup{i});
    }
    Rebuild();
    endResetModel();
}

void THistoryModel::SetFilter(const THistoryFilter& filter)
{
    beginResetModel();
    filter_ = filter;
    Rebuild();
    endResetModel();
}

void THistoryModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount) return;
    emit layoutAboutToBeChanged();
    sortColumn_ = column;
    sortOrder_ = order;
    Rebuild();
    emit layoutChanged();
}

bool THistoryModel::Passes(const TRecordEntry& e) const
{
    if (filter_.from.isValid() && e.timeUtc < filter_.from) return false;
    if (filter_.to.isValid() && e.timeUtc >= filter_.to) return false;
    if (filter_.outcome == 1 && e.Failed()) return false;
    if (filter_.outcome == 2 && !e.Failed()) return false;
    if (!filter_.station.isEmpty() && e.station != filter_.station) return false;
    if (filter_.text.isEmpty()) return true;
    for (int c = 0; c < ColumnCount; ++c)
        if (!IsNumeric(c) && TextOf(e, c).contains(filter_.text, Qt::CaseInsensitive)) return true;
    return false;
}

void THistoryModel::Rebuild()
{
    // A pair passes when one of its rows does, and sorts by its first row.
    std::vector<int> groups;
    groups.reserve(groups_.size());
    for (int g = 0; g < int(groups_.size()); ++g) {
        const TGroup& group = groups_[size_t(g)];
        if (Passes(rows_[size_t(group.first)]) || (group.second >= 0 && Passes(rows_[size_t(group.second)])))
            groups.push_back(g);
    }
    const int column = sortColumn_;
    const bool descending = sortOrder_ == Qt::DescendingOrder;
    auto firstOf = [this](int g) -> const TRecordEntry& { return rows_[size_t(groups_[size_t(g)].first)]; };
    if (IsNumeric(column)) {
        std::vector<std::pair<qint64, int>> keys;
        keys.reserve(groups.size());
        for (int g : groups) keys.emplace_back(NumberOf(firstOf(g), column), g);
        std::stable_sort(keys.begin(), keys.end(), [descending](const auto& a, const auto& b) {
            return descending ? a.first > b.first : a.first < b.first;
        });
        for (size_t i = 0; i < keys.size(); ++i) groups[i] = keys[i].second;
    } else {
        std::stable_sort(groups.begin(), groups.end(), [&](int a, int b) {
            const int c = TextOf(firstOf(a), column).compare(TextOf(firstOf(b), column), Qt::CaseInsensitive);
            return descending ? c > 0 : c < 0;
        });
    }
    shown_.clear();
    shown_.reserve(rows_.size());
    for (int g : groups) {
        shown_.push_back(groups_[size_t(g)].first);
        if (groups_[size_t(g)].second >= 0) shown_.push_back(groups_[size_t(g)].second);
    }
}

TRecordEntries THistoryModel::ShownRows() const
{
    TRecordEntries out;
    out.reserve(shown_.size());
    for (int i : shown_) out.push_back(rows_[size_t(i)]);
    return out;
}

QStringList THistoryModel::Stations() const
{
    QStringList list;
    QHash<QString, bool> seen;
    for (const TRecordEntry& e : rows_)
        if (!seen.contains(e.station)) {
            seen.insert(e.station, true);
            list << e.station;
        }
    list.sort();
    return list;
}

int THistoryModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(shown_.size()); }
int THistoryModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant THistoryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(shown_.size())) return {};
    const TRecordEntry& e = EntryAt(index.row());
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case Time: return e.timeUtc.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        case ExitStatus: return e.exitStatus;
        case DurationMs: return e.durationMs;
        case Pair: return e.pairId.left(8);
        default: return TextOf(e, index.column());
        }
    }
    if (role == Qt::ToolTipRole && index.column() == Pair) return e.pairId;
    return {};
}

QVariant THistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return QString::fromLatin1(kHeaders[section]);
    return QAbstractTableModel::headerData(section, orientation, role);
}
