// Results as the device hands them over: the fixed record of the latest
// measurement, and the two history rings (result configurations and results)
// of its data memory. All numbers little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/ByteBuffer.h"
#include "protocol/KyvoEEPROM15.h"
#include "testdata/TestConfiguration.h"

namespace kyvo {

struct TLineResult {
    float MeanValue = 0;
    float MinValue = 0;
    float MaxValue = 0;
    float LeftMeanValue = 0;
    float RightMeanValue = 0;
    float MaxPosAbs = 0;
    std::uint8_t UsedPixel = 0;
    std::int16_t CenterPositionAbsolut = 0;
    std::uint8_t Width = 0;
};

// Sizes of a stored line result: 28 is the full record, 27 the record of the
// measurement area up to EEPROM version 4 (no Width), 24 the compact form of
// version 6 and later.
inline constexpr std::size_t kLineResultFull = 28;
inline constexpr std::size_t kLineResultNoWidth = 27;
inline constexpr std::size_t kLineResultCompact = 24;

// Reads one line result in the given stored size (24, 27 or 28).
void ReadLineResult(const tByteBuffer& buf, tCursor& cursor, std::size_t storedSize,
                    TLineResult& line);

inline constexpr std::uint16_t kBfInvalidLow = 0x04;   // bits 0-3
inline constexpr std::uint16_t kBfInvalidHigh = 0x71;  // bit 7
inline constexpr std::uint16_t kBfExpired = 0x61;      // bit 6

struct UTestInvalid {
    std::uint8_t Data = 0;
    bool Expired() const { return getBitField8(Data, kBfExpired) != 0; }
};

// Bits 0-3 or 7 set.
bool IsTestInvalid(UTestInvalid flags);
// The rule for the latest measurement record: up to EEPROM version 3 any
// non-zero flag byte is invalid, from version 4 the bit rule. Stored results
// always use the bit rule.
bool IsRecordInvalid(UTestInvalid flags, std::uint8_t EEPROMVersion);

// Size of the measurement record for an EEPROM version: 346, 356 or 316.
std::size_t MeasurementRecordSize(std::uint8_t EEPROMVersion);

class TResult {
  public:
    TResult() { Reset(); }

    std::uint8_t TestEvenMeasuredValueCount;
    std::int16_t SearchReference;
    std::array<float, kMaxResults> ResultValue;
    std::array<TLineResult, kMaxTestLines> Line;
    std::array<std::uint16_t, kMaxResults> PtrClass;
    UTestInvalid TestInvalid;
    float Temperature;
    std::uint16_t Voltage;
    TDateData MeasurementDate;

    void Reset();
    // Fills the object from a measurement record; bytes missing at the end
    // read as zero.
    void FromByteBuffer(const tByteBuffer& Buffer, std::uint8_t EEPROMVersion);
};

// Header of a stored result configuration: 19 bytes stored below EEPROM
// version 6, 23 (with CRC) from version 6.
struct TSaveInternalFlashTestCfgList {
    std::uint8_t ID = 0;
    std::uint16_t Size = 0;
    UUniqueTestID TestID;
    std::uint16_t PtrTestName = 0;
    std::uint16_t PtrLotNr = 0;
    std::uint16_t PtrDistrManu = 0;
    UResultClassCountCfg ResultClassCnt;
    std::uint32_t CRC = 0;  // carried, never verified
};

// Header of a stored result: 16 bytes below EEPROM version 6, 18 (with
// MeasureID) from version 6.
struct TSaveInternalFlashResultList {
    std::uint8_t ID = 0;
    std::uint16_t Size = 0;
    TDateData Date;
    UTestInvalid Invalid;
    std::uint16_t Voltage = 0;
    float Temperature = 0;
    std::uint16_t MeasureID = 0;  // carried
};

std::size_t StoredResultCfgHeaderSize(std::uint8_t EEPROMVersion);  // 19 or 23
std::size_t StoredResultHeaderSize(std::uint8_t EEPROMVersion);     // 16 or 18
std::size_t StoredLineResultSize(std::uint8_t EEPROMVersion);       // 28 or 24

struct TImageLineInfo {
    std::uint8_t LineCount = 0;
    std::uint8_t ImageSize = 0;
};

// One stored result.
struct TKyvoResults {
    TSaveInternalFlashResultList KyvoResultList;
    std::vector<float> ResultValues;  // one per result of its configuration
    TImageLineInfo ImgLineInfo;
    std::vector<TLineResult> LineData;  // every stored line, even beyond ten
    tByteBuffer ImageValues12;          // ImageSize * 3 / 2 bytes, packed 12-bit values
};

// One stored result configuration with its results.
struct TKyvoResultData {
    TSaveInternalFlashTestCfgList ResultCfg;
    TTestConfig TestCfg;  // defaults plus what the entry holds
    std::vector<TKyvoResults> Results;
};

// Where a ring lies in data memory and where its oldest entry is: the
// Start, Stop (last byte) and ReadPtr values of the volatile EEPROM record
// (StoredTestResultCfg* for the configuration ring, StoredTestResult* for the
// result ring).
struct TRingArea {
    std::uint16_t Start = 0;
    std::uint16_t Stop = 0;
    std::uint16_t ReadPtr = 0;
};

TRingArea ResultCfgRingArea(const TEEPROMVolatile& rec);
TRingArea ResultRingArea(const TEEPROMVolatile& rec);

// Ring contents put in order: the bytes from ReadPtr - Start first, wrapping
// to the ring's first byte. A buffer shorter than the ring is taken as
// zero-filled up to the ring's size.
tByteBuffer RotateRing(const tByteBuffer& ring, const TRingArea& area);

// What a walk over a ring met that the lists do not show.
struct TStoredReadReport {
    std::size_t Entries = 0;  // entries taken into the list
    // Configuration entries refused because their counts do not fit the
    // model (more than 10 results); their results match nothing.
    std::size_t RefusedConfigs = 0;
    // Configuration entries whose string bytes exceeded the 4000-byte area
    // and were cut at its end.
    std::size_t TruncatedStrings = 0;
    // Results whose ID matched no configuration.
    std::size_t Unmatched = 0;
    // The walk stopped at an entry that cannot be one (Size 0, or a
    // configuration Size shorter than its header) instead of at an end mark.
    bool Damaged = false;
};

// Rebuilds list from the result configuration ring. The walk ends at an ID
// of 0 or 255, at a damaged entry, or after one full pass of a ring without
// an end mark.
TStoredReadReport ReadStoredResultConfigs(const tByteBuffer& ring, const TRingArea& area,
                                          std::uint8_t EEPROMVersion,
                                          std::vector<TKyvoResultData>& list);

// Appends each stored result of the result ring to the first configuration of
// list with its ID. withLineData and withImage are the ResultsWithLineData
// and ResultsWithImage configuration bits.
TStoredReadReport ReadStoredResults(const tByteBuffer& ring, const TRingArea& area,
                                    std::uint8_t EEPROMVersion, bool withLineData, bool withImage,
                                    std::vector<TKyvoResultData>& list);

// The same, with the layout version, ring pointers and configuration bits
// taken from the EEPROM mirror.
TStoredReadReport ReadStoredResultConfigs(const tByteBuffer& ring, const TEEPROMMap& map,
                                          std::vector<TKyvoResultData>& list);
TStoredReadReport ReadStoredResults(const tByteBuffer& ring, const TEEPROMMap& map,
                                    std::vector<TKyvoResultData>& list);

}  // namespace kyvo
