#include "module/port_reconnect.h"

#include "module/line_claims.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>

TPortReconnector::TPortReconnector(TCustomComPort& port, QObject* parent) : QObject(parent), port_(port)
{
    retry_.setInterval(1000);
    connect(&retry_, &QTimer::timeout, this, [this] { TryReopen(); });
    link_.OnOpenChange = [this](TCustomComPort*, bool open) {
        if (selfClosing_) return;
        if (open) {
            // Remember the device by its stable name while it is there: udev
            // removes the by-id link together with the device.
            opened_ = StablePortName(TCustomComPort::DevicePath(port_.Port()), roots_);
        }
    };
    link_.OnDeviceLost = [this](TCustomComPort*) { DeviceLost(); };
    link_.OnPortDestroyed = [this](TCustomComPort*) {
        // The port drops its link list itself; it must not be touched again.
        portGone_ = true;
        enabled_ = false;
        StopWatching();
    };
    port_.RegisterLink(&link_);
}

TPortReconnector::~TPortReconnector()
{
    if (portGone_) return;
    try {
        if (port_.HasLink(&link_)) port_.UnregisterLink(&link_);
    } catch (const EComPort&) {
    }
}

void TPortReconnector::SetEnabled(bool on)
{
    enabled_ = on;
    if (!on) Cancel();
}

void TPortReconnector::Cancel()
{
    StopWatching();
    if (state_ != rsIdle) SetState(rsIdle);
}

void TPortReconnector::SetState(TState s)
{
    state_ = s;
    if (OnStateChange) OnStateChange(s, awaited_);
}

void TPortReconnector::DeviceLost()
{
    if (!enabled_ || state_ == rsWaiting) return;
    awaited_ = opened_.isEmpty() ? TCustomComPort::DevicePath(port_.Port()) : opened_;
    // Waiting from now on, so other links told of the loss after us (the
    // terminal) can tell that it is being dealt with. The port is closed
    // later: we are inside the port's notice to its links.
    SetState(rsWaiting);
    QTimer::singleShot(0, this, [this] { CloseLost(); });
}

void TPortReconnector::CloseLost()
{
    if (state_ != rsWaiting || portGone_) return;
    if (Busy && Busy()) {
        // The running operation meets the dead line and fails on its own.
        QTimer::singleShot(200, this, [this] { CloseLost(); });
        return;
    }
    selfClosing_ = true;
    try {
        port_.ClosePort();
    } catch (const EComPort&) {
    }
    selfClosing_ = false;
    StartWatching();
    TryReopen();  // it may be back already
}

void TPortReconnector::StartWatching()
{
    StopWatching();
    fsWatcher_ = new QFileSystemWatcher(this);
    // The name's folder and the folders above it: udev may remove
    // /dev/serial/by-id with the last adapter and make it again.
    QString dir = QFileInfo(awaited_).absolutePath();
    for (int up = 0; up < 3 && !dir.isEmpty(); ++up) {
        if (QFileInfo(dir).isDir()) fsWatcher_->addPath(dir);
        const QString parent = QFileInfo(dir).absolutePath();
        if (parent == dir) break;
        dir = parent;
    }
    connect(fsWatcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
        // A folder made anew is watched again.
        QString d = QFileInfo(awaited_).absolutePath();
        for (int up = 0; up < 3; ++up) {
            if (QFileInfo(d).isDir() && !fsWatcher_->directories().contains(d)) fsWatcher_->addPath(d);
            d = QFileInfo(d).absolutePath();
        }
        TryReopen();
    });
    retry_.start();
}

void TPortReconnector::StopWatching()
{
    retry_.stop();
    if (!fsWatcher_) return;
    // Possibly inside its own notice (a reopen from directoryChanged): let
    // it finish before it goes.
    fsWatcher_->disconnect(this);
    fsWatcher_->deleteLater();
    fsWatcher_ = nullptr;
}

void TPortReconnector::TryReopen()
{
    if (state_ != rsWaiting || portGone_ || port_.Connected()) return;
    if (Busy && Busy()) return;
    // exists() follows links: a by-id name or a link whose device is gone is not there.
    if (!QFileInfo::exists(awaited_)) return;
    // An operation of this program (Program Pair, Find Module, a Link Test)
    // is using the device: wait until it has let go (the page asks again
    // when an operation ends).
    if (TLineClaim::Claimed(awaited_)) return;
    // The same adapter may come back under another tty name: open what its
    // stable name points at now, and show that path.
    const QString now = ResolvePortPath(awaited_);
    const bool byId = awaited_ != TCustomComPort::DevicePath(port_.Port());
    if (byId && !now.isEmpty()) port_.SetPort(now);
    try {
        port_.OpenPort();
    } catch (const EComPort&) {
        return;  // not ready yet (permissions still being set, a stale link): the next notice or retry
    }
    if (!port_.Connected()) return;
    StopWatching();
    SetState(rsReopened);
}
