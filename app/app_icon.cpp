#include "app/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace {

constexpr int kMaxIconSize = 1024;

}  // namespace

QImage AppIconImage(int size)
{
    if (size < 1 || size > kMaxIconSize) return {};
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    // Module body.
    p.setPen(QPen(QColor(20, 60, 30), 2));
    p.setBrush(QColor(40, 130, 70));
    p.drawRoundedRect(QRectF(8, 30, 40, 28), 4, 4);
    p.setBrush(QColor(30, 30, 30));
    p.drawRect(QRectF(16, 38, 18, 12));
    p.setBrush(QColor(220, 180, 60));
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 5; ++i) p.drawRect(QRectF(11 + i * 7, 55, 3, 6));
    // Antenna.
    p.setPen(QPen(QColor(60, 60, 60), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(42, 30), QPointF(42, 14));
    // Waves, kept inside the square: the outer one reaches y = 14 - 18 sin 45.
    p.setBrush(Qt::NoBrush);
    for (int r = 1; r <= 3; ++r) {
        p.setPen(QPen(QColor(200, 40, 40), 2.5, Qt::SolidLine, Qt::RoundCap));
        const double d = 6.0 * r;
        p.drawArc(QRectF(42 - d, 14 - d, 2 * d, 2 * d), -45 * 16, 90 * 16);
    }
    p.end();
    return image;
}

bool WriteAppIconPng(const QString& path, int size)
{
    const QImage image = AppIconImage(size);
    return !image.isNull() && image.save(path, "PNG");
}

QIcon AppIcon()
{
    static QIcon icon = [] {
        QIcon i;
        for (int s : {16, 24, 32, 48, 64, 128}) i.addPixmap(QPixmap::fromImage(AppIconImage(s)));
        return i;
    }();
    return icon;
}
