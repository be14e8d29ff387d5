#include "record/history_model.h"

#include <QThread>
#include <QTimer>
#include <limits>

#include "record/production_record.h"
#include "record/record_export.h"

namespace {

struct TColumn {
    const char* header;
    const char* sql;
    bool text;  // sorted in any case; else as stored (machine-made values, so that an index serves the sort)
};
const TColumn kColumns[] = {
    {"Time (UTC)", "time_utc", false},        {"Outcome", "outcome", false},
    {"Operation", "operation", true},         {"Port", "port", false},
    {"Unit address", "unit_address", false},  {"Station", "station", true},
    {"User", "user_name", true},              {"Profile", "profile", true},
    {"Error", "error", true},                 {"Verified", "verified", true},
    {"Exit status", "exit_status", false},    {"Duration (ms)", "duration_ms", false},
    {"By-id name", "port_by_id", false},      {"Module version", "module_version", true},
    {"Key fingerprint", "key_fingerprint", true}, {"Pair", "pair_id", true},
    {"Image SHA-256", "image_sha256", true},  {"Differences", "differences", true}};
static_assert(sizeof(kColumns) / sizeof(kColumns[0]) == THistoryModel::ColumnCount);

QString TextOf(const TRecordEntry& e, int column)
{
    switch (column) {
    case THistoryModel::Time: return e.timeUtc.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case THistoryModel::Outcome: return e.outcome;
    case THistoryModel::Operation: return e.operation;
    case THistoryModel::Port: return e.port;
    case THistoryModel::UnitAddress: return e.unitAddress;
    case THistoryModel::Station: return e.station;
    case THistoryModel::User: return e.user;
    case THistoryModel::Profile: return e.profile;
    case THistoryModel::Error: return e.error;
    case THistoryModel::Verified: return e.verified;
    case THistoryModel::PortById: return e.portById;
    case THistoryModel::ModuleVersion: return e.moduleVersion;
    case THistoryModel::KeyFingerprint: return e.keyFingerprint;
    case THistoryModel::Pair: return e.pairId.left(8);
    case THistoryModel::ImageHash: return e.imageSha256;
    case THistoryModel::Differences: return e.differences;
    default: return {};
    }
}

// Groups among rows in table order: a row that follows its pair's other row is not one.
qint64 GroupsIn(const TRecordEntries& rows, size_t from, size_t to)
{
    qint64 n = 0;
    for (size_t i = from; i < to; ++i)
        if (i == 0 || rows[i].pairId.isEmpty() || rows[i - 1].pairId != rows[i].pairId) ++n;
    return n;
}

// Rows meant for this record that wait on this computer: for a shared
// record out of reach, or in the spool beside the local file for a record
// that could not take them (PendingCount counts both).
int WaitingRowsOf(TProductionRecord& record)
{
    return std::max(0, record.PendingCount());
}

}  // namespace

// Lives on the model's thread; each call runs there, in the order asked.
class THistoryReader : public QObject {
public:
    explicit THistoryReader(std::shared_ptr<std::atomic<int>> latest) : latest_(std::move(latest)) {}

    void Use(const QString& location, const QString& localPath)
    {
        record_.reset();
        location_ = location;
        localPath_ = localPath;
    }
    TProductionRecord& Record()
    {
        if (!record_) {
            record_ = std::make_unique<TProductionRecord>(location_, localPath_);
            // A read whose question went stale stops at once.
            record_->SetReadInterrupt([this] { return current_ >= 0 && current_ != latest_->load(); });
        }
        return *record_;
    }
    // The question being answered (-1: one that never goes stale, an export).
    void Begin(int generation) { current_ = generation; }
    bool Stale(int generation) const { return generation != latest_->load(); }

private:
    std::shared_ptr<std::atomic<int>> latest_;
    std::unique_ptr<TProductionRecord> record_;
    QString location_, localPath_;
    int current_ = -1;
};

THistoryModel::THistoryModel(QObject* parent)
    : QAbstractTableModel(parent), thread_(new QThread(this)), latest_(std::make_shared<std::atomic<int>>(0))
{
    thread_->setObjectName(QStringLiteral("history reader"));
    reader_ = new THistoryReader(latest_);
    reader_->moveToThread(thread_);
    connect(thread_, &QThread::finished, reader_, &QObject::deleteLater);
    thread_->start();
    live_ = new QTimer(this);
    live_->setInterval(2000);
    connect(live_, &QTimer::timeout, this, [this] {
        if (state_ != State::Idle || fetching_ || refreshing_ || !connected_) return;
        const int generation = generation_;
        QMetaObject::invokeMethod(reader_, [this, reader = reader_, generation] {
            if (reader->Stale(generation)) return;
            reader->Begin(generation);
            QString mark, error;
            if (!ReadHistoryMark(reader->Record(), &mark, &error)) return;
            QMetaObject::invokeMethod(this, [this, generation, mark] { MarkRead(generation, mark); }, Qt::QueuedConnection);
        }, Qt::QueuedConnection);
    });
}

THistoryModel::~THistoryModel()
{
    latest_->store(-1);  // whatever is queued is dropped
    thread_->quit();
    thread_->wait();
}

void THistoryModel::SetLocation(const QString& location, const QString& localPath)
{
    location_ = location;
    localPath_ = localPath;
    located_ = true;
    connected_ = false;
    mark_.clear();
    QMetaObject::invokeMethod(reader_, [reader = reader_, location, localPath] { reader->Use(location, localPath); },
                              Qt::QueuedConnection);
    live_->start();
    Reload();
}

void THistoryModel::Reload() { Start(kPageGroups); }

void THistoryModel::SetFilter(const THistoryFilter& filter)
{
    filter_ = filter;
    Start(kPageGroups);
}

void THistoryModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount) return;
    sortColumn_ = column;
    sortOrder_ = order;
    Start(kPageGroups);
}

void THistoryModel::SetLiveInterval(int ms)
{
    if (ms <= 0) return live_->stop();
    live_->setInterval(ms);
    if (located_) live_->start();
}

THistoryOrder THistoryModel::Order() const
{
    THistoryOrder o;
    o.column = QLatin1String(kColumns[sortColumn_].sql);
    o.text = kColumns[sortColumn_].text;
    o.descending = sortOrder_ == Qt::DescendingOrder;
    return o;
}

void THistoryModel::SetState(State state)
{
    if (state_ == state) return;
    state_ = state;
    emit StatusChanged();
}

// Asks for the first `groups` groups, then the count, the stations, the waiting rows.
void THistoryModel::Start(qint64 groups)
{
    if (!located_) return;
    const int generation = ++generation_;
    latest_->store(generation);
    fetching_ = false;
    if (!refreshing_) {
        matching_ = -1;
        SetState(connected_ || !TProductionRecord::IsSharedLocation(location_) ? State::Reading : State::Connecting);
    }
    QMetaObject::invokeMethod(reader_, [this, reader = reader_, generation, filter = filter_, order = Order(), groups] {
        if (reader->Stale(generation)) return;
        reader->Begin(generation);
        TProductionRecord& record = reader->Record();
        TRecordEntries rows;
        QString error;
        qint64 read = 0;
        ReadHistoryGroups(record, filter, order, 0, groups, [&](const TRecordEntry& e) {
            if (rows.empty() || e.pairId.isEmpty() || rows.back().pairId != e.pairId) ++read;
            rows.push_back(e);
        }, &error);
        const bool failed = !error.isEmpty();
        QMetaObject::invokeMethod(this, [=, this, rows = std::move(rows)]() mutable {
            PageRead(generation, 0, std::move(rows), read, groups, error);
        }, Qt::QueuedConnection);
        if (!failed && !reader->Stale(generation)) {
            QString mark;
            if (ReadHistoryMark(record, &mark, &error))
                QMetaObject::invokeMethod(this, [=, this] { if (generation == generation_) mark_ = mark; }, Qt::QueuedConnection);
        }
        if (!failed && !reader->Stale(generation)) {
            qint64 count = -1;
            if (CountHistoryRows(record, filter, &count, &error))
                QMetaObject::invokeMethod(this, [=, this] {
                    if (generation != generation_) return;
                    matching_ = count;
                    emit StatusChanged();
                }, Qt::QueuedConnection);
        }
        if (!failed && !reader->Stale(generation)) {
            QStringList stations;
            if (ReadHistoryStations(record, &stations, &error))
                QMetaObject::invokeMethod(this, [=, this] {
                    if (generation != generation_) return;
                    stations_ = stations;
                    emit StatusChanged();
                }, Qt::QueuedConnection);
        }
        if (reader->Stale(generation)) return;
        const int waiting = WaitingRowsOf(record);
        QMetaObject::invokeMethod(this, [=, this] {
            if (generation != generation_ || waiting == waiting_) return;
            waiting_ = waiting;
            emit StatusChanged();
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

void THistoryModel::PageRead(int generation, qint64 offset, TRecordEntries rows, qint64 groups, qint64 asked, QString error)
{
    if (generation != generation_) return;
    const bool refresh = refreshing_;
    refreshing_ = false;
    fetching_ = false;
    if (!error.isEmpty()) {
        error_ = error;
        if (offset == 0 && !refresh) {
            beginResetModel();
            rows_.clear();
            groups_ = 0;
            exhausted_ = true;
            endResetModel();
        }
        state_ = State::Idle;
        emit StatusChanged();
        return;
    }
    error_.clear();
    connected_ = true;
    auto replaceRows = [&] {
        beginResetModel();
        rows_ = std::move(rows);
        groups_ = groups;
        exhausted_ = groups < asked;
        endResetModel();
    };
    if (offset > 0) {
        if (!rows.empty()) {
            beginInsertRows({}, int(rows_.size()), int(rows_.size() + rows.size()) - 1);
            for (TRecordEntry& e : rows) rows_.push_back(std::move(e));
            endInsertRows();
        }
        groups_ += groups;
        exhausted_ = groups < asked;
    } else if (refresh && !rows_.empty()) {
        // New rows at the top with the rest unchanged (the usual case:
        // newest first) go in above the others; the view keeps its place.
        size_t k = 0;
        while (k < rows.size() && rows[k].rowId != rows_.front().rowId) ++k;
        bool same = k < rows.size();
        for (size_t i = k; same && i < rows.size() && i - k < rows_.size(); ++i) same = rows[i].rowId == rows_[i - k].rowId;
        if (same) {
            if (k > 0) {
                beginInsertRows({}, 0, int(k) - 1);
                rows_.insert(rows_.begin(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.begin() + qint64(k)));
                groups_ += GroupsIn(rows_, 0, k);
                endInsertRows();
            }
        } else {
            replaceRows();
        }
    } else {
        replaceRows();
    }
    state_ = State::Idle;
    emit StatusChanged();
}

void THistoryModel::MarkRead(int generation, const QString& mark)
{
    if (generation != generation_ || mark == mark_ || state_ != State::Idle || fetching_) return;
    refreshing_ = true;
    Start(std::max<qint64>(groups_, kPageGroups));
}

void THistoryModel::Cancel()
{
    generation_++;
    latest_->store(generation_);
    fetching_ = false;
    refreshing_ = false;
    error_ = QStringLiteral("cancelled");
    state_ = State::Idle;
    emit StatusChanged();
}

bool THistoryModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && !exhausted_ && !fetching_ && state_ == State::Idle;
}

void THistoryModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent)) return;
    fetching_ = true;
    const int generation = generation_;
    const qint64 offset = groups_;
    QMetaObject::invokeMethod(reader_, [this, reader = reader_, generation, filter = filter_, order = Order(), offset] {
        if (reader->Stale(generation)) return;
        reader->Begin(generation);
        TRecordEntries rows;
        QString error;
        qint64 read = 0;
        ReadHistoryGroups(reader->Record(), filter, order, offset, kPageGroups, [&](const TRecordEntry& e) {
            if (rows.empty() || e.pairId.isEmpty() || rows.back().pairId != e.pairId) ++read;
            rows.push_back(e);
        }, &error);
        QMetaObject::invokeMethod(this, [=, this, rows = std::move(rows)]() mutable {
            PageRead(generation, offset, std::move(rows), read, kPageGroups, error);
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

void THistoryModel::ExportCsv(const QString& path, TFileWriter write)
{
    QMetaObject::invokeMethod(reader_, [this, reader = reader_, filter = filter_, order = Order(), path, write] {
        reader->Begin(-1);
        QByteArray csv = RecordCsv({});
        const qsizetype header = csv.size();
        TRecordEntries batch;
        qint64 rows = 0;
        auto flush = [&] {
            csv += RecordCsv(batch).mid(header);
            rows += qint64(batch.size());
            batch.clear();
        };
        QString error;
        bool ok = ReadHistoryGroups(reader->Record(), filter, order, 0, std::numeric_limits<qint64>::max(),
                                    [&](const TRecordEntry& e) {
                                        batch.push_back(e);
                                        if (batch.size() == 1000) flush();
                                    }, &error);
        flush();
        if (ok) ok = write(path, csv, &error);
        const QString message = ok ? QStringLiteral("%1 row(s) written to %2").arg(rows).arg(path) : error;
        QMetaObject::invokeMethod(this, [this, ok, message] { emit Exported(ok, message); }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

int THistoryModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }
int THistoryModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant THistoryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(rows_.size())) return {};
    const TRecordEntry& e = EntryAt(index.row());
    switch (role) {
    case Qt::DisplayRole:
        if (index.column() == ExitStatus) return e.exitStatus;
        if (index.column() == DurationMs) return e.durationMs;
        return TextOf(e, index.column());
    case Qt::ToolTipRole:
        if (index.column() == Pair) return e.pairId;
        if (index.column() == Error && !e.error.isEmpty()) return e.error;
        return {};
    case FailedRole: return e.Failed();
    default: return {};
    }
}

QVariant THistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return QString::fromLatin1(kColumns[section].header);
    return QAbstractTableModel::headerData(section, orientation, role);
}
