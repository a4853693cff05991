#include <gtest/gtest.h>

#include <limits>
#include <set>

#include "sim/Records.h"
#include "sim/tests/SimClient.h"

namespace kyvo::sim::test {
namespace {

Scenario scenarioFor(std::uint8_t version, bool separate) {
    Scenario s = parseOrFail(R"(
[device]
kalmi-serial = 0x0A0B0C0D
serial = 12 3 1807 0042
bits = ClockPresent InstantMeasureAllowed ResultsWithLineData ResultsWithImage
active-config = a
[config a]
test-id = 1 2 3 4
name = Alpha
lot = L1
line = ref 40
line = 30
result = R1 | u
result = R2 | u
[generate]
count = 6
seed = 3
)");
    s.eepromVersion = version;
    s.bits.SeparateResultMemory = separate;
    return s;
}

struct LayoutCase {
    std::uint8_t version;
    bool separate;
    std::uint32_t configMemory;
    std::uint32_t recordSize;
};

class SimMemoryLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(SimMemoryLayout, identityBitsAndStoredDataSitWhereTheVersionPutsThem) {
    const LayoutCase k = GetParam();
    Scenario s = scenarioFor(k.version, k.separate);
    SimDevice dev(s);
    SimClient c(dev);

    tByteBuffer nv = c.readMemory(0x50000, 13);
    EXPECT_EQ(nv[0], k.version);
    EXPECT_EQ(dword(nv, 1), 0x0A0B0C0Du);
    EXPECT_EQ(word(nv, 5), 12);
    EXPECT_EQ(word(nv, 7), 3);
    EXPECT_EQ(nv[9], 7);    // week
    EXPECT_EQ(nv[10], 18);  // year
    EXPECT_EQ(word(nv, 11), 42);

    std::uint32_t bits = dword(c.readMemory(0x50080, 4), 0);
    EXPECT_EQ((bits >> 3) & 1, 1u);  // ClockPresent
    EXPECT_EQ((bits >> 4) & 1, k.separate ? 1u : 0u);
    EXPECT_EQ((bits >> 5) & 1, 0u);
    std::uint32_t bits0 = dword(c.readMemory(0x5007C, 4), 0);
    if (k.version >= 5) {
        EXPECT_EQ(bits0, (1u << 18) | (1u << 23) | (1u << 24));
    } else {
        EXPECT_EQ(bits0, 0u);
    }

    EXPECT_EQ(dev.configMemorySize(), k.configMemory);
    EXPECT_EQ(c.readMemory(0x00000, k.configMemory).size(), k.configMemory);
    tByteBuffer record = c.readMemory(0x20000, k.recordSize);
    EXPECT_EQ(record.size(), k.recordSize);

    StoredData d = readStoredData(c, k.version, k.separate, true, true);
    ASSERT_EQ(d.configs.size(), 1u);
    EXPECT_EQ(d.configs[0].second, 2);
    ASSERT_EQ(d.results.size(), 6u);
    for (const auto& r : d.results) {
        EXPECT_EQ(r.id, d.configs[0].first);
        EXPECT_EQ(r.values.size(), 2u);
    }
    EXPECT_EQ(dev.storedResultCount(), 6u);

    // The last measurement record holds the newest stored measurement; its
    // date closes the record in every layout.
    TDateData newest;
    std::copy(record.end() - 6, record.end(), newest.Data.begin());
    EXPECT_EQ(newest, d.results.back().date);
    tCursor v = 3;
    EXPECT_EQ(bufReadSingle(record, v), d.results.back().values[0]);

    // The stored configuration list at the data memory's start holds the one
    // configuration, then the end marker.
    StoragePointers p = readPointers(c, k.version);
    tByteBuffer list = c.readMemory(0x30000, p.cfgStop - p.cfgStart);
    std::uint16_t size = word(list, 1);
    EXPECT_EQ(list[0], 5);
    EXPECT_EQ(list[size], 0xFF);
}

INSTANTIATE_TEST_SUITE_P(
    EveryVersion, SimMemoryLayout,
    ::testing::Values(LayoutCase{1, false, 1248, 346}, LayoutCase{2, true, 1248, 346},
                      LayoutCase{3, false, 1248, 346}, LayoutCase{4, true, 1248, 346},
                      LayoutCase{5, false, 1248, 356}, LayoutCase{5, true, 4096, 356},
                      LayoutCase{6, false, 1248, 316}, LayoutCase{6, true, 4096, 316}));

TEST(SimStoredData, ringEntriesWrapPastTheRingEnd) {
    Scenario s = scenarioFor(6, true);
    s.memory.resultStart = 0x0000;
    s.memory.resultStop = 0x07FF;
    s.memory.resultCfgStart = 0x0800;
    s.memory.resultCfgStop = 0x08FF;
    s.memory.resultReadOffset = 0x07F0;  // 16 bytes before the end
    s.memory.resultCfgReadOffset = 0x00F0;
    s.generator.count = 4;
    SimDevice dev(s);
    SimClient c(dev);

    StoragePointers p = readPointers(c, 6);
    EXPECT_EQ(p.rRead, 0x07F0);
    EXPECT_LT(p.rWrite, p.rRead);  // the newest entry ended after the wrap
    tByteBuffer raw = c.readMemory(0x80000, 0x800);
    EXPECT_NE(raw[0], 0xFF);  // the first entry's tail
    StoredData d = readStoredData(c, 6, true, true, true);
    ASSERT_EQ(d.configs.size(), 1u);
    ASSERT_EQ(d.results.size(), 4u);
    // Oldest first, as the device stored them.
    for (std::size_t i = 1; i < d.results.size(); ++i)
        EXPECT_LT(dateDataToSortTime(d.results[i - 1].date), dateDataToSortTime(d.results[i].date));
}

TEST(SimStoredData, aFullRingDropsItsOldestEntries) {
    Scenario s = scenarioFor(5, false);
    s.memory.resultStart = 0x4000;
    s.memory.resultStop = 0x43FF;  // 1 KiB: room for a few entries only
    s.generator.count = 40;
    SimDevice dev(s);
    SimClient c(dev);
    StoredData d = readStoredData(c, 5, false, true, true);
    EXPECT_GT(d.results.size(), 0u);
    EXPECT_LT(d.results.size(), 40u);
    EXPECT_EQ(d.results.size(), dev.storedResultCount());
    StoragePointers p = readPointers(c, 5);
    EXPECT_NE(p.rRead, p.rStart);
}

TEST(SimStoredData, deletedMeasurementsAreStoredAsSkippedEntries) {
    Scenario s = scenarioFor(6, true);
    s.generator.count = 0;
    SimMeasurement kept;
    kept.config = "a";
    setDateData(kept.date, 26, 12, 1, 8, 0, 0);
    kept.values = {1.5f, 2.5f};
    SimMeasurement gone = kept;
    gone.deleted = true;
    s.measurements = {gone, kept};
    SimDevice dev(s);
    SimClient c(dev);
    StoragePointers p = readPointers(c, 6);
    tByteBuffer ring = c.readMemory(0x80000, p.rStop - p.rStart + 1u);
    EXPECT_EQ(ring[0], 0);  // the skipped entry
    StoredData d = readStoredData(c, 6, true, true, true);
    ASSERT_EQ(d.results.size(), 1u);
    EXPECT_EQ(d.results[0].values, (std::vector<float>{1.5f, 2.5f}));
    EXPECT_EQ(dev.storedResultCount(), 1u);
}

TEST(SimStoredData, formatDBEmptiesTheRingsAndAcknowledgesWhenDone) {
    SimDevice dev;
    SimClient c(dev);
    ASSERT_GT(dev.storedResultCount(), 20u);
    c.send(0x5F, {0x00});
    EXPECT_TRUE(c.take().empty());
    dev.advance(dev.scenario().evaluation.formatMs);
    auto f = c.take();
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].code, 0x55);
    EXPECT_EQ(dev.storedResultCount(), 0u);
    StoredData d = readStoredData(c, 6, true, true, true);
    EXPECT_TRUE(d.configs.empty());
    EXPECT_TRUE(d.results.empty());
    // The stored configuration list is kept unless asked for.
    EXPECT_EQ(c.readMemory(0x30000, 1)[0], 5);
}

TEST(SimStoredData, demoHoldsVariedMeasurementsOverSeveralDays) {
    SimDevice dev;
    SimClient c(dev);
    StoredData d = readStoredData(c, 6, true, true, true);
    EXPECT_EQ(d.configs.size(), 3u);
    EXPECT_EQ(d.results.size(), 25u);
    std::set<int> days;
    int invalid = 0, expired = 0;
    for (const auto& r : d.results) {
        days.insert(r.date.MonthDay);
        if (r.invalid & 0x8F) ++invalid;
        if (r.invalid & 0x40) ++expired;
    }
    EXPECT_GE(days.size(), 3u);
    EXPECT_GT(invalid, 0);
    EXPECT_GT(expired, 0);
}

}  // namespace
}  // namespace kyvo::sim::test

namespace kyvo::sim::test {
namespace {

TEST(SimStoredData, generatedDataDependOnlyOnSeedAndHostTime) {
    Scenario s = Scenario::demo();
    SimDevice a(s), b(s);
    EXPECT_EQ(a.read(0x80000, 0x10000), b.read(0x80000, 0x10000));
    s.generator.seed += 1;
    SimDevice other(s);
    EXPECT_NE(a.read(0x80000, 0x10000), other.read(0x80000, 0x10000));
    SimDevice later(Scenario::demo(), SimDevice::kDefaultHostTime + 86400);
    EXPECT_NE(a.read(0x80000, 0x10000), later.read(0x80000, 0x10000));
}

// A scenario may give values that are no number (a NaN or infinite limit
// makes the generator produce them); the line image drawn for such a value
// keeps to 12-bit samples instead of converting NaN to an integer.
TEST(SimStoredData, valuesThatAreNoNumberDrawTheSameImageAsOne) {
    ActiveConfig config;
    config.status = ActiveConfig::Status::Good;
    config.lineCount = 2;
    config.linePos = {40, 120};
    config.lineWidth = {10, 10};
    Measurement one;
    one.values = {1.0f};
    synthesiseLinesAndImage(one, config, 240, 5);
    for (const float v : {std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity()}) {
        Measurement odd;
        odd.values = {v};
        synthesiseLinesAndImage(odd, config, 240, 5);
        EXPECT_EQ(odd.image, one.image) << v;
    }
}

}  // namespace
}  // namespace kyvo::sim::test
