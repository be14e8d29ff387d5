#include "serial/com_select.h"

#include "serial/com_port.h"
#include "serial/port_list.h"

namespace {

template <size_t N>
QStringList ToList(const char* const (&texts)[N])
{
    QStringList l;
    for (const char* t : texts) l << QLatin1String(t);
    return l;
}

const char* const kBaudTexts[] = {"Custom", "110",   "300",   "600",   "1200",   "2400",   "4800",   "9600",
                                  "14400",  "19200", "38400", "56000", "57600",  "115200", "128000", "256000"};
const char* const kDataBitsTexts[] = {"5", "6", "7", "8"};
const char* const kStopBitsTexts[] = {"1", "1.5", "2"};
const char* const kParityTexts[] = {"None", "Odd", "Even", "Mark", "Space"};
const char* const kFlowTexts[] = {"Hardware", "Software", "None", "Custom"};

QString UpperAscii(const QString& s)
{
    QString u = s;
    for (QChar& c : u)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 'a' + 'A');
    return u;
}

template <size_t N>
int Lookup(const char* const (&texts)[N], const QString& s, int fallback)
{
    const QString u = UpperAscii(s);
    for (size_t i = 0; i < N; ++i)
        if (UpperAscii(QLatin1String(texts[i])) == u) return static_cast<int>(i);
    return fallback;
}

template <size_t N>
QString At(const char* const (&texts)[N], int i)
{
    return (i >= 0 && static_cast<size_t>(i) < N) ? QLatin1String(texts[i]) : QString();
}

}  // namespace

QStringList BaudRateTexts() { return ToList(kBaudTexts); }
QStringList DataBitsTexts() { return ToList(kDataBitsTexts); }
QStringList StopBitsTexts() { return ToList(kStopBitsTexts); }
QStringList ParityTexts() { return ToList(kParityTexts); }
QStringList FlowControlTexts() { return ToList(kFlowTexts); }

QString BaudRateToStr(TBaudRate v) { return At(kBaudTexts, v); }
QString DataBitsToStr(TDataBits v) { return At(kDataBitsTexts, v); }
QString StopBitsToStr(TStopBits v) { return At(kStopBitsTexts, v); }
QString ParityToStr(TParityBits v) { return At(kParityTexts, v); }
QString FlowControlToStr(TFlowControl v) { return At(kFlowTexts, v); }

TBaudRate StrToBaudRate(const QString& s) { return TBaudRate(Lookup(kBaudTexts, s, br9600)); }
TDataBits StrToDataBits(const QString& s) { return TDataBits(Lookup(kDataBitsTexts, s, dbEight)); }
TStopBits StrToStopBits(const QString& s) { return TStopBits(Lookup(kStopBitsTexts, s, sbOneStopBit)); }
TParityBits StrToParity(const QString& s) { return TParityBits(Lookup(kParityTexts, s, prNone)); }
TFlowControl StrToFlowControl(const QString& s) { return TFlowControl(Lookup(kFlowTexts, s, fcCustom)); }

int IndexOfText(const QStringList& items, const QString& text)
{
    const QString u = UpperAscii(text);
    for (int i = 0; i < items.size(); ++i)
        if (UpperAscii(items[i]) == u) return i;
    return -1;
}

// ---------------------------------------------------------------- TComSelect

TComSelect::TComSelect(TComItemList& list) : PortLister(ListComPorts), list_(list) {}

TComSelect::~TComSelect() = default;

QStringList TComSelect::Fill() const
{
    switch (property_) {
    case cpPort: {
        QStringList ports;
        if (PortLister) PortLister(ports);
        for (const QString& extra : extraPorts_)
            if (IndexOfText(ports, extra) < 0) ports << extra;
        return ports;
    }
    case cpBaudRate: return BaudRateTexts();
    case cpDataBits: return DataBitsTexts();
    case cpStopBits: return StopBitsTexts();
    case cpParity: return ParityTexts();
    case cpFlowControl: return FlowControlTexts();
    case cpNone: break;
    }
    return {};
}

void TComSelect::SetComProperty(TComProperty v)
{
    property_ = v;
    // Listing may raise code 23; the list is left as it was then.
    const QStringList items = Fill();
    list_.SetItems(items);
    if (items.isEmpty()) return;
    if (!port_)
        list_.SetItemIndex(0);
    else
        SelectPortValue();
}

void TComSelect::SelectPortValue()
{
    if (!port_) return;
    QString value;
    switch (property_) {
    case cpPort: value = port_->Port(); break;
    case cpBaudRate: value = BaudRateToStr(port_->BaudRate()); break;
    case cpDataBits: value = DataBitsToStr(port_->DataBits()); break;
    case cpStopBits: value = StopBitsToStr(port_->StopBits()); break;
    case cpParity: value = ParityToStr(port_->Parity().Bits()); break;
    case cpFlowControl: value = FlowControlToStr(port_->FlowControl().FlowControl()); break;
    case cpNone: return;
    }
    const QStringList items = list_.Items();
    const int i = IndexOfText(items, value);
    list_.SetItemIndex(i);
    if (i >= 0) StorePending(items[i]);
}

void TComSelect::SetComPort(TCustomComPort* port)
{
    if (port == port_) return;
    port_ = port;
    if (port_) SelectPortValue();
}

void TComSelect::PortDestroyed()
{
    port_ = nullptr;
    if (!list_.Items().isEmpty()) list_.SetItemIndex(0);
}

QString TComSelect::Text() const
{
    const int i = list_.ItemIndex();
    const QStringList items = list_.Items();
    return (i >= 0 && i < items.size()) ? items[i] : QString();
}

void TComSelect::SetText(const QString& text)
{
    const int i = IndexOfText(list_.Items(), text);
    if (i >= 0) list_.SetItemIndex(i);
}

void TComSelect::StorePending(const QString& text)
{
    switch (property_) {
    case cpPort: pendingPort_ = text; break;
    case cpBaudRate: baudRate_ = StrToBaudRate(text); break;
    case cpDataBits: dataBits_ = StrToDataBits(text); break;
    case cpStopBits: stopBits_ = StrToStopBits(text); break;
    case cpParity: parity_ = StrToParity(text); break;
    case cpFlowControl: flowControl_ = StrToFlowControl(text); break;
    case cpNone: break;
    }
}

void TComSelect::Change()
{
    StorePending(Text());
    if (autoApply_ && port_) ApplySettings();
}

void TComSelect::ApplySettings()
{
    if (!port_) return;
    switch (property_) {
    case cpPort: port_->SetPort(pendingPort_); break;
    case cpBaudRate: port_->SetBaudRate(baudRate_); break;
    case cpDataBits: port_->SetDataBits(dataBits_); break;
    case cpStopBits: port_->SetStopBits(stopBits_); break;
    case cpParity: port_->Parity().SetBits(parity_); break;
    case cpFlowControl: port_->FlowControl().SetFlowControl(flowControl_); break;
    case cpNone: break;
    }
}

void TComSelect::RefreshPorts()
{
    if (property_ != cpPort) return;
    const QString current = Text();
    const QStringList items = Fill();
    list_.SetItems(items);
    if (items.isEmpty()) return;
    const int i = IndexOfText(items, current);
    list_.SetItemIndex(i >= 0 ? i : 0);
}

void TComSelect::AddExtraPort(const QString& name)
{
    if (name.isEmpty()) return;
    if (property_ != cpPort) {  // shown once the list holds ports
        if (IndexOfText(extraPorts_, name) < 0) extraPorts_ << name;
        return;
    }
    QStringList items = list_.Items();
    int i = IndexOfText(items, name);
    if (i < 0) {
        extraPorts_ << name;
        items << name;
        const int keep = list_.ItemIndex();
        list_.SetItems(items);
        if (keep >= 0) list_.SetItemIndex(keep);
        i = items.size() - 1;
    }
    list_.SetItemIndex(i);
}
