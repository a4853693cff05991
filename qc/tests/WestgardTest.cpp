// The Westgard rules from tables of control values given as z scores.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "qc/LeveyJennings.h"
#include "qc/Lockout.h"
#include "qc/Westgard.h"

namespace kyvo::qc {
namespace {

TControlMaterial Material(std::int64_t id, const std::string& name, const std::string& lot,
                          const std::string& test = "CRP quantitative") {
    TControlMaterial m;
    m.Id = id;
    m.Name = name;
    m.Test = test;
    m.Result = "CRP";
    m.Lot = lot;
    m.Level = 1;
    m.Mean = 100;
    m.Sd = 10;
    m.Added = "2026-01-01T00:00:00+01:00";
    return m;
}

// Day n of March 2026 at hh:00.
std::string Day(int n, int hour = 8) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "2026-%02d-%02dT%02d:00:00", 3 + (n - 1) / 28, 1 + (n - 1) % 28,
                  hour);
    return buf;
}

TControlPoint Point(std::int64_t id, std::int64_t material, std::optional<double> z,
                    const std::string& when, const std::string& device = "1807 0001") {
    TControlPoint p;
    p.MeasurementId = id;
    p.TestId = "M" + std::to_string(id);
    p.DateTime = when;
    p.Device = device;
    p.MaterialId = material;
    if (z) p.Value = 100 + *z * 10;
    p.ValueText = z ? std::to_string(100 + *z * 10) : "FAIL";
    return p;
}

// One series of material 1, a value a day, ids 1, 2, ...
std::vector<TControlPoint> Series(const std::vector<std::optional<double>>& zs) {
    std::vector<TControlPoint> out;
    for (std::size_t i = 0; i < zs.size(); ++i) {
        const int n = static_cast<int>(i + 1);
        out.push_back(Point(n, 1, zs[i], Day(n)));
    }
    return out;
}

using TFired = std::pair<std::string, std::vector<std::int64_t>>;

std::vector<TFired> Fired(const std::vector<TQcViolation>& vs) {
    std::vector<TFired> out;
    for (const auto& v : vs) out.push_back({RuleName(v.Rule), v.MeasurementIds});
    return out;
}

std::vector<std::optional<double>> Repeat(double z, int n) {
    return std::vector<std::optional<double>>(static_cast<std::size_t>(n), z);
}

std::vector<std::optional<double>> Join(std::vector<std::optional<double>> a,
                                        const std::vector<std::optional<double>>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct TCase {
    const char* Name;
    std::vector<std::optional<double>> Z;
    std::vector<TFired> Expected;
};

TEST(Westgard, EachRuleFiresAtExactlyTheValueThatCompletesIt) {
    const std::vector<TCase> cases = {
        {"in control", {0.5, -1.5, 1.9, -2.0, 2.0}, {}},
        {"1-2s is a warning at the value", {0.5, 2.5}, {{"1-2s", {2}}}},
        {"1-2s below", {-2.01}, {{"1-2s", {1}}}},
        {"1-3s is not also 1-2s", {3.5}, {{"1-3s", {1}}}},
        {"1-3s below", {0.2, -3.01}, {{"1-3s", {2}}}},
        {"exactly 3 is 1-2s", {3.0}, {{"1-2s", {1}}}},
        {"2-2s on the second of two above",
         {2.1, 2.2},
         {{"1-2s", {1}}, {"1-2s", {2}}, {"2-2s", {1, 2}}}},
        {"2-2s below with a 1-3s", {-2.5, -3.5}, {{"1-2s", {1}}, {"1-3s", {2}}, {"2-2s", {1, 2}}}},
        {"2-2s needs them consecutive", {2.1, 0.5, 2.2}, {{"1-2s", {1}}, {"1-2s", {3}}}},
        {"2-2s needs one side; other days: no R-4s", {2.5, -2.5}, {{"1-2s", {1}}, {"1-2s", {2}}}},
        {"three above: 2-2s twice",
         {2.1, 2.1, 2.1},
         {{"1-2s", {1}}, {"1-2s", {2}}, {"2-2s", {1, 2}}, {"1-2s", {3}}, {"2-2s", {2, 3}}}},
        {"three above 1: nothing", Repeat(1.5, 3), {}},
        {"4-1s at the fourth", Repeat(1.5, 4), {{"4-1s", {1, 2, 3, 4}}}},
        {"4-1s below, after a value that is not",
         Join({0.5}, Repeat(-1.01, 4)),
         {{"4-1s", {2, 3, 4, 5}}}},
        {"4-1s broken by exactly 1", {1.5, 1.5, 1.0, 1.5, 1.5, 1.5}, {}},
        {"five above 1: 4-1s twice",
         Repeat(1.5, 5),
         {{"4-1s", {1, 2, 3, 4}}, {"4-1s", {2, 3, 4, 5}}}},
        {"nine on one side: nothing", Repeat(0.5, 9), {}},
        {"10x at the tenth", Repeat(-0.5, 10), {{"10x", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}}},
        {"eleven on one side: two 10x",
         Repeat(0.5, 11),
         {{"10x", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}, {"10x", {2, 3, 4, 5, 6, 7, 8, 9, 10, 11}}}},
        {"10x broken by the mean itself", Join(Repeat(0.5, 9), Join({0.0}, Repeat(0.5, 9))), {}},
        {"10x broken by the other side", Join(Repeat(0.5, 9), Join({-0.1}, Repeat(0.5, 9))), {}},
        {"a value without a number neither breaks nor counts",
         Join(Repeat(0.5, 5), Join({std::nullopt}, Repeat(0.5, 5))),
         {{"10x", {1, 2, 3, 4, 5, 7, 8, 9, 10, 11}}}},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(Fired(EvaluateWestgard({Material(1, "CRP-L1", "A")}, Series(c.Z))), c.Expected)
            << c.Name;
    }
}

TEST(Westgard, ViolationsNameRuleSeverityMaterialAndIdentitiesOldestFirst) {
    const auto vs = EvaluateWestgard({Material(1, "CRP-L1", "A")}, Series({2.2, 3.3}));
    ASSERT_EQ(vs.size(), 3u);
    EXPECT_EQ(vs[0].Severity, EQcSeverity::Warning);
    EXPECT_EQ(vs[1].Rule, EQcRule::R13s);
    EXPECT_EQ(vs[1].Severity, EQcSeverity::Reject);
    EXPECT_EQ(vs[2].Rule, EQcRule::R22s);
    EXPECT_EQ(vs[2].Material, "CRP-L1");
    EXPECT_EQ(vs[2].Lot, "A");
    EXPECT_EQ(vs[2].MaterialId, 1);
    EXPECT_EQ(vs[2].TestIds, (std::vector<std::string>{"M1", "M2"}));
    // The points may come in any order: time decides.
    auto shuffled = Series({2.2, 3.3});
    std::swap(shuffled[0], shuffled[1]);
    EXPECT_EQ(Fired(EvaluateWestgard({Material(1, "CRP-L1", "A")}, shuffled)), Fired(vs));
    for (EQcRule r : {EQcRule::R12s, EQcRule::R13s, EQcRule::R22s, EQcRule::RR4s, EQcRule::R41s,
                      EQcRule::R10x}) {
        EXPECT_EQ(RuleFromName(RuleName(r)), r);
    }
    EXPECT_FALSE(RuleFromName("2of3-2s"));
}

TEST(Westgard, SeriesNeverRunAcrossMaterialsOrLots) {
    // Two materials, and two lots of a third, interleaved day by day: each
    // alone stays below every count.
    const std::vector<TControlMaterial> ms = {
        Material(1, "CRP-L1", "A"), Material(2, "CRP-L2", "B"), Material(3, "CRP-L3", "C1"),
        Material(4, "CRP-L3", "C2")};
    std::vector<TControlPoint> ps;
    int id = 0;
    for (int day = 1; day <= 5; ++day) {
        ps.push_back(Point(++id, 1, 1.5, Day(day, 8)));
        ps.push_back(Point(++id, 2, 1.5, Day(day, 9), "1807 0002"));
    }
    // 2-2s split by a new lot on days 6 and 7; 10x split 9 + 1.
    ps.push_back(Point(++id, 3, 2.5, Day(6)));
    ps.push_back(Point(++id, 4, 2.5, Day(7)));
    for (int day = 8; day <= 15; ++day) ps.push_back(Point(++id, 3, 0.5, Day(day)));
    ps.push_back(Point(++id, 4, 0.5, Day(16)));
    const auto vs = EvaluateWestgard(ms, ps);
    std::vector<TFired> expected;
    // Material 1 and 2: five each, 4-1s at their fourth and fifth only.
    expected.push_back({"4-1s", {1, 3, 5, 7}});
    expected.push_back({"4-1s", {2, 4, 6, 8}});
    expected.push_back({"4-1s", {3, 5, 7, 9}});
    expected.push_back({"4-1s", {4, 6, 8, 10}});
    expected.push_back({"1-2s", {11}});
    expected.push_back({"1-2s", {12}});
    EXPECT_EQ(Fired(vs), expected);
    // A point of an unknown material is left out.
    ps.push_back(Point(++id, 99, 5.0, Day(20)));
    EXPECT_EQ(Fired(EvaluateWestgard(ms, ps)), expected);
}

TEST(Westgard, R4sPairsOppositeControlsOfOneRunOnly) {
    // Levels 1 and 2 of one test, a third material of another test.
    TControlMaterial l2 = Material(2, "CRP-L2", "B");
    l2.Level = 2;
    l2.Mean = 50;
    l2.Sd = 5;
    const std::vector<TControlMaterial> ms = {Material(1, "CRP-L1", "A"), l2,
                                              Material(3, "HBA-L1", "H", "HbA1c")};
    auto at = [](std::int64_t id, std::int64_t m, double z, const std::string& when,
                 const std::string& dev = "1807 0001") {
        TControlPoint p = Point(id, m, z, when, dev);
        if (m == 2) p.Value = 50 + z * 5;
        return p;
    };
    struct TRun {
        const char* Name;
        std::vector<TControlPoint> Points;
        std::vector<TFired> R4s;
    };
    const std::vector<TRun> runs = {
        {"two levels, one run",
         {at(1, 1, 2.5, Day(1, 8)), at(2, 2, -2.5, Day(1, 9))},
         {{"R-4s", {1, 2}}}},
        {"one level twice in a run",
         {at(1, 1, -2.5, Day(1, 8)), at(2, 1, 2.5, Day(1, 9))},
         {{"R-4s", {1, 2}}}},
        {"the latest opposite one is named",
         {at(1, 1, -2.5, Day(1, 8)), at(2, 2, -2.2, Day(1, 9)), at(3, 2, 2.5, Day(1, 10))},
         {{"R-4s", {2, 3}}}},
        {"another device", {at(1, 1, 2.5, Day(1, 8)), at(2, 2, -2.5, Day(1, 9), "1807 0002")}, {}},
        {"another day", {at(1, 1, 2.5, Day(1, 23)), at(2, 2, -2.5, Day(2, 7))}, {}},
        {"another test", {at(1, 1, 2.5, Day(1, 8)), at(2, 3, -2.5, Day(1, 9))}, {}},
        {"not past 2 on both sides", {at(1, 1, 2.5, Day(1, 8)), at(2, 2, -1.9, Day(1, 9))}, {}},
    };
    for (const TRun& r : runs) {
        std::vector<TFired> r4s;
        for (const auto& v : EvaluateWestgard(ms, r.Points)) {
            if (v.Rule != EQcRule::RR4s) continue;
            r4s.push_back({RuleName(v.Rule), v.MeasurementIds});
            EXPECT_EQ(v.Severity, EQcSeverity::Reject);
        }
        EXPECT_EQ(r4s, r.R4s) << r.Name;
    }
    // Named after the value where it fired.
    const auto vs = EvaluateWestgard(ms, runs[0].Points);
    ASSERT_EQ(vs.size(), 3u);
    EXPECT_EQ(vs[2].Material, "CRP-L2");
    EXPECT_EQ(vs[2].Lot, "B");
}

TEST(Lockout, PatientResultsAfterARejectedControlFailUntilOnePasses) {
    const std::vector<TControlMaterial> ms = {Material(1, "CRP-L1", "A"),
                                              Material(2, "HBA-L1", "H", "HbA1c")};
    const std::vector<TControlPoint> ps = {
        Point(1, 1, 0.3, "2026-03-02T08:00:00"),
        Point(2, 1, 3.4, "2026-03-02T12:00:00"),           // 1-3s: rejected
        Point(3, 1, std::nullopt, "2026-03-02T14:00:00"),  // no number: changes nothing
        Point(4, 1, -2.5, "2026-03-03T08:00:00"),          // 1-2s warning only: passes
        Point(5, 1, -3.5, "2026-03-04T08:00:00"),          // rejected again
        Point(6, 2, 0.0, "2026-03-04T09:00:00"),           // another test passes
    };
    const TQcLockout lock(ms, ps, EvaluateWestgard(ms, ps));
    const std::string crp = "CRP quantitative";
    const std::string dev = "1807 0001";
    struct TPatient {
        std::string Test, Device, When;
        bool Failed;
    };
    const std::vector<TPatient> patients = {
        {crp, dev, "2026-03-01T09:00:00", false},  // before any control
        {crp, dev, "2026-03-02T09:00:00", false},  // after a passing one
        {crp, dev, "2026-03-02T12:00:00", true},   // at the rejected one's time
        {crp, dev, "2026-03-02T13:00:00", true},
        {crp, dev, "2026-03-02T15:00:00", true},  // an invalid control lifts nothing
        {crp, "1807 0002", "2026-03-02T13:00:00", false},
        {"HbA1c", dev, "2026-03-02T13:00:00", false},
        {crp, dev, "2026-03-03T09:00:00", false},  // the warning passed
        {crp, dev, "2026-03-05T09:00:00", true},   // another test's pass lifts nothing
        {crp, dev, "", false},
    };
    for (const auto& p : patients) {
        EXPECT_EQ(lock.Failed(p.Test, p.Device, p.When), p.Failed) << p.Test << " " << p.When;
    }
    EXPECT_FALSE(TQcLockout().Failed(crp, dev, "2026-03-02T13:00:00"));
}

TEST(Materials, CheckedBeforeKeptAndTheLotInUseFollowsTheDates) {
    TControlMaterial good = Material(1, "CRP-L1", "A");
    good.Expires = "2027-02-28";
    EXPECT_EQ(CheckMaterial(good), "");
    struct TBad {
        const char* Name;
        void (*Spoil)(TControlMaterial&);
    };
    const std::vector<TBad> bad = {
        {"name", [](TControlMaterial& m) { m.Name = " "; }},
        {"test", [](TControlMaterial& m) { m.Test = ""; }},
        {"result", [](TControlMaterial& m) { m.Result = ""; }},
        {"lot", [](TControlMaterial& m) { m.Lot = ""; }},
        {"level 0", [](TControlMaterial& m) { m.Level = 0; }},
        {"level 4", [](TControlMaterial& m) { m.Level = 4; }},
        {"sd 0", [](TControlMaterial& m) { m.Sd = 0; }},
        {"sd negative", [](TControlMaterial& m) { m.Sd = -1; }},
        {"sd nan", [](TControlMaterial& m) { m.Sd = std::nan(""); }},
        {"mean inf", [](TControlMaterial& m) { m.Mean = HUGE_VAL; }},
        {"expiry", [](TControlMaterial& m) { m.Expires = "2027-02-29"; }},
        {"opened", [](TControlMaterial& m) { m.Opened = "01.03.2026"; }},
    };
    for (const auto& b : bad) {
        TControlMaterial m = good;
        b.Spoil(m);
        EXPECT_NE(CheckMaterial(m), "") << b.Name;
    }

    TControlMaterial a = Material(1, "CRP-L1", "A");
    a.Opened = "2026-02-01";
    a.PatientIdPrefix = "QC-L1";
    TControlMaterial b = Material(2, "CRP-L1", "B");
    b.Opened = "2026-03-10";
    b.PatientIdPrefix = "QC-L1";
    TControlMaterial other = Material(3, "HBA-L1", "H", "HbA1c");
    other.PatientIdPrefix = "QC-L1";
    const std::vector<TControlMaterial> ms = {b, other, a};
    EXPECT_EQ(LotInUse(ms, "CRP-L1", "2026-03-09T23:59:59")->Lot, "A");
    EXPECT_EQ(LotInUse(ms, "CRP-L1", "2026-03-10T00:00:00")->Lot, "B");
    EXPECT_EQ(LotInUse(ms, "CRP-L1", "2025-12-31T10:00:00")->Lot, "A");  // before all: oldest
    EXPECT_EQ(LotInUse(ms, "CRP-L9", "2026-03-10T00:00:00"), nullptr);
    EXPECT_EQ(LotByPatientId(ms, "QC-L1", "CRP quantitative", "2026-04-01T08:00:00")->Id, 2);
    EXPECT_EQ(LotByPatientId(ms, "QC-L1", "HbA1c", "2026-04-01T08:00:00")->Id, 3);
    EXPECT_EQ(LotByPatientId(ms, "QC-L1", "Ferritin", "2026-04-01T08:00:00"), nullptr);
    EXPECT_EQ(LotByPatientId(ms, "QC-L", "CRP quantitative", "2026-04-01T08:00:00"), nullptr);
    EXPECT_EQ(LotByPatientId(ms, "", "CRP quantitative", "2026-04-01T08:00:00"), nullptr);
}

TEST(LeveyJennings, OneSeriesPerLotWithItsLinesRulesAndTextValues) {
    TControlMaterial a = Material(1, "CRP-L1", "A");
    TControlMaterial b = Material(2, "CRP-L1", "B");
    b.Mean = 120;
    b.Sd = 4;
    const std::vector<TControlMaterial> ms = {b, a, Material(3, "CRP-L2", "X")};
    std::vector<TControlPoint> ps = {
        Point(1, 1, 0.5, Day(1)),
        Point(2, 1, std::nullopt, Day(2)),
        Point(3, 1, 3.2, Day(3)),
        Point(5, 3, 0.0, Day(3)),
    };
    TControlPoint onB = Point(4, 2, 0, Day(4));
    onB.Value = 128;  // z = +2 on lot B's own targets
    ps.push_back(onB);
    const auto series = BuildLeveyJennings(ms, ps, EvaluateWestgard(ms, ps), "CRP-L1");
    ASSERT_EQ(series.size(), 2u);
    EXPECT_EQ(series[0].Material.Lot, "A");
    ASSERT_EQ(series[0].Points.size(), 3u);
    EXPECT_EQ(series[0].Points[0].MeasurementId, 1);
    EXPECT_NEAR(*series[0].Points[0].Z, 0.5, 1e-9);
    EXPECT_FALSE(series[0].Points[1].Value);  // kept, for the chart's edge
    EXPECT_EQ(series[0].Points[1].ValueText, "FAIL");
    EXPECT_EQ(series[0].Points[2].Rules, std::vector<EQcRule>{EQcRule::R13s});
    EXPECT_TRUE(series[0].Points[2].Rejected);
    EXPECT_FALSE(series[0].Points[0].Rejected);
    ASSERT_EQ(series[1].Points.size(), 1u);
    EXPECT_NEAR(*series[1].Points[0].Z, 2.0, 1e-9);
    EXPECT_TRUE(series[1].Points[0].Rules.empty());
    const auto lines = series[1].Lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], (std::pair<double, std::string>{108, "-3 SD"}));
    EXPECT_EQ(lines[3], (std::pair<double, std::string>{120, "Mean"}));
    EXPECT_EQ(lines[6], (std::pair<double, std::string>{132, "+3 SD"}));
    EXPECT_TRUE(BuildLeveyJennings(ms, ps, {}, "nothing").empty());
}

}  // namespace
}  // namespace kyvo::qc
