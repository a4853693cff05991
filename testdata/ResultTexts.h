#pragma once

// A language entry (its number in the language file and its built-in
// English text), and the entries whose texts result rows carry. The language
// file's full list of entries builds on these.

#include <cstdint>
#include <string_view>

namespace kyvo {

struct TLangEntry {
    std::uint32_t ID;
    std::string_view Def;
};

inline constexpr TLangEntry LE_NotANumber{134, "Not a number"};
inline constexpr TLangEntry LE_Valid{203, "Valid"};
inline constexpr TLangEntry LE_Invalid{204, "Invalid"};
inline constexpr TLangEntry LE_KyvoExpired{205, "Kyvo expired"};
inline constexpr TLangEntry LE_Infinite{274, "Infinite"};

}  // namespace kyvo
