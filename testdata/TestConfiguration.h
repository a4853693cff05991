// One test configuration: the in-memory model and its byte form, which is the
// same in the device's configuration memory, its stored configuration list,
// on RFID tags and in configuration files (*.bin). All numbers little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/ByteBuffer.h"

namespace kyvo {

inline constexpr std::size_t kMaxFilterValues = 15;
inline constexpr std::size_t kMaxTestLines = 10;
inline constexpr std::size_t kMaxResults = 10;
inline constexpr std::size_t kMaxClasses = 31;
inline constexpr std::size_t kCartridgeWhiteSize = 384;  // 256 values of 12 bits
inline constexpr std::size_t kMaxCartridgeImgSize = 256;
inline constexpr std::size_t kStringAreaSize = 4000;
inline constexpr std::size_t kCfgFixedPartSize = 52;  // up to the filter values
inline constexpr std::uint16_t kWhiteValueMissing = 600;

// Result codes of TestConfigFromBytes. Callers show 1..3 with the language
// entries 617, 587 and 625. kCfgCountsTooLarge is given for bytes whose
// counts or sizes do not fit the model (more than 10 lines or results, a
// white profile above 256 values, a string area above 4000 bytes): such bytes
// are corrupt, so callers show it with entry 625 as well.
inline constexpr std::uint8_t kCfgOk = 0;
inline constexpr std::uint8_t kCfgNoConfig = 1;
inline constexpr std::uint8_t kCfgWrongVersion = 2;
inline constexpr std::uint8_t kCfgChecksum = 3;
inline constexpr std::uint8_t kCfgCountsTooLarge = 4;

// Bit-field descriptors (width in bits 0-3, lowest bit in bits 4-11).
inline constexpr std::uint16_t kBfLineCount = 0x04;
inline constexpr std::uint16_t kBfFilterWidth = 0x44;
inline constexpr std::uint16_t kBfResultCount = 0x04;
inline constexpr std::uint16_t kBfClassCount = 0x85;
inline constexpr std::uint16_t kBfZeroWhite = 0x41;
inline constexpr std::uint16_t kBfReferenceLine = 0x01;
inline constexpr std::uint16_t kBfShowValue = 0x01;
inline constexpr std::uint16_t kBfShowClass = 0x11;
inline constexpr std::uint16_t kBfValidDigits = 0x04;
inline constexpr std::uint16_t kBfDecimalPlaces = 0x44;
inline constexpr std::uint16_t kBfClassNumber = 0x03;
inline constexpr std::uint16_t kBfFirstClass = 0x35;

struct UUniqueTestID {
    std::uint16_t CustomerID = 0;
    std::uint16_t ProjectID = 0;
    std::uint16_t TestType = 0;
    std::uint16_t TestNu = 0;
    bool operator==(const UUniqueTestID&) const = default;
};

struct TTestOEMSection {
    std::uint16_t PtrTestName = 0;
    std::uint16_t PtrLotNr = 0;
    std::uint16_t PtrDistributorManufacturer = 0;
    TDateData ExpiryDate;
};

// LineCount (bits 0-3) and FilterWidth (bits 4-7).
struct ULineFilterCfg {
    std::uint8_t Data = 0;
    std::uint8_t LineCount() const { return getBitField8(Data, kBfLineCount); }
    std::uint8_t FilterWidth() const { return getBitField8(Data, kBfFilterWidth); }
    void SetLineCount(std::uint8_t n) { setBitField8(Data, kBfLineCount, n); }
    void SetFilterWidth(std::uint8_t n) { setBitField8(Data, kBfFilterWidth, n); }
};

// ResultCount (bits 0-3) and ClassCount (bits 8-12).
struct UResultClassCountCfg {
    std::uint16_t Data = 0;
    std::uint8_t ResultCount() const {
        return static_cast<std::uint8_t>(getBitField16(Data, kBfResultCount));
    }
    std::uint8_t ClassCount() const {
        return static_cast<std::uint8_t>(getBitField16(Data, kBfClassCount));
    }
    void SetResultCount(std::uint8_t n) { setBitField16(Data, kBfResultCount, n); }
    void SetClassCount(std::uint8_t n) { setBitField16(Data, kBfClassCount, n); }
};

// Bit 4: the white profile is a fixed block of 384 zero bytes.
struct UCaptureConfig {
    std::uint8_t Data = 0;
    bool ZeroWhite() const { return getBitField8(Data, kBfZeroWhite) != 0; }
    void SetZeroWhite(bool on) { setBitField8(Data, kBfZeroWhite, on ? 1 : 0); }
};

struct TTestCaptureSection {
    std::uint8_t ImageCount = 2;
    std::uint16_t TimerCount = 0;
    ULineFilterCfg LineCntFilterWidth;
    UResultClassCountCfg ResultClassCnt;
    std::uint16_t StringSize = 0;
    std::uint16_t CartridgeImgSize = 0;
    std::uint16_t PtrTestInvalidText = 0;
    std::uint16_t PtrTouringProgram = 0;
    UCaptureConfig CaptureConfig;
};

struct TAutoMeasureSection {
    std::uint16_t StartDelay = 0;
    std::uint8_t MeasureInterval = 10;
    std::uint8_t ImageCount = 2;
    std::uint8_t ReferenceResult = 0;
    std::uint8_t RepeatedConstResultCount = 1;
    float DeltaResult = 0;
    float LastResult = 0;
};

struct TTestLineEntry {
    std::uint8_t LineFlags = 0;        // bit 0: reference line
    std::int16_t NominalPosition = 0;  // relative to RelativeBase
    std::uint8_t Width = 0;            // always even
    std::uint8_t SearchWidth = 0;      // always even
    std::uint16_t SearchMinValue = 0;
    std::uint16_t MinValue = 0;
    std::int16_t RelativeBase = 0;  // in memory only: absolute position of the preceding reference
    bool IsReference() const { return getBitField8(LineFlags, kBfReferenceLine) != 0; }
    std::int32_t AbsolutePosition() const { return NominalPosition + RelativeBase; }
};

struct TTestResultEntry {
    std::uint8_t ResultFlags = 1;  // bit 0 show value, bit 1 show class
    float LowerLimit = 0.0f;
    float UpperLimit = 10000.0f;
    std::uint8_t DigitCfg = 0x12;  // bits 0-3 valid digits, bits 4-7 decimal places
    std::uint8_t ClassRef = 0;     // bits 0-2 class count, bits 3-7 first class
    std::uint16_t PtrResultName = 0;
    std::uint16_t PtrResultUnit = 0;

    bool ShowValue() const { return getBitField8(ResultFlags, kBfShowValue) != 0; }
    bool ShowClass() const { return getBitField8(ResultFlags, kBfShowClass) != 0; }
    std::uint8_t ValidDigits() const { return getBitField8(DigitCfg, kBfValidDigits); }
    std::uint8_t DecimalPlaces() const { return getBitField8(DigitCfg, kBfDecimalPlaces); }
    std::uint8_t ClassNumber() const { return getBitField8(ClassRef, kBfClassNumber); }
    std::uint8_t FirstClass() const { return getBitField8(ClassRef, kBfFirstClass); }
};

struct TTestClassEntry {
    float LowerThan = 0.0f;
    std::uint16_t PtrClassName = 0;
};

inline constexpr std::size_t kLineEntryStoredSize = 9;
inline constexpr std::size_t kResultEntrySize = 15;
inline constexpr std::size_t kClassEntrySize = 6;

// Readers and writers of the fixed records, shared with the stored result
// configurations. Reads past the end yield zeros.
void ReadResultEntry(const tByteBuffer& buf, tCursor& cursor, TTestResultEntry& entry);
void WriteResultEntry(tByteBuffer& buf, tCursor& cursor, const TTestResultEntry& entry);
void ReadClassEntry(const tByteBuffer& buf, tCursor& cursor, TTestClassEntry& entry);
void WriteClassEntry(tByteBuffer& buf, tCursor& cursor, const TTestClassEntry& entry);
void ReadTestID(const tByteBuffer& buf, tCursor& cursor, UUniqueTestID& id);

// The four parts in decimal, joined by one blank each or directly.
std::string TestIDToText(const UUniqueTestID& id, bool withSeparator);

class TTestConfig {
  public:
    TTestConfig() { Reset(); }

    std::uint8_t Version;
    std::uint16_t CfgSize;
    UUniqueTestID TestID;
    TTestOEMSection OemSection;
    TTestCaptureSection CaptureSection;
    TAutoMeasureSection AutoMeasureSection;
    std::array<float, kMaxFilterValues> FilterCoefficient;
    std::array<TTestLineEntry, kMaxTestLines> LineSection;
    std::array<TTestResultEntry, kMaxResults> ResultSection;
    std::array<TTestClassEntry, kMaxClasses> ClassSection;
    std::array<std::uint8_t, kCartridgeWhiteSize> CartridgeWhite;
    std::array<std::uint8_t, kStringAreaSize> StringData;
    std::uint32_t CheckSum;
    std::uint16_t CreditCount;

    // Defaults: version 2, everything zero but the documented values, and the
    // text "FAIL" at string offset 1 as the invalid-test text.
    void Reset();

    std::uint8_t LineCount() const { return CaptureSection.LineCntFilterWidth.LineCount(); }
    std::uint8_t FilterWidth() const { return CaptureSection.LineCntFilterWidth.FilterWidth(); }
    std::uint8_t ResultCount() const { return CaptureSection.ResultClassCnt.ResultCount(); }
    std::uint8_t ClassCount() const { return CaptureSection.ResultClassCnt.ClassCount(); }

    // Byte forms equal in length and every byte.
    bool CompareTo(const TTestConfig& CompareConfig) const;
    // At least one line and one result, and a result assignment program.
    bool IsValid() const;

    // The text at Pos, up to the first zero byte or StringSize; bytes are
    // returned as they are (Latin-1). Pos 0, or a Pos at or past StringSize,
    // gives the empty text.
    std::string ReadStringData(std::uint16_t Pos) const;
    // Stores Str (its bytes) at Pos, sets StringSize = Pos + length + 1 and
    // returns Pos + length; when it does not fit the area, nothing changes and
    // the area size is returned.
    std::uint16_t AddStrPtrToCfg(std::string_view Str, std::uint16_t Pos);
    // -2 for an empty Str; the offset of its first occurrence as a whole
    // stored text (zero byte before it, zero byte or the area's end after it);
    // else -1.
    int IsInStringData(std::string_view Str) const;

    // Packed 12-bit white value Idx; 600 when Idx >= CartridgeImgSize.
    std::uint16_t Get12BitWhite(std::uint16_t Idx) const;
    // Stores the low 12 bits of Value, keeping the neighbouring nibble. An
    // Idx beyond the profile's 256 values changes nothing.
    void Set12BitWhite(std::uint16_t Idx, std::uint16_t Value);

    // Editing operations; an index at or beyond the count is ignored.
    void DeleteTestLine(std::size_t Idx);
    void DeleteFilter(std::size_t Idx);
    void DeleteResult(std::size_t Idx);
    void DeleteClass(std::size_t Idx);
    // Adds a cleared class to result ResultIdx. Returns false, changing
    // nothing, for an index at or beyond ResultCount, when all 31 classes are
    // in use, when the result already has the 7 classes its field holds, or
    // when its classes reach past the ClassCount classes in use.
    bool InsertClass(std::size_t ResultIdx);
    // Recomputes RelativeBase from the reference flags, keeping every line's
    // absolute position.
    void AdjustRelativeLinePos();
};

// Byte form of cfg; also stores the new CfgSize and CheckSum in cfg.
void TestConfigToBytes(TTestConfig& cfg, tByteBuffer& out);
// Resets cfg and parses bytes into it; returns one of the kCfg* codes. On a
// failure cfg keeps what was parsed so far (never more than its arrays hold).
std::uint8_t TestConfigFromBytes(const tByteBuffer& bytes, TTestConfig& cfg);

// Value k of a packed 12-bit profile (two values per three bytes); bytes
// missing at the end read as zero.
std::uint16_t Unpack12Bit(const std::uint8_t* data, std::size_t size, std::size_t k);

// One entry of the device's stored configuration list.
struct TStoredConfigEntry {
    std::size_t Offset = 0;  // of its Version byte in the list
    TTestConfig Config;
    std::string Text;  // test name, " - ", lot number, as UTF-8
};

struct TStoredConfigList {
    std::vector<TStoredConfigEntry> Entries;
    // Entries whose bytes did not parse; they are left out of Entries.
    std::size_t Skipped = 0;
    // True when the walk stopped at an entry whose CfgSize cannot be a
    // configuration (below 3) or that runs past the list's end.
    bool Damaged = false;
};

// Walks the stored configuration list from offset 0 until a Version byte of
// 0, 1 or 255, or the end of the bytes.
TStoredConfigList ReadStoredConfigList(const tByteBuffer& list);

}  // namespace kyvo
