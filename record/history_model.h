#pragma once
// The History window's table without the window. The record is read on a
// thread of the model's own and a page at a time (fetchMore), the count and
// the stations asked of the database, so a record of a million rows opens
// as fast as one of ten and no read ever holds up the window thread. The
// two rows of a pair stay next to each other (see history_query.h). While a
// location is set the model looks for new rows every few seconds and shows
// them without a reload. QtCore only.
#include <QAbstractTableModel>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "record/history_query.h"
#include "record/record_entry.h"

class QThread;
class QTimer;
class THistoryReader;

class THistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // What a line asks first comes first: at the window's width the
    // outcome is always in sight.
    enum Column { Time, Outcome, Operation, Port, UnitAddress, Station, User, Profile, Error, Verified, ExitStatus,
                  DurationMs, PortById, ModuleVersion, KeyFingerprint, Pair, ImageHash, Differences, ColumnCount };
    // data() of any column: true for a failed row.
    static constexpr int FailedRole = Qt::UserRole + 1;
    static constexpr int kPageGroups = 200;
    enum class State { Idle, Connecting, Reading };

    explicit THistoryModel(QObject* parent = nullptr);
    ~THistoryModel() override;

    // Reads this record from now on (as TProductionRecord takes it) and starts a reload.
    void SetLocation(const QString& location, const QString& localPath = {});
    // Reads the first page again, the count, the stations.
    void Reload();
    void SetFilter(const THistoryFilter& filter);
    // Stops waiting for the read under way: its answer is dropped.
    void Cancel();
    // Every matching row, in the order shown, as CSV handed to `write` on
    // the model's thread (Exported() tells the end).
    using TFileWriter = std::function<bool(const QString& path, const QByteArray& bytes, QString* error)>;
    void ExportCsv(const QString& path, TFileWriter write);
    // How often new rows are looked for (0: never).
    void SetLiveInterval(int ms);

    State CurrentState() const { return state_; }
    bool Connected() const { return connected_; }
    bool Fetching() const { return fetching_; }  // a further page asked for
    QString LoadError() const { return error_; }
    qint64 MatchingRows() const { return matching_; }  // -1 while counted
    int WaitingRows() const { return waiting_; }       // rows for this record waiting on this computer
    QStringList Stations() const { return stations_; }
    const TRecordEntry& EntryAt(int row) const { return rows_[size_t(row)]; }
    // The rows read so far, in their order.
    const TRecordEntries& LoadedRows() const { return rows_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

signals:
    // The state, the error, the count, the stations or the waiting rows changed.
    void StatusChanged();
    void Exported(bool ok, const QString& message);

private:
    friend class THistoryReader;
    THistoryOrder Order() const;
    void Start(qint64 groups);
    void PageRead(int generation, qint64 offset, TRecordEntries rows, qint64 groups, qint64 asked, QString error);
    void MarkRead(int generation, const QString& mark);
    void SetState(State state);

    QThread* thread_;
    THistoryReader* reader_;
    QTimer* live_;
    QString location_;
    QString localPath_;
    THistoryFilter filter_;
    int sortColumn_ = Time;
    Qt::SortOrder sortOrder_ = Qt::DescendingOrder;

    int generation_ = 0;  // answers to an older question are dropped
    std::shared_ptr<std::atomic<int>> latest_;
    State state_ = State::Idle;
    bool located_ = false;
    bool connected_ = false;
    bool fetching_ = false;
    bool exhausted_ = true;
    bool refreshing_ = false;
    TRecordEntries rows_;
    qint64 groups_ = 0;  // groups read (a pair is one)
    qint64 matching_ = -1;
    int waiting_ = 0;
    QStringList stations_;
    QString error_;
    QString mark_;
};
