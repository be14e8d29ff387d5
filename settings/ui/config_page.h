#pragma once
// The Config Memory page: the "Configuration" fields (key, channel
// frequencies, temperature offset, custom baud), the "Power up
// Configuration" panel and the "Program Config" button.
#include <QWidget>
#include <array>

#include "settings/config_values.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TPortControls;

class TConfigPage : public QWidget {
    Q_OBJECT
public:
    explicit TConfigPage(TPortControls& controls, QWidget* parent = nullptr);

    // The page's values as they stand (texts unconverted).
    TConfigValues Values() const;
    // Shows the values as if the user had typed each text and left its
    // field, then chosen each item: same texts, same rows shown.
    void SetValues(const TConfigValues& values);

    // "Configuration" group.
    QGroupBox* ConfigurationGroup;
    QLabel* KeyLabel;
    QLineEdit* KeyEdit;
    QPushButton* GenerateKeyButton;  // fills KeyEdit from the system's random source
    QLabel* ExampleKeyNotice;        // shown while KeyEdit holds the example key or a weak one
    std::array<QLabel*, 4> ChannelLabels;  // "Channel 12 frequencies" .. 15
    QLineEdit* ChannelAEdit;
    QLineEdit* ChannelBEdit;
    QLineEdit* ChannelCEdit;
    QLineEdit* ChannelDEdit;
    QLineEdit* ChannelEEdit;
    QLineEdit* ChannelFEdit;
    QLineEdit* ChannelGEdit;
    QLineEdit* ChannelHEdit;
    QLineEdit* ChannelIEdit;
    QLineEdit* ChannelJEdit;
    QLineEdit* ChannelKEdit;
    QLineEdit* ChannelLEdit;
    std::array<QLineEdit*, 12> ChannelEdits;  // A .. L
    QLabel* TemparatureLabel;
    QLineEdit* TemparatureEdit;
    QLabel* TemparatureUnitLabel;
    QLabel* CustomBaudLabel;
    QLineEdit* CustomBaudEdit;
    QLabel* BaudLabel;

    // "Power up Configuration" group.
    QGroupBox* PowerUpGroup;
    QLabel* PowerUpModeLabel;
    QComboBox* PowerUpMode;
    QLabel* PowerUpDateRateLabel;
    QComboBox* PowerUpRFDataRate;
    QLabel* PowerUpChannelLabel;
    QComboBox* PowerUpChannel;
    QLabel* PowerUpMasterSlaveLabel;
    QComboBox* PowerUpMasterSlave;
    QLabel* PowerUpUARTEnableLabel;
    QComboBox* PowerUpUARTEnable;
    QLabel* PowerUpUARTLabel;
    QComboBox* PowerUpBaudRate;
    QComboBox* PowerUpBitSettings;
    QComboBox* PowerUpFlowControl;
    QLabel* PURCIOLabel;
    std::array<QCheckBox*, 16> PURCIO;  // PURCIO[i] is PURCIO(i+1)
    QLabel* PowerUpAddressLabel;
    QLineEdit* PowerUpAddressEdit;

    QPushButton* ProgramConfigButton;
    QPushButton* ReadConfigButton;       // "Read Config"
    QCheckBox* VerifyConfigCheckBox;     // "Verify after programming"
    bool VerifyAfterProgramming() const;
    QPushButton* ProgramPairButton;      // opens Program Pair (the window wires it)
    QPushButton* LinkTestButton;         // opens the Link Test window (the window wires it)
    QLabel* Note1;
    QLabel* Note2;
    QLabel* MasterSlaveNote3;

    // Handlers.
    void GenerateKeyButtonClick();
    void UpdateExampleKeyNotice();
    void TemparatureEditKeyPress(QLineEdit* sender, QChar& key);
    void TemparatureEditExit(QLineEdit* sender);
    void CustomBaudEditKeyPress(QLineEdit* sender, QChar& key);
    void CustomBaudEditExit(QLineEdit* sender);
    void PowerUpModeChange();
    void PowerUpUARTEnableChange();

    // PowerUpUARTEnable's item as Program Config reads it: the chosen item,
    // or -1 while its typed text names neither item.
    int UARTEnableItem() const;

private:
    void BuildConfigurationGroup();
    void BuildPowerUpGroup();
    void ShowUARTSettings(bool on);
    void ShowOutputs(bool on);
};
