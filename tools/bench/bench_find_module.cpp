// Find Module's time per port and rate against virtual modules: a module
// answering at the chosen rate, a silent port (the full wait of one
// attempt), and four silent ports searched at once.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <memory>
#include <vector>

#include "module/module_finder.h"
#include "tools/bench/bench_support.h"
#include "tools/vmodule/virtual_module.h"

namespace {

std::unique_ptr<TVirtualModule> Module(bool silent)
{
    auto vm = std::make_unique<TVirtualModule>();
    TVirtualModuleFaults f;
    f.silent = silent;
    f.onlyAtBaud = silent ? 0 : 57600;
    vm->SetFaults(f);
    vm->SetReceivedLimit(0);
    if (!vm->Start()) return nullptr;
    return vm;
}

// Median wall time of `runs` searches, in milliseconds.
double TimeSearch(const QStringList& ports, const QList<int>& items, int runs, bool* found)
{
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        TFindRequest req;
        req.ports = ports;
        req.baudItems = items;
        req.settings.flowItem = 3;
        QElapsedTimer w;
        w.start();
        const TFindResult r = TModuleFinder(req).Run();
        t.push_back(double(w.nsecsElapsed()) / 1e6);
        *found = r.found;
    }
    return Median(t);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    auto answering = Module(false);
    std::vector<std::unique_ptr<TVirtualModule>> silent;
    for (int i = 0; i < 4; ++i) silent.push_back(Module(true));
    if (!answering) return 1;
    for (auto& s : silent)
        if (!s) return 1;
    auto path = [](const TVirtualModule& vm) { return QString::fromStdString(vm.PortPath()); };

    bool found = false;
    const double hit = TimeSearch({path(*answering)}, {1}, 5, &found);
    const bool hitOk = found;
    // The module answers only at 57600: the search from 115200 costs one silent attempt first.
    const double second = TimeSearch({path(*answering)}, {0, 1}, 3, &found);
    const bool secondOk = found;
    const double miss = TimeSearch({path(*silent[0])}, {1}, 3, &found);
    QStringList four;
    for (auto& s : silent) four << path(*s);
    const double parallel = TimeSearch(four, {1}, 3, &found);

    std::printf("answering at the chosen rate: %.0f ms%s\n", hit, hitOk ? "" : " (NOT FOUND)");
    std::printf("answering at the second rate: %.0f ms%s\n", second, secondOk ? "" : " (NOT FOUND)");
    std::printf("silent port, one rate: %.0f ms\n", miss);
    std::printf("four silent ports at once, one rate: %.0f ms (%.0f ms per port)\n", parallel, parallel / 4);
    const bool ok = hitOk && secondOk && hit < 3000 && miss < 3000 && parallel < 2 * miss + 500;
    std::printf("BENCH\tFind Module, module at the chosen rate (per port)\t%.0f ms\t< 3000 ms\n", hit);
    std::printf("BENCH\tFind Module, silent port (per port and rate)\t%.0f ms\t< 3000 ms\n", miss);
    std::printf("BENCH\tFind Module, 4 silent ports at once (wall, per port)\t%.0f ms, %.0f ms\t(ports in parallel)\n",
                parallel, parallel / 4);
    return ok ? 0 : 2;
}
