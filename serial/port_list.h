#pragma once
// The machine's serial ports, read from the kernel's tty class
// (/sys/class/tty) and /dev, decided from sysfs alone: listing never opens
// a device (an open raises DTR and RTS on whatever is attached). No widgets:
// the chooser and the command-line tool both list from here.
#include <QList>
#include <QString>
#include <QStringList>

// Where the list looks. Tests point both at a fake tree.
struct TPortRoots {
    QString sys = QStringLiteral("/sys");
    QString dev = QStringLiteral("/dev");
};

// The roots every default listing uses (the real machine unless a test
// replaced them).
const TPortRoots& DefaultPortRoots();
void SetDefaultPortRoots(const TPortRoots& roots);

// One serial port as the user sees it.
struct TPortInfo {
    QString path;         // what is opened: <dev>/ttyUSB0, or an extra path as given
    QString name;         // kernel name (ttyUSB0); empty for an extra path
    QString byId;         // <dev>/serial/by-id/... naming it, or empty
    QString maker;        // USB manufacturer
    QString product;      // USB product
    QString serial;       // USB serial number
    QString driver;       // the kernel driver (ftdi_sio, serial8250, ...)
    bool usb = false;     // a USB adapter (maker, product and serial read from it)
    // "FT232R USB UART (A50285BI)" for USB adapters ("... (no serial
    // number)" when it has none), the driver otherwise.
    QString Description() const;
    // "/dev/ttyUSB0 — FT232R USB UART (A50285BI)"; the path alone without a description.
    QString DisplayText() const;
    // Whether the by-id name stands for this adapter alone. udev builds it
    // from maker, product and serial number: adapters of one make without a
    // serial number share one name, which points at whichever came last.
    bool ByIdUnique() const { return !byId.isEmpty() && !(usb && serial.isEmpty()); }
    // The by-id name when it is unique, else the path.
    QString StableName() const { return ByIdUnique() ? byId : path; }
    bool operator==(const TPortInfo&) const = default;
};

// Whether one entry of <sysRoot>/class/tty names a serial port: an entry
// backed by a device (ttyUSB, ttyACM, ttyAMA ...), rfcomm, and ttyS only
// with a real UART: a non-zero "type", or, where the kernel gives no type,
// a driver other than the legacy 8250 placeholder.
bool IsSerialPortEntry(const QString& sysRoot, const QString& name);

// Sorted alphabetically without regard to ASCII case, character by
// character, so ttyS10 comes before ttyS2 (as COM10 before COM2).
void SortPortNames(QStringList& names);

// The port names (kernel names such as "ttyS0", "ttyUSB0") found under
// <sysRoot>/class/tty, sorted. Raises EComPort code 23 when the tty class
// cannot be read, with the errno.
QStringList EnumerateSerialPorts(const QString& sysRoot = DefaultPortRoots().sys);

// The serial ports with their device node under <dev>, described, sorted by
// kernel name. Raises code 23 as EnumerateSerialPorts.
QList<TPortInfo> ListPortInfos(const TPortRoots& roots = DefaultPortRoots());

// The description of one kernel name from sysfs and /dev/serial/by-id.
TPortInfo DescribePort(const TPortRoots& roots, const QString& name);

// The stable name for a port path: the /dev/serial/by-id/ entry that
// points at it (so the same adapter is found on another USB socket), else
// the path itself. A by-id name is returned as it is. A USB adapter without
// a serial number has no stable name: its path is returned (also for its
// by-id name, resolved).
QString StablePortName(const QString& path, const TPortRoots& roots = DefaultPortRoots());

// Whether the device at path (any name of it) is a USB adapter that reports
// no serial number, so that its by-id name is not its own.
bool LacksSerialNumber(const QString& path, const QString& sysRoot = DefaultPortRoots().sys);

// The device a path stands for now: a by-id (or any symbolic) name resolved
// to its target, a plain path as it is. Empty when a link's target is gone.
QString ResolvePortPath(const QString& path);

// What a record of work on a port keeps of it: its /dev/serial/by-id/ name
// (empty when it has none) and its adapter's USB serial number (empty for
// other devices).
QString PortByIdName(const QString& path);
QString PortUsbSerial(const QString& path);

// Whether two port names open one device, each resolved as opening resolves
// it (a relative name under /dev, "COMn"): the same character device (st_rdev),
// whatever symbolic links or device nodes lead to it, a pseudo-terminal's
// too; paths that are no device are one when they are one file. A path that
// does not exist is only itself.
bool SameSerialDevice(const QString& a, const QString& b);

// Replaces target's contents with the machine's serial ports (their paths), sorted.
void ListComPorts(QStringList& target);
