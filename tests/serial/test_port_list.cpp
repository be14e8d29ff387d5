// The port list: which tty class entries are serial ports, and their order.
// A fake /sys tree in a temporary directory stands in for the kernel's.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/inotify.h>
#include <unistd.h>

#include "fake_tree_helper.h"
#include "serial/com_types.h"
#include "serial/port_list.h"

namespace {

// One entry of <root>/class/tty; device: the entry has a device link,
// type: contents of its "type" attribute ("" for none).
void AddTty(const QString& root, const QString& name, bool device, const QString& type = QString())
{
    const QString entry = root + QLatin1String("/class/tty/") + name;
    QVERIFY(QDir().mkpath(entry));
    if (device) {
        const QString target = root + QLatin1String("/devices/") + name;
        QVERIFY(QDir().mkpath(target));
        QVERIFY(QFile::link(target, entry + QLatin1String("/device")));
    }
    if (!type.isEmpty()) {
        QFile f(entry + QLatin1String("/type"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(type.toLatin1() + '\n');
    }
}

}  // namespace

class TestPortList : public QObject {
    Q_OBJECT
private slots:
    void sortIsCaseInsensitiveCharacterByCharacter();
    void onlyRealSerialDevicesAreListed();
    void ttySWithoutTypeIsDecidedByDriverWithoutOpening();
    void usbAdaptersDescribedWithByIdNames();
    void missingTtyClassGivesEmptyList();
    void unreadableTtyClassRaisesCode23();
    void machineListIsSorted();
    void byIdNameWithoutSerialNumberIsNotStable();
};

void TestPortList::sortIsCaseInsensitiveCharacterByCharacter()
{
    QStringList l{QStringLiteral("COM3"), QStringLiteral("COM1"), QStringLiteral("COM10")};
    SortPortNames(l);
    QCOMPARE(l, (QStringList{QStringLiteral("COM1"), QStringLiteral("COM10"), QStringLiteral("COM3")}));

    QStringList t{QStringLiteral("ttyUSB0"), QStringLiteral("ttyS2"), QStringLiteral("ttyS10"),
                  QStringLiteral("ttyACM0"), QStringLiteral("rfcomm0"), QStringLiteral("ttyS1")};
    SortPortNames(t);
    QCOMPARE(t, (QStringList{QStringLiteral("rfcomm0"), QStringLiteral("ttyACM0"), QStringLiteral("ttyS1"),
                             QStringLiteral("ttyS10"), QStringLiteral("ttyS2"), QStringLiteral("ttyUSB0")}));

    // Letter case plays no part: "com2" sorts between COM1 and COM3.
    QStringList c{QStringLiteral("COM3"), QStringLiteral("com2"), QStringLiteral("COM1")};
    SortPortNames(c);
    QCOMPARE(c, (QStringList{QStringLiteral("COM1"), QStringLiteral("com2"), QStringLiteral("COM3")}));
}

void TestPortList::onlyRealSerialDevicesAreListed()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString root = tmp.path();
    AddTty(root, QStringLiteral("console"), false);
    AddTty(root, QStringLiteral("ptmx"), false);
    AddTty(root, QStringLiteral("tty"), false);
    AddTty(root, QStringLiteral("tty0"), false);
    AddTty(root, QStringLiteral("tty12"), false);
    AddTty(root, QStringLiteral("ttyS0"), true, QStringLiteral("4"));
    AddTty(root, QStringLiteral("ttyS1"), true, QStringLiteral("0"));  // phantom 8250 port
    AddTty(root, QStringLiteral("ttyS10"), true, QStringLiteral("4"));
    AddTty(root, QStringLiteral("ttyS3"), false, QStringLiteral("4"));  // no device behind it
    AddTty(root, QStringLiteral("ttyUSB0"), true);
    AddTty(root, QStringLiteral("ttyACM1"), true);
    AddTty(root, QStringLiteral("ttyAMA0"), true, QStringLiteral("32"));
    AddTty(root, QStringLiteral("ttyAMA1"), true, QStringLiteral("0"));
    AddTty(root, QStringLiteral("rfcomm0"), false);

    const QStringList ports = EnumerateSerialPorts(root);
    QCOMPARE(ports, (QStringList{QStringLiteral("rfcomm0"), QStringLiteral("ttyACM1"), QStringLiteral("ttyAMA0"),
                                 QStringLiteral("ttyS0"), QStringLiteral("ttyS10"), QStringLiteral("ttyUSB0")}));
}

void TestPortList::ttySWithoutTypeIsDecidedByDriverWithoutOpening()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString root = tmp.path();
    AddTty(root, QStringLiteral("ttyS0"), true);  // found through PnP: driver "serial"
    AddTty(root, QStringLiteral("ttyS1"), true);  // the legacy 8250 placeholder
    AddTty(root, QStringLiteral("ttyS2"), true);  // no driver bound
    QVERIFY(QDir().mkpath(root + QLatin1String("/bus/pnp/drivers/serial")));
    QVERIFY(QDir().mkpath(root + QLatin1String("/bus/platform/drivers/serial8250")));
    QVERIFY(QFile::link(root + QLatin1String("/bus/pnp/drivers/serial"),
                        root + QLatin1String("/devices/ttyS0/driver")));
    QVERIFY(QFile::link(root + QLatin1String("/bus/platform/drivers/serial8250"),
                        root + QLatin1String("/devices/ttyS1/driver")));
    // Device nodes watched for opens: listing must not open any.
    const QString dev = root + QLatin1String("/dev");
    QVERIFY(QDir().mkpath(dev));
    for (const char* n : {"ttyS0", "ttyS1", "ttyS2"}) {
        QFile f(dev + QLatin1Char('/') + QLatin1String(n));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    const int in = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(in >= 0);
    QVERIFY(inotify_add_watch(in, dev.toLocal8Bit().constData(), IN_OPEN) >= 0);

    QCOMPARE(EnumerateSerialPorts(root), QStringList{QStringLiteral("ttyS0")});
    const QList<TPortInfo> infos = ListPortInfos({root, dev});
    QCOMPARE(infos.size(), 1);
    QCOMPARE(infos[0].path, dev + QLatin1String("/ttyS0"));
    QCOMPARE(infos[0].DisplayText(), dev + QString::fromUtf8("/ttyS0 \u2014 serial"));

    char buf[1024];
    QCOMPARE(::read(in, buf, sizeof buf), ssize_t(-1));  // no open event queued
    QCOMPARE(errno, EAGAIN);
    ::close(in);
}

void TestPortList::missingTtyClassGivesEmptyList()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(EnumerateSerialPorts(tmp.path() + QLatin1String("/nothing")).isEmpty());
    // An empty tty class lists nothing either.
    QVERIFY(QDir().mkpath(tmp.path() + QLatin1String("/class/tty")));
    QVERIFY(EnumerateSerialPorts(tmp.path()).isEmpty());
}

void TestPortList::unreadableTtyClassRaisesCode23()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(QDir().mkpath(tmp.path() + QLatin1String("/class")));
    QFile f(tmp.path() + QLatin1String("/class/tty"));  // a file where the directory belongs
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    try {
        EnumerateSerialPorts(tmp.path());
        QFAIL("no EComPort");
    } catch (const EComPort& e) {
        QCOMPARE(e.PortError(), 23);
        QCOMPARE(e.SystemError(), int(ENOTDIR));
        QVERIFY(e.Message().startsWith(QLatin1String("Registry error (win error code: ")));
    }
}

void TestPortList::machineListIsSorted()
{
    QStringList target{QStringLiteral("stale")};
    ListComPorts(target);
    QVERIFY(!target.contains(QStringLiteral("stale")));
    QVERIFY(!target.contains(QStringLiteral("ptmx")));
    QVERIFY(!target.contains(QStringLiteral("tty0")));
    QStringList sorted = target;
    SortPortNames(sorted);
    QCOMPARE(target, sorted);
}

void TestPortList::usbAdaptersDescribedWithByIdNames()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString root = tmp.path();
    const TPortRoots roots{root, root + QLatin1String("/dev")};
    QVERIFY(FakeUsbAdapter(root, QStringLiteral("ttyUSB0"), QStringLiteral("FTDI"), QStringLiteral("FT232R USB UART"),
                           QStringLiteral("A50285BI"), QStringLiteral("1-1"),
                           QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0")));
    QVERIFY(FakeUsbAdapter(root, QStringLiteral("ttyACM0"), QStringLiteral("Acme"), QString(), QString(),
                           QStringLiteral("1-2"), QStringLiteral("usb-Acme_1-2")));
    AddTty(root, QStringLiteral("ttyUSB3"), true);  // no node in /dev: not listed
    const QList<TPortInfo> l = ListPortInfos(roots);
    QCOMPARE(l.size(), 2);
    QCOMPARE(l[0].DisplayText(), roots.dev + QString::fromUtf8("/ttyACM0 \u2014 Acme (no serial number)"));
    QCOMPARE(l[1].DisplayText(), roots.dev + QString::fromUtf8("/ttyUSB0 \u2014 FT232R USB UART (A50285BI)"));
    QCOMPARE(l[1].maker, QStringLiteral("FTDI"));
    QCOMPARE(l[1].driver, QStringLiteral("usbdrv-1-1"));
    const QString byId = roots.dev + QLatin1String("/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    QCOMPARE(l[1].byId, byId);
    QCOMPARE(l[1].StableName(), byId);
    QCOMPARE(l[0].byId, roots.dev + QLatin1String("/serial/by-id/usb-Acme_1-2"));

    // The stable name of a path, and back.
    QCOMPARE(StablePortName(roots.dev + QLatin1String("/ttyUSB0"), roots), byId);
    QCOMPARE(StablePortName(byId, roots), byId);
    QCOMPARE(ResolvePortPath(byId), roots.dev + QLatin1String("/ttyUSB0"));
    const QString plain = roots.dev + QLatin1String("/ttyS9");
    QCOMPARE(StablePortName(plain, roots), plain);  // no by-id name: the path itself
    QCOMPARE(ResolvePortPath(plain), plain);
}

// Two adapters of one make without serial numbers share one by-id name,
// which points at whichever came last: the path is what tells them apart.
void TestPortList::byIdNameWithoutSerialNumberIsNotStable()
{
    QTemporaryDir tmp;
    const QString root = tmp.path();
    const TPortRoots roots{root, root + QLatin1String("/dev")};
    const QString shared = QStringLiteral("usb-Acme_Cable-if00-port0");
    QVERIFY(FakeUsbAdapter(root, QStringLiteral("ttyUSB0"), QStringLiteral("Acme"), QStringLiteral("Cable"), QString(),
                           QStringLiteral("1-1")));
    QVERIFY(FakeUsbAdapter(root, QStringLiteral("ttyUSB1"), QStringLiteral("Acme"), QStringLiteral("Cable"), QString(),
                           QStringLiteral("1-2"), shared));
    const QString a = roots.dev + QLatin1String("/ttyUSB0"), b = roots.dev + QLatin1String("/ttyUSB1");
    const QString byId = roots.dev + QLatin1String("/serial/by-id/") + shared;
    QCOMPARE(StablePortName(b, roots), b);
    QCOMPARE(StablePortName(byId, roots), b);  // the name as given: the device it leads to now
    const QList<TPortInfo> l = ListPortInfos(roots);
    QCOMPARE(l.size(), 2);
    QCOMPARE(l[1].byId, byId);
    QVERIFY(!l[1].ByIdUnique());
    QCOMPARE(l[1].StableName(), b);
    QCOMPARE(l[1].DisplayText(), b + QString::fromUtf8(" \u2014 Cable (no serial number)"));
    QVERIFY(LacksSerialNumber(a, roots.sys));
    QVERIFY(!LacksSerialNumber(QStringLiteral("/dev/null"), roots.sys));  // no USB adapter: nothing known
}

QTEST_GUILESS_MAIN(TestPortList)
#include "test_port_list.moc"
