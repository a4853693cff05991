#pragma once

// The Language menu as data: the window only shows Items and ticks Checked.

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
// language that is not in the menu selects English.
TLanguageMenu BuildLanguageMenu(TLanguageFile& language, TConfigFile& user);

// The user picked item index: CurrentLanguage becomes its caption without
// accelerator marks, the item is ticked and "Setup"/"Language" stored. The
// caller then applies all texts again. An index outside the menu is ignored
// (returns false).
bool SelectLanguage(TLanguageMenu& menu, std::size_t index, TLanguageFile& language,
                    TConfigFile& user);

// "&Deutsch" -> "Deutsch", "R&&D" -> "R&D".
std::string StripAcceleratorMarks(std::string_view caption);

}  // namespace kyvo
