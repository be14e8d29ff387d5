#pragma once
// TTarnwickForm: the program's one window. It owns the port and composes the
// six pages; each page owns its controls and handlers.
#include <QMainWindow>

#include "common/ui/port_controls.h"

class QTabWidget;
class QMenu;
class QAction;
class TComPort;
class TModuleSession;
class TJumperPage;
class TComPortPage;
class TConfigPage;
class TFlashPage;
class TCommandPage;
class TTerminalPage;
class TAboutBox;
class TTrafficWindow;
class THistoryWindow;
class TStationWindow;

class TTarnwickForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TTarnwickForm(QWidget* parent = nullptr);
    ~TTarnwickForm() override;

    TComPort* ComPort1;
    QTabWidget* PageControl1;
    QMenu* FileMenu;
    QMenu* ViewMenu;
    QAction* Traffic1;
    QAction* History1;  // the production record
    QAction* Station1;  // the production station
    QMenu* HelpMenu;
    QAction* TarnwickHelp1;
    QAction* About1;

    TJumperPage* JumperSheet;
    TComPortPage* ComPortSheet;
    TConfigPage* FlashConfigSheet;
    TFlashPage* FlashMemorySheet;
    TCommandPage* CommandSheet;
    TTerminalPage* TerminalSheet;

    TModuleSession& Session() { return *session_; }
    TPortControls& PortControls() { return portControls_; }
    TAboutBox* AboutBox() const { return aboutBox_; }

    // Adds a port to the chooser (--port, --simulate) and selects it.
    void AddPort(const QString& path);

    void FormCreate();
    void FormShow();
    void TarnwickHelp1Click();
    void About1Click();
    // Shows the traffic window (made on first use).
    void Traffic1Click();
    TTrafficWindow* TrafficWindow() const { return trafficWindow_; }

    // A signal (SIGTERM, a logout's SIGHUP, Ctrl-C) ends the program as
    // closing the window does, without any box: a running operation stops
    // at its next wait and writes its row, then the event loop ends; when
    // it has not ended within kSignalStopMs, the loop ends without it.
    void EndBySignal(int signalNumber);
    static constexpr int kSignalStopMs = 5000;
    // The program's exit status: 128 + the signal that ended it, else rc.
    int ExitStatus(int rc) const { return endSignal_ ? 128 + endSignal_ : rc; }
    // A run that did not stop in time: the window's end cannot wait for it.
    bool RunLeftBehind() const { return runLeftBehind_; }

    // Where the help file is looked for: beside the program, then the data folders.
    static QStringList HelpFileCandidates();

protected:
    void showEvent(QShowEvent* e) override;
    // Closing the window during an operation stops it at its next wait and
    // quits the program when it has returned, with the port closed.
    void closeEvent(QCloseEvent* e) override;

private:
    void WireOperations();
    // One operation at a time: the others and "Open Port" are held meanwhile.
    void OperationRunningChanged(bool running);
    TPortControls portControls_;
    TModuleSession* session_;
    TAboutBox* aboutBox_ = nullptr;
    TTrafficWindow* trafficWindow_ = nullptr;
    THistoryWindow* historyWindow_ = nullptr;
    TStationWindow* stationWindow_ = nullptr;
    bool shownOnce_ = false;
    bool quitWhenEnded_ = false;  // closed during an operation: the program ends with it
    int endSignal_ = 0;           // the signal that ends the program
    bool runLeftBehind_ = false;
};
