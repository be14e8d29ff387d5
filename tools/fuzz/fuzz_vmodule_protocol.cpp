// The virtual module's command reader over arbitrary byte streams. The first
// byte picks reply quirks; the rest is fed one byte at a time. Replies stay
// bounded and a frame never collects more than the longest command needs.
#include <cstddef>
#include <cstdint>

#include "tools/vmodule/module_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    TModuleProtocol p;
    TProtocolQuirks q;
    q.extraReplyByte = data[0] & 1;
    if (data[0] & 2) q.readFlashHeader = data[0];
    q.versionReplyLength = static_cast<int8_t>(data[0]) / 2;   // also negative and over-long
    p.SetQuirks(q);
    size_t total = 0;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0xFF && i + 1 < size && data[i + 1] == 0xFF) {
            p.AbortFrame();
            ++i;
            continue;
        }
        const TModuleProtocol::Result r = p.Feed(data[i]);
        // No single byte may complete a reply longer than a whole flash read
        // plus its header and the extra byte.
        if (r.reply.size() > vmod::kMemorySize + 2 + 64) __builtin_trap();
        total += r.reply.size();
    }
    (void)total;
    return 0;
}
