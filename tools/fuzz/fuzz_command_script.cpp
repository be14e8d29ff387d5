// Reading a command script of any content: never crashes, a refusal says
// why, and an accepted script writes back to one that reads the same rows.
#include <QByteArray>
#include <cstddef>
#include <cstdint>

#include "commands/ui/command_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const TCommandScriptRead r = ReadCommandScript(bytes);
    if (!r.check.ok) {
        if (r.check.problems.isEmpty()) __builtin_trap();
        return 0;
    }
    const TCommandScriptRead again = ReadCommandScript(WriteCommandScript(r.rows));
    if (!again.check.ok || again.rows != r.rows) __builtin_trap();
    return 0;
}
