// The Link Test against tarnwick-vmodule processes in Cable Link mode:
//  1. throughput reached (flat out, A to B) at the RF data rates 76800,
//     19200 and 4800 bps, against what the simulated air carries with full
//     packets (goal >= 90 %);
//  2. the panel's CPU (this process: the window with its charts and the
//     test's threads) during a looped-back run at 76800 bps with 5 % loss
//     (goal < 10 % of a core).
// Prints "BENCH<TAB>measure<TAB>figure<TAB>goal" lines; exit 2 when a goal is missed.
//   bench_link_test [SECONDS_PER_RATE] [CPU_SECONDS]
#include <sys/resource.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QEventLoop>
#include <cstdio>
#include <memory>

#include "commands/ui/link_test_window.h"
#include "module/link_test.h"
#include "tools/vmodule/air_link.h"

namespace {

std::unique_ptr<QProcess> StartModule(const QStringList& args, QString* path)
{
    auto p = std::make_unique<QProcess>();
    p->start(QStringLiteral(TW_VMODULE_EXE), args);
    if (!p->waitForStarted(10000) || !p->waitForReadyRead(10000)) return nullptr;
    *path = QString::fromLocal8Bit(p->readLine()).trimmed();
    return p;
}

void StopModule(std::unique_ptr<QProcess>& p)
{
    if (!p) return;
    p->terminate();
    if (!p->waitForFinished(5000)) p->kill();
    p->waitForFinished();
}

QString ConfigFile(const QTemporaryDir& dir, const QString& name, int rateCode, bool pointA)
{
    QByteArray c(128, char(0xFF));
    for (int i = 0; i < 16; ++i) c[0x40 + i] = 0x5C;
    c[0x55] = 3 * 4;
    c[0x56] = char((rateCode << 2) | (pointA ? 0x40 : 0));
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(c);
    return path;
}

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const double perRate = argc > 1 ? std::atof(argv[1]) : 8;
    const double cpuSeconds = argc > 2 ? std::atof(argv[2]) : 20;
    QTemporaryDir dir;
    bool missed = false;
    const QString air = QStringLiteral("bench-%1").arg(::getpid());

    const struct {
        int code;
        int bps;
    } rates[] = {{4, 76800}, {2, 19200}, {0, 4800}};
    for (const auto& r : rates) {
        QString pa, pb;
        const QString name = air + QString::number(r.bps);
        auto a = StartModule({QStringLiteral("--mode"), QStringLiteral("cable-link"), QStringLiteral("--air"), name,
                              QStringLiteral("--config-image"), ConfigFile(dir, QStringLiteral("a.bin"), r.code, true)},
                             &pa);
        auto b = StartModule({QStringLiteral("--mode"), QStringLiteral("cable-link"), QStringLiteral("--air"), name,
                              QStringLiteral("--config-image"), ConfigFile(dir, QStringLiteral("b.bin"), r.code, false)},
                             &pb);
        if (!a || !b) {
            std::fprintf(stderr, "bench_link_test: tarnwick-vmodule did not start\n");
            return 1;
        }
        QThread::msleep(300);  // the second module finds the first's air
        TLinkTestRequest q;
        q.portA.port = pa;
        q.portA.flowItem = 3;
        q.portB = pb;
        q.direction = TLinkDirection::AToB;
        q.seconds = perRate;
        q.rfBps = r.bps;
        const TLinkTestResult res = TLinkTest(q).Run();
        StopModule(a);
        StopModule(b);
        const double capacity = AirCapacityBytesPerSecond(r.bps);
        const double got = res.directions.empty() ? 0 : res.directions[0].throughput;
        const double share = 100 * got / capacity;
        missed = missed || share < 90;
        std::printf("BENCH\tLink Test throughput at %d bps (%.0f s, PER %.2f %%)\t%.0f of %.0f B/s = %.1f %%\t>= 90 %%\n",
                    r.bps, perRate, res.total.Per(), got, capacity, share);
        std::fflush(stdout);
    }

    // The panel's share of a core while the test and its charts run.
    {
        // Started detached: a QProcess in this process would watch the child
        // from the event loop, and its cost is not the panel's.
        const QString pl = dir.filePath(QStringLiteral("looped"));
        qint64 pid = 0;
        QProcess detached;
        detached.setProgram(QStringLiteral(TW_VMODULE_EXE));
        detached.setArguments({QStringLiteral("--mode"), QStringLiteral("cable-link"), QStringLiteral("--loopback"),
                               QStringLiteral("--air-loss"), QStringLiteral("0.05"), QStringLiteral("--link"), pl,
                               QStringLiteral("--config-image"), ConfigFile(dir, QStringLiteral("l.bin"), 4, true)});
        detached.setStandardOutputFile(QProcess::nullDevice());
        if (!detached.startDetached(&pid)) return 1;
        QElapsedTimer startWait;
        startWait.start();
        while (!QFile::exists(pl) && startWait.elapsed() < 10000) QThread::msleep(20);
        TLinkTestWindow w([] {
            TPairPortSetup s;
            s.line.flowItem = 3;
            return s;
        }, 0);
        w.resize(1100, 640);
        w.show();
        w.LinkLoopback->setChecked(true);
        w.LinkPortA->setEditText(pl);
        w.LinkSeconds->setValue(cpuSeconds);
        QElapsedTimer wall;
        const double cpu0 = CpuSeconds();
        wall.start();
        if (!w.Start()) return 1;
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (!w.Running()) loop.quit();
        });
        check.start(100);
        loop.exec();
        const double cpu = CpuSeconds() - cpu0;
        const double share = 100 * cpu / (double(wall.elapsed()) / 1000);
        ::kill(pid_t(pid), SIGTERM);
        missed = missed || share >= 10;
        std::printf("BENCH\tLink Test window, looped back flat out at 76800 bps, 5 %% loss (CPU of a core; %.0f s, %.0f B/s)\t%.2f %%\t< 10 %%\n",
                    double(wall.elapsed()) / 1000, w.LastResult().directions.empty() ? 0 : w.LastResult().directions[0].throughput, share);
    }
    return missed ? 2 : 0;
}
