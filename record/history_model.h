#pragma once
// The History window's table without the window: the record's rows,
// filtered (time range, outcome, station, text) and sorted by any column,
// the two rows of a pair always next to each other (a pair sorts and
// filters as one). QtCore only.
#include <QAbstractTableModel>
#include <QDateTime>
#include <vector>

#include "record/record_entry.h"

struct THistoryFilter {
    QDateTime from;       // invalid: no lower bound
    QDateTime to;         // invalid: no upper bound (exclusive)
    int outcome = 0;      // 0 all, 1 ok only, 2 failed only
    QString station;      // empty: every station
    QString text;         // searched in the text columns, any case
};

class THistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Time, Station, User, Port, PortById, Operation, Profile, UnitAddress, Verified, Outcome,
                  ExitStatus, Error, DurationMs, ModuleVersion, KeyFingerprint, Pair, ImageHash, Differences,
                  ColumnCount };

    explicit THistoryModel(QObject* parent = nullptr);

    void SetRows(TRecordEntries rows);
    void SetFilter(const THistoryFilter& filter);
    const TRecordEntries& Rows() const { return rows_; }
    // The rows shown, in their order (for the export).
    TRecordEntries ShownRows() const;
    const TRecordEntry& EntryAt(int row) const { return rows_[size_t(shown_[size_t(row)])]; }
    QStringList Stations() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    struct TGroup {
        int first;
        int second = -1;  // the pair's other row
    };
    bool Passes(const TRecordEntry& e) const;
    void Rebuild();

    TRecordEntries rows_;
    std::vector<TGroup> groups_;
    std::vector<int> shown_;  // row indexes in display order
    THistoryFilter filter_;
    int sortColumn_ = Time;
    Qt::SortOrder sortOrder_ = Qt::DescendingOrder;
};
