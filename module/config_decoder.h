#pragma once
// The configuration image read back into the Config Memory page's values:
// the inverse of ConfigImage for every image the page can produce, plus the
// bytes it cannot express (a changed template byte, a channel step out of
// the fields' range, a code no list item has, bits no control sets).
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "module/config_image.h"
#include "settings/config_values.h"

enum class TDecodeReason {
    TemplateByte,   // a fixed byte of the template (or a constant) changed
    ChannelStep,    // a channel step outside -94..+93
    ChannelRepeat,  // a channel's fourth byte does not repeat its first
    UnknownCode,    // a code that no item of the list has
    UnusedBits,     // bits that no control sets (in this mode)
    FixedPin,       // a header pin the page holds fixed
    AddressCopy,    // the second copy of the unit address differs
};

// One byte of the image the page cannot express.
struct TConfigDifference {
    int offset = 0;        // image offset 0x00-0x7F (module address 0x80 + offset)
    uint8_t found = 0;     // the byte in the image
    uint8_t written = 0;   // the byte "Program Config" would write instead
    TDecodeReason reason = TDecodeReason::TemplateByte;
};

struct TConfigDecoding {
    TConfigValues values;                        // texts as the page shows them after leaving each field
    std::vector<TConfigDifference> differences;  // by offset; empty when the page expresses the image
};

// ConfigImage(DecodeConfigImage(image).values) equals image except at the
// listed offsets, where it holds the listed "written" bytes.
TConfigDecoding DecodeConfigImage(const TConfigImage& image);

// Why, in a few words ("channel step outside -94..+93").
QString DecodeReasonText(TDecodeReason reason);

// The lines of the message that reports the differences: a heading, one line
// per byte (offset, module address, the byte, what would be written, why),
// and that "Program Config" would replace them. Empty for no differences.
QStringList DifferenceMessageLines(const std::vector<TConfigDifference>& differences);
// Those lines as one message box's text: the first 16 bytes, then "... and N more".
QString DifferenceMessage(const std::vector<TConfigDifference>& differences);
