// The device's history: a state that carries its memory to a later device,
// new stored measurements, rings wrapped past their oldest entries, a
// formatted database, and states that must be refused.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "sim/Records.h"
#include "sim/SimState.h"
#include "sim/tests/SimClient.h"

namespace kyvo::sim::test {
namespace {

// Every region the device answers reads for, as the program would read it.
tByteBuffer wholeMemory(const SimDevice& dev) {
    tByteBuffer all;
    for (std::uint32_t base :
         {0x00000u, 0x10000u, 0x20000u, 0x30000u, 0x40000u, 0x50000u, 0x80000u})
        for (std::uint32_t off = 0; off < 0x10000; ++off) {
            auto b = dev.read(base + off, 1);
            if (!b) break;
            all.push_back((*b)[0]);
        }
    return all;
}

// Small rings, so a few measurements wrap them.
Scenario smallRings() {
    return parseOrFail(R"(
[device]
bits = ClockPresent SeparateResultMemory InstantMeasureAllowed ResultsWithLineData ResultsWithImage
active-config = a
[memory]
result-start = 0x0000
result-stop = 0x0BFF
result-cfg-start = 0x0C00
result-cfg-stop = 0x0DFF
[config a]
test-id = 3 3 1 1
name = Wrap test
lot = W1
line = ref 40
line = 50
result = Value | u | 0 | 100 | 0x13
[generate]
count = 4
seed = 5
days = 2
)");
}

// The measure ID of the result entry at a ring pointer; the entry may wrap
// past the ring's end. It follows id, size, date, flags, voltage and
// temperature.
std::uint16_t measureIDAt(SimClient& c, const StoragePointers& p, std::uint16_t pointer) {
    const tByteBuffer ring = c.readMemory(0x80000 + p.rStart, p.rStop - p.rStart + 1u);
    auto at = [&](std::size_t i) { return ring[(pointer - p.rStart + i) % ring.size()]; };
    return static_cast<std::uint16_t>(at(16) | (at(17) << 8));
}

// The pointer to the newest result entry, after the read and write pointers.
std::uint16_t newestPointer(SimClient& c) {
    return word(c.readMemory(0x500BE, 2), 0);
}

TEST(SimHistory, aStateCarriesTheWholeMemoryToALaterDevice) {
    SimDevice first;
    SimClient c(first);
    ASSERT_TRUE(c.writeMemory(0x10000, {'h', 'i', 0}, true));
    first.addStoredMeasurements(3);
    const TDateData hourAhead = secondsToDate(SimDevice::kDefaultHostTime + 3600);
    const std::uint64_t changes = first.memoryChanges();
    c.send(0x58, tByteBuffer(hourAhead.Data.begin(), hourAhead.Data.end()));
    EXPECT_GT(first.memoryChanges(), changes);

    // Another computer time: the memory, not the scenario's generation, counts.
    SimDevice second(SimDevice::kDefaultHostTime + 5 * 86400);
    second.restoreState(first.stateBytes());
    EXPECT_EQ(wholeMemory(second), wholeMemory(first));
    EXPECT_EQ(second.storedResultCount(), first.storedResultCount());
    EXPECT_EQ(second.lcdText(), "hi");
    // The clock keeps its offset from the computer's clock.
    ASSERT_TRUE(second.deviceClock().has_value());
    EXPECT_EQ(*dateToSeconds(*second.deviceClock()),
              SimDevice::kDefaultHostTime + 5 * 86400 + 3600);

    // Both continue alike: the ring bookkeeping came along.
    SimDevice third;
    third.restoreState(first.stateBytes());
    first.addStoredMeasurements(40);
    third.addStoredMeasurements(40);
    EXPECT_EQ(wholeMemory(third), wholeMemory(first));

    // Through a file, written by rename.
    const std::string path =
        ::testing::TempDir() + "sim-history-" + std::to_string(getpid()) + ".state";
    std::remove(path.c_str());
    SimDevice fresh;
    EXPECT_FALSE(fresh.loadState(path));
    first.saveState(path);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    EXPECT_TRUE(fresh.loadState(path));
    EXPECT_EQ(wholeMemory(fresh), wholeMemory(first));
    std::remove(path.c_str());
}

TEST(SimHistory, addedMeasurementsAreStoredAfterTheNewestAndMoveTheWritePointer) {
    SimDevice dev;
    SimClient c(dev);
    const StoragePointers before = readPointers(c, 6);
    const StoredData old = readStoredData(c, 6, true, true, true);
    const std::uint64_t changes = dev.memoryChanges();

    dev.addStoredMeasurements(5);

    const StoragePointers after = readPointers(c, 6);
    EXPECT_EQ(after.rRead, before.rRead);
    EXPECT_GT(after.rWrite, before.rWrite);
    EXPECT_GT(dev.memoryChanges(), changes);
    const StoredData now = readStoredData(c, 6, true, true, true);
    ASSERT_EQ(now.results.size(), old.results.size() + 5);
    for (std::size_t i = 0; i < old.results.size(); ++i)
        EXPECT_EQ(now.results[i].date.Data, old.results[i].date.Data);
    // The new ones are the newest, in time order, dated up to the device clock.
    auto secondsOf = [](const StoredResult& r) { return dateToSeconds(r.date).value_or(0); };
    for (std::size_t i = old.results.size(); i < now.results.size(); ++i) {
        EXPECT_GE(secondsOf(now.results[i]), secondsOf(now.results[i - 1]));
        EXPECT_FALSE(now.results[i].values.empty());
    }
    EXPECT_LE(secondsOf(now.results.back()), dateToSeconds(*dev.deviceClock()).value_or(0));
    EXPECT_EQ(dev.storedResultCount(), now.results.size());
}

TEST(SimHistory, manyAddedMeasurementsWrapTheRingAndDropTheOldest) {
    SimDevice dev(smallRings());
    SimClient c(dev);
    const StoragePointers before = readPointers(c, 6);
    ASSERT_EQ(before.rRead, before.rStart);
    ASSERT_EQ(measureIDAt(c, before, before.rRead), 1);
    ASSERT_EQ(measureIDAt(c, before, newestPointer(c)), 4);

    dev.addStoredMeasurements(30);

    const StoragePointers after = readPointers(c, 6);
    EXPECT_NE(after.rRead, before.rRead);  // the read pointer moved past dropped entries
    EXPECT_LT(after.rWrite, after.rRead);  // and the newest wrapped to the ring's start
    const StoredData d = readStoredData(c, 6, true, true, true);
    EXPECT_EQ(d.results.size(), dev.storedResultCount());
    ASSERT_LT(d.results.size(), 30u);
    // The oldest left is the first of the unbroken run that ends with the
    // last one added.
    EXPECT_EQ(measureIDAt(c, after, newestPointer(c)), 34);
    EXPECT_EQ(measureIDAt(c, after, after.rRead), 34 - d.results.size() + 1);
}

TEST(SimHistory, aFormattedDatabaseStartsAgainAtTheRingsStart) {
    SimDevice dev;
    SimClient c(dev);
    ASSERT_GT(dev.storedResultCount(), 0u);
    dev.formatDatabase();
    StoragePointers p = readPointers(c, 6);
    EXPECT_EQ(dev.storedResultCount(), 0u);
    EXPECT_EQ(p.rRead, p.rStart);
    EXPECT_EQ(p.rWrite, p.rStart);
    EXPECT_EQ(p.rcRead, p.rcWrite);
    EXPECT_TRUE(readStoredData(c, 6, true, true, true).results.empty());

    dev.addStoredMeasurements(3);
    p = readPointers(c, 6);
    EXPECT_EQ(p.rRead, p.rStart);
    EXPECT_EQ(readStoredData(c, 6, true, true, true).results.size(), 3u);
}

TEST(SimHistory, damagedOrForeignStatesAreRefusedAndChangeNothing) {
    const tByteBuffer good = SimDevice().stateBytes();
    Scenario otherSerial = Scenario::demo();
    otherSerial.serial.kalmiSerial += 1;
    Scenario otherVersion = Scenario::demo();
    otherVersion.eepromVersion = 5;

    auto flipped = [&](std::size_t at) {
        tByteBuffer b = good;
        b[at] ^= 0x10;
        return b;
    };
    struct Case {
        const char* name;
        tByteBuffer state;
        const char* reason;
    } cases[] = {
        {"empty", {}, "not a kyvo-sim state"},
        {"text", tByteBuffer{'[', 'd', 'e', 'v', 'i', 'c', 'e', ']', '\n'}, "not a kyvo-sim state"},
        {"truncated", tByteBuffer(good.begin(), good.begin() + 4000), "damaged"},
        {"a flipped byte", flipped(good.size() / 2), "damaged"},
        {"a flipped checksum", flipped(good.size() - 1), "damaged"},
        {"another format", flipped(15), "format"},
        {"another layout", SimDevice(smallRings()).stateBytes(), "memory layout"},
        {"another EEPROM version", SimDevice(otherVersion).stateBytes(), "EEPROM version"},
        {"another serial", SimDevice(otherSerial).stateBytes(), "another device"},
    };
    for (const Case& k : cases) {
        SimDevice dev;
        dev.addStoredMeasurements(2);
        const tByteBuffer before = wholeMemory(dev);
        try {
            dev.restoreState(k.state);
            ADD_FAILURE() << k.name << ": accepted";
        } catch (const StateError& e) {
            EXPECT_NE(std::string(e.what()).find(k.reason), std::string::npos)
                << k.name << ": " << e.what();
        }
        EXPECT_EQ(wholeMemory(dev), before) << k.name;
    }
}

}  // namespace
}  // namespace kyvo::sim::test
