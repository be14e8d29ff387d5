#include "terminal/terminal_page.h"

#include <QCheckBox>
#include <QLabel>

#include "common/port_controls.h"
#include "serial/com_led.h"
#include "serial/com_port.h"
#include "terminal/com_terminal.h"

TTerminalPage::TTerminalPage(TCustomComPort& port, TPortControls& controls, QWidget* parent)
    : QWidget(parent), port_(port)
{
    CheckBox1 = new QCheckBox(QStringLiteral("Local Echo"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->move(8, 6);
    CheckBox1->adjustSize();
    CheckBox1->setFocusPolicy(Qt::ClickFocus);  // not a tab stop
    connect(CheckBox1, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });
    controls.AddSetting(CheckBox1);

    struct LampDef {
        TComLed** led;
        const char* name;
        TComLedSignal signal;
        int left;
        const char* caption;
    };
    const LampDef defs[] = {
        {&ComLed11, "ComLed11", lsConn, 136, "Open"},
        {&ComLed7, "ComLed7", lsTx, 208, "Transmit Data"},
        {&ComLed9, "ComLed9", lsRx, 320, "Receive Data"},
        {&ComLed10, "ComLed10", lsCTS, 432, "Clear To Send"},
        {&ComLed8, "ComLed8", lsDSR, 544, "Data Set Ready"},
    };
    for (const LampDef& d : defs) {
        auto* led = new TComLed(this);
        led->setObjectName(QLatin1String(d.name));
        led->setGeometry(d.left, 0, 25, 25);
        led->SetKind(lkRedLight);
        led->SetLedSignal(d.signal);
        led->setAccessibleName(QLatin1String(d.caption));
        auto* label = new QLabel(QLatin1String(d.caption), this);
        label->move(d.left + 24, 6);
        label->adjustSize();
        led->SetComPort(&port_);
        *d.led = led;
    }

    ComTerminal = new TComTerminal(this);
    ComTerminal->setObjectName(QStringLiteral("ComTerminal"));
    ComTerminal->setAccessibleName(QStringLiteral("Terminal"));
    ComTerminal->setGeometry(0, 32, 649, 329);
    ComTerminal->SetColor(Qt::black);
    ComTerminal->SetEmulation(teVT100orANSI);
    QFont font = DefaultTerminalFont();
    font.setPointSize(9);
    ComTerminal->SetFont(font);
    ComTerminal->SetFontColor(Qt::white);
    ComTerminal->SetOemCharSet(true);
    ComTerminal->SetRows(27);
    ComTerminal->FitFontToScreen();
    ComTerminal->SetScrollBars(ssBoth);
    ComTerminal->SetSendLF(true);
    ComTerminal->SetWrapLines(true);
    ComTerminal->OnEnter = [this](TCustomComTerminal* s) { ComTerminalEnter(s); };
    ComTerminal->OnExit = [this](TCustomComTerminal* s) { ComTerminalExit(s); };
    ComTerminal->setEnabled(false);
    controls.AddOperation(ComTerminal, TPortControlOrder::Terminal);
}

TTerminalPage::~TTerminalPage()
{
    // Focus changes during teardown must not reach the handlers.
    ComTerminal->OnEnter = nullptr;
    ComTerminal->OnExit = nullptr;
}

void TTerminalPage::ComTerminalEnter(TCustomComTerminal*) { ComTerminal->SetComPort(&port_); }

void TTerminalPage::ComTerminalExit(TCustomComTerminal*) { ComTerminal->SetComPort(nullptr); }

void TTerminalPage::CheckBox1Click() { ComTerminal->SetLocalEcho(CheckBox1->isChecked()); }
