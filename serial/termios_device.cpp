#include "serial/termios_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "serial/com_types.h"
#include "serial/dcb_termios.h"
#include "serial/termios2_baud.h"

namespace {

// The errno values a tty gives for "this driver has no such thing".
bool NotSupported(int e) { return e == ENOTTY || e == EINVAL; }

}  // namespace

TTermiosDevice::~TTermiosDevice() { Close(); }

int TTermiosDevice::Open(const std::string& path)
{
    Close();
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    // No sharing, like the classic exclusive open.
    if (::ioctl(fd, TIOCEXCL) != 0) {
        const int e = errno;
        ::close(fd);
        return e;
    }
    fd_ = fd;
    return 0;
}

void TTermiosDevice::Close()
{
    if (fd_ < 0) return;
    // Closing discards what is queued, as the classic driver does; a
    // simulator holding the slave would otherwise keep the bytes for the
    // next open. TIOCEXCL outlives the close if someone else holds the tty.
    ::tcflush(fd_, TCIOFLUSH);
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

int TTermiosDevice::ApplyLineSettings(const TDCBRecord& dcb)
{
    if (fd_ < 0) return EBADF;
    TTermiosSettings s;
    if (const int e = DcbToTermios(dcb, &s)) return e;
    termios cur{};
    if (::tcgetattr(fd_, &cur) != 0) return errno;
    termios t = s.tio;
    // Keep the driver's own line discipline choice.
    t.c_line = cur.c_line;
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) return errno;
    if (s.speed == 0) {
        if (const int e = SetArbitraryBaudRate(fd_, s.baud)) return e;
    }
    int bits = TIOCM_DTR;
    if (::ioctl(fd_, s.dtr ? TIOCMBIS : TIOCMBIC, &bits) != 0 && !NotSupported(errno)) return errno;
    bits = TIOCM_RTS;
    if (::ioctl(fd_, s.rts ? TIOCMBIS : TIOCMBIC, &bits) != 0 && !NotSupported(errno)) return errno;
    return 0;
}

int TTermiosDevice::SetQueueSizes(int32_t, int32_t)
{
    // Linux tty queues have a fixed size; only check that the device is a tty.
    if (fd_ < 0) return EBADF;
    return ::isatty(fd_) ? 0 : errno;
}

int TTermiosDevice::Write(const char* data, int32_t count, int32_t timeoutMs, int32_t* written)
{
    using Clock = std::chrono::steady_clock;
    *written = 0;
    if (fd_ < 0) return EBADF;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int32_t done = 0;
    bool hungUp = false;
    while (done < count) {
        const ssize_t n = ::write(fd_, data + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            *written = done;
            return errno;
        }
        if (hungUp) {
            *written = done;
            return EIO;  // no room will ever come
        }
        // The queue is full (flow control held, or nobody reads): wait for
        // room until the write's deadline, then report what went out.
        int waitMs = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) break;
            waitMs = static_cast<int>(left);
        }
        pollfd p{fd_, POLLOUT, 0};
        const int r = ::poll(&p, 1, waitMs);
        if (r < 0 && errno != EINTR) {
            *written = done;
            return errno;
        }
        hungUp = r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
    }
    *written = done;
    return 0;
}

int TTermiosDevice::Read(char* data, int32_t count, int32_t* got)
{
    *got = 0;
    if (fd_ < 0) return EBADF;
    if (count <= 0) return 0;
    for (;;) {
        const ssize_t n = ::read(fd_, data, static_cast<size_t>(count));
        if (n > 0) {
            *got = static_cast<int32_t>(n);
            return 0;
        }
        if (n == 0) return EIO;  // VMIN 1 on a non-blocking descriptor: end of file is a hang-up
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return 0;
        return errno;
    }
}

int TTermiosDevice::InQueue(int32_t* count)
{
    *count = 0;
    if (fd_ < 0) return EBADF;
    int n = 0;
    if (::ioctl(fd_, FIONREAD, &n) != 0) return errno;
    *count = n;
    return 0;
}

int TTermiosDevice::OutQueue(int32_t* count)
{
    *count = 0;
    if (fd_ < 0) return EBADF;
    int n = 0;
    if (::ioctl(fd_, TIOCOUTQ, &n) != 0) return errno;
    *count = n;
    return 0;
}

int TTermiosDevice::Purge(bool input, bool output)
{
    if (fd_ < 0) return EBADF;
    if (!input && !output) return ::fcntl(fd_, F_GETFL) < 0 ? errno : 0;
    const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    return ::tcflush(fd_, which) != 0 ? errno : 0;
}

int TTermiosDevice::ModemStatus(uint8_t* lines, bool* present)
{
    *lines = 0;
    *present = false;
    if (fd_ < 0) return EBADF;
    int bits = 0;
    if (::ioctl(fd_, TIOCMGET, &bits) != 0) {
        if (NotSupported(errno)) return 0;
        return errno;
    }
    *present = true;
    if (bits & TIOCM_CTS) *lines |= ms::Cts;
    if (bits & TIOCM_DSR) *lines |= ms::Dsr;
    if (bits & TIOCM_RI) *lines |= ms::Ring;
    if (bits & TIOCM_CD) *lines |= ms::Rlsd;
    return 0;
}

int TTermiosDevice::Counters(TSerialCounters* c, bool* present)
{
    *c = {};
    *present = false;
    if (fd_ < 0) return EBADF;
    serial_icounter_struct ic{};
    if (::ioctl(fd_, TIOCGICOUNT, &ic) != 0) {
        if (NotSupported(errno)) return 0;
        return errno;
    }
    *present = true;
    c->cts = static_cast<uint32_t>(ic.cts);
    c->dsr = static_cast<uint32_t>(ic.dsr);
    c->rng = static_cast<uint32_t>(ic.rng);
    c->dcd = static_cast<uint32_t>(ic.dcd);
    c->frame = static_cast<uint32_t>(ic.frame);
    c->overrun = static_cast<uint32_t>(ic.overrun);
    c->parity = static_cast<uint32_t>(ic.parity);
    c->brk = static_cast<uint32_t>(ic.brk);
    c->bufOverrun = static_cast<uint32_t>(ic.buf_overrun);
    return 0;
}

int TTermiosDevice::Wait(bool wantRead, bool wantWrite, int timeoutMs, int wakeFd, TDeviceWaitResult* result)
{
    *result = {};
    if (fd_ < 0) return EBADF;
    pollfd p[2] = {{fd_, 0, 0}, {wakeFd, POLLIN, 0}};
    if (wantRead) p[0].events |= POLLIN;
    if (wantWrite) p[0].events |= POLLOUT;
    const nfds_t n = wakeFd >= 0 ? 2 : 1;
    const int r = ::poll(p, n, timeoutMs < 0 ? -1 : timeoutMs);
    if (r < 0) return errno == EINTR ? 0 : errno;
    result->readable = p[0].revents & POLLIN;
    result->writable = p[0].revents & POLLOUT;
    result->hangup = p[0].revents & (POLLHUP | POLLERR | POLLNVAL);
    result->woken = n == 2 && (p[1].revents & POLLIN);
    return 0;
}
