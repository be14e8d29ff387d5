#pragma once
// Command line of tarnwick-vmodule, parsed apart from main so it can be tested.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/vmodule/air_link.h"
#include "tools/vmodule/virtual_module.h"

struct TVModuleOptions {
    bool help = false;
    std::string image;        // --image FILE
    std::string configImage;  // --config-image FILE
    std::string link;         // --link PATH
    bool addressSet = false;  // --address HEX
    uint16_t address = 0;
    TVirtualModuleFaults faults;
    bool cableLink = false;   // --mode cable-link (else command)
    TAirOptions air;          // --air, --loopback, --air-loss, --air-bit-errors, --air-latency
};

// args without the program name. False with *error set on an unknown option,
// a missing value or a value out of range.
bool ParseVModuleOptions(const std::vector<std::string>& args, TVModuleOptions* out, std::string* error);
std::string VModuleUsage();
