#pragma once
// The machine's serial ports, read from the kernel's tty class
// (/sys/class/tty). No widgets: the chooser fills its list from here.
#include <QString>
#include <QStringList>
#include <functional>

// Tells the UART type of a ttyS device through TIOCGSERIAL; returns -1 when
// the device cannot be asked (no permission, no device node).
using TUartTypeProbe = std::function<int(const QString& devicePath)>;

int ProbeUartType(const QString& devicePath);

// Whether one entry of <sysRoot>/class/tty names a serial port:
// an entry backed by a device (ttyUSB, ttyACM, ttyAMA ...), rfcomm,
// and ttyS only with a real UART (a non-zero "type").
bool IsSerialPortEntry(const QString& sysRoot, const QString& name, const TUartTypeProbe& probe);

// Sorted alphabetically without regard to ASCII case, character by
// character, so ttyS10 comes before ttyS2 (as COM10 before COM2).
void SortPortNames(QStringList& names);

// The port names (kernel names such as "ttyS0", "ttyUSB0") found under
// <sysRoot>/class/tty, sorted. Raises EComPort code 23 when the tty class
// cannot be read, with the errno.
QStringList EnumerateSerialPorts(const QString& sysRoot = QStringLiteral("/sys"),
                                 const TUartTypeProbe& probe = ProbeUartType);

// Replaces target's contents with the machine's serial ports, sorted.
void ListComPorts(QStringList& target);
