#pragma once
// TMiniChart: a small chart drawn with QPainter, a line over time or a
// histogram's bars, with an optional dashed threshold. Repaints only when
// its data changes. (The GPL-only chart module of Qt does not fit the
// program's licence.)
#include <QPointF>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

class TMiniChart : public QWidget {
public:
    enum class TKind { Line, Bars };
    TMiniChart(const QString& title, const QString& xUnit, TKind kind, QWidget* parent = nullptr);

    // Line: points in x order. The y axis runs from 0 to the larger of the
    // data's maximum and the threshold, rounded up to a readable number.
    void SetPoints(std::vector<QPointF> points);
    // Bars: counts of equal bins from start, each binWidth wide.
    void SetBars(std::vector<int> counts, double start, double binWidth);
    // A dashed line at y (NaN: none).
    void SetThreshold(double y);
    void SetYUnit(const QString& unit);
    // How a y value is written on the axis ("20 kB/s"); unset: the number and the unit.
    void SetYFormat(std::function<QString(double)> format);
    // Line: the x axis from min to max whatever the points (NaN: the points').
    void SetXRange(double min, double max);
    // Bars: the last bar also holds everything beyond (its label says so).
    void SetLastBarOpen(bool open);

    bool Empty() const { return points_.empty() && bars_.empty(); }

    QSize sizeHint() const override { return {300, 170}; }
    // The axis' top for a data maximum: 1, 2 or 5 times a power of ten.
    static double NiceCeiling(double v);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString title_, xUnit_, yUnit_;
    TKind kind_;
    std::vector<QPointF> points_;
    std::vector<int> bars_;
    double barStart_ = 0, barWidth_ = 1;
    double threshold_;
    std::function<QString(double)> yFormat_;
    double xRangeMin_, xRangeMax_;
    bool lastBarOpen_ = false;
};
