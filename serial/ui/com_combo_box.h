#pragma once
// TComComboBox: a drop-down list of the values of one port setting
// (ComProperty), filled and mapped by its TComSelect.
#include <QComboBox>
#include <functional>

#include "serial/com_select.h"

class TCustomComPort;

class TComComboBox : public QComboBox, private TComItemList {
    Q_OBJECT
public:
    explicit TComComboBox(QWidget* parent = nullptr);
    ~TComComboBox() override;

    TCustomComPort* ComPort() const { return select_.ComPort(); }
    void SetComPort(TCustomComPort* port);
    TComProperty ComProperty() const { return select_.ComProperty(); }
    void SetComProperty(TComProperty v);
    bool AutoApply() const { return select_.AutoApply(); }
    void SetAutoApply(bool v) { select_.SetAutoApply(v); }
    // The selected item's text, "" when none is selected.
    QString Text() const { return select_.Text(); }
    // Selects the item equal to text ignoring case; unknown text changes nothing.
    void SetText(const QString& text) { select_.SetText(text); }
    void ApplySettings() { select_.ApplySettings(); }

    // Re-reads the machine's serial ports (cpPort), keeping extra entries.
    void RefreshPorts() { select_.RefreshPorts(); }
    // Adds a port path the kernel list does not show and selects it.
    void AddExtraPort(const QString& path) { select_.AddExtraPort(path); }

    TComSelect& Select() { return select_; }

    // Raised after a choice by the user has been stored (and applied).
    std::function<void(TComComboBox*)> OnChange;

signals:
    void Changed();

private:
    QStringList Items() const override;
    void SetItems(const QStringList& items) override;
    int ItemIndex() const override;
    void SetItemIndex(int index) override;
    void UserChoice();

    TComSelect select_;
    QMetaObject::Connection portConn_;
};
