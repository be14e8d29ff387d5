// The port list: which tty class entries are serial ports, and their order.
// A fake /sys tree in a temporary directory stands in for the kernel's.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

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
    void uartTypeAskedOfTheDeviceWhenSysfsHasNone();
    void missingTtyClassGivesEmptyList();
    void unreadableTtyClassRaisesCode23();
    void machineListIsSorted();
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

    int probes = 0;
    const TUartTypeProbe probe = [&](const QString&) {
        ++probes;
        return 4;
    };
    const QStringList ports = EnumerateSerialPorts(root, probe);
    QCOMPARE(ports, (QStringList{QStringLiteral("rfcomm0"), QStringLiteral("ttyACM1"), QStringLiteral("ttyAMA0"),
                                 QStringLiteral("ttyS0"), QStringLiteral("ttyS10"), QStringLiteral("ttyUSB0")}));
    // Every 8250 port reported a type in sysfs: no device was opened.
    QCOMPARE(probes, 0);
}

void TestPortList::uartTypeAskedOfTheDeviceWhenSysfsHasNone()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    AddTty(tmp.path(), QStringLiteral("ttyS0"), true);
    AddTty(tmp.path(), QStringLiteral("ttyS1"), true);
    AddTty(tmp.path(), QStringLiteral("ttyS2"), true);
    QStringList asked;
    const TUartTypeProbe probe = [&](const QString& dev) {
        asked << dev;
        if (dev.endsWith(QLatin1Char('0'))) return 4;  // real UART
        if (dev.endsWith(QLatin1Char('1'))) return 0;  // PORT_UNKNOWN
        return -1;                                     // cannot be asked
    };
    QCOMPARE(EnumerateSerialPorts(tmp.path(), probe), QStringList{QStringLiteral("ttyS0")});
    asked.sort();
    QCOMPARE(asked, (QStringList{QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyS1"),
                                 QStringLiteral("/dev/ttyS2")}));
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

QTEST_GUILESS_MAIN(TestPortList)
#include "test_port_list.moc"
