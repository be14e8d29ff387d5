#include "settings/ui/config_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include "common/ui/dialogs.h"
#include "common/ui/port_controls.h"
#include "settings/conversions.h"
#include "settings/ui/hex_fields.h"
#include "settings/key_generator.h"
#include "settings/power_up_rules.h"

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int x, int y)
{
    auto* l = new QLabel(caption, parent);
    l->setObjectName(QLatin1String(name));
    l->move(x, y);
    l->adjustSize();
    return l;
}

QLineEdit* MakeEdit(QWidget* parent, const QString& name, int x, int y, int w, int maxLength, const QString& text)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setGeometry(x, y, w, 21);
    e->setMaxLength(maxLength);
    e->setText(text);
    return e;
}

QComboBox* MakeList(QWidget* parent, const char* name, const QStringList& items, int x, int y, int w)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(QLatin1String(name));
    c->addItems(items);
    c->setCurrentIndex(0);
    c->setGeometry(x, y, w, 21);
    return c;
}

void Show(QWidget* w, bool on) { w->setVisible(on); }

// Row tops inside the "Power up Configuration" group.
constexpr int kRowTop[] = {20, 42, 64, 86, 108, 130};
constexpr int kValueX = 125;

}  // namespace

TConfigPage::TConfigPage(TPortControls& controls, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FlashConfigSheet"));
    // The window's 8-point sans font; the absolute layout is drawn for it.
    QFont f = font();
    f.setPointSize(8);
    setFont(f);
    resize(657, 375);
    BuildConfigurationGroup();
    BuildPowerUpGroup();

    ProgramConfigButton = new QPushButton(QStringLiteral("Program Config"), this);
    ProgramConfigButton->setObjectName(QStringLiteral("ProgramConfigButton"));
    ProgramConfigButton->setGeometry(520, 276, 110, 25);
    ProgramConfigButton->setEnabled(false);
    controls.AddOperation(ProgramConfigButton, TPortControlOrder::ProgramConfig);
    // Opens its own two ports: usable whether or not the panel's is open.
    ProgramPairButton = new QPushButton(QStringLiteral("Program Pair…"), this);
    ProgramPairButton->setObjectName(QStringLiteral("ProgramPairButton"));
    ProgramPairButton->setGeometry(520, 222, 110, 25);
    LinkTestButton = new QPushButton(QStringLiteral("Link Test…"), this);
    LinkTestButton->setObjectName(QStringLiteral("LinkTestButton"));
    LinkTestButton->setGeometry(404, 222, 110, 25);

    ReadConfigButton = new QPushButton(QStringLiteral("Read Config"), this);
    ReadConfigButton->setObjectName(QStringLiteral("ReadConfigButton"));
    ReadConfigButton->setGeometry(404, 276, 110, 25);
    ReadConfigButton->setEnabled(false);
    controls.AddOperation(ReadConfigButton, TPortControlOrder::ProgramConfig);
    VerifyConfigCheckBox = new QCheckBox(QStringLiteral("Verify after programming"), this);
    VerifyConfigCheckBox->setObjectName(QStringLiteral("VerifyConfigCheckBox"));
    VerifyConfigCheckBox->setGeometry(420, 252, 210, 20);
    VerifyConfigCheckBox->setChecked(true);

    Note1 = MakeLabel(this, "Note1",
                      QStringLiteral("NOTE 1: The Tarnwick RF Module must be jumpered for Command Mode to program Config "
                                     "Memory."),
                      8, 320);
    Note2 = MakeLabel(this, "Note2",
                      QStringLiteral("NOTE 2: Header Pin 1 must be floating at power up to load the configuration "
                                     "settings from Config Memory."),
                      8, 336);
    MasterSlaveNote3 = MakeLabel(
        this, "MasterSlaveNote3",
        QStringLiteral("NOTE 3: One Tarnwick RF module must be set to Point A and the other to Point B."), 8, 352);

    // Start state: Cable Link.
    PowerUpModeChange();
}

void TConfigPage::BuildConfigurationGroup()
{
    ConfigurationGroup = new QGroupBox(QStringLiteral("Configuration"), this);
    ConfigurationGroup->setObjectName(QStringLiteral("ConfigurationGroup"));
    ConfigurationGroup->setGeometry(8, 4, 641, 148);
    QWidget* g = ConfigurationGroup;

    KeyLabel = MakeLabel(g, "KeyLabel", QStringLiteral("Encryption Key (128 bits in Hex)"), 10, 22);
    KeyEdit = MakeEdit(g, QStringLiteral("KeyEdit"), 190, 18, 250, 32,
                       QStringLiteral("1F2E3D4C5B6A79880F1E2D3C4B5A6978"));
    AttachHexKeyField(KeyEdit);
    GenerateKeyButton = new QPushButton(QStringLiteral("Generate Key"), g);
    GenerateKeyButton->setObjectName(QStringLiteral("GenerateKeyButton"));
    GenerateKeyButton->setGeometry(446, 16, 84, 24);
    connect(GenerateKeyButton, &QPushButton::clicked, this, [this] { GenerateKeyButtonClick(); });
    // Beside the key, not in the way: a module programmed with the example
    // key encrypts with a key that anyone who has the program knows.
    ExampleKeyNotice = new QLabel(g);
    ExampleKeyNotice->setObjectName(QStringLiteral("ExampleKeyNotice"));
    ExampleKeyNotice->setGeometry(534, 12, 104, 32);
    ExampleKeyNotice->setWordWrap(true);
    ExampleKeyNotice->setStyleSheet(QStringLiteral("color: #a04000;"));
    connect(KeyEdit, &QLineEdit::textChanged, this, [this] { UpdateExampleKeyNotice(); });
    UpdateExampleKeyNotice();

    static const char kLetters[] = "ABCDEFGHIJKL";
    for (int row = 0; row < 4; ++row) {
        ChannelLabels[size_t(row)] =
            MakeLabel(g, "ChannelLabel", QStringLiteral("Channel %1 frequencies").arg(12 + row), 10, 48 + 24 * row);
        ChannelLabels[size_t(row)]->setObjectName(QStringLiteral("Channel%1Label").arg(12 + row));
        for (int col = 0; col < 3; ++col) {
            const int i = row * 3 + col;
            QLineEdit* e = MakeEdit(g, QStringLiteral("Channel%1Edit").arg(QLatin1Char(kLetters[i])), 150 + 60 * col,
                                    44 + 24 * row, 55, 7, QStringLiteral("915.064"));
            e->setToolTip(QStringLiteral("903.000 to 927.000 Mhz"));
            AttachDecField(e);
            ChannelEdits[size_t(i)] = e;
        }
    }
    ChannelAEdit = ChannelEdits[0];
    ChannelBEdit = ChannelEdits[1];
    ChannelCEdit = ChannelEdits[2];
    ChannelDEdit = ChannelEdits[3];
    ChannelEEdit = ChannelEdits[4];
    ChannelFEdit = ChannelEdits[5];
    ChannelGEdit = ChannelEdits[6];
    ChannelHEdit = ChannelEdits[7];
    ChannelIEdit = ChannelEdits[8];
    ChannelJEdit = ChannelEdits[9];
    ChannelKEdit = ChannelEdits[10];
    ChannelLEdit = ChannelEdits[11];

    TemparatureLabel = MakeLabel(g, "TemparatureLabel", QStringLiteral("Temperature calibration (Decimal)"), 340, 44);
    TemparatureEdit = MakeEdit(g, QStringLiteral("TemparatureEdit"), 340, 60, 50, 6, QStringLiteral("0"));
    TemparatureUnitLabel = MakeLabel(g, "TemparatureUnitLabel", QStringLiteral("offset in degrees C"), 396, 64);
    AttachFieldHandlers(TemparatureEdit,
                        {[this](QLineEdit* s, QChar& k) { TemparatureEditKeyPress(s, k); }, nullptr,
                         [this](QLineEdit* s) { TemparatureEditExit(s); }});

    CustomBaudLabel = MakeLabel(g, "CustomBaudLabel", QStringLiteral("Custom Serial Baud Rate"), 340, 94);
    CustomBaudEdit = MakeEdit(g, QStringLiteral("CustomBaudEdit"), 340, 110, 50, 6, QStringLiteral("300"));
    BaudLabel = MakeLabel(g, "BaudLabel", QStringLiteral("baud ( Actual baud = 300, 0.00% Error )"), 396, 114);
    AttachFieldHandlers(CustomBaudEdit,
                        {[this](QLineEdit* s, QChar& k) { CustomBaudEditKeyPress(s, k); }, nullptr,
                         [this](QLineEdit* s) { CustomBaudEditExit(s); }});
}

void TConfigPage::BuildPowerUpGroup()
{
    using namespace powerup;
    PowerUpGroup = new QGroupBox(QStringLiteral("Power up Configuration"), this);
    PowerUpGroup->setObjectName(QStringLiteral("PowerUpGroup"));
    PowerUpGroup->setGeometry(8, 154, 641, 160);
    QWidget* g = PowerUpGroup;

    PowerUpModeLabel = MakeLabel(g, "PowerUpModeLabel", QStringLiteral("Mode"), 10, kRowTop[0]);
    PowerUpMode = MakeList(g, "PowerUpMode", ModeItems(), kValueX, kRowTop[0] - 4, 120);

    PowerUpDateRateLabel = MakeLabel(g, "PowerUpDateRateLabel", QStringLiteral("RF Data Rate"), 10, kRowTop[1]);
    PowerUpRFDataRate = MakeList(g, "PowerUpRFDataRate", RFDataRateItems(), kValueX, kRowTop[1] - 4, 100);

    PowerUpChannelLabel = MakeLabel(g, "PowerUpChannelLabel", QStringLiteral("RF Channel"), 10, kRowTop[2]);
    PowerUpChannel = MakeList(g, "PowerUpChannel", ChannelItems(), kValueX, kRowTop[2] - 4, 100);

    // Row 4: point-to-point role or, in Peripheral mode, the UART enable.
    PowerUpMasterSlaveLabel =
        MakeLabel(g, "PowerUpMasterSlaveLabel", QStringLiteral("Point to Point"), 10, kRowTop[3]);
    PowerUpMasterSlave = MakeList(g, "PowerUpMasterSlave", MasterSlaveItems(), kValueX, kRowTop[3] - 4, 100);
    PowerUpUARTEnableLabel = MakeLabel(g, "PowerUpUARTEnableLabel", QStringLiteral("UART enable"), 10, kRowTop[3]);
    PowerUpUARTEnable = MakeList(g, "PowerUpUARTEnable", UARTEnableItems(), kValueX, kRowTop[3] - 4, 100);
    PowerUpUARTEnable->setEditable(true);
    PowerUpUARTEnable->setInsertPolicy(QComboBox::NoInsert);

    // Row 5: UART settings or, in Remote Control mode, the output pins.
    PowerUpUARTLabel = MakeLabel(g, "PowerUpUARTLabel", QStringLiteral("UART settings"), 10, kRowTop[4]);
    PowerUpBaudRate = MakeList(g, "PowerUpBaudRate", BaudRateItems(), kValueX, kRowTop[4] - 4, 105);
    PowerUpBitSettings = MakeList(g, "PowerUpBitSettings", BitSettingsItems(), kValueX + 109, kRowTop[4] - 4, 65);
    PowerUpFlowControl = MakeList(g, "PowerUpFlowControl", FlowControlItems(), kValueX + 178, kRowTop[4] - 4, 85);
    PURCIOLabel = MakeLabel(g, "PURCIOLabel", QStringLiteral("Output"), 10, kRowTop[4]);
    for (int pin = 16; pin >= 1; --pin) {
        auto* box = new QCheckBox(g);
        box->setObjectName(QStringLiteral("PURCIO%1").arg(pin));
        box->setGeometry(kValueX + (16 - pin) * 20, kRowTop[4] - 2, 16, 16);
        box->setToolTip(QStringLiteral("Header Pin %1").arg(pin));
        box->setChecked(PinStartsChecked(pin));
        box->setEnabled(!PinFixed(pin));
        PURCIO[size_t(pin - 1)] = box;
    }

    PowerUpAddressLabel = MakeLabel(g, "PowerUpAddressLabel", QStringLiteral("Unit Address (Hex)"), 10, kRowTop[5]);
    PowerUpAddressEdit = MakeEdit(g, QStringLiteral("PowerUpAddressEdit"), kValueX, kRowTop[5] - 4, 50, 4,
                                  QStringLiteral("FFFE"));
    AttachHexKeyField(PowerUpAddressEdit);

    connect(PowerUpMode, &QComboBox::currentIndexChanged, this, [this] { PowerUpModeChange(); });
    connect(PowerUpUARTEnable, &QComboBox::currentIndexChanged, this, [this] { PowerUpUARTEnableChange(); });
    // Typing into the box changes its item too (none while the text names no item).
    connect(PowerUpUARTEnable, &QComboBox::editTextChanged, this, [this] { PowerUpUARTEnableChange(); });
}

void TConfigPage::ShowUARTSettings(bool on)
{
    Show(PowerUpUARTLabel, on);
    Show(PowerUpBaudRate, on);
    Show(PowerUpBitSettings, on);
    Show(PowerUpFlowControl, on);
}

void TConfigPage::ShowOutputs(bool on)
{
    Show(PURCIOLabel, on);
    for (QCheckBox* b : PURCIO) Show(b, on);
}

void TConfigPage::PowerUpModeChange()
{
    const int mode = PowerUpMode->currentIndex();
    if (mode == powerup::pmPeripheral) {
        // Resetting the box is no user change: PowerUpUARTEnableChange is not raised.
        const QSignalBlocker block(PowerUpUARTEnable);
        PowerUpUARTEnable->setCurrentIndex(0);
        PowerUpUARTEnable->setEditText(PowerUpUARTEnable->itemText(0));
    }
    const powerup::TVisibility v = powerup::VisibilityFor(mode, UARTEnableItem());
    Show(PowerUpDateRateLabel, v.rfDataRate);
    Show(PowerUpRFDataRate, v.rfDataRate);
    Show(PowerUpChannelLabel, v.channel);
    Show(PowerUpChannel, v.channel);
    Show(PowerUpMasterSlaveLabel, v.masterSlave);
    Show(PowerUpMasterSlave, v.masterSlave);
    Show(PowerUpUARTEnableLabel, v.uartEnable);
    Show(PowerUpUARTEnable, v.uartEnable);
    ShowUARTSettings(v.uartSettings);
    ShowOutputs(v.outputs);
    Show(PowerUpAddressLabel, v.address);
    Show(PowerUpAddressEdit, v.address);
    Show(MasterSlaveNote3, v.note3);
}

void TConfigPage::PowerUpUARTEnableChange()
{
    ShowUARTSettings(UARTEnableItem() == 0);
}

int TConfigPage::UARTEnableItem() const
{
    const QString text = PowerUpUARTEnable->currentText();
    const int i = PowerUpUARTEnable->currentIndex();
    if (i >= 0 && PowerUpUARTEnable->itemText(i) == text) return i;
    return PowerUpUARTEnable->findText(text, Qt::MatchFixedString);
}

void TConfigPage::TemparatureEditKeyPress(QLineEdit* sender, QChar& key)
{
    if (key == QLatin1Char('\r')) {
        key = QChar(0);
        TemparatureEditExit(sender);
        return;
    }
    if (FilterTemperatureKey(key)) Dialogs().Beep();
}

void TConfigPage::TemparatureEditExit(QLineEdit* sender)
{
    QString text = sender->text();
    bool beep = false;
    ParseTemperatureOffset(text, &beep);
    if (beep) Dialogs().Beep();
    if (sender->text() != text) sender->setText(text);
}

void TConfigPage::CustomBaudEditKeyPress(QLineEdit* sender, QChar& key)
{
    if (key == QLatin1Char('\r')) {
        key = QChar(0);
        CustomBaudEditExit(sender);
        return;
    }
    if (FilterBaudKey(key)) Dialogs().Beep();
}

void TConfigPage::CustomBaudEditExit(QLineEdit* sender)
{
    QString text = sender->text();
    bool beep = false;
    const int baud = ParseCustomBaud(text, &beep);
    if (beep) Dialogs().Beep();
    BaudLabel->setText(BaudLabelText(baud));
    BaudLabel->adjustSize();
    if (sender->text() != text) sender->setText(text);
}

TConfigValues TConfigPage::Values() const
{
    TConfigValues v;
    v.key = KeyEdit->text();
    for (size_t i = 0; i < ChannelEdits.size(); ++i) v.channels[i] = ChannelEdits[i]->text();
    v.temperature = TemparatureEdit->text();
    v.customBaud = CustomBaudEdit->text();
    v.mode = PowerUpMode->currentIndex();
    v.rfDataRate = PowerUpRFDataRate->currentIndex();
    v.channel = PowerUpChannel->currentIndex();
    v.masterSlave = PowerUpMasterSlave->currentIndex();
    v.uartEnable = UARTEnableItem();
    v.baudRate = PowerUpBaudRate->currentIndex();
    v.bitSettings = PowerUpBitSettings->currentIndex();
    v.flowControl = PowerUpFlowControl->currentIndex();
    for (size_t i = 0; i < PURCIO.size(); ++i) v.outputPins[i] = PURCIO[i]->isChecked();
    v.address = PowerUpAddressEdit->text();
    return v;
}

bool TConfigPage::VerifyAfterProgramming() const { return VerifyConfigCheckBox->isChecked(); }

void TConfigPage::SetValues(const TConfigValues& v)
{
    auto typeHex = [](QLineEdit* e, const QString& text) {
        e->setText(text);
        HexKeyExit(e);
    };
    typeHex(KeyEdit, v.key);
    for (size_t i = 0; i < ChannelEdits.size(); ++i) {
        ChannelEdits[i]->setText(v.channels[i]);
        DecExit(ChannelEdits[i]);
    }
    TemparatureEdit->setText(v.temperature);
    TemparatureEditExit(TemparatureEdit);
    CustomBaudEdit->setText(v.customBaud);
    CustomBaudEditExit(CustomBaudEdit);

    // The mode first: choosing it resets the UART enable box in Peripheral,
    // which the user then chooses again.
    {
        const QSignalBlocker block(PowerUpMode);
        PowerUpMode->setCurrentIndex(v.mode);
    }
    PowerUpModeChange();
    PowerUpRFDataRate->setCurrentIndex(v.rfDataRate);
    PowerUpChannel->setCurrentIndex(v.channel);
    PowerUpMasterSlave->setCurrentIndex(v.masterSlave);
    PowerUpBaudRate->setCurrentIndex(v.baudRate);
    PowerUpBitSettings->setCurrentIndex(v.bitSettings);
    PowerUpFlowControl->setCurrentIndex(v.flowControl);
    if (v.uartEnable >= 0) {
        {
            const QSignalBlocker block(PowerUpUARTEnable);
            PowerUpUARTEnable->setCurrentIndex(v.uartEnable);
            PowerUpUARTEnable->setEditText(PowerUpUARTEnable->itemText(v.uartEnable));
        }
        // The box is only there to choose from in Peripheral mode.
        if (v.mode == powerup::pmPeripheral) PowerUpUARTEnableChange();
    }
    for (size_t i = 0; i < PURCIO.size(); ++i) PURCIO[i]->setChecked(v.outputPins[i]);
    typeHex(PowerUpAddressEdit, v.address);
}

void TConfigPage::GenerateKeyButtonClick()
{
    const QString key = GenerateKey();
    if (key.isEmpty()) {
        Dialogs().Beep();
        return;
    }
    KeyEdit->setText(key);
}

void TConfigPage::UpdateExampleKeyNotice()
{
    // The example key, or a weak one (too short, one byte repeated): both are known or guessed.
    const bool example = IsExampleKey(KeyEdit->text());
    const QString weak = example ? QString() : WeakKeyReason(KeyEdit->text());
    ExampleKeyNotice->setText(example ? QStringLiteral("Example key: not private") : QStringLiteral("Weak key: not private"));
    ExampleKeyNotice->setToolTip(example ? QStringLiteral("This is the page's example key, which anyone can know. "
                                                          "Generate Key makes a private one.")
                                         : QStringLiteral("This key is weak: %1. Anyone can guess it. Generate Key "
                                                          "makes a private one.")
                                               .arg(weak));
    ExampleKeyNotice->setVisible(example || !weak.isEmpty());
}
