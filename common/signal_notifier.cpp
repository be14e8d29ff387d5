#include "common/signal_notifier.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Lock-free atomics: the only state a handler may touch.
std::atomic<int> g_writeFd{-1};
std::atomic<int> g_caught{0};

void OnSignal(int signo)
{
    if (g_caught.fetch_add(1) > 0) ::_exit(128 + signo);
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signo);
    const int fd = g_writeFd.load();
    // Nothing to do when it fails.
    if (fd >= 0 && ::write(fd, &byte, 1) < 0) {
    }
    errno = saved;
}

}  // namespace

TSignalNotifier::TSignalNotifier(std::initializer_list<int> signalNumbers, QObject* parent)
    : QObject(parent), signals_(signalNumbers)
{
    g_caught = 0;
    // Non-blocking: the handler never waits on a full socket.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds_) != 0) {
        // No way to tell the loop: the signals keep ending the program.
        fds_[0] = fds_[1] = -1;
        signals_.clear();
        return;
    }
    g_writeFd = fds_[1];
    notifier_ = new QSocketNotifier(fds_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Read(); });
    former_.resize(signals_.size());
    for (size_t i = 0; i < signals_.size(); ++i) {
        struct sigaction sa {};
        sa.sa_handler = OnSignal;
        sigemptyset(&sa.sa_mask);
        // The other threads' reads and writes go on; their polls see EINTR
        // and wait again.
        sa.sa_flags = SA_RESTART;
        sigaction(signals_[i], &sa, &former_[i]);
    }
}

TSignalNotifier::~TSignalNotifier()
{
    for (size_t i = 0; i < signals_.size(); ++i) sigaction(signals_[i], &former_[i], nullptr);
    g_writeFd = -1;
    delete notifier_;
    for (int fd : fds_)
        if (fd >= 0) ::close(fd);
}

void TSignalNotifier::Read()
{
    unsigned char bytes[16];
    ssize_t n;
    while ((n = ::read(fds_[0], bytes, sizeof bytes)) > 0 || (n < 0 && errno == EINTR))
        for (ssize_t i = 0; i < n; ++i) emit Received(bytes[i]);
}
