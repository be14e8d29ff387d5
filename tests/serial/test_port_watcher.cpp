// The live port list on a fake /sys and /dev tree: plugging and pulling
// adapters updates the list and the chooser, the choice stays while it
// exists, a new adapter is taken when nothing usable was chosen.
#include <QTemporaryDir>
#include <QtTest>

#include "fake_tree_helper.h"
#include "serial/ui/com_combo_box.h"
#include "serial/port_watcher.h"

namespace {

QStringList Paths(const QList<TPortInfo>& l)
{
    QStringList p;
    for (const TPortInfo& i : l) p << i.name;
    return p;
}

}  // namespace

class TestPortWatcher : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;
    QString root_;
    TPortRoots roots_;

    bool Plug(const char* name, const char* serial, const char* usbDev)
    {
        return FakeUsbAdapter(root_, QLatin1String(name), QStringLiteral("FTDI"), QStringLiteral("FT232R USB UART"),
                              QLatin1String(serial), QLatin1String(usbDev),
                              QStringLiteral("usb-FTDI_FT232R_USB_UART_%1-if00-port0").arg(QLatin1String(serial)));
    }

private slots:
    void init()
    {
        QVERIFY(tmp_.isValid());
        root_ = tmp_.path() + QStringLiteral("/t%1").arg(QRandomGenerator::global()->generate());
        roots_ = {root_, root_ + QLatin1String("/dev")};
        QVERIFY(QDir().mkpath(roots_.dev));
        QVERIFY(QDir().mkpath(root_ + QLatin1String("/class/tty")));
    }

    void plugAndPullFollowTheList()
    {
        TPortWatcher w(roots_);
        w.SetSettleMs(10);
        QVERIFY(w.Live());
        QVERIFY(w.Ports().isEmpty());
        int changes = 0;
        w.OnChange = [&](const QList<TPortInfo>&) { ++changes; };

        QVERIFY(Plug("ttyUSB0", "A50285BI", "1-1"));
        QTRY_COMPARE(Paths(w.Ports()), QStringList{QStringLiteral("ttyUSB0")});
        QTRY_COMPARE(w.Ports().value(0).byId,
                     roots_.dev + QLatin1String("/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
        QCOMPARE(w.Ports()[0].DisplayText(),
                 roots_.dev + QString::fromUtf8("/ttyUSB0 \u2014 FT232R USB UART (A50285BI)"));

        QVERIFY(Plug("ttyUSB1", "B7", "1-2"));
        QTRY_COMPARE(Paths(w.Ports()), (QStringList{QStringLiteral("ttyUSB0"), QStringLiteral("ttyUSB1")}));
        QVERIFY(UnplugFake(root_, QStringLiteral("ttyUSB0")));
        QTRY_COMPARE(Paths(w.Ports()), QStringList{QStringLiteral("ttyUSB1")});
        // The by-id directory was there before the watcher saw it made; a
        // later one made after start is followed too (checked above): one
        // update per plug, not one per file.
        QVERIFY(changes >= 3);
        QVERIFY(changes <= 6);

        // Changes of other names in /dev do not read the list.
        const int before = changes;
        QFile other(roots_.dev + QLatin1String("/loop9"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();
        QTest::qWait(50);
        QCOMPARE(changes, before);
    }

    // Adapters without serial numbers share one by-id name; when the chosen
    // one goes, the name points at the other, which is not taken for it:
    // the choice stays the path and comes back with its adapter.
    void sharedByIdNameDoesNotCarryTheChoice()
    {
        const QString shared = roots_.dev + QLatin1String("/serial/by-id/usb-Acme_Cable-if00-port0");
        auto plug = [&](const char* name, const char* usbDev) {
            return FakeUsbAdapter(root_, QLatin1String(name), QStringLiteral("Acme"), QStringLiteral("Cable"), QString(),
                                  QLatin1String(usbDev));
        };
        auto pointAt = [&](const char* name) {
            QFile::remove(shared);
            QDir().mkpath(QFileInfo(shared).path());
            return QFile::link(QStringLiteral("../../%1").arg(QLatin1String(name)), shared);
        };
        QVERIFY(plug("ttyUSB0", "1-1") && plug("ttyUSB1", "1-2") && pointAt("ttyUSB0"));
        TPortWatcher w(roots_);
        w.SetSettleMs(10);
        TComComboBox c;
        c.Select().PortLister = [&w] { return w.Ports(); };
        c.SetComProperty(cpPort);
        w.OnChange = [&c](const QList<TPortInfo>& l) { c.Select().UpdatePorts(l); };
        const QString usb0 = roots_.dev + QLatin1String("/ttyUSB0");
        c.setCurrentIndex(0);
        emit c.activated(0);
        QCOMPARE(c.Text(), usb0);
        QVERIFY(UnplugFake(root_, QStringLiteral("ttyUSB0")) && pointAt("ttyUSB1"));
        QTRY_COMPARE(c.count(), 1);
        QVERIFY(plug("ttyUSB0", "1-1") && pointAt("ttyUSB0"));
        QTRY_COMPARE(c.count(), 2);
        QCOMPARE(c.Text(), usb0);
    }

    void chooserKeepsChoiceAndTakesNewAdapter()
    {
        QVERIFY(Plug("ttyUSB0", "A1", "1-1"));
        QVERIFY(Plug("ttyUSB1", "B2", "1-2"));
        TPortWatcher w(roots_);
        w.SetSettleMs(10);
        TComComboBox c;
        c.Select().PortLister = [&w] { return w.Ports(); };
        c.SetComProperty(cpPort);
        w.OnChange = [&c](const QList<TPortInfo>& l) { c.Select().UpdatePorts(l); };
        const QString usb0 = roots_.dev + QLatin1String("/ttyUSB0");
        const QString usb1 = roots_.dev + QLatin1String("/ttyUSB1");
        const QString usb2 = roots_.dev + QLatin1String("/ttyUSB2");
        QCOMPARE(c.Text(), usb0);
        QCOMPARE(c.itemText(1), usb1 + QString::fromUtf8(" \u2014 FT232R USB UART (B2)"));

        // The user chooses USB1; pulling USB0 keeps that choice.
        c.setCurrentIndex(1);
        emit c.activated(1);
        QVERIFY(UnplugFake(root_, QStringLiteral("ttyUSB0")));
        QTRY_COMPARE(c.count(), 1);
        QCOMPARE(c.Text(), usb1);

        // The chosen adapter goes: nothing usable is chosen, so the next
        // adapter plugged in is selected.
        QVERIFY(UnplugFake(root_, QStringLiteral("ttyUSB1")));
        QTRY_COMPARE(c.count(), 0);
        QCOMPARE(c.Text(), QString());
        QVERIFY(Plug("ttyUSB2", "C3", "1-3"));
        QTRY_COMPARE(c.Text(), usb2);

        // The user's adapter comes back on another socket under another
        // name, together with another one: the by-id name finds it.
        QVERIFY(Plug("ttyUSB0", "A1", "1-1"));
        QTRY_COMPARE(c.count(), 2);
        c.setCurrentIndex(1);  // ttyUSB2 (C3)
        emit c.activated(1);
        QCOMPARE(c.Text(), usb2);
        QVERIFY(UnplugFake(root_, QStringLiteral("ttyUSB2")));
        QTRY_COMPARE(c.count(), 1);
        QCOMPARE(c.Text(), usb0);  // shown, not chosen
        // Both seen in one update, however the machine schedules the two plugs.
        w.OnChange = nullptr;
        QVERIFY(Plug("ttyUSB1", "B2", "1-2"));
        QVERIFY(Plug("ttyUSB5", "C3", "1-4"));
        QTRY_COMPARE(w.Ports().size(), 3);
        QTRY_VERIFY(!w.Ports()[2].byId.isEmpty());
        c.Select().UpdatePorts(w.Ports());
        QCOMPARE(c.Text(), roots_.dev + QLatin1String("/ttyUSB5"));
        w.OnChange = [&c](const QList<TPortInfo>& l) { c.Select().UpdatePorts(l); };

        // A by-id name selects its port; the stable name of a path is its by-id name.
        c.SetText(roots_.dev + QLatin1String("/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0"));
        QCOMPARE(c.Text(), usb0);
        QCOMPARE(StablePortName(usb0, roots_),
                 roots_.dev + QLatin1String("/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0"));
    }

    void startupDefaultGivesWayToPluggedAdapter()
    {
        QVERIFY(Plug("ttyUSB0", "A1", "1-1"));
        TPortWatcher w(roots_);
        w.SetSettleMs(10);
        TComComboBox c;
        c.Select().PortLister = [&w] { return w.Ports(); };
        c.SetComProperty(cpPort);
        w.OnChange = [&c](const QList<TPortInfo>& l) { c.Select().UpdatePorts(l); };
        // Nobody chose the first item: an adapter plugged now is taken.
        QVERIFY(Plug("ttyUSB1", "B2", "1-2"));
        QTRY_COMPARE(c.Text(), roots_.dev + QLatin1String("/ttyUSB1"));
        // Once chosen, a further plug leaves the choice alone.
        QVERIFY(Plug("ttyUSB2", "C3", "1-3"));
        QTRY_COMPARE(c.count(), 3);
        QCOMPARE(c.Text(), roots_.dev + QLatin1String("/ttyUSB1"));
    }
};

QTEST_MAIN(TestPortWatcher)
#include "test_port_watcher.moc"
