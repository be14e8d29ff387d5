#pragma once
// The "Station" window (View menu): the production station of the panel.
// Choose the profile, the unit addresses, the watched folders or fixed
// ports, the labels folder and the printer, then Start: every module
// plugged in is programmed, verified, recorded and labelled, each socket
// shown as a tile readable from a step away, with the running sums and the
// last results. The station is one operation of the panel's runner, so
// the pages' operations are refused while it runs. Stop takes no new
// module and lets the running ones finish; a second Stop stops them.
#include <QFrame>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "module/port_setup.h"
#include "station/station_events.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QGridLayout;
class QTimer;

// One socket: big headline (PASS, FAIL, the step, Empty), a detail line and
// the step's progress. Focusable, its accessible name carries its state.
class TStationTile : public QFrame {
    Q_OBJECT
public:
    explicit TStationTile(QWidget* parent = nullptr);
    void Show(const TSocketView& view);
    const TSocketView& View() const { return view_; }

    QLabel* Headline;
    QLabel* Detail;
    QLabel* SocketName;
    QProgressBar* Progress;

private:
    TSocketView view_;
};

class TStationWindow : public QWidget {
    Q_OBJECT
public:
    // lineSettings: the Com Port page's line settings for every socket's
    // port (baud, data length, parity, stop bits, flow control); null: the
    // defaults.
    explicit TStationWindow(std::function<TPortChoices()> lineSettings = {}, QWidget* parent = nullptr);
    ~TStationWindow() override;

    QLineEdit* ProfileEdit;
    QPushButton* ProfileBrowse;
    QLineEdit* UnitAddressEdit;  // "0100", "next" or a file of by-id names and addresses
    QLineEdit* WatchEdit;        // folders, separated by ';'
    QLineEdit* PortsEdit;        // fixed ports, separated by ';'
    QLineEdit* LabelsEdit;       // the labels folder; empty: none kept
    QPushButton* LabelsBrowse;
    QLineEdit* PrinterEdit;      // the CUPS printer; empty: not printed
    QLineEdit* LabelSizeEdit;    // "62x29"
    QPushButton* StartButton;
    QPushButton* StopButton;
    QLabel* PassedLabel;
    QLabel* FailedLabel;
    QLabel* YieldLabel;
    QLabel* RateLabel;
    QListWidget* LastResults;
    QLabel* Status;

    // False (and Status says why) when the station could not start.
    bool StartClick();
    // First: no new module, the running ones finish. Again: they are stopped.
    void StopClick();
    bool Running() const;
    std::vector<TStationTile*> Tiles() const { return tiles_; }

private:
    struct TRun;
    void Apply(const TStationEvent& event);
    void Ended();
    void UpdateSums();
    void SetRunning(bool running);
    void SetStatus(const QString& text, bool error = false);

    std::function<TPortChoices()> lineSettings_;
    std::shared_ptr<TRun> run_;
    std::vector<TStationTile*> tiles_;
    QGridLayout* tileGrid_;
    QWidget* tileArea_;
    QTimer* sumsTimer_;
    bool stopping_ = false;
};
