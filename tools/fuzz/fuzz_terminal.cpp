// Received bytes through both parsers and the screen buffer behind them.
#include <cstddef>
#include <cstdint>

#include "terminal/com_term_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    TComTermEngine engine;
    engine.SetEmulation(data[0] & 1 ? teVT52 : teVT100orANSI);
    engine.WrapLines = data[0] & 2;
    engine.AppendLF = data[0] & 4;
    engine.Force7Bit = data[0] & 8;
    engine.SetRows(2 + (data[0] >> 4) * 6);
    engine.CanSend = [] { return true; };
    engine.Write = [](const std::string&) {};
    // Feed in a few uneven blocks, so sequences are split across receives.
    size_t pos = 1;
    size_t block = 1;
    while (pos < size) {
        const size_t n = std::min(block, size - pos);
        engine.ReceivedData(reinterpret_cast<const char*>(data + pos), static_cast<int>(n));
        pos += n;
        block = block * 3 % 97 + 1;
    }
    return 0;
}
