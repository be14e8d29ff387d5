#include "module/module_finder.h"

#include <chrono>

#include "module/line_claims.h"
#include "module/operation_observer.h"
#include "module/session.h"
#include "serial/com_port.h"

namespace {

constexpr int kBauds[] = {115200, 57600, 38400, 19200, 9600, 2400, 1200, 300};
constexpr uint8_t kReadVersion = 0x0F;
constexpr int kVersionWaitMs = 300;

QString VersionText(const char* b, int n)
{
    bool printable = true;
    for (int i = 0; i < n; ++i)
        if (b[i] < 0x20 || b[i] > 0x7E) printable = false;
    if (printable) return QString::fromLatin1(b, n).trimmed();
    QString hex;
    for (int i = 0; i < n; ++i)
        hex += QStringLiteral("%1 ").arg(uint8_t(b[i]), 2, 16, QLatin1Char('0')).toUpper();
    return hex.trimmed();
}

}  // namespace

int BaudOfItem(int baudItem) { return baudItem >= 0 && baudItem < 8 ? kBauds[baudItem] : 0; }

bool ProbeModuleAt(TCustomComPort& port, QString* version, TStopFlag* stop, QByteArray* replyBytes)
{
    TBlockingObserver observer(stop);
    TModuleSession session(port, stop);
    if (!session.Communication_Check(observer)) return false;
    // The check reads the version reply but keeps nothing of it: ask again.
    port.PurgeBuffers(true, false);
    session.WriteByte(kReadVersion);
    if (!session.WaitForBytes(5, kVersionWaitMs)) return false;
    char reply[5];
    if (port.ReadBytes(reply, 5) != 5 || uint8_t(reply[0]) != 0x43) return false;
    if (version) *version = VersionText(reply + 1, 4);
    if (replyBytes) *replyBytes = QByteArray(reply, 5);
    return true;
}

QString TFindResult::Summary() const
{
    if (!found) return {};
    return QStringLiteral("Tarnwick module %1 on %2 at %3 baud").arg(version, port).arg(BaudOfItem(baudItem));
}

QStringList TFindResult::TriedLines() const
{
    QStringList lines;
    QString port;
    QStringList rates;
    auto flush = [&] {
        if (!port.isEmpty() && !rates.isEmpty())
            lines << QStringLiteral("%1 at %2 baud").arg(port, rates.join(QStringLiteral(", ")));
        rates.clear();
    };
    for (const TFindAttempt& a : tried) {
        if (a.port != port) {
            flush();
            port = a.port;
        }
        if (!a.error.isEmpty()) {
            lines << QStringLiteral("%1: %2").arg(a.port, a.error);
            continue;
        }
        rates << QString::number(BaudOfItem(a.baudItem));
    }
    flush();
    return lines;
}

TModuleFinder::TModuleFinder(TFindRequest request)
    : req_(std::move(request)), total_(int(req_.ports.size() * req_.baudItems.size())), perPort_(size_t(req_.ports.size()))
{
}

TModuleFinder::~TModuleFinder()
{
    Abort();
    for (std::thread& t : workers_)
        if (t.joinable()) t.join();
}

void TModuleFinder::Start()
{
    std::lock_guard<std::mutex> lock(m_);
    if (started_) return;
    started_ = true;
    const int n = std::max(1, std::min<int>(req_.parallel, int(req_.ports.size())));
    running_ = req_.ports.isEmpty() ? 0 : n;
    if (req_.ports.isEmpty()) return;
    for (int i = 0; i < n; ++i) workers_.emplace_back([this] { Worker(); });
}

void TModuleFinder::Abort() { abort_.Request(); }

bool TModuleFinder::Finished() const
{
    std::lock_guard<std::mutex> lock(m_);
    return started_ && running_ == 0;
}

bool TModuleFinder::WaitFinished(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return started_ && running_ == 0; });
}

void TModuleFinder::Worker()
{
    for (;;) {
        const int i = next_.fetch_add(1);
        if (i >= req_.ports.size()) break;
        TryPort(i);
    }
    std::lock_guard<std::mutex> lock(m_);
    if (--running_ == 0) cv_.notify_all();
}

void TModuleFinder::TryPort(int index)
{
    std::vector<TFindAttempt> attempts;
    int left = int(req_.baudItems.size());
    {
        // The port object lives and dies on this thread; without events it
        // starts no event thread and needs no event loop of its own beyond
        // the check's pause.
        TComPort port;
        port.SetEvents(0);
        const TLineClaim claim(req_.ports[index], QStringLiteral("Find Module"));
        for (int item : req_.baudItems) {
            // A port earlier in the list answered: this one cannot win.
            if (abort_.Requested() || best_.load() < index) break;
            TFindAttempt a;
            a.port = req_.ports[index];
            a.baudItem = item;
            TPortChoices c = req_.settings;
            c.port = a.port;
            c.baudItem = item;
            bool opened = false;
            if (!claim.Ok()) {
                a.error = claim.Refusal();
                attempts.push_back(a);
                --left;
                ++done_;
                break;
            }
            try {
                ApplyPortChoices(port, c);
                port.ShareTraffic(req_.traffic);
                port.OpenPort();
                opened = port.Connected();
                a.answered = opened && ProbeModuleAt(port, &a.version, &abort_);
            } catch (const EComPort& e) {
                // A line that fails in the middle is as good as silent; one
                // that cannot be opened fails alike at every rate.
                if (!opened) a.error = e.Message();
                a.answered = false;
            }
            try {
                port.ClosePort();
            } catch (const EComPort&) {
            }
            attempts.push_back(a);
            --left;
            ++done_;
            if (OnProgress) OnProgress();
            if (!a.error.isEmpty()) break;
            if (a.answered) {
                int best = best_.load();
                while (index < best && !best_.compare_exchange_weak(best, index)) {
                }
                break;
            }
        }
    }
    done_ += left;
    {
        std::lock_guard<std::mutex> lock(m_);
        perPort_[size_t(index)] = std::move(attempts);
    }
    if (left > 0 && OnProgress) OnProgress();
}

TFindResult TModuleFinder::Result() const
{
    std::lock_guard<std::mutex> lock(m_);
    TFindResult r;
    r.aborted = abort_.Requested();
    for (const auto& attempts : perPort_)
        for (const TFindAttempt& a : attempts) {
            r.tried.push_back(a);
            if (a.answered && !r.found) {
                r.found = true;
                r.port = a.port;
                r.baudItem = a.baudItem;
                r.version = a.version;
            }
        }
    if (r.found) r.aborted = false;
    return r;
}

TFindResult TModuleFinder::Run()
{
    Start();
    while (!WaitFinished(1000)) {
    }
    return Result();
}
