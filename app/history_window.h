#pragma once
// The "History" window (View menu): the production record as a table that
// sorts by any column and filters by date range, outcome, station and text,
// the two rows of a pair together; "Export CSV…" writes the rows shown.
// Also where the panel's record is chosen: this computer's file, or a
// PostgreSQL URL shared by a line of stations.
#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class THistoryModel;

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
    QLineEdit* SearchText;
    QPushButton* ReloadButton;
    QPushButton* ExportButton;
    QLineEdit* RecordLocation;  // empty: this computer's file
    QPushButton* ApplyLocation;
    QLabel* Status;

    THistoryModel& Model() { return *model_; }

    // Reads the whole record again; false (and the status says why) when it
    // cannot be read.
    bool Reload();
    void ApplyFilter();
    void ExportClick();
    void ApplyLocationClick();

private:
    void UpdateStatus();
    THistoryModel* model_;
    QString location_;
    QString loadError_;
    int pending_ = 0;  // rows kept locally for the shared record
};
