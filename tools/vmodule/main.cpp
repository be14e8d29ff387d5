// tarnwick-vmodule: the virtual module as a program of its own.
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "tools/vmodule/air_link.h"
#include "tools/vmodule/module_image.h"
#include "tools/vmodule/virtual_module.h"
#include "tools/vmodule/vmodule_options.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    TVModuleOptions opt;
    std::string error;
    if (!ParseVModuleOptions(args, &opt, &error)) {
        std::fprintf(stderr, "tarnwick-vmodule: %s\n\n%s", error.c_str(), VModuleUsage().c_str());
        return 2;
    }
    if (opt.help) {
        std::fputs(VModuleUsage().c_str(), stdout);
        return 0;
    }
    TConfigMemory config{};
    if (!opt.configImage.empty() && !LoadConfigMemory(opt.configImage, &config, &error)) {
        std::fprintf(stderr, "tarnwick-vmodule: %s\n", error.c_str());
        return 1;
    }

    // Blocked before the module thread starts, so only sigtimedwait below sees
    // them. A shell starts background jobs with SIGINT ignored, and an ignored
    // signal is dropped even while blocked: take the default back first.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A reader of our path that went away must not kill us on the next print.
    signal(SIGPIPE, SIG_IGN);

    TVirtualModule module;
    module.SetReceivedLimit(0);  // nobody reads the record here
    if (!opt.image.empty()) module.SetImageFile(opt.image);
    if (!opt.link.empty()) module.SetLinkPath(opt.link);
    if (opt.addressSet) module.SetUnitAddress(opt.address);
    module.SetFaults(opt.faults);
    // Cable Link: the line's bytes go over the air instead of to the command
    // reader; the air reads the pair's settings from the memory as it is.
    std::unique_ptr<TAirLink> air;
    if (opt.cableLink) {
        air = std::make_unique<TAirLink>(
            opt.air,
            [&module] {
                const auto mem = module.Memory();
                std::array<uint8_t, 128> config;
                std::copy(mem.begin() + 128, mem.end(), config.begin());
                return AirIdentityOf(config);
            },
            [&module](std::vector<uint8_t> bytes) { module.Inject(bytes); });
        TAirLink* link = air.get();
        module.SetSerialSink([link](const uint8_t* data, size_t n) { link->Send(data, n); });
    }
    if (!module.Start(&error)) {
        std::fprintf(stderr, "tarnwick-vmodule: %s\n", error.c_str());
        return 1;
    }
    if (!opt.configImage.empty()) {
        // After Start, which loads --image: the configuration file wins.
        auto memory = module.Memory();
        std::copy(config.begin(), config.end(), memory.begin() + 128);
        module.SetMemory(memory);
    }
    if (air && !air->Start(&error)) {
        module.Stop();
        std::fprintf(stderr, "tarnwick-vmodule: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", module.PortPath().c_str());
    std::fflush(stdout);

    int rc = 0;
    for (;;) {
        // Wakes now and then to notice a hang-up made by --hangup-after.
        const timespec tick{0, 250 * 1000 * 1000};
        const int sig = sigtimedwait(&stopSignals, nullptr, &tick);
        if (sig > 0) break;
        if (!module.Running()) {
            std::fprintf(stderr, "tarnwick-vmodule: hung up after %ld received bytes\n", module.ReceivedCount());
            break;
        }
    }
    // The module first: its thread hands the air the line's bytes. The air
    // may still read the memory and inject into the stopped module.
    module.Stop();
    if (air) air->Stop();
    if (!module.ImageError().empty()) {
        std::fprintf(stderr, "tarnwick-vmodule: %s\n", module.ImageError().c_str());
        rc = 1;
    }
    return rc;
}
