#pragma once
// The serial devices that operations of this process are using. A claim is
// taken before a port is opened for an operation and given back when it is
// closed; a second claim of the same device, under whatever name (a
// /dev/serial/by-id link and its node are one device), is refused with the
// holder's name. Reconnect asks before it reopens a device.
#include <QString>

class TLineClaim {
public:
    TLineClaim(const QString& path, const QString& holder);
    ~TLineClaim();
    TLineClaim(const TLineClaim&) = delete;
    TLineClaim& operator=(const TLineClaim&) = delete;

    bool Ok() const { return ok_; }
    // "/dev/ttyUSB0 is in use by Program Pair (Point A)"; empty when Ok.
    QString Refusal() const { return refusal_; }

    // Whether an operation holds the device now.
    static bool Claimed(const QString& path);
    // The device behind a port name, resolved as opening resolves it: its
    // device number for a device node (links followed), else the cleaned
    // absolute path.
    static QString DeviceKey(const QString& name);

private:
    QString key_;
    bool ok_ = false;
    QString refusal_;
};
