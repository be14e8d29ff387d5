#include "common/ui/mini_chart.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <limits>

TMiniChart::TMiniChart(const QString& title, const QString& xUnit, TKind kind, QWidget* parent)
    : QWidget(parent),
      title_(title),
      xUnit_(xUnit),
      kind_(kind),
      threshold_(std::numeric_limits<double>::quiet_NaN()),
      xRangeMin_(std::numeric_limits<double>::quiet_NaN()),
      xRangeMax_(std::numeric_limits<double>::quiet_NaN())
{
    setMinimumSize(220, 130);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TMiniChart::SetPoints(std::vector<QPointF> points)
{
    if (points == points_) return;
    points_ = std::move(points);
    update();
}

void TMiniChart::SetBars(std::vector<int> counts, double start, double binWidth)
{
    if (counts == bars_ && start == barStart_ && binWidth == barWidth_) return;
    bars_ = std::move(counts);
    barStart_ = start;
    barWidth_ = binWidth > 0 ? binWidth : 1;
    update();
}

void TMiniChart::SetThreshold(double y)
{
    threshold_ = y;
    update();
}

void TMiniChart::SetYUnit(const QString& unit)
{
    yUnit_ = unit;
    update();
}

void TMiniChart::SetYFormat(std::function<QString(double)> format)
{
    yFormat_ = std::move(format);
    update();
}

void TMiniChart::SetXRange(double min, double max)
{
    if ((min == xRangeMin_ && max == xRangeMax_) || (std::isnan(min) && std::isnan(xRangeMin_))) return;
    xRangeMin_ = min;
    xRangeMax_ = max;
    update();
}

void TMiniChart::SetLastBarOpen(bool open)
{
    lastBarOpen_ = open;
    update();
}

double TMiniChart::NiceCeiling(double v)
{
    if (!(v > 0)) return 1;
    const double p = std::pow(10.0, std::floor(std::log10(v)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (v <= m * p * (1 + 1e-9)) return m * p;
    return 10 * p;
}

void TMiniChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    const QFontMetrics fm = p.fontMetrics();
    p.setPen(palette().color(QPalette::Text));
    p.drawText(QPoint(6, fm.ascent() + 4), title_);

    double yMax = 0, xMin = 0, xMax = 1;
    if (kind_ == TKind::Line) {
        for (const QPointF& q : points_) yMax = std::max(yMax, q.y());
        if (!points_.empty()) {
            xMin = points_.front().x();
            xMax = std::max(points_.back().x(), xMin + 1);
        }
        if (!std::isnan(xRangeMin_) && xRangeMax_ > xRangeMin_) {
            xMin = xRangeMin_;
            xMax = xRangeMax_;
        }
    } else {
        for (int c : bars_) yMax = std::max(yMax, double(c));
        xMin = barStart_;
        xMax = barStart_ + barWidth_ * double(std::max<size_t>(1, bars_.size()));
    }
    if (!std::isnan(threshold_)) yMax = std::max(yMax, threshold_);
    yMax = NiceCeiling(yMax);

    const QString yTop = yFormat_ ? yFormat_(yMax) : QString::number(yMax, 'g', 4) + yUnit_;
    const int left = fm.horizontalAdvance(yTop) + 10;
    const QRect plot(left, fm.height() + 10, width() - left - 10, height() - 2 * fm.height() - 16);
    if (plot.width() < 10 || plot.height() < 10) return;
    p.setPen(palette().color(QPalette::Mid));
    p.drawLine(plot.bottomLeft(), plot.bottomRight());
    p.drawLine(plot.bottomLeft(), plot.topLeft());
    p.setPen(palette().color(QPalette::Text));
    p.drawText(QRect(0, plot.top() - fm.height() / 2, left - 4, fm.height()), Qt::AlignRight, yTop);
    p.drawText(QRect(0, plot.bottom() - fm.height() / 2, left - 4, fm.height()), Qt::AlignRight, QStringLiteral("0"));
    const int textY = plot.bottom() + 4;
    // The axis' ends, each in a box as wide as its text: none is clipped.
    const QString xLow = QString::number(xMin, 'g', 4);
    const QString xHigh = (kind_ == TKind::Bars && lastBarOpen_ ? QStringLiteral("≥ ") : QString()) +
                          QString::number(kind_ == TKind::Bars && lastBarOpen_ ? xMax - barWidth_ : xMax, 'g', 4) +
                          QLatin1Char(' ') + xUnit_;
    const int lowWidth = fm.horizontalAdvance(xLow) + 2, highWidth = fm.horizontalAdvance(xHigh) + 2;
    p.drawText(QRect(std::max(0, plot.left() - lowWidth / 2), textY, lowWidth, fm.height()), Qt::AlignLeft, xLow);
    p.drawText(QRect(std::min(width() - highWidth - 2, plot.right() - highWidth / 2), textY, highWidth, fm.height()),
               Qt::AlignRight, xHigh);

    auto X = [&](double x) { return plot.left() + (x - xMin) / (xMax - xMin) * plot.width(); };
    auto Y = [&](double y) { return plot.bottom() - y / yMax * plot.height(); };
    p.setRenderHint(QPainter::Antialiasing, true);
    const QColor ink = palette().color(QPalette::Highlight);
    if (kind_ == TKind::Line && !points_.empty()) {
        QPainterPath path(QPointF(X(points_.front().x()), Y(points_.front().y())));
        for (size_t i = 1; i < points_.size(); ++i) path.lineTo(X(points_[i].x()), Y(points_[i].y()));
        p.setPen(QPen(ink, 1.5));
        p.drawPath(path);
    } else if (kind_ == TKind::Bars) {
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        for (size_t i = 0; i < bars_.size(); ++i) {
            if (bars_[i] <= 0) continue;
            const double x0 = X(barStart_ + barWidth_ * double(i)), x1 = X(barStart_ + barWidth_ * double(i + 1));
            p.drawRect(QRectF(QPointF(x0 + 1, Y(bars_[i])), QPointF(x1 - 1, plot.bottom())));
        }
    }
    if (!std::isnan(threshold_)) {
        p.setPen(QPen(QColor(200, 40, 40), 1, Qt::DashLine));
        p.drawLine(QPointF(plot.left(), Y(threshold_)), QPointF(plot.right(), Y(threshold_)));
    }
}
