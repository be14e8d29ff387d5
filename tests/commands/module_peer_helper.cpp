#include "module_peer_helper.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

TModulePeer::TModulePeer()
{
    char name[128] = {};
    int master = -1;
    if (openpty(&master, &slave_, name, nullptr, nullptr) != 0) {
        slave_ = -1;
        return;
    }
    master_ = master;
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    slavePath_ = QString::fromLocal8Bit(name);
    thread_ = std::thread([this] { Run(); });
}

TModulePeer::~TModulePeer()
{
    HangUp();
}

void TModulePeer::Answer(const QByteArray& pattern, const QByteArray& reply)
{
    std::lock_guard<std::mutex> lock(m_);
    rules_.push_back({pattern, {reply}});
}

void TModulePeer::AnswerInTurn(const QByteArray& pattern, const std::vector<QByteArray>& replies)
{
    std::lock_guard<std::mutex> lock(m_);
    rules_.push_back({pattern, replies});
}

void TModulePeer::HangUp()
{
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    const int fd = master_.exchange(-1);
    if (fd >= 0) close(fd);
    if (slave_ >= 0) {
        ioctl(slave_, TIOCNXCL);
        close(slave_);
        slave_ = -1;
    }
}

void TModulePeer::AnswerPresence() { Answer(QByteArray(1, '\x0F'), QByteArray::fromHex("4301170000")); }

void TModulePeer::Send(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        pollfd p{master_, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0) return;
    }
}

QByteArray TModulePeer::Received() const
{
    std::lock_guard<std::mutex> lock(m_);
    return received_;
}

void TModulePeer::ClearReceived()
{
    std::lock_guard<std::mutex> lock(m_);
    received_.clear();
    window_.clear();
}

void TModulePeer::Run()
{
    while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        const int r = ::poll(&p, 1, 20);
        if (r <= 0) continue;
        if (!(p.revents & POLLIN)) {
            // Hung up between a close and the next open: wait, never spin.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        char buf[256];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        for (ssize_t i = 0; i < n; ++i) {
            QByteArray reply;
            bool matched = false;
            {
                std::lock_guard<std::mutex> lock(m_);
                received_.append(buf[i]);
                window_.append(buf[i]);
                for (auto it = rules_.rbegin(); it != rules_.rend(); ++it) {
                    if (window_.endsWith(it->pattern)) {
                        reply = it->replies.empty() ? QByteArray() : it->replies[it->next];
                        if (it->next + 1 < it->replies.size()) ++it->next;
                        matched = true;
                        break;
                    }
                }
                if (matched) window_.clear();
            }
            if (!reply.isEmpty()) Send(reply);
        }
    }
}
