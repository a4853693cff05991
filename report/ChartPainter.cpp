#include "report/ChartPainter.h"

#include <QDateTime>
#include <QPainterPath>
#include <QTimeZone>
#include <algorithm>
#include <array>
#include <cmath>

namespace kyvo {

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// Value ticks at 1, 2 or 5 times a power of ten, at most maxTicks of them.
double niceStep(double span, int maxTicks) {
    if (!(span > 0) || maxTicks < 1) return 1;
    const double raw = span / maxTicks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw) return m * power;
    return 10 * power;
}

// Time ticks: whole minutes, hours or days.
double niceTimeStep(double span, int maxTicks) {
    static constexpr std::array<double, 19> steps = {
        1,          5,          15,         60,          300,        900,       1800,
        3600,       3 * 3600,   6 * 3600,   12 * 3600,   86400,      2 * 86400, 7 * 86400,
        14 * 86400, 28 * 86400, 91 * 86400, 182 * 86400, 364 * 86400};
    const double raw = span / std::max(1, maxTicks);
    for (double s : steps)
        if (s >= raw) return s;
    return niceStep(span / 86400, maxTicks) * 86400;
}

QString numberText(double v, double step) {
    int decimals = 0;
    if (step < 1) decimals = std::min(6, int(std::ceil(-std::log10(step) - 1e-9)));
    if (std::fabs(v) < step * 1e-6) v = 0;
    return QString::number(v, 'f', decimals);
}

QString timeText(double t, double step, EChartXAxis axis) {
    if (axis == EChartXAxis::Sequence) return numberText(t, std::max(step, 1.0));
    const QDateTime d = QDateTime::fromSecsSinceEpoch(qint64(std::llround(t)), QTimeZone::utc());
    if (step >= 86400) return d.toString(QStringLiteral("yyyy-MM-dd"));
    return d.toString(step >= 60 ? QStringLiteral("MM-dd hh:mm") : QStringLiteral("hh:mm:ss"));
}

std::vector<double> ticks(double lo, double hi, double step) {
    std::vector<double> out;
    if (!(step > 0) || !(hi > lo) || (hi - lo) / step > 1000) return out;
    for (double t = std::ceil(lo / step) * step; t <= hi + step * 1e-9; t += step) out.push_back(t);
    return out;
}

bool hasTextOnly(const TChartData& data) {
    for (const TChartSeries& s : data.Series)
        for (const TChartPoint& p : s.Points)
            if (!p.Value) return true;
    return false;
}

qreal markerRadius(const QFontMetricsF& fm) {
    return std::max<qreal>(1.5, fm.height() * 0.22);
}

struct TTicks {
    std::vector<double> Time, Value;
    double TimeStep = 1, ValueStep = 1;
};

TTicks ticksFor(const TChartGeometry& g, const TChartData& data, const QFontMetricsF& fm) {
    TTicks t;
    const qreal labelW = fm.horizontalAdvance(QStringLiteral("0000-00-00")) * 1.4;
    const int maxX = std::max(1, int(g.Plot.width() / labelW));
    const int maxY = std::max(1, int(g.Plot.height() / (fm.height() * 2.5)));
    t.TimeStep = data.XAxis == EChartXAxis::DateTime
                     ? niceTimeStep(g.View.Time.Span(), maxX)
                     : std::max(1.0, niceStep(g.View.Time.Span(), maxX));
    t.ValueStep = niceStep(g.View.Value.Span(), maxY);
    t.Time = ticks(g.View.Time.Min, g.View.Time.Max, t.TimeStep);
    t.Value = ticks(g.View.Value.Min, g.View.Value.Max, t.ValueStep);
    return t;
}

void drawMarker(QPainter& p, const QPointF& at, qreal r, const QColor& colour, bool invalid) {
    if (invalid) {
        p.setPen(QPen(colour, r * 0.6));
        p.drawLine(at + QPointF(-r, -r), at + QPointF(r, r));
        p.drawLine(at + QPointF(-r, r), at + QPointF(r, -r));
        return;
    }
    p.setPen(QPen(colour.darker(140), r * 0.25));
    p.setBrush(colour);
    p.drawEllipse(at, r, r);
}

void drawDiamond(QPainter& p, const QPointF& at, qreal r, const QColor& colour, bool invalid) {
    QPainterPath path;
    path.moveTo(at + QPointF(0, -r));
    path.lineTo(at + QPointF(r, 0));
    path.lineTo(at + QPointF(0, r));
    path.lineTo(at + QPointF(-r, 0));
    path.closeSubpath();
    p.setPen(QPen(colour.darker(140), r * 0.25));
    p.setBrush(invalid ? QBrush(Qt::NoBrush) : QBrush(colour));
    p.drawPath(path);
}

Qt::PenStyle penStyle(EChartLineStyle s) {
    switch (s) {
        case EChartLineStyle::Dashed:
            return Qt::DashLine;
        case EChartLineStyle::Dotted:
            return Qt::DotLine;
        case EChartLineStyle::Solid:
            break;
    }
    return Qt::SolidLine;
}

}  // namespace

QColor ChartPalette(TChartColourKey key) {
    // Okabe and Ito's colours, then a few darker ones.
    static const std::array<QColor, 10> colours = {
        QColor(0, 114, 178),  QColor(230, 159, 0),  QColor(0, 158, 115), QColor(204, 121, 167),
        QColor(86, 180, 233), QColor(213, 94, 0),   QColor(0, 0, 0),     QColor(240, 228, 66),
        QColor(110, 60, 160), QColor(120, 120, 120)};
    const std::size_t n = colours.size();
    return colours[static_cast<std::size_t>(key < 0 ? -(key + 1) : key) % n];
}

qreal TChartGeometry::XOf(double time) const {
    return Plot.left() + (time - View.Time.Min) / View.Time.Span() * Plot.width();
}
qreal TChartGeometry::YOf(double value) const {
    return Plot.bottom() - (value - View.Value.Min) / View.Value.Span() * Plot.height();
}
double TChartGeometry::TimeAt(qreal x) const {
    return View.Time.Min + (x - Plot.left()) / Plot.width() * View.Time.Span();
}
double TChartGeometry::ValueAt(qreal y) const {
    return View.Value.Min + (Plot.bottom() - y) / Plot.height() * View.Value.Span();
}

TChartGeometry ChartGeometry(const QRectF& rect, const TChartData& data, const TChartViewport& view,
                             const QFontMetricsF& fm) {
    TChartGeometry g;
    g.View = FittedViewport(data, view);
    const qreal h = fm.height();
    const qreal pad = h * 0.4;
    qreal top = rect.top() + pad;
    if (!data.Title.empty()) {
        g.Title = QRectF(rect.left() + pad, top, rect.width() - 2 * pad, h * 1.2);
        top = g.Title.bottom() + pad;
    }
    if (!data.ValueLabel.empty()) top += h + pad * 0.5;
    // One legend line, when any series has a name; what does not fit ends
    // in an ellipsis.
    bool named = false;
    for (const TChartSeries& s : data.Series) named = named || !s.Name.empty();
    const qreal legendH = named ? h * 1.3 : 0;
    g.Legend =
        QRectF(rect.left() + pad, rect.bottom() - pad - legendH, rect.width() - 2 * pad, legendH);
    // Value labels at the left: as wide as the widest of the ends.
    const double vStep = niceStep(g.View.Value.Span(), 8);
    qreal labelW = 0;
    for (double v : {g.View.Value.Min, g.View.Value.Max, -std::fabs(g.View.Value.Min)})
        labelW = std::max(labelW, fm.horizontalAdvance(numberText(v, vStep / 2)));
    const qreal left = rect.left() + pad + labelW + pad;
    // Reference lines and bands carry their labels at the right.
    qreal rightW = 0;
    for (const TChartLine& l : data.Lines)
        rightW = std::max(rightW, fm.horizontalAdvance(q(l.Label)));
    rightW = std::min(rightW, rect.width() * 0.2);
    const qreal right = rect.right() - pad - (rightW > 0 ? rightW + pad : 0);
    const qreal axisH = h * 1.3;
    const qreal bottom = g.Legend.top() - (legendH > 0 ? pad : 0) - axisH;
    const qreal stripH = hasTextOnly(data) ? h * 2.2 : 0;
    g.TextStrip = QRectF(left, top, std::max<qreal>(1, right - left), stripH);
    const qreal plotTop = top + stripH + (stripH > 0 ? pad : 0);
    g.Plot = QRectF(left, plotTop, std::max<qreal>(1, right - left),
                    std::max<qreal>(1, bottom - plotTop));
    return g;
}

void PaintChart(QPainter& p, const QRectF& rect, const TChartData& data,
                const TChartViewport& view) {
    p.save();
    const QFontMetricsF fm(p.font(), p.device());
    const TChartGeometry g = ChartGeometry(rect, data, view, fm);
    const TTicks t = ticksFor(g, data, fm);
    const qreal h = fm.height();
    const qreal hair = std::max<qreal>(1.0, h * 0.06);
    const qreal r = markerRadius(fm);

    p.fillRect(rect, Qt::white);
    if (!data.Title.empty()) {
        QFont bold = p.font();
        bold.setBold(true);
        p.save();
        p.setFont(bold);
        p.setPen(Qt::black);
        p.drawText(g.Title, Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetricsF(bold, p.device())
                       .elidedText(q(data.Title), Qt::ElideRight, g.Title.width()));
        p.restore();
    }
    if (!data.ValueLabel.empty()) {
        p.setPen(Qt::black);
        const qreal y = (g.TextStrip.height() > 0 ? g.TextStrip.top() : g.Plot.top()) - h * 1.2;
        p.drawText(QRectF(rect.left() + h * 0.4, y, g.Plot.right() - rect.left(), h),
                   Qt::AlignLeft | Qt::AlignVCenter, q(data.ValueLabel));
    }

    // Bands, grid and reference lines inside the plot.
    p.save();
    p.setClipRect(g.Plot);
    for (const TChartBand& b : data.Bands) {
        const qreal y1 = std::isfinite(b.High) ? g.YOf(b.High) : g.Plot.top() - 1;
        const qreal y2 = std::isfinite(b.Low) ? g.YOf(b.Low) : g.Plot.bottom() + 1;
        QColor c = ChartPalette(b.Colour);
        c.setAlpha(40);
        const QRectF area(g.Plot.left(), std::min(y1, y2), g.Plot.width(), std::fabs(y2 - y1));
        p.fillRect(area, c);
        if (!b.Label.empty()) {
            p.setPen(ChartPalette(b.Colour).darker(150));
            const QRectF visible = area.intersected(g.Plot);
            if (visible.height() >= h)
                p.drawText(visible.adjusted(h * 0.3, 0, -h * 0.3, 0),
                           Qt::AlignRight | Qt::AlignVCenter, q(b.Label));
        }
    }
    p.setPen(QPen(QColor(220, 220, 220), hair));
    for (double v : t.Value)
        p.drawLine(QPointF(g.Plot.left(), g.YOf(v)), QPointF(g.Plot.right(), g.YOf(v)));
    for (double x : t.Time)
        p.drawLine(QPointF(g.XOf(x), g.Plot.top()), QPointF(g.XOf(x), g.Plot.bottom()));
    for (const TChartLine& l : data.Lines) {
        QPen pen(ChartPalette(l.Colour), hair * 1.5, penStyle(l.Style));
        p.setPen(pen);
        p.drawLine(QPointF(g.Plot.left(), g.YOf(l.Value)), QPointF(g.Plot.right(), g.YOf(l.Value)));
    }
    p.restore();

    // Labels of the reference lines beside the plot.
    for (const TChartLine& l : data.Lines) {
        const qreal y = g.YOf(l.Value);
        if (y < g.Plot.top() - 1 || y > g.Plot.bottom() + 1 || l.Label.empty()) continue;
        p.setPen(ChartPalette(l.Colour));
        p.drawText(QRectF(g.Plot.right() + h * 0.4, y - h / 2, rect.right() - g.Plot.right(), h),
                   Qt::AlignLeft | Qt::AlignVCenter, q(l.Label));
    }

    // Axes with their labels.
    p.setPen(QPen(Qt::black, hair));
    p.setBrush(Qt::NoBrush);
    p.drawRect(g.Plot);
    for (double v : t.Value) {
        const qreal y = g.YOf(v);
        p.drawText(QRectF(rect.left(), y - h / 2, g.Plot.left() - rect.left() - h * 0.3, h),
                   Qt::AlignRight | Qt::AlignVCenter, numberText(v, t.ValueStep));
    }
    qreal lastRight = -1e9;
    for (double x : t.Time) {
        const QString text = timeText(x, t.TimeStep, data.XAxis);
        const qreal w = fm.horizontalAdvance(text);
        const qreal cx = g.XOf(x);
        if (cx - w / 2 < lastRight + h * 0.5) continue;
        p.drawText(QRectF(cx - w / 2 - 1, g.Plot.bottom() + h * 0.15, w + 2, h), Qt::AlignCenter,
                   text);
        lastRight = cx + w / 2;
    }

    // The text-only values' strip.
    if (g.TextStrip.height() > 0) {
        p.setPen(QPen(QColor(160, 160, 160), hair, Qt::DashLine));
        p.setBrush(QColor(248, 248, 248));
        p.drawRect(g.TextStrip);
        if (!data.TextEdgeLabel.empty()) {
            p.setPen(QColor(90, 90, 90));
            p.drawText(g.TextStrip.adjusted(h * 0.3, 0, -h * 0.3, 0), Qt::AlignLeft | Qt::AlignTop,
                       q(data.TextEdgeLabel));
        }
    }

    // Series: lines first, then their points on top.
    p.save();
    p.setClipRect(g.Plot.adjusted(-r, -r, r, r));
    for (const TChartSeries& s : data.Series) {
        if (!s.Connect) continue;
        QPolygonF line;
        for (const TChartPoint& pt : s.Points)
            if (pt.Value && !pt.Invalid) line << QPointF(g.XOf(pt.Time), g.YOf(*pt.Value));
        p.setPen(QPen(ChartPalette(s.Colour), hair * 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(line);
    }
    for (const TChartSeries& s : data.Series) {
        const QColor c = ChartPalette(s.Colour);
        for (const TChartPoint& pt : s.Points) {
            if (!pt.Value) continue;
            const QPointF at(g.XOf(pt.Time), g.YOf(*pt.Value));
            if (!g.Plot.adjusted(-r, -r, r, r).contains(at)) continue;
            drawMarker(p, at, r, c, pt.Invalid);
            if (pt.Mark != EChartMark::None) {
                const QColor markColour =
                    pt.Mark == EChartMark::Reject ? QColor(200, 0, 0) : QColor(230, 140, 0);
                p.setPen(QPen(markColour, r * 0.4));
                p.setBrush(Qt::NoBrush);
                p.drawEllipse(at, r * 2, r * 2);
                if (!pt.MarkText.empty()) {
                    p.setPen(markColour);
                    p.drawText(QRectF(at.x() + r * 2.2, at.y() - r * 2.2 - h, h * 10, h),
                               Qt::AlignLeft | Qt::AlignBottom, q(pt.MarkText));
                }
            }
        }
    }
    p.restore();

    if (g.TextStrip.height() > 0) {
        p.save();
        p.setClipRect(g.TextStrip);
        const qreal y = g.TextStrip.bottom() - r * 1.6;
        // The values' texts leave the strip's own label readable.
        qreal lastTextRight =
            data.TextEdgeLabel.empty()
                ? -1e9
                : g.TextStrip.left() + h * 0.3 + fm.horizontalAdvance(q(data.TextEdgeLabel));
        for (const TChartSeries& s : data.Series) {
            const QColor c = ChartPalette(s.Colour);
            for (const TChartPoint& pt : s.Points) {
                if (pt.Value) continue;
                const qreal x = g.XOf(pt.Time);
                drawDiamond(p, QPointF(x, y), r, c, pt.Invalid);
                const QString text = q(pt.Text);
                const qreal w = fm.horizontalAdvance(text);
                if (x - w / 2 > lastTextRight + h * 0.3) {
                    p.setPen(QColor(40, 40, 40));
                    p.drawText(QRectF(x - w / 2 - 1, y - r * 1.4 - h, w + 2, h), Qt::AlignCenter,
                               text);
                    lastTextRight = x + w / 2;
                }
            }
        }
        p.restore();
    }

    // Legend: a marker and the name of each series, as many as fit.
    if (g.Legend.height() > 0) {
        qreal x = g.Legend.left();
        const qreal cy = g.Legend.center().y();
        for (const TChartSeries& s : data.Series) {
            if (s.Name.empty()) continue;
            const QString name = q(s.Name);
            const qreal w = r * 3 + fm.horizontalAdvance(name) + h;
            if (x + w > g.Legend.right() && x > g.Legend.left()) {
                p.setPen(Qt::black);
                p.drawText(QRectF(x, cy - h / 2, g.Legend.right() - x, h),
                           Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("…"));
                break;
            }
            drawMarker(p, QPointF(x + r, cy), r, ChartPalette(s.Colour), false);
            p.setPen(Qt::black);
            p.drawText(QRectF(x + r * 3, cy - h / 2, w, h), Qt::AlignLeft | Qt::AlignVCenter, name);
            x += w;
        }
    }
    p.restore();
}

TChartHit PointAt(const QRectF& rect, const TChartData& data, const TChartViewport& view,
                  const QFontMetricsF& metrics, const QPointF& pos, qreal radius) {
    const TChartGeometry g = ChartGeometry(rect, data, view, metrics);
    const qreal stripY = g.TextStrip.bottom() - markerRadius(metrics) * 1.6;
    TChartHit best;
    qreal bestDistance = radius * radius;
    for (std::size_t si = 0; si < data.Series.size(); ++si) {
        const auto& points = data.Series[si].Points;
        for (std::size_t pi = 0; pi < points.size(); ++pi) {
            const TChartPoint& pt = points[pi];
            QPointF at;
            if (pt.Value) {
                at = QPointF(g.XOf(pt.Time), g.YOf(*pt.Value));
                if (!g.Plot.contains(at)) continue;
            } else {
                if (g.TextStrip.height() <= 0) continue;
                at = QPointF(g.XOf(pt.Time), stripY);
                if (!g.TextStrip.contains(at)) continue;
            }
            const QPointF d = at - pos;
            const qreal distance = d.x() * d.x() + d.y() * d.y();
            if (distance <= bestDistance) {
                bestDistance = distance;
                best = {int(si), int(pi)};
            }
        }
    }
    return best;
}

}  // namespace kyvo
