#pragma once
// Start-up measurement for tools/bench/bench_startup: with the environment
// variable TW_STARTUP_PROBE set, the program prints "startup-ms N" once its
// main window has first been exposed and painted, then quits.
#include <functional>
#include <optional>
#include <string>

class QWidget;

// Milliseconds since this process began. TW_STARTUP_T0_NS, when set, is the
// CLOCK_MONOTONIC time in nanoseconds a launcher took just before starting
// us (so the exec and the loading of libraries count); otherwise the start
// time the kernel records in /proc/self/stat (10 ms resolution).
std::optional<double> MsSinceProcessStart();

// The process start field of a /proc/<pid>/stat line, in clock ticks since
// boot; nullopt when the line is malformed.
std::optional<unsigned long long> StatStartTicks(const std::string& statLine);

// Arms the probe on the main window when TW_STARTUP_PROBE is set; returns
// whether it did. shown gets the milliseconds since process start (-1 when
// unknown) after the first expose has painted; by default it prints them
// and quits the application.
bool InstallStartupProbe(QWidget* window, std::function<void(double ms)> shown = {});
