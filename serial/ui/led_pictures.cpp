#include "serial/ui/led_pictures.h"

#include <QColor>
#include <QPainter>
#include <QRadialGradient>

namespace {

struct TLampColours {
    const char* name;
    QColor lit;   // body colour when on
    QColor dark;  // body colour when off
};

TLampColours Colours(TLedKind kind)
{
    switch (kind) {
    case lkRedLight: return {"RED", QColor(255, 40, 30), QColor(110, 20, 16)};
    case lkGreenLight: return {"GREEN", QColor(40, 230, 40), QColor(20, 90, 20)};
    case lkBlueLight: return {"BLUE", QColor(50, 110, 255), QColor(20, 40, 110)};
    case lkYellowLight: return {"YELLOW", QColor(255, 235, 40), QColor(120, 110, 20)};
    case lkPurpleLight: return {"PURPLE", QColor(210, 60, 230), QColor(90, 25, 100)};
    case lkBulb: return {"BULB", QColor(255, 250, 190), QColor(150, 150, 140)};
    case lkCustom: break;
    }
    return {"", QColor(), QColor()};
}

// A round lamp with a rim, a shaded body and a highlight.
void DrawRoundLamp(QPainter& p, const QColor& body, bool on)
{
    const QRectF r(0.5, 0.5, LedPictureSize - 1.0, LedPictureSize - 1.0);
    p.setPen(QPen(QColor(60, 60, 60), 1.0));
    QRadialGradient g(r.center() + QPointF(-2, -2), r.width() / 1.6);
    g.setColorAt(0.0, on ? body.lighter(150) : body.lighter(120));
    g.setColorAt(0.7, body);
    g.setColorAt(1.0, body.darker(on ? 130 : 160));
    p.setBrush(g);
    p.drawEllipse(r);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, on ? 210 : 110));
    p.drawEllipse(QRectF(3.5, 2.5, 4.0, 3.0));
}

// A bulb: a glass ball on a threaded base.
void DrawBulb(QPainter& p, const QColor& glass, bool on)
{
    p.setPen(QPen(QColor(70, 70, 70), 1.0));
    QRadialGradient g(QPointF(6, 4.5), 6.5);
    g.setColorAt(0.0, on ? QColor(255, 255, 255) : glass.lighter(115));
    g.setColorAt(1.0, on ? glass : glass.darker(130));
    p.setBrush(g);
    p.drawEllipse(QRectF(1.5, 0.5, 12.0, 10.0));
    p.setBrush(QColor(150, 150, 150));
    p.drawRect(QRectF(4.5, 10.5, 6.0, 3.0));
    p.drawLine(QPointF(4.5, 12.0), QPointF(10.5, 12.0));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(90, 90, 90));
    p.drawRect(QRectF(6.0, 13.5, 3.0, 1.0));
    if (on) {
        p.setPen(QPen(QColor(255, 140, 0), 1.0));
        p.drawLine(QPointF(5.5, 6.5), QPointF(9.5, 6.5));
    }
}

}  // namespace

QString LedPictureName(TLedKind kind, bool on)
{
    const TLampColours c = Colours(kind);
    if (!*c.name) return {};
    return QStringLiteral("LED") + QLatin1String(c.name) + (on ? QStringLiteral("ON") : QStringLiteral("OFF"));
}

QImage LedPicture(TLedKind kind, bool on)
{
    if (kind == lkCustom) return {};
    const TLampColours c = Colours(kind);
    QImage img(LedPictureSize, LedPictureSize, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    if (kind == lkBulb)
        DrawBulb(p, on ? c.lit : c.dark, on);
    else
        DrawRoundLamp(p, on ? c.lit : c.dark, on);
    p.end();
    return img;
}

QImage MakeTransparent(const QImage& image)
{
    if (image.isNull()) return {};
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = out.pixel(0, out.height() - 1);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            if (line[x] == key) line[x] = qRgba(0, 0, 0, 0);
    }
    return out;
}
