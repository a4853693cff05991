#pragma once

// The Language menu as data: the window only shows Items and ticks Checked.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "files/ConfigFile.h"
#include "files/LanguageFile.h"

namespace kyvo {

struct TLanguageMenu {
    std::vector<std::string> Items;  // "English" first, then the file's other heads
    std::size_t Checked = 0;
};

// Builds the menu and sets the language file's CurrentLanguage from
// "Setup"/"Language" (read only when the language file is valid). A stored
// language that is not in the menu selects English. With none stored yet
// (the first start), the item matching desktopLocale is chosen (English when
// none does) and stored.
TLanguageMenu BuildLanguageMenu(TLanguageFile& language, TConfigFile& user,
                                std::string_view desktopLocale = {});

// The locale the desktop shows messages in, as POSIX resolves it: the first
// of LC_ALL, LC_MESSAGES and LANG that is set and not empty; empty when none
// is. env looks a variable up (std::getenv in the program).
std::string DesktopMessagesLocale(const std::function<const char*(const char*)>& env);

// The index of the menu item in the language of locale ("de_DE.UTF-8",
// "de_AT", "de" -> the "Deutsch" item), 0 (English) when no item is in that
// language or the locale is C or POSIX.
std::size_t MenuItemForLocale(const std::vector<std::string>& items, std::string_view locale);

// The user picked item index: CurrentLanguage becomes its caption without
// accelerator marks, the item is ticked and "Setup"/"Language" stored. The
// caller then applies all texts again. An index outside the menu is ignored
// (returns false).
bool SelectLanguage(TLanguageMenu& menu, std::size_t index, TLanguageFile& language,
                    TConfigFile& user);

// "&Deutsch" -> "Deutsch", "R&&D" -> "R&D".
std::string StripAcceleratorMarks(std::string_view caption);

}  // namespace kyvo
