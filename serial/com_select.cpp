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

TComSelect::TComSelect(TComItemList& list) : PortLister([] { return ListPortInfos(); }), list_(list) {}

TComSelect::~TComSelect() = default;

QStringList TComSelect::Fill()
{
    switch (property_) {
    case cpPort: {
        QList<TPortInfo> ports = PortLister ? PortLister() : QList<TPortInfo>();
        QStringList paths;
        for (const TPortInfo& p : ports) paths << p.path;
        for (const QString& extra : extraPorts_) {
            if (IndexOfText(paths, extra) >= 0) continue;
            TPortInfo info;
            info.path = extra;
            ports << info;
            paths << extra;
        }
        infos_ = ports;
        return paths;
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

void TComSelect::ShowValues(const QStringList& values, const QStringList& display)
{
    values_ = values;
    list_.SetItems(display);
}

namespace {

QStringList DisplayTexts(const QList<TPortInfo>& infos)
{
    QStringList l;
    for (const TPortInfo& p : infos) l << p.DisplayText();
    return l;
}

}  // namespace

void TComSelect::SetComProperty(TComProperty v)
{
    property_ = v;
    infos_.clear();
    // Listing may raise code 23; the list is left as it was then.
    const QStringList items = Fill();
    ShowValues(items, property_ == cpPort ? DisplayTexts(infos_) : items);
    if (items.isEmpty()) return;
    if (!port_)
        list_.SetItemIndex(0);
    else
        SelectPortValue();
}

int TComSelect::IndexOfValue(const QString& text) const
{
    int i = IndexOfText(values_, text);
    if (i >= 0 || property_ != cpPort || text.isEmpty()) return i;
    // A stable name (by-id) or a kernel name stands for the listed path.
    for (int k = 0; k < infos_.size() && k < values_.size(); ++k)
        if (infos_[k].byId == text || (!infos_[k].name.isEmpty() && infos_[k].name == text)) return k;
    const QString resolved = ResolvePortPath(text);
    if (!resolved.isEmpty() && resolved != text) i = IndexOfText(values_, resolved);
    return i;
}

const TPortInfo* TComSelect::FindPort(const QString& pathOrById) const
{
    const int i = IndexOfValue(pathOrById);
    return (i >= 0 && i < infos_.size()) ? &infos_[i] : nullptr;
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
    const int i = property_ == cpPort ? IndexOfValue(value) : IndexOfText(values_, value);
    list_.SetItemIndex(i);
    if (i >= 0) StorePending(values_[i]);
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
    if (!values_.isEmpty()) list_.SetItemIndex(0);
}

QString TComSelect::Text() const
{
    const int i = list_.ItemIndex();
    return (i >= 0 && i < values_.size()) ? values_[i] : QString();
}

void TComSelect::SetText(const QString& text)
{
    const int i = IndexOfValue(text);
    if (i < 0) return;
    list_.SetItemIndex(i);
    if (property_ == cpPort) choice_ = values_[i];
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
    if (property_ == cpPort && !Text().isEmpty()) choice_ = Text();
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
    UpdatePorts(PortLister ? PortLister() : QList<TPortInfo>());
}

void TComSelect::UpdatePorts(const QList<TPortInfo>& machine)
{
    if (property_ != cpPort) return;
    const QString current = Text();
    const QStringList before = values_;

    QList<TPortInfo> infos = machine;
    QStringList paths;
    for (const TPortInfo& p : infos) paths << p.path;
    for (const QString& extra : extraPorts_) {
        if (IndexOfText(paths, extra) >= 0) continue;
        TPortInfo info;
        info.path = extra;
        infos << info;
        paths << extra;
    }
    const QList<TPortInfo> oldInfos = infos_;
    infos_ = infos;
    ShowValues(paths, DisplayTexts(infos_));
    if (paths.isEmpty()) return;

    // The choice, also when it came back under its stable name (a by-id name
    // shared by adapters without a serial number is no such name).
    int i = IndexOfText(paths, choice_);
    if (i < 0) {
        for (const TPortInfo& old : oldInfos)
            if (old.path == choice_ && old.ByIdUnique())
                for (int k = 0; k < infos_.size(); ++k)
                    if (infos_[k].byId == old.byId) i = k;
        if (i < 0)
            for (int k = 0; k < infos_.size(); ++k)
                if (!infos_[k].byId.isEmpty() && infos_[k].byId == lostById_) i = k;
    }
    if (i >= 0) {
        choice_ = paths[i];
        lostById_.clear();
    } else {
        // The choice is gone (or there was none): remember its stable name,
        // and take a newly plugged port when one appeared.
        for (const TPortInfo& old : oldInfos)
            if (old.path == choice_ && old.ByIdUnique()) lostById_ = old.byId;
        for (int k = 0; k < paths.size() && i < 0; ++k)
            if (IndexOfText(before, paths[k]) < 0) i = k;
        if (i >= 0)
            choice_ = paths[i];
        else if (choice_.isEmpty() && IndexOfText(paths, current) >= 0)
            i = IndexOfText(paths, current);  // nobody chose: the shown item stays
        else
            i = 0;  // shown, not chosen: a later plug may replace it
    }
    list_.SetItemIndex(i);
    StorePending(paths[i]);
}

void TComSelect::AddExtraPort(const QString& name)
{
    if (name.isEmpty()) return;
    if (property_ != cpPort) {  // shown once the list holds ports
        if (IndexOfText(extraPorts_, name) < 0) extraPorts_ << name;
        return;
    }
    int i = IndexOfValue(name);
    if (i < 0) {
        extraPorts_ << name;
        TPortInfo info;
        info.path = name;
        infos_ << info;
        QStringList values = values_;
        values << name;
        const int keep = list_.ItemIndex();
        ShowValues(values, DisplayTexts(infos_));
        if (keep >= 0) list_.SetItemIndex(keep);
        i = values.size() - 1;
    }
    list_.SetItemIndex(i);
    choice_ = values_[i];
}
