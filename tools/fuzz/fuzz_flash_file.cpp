// Loading a flash image from a file of any content and length.
#include <QTemporaryFile>
#include <cstddef>
#include <cstdint>

#include "flash_editor/flash_file.h"
#include "flash_editor/flash_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QTemporaryFile f;
    if (!f.open()) return 0;
    f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    f.close();
    TFlashImage image;
    LoadFlashFile(f.fileName(), image);
    for (size_t i = 0; i < 128; ++i) {
        const uint8_t expected = i < size ? data[i] : 0xFF;
        if (image.Byte(static_cast<int>(i)) != expected) __builtin_trap();
    }
    return 0;
}
