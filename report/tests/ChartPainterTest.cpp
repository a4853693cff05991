// The chart's viewport arithmetic, and the painter and the hit test agreeing
// on where each point is drawn.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "report/ChartPainter.h"

namespace kyvo {
namespace {

TEST(ChartViewport, ZoomKeepsThePointUnderTheMouseAndPanMovesByFractions) {
    const TChartViewport v{{0, 100}, {10, 20}};
    const TChartViewport in = ZoomViewport(v, 2.0, 0.25, 0.5);
    EXPECT_DOUBLE_EQ(in.Time.Min, 12.5);
    EXPECT_DOUBLE_EQ(in.Time.Max, 62.5);
    EXPECT_DOUBLE_EQ(in.Value.Min, 12.5);
    EXPECT_DOUBLE_EQ(in.Value.Max, 17.5);
    const TChartViewport back = ZoomViewport(in, 0.5, 0.25, 0.5);
    EXPECT_DOUBLE_EQ(back.Time.Min, 0);
    EXPECT_DOUBLE_EQ(back.Time.Max, 100);
    // One axis alone; a nonsense factor changes nothing.
    EXPECT_EQ(ZoomViewport(v, 2.0, 0.5, 0.5, true, false).Value, v.Value);
    EXPECT_EQ(ZoomViewport(v, 0.0, 0.5, 0.5), v);
    EXPECT_EQ(ZoomViewport(v, std::nan(""), 0.5, 0.5), v);
    // Zooming in without end stops where doubles can no longer tell the ends apart.
    TChartViewport deep = v;
    for (int i = 0; i < 200; ++i) deep = ZoomViewport(deep, 10.0, 0.3, 0.3);
    EXPECT_FALSE(deep.Time.Empty());
    EXPECT_FALSE(deep.Value.Empty());

    const TChartViewport moved = PanViewport(v, 0.1, -0.5);
    EXPECT_DOUBLE_EQ(moved.Time.Min, 10);
    EXPECT_DOUBLE_EQ(moved.Time.Max, 110);
    EXPECT_DOUBLE_EQ(moved.Value.Min, 5);
    EXPECT_DOUBLE_EQ(moved.Value.Max, 15);
}

TEST(ChartViewport, TimesOfIsoDatesAndFittedRanges) {
    EXPECT_EQ(ChartTimeOfIso("1970-01-02T00:00:01"), 86401.0);
    EXPECT_EQ(ChartTimeOfIso("2026-03-01 10:00"), *ChartTimeOfIso("2026-02-28") + 86400 + 36000);
    for (const char* bad :
         {"", "12 0 33752069", "2026-13-01", "2026-01-01X10:00", "2026-01-01T25:00"})
        EXPECT_FALSE(ChartTimeOfIso(bad)) << bad;

    TChartData one;
    one.Series.push_back({"a", 0, true, {{1000, 5.0, "5", 1, "", false, {}, ""}}});
    const TChartViewport f = FittedViewport(one);
    EXPECT_LT(f.Time.Min, 1000);
    EXPECT_GT(f.Time.Max, 1000);
    EXPECT_LT(f.Value.Min, 5);
    EXPECT_GT(f.Value.Max, 5);
    // A given range stays as it is.
    EXPECT_EQ(FittedViewport(one, {{0, 1}, {}}).Time, (TChartRange{0, 1}));
}

TEST(ChartPainter, EveryPointIsDrawnWhereTheHitTestFindsIt) {
    TChartData d;
    d.Title = "CRP quantitative - CRP";
    d.ValueLabel = "mg/l";
    d.TextEdgeLabel = "text only";
    const double day = 86400;
    d.Series.push_back({"1807 0001",
                        0,
                        true,
                        {{0 * day, 4.0, "4", 11, "first", false, {}, ""},
                         {2 * day, 8.0, "8", 12, "second", false, EChartMark::Reject, "1-3s"},
                         {3 * day, std::nullopt, "<5", 13, "text", false, {}, ""}}});
    d.Series.push_back({"1807 0002",
                        5,
                        true,
                        {{1 * day, 6.0, "6", 21, "third", false, {}, ""},
                         {4 * day, 2.0, "FAIL", 22, "invalid", true, {}, ""}}});
    d.Bands.push_back({-INFINITY, 5, "low", 2});
    d.Lines.push_back({6.5, "mean", EChartLineStyle::Dashed, 6});

    QImage image(640, 400, QImage::Format_RGB32);
    image.fill(Qt::gray);
    const QRectF rect(20, 10, 600, 380);
    QPainter p(&image);
    p.setFont(QGuiApplication::font());
    p.setRenderHint(QPainter::Antialiasing, false);
    PaintChart(p, rect, d, {});
    const QFontMetricsF fm(p.font(), p.device());
    p.end();

    const TChartGeometry g = ChartGeometry(rect, d, {}, fm);
    ASSERT_GT(g.TextStrip.height(), 0);
    EXPECT_LT(g.TextStrip.bottom(), g.Plot.top());
    for (std::size_t s = 0; s < d.Series.size(); ++s) {
        for (std::size_t i = 0; i < d.Series[s].Points.size(); ++i) {
            const TChartPoint& pt = d.Series[s].Points[i];
            SCOPED_TRACE(pt.Label);
            const TChartHit expected{int(s), int(i)};
            // Find the marker by its colour near where the geometry puts it.
            const qreal x = g.XOf(pt.Time);
            const QColor want = ChartPalette(d.Series[s].Colour);
            const qreal yLo = pt.Value ? g.YOf(*pt.Value) - 8 : g.TextStrip.top();
            const qreal yHi = pt.Value ? g.YOf(*pt.Value) + 8 : g.TextStrip.bottom();
            QPoint found(-1, -1);
            for (int yy = int(yLo); yy <= int(yHi) && found.x() < 0; ++yy)
                for (int xx = int(x) - 8; xx <= int(x) + 8; ++xx)
                    if (image.pixelColor(xx, yy) == want) {
                        found = QPoint(xx, yy);
                        break;
                    }
            ASSERT_GE(found.x(), 0) << "no marker drawn";
            EXPECT_EQ(PointAt(rect, d, {}, fm, found, 10), expected);
        }
    }
    // Nothing near: no hit; outside the rectangle neither.
    EXPECT_FALSE(PointAt(rect, d, {}, fm, QPointF(g.XOf(0.5 * day), g.Plot.top() + 2), 5).Valid());
    EXPECT_FALSE(PointAt(rect, d, {}, fm, QPointF(0, 0), 5).Valid());
    // A zoomed view hides the points outside it from the hit test.
    const TChartViewport zoomed{{1.5 * day, 4.5 * day}, {}};
    const TChartGeometry gz = ChartGeometry(rect, d, zoomed, fm);
    EXPECT_FALSE(PointAt(rect, d, zoomed, fm, QPointF(gz.XOf(0), gz.YOf(4.0)), 10).Valid());
    EXPECT_EQ(PointAt(rect, d, zoomed, fm, QPointF(gz.XOf(2 * day), gz.YOf(8.0)), 10),
              (TChartHit{0, 1}));
}

}  // namespace
}  // namespace kyvo
