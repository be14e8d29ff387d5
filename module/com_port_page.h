#pragma once
// The Com Port page: the port chooser, the five settings groups, "Open Port"
// and "Close Port", and six signal lamps.
#include <QWidget>

#include "module/port_setup.h"

class QLabel;
class QPushButton;
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

    // Both handlers may raise EComPort (a failed open); the main window reports it.
    void OpenComPortClick();
    void CloseComPortClick();

    TPortChoices Choices() const;
    int FlowControlItem() const;

    // The settings groups and the chooser, in the order Open/Close switch them.
    QList<QWidget*> SettingControls() const;

private:
    TCustomComPort& port_;
    TPortControls& controls_;
};
