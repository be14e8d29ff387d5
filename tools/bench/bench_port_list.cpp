// The live port list at rest: CPU time of a process whose only work is the
// port watcher on the machine's /sys and /dev, over a few seconds (goal:
// under 0.1 % of a core), and the time one reading of the list takes.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "serial/port_watcher.h"
#include "tools/bench/bench_support.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int ms = argc > 1 ? std::atoi(argv[1]) * 1000 : 5000;

    QElapsedTimer t;
    t.start();
    const int reads = 50;
    int ports = 0;
    for (int i = 0; i < reads; ++i) ports = int(ListPortInfos().size());
    const double readMs = double(t.nsecsElapsed()) / 1e6 / reads;

    TPortWatcher watcher;
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    const double share = 100.0 * (CpuSeconds() - cpu0) / (double(wall.elapsed()) / 1000.0);

    std::printf("live list %s, %d port(s); idle %.4f %% of a core over %d ms; one reading %.2f ms\n",
                watcher.Live() ? "watching" : "NOT watching", ports, share, ms, readMs);
    std::printf("BENCH\tLive port list at rest (CPU of a core)\t%.4f %%\t< 0.1 %%\n", share);
    std::printf("BENCH\tReading the port list once (%d ports)\t%.2f ms\t(report)\n", ports, readMs);
    return (share < 0.1 && watcher.Live()) ? 0 : 2;
}
