// Start-up time of tarnwick-panel to its first shown main window, and its
// peak memory. Starts the program N times on the offscreen platform with
// TW_STARTUP_PROBE set; each run prints the milliseconds from just before
// its exec (the time this launcher hands over in TW_STARTUP_T0_NS) to the
// first painted expose of the main window and quits. Goal: median < 300 ms.
//
// Usage: bench_startup [--panel PATH] [--runs N]
// Exit status: 0 goal met, 1 a run failed, 2 the goal missed.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

long long MonotonicNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

struct TRun {
    double ms = -1;     // reported by the program, -1 when it reported nothing
    long maxRssKb = 0;  // of this child alone
    int status = 0;
};

// Our environment with the probe variables set and the offscreen platform
// unless the caller chose one.
std::vector<std::string> ChildEnvironment(long long t0)
{
    std::vector<std::string> env;
    bool platform = false;
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        if (v.rfind("TW_STARTUP_", 0) == 0) continue;
        if (v.rfind("QT_QPA_PLATFORM=", 0) == 0) platform = true;
        if (v.rfind("XDG_CONFIG_HOME=", 0) == 0) continue;
        env.push_back(v);
    }
    if (!platform) env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("TW_STARTUP_PROBE=1");
    // The panel remembers its settings at exit: never in the user's folder.
    static std::string configHome = [] {
        char dir[] = "/tmp/tw-bench-config-XXXXXX";
        return std::string(mkdtemp(dir) ? dir : "/tmp");
    }();
    env.push_back("XDG_CONFIG_HOME=" + configHome);
    env.push_back("TW_STARTUP_T0_NS=" + std::to_string(t0));
    return env;
}

TRun RunOnce(const std::string& exe)
{
    TRun run;
    int fds[2];
    if (pipe(fds) != 0) return run;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    posix_spawn_file_actions_addclose(&fa, fds[1]);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    const long long t0 = MonotonicNs();
    std::vector<std::string> env = ChildEnvironment(t0);
    std::vector<char*> envp;
    for (std::string& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        std::fprintf(stderr, "cannot start %s: %s\n", exe.c_str(), std::strerror(rc));
        return run;
    }

    // Reads the output until the child closes it, at most 30 s in all.
    std::string out;
    const long long deadline = t0 + 30LL * 1000000000LL;
    for (;;) {
        const long long left = (deadline - MonotonicNs()) / 1000000;
        if (left <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, int(left)) <= 0) continue;
        char buf[256];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, size_t(n));
    }
    close(fds[0]);
    rusage u{};
    wait4(pid, &run.status, 0, &u);
    run.maxRssKb = u.ru_maxrss;
    if (const size_t at = out.find("startup-ms "); at != std::string::npos)
        run.ms = std::atof(out.c_str() + at + std::strlen("startup-ms "));
    return run;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string panel = TW_PANEL_EXE;
    int runs = 11;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--panel" && i + 1 < argc) panel = argv[++i];
        else if (a == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: %s [--panel PATH] [--runs N]\n", argv[0]);
            return 2;
        }
    }

    // One run first, not counted: it brings the program and its libraries
    // into the page cache, as on any start but the very first after boot.
    RunOnce(panel);

    std::vector<double> ms;
    long peakKb = 0;
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
        const TRun r = RunOnce(panel);
        if (r.ms < 0 || !WIFEXITED(r.status) || WEXITSTATUS(r.status) != 0) {
            ++failed;
            std::fprintf(stderr, "  run %d: no start-up figure (status 0x%x)\n", i + 1, r.status);
            continue;
        }
        ms.push_back(r.ms);
        peakKb = std::max(peakKb, r.maxRssKb);
    }
    rusage all{};
    getrusage(RUSAGE_CHILDREN, &all);
    if (ms.empty()) {
        std::printf("bench_startup: no run reported its start-up time\n");
        return 1;
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms.size() % 2 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
    std::printf("bench_startup: %s, %d run(s) on the offscreen platform\n", panel.c_str(), int(ms.size()));
    std::printf("  to the first shown main window: median %.1f ms (min %.1f, max %.1f)\n", median, ms.front(),
                ms.back());
    std::printf("  peak RSS: %.1f MiB (largest of all children: %.1f MiB)\n", double(peakKb) / 1024.0,
                double(all.ru_maxrss) / 1024.0);
    std::printf("BENCH\tStart-up to shown main window (median of %d)\t%.0f ms\t< 300 ms\n", int(ms.size()), median);
    std::printf("BENCH\tPeak memory at start-up (RSS)\t%.1f MiB\t(report)\n", double(peakKb) / 1024.0);
    if (failed) return 1;
    return median < 300.0 ? 0 : 2;
}
