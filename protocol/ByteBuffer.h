// Byte buffers, device records and the small helpers every layer shares.
// All numbers are little-endian. A read past the end of a buffer yields 0
// and leaves the cursor where it is, so a parser fed a short buffer reads
// zeros for the missing fields and never fails.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kyvo {

using tByteBuffer = std::vector<std::uint8_t>;
using tCursor = std::uint32_t;

union U16 {
    std::uint16_t I;
    struct {
        std::uint8_t Lo;
        std::uint8_t Hi;
    };
};
static_assert(sizeof(U16) == 2);

// Appends grow the buffer to cursor + size (zero-filling any gap) and
// overwrite what is at the cursor; the cursor advances.
void bufAddByte(tByteBuffer& buf, tCursor& cursor, std::uint8_t value);
void bufAddWord(tByteBuffer& buf, tCursor& cursor, std::uint16_t value);
void bufAddDWord(tByteBuffer& buf, tCursor& cursor, std::uint32_t value);
void bufAddSingle(tByteBuffer& buf, tCursor& cursor, float value);

std::uint8_t bufReadByte(const tByteBuffer& buf, tCursor& cursor);
std::uint16_t bufReadWord(const tByteBuffer& buf, tCursor& cursor);
std::uint32_t bufReadDWord(const tByteBuffer& buf, tCursor& cursor);
float bufReadSingle(const tByteBuffer& buf, tCursor& cursor);

// Copies count bytes from src[srcIndex] to dest[destIndex], lengthening dest
// when needed. A count of 0, or one larger than what remains from srcIndex,
// becomes the rest of the source (none when srcIndex is past the end).
// Returns the count copied.
std::uint32_t bufCopy(tByteBuffer& dest, const tByteBuffer& src, std::uint32_t count,
                      std::uint32_t srcIndex, std::uint32_t destIndex);

inline std::uint32_t maxCardinal(std::uint32_t a, std::uint32_t b) { return a > b ? a : b; }
inline std::uint32_t minCardinal(std::uint32_t a, std::uint32_t b) { return a < b ? a : b; }

// The device's date: six bytes, the same in memory, on the wire and in
// stored records. Invalid dates are carried unchanged.
struct TDateData {
    union {
        struct {
            std::uint8_t Seconds;
            std::uint8_t Minutes;
            std::uint8_t Hour;
            std::uint8_t MonthDay;
            std::uint8_t Month;
            std::uint8_t Year;  // calendar year - 2000
        };
        std::array<std::uint8_t, 6> Data;
    };
    TDateData() : Data{} {}
    bool operator==(const TDateData& o) const { return Data == o.Data; }
};
static_assert(sizeof(TDateData) == 6);

void clearDateData(TDateData& d);  // 1 January 2000, 00:00:00
void setDateData(TDateData& d, std::uint8_t yearByte, std::uint8_t month, std::uint8_t day,
                 std::uint8_t hour, std::uint8_t minute, std::uint8_t second);
void getDateData(const TDateData& d, std::uint8_t& yearByte, std::uint8_t& month,
                 std::uint8_t& day, std::uint8_t& hour, std::uint8_t& minute,
                 std::uint8_t& second);
// Decimal text of bytes 0..3 read as one little-endian u32: what stands in
// for a date that is not a valid calendar date.
std::string dateDataToNumberText(const TDateData& d);
// A value that orders dates as the calendar does (seconds from an arbitrary
// epoch, the year byte taken as the year itself); none for bytes that form
// no valid date.
std::optional<std::int64_t> dateDataToSortTime(const TDateData& d);
bool isValidDateData(const TDateData& d);

// Reader date: day << 24 | month << 16 | full year.
std::uint32_t toReaderDate(std::chrono::year_month_day date);
std::chrono::year_month_day fromReaderDate(std::uint32_t readerDate);

struct tFirmwareVersion {
    std::uint8_t main = 0;
    std::uint8_t sub = 0;
    std::uint16_t revision = 0;
    char variant = 0;  // 0 = none
    std::uint8_t branch = 0;  // 0 = no branch
    std::uint16_t branchRevision = 0;
    char suffix = 0;  // 0 = none
};

union tProductionDate {
    std::uint16_t ProductionDate;
    struct {
        std::uint8_t ProductionYear;  // year - 2000
        std::uint8_t ProductionWeek;
    };
};
static_assert(sizeof(tProductionDate) == 2);

struct tSerial {
    std::uint16_t customer = 0;
    std::uint16_t project = 0;
    tProductionDate productionDate{0};
    std::uint16_t subSerial = 0;
    std::uint32_t kalmiSerial = 0;
};

// "V1.2.036", with variant, ".<branch><branchRevision>" and suffix when set.
std::string firmwareVersionText(const tFirmwareVersion& v);
// "12 3 1807 0042": customer, project, year+week, subSerial.
std::string serialText(const tSerial& s);

// Bit-field descriptors. Byte/word form: bits 0-3 width, bits 4-11 lowest
// bit. 32-bit form: bits 0-7 width, bits 8-15 lowest bit.
std::uint8_t getBitField8(std::uint8_t value, std::uint16_t descriptor);
void setBitField8(std::uint8_t& value, std::uint16_t descriptor, std::uint8_t newValue);
std::uint16_t getBitField16(std::uint16_t value, std::uint16_t descriptor);
void setBitField16(std::uint16_t& value, std::uint16_t descriptor, std::uint16_t newValue);
std::uint32_t getBitField32(std::uint32_t value, std::uint16_t descriptor);

// True and the value stored only when the whole text is a decimal integer
// (optional sign) in 0..4294967295; otherwise false, output untouched.
bool strToCardinal(std::string_view text, std::uint32_t& value);
std::string upperCaseAscii(std::string_view text);
// Strips leading and trailing U+0020 only; a text of blanks only is kept.
std::string trimBlanks(std::string_view text);
std::string intToStrPad(std::int32_t number, int minWidth, char pad);

// Device texts are bytes 0-255 meant as Latin-1; the program works in UTF-8.
std::string latin1ToUtf8(std::string_view bytes);
// UTF-8 back to Latin-1 bytes; characters beyond U+00FF become '?'.
std::string utf8ToLatin1(std::string_view text);

}  // namespace kyvo
