#include "terminal/lamp_strip_layout.h"

#include <algorithm>

std::vector<int> LayoutLampStrip(const std::vector<TLampStripItem>& items, const TLampStripMetrics& m)
{
    const size_t n = items.size();
    std::vector<int> lefts(n);
    if (n == 0) return lefts;

    // From the right: each lamp keeps its design place unless its label
    // would reach the next lamp (or the strip's end).
    int limit = m.rightLimit;
    for (size_t i = n; i-- > 0;) {
        lefts[i] = std::min(items[i].left, limit - m.labelOffset - std::max(0, items[i].labelWidth));
        limit = lefts[i] - m.minGap;
    }
    if (lefts[0] >= m.minLeft) return lefts;

    // Not enough room even packed: keep the left edge, give up the right one.
    lefts[0] = m.minLeft;
    for (size_t i = 1; i < n; ++i)
        lefts[i] = lefts[i - 1] + m.labelOffset + std::max(0, items[i - 1].labelWidth) + m.minGap;
    return lefts;
}
