#include "testdata/MeasureSet.h"

#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>

namespace kyvo {
namespace {

// Appends a text to the configuration's strings and returns its pointer.
std::uint16_t addText(TTestConfig& cfg, const std::string& text) {
    const std::uint16_t at = cfg.CaptureSection.StringSize;
    cfg.AddStrPtrToCfg(text, at);
    return at;
}

TEST(MeasureIdentity, identityTextJoinsTestDeviceAndDate) {
    TDateData date;
    setDateData(date, 18, 1, 2, 3, 4, 5);
    EXPECT_EQ(MeasureIdentityText({1, 2, 3, 4}, {18, 7, 42}, date), "1 2 3 4 1807 0042 33752069");
    TEEPROMNonVolatile rec;
    rec.ProductionYear = 9;
    rec.ProductionWeek = 52;
    rec.SerialNumber = 12345;
    EXPECT_EQ(MeasureIdentityText({0, 0, 0, 0}, DeviceIdentityOf(rec), TDateData{}),
              "0 0 0 0 0952 12345 0");
}

TEST(MeasureIdentity, lookupByTestIdIsExactAndFindsTheFirst) {
    TMeasureList list;
    for (const char* id : {"a", "B", "B"}) {
        list.push_back(std::make_unique<TMeasureSet>());
        list.back()->TestID = id;
    }
    TMeasureSet probe;
    probe.TestID = "b";
    EXPECT_EQ(FindMeasureSetByTestID(list, probe), -1);
    probe.TestID = "B";
    EXPECT_EQ(FindMeasureSetByTestID(list, probe), 1);
}

struct NumberCase {
    std::uint8_t digitCfg;
    float lower;
    float upper;
    float v;
    const char* text;
};

TEST(ResultRowRule, valuesAreCutToTheAllowedDigits) {
    const NumberCase cases[] = {
        {0x12, 0, 10000, 5.67f, "5.6"},
        {0x12, 0, 10000, 12.3f, "12"},
        {0x12, 0, 10000, 0.456f, "0.4"},
        {0x12, 0, 10000, 5.0f, "5"},
        {0x12, 0, 10000, 123.9f, "123"},
        {0x12, 0, 10000, 99.99f, "99"},
        {0x12, 0, 10000, 0.0f, "0"},
        {0x23, 0, 10000, 0.005f, "0"},
        {0x23, 0, 10000, 1.239f, "1.23"},
        {0x23, 0, 10000, 9.99f, "9.99"},
        {0x34, 0, 10000, 12.3456f, "12.34"},
        {0x02, 0, 10000, 5.67f, "5"},
        // The decimal value is cut, not its binary neighbour below.
        {0x12, 0, 10000, 0.7f, "0.7"},
        {0x23, 0, 10000, 2.01f, "2.01"},
        {0x12, -10, 10000, -0.56f, "-0.5"},
        {0x12, -10, 10000, -0.04f, "0"},
        // Outside the limits the limit is shown, rounded to the decimals.
        {0x12, 0.5f, 10000, 0.2f, "<0.5"},
        {0x12, 0.5f, 10000, 0.5f, "0.5"},
        {0x12, 0.25f, 10000, 0.1f, "<0.3"},
        {0x13, 0, 100, 150.0f, ">100"},
        {0x12, 0, 10000, 10000.5f, ">10000"},
        {0x13, 0, 99.95f, 99.99f, ">100"},
    };
    for (const auto& tc : cases)
        EXPECT_EQ(FormatResultNumber(tc.v, tc.digitCfg, tc.lower, tc.upper), tc.text)
            << tc.v << " cfg " << int(tc.digitCfg);
}

// A value that is no number must still give a text, never hang or garble:
// infinities outside finite limits show the limit, otherwise the spellings of
// the result files.
TEST(ResultRowRule, infiniteAndNotANumberValuesAndLimitsFormatWithoutHanging) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float lower, upper, v;
        const char* text;
    };
    const Case cases[] = {
        {0, 10000, inf, ">10000"},
        {0, 10000, -inf, "<0"},
        {0, inf, inf, "INF"},
        {-inf, 10000, -inf, "-INF"},
        {0, 10000, nan, "NAN"},
        {inf, inf, 5.0f, "<INF"},
        {nan, nan, 5.0f, "5"},
        {0, 10000, 3.0e38f, ">10000"},
        {0, inf, 1099511627776.0f, "1099511627776"},
    };
    for (const auto& tc : cases)
        EXPECT_EQ(FormatResultNumber(tc.v, 0x12, tc.lower, tc.upper), tc.text)
            << tc.v << " in " << tc.lower << ".." << tc.upper;
}

// One result with classes 10, 20, 30 ("low", "mid", "high") and the value
// hidden when a class is shown.
struct ClassFixture {
    TTestConfig cfg;
    TTestResultEntry& r = cfg.ResultSection[0];
    ClassFixture() {
        cfg.CaptureSection.ResultClassCnt.SetResultCount(1);
        cfg.CaptureSection.ResultClassCnt.SetClassCount(3);
        r.PtrResultName = addText(cfg, "  CRP ");
        r.PtrResultUnit = addText(cfg, "\xB5g/l");
        r.ResultFlags = 0x02;
        r.ClassRef = 3;
        const char* names[] = {"low", "mid", " high"};
        for (int i = 0; i < 3; ++i) cfg.ClassSection[i] = {10.0f * (i + 1), addText(cfg, names[i])};
        cfg.CaptureSection.PtrTestInvalidText = addText(cfg, " OOPS  ");
    }
    TResultSet row(float v, std::uint8_t flags = 0) const {
        return MakeResultRow(cfg, r, v, IsTestInvalid(UTestInvalid{flags}), UTestInvalid{flags},
                             EnglishText);
    }
};

TEST(ResultRowRule, theSmallestLimitAboveTheValueGivesTheClass) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float v;
        const char* value;
        const char* cls;
    };
    const Case cases[] = {
        {15, "", "mid"}, {10, "", "mid"},           {5, "", "low"},        {29.9f, "", "high"},
        {35, "35", ""},  {nan, "Not a number", ""}, {inf, "Infinite", ""},
    };
    ClassFixture f;
    for (const auto& tc : cases) {
        const TResultSet row = f.row(tc.v);
        EXPECT_EQ(row.ResultValue, tc.value) << tc.v;
        EXPECT_EQ(row.ClassName, tc.cls) << tc.v;
        EXPECT_EQ(row.Validity, "Valid");
        EXPECT_EQ(row.ResultName, "CRP");
        EXPECT_EQ(row.UnitName, "\xC2\xB5g/l");
    }

    f.r.ResultFlags = 0x03;  // value shown beside the class
    EXPECT_EQ(f.row(15).ResultValue, "15");
    EXPECT_EQ(f.row(15).ClassName, "mid");

    f.cfg.ClassSection[2].LowerThan = 20;  // equal limits: the lower index wins
    EXPECT_EQ(f.row(15).ClassName, "mid");
    f.cfg.ClassSection[1].LowerThan = 4294967296.0f;  // never wins
    f.cfg.ClassSection[2].LowerThan = 5e9f;
    EXPECT_EQ(f.row(15).ClassName, "");
}

TEST(ResultRowRule, invalidAndExpiredMeasurementsShowTheirValidity) {
    ClassFixture f;
    for (std::uint8_t flags : {0x01, 0x80, 0xC8}) {
        const TResultSet row = f.row(15, flags);
        EXPECT_EQ(row.Validity, "Invalid");
        EXPECT_EQ(row.ResultValue, "OOPS");
        EXPECT_EQ(row.ClassName, "");
        EXPECT_EQ(row.UnitName, "\xC2\xB5g/l");
    }
    EXPECT_EQ(f.row(15, 0x40).Validity, "Kyvo expired");
    EXPECT_EQ(f.row(15, 0x40).ClassName, "mid");

    const TextLookup translated = [](const TLangEntry& e) {
        return "[" + std::to_string(e.ID) + "]";
    };
    const UTestInvalid none{0};
    EXPECT_EQ(MakeResultRow(f.cfg, f.r, 1, false, none, translated).Validity, "[203]");
    EXPECT_EQ(MakeResultRow(f.cfg, f.r, 1, true, none, translated).Validity, "[204]");
    EXPECT_EQ(MakeResultRow(f.cfg, f.r, 1, false, UTestInvalid{0x40}, translated).Validity,
              "[205]");
    EXPECT_EQ(MakeResultRow(f.cfg, f.r, NAN, false, none, translated).ResultValue, "[134]");
}

TEST(ResultRowRule, classReferenceBeyondTheClassesReadsNothingPastThem) {
    ClassFixture f;
    f.r.ClassRef = (30 << 3) | 7;  // first class 30, seven classes
    f.cfg.ClassSection[30] = {50.0f, addText(f.cfg, "edge")};
    // Bytes that would pose as class 31 with a smaller limit.
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(45.0f);
    std::memcpy(f.cfg.CartridgeWhite.data(), &bits, 4);
    EXPECT_EQ(f.row(40).ClassName, "edge");
}

TEST(LineImage, valuesAreScaledBetweenTheirMinimumAndMaximum) {
    struct Case {
        std::vector<std::int32_t> values;
        std::vector<std::uint8_t> bytes;
        const char* min;
        const char* max;
    };
    const Case cases[] = {
        {{100, 300, 200}, {0, 254, 127}, "100", "300"},
        {{1000, 1000, 1000}, {0, 0, 0}, "1000", "1000"},
        {{0, 4095}, {0, 255}, "0", "4095"},
        {{}, {}, "4095", "0"},
    };
    for (const auto& tc : cases) {
        TMeasureSet set;
        ScaleLineImage(set, tc.values);
        EXPECT_EQ(set.ImageData, tByteBuffer(tc.bytes.begin(), tc.bytes.end()));
        EXPECT_EQ(set.ImgMin, tc.min);
        EXPECT_EQ(set.ImgMax, tc.max);
        for (std::size_t k = 0; k < tc.values.size(); ++k)
            EXPECT_EQ(set.OrigImage[k], tc.values[k]);
        EXPECT_EQ(set.OrigImage.size(), std::min(tc.values.size(), kMaxImageValues));
    }
}

TEST(LineImage, aSetWithoutAnImageOrLineDataHoldsNoSlotsForThem) {
    // A result file of many short lines makes many such sets.
    const TMeasureSet bare;
    EXPECT_EQ(bare.OrigImage.capacity(), 0u);
    EXPECT_FALSE(bare.MeasureResult.HasResults());
    EXPECT_EQ(bare.MeasureResult.Results().Line[0].Width, 0);  // reads as an empty record
    EXPECT_FALSE(bare.MeasureResult.HasResults());
    // A copy owns its own record.
    TMeasureSet lined;
    lined.MeasureResult.Results().Line[0].Width = 7;
    TMeasureSet copy = lined;
    copy.MeasureResult.Results().Line[0].Width = 9;
    EXPECT_EQ(lined.MeasureResult.Results().Line[0].Width, 7);
    EXPECT_LT(sizeof(TMeasureSet), kMaxImageValues * sizeof(std::int32_t));
    TMeasureSet small;
    ScaleLineImage(small, std::vector<std::int32_t>{1, 2, 3});
    EXPECT_EQ(small.OrigImage, (std::vector<std::int32_t>{1, 2, 3}));
    EXPECT_LE(small.OrigImage.capacity(), 3u);
}

TEST(LineImage, packedAndSixteenBitSourcesAndOversizedImages) {
    TMeasureSet packed;
    LineImageFromPacked12(packed, tByteBuffer{0x06, 0x40, 0x64, 0x0C, 0x80}, 3);
    EXPECT_EQ(packed.OrigImage[0], 100);
    EXPECT_EQ(packed.OrigImage[1], 100);
    EXPECT_EQ(packed.OrigImage[2], 200);
    EXPECT_EQ(packed.ImageData, (tByteBuffer{0, 0, 253}));

    // The announced width stays; samples arrive little-endian.
    TMeasureSet live;
    live.ImageData.assign(4, 0);
    LineImageFromGray16(live, tByteBuffer{0xFF, 0x0F, 0x00, 0x00});
    EXPECT_EQ(live.ImageData, (tByteBuffer{255, 0, 0, 0}));
    EXPECT_EQ(live.ImgMax, "4095");
    EXPECT_EQ(live.OrigImage.size(), 2u);

    TMeasureSet big;
    tByteBuffer samples(2 * 300, 0);
    samples[2 * 299] = 0xFF;  // beyond what the set holds: not counted
    LineImageFromGray16(big, samples);
    EXPECT_EQ(big.ImageData.size(), kMaxImageValues);
    EXPECT_EQ(big.ImgMax, "0");
}

// Two stored results of one configuration with two results and a class.
struct StoredFixture {
    std::vector<TKyvoResultData> data;
    TDeviceIdentity device{18, 7, 42};
    StoredFixture() {
        TKyvoResultData d;
        d.ResultCfg.ID = 3;
        d.ResultCfg.TestID = {1, 2, 3, 4};
        TTestConfig& cfg = d.TestCfg;
        cfg.CaptureSection.ResultClassCnt.SetResultCount(2);
        cfg.OemSection.PtrTestName = addText(cfg,
                                             "Gl\xFC"
                                             "cose");
        cfg.OemSection.PtrLotNr = addText(cfg, "L-7 ");
        cfg.OemSection.PtrDistributorManufacturer = addText(cfg, "Maker");
        cfg.ResultSection[0].PtrResultName = addText(cfg, "A");
        cfg.ResultSection[1].PtrResultName = addText(cfg, "B");
        for (int i = 0; i < 2; ++i) {
            TKyvoResults r;
            setDateData(r.KyvoResultList.Date, 18, 1, 2, 3, 4, static_cast<std::uint8_t>(5 + i));
            r.KyvoResultList.Voltage = 2900;
            r.KyvoResultList.Temperature = 21.256f;
            r.KyvoResultList.Invalid.Data = static_cast<std::uint8_t>(i == 1 ? 0x01 : 0);
            r.ResultValues = {1.25f + i, 7.0f};
            r.LineData.resize(12);
            r.LineData[9].Width = 6;
            r.ImgLineInfo = {12, 2};
            r.ImageValues12 = {0x06, 0x41, 0x2C};
            d.Results.push_back(r);
        }
        data.push_back(d);
    }
    TStorageBuildResult build(TMeasureList& list, EAddDecision answer, int* asked = nullptr,
                              bool lines = true, bool image = true) const {
        return BuildMeasureSetsFromStorage(
            data, device, lines, image, EnglishText,
            [&] {
                if (asked) ++*asked;
                return answer;
            },
            list);
    }
};

TEST(StorageBuild, everyStoredResultBecomesASet) {
    StoredFixture f;
    TMeasureList list;
    int asked = 0;
    const auto r = f.build(list, EAddDecision::Cancel, &asked);
    EXPECT_EQ(asked, 0);  // nothing to keep: no question
    EXPECT_EQ(r.Created, 2u);
    EXPECT_EQ(r.Added, 2u);
    EXPECT_EQ(r.ClampedLines, 2u);
    ASSERT_EQ(list.size(), 2u);
    const TMeasureSet& s = *list[0];
    EXPECT_EQ(s.TestID, "1 2 3 4 1807 0042 33752069");
    EXPECT_EQ(s.TestName,
              "Gl\xC3\xBC"
              "cose");
    EXPECT_EQ(s.LotNr, "L-7 ");
    EXPECT_EQ(s.Distr_Manu, "Maker");
    EXPECT_EQ(s.DateTime.Seconds, 5);
    EXPECT_EQ(s.Voltage, "2900");
    EXPECT_EQ(s.Temperature, "21.26");
    ASSERT_EQ(s.ResultList.size(), 2u);
    EXPECT_EQ(s.ResultList[0].ResultName, "A");
    EXPECT_EQ(s.ResultList[0].ResultValue, "1.2");
    EXPECT_EQ(s.ResultList[1].ResultValue, "7");
    EXPECT_EQ(s.MeasureResult.LineCount, 10);
    EXPECT_EQ(s.MeasureResult.Results().Line[9].Width, 6);
    EXPECT_EQ(s.ImageData, (tByteBuffer{0, 254}));
    EXPECT_EQ(s.ImgMin, "100");
    EXPECT_EQ(s.ImgMax, "300");
    EXPECT_EQ(list[1]->ResultList[0].Validity, "Invalid");
    EXPECT_EQ(list[1]->ResultList[1].ResultValue, "FAIL");

    TMeasureList bare;
    f.build(bare, EAddDecision::Add, nullptr, false, false);
    EXPECT_EQ(bare[0]->MeasureResult.LineCount, 0);
    EXPECT_EQ(bare[0]->ImgMin, "");
    EXPECT_TRUE(bare[0]->ImageData.empty());

    // An image of no values still sets its texts.
    f.data[0].Results[0].ImgLineInfo.ImageSize = 0;
    f.data[0].Results[0].ImageValues12.clear();
    TMeasureList empty;
    f.build(empty, EAddDecision::Add);
    EXPECT_EQ(empty[0]->ImgMin, "4095");
    EXPECT_EQ(empty[0]->ImgMax, "0");
    EXPECT_TRUE(empty[0]->ImageData.empty());
}

TEST(StorageBuild, theDecisionAddsReplacesOrCancels) {
    StoredFixture f;
    TMeasureList list;
    f.build(list, EAddDecision::Add);
    list.push_back(std::make_unique<TMeasureSet>());
    list.back()->TestID = "kept";

    int asked = 0;
    auto r = f.build(list, EAddDecision::Add, &asked);  // the same device again
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(r.Created, 2u);
    EXPECT_EQ(r.Added, 0u);
    EXPECT_EQ(list.size(), 3u);

    r = f.build(list, EAddDecision::Cancel);
    EXPECT_TRUE(r.Cancelled);
    EXPECT_EQ(r.Created, 0u);
    EXPECT_EQ(list.size(), 3u);

    r = f.build(list, EAddDecision::Overwrite);
    EXPECT_EQ(r.Added, 2u);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_NE(list[0]->TestID, "kept");

    // Two stored results with the same identity become one set.
    f.data[0].Results[1].KyvoResultList.Date = f.data[0].Results[0].KyvoResultList.Date;
    TMeasureList fresh;
    r = f.build(fresh, EAddDecision::Add);
    EXPECT_EQ(r.Created, 2u);
    EXPECT_EQ(fresh.size(), 1u);
}

// A measurement record with the given values and flags.
tByteBuffer record(std::uint8_t version, std::vector<float> values, std::uint8_t flags,
                   std::uint8_t second) {
    const std::size_t lineSize = version <= 4 ? 27 : version == 5 ? 28 : 24;
    tByteBuffer b(MeasurementRecordSize(version), 0);
    tCursor c = 3;
    for (float v : values) bufAddSingle(b, c, v);
    for (std::size_t i = 0; i < 10; ++i) b[43 + i * lineSize + lineSize - 1] = 12;
    c = static_cast<tCursor>(63 + 10 * lineSize);
    bufAddByte(b, c, flags);
    bufAddSingle(b, c, -1.5f);
    bufAddWord(b, c, 3300);
    for (int d : {int{second}, 4, 3, 2, 1, 18}) bufAddByte(b, c, static_cast<std::uint8_t>(d));
    return b;
}

TTestConfig twoResultConfig(std::uint8_t results = 2) {
    TTestConfig cfg;
    cfg.TestID = {1, 2, 3, 4};
    cfg.OemSection.PtrTestName = addText(cfg, "Test");
    cfg.CaptureSection.LineCntFilterWidth.SetLineCount(2);
    cfg.LineSection[0].Width = 8;
    cfg.LineSection[1].Width = 10;
    cfg.CaptureSection.ResultClassCnt.SetResultCount(results);
    cfg.ResultSection[0].PtrResultName = addText(cfg, "A");
    cfg.ResultSection[1].PtrResultName = addText(cfg, "B");
    return cfg;
}

TEST(LatestMeasurement, recordBecomesASetUnderItsConfiguration) {
    const TTestConfig cfg = twoResultConfig();
    TMeasureSet set;
    set.UserComment = "stale";
    BuildMeasureSetFromResult(record(5, {1.5f, 2.5f}, 0x10, 5), 5, cfg, {18, 7, 42}, EnglishText,
                              set);
    EXPECT_EQ(set.UserComment, "");
    EXPECT_EQ(set.TestID, "1 2 3 4 1807 0042 33752069");
    EXPECT_EQ(set.TestName, "Test");
    EXPECT_EQ(set.Voltage, "3300");
    EXPECT_EQ(set.Temperature, "-1.50");
    EXPECT_EQ(set.MeasureResult.LineCount, 2);
    EXPECT_EQ(set.MeasureResult.Results().Line[0].Width, 8);
    EXPECT_EQ(set.MeasureResult.Results().Line[1].Width, 10);
    ASSERT_EQ(set.ResultList.size(), 2u);
    EXPECT_EQ(set.ResultList[1].ResultValue, "2.5");
    EXPECT_EQ(set.ResultList[1].Validity, "Valid");

    // Up to version 3 any flag makes the record invalid.
    BuildMeasureSetFromResult(record(3, {1.5f, 2.5f}, 0x10, 5), 3, cfg, {18, 7, 42}, EnglishText,
                              set);
    EXPECT_EQ(set.ResultList[0].Validity, "Invalid");
}

TEST(LatestMeasurement, twoMeasurementsCombineIntoFourRows) {
    const TTestConfig cfg = twoResultConfig();
    struct Case {
        std::uint8_t firstFlags;
        std::uint8_t secondFlags;
        bool invalid;
    };
    for (const Case tc : {Case{0, 0, false}, Case{0, 0x01, true}, Case{0x80, 0, true}}) {
        TMeasureSet set;
        BuildMeasureSetFromResult(record(5, {1.5f, 2.5f}, tc.firstFlags, 5), 5, cfg, {18, 7, 42},
                                  EnglishText, set);
        const std::string id = set.TestID;
        ASSERT_TRUE(CombineSecondMeasurement(record(5, {3.5f, 4.5f}, tc.secondFlags, 9), 5, cfg,
                                             EnglishText, set));
        ASSERT_EQ(set.ResultList.size(), 4u);
        EXPECT_EQ(set.TestID, id);
        EXPECT_EQ(set.DateTime.Seconds, 5);
        EXPECT_EQ(set.MeasureResult.Results().MeasurementDate.Seconds, 9);
        const char* values[] = {"1.5", "2.5", "3.5", "4.5"};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(set.ResultList[i].Validity, tc.invalid ? "Invalid" : "Valid") << i;
            if (!tc.invalid) {
                EXPECT_EQ(set.ResultList[i].ResultValue, values[i]) << i;
            }
        }
        EXPECT_EQ(set.ResultList[3].ResultName, "B");
    }

    // Six results do not fit twice: nothing changes.
    const TTestConfig six = twoResultConfig(6);
    TMeasureSet set;
    BuildMeasureSetFromResult(record(5, {1, 2, 3, 4, 5, 6}, 0, 5), 5, six, {}, EnglishText, set);
    EXPECT_FALSE(CombineSecondMeasurement(record(5, {7, 8, 9, 10, 11, 12}, 0x01, 9), 5, six,
                                          EnglishText, set));
    EXPECT_EQ(set.ResultList.size(), 6u);
    EXPECT_EQ(set.MeasureResult.Results().TestInvalid.Data, 0);
}

// The window runs under the user's C library locale; a German one must not
// turn the temperature's point into a comma.
TEST(LatestMeasurement, temperatureKeepsItsPointUnderAGermanLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    TMeasureSet set;
    BuildMeasureSetFromResult(record(5, {1.5f, 2.5f}, 0x10, 5), 5, twoResultConfig(), {18, 7, 42},
                              EnglishText, set);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(set.Temperature, "-1.50");
}

}  // namespace
}  // namespace kyvo
