// Whole module operations against the virtual module running as a process of
// its own, so this process's CPU time is the panel's alone:
//  - CPU time / wall time of "Read Flash", "Program Flash" and "Program
//    Config" (the waits block on the device; the goal is below 5 %);
//  - wall time of each next to the protocol's own minimum, the sum of the
//    fixed pauses plus the module's reply delays (the goal for "Read Flash"
//    is within 10 % of it);
//  - the time "Verify after programming" adds to "Program Flash" and
//    "Program Config" (the difference of the medians with and without it),
//    and CPU / wall of "Read Config".
// The pty carries no baud-rate time, so no line time is counted.
//
// Usage: bench_operations [--vmodule PATH] [--delay MS] [--reads N] [--writes N]
// Exit status: 0 goals met, 1 a run failed, 2 a goal missed.
#include <QApplication>
#include <QCheckBox>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/ui/dialogs.h"
#include "common/ui/port_controls.h"
#include "flash_editor/ui/flash_page.h"
#include "module/ui/config_programming.h"
#include "module/ui/flash_transfer.h"
#include "module/operation_runner.h"
#include "module/ui/read_back.h"
#include "module/session.h"
#include "module/ui/status_form.h"
#include "serial/com_port.h"
#include "settings/ui/config_page.h"
#include "tools/bench/bench_support.h"

namespace {

// Counts the boxes an operation shows instead of blocking on them; any box
// means the run failed and its timing is worthless.
class TCountingDialogs : public TDialogs {
public:
    int shown = 0;
    QString last;
    int MessageBox(QWidget*, const QString& text, const QString&, int) override
    {
        ++shown;
        last = text;
        return mb::IdOk;
    }
    QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    void ErrorBox(QWidget*, const QString& message, const QString&) override
    {
        ++shown;
        last = message;
    }
    void Beep() override {}
};

// The offscreen platform warns each time the progress window is raised.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    if (msg.contains(QLatin1String("does not support raise()"))) return;
    if (type != QtDebugMsg) std::fprintf(stderr, "%s\n", qPrintable(msg));
}

struct TRuns {
    std::vector<double> wall;  // seconds per run
    double cpu = 0;            // seconds over all runs
    int failed = 0;
    std::vector<double> lateMs;  // how late the window thread's 5 ms ticks came during the runs
};

double Sum(const std::vector<double>& v)
{
    double s = 0;
    for (double x : v) s += x;
    return s;
}

template <class F>
TRuns Measure(int count, TCountingDialogs& dialogs, F&& op)
{
    TRuns r;
    // The window thread's event loop while the operation runs on its worker:
    // a tick every 5 ms, and how late each came.
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(5);
    double last = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double now = Now();
        if (last > 0) r.lateMs.push_back(std::max(0.0, 1000.0 * (now - last) - 5.0));
        last = now;
    });
    for (int i = 0; i < count; ++i) {
        const int before = dialogs.shown;
        const double w0 = Now(), c0 = CpuSeconds();
        last = 0;
        tick.start();
        op();
        TOperationRunner::Panel().WaitIdle(60000);
        tick.stop();
        r.wall.push_back(Now() - w0);
        r.cpu += CpuSeconds() - c0;
        if (dialogs.shown != before) {
            ++r.failed;
            std::fprintf(stderr, "  run %d failed: %s\n", i + 1, qPrintable(dialogs.last));
        }
    }
    return r;
}

// The protocol's own minimum in milliseconds: every fixed pause the operation
// makes, plus one reply delay for every reply it waits for. Replies nobody
// waits for (Erase, Write Flash) fall inside the pause after them.
//  communication check: 300 ms pause after NOP, one reply (Read Version);
//  Read Flash: check, Disconect, Connect, Read Status, 4 x Read Flash;
//  ProgramMemory: 3 replies, 330 ms after the erase, then per block a check,
//    2 replies and 660 ms; 100 ms after it.
double ReadFlashMinimumMs(int d) { return (300 + d) + 3 * d + 4 * d; }
double ProgramMemoryMs(int d) { return 3 * d + 330 + 4 * ((300 + d) + 2 * d + 660); }
double ProgramFlashMinimumMs(int d) { return (300 + d) + ProgramMemoryMs(d) + 100; }
// Program Config pauses 100 ms between its check and the programming.
double ProgramConfigMinimumMs(int d) { return (300 + d) + 100 + ProgramMemoryMs(d) + 100; }

// True when the goals are met.
bool Report(const char* name, const TRuns& r, double minimumMs, double goalRatio)
{
    const double share = 100.0 * r.cpu / Sum(r.wall);
    const double wallMs = 1000.0 * Median(r.wall);
    const double ratio = wallMs / minimumMs;
    std::printf("%-15s %d run(s)%s: wall median %.1f ms (min %.1f, max %.1f), protocol minimum %.0f ms, "
                "overhead x%.3f; CPU %.1f ms = %.2f %% of wall\n",
                name, int(r.wall.size()), r.failed ? " WITH FAILURES" : "", wallMs,
                1000.0 * *std::min_element(r.wall.begin(), r.wall.end()),
                1000.0 * *std::max_element(r.wall.begin(), r.wall.end()), minimumMs, ratio, 1000.0 * r.cpu, share);
    // Lines for tools/bench/run.sh: measure, figure, goal.
    std::printf("BENCH\t%s CPU / wall\t%.2f %%\t< 5 %%\n", name, share);
    std::printf("BENCH\t%s wall / protocol minimum\t%.0f / %.0f ms = x%.3f\t%s\n", name, wallMs, minimumMs, ratio,
                goalRatio > 0 ? qPrintable(QStringLiteral("<= x%1").arg(goalRatio, 0, 'f', 2)) : "(report)");
    bool met = share < 5.0 && (goalRatio <= 0 || ratio <= goalRatio);
    if (!r.lateMs.empty()) {
        std::vector<double> late = r.lateMs;
        std::sort(late.begin(), late.end());
        const double p95 = late[std::min(late.size() - 1, size_t(0.95 * double(late.size())))];
        std::printf("%s: window thread's event loop during the run: ticks %zu late by median %.2f ms, 95th "
                    "percentile %.2f ms, max %.2f ms\n",
                    name, late.size(), Median(late), p95, late.back());
        std::printf("BENCH\t%s: event-loop latency (95th percentile)\t%.2f ms\t<= 20 ms\n", name, p95);
        met &= p95 <= 20.0;
    }
    return met;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string vmodule = TW_VMODULE_EXE;
    int delayMs = 0, reads = 7, writes = 2;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--vmodule" && hasValue) vmodule = argv[++i];
        else if (a == "--delay" && hasValue) delayMs = std::atoi(argv[++i]);
        else if (a == "--reads" && hasValue) reads = std::max(1, std::atoi(argv[++i]));
        else if (a == "--writes" && hasValue) writes = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: %s [--vmodule PATH] [--delay MS] [--reads N] [--writes N]\n", argv[0]);
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietMessages);
    QApplication app(argc, argv);

    TModuleProcess module;
    std::string path;
    if (!module.Start(vmodule, {"--delay", std::to_string(delayMs)}, &path)) {
        std::fprintf(stderr, "the virtual module did not start (%s)\n", vmodule.c_str());
        return 1;
    }

    TCountingDialogs dialogs;
    SetDialogs(&dialogs);
    InitStatus();
    TComPort port;
    port.SetPort(QString::fromStdString(path));
    port.SetBaudRate(br57600);
    port.OpenPort();
    if (!port.Connected()) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }
    TModuleSession session(port);
    TPortControls controls;
    TFlashPage flashPage(controls);
    flashPage.SetupGrids();
    TConfigPage configPage(controls);

    std::printf("bench_operations: virtual module process on %s, reply delay %d ms, no baud-rate time (pty)\n",
                path.c_str(), delayMs);
    // One read first, untimed: loads the lazily built parts of the program.
    ReadFlashButtonClick(session, flashPage);
    TOperationRunner::Panel().WaitIdle(60000);

    const TRuns read = Measure(reads, dialogs, [&] { ReadFlashButtonClick(session, flashPage); });
    // The specified operations alone first, then with the verifying read.
    flashPage.VerifyFlashCheckBox->setChecked(false);
    configPage.VerifyConfigCheckBox->setChecked(false);
    const TRuns program = Measure(writes, dialogs, [&] { ProgramFlashButtonClick(session, flashPage); });
    const TRuns config = Measure(writes, dialogs, [&] { ProgramConfigButtonClick(session, configPage, 0); });
    flashPage.VerifyFlashCheckBox->setChecked(true);
    configPage.VerifyConfigCheckBox->setChecked(true);
    const TRuns programVerified = Measure(writes, dialogs, [&] { ProgramFlashButtonClick(session, flashPage); });
    const TRuns configVerified = Measure(writes, dialogs, [&] { ProgramConfigButtonClick(session, configPage, 0); });
    // The module now holds what the page produces: no message to count.
    const TRuns readConfig = Measure(reads, dialogs, [&] { ReadConfigButtonClick(session, configPage); });

    bool met = Report("Read Flash", read, ReadFlashMinimumMs(delayMs), 1.10);
    met &= Report("Program Flash", program, ProgramFlashMinimumMs(delayMs), 1.02);
    met &= Report("Program Config", config, ProgramConfigMinimumMs(delayMs), 0);
    met &= Report("Read Config", readConfig, ReadFlashMinimumMs(delayMs), 0);
    // The verifying read is a Read Flash procedure of its own.
    const auto added = [&](const char* name, const TRuns& with, const TRuns& without) {
        const double ms = 1000.0 * (Median(with.wall) - Median(without.wall));
        std::printf("%s: verify adds %.0f ms (its read's protocol minimum %.0f ms); CPU %.2f %% of wall with it\n",
                    name, ms, ReadFlashMinimumMs(delayMs), 100.0 * with.cpu / Sum(with.wall));
        std::printf("BENCH\t%s: time verify adds\t%.0f ms (read minimum %.0f ms)\t(report)\n", name, ms,
                    ReadFlashMinimumMs(delayMs));
        return 100.0 * with.cpu / Sum(with.wall) < 5.0;
    };
    met &= added("Program Flash", programVerified, program);
    met &= added("Program Config", configVerified, config);

    port.ClosePort();
    SetDialogs(nullptr);
    const double moduleCpu = module.Stop();
    std::printf("(virtual module process: %.1f ms CPU in all)\n", 1000.0 * moduleCpu);
    if (read.failed + program.failed + config.failed + programVerified.failed + configVerified.failed +
        readConfig.failed)
        return 1;
    return met ? 0 : 2;
}
