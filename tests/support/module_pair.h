#pragma once
// Two virtual modules on their ptys, a_ and b_, for the tests that program a
// pair. A test class derives from it next to QObject and calls StartPair in
// init, StopPair in cleanup. Header only: only tests that link the module
// layer include it.
#include <algorithm>
#include <memory>
#include <string>

#include "module/memory_operations.h"
#include "tools/vmodule/virtual_module.h"

class TModulePair {
protected:
    std::unique_ptr<TVirtualModule> a_, b_;

    // False with *error set when a module did not start.
    bool StartPair(std::string* error)
    {
        a_ = std::make_unique<TVirtualModule>();
        b_ = std::make_unique<TVirtualModule>();
        return a_->Start(error) && b_->Start(error);
    }
    void StopPair()
    {
        a_.reset();
        b_.reset();
    }

    // The configuration half of a module's memory.
    static TMemoryBytes ConfigOf(const TVirtualModule& vm)
    {
        const std::array<uint8_t, 256> m = vm.Memory();
        TMemoryBytes bytes;
        std::copy(m.begin() + 128, m.end(), bytes.begin());
        return bytes;
    }
};
