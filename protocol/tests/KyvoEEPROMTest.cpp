#include <gtest/gtest.h>

#include "protocol/KyvoEEPROM15.h"

namespace kyvo {
namespace {

tByteBuffer counting(std::size_t n) {
    tByteBuffer b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i + 1);
    return b;
}

TEST(TEEPROMRecords, fieldsSitAtTheirOffsets) {
    const tByteBuffer bytes = counting(128);
    const TEEPROMNonVolatile nv = nonVolatileFromBytes(bytes);
    EXPECT_EQ(nv.EEPROMVersion, 1);
    EXPECT_EQ(nv.DravonSerialNumber, 0x05040302u);
    EXPECT_EQ(nv.CustomerNumber, 0x0706);
    EXPECT_EQ(nv.ProjectNumber, 0x0908);
    EXPECT_EQ(nv.ProductionWeek, 10);
    EXPECT_EQ(nv.ProductionYear, 11);
    EXPECT_EQ(nv.SerialNumber, 0x0D0C);
    EXPECT_EQ(nv.OtherData.front(), 14);
    EXPECT_EQ(nv.NominalWhiteValue, 0x3332);
    EXPECT_EQ(nv.ImageTargetGain.front(), 52);
    EXPECT_EQ(nv.ImageTargetGain.back(), 59);
    EXPECT_EQ(nv.OtherData2.back(), 124);
    EXPECT_EQ(nv.KyvoCfgBits_0.Data, 0x807F7E7Du);

    const TEEPROMVolatile v = volatileFromBytes(bytes);
    EXPECT_EQ(v.KyvoCfgBits.Data, 0x04030201u);
    EXPECT_EQ(v.StoredConfigurationStart, 0x2221);
    EXPECT_EQ(v.StoredTestResultStop, 0x2C2B);
    EXPECT_EQ(v.StoredConfigurationReadPtr, 0x3433);
    EXPECT_EQ(v.StoredTestResultCfgReadPtr, 0x3837);
    EXPECT_EQ(v.StoredTestResultReadPtr, 0x3C3B);
    EXPECT_EQ(v.StoredLastTestResult, 0x403F);
    EXPECT_EQ(v.OtherData3.back(), 128);

    // Every byte has exactly one home: writing back gives the same bytes.
    EXPECT_EQ(nonVolatileToBytes(nv), bytes);
    EXPECT_EQ(volatileToBytes(v), bytes);
    // A short buffer reads as zeros past its end.
    EXPECT_EQ(volatileFromBytes(counting(3)).KyvoCfgBits.Data, 0x030201u);
}

TEST(TEEPROMRecords, identificationAndWhiteGainBlocksFillOnlyTheirFields) {
    TEEPROMNonVolatile nv;
    nv.KyvoCfgBits_0.Data = 0xCAFE;
    nv.NominalWhiteValue = 7;
    readNonVolatileSN(nv, counting(13));
    EXPECT_EQ(nv.EEPROMVersion, 1);
    EXPECT_EQ(nv.SerialNumber, 0x0D0C);
    EXPECT_EQ(nv.NominalWhiteValue, 7);
    EXPECT_EQ(nv.KyvoCfgBits_0.Data, 0xCAFEu);

    readWhiteGain(nv, counting(10));
    EXPECT_EQ(nv.NominalWhiteValue, 0x0201);
    EXPECT_EQ(nv.ImageTargetGain.back(), 10);
    EXPECT_EQ(nv.EEPROMVersion, 1);
}

TEST(TEEPROMRecords, configurationBitsAreReadFromTheirPositions) {
    TKyvoConfigBits none;
    EXPECT_FALSE(none.ClockPresent() || none.SeparateResultMemory() || none.RFIDConfigSource());

    TKyvoConfigBits b;
    b.Data = 1u << 3;
    EXPECT_TRUE(b.ClockPresent());
    EXPECT_FALSE(b.SeparateResultMemory());
    b.Data = 1u << 4;
    EXPECT_TRUE(b.SeparateResultMemory());
    EXPECT_FALSE(b.RFIDConfigSource());
    b.Data = 1u << 5;
    EXPECT_TRUE(b.RFIDConfigSource());
    b.Data = ~((1u << 3) | (1u << 4) | (1u << 5));  // every other bit is ignored
    EXPECT_FALSE(b.ClockPresent() || b.SeparateResultMemory() || b.RFIDConfigSource());

    TKyvoConfigBits_0 b0;
    b0.Data = (1u << 18) | (1u << 24);
    EXPECT_TRUE(b0.InstantMeasureAllowed());
    EXPECT_FALSE(b0.TimerMeasureAllowed());
    EXPECT_FALSE(b0.ResultsWithLineData());
    EXPECT_TRUE(b0.ResultsWithImage());
    b0.Data = (1u << 19) | (1u << 23);
    EXPECT_FALSE(b0.InstantMeasureAllowed());
    EXPECT_TRUE(b0.TimerMeasureAllowed());
    EXPECT_TRUE(b0.ResultsWithLineData());
    EXPECT_FALSE(b0.ResultsWithImage());
}

TEST(TEEPROMMap, resetZeroesEveryField) {
    TEEPROMMap map;
    map.NonVolatileData = nonVolatileFromBytes(counting(128));
    map.VolatileData = volatileFromBytes(counting(128));
    map.WhiteImage[1][385] = 9;
    map.Reset();
    EXPECT_EQ(nonVolatileToBytes(map.NonVolatileData), tByteBuffer(128, 0));
    EXPECT_EQ(volatileToBytes(map.VolatileData), tByteBuffer(128, 0));
    EXPECT_EQ(map.WhiteImage[1][385], 0);
    EXPECT_EQ(map.EEPROMVersion(), 0);
}

}  // namespace
}  // namespace kyvo
