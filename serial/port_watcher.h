#pragma once
// TPortWatcher: keeps the list of the machine's serial ports up to date
// while the program runs. It watches the /dev root (and /dev/serial/by-id)
// with inotify: the kernel creates and removes a tty's node there when an
// adapter is plugged or pulled, and udev adds its by-id name a moment
// later. Nothing runs while nothing changes: no timer, no polling; a change
// is read after a short settling time so that one plug gives one update.
// No widgets.
#include <QList>
#include <QObject>
#include <QTimer>
#include <functional>

#include "serial/port_list.h"

class QSocketNotifier;

class TPortWatcher : public QObject {
    Q_OBJECT
public:
    explicit TPortWatcher(const TPortRoots& roots = DefaultPortRoots(), QObject* parent = nullptr);
    ~TPortWatcher() override;

    // False when inotify could not watch the /dev root: the list is then
    // read once and not followed.
    bool Live() const { return fd_ >= 0 && devWd_ >= 0; }
    const TPortRoots& Roots() const { return roots_; }
    // The list as last read.
    const QList<TPortInfo>& Ports() const { return ports_; }
    // How long to wait after a change before reading the list (default 250 ms).
    void SetSettleMs(int ms) { settle_.setInterval(ms); }
    // Reads the list now; tells when it differs from the last one.
    void Rescan();

    // Told (on the watcher's thread) when the list changed.
    std::function<void(const QList<TPortInfo>&)> OnChange;

signals:
    void PortsChanged(const QList<TPortInfo>& ports);

private:
    void ReadEvents();
    void WatchSerialDirs();
    int AddWatch(const QString& dir);

    TPortRoots roots_;
    QList<TPortInfo> ports_;
    int fd_ = -1;
    int devWd_ = -1;
    int serialWd_ = -1;  // <dev>/serial, to see by-id appear
    int byIdWd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer settle_;
};
