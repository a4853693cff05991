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

TLanguageMenu BuildLanguageMenu(TLanguageFile& language, TConfigFile& user) {
    TLanguageMenu menu;
    menu.Items.push_back("English");
    bool matched = false;
    if (language.IsValid()) {
        const int heads = language.CountHeads();
        for (int i = 1; i <= heads; ++i) {
            std::string name = language.GetHeadName(i);
            if (name != "English") menu.Items.push_back(std::move(name));
        }
        language.CurrentLanguage = ReadLanguageName(user);
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
