#include "tools/vmodule/air_link.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <thread>

#include "module/config_layout.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr int kRates[] = {76800, 38400, 19200, 9600, 4800};
constexpr size_t kIdentityBytes = 16 + 1 + 4 + 4 + 1;
// How often a lone listener checks that the socket path is still its own,
// and how soon a failed rendezvous is tried again.
constexpr auto kRendezvousRecheck = milliseconds(500);

void CloseFd(int& fd)
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::vector<uint8_t> EncodeIdentity(const TAirIdentity& id)
{
    std::vector<uint8_t> out(id.key.begin(), id.key.end());
    out.push_back(id.channel);
    out.insert(out.end(), id.frequencies.begin(), id.frequencies.end());
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(uint32_t(id.rfBps) >> (8 * i)));
    out.push_back(id.pointA ? 1 : 0);
    return out;
}

TAirIdentity DecodeIdentity(const uint8_t* p)
{
    TAirIdentity id;
    std::copy(p, p + 16, id.key.begin());
    id.channel = p[16];
    std::copy(p + 17, p + 21, id.frequencies.begin());
    uint32_t r = 0;
    for (int i = 0; i < 4; ++i) r |= uint32_t(p[21 + i]) << (8 * i);
    id.rfBps = int(r);
    id.pointA = p[25] != 0;
    return id;
}

int MsUntil(Clock::time_point t, Clock::time_point now)
{
    if (t <= now) return 0;
    const auto ms = std::chrono::duration_cast<milliseconds>(t - now).count() + 1;
    return int(std::min<long long>(ms, INT_MAX));
}

}  // namespace

TAirIdentity AirIdentityOf(const std::array<uint8_t, 128>& c)
{
    using namespace config_layout;
    TAirIdentity id;
    std::copy(c.begin() + kOffKey, c.begin() + kOffKey + 16, id.key.begin());
    id.channel = uint8_t((c[kOffChannel] >> 2) & 0x0F);
    if (id.channel >= 12) {
        const int off = kOffChannels12 + 4 * (id.channel - 12);
        std::copy(c.begin() + off, c.begin() + off + 4, id.frequencies.begin());
    }
    // The rate code r in bits 2-4 (4 is 76800 bps, 0 is 4800 bps); bit 6 set is Point A.
    const int r = (c[kOffRateRole] >> 2) & 0x07;
    id.rfBps = r <= 4 ? kRates[4 - r] : kRates[0];
    id.pointA = (c[kOffRateRole] & 0x40) != 0;
    return id;
}

bool MakesPair(const TAirIdentity& a, const TAirIdentity& b)
{
    return a.key == b.key && a.channel == b.channel && a.frequencies == b.frequencies && a.rfBps == b.rfBps &&
           a.pointA != b.pointA;
}

int64_t AirTimeUs(int payload, int rfBps)
{
    return (int64_t(payload + kAirOverhead) * 8 * 1000000 + rfBps - 1) / std::max(1, rfBps);
}

double AirCapacityBytesPerSecond(int rfBps)
{
    return kAirMaxPayload * 1e6 / double(AirTimeUs(kAirMaxPayload, rfBps));
}

namespace {

// A folder only this user can enter: ours, a real folder (no link), no
// group or other bits.
bool PrivateFolder(const std::string& dir, std::string* why)
{
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        *why = dir + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) *why = dir + " is not a folder";
    else if (st.st_uid != ::geteuid()) *why = dir + " belongs to another user";
    else if (st.st_mode & 077) *why = dir + " is open to other users (it must be mode 0700)";
    return why->empty();
}

std::string TemporaryAirFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/tarnwick-air-" + std::to_string(::geteuid());
}

// The peer at the other end of a Unix socket runs as this user.
bool SameUser(int fd)
{
    ucred cred {};
    socklen_t size = sizeof cred;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 && cred.uid == ::geteuid();
}

}  // namespace

std::string AirFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string why;
    if (runtime && *runtime == '/' && PrivateFolder(runtime, &why)) return runtime;
    return TemporaryAirFolder();
}

bool PrepareAirFolder(std::string* folder, std::string* error)
{
    *folder = AirFolder();
    if (::mkdir(folder->c_str(), 0700) != 0 && errno != EEXIST) {
        if (error) *error = "cannot make the air's folder " + *folder + ": " + std::strerror(errno);
        return false;
    }
    std::string why;
    if (!PrivateFolder(*folder, &why)) {
        if (error) *error = "the air's folder is not private: " + why + "; remove it and start again";
        return false;
    }
    return true;
}

std::string AirSocketPath(const std::string& name)
{
    const std::string dir = AirFolder();
    return dir == TemporaryAirFolder() ? dir + "/" + name : dir + "/tarnwick-air-" + name;
}

struct TAirLink::Impl {
    struct TPacket {
        Clock::time_point due;
        std::vector<uint8_t> bytes;
    };
    // One transmitter: the serial bytes waiting, the air it keeps busy and
    // the packets on their way.
    struct TRadio {
        std::deque<uint8_t> queue;
        Clock::time_point lastIn{};
        Clock::time_point airFreeAt{};
        std::deque<TPacket> flying;
    };

    TAirOptions opt;
    std::function<TAirIdentity()> identity;
    Deliver deliver;
    std::string path;

    mutable std::mutex m;  // the radios, counts and descriptors' state below
    TRadio local;
    TRadio far;  // loopback: the far end sending back what it received
    TCounts counts;
    bool peerUp = false;
    std::mt19937_64 rng;

    int wakeRead = -1, wakeWrite = -1;
    int listenFd = -1, peerFd = -1;
    ino_t listenIno = 0;
    Clock::time_point nextRendezvous{};
    std::atomic<bool> stop{false};
    std::thread thread;

    void Wake() const
    {
        const char c = 1;
        if (wakeWrite >= 0) [[maybe_unused]] const ssize_t n = ::write(wakeWrite, &c, 1);
    }

    void Rendezvous(Clock::time_point now);
    void CheckListenPath(Clock::time_point now);
    void AcceptPeer();
    void ReadPeer();
    void DropPeer();
    void Transmit(TRadio& r, Clock::time_point now, int rfBps);
    bool Spoil(std::vector<uint8_t>& bytes);
    void Emit(bool fromLocal, std::vector<uint8_t> bytes, Clock::time_point now);
    Clock::time_point NextEvent(const TRadio& r) const;
    void Run();
};

void TAirLink::Impl::DropPeer()
{
    CloseFd(peerFd);
    std::lock_guard<std::mutex> lock(m);
    peerUp = false;
}

// The first module on an air listens, the second connects. The listening
// socket is made under a temporary name and renamed into place, so a module
// that connects finds either a listener or nothing; a file left by a module
// that died refuses the connection and is replaced.
void TAirLink::Impl::Rendezvous(Clock::time_point now)
{
    if (peerFd >= 0 || listenFd >= 0 || now < nextRendezvous) return;
    nextRendezvous = now + kRendezvousRecheck;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);

    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        if (!SameUser(fd)) {  // a listener of another user is no module of ours
            ::close(fd);
            return;
        }
        peerFd = fd;
        std::lock_guard<std::mutex> lock(m);
        peerUp = true;
        return;
    }
    const int e = errno;
    ::close(fd);
    if (e == ECONNREFUSED) ::unlink(path.c_str());
    else if (e != ENOENT) return;

    const std::string tmp = path + ".tmp" + std::to_string(::getpid());
    sockaddr_un taddr{};
    taddr.sun_family = AF_UNIX;
    if (tmp.size() >= sizeof taddr.sun_path) return;
    std::memcpy(taddr.sun_path, tmp.c_str(), tmp.size() + 1);
    ::unlink(tmp.c_str());
    fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    struct stat st {};
    if (::bind(fd, reinterpret_cast<sockaddr*>(&taddr), sizeof taddr) != 0 || ::listen(fd, 2) != 0 ||
        ::stat(tmp.c_str(), &st) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::close(fd);
        ::unlink(tmp.c_str());
        return;
    }
    listenFd = fd;
    listenIno = st.st_ino;
}

// Another module that lost a race may have put its own socket in place:
// a listener whose path is gone or taken starts over.
void TAirLink::Impl::CheckListenPath(Clock::time_point now)
{
    if (listenFd < 0 || peerFd >= 0 || now < nextRendezvous) return;
    nextRendezvous = now + kRendezvousRecheck;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || st.st_ino != listenIno) {
        CloseFd(listenFd);
        nextRendezvous = now;
        Rendezvous(now);
    }
}

void TAirLink::Impl::AcceptPeer()
{
    for (;;) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        // An air carries one pair, and only of this user's modules: the
        // configuration memories it reads hold the key.
        if (peerFd >= 0 || !SameUser(fd)) {
            ::close(fd);
            continue;
        }
        peerFd = fd;
        std::lock_guard<std::mutex> lock(m);
        peerUp = true;
    }
}

void TAirLink::Impl::ReadPeer()
{
    uint8_t buf[kIdentityBytes + kAirMaxPayload + 16];
    for (;;) {
        const ssize_t n = ::recv(peerFd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n <= 0) {
            DropPeer();
            return;
        }
        if (size_t(n) < kIdentityBytes) continue;
        // A real receiver hears only a transmitter on its channel and rate,
        // and decrypts only with its key; the roles must differ.
        const bool paired = MakesPair(identity(), DecodeIdentity(buf));
        {
            std::lock_guard<std::mutex> lock(m);
            ++(paired ? counts.packetsTaken : counts.packetsRefused);
        }
        if (paired && size_t(n) > kIdentityBytes) deliver(std::vector<uint8_t>(buf + kIdentityBytes, buf + n));
    }
}

// Under m. Starts every packet the air has room for.
void TAirLink::Impl::Transmit(TRadio& r, Clock::time_point now, int rfBps)
{
    while (!r.queue.empty()) {
        const bool full = r.queue.size() >= size_t(kAirMaxPayload);
        if (!full && now < r.lastIn + milliseconds(kAirGapMs)) return;
        if (now < r.airFreeAt) return;
        // Back to back while the air was busy a moment ago: the packet starts
        // when the last one ended, whenever this thread woke.
        const auto start = r.airFreeAt + milliseconds(5) > now ? r.airFreeAt : now;
        const size_t n = std::min(r.queue.size(), size_t(kAirMaxPayload));
        TPacket p;
        p.bytes.assign(r.queue.begin(), r.queue.begin() + long(n));
        r.queue.erase(r.queue.begin(), r.queue.begin() + long(n));
        r.airFreeAt = start + microseconds(AirTimeUs(int(n), rfBps));
        p.due = r.airFreeAt + milliseconds(opt.latencyMs);
        r.flying.push_back(std::move(p));
        ++counts.packetsSent;
    }
}

// Under m. False when the packet is lost; flips bits as the air would.
bool TAirLink::Impl::Spoil(std::vector<uint8_t>& bytes)
{
    std::uniform_real_distribution<double> u(0.0, 1.0);
    if (opt.loss > 0 && u(rng) < opt.loss) {
        ++counts.packetsLost;
        return false;
    }
    if (opt.bitErrors > 0) {
        bool hit = false;
        // Geometric gaps between errors: one draw per error, not per bit.
        const double logq = std::log1p(-std::min(opt.bitErrors, 0.999999));
        double pos = std::floor(std::log(1.0 - u(rng)) / logq);
        while (pos < double(bytes.size() * 8)) {
            const size_t bit = size_t(pos);
            bytes[bit / 8] ^= uint8_t(1u << (bit % 8));
            hit = true;
            pos += 1 + std::floor(std::log(1.0 - u(rng)) / logq);
        }
        if (hit) ++counts.packetsCorrupted;
    }
    return true;
}

Clock::time_point TAirLink::Impl::NextEvent(const TRadio& r) const
{
    auto t = Clock::time_point::max();
    if (!r.queue.empty()) {
        auto ready = r.queue.size() >= size_t(kAirMaxPayload) ? r.lastIn : r.lastIn + milliseconds(kAirGapMs);
        t = std::max(ready, r.airFreeAt);
    }
    if (!r.flying.empty()) t = std::min(t, r.flying.front().due);
    return t;
}

void TAirLink::Impl::Run()
{
    for (;;) {
        auto now = Clock::now();
        Rendezvous(now);
        CheckListenPath(now);

        // Packets whose air time and latency have passed go on; a packet
        // for the serial line is handed over outside the lock.
        std::vector<std::vector<uint8_t>> toLine;
        std::vector<std::vector<uint8_t>> toPeer;
        auto next = Clock::time_point::max();
        {
            std::lock_guard<std::mutex> lock(m);
            const int rate = identity().rfBps;
            Transmit(local, now, rate);
            while (!local.flying.empty() && local.flying.front().due <= now) {
                std::vector<uint8_t> bytes = std::move(local.flying.front().bytes);
                local.flying.pop_front();
                if (!Spoil(bytes)) continue;
                if (opt.loopback) {
                    far.queue.insert(far.queue.end(), bytes.begin(), bytes.end());
                    far.lastIn = now;
                } else {
                    toPeer.push_back(std::move(bytes));
                }
            }
            if (opt.loopback) {
                Transmit(far, now, rate);
                while (!far.flying.empty() && far.flying.front().due <= now) {
                    std::vector<uint8_t> bytes = std::move(far.flying.front().bytes);
                    far.flying.pop_front();
                    if (Spoil(bytes)) toLine.push_back(std::move(bytes));
                }
                Transmit(far, now, rate);
                next = std::min(next, NextEvent(far));
            }
            next = std::min(next, NextEvent(local));
        }
        if (!toPeer.empty() && peerFd >= 0) {
            const std::vector<uint8_t> head = EncodeIdentity(identity());
            for (const auto& bytes : toPeer) {
                std::vector<uint8_t> msg = head;
                msg.insert(msg.end(), bytes.begin(), bytes.end());
                // A full socket is a peer that does not listen: the packet is lost.
                if (::send(peerFd, msg.data(), msg.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0 && errno == EPIPE)
                    DropPeer();
            }
        }
        for (auto& bytes : toLine) deliver(std::move(bytes));

        now = Clock::now();
        int timeout = next == Clock::time_point::max() ? -1 : MsUntil(next, now);
        if (peerFd < 0) {
            const int t = MsUntil(nextRendezvous, now);
            timeout = timeout < 0 ? t : std::min(timeout, t);
        }
        pollfd fds[3] = {{wakeRead, POLLIN, 0}, {listenFd, POLLIN, 0}, {peerFd, POLLIN, 0}};
        const int rc = ::poll(fds, 3, timeout);
        if (stop) return;
        if (rc <= 0) continue;
        if (fds[0].revents) {
            char b[256];
            while (::read(wakeRead, b, sizeof b) > 0) {
            }
        }
        if (listenFd >= 0 && fds[1].revents) AcceptPeer();
        if (peerFd >= 0 && fds[2].revents) ReadPeer();
    }
}

TAirLink::TAirLink(TAirOptions options, std::function<TAirIdentity()> identity, Deliver deliver)
    : d_(std::make_unique<Impl>())
{
    d_->opt = std::move(options);
    d_->identity = std::move(identity);
    d_->deliver = std::move(deliver);
    const uint64_t start = d_->opt.randomStart ? d_->opt.randomStart
                                               : uint64_t(Clock::now().time_since_epoch().count()) ^ uint64_t(::getpid());
    d_->rng = std::mt19937_64(start);
}

TAirLink::~TAirLink() { Stop(); }

bool TAirLink::Start(std::string* error)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (error) *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    d_->wakeRead = fds[0];
    d_->wakeWrite = fds[1];
    if (!d_->opt.loopback && !d_->opt.name.empty()) {
        std::string folder;
        if (!PrepareAirFolder(&folder, error)) {
            CloseFd(d_->wakeRead);
            CloseFd(d_->wakeWrite);
            return false;
        }
        d_->path = AirSocketPath(d_->opt.name);
        if (d_->path.size() >= sizeof(sockaddr_un{}.sun_path)) {
            if (error) *error = "the air's socket path is too long: " + d_->path;
            return false;
        }
    }
    if (d_->path.empty()) d_->nextRendezvous = Clock::time_point::max();
    d_->stop = false;
    d_->thread = std::thread([this] { d_->Run(); });
    return true;
}

void TAirLink::Stop()
{
    if (!d_->thread.joinable()) return;
    d_->stop = true;
    d_->Wake();
    d_->thread.join();
    if (d_->listenFd >= 0) {
        struct stat st {};
        if (::stat(d_->path.c_str(), &st) == 0 && st.st_ino == d_->listenIno) ::unlink(d_->path.c_str());
    }
    CloseFd(d_->listenFd);
    CloseFd(d_->peerFd);
    CloseFd(d_->wakeRead);
    CloseFd(d_->wakeWrite);
}

void TAirLink::Send(const uint8_t* data, size_t n)
{
    {
        std::lock_guard<std::mutex> lock(d_->m);
        const size_t room = kAirBufferBytes - std::min(kAirBufferBytes, d_->local.queue.size());
        const size_t take = std::min(room, n);
        d_->local.queue.insert(d_->local.queue.end(), data, data + take);
        d_->counts.bytesDropped += long(n - take);
        d_->local.lastIn = Clock::now();
    }
    d_->Wake();
}

TAirLink::TCounts TAirLink::Counts() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->counts;
}

bool TAirLink::PeerConnected() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->peerUp;
}
