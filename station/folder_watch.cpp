#include "station/folder_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <cerrno>
#include <cstring>

TFolderWatch::TFolderWatch()
{
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

TFolderWatch::~TFolderWatch()
{
    if (fd_ >= 0) ::close(fd_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

namespace {

constexpr uint32_t kFolderMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                                 IN_ONLYDIR;
// A folder that went is looked for again this often while waiting.
constexpr int kGoneRetryMs = 500;

}  // namespace

bool TFolderWatch::Follow(const QString& clean)
{
    const int wd = inotify_add_watch(fd_, QFile::encodeName(clean).constData(), kFolderMask);
    if (wd < 0) return false;
    dirs_.insert(wd, clean);
    return true;
}

bool TFolderWatch::Add(const QString& dir, QString* error)
{
    if (fd_ < 0 || wakeFd_ < 0) {
        *error = QStringLiteral("cannot follow %1: %2").arg(dir, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (!Follow(QDir::cleanPath(QDir(dir).absolutePath()))) {
        *error = QStringLiteral("cannot watch %1: %2").arg(dir, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

QString TFolderWatch::Identity(const QString& path) const
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISCHR(st.st_mode)) return {};
    // The device and, for a link, where it leads: a pty's number comes back
    // for the next pty, its link's target path alike.
    return QStringLiteral("%1:%2").arg(qulonglong(st.st_rdev)).arg(QFileInfo(path).symLinkTarget());
}

std::vector<TFolderChange> TFolderWatch::Present()
{
    std::vector<TFolderChange> out;
    for (const QString& dir : dirs_) {
        const QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString& name : names) {
            const QString path = dir + QLatin1Char('/') + name;
            const QString id = Identity(path);
            if (known_.contains(path) || id.isEmpty()) continue;
            known_.insert(path, id);
            out.push_back({path, name, true});
        }
    }
    return out;
}

void TFolderWatch::Wake()
{
    const uint64_t one = 1;
    if (wakeFd_ >= 0) (void)!::write(wakeFd_, &one, sizeof one);
}

std::vector<TFolderChange> TFolderWatch::Wait(int settleMs)
{
    std::vector<TFolderChange> out;
    // Entries touched since the last settled change; true: made anew (a
    // link created or renamed into place).
    QHash<QString, bool> touched;
    QStringList order;
    auto touch = [&](const QString& path, bool made) {
        if (!touched.contains(path)) order << path;
        touched[path] = touched.value(path) || made;
    };
    // Every entry of a folder judged again: what it held as gone (unless
    // it is there), what it holds now as made.
    auto touchAll = [&](const QString& dir, bool present) {
        for (auto it = known_.cbegin(); it != known_.cend(); ++it)
            if (it.key().startsWith(dir + QLatin1Char('/'))) touch(it.key(), false);
        if (!present) return;
        const QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString& name : names) touch(dir + QLatin1Char('/') + name, true);
    };
    for (;;) {
        // A folder that went and is back: followed again, its entries judged.
        for (int i = 0; i < gone_.size();) {
            if (!Follow(gone_[i])) {
                ++i;
                continue;
            }
            touchAll(gone_.takeAt(i), true);
        }
        pollfd p[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        // Nothing pending: wait without end (or until a folder that went is
        // looked for again); else for the quiet time.
        const int r = ::poll(p, 2, !touched.isEmpty() ? settleMs : gone_.isEmpty() ? -1 : kGoneRetryMs);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return out;
        if (p[1].revents & POLLIN) {
            uint64_t n;
            (void)!::read(wakeFd_, &n, sizeof n);
            return out;
        }
        if (r == 0) {
            if (touched.isEmpty()) continue;  // only a gone folder looked for
            break;                            // quiet: judge what was touched
        }
        alignas(inotify_event) char buf[4096];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        for (ssize_t i = 0; i < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + i);
            i += ssize_t(sizeof(inotify_event) + e->len);
            if (e->mask & IN_Q_OVERFLOW) {
                // Events were dropped: every folder judged again.
                for (const QString& dir : dirs_) touchAll(dir, true);
                continue;
            }
            if (!dirs_.contains(e->wd)) continue;
            if (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                // The folder itself went (or moved away: its path no longer
                // names it). What it held is gone; it is looked for again.
                const QString dir = dirs_.take(e->wd);
                if (!(e->mask & IN_IGNORED)) inotify_rm_watch(fd_, e->wd);
                gone_ << dir;
                touchAll(dir, false);
                continue;
            }
            if (!e->len) continue;
            touch(dirs_.value(e->wd) + QLatin1Char('/') + QFile::decodeName(e->name),
                  e->mask & (IN_CREATE | IN_MOVED_TO));
        }
    }
    for (const QString& path : order) {
        const bool was = known_.contains(path);
        const QString id = Identity(path);
        const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        // Made anew in the quiet time: a new plug when it leads elsewhere now
        // (the first look may have seen it already).
        if (was && (id.isEmpty() || (touched.value(path) && id != known_.value(path)))) {
            known_.remove(path);
            out.push_back({path, name, false});
        }
        if (!id.isEmpty() && !known_.contains(path)) {
            known_.insert(path, id);
            out.push_back({path, name, true});
        }
    }
    return out;
}
