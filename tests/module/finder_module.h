#pragma once
// A virtual module for the Find Module tests: answering at one rate only,
// or silent.
#include <QString>
#include <memory>

#include "tools/vmodule/virtual_module.h"

// The module started on its pty; nullptr when it did not start.
inline std::unique_ptr<TVirtualModule> Module(long onlyAtBaud, bool silent = false)
{
    auto vm = std::make_unique<TVirtualModule>();
    TVirtualModuleFaults f;
    f.onlyAtBaud = onlyAtBaud;
    f.silent = silent;
    vm->SetFaults(f);
    std::string error;
    if (!vm->Start(&error)) return nullptr;
    return vm;
}

inline QString PathOf(const TVirtualModule& vm) { return QString::fromStdString(vm.PortPath()); }
