#include "terminal/ui/terminal_page.h"

#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QPushButton>

#include "common/ui/port_controls.h"
#include "serial/ui/com_led.h"
#include "serial/com_port.h"
#include "terminal/ui/com_terminal.h"
#include "terminal/lamp_strip_layout.h"

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
    for (size_t i = 0; i < std::size(defs); ++i) {
        const LampDef& d = defs[i];
        auto* led = new TComLed(this);
        led->setObjectName(QLatin1String(d.name));
        led->setGeometry(d.left, 0, 25, 25);
        led->SetKind(lkRedLight);
        led->SetLedSignal(d.signal);
        led->setAccessibleName(QLatin1String(d.caption));
        auto* label = new QLabel(QLatin1String(d.caption), this);
        led->SetComPort(&port_);
        *d.led = led;
        lamps_[i] = led;
        lampLabels_[i] = label;
        lampDesignLefts_[i] = d.left;
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
    ComTerminal->SetScrollBars(ssBoth);
    // Legible glyphs across the width; the rows that do not fit scroll.
    ComTerminal->FitFontToColumns(11);
    ComTerminal->SetSendLF(true);
    ComTerminal->SetWrapLines(true);
    ComTerminal->OnEnter = [this](TCustomComTerminal* s) { ComTerminalEnter(s); };
    ComTerminal->OnExit = [this](TCustomComTerminal* s) { ComTerminalExit(s); };
    ComTerminal->OnOutputChange = [this](TCustomComTerminal*) { ComTerminalOutputChange(); };
    OutputLabel = new QLabel(this);
    OutputLabel->setObjectName(QStringLiteral("OutputLabel"));
    OutputLabel->setAutoFillBackground(true);
    OutputLabel->hide();
    StopSendingButton = new QPushButton(QStringLiteral("Stop Sending"), this);
    StopSendingButton->setObjectName(QStringLiteral("StopSendingButton"));
    // Taking the focus would detach the terminal from the port.
    StopSendingButton->setFocusPolicy(Qt::NoFocus);
    StopSendingButton->hide();
    connect(StopSendingButton, &QPushButton::clicked, this, [this] { ComTerminal->StopSending(); });
    ComTerminal->setEnabled(false);
    controls.AddOperation(ComTerminal, TPortControlOrder::Terminal);
    built_ = true;
    LayOutLamps();
}

void TTerminalPage::LayOutLamps()
{
    constexpr int kLabelOffset = 24;
    std::vector<TLampStripItem> items;
    for (size_t i = 0; i < lamps_.size(); ++i) {
        lampLabels_[i]->adjustSize();
        items.push_back({lampDesignLefts_[i], lampLabels_[i]->width()});
    }
    TLampStripMetrics m;
    m.labelOffset = kLabelOffset;
    m.minLeft = CheckBox1->geometry().right() + 1 + 8;
    // The strip ends where the terminal below it ends.
    m.rightLimit = ComTerminal->geometry().right() + 1;
    const std::vector<int> lefts = LayoutLampStrip(items, m);
    for (size_t i = 0; i < lamps_.size(); ++i) {
        lamps_[i]->move(lefts[i], 0);
        lampLabels_[i]->move(lefts[i] + kLabelOffset, 6);
    }
}

void TTerminalPage::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    // Another font or style changes the labels' widths.
    if (built_ && (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange)) {
        CheckBox1->adjustSize();
        LayOutLamps();
    }
}

TTerminalPage::~TTerminalPage()
{
    // Focus changes during teardown must not reach the handlers.
    ComTerminal->OnEnter = nullptr;
    ComTerminal->OnExit = nullptr;
    ComTerminal->OnOutputChange = nullptr;
}

void TTerminalPage::ComTerminalEnter(TCustomComTerminal*) { ComTerminal->SetComPort(&port_); }

void TTerminalPage::ComTerminalExit(TCustomComTerminal*) { ComTerminal->SetComPort(nullptr); }

void TTerminalPage::ComTerminalOutputChange()
{
    const std::size_t waiting = ComTerminal->OutputWaiting();
    if (waiting == 0) {
        OutputLabel->hide();
        StopSendingButton->hide();
        return;
    }
    OutputLabel->setText(ComTerminal->OutputHeld()
                             ? QStringLiteral(" Line held by flow control: %1 bytes waiting ").arg(waiting)
                             : QStringLiteral(" Sending what was pasted "));
    OutputLabel->adjustSize();
    StopSendingButton->adjustSize();
    // The terminal's top right corner, clear of its scroll bar.
    const QRect t = ComTerminal->geometry();
    const int right = t.right() - 24;
    StopSendingButton->move(right - StopSendingButton->width(), t.top() + 4);
    OutputLabel->move(StopSendingButton->x() - OutputLabel->width() - 4,
                      t.top() + 4 + (StopSendingButton->height() - OutputLabel->height()) / 2);
    OutputLabel->show();
    StopSendingButton->show();
    OutputLabel->raise();
    StopSendingButton->raise();
}

void TTerminalPage::CheckBox1Click() { ComTerminal->SetLocalEcho(CheckBox1->isChecked()); }
