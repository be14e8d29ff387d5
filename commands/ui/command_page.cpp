#include "commands/ui/command_page.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <algorithm>
#include <memory>

#include "commands/command_catalogue.h"
#include "commands/command_exchange.h"
#include "settings/ui/hex_fields.h"
#include "common/ui/dialogs.h"
#include "common/ui/port_controls.h"
#include "module/ui/communication_error.h"
#include "module/ui/operation_guard.h"
#include "module/ui/panel_observer.h"
#include "module/session.h"
#include "module/ui/status_form.h"
#include "serial/com_port.h"

namespace {

const char* const kTag = "Tag";

int Tag(const QObject* o) { return o ? o->property(kTag).toInt() : 0; }
void SetTag(QObject* o, int n) { o->setProperty(kTag, n); }

int RowTop(int n) { return 24 * n + 10; }

constexpr int kEditHeight = 21;

QComboBox* ListCombo(QWidget* parent, const QStringList& items, int selected)
{
    auto* c = new QComboBox(parent);
    c->setEditable(false);
    c->addItems(items);
    c->setCurrentIndex(selected);
    return c;
}

// A check box without caption, just wide enough for its box to show.
QCheckBox* BoxOnly(QWidget* parent, int left, int top)
{
    auto* box = new QCheckBox(parent);
    const int w = std::max(10, box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box));
    const int h = std::max(10, box->style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, box));
    box->setGeometry(left, top, w, h);
    return box;
}

}  // namespace

TCommandPage::TCommandPage(TModuleSession& session, TPortControls& controls, QWidget* parent)
    : QWidget(parent),
      session_(session),
      controls_(controls)
{
    setObjectName(QStringLiteral("CommandSheet"));

    CommandBox = new QGroupBox(QStringLiteral("Command Builder (Command Mode)"), this);
    CommandBox->setObjectName(QStringLiteral("CommandBox"));
    CommandBox->setGeometry(8, 8, 633, 249);

    CommandBuildTerminal = new QPlainTextEdit(this);
    CommandBuildTerminal->setObjectName(QStringLiteral("CommandBuildTerminal"));
    CommandBuildTerminal->setAccessibleName(QStringLiteral("Command log"));
    CommandBuildTerminal->setGeometry(8, 264, 505, 100);
    CommandBuildTerminal->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    CommandBuildTerminal->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont logFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    logFont.setPointSize(8);
    CommandBuildTerminal->setFont(logFont);

    SendAllButton = new QPushButton(QStringLiteral("Send All"), this);
    SendAllButton->setObjectName(QStringLiteral("SendAllButton"));
    SendAllButton->setGeometry(525, 264, 110, 25);
    SendAllButton->setEnabled(false);
    SetTag(SendAllButton, 0);

    ClearLogButton = new QPushButton(QStringLiteral("Clear Log"), this);
    ClearLogButton->setObjectName(QStringLiteral("ClearLogButton"));
    ClearLogButton->setGeometry(525, 301, 110, 25);

    ClearCommandsButton = new QPushButton(QStringLiteral("Clear Commands"), this);
    ClearCommandsButton->setObjectName(QStringLiteral("ClearCommandsButton"));
    ClearCommandsButton->setGeometry(525, 338, 110, 25);

    connect(SendAllButton, &QPushButton::clicked, this, [this] { SendAllClick(); });
    connect(ClearLogButton, &QPushButton::clicked, this, [this] { ClearLogButtonClick(); });
    connect(ClearCommandsButton, &QPushButton::clicked, this, [this] { ClearCommandsButtonClick(); });

    controls_.AddOperation(SendAllButton, TPortControlOrder::SendAll);
}

// ------------------------------------------------------------------ rows

void TCommandPage::CreateCommandRows()
{
    for (int n = 1; n <= kRows; ++n) {
        TRow& r = rows_[size_t(n)];
        if (r.combo) continue;  // built once

        r.label = new QLabel(QStringLiteral("  %1.").arg(n), CommandBox);
        r.label->setObjectName(QStringLiteral("RowLabel%1").arg(n));
        r.label->move(3, 24 * n + 7);
        r.label->show();

        r.combo = new QComboBox(this);
        r.combo->setObjectName(QStringLiteral("CommandCombo%1").arg(n));
        r.combo->setAccessibleName(QStringLiteral("Command %1").arg(n));
        r.combo->setEditable(false);
        r.combo->addItems(CommandItems());
        r.combo->setCurrentIndex(-1);
        r.combo->setGeometry(30, RowTop(n), 120, kEditHeight);
        r.combo->setToolTip(QStringLiteral("Command"));
        SetTag(r.combo, n);
        connect(r.combo, &QComboBox::currentIndexChanged, this, [this, c = r.combo] { ComboBoxChange(c); });
        r.combo->show();

        r.button = new QPushButton(QStringLiteral("Send Command"), this);
        r.button->setObjectName(QStringLiteral("SendCommandButton%1").arg(n));
        r.button->setAccessibleName(QStringLiteral("Send Command %1").arg(n));
        r.button->setGeometry(525, RowTop(n), 99, 21);
        r.button->setEnabled(false);
        SetTag(r.button, n);
        connect(r.button, &QPushButton::clicked, this, [this, b = r.button] { SendCommandClick(b); });
        r.button->show();
        controls_.AddOperation(r.button, TPortControlOrder::RowButtons);
    }
}

TCommandPage::TRow& TCommandPage::Row(int n) { return rows_[size_t(n)]; }

const TCommandPage::TRow* TCommandPage::RowOrNull(int n) const
{
    if (n < 1 || n > kRows || !rows_[size_t(n)].combo) return nullptr;
    return &rows_[size_t(n)];
}

QLabel* TCommandPage::RowLabel(int n) const
{
    const TRow* r = RowOrNull(n);
    return r ? r->label : nullptr;
}

QComboBox* TCommandPage::CommandCombo(int n) const
{
    const TRow* r = RowOrNull(n);
    return r ? r->combo : nullptr;
}

QPushButton* TCommandPage::SendButton(int n) const
{
    const TRow* r = RowOrNull(n);
    return r ? r->button : nullptr;
}

int TCommandPage::ParamCount(int n) const
{
    const TRow* r = RowOrNull(n);
    return r ? r->count : 0;
}

QWidget* TCommandPage::ParamControl(int n, int position) const
{
    const TRow* r = RowOrNull(n);
    if (!r || position < 1 || position > r->count) return nullptr;
    return r->params[size_t(position - 1)].data();
}

TCommandRowValues TCommandPage::RowValues(int n) const
{
    TCommandRowValues v;
    const TRow* r = RowOrNull(n);
    if (!r) return v;
    v.command = r->combo->currentIndex();
    for (int i = 0; i < r->count; ++i) {
        TCommandParam p;
        QWidget* w = r->params[size_t(i)].data();
        if (auto* e = qobject_cast<QLineEdit*>(w)) p.text = e->text();
        else if (auto* c = qobject_cast<QComboBox*>(w)) p.item = c->currentIndex();
        else if (auto* b = qobject_cast<QCheckBox*>(w)) p.checked = b->isChecked();
        v.params.push_back(p);
    }
    return v;
}

void TCommandPage::SetRowValues(int n, const TCommandRowValues& v)
{
    if (n < 1 || n > kRows || !Row(n).combo) return;
    TRow& r = Row(n);
    {
        const QSignalBlocker block(r.combo);
        r.combo->setCurrentIndex(v.command < cmd::Count ? v.command : -1);
    }
    FreeParams(n);
    CreateParams(n, r.combo->currentIndex());
    for (int i = 0; i < r.count && size_t(i) < v.params.size(); ++i) {
        QWidget* w = r.params[size_t(i)].data();
        const TCommandParam& p = v.params[size_t(i)];
        if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(p.text);
        else if (auto* c = qobject_cast<QComboBox*>(w)) {
            if (p.item >= 0) c->setCurrentIndex(p.item);
        } else if (auto* b = qobject_cast<QCheckBox*>(w))
            b->setChecked(p.checked);
    }
}

void TCommandPage::ComboBoxChange(QObject* Sender)
{
    auto* combo = qobject_cast<QComboBox*>(Sender);
    if (!combo) return;
    const int n = Tag(combo);
    if (n < 1 || n > kRows || Row(n).combo != combo) return;
    FreeParams(n);
    CreateParams(n, combo->currentIndex());
}

void TCommandPage::FreeParams(int n)
{
    TRow& r = Row(n);
    // Last created first.
    while (r.count > 0) {
        QPointer<QWidget>& slot = r.params[size_t(r.count - 1)];
        if (QWidget* w = slot.data()) {
            // A field that goes away is not "left": no exit rule may run on it.
            DetachFieldHandlers(w);
            delete w;
        }
        slot = nullptr;
        --r.count;
    }
}

void TCommandPage::AddParam(int n, QWidget* w, const QString& hint, bool tagged)
{
    TRow& r = Row(n);
    if (r.count >= kMaxParams) {
        delete w;
        return;
    }
    if (tagged) {
        SetTag(w, n);
        w->setToolTip(hint);
    }
    r.params[size_t(r.count)] = w;
    ++r.count;
    w->setObjectName(QStringLiteral("Row%1Param%2").arg(n).arg(r.count));
    if (!hint.isEmpty()) w->setAccessibleName(hint);
    w->show();
}

QLineEdit* TCommandPage::AddEdit(int n, int left, int width, int maxLength, const QString& text,
                                 const QString& hint)
{
    auto* e = new QLineEdit(this);
    e->setMaxLength(maxLength);
    e->setText(text);
    e->setGeometry(left, RowTop(n), width, kEditHeight);
    AddParam(n, e, hint);
    return e;
}

void TCommandPage::CreateParams(int n, int command)
{
    const int top = RowTop(n);
    switch (command) {
    case cmd::Connect:
        AttachHexField(AddEdit(n, 160, 40, 4, QStringLiteral("0000"), QStringLiteral("Tarnwick unit address (Hex)")));
        break;
    case cmd::ReadStatus:
    case cmd::ReadNotStatus: {
        QCheckBox* box = BoxOnly(this, 160, top + 2);
        AddParam(n, box,
                 command == cmd::ReadStatus ? QStringLiteral("Repeat until 0x6B or timeout")
                                            : QStringLiteral("Repeat until 0x62 or timeout"));
        break;
    }
    case cmd::WriteRegisters:
    case cmd::WriteFlash:
    case cmd::SendSerialData: {
        QLineEdit* addr = AddEdit(n, 160, 25, 1, QStringLiteral("0"), QStringLiteral("Address (Hex)"));
        AttachHexField(addr);
        // "Send Serial Data" has no address, but the length stays the second control.
        if (command == cmd::SendSerialData) addr->setVisible(false);
        QLineEdit* len = AddEdit(n, 195, 25, 2, QStringLiteral("00"), QStringLiteral("Length (Hex)"));
        len->setReadOnly(true);
        QLineEdit* data = AddEdit(n, 230, 280, command == cmd::WriteRegisters ? 16 : 64, QStringLiteral("00"),
                                  QStringLiteral("Data (Hex)"));
        AttachHexDataField(data, [this](QLineEdit* d) { return qobject_cast<QLineEdit*>(ParamControl(Tag(d), 2)); });
        break;
    }
    case cmd::ReadRegisters:
    case cmd::ReadFlash:
        AttachHexField(AddEdit(n, 160, 25, 1, QStringLiteral("0"), QStringLiteral("Address (Hex)")));
        AttachHexField(AddEdit(n, 195, 25, 2, QStringLiteral("00"), QStringLiteral("Length (Hex)")));
        break;
    case cmd::Nop:
        AttachHexField(
            AddEdit(n, 160, 20, 2, QStringLiteral("00"), QStringLiteral("Number of times to send NOP (Hex)")));
        break;
    case cmd::SetRFChannel: {
        QComboBox* c = ListCombo(this, RFChannelItems(), 0);
        c->setGeometry(160, top, 90, kEditHeight);
        AddParam(n, c, QStringLiteral("Select RF channel"));
        break;
    }
    case cmd::SetRFDataRate: {
        QComboBox* c = ListCombo(this, RFDataRateItems(), 0);
        c->setGeometry(160, top, 90, kEditHeight);
        AddParam(n, c, QStringLiteral("Select RF data rate"));
        break;
    }
    case cmd::SetUART: {
        QComboBox* baud = ListCombo(this, UartBaudItems(), 1);
        baud->setGeometry(160, top, 90, kEditHeight);
        AddParam(n, baud, QStringLiteral("Select UART baud rate"));
        QComboBox* format = ListCombo(this, UartFormatItems(), 0);
        format->setGeometry(260, top, 90, kEditHeight);
        AddParam(n, format, QStringLiteral("Select number of data bits, parity, and stop bits"));
        QComboBox* flow = ListCombo(this, UartFlowItems(), 0);
        flow->setGeometry(360, top, 90, kEditHeight);
        AddParam(n, flow, QStringLiteral("Select flow control"));
        break;
    }
    case cmd::SelectADChannel: {
        QComboBox* c = ListCombo(this, ADChannelItems(), 0);
        c->setGeometry(160, top, 90, kEditHeight);
        AddParam(n, c, QStringLiteral("Select A/D channel"));
        break;
    }
    case cmd::SetPortDirection:
    case cmd::SetPortPins: {
        const bool direction = command == cmd::SetPortDirection;
        for (int pin = 1; pin <= 16; ++pin) {
            QCheckBox* box = BoxOnly(this, 520 - 20 * pin, top + 2);
            AddParam(n, box,
                     QStringLiteral("Header pin %1%2").arg(pin).arg(direction ? QStringLiteral(" output")
                                                                               : QStringLiteral(" high")));
        }
        auto* label = new QLabel(direction ? QStringLiteral("Output") : QStringLiteral("High"), CommandBox);
        label->setGeometry(152, 24 * n + 6, 40, 16);
        AddParam(n, label, QString(), false);
        break;
    }
    default:
        break;  // no parameters
    }
}

// ------------------------------------------------------------------ log

void TCommandPage::AddLogLine(const QString& line) { CommandBuildTerminal->appendPlainText(line); }

QStringList TCommandPage::LogLines() const
{
    const QString all = CommandBuildTerminal->toPlainText();
    return all.isEmpty() ? QStringList() : all.split(QLatin1Char('\n'));
}

void TCommandPage::ClearLogButtonClick() { CommandBuildTerminal->clear(); }

void TCommandPage::ClearCommandsButtonClick()
{
    const int answer = Dialogs().MessageBox(this, QStringLiteral("Are you sure?"), QStringLiteral("Clear Commands"),
                                            mb::YesNo | mb::IconExclamation);
    if (answer != mb::IdYes) return;
    for (int n = 1; n <= kRows; ++n) {
        TRow& r = Row(n);
        if (!r.combo) continue;
        {
            // Set from the program: no rebuild by the change handler.
            const QSignalBlocker block(r.combo);
            r.combo->setCurrentIndex(0);
        }
        FreeParams(n);
    }
}

// ------------------------------------------------------------------ sending

std::vector<TCommandRow> TCommandPage::Rows() const
{
    std::vector<TCommandRow> rows;
    for (int n = 1; n <= kRows; ++n) {
        TCommandRow r;
        r.row = n;
        const QComboBox* combo = CommandCombo(n);
        r.command = combo ? combo->currentIndex() : -1;
        if (r.command > 0) r.values = RowValues(n);
        rows.push_back(r);
    }
    return rows;
}

void TCommandPage::SendCommandClick(QObject* Sender)
{
    auto* button = qobject_cast<QPushButton*>(Sender);
    if (!button) return;
    const int n = Tag(button);
    if (n < 1 || n > kRows) return;
    SetAbortRequested(false);
    const TCommandRow row = Rows()[size_t(n - 1)];
    StartSend(button, QStringLiteral("Send Command"), [this, row](TModuleSession& session, TOperationObserver& observer,
                                                                 TLogLine& line) {
        return SendCommandRun(session, observer, row, line, kResponsiveSliceMs);
    });
}

void TCommandPage::SendAllClick()
{
    SetAbortRequested(false);
    const std::vector<TCommandRow> rows = Rows();
    StartSend(SendAllButton, QStringLiteral("Send All"),
              [rows](TModuleSession& session, TOperationObserver& observer, TLogLine& line) {
                  return SendAllRun(session, observer, rows, line, kResponsiveSliceMs);
              });
}

void TCommandPage::StartSend(QPushButton* button, const QString& name, TSendJob send)
{
    QPointer<TCommandPage> page(this);
    QPointer<QPushButton> focus(button);
    TModuleSession& session = session_;
    auto result = std::make_shared<TCommandRunResult>();
    StartPanelRun(
        {this, name, QStringLiteral("Send Command"), QStringLiteral("Sending command")},
        [&session, page, send, result](TStopFlag& stop) {
            TPanelLineHold hold(session, stop);
            TPanelObserver observer(stop, page, QStringLiteral("Send Command"), true);
            // The log lines go to the page in the order they were made.
            TLogLine line([page](const QString& text) {
                TOperationRunner::Post(page, [page, text] { page->AddLogLine(text); });
            });
            *result = send(session, observer, line);
        },
        [result, page, focus] {
            if (page && result->noModule) ShowCommunicationError(page);
            if (focus) focus->setFocus();
        });
}
