// The command encoder over arbitrary row values.
#include <cstddef>
#include <cstdint>

#include "commands/command_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    TCommandRowValues row;
    row.command = static_cast<int8_t>(data[0]);
    size_t pos = 2;
    for (int p = 0; p < (data[1] & 31) && pos < size; ++p) {
        TCommandParam param;
        const size_t len = std::min<size_t>(data[pos] % 80, size - pos - 1);
        param.item = static_cast<int8_t>(data[pos]);
        param.checked = data[pos] & 0x80;
        param.text = QString::fromLatin1(reinterpret_cast<const char*>(data + pos + 1), static_cast<qsizetype>(len));
        row.params.push_back(param);
        pos += len + 1;
    }
    const TEncodedCommand c = EncodeCommand(row);
    FrameBytes(c.CommandFrame);
    if (c.ReplyLength < 0 || c.ReplyLength > 33) __builtin_trap();
    return 0;
}
