// What the controller needs from the files layer, in the controller's own
// terms: the two key files and the language texts. FileServices.h binds
// them to the real settings and language files; tests may use in-memory
// ones.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "files/LanguageEntries.h"

namespace kyvo {

// One key file (head / item / value). Reading a missing or invalid item
// returns the default (and may write it back, as the settings files do).
class IKeyStore {
  public:
    virtual ~IKeyStore() = default;
    virtual std::string GetText(const std::string& head, const std::string& item,
                                const std::string& def) = 0;
    // A text item without default: empty when missing, nothing written back.
    virtual std::string GetTextNoDefault(const std::string& head, const std::string& item) = 0;
    virtual int GetInt(const std::string& head, const std::string& item, int def) = 0;
    virtual bool GetBool(const std::string& head, const std::string& item, bool def) = 0;
    virtual void SetText(const std::string& head, const std::string& item,
                         const std::string& value) = 0;
    virtual void SetInt(const std::string& head, const std::string& item, int value) = 0;
    virtual void SetBool(const std::string& head, const std::string& item, bool value) = 0;
};

class ILanguage {
  public:
    virtual ~ILanguage() = default;
    // The entry's text in the selected language, the built-in text otherwise.
    virtual std::string Text(const TLangEntry& entry) = 0;
};

}  // namespace kyvo
