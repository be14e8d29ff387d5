#pragma once
// Horizontal placement of a strip of signal lamps, each followed by its label.
// The design positions are kept wherever they leave room; where a label would
// run into the next lamp or past the strip's right end, lamps move left just
// as far as needed, so every label shows in full whatever the font.
#include <vector>

struct TLampStripItem {
    int left;        // design position of the lamp
    int labelWidth;  // width the label needs in the current font
};

struct TLampStripMetrics {
    int labelOffset = 24;  // label's left relative to its lamp's left
    int minGap = 4;        // space kept between a label and the next lamp
    int minLeft = 0;       // nothing of the strip may start left of this
    int rightLimit = 0;    // the last label must end at or before this
};

// The lamps' left positions, in the order given. When the strip is too narrow
// even packed tight, it is packed from minLeft and runs past rightLimit.
std::vector<int> LayoutLampStrip(const std::vector<TLampStripItem>& items, const TLampStripMetrics& m);
