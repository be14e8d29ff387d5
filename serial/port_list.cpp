#include "serial/port_list.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>

#include "serial/com_port.h"
#include "serial/com_types.h"

namespace {

TPortRoots& Roots()
{
    static TPortRoots roots;
    return roots;
}

// The 8250 driver registers ports that may have no UART behind them.
bool IsUart8250Name(const QString& name)
{
    return name.startsWith(QLatin1String("ttyS")) && name.size() > 4 && name.at(4).isDigit();
}

QString ReadAttribute(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.read(512)).trimmed();
}

// Reads <entry>/type: the UART type the serial core reports; -1 when absent.
int SysfsUartType(const QString& entry)
{
    bool ok = false;
    const int t = ReadAttribute(entry + QLatin1String("/type")).toInt(&ok);
    return ok ? t : -1;
}

// The driver bound to a device directory, skipping the serial core's own
// "port"/"ctrl" layers (newer kernels put them between the tty and its UART).
QString DriverOf(const QString& deviceDir)
{
    QString dir = QFileInfo(deviceDir).canonicalFilePath();
    for (int up = 0; up < 4 && !dir.isEmpty(); ++up) {
        const QFileInfo link(dir + QLatin1String("/driver"));
        if (link.isSymLink()) {
            const QString target = link.symLinkTarget();
            if (!target.contains(QLatin1String("/serial-base/"))) return QFileInfo(target).fileName();
        }
        dir = QFileInfo(dir).path();
    }
    return {};
}

// The USB device above a tty's device directory (the one with idVendor).
QString UsbDeviceDir(const QString& deviceDir)
{
    QString dir = QFileInfo(deviceDir).canonicalFilePath();
    for (int up = 0; up < 4 && !dir.isEmpty() && dir != QLatin1String("/"); ++up) {
        if (QFileInfo::exists(dir + QLatin1String("/idVendor"))) return dir;
        dir = QFileInfo(dir).path();
    }
    return {};
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

QString ByIdDir(const TPortRoots& roots) { return roots.dev + QLatin1String("/serial/by-id"); }

}  // namespace

const TPortRoots& DefaultPortRoots() { return Roots(); }

void SetDefaultPortRoots(const TPortRoots& roots) { Roots() = roots; }

QString TPortInfo::Description() const
{
    QString text = product.isEmpty() ? maker : product;
    if (!text.isEmpty()) {
        if (!serial.isEmpty()) text += QStringLiteral(" (") + serial + QLatin1Char(')');
        else if (usb) text += QStringLiteral(" (no serial number)");
        return text;
    }
    return driver;
}

QString TPortInfo::DisplayText() const
{
    const QString d = Description();
    return d.isEmpty() ? path : path + QStringLiteral(" \u2014 ") + d;
}

bool IsSerialPortEntry(const QString& sysRoot, const QString& name)
{
    const QString entry = sysRoot + QLatin1String("/class/tty/") + name;
    if (name.startsWith(QLatin1String("rfcomm"))) return true;
    // Virtual consoles, ptys, console and ptmx have no device behind them.
    if (!QFileInfo::exists(entry + QLatin1String("/device"))) return false;
    const int type = SysfsUartType(entry);
    if (IsUart8250Name(name)) {
        if (type >= 0) return type > 0;
        // No type from the kernel: the legacy 8250 placeholder device stands
        // for ports that may not exist; a port found through PnP, ACPI or PCI
        // has a driver of its own.
        const QString driver = DriverOf(entry + QLatin1String("/device"));
        return !driver.isEmpty() && driver != QLatin1String("serial8250");
    }
    // Other serial-core ports report a type as well; 0 means no UART.
    return type != 0;
}

void SortPortNames(QStringList& names)
{
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const QByteArray x = a.toLocal8Bit(), y = b.toLocal8Bit();
        const int n = std::min(x.size(), y.size());
        for (int i = 0; i < n; ++i) {
            const unsigned char cx = static_cast<unsigned char>(UpperAscii(x[i]));
            const unsigned char cy = static_cast<unsigned char>(UpperAscii(y[i]));
            if (cx != cy) return cx < cy;
        }
        return x.size() < y.size();
    });
}

QStringList EnumerateSerialPorts(const QString& sysRoot)
{
    const QByteArray dirPath = (sysRoot + QLatin1String("/class/tty")).toLocal8Bit();
    DIR* dir = ::opendir(dirPath.constData());
    if (!dir) {
        // A machine without serial ports offers an empty list rather than an
        // error that would stop the window from being built.
        if (errno == ENOENT) return {};
        throw EComPort(CError_RegError, errno);
    }
    QStringList names;
    struct Closer {
        DIR* d;
        ~Closer() { ::closedir(d); }
    } closer{dir};
    while (const dirent* e = ::readdir(dir)) {
        const QString name = QString::fromLocal8Bit(e->d_name);
        if (name.startsWith(QLatin1Char('.'))) continue;
        if (IsSerialPortEntry(sysRoot, name)) names << name;
    }
    SortPortNames(names);
    return names;
}

TPortInfo DescribePort(const TPortRoots& roots, const QString& name)
{
    TPortInfo info;
    info.name = name;
    info.path = roots.dev + QLatin1Char('/') + name;
    const QString device = roots.sys + QLatin1String("/class/tty/") + name + QLatin1String("/device");
    info.driver = DriverOf(device);
    const QString usb = UsbDeviceDir(device);
    if (!usb.isEmpty()) {
        info.usb = true;
        info.maker = ReadAttribute(usb + QLatin1String("/manufacturer"));
        info.product = ReadAttribute(usb + QLatin1String("/product"));
        info.serial = ReadAttribute(usb + QLatin1String("/serial"));
    }
    const QString target = QFileInfo(info.path).canonicalFilePath();
    const QDir byId(ByIdDir(roots));
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (!link.isSymLink()) continue;
        // by-id links are relative (../../ttyUSB0): compare what they point at.
        const QString to = link.canonicalFilePath();
        if ((!target.isEmpty() && to == target) || QFileInfo(link.symLinkTarget()).fileName() == name) {
            info.byId = link.absoluteFilePath();
            break;
        }
    }
    return info;
}

QList<TPortInfo> ListPortInfos(const TPortRoots& roots)
{
    QList<TPortInfo> out;
    for (const QString& name : EnumerateSerialPorts(roots.sys)) {
        // A port whose node is not (or no longer) in /dev cannot be opened.
        if (!QFileInfo::exists(roots.dev + QLatin1Char('/') + name)) continue;
        out << DescribePort(roots, name);
    }
    return out;
}

QString ResolvePortPath(const QString& path)
{
    const QFileInfo fi(path);
    if (!fi.isSymLink()) return path;
    return fi.canonicalFilePath();
}

bool LacksSerialNumber(const QString& path, const QString& sysRoot)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    if (target.isEmpty()) return false;
    const QString usb =
        UsbDeviceDir(sysRoot + QLatin1String("/class/tty/") + QFileInfo(target).fileName() + QLatin1String("/device"));
    return !usb.isEmpty() && ReadAttribute(usb + QLatin1String("/serial")).isEmpty();
}

QString StablePortName(const QString& path, const TPortRoots& roots)
{
    const QString byIdDir = ByIdDir(roots);
    const QString target = QFileInfo(path).canonicalFilePath();
    if (LacksSerialNumber(path, roots.sys)) {
        const bool byIdName = path.startsWith(byIdDir + QLatin1Char('/'));
        return byIdName && !target.isEmpty() ? target : path;
    }
    if (path.startsWith(byIdDir + QLatin1Char('/'))) return path;
    if (target.isEmpty()) return path;
    const QDir byId(byIdDir);
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
        if (link.isSymLink() && link.canonicalFilePath() == target) return link.absoluteFilePath();
    return path;
}

bool SameSerialDevice(const QString& a, const QString& b)
{
    // As opening finds them: "pts/3" and "COM1" name nodes under /dev.
    const QString pa = TCustomComPort::DevicePath(a), pb = TCustomComPort::DevicePath(b);
    if (pa == pb) return true;
    struct stat sa {}, sb {};
    if (::stat(QFile::encodeName(pa).constData(), &sa) != 0 || ::stat(QFile::encodeName(pb).constData(), &sb) != 0)
        return false;
    if (S_ISCHR(sa.st_mode) && S_ISCHR(sb.st_mode)) return sa.st_rdev == sb.st_rdev;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void ListComPorts(QStringList& target)
{
    QStringList paths;
    for (const TPortInfo& p : ListPortInfos()) paths << p.path;
    target = paths;
}

QString PortByIdName(const QString& path)
{
    const QString stable = StablePortName(path);
    return stable == path && !path.contains(QLatin1String("/by-id/")) ? QString() : stable;
}

QString PortUsbSerial(const QString& path)
{
    try {
        const QString resolved = ResolvePortPath(path);
        if (resolved.isEmpty()) return {};
        return DescribePort(DefaultPortRoots(), QFileInfo(resolved).fileName()).serial;
    } catch (...) {
        return {};
    }
}
