// Reading a command script of any content: never crashes, a refusal says
// why, and an accepted script writes back to one that reads the same rows.
#include <QByteArray>
#include <cstddef>
#include <cstdint>

#include "commands/ui/command_script.h"

namespace {

bool Same(const std::vector<TCommandRowValues>& a, const std::vector<TCommandRowValues>& b)
{
    if (a.size() != b.size()) return false;
    for (size_t n = 0; n < a.size(); ++n) {
        if (a[n].command != b[n].command || a[n].params.size() != b[n].params.size()) return false;
        for (size_t i = 0; i < a[n].params.size(); ++i)
            if (a[n].params[i].text != b[n].params[i].text || a[n].params[i].item != b[n].params[i].item ||
                a[n].params[i].checked != b[n].params[i].checked)
                return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const TCommandScriptRead r = ReadCommandScript(bytes);
    if (!r.check.ok) {
        if (r.check.problems.isEmpty()) __builtin_trap();
        return 0;
    }
    const TCommandScriptRead again = ReadCommandScript(WriteCommandScript(r.rows));
    if (!again.check.ok || !Same(again.rows, r.rows)) __builtin_trap();
    return 0;
}
