#pragma once
// Program Pair: two ports, the Config Memory page's configuration with a
// fresh key proposed, the pair operation run on the panel's runner (one
// operation at a time) with a progress bar and Abort, then one summary and
// "Save Profile…".
#include <QDialog>
#include <functional>
#include <memory>

#include "commands/pair_programming.h"
#include "module/port_setup.h"
#include "serial/port_list.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

// What the dialog takes from the Com Port page.
struct TPairPortSetup {
    QList<TPortInfo> ports;  // the chooser's list; empty: the machine's serial devices
    TPortChoices line;       // its line settings; line.port is proposed for Point A
    QString openPort;        // the panel's open port, empty while closed
    TTrafficLog* traffic = nullptr;  // the panel's traffic log: both ports' bytes go there
    // The panel's open port as it is now: a run asks when it starts (the port
    // may have been opened, by hand or by Reconnect, since the dialog opened).
    std::function<QString()> openPortNow;
    QString OpenPortNow() const { return openPortNow ? openPortNow() : openPort; }
};

class TProgramPairDialog : public QDialog {
public:
    TProgramPairDialog(const TConfigValues& values, const TPairPortSetup& setup = {}, QWidget* parent = nullptr);
    ~TProgramPairDialog() override;

    QComboBox* PortA;
    QComboBox* PortB;
    QLineEdit* PairKeyEdit;
    QPushButton* PairGenerateKeyButton;
    QPushButton* RunPairButton;
    QPushButton* AbortPairButton;
    QProgressBar* PairProgress;
    QPlainTextEdit* PairSummaryText;
    QPushButton* SavePairProfileButton;
    QPushButton* PairLinkTestButton;  // after a pair was programmed: prove it

    bool Running() const;
    // The device a chooser names: the chosen entry's path, or what was typed.
    static QString ChosenPort(const QComboBox* chooser);
    // The values the pair gets (the key as it stands in the dialog).
    TConfigValues PairValues() const;
    void SavePairProfile();
    // Closing while a run goes on asks it to stop first.
    void reject() override;

private:
    class TPairObserver;
    struct TPairRun;
    void StartPair();
    void PollPair();
    void PairFinished();

    TConfigValues values_;
    TPairPortSetup setup_;
    // Shared with the run's worker, which may outlive the dialog.
    std::shared_ptr<TPairRun> run_;
    TConfigValues ran_;  // what the last run programmed: the profile saved
    bool hasRun_ = false;
    QTimer* poll_;
};
