#include "settings/ui/jumper_artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <cmath>

#include "settings/jumper_table.h"

namespace {

// Which DB9 pins the flow-control leads come from.
enum TDb9Leads { dlFlowPins78, dlFlowPins64 };

const QColor kMask(20, 88, 46);          // solder mask
const QColor kMaskCopper(38, 116, 64);   // copper under the mask
const QColor kSilk(238, 240, 228);       // silkscreen
const QColor kLead(255, 214, 64);        // callout lines to the pins
const QColor kGold(214, 170, 52);
const QColor kGoldLight(252, 232, 140);
const QColor kGoldDark(132, 96, 18);
const QColor kPlastic(26, 26, 28);

// DB9 face, male numbering: pins 1..5 across the top, 6..9 below.
QPointF Db9Pin(int pin)
{
    if (pin <= 5) return {119.0 + 11.0 * (pin - 1), 23.0};
    return {124.5 + 11.0 * (pin - 6), 35.0};
}

QFont SilkFont(int px, bool bold = true)
{
    QFont f(QStringLiteral("Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(px);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

void SilkText(QPainter& p, const QRect& r, const QString& text, int px, int align = Qt::AlignCenter)
{
    p.setFont(SilkFont(px));
    p.setPen(kSilk);
    p.drawText(r, align, text);
}

void Trace(QPainter& p, const QPolygon& path, int width = 2)
{
    p.setPen(QPen(kMaskCopper, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(path);
}

void SquarePin(QPainter& p, int x, int y)
{
    // A square post seen from above: bevelled gold.
    p.setPen(Qt::NoPen);
    p.fillRect(x, y, 6, 6, kGoldDark);
    p.fillRect(x, y, 5, 5, kGoldLight);
    p.fillRect(x + 1, y + 1, 4, 4, kGold);
    p.fillRect(x + 2, y + 2, 2, 2, kGoldLight);
}

void MountingHole(QPainter& p, QPointF c, double r)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    QRadialGradient ring(c, r, c - QPointF(r / 3, r / 3));
    ring.setColorAt(0, QColor(250, 240, 190));
    ring.setColorAt(1, QColor(170, 140, 60));
    p.setPen(QPen(QColor(12, 50, 26), 1));
    p.setBrush(ring);
    p.drawEllipse(c, r, r);
    p.setBrush(QColor(18, 18, 18));
    p.setPen(QPen(QColor(90, 80, 50), 1));
    p.drawEllipse(c, r * 0.55, r * 0.55);
    p.setRenderHint(QPainter::Antialiasing, false);
}

void Board(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(0.5, 0.5, 249, 322), 7, 7);
    p.setPen(QPen(QColor(10, 44, 22), 1));
    p.setBrush(kMask);
    p.drawPath(outline);
    p.setRenderHint(QPainter::Antialiasing, false);
}

void Traces(QPainter& p)
{
    // DB9 pins down to the wiring block.
    // (The first one bends around the TX/RX label box.)
    Trace(p, QPolygon({QPoint(90, 50), QPoint(90, 62), QPoint(84, 68), QPoint(76, 68), QPoint(76, 72)}));
    for (int k = 1; k < 6; ++k) {
        const int x = 76 + 16 * k;
        Trace(p, QPolygon({QPoint(x, 50), QPoint(x, 72)}));
    }
    // Wiring block to the line driver.
    Trace(p, QPolygon({QPoint(164, 81), QPoint(176, 81), QPoint(182, 77)}));
    Trace(p, QPolygon({QPoint(164, 97), QPoint(174, 97), QPoint(180, 104)}));
    Trace(p, QPolygon({QPoint(76, 106), QPoint(76, 114), QPoint(170, 114), QPoint(186, 106)}));
    Trace(p, QPolygon({QPoint(92, 106), QPoint(92, 110), QPoint(166, 110), QPoint(178, 106)}));
    // Line driver down to the module header.
    for (int k = 0; k < 4; ++k) {
        const int x = 194 + 10 * k;
        Trace(p, QPolygon({QPoint(x, 107), QPoint(x, 120)}));
    }
    // Module to J6.
    for (int k = 0; k < 7; ++k) {
        const int x = 13 + 16 * k;
        Trace(p, QPolygon({QPoint(x, 240), QPoint(x, 250)}));
    }
    // Supply from the regulator.
    Trace(p, QPolygon({QPoint(150, 250), QPoint(150, 242)}), 3);
    Trace(p, QPolygon({QPoint(176, 262), QPoint(188, 262), QPoint(196, 270)}), 3);
    Trace(p, QPolygon({QPoint(30, 50), QPoint(30, 112), QPoint(40, 122)}), 3);
}

void WiringBlock(QPainter& p)
{
    const QRect body(67, 73, 98, 34);
    p.fillRect(body, kPlastic);
    p.setBrush(Qt::NoBrush);
    p.setPen(QColor(60, 60, 64));
    for (int k = 0; k < 6; ++k)
        for (int row = 0; row < 2; ++row) p.drawRect(69 + 16 * k, 75 + 16 * row, 13, 13);
    for (int k = 0; k < 6; ++k) {
        SquarePin(p, 73 + 16 * k, 78);
        SquarePin(p, 73 + 16 * k, 94);
    }
    // Silkscreen frame and names.
    p.setPen(kSilk);
    p.setBrush(Qt::NoBrush);
    p.drawRect(65, 71, 101, 37);
    SilkText(p, QRect(67, 108, 64, 9), QStringLiteral("FLOW"), 7);
    SilkText(p, QRect(133, 108, 32, 9), QStringLiteral("TX/RX"), 7);
    SilkText(p, QRect(44, 83, 20, 10), QStringLiteral("J2"), 8);
    for (int k = 0; k < 6; ++k)
        SilkText(p, QRect(69 + 16 * k, 64, 14, 8), QString::number(k + 1), 7);
}

void ConfigHeader(QPainter& p)
{
    const QRect body(4, 251, 114, 53);
    p.fillRect(body, kPlastic);
    p.setBrush(Qt::NoBrush);
    p.setPen(QColor(60, 60, 64));
    for (int k = 0; k < 7; ++k) p.drawRect(6 + 16 * k, 253, 13, 48);
    for (int k = 0; k < 7; ++k)
        for (int y : {258, 275, 291}) SquarePin(p, 10 + 16 * k, y);
    p.setPen(kSilk);
    p.setBrush(Qt::NoBrush);
    p.drawRect(2, 249, 117, 56);
    // Pin 1 corner marker.
    p.drawLine(2, 244, 2, 247);
    p.drawLine(2, 244, 7, 244);
    static const char* const kColumns[] = {"M", "S", "BD", "BD", "CH", "CH", "MS"};
    for (int k = 0; k < 7; ++k)
        SilkText(p, QRect(4 + 16 * k, 306, 18, 10), QString::fromLatin1(kColumns[k]), 8);
    SilkText(p, QRect(121, 268, 20, 12), QStringLiteral("J6"), 9);
}

void Chip(QPainter& p, const QRect& body, int leads, bool leadsTopBottom, const QString& marking)
{
    // Gull-wing leads first, then the moulded body over their inner ends.
    p.setPen(Qt::NoPen);
    const QColor tin(196, 200, 204);
    if (leadsTopBottom) {
        const double pitch = double(body.width() - 6) / (leads - 1);
        for (int i = 0; i < leads; ++i) {
            const int x = body.left() + 2 + int(i * pitch);
            p.fillRect(x, body.top() - 4, 3, body.height() + 8, tin);
        }
    } else {
        const double pitch = double(body.height() - 6) / (leads - 1);
        for (int i = 0; i < leads; ++i) {
            const int y = body.top() + 2 + int(i * pitch);
            p.fillRect(body.left() - 4, y, body.width() + 8, 3, tin);
        }
    }
    QLinearGradient g(body.topLeft(), body.bottomLeft());
    g.setColorAt(0, QColor(52, 52, 56));
    g.setColorAt(1, QColor(22, 22, 24));
    p.fillRect(body, g);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setBrush(QColor(70, 70, 74));
    p.drawEllipse(QPointF(body.left() + 4.5, body.bottom() - 3.5), 2, 2);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setFont(SilkFont(7, false));
    p.setPen(QColor(170, 170, 172));
    p.drawText(body, Qt::AlignCenter, marking);
}

void SmdPart(QPainter& p, const QRect& r, const QColor& body)
{
    const QColor tin(205, 208, 210);
    p.fillRect(r, body);
    if (r.width() >= r.height()) {
        p.fillRect(r.left(), r.top(), 3, r.height(), tin);
        p.fillRect(r.right() - 2, r.top(), 3, r.height(), tin);
    } else {
        p.fillRect(r.left(), r.top(), r.width(), 3, tin);
        p.fillRect(r.left(), r.bottom() - 2, r.width(), 3, tin);
    }
}

void LineDriver(QPainter& p)
{
    Chip(p, QRect(182, 80, 48, 22), 8, true, QStringLiteral("232"));
    SilkText(p, QRect(182, 66, 48, 9), QStringLiteral("U2"), 8);
    SmdPart(p, QRect(172, 110, 10, 6), QColor(176, 128, 72));
    SmdPart(p, QRect(188, 110, 10, 6), QColor(176, 128, 72));
    SmdPart(p, QRect(204, 110, 10, 6), QColor(176, 128, 72));
    SmdPart(p, QRect(220, 110, 10, 6), QColor(176, 128, 72));
    SmdPart(p, QRect(236, 78, 6, 10), QColor(176, 128, 72));
    SmdPart(p, QRect(236, 94, 6, 10), QColor(176, 128, 72));
}

void RfModule(QPainter& p)
{
    // The plugged-in radio: its own blue board under a tin shield can.
    const QRect pcb(10, 122, 214, 118);
    p.fillRect(pcb.adjusted(2, 2, 2, 2), QColor(8, 40, 20));
    p.fillRect(pcb, QColor(26, 58, 110));
    p.setBrush(Qt::NoBrush);
    p.setPen(QColor(14, 34, 70));
    p.drawRect(pcb.adjusted(0, 0, -1, -1));
    // Castellated pads along the bottom edge, one per J6 column and more.
    for (int k = 0; k < 13; ++k) p.fillRect(11 + 16 * k, 234, 6, 6, kGold);
    for (int k = 0; k < 5; ++k) p.fillRect(189 + 7 * (k % 5), 122, 4, 5, kGold);

    const QRect can(20, 130, 150, 98);
    QLinearGradient g(can.topLeft(), can.bottomRight());
    g.setColorAt(0, QColor(232, 234, 236));
    g.setColorAt(0.5, QColor(186, 190, 194));
    g.setColorAt(1, QColor(150, 154, 158));
    p.fillRect(can, g);
    p.setPen(QColor(110, 114, 118));
    p.drawRect(can.adjusted(0, 0, -1, -1));
    p.setPen(QColor(246, 248, 250));
    p.drawLine(can.left() + 1, can.top() + 1, can.right() - 1, can.top() + 1);
    p.drawLine(can.left() + 1, can.top() + 1, can.left() + 1, can.bottom() - 1);
    // Vent holes in the lid.
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(120, 124, 128));
    for (int i = 0; i < 6; ++i) p.drawEllipse(QPointF(36 + 22 * i, 214), 2, 2);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setFont(SilkFont(12));
    p.setPen(QColor(60, 64, 70));
    p.drawText(QRect(can.left(), can.top() + 18, can.width(), 18), Qt::AlignCenter, QStringLiteral("TARNWICK RF"));
    p.setFont(SilkFont(9, false));
    p.drawText(QRect(can.left(), can.top() + 40, can.width(), 14), Qt::AlignCenter, QStringLiteral("900 MHz  FHSS"));
    p.drawText(QRect(can.left(), can.top() + 56, can.width(), 14), Qt::AlignCenter, QStringLiteral("903 - 927 MHz"));

    // Crystal and the antenna lead on the module's uncovered end.
    p.fillRect(180, 140, 30, 11, QColor(200, 202, 206));
    p.setBrush(Qt::NoBrush);
    p.setPen(QColor(120, 120, 124));
    p.drawRect(180, 140, 29, 10);
    SmdPart(p, QRect(184, 162, 10, 6), QColor(176, 128, 72));
    SmdPart(p, QRect(200, 162, 10, 6), QColor(60, 60, 62));
    SmdPart(p, QRect(184, 176, 6, 10), QColor(176, 128, 72));
    p.setPen(QPen(kGold, 3));
    p.drawLine(210, 196, 236, 196);
}

void Antenna(QPainter& p)
{
    // Edge-mount SMA jack: gold hex body and centre pin.
    p.setRenderHint(QPainter::Antialiasing, true);
    QPolygonF hex;
    const QPointF c(236, 196);
    for (int i = 0; i < 6; ++i) {
        const double a = 3.14159265 / 3 * i + 3.14159265 / 6;
        hex << c + QPointF(9 * std::cos(a), 9 * std::sin(a));
    }
    QRadialGradient g(c - QPointF(3, 3), 12);
    g.setColorAt(0, kGoldLight);
    g.setColorAt(1, kGoldDark);
    p.setPen(QPen(QColor(110, 80, 10), 1));
    p.setBrush(g);
    p.drawPolygon(hex);
    p.setBrush(QColor(40, 34, 20));
    p.drawEllipse(c, 4.5, 4.5);
    p.setBrush(kGoldLight);
    p.drawEllipse(c, 1.5, 1.5);
    p.setRenderHint(QPainter::Antialiasing, false);
    SilkText(p, QRect(226, 208, 22, 10), QStringLiteral("ANT"), 7);
}

void PowerSection(QPainter& p)
{
    // Regulator (SOT-223 with its tab), barrel jack, power lamp.
    p.fillRect(142, 246, 20, 4, QColor(196, 200, 204));
    Chip(p, QRect(138, 250, 28, 16), 3, true, QString());
    SilkText(p, QRect(138, 270, 28, 9), QStringLiteral("U3"), 8);
    SmdPart(p, QRect(172, 250, 6, 12), QColor(176, 128, 72));
    SmdPart(p, QRect(126, 282, 12, 6), QColor(176, 128, 72));

    const QRect jack(190, 244, 58, 40);
    QLinearGradient g(jack.topLeft(), jack.bottomLeft());
    g.setColorAt(0, QColor(58, 58, 62));
    g.setColorAt(1, QColor(18, 18, 20));
    p.fillRect(jack, g);
    p.setBrush(Qt::NoBrush);
    p.setPen(QColor(80, 80, 86));
    p.drawRect(jack.adjusted(0, 0, -1, -1));
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setBrush(QColor(8, 8, 8));
    p.drawEllipse(QPointF(232, 264), 9, 9);
    p.setBrush(QColor(200, 200, 204));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(232, 264), 2.5, 2.5);
    p.setRenderHint(QPainter::Antialiasing, false);
    SilkText(p, QRect(190, 286, 58, 9), QStringLiteral("9-12V DC"), 7);

    // Power lamp.
    p.fillRect(150, 286, 8, 5, QColor(196, 200, 204));
    p.fillRect(152, 286, 4, 5, QColor(230, 40, 40));
    SilkText(p, QRect(144, 292, 20, 9), QStringLiteral("D1"), 7);

    SilkText(p, QRect(124, 304, 100, 12), QStringLiteral("DUNMERE 232A"), 9, Qt::AlignLeft | Qt::AlignVCenter);
}

void Db9(QPainter& p, TDb9Leads leads)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    // Plated flange with its two jack screws.
    const QRectF flange(86, 9.5, 110, 40);
    QLinearGradient fg(flange.topLeft(), flange.bottomLeft());
    fg.setColorAt(0, QColor(236, 238, 240));
    fg.setColorAt(0.45, QColor(196, 200, 204));
    fg.setColorAt(1, QColor(136, 140, 146));
    p.setPen(QPen(QColor(70, 72, 76), 1));
    p.setBrush(fg);
    p.drawRoundedRect(flange, 2, 2);
    for (double x : {96.0, 186.0}) {
        QPolygonF hex;
        for (int i = 0; i < 6; ++i) {
            const double a = 3.14159265 / 3 * i;
            hex << QPointF(x + 6 * std::cos(a), 29.5 + 6 * std::sin(a));
        }
        QRadialGradient hg(QPointF(x - 2, 27), 8);
        hg.setColorAt(0, QColor(250, 250, 250));
        hg.setColorAt(1, QColor(130, 134, 140));
        p.setBrush(hg);
        p.setPen(QPen(QColor(80, 82, 86), 1));
        p.drawPolygon(hex);
        p.setBrush(QColor(30, 30, 32));
        p.drawEllipse(QPointF(x, 29.5), 2.5, 2.5);
    }
    // D-shaped shell and the insulator inside it.
    auto dShape = [](double inset) {
        QPainterPath path;
        const double t = 13 + inset, b = 46 - inset;
        const double tl = 108 + inset * 1.2, tr = 174 - inset * 1.2;
        const double bl = 115 + inset, br = 167 - inset;
        path.moveTo(tl + 3, t);
        path.lineTo(tr - 3, t);
        path.quadTo(tr, t, tr - 0.6, t + 3);
        path.lineTo(br, b - 3);
        path.quadTo(br - 0.8, b, br - 4, b);
        path.lineTo(bl + 4, b);
        path.quadTo(bl + 0.8, b, bl, b - 3);
        path.lineTo(tl + 0.6, t + 3);
        path.quadTo(tl, t, tl + 3, t);
        path.closeSubpath();
        return path;
    };
    QLinearGradient sg(0, 13, 0, 46);
    sg.setColorAt(0, QColor(250, 250, 252));
    sg.setColorAt(1, QColor(150, 154, 160));
    p.setPen(QPen(QColor(60, 62, 66), 1));
    p.setBrush(sg);
    p.drawPath(dShape(0));
    p.setPen(QPen(QColor(10, 10, 10), 1));
    p.setBrush(QColor(36, 36, 40));
    p.drawPath(dShape(2.5));
    // Pins.
    for (int pin = 1; pin <= 9; ++pin) {
        const QPointF c = Db9Pin(pin);
        QRadialGradient pg(c - QPointF(0.8, 0.8), 3);
        pg.setColorAt(0, kGoldLight);
        pg.setColorAt(0.6, kGold);
        pg.setColorAt(1, kGoldDark);
        p.setPen(Qt::NoPen);
        p.setBrush(pg);
        p.drawEllipse(c, 2.5, 2.5);
    }
    p.setRenderHint(QPainter::Antialiasing, false);

    // Callout lines from the pins to the label boxes: flow leads to the upper
    // boxes, data leads (pins 2 and 3) between the lower pins to the lower boxes.
    p.setPen(QPen(kLead, 1));
    auto lead = [&](int pin, QPoint turn, QPoint end) {
        const QPointF c = Db9Pin(pin);
        const int x = int(c.x());
        const int fromY = int(c.y()) + (turn.y() < c.y() ? -3 : 3);
        p.drawLine(x, fromY, x, turn.y());
        p.drawLine(x, turn.y(), end.x(), end.y());
        p.fillRect(end.x() - 1, end.y() - 1, 3, 3, kLead);
    };
    const int fiLeft = leads == dlFlowPins78 ? 7 : 6;
    const int fiRight = leads == dlFlowPins78 ? 8 : 4;
    lead(fiLeft, QPoint(0, 8), QPoint(81, 8));
    lead(fiRight, QPoint(0, 8), QPoint(206, 8));
    lead(2, QPoint(0, 56), QPoint(81, 56));
    lead(3, QPoint(0, 56), QPoint(206, 56));

    // Pin 1 and ground callouts.
    SilkText(p, QRect(50, 34, 32, 10), QStringLiteral("PIN 1"), 8);
    SilkText(p, QRect(208, 34, 32, 10), QStringLiteral("GND"), 8);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(kSilk, 1));
    p.drawPolyline(QPolygonF({QPointF(82, 41.5), QPointF(110, 41.5), QPointF(116.5, 25.5)}));
    p.drawPolyline(QPolygonF({QPointF(207, 41.5), QPointF(176, 41.5), QPointF(165.5, 25.5)}));
    p.setRenderHint(QPainter::Antialiasing, false);
}

QImage DrawBoard(TDb9Leads leads)
{
    QImage img(kBoardImageSize, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    Board(p);
    Traces(p);
    MountingHole(p, QPointF(22, 24), 8);
    MountingHole(p, QPointF(236, 310), 7);
    MountingHole(p, QPointF(236, 130), 7);
    WiringBlock(p);
    LineDriver(p);
    RfModule(p);
    Antenna(p);
    ConfigHeader(p);
    PowerSection(p);
    Db9(p, leads);
    return img;
}

}  // namespace

QImage JumperBoardPicture() { return DrawBoard(dlFlowPins78); }

QImage FCOverlayPicture()
{
    const QPoint origin = kOverlayImagePos - kBoardImagePos;
    return DrawBoard(dlFlowPins64).copy(QRect(origin, kOverlayImageSize));
}

QColor LabelBackground(const QImage& board) { return board.pixelColor(54, 6); }

void DrawSignalLabels(QImage& board, const std::array<QString, 4>& labels)
{
    const QColor bg = LabelBackground(board);
    QPainter p(&board);
    // The classic "System" face: a bold sans of about 13 pixels.
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(13);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    for (int b = lbP; b <= lbS; ++b) {
        const QRect r = LabelBoxRect(TLabelBox(b));
        p.fillRect(r, bg);
        if (!labels[b].isEmpty()) p.drawText(r, Qt::AlignLeft | Qt::AlignTop, labels[b]);
    }
}
