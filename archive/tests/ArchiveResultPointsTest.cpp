// One result's values across the filtered measurements, as charts read them,
// on both engines; each engine's answer must equal the one built from the
// whole loaded measurements.
#include "archive/tests/ArchiveTestSupport.h"

namespace kyvo::testing {

namespace {

class ArchiveResultPoints : public ArchiveEngineBase {};

INSTANTIATE_TEST_SUITE_P(Engines, ArchiveResultPoints, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

TMeasureSet Crp(int n, int month, int day, const std::string& value, const std::string& lot,
                const std::string& validity = "Valid") {
    TMeasureSet s;
    s.TestID = DeviceId(n);
    s.TestName = "CRP quantitative";
    s.LotNr = lot;
    setDateData(s.DateTime, 26, static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day), 9,
                30, 0);
    s.ResultList.push_back({validity, "CRP", value, "mg/l", "normal"});
    s.ResultList.push_back({validity, "Ratio", "1.5", "", ""});
    return s;
}

void ExpectSamePoints(const std::vector<TArchiveResultPoint>& got,
                      const std::vector<TArchiveResultPoint>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].Id, want[i].Id);
        EXPECT_EQ(got[i].TestId, want[i].TestId);
        EXPECT_EQ(got[i].TestName, want[i].TestName);
        EXPECT_EQ(got[i].LotNr, want[i].LotNr);
        EXPECT_EQ(got[i].DateTime, want[i].DateTime);
        EXPECT_EQ(got[i].DeviceSerial, want[i].DeviceSerial);
        EXPECT_EQ(got[i].Value, want[i].Value);
        EXPECT_EQ(got[i].ValueText, want[i].ValueText);
        EXPECT_EQ(got[i].Unit, want[i].Unit);
        EXPECT_EQ(got[i].Class, want[i].Class);
        EXPECT_EQ(got[i].Validity, want[i].Validity);
    }
}

}  // namespace

TEST_P(ArchiveResultPoints, OneResultOfTheFilteredMeasurementsOldestFirstWithTextsKept) {
    auto a = OpenArchive(Fresh());
    const TArchiveDevice dev1{"1807 0001", "", ""};
    const TArchiveDevice dev2{"1807 0002", "", ""};
    // Stored out of date order, on two devices and two lots.
    a->Store(Crp(1, 3, 5, "7.25", "L1"), dev1, EArchiveSource::DeviceRead, Actor());
    a->Store(Crp(2, 3, 1, "0.1", "L2"), dev2, EArchiveSource::DeviceRead, Actor());
    a->Store(Crp(3, 3, 3, "<5", "L1"), dev1, EArchiveSource::DeviceRead, Actor());
    a->Store(Crp(4, 3, 4, "FAIL", "L1", "Invalid"), dev2, EArchiveSource::DeviceRead, Actor());
    TMeasureSet twice = Crp(5, 3, 6, "12", "L2");
    twice.ResultList.push_back({"Valid", "CRP", "99", "mg/l", "high"});
    a->Store(twice, dev1, EArchiveSource::DeviceRead, Actor());
    TMeasureSet other = Crp(6, 3, 2, "3", "L1");
    other.TestName = "CRP rapid";
    a->Store(other, dev1, EArchiveSource::DeviceRead, Actor());
    a->Store(Crp(7, 3, 7, "8", "L1"), dev1, EArchiveSource::DeviceRead, Actor());
    a->Remove(*a->FindByTestId(DeviceId(7)), "wrong card", Actor());

    TArchiveFilter f;
    f.Test = "CRP quantitative";
    f.Sort = EArchiveSort::Lot;  // no matter: points come by date
    const auto points = a->ResultPoints(f, "CRP");
    ASSERT_EQ(points.size(), 5u);
    std::vector<std::string> texts;
    for (const auto& p : points) texts.push_back(p.ValueText);
    EXPECT_EQ(texts, (std::vector<std::string>{"0.1", "<5", "FAIL", "7.25", "12"}));
    EXPECT_EQ(points[0].Value, 0.1);
    EXPECT_FALSE(points[1].Value);
    EXPECT_FALSE(points[2].Value);
    EXPECT_EQ(points[2].Validity, "Invalid");
    EXPECT_EQ(points[3].Value, 7.25);
    EXPECT_EQ(points[4].Value, 12.0);  // the first of its two CRP rows
    EXPECT_EQ(points[0].DeviceSerial, "1807 0002");
    EXPECT_EQ(points[0].LotNr, "L2");
    EXPECT_EQ(points[0].DateTime, "2026-03-01T09:30:00");
    EXPECT_EQ(points[0].Unit, "mg/l");
    EXPECT_EQ(points[4].Class, "normal");
    ExpectSamePoints(points, a->IArchive::ResultPoints(f, "CRP"));

    // The filter's other terms, and pages of points.
    TArchiveFilter lot = f;
    lot.Lot = "L1";
    lot.Device = "1807 0001";
    ExpectSamePoints(a->ResultPoints(lot, "CRP"), a->IArchive::ResultPoints(lot, "CRP"));
    EXPECT_EQ(a->ResultPoints(lot, "CRP").size(), 2u);
    TArchiveFilter page = f;
    page.Offset = 1;
    page.Limit = 2;
    const auto paged = a->ResultPoints(page, "CRP");
    ASSERT_EQ(paged.size(), 2u);
    EXPECT_EQ(paged[0].ValueText, "<5");
    EXPECT_EQ(paged[1].ValueText, "FAIL");
    ExpectSamePoints(paged, a->IArchive::ResultPoints(page, "CRP"));
    TArchiveFilter newest = f;
    newest.Descending = true;
    newest.Limit = 2;
    const auto last = a->ResultPoints(newest, "CRP");
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(last[0].ValueText, "12");
    EXPECT_EQ(last[1].ValueText, "7.25");
    ExpectSamePoints(last, a->IArchive::ResultPoints(newest, "CRP"));
    TArchiveFilter removed = f;
    removed.IncludeRemoved = true;
    EXPECT_EQ(a->ResultPoints(removed, "CRP").size(), 6u);
    EXPECT_TRUE(a->ResultPoints(f, "No such result").empty());

    const std::vector<TArchiveResultName> names{{"CRP quantitative", "CRP", 5},
                                                {"CRP quantitative", "Ratio", 5},
                                                {"CRP rapid", "CRP", 1},
                                                {"CRP rapid", "Ratio", 1}};
    EXPECT_EQ(a->ResultNames({}), names);
    EXPECT_EQ(a->IArchive::ResultNames({}), names);
    TArchiveFilter rapid;
    rapid.Test = "CRP rapid";
    EXPECT_EQ(a->ResultNames(rapid), (std::vector<TArchiveResultName>{names[2], names[3]}));
    // A quick look: the names of the newest measurements only.
    TArchiveFilter newestTwo;
    newestTwo.Limit = 2;
    const std::vector<TArchiveResultName> recent{{"CRP quantitative", "CRP", 2},
                                                 {"CRP quantitative", "Ratio", 2}};
    EXPECT_EQ(a->ResultNames(newestTwo), recent);
    EXPECT_EQ(a->IArchive::ResultNames(newestTwo), recent);
}

}  // namespace kyvo::testing
