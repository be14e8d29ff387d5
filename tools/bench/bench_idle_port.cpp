// CPU cost of an open port with its event thread: a pseudo-terminal port
// idles for a few seconds (empty queue), then idles with unread bytes queued
// (the thread samples the queue count instead of blocking). Prints the
// process CPU time as a share of one core; the goal is well under 1 %.
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "serial/com_port.h"
#include "tools/bench/bench_support.h"

namespace {

double IdleShare(int ms)
{
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return 100.0 * (CpuSeconds() - cpu0) / (double(wall.elapsed()) / 1000.0);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int ms = argc > 1 ? std::atoi(argv[1]) * 1000 : 5000;
    int master = -1, slave = -1;
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    TComPort port;
    port.SetPort(QString::fromLocal8Bit(name));
    int rxEvents = 0;
    port.OnRxChar = [&](TCustomComPort*, int) { ++rxEvents; };
    port.OpenPort();

    const double empty = IdleShare(ms);
    std::printf("idle port, empty queue:   %.3f %% of a core over %d ms\n", empty, ms);

    [[maybe_unused]] const ssize_t n = ::write(master, "unread", 6);
    const double queued = IdleShare(ms);
    std::printf("idle port, 6 bytes unread: %.3f %% of a core over %d ms (OnRxChar %d time(s))\n", queued, ms,
                rxEvents);

    port.ClosePort();
    ioctl(slave, TIOCNXCL);
    close(slave);
    close(master);
    const bool ok = empty < 1.0 && queued < 1.0;
    // Lines for tools/bench/run.sh: measure, figure, goal.
    std::printf("BENCH\tIdle open port, empty queue (CPU of a core)\t%.3f %%\t< 1 %%\n", empty);
    std::printf("BENCH\tIdle open port, bytes unread (CPU of a core)\t%.3f %%\t< 1 %%\n", queued);
    std::printf("%s\n", ok ? "OK: well under 1 % of a core" : "TOO HIGH: the idle port should cost under 1 %");
    return ok ? 0 : 2;
}
