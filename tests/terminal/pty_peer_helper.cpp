#include "pty_peer_helper.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

TPtyPeer::TPtyPeer()
{
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        master_ = slave_ = -1;
        return;
    }
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    slavePath_ = QString::fromLocal8Bit(name);
}

TPtyPeer::~TPtyPeer()
{
    if (slave_ >= 0) {
        ioctl(slave_, TIOCNXCL);
        close(slave_);
    }
    if (master_ >= 0) close(master_);
}

void TPtyPeer::Write(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        pollfd p{master_, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0) return;
    }
}

QByteArray TPtyPeer::Read(int count, int timeoutMs)
{
    QByteArray out;
    QDeadlineTimer deadline(timeoutMs);
    while (out.size() < count && !deadline.hasExpired()) {
        // Short slices: the port's event hand-over needs the event loop.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        pollfd p{master_, POLLIN, 0};
        const int wait = static_cast<int>(std::min<qint64>(deadline.remainingTime(), 20));
        if (::poll(&p, 1, wait) > 0 && (p.revents & POLLIN)) {
            char buf[256];
            const ssize_t n = ::read(master_, buf, std::min<int>(sizeof buf, count - static_cast<int>(out.size())));
            if (n > 0) out.append(buf, n);
        }
    }
    return out;
}
