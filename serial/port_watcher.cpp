#include "serial/port_watcher.h"

#include <QSocketNotifier>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

#include "serial/com_types.h"

namespace {

constexpr uint32_t kDirMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

// Only these names in /dev can be a serial port (or lead to its by-id name);
// everything else that comes and goes there is ignored.
bool MattersInDev(const QByteArray& name)
{
    return name.startsWith("tty") || name.startsWith("rfcomm") || name == "serial";
}

}  // namespace

TPortWatcher::TPortWatcher(const TPortRoots& roots, QObject* parent) : QObject(parent), roots_(roots)
{
    settle_.setSingleShot(true);
    settle_.setInterval(250);
    connect(&settle_, &QTimer::timeout, this, [this] { Rescan(); });

    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0) {
        devWd_ = AddWatch(roots_.dev);
        WatchSerialDirs();
        notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { ReadEvents(); });
    }
    try {
        ports_ = ListPortInfos(roots_);
    } catch (const EComPort&) {
        ports_.clear();  // an unreadable tty class lists nothing
    }
}

TPortWatcher::~TPortWatcher()
{
    delete notifier_;
    if (fd_ >= 0) ::close(fd_);
}

int TPortWatcher::AddWatch(const QString& dir)
{
    if (fd_ < 0) return -1;
    return ::inotify_add_watch(fd_, dir.toLocal8Bit().constData(), kDirMask | IN_ONLYDIR);
}

void TPortWatcher::WatchSerialDirs()
{
    // udev makes these directories with the first adapter and may remove
    // them with the last: each is watched while it exists.
    if (serialWd_ < 0) serialWd_ = AddWatch(roots_.dev + QLatin1String("/serial"));
    if (byIdWd_ < 0) byIdWd_ = AddWatch(roots_.dev + QLatin1String("/serial/by-id"));
}

void TPortWatcher::ReadEvents()
{
    alignas(inotify_event) char buf[4096];
    bool relevant = false;
    for (;;) {
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
            at += ssize_t(sizeof(inotify_event) + ev->len);
            const QByteArray name = ev->len ? QByteArray(ev->name) : QByteArray();
            if (ev->mask & IN_Q_OVERFLOW) {
                relevant = true;
                continue;
            }
            if (ev->mask & IN_IGNORED) {  // the directory went away
                if (ev->wd == serialWd_) serialWd_ = -1;
                if (ev->wd == byIdWd_) byIdWd_ = -1;
                if (ev->wd == devWd_) devWd_ = -1;
                relevant = true;
                continue;
            }
            if (ev->wd == devWd_) {
                if (MattersInDev(name)) relevant = true;
            } else if (ev->wd == serialWd_ || ev->wd == byIdWd_) {
                relevant = true;
            }
        }
    }
    if (!relevant) return;
    WatchSerialDirs();
    settle_.start();  // restarted by every further change: one read per burst
}

void TPortWatcher::Rescan()
{
    QList<TPortInfo> now;
    try {
        now = ListPortInfos(roots_);
    } catch (const EComPort&) {
        return;  // keep what was shown; the next change reads again
    }
    if (now == ports_) return;
    ports_ = now;
    if (OnChange) OnChange(ports_);
    emit PortsChanged(ports_);
}
