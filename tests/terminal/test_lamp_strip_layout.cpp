// Placement of the Terminal page's lamp strip: design places where they
// leave room, labels never cut off or overlapping the next lamp.
#include <QtTest>

#include "terminal/lamp_strip_layout.h"

namespace {

const std::vector<int> kDesign = {136, 208, 320, 432, 544};

std::vector<TLampStripItem> Items(const std::vector<int>& widths)
{
    std::vector<TLampStripItem> items;
    for (size_t i = 0; i < widths.size(); ++i) items.push_back({kDesign[i], widths[i]});
    return items;
}

TLampStripMetrics Page()
{
    TLampStripMetrics m;
    m.labelOffset = 24;
    m.minGap = 4;
    m.minLeft = 100;
    m.rightLimit = 649;
    return m;
}

// Every label ends before the next lamp (with the gap) and inside the strip.
void VerifyFits(const std::vector<int>& lefts, const std::vector<int>& widths, const TLampStripMetrics& m)
{
    QCOMPARE(lefts.size(), widths.size());
    QVERIFY(lefts.front() >= m.minLeft);
    for (size_t i = 0; i < lefts.size(); ++i) {
        const int labelEnd = lefts[i] + m.labelOffset + widths[i];
        const int limit = i + 1 < lefts.size() ? lefts[i + 1] - m.minGap : m.rightLimit;
        QVERIFY2(labelEnd <= limit, qPrintable(QStringLiteral("label %1 ends at %2, limit %3").arg(i).arg(labelEnd).arg(limit)));
    }
}

}  // namespace

class TestLampStripLayout : public QObject {
    Q_OBJECT
private slots:
    void designKeptWhenLabelsFit();
    void onlyTheLampsThatMustMoveMove();
    void wideFontStillFitsWhenPackable();
    void tooNarrowPacksFromTheLeft();
    void emptyAndOddInput();
};

void TestLampStripLayout::designKeptWhenLabelsFit()
{
    const std::vector<int> widths = {28, 70, 70, 70, 70};
    const std::vector<int> lefts = LayoutLampStrip(Items(widths), Page());
    QCOMPARE(lefts, kDesign);
    VerifyFits(lefts, widths, Page());
}

void TestLampStripLayout::onlyTheLampsThatMustMoveMove()
{
    // The widths of the sans font the panel gets on Debian: only the last
    // label ("Data Set Ready", 87) overruns; it and those it pushes move.
    const std::vector<int> widths = {32, 84, 80, 82, 87};
    const std::vector<int> lefts = LayoutLampStrip(Items(widths), Page());
    VerifyFits(lefts, widths, Page());
    QCOMPARE(lefts[4], 649 - 24 - 87);
    QCOMPARE(lefts[0], 136);
    QCOMPARE(lefts[1], 208);
    for (size_t i = 0; i < lefts.size(); ++i) QVERIFY(lefts[i] <= kDesign[i]);
    // Order is kept.
    QVERIFY(std::is_sorted(lefts.begin(), lefts.end()));
}

void TestLampStripLayout::wideFontStillFitsWhenPackable()
{
    // 5 x 24 + 4 x 4 + 400 = 536 <= 649 - 100.
    const std::vector<int> widths = {40, 90, 90, 90, 90};
    const std::vector<int> lefts = LayoutLampStrip(Items(widths), Page());
    VerifyFits(lefts, widths, Page());
    QVERIFY(lefts[0] < 136);
}

void TestLampStripLayout::tooNarrowPacksFromTheLeft()
{
    const std::vector<int> widths = {100, 120, 120, 120, 120};
    const TLampStripMetrics m = Page();
    const std::vector<int> lefts = LayoutLampStrip(Items(widths), m);
    QCOMPARE(lefts[0], m.minLeft);
    // Packed: no label overlaps the next lamp, even though the end overruns.
    for (size_t i = 0; i + 1 < lefts.size(); ++i)
        QCOMPARE(lefts[i + 1], lefts[i] + m.labelOffset + widths[i] + m.minGap);
}

void TestLampStripLayout::emptyAndOddInput()
{
    QVERIFY(LayoutLampStrip({}, Page()).empty());
    // A negative width (a label never laid out) counts as empty, not as room.
    const std::vector<int> lefts = LayoutLampStrip({{544, -50}}, Page());
    QCOMPARE(lefts, std::vector<int>{544});
    // One lamp whose label alone is too wide moves left as far as needed.
    const std::vector<int> one = LayoutLampStrip({{544, 200}}, Page());
    QCOMPARE(one, std::vector<int>{649 - 24 - 200});
}

QTEST_APPLESS_MAIN(TestLampStripLayout)
#include "test_lamp_strip_layout.moc"
