#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "protocol/KyvoReadWrite.h"

namespace kyvo {
namespace {

using Blocks = std::vector<std::pair<std::uint16_t, std::uint32_t>>;  // size, address

// Every request of the step until it is complete.
Blocks drain(TDataRead& read) {
    Blocks blocks;
    do {
        std::uint16_t size = 0;
        std::uint32_t address = 0;
        read.PrepareNextBlock(size, address);
        blocks.emplace_back(size, address);
    } while (read.SizeLeft > 0 && blocks.size() < 1000);
    return blocks;
}

TEEPROMMap mapOf(std::uint8_t version, bool separate) {
    TEEPROMMap map;
    map.NonVolatileData.EEPROMVersion = version;
    map.VolatileData.KyvoCfgBits.Data = separate ? 0x10 : 0;
    return map;
}

TEST(TDataRead, aStepIsCutIntoBlocksOfAtMost768Bytes) {
    struct Case {
        std::uint16_t rfidSize;
        Blocks expect;
    };
    const Case cases[] = {
        {2000, {{768, 0x40000}, {768, 0x40300}, {464, 0x40600}}},
        {768, {{768, 0x40000}}},
        {769, {{768, 0x40000}, {1, 0x40300}}},
        {0, {{0, 0x40000}}},  // one request for nothing still completes the step
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rfidSize);
        TDataRead read;
        read.RFIDSize = c.rfidSize;
        read.InitializeReading(SpRFID, TEEPROMMap{});
        EXPECT_EQ(drain(read), c.expect);
        EXPECT_EQ(read.SizeLeft, 0u);
    }
}

TEST(TDataRead, initializingAStepForgetsThePreviousOne) {
    TDataRead read;
    read.RFIDSize = 2000;
    read.InitializeReading(SpRFID, TEEPROMMap{});
    std::uint16_t size;
    std::uint32_t address;
    read.PrepareNextBlock(size, address);
    read.Buffer = {1, 2, 3};
    read.InitializeReading(SpKyvoConfigBits, TEEPROMMap{});
    EXPECT_EQ(read.ReadStep, SpKyvoConfigBits);
    EXPECT_TRUE(read.Buffer.empty());
    EXPECT_EQ(read.AddressOffset, 0u);
    EXPECT_EQ(drain(read), (Blocks{{4, 0x50080}}));
}

TEST(TDataRead, stepsArePlacedByTheEEPROMVersion) {
    struct Case {
        std::uint8_t version;
        bool separate;
        EReadStep step;
        std::uint32_t address;
        std::uint32_t size;
    };
    const Case cases[] = {
        {1, false, SpVolatilePtAbs, 0x500A2, 24},
        {2, false, SpVolatilePtAbs, 0x500A2, 24},
        {3, false, SpVolatilePtAbs, 0x5009C, 12},
        {4, false, SpVolatilePtAbs, 0x5009C, 12},
        {5, false, SpVolatilePtAbs, 0x500A0, 12},
        {6, false, SpVolatilePtAbs, 0x500A0, 12},
        {0, false, SpVolatilePtAbs, 0x500A0, 12},
        {3, false, SpVolatilePtRel, 0x500AE, 14},
        {4, false, SpVolatilePtRel, 0x500AE, 14},
        {5, false, SpVolatilePtRel, 0x500B2, 14},
        {2, false, SpVolatilePtRel, 0x500B2, 14},
        {4, false, SpVolatilePt, 0x500A2, 24},
        {4, false, SpMeasurementResult, 0x20000, 346},
        {5, false, SpMeasurementResult, 0x20000, 356},
        {6, false, SpMeasurementResult, 0x20000, 316},
        {7, false, SpMeasurementResult, 0x20000, 316},
        {4, true, SpConfiguration, 0x00000, 1248},
        {5, false, SpConfiguration, 0x00000, 1248},
        {5, true, SpConfiguration, 0x00000, 4096},
        {2, false, SpWhiteGain, 0x5002E, 10},
        {3, false, SpWhiteGain, 0x50031, 10},
        {5, false, SpNonVolatileSN, 0x50000, 13},
        {5, false, SpKyvoConfigBits, 0x50080, 4},
        {5, false, SpKyvoConfigBits_0, 0x5007C, 4},
        {5, false, SpNoRead, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "version " << int(c.version) << " step " << int(c.step)
                                        << (c.separate ? " separate" : ""));
        TDataRead read;
        read.InitializeReading(c.step, mapOf(c.version, c.separate));
        EXPECT_EQ(read.ReadStep, c.step);
        EXPECT_EQ(read.StartAddress, c.address);
        EXPECT_EQ(read.SizeLeft, c.size);
    }
}

TEST(TDataRead, storedConfigurationsAreReadFromTheDataMemory) {
    TEEPROMMap map = mapOf(5, true);
    map.VolatileData.StoredConfigurationStart = 0x0100;
    map.VolatileData.StoredConfigurationStop = 0x0A00;
    TDataRead read;
    read.InitializeReading(SpTestConfigs, map);
    EXPECT_EQ(read.StartAddress, 0x30000u);
    EXPECT_EQ(read.SizeLeft, 0x0900u);
}

// Pointer blocks as a device of each EEPROM version sends them: which
// blocks the reading of stored data asks for, and in which order each holds
// the pointers.
TEST(StoragePointers, eachVersionReadsItsPointerBlocksInTheirOrder) {
    struct Case {
        std::uint8_t version;
        std::vector<std::pair<std::uint32_t, EStoragePointerKind>> blocks;
    };
    const Case cases[] = {
        {1, {{0x500A2, spkAll}}},
        {2, {{0x500A2, spkAll}}},
        {3, {{0x5009C, spkAbsolute}, {0x500AE, spkRelative}}},
        {4, {{0x5009C, spkAbsolute}, {0x500AE, spkRelative}}},
        {5, {{0x500A0, spkAbsolute}, {0x500B2, spkRelative}}},
        {6, {{0x500A0, spkAbsolute}, {0x500B2, spkRelative}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.version));
        const TEEPROMMap map = mapOf(c.version, false);
        TDataRead read;
        read.InitializeReading(SpVolatilePtAbs, map);
        ASSERT_EQ(storagePointerKindAt(read.StartAddress), c.blocks[0].second);
        EXPECT_EQ(read.StartAddress, c.blocks[0].first);
        if (c.blocks.size() > 1) {
            read.InitializeReading(SpVolatilePtRel, map);
            EXPECT_EQ(read.StartAddress, c.blocks[1].first);
            EXPECT_EQ(storagePointerKindAt(read.StartAddress), c.blocks[1].second);
        }
    }
    EXPECT_EQ(storagePointerKindAt(0x50080), std::nullopt);
}

TEST(StoragePointers, theThreeOrdersFillTheirFields) {
    tByteBuffer block;
    for (std::uint16_t v = 1; v <= 12; ++v) {
        block.push_back(static_cast<std::uint8_t>(v));
        block.push_back(0x10);
    }
    auto p = [](std::uint16_t v) { return static_cast<std::uint16_t>(0x1000 + v); };

    TEEPROMVolatile abs;
    parseStoragePointers(block, spkAbsolute, abs);
    EXPECT_EQ(abs.StoredConfigurationStart, p(1));
    EXPECT_EQ(abs.StoredConfigurationStop, p(2));
    EXPECT_EQ(abs.StoredTestResultCfgStart, p(3));
    EXPECT_EQ(abs.StoredTestResultCfgStop, p(4));
    EXPECT_EQ(abs.StoredTestResultStart, p(5));
    EXPECT_EQ(abs.StoredTestResultStop, p(6));
    EXPECT_EQ(abs.StoredConfigurationReadPtr, 0);

    TEEPROMVolatile rel;
    parseStoragePointers(block, spkRelative, rel);
    EXPECT_EQ(rel.StoredConfigurationReadPtr, p(1));
    EXPECT_EQ(rel.StoredConfigurationWritePtr, p(2));
    EXPECT_EQ(rel.StoredTestResultCfgReadPtr, p(3));
    EXPECT_EQ(rel.StoredTestResultCfgWritePtr, p(4));
    EXPECT_EQ(rel.StoredTestResultReadPtr, p(5));
    EXPECT_EQ(rel.StoredTestResultWritePtr, p(6));
    EXPECT_EQ(rel.StoredLastTestResult, p(7));
    EXPECT_EQ(rel.StoredConfigurationStart, 0);

    TEEPROMVolatile all;
    parseStoragePointers(block, spkAll, all);
    EXPECT_EQ(all.StoredConfigurationReadPtr, p(1));
    EXPECT_EQ(all.StoredTestResultWritePtr, p(6));
    EXPECT_EQ(all.StoredLastTestResult, 0);  // not in this order
    EXPECT_EQ(all.StoredConfigurationStart, p(7));
    EXPECT_EQ(all.StoredTestResultStop, p(12));

    // A short block reads its missing values as zero.
    TEEPROMVolatile shortBlock;
    shortBlock.StoredTestResultStop = 0xBEEF;
    parseStoragePointers(tByteBuffer{0x01, 0x00, 0x02}, spkAbsolute, shortBlock);
    EXPECT_EQ(shortBlock.StoredConfigurationStart, 1);
    EXPECT_EQ(shortBlock.StoredConfigurationStop, 2);
    EXPECT_EQ(shortBlock.StoredTestResultStop, 0);
}

TEST(StoragePointers, ringsLieInTheDataMemoryOrInTheSeparateResultMemory) {
    struct Case {
        const char* name;
        std::uint8_t version;
        bool separate;
        std::uint16_t cfgStart, cfgStop, resStart, resStop, configStart;
        std::uint32_t cfgAddress, cfgSize, resAddress, resSize;
    };
    const Case cases[] = {
        {"shared memory", 5, false, 0x2000, 0x27FF, 0x2800, 0x7FFF, 0x0000, 0x32000, 2048, 0x32800,
         0x5800},
        {"shared memory, areas after an offset", 4, false, 0x2100, 0x28FF, 0x2900, 0x29FF, 0x0100,
         0x32000, 2048, 0x32800, 256},
        {"separate memory", 3, true, 0x1800, 0x1FFF, 0x1000, 0x17FF, 0x0000, 0x80800, 2048, 0x80000,
         2048},
        {"separate memory, version 6", 6, true, 0x1800, 0x1FFF, 0x1000, 0x17FF, 0x0400, 0x80800,
         2048, 0x80000, 2048},
        {"separate bit ignored before version 3", 2, true, 0x2000, 0x27FF, 0x2800, 0x2FFF, 0x0000,
         0x82000, 2048, 0x82800, 2048},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TEEPROMMap map = mapOf(c.version, c.separate);
        auto& v = map.VolatileData;
        v.StoredConfigurationStart = c.configStart;
        v.StoredTestResultCfgStart = c.cfgStart;
        v.StoredTestResultCfgStop = c.cfgStop;
        v.StoredTestResultStart = c.resStart;
        v.StoredTestResultStop = c.resStop;
        TDataRead read;
        read.SavedDataReadSrc = c.separate ? kResultMemoryAddress : kDataMemoryAddress;
        read.SetResultStoragePointers(c.version, v);
        read.InitializeReading(SpResultCfgData, map);
        EXPECT_EQ(read.StartAddress, c.cfgAddress);
        EXPECT_EQ(read.SizeLeft, c.cfgSize);
        read.InitializeReading(SpResultData, map);
        EXPECT_EQ(read.StartAddress, c.resAddress);
        EXPECT_EQ(read.SizeLeft, c.resSize);
    }
}

TEST(StoragePointers, aRingSpanningAll16BitOffsetsIsReadWhole) {
    TEEPROMVolatile v;
    v.StoredTestResultStart = 0x0000;
    v.StoredTestResultStop = 0xFFFF;
    v.StoredTestResultCfgStart = 0x0010;
    v.StoredTestResultCfgStop = 0x000F;  // bounds in the wrong order wrap to nothing
    TDataRead read;
    read.SavedDataReadSrc = kDataMemoryAddress;
    read.SetResultStoragePointers(5, v);
    EXPECT_EQ(read.ResultMemSize, 65536u);
    EXPECT_EQ(read.ResultCfgMemSize, 0u);

    read.InitializeReading(SpResultData, TEEPROMMap{});
    const Blocks blocks = drain(read);
    ASSERT_EQ(blocks.size(), 86u);  // 85 full blocks and 256 bytes
    std::uint32_t total = 0;
    for (const auto& [size, address] : blocks) {
        EXPECT_EQ(address, kDataMemoryAddress + total);
        total += size;
    }
    EXPECT_EQ(total, 65536u);
    EXPECT_EQ(blocks.back().first, 256);
}

struct Package {
    std::uint32_t address;
    std::size_t size;
    bool update;
    bool last;
};

std::vector<Package> packages(TDataWrite& write, tByteBuffer& sentBytes) {
    std::vector<Package> out;
    std::uint32_t address = 0;
    tByteBuffer pkg;
    while (out.size() < 1000 && write.PreparePackage(address, pkg)) {
        out.push_back({address, pkg.size(), write.Update, write.LastPackagePrepared()});
        sentBytes.insert(sentBytes.end(), pkg.begin(), pkg.end());
        pkg.clear();
    }
    return out;
}

bool operator==(const Package& a, const Package& b) {
    return a.address == b.address && a.size == b.size && a.update == b.update && a.last == b.last;
}

TEST(TDataWrite, contentIsSentInPackagesAndOnlyTheLastCarriesTheFlags) {
    tByteBuffer content(1248);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i);
    TDataWrite write;
    write.Init(WSpConfig, content, true);
    EXPECT_EQ(write.SizeOverall, 1248u);
    EXPECT_TRUE(write.SavePermanent);
    EXPECT_FALSE(write.Reset);
    tByteBuffer sent;
    const auto got = packages(write, sent);
    EXPECT_EQ(got,
              (std::vector<Package>{{0x00000, 768, false, false}, {0x00300, 480, true, true}}));
    EXPECT_EQ(sent, content);
    EXPECT_EQ(write.WriteStep, WSpNoWrite);
    EXPECT_FALSE(write.Reset);
}

TEST(TDataWrite, eachStepWritesToItsAddressAndSetsUpdateAsItShould) {
    struct Case {
        EWriteStep step;
        std::size_t size;
        std::vector<Package> expect;
    };
    const Case cases[] = {
        {WSpRFID, 100, {{0x40000, 100, true, true}}},
        {WSpEraseRFID, 800, {{0x40000, 768, false, false}, {0x40300, 32, false, true}}},
        {WSpConfig, 768, {{0x00000, 768, true, true}}},
        {WSpConfig, 0, {}},
        {WSpNoWrite, 500, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "step " << int(c.step) << " size " << c.size);
        TDataWrite write;
        write.Init(c.step, tByteBuffer(c.size, 0xAB), false);
        tByteBuffer sent;
        EXPECT_EQ(packages(write, sent), c.expect);
        EXPECT_EQ(write.WriteStep, WSpNoWrite);
        std::uint32_t address = 0;
        tByteBuffer pkg;
        EXPECT_FALSE(write.PreparePackage(address, pkg));
        EXPECT_TRUE(pkg.empty());
    }
}

TEST(TDataWrite, contentLongerThan16BitsIsSentWhole) {
    TDataWrite write;
    tByteBuffer content(70000);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 13);
    write.Init(WSpConfig, content, false);
    tByteBuffer sent;
    const auto got = packages(write, sent);
    EXPECT_EQ(sent, content);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back().address, 91u * 768u);
    EXPECT_EQ(got.back().size, 70000u - 91u * 768u);
}

TEST(TDataWrite, initRestartsAWriteInProgress) {
    TDataWrite write;
    write.Init(WSpConfig, tByteBuffer(2000, 1), true);
    std::uint32_t address = 0;
    tByteBuffer pkg;
    ASSERT_TRUE(write.PreparePackage(address, pkg));
    write.Init(WSpRFID, tByteBuffer(10, 2), false);
    pkg.clear();
    ASSERT_TRUE(write.PreparePackage(address, pkg));
    EXPECT_EQ(address, 0x40000u);
    EXPECT_EQ(pkg, tByteBuffer(10, 2));
    EXPECT_TRUE(write.Update);
    EXPECT_FALSE(write.SavePermanent);
}

}  // namespace
}  // namespace kyvo
