// The station's throughput: modules per hour with 1, 8 and 32 sockets, all
// plugged at once, against the protocol's own minimum per module, and the
// station's CPU time per module. The virtual modules run as processes of
// their own (tarnwick-vmodule --link), so this process's CPU time is the
// station's alone (its record included, a SQLite file).
//
// A module's minimum: the communication check (300 ms after NOP, one
// reply), Read Config (its check, three handshake replies, four blocks),
// Program Config (check, 100 ms, the erase's 330 ms, four blocks of a check
// and 660 ms each, 100 ms) and the verifying read (as Read Config). The pty
// carries no line time; --delay adds a reply delay to every reply.
// Goal: modules per hour >= 0.9 x sockets x 3600 / minimum.
//
// Usage: bench_station [--vmodule PATH] [--delay MS] [--sockets 1,8,32]
// Exit status: 0 goals met, 1 a module failed, 2 a goal missed.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "module/config_image.h"
#include "settings/config_values.h"
#include "station/station.h"
#include "station/station_record.h"
#include "tools/bench/bench_support.h"

namespace {

double ReadMinimumMs(int d) { return (300 + d) + 3 * d + 4 * d; }
double ProgramConfigMinimumMs(int d) { return (300 + d) + 100 + 3 * d + 330 + 4 * ((300 + d) + 2 * d + 660) + 100; }
double ModuleMinimumMs(int d) { return (300 + d) + ReadMinimumMs(d) + ProgramConfigMinimumMs(d) + ReadMinimumMs(d); }

class TCount : public TStationObserver {
public:
    void StationEvent(const TStationEvent& e) override
    {
        if (e.kind != TStationEvent::Finished) return;
        std::lock_guard<std::mutex> lock(m_);
        ++finished_;
        if (!e.result.ok) {
            ++failed_;
            std::fprintf(stderr, "  %s failed: %s\n", qPrintable(e.socketName), qPrintable(e.result.error));
        }
        cv_.notify_all();
    }
    bool Wait(int count, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return finished_ >= count; });
    }
    int Failed()
    {
        std::lock_guard<std::mutex> lock(m_);
        return failed_;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    int finished_ = 0;
    int failed_ = 0;
};

struct TRound {
    double wallS = 0;
    double cpuS = 0;
    int failed = 0;
};

TRound RunRound(const std::string& exe, int sockets, int delayMs, const QTemporaryDir& tmp)
{
    TRound round;
    const QString base = tmp.filePath(QStringLiteral("s%1").arg(sockets));
    const QString staging = base + QStringLiteral("/staging"), watched = base + QStringLiteral("/by-id");
    QDir().mkpath(staging);
    QDir().mkpath(watched);
    // Each makes its link in staging; plugged by renaming the link into the watched folder.
    std::vector<TModuleProcess> modules(static_cast<size_t>(sockets));
    for (int i = 0; i < sockets; ++i) {
        const std::string link = (staging + QStringLiteral("/usb-Tarnwick_%1-if00").arg(i)).toStdString();
        if (!modules[size_t(i)].Start(exe, {"--link", link, "--delay", std::to_string(delayMs)})) {
            round.failed = sockets;
            return round;
        }
    }
    TUnitAddressPlan plan;
    plan.kind = TUnitAddressPlan::From;
    plan.first = 0x0100;
    TProductionStationRecord record(base + QStringLiteral("/record.sqlite"), plan);
    QString error;
    if (!record.Prepare(&error)) {
        std::fprintf(stderr, "record: %s\n", qPrintable(error));
        round.failed = sockets;
        return round;
    }
    TStationSetup setup;
    setup.profileName = QStringLiteral("bench.json");
    setup.image = ConfigImage(TConfigValues{});
    setup.watchDirs = {watched};
    TCount count;
    TStation station(setup, record, count);
    if (!station.Start(&error)) {
        std::fprintf(stderr, "station: %s\n", qPrintable(error));
        round.failed = sockets;
        return round;
    }
    const double cpu0 = CpuSeconds();
    const double t0 = Now();
    // All plugged at once.
    for (int i = 0; i < sockets; ++i) {
        const QString name = QStringLiteral("/usb-Tarnwick_%1-if00").arg(i);
        QFile::rename(staging + name, watched + name);
    }
    if (!count.Wait(sockets, 600000)) std::fprintf(stderr, "  not every module finished\n");
    round.wallS = Now() - t0;
    round.cpuS = CpuSeconds() - cpu0;
    round.failed = count.Failed();
    return round;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::string exe = TW_VMODULE_EXE;
    int delayMs = 0;
    std::vector<int> counts{1, 8, 32};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--vmodule")) exe = argv[i + 1];
        else if (!std::strcmp(argv[i], "--delay")) delayMs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--sockets")) {
            counts.clear();
            for (const QString& n : QString::fromLocal8Bit(argv[i + 1]).split(QLatin1Char(','))) counts.push_back(n.toInt());
        }
    }
    QTemporaryDir tmp;
    const double minimumMs = ModuleMinimumMs(delayMs);
    bool met = true, failed = false;
    double oneWall = 0;
    for (int sockets : counts) {
        const TRound r = RunRound(exe, sockets, delayMs, tmp);
        failed |= r.failed > 0;
        const double perHour = r.wallS > 0 ? sockets * 3600.0 / r.wallS : 0;
        const double goal = 0.9 * sockets * 3600.0 / (minimumMs / 1000.0);
        if (sockets == 1) oneWall = r.wallS;
        const bool ok = perHour >= goal;
        met &= ok;
        std::printf("%2d socket(s): %d modules in %.2f s (minimum per module %.0f ms): %.0f modules per hour "
                    "(goal >= %.0f), CPU %.1f ms per module%s\n",
                    sockets, sockets, r.wallS, minimumMs, perHour, goal, 1000.0 * r.cpuS / sockets,
                    oneWall > 0 && sockets > 1 ? qPrintable(QStringLiteral(", x%1 the time of one").arg(r.wallS / oneWall, 0, 'f', 3)) : "");
        std::printf("BENCH\tstation, %d socket(s): modules per hour\t%.0f\t>= %.0f\n", sockets, perHour, goal);
        std::printf("BENCH\tstation, %d socket(s): CPU per module\t%.1f ms\t(report)\n", sockets, 1000.0 * r.cpuS / sockets);
    }
    return failed ? 1 : met ? 0 : 2;
}
