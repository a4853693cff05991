#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "app/AppFiles.h"

namespace kyvo {
namespace {

class TempFolder {
  public:
    TempFolder() {
        char name[] = "/tmp/kyvo-language-XXXXXX";
        if (::mkdtemp(name)) Path = name;
    }
    ~TempFolder() {
        if (!Path.empty()) std::filesystem::remove_all(Path);
    }
    std::string File(const std::string& name) const { return Path + "/" + name; }
    std::string Path;
};

// A file as a Linux editor saves it: UTF-8 with its mark, LF.
void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << "\xEF\xBB\xBF" << text;
}

TEST(LanguageShipping, aUserCopyLearnsTheShippedLanguageWithoutLosingItsOwnTexts) {
    TempFolder folder;
    Write(folder.File("shipped.ini"),
          "[Deutsch]\n1 = \"Sprache\"\n3 = \"Verbinden\"\n4 = \"Trennen\"\n"
          "[English]\n1 = \"Speech\"\n");
    Write(folder.File("user.ini"), "[English]\n1 = \"Language\"\n[Deutsch]\n4 = \"Abmelden\"\n");
    {
        TLanguageFile user(folder.File("user.ini"));
        const TLanguageFile shipped(folder.File("shipped.ini"), true);
        AddMissingTranslations(user, shipped);
        EXPECT_EQ(user.GetVal("Deutsch", "1"), "Sprache");
        EXPECT_EQ(user.GetVal("Deutsch", "3"), "Verbinden");
        EXPECT_EQ(user.GetVal("Deutsch", "4"), "Abmelden");  // the user's own word stays
        EXPECT_EQ(user.GetVal("English", "1"), "Language");  // English is never taken over
    }
    // Saved at the end like every language file, and read back the same.
    const TLanguageFile again(folder.File("user.ini"), true);
    EXPECT_EQ(again.GetVal("Deutsch", "3"), "Verbinden");
}

}  // namespace
}  // namespace kyvo
