// The board artwork against the mark and label geometry: every shunt mark
// lands on the drawn pins, the label boxes are plain background, and the DB9
// overlay joins the board picture without a seam.
#include <QtTest>

#include "settings/ui/jumper_artwork.h"
#include "settings/jumper_table.h"

namespace {

bool IsGold(QRgb c) { return qRed(c) > 120 && qGreen(c) > 90 && qBlue(c) < 110 && qRed(c) - qBlue(c) > 80; }

// Gold pixels of the board inside a page rectangle, in picture coordinates.
QList<QPoint> GoldIn(const QImage& board, const QRect& pageRect)
{
    QList<QPoint> v;
    const QRect r = pageRect.translated(-kBoardImagePos);
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (IsGold(board.pixel(x, y))) v << QPoint(x, y);
    return v;
}

int CountIn(const QList<QPoint>& pts, const QRect& pageRect)
{
    const QRect r = pageRect.translated(-kBoardImagePos);
    return int(std::count_if(pts.begin(), pts.end(), [&](QPoint p) { return r.contains(p); }));
}

}  // namespace

class TestJumperArtwork : public QObject {
    Q_OBJECT
private slots:
    void sizes()
    {
        QCOMPARE(JumperBoardPicture().size(), kBoardImageSize);
        QCOMPARE(FCOverlayPicture().size(), kOverlayImageSize);
    }

    void headerMarksCoverTheirPinPairs()
    {
        const QImage board = JumperBoardPicture();
        for (int i = 0; i < kHeaderPositions; ++i) {
            const auto mark = TShuntMark(jmHeader1 + i);
            const QRect upper = ShuntMarkRect(mark, hsUpper), lower = ShuntMarkRect(mark, hsLower);
            // The whole pin column of J6 around the mark.
            const QList<QPoint> gold = GoldIn(board, QRect(upper.left(), upper.top() - 8, upper.width(), 56));
            QVERIFY2(!gold.isEmpty(), qPrintable(QString("no pins under position %1").arg(i + 1)));
            const int inUpper = CountIn(gold, upper), inLower = CountIn(gold, lower);
            const int inBoth = CountIn(gold, upper.intersected(lower));
            // Every pin is under one of the two placements; the middle pin under both,
            // and each placement leaves the other end pin showing.
            QCOMPARE(inUpper + inLower - inBoth, int(gold.size()));
            QVERIFY(inBoth > 0);
            QVERIFY(inUpper > inBoth && inUpper < gold.size());
            QVERIFY(inLower > inBoth && inLower < gold.size());
            QCOMPARE(inUpper, inLower);
        }
    }

    void db9MarksCoverTheWiringBlockPins()
    {
        const QImage board = JumperBoardPicture();
        const QRect block(80, 72, 104, 44);  // page rectangle of the 2 x 6 block and its surround
        const QList<QPoint> gold = GoldIn(board, block);
        QVERIFY(!gold.isEmpty());
        int covered = 0;
        for (TShuntMark m : {jmFlowVertical1, jmFlowVertical2, jmFlowVertical3, jmFlowVertical4,
                             jmSerialStraight1, jmSerialStraight2})
            covered += CountIn(gold, ShuntMarkRect(m));
        QCOMPARE(covered, int(gold.size()));
        // A horizontal pair covers the same pins as the two verticals it replaces.
        const std::pair<TShuntMark, TShuntMark> pairs[][2] = {
            {{jmFlowPairA1, jmFlowPairA2}, {jmFlowVertical1, jmFlowVertical2}},
            {{jmFlowPairB1, jmFlowPairB2}, {jmFlowVertical3, jmFlowVertical4}},
            {{jmSerialCrossed1, jmSerialCrossed2}, {jmSerialStraight1, jmSerialStraight2}},
        };
        for (const auto& p : pairs) {
            const int horizontal = CountIn(gold, ShuntMarkRect(p[0].first)) + CountIn(gold, ShuntMarkRect(p[0].second));
            const int vertical = CountIn(gold, ShuntMarkRect(p[1].first)) + CountIn(gold, ShuntMarkRect(p[1].second));
            QVERIFY(horizontal > 0);
            QCOMPARE(horizontal, vertical);
        }
    }

    void labelBoxesArePlainBackground()
    {
        const QImage board = JumperBoardPicture();
        const QRgb bg = LabelBackground(board).rgb();
        QCOMPARE(bg, board.pixel(54, 6));
        for (int b = lbP; b <= lbS; ++b) {
            const QRect r = LabelBoxRect(TLabelBox(b));
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x)
                    QVERIFY2(board.pixel(x, y) == bg, qPrintable(QString("box %1 at %2,%3").arg(b).arg(x).arg(y)));
        }
    }

    void labelsDrawnAndErased()
    {
        const QImage board = JumperBoardPicture();
        QImage img = board;
        DrawSignalLabels(img, {"FI", "FO", "TX", "RX"});
        for (int b = lbP; b <= lbS; ++b) {
            const QRect r = LabelBoxRect(TLabelBox(b));
            int white = 0;
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x) white += img.pixel(x, y) == qRgb(255, 255, 255);
            QVERIFY2(white > 10, qPrintable(QString("box %1").arg(b)));
        }
        // Only the boxes change.
        QRegion boxes;
        for (int b = lbP; b <= lbS; ++b) boxes += LabelBoxRect(TLabelBox(b));
        for (int y = 0; y < board.height(); ++y)
            for (int x = 0; x < board.width(); ++x)
                if (!boxes.contains(QPoint(x, y))) QCOMPARE(img.pixel(x, y), board.pixel(x, y));
        DrawSignalLabels(img, {});
        QCOMPARE(img, board);
    }

    void overlayJoinsTheBoard()
    {
        const QImage board = JumperBoardPicture();
        const QImage overlay = FCOverlayPicture();
        const QPoint o = kOverlayImagePos - kBoardImagePos;
        int differing = 0;
        for (int y = 0; y < overlay.height(); ++y)
            for (int x = 0; x < overlay.width(); ++x) {
                const bool same = overlay.pixel(x, y) == board.pixel(o.x() + x, o.y() + y);
                const bool edge = x == 0 || y == 0 || x == overlay.width() - 1 || y == overlay.height() - 1;
                if (!same) {
                    ++differing;
                    // Only the leads inside change; a changed edge pixel would show a seam.
                    QVERIFY2(!edge, qPrintable(QString("seam at %1,%2").arg(x).arg(y)));
                }
            }
        QVERIFY(differing > 0);  // it does show other leads
    }
};

QTEST_MAIN(TestJumperArtwork)
#include "test_jumper_artwork.moc"
