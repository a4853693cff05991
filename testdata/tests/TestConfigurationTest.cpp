#include "testdata/TestConfiguration.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>

namespace kyvo {
namespace {

std::uint32_t byteSum(const tByteBuffer& b, std::size_t end) {
    return std::accumulate(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(end), 0u);
}

// Rewrites the checksum of a byte form after a test changed it.
void fixChecksum(tByteBuffer& b) {
    tCursor at = static_cast<tCursor>(b.size() - 6);
    bufAddDWord(b, at, byteSum(b, b.size() - 6));
}

tByteBuffer defaultBytes() {
    TTestConfig cfg;
    tByteBuffer b;
    TestConfigToBytes(cfg, b);
    return b;
}

// A configuration using every section, for round trips.
TTestConfig richConfig() {
    TTestConfig cfg;
    cfg.Version = 5;
    cfg.TestID = {12, 34, 56, 78};
    cfg.OemSection.PtrTestName = cfg.AddStrPtrToCfg("Test", 6) - 4;
    cfg.OemSection.PtrLotNr = cfg.AddStrPtrToCfg("Lot 7", 11) - 5;
    setDateData(cfg.OemSection.ExpiryDate, 27, 12, 31, 0, 0, 0);
    auto& cap = cfg.CaptureSection;
    cap.LineCntFilterWidth.SetLineCount(3);
    cap.LineCntFilterWidth.SetFilterWidth(2);
    cap.ResultClassCnt.SetResultCount(2);
    cap.ResultClassCnt.SetClassCount(3);
    cap.CartridgeImgSize = 6;
    cap.PtrTouringProgram = 0x1234;
    cfg.FilterCoefficient[0] = 0.25f;
    cfg.FilterCoefficient[1] = -1.5f;
    cfg.LineSection[0] = {1, 100, 8, 20, 300, 400, 0};
    cfg.LineSection[1] = {0, 20, 6, 10, 1, 2, 100};
    cfg.LineSection[2] = {0, -5, 4, 12, 3, 4, 100};
    cfg.ResultSection[0].ClassRef = 0x02;  // two classes from 0
    cfg.ResultSection[1].ClassRef = (2 << 3) | 1;
    cfg.ResultSection[1].LowerLimit = 0.5f;
    cfg.ClassSection[0] = {10.0f, 0};
    cfg.ClassSection[1] = {20.0f, 0};
    cfg.ClassSection[2] = {30.0f, 0};
    for (std::uint16_t k = 0; k < 6; ++k)
        cfg.Set12BitWhite(k, static_cast<std::uint16_t>(0x100 * k + 7));
    cfg.CreditCount = 17;
    return cfg;
}

TEST(TestConfigurationBytes, defaultConfigurationIsSixtyFourBytesWithItsChecksum) {
    TTestConfig cfg;
    tByteBuffer b;
    TestConfigToBytes(cfg, b);
    ASSERT_EQ(b.size(), 64u);
    EXPECT_EQ(b[0], 2);
    EXPECT_EQ(b[1], 64);
    EXPECT_EQ(b[2], 0);
    const tByteBuffer strings(b.begin() + 52, b.begin() + 58);
    EXPECT_EQ(strings, (tByteBuffer{0, 'F', 'A', 'I', 'L', 0}));
    tCursor c = 58;
    EXPECT_EQ(bufReadDWord(b, c), byteSum(b, 58));
    EXPECT_EQ(bufReadWord(b, c), 0xFFFF);
    EXPECT_EQ(cfg.CfgSize, 64);
    EXPECT_EQ(cfg.CheckSum, byteSum(b, 58));
    EXPECT_EQ(cfg.CaptureSection.StringSize, 6);
    EXPECT_EQ(cfg.CaptureSection.PtrTestInvalidText, 1);
    EXPECT_EQ(cfg.ReadStringData(1), "FAIL");
}

struct ParseCase {
    const char* name;
    std::function<void(tByteBuffer&)> change;
    std::uint8_t code;
};

TEST(TestConfigurationBytes, parseCodesFollowVersionAndChecksum) {
    const std::vector<ParseCase> cases = {
        {"unchanged", [](tByteBuffer&) {}, kCfgOk},
        {"string byte changed", [](tByteBuffer& b) { b[54] = 'X'; }, kCfgChecksum},
        {"credit count changed", [](tByteBuffer& b) { b[62] = 0x12; }, kCfgOk},
        {"checksum zero", [](tByteBuffer& b) { std::fill(b.begin() + 58, b.begin() + 62, 0); },
         kCfgOk},
        {"version 0", [](tByteBuffer& b) { b[0] = 0; }, kCfgNoConfig},
        {"version 1", [](tByteBuffer& b) { b[0] = 1; }, kCfgWrongVersion},
        {"version 6", [](tByteBuffer& b) { b[0] = 6; }, kCfgWrongVersion},
        {"version 3",
         [](tByteBuffer& b) {
             b[0] = 3;
             fixChecksum(b);
         },
         kCfgOk},
        {"version 4",
         [](tByteBuffer& b) {
             b[0] = 4;
             fixChecksum(b);
         },
         kCfgOk},
        {"version 5",
         [](tByteBuffer& b) {
             b[0] = 5;
             fixChecksum(b);
         },
         kCfgOk},
        {"version changed, checksum kept", [](tByteBuffer& b) { b[0] = 5; }, kCfgChecksum},
        {"empty bytes", [](tByteBuffer& b) { b.clear(); }, kCfgNoConfig},
        // Incomplete bytes must not pass as a switched-off checksum.
        {"cut before the checksum", [](tByteBuffer& b) { b.resize(58); }, kCfgChecksum},
        {"cut inside the checksum", [](tByteBuffer& b) { b.resize(60); }, kCfgChecksum},
        {"cut after the checksum", [](tByteBuffer& b) { b.resize(62); }, kCfgOk},
    };
    for (const auto& tc : cases) {
        tByteBuffer b = defaultBytes();
        tc.change(b);
        TTestConfig cfg;
        EXPECT_EQ(TestConfigFromBytes(b, cfg), tc.code) << tc.name;
    }
}

TEST(TestConfigurationBytes, parsedDefaultReproducesTheConfiguration) {
    TTestConfig parsed;
    parsed.Version = 4;  // must be reset by the parse
    ASSERT_EQ(TestConfigFromBytes(defaultBytes(), parsed), kCfgOk);
    EXPECT_TRUE(parsed.CompareTo(TTestConfig{}));
    EXPECT_EQ(parsed.CfgSize, 64);
    EXPECT_EQ(parsed.CreditCount, 0xFFFF);
}

TEST(TestConfigurationBytes, everySectionSurvivesARoundTrip) {
    TTestConfig cfg = richConfig();
    tByteBuffer first;
    TestConfigToBytes(cfg, first);
    EXPECT_EQ(first.size(),
              52u + 4 * 2 + 9 * 3 + 15 * 2 + 6 * 3 + 6 * 3 / 2 + cfg.CaptureSection.StringSize + 6);
    EXPECT_EQ(cfg.CfgSize, first.size());

    TTestConfig back;
    ASSERT_EQ(TestConfigFromBytes(first, back), kCfgOk);
    tByteBuffer second;
    TestConfigToBytes(back, second);
    EXPECT_EQ(first, second);
    EXPECT_TRUE(back.CompareTo(cfg));
    EXPECT_EQ(back.TestID, (UUniqueTestID{12, 34, 56, 78}));
    EXPECT_EQ(back.ReadStringData(back.OemSection.PtrLotNr), "Lot 7");
    EXPECT_FLOAT_EQ(back.FilterCoefficient[1], -1.5f);
    EXPECT_EQ(back.ResultSection[1].FirstClass(), 2);
    EXPECT_FLOAT_EQ(back.ClassSection[2].LowerThan, 30.0f);
    EXPECT_EQ(back.Get12BitWhite(4), 0x407);
    EXPECT_EQ(back.CreditCount, 17);

    TTestConfig other = back;
    other.ClassSection[2].LowerThan = 31.0f;
    EXPECT_FALSE(other.CompareTo(cfg));
}

TEST(TestConfigurationBytes, oddWidthsAreStoredAndReadEven) {
    TTestConfig cfg;
    cfg.CaptureSection.LineCntFilterWidth.SetLineCount(1);
    cfg.LineSection[0].Width = 7;
    cfg.LineSection[0].SearchWidth = 9;
    tByteBuffer b;
    TestConfigToBytes(cfg, b);
    EXPECT_EQ(cfg.LineSection[0].Width, 6);
    EXPECT_EQ(b[52 + 3], 6);
    EXPECT_EQ(b[52 + 4], 8);

    b[52 + 3] = 7;
    fixChecksum(b);
    TTestConfig back;
    ASSERT_EQ(TestConfigFromBytes(b, back), kCfgOk);
    EXPECT_EQ(back.LineSection[0].Width, 6);
}

TEST(TestConfigurationLines, positionsAreRelativeToThePrecedingReferenceLine) {
    TTestConfig cfg;
    cfg.CaptureSection.LineCntFilterWidth.SetLineCount(4);
    const std::int16_t nominal[] = {100, 20, 50, 10};
    const std::uint8_t flags[] = {1, 0, 1, 0};
    for (int i = 0; i < 4; ++i) {
        cfg.LineSection[i].NominalPosition = nominal[i];
        cfg.LineSection[i].LineFlags = flags[i];
    }
    tByteBuffer b;
    TestConfigToBytes(cfg, b);
    TTestConfig back;
    ASSERT_EQ(TestConfigFromBytes(b, back), kCfgOk);
    const std::int32_t expected[] = {100, 120, 150, 160};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(back.LineSection[i].AbsolutePosition(), expected[i]) << i;

    // Making line 1 a reference and line 2 an ordinary line keeps every
    // absolute position.
    back.LineSection[1].LineFlags = 1;
    back.LineSection[2].LineFlags = 0;
    back.AdjustRelativeLinePos();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(back.LineSection[i].AbsolutePosition(), expected[i]) << i;
    EXPECT_EQ(back.LineSection[2].RelativeBase, 120);
    EXPECT_EQ(back.LineSection[2].NominalPosition, 30);
    EXPECT_EQ(back.LineSection[3].RelativeBase, 120);
}

TEST(TestConfigurationWhite, zeroWhiteFlagCountsSizeAs256AndWhiteAsZero) {
    TTestConfig cfg;
    cfg.CaptureSection.CaptureConfig.SetZeroWhite(true);
    cfg.CartridgeWhite[0] = 0x55;
    tByteBuffer b;
    TestConfigToBytes(cfg, b);
    ASSERT_EQ(b.size(), 64u + 384u);
    EXPECT_EQ(b[31], 0x00);
    EXPECT_EQ(b[32], 0x01);
    EXPECT_TRUE(std::all_of(b.begin() + 52, b.begin() + 52 + 384, [](auto x) { return x == 0; }));
    EXPECT_EQ(cfg.CaptureSection.CartridgeImgSize, 0);
    EXPECT_EQ(cfg.CartridgeWhite[0], 0x55);

    // Arbitrary size and white bytes in storage, the checksum computed as if
    // they were 256 and zero: the parse accepts it and keeps neither.
    const std::uint32_t sum = cfg.CheckSum;
    b[31] = 0x34;
    b[32] = 0x12;
    for (std::size_t i = 52; i < 52 + 384; ++i) b[i] = static_cast<std::uint8_t>(i * 7);
    TTestConfig back;
    ASSERT_EQ(TestConfigFromBytes(b, back), kCfgOk);
    EXPECT_EQ(back.CheckSum, sum);
    EXPECT_EQ(back.CaptureSection.CartridgeImgSize, 0);
    EXPECT_TRUE(std::all_of(back.CartridgeWhite.begin(), back.CartridgeWhite.end(),
                            [](auto x) { return x == 0; }));
    EXPECT_EQ(back.ReadStringData(1), "FAIL");
}

TEST(TestConfigurationWhite, twelveBitValuesArePackedTwoPerThreeBytes) {
    TTestConfig cfg;
    cfg.CaptureSection.CartridgeImgSize = 2;
    cfg.CartridgeWhite[0] = 0xAB;
    cfg.CartridgeWhite[1] = 0xCD;
    cfg.CartridgeWhite[2] = 0xEF;
    EXPECT_EQ(cfg.Get12BitWhite(0), 0xABC);
    EXPECT_EQ(cfg.Get12BitWhite(1), 0xDEF);
    EXPECT_EQ(cfg.Get12BitWhite(2), 600);

    cfg.Set12BitWhite(0, 0x123);
    EXPECT_EQ(cfg.CartridgeWhite[1], 0x3D);  // low nibble of value 1 kept
    cfg.Set12BitWhite(1, 0xF456);            // only the low 12 bits count
    EXPECT_EQ(cfg.Get12BitWhite(0), 0x123);
    EXPECT_EQ(cfg.Get12BitWhite(1), 0x456);
    cfg.Set12BitWhite(256, 0xFFF);  // beyond the profile: no change, no overrun
    EXPECT_EQ(cfg.Get12BitWhite(1), 0x456);
}

struct CountCase {
    const char* name;
    std::function<void(tByteBuffer&)> change;
    std::uint8_t code;
};

TEST(TestConfigurationBytes, countsBeyondTheModelAreRefusedAndClamped) {
    // Offsets inside the capture section: 26 line/filter byte, 27 result and
    // class counts, 29 StringSize, 31 CartridgeImgSize.
    const std::vector<CountCase> cases = {
        {"eleven lines", [](tByteBuffer& b) { b[26] = 11; }, kCfgCountsTooLarge},
        {"eleven results", [](tByteBuffer& b) { b[27] = 11; }, kCfgCountsTooLarge},
        {"string area 4001",
         [](tByteBuffer& b) {
             b[29] = 0xA1;
             b[30] = 0x0F;
         },
         kCfgCountsTooLarge},
        {"white of 257 values",
         [](tByteBuffer& b) {
             b[31] = 0x01;
             b[32] = 0x01;
         },
         kCfgCountsTooLarge},
        {"fifteen filters and 31 classes fit",
         [](tByteBuffer& b) {
             b[26] = 0xF0;
             b[28] = 0x1F;
         },
         kCfgChecksum},
    };
    for (const auto& tc : cases) {
        tByteBuffer b = defaultBytes();
        tc.change(b);
        TTestConfig cfg;
        EXPECT_EQ(TestConfigFromBytes(b, cfg), tc.code) << tc.name;
        EXPECT_LE(cfg.LineCount(), kMaxTestLines) << tc.name;
        EXPECT_LE(cfg.ResultCount(), kMaxResults) << tc.name;
        EXPECT_LE(cfg.CaptureSection.StringSize, kStringAreaSize) << tc.name;
        EXPECT_LE(cfg.CaptureSection.CartridgeImgSize, kMaxCartridgeImgSize) << tc.name;
    }

    TTestConfig full;
    full.CaptureSection.LineCntFilterWidth.SetLineCount(10);
    full.CaptureSection.ResultClassCnt.SetResultCount(10);
    full.CaptureSection.CartridgeImgSize = 256;
    full.CaptureSection.StringSize = 4000;
    tByteBuffer b;
    TestConfigToBytes(full, b);
    TTestConfig back;
    EXPECT_EQ(TestConfigFromBytes(b, back), kCfgOk);

    // A model edited beyond its arrays is written with counts that fit.
    TTestConfig over;
    over.CaptureSection.LineCntFilterWidth.SetLineCount(15);
    TestConfigToBytes(over, b);
    EXPECT_EQ(over.LineCount(), 10);
    EXPECT_EQ(TestConfigFromBytes(b, back), kCfgOk);
}

TEST(TestConfigurationStrings, textsArePointersIntoTheStringArea) {
    TTestConfig cfg;
    EXPECT_EQ(cfg.ReadStringData(0), "");
    EXPECT_EQ(cfg.ReadStringData(2), "AIL");
    EXPECT_EQ(cfg.ReadStringData(6), "");  // past the used area
    EXPECT_EQ(cfg.ReadStringData(60000), "");

    EXPECT_EQ(cfg.AddStrPtrToCfg("Name", 6), 10);
    EXPECT_EQ(cfg.CaptureSection.StringSize, 11);
    EXPECT_EQ(cfg.ReadStringData(6), "Name");
    // A shorter text over a longer one ends where it ends.
    EXPECT_EQ(cfg.AddStrPtrToCfg("AB", 1), 3);
    EXPECT_EQ(cfg.ReadStringData(1), "AB");
    EXPECT_EQ(cfg.AddStrPtrToCfg("xyz", 3997), 4000);
    EXPECT_EQ(cfg.CaptureSection.StringSize, 4);
    EXPECT_EQ(cfg.AddStrPtrToCfg("xy", 3997), 3999);
    EXPECT_EQ(cfg.CaptureSection.StringSize, 4000);

    // The text runs to StringSize when no zero comes first.
    TTestConfig cut;
    cut.CaptureSection.StringSize = 4;
    EXPECT_EQ(cut.ReadStringData(1), "FAI");
}

TEST(TestConfigurationStrings, onlyAWholeStoredTextIsFound) {
    TTestConfig cfg;
    cfg.AddStrPtrToCfg("mg/l", 6);
    EXPECT_EQ(cfg.IsInStringData(""), -2);
    EXPECT_EQ(cfg.IsInStringData("FAIL"), 1);
    EXPECT_EQ(cfg.IsInStringData("mg/l"), 6);
    EXPECT_EQ(cfg.IsInStringData("AIL"), -1);
    EXPECT_EQ(cfg.IsInStringData("mg"), -1);
    EXPECT_EQ(cfg.IsInStringData("g/l"), -1);
    EXPECT_EQ(cfg.IsInStringData("none"), -1);
}

TEST(TestConfigurationIdentity, testIdTextWithAndWithoutSeparator) {
    const UUniqueTestID id{1, 20, 300, 65535};
    EXPECT_EQ(TestIDToText(id, true), "1 20 300 65535");
    EXPECT_EQ(TestIDToText(id, false), "12030065535");
}

// Results A (classes 0, 1) and B (classes 2, 3, 4).
TTestConfig classConfig() {
    TTestConfig cfg;
    cfg.CaptureSection.ResultClassCnt.SetResultCount(2);
    cfg.CaptureSection.ResultClassCnt.SetClassCount(5);
    cfg.ResultSection[0].ClassRef = (0 << 3) | 2;
    cfg.ResultSection[0].ResultFlags = 3;
    cfg.ResultSection[1].ClassRef = (2 << 3) | 3;
    cfg.ResultSection[1].ResultFlags = 3;
    for (int i = 0; i < 5; ++i) cfg.ClassSection[i].LowerThan = 10.0f * (i + 1);
    return cfg;
}

TEST(TestConfigurationEditing, deletingClassesKeepsResultReferencesConsistent) {
    TTestConfig cfg = classConfig();
    cfg.DeleteClass(1);
    EXPECT_EQ(cfg.ClassCount(), 4);
    EXPECT_EQ(cfg.ResultSection[0].ClassNumber(), 1);
    EXPECT_EQ(cfg.ResultSection[1].FirstClass(), 1);
    EXPECT_EQ(cfg.ResultSection[1].ClassNumber(), 3);
    EXPECT_FLOAT_EQ(cfg.ClassSection[1].LowerThan, 30.0f);
    EXPECT_FLOAT_EQ(cfg.ClassSection[4].LowerThan, 0.0f);  // freed slot cleared

    cfg.DeleteClass(0);  // A's last class
    EXPECT_EQ(cfg.ResultSection[0].ClassRef, 0);
    EXPECT_FALSE(cfg.ResultSection[0].ShowClass());
    EXPECT_EQ(cfg.ResultSection[1].FirstClass(), 0);

    cfg.DeleteClass(3);  // beyond the count: ignored
    EXPECT_EQ(cfg.ClassCount(), 3);
}

TEST(TestConfigurationEditing, deletingAResultRemovesItsClasses) {
    TTestConfig cfg = classConfig();
    cfg.DeleteResult(0);
    EXPECT_EQ(cfg.ResultCount(), 1);
    EXPECT_EQ(cfg.ClassCount(), 3);
    EXPECT_EQ(cfg.ResultSection[0].FirstClass(), 0);
    EXPECT_EQ(cfg.ResultSection[0].ClassNumber(), 3);
    EXPECT_FLOAT_EQ(cfg.ClassSection[0].LowerThan, 30.0f);
    EXPECT_FLOAT_EQ(cfg.ResultSection[1].UpperLimit, 10000.0f);  // default again
    cfg.DeleteResult(1);
    EXPECT_EQ(cfg.ResultCount(), 1);
}

TEST(TestConfigurationEditing, insertingAClassShiftsLaterClassesAndRefusesWhenFull) {
    TTestConfig cfg = classConfig();
    ASSERT_TRUE(cfg.InsertClass(0));
    EXPECT_EQ(cfg.ClassCount(), 6);
    EXPECT_EQ(cfg.ResultSection[0].ClassNumber(), 3);
    EXPECT_FLOAT_EQ(cfg.ClassSection[2].LowerThan, 0.0f);
    EXPECT_FLOAT_EQ(cfg.ClassSection[3].LowerThan, 30.0f);
    EXPECT_EQ(cfg.ResultSection[1].FirstClass(), 3);

    TTestConfig none;
    none.CaptureSection.ResultClassCnt.SetResultCount(1);
    none.CaptureSection.ResultClassCnt.SetClassCount(4);
    ASSERT_TRUE(none.InsertClass(0));
    EXPECT_EQ(none.ResultSection[0].FirstClass(), 4);
    EXPECT_EQ(none.ResultSection[0].ClassNumber(), 1);
    EXPECT_TRUE(none.ResultSection[0].ShowClass());

    EXPECT_FALSE(none.InsertClass(1));  // no such result
    none.CaptureSection.ResultClassCnt.SetClassCount(31);
    EXPECT_FALSE(none.InsertClass(0));
    EXPECT_EQ(none.ClassCount(), 31);
    none.CaptureSection.ResultClassCnt.SetClassCount(10);
    none.ResultSection[0].ClassRef = 7;
    EXPECT_FALSE(none.InsertClass(0));
    EXPECT_EQ(none.ResultSection[0].ClassNumber(), 7);
}

// Bytes from a file or a tag may give a result classes past the ones in use
// (first class 30 with 6 classes, 30 in use): a class added there would be
// written past the 31-entry table.
TEST(TestConfigurationEditing, insertingAClassForAResultWhoseClassesLiePastTheTableChangesNothing) {
    struct Case {
        std::uint8_t inUse, first, count;
    };
    const Case cases[] = {{30, 30, 6}, {30, 28, 3}, {12, 20, 2}, {0, 31, 1}};
    for (const auto& c : cases) {
        TTestConfig cfg;
        cfg.CaptureSection.ResultClassCnt.SetResultCount(1);
        cfg.CaptureSection.ResultClassCnt.SetClassCount(c.inUse);
        cfg.ResultSection[0].ClassRef = static_cast<std::uint8_t>(c.first << 3 | c.count);
        cfg.CartridgeWhite.fill(0x5A);
        TTestConfig before = cfg;
        EXPECT_FALSE(cfg.InsertClass(0)) << int(c.first) << "+" << int(c.count);
        EXPECT_EQ(cfg.ClassCount(), c.inUse);
        EXPECT_EQ(cfg.ResultSection[0].ClassRef, before.ResultSection[0].ClassRef);
        EXPECT_EQ(cfg.CartridgeWhite, before.CartridgeWhite);
    }
}

TEST(TestConfigurationEditing, deletingLinesAndFiltersClosesTheGap) {
    TTestConfig cfg;
    cfg.CaptureSection.LineCntFilterWidth.SetLineCount(3);
    cfg.CaptureSection.LineCntFilterWidth.SetFilterWidth(2);
    for (int i = 0; i < 3; ++i) cfg.LineSection[i].MinValue = static_cast<std::uint16_t>(i + 1);
    cfg.FilterCoefficient[0] = 1;
    cfg.FilterCoefficient[1] = 2;
    cfg.DeleteTestLine(3);
    cfg.DeleteFilter(2);
    EXPECT_EQ(cfg.LineCount(), 3);
    EXPECT_EQ(cfg.FilterWidth(), 2);
    cfg.DeleteTestLine(0);
    cfg.DeleteFilter(0);
    EXPECT_EQ(cfg.LineCount(), 2);
    EXPECT_EQ(cfg.LineSection[0].MinValue, 2);
    EXPECT_EQ(cfg.LineSection[2].MinValue, 0);
    EXPECT_EQ(cfg.FilterWidth(), 1);
    EXPECT_FLOAT_EQ(cfg.FilterCoefficient[0], 2);
    EXPECT_FLOAT_EQ(cfg.FilterCoefficient[1], 0);
}

tByteBuffer version5Entry(const char* name) {
    TTestConfig cfg;
    cfg.Version = 5;
    cfg.OemSection.PtrTestName = 6;
    cfg.AddStrPtrToCfg(name, 6);
    cfg.OemSection.PtrLotNr = cfg.AddStrPtrToCfg("L1", cfg.CaptureSection.StringSize) - 2;
    tByteBuffer b;
    TestConfigToBytes(cfg, b);
    return b;
}

TEST(TestConfigurationStoredList, walkListsGoodEntriesAndEndsAtTheEndMark) {
    tByteBuffer a = defaultBytes();
    a[0] = 5;
    fixChecksum(a);
    ASSERT_EQ(a.size(), 64u);
    ASSERT_EQ(a[1], 0x40);
    tByteBuffer list = a;
    list.insert(list.end(), a.begin(), a.end());
    list.push_back(0xFF);
    list.insert(list.end(), a.begin(), a.end());  // after the end mark
    const auto two = ReadStoredConfigList(list);
    EXPECT_EQ(two.Entries.size(), 2u);
    EXPECT_EQ(two.Entries[1].Offset, 64u);
    EXPECT_EQ(two.Entries[0].Text, " - ");
    EXPECT_FALSE(two.Damaged);

    list[0] = 0x01;
    EXPECT_TRUE(ReadStoredConfigList(list).Entries.empty());

    tByteBuffer named = version5Entry(
        "Gl\xFC"
        "cose");
    tByteBuffer bad = named;
    bad[55] ^= 1;  // inside the string area: checksum fails
    tByteBuffer mixed = bad;
    mixed.insert(mixed.end(), named.begin(), named.end());  // no end mark
    const auto one = ReadStoredConfigList(mixed);
    ASSERT_EQ(one.Entries.size(), 1u);
    EXPECT_EQ(one.Skipped, 1u);
    EXPECT_EQ(one.Entries[0].Text,
              "Gl\xC3\xBC"
              "cose - L1");
}

TEST(TestConfigurationStoredList, entryThatCannotAdvanceEndsTheWalk) {
    for (std::uint16_t size : {0, 1, 2}) {
        tByteBuffer list = defaultBytes();
        tByteBuffer stuck = {5, static_cast<std::uint8_t>(size), 0, 0, 0};
        list.insert(list.end(), stuck.begin(), stuck.end());
        const auto r = ReadStoredConfigList(list);
        EXPECT_EQ(r.Entries.size(), 1u) << size;
        EXPECT_TRUE(r.Damaged) << size;
    }
    tByteBuffer cut = defaultBytes();
    cut.resize(40);
    const auto r = ReadStoredConfigList(cut);
    EXPECT_TRUE(r.Entries.empty());
    EXPECT_EQ(r.Skipped, 1u);
    EXPECT_TRUE(r.Damaged);
}

}  // namespace
}  // namespace kyvo
