#include "testdata/TestResults.h"

#include <gtest/gtest.h>

#include <string>

namespace kyvo {
namespace {

void writeLine(tByteBuffer& b, tCursor& c, std::size_t size, const TLineResult& l) {
    bufAddSingle(b, c, l.MeanValue);
    bufAddSingle(b, c, l.MinValue);
    bufAddSingle(b, c, l.MaxValue);
    bufAddSingle(b, c, l.LeftMeanValue);
    bufAddSingle(b, c, l.RightMeanValue);
    if (size == kLineResultCompact) {
        bufAddByte(b, c, static_cast<std::uint8_t>(l.MaxPosAbs));
        bufAddByte(b, c, l.UsedPixel);
        bufAddByte(b, c, static_cast<std::uint8_t>(l.CenterPositionAbsolut));
        bufAddByte(b, c, l.Width);
        return;
    }
    bufAddSingle(b, c, l.MaxPosAbs);
    bufAddByte(b, c, l.UsedPixel);
    bufAddWord(b, c, static_cast<std::uint16_t>(l.CenterPositionAbsolut));
    if (size == kLineResultFull) bufAddByte(b, c, l.Width);
}

TLineResult sampleLine(int i) {
    TLineResult l;
    l.MeanValue = 1.5f + i;
    l.MinValue = 0.25f;
    l.MaxValue = 99.0f;
    l.LeftMeanValue = -2.0f;
    l.RightMeanValue = 3.0f;
    l.MaxPosAbs = 200.0f;
    l.UsedPixel = 9;
    l.CenterPositionAbsolut = static_cast<std::int16_t>(100 + i);
    l.Width = 12;
    return l;
}

tByteBuffer measurementRecord(std::size_t lineSize, std::uint8_t flags) {
    tByteBuffer b;
    tCursor c = 0;
    bufAddByte(b, c, 7);
    bufAddWord(b, c, static_cast<std::uint16_t>(-3));
    for (int i = 0; i < 10; ++i) bufAddSingle(b, c, 0.5f * i);
    for (int i = 0; i < 10; ++i) writeLine(b, c, lineSize, sampleLine(i));
    for (int i = 0; i < 10; ++i) bufAddWord(b, c, static_cast<std::uint16_t>(100 + i));
    bufAddByte(b, c, flags);
    bufAddSingle(b, c, 23.5f);
    bufAddWord(b, c, 3100);
    for (std::uint8_t d : {5, 4, 3, 2, 1, 18}) bufAddByte(b, c, d);
    return b;
}

struct RecordCase {
    std::uint8_t version;
    std::size_t lineSize;
    std::size_t total;
    std::uint8_t width;
};

TEST(MeasurementRecord, eachVersionHasItsLineLayout) {
    const RecordCase cases[] = {
        {3, 27, 346, 0}, {4, 27, 346, 0}, {5, 28, 356, 12}, {6, 24, 316, 12}, {7, 24, 316, 12}};
    for (const auto& tc : cases) {
        const tByteBuffer b = measurementRecord(tc.lineSize, 0x40);
        ASSERT_EQ(b.size(), tc.total) << int(tc.version);
        EXPECT_EQ(MeasurementRecordSize(tc.version), tc.total);
        TResult r;
        r.FromByteBuffer(b, tc.version);
        EXPECT_EQ(r.TestEvenMeasuredValueCount, 7);
        EXPECT_EQ(r.SearchReference, -3);
        EXPECT_FLOAT_EQ(r.ResultValue[9], 4.5f);
        EXPECT_FLOAT_EQ(r.Line[9].MeanValue, 10.5f);
        EXPECT_FLOAT_EQ(r.Line[9].MaxPosAbs, 200.0f);
        EXPECT_EQ(r.Line[9].UsedPixel, 9);
        EXPECT_EQ(r.Line[9].CenterPositionAbsolut, 109);
        EXPECT_EQ(r.Line[9].Width, tc.width) << int(tc.version);
        EXPECT_EQ(r.PtrClass[9], 109);
        EXPECT_EQ(r.TestInvalid.Data, 0x40);
        EXPECT_FLOAT_EQ(r.Temperature, 23.5f);
        EXPECT_EQ(r.Voltage, 3100);
        EXPECT_EQ(r.MeasurementDate.Year, 18);
        EXPECT_EQ(r.MeasurementDate.Seconds, 5);
    }
}

TEST(MeasurementRecord, missingBytesReadAsZero) {
    tByteBuffer b = measurementRecord(28, 0x01);
    b.resize(43);
    TResult r;
    r.Voltage = 7;
    r.FromByteBuffer(b, 5);
    EXPECT_FLOAT_EQ(r.ResultValue[9], 4.5f);
    EXPECT_FLOAT_EQ(r.Line[0].MinValue, 0.0f);
    EXPECT_EQ(r.TestInvalid.Data, 0);
    EXPECT_EQ(r.Voltage, 0);
    EXPECT_EQ(r.MeasurementDate.Data, (std::array<std::uint8_t, 6>{0, 0, 0, 0, 0, 0}));
}

TEST(ValidityFlags, recordRuleDependsOnTheVersionStoredRuleOnBits) {
    struct Case {
        std::uint8_t flags;
        std::uint8_t version;
        bool recordInvalid;
        bool bitRuleInvalid;
        bool expired;
    };
    const Case cases[] = {
        {0x00, 3, false, false, false}, {0x40, 5, false, false, true},
        {0x40, 3, true, false, true},   {0x10, 4, false, false, false},
        {0x10, 3, true, false, false},  {0x20, 6, false, false, false},
        {0x01, 5, true, true, false},   {0x08, 5, true, true, false},
        {0x80, 5, true, true, false},   {0xC0, 4, true, true, true},
    };
    for (const auto& tc : cases) {
        const UTestInvalid f{tc.flags};
        EXPECT_EQ(IsRecordInvalid(f, tc.version), tc.recordInvalid)
            << int(tc.flags) << " v" << int(tc.version);
        EXPECT_EQ(IsTestInvalid(f), tc.bitRuleInvalid) << int(tc.flags);
        EXPECT_EQ(f.Expired(), tc.expired) << int(tc.flags);
    }
}

// A stored result configuration entry with R results, K classes and the
// given string bytes.
tByteBuffer cfgEntry(std::uint8_t version, std::uint8_t id, std::uint8_t results,
                     std::uint8_t classes, const std::string& strings) {
    tByteBuffer b;
    tCursor c = 0;
    bufAddByte(b, c, id);
    bufAddWord(b, c, 0);
    for (std::uint16_t v :
         {std::uint16_t(id), std::uint16_t(2), std::uint16_t(3), std::uint16_t(4)})
        bufAddWord(b, c, v);
    bufAddWord(b, c, 6);   // test name
    bufAddWord(b, c, 11);  // lot number
    bufAddWord(b, c, 0);
    UResultClassCountCfg counts;
    counts.SetResultCount(results);
    counts.SetClassCount(classes);
    bufAddWord(b, c, counts.Data);
    if (version >= 6) bufAddDWord(b, c, 0xDEADBEEF);
    for (int i = 0; i < results; ++i) {
        TTestResultEntry r;
        r.UpperLimit = 100.0f + i;
        r.PtrResultName = 6;
        WriteResultEntry(b, c, r);
    }
    for (int i = 0; i < classes; ++i) WriteClassEntry(b, c, {10.0f * (i + 1), 11});
    for (char ch : strings) bufAddByte(b, c, static_cast<std::uint8_t>(ch));
    tCursor at = 1;
    bufAddWord(b, at, static_cast<std::uint16_t>(b.size()));
    return b;
}

const std::string kStrings("\0OOPS\0Name\0Lot\0", 15);

tByteBuffer ringOf(std::size_t size, const std::vector<tByteBuffer>& entries, std::size_t at = 0) {
    tByteBuffer ring(size, 0);
    for (const auto& e : entries)
        for (std::uint8_t x : e) ring[at++ % size] = x;
    return ring;
}

TEST(ResultConfigRing, entriesAreReadInOrderForEachHeaderSize) {
    for (std::uint8_t version : {5, 6}) {
        const tByteBuffer a = cfgEntry(version, 3, 2, 1, kStrings);
        const tByteBuffer b = cfgEntry(version, 9, 1, 0, kStrings);
        EXPECT_EQ(a.size(), StoredResultCfgHeaderSize(version) + 30 + 6 + kStrings.size());
        std::vector<TKyvoResultData> list(1);  // stale content is dropped
        const auto report =
            ReadStoredResultConfigs(ringOf(512, {a, b}), {0x2000, 0x21FF, 0x2000}, version, list);
        ASSERT_EQ(list.size(), 2u) << int(version);
        EXPECT_EQ(report.Entries, 2u);
        EXPECT_FALSE(report.Damaged);
        const auto& first = list[0];
        EXPECT_EQ(first.ResultCfg.ID, 3);
        EXPECT_EQ(first.ResultCfg.CRC, version >= 6 ? 0xDEADBEEF : 0u);
        const TTestConfig& cfg = first.TestCfg;
        EXPECT_EQ(cfg.TestID, (UUniqueTestID{3, 2, 3, 4}));
        EXPECT_EQ(cfg.ResultCount(), 2);
        EXPECT_EQ(cfg.ClassCount(), 1);
        EXPECT_FLOAT_EQ(cfg.ResultSection[1].UpperLimit, 101.0f);
        EXPECT_FLOAT_EQ(cfg.ClassSection[0].LowerThan, 10.0f);
        EXPECT_EQ(cfg.ReadStringData(cfg.OemSection.PtrTestName), "Name");
        EXPECT_EQ(cfg.ReadStringData(cfg.OemSection.PtrLotNr), "Lot");
        EXPECT_EQ(cfg.ReadStringData(cfg.CaptureSection.PtrTestInvalidText), "OOPS");
        EXPECT_EQ(list[1].ResultCfg.ID, 9);
    }
}

TEST(ResultConfigRing, readPointerRotatesTheRingAndEntriesWrapAtItsEnd) {
    const tByteBuffer a = cfgEntry(5, 3, 2, 1, kStrings);
    const tByteBuffer b = cfgEntry(5, 9, 1, 0, kStrings);
    // The oldest entry sits 0x100 into a 0x160-byte ring; the second runs
    // past the ring's last byte and on from its first.
    ASSERT_GT(0x100 + a.size() + b.size(), 0x160u);
    const tByteBuffer ring = ringOf(0x160, {a, b}, 0x100);
    std::vector<TKyvoResultData> list;
    ReadStoredResultConfigs(ring, {0x1000, 0x115F, 0x1100}, 5, list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].ResultCfg.ID, 3);
    EXPECT_EQ(list[1].ResultCfg.ID, 9);
    EXPECT_EQ(list[1].TestCfg.ReadStringData(11), "Lot");
}

TEST(ResultConfigRing, fullRingWithoutEndMarkIsWalkedOnce) {
    const tByteBuffer a = cfgEntry(5, 3, 1, 0, kStrings);
    const tByteBuffer b = cfgEntry(5, 4, 1, 0, kStrings);
    const std::size_t size = a.size() + b.size();
    std::vector<TKyvoResultData> list;
    ReadStoredResultConfigs(ringOf(size, {a, b}), {0, static_cast<std::uint16_t>(size - 1), 0}, 5,
                            list);
    ASSERT_EQ(list.size(), 2u);

    // Oldest entry in the middle of a full ring.
    ReadStoredResultConfigs(
        ringOf(size, {b, a}, a.size()),
        {0, static_cast<std::uint16_t>(size - 1), static_cast<std::uint16_t>(a.size())}, 5, list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].ResultCfg.ID, 4);
}

TEST(ResultConfigRing, endMarksAndEntriesThatCannotAdvanceEndTheWalk) {
    struct Case {
        const char* name;
        std::uint8_t id;
        std::uint16_t size;
        bool damaged;
    };
    const Case cases[] = {{"ID 0", 0, 40, false},
                          {"ID 255", 255, 40, false},
                          {"Size 0", 5, 0, true},
                          {"Size shorter than the header", 5, 18, true}};
    for (const auto& tc : cases) {
        tByteBuffer bad = cfgEntry(5, tc.id, 1, 0, kStrings);
        tCursor at = 1;
        bufAddWord(bad, at, tc.size);
        std::vector<TKyvoResultData> list;
        const auto report = ReadStoredResultConfigs(
            ringOf(256, {cfgEntry(5, 1, 1, 0, kStrings), bad, cfgEntry(5, 2, 1, 0, kStrings)}),
            {0, 255, 0}, 5, list);
        EXPECT_EQ(list.size(), 1u) << tc.name;
        EXPECT_EQ(report.Damaged, tc.damaged) << tc.name;
    }
}

TEST(ResultConfigRing, entriesBeyondTheModelAreRefusedOrCut) {
    std::vector<TKyvoResultData> list;
    auto report = ReadStoredResultConfigs(
        ringOf(1024, {cfgEntry(5, 1, 11, 0, kStrings), cfgEntry(5, 2, 10, 0, kStrings)}),
        {0, 1023, 0}, 5, list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].ResultCfg.ID, 2);
    EXPECT_EQ(report.RefusedConfigs, 1u);

    std::string huge = kStrings + std::string(4100, 'x');
    report =
        ReadStoredResultConfigs(ringOf(5000, {cfgEntry(5, 1, 1, 0, huge)}), {0, 4999, 0}, 5, list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(report.TruncatedStrings, 1u);
    EXPECT_EQ(list[0].TestCfg.CaptureSection.StringSize, kStringAreaSize);
    EXPECT_EQ(list[0].TestCfg.ReadStringData(6), "Name");
}

struct ResultShape {
    std::uint8_t id;
    std::vector<float> values;
    std::uint8_t lineCount = 0;
    std::uint8_t imageSize = 0;
};

tByteBuffer resultEntry(std::uint8_t version, const ResultShape& s, bool withLines,
                        bool withImage) {
    tByteBuffer b;
    tCursor c = 0;
    bufAddByte(b, c, s.id);
    bufAddWord(b, c, 0);
    for (std::uint8_t d : {1, 2, 3, 4, 5, 19}) bufAddByte(b, c, d);
    bufAddByte(b, c, 0x40);
    bufAddWord(b, c, 2900);
    bufAddSingle(b, c, 21.25f);
    if (version >= 6) bufAddWord(b, c, 77);
    for (float v : s.values) bufAddSingle(b, c, v);
    if (withLines) {
        bufAddByte(b, c, s.lineCount);
        for (int i = 0; i < s.lineCount; ++i)
            writeLine(b, c, StoredLineResultSize(version), sampleLine(i));
    }
    if (withImage) {
        bufAddByte(b, c, s.imageSize);
        for (int i = 0; i < s.imageSize * 3 / 2; ++i)
            bufAddByte(b, c, static_cast<std::uint8_t>(i + 1));
    }
    tCursor at = 1;
    bufAddWord(b, at, static_cast<std::uint16_t>(b.size()));
    return b;
}

std::vector<TKyvoResultData> configsWithIds(std::initializer_list<std::uint8_t> ids,
                                            std::uint8_t results = 2) {
    std::vector<TKyvoResultData> list;
    for (auto id : ids) {
        TKyvoResultData d;
        d.ResultCfg.ID = id;
        d.TestCfg.CaptureSection.ResultClassCnt.SetResultCount(results);
        list.push_back(d);
    }
    return list;
}

TEST(ResultRing, resultsJoinTheirConfigurationById) {
    const tByteBuffer ring = ringOf(
        512, {resultEntry(5, {3, {1, 2}}, false, false), resultEntry(5, {3, {3, 4}}, false, false),
              resultEntry(5, {9, {5, 6}}, false, false), tByteBuffer{0xFF}});
    auto both = configsWithIds({3, 9});
    auto report = ReadStoredResults(ring, {0, 511, 0}, 5, false, false, both);
    EXPECT_EQ(both[0].Results.size(), 2u);
    EXPECT_EQ(both[1].Results.size(), 1u);
    EXPECT_FLOAT_EQ(both[0].Results[1].ResultValues[1], 4.0f);
    EXPECT_EQ(both[0].Results[0].KyvoResultList.Voltage, 2900);
    EXPECT_EQ(both[0].Results[0].KyvoResultList.Invalid.Data, 0x40);
    EXPECT_EQ(report.Unmatched, 0u);

    auto only3 = configsWithIds({3});
    report = ReadStoredResults(ring, {0, 511, 0}, 5, false, false, only3);
    EXPECT_EQ(only3[0].Results.size(), 2u);
    EXPECT_EQ(report.Unmatched, 1u);

    // A second configuration with the same ID gets nothing, and the next
    // result is read from its own place.
    auto twice = configsWithIds({3, 3, 9});
    ReadStoredResults(ring, {0, 511, 0}, 5, false, false, twice);
    EXPECT_EQ(twice[0].Results.size(), 2u);
    EXPECT_TRUE(twice[1].Results.empty());
    ASSERT_EQ(twice[2].Results.size(), 1u);
    EXPECT_FLOAT_EQ(twice[2].Results[0].ResultValues[0], 5.0f);
}

TEST(ResultRing, skipMarksEndMarksAndStuckEntries) {
    tByteBuffer skipped = resultEntry(5, {0, {9, 9}}, false, false);
    tByteBuffer stuck = resultEntry(5, {3, {7, 7}}, false, false);
    stuck[1] = stuck[2] = 0;
    auto list = configsWithIds({3});
    auto report = ReadStoredResults(ringOf(256, {skipped, resultEntry(5, {3, {1, 2}}, false, false),
                                                 stuck, resultEntry(5, {3, {5, 6}}, false, false)}),
                                    {0, 255, 0}, 5, false, false, list);
    ASSERT_EQ(list[0].Results.size(), 1u);
    EXPECT_FLOAT_EQ(list[0].Results[0].ResultValues[0], 1.0f);
    EXPECT_TRUE(report.Damaged);

    // A header that the buffer cuts ends the walk.
    const tByteBuffer one = resultEntry(5, {3, {1, 2}}, false, false);
    tByteBuffer ring = one;
    ring.resize(one.size() + 16, 3);
    list = configsWithIds({3});
    ReadStoredResults(ring, {0, static_cast<std::uint16_t>(ring.size() - 1), 0}, 5, false, false,
                      list);
    EXPECT_EQ(list[0].Results.size(), 1u);
}

TEST(ResultRing, lineDataAndImageFollowTheValuesWhenConfigured) {
    struct Case {
        std::uint8_t version;
        bool lines;
        bool image;
    };
    const Case cases[] = {{5, false, true}, {5, true, false}, {6, true, true}, {4, false, false}};
    for (const auto& tc : cases) {
        const ResultShape shape{3, {1.0f, 2.0f}, 12, 10};
        const tByteBuffer first = resultEntry(tc.version, shape, tc.lines, tc.image);
        const std::size_t expected = StoredResultHeaderSize(tc.version) + 8 +
                                     (tc.lines ? 1 + 12 * StoredLineResultSize(tc.version) : 0) +
                                     (tc.image ? 1 + 15 : 0);
        EXPECT_EQ(first.size(), expected);
        auto list = configsWithIds({3});
        ReadStoredResults(
            ringOf(1024, {first, resultEntry(tc.version, {3, {8, 9}, 1, 2}, tc.lines, tc.image)}),
            {0, 1023, 0}, tc.version, tc.lines, tc.image, list);
        ASSERT_EQ(list[0].Results.size(), 2u) << int(tc.version);
        const auto& r = list[0].Results[0];
        EXPECT_FLOAT_EQ(r.ResultValues[1], 2.0f);
        EXPECT_EQ(r.KyvoResultList.MeasureID, tc.version >= 6 ? 77 : 0);
        EXPECT_FLOAT_EQ(r.KyvoResultList.Temperature, 21.25f);
        EXPECT_EQ(r.LineData.size(), tc.lines ? 12u : 0u);
        if (tc.lines) {
            EXPECT_FLOAT_EQ(r.LineData[11].MeanValue, 12.5f);
            EXPECT_FLOAT_EQ(r.LineData[11].MaxPosAbs, 200.0f);
            EXPECT_EQ(r.LineData[11].CenterPositionAbsolut, 111);
            EXPECT_EQ(r.LineData[11].Width, 12);
        }
        EXPECT_EQ(r.ImageValues12.size(), tc.image ? 15u : 0u);
        if (tc.image) {
            EXPECT_EQ(r.ImageValues12[14], 15);
        }
        EXPECT_FLOAT_EQ(list[0].Results[1].ResultValues[0], 8.0f);
    }
}

TEST(ResultRing, readPointerRotatesTheResultRing) {
    const tByteBuffer a = resultEntry(5, {3, {1, 2}}, false, false);
    const tByteBuffer b = resultEntry(5, {3, {3, 4}}, false, false);
    const tByteBuffer ring = ringOf(100, {a, b, tByteBuffer{0xFF}}, 80);
    auto list = configsWithIds({3});
    ReadStoredResults(ring, {0x4000, 0x4063, 0x4050}, 5, false, false, list);
    ASSERT_EQ(list[0].Results.size(), 2u);
    EXPECT_FLOAT_EQ(list[0].Results[1].ResultValues[1], 4.0f);
}

TEST(ResultRing, mirrorSuppliesVersionPointersAndContentBits) {
    TEEPROMMap map;
    map.NonVolatileData.EEPROMVersion = 6;
    map.NonVolatileData.KyvoCfgBits_0.Data = 1u << 23;  // line data, no image
    auto& vol = map.VolatileData;
    vol.StoredTestResultCfgStart = 0x0800;
    vol.StoredTestResultCfgStop = 0x08FF;
    vol.StoredTestResultCfgReadPtr = 0x0810;
    vol.StoredTestResultStart = 0x1000;
    vol.StoredTestResultStop = 0x10FF;
    vol.StoredTestResultReadPtr = 0x1020;
    std::vector<TKyvoResultData> list;
    ReadStoredResultConfigs(ringOf(256, {cfgEntry(6, 3, 2, 0, kStrings)}, 0x10), map, list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].TestCfg.ReadStringData(6), "Name");
    ReadStoredResults(ringOf(256, {resultEntry(6, {3, {1, 2}, 2}, true, false)}, 0x20), map, list);
    ASSERT_EQ(list[0].Results.size(), 1u);
    EXPECT_EQ(list[0].Results[0].LineData.size(), 2u);
    EXPECT_EQ(list[0].Results[0].LineData[1].CenterPositionAbsolut, 101);
}

TEST(RingRotation, shortBufferIsTakenAsZeroFilled) {
    const tByteBuffer ring = {1, 2, 3};
    EXPECT_EQ(RotateRing(ring, {10, 14, 11}), (tByteBuffer{2, 3, 0, 0, 1}));
    EXPECT_EQ(RotateRing(ring, {10, 14, 10}), (tByteBuffer{1, 2, 3, 0, 0}));
    // A whole 64 KiB ring keeps its size.
    EXPECT_EQ(RotateRing(ring, {0, 0xFFFF, 0}).size(), 65536u);
}

}  // namespace
}  // namespace kyvo
