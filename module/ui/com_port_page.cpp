#include "module/ui/com_port_page.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "common/ui/port_controls.h"
#include "common/ui/radio_group.h"
#include "module/ui/error_report.h"
#include "module/operation_state.h"
#include "module/ui/find_module_run.h"
#include "module/ui/operation_guard.h"
#include "module/operation_runner.h"
#include "module/port_reconnect.h"
#include "serial/ui/com_combo_box.h"
#include "serial/ui/com_led.h"
#include "serial/com_port.h"
#include "serial/port_watcher.h"

namespace {

TRadioGroup* MakeGroup(QWidget* parent, const char* name, const QString& caption, const QStringList& items,
                       int index, const QRect& geometry)
{
    auto* g = new TRadioGroup(caption, items, index, parent);
    g->setObjectName(QLatin1String(name));
    g->setGeometry(geometry);
    return g;
}

}  // namespace

TComPortPage::TComPortPage(TCustomComPort& port, TPortControls& controls, QWidget* parent)
    : QWidget(parent), port_(port), controls_(controls)
{
    setObjectName(QStringLiteral("ComPortSheet"));

    auto* portLabel = new QLabel(QStringLiteral("Com Port"), this);
    portLabel->setGeometry(16, 16, 120, 16);
    // The list follows adapters being plugged and pulled.
    watcher_ = new TPortWatcher(DefaultPortRoots(), this);
    ComComboBox1 = new TComComboBox(this);
    ComComboBox1->setObjectName(QStringLiteral("ComComboBox1"));
    ComComboBox1->setGeometry(16, 34, 384, 24);
    ComComboBox1->Select().PortLister = [this] { return watcher_->Ports(); };
    ComComboBox1->SetComProperty(cpPort);
    ComComboBox1->SetText(QStringLiteral("COM1"));
    if (ComComboBox1->count() > 0) ComComboBox1->setCurrentIndex(0);
    ComComboBox1->setAccessibleName(QStringLiteral("Com Port"));
    portLabel->setBuddy(ComComboBox1);

    BaudRateGroup = MakeGroup(this, "BaudRateGroup", QStringLiteral("Serial Baud Rate"),
                              {QStringLiteral("115200 baud"), QStringLiteral("57600 baud"), QStringLiteral("38400 baud"),
                               QStringLiteral("19200 baud"), QStringLiteral("9600 baud"), QStringLiteral("2400 baud"),
                               QStringLiteral("1200 baud"), QStringLiteral("300 baud")},
                              1, QRect(16, 72, 140, 176));
    DataLengthGroup = MakeGroup(this, "DataLengthGroup", QStringLiteral("Data Length"),
                                {QStringLiteral("8 Bit"), QStringLiteral("7 Bit")}, 0, QRect(168, 72, 110, 56));
    ParityGroup = MakeGroup(this, "ParityGroup", QStringLiteral("Parity"),
                            {QStringLiteral("None"), QStringLiteral("Odd"), QStringLiteral("Even")}, 0,
                            QRect(168, 136, 110, 72));
    StopBitGroup = MakeGroup(this, "StopBitGroup", QStringLiteral("Stop Bits"),
                             {QStringLiteral("1"), QStringLiteral("2")}, 0, QRect(290, 72, 110, 56));
    FlowControlGroup = MakeGroup(this, "FlowControlGroup", QStringLiteral("Flow Control"),
                                 {QStringLiteral("RTS/CTS"), QStringLiteral("DTR/DSR"), QStringLiteral("Xon/Xoff"),
                                  QStringLiteral("None")},
                                 0, QRect(290, 136, 110, 88));

    OpenComPort = new QPushButton(QStringLiteral("Open Port"), this);
    OpenComPort->setObjectName(QStringLiteral("OpenComPort"));
    OpenComPort->setGeometry(16, 264, 90, 27);
    CloseComPort = new QPushButton(QStringLiteral("Close Port"), this);
    CloseComPort->setObjectName(QStringLiteral("CloseComPort"));
    CloseComPort->setGeometry(120, 264, 90, 27);
    // Reopening in the middle of an operation would cut its exchange;
    // "Close Port" stays usable and stops the operation.
    controls_.AddStarter(OpenComPort);

    FindModuleButton = new QPushButton(QStringLiteral("Find Module"), this);
    FindModuleButton->setObjectName(QStringLiteral("FindModuleButton"));
    FindModuleButton->setGeometry(224, 264, 100, 27);
    AllRatesCheckBox = new QCheckBox(QStringLiteral("all rates"), this);
    AllRatesCheckBox->setObjectName(QStringLiteral("AllRatesCheckBox"));
    AllRatesCheckBox->setGeometry(332, 268, 80, 20);
    AllRatesCheckBox->setAccessibleName(QStringLiteral("Find Module tries all rates"));
    ReconnectCheckBox = new QCheckBox(QStringLiteral("Reconnect automatically"), this);
    ReconnectCheckBox->setObjectName(QStringLiteral("ReconnectCheckBox"));
    ReconnectCheckBox->setGeometry(16, 300, 200, 20);
    ReconnectCheckBox->setChecked(false);
    LineStateLabel = new QLabel(this);
    LineStateLabel->setObjectName(QStringLiteral("LineStateLabel"));
    LineStateLabel->setGeometry(16, 324, 620, 34);
    LineStateLabel->setWordWrap(true);

    auto* lamps = new QGroupBox(QStringLiteral("Signals"), this);
    lamps->setObjectName(QStringLiteral("SignalGroup"));
    lamps->setGeometry(420, 72, 200, 200);
    struct LampDef {
        TComLed** led;
        const char* name;
        TComLedSignal signal;
        const char* caption;
    };
    const LampDef defs[] = {
        {&ComLed1, "ComLed1", lsConn, "Open"},
        {&ComLed6, "ComLed6", lsTx, "Transmit Data"},
        {&ComLed5, "ComLed5", lsRx, "Receive Data"},
        {&ComLed2, "ComLed2", lsCTS, "Clear To Send"},
        {&ComLed3, "ComLed3", lsDSR, "Data Set Ready"},
        {&ComLed4, "ComLed4", lsRing, "Ring Indicator"},
    };
    int y = 22;
    for (const LampDef& d : defs) {
        auto* led = new TComLed(lamps);
        led->setObjectName(QLatin1String(d.name));
        led->setGeometry(12, y, 25, 25);
        led->SetKind(lkRedLight);
        led->SetLedSignal(d.signal);
        led->setAccessibleName(QLatin1String(d.caption));
        auto* label = new QLabel(QLatin1String(d.caption), lamps);
        label->setGeometry(44, y + 4, 150, 17);
        *d.led = led;
        y += 29;
    }
    for (TComLed* led : {ComLed1, ComLed6, ComLed5, ComLed2, ComLed3, ComLed4}) led->SetComPort(&port_);

    connect(watcher_, &TPortWatcher::PortsChanged, this,
            [this](const QList<TPortInfo>& ports) { ComComboBox1->Select().UpdatePorts(ports); });
    reconnector_ = new TPortReconnector(port_, this);
    reconnector_->SetRoots(watcher_->Roots());
    // Reopening waits for the running operation (it may be using this very
    // device through Program Pair or Find Module); OperationEnded looks again.
    reconnector_->Busy = [] { return TOperationRunner::Panel().Running(); };
    reconnector_->OnStateChange = [this](TPortReconnector::TState st, const QString& name) {
        ShowLineState(int(st), name);
    };
    connect(ReconnectCheckBox, &QCheckBox::toggled, this, [this](bool on) { reconnector_->SetEnabled(on); });
    connect(FindModuleButton, &QPushButton::clicked, this, [this] {
        try {
            FindModuleClick();
        } catch (const EComPort& e) {
            ReportPortError(this, e);
        }
    });

    // A port error ends in the error box, as an exception reaching the top would.
    connect(OpenComPort, &QPushButton::clicked, this, [this] {
        try {
            OpenComPortClick();
        } catch (const EComPort& e) {
            ReportPortError(this, e);
        }
    });
    connect(CloseComPort, &QPushButton::clicked, this, [this] {
        try {
            CloseComPortClick();
        } catch (const EComPort& e) {
            ReportPortError(this, e);
        }
    });
}

TPortChoices TComPortPage::Choices() const
{
    TPortChoices c;
    c.port = ComComboBox1->Text();
    c.baudItem = BaudRateGroup->ItemIndex();
    c.dataItem = DataLengthGroup->ItemIndex();
    c.parityItem = ParityGroup->ItemIndex();
    c.stopItem = StopBitGroup->ItemIndex();
    c.flowItem = FlowControlGroup->ItemIndex();
    return c;
}

int TComPortPage::FlowControlItem() const { return FlowControlGroup->ItemIndex(); }

QList<QWidget*> TComPortPage::SettingControls() const
{
    return {BaudRateGroup, DataLengthGroup, ParityGroup, StopBitGroup, FlowControlGroup, ComComboBox1};
}

void TComPortPage::OpenComPortClick()
{
    if (TOperationState::Busy()) return;  // an operation runs
    for (QWidget* g : {static_cast<QWidget*>(BaudRateGroup), static_cast<QWidget*>(DataLengthGroup),
                       static_cast<QWidget*>(ParityGroup), static_cast<QWidget*>(StopBitGroup),
                       static_cast<QWidget*>(FlowControlGroup)})
        g->setEnabled(false);
    reconnector_->Cancel();  // opened by hand: nothing is awaited any more
    port_.SetConnected(false);
    ComComboBox1->setEnabled(false);
    FindModuleButton->setEnabled(false);
    AllRatesCheckBox->setEnabled(false);
    controls_.EnableSettings(false);
    ApplyPortChoices(port_, Choices());
    port_.OpenPort();  // EComPort propagates: the groups stay locked until "Close Port"
    if (port_.Connected()) controls_.EnableOperations(true);
}

void TComPortPage::CloseComPortClick()
{
    // A running operation ends at its next wait, through its failure path,
    // without another byte; the port closes once it has ended.
    if (TOperationRunner::Panel().Running()) {
        TOperationState::RequestStop();
        closeWhenEnded_ = true;
        CloseComPort->setEnabled(false);
        return;
    }
    if (port_.Connected()) {
        // A line that hung up cannot be purged, and closing it is just what
        // the user needs then: the purge may fail, the close goes on.
        try {
            port_.PurgeBuffers(true, true);
        } catch (const EComPort&) {
        }
    }
    reconnector_->Cancel();
    port_.SetConnected(false);
    const bool on = window()->isEnabled();
    for (QWidget* g : {static_cast<QWidget*>(BaudRateGroup), static_cast<QWidget*>(DataLengthGroup),
                       static_cast<QWidget*>(ParityGroup), static_cast<QWidget*>(StopBitGroup),
                       static_cast<QWidget*>(FlowControlGroup)})
        g->setEnabled(on);
    ComComboBox1->setEnabled(true);
    FindModuleButton->setEnabled(true);
    AllRatesCheckBox->setEnabled(true);
    controls_.EnableOperations(false);
    controls_.EnableSettings(true);
}

void TComPortPage::FindModuleClick() { RunFindModule(*this, port_); }

void TComPortPage::OperationEnded()
{
    if (closeWhenEnded_) {
        closeWhenEnded_ = false;
        CloseComPort->setEnabled(true);
        try {
            CloseComPortClick();
        } catch (const EComPort& e) {
            ReportPortError(this, e);
        }
    }
    if (reconnector_->Waiting()) reconnector_->TryReopen();
}

void TComPortPage::ShowLineState(int state, const QString& name)
{
    switch (state) {
    case TPortReconnector::rsWaiting:
        LineStateLabel->setText(QStringLiteral("The line was lost. Waiting for %1 to come back ...").arg(name));
        break;
    case TPortReconnector::rsReopened:
        LineStateLabel->setText(QStringLiteral("Reconnected to %1.").arg(port_.Port()));
        // The chooser shows the port that is open now (another tty name, maybe).
        ComComboBox1->SetText(port_.Port());
        if (OnPortReopened) OnPortReopened();
        break;
    default: LineStateLabel->clear(); break;
    }
}
