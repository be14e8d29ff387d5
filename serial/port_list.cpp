#include "serial/port_list.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "serial/com_types.h"

namespace {

// The 8250 driver registers ports that may have no UART behind them.
bool IsUart8250Name(const QString& name)
{
    return name.startsWith(QLatin1String("ttyS")) && name.size() > 4 && name.at(4).isDigit();
}

// Reads <entry>/type: the UART type the serial core reports; -1 when absent.
int SysfsUartType(const QString& entry)
{
    QFile f(entry + QLatin1String("/type"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    bool ok = false;
    const int t = QString::fromLatin1(f.readAll()).trimmed().toInt(&ok);
    return ok ? t : -1;
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

}  // namespace

int ProbeUartType(const QString& devicePath)
{
    const int fd = ::open(devicePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    serial_struct ss{};
    const int rc = ::ioctl(fd, TIOCGSERIAL, &ss);
    ::close(fd);
    return rc == 0 ? ss.type : -1;
}

bool IsSerialPortEntry(const QString& sysRoot, const QString& name, const TUartTypeProbe& probe)
{
    const QString entry = sysRoot + QLatin1String("/class/tty/") + name;
    if (name.startsWith(QLatin1String("rfcomm"))) return true;
    // Virtual consoles, ptys, console and ptmx have no device behind them.
    if (!QFileInfo::exists(entry + QLatin1String("/device"))) return false;
    int type = SysfsUartType(entry);
    if (type < 0 && IsUart8250Name(name) && probe) type = probe(QLatin1String("/dev/") + name);
    if (IsUart8250Name(name)) return type > 0;
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

QStringList EnumerateSerialPorts(const QString& sysRoot, const TUartTypeProbe& probe)
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
    // The directory is closed also when a probe throws.
    struct Closer {
        DIR* d;
        ~Closer() { ::closedir(d); }
    } closer{dir};
    while (const dirent* e = ::readdir(dir)) {
        const QString name = QString::fromLocal8Bit(e->d_name);
        if (name.startsWith(QLatin1Char('.'))) continue;
        if (IsSerialPortEntry(sysRoot, name, probe)) names << name;
    }
    SortPortNames(names);
    return names;
}

void ListComPorts(QStringList& target) { target = EnumerateSerialPorts(); }
