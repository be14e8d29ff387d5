#pragma once
// The "Link Test" window: two port choosers (or one and "far end looped
// back"), the frame size, rate, duration and pass thresholds, Start and
// Stop, live figures and charts (packet error rate and throughput over
// time, a latency histogram), one summary at the end, and Save Results.
// The test itself is TLinkTest (module/link_test), run on its own threads;
// the window polls it four times a second. It is an operation: it does not
// start while another runs, and "Close Port" or closing the main window stops it.
#include <QDateTime>
#include <QWidget>
#include <functional>
#include <memory>

#include "commands/ui/program_pair_dialog.h"
#include "module/link_test.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTimer;
class TMiniChart;

class TTrafficLog;

class TLinkTestWindow : public QWidget {
public:
    // setup is asked at every Start (ports, line settings, the panel's open port).
    TLinkTestWindow(std::function<TPairPortSetup()> setup, int rfDataRateItem, QWidget* parent = nullptr);
    ~TLinkTestWindow() override;

    QComboBox* LinkPortA;
    QComboBox* LinkPortB;
    QCheckBox* LinkLoopback;
    QComboBox* LinkDirection;
    QSpinBox* LinkFrameSize;
    QDoubleSpinBox* LinkRate;      // 0: flat out
    QDoubleSpinBox* LinkSeconds;
    QSpinBox* LinkFrames;          // 0: by time
    QComboBox* LinkRfRate;
    QDoubleSpinBox* LinkMaxPer;
    QDoubleSpinBox* LinkMinThroughput;
    QPushButton* LinkStartButton;
    QPushButton* LinkStopButton;
    QPushButton* LinkSaveButton;
    QLabel* LinkFigures;
    QPlainTextEdit* LinkSummary;
    TMiniChart* PerChart;
    TMiniChart* ThroughputChart;
    TMiniChart* LatencyChart;

    bool Running() const { return test_ != nullptr && !ended_; }

    // The request the controls make (ports from the choosers).
    TLinkTestRequest Request() const;
    bool Start();
    void Stop();
    // Writes the per-second CSV to csvPath and the JSON summary beside it.
    bool SaveResults(const QString& csvPath, QString* error) const;
    const TLinkTestResult& LastResult() const { return result_; }

    // Every rate of the Config Memory page's RF Data Rate list, in bps.
    static int RfBpsOfItem(int item);
    // The choosers' lists again, from the Com Port page's (the choices kept).
    void RefreshPorts();
    // The ports Point A and Point B get by default: adapters (USB, ACM)
    // before built-in UARTs, never the port open on the Com Port page.
    // Indexes into list, -1 when there is none.
    static std::pair<int, int> DefaultPorts(const QList<TPortInfo>& list, const QString& openPort);
    // The file name Save Results proposes: the date, time and ports.
    QString ProposedFileName() const;
    // Two ports, as Program Pair just programmed them (loopback off).
    void ChoosePorts(const QString& a, const QString& b);

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void Poll();
    void Show(const TLinkTestResult& r);
    void Finish();
    void UpdateControls();

    std::function<TPairPortSetup()> setup_;
    TPortChoices line_;
    // Shared with the run on the panel's runner, which may outlive the window.
    std::shared_ptr<TLinkTest> test_;
    bool ended_ = true;
    QDateTime started_;

    TLinkTestResult result_;
    TLinkTestRequest lastRequest_;
    QTimer* poll_;
};

// Opens the owner's one Link Test window (made on first use) and brings it up.
TLinkTestWindow* ShowLinkTestWindow(QWidget* owner, std::function<TPairPortSetup()> setup, int rfDataRateItem);
