#include "serial/ui/traffic_model.h"

TTrafficModel::TTrafficModel(TTrafficLog& log, QObject* parent) : QAbstractListModel(parent), log_(log)
{
    Refresh();
}

bool TTrafficModel::Refresh()
{
    bool changed = false;
    const uint64_t first = log_.FirstByte();
    std::size_t drop = 0;
    for (const TTrafficLine& l : lines_.Lines()) {
        if (l.FirstByte + l.Count > first) break;
        ++drop;
    }
    if (drop > 0) {
        beginRemoveRows(QModelIndex(), 0, static_cast<int>(drop) - 1);
        lines_.DropBefore(first);
        endRemoveRows();
        changed = true;
    }
    const std::vector<TTrafficChunk> chunks = log_.ChunksFrom(std::max(next_, first));
    if (chunks.empty()) {
        next_ = std::max(next_, first);
        return changed;
    }
    // Count first so that the view hears of the new rows in one piece.
    TTrafficLines probe = lines_.TailCopy();
    std::size_t newLines = 0;
    bool lastChanged = false;
    for (const TTrafficChunk& c : chunks) {
        const TTrafficLines::TAdded a = probe.Add(c);
        if (a.LastChanged && newLines == 0) lastChanged = true;
        newLines += a.NewLines;
    }
    const int oldRows = rowCount();
    if (newLines > 0) beginInsertRows(QModelIndex(), oldRows, oldRows + static_cast<int>(newLines) - 1);
    for (const TTrafficChunk& c : chunks) lines_.Add(c);
    if (newLines > 0) endInsertRows();
    if (lastChanged && oldRows > 0) emit dataChanged(index(oldRows - 1), index(oldRows - 1));
    const TTrafficChunk& last = chunks.back();
    next_ = last.FirstByte + last.Bytes.size();
    return changed || newLines > 0 || lastChanged;
}

void TTrafficModel::SetFilter(bool showTx, bool showRx)
{
    beginResetModel();
    lines_.Clear();
    lines_.SetFilter(showTx, showRx);
    next_ = 0;
    endResetModel();
    Refresh();
}

void TTrafficModel::ClearLog()
{
    log_.Clear();
    beginResetModel();
    lines_.Clear();
    next_ = log_.EndByte();
    endResetModel();
}

int TTrafficModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(lines_.Lines().size());
}

QVariant TTrafficModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const TTrafficLine& l = lines_.Lines()[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole) return QString::fromLatin1(FormatTrafficLine(l));
    if (role == Qt::UserRole) return static_cast<int>(l.Dir);
    return {};
}

QByteArray TTrafficModel::LinesText() const
{
    QByteArray out;
    for (const TTrafficLine& l : lines_.Lines()) {
        out += FormatTrafficLine(l);
        out += '\n';
    }
    return out;
}

QByteArray TTrafficModel::CsvText() const
{
    QByteArray out = QByteArray::fromStdString(TrafficCsvHeader());
    const uint64_t from = lines_.Lines().empty() ? next_ : lines_.Lines().front().FirstByte;
    for (const TTrafficChunk& c : log_.ChunksFrom(from)) {
        if (c.FirstByte >= next_) break;  // not shown yet
        if ((c.Dir == TTrafficDirection::Tx && !lines_.ShowTx()) || (c.Dir == TTrafficDirection::Rx && !lines_.ShowRx()))
            continue;
        out += QByteArray::fromStdString(TrafficCsvRows(c));
    }
    return out;
}

QString TTrafficModel::StatusText() const
{
    return QStringLiteral("%1 bytes kept, %2 dropped")
        .arg(log_.EndByte() - log_.FirstByte())
        .arg(log_.DroppedBytes());
}
