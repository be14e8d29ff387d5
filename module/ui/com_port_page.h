#pragma once
// The Com Port page: the port chooser, the five settings groups, "Open Port"
// and "Close Port", and six signal lamps.
#include <QWidget>
#include <functional>

#include "module/port_setup.h"

class QCheckBox;
class QLabel;
class QPushButton;
class TPortReconnector;
class TPortWatcher;
class TComComboBox;
class TComLed;
class TCustomComPort;
class TPortControls;
class TRadioGroup;

class TComPortPage : public QWidget {
    Q_OBJECT
public:
    TComPortPage(TCustomComPort& port, TPortControls& controls, QWidget* parent = nullptr);

    TComComboBox* ComComboBox1;
    TRadioGroup* BaudRateGroup;
    TRadioGroup* DataLengthGroup;
    TRadioGroup* ParityGroup;
    TRadioGroup* StopBitGroup;
    TRadioGroup* FlowControlGroup;
    QPushButton* OpenComPort;
    QPushButton* CloseComPort;
    TComLed* ComLed1;  // Open
    TComLed* ComLed6;  // Transmit Data
    TComLed* ComLed5;  // Receive Data
    TComLed* ComLed2;  // Clear To Send
    TComLed* ComLed3;  // Data Set Ready
    TComLed* ComLed4;  // Ring Indicator
    QPushButton* FindModuleButton;
    QCheckBox* AllRatesCheckBox;    // Find Module tries every rate of the group
    QCheckBox* ReconnectCheckBox;   // "Reconnect automatically"
    QLabel* LineStateLabel;         // what reconnecting is doing

    // Both handlers may raise EComPort (a failed open); the main window reports it.
    void OpenComPortClick();
    void CloseComPortClick();
    // Looks for the module on every listed port (module/find_module_run).
    void FindModuleClick();

    // The running operation has ended: a Close Port asked during it closes
    // the port now, and a waiting reconnect looks for its device again.
    void OperationEnded();

    // Told when "Reconnect automatically" has reopened a lost port.
    std::function<void()> OnPortReopened;

    TPortWatcher& PortWatcher() { return *watcher_; }
    TPortReconnector& Reconnector() { return *reconnector_; }

    TPortChoices Choices() const;
    int FlowControlItem() const;

    // The settings groups and the chooser, in the order Open/Close switch them.
    QList<QWidget*> SettingControls() const;

private:
    void ShowLineState(int state, const QString& name);

    TCustomComPort& port_;
    TPortWatcher* watcher_;
    TPortReconnector* reconnector_;
    TPortControls& controls_;
    bool closeWhenEnded_ = false;
};
