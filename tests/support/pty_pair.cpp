#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

TPtyPair::TPtyPair()
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
    path_ = QString::fromLocal8Bit(name);
}

TPtyPair::~TPtyPair()
{
    if (slave_ >= 0) {
        ioctl(slave_, TIOCNXCL);
        close(slave_);
    }
    CloseMaster();
}

void TPtyPair::Write(const QByteArray& bytes)
{
    qsizetype done = 0;
    QDeadlineTimer deadline(5000);
    while (done < bytes.size() && !deadline.hasExpired()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else {
            pollfd p{master_, POLLOUT, 0};
            ::poll(&p, 1, 50);
        }
    }
}

QByteArray TPtyPair::Read(int count, int timeoutMs)
{
    QByteArray out;
    QDeadlineTimer deadline(timeoutMs);
    while (out.size() < count && !deadline.hasExpired()) {
        pollfd p{master_, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0)));
        char buf[4096];
        const ssize_t n = ::read(master_, buf, std::min<size_t>(sizeof buf, size_t(count - out.size())));
        if (n > 0) out.append(buf, n);
    }
    return out;
}

QByteArray TPtyPair::ReadProcessingEvents(int count, int timeoutMs)
{
    QByteArray out;
    QDeadlineTimer deadline(timeoutMs);
    while (out.size() < count && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        pollfd p{master_, POLLIN, 0};
        const int wait = static_cast<int>(std::min<qint64>(deadline.remainingTime(), 20));
        if (::poll(&p, 1, wait) > 0 && (p.revents & POLLIN)) {
            char buf[256];
            const ssize_t n = ::read(master_, buf, std::min<size_t>(sizeof buf, size_t(count - out.size())));
            if (n > 0) out.append(buf, n);
        }
    }
    return out;
}

void TPtyPair::CloseMaster()
{
    if (master_ >= 0) close(master_);
    master_ = -1;
}
