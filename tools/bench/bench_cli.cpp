// tarnwick-cli's "program-config" on 1 and on 8 virtual modules at once, each
// module a process of its own: the wall time of 8 next to that of 1 (the
// ports run in parallel, so 8 should take hardly longer), and the tool's CPU
// time per port over the wall time (its waits block on the devices).
//
// Usage: bench_cli [--cli PATH] [--vmodule PATH] [--ports N] [--runs N]
// Exit status: 0 goals met, 1 a run failed, 2 a goal missed.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "module/config_image.h"
#include "settings/config_values.h"
#include "tools/bench/bench_support.h"

extern char** environ;

namespace {

struct TRun {
    double wall = 0;
    double cpu = 0;
    int exitCode = -1;
};

// Runs the tool once; its wall time, CPU time and exit status.
TRun RunTool(const std::string& cli, const std::vector<std::string>& args)
{
    std::vector<char*> argv{const_cast<char*>(cli.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    TRun r;
    pid_t pid = -1;
    const double w0 = Now();
    const int rc = posix_spawn(&pid, cli.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", cli.c_str(), std::strerror(rc));
        return r;
    }
    int status = 0;
    rusage u{};
    wait4(pid, &status, 0, &u);
    r.wall = Now() - w0;
    r.cpu = CpuSeconds(u);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::string cli = TW_CLI_EXE, vmodule = TW_VMODULE_EXE;
    int many = 8, runs = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--cli" && hasValue) cli = argv[++i];
        else if (a == "--vmodule" && hasValue) vmodule = argv[++i];
        else if (a == "--ports" && hasValue) many = std::max(2, std::atoi(argv[++i]));
        else if (a == "--runs" && hasValue) runs = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: %s [--cli PATH] [--vmodule PATH] [--ports N] [--runs N]\n", argv[0]);
            return 2;
        }
    }

    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("config.bin"));
    {
        const TConfigImage bytes = ConfigImage(TConfigValues{});
        QFile f(image);
        if (!f.open(QIODevice::WriteOnly) ||
            f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) != qint64(bytes.size())) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(image));
            return 1;
        }
    }

    std::vector<std::unique_ptr<TModuleProcess>> modules;
    std::vector<std::string> paths;
    for (int i = 0; i < many; ++i) {
        modules.push_back(std::make_unique<TModuleProcess>());
        std::string path;
        if (!modules.back()->Start(vmodule, {}, &path)) {
            std::fprintf(stderr, "the virtual module did not start (%s)\n", vmodule.c_str());
            return 1;
        }
        paths.push_back(path);
    }

    auto measure = [&](int ports, std::vector<double>* walls, double* cpuShare) {
        std::vector<std::string> args{"-q"};
        for (int i = 0; i < ports; ++i) {
            args.push_back("--port");
            args.push_back(paths[size_t(i)]);
        }
        args.push_back("program-config");
        args.push_back(image.toStdString());
        double cpu = 0, wall = 0;
        for (int k = 0; k < runs; ++k) {
            const TRun r = RunTool(cli, args);
            if (r.exitCode != 0) {
                std::fprintf(stderr, "program-config on %d port(s) failed (exit %d)\n", ports, r.exitCode);
                return false;
            }
            walls->push_back(r.wall);
            cpu += r.cpu;
            wall += r.wall;
        }
        *cpuShare = 100.0 * cpu / wall / ports;
        return true;
    };

    std::vector<double> oneWall, manyWall;
    double oneCpu = 0, manyCpu = 0;
    if (!measure(1, &oneWall, &oneCpu) || !measure(many, &manyWall, &manyCpu)) return 1;
    const double one = 1000.0 * Median(oneWall), all = 1000.0 * Median(manyWall);
    const double ratio = all / one;
    std::printf("bench_cli: program-config (with read-back) %d run(s): 1 port %.0f ms, %d ports %.0f ms (x%.3f); "
                "CPU per port %.2f %% (1 port), %.2f %% (%d ports)\n",
                runs, one, many, all, ratio, oneCpu, manyCpu, many);
    std::printf("BENCH\ttarnwick-cli program-config, %d ports / 1 port\t%.0f / %.0f ms = x%.3f\t<= x1.10\n", many, all,
                one, ratio);
    std::printf("BENCH\ttarnwick-cli program-config CPU per port (%d ports)\t%.2f %%\t< 5 %%\n", many, manyCpu);
    return ratio <= 1.10 && manyCpu < 5.0 && oneCpu < 5.0 ? 0 : 2;
}
