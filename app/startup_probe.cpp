#include "app/startup_probe.h"

#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

double ClockMs(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Watches the expose events of the main window's native window; the first
// one that leaves it exposed ends the probe once the paint it causes is done.
class TStartupProbe : public QObject {
public:
    TStartupProbe(QWidget* window, std::function<void(double)> shown)
        : QObject(window), window_(window), shown_(std::move(shown))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (!fired_ && e->type() == QEvent::Expose && window_ && watched == window_->windowHandle() &&
            window_->windowHandle()->isExposed()) {
            fired_ = true;
            // Queued: runs after the expose has painted the window.
            QTimer::singleShot(0, this, [this] {
                const std::optional<double> ms = MsSinceProcessStart();
                shown_(ms ? *ms : -1.0);
            });
        }
        return false;
    }

private:
    QPointer<QWidget> window_;
    std::function<void(double)> shown_;
    bool fired_ = false;
};

}  // namespace

std::optional<unsigned long long> StatStartTicks(const std::string& statLine)
{
    // The command name in field 2 may hold spaces and parentheses: count
    // fields after its last ')'. Field 3 is the state; start time is field 22.
    const size_t close = statLine.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream rest(statLine.substr(close + 1));
    std::string field;
    for (int n = 3; n <= 22; ++n) {
        if (!(rest >> field)) return std::nullopt;
    }
    if (field.empty() || field.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    return std::stoull(field);
}

std::optional<double> MsSinceProcessStart()
{
    if (const char* t0 = std::getenv("TW_STARTUP_T0_NS"); t0 && *t0) {
        char* end = nullptr;
        const long long ns = std::strtoll(t0, &end, 10);
        if (end && *end == '\0' && ns > 0) return ClockMs(CLOCK_MONOTONIC) - double(ns) / 1e6;
    }
    std::ifstream stat("/proc/self/stat");
    std::string line;
    if (!std::getline(stat, line)) return std::nullopt;
    const std::optional<unsigned long long> ticks = StatStartTicks(line);
    const long hz = sysconf(_SC_CLK_TCK);
    if (!ticks || hz <= 0) return std::nullopt;
    return ClockMs(CLOCK_BOOTTIME) - double(*ticks) * 1e3 / double(hz);
}

bool InstallStartupProbe(QWidget* window, std::function<void(double ms)> shown)
{
    if (!window || qEnvironmentVariableIsEmpty("TW_STARTUP_PROBE")) return false;
    if (!shown) {
        shown = [](double ms) {
            std::printf("startup-ms %.1f\n", ms);
            std::fflush(stdout);
            QCoreApplication::quit();
        };
    }
    QCoreApplication::instance()->installEventFilter(new TStartupProbe(window, std::move(shown)));
    return true;
}
