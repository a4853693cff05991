#include "protocol/ByteBuffer.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdio>

namespace kyvo {

void bufAddByte(tByteBuffer& buf, tCursor& cursor, std::uint8_t value) {
    if (buf.size() < static_cast<std::size_t>(cursor) + 1) buf.resize(static_cast<std::size_t>(cursor) + 1);
    buf[cursor] = value;
    ++cursor;
}

void bufAddWord(tByteBuffer& buf, tCursor& cursor, std::uint16_t value) {
    bufAddByte(buf, cursor, static_cast<std::uint8_t>(value));
    bufAddByte(buf, cursor, static_cast<std::uint8_t>(value >> 8));
}

void bufAddDWord(tByteBuffer& buf, tCursor& cursor, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bufAddByte(buf, cursor, static_cast<std::uint8_t>(value >> (8 * i)));
}

void bufAddSingle(tByteBuffer& buf, tCursor& cursor, float value) {
    bufAddDWord(buf, cursor, std::bit_cast<std::uint32_t>(value));
}

std::uint8_t bufReadByte(const tByteBuffer& buf, tCursor& cursor) {
    if (cursor >= buf.size()) return 0;
    return buf[cursor++];
}

std::uint16_t bufReadWord(const tByteBuffer& buf, tCursor& cursor) {
    std::uint16_t lo = bufReadByte(buf, cursor);
    std::uint16_t hi = bufReadByte(buf, cursor);
    return static_cast<std::uint16_t>(lo | (hi << 8));
}

std::uint32_t bufReadDWord(const tByteBuffer& buf, tCursor& cursor) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(bufReadByte(buf, cursor)) << (8 * i);
    return v;
}

float bufReadSingle(const tByteBuffer& buf, tCursor& cursor) {
    std::uint32_t lo = bufReadWord(buf, cursor);
    std::uint32_t hi = bufReadWord(buf, cursor);
    return std::bit_cast<float>(lo | (hi << 16));
}

std::uint32_t bufCopy(tByteBuffer& dest, const tByteBuffer& src, std::uint32_t count,
                      std::uint32_t srcIndex, std::uint32_t destIndex) {
    std::uint32_t remaining = srcIndex < src.size() ? static_cast<std::uint32_t>(src.size() - srcIndex) : 0;
    if (count == 0 || count > remaining) count = remaining;
    if (count == 0) return 0;
    std::size_t end = static_cast<std::size_t>(destIndex) + count;
    if (dest.size() < end) dest.resize(end);
    std::copy_n(src.begin() + srcIndex, count, dest.begin() + destIndex);
    return count;
}

void clearDateData(TDateData& d) { setDateData(d, 0, 1, 1, 0, 0, 0); }

void setDateData(TDateData& d, std::uint8_t yearByte, std::uint8_t month, std::uint8_t day,
                 std::uint8_t hour, std::uint8_t minute, std::uint8_t second) {
    d.Year = yearByte;
    d.Month = month;
    d.MonthDay = day;
    d.Hour = hour;
    d.Minutes = minute;
    d.Seconds = second;
}

void getDateData(const TDateData& d, std::uint8_t& yearByte, std::uint8_t& month,
                 std::uint8_t& day, std::uint8_t& hour, std::uint8_t& minute,
                 std::uint8_t& second) {
    yearByte = d.Year;
    month = d.Month;
    day = d.MonthDay;
    hour = d.Hour;
    minute = d.Minutes;
    second = d.Seconds;
}

std::string dateDataToNumberText(const TDateData& d) {
    std::uint32_t v = d.Data[0] | (d.Data[1] << 8) | (d.Data[2] << 16) |
                      (static_cast<std::uint32_t>(d.Data[3]) << 24);
    return std::to_string(v);
}

bool isValidDateData(const TDateData& d) {
    using namespace std::chrono;
    if (d.Year == 0 || d.Hour > 23 || d.Minutes > 59 || d.Seconds > 59) return false;
    return year_month_day{year{d.Year}, month{d.Month}, day{d.MonthDay}}.ok();
}

std::optional<std::int64_t> dateDataToSortTime(const TDateData& d) {
    using namespace std::chrono;
    if (!isValidDateData(d)) return std::nullopt;
    auto days = sys_days{year_month_day{year{d.Year}, month{d.Month}, day{d.MonthDay}}};
    return static_cast<std::int64_t>(days.time_since_epoch().count()) * 86400 + d.Hour * 3600 +
           d.Minutes * 60 + d.Seconds;
}

std::uint32_t toReaderDate(std::chrono::year_month_day date) {
    return (static_cast<std::uint32_t>(static_cast<unsigned>(date.day())) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned>(date.month())) << 16) |
           (static_cast<std::uint32_t>(static_cast<int>(date.year())) & 0xFFFF);
}

std::chrono::year_month_day fromReaderDate(std::uint32_t r) {
    using namespace std::chrono;
    return year_month_day{year{static_cast<int>(r & 0xFFFF)}, month{(r >> 16) & 0xFF},
                          day{(r >> 24) & 0xFF}};
}

std::string firmwareVersionText(const tFirmwareVersion& v) {
    char rev[16];
    std::snprintf(rev, sizeof rev, "%.3d", v.revision);
    std::string s = "V" + std::to_string(v.main) + "." + std::to_string(v.sub) + "." + rev;
    if (v.variant != 0) s += latin1ToUtf8(std::string_view(&v.variant, 1));
    if (v.branch != 0) s += "." + std::to_string(v.branch) + std::to_string(v.branchRevision);
    if (v.suffix != 0) s += latin1ToUtf8(std::string_view(&v.suffix, 1));
    return s;
}

std::string serialText(const tSerial& s) {
    return std::to_string(s.customer) + " " + std::to_string(s.project) + " " +
           intToStrPad(s.productionDate.ProductionYear, 2, '0') +
           intToStrPad(s.productionDate.ProductionWeek, 2, '0') + " " +
           intToStrPad(s.subSerial, 4, '0');
}

namespace {
std::uint32_t smallMask(std::uint16_t descriptor, unsigned bits) {
    unsigned w = descriptor & 0x0F;
    unsigned p = (descriptor >> 4) & 0xFF;
    if (w == 0 || w + p > bits) {
        // Out-of-range descriptors keep the bits that fall inside the container.
        if (w == 0 || p >= bits) return 0;
        w = bits - p;
    }
    std::uint32_t full = bits == 8 ? 0xFFu : 0xFFFFu;
    return ((full << (bits - w)) & full) >> (bits - w - p);
}
}  // namespace

std::uint8_t getBitField8(std::uint8_t value, std::uint16_t descriptor) {
    return static_cast<std::uint8_t>((value & smallMask(descriptor, 8)) >> ((descriptor >> 4) & 0xFF));
}

void setBitField8(std::uint8_t& value, std::uint16_t descriptor, std::uint8_t newValue) {
    unsigned p = (descriptor >> 4) & 0xFF;
    std::uint32_t shifted = p < 32 ? static_cast<std::uint32_t>(newValue) << p : 0;
    value = static_cast<std::uint8_t>((value & ~smallMask(descriptor, 8)) | shifted);
}

std::uint16_t getBitField16(std::uint16_t value, std::uint16_t descriptor) {
    unsigned p = (descriptor >> 4) & 0xFF;
    if (p >= 16) return 0;
    return static_cast<std::uint16_t>((value & smallMask(descriptor, 16)) >> p);
}

void setBitField16(std::uint16_t& value, std::uint16_t descriptor, std::uint16_t newValue) {
    unsigned p = (descriptor >> 4) & 0xFF;
    std::uint32_t shifted = p < 32 ? static_cast<std::uint32_t>(newValue) << p : 0;
    value = static_cast<std::uint16_t>((value & ~smallMask(descriptor, 16)) | shifted);
}

std::uint32_t getBitField32(std::uint32_t value, std::uint16_t descriptor) {
    unsigned w = descriptor & 0xFF;
    unsigned p = descriptor >> 8;
    if ((w == 0 || w == 32) && p == 0) return value;
    if (p >= 32) return 0;
    std::uint32_t mask = (0xFFFFFFFFu << ((32 - w) % 32)) >> ((32 - w - p) % 32);
    return (value & mask) >> p;
}

bool strToCardinal(std::string_view text, std::uint32_t& value) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty() || digits.front() == '+') return false;
    std::int64_t v = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (ec != std::errc{} || end != digits.data() + digits.size()) return false;
    if (v < 0 || v > 0xFFFFFFFFLL) return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

std::string upperCaseAscii(std::string_view text) {
    std::string s(text);
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string trimBlanks(std::string_view text) {
    auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return std::string(text);
    auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

std::string intToStrPad(std::int32_t number, int minWidth, char pad) {
    std::string s = std::to_string(number);
    if (static_cast<int>(s.size()) < minWidth) s.insert(0, static_cast<std::size_t>(minWidth) - s.size(), pad);
    return s;
}

std::string latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string utf8ToLatin1(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        int len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
        std::uint32_t cp = len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        bool ok = len > 1 && i + len <= text.size();
        for (int k = 1; ok && k < len; ++k) {
            unsigned char cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        out += ok && cp <= 0xFF ? static_cast<char>(cp) : '?';
        i += ok ? len : 1;
    }
    return out;
}

}  // namespace kyvo
