#pragma once
// The "Traffic" window: every byte of the port as lines of hex and
// characters with direction and the time since the byte before, a filter
// by direction, Clear, "Save…" (text or CSV) and "Log to file". It reads
// the port's log on a timer only while it is shown.
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QWidget>

#include "serial/ui/traffic_file_log.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListView;
class QPushButton;
class TTrafficLog;
class TTrafficModel;

class TTrafficWindow : public QWidget {
    Q_OBJECT
public:
    // New lines appear (and the view follows the tail) four times a second.
    static constexpr int RefreshMs = 250;
    static constexpr int StatusMs = 500;  // the status line's counts

    explicit TTrafficWindow(TTrafficLog& log, QWidget* parent = nullptr);
    ~TTrafficWindow() override;

    QListView* TrafficList;
    QComboBox* TrafficFilter;  // 0 both, 1 sent only, 2 received only
    QPushButton* TrafficClear;
    QPushButton* TrafficSave;
    QCheckBox* TrafficLogToFile;
    QLabel* TrafficStatus;
    QLabel* TrafficNotice;  // says that the log holds what went over the line

    TTrafficModel& Model() { return *model_; }
    TTrafficFileLog& FileLog() { return fileLog_; }

    // Pulls what was recorded; follows the tail when the list was at its end.
    void Refresh();
    void TrafficFilterChange(int item);
    void TrafficClearClick();
    void TrafficSaveClick();
    void TrafficLogToFileClick(bool on);

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

private:
    void UpdateStatus();
    TTrafficLog& log_;
    TTrafficModel* model_;
    TTrafficFileLog fileLog_;
    QBasicTimer timer_;
    QElapsedTimer statusShown_;
};
