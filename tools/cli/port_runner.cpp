#include "tools/cli/port_runner.h"

#include <QElapsedTimer>
#include <exception>
#include <memory>
#include <thread>

#include "tools/cli/cli_options.h"

namespace {

TPortResult RunGuarded(const TPortJob& job, int slot, const QString& port)
{
    QElapsedTimer clock;
    clock.start();
    TPortResult r;
    try {
        r = job(slot, port);
    } catch (const std::exception& e) {
        r = TPortResult{};
        r.exitCode = cli_exit::ModuleFailed;
        r.error = QString::fromLocal8Bit(e.what());
    } catch (...) {
        r = TPortResult{};
        r.exitCode = cli_exit::ModuleFailed;
        r.error = QStringLiteral("unexpected failure");
    }
    r.port = port;
    if (r.durationMs == 0) r.durationMs = clock.elapsed();
    return r;
}

}  // namespace

std::vector<TPortResult> RunOnPorts(const QStringList& ports, const TPortJob& job)
{
    std::vector<TPortResult> results(size_t(ports.size()));
    // One port needs no second thread.
    if (ports.size() == 1) {
        results[0] = RunGuarded(job, 0, ports[0]);
        return results;
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < ports.size(); ++i) {
        // Each job builds its port on its own thread, so every QObject of a
        // port lives where it is used; its waits and pauses block that thread.
        threads.emplace_back([&results, &job, &ports, i] { results[size_t(i)] = RunGuarded(job, i, ports[i]); });
    }
    for (std::thread& t : threads) t.join();
    return results;
}

int WorstExitCode(const std::vector<TPortResult>& results)
{
    int worst = 0;
    for (const TPortResult& r : results) worst = std::max(worst, r.exitCode);
    return worst;
}
