// A language file from strangers: loaded, its heads enumerated into the
// language menu, languages selected and texts looked up, then saved and
// loaded again.
#include <cstdint>
#include <string>

#include "files/ConfigFile.h"
#include "files/LanguageFile.h"
#include "files/LanguageMenu.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/KeyFileSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kyvo;
    const std::string folder = fuzz::scratchFolder();
    const std::string path = folder + "language.ini";
    const std::string userPath = folder + "DRConfig-language.ini";
    fuzz::writeFile(path, data, size);
    fuzz::writeFile(userPath, nullptr, 0);
    fuzz::QuietReporter reporter;

    {
        TLanguageFile language(path, false, &reporter);
        TConfigFile user(userPath, false, false, &reporter);
        const int heads = language.CountHeads();
        for (int i = 0; i <= heads + 1; ++i) fuzz::keep(language.GetHeadName(i));
        TLanguageMenu menu = BuildLanguageMenu(language, user);
        // Every text in the chosen language, as the window applies them; a
        // few of each other language (every text of each would make each
        // run too slow to find much).
        for (const TLangEntry& e : kLanguageEntries) fuzz::keep(language.GetLanguageString(e));
        for (std::size_t i = 0; i < menu.Items.size() && i < 4; ++i) {
            SelectLanguage(menu, i, language, user);
            for (std::size_t k = i; k < kLanguageEntries.size(); k += 29)
                fuzz::keep(language.GetLanguageString(kLanguageEntries[k]));
            fuzz::keep(language.GetLanguageString(kLanguageEntries.back().ID + 1));
        }
        SelectLanguage(menu, menu.Items.size(), language, user);
        language.SetVal("Deutsch", 3, "Verbinden\r\n\"\\");
        language.save();
    }
    // What was saved loads again.
    TLanguageFile again(path, true, &reporter);
    fuzz::keep(again.GetVal("Deutsch", "3"));
    return 0;
}
