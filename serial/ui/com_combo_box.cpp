#include "serial/ui/com_combo_box.h"

#include "serial/com_port.h"

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent), select_(*this)
{
    setEditable(false);  // a drop-down list: only listed values can be chosen
    // activated: the user's choice only, not selections made by the program.
    connect(this, &QComboBox::activated, this, [this](int) { UserChoice(); });
}

TComComboBox::~TComComboBox() = default;

void TComComboBox::SetComPort(TCustomComPort* port)
{
    if (port == select_.ComPort()) return;
    disconnect(portConn_);
    select_.SetComPort(port);
    if (port)
        portConn_ = connect(port, &QObject::destroyed, this, [this] {
            disconnect(portConn_);
            select_.PortDestroyed();
        });
}

void TComComboBox::SetComProperty(TComProperty v) { select_.SetComProperty(v); }

void TComComboBox::UserChoice()
{
    select_.Change();
    if (OnChange) OnChange(this);
    emit Changed();
}

QStringList TComComboBox::Items() const
{
    QStringList l;
    l.reserve(count());
    for (int i = 0; i < count(); ++i) l << itemText(i);
    return l;
}

void TComComboBox::SetItems(const QStringList& items)
{
    const QSignalBlocker block(this);
    clear();
    addItems(items);
    setCurrentIndex(-1);
}

int TComComboBox::ItemIndex() const { return currentIndex(); }

void TComComboBox::SetItemIndex(int index) { setCurrentIndex(index); }
