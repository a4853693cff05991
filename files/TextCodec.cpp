#include "files/TextCodec.h"

#include <cstdint>

namespace kyvo {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Windows-1252 0x80..0x9F; the five holes map to the C1 code of the same
// value, as the Windows conversion does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Reads one code point from UTF-8 at pos and advances pos; a broken sequence
// yields U+FFFD and advances by one byte.
char32_t nextCodePoint(std::string_view s, std::size_t& pos) {
    const auto b0 = static_cast<std::uint8_t>(s[pos]);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        ++pos;
        return kReplacement;
    }
    if (pos + static_cast<std::size_t>(extra) >= s.size()) {
        ++pos;
        return kReplacement;
    }
    for (int i = 1; i <= extra; ++i) {
        const auto b = static_cast<std::uint8_t>(s[pos + i]);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return kReplacement;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return kReplacement;
    }
    pos += extra + 1;
    return cp;
}

void appendUtf16(std::u16string& out, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

std::string utf16BytesToUtf8(std::string_view bytes, bool bigEndian) {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<std::uint8_t>(bytes[i]);
        const auto b = static_cast<std::uint8_t>(bytes[i + 1]);
        units.push_back(static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a));
    }
    std::string out = utf16ToUtf8(units);
    if (bytes.size() % 2 != 0) appendUtf8(out, kReplacement);
    return out;
}

// Whether bytes are well-formed UTF-8 throughout (a literal U+FFFD counts).
bool isWellFormedUtf8(std::string_view bytes) {
    for (std::size_t pos = 0; pos < bytes.size();) {
        const std::size_t start = pos;
        if (nextCodePoint(bytes, pos) == kReplacement &&
            bytes.substr(start, pos - start) != "\xEF\xBF\xBD")
            return false;
    }
    return true;
}

std::string utf8Sanitised(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t pos = 0; pos < bytes.size();) appendUtf8(out, nextCodePoint(bytes, pos));
    return out;
}

}  // namespace

void appendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::u32string utf8ToCodePoints(std::string_view utf8) {
    std::u32string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) out.push_back(nextCodePoint(utf8, pos));
    return out;
}

std::u16string utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) appendUtf16(out, nextCodePoint(utf8, pos));
    return out;
}

std::string utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char16_t u = utf16[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                                (static_cast<char32_t>(utf16[i + 1]) - 0xDC00));
            ++i;
        } else {
            appendUtf8(out, u);  // a lone surrogate becomes U+FFFD there
        }
    }
    return out;
}

std::string windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        appendUtf8(out, (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : char32_t{b});
    }
    return out;
}

std::string decodeText(std::string_view bytes) {
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return utf8Sanitised(bytes.substr(3));
    if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE")
        return utf16BytesToUtf8(bytes.substr(2), false);
    if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF")
        return utf16BytesToUtf8(bytes.substr(2), true);
    // Editors on Linux save UTF-8 without a mark; Windows-1252 text with any
    // byte above 0x7F is almost never well-formed UTF-8, so the order of the
    // two guesses is safe.
    if (isWellFormedUtf8(bytes)) return std::string(bytes);
    return windows1252ToUtf8(bytes);
}

std::vector<std::string_view> splitLineViews(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::vector<std::string> splitLines(std::string_view text) {
    const std::vector<std::string_view> views = splitLineViews(text);
    return std::vector<std::string>(views.begin(), views.end());
}

std::vector<std::string> decodeTextLines(std::string_view bytes) {
    return splitLines(decodeText(bytes));
}

namespace {

template <typename Lines>
std::string encodeLines(const Lines& lines) {
    std::size_t units = 1;
    for (const auto& line : lines) units += line.size() + 2;
    std::string out;
    // One UTF-16 unit per UTF-8 byte at most: the output is allocated once.
    out.reserve(2 * units);
    out += "\xFF\xFE";
    auto put = [&out](char16_t u) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    };
    for (const auto& line : lines) {
        for (char16_t u : utf8ToUtf16(line)) put(u);
        put(u'\r');
        put(u'\n');
    }
    return out;
}

}  // namespace

std::string encodeTextLines(const std::vector<std::string>& lines) {
    return encodeLines(lines);
}

std::string encodeTextLineViews(const std::vector<std::string_view>& lines) {
    return encodeLines(lines);
}

}  // namespace kyvo
