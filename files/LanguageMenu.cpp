#include "files/LanguageMenu.h"

#include "files/Settings.h"

namespace kyvo {

std::string StripAcceleratorMarks(std::string_view caption) {
    std::string out;
    out.reserve(caption.size());
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] != '&') {
            out += caption[i];
        } else if (i + 1 < caption.size() && caption[i + 1] == '&') {
            out += '&';
            ++i;
        }
    }
    return out;
}

namespace {

// The names a language's head may carry in a language file: its own name
// first, then the English one.
struct TLanguageNames {
    std::string_view Code;  // ISO 639-1
    std::string_view Names[2];
};
constexpr TLanguageNames kLanguageNames[] = {
    {"de", {"Deutsch", "German"}},
    {"en", {"English", "English"}},
    {"fr", {"Fran\u00E7ais", "French"}},
    {"es", {"Espa\u00F1ol", "Spanish"}},
    {"it", {"Italiano", "Italian"}},
    {"nl", {"Nederlands", "Dutch"}},
    {"pt", {"Portugu\u00EAs", "Portuguese"}},
    {"pl", {"Polski", "Polish"}},
    {"cs", {"\u010Ce\u0161tina", "Czech"}},
    {"da", {"Dansk", "Danish"}},
    {"sv", {"Svenska", "Swedish"}},
    {"fi", {"Suomi", "Finnish"}},
    {"hu", {"Magyar", "Hungarian"}},
    {"tr", {"T\u00FCrk\u00E7e", "Turkish"}},
};

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

}  // namespace

std::string DesktopMessagesLocale(const std::function<const char*(const char*)>& env) {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = env(name); value && *value) return value;
    return {};
}

std::size_t MenuItemForLocale(const std::vector<std::string>& items, std::string_view locale) {
    const std::string code = lowerAscii(locale.substr(0, locale.find_first_of("_.@")));
    for (const TLanguageNames& l : kLanguageNames) {
        if (l.Code != code) continue;
        for (std::size_t i = 0; i < items.size(); ++i) {
            const std::string item = lowerAscii(StripAcceleratorMarks(items[i]));
            for (std::string_view name : l.Names)
                if (item == lowerAscii(name)) return i;
        }
    }
    return 0;
}

TLanguageMenu BuildLanguageMenu(TLanguageFile& language, TConfigFile& user,
                                std::string_view desktopLocale) {
    TLanguageMenu menu;
    menu.Items.push_back("English");
    bool matched = false;
    if (language.IsValid()) {
        const int heads = language.CountHeads();
        for (int i = 1; i <= heads; ++i) {
            std::string name = language.GetHeadName(i);
            if (name != "English") menu.Items.push_back(std::move(name));
        }
        // A language the user picked wins; before that, the desktop's.
        if (user.GetVal("Setup", "Language").empty()) {
            language.CurrentLanguage =
                StripAcceleratorMarks(menu.Items[MenuItemForLocale(menu.Items, desktopLocale)]);
            StoreLanguageName(user, language.CurrentLanguage);
        } else {
            language.CurrentLanguage = ReadLanguageName(user);
        }
        for (std::size_t i = 0; i < menu.Items.size(); ++i) {
            if (menu.Items[i] == language.CurrentLanguage) {
                menu.Checked = i;
                matched = true;
                break;
            }
        }
    }
    if (!matched) {
        language.CurrentLanguage = "English";
        menu.Checked = 0;
    }
    return menu;
}

bool SelectLanguage(TLanguageMenu& menu, std::size_t index, TLanguageFile& language,
                    TConfigFile& user) {
    if (index >= menu.Items.size()) return false;
    language.CurrentLanguage = StripAcceleratorMarks(menu.Items[index]);
    menu.Checked = index;
    StoreLanguageName(user, language.CurrentLanguage);
    return true;
}

}  // namespace kyvo
