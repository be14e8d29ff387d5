#pragma once
// The "History" window (View menu): the production record as a table that
// sorts by any column and filters by date range (UTC days, as the time
// column), outcome, station and text, the two rows of a pair together;
// "Export CSV…" writes the rows shown, in their order. The record is read
// off the window thread a page at a time (THistoryModel): a large record
// opens at once, a server that does not answer shows "connecting…" with
// Cancel, rows added meanwhile appear by themselves. Also where the panel's
// record is chosen: this computer's file, or a PostgreSQL URL shared by a
// line of stations (shown without its password).
#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;
class THistoryModel;
struct THistoryFilter;

class THistoryWindow : public QWidget {
    Q_OBJECT
public:
    explicit THistoryWindow(QWidget* parent = nullptr);

    QTableView* HistoryTable;
    QCheckBox* FromCheck;
    QDateEdit* FromDate;
    QCheckBox* ToCheck;
    QDateEdit* ToDate;
    QComboBox* OutcomeFilter;  // 0 all, 1 ok, 2 failed
    QComboBox* StationFilter;  // 0 every station
    QLineEdit* SearchText;     // applied once typing pauses
    QPushButton* ReloadButton;
    QPushButton* ExportButton;
    QLineEdit* RecordLocation;  // empty: this computer's file
    QPushButton* ApplyLocation;
    QLabel* Status;
    QPushButton* CancelButton;  // while the record is being reached or read

    THistoryModel& Model() { return *model_; }

    // Reads the record again (off the window thread).
    void Reload();
    void ApplyFilter();
    // The filter the controls show (dates as UTC days).
    THistoryFilter Filter() const;
    void ExportClick();
    void ApplyLocationClick();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void UpdateStatus();
    void UpdateStations();
    THistoryModel* model_;
    QTimer* searchPause_;
    QString location_;  // as used, password and all; never shown
    QString exportNote_;
};
