#pragma once
// Virtual modules in "Cable Link" mode inside the test process: the module
// on its pty, its air beside it, as tarnwick-vmodule --mode cable-link wires them.
#include <unistd.h>

#include <QString>
#include <array>
#include <atomic>
#include <chrono>
#include <thread>
#include <memory>
#include <string>

#include "tools/vmodule/air_link.h"
#include "tools/vmodule/virtual_module.h"

struct TCableLinkModule {
    TVirtualModule vm;
    std::unique_ptr<TAirLink> air;

    // memory: the module's 256 bytes (the configuration from 0x80).
    bool Start(const std::array<uint8_t, 256>& memory, const TAirOptions& options)
    {
        vm.SetReceivedLimit(0);
        vm.SetMemory(memory);
        air = std::make_unique<TAirLink>(
            options,
            [this] {
                const auto m = vm.Memory();
                std::array<uint8_t, 128> c;
                std::copy(m.begin() + 128, m.end(), c.begin());
                return AirIdentityOf(c);
            },
            [this](std::vector<uint8_t> bytes) { vm.Inject(bytes); });
        TAirLink* link = air.get();
        vm.SetSerialSink([link](const uint8_t* d, size_t n) { link->Send(d, n); });
        std::string error;
        return vm.Start(&error) && air->Start(&error);
    }
    ~TCableLinkModule()
    {
        vm.Stop();
        if (air) air->Stop();
    }
    QString Port() const { return QString::fromStdString(vm.PortPath()); }
};

// Waits until the two airs have found each other: a frame sent before that
// is lost, as with a module still powering up. False after timeoutMs.
inline bool AirsMeet(const TCableLinkModule& a, const TCableLinkModule& b, int timeoutMs = 20000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!(a.air->PeerConnected() && b.air->PeerConnected())) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A name no other test process uses at the same time.
inline std::string FreshAirName()
{
    static std::atomic<int> n{0};
    return "test-" + std::to_string(::getpid()) + "-" + std::to_string(n++);
}

// A configuration memory (256 bytes, 0x80 on the configuration) with these
// settings, as the Config Memory page would write them.
inline std::array<uint8_t, 256> CableLinkMemory(uint8_t keyByte, bool pointA, int rateCode = 4, int channel = 3)
{
    std::array<uint8_t, 256> m{};
    m.fill(0xFF);
    for (int i = 0; i < 16; ++i) m[size_t(0x80 + 0x40 + i)] = keyByte;
    m[0x80 + 0x55] = uint8_t(channel * 4);
    m[0x80 + 0x56] = uint8_t((rateCode << 2) | (pointA ? 0x40 : 0));
    return m;
}
