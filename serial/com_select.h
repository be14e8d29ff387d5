#pragma once
// TComSelect: fills a chooser's item list with the values of one port
// setting and maps the chosen text to the setting. No widgets: the list it
// fills is reached through TComItemList, which the combo box implements.
#include <QString>
#include <QStringList>
#include <functional>

#include "serial/com_types.h"
#include "serial/port_list.h"

class TCustomComPort;

enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// Text tables, in the order of their enumerations.
QStringList BaudRateTexts();
QStringList DataBitsTexts();
QStringList StopBitsTexts();
QStringList ParityTexts();
QStringList FlowControlTexts();

QString BaudRateToStr(TBaudRate v);
QString DataBitsToStr(TDataBits v);
QString StopBitsToStr(TStopBits v);
QString ParityToStr(TParityBits v);
QString FlowControlToStr(TFlowControl v);

// First entry equal when both are upper-cased (ASCII), else the fallback:
// br9600, dbEight, sbOneStopBit, prNone, fcCustom.
TBaudRate StrToBaudRate(const QString& s);
TDataBits StrToDataBits(const QString& s);
TStopBits StrToStopBits(const QString& s);
TParityBits StrToParity(const QString& s);
TFlowControl StrToFlowControl(const QString& s);

// Index of the first item equal to text without regard to ASCII case, or -1.
int IndexOfText(const QStringList& items, const QString& text);

// The list a TComSelect fills and selects in.
class TComItemList {
public:
    virtual ~TComItemList() = default;
    virtual QStringList Items() const = 0;
    virtual void SetItems(const QStringList& items) = 0;
    virtual int ItemIndex() const = 0;
    virtual void SetItemIndex(int index) = 0;  // -1: no item
};

class TComSelect {
public:
    explicit TComSelect(TComItemList& list);
    ~TComSelect();
    TComSelect(const TComSelect&) = delete;
    TComSelect& operator=(const TComSelect&) = delete;

    TCustomComPort* ComPort() const { return port_; }
    void SetComPort(TCustomComPort* port);  // selects the port's current value
    // Called when the attached port is destroyed: forget it, select the first item.
    void PortDestroyed();
    TComProperty ComProperty() const { return property_; }
    void SetComProperty(TComProperty v);  // refills the list
    bool AutoApply() const { return autoApply_; }
    void SetAutoApply(bool v) { autoApply_ = v; }

    // The selected item's text, or "" when none is selected.
    QString Text() const;
    // Selects the item equal to text (ignoring case); unknown text: no change.
    void SetText(const QString& text);

    // The user chose an item: store the pending value, apply it when
    // AutoApply and a port is attached.
    void Change();
    // Writes the pending value of the current kind to the port.
    void ApplySettings();

    // The machine's ports for the list; tests replace it. Default: ListPortInfos.
    std::function<QList<TPortInfo>()> PortLister;

    // Pending values.
    QString PendingPort() const { return pendingPort_; }
    TBaudRate PendingBaudRate() const { return baudRate_; }
    TDataBits PendingDataBits() const { return dataBits_; }
    TStopBits PendingStopBits() const { return stopBits_; }
    TParityBits PendingParity() const { return parity_; }
    TFlowControl PendingFlowControl() const { return flowControl_; }

    // Re-reads the machine's ports (cpPort only) and shows them with
    // UpdatePorts.
    void RefreshPorts();
    // Shows this list of the machine's ports (cpPort only), the extra entries
    // at the end. The choice stays selected while it is listed (a lost
    // choice is selected again when it comes back); otherwise a newly
    // listed port is selected, else the first item.
    void UpdatePorts(const QList<TPortInfo>& machine);
    // What the list shows now (machine ports, then the extra paths).
    const QList<TPortInfo>& PortInfos() const { return infos_; }
    // The listed port of a path or by-id name, or nullptr.
    const TPortInfo* FindPort(const QString& pathOrById) const;
    // Adds a port path that the kernel list does not show (a simulator's pty,
    // a --port option) unless listed, and selects it.
    void AddExtraPort(const QString& name);

private:
    QStringList Fill();
    int IndexOfValue(const QString& text) const;
    void ShowValues(const QStringList& values, const QStringList& display);
    void SelectPortValue();
    void StorePending(const QString& text);

    TComItemList& list_;
    TCustomComPort* port_ = nullptr;
    TComProperty property_ = cpNone;
    bool autoApply_ = false;
    QStringList extraPorts_;
    QList<TPortInfo> infos_;   // cpPort: what each item stands for
    QStringList values_;       // each item's value (for ports the path, not the shown text)
    QString choice_;           // the port chosen last (by the user or the program)
    QString lostById_;         // stable name of a choice that went away
    QString pendingPort_;
    TBaudRate baudRate_ = br9600;
    TDataBits dataBits_ = dbEight;
    TStopBits stopBits_ = sbOneStopBit;
    TParityBits parity_ = prNone;
    TFlowControl flowControl_ = fcNone;
};
