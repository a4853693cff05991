#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "files/GenFile.h"
#include "files/LanguageEntries.h"

namespace kyvo {

// The language file: one head per language, one item per entry ID holding
// the translated text. Lookups fall back on the built-in English text and
// write every text they had to fall back on under [English], so the file
// collects exactly what a translator has to translate.
class TLanguageFile : public TGenFile {
  public:
    explicit TLanguageFile(const std::string& FileName, bool ReadOnly = false,
                           IFileErrorReporter* reporter = nullptr)
        : TGenFile(FileName, false, ReadOnly, reporter) {}

    // Writes Val (quoted, escaped) as item Item under Head, keeping the items
    // in ascending numeric order; creates the head at the end when missing.
    void SetVal(std::string_view Head, std::uint32_t Item, std::string_view Val);
    // The decoded value, or empty when the head or item is missing.
    std::string GetVal(std::string_view Head, std::string_view Item) const;
    int CountHeads() const;
    // The name of the Index-th head line (from 1), or empty.
    std::string GetHeadName(int Index) const;
    bool IsValid() const { return FileValid; }

    // The text in CurrentLanguage; when that is missing or empty, the
    // built-in text, which is then also written under [English] (except for
    // the empty entry 9999).
    std::string GetLanguageString(const TLangEntry& entry);
    // Item Index of CurrentLanguage, else of [English], else empty. Never
    // writes.
    std::string GetLanguageString(std::uint32_t Index) const;

    std::string CurrentLanguage = "English";
};

}  // namespace kyvo
