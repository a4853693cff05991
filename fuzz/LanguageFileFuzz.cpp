// A language file from strangers: loaded, its heads enumerated into the
// language menu, every language selected and every text looked up, then
// saved and loaded again.
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

    for (int pass = 0; pass < 2; ++pass) {
        TLanguageFile language(path, false, &reporter);
        TConfigFile user(userPath, false, false, &reporter);
        const int heads = language.CountHeads();
        for (int i = 0; i <= heads + 1; ++i) fuzz::keep(language.GetHeadName(i));
        TLanguageMenu menu = BuildLanguageMenu(language, user);
        // Every language, but not without end: a file may bring thousands.
        for (std::size_t i = 0; i < menu.Items.size() && i < 8; ++i) {
            SelectLanguage(menu, i, language, user);
            for (const TLangEntry& e : kLanguageEntries) fuzz::keep(language.GetLanguageString(e));
            fuzz::keep(language.GetLanguageString(kLanguageEntries.back().ID + 1));
        }
        SelectLanguage(menu, menu.Items.size(), language, user);
        language.SetVal("Deutsch", 3, "Verbinden\r\n\"\\");
        language.save();
    }
    return 0;
}
