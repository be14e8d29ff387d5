#include "vmodule_peer_helper.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

bool TPtyPeer::Open(const std::string& path, bool raw)
{
    Close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    if (!raw) return true;
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return false;
    ::cfmakeraw(&t);
    return ::tcsetattr(fd_, TCSANOW, &t) == 0;
}

void TPtyPeer::Close()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool TPtyPeer::Send(const std::vector<uint8_t>& bytes)
{
    for (uint8_t b : bytes) {
        ssize_t n;
        do n = ::write(fd_, &b, 1);
        while (n < 0 && errno == EINTR);
        if (n != 1) return false;
    }
    return true;
}

std::vector<uint8_t> TPtyPeer::Read(size_t count, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<uint8_t> out;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(left)) <= 0) continue;
        uint8_t buf[256];
        const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - out.size()));
        if (n > 0) out.insert(out.end(), buf, buf + n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;
    }
    return out;
}

std::vector<uint8_t> TPtyPeer::Exchange(const std::vector<uint8_t>& bytes, size_t count, int timeoutMs)
{
    if (!Send(bytes)) return {};
    return Read(count, timeoutMs);
}

std::vector<uint8_t> TPtyPeer::Pending()
{
    std::vector<uint8_t> out;
    uint8_t buf[256];
    ssize_t n;
    while ((n = ::read(fd_, buf, sizeof buf)) > 0) out.insert(out.end(), buf, buf + n);
    return out;
}

bool TPtyPeer::WaitHangUp(int timeoutMs)
{
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    if (p.revents & POLLHUP) return true;
    uint8_t b;
    const ssize_t n = ::read(fd_, &b, 1);
    return n == 0 || (n < 0 && errno == EIO);
}

std::vector<uint8_t> PatternBytes(int salt)
{
    std::vector<uint8_t> v(256);
    for (int i = 0; i < 256; ++i) v[size_t(i)] = uint8_t((i * 7 + salt * 13) % 255);
    return v;
}
