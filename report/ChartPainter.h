// Draws a TChartData with QPainter, the same way onto a widget, an image and
// a PDF page (vector there), so that the window's chart and the report's
// chart are one drawing; and finds the point under the mouse on it.
#pragma once

#include <QColor>
#include <QFontMetricsF>
#include <QPainter>
#include <QPointF>
#include <QRectF>

#include "report/ChartData.h"

namespace kyvo {

// The palette colour of a key; keys beyond the palette repeat it. Chosen to
// stay apart for the usual kinds of colour blindness.
QColor ChartPalette(TChartColourKey key);

// Where the parts of a chart lie within its rectangle, and the mapping of the
// fitted viewport onto the plot area.
struct TChartGeometry {
    QRectF Title;
    QRectF Plot;       // the numeric values
    QRectF TextStrip;  // above Plot: the text-only values (zero height when none)
    QRectF Legend;
    TChartViewport View;  // the viewport with its empty ranges fitted

    qreal XOf(double time) const;
    qreal YOf(double value) const;
    double TimeAt(qreal x) const;
    double ValueAt(qreal y) const;
};

// The layout for text measured by metrics (of the font the painter uses on
// the device it paints on).
TChartGeometry ChartGeometry(const QRectF& rect, const TChartData& data, const TChartViewport& view,
                             const QFontMetricsF& metrics);

// Paints the chart into rect with the painter's font; view's empty ranges
// are fitted to the data. Leaves the painter's state as it found it.
void PaintChart(QPainter& painter, const QRectF& rect, const TChartData& data,
                const TChartViewport& view);

struct TChartHit {
    int Series = -1;
    int Point = -1;
    bool Valid() const { return Series >= 0 && Point >= 0; }
    bool operator==(const TChartHit&) const = default;
};

// The point drawn nearest to pos within radius (device units), numeric or in
// the text strip; none when nothing is that near. metrics must be those the
// painting used.
TChartHit PointAt(const QRectF& rect, const TChartData& data, const TChartViewport& view,
                  const QFontMetricsF& metrics, const QPointF& pos, qreal radius);

}  // namespace kyvo
