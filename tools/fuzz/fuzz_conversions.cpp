// The field conversions and the hexadecimal substring reader on any text.
#include <QString>
#include <cstddef>
#include <cstdint>

#include "common/hex_text.h"
#include "settings/conversions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data + 2), static_cast<qsizetype>(size - 2));
    HexSubstringValue(text, static_cast<int8_t>(data[0]), static_cast<int8_t>(data[1]));
    QString t1 = text, t2 = text, t3 = text;
    bool beep = false;
    NormalizeChannelFrequency(t1, &beep);
    ParseTemperatureOffset(t2, &beep);
    const int baud = ParseCustomBaud(t3, &beep);
    if (baud > 0) BaudLabelText(baud);
    PadHexText(text, data[0] % 40);
    NormalizeHexData(text);
    DataLengthWhileTyping(text);
    return 0;
}
