#include "files/ConfigFile.h"

#include <limits>

#include "protocol/ByteBuffer.h"

namespace kyvo {

bool parseSettingInteger(std::string_view text, std::int32_t& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    unsigned base = 10;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return false;
    const std::uint64_t limit =
        negative ? std::uint64_t{1} << 31 : std::uint64_t{std::numeric_limits<std::int32_t>::max()};
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        magnitude = magnitude * base + digit;
        if (magnitude > limit) return false;
    }
    value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                     : static_cast<std::int32_t>(magnitude);
    return true;
}

void TConfigFile::SetVal(std::string_view Head, std::string_view Item, std::int32_t Val) {
    PutItem(Head, Item, std::to_string(Val));
}

void TConfigFile::SetVal(std::string_view Head, std::string_view Item, bool Val) {
    PutItem(Head, Item, Val ? "true" : "false");
}

void TConfigFile::SetVal(std::string_view Head, std::string_view Item, std::string_view Val) {
    PutItem(Head, Item, QuotedValue(Val));
}

std::int32_t TConfigFile::GetVal(std::string_view Head, std::string_view Item,
                                 std::int32_t Default) {
    std::string text;
    std::int32_t value = 0;
    if (FindValue(Head, Item, text) && parseSettingInteger(text, value)) return value;
    SetVal(Head, Item, Default);
    return Default;
}

bool TConfigFile::GetVal(std::string_view Head, std::string_view Item, bool Default) {
    std::string text;
    if (FindValue(Head, Item, text)) {
        const std::string upper = upperCaseAscii(text);
        if (upper == "TRUE") return true;
        if (upper == "FALSE") return false;
    }
    SetVal(Head, Item, Default);
    return Default;
}

std::string TConfigFile::GetVal(std::string_view Head, std::string_view Item,
                                std::string_view Default) {
    std::string text;
    if (!FindValue(Head, Item, text)) {
        SetVal(Head, Item, Default);
        return std::string(Default);
    }
    return text.empty() ? std::string(Default) : text;
}

std::string TConfigFile::GetVal(std::string_view Head, std::string_view Item) const {
    std::string text;
    FindValue(Head, Item, text);
    return text;
}

bool TConfigFile::GetBool(std::string_view Head, std::string_view Item) const {
    std::string text;
    return FindValue(Head, Item, text) && upperCaseAscii(text) == "TRUE";
}

}  // namespace kyvo
