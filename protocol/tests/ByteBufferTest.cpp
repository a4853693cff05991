#include "protocol/ByteBuffer.h"

#include <gtest/gtest.h>

namespace kyvo {
namespace {

TEST(ByteBuffer, appendsAreLittleEndianAndZeroFillAGapBeforeTheCursor) {
    tByteBuffer b;
    tCursor c = 2;
    bufAddByte(b, c, 0xAA);
    EXPECT_EQ(b, (tByteBuffer{0, 0, 0xAA}));
    bufAddWord(b, c, 0x1234);
    bufAddDWord(b, c, 0x89ABCDEF);
    bufAddSingle(b, c, 1.0f);
    EXPECT_EQ(c, 13u);
    EXPECT_EQ(b, (tByteBuffer{0, 0, 0xAA, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x89, 0, 0, 0x80, 0x3F}));

    c = 0;
    bufAddByte(b, c, 0x55);  // overwrites, does not insert
    EXPECT_EQ(b.size(), 13u);
    EXPECT_EQ(b[0], 0x55);
}

TEST(ByteBuffer, readsPastTheEndYieldZeroAndKeepTheCursor) {
    tByteBuffer b{0x34, 0x12, 0x78};
    tCursor c = 0;
    EXPECT_EQ(bufReadWord(b, c), 0x1234);
    EXPECT_EQ(bufReadWord(b, c), 0x0078);  // one byte left: low byte only
    EXPECT_EQ(c, 3u);
    EXPECT_EQ(bufReadDWord(b, c), 0u);
    EXPECT_EQ(bufReadByte(b, c), 0u);
    EXPECT_EQ(c, 3u);

    tByteBuffer f;
    tCursor w = 0;
    bufAddSingle(f, w, -2.5f);
    tCursor r = 0;
    EXPECT_EQ(bufReadSingle(f, r), -2.5f);
    tByteBuffer empty;
    r = 0;
    EXPECT_EQ(bufReadSingle(empty, r), 0.0f);
}

TEST(ByteBuffer, copyOfCountZeroOrTooLargeTakesTheRestOfTheSource) {
    tByteBuffer src{1, 2, 3, 4, 5};
    struct Case {
        std::uint32_t count, srcIndex, destIndex;
        tByteBuffer expect;
        std::uint32_t copied;
    } cases[] = {
        {0, 1, 0, {2, 3, 4, 5}, 4},
        {2, 3, 1, {0, 4, 5}, 2},
        {9, 3, 0, {4, 5}, 2},
        {3, 9, 0, {}, 0},
    };
    for (const auto& k : cases) {
        tByteBuffer dest;
        EXPECT_EQ(bufCopy(dest, src, k.count, k.srcIndex, k.destIndex), k.copied);
        EXPECT_EQ(dest, k.expect);
    }
}

TEST(DateData, clearGivesFirstOfJanuary2000) {
    TDateData d;
    d.Data = {9, 9, 9, 9, 9, 9};
    clearDateData(d);
    std::uint8_t y, mo, da, h, mi, s;
    getDateData(d, y, mo, da, h, mi, s);
    EXPECT_EQ((std::array<int, 6>{y, mo, da, h, mi, s}), (std::array<int, 6>{0, 1, 1, 0, 0, 0}));
}

TEST(DateData, numberTextUsesTheFirstFourBytesOnly) {
    TDateData d;
    d.Data = {5, 4, 3, 2, 13, 18};
    EXPECT_EQ(dateDataToNumberText(d), "33752069");
}

TEST(DateData, sortTimeOrdersLikeTheCalendarAndRefusesInvalidDates) {
    TDateData a, b, bad;
    setDateData(a, 19, 12, 31, 23, 59, 59);
    setDateData(b, 20, 1, 1, 0, 0, 0);
    ASSERT_TRUE(dateDataToSortTime(a) && dateDataToSortTime(b));
    EXPECT_EQ(*dateDataToSortTime(b) - *dateDataToSortTime(a), 1);

    for (auto fields :
         std::vector<std::array<std::uint8_t, 6>>{{0, 0, 0, 1, 0, 20},   // month 0
                                                  {0, 0, 0, 0, 1, 20},   // day 0
                                                  {0, 0, 0, 1, 1, 0},    // year 0
                                                  {0, 0, 0, 29, 2, 19},  // no 29 February in 2019
                                                  {60, 0, 0, 1, 1, 20},
                                                  {0, 0, 24, 1, 1, 20}}) {
        bad.Data = fields;
        EXPECT_FALSE(dateDataToSortTime(bad));
    }
    bad.Data = {0, 0, 0, 29, 2, 20};
    EXPECT_TRUE(dateDataToSortTime(bad));
}

TEST(ReaderDate, packsDayMonthAndFullYear) {
    using namespace std::chrono;
    year_month_day d{year{2018}, month{7}, day{23}};
    EXPECT_EQ(toReaderDate(d), (23u << 24) | (7u << 16) | 2018u);
    EXPECT_EQ(fromReaderDate(toReaderDate(d)), d);
}

TEST(DisplayTexts, firmwareAndSerial) {
    tFirmwareVersion v;
    v.main = 1;
    v.sub = 2;
    v.revision = 36;
    EXPECT_EQ(firmwareVersionText(v), "V1.2.036");
    v.sub = 0;
    v.revision = 5;
    v.variant = 'b';
    v.branch = 2;
    v.branchRevision = 7;
    EXPECT_EQ(firmwareVersionText(v), "V1.0.005b.27");
    v.suffix = 'x';
    v.revision = 1234;
    EXPECT_EQ(firmwareVersionText(v), "V1.0.1234b.27x");

    tSerial s;
    s.customer = 12;
    s.project = 3;
    s.productionDate.ProductionYear = 18;
    s.productionDate.ProductionWeek = 7;
    s.subSerial = 42;
    EXPECT_EQ(serialText(s), "12 3 1807 0042");
}

TEST(BitFields, byteWordAndDWordFields) {
    // width 3 at bit 2
    const std::uint16_t d = 0x0023;
    EXPECT_EQ(getBitField8(0b10111100, d), 0b111);
    std::uint8_t b = 0xFF;
    setBitField8(b, d, 0b010);
    EXPECT_EQ(b, 0b11101011);
    // the new value is not masked: bits above the width spill over
    b = 0;
    setBitField8(b, d, 0b1111);
    EXPECT_EQ(b, 0b00111100);

    const std::uint16_t w = 0x0A4;  // width 4 at bit 10
    EXPECT_EQ(getBitField16(0xBC00, w), 0xF);
    std::uint16_t x = 0;
    setBitField16(x, w, 0x5);
    EXPECT_EQ(x, 0x1400);
    EXPECT_EQ(getBitField16(0xFFFF, 0x0050), 0);  // width 0

    EXPECT_EQ(getBitField32(0x12345678, 0x0808), 0x56u);  // width 8 at bit 8
    EXPECT_EQ(getBitField32(0x12345678, 0x0000), 0x12345678u);
    EXPECT_EQ(getBitField32(0x12345678, 0x0020), 0x12345678u);
    EXPECT_EQ(getBitField32(0x80000000, 0x1F01), 1u);  // width 1 at bit 31
}

TEST(TextHelpers, strToCardinalAcceptsOnlyWholeNumbersInRange) {
    struct Case {
        const char* text;
        bool ok;
        std::uint32_t value;
    } cases[] = {{"4294967295", true, 4294967295u},
                 {"4294967296", false, 7},
                 {"-1", false, 7},
                 {"0", true, 0},
                 {"+12", true, 12},
                 {"12a", false, 7},
                 {"", false, 7},
                 {" 1", false, 7},
                 {"-0", true, 0}};
    for (const auto& k : cases) {
        std::uint32_t v = 7;
        EXPECT_EQ(strToCardinal(k.text, v), k.ok) << k.text;
        EXPECT_EQ(v, k.value) << k.text;
    }
}

TEST(TextHelpers, trimUpperPadAndLatin1) {
    EXPECT_EQ(trimBlanks(" a b "), "a b");
    EXPECT_EQ(trimBlanks("   "), "   ");
    EXPECT_EQ(trimBlanks(""), "");
    EXPECT_EQ(trimBlanks("\ta\t "), "\ta\t");
    EXPECT_EQ(upperCaseAscii("abz\xC3\xA4-q"), "ABZ\xC3\xA4-Q");
    EXPECT_EQ(intToStrPad(7, 3, '0'), "007");
    EXPECT_EQ(intToStrPad(12345, 3, '0'), "12345");
    EXPECT_EQ(latin1ToUtf8("\xB5g/ml"), "\xC2\xB5g/ml");
    EXPECT_EQ(utf8ToLatin1("\xC2\xB5g \xE2\x82\xAC"), "\xB5g ?");
}

}  // namespace
}  // namespace kyvo
