// The trend chart's data as the archive view and the summary report build
// it, without pixels.
#include <gtest/gtest.h>

#include <cmath>

#include "report/TrendChart.h"
#include "testdata/MeasureSet.h"

namespace kyvo {
namespace {

TArchiveResultPoint Point(std::int64_t id, const std::string& date, const std::string& device,
                          const std::string& lot, const std::string& text,
                          const std::string& validity = "Valid") {
    TArchiveResultPoint p;
    p.Id = id;
    p.TestId = "id " + std::to_string(id);
    p.TestName = "CRP quantitative";
    p.DateTime = date;
    p.DeviceSerial = device;
    p.LotNr = lot;
    p.ValueText = text;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (!text.empty() && *end == 0) p.Value = v;
    p.Unit = "mg/l";
    p.Validity = validity;
    return p;
}

// Oldest first, as the archive gives them.
std::vector<TArchiveResultPoint> Sample() {
    return {Point(1, "2026-03-01T08:00:00", "1807 0002", "L1", "4.5"),
            Point(2, "2026-03-02T08:00:00", "1807 0001", "L2", "<5"),
            Point(3, "2026-03-03T08:00:00", "1807 0002", "L2", "FAIL", "Ungültig"),
            Point(4, "2026-03-04T08:00:00", "1807 0001", "L1", "7.25"),
            Point(5, "12 0 33752069", "1807 0001", "L1", "6"),  // no calendar date
            Point(6, "2026-03-05T08:00:00", "1807 0002", "L1", "9", "Invalid")};
}

struct SeriesWant {
    std::string name;
    TChartColourKey colour;
    std::vector<std::int64_t> ids;
};

TEST(TrendChart, OneSeriesPerDeviceOrLotInTimeOrderWithStableColours) {
    const struct {
        ETrendColour by;
        std::vector<SeriesWant> want;
    } cases[] = {
        {ETrendColour::Device, {{"1807 0001", 0, {2, 4}}, {"1807 0002", 1, {1, 3, 6}}}},
        {ETrendColour::Lot, {{"L1", 0, {1, 4, 6}}, {"L2", 1, {2, 3}}}},
    };
    for (const auto& c : cases) {
        TTrendOptions o;
        o.ColourBy = c.by;
        // The colours stay with their names whatever order the points come in.
        auto reversed = Sample();
        std::reverse(reversed.begin(), reversed.end());
        for (const auto& points : {Sample(), reversed}) {
            const TTrendChart t = BuildTrendChart("CRP quantitative", "CRP", points, o);
            ASSERT_EQ(t.Data.Series.size(), c.want.size());
            for (std::size_t i = 0; i < c.want.size(); ++i) {
                const TChartSeries& s = t.Data.Series[i];
                EXPECT_EQ(s.Name, c.want[i].name);
                EXPECT_EQ(s.Colour, c.want[i].colour);
                std::vector<std::int64_t> ids;
                for (const TChartPoint& p : s.Points) ids.push_back(p.MeasurementId);
                EXPECT_EQ(ids, c.want[i].ids) << s.Name;
            }
            EXPECT_EQ(t.Data.Title, "CRP quantitative - CRP");
            EXPECT_EQ(t.Data.ValueLabel, "mg/l");
            EXPECT_EQ(t.WithoutDate, 1u);
        }
    }
}

TEST(TrendChart, TextOnlyValuesStayAtTheEdgeAndInvalidOnesAreMarked) {
    TTrendOptions o;
    o.InvalidTexts = {"Invalid", "Ungültig"};
    o.TextEdgeLabel = "Text only";
    const TTrendChart t = BuildTrendChart("CRP quantitative", "CRP", Sample(), o);
    std::map<std::int64_t, TChartPoint> byId;
    for (const auto& s : t.Data.Series)
        for (const auto& p : s.Points) byId[p.MeasurementId] = p;
    ASSERT_EQ(byId.size(), 5u);
    EXPECT_EQ(t.Points, 5u);
    EXPECT_EQ(t.TextOnly, 2u);
    EXPECT_EQ(t.Invalid, 2u);
    EXPECT_EQ(t.Data.TextEdgeLabel, "Text only");

    EXPECT_FALSE(byId[2].Value);
    EXPECT_EQ(byId[2].Text, "<5");
    EXPECT_FALSE(byId[2].Invalid);
    EXPECT_FALSE(byId[3].Value);
    EXPECT_EQ(byId[3].Text, "FAIL");
    EXPECT_TRUE(byId[3].Invalid);
    EXPECT_EQ(byId[6].Value, 9.0);
    EXPECT_TRUE(byId[6].Invalid);
    EXPECT_EQ(byId[4].Value, 7.25);
    EXPECT_FALSE(byId[4].Invalid);
    EXPECT_EQ(byId[4].Time, *ChartTimeOfIso("2026-03-04T08:00:00"));
    EXPECT_EQ(byId[4].Time - byId[1].Time, 3 * 86400.0);
    // Hovering names the measurement.
    EXPECT_NE(byId[4].Label.find("2026-03-04 08:00:00"), std::string::npos);
    EXPECT_NE(byId[4].Label.find("7.25 mg/l"), std::string::npos);
    EXPECT_NE(byId[4].Label.find("id 4"), std::string::npos);

    // Text-only values widen no axis: the value extent is the numbers'.
    const TChartRange v = ChartValueExtent(t.Data);
    EXPECT_EQ(v.Min, 4.5);
    EXPECT_EQ(v.Max, 9.0);

    // The hook keeps points out (controls, where roles are known).
    o.Keep = [](const TArchiveResultPoint& p) { return p.Id != 4 && p.Id != 2; };
    const TTrendChart kept = BuildTrendChart("CRP quantitative", "CRP", Sample(), o);
    EXPECT_EQ(kept.Points, 3u);
    EXPECT_EQ(kept.KeptOut, 2u);
}

// A configuration whose second result "CRP" has classes given out of order,
// one limit twice and one too large to ever win.
TTestConfig ConfigWithClasses() {
    TTestConfig cfg;
    std::uint16_t pos = cfg.CaptureSection.StringSize;
    auto text = [&](const std::string& s) {
        const std::uint16_t at = pos;
        pos = static_cast<std::uint16_t>(cfg.AddStrPtrToCfg(s, pos) + 1);
        return at;
    };
    cfg.CaptureSection.ResultClassCnt.SetResultCount(2);
    cfg.ResultSection[0].PtrResultName = text("Ratio");
    cfg.ResultSection[1].PtrResultName = text(" CRP ");
    EXPECT_TRUE(cfg.InsertClass(0));
    cfg.ClassSection[0] = {100.0f, text("any")};
    const std::pair<float, std::string> classes[] = {
        {10.0f, "normal"}, {5.0f, "low"}, {10.0f, "shadowed"}, {5e9f, "never"}, {20.0f, "high"}};
    for (const auto& [limit, name] : classes) {
        EXPECT_TRUE(cfg.InsertClass(1));
        const std::size_t k =
            cfg.ResultSection[1].FirstClass() + cfg.ResultSection[1].ClassNumber() - 1u;
        cfg.ClassSection[k] = {limit, text(name)};
    }
    return cfg;
}

TEST(TrendChart, ClassBandsFollowTheDevicesClassRule) {
    const TTestConfig cfg = ConfigWithClasses();
    const auto classes = TrendClassesOf(cfg, "CRP");
    ASSERT_EQ(classes.size(), 3u);
    EXPECT_EQ(classes[0], (TTrendClass{"low", -INFINITY, 5.0}));
    EXPECT_EQ(classes[1], (TTrendClass{"normal", 5.0, 10.0}));
    EXPECT_EQ(classes[2], (TTrendClass{"high", 10.0, 20.0}));
    EXPECT_TRUE(TrendClassesOf(cfg, "Other").empty());

    // Every value lands in the band of the class the device gives it.
    for (float v : {-3.0f, 0.0f, 4.99f, 5.0f, 7.0f, 9.99f, 10.0f, 19.5f, 20.0f, 1e9f}) {
        const TResultSet row =
            MakeResultRow(cfg, cfg.ResultSection[1], v, false, UTestInvalid{}, EnglishText);
        std::string band;
        for (const auto& c : classes)
            if (v >= c.Low && v < c.High) band = c.Name;
        EXPECT_EQ(band, row.ClassName) << v;
    }

    TTrendOptions o;
    o.Classes = classes;
    const TTrendChart t = BuildTrendChart("CRP quantitative", "CRP", Sample(), o);
    ASSERT_EQ(t.Data.Bands.size(), 3u);
    EXPECT_EQ(t.Data.Bands[1].Low, 5.0);
    EXPECT_EQ(t.Data.Bands[1].High, 10.0);
    EXPECT_EQ(t.Data.Bands[1].Label, "normal");
    EXPECT_NE(t.Data.Bands[0].Colour, t.Data.Bands[1].Colour);
    // The finite limits widen the value axis: every band is in view.
    const TChartRange v = ChartValueExtent(t.Data);
    EXPECT_EQ(v.Min, 4.5);
    EXPECT_EQ(v.Max, 20.0);
}

}  // namespace
}  // namespace kyvo
