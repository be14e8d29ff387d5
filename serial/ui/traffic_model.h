#pragma once
// The traffic window's lines as a list model (QtCore only): pulls what the
// log recorded since the last refresh, grows the last run or appends lines,
// and drops the lines whose bytes left the ring.
#include <QAbstractListModel>
#include <QString>

#include "serial/ui/traffic_format.h"
#include "serial/traffic_log.h"

class TTrafficModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit TTrafficModel(TTrafficLog& log, QObject* parent = nullptr);

    // True when lines were added, changed or removed.
    bool Refresh();
    void SetFilter(bool showTx, bool showRx);  // rebuilds from the ring
    // Empties the log itself, so every view starts again.
    void ClearLog();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const TTrafficLines& Lines() const { return lines_; }
    // The shown lines as text, one per line, and the shown bytes as CSV.
    QByteArray LinesText() const;
    QByteArray CsvText() const;
    // "N bytes kept, M dropped"
    QString StatusText() const;
    TTrafficLog& Log() { return log_; }

private:
    TTrafficLog& log_;
    TTrafficLines lines_;
    uint64_t next_ = 0;  // first byte not yet pulled
};
