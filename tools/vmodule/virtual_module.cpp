#include "tools/vmodule/virtual_module.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "tools/vmodule/line_rate.h"
#include "tools/vmodule/module_image.h"
#include "tools/vmodule/module_protocol.h"

namespace {

using Clock = std::chrono::steady_clock;

// A frame left unfinished this long is dropped, so a module that lost bytes
// finds the next command again. Well above the longest gap inside a frame
// (the 300 ms pause after a command's first byte).
constexpr auto kFrameTimeout = std::chrono::milliseconds(1500);
// Re-check interval while the slave is closed, used only without inotify.
constexpr int kClosedRecheckMs = 20;

std::string ErrnoText(const char* what, int e) { return std::string(what) + ": " + std::strerror(e); }

void CloseFd(int& fd)
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

int MsUntil(Clock::time_point t, Clock::time_point now)
{
    if (t <= now) return 0;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - now).count() + 1;
    return int(std::min<long long>(ms, INT_MAX));
}

TProtocolQuirks QuirksOf(const TVirtualModuleFaults& f)
{
    TProtocolQuirks q;
    q.readFlashHeader = f.readFlashHeader;
    q.extraReplyByte = f.extraReplyByte;
    q.versionReplyLength = f.versionReplyLength;
    q.versionFirstByte = f.versionFirstByte;
    q.corruptWriteAddress = f.corruptWriteAddress;
    return q;
}

}  // namespace

struct TVirtualModule::Impl {
    struct Pending {
        Clock::time_point due;
        std::vector<uint8_t> bytes;
    };

    // Guards everything below that the module thread and callers share.
    mutable std::mutex m;
    TModuleProtocol proto;
    TVirtualModuleFaults faults;
    long bytesSinceFaults = 0;
    std::vector<uint8_t> received;
    long receivedCount = 0;
    size_t receivedLimit = size_t(1) << 20;
    std::string imageFile;
    std::string imageError;
    std::string slavePath;
    std::string linkPath;
    bool linkCreated = false;
    bool started = false;  // a Start succeeded since the last Stop: saving is safe

    std::mutex control;    // serialises Start and Stop
    std::mutex saving;     // serialises image saves from any thread
    std::atomic<bool> running{false};
    std::atomic<bool> stopRequested{false};
    std::thread thread;

    // Live as long as the object, so any thread may wake the module thread.
    int wakeRead = -1;
    int wakeWrite = -1;
    // Owned by the module thread while it runs.
    int master = -1;
    int inotifyFd = -1;
    // The module's own slave descriptor, held while inotify counts the
    // peer's opens and closes: through it the exclusive-open flag that a
    // peer leaves behind (also one that died with the port open) is cleared,
    // which a non-root module could no longer do by opening the slave anew.
    int slaveHold = -1;
    int peerOpens = 0;
    std::deque<Pending> pending;
    Clock::time_point lastByte;
    std::vector<uint8_t> injected;  // guarded by m; moved to pending by the module thread
    std::function<void(const uint8_t*, size_t)> serialSink;  // set before Start

    Impl()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            wakeRead = fds[0];
            wakeWrite = fds[1];
        }
    }
    ~Impl()
    {
        CloseFd(wakeRead);
        CloseFd(wakeWrite);
    }

    void Wake() const
    {
        if (wakeWrite < 0) return;
        const char c = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeWrite, &c, 1);
    }

    void SaveImage()
    {
        std::string path;
        TModuleImage image;
        {
            std::lock_guard<std::mutex> lock(m);
            if (imageFile.empty() || !started) return;
            path = imageFile;
            image = proto.GetMemory();
        }
        std::lock_guard<std::mutex> lock(saving);
        std::string error;
        const bool ok = SaveModuleImage(path, image, &error);
        std::lock_guard<std::mutex> lock2(m);
        imageError = ok ? std::string() : error;
    }

    void Run();
    bool HangUpDue();
    void HangUp();
    bool Process(const uint8_t* data, size_t n);
    bool SlaveClosedNow() const;
    void CountPeerOpens();
    void DrainFd(int fd) const;
    void SendDue(bool slaveClosed);
    bool MakeLink(std::string* error);
    void RemoveLink();
};

bool TVirtualModule::Impl::HangUpDue()
{
    std::lock_guard<std::mutex> lock(m);
    return faults.hangUpAfterBytes >= 0 && bytesSinceFaults >= faults.hangUpAfterBytes;
}

// Closing the master is what an unplugged adapter looks like to the panel.
void TVirtualModule::Impl::HangUp()
{
    CloseFd(master);
    CloseFd(slaveHold);
    pending.clear();
    running = false;
}

void TVirtualModule::Impl::DrainFd(int fd) const
{
    if (fd < 0) return;
    char buf[512];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
}

// True when no one has the slave open and nothing is left to read: the
// master then reports a hang-up until the next open.
bool TVirtualModule::Impl::SlaveClosedNow() const
{
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return false;
    return (p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLIN);
}

// Reads the slave's open and close events.
// A real line keeps no exclusive flag once its user is gone, so the flag
// goes, and so do the bytes the peer left unread.
void TVirtualModule::Impl::CountPeerOpens()
{
    alignas(inotify_event) char buf[4096];
    bool closed = false;
    for (;;) {
        const ssize_t n = ::read(inotifyFd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
            if (ev->mask & IN_OPEN) ++peerOpens;
            if (ev->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                peerOpens = std::max(0, peerOpens - 1);
                closed = true;
            }
            off += ssize_t(sizeof(inotify_event)) + ssize_t(ev->len);
        }
    }
    if (closed && peerOpens == 0) {
        ::ioctl(slaveHold, TIOCNXCL);
        ::tcflush(slaveHold, TCIFLUSH);
    }
}

// Takes received bytes; true when the module hung up on one of them.
bool TVirtualModule::Impl::Process(const uint8_t* data, size_t n)
{
    const auto now = Clock::now();
    bool written = false;
    // The line's settings belong to the pty: the master reads what the
    // panel set on its side. At another rate a real module would see only
    // garbled bytes; here they are recorded and dropped.
    long onlyAt;
    {
        std::lock_guard<std::mutex> lock(m);
        onlyAt = faults.onlyAtBaud;
    }
    const bool wrongRate = onlyAt > 0 && LineRateOf(master) != onlyAt;
    {
        std::lock_guard<std::mutex> lock(m);
        for (size_t i = 0; i < n; ++i) {
            const uint8_t b = data[i];
            if (receivedLimit > 0) {
                if (received.size() >= receivedLimit) {
                    // Drop the older half at once, so recording stays cheap.
                    const size_t drop = std::max<size_t>(1, received.size() / 2);
                    received.erase(received.begin(), received.begin() + long(drop));
                }
                received.push_back(b);
            }
            ++receivedCount;
            ++bytesSinceFaults;
            if (faults.hangUpAfterBytes >= 0 && bytesSinceFaults >= faults.hangUpAfterBytes) {
                HangUp();
                return true;
            }
            if (wrongRate || serialSink) continue;
            TModuleProtocol::Result r = proto.Feed(b);
            written = written || r.memoryWritten;
            const bool mute =
                faults.silent || (faults.silentAfterBytes >= 0 && bytesSinceFaults > faults.silentAfterBytes);
            if (!mute && !r.reply.empty())
                pending.push_back({now + std::chrono::milliseconds(std::max(0, faults.replyDelayMs)),
                                   std::move(r.reply)});
        }
        lastByte = now;
    }
    if (serialSink && !wrongRate) serialSink(data, n);
    if (written) SaveImage();
    return false;
}

void TVirtualModule::Impl::SendDue(bool slaveClosed)
{
    const auto now = Clock::now();
    while (!pending.empty() && pending.front().due <= now) {
        // With the slave closed the bytes would wait in the pty for the next
        // open; a real line would lose them, and so does this one.
        if (!slaveClosed) {
            const auto& bytes = pending.front().bytes;
            size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t w = ::write(master, bytes.data() + done, bytes.size() - done);
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) break;  // full or gone: the rest is lost, as on a line
                done += size_t(w);
            }
        }
        pending.pop_front();
    }
}

void TVirtualModule::Impl::Run()
{
    uint8_t buf[4096];
    // Holding the slave, the master sees no hang-up when the peer closes:
    // the open count tells instead.
    const bool holding = slaveHold >= 0;
    bool slaveClosed = holding ? true : SlaveClosedNow();
    for (;;) {
        if (HangUpDue()) {
            std::lock_guard<std::mutex> lock(m);
            HangUp();
            return;
        }
        const auto now = Clock::now();
        int timeout = -1;
        if (!pending.empty()) timeout = MsUntil(pending.front().due, now);
        bool inFrame;
        {
            std::lock_guard<std::mutex> lock(m);
            inFrame = proto.InFrame();
        }
        if (inFrame) {
            const int t = MsUntil(lastByte + kFrameTimeout, now);
            timeout = timeout < 0 ? t : std::min(timeout, t);
        }
        if (slaveClosed && inotifyFd < 0) timeout = timeout < 0 ? kClosedRecheckMs : std::min(timeout, kClosedRecheckMs);

        pollfd fds[3];
        fds[0] = {wakeRead, POLLIN, 0};
        fds[1] = {slaveClosed ? inotifyFd : master, POLLIN, 0};
        fds[2] = {holding ? inotifyFd : -1, POLLIN, 0};
        const int nfds = fds[1].fd >= 0 ? 2 : 1;
        const int rc = ::poll(fds, nfds_t(holding && !slaveClosed ? 3 : nfds), timeout);
        if (rc < 0 && errno != EINTR) {
            std::lock_guard<std::mutex> lock(m);
            HangUp();
            return;
        }
        if (rc > 0 && (fds[0].revents & POLLIN)) DrainFd(wakeRead);
        if (stopRequested) return;

        // Reads what the master holds; true when the module hung up on it.
        bool gone = false;
        auto takeInput = [&] {
            for (;;) {
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0) {
                    if (Process(buf, size_t(n))) return true;
                    continue;
                }
                if (n < 0 && errno == EINTR) continue;
                if (n < 0 && errno == EAGAIN) return false;
                gone = true;  // EIO: the slave was closed and its bytes are all read
                return false;
            }
        };
        if (holding) {
            const bool events = rc > 0 && (fds[slaveClosed ? 1 : 2].revents & POLLIN);
            const bool input = rc > 0 && !slaveClosed && (fds[1].revents & POLLIN);
            // Bytes the peer wrote before it closed are taken first.
            if ((events || input) && takeInput()) return;
            if (events) {
                CountPeerOpens();
                slaveClosed = peerOpens == 0;
            }
        } else if (slaveClosed) {
            // Woken by an open of the slave (or, without inotify, by the
            // re-check interval): look again. Events are drained before the
            // look, so an open after it always wakes us.
            if (inotifyFd < 0 || (rc > 0 && nfds == 2 && fds[1].revents)) {
                DrainFd(inotifyFd);
                slaveClosed = SlaveClosedNow();
            }
        } else if (rc > 0 && nfds == 2 && fds[1].revents) {
            if (takeInput()) return;
            if (gone || (fds[1].revents & (POLLHUP | POLLERR))) {
                DrainFd(inotifyFd);
                slaveClosed = SlaveClosedNow();
            }
        }

        {
            std::lock_guard<std::mutex> lock(m);
            if (proto.InFrame() && Clock::now() - lastByte >= kFrameTimeout) proto.AbortFrame();
            if (!injected.empty()) {
                pending.push_back({Clock::now(), std::move(injected)});
                injected.clear();
            }
        }
        SendDue(slaveClosed);
    }
}

bool TVirtualModule::Impl::MakeLink(std::string* error)
{
    struct stat st;
    if (::lstat(linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        if (error) *error = linkPath + " exists and is not a symbolic link";
        return false;
    }
    // Made beside the target and renamed over it: an old link is replaced whole.
    const std::string tmp = linkPath + ".tmp" + std::to_string(::getpid());
    ::unlink(tmp.c_str());
    if (::symlink(slavePath.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), linkPath.c_str()) != 0) {
        const int e = errno;
        ::unlink(tmp.c_str());
        if (error) *error = ErrnoText(("cannot create the link " + linkPath).c_str(), e);
        return false;
    }
    linkCreated = true;
    return true;
}

void TVirtualModule::Impl::RemoveLink()
{
    if (!linkCreated) return;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(linkPath.c_str(), target, sizeof target - 1);
    // Leave it when someone has pointed it elsewhere since.
    if (n >= 0 && std::string(target, size_t(n)) == slavePath) ::unlink(linkPath.c_str());
    linkCreated = false;
}

TVirtualModule::TVirtualModule() : d_(std::make_unique<Impl>()) {}

TVirtualModule::~TVirtualModule() { Stop(); }

bool TVirtualModule::Start(std::string* error)
{
    std::lock_guard<std::mutex> control(d_->control);
    if (d_->running) return true;
    Impl& d = *d_;
    // After a hang-up the thread has ended by itself; collect it and its descriptors.
    if (d.thread.joinable()) d.thread.join();
    CloseFd(d.master);
    CloseFd(d.inotifyFd);
    CloseFd(d.slaveHold);
    {
        std::lock_guard<std::mutex> lock(d.m);
        d.RemoveLink();
    }
    if (d.wakeRead < 0) {
        if (error) *error = "no wake-up pipe for the module thread";
        return false;
    }
    d.DrainFd(d.wakeRead);

    std::string imageFile;
    {
        std::lock_guard<std::mutex> lock(d.m);
        imageFile = d.imageFile;
    }
    if (!imageFile.empty()) {
        TModuleImage image;
        std::string e;
        const TImageLoad r = LoadModuleImage(imageFile, &image, &e);
        std::lock_guard<std::mutex> lock(d.m);
        if (r == TImageLoad::Failed) {
            d.imageError = e;
            if (error) *error = e;
            return false;
        }
        if (r == TImageLoad::Loaded) d.proto.SetMemory(image);
    }

    auto fail = [&](const char* what) {
        const int e = errno;
        CloseFd(d.master);
        CloseFd(d.inotifyFd);
        CloseFd(d.slaveHold);
        if (error) *error = ErrnoText(what, e);
        return false;
    };
    d.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (d.master < 0) return fail("posix_openpt");
    if (::grantpt(d.master) != 0) return fail("grantpt");
    if (::unlockpt(d.master) != 0) return fail("unlockpt");
    char name[128];
    if (::ptsname_r(d.master, name, sizeof name) != 0) return fail("ptsname");

    // Raw mode once, before any byte arrives: the slave's line discipline
    // would otherwise echo and translate what the panel sends until the panel
    // sets its own mode. The settings stay with the pty across closes.
    {
        const int s = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (s < 0) return fail("open the pty slave");
        termios t{};
        if (::tcgetattr(s, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(s, TCSANOW, &t);
        }
        d.slaveHold = s;
    }
    // Tells the thread when the panel opens and closes the slave; without it
    // the module holds no slave descriptor and re-checks at a short interval
    // while the slave is closed.
    d.peerOpens = 0;
    d.inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (d.inotifyFd >= 0 && ::inotify_add_watch(d.inotifyFd, name, IN_OPEN | IN_CLOSE) < 0) CloseFd(d.inotifyFd);
    if (d.inotifyFd < 0) CloseFd(d.slaveHold);

    {
        std::lock_guard<std::mutex> lock(d.m);
        d.slavePath = name;
        if (!d.linkPath.empty() && !d.MakeLink(error)) {
            CloseFd(d.master);
            CloseFd(d.inotifyFd);
            CloseFd(d.slaveHold);
            return false;
        }
        // A fresh power-up: registers cleared, no frame half-received.
        d.proto.SetRegisters({});
        d.proto.AbortFrame();
        d.bytesSinceFaults = 0;
        d.injected.clear();
        d.started = true;
    }
    d.pending.clear();
    d.lastByte = Clock::now();
    d.stopRequested = false;
    d.running = true;
    d.thread = std::thread([&d] { d.Run(); });
    return true;
}

void TVirtualModule::Stop()
{
    std::lock_guard<std::mutex> control(d_->control);
    Impl& d = *d_;
    if (d.thread.joinable()) {
        d.stopRequested = true;
        d.Wake();
        d.thread.join();
    }
    d.running = false;
    CloseFd(d.inotifyFd);
    CloseFd(d.slaveHold);
    CloseFd(d.master);
    d.pending.clear();
    d.SaveImage();
    std::lock_guard<std::mutex> lock(d.m);
    d.started = false;
    d.RemoveLink();
}

bool TVirtualModule::Running() const { return d_->running; }

std::string TVirtualModule::PortPath() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->linkCreated ? d_->linkPath : d_->slavePath;
}

std::string TVirtualModule::SlavePath() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->slavePath;
}

void TVirtualModule::SetLinkPath(const std::string& path)
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->linkPath = path;
}

std::array<uint8_t, 256> TVirtualModule::Memory() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->proto.GetMemory();
}

void TVirtualModule::SetMemory(const std::array<uint8_t, 256>& mem)
{
    {
        std::lock_guard<std::mutex> lock(d_->m);
        d_->proto.SetMemory(mem);
    }
    d_->SaveImage();
}

std::array<uint8_t, 8> TVirtualModule::Registers() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->proto.GetRegisters();
}

uint16_t TVirtualModule::UnitAddress() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->proto.UnitAddress();
}

void TVirtualModule::SetUnitAddress(uint16_t a)
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->proto.SetUnitAddress(a);
}

TVirtualModuleFaults TVirtualModule::Faults() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->faults;
}

void TVirtualModule::SetFaults(const TVirtualModuleFaults& f)
{
    {
        std::lock_guard<std::mutex> lock(d_->m);
        d_->faults = f;
        d_->proto.SetQuirks(QuirksOf(f));
        d_->bytesSinceFaults = 0;
    }
    // A hang-up after zero bytes happens now, not at the next byte.
    if (f.hangUpAfterBytes == 0) d_->Wake();
}

long TVirtualModule::LineBaud() const
{
    // Start and Stop change the master under control, a hang-up under m.
    std::lock_guard<std::mutex> control(d_->control);
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->master >= 0 ? LineRateOf(d_->master) : 0;
}

std::vector<uint8_t> TVirtualModule::Received() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->received;
}

void TVirtualModule::ClearReceived()
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->received.clear();
    d_->receivedCount = 0;
}

long TVirtualModule::ReceivedCount() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->receivedCount;
}

void TVirtualModule::SetImageFile(const std::string& path)
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->imageFile = path;
}

std::string TVirtualModule::ImageError() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->imageError;
}

void TVirtualModule::SetReceivedLimit(size_t bytes)
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->receivedLimit = bytes;
    if (d_->received.size() > bytes)
        d_->received.erase(d_->received.begin(), d_->received.end() - long(bytes));
}

std::vector<uint8_t> TVirtualModule::SentSerialData() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->proto.LastSerialData();
}

void TVirtualModule::SetSerialSink(std::function<void(const uint8_t*, size_t)> sink)
{
    d_->serialSink = std::move(sink);
}

void TVirtualModule::Inject(const std::vector<uint8_t>& bytes)
{
    if (bytes.empty()) return;
    {
        std::lock_guard<std::mutex> lock(d_->m);
        d_->injected.insert(d_->injected.end(), bytes.begin(), bytes.end());
    }
    d_->Wake();
}
