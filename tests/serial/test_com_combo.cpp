// The setting chooser: text tables, filling per ComProperty, showing an
// attached port's value, the user's choice with AutoApply, the port list.
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "serial/ui/com_combo_box.h"
#include "serial/com_port.h"
#include "serial/com_select.h"

namespace {

QStringList S(std::initializer_list<const char*> l)
{
    QStringList r;
    for (const char* s : l) r << QLatin1String(s);
    return r;
}

QStringList Items(const QComboBox& c)
{
    QStringList l;
    for (int i = 0; i < c.count(); ++i) l << c.itemText(i);
    return l;
}

// Ports that show as their bare names (no description).
QList<TPortInfo> Named(const QStringList& names)
{
    QList<TPortInfo> l;
    for (const QString& n : names) {
        TPortInfo p;
        p.path = n;
        l << p;
    }
    return l;
}

// A chooser whose port list is the given names.
std::unique_ptr<TComComboBox> PortChooser(const QStringList& ports)
{
    auto c = std::make_unique<TComComboBox>();
    c->Select().PortLister = [ports] { return Named(ports); };
    c->SetComProperty(cpPort);
    return c;
}

}  // namespace

class TestComCombo : public QObject {
    Q_OBJECT
private slots:
    void textTablesAndFallbacks();
    void fillsPerComProperty_data();
    void fillsPerComProperty();
    void portListStartsAtFirstItem();
    void emptyPortListReadsEmptyText();
    void textWriteIgnoresCaseAndUnknownText();
    void attachedPortValueIsShown();
    void customFlowShowsCustom();
    void userChoiceStoresAndAutoApplies();
    void destroyedPortIsForgotten();
    void extraPortsAreAddedSelectedAndKept();
};

void TestComCombo::textTablesAndFallbacks()
{
    QCOMPARE(StrToStopBits(QStringLiteral("1.5")), sbOne5StopBits);
    QCOMPARE(StrToParity(QStringLiteral("mark")), prMark);
    QCOMPARE(StrToParity(QStringLiteral("SPACE")), prSpace);
    QCOMPARE(StrToBaudRate(QStringLiteral("31250")), br9600);
    QCOMPARE(StrToBaudRate(QStringLiteral("custom")), brCustom);
    QCOMPARE(StrToBaudRate(QStringLiteral("256000")), br256000);
    QCOMPARE(StrToDataBits(QStringLiteral("9")), dbEight);
    QCOMPARE(StrToDataBits(QStringLiteral("5")), dbFive);
    QCOMPARE(StrToStopBits(QStringLiteral("3")), sbOneStopBit);
    QCOMPARE(StrToParity(QString()), prNone);
    QCOMPARE(StrToFlowControl(QStringLiteral("rts")), fcCustom);
    QCOMPARE(StrToFlowControl(QStringLiteral("software")), fcSoftware);
}

void TestComCombo::fillsPerComProperty_data()
{
    QTest::addColumn<int>("property");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("none") << int(cpNone) << QStringList();
    QTest::newRow("baud") << int(cpBaudRate)
                          << S({"Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400",
                                "56000", "57600", "115200", "128000", "256000"});
    QTest::newRow("data bits") << int(cpDataBits) << S({"5", "6", "7", "8"});
    QTest::newRow("stop bits") << int(cpStopBits) << S({"1", "1.5", "2"});
    QTest::newRow("parity") << int(cpParity) << S({"None", "Odd", "Even", "Mark", "Space"});
    QTest::newRow("flow") << int(cpFlowControl) << S({"Hardware", "Software", "None", "Custom"});
    QTest::newRow("port") << int(cpPort) << S({"COM1", "COM10", "COM3"});
}

void TestComCombo::fillsPerComProperty()
{
    QFETCH(int, property);
    QFETCH(QStringList, texts);
    TComComboBox c;
    QVERIFY(!c.isEditable());
    c.Select().PortLister = [] {
        QStringList t = S({"COM3", "COM1", "COM10"});
        std::sort(t.begin(), t.end());  // the lister hands a sorted list
        return Named(t);
    };
    c.SetComProperty(TComProperty(property));
    QCOMPARE(c.ComProperty(), TComProperty(property));
    QCOMPARE(Items(c), texts);
    // Without a port the first item is selected.
    QCOMPARE(c.Text(), texts.isEmpty() ? QString() : texts.first());
    // Refilling with another kind replaces the items.
    c.SetComProperty(cpDataBits);
    QCOMPARE(c.count(), 4);
}

void TestComCombo::portListStartsAtFirstItem()
{
    // The Com Port page's start: ComProperty, then Text "COM1", then index 0.
    auto c = PortChooser(S({"ttyACM0", "ttyS0", "ttyUSB0"}));
    c->SetText(QStringLiteral("COM1"));
    QCOMPARE(c->Text(), QStringLiteral("ttyACM0"));
    c->SetText(QStringLiteral("TTYS0"));
    QCOMPARE(c->Text(), QStringLiteral("ttyS0"));
}

void TestComCombo::emptyPortListReadsEmptyText()
{
    auto c = PortChooser({});
    QCOMPARE(c->count(), 0);
    QCOMPARE(c->Text(), QString());
    c->SetText(QStringLiteral("COM1"));
    QCOMPARE(c->Text(), QString());
}

void TestComCombo::textWriteIgnoresCaseAndUnknownText()
{
    TComComboBox c;
    c.SetComProperty(cpParity);
    c.SetText(QStringLiteral("mark"));
    QCOMPARE(c.Text(), QStringLiteral("Mark"));
    QCOMPARE(c.currentIndex(), 3);
    c.SetText(QStringLiteral("Nonsense"));
    QCOMPARE(c.Text(), QStringLiteral("Mark"));
}

void TestComCombo::attachedPortValueIsShown()
{
    TComPort port;
    port.SetBaudRate(br57600);
    port.SetStopBits(sbOne5StopBits);
    port.SetPort(QStringLiteral("ttyusb1"));

    TComComboBox baud;
    baud.SetComProperty(cpBaudRate);
    baud.SetComPort(&port);
    QCOMPARE(baud.Text(), QStringLiteral("57600"));
    QCOMPARE(baud.Select().PendingBaudRate(), br57600);

    // Filling with a port attached selects its value right away.
    TComComboBox stop;
    stop.SetComPort(&port);
    stop.SetComProperty(cpStopBits);
    QCOMPARE(stop.Text(), QStringLiteral("1.5"));

    // A port name not listed selects nothing; a listed one is found without regard to case.
    auto ports = PortChooser(S({"ttyS0", "ttyUSB1"}));
    ports->SetComPort(&port);
    QCOMPARE(ports->Text(), QStringLiteral("ttyUSB1"));
    QCOMPARE(ports->Select().PendingPort(), QStringLiteral("ttyUSB1"));
    port.SetPort(QStringLiteral("COM7"));
    ports->SetComPort(nullptr);
    ports->SetComPort(&port);
    QCOMPARE(ports->currentIndex(), -1);
    QCOMPARE(ports->Text(), QString());
}

void TestComCombo::customFlowShowsCustom()
{
    TComPort port;
    port.FlowControl().SetOutCTSFlow(true);  // CTS flow without RTS handshake: no preset
    QCOMPARE(port.FlowControl().FlowControl(), fcCustom);
    TComComboBox flow;
    flow.SetComProperty(cpFlowControl);
    flow.SetComPort(&port);
    QCOMPARE(flow.Text(), QStringLiteral("Custom"));
    port.FlowControl().SetFlowControl(fcSoftware);
    flow.SetComPort(nullptr);
    flow.SetComPort(&port);
    QCOMPARE(flow.Text(), QStringLiteral("Software"));
}

void TestComCombo::userChoiceStoresAndAutoApplies()
{
    TComPort port;
    TComComboBox c;
    c.SetComProperty(cpParity);
    c.SetComPort(&port);
    int changes = 0;
    c.OnChange = [&](TComComboBox* sender) {
        QCOMPARE(sender, &c);
        ++changes;
    };
    QSignalSpy spy(&c, &TComComboBox::Changed);

    // Without AutoApply the choice is only stored.
    c.setCurrentIndex(4);
    emit c.activated(4);
    QCOMPARE(changes, 1);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(c.Select().PendingParity(), prSpace);
    QCOMPARE(port.Parity().Bits(), prNone);

    c.SetAutoApply(true);
    c.setCurrentIndex(3);
    emit c.activated(3);
    QCOMPARE(port.Parity().Bits(), prMark);
    QCOMPARE(changes, 2);

    // Selections made by the program raise nothing.
    c.SetText(QStringLiteral("Odd"));
    QCOMPARE(changes, 2);
    QCOMPARE(port.Parity().Bits(), prMark);

    // Flow control goes through the preset, stop bits through their table.
    TComComboBox flow;
    flow.SetComProperty(cpFlowControl);
    flow.SetComPort(&port);
    flow.SetAutoApply(true);
    flow.setCurrentIndex(0);
    emit flow.activated(0);
    QCOMPARE(port.FlowControl().FlowControl(), fcHardware);
    QCOMPARE(port.FlowControl().ControlRTS(), rtsHandshake);

    auto ports = PortChooser(S({"ttyS0", "ttyUSB0"}));
    ports->SetComPort(&port);
    ports->SetAutoApply(true);
    ports->setCurrentIndex(1);
    emit ports->activated(1);
    QCOMPARE(port.Port(), QStringLiteral("ttyUSB0"));
}

void TestComCombo::destroyedPortIsForgotten()
{
    auto port = std::make_unique<TComPort>();
    port->SetBaudRate(br115200);
    TComComboBox c;
    c.SetComProperty(cpBaudRate);
    c.SetComPort(port.get());
    QCOMPARE(c.Text(), QStringLiteral("115200"));
    port.reset();
    QCOMPARE(c.ComPort(), nullptr);
    QCOMPARE(c.currentIndex(), 0);
    // A choice now goes nowhere.
    c.SetAutoApply(true);
    emit c.activated(0);
    QCOMPARE(c.Select().PendingBaudRate(), brCustom);
}

void TestComCombo::extraPortsAreAddedSelectedAndKept()
{
    QStringList machine = S({"ttyS0", "ttyUSB0"});
    TComComboBox c;
    c.Select().PortLister = [&machine] { return Named(machine); };
    c.AddExtraPort(QStringLiteral("/dev/pts/7"));  // before the list is filled: kept for later
    c.SetComProperty(cpPort);
    QCOMPARE(Items(c), S({"ttyS0", "ttyUSB0", "/dev/pts/7"}));
    QCOMPARE(c.Text(), QStringLiteral("ttyS0"));

    c.AddExtraPort(QStringLiteral("/dev/pts/9"));
    QCOMPARE(c.Text(), QStringLiteral("/dev/pts/9"));
    c.AddExtraPort(QStringLiteral("ttyusb0"));  // already listed: only selected
    QCOMPARE(c.Text(), QStringLiteral("ttyUSB0"));
    QCOMPARE(c.count(), 4);

    // A refresh re-reads the machine, keeps the extras and the selection.
    machine = S({"ttyACM0", "ttyUSB0"});
    c.AddExtraPort(QStringLiteral("/dev/pts/9"));
    c.RefreshPorts();
    QCOMPARE(Items(c), S({"ttyACM0", "ttyUSB0", "/dev/pts/7", "/dev/pts/9"}));
    QCOMPARE(c.Text(), QStringLiteral("/dev/pts/9"));
    // The selected port has gone: the first item is selected.
    machine = S({"ttyACM0"});
    c.SetText(QStringLiteral("ttyUSB0"));
    c.RefreshPorts();
    QCOMPARE(c.Text(), QStringLiteral("ttyACM0"));
}

QTEST_MAIN(TestComCombo)
#include "test_com_combo.moc"
