// Garbage and damaged bytes from a device or a file: every parser and walk
// must end and keep within the model's arrays. Most telling under the
// address sanitizer build.
#include <gtest/gtest.h>

#include <bit>
#include <random>

#include "testdata/MeasureSet.h"

namespace kyvo {
namespace {

tByteBuffer randomBytes(std::mt19937& rng, std::size_t maxSize) {
    tByteBuffer b(std::uniform_int_distribution<std::size_t>(0, maxSize)(rng));
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

// A sound configuration with one byte in ten changed.
tByteBuffer damagedConfig(std::mt19937& rng) {
    TTestConfig cfg;
    cfg.Version = 5;
    cfg.CaptureSection.LineCntFilterWidth.Data = 0x33;
    cfg.CaptureSection.ResultClassCnt.SetResultCount(4);
    cfg.CaptureSection.ResultClassCnt.SetClassCount(6);
    cfg.CaptureSection.CartridgeImgSize = 40;
    tByteBuffer b;
    TestConfigToBytes(cfg, b);
    for (auto& x : b)
        if (rng() % 10 == 0) x = static_cast<std::uint8_t>(rng());
    return b;
}

void expectModelWithinArrays(const TTestConfig& cfg) {
    EXPECT_LE(cfg.LineCount(), kMaxTestLines);
    EXPECT_LE(cfg.ResultCount(), kMaxResults);
    EXPECT_LE(cfg.CaptureSection.StringSize, kStringAreaSize);
    EXPECT_LE(cfg.CaptureSection.CartridgeImgSize, kMaxCartridgeImgSize);
}

TEST(HostileInput, randomAndDamagedConfigurationsNeverOverrunTheModel) {
    std::mt19937 rng(20261209);
    for (int round = 0; round < 3000; ++round) {
        const tByteBuffer b = round % 2 ? damagedConfig(rng) : randomBytes(rng, 700);
        TTestConfig cfg;
        const std::uint8_t code = TestConfigFromBytes(b, cfg);
        ASSERT_LE(code, kCfgCountsTooLarge);
        expectModelWithinArrays(cfg);
        // Whatever was parsed can be shown and written again.
        for (std::size_t i = 0; i < cfg.ResultCount(); ++i)
            MakeResultRow(cfg, cfg.ResultSection[i], std::bit_cast<float>(std::uint32_t(rng())),
                          false, UTestInvalid{0}, EnglishText);
        tByteBuffer again;
        TestConfigToBytes(cfg, again);
        if (code == kCfgOk) {
            TTestConfig back;
            EXPECT_EQ(TestConfigFromBytes(again, back), kCfgOk);
        }
    }
}

TEST(HostileInput, randomStoredDataEndsEveryWalk) {
    std::mt19937 rng(7);
    for (int round = 0; round < 400; ++round) {
        tByteBuffer list = randomBytes(rng, 3000);
        const auto configs = ReadStoredConfigList(list);
        for (const auto& e : configs.Entries) expectModelWithinArrays(e.Config);

        const std::uint8_t version = static_cast<std::uint8_t>(rng() % 8);
        const auto start = static_cast<std::uint16_t>(rng() % 64);
        const auto size = static_cast<std::uint16_t>(1 + rng() % 3000);
        const TRingArea area{start, static_cast<std::uint16_t>(start + size - 1),
                             static_cast<std::uint16_t>(start + rng() % size)};
        std::vector<TKyvoResultData> data;
        tByteBuffer cfgRing = randomBytes(rng, size);
        // Small IDs and sizes make long walks over many short entries.
        for (std::size_t i = 0; i < cfgRing.size(); ++i)
            if (rng() % 4 == 0) cfgRing[i] = static_cast<std::uint8_t>(rng() % 40);
        ReadStoredResultConfigs(cfgRing, area, version, data);
        for (const auto& d : data) expectModelWithinArrays(d.TestCfg);
        const bool lines = rng() % 2;
        const bool image = rng() % 2;
        ReadStoredResults(randomBytes(rng, size), area, version, lines, image, data);
        TMeasureList sets;
        BuildMeasureSetsFromStorage(data, {}, lines, image, EnglishText, nullptr, sets);
        for (const auto& s : sets) {
            EXPECT_LE(s->MeasureResult.LineCount, kMaxTestLines);
            EXPECT_LE(s->ImageData.size(), kMaxImageValues);
        }

        TResult r;
        r.FromByteBuffer(randomBytes(rng, 400), version);
        TTestConfig cfg;
        cfg.CaptureSection.ResultClassCnt.SetResultCount(static_cast<std::uint8_t>(rng() % 6));
        TMeasureSet set;
        BuildMeasureSetFromResult(randomBytes(rng, 400), version, cfg, {}, EnglishText, set);
        CombineSecondMeasurement(randomBytes(rng, 400), version, cfg, EnglishText, set);
        LineImageFromGray16(set, randomBytes(rng, 700));
        EXPECT_LE(set.ImageData.size(), kMaxImageValues);
    }
}

}  // namespace
}  // namespace kyvo
