// Reading a configuration profile of any content: never crashes, and a
// profile it accepts writes back to one that reads to the same values.
#include <QByteArray>
#include <cstddef>
#include <cstdint>

#include "settings/config_profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const TConfigProfileRead r = ReadConfigProfile(bytes);
    if (!r.check.ok) {
        if (r.check.problems.isEmpty()) __builtin_trap();  // a refusal always says why
        return 0;
    }
    const TConfigProfileRead again = ReadConfigProfile(WriteConfigProfile(r.values));
    if (!again.check.ok || !(again.values == r.values)) __builtin_trap();
    return 0;
}
