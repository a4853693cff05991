#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "files/GenFile.h"

namespace kyvo {

// A settings file: typed items under heads. Reading an item that is missing
// or not valid for its type writes the default into the lines (not to disk),
// so a settings file documents every item the program asks for.
class TConfigFile : public TGenFile {
  public:
    using TGenFile::TGenFile;

    void SetVal(std::string_view Head, std::string_view Item, std::int32_t Val);
    void SetVal(std::string_view Head, std::string_view Item, bool Val);
    void SetVal(std::string_view Head, std::string_view Item, std::string_view Val);
    void SetVal(std::string_view Head, std::string_view Item, const char* Val) {
        SetVal(Head, Item, std::string_view(Val));
    }

    // Missing, empty or not a signed 32-bit number (decimal, or hexadecimal
    // after $, x, X, 0x or 0X, sign first): writes and returns Default.
    std::int32_t GetVal(std::string_view Head, std::string_view Item, std::int32_t Default);
    // Missing, empty or neither TRUE nor FALSE (ASCII case ignored): writes
    // and returns Default.
    bool GetVal(std::string_view Head, std::string_view Item, bool Default);
    // Missing: writes and returns Default. Present but empty: returns Default
    // and writes nothing.
    std::string GetVal(std::string_view Head, std::string_view Item, std::string_view Default);
    std::string GetVal(std::string_view Head, std::string_view Item, const char* Default) {
        return GetVal(Head, Item, std::string_view(Default));
    }
    // The text, or empty when missing; never writes.
    std::string GetVal(std::string_view Head, std::string_view Item) const;
    // True exactly when the value reads TRUE (ASCII case ignored); never writes.
    bool GetBool(std::string_view Head, std::string_view Item) const;
};

// The integer rule of settings files: the whole text is a signed 32-bit
// number.
bool parseSettingInteger(std::string_view text, std::int32_t& value);

}  // namespace kyvo
