#include "tools/bench/bench_support.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cerrno>
#include <cstring>

extern char** environ;

double Now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double CpuSeconds(const rusage& u)
{
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> v)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool TModuleProcess::Start(const std::string& exe, const std::vector<std::string>& args, std::string* portPath)
{
    Stop();
    int fds[2];
    if (pipe(fds) != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", exe.c_str(), std::strerror(errno));
        return false;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    posix_spawn_file_actions_addclose(&fa, fds[1]);
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, exe.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        pid_ = -1;
        std::fprintf(stderr, "cannot start %s: %s\n", exe.c_str(), std::strerror(rc));
        return false;
    }
    // Blocks until the module has printed its path (or died).
    std::string line;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') line += c;
    close(fds[0]);
    if (portPath) *portPath = line;
    if (line.empty()) std::fprintf(stderr, "%s printed no port\n", exe.c_str());
    return !line.empty();
}

double TModuleProcess::Stop()
{
    if (pid_ <= 0) return 0;
    kill(pid_, SIGTERM);
    int status = 0;
    rusage u{};
    wait4(pid_, &status, 0, &u);
    pid_ = -1;
    return CpuSeconds(u);
}
