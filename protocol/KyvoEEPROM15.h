// The program's mirror of the device's two 128-byte EEPROM records, at
// device addresses 0x50000 (non-volatile) and 0x50080 (volatile). The field
// offsets are those of layout version 5 and later; the read steps know
// where older layouts keep what this program reads.
#pragma once

#include <array>
#include <cstdint>

#include "protocol/ByteBuffer.h"
#include "protocol/KyvoWire.h"

namespace kyvo {

inline constexpr std::size_t kWhiteImageSize = 386;

// Descriptors (getBitField32 form: width 1, bit number in the high byte).
inline constexpr std::uint16_t cbClockPresent = 0x0301;
inline constexpr std::uint16_t cbSeparateResultMemory = 0x0401;
inline constexpr std::uint16_t cbRFIDConfigSource = 0x0501;
inline constexpr std::uint16_t cb0InstantMeasureAllowed = 0x1201;
inline constexpr std::uint16_t cb0TimerMeasureAllowed = 0x1301;
inline constexpr std::uint16_t cb0ResultsWithLineData = 0x1701;
inline constexpr std::uint16_t cb0ResultsWithImage = 0x1801;

// Configuration word of the volatile record. Bits not named are carried.
struct TKyvoConfigBits {
    std::uint32_t Data = 0;
    bool ClockPresent() const { return getBitField32(Data, cbClockPresent) != 0; }
    bool SeparateResultMemory() const { return getBitField32(Data, cbSeparateResultMemory) != 0; }
    bool RFIDConfigSource() const { return getBitField32(Data, cbRFIDConfigSource) != 0; }
};

// Configuration word of the non-volatile record (layout version 5 and later).
struct TKyvoConfigBits_0 {
    std::uint32_t Data = 0;
    bool InstantMeasureAllowed() const {
        return getBitField32(Data, cb0InstantMeasureAllowed) != 0;
    }
    bool TimerMeasureAllowed() const { return getBitField32(Data, cb0TimerMeasureAllowed) != 0; }
    bool ResultsWithLineData() const { return getBitField32(Data, cb0ResultsWithLineData) != 0; }
    bool ResultsWithImage() const { return getBitField32(Data, cb0ResultsWithImage) != 0; }
};

struct TEEPROMNonVolatile {
    std::uint8_t EEPROMVersion = 0;                 // 0
    std::uint32_t DravonSerialNumber = 0;           // 1
    std::uint16_t CustomerNumber = 0;               // 5
    std::uint16_t ProjectNumber = 0;                // 7
    std::uint8_t ProductionWeek = 0;                // 9
    std::uint8_t ProductionYear = 0;                // 10
    std::uint16_t SerialNumber = 0;                 // 11
    std::array<std::uint8_t, 36> OtherData{};       // 13
    std::uint16_t NominalWhiteValue = 0;            // 49
    std::array<std::uint8_t, 8> ImageTargetGain{};  // 51
    std::array<std::uint8_t, 65> OtherData2{};      // 59
    TKyvoConfigBits_0 KyvoCfgBits_0;                // 124
};

struct TEEPROMVolatile {
    TKyvoConfigBits KyvoCfgBits;                    // 0
    std::array<std::uint8_t, 28> OtherData{};       // 4
    std::uint16_t StoredConfigurationStart = 0;     // 32
    std::uint16_t StoredConfigurationStop = 0;      // 34
    std::uint16_t StoredTestResultCfgStart = 0;     // 36
    std::uint16_t StoredTestResultCfgStop = 0;      // 38, last byte
    std::uint16_t StoredTestResultStart = 0;        // 40
    std::uint16_t StoredTestResultStop = 0;         // 42, last byte
    std::array<std::uint8_t, 6> OtherData2{};       // 44
    std::uint16_t StoredConfigurationReadPtr = 0;   // 50
    std::uint16_t StoredConfigurationWritePtr = 0;  // 52
    std::uint16_t StoredTestResultCfgReadPtr = 0;   // 54, oldest entry
    std::uint16_t StoredTestResultCfgWritePtr = 0;  // 56
    std::uint16_t StoredTestResultReadPtr = 0;      // 58, oldest entry
    std::uint16_t StoredTestResultWritePtr = 0;     // 60
    std::uint16_t StoredLastTestResult = 0;         // 62
    std::array<std::uint8_t, 64> OtherData3{};      // 64
};

// Whole records from their 128 bytes (a short buffer reads as zeros), and
// back. Kept as a table of offsets so the layout lives in one place.
TEEPROMNonVolatile nonVolatileFromBytes(const tByteBuffer& bytes);
tByteBuffer nonVolatileToBytes(const TEEPROMNonVolatile& rec);
TEEPROMVolatile volatileFromBytes(const tByteBuffer& bytes);
tByteBuffer volatileToBytes(const TEEPROMVolatile& rec);

// The identification block (the first 13 bytes at 0x50000) into offsets
// 0-12 of the record; the rest of the record is left alone.
void readNonVolatileSN(TEEPROMNonVolatile& rec, const tByteBuffer& bytes);
// The white-gain block (10 bytes): NominalWhiteValue then ImageTargetGain.
void readWhiteGain(TEEPROMNonVolatile& rec, const tByteBuffer& bytes);

class TEEPROMMap {
  public:
    TEEPROMMap() { Init(); }
    void Init() { Reset(); }
    // Every field zero, as after a disconnect.
    void Reset();

    std::uint8_t EEPROMVersion() const { return NonVolatileData.EEPROMVersion; }

    TEEPROMNonVolatile NonVolatileData;
    TEEPROMVolatile VolatileData;
    std::array<std::array<std::uint8_t, kWhiteImageSize>, 2> WhiteImage{};
};

}  // namespace kyvo
