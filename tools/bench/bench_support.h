#pragma once
// What the benchmarks share: their clocks, a median, and the virtual module
// (tarnwick-vmodule) as a process of its own, so that the bench's CPU time is
// its own alone.
#include <sys/resource.h>
#include <sys/types.h>

#include <string>
#include <vector>

// Seconds on the monotonic clock.
double Now();
// CPU seconds (user and system) of this process, all its threads.
double CpuSeconds();
// CPU seconds (user and system) in a usage report, e.g. a child's from wait4.
double CpuSeconds(const rusage& u);
// The median (the mean of the middle two for an even count); 0 for none.
double Median(std::vector<double> v);

// tarnwick-vmodule as a child process. Start blocks until the module has
// printed its first line (the pty's path; with --link, made after the link).
class TModuleProcess {
public:
    TModuleProcess() = default;
    TModuleProcess(const TModuleProcess&) = delete;
    TModuleProcess& operator=(const TModuleProcess&) = delete;
    ~TModuleProcess() { Stop(); }

    // False, with the reason on stderr, when it did not start or printed no path.
    bool Start(const std::string& exe, const std::vector<std::string>& args, std::string* portPath = nullptr);
    // Stops it (SIGTERM, then waits); its CPU seconds. 0 when not running.
    double Stop();

private:
    pid_t pid_ = -1;
};
