#pragma once
// A fake /sys and /dev tree for the port list: USB adapters plugged and
// pulled the way the kernel and udev show them.
#include <QString>

// A USB serial adapter: its USB device (maker, product, serial; empty ones
// left out), a tty under its interface bound to driver "usbdrv-<usbDev>",
// the class/tty entry, the node in <root>/dev and, when byId is given,
// <root>/dev/serial/by-id/<byId> pointing at it. False when a file failed.
bool FakeUsbAdapter(const QString& root, const QString& name, const QString& maker, const QString& product,
                    const QString& serial, const QString& usbDev, const QString& byId = QString());
// The adapter is pulled: node, by-id link and class entry go.
bool UnplugFake(const QString& root, const QString& name);
