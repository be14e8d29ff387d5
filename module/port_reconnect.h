#pragma once
// TPortReconnector: with "Reconnect automatically" on, an open port whose
// device went away (adapter pulled, line hung up) is closed, and reopened
// with its settings as soon as the same device is back: the same by-id
// name (on whatever socket and tty name), or the same path for a device
// without one. It never reopens while an operation runs, so an operation
// that was cut off fails as before and is never resumed or repeated.
// Waiting is driven by directory notices (inotify) on the awaited name's
// folders, with a slow retry for a node that appears before it may be opened.
// No widgets.
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

#include "serial/com_port.h"
#include "serial/port_list.h"

class QFileSystemWatcher;

class TPortReconnector : public QObject {
    Q_OBJECT
public:
    enum TState { rsIdle, rsWaiting, rsReopened };

    explicit TPortReconnector(TCustomComPort& port, QObject* parent = nullptr);
    ~TPortReconnector() override;

    void SetEnabled(bool on);  // off also stops a wait
    bool Enabled() const { return enabled_; }
    bool Waiting() const { return state_ == rsWaiting; }
    TState State() const { return state_; }
    // The name waited for (a by-id name, or the path).
    QString AwaitedName() const { return awaited_; }
    // Stops waiting (the user closed or reopened the port by hand).
    void Cancel();
    // Where by-id names live (tests use a fake tree).
    void SetRoots(const TPortRoots& roots) { roots_ = roots; }
    // How often a present but unopenable device is tried again (default 1000 ms).
    void SetRetryMs(int ms) { retry_.setInterval(ms); }

    // True while an operation with the module runs: closing and reopening wait.
    std::function<bool()> Busy;
    // Told on every change of state (waiting, reopened, idle).
    std::function<void(TState state, const QString& name)> OnStateChange;

    // Looks for the device now (also called on directory notices).
    void TryReopen();

private:
    void DeviceLost();
    void CloseLost();
    void StartWatching();
    void StopWatching();
    void SetState(TState s);

    TCustomComPort& port_;
    TComLink link_;
    TPortRoots roots_ = DefaultPortRoots();
    bool enabled_ = false;
    bool selfClosing_ = false;
    bool portGone_ = false;
    TState state_ = rsIdle;
    QString opened_;   // the stable name of the device as it was opened
    QString awaited_;
    QFileSystemWatcher* fsWatcher_ = nullptr;
    QTimer retry_;
};
