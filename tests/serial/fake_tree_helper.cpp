#include "fake_tree_helper.h"

#include <QDir>
#include <QFile>

namespace {

bool WriteFile(const QString& path, const QString& text)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    return f.write(text.toUtf8() + '\n') >= 0;
}

}  // namespace

bool FakeUsbAdapter(const QString& root, const QString& name, const QString& maker, const QString& product,
                    const QString& serial, const QString& usbDev, const QString& byId)
{
    const QString usb = root + QLatin1String("/devices/usb1/") + usbDev;
    const QString tty = usb + QLatin1Char('/') + usbDev + QLatin1String(":1.0/") + name;
    const QString driver = root + QLatin1String("/bus/usb-serial/drivers/usbdrv-") + usbDev;
    const QString entry = root + QLatin1String("/class/tty/") + name;
    const QString dev = root + QLatin1String("/dev");
    if (!QDir().mkpath(tty) || !QDir().mkpath(driver) || !QDir().mkpath(entry) || !QDir().mkpath(dev)) return false;
    if (!WriteFile(usb + QLatin1String("/idVendor"), QStringLiteral("0403"))) return false;
    if (!maker.isEmpty() && !WriteFile(usb + QLatin1String("/manufacturer"), maker)) return false;
    if (!product.isEmpty() && !WriteFile(usb + QLatin1String("/product"), product)) return false;
    if (!serial.isEmpty() && !WriteFile(usb + QLatin1String("/serial"), serial)) return false;
    QFile::remove(tty + QLatin1String("/driver"));  // plugged before into the same socket
    if (!QFile::link(driver, tty + QLatin1String("/driver"))) return false;
    if (!QFile::link(tty, entry + QLatin1String("/device"))) return false;
    // The kernel's node first, udev's by-id name a moment later.
    if (!WriteFile(dev + QLatin1Char('/') + name, QString())) return false;
    if (byId.isEmpty()) return true;
    const QString byIdDir = dev + QLatin1String("/serial/by-id");
    if (!QDir().mkpath(byIdDir)) return false;
    return QFile::link(QLatin1String("../../") + name, byIdDir + QLatin1Char('/') + byId);
}

bool UnplugFake(const QString& root, const QString& name)
{
    const QString dev = root + QLatin1String("/dev");
    bool ok = QFile::remove(dev + QLatin1Char('/') + name);
    QDir byId(dev + QLatin1String("/serial/by-id"));
    for (const QFileInfo& l : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        if (l.isSymLink() && QFileInfo(l.symLinkTarget()).fileName() == name) ok = QFile::remove(l.absoluteFilePath()) && ok;
    ok = QDir(root + QLatin1String("/class/tty/") + name).removeRecursively() && ok;
    return ok;
}
