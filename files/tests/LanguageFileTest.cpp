#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "files/ConfigFile.h"
#include "files/LanguageFile.h"
#include "files/LanguageMenu.h"
#include "files/tests/FileTestSupport.h"
#include "files/tests/TempFolder.h"

namespace kyvo {
namespace {

using Lines = std::vector<std::string>;

class LanguageFileTest : public ::testing::Test {
  protected:
    TempFolder dir;
    RecordingReporter reporter;
    std::string path = dir.file("language.ini");

    std::unique_ptr<TLanguageFile> languageWith(const Lines& lines) {
        writeLines(path, lines);
        return std::make_unique<TLanguageFile>(path, false, &reporter);
    }
};

TEST_F(LanguageFileTest, numberedItemsAreInsertedInAscendingOrder) {
    struct Case {
        std::uint32_t item;
        Lines expected;
    };
    const Lines start = {"[English]",     "3 = \"three\"", "# note",
                         "7 = \"seven\"", "[Deutsch]",     "1 = \"eins\""};
    const Case cases[] = {
        {5,
         {"[English]", "3 = \"three\"", "5 = \"new\"", "# note", "7 = \"seven\"", "[Deutsch]",
          "1 = \"eins\""}},
        {7, {"[English]", "3 = \"three\"", "# note", "7 = \"new\"", "[Deutsch]", "1 = \"eins\""}},
        {9,
         {"[English]", "3 = \"three\"", "# note", "7 = \"seven\"", "9 = \"new\"", "[Deutsch]",
          "1 = \"eins\""}},
        {2,
         {"[English]", "2 = \"new\"", "3 = \"three\"", "# note", "7 = \"seven\"", "[Deutsch]",
          "1 = \"eins\""}},
    };
    for (const Case& c : cases) {
        auto file = languageWith(start);
        file->SetVal("english", c.item, "new");
        EXPECT_EQ(c.expected, file->Lines) << c.item;
        file->FileValid = false;
    }
    auto file = languageWith(start);
    file->SetVal("Français", 4, "quatre \"4\"");
    EXPECT_EQ((Lines{"", "[Français]", "4 = \"quatre \\\"4\\\"\""}),
              Lines(file->Lines.end() - 3, file->Lines.end()));
    file->FileValid = false;
}

TEST_F(LanguageFileTest, firstStartWithoutFileLearnsEveryShownTextInAscendingOrder) {
    {
        TLanguageFile file(path, false, &reporter);
        EXPECT_TRUE(file.IsValid());
        EXPECT_EQ("Cancel", file.GetLanguageString(LE_Cancel));
        EXPECT_EQ("Language", file.GetLanguageString(LE_Language));
        EXPECT_EQ("", file.GetLanguageString(LE_Empty));
        EXPECT_EQ("OK", file.GetLanguageString(LE_OK));
        EXPECT_EQ("Cancel", file.GetLanguageString(LE_Cancel));
    }
    EXPECT_EQ((Lines{"", "[English]", "1 = \"Language\"", "15 = \"Cancel\"", "114 = \"OK\""}),
              fileLines(path));
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(LanguageFileTest, missingTranslationShowsTheBuiltInTextAndLearnsItUnderEnglish) {
    auto file = languageWith({"[English]", "15 = \"Abort\"", "114 = \"Okay\"", "[Deutsch]",
                              "114 = \"Gut\"", "15 = \"\""});
    file->CurrentLanguage = "Deutsch";
    EXPECT_EQ("Gut", file->GetLanguageString(LE_OK));
    EXPECT_EQ("Cancel", file->GetLanguageString(LE_Cancel));
    EXPECT_EQ("Cancel", file->GetVal("English", "15"));
    EXPECT_EQ("Okay", file->GetVal("English", "114"));

    // The English head is used as such only while English is current.
    file->CurrentLanguage = "English";
    EXPECT_EQ("Okay", file->GetLanguageString(LE_OK));

    // The numeric lookup falls back on English and never writes.
    file->CurrentLanguage = "Deutsch";
    const Lines before = file->Lines;
    EXPECT_EQ("Gut", file->GetLanguageString(114u));
    EXPECT_EQ("Cancel", file->GetLanguageString(15u));
    EXPECT_EQ("", file->GetLanguageString(4u));
    EXPECT_EQ(before, file->Lines);
    file->FileValid = false;
}

TEST_F(LanguageFileTest, textsWithLineBreaksAreStoredEscapedAndShownWithTheBreak) {
    {
        TLanguageFile file(path, false, &reporter);
        file.GetLanguageString(LE_FileInUse);
    }
    const Lines lines = fileLines(path);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(
        "556 = \"The file is currently in use by another application.\\n\\rPlease close the "
        "application and try again.\"",
        lines[2]);
    TLanguageFile again(path, false, &reporter);
    EXPECT_EQ(LE_FileInUse.Def, again.GetLanguageString(556u));
}

TEST_F(LanguageFileTest, headsAreCountedAndNamedInFileOrder) {
    auto file = languageWith({"; x", "[English]", "1 = \"a\"", "[Deutsch] # de", "[ ]", "[Polski"});
    EXPECT_EQ(3, file->CountHeads());
    EXPECT_EQ("English", file->GetHeadName(1));
    EXPECT_EQ("Deutsch", file->GetHeadName(2));
    EXPECT_EQ("Polski", file->GetHeadName(3));
    EXPECT_EQ("", file->GetHeadName(4));
    EXPECT_EQ("", file->GetHeadName(0));
    file->FileValid = false;
}

class LanguageMenuTest : public LanguageFileTest {
  protected:
    std::string configPath = dir.file("DRConfig.ini");
    std::unique_ptr<TConfigFile> config;

    void SetUp() override {
        writeLines(configPath, {});
        config = std::make_unique<TConfigFile>(configPath, true, false, &reporter);
    }
};

TEST_F(LanguageMenuTest, menuListsEnglishFirstThenEveryOtherHeadAndChecksTheStoredOne) {
    auto file = languageWith({"[Deutsch]", "[English]", "[english]", "[Polski]"});
    config->SetVal("Setup", "Language", "Polski");
    const TLanguageMenu menu = BuildLanguageMenu(*file, *config);
    EXPECT_EQ((Lines{"English", "Deutsch", "english", "Polski"}), menu.Items);
    EXPECT_EQ(3u, menu.Checked);
    EXPECT_EQ("Polski", file->CurrentLanguage);
    file->FileValid = false;
}

TEST_F(LanguageMenuTest, storedLanguageThatIsGoneOrAnInvalidFileSelectsEnglish) {
    auto file = languageWith({"[Deutsch]"});
    config->SetVal("Setup", "Language", "Klingon");
    TLanguageMenu menu = BuildLanguageMenu(*file, *config);
    EXPECT_EQ((Lines{"English", "Deutsch"}), menu.Items);
    EXPECT_EQ(0u, menu.Checked);
    EXPECT_EQ("English", file->CurrentLanguage);
    file->FileValid = false;

    TLanguageFile invalid(dir.file("none/language.ini"), false, &reporter);
    TConfigFile fresh(dir.file("fresh.ini"), true, false, &reporter);
    menu = BuildLanguageMenu(invalid, fresh);
    EXPECT_EQ(Lines{"English"}, menu.Items);
    EXPECT_EQ("English", invalid.CurrentLanguage);
    EXPECT_EQ("", fresh.GetVal("Setup", "Language"));  // not read, so not written
}

TEST_F(LanguageMenuTest, pickingALanguageSwitchesTextsAndStoresTheChoice) {
    auto file = languageWith({"[R&&D]", "15 = \"Abbruch\""});
    TLanguageMenu menu = BuildLanguageMenu(*file, *config);
    EXPECT_EQ("English", config->GetVal("Setup", "Language"));  // default written back
    ASSERT_TRUE(SelectLanguage(menu, 1, *file, *config));
    EXPECT_EQ(1u, menu.Checked);
    EXPECT_EQ("R&D", file->CurrentLanguage);
    EXPECT_EQ("R&D", config->GetVal("Setup", "Language"));
    EXPECT_FALSE(SelectLanguage(menu, 2, *file, *config));
    EXPECT_EQ("&x", StripAcceleratorMarks("&&&x"));
    EXPECT_EQ("Deutsch", StripAcceleratorMarks("&Deutsch"));
    file->FileValid = false;
}

TEST_F(LanguageMenuTest, theFirstStartSpeaksTheDesktopsLanguageWhenItShips) {
    struct Case {
        const char* locale;
        const char* chosen;
    } cases[] = {
        {"de_DE.UTF-8", "Deutsch"},     {"de_AT", "Deutsch"},       {"de", "Deutsch"},
        {"de_CH.utf8@euro", "Deutsch"}, {"DE_de", "Deutsch"},       {"pl_PL.UTF-8", "Polski"},
        {"fr_FR.UTF-8", "English"},     {"en_GB.UTF-8", "English"}, {"C", "English"},
        {"POSIX", "English"},           {"C.UTF-8", "English"},     {"", "English"},
    };
    for (const Case& c : cases) {
        auto file = languageWith({"[Deutsch]", "[Polski]"});
        TConfigFile fresh(dir.file(std::string("fresh-") + c.locale + ".ini"), true, false,
                          &reporter);
        const TLanguageMenu menu = BuildLanguageMenu(*file, fresh, c.locale);
        EXPECT_EQ(c.chosen, file->CurrentLanguage) << c.locale;
        EXPECT_EQ(c.chosen, StripAcceleratorMarks(menu.Items[menu.Checked])) << c.locale;
        // Stored as a picked language is, so the next start keeps it.
        EXPECT_EQ(c.chosen, fresh.GetVal("Setup", "Language")) << c.locale;
        file->FileValid = false;
    }
}

TEST_F(LanguageMenuTest, aLanguageThePersonPickedWinsOverTheDesktops) {
    auto file = languageWith({"[Deutsch]"});
    config->SetVal("Setup", "Language", "English");
    const TLanguageMenu menu = BuildLanguageMenu(*file, *config, "de_DE.UTF-8");
    EXPECT_EQ(0u, menu.Checked);
    EXPECT_EQ("English", file->CurrentLanguage);
    file->FileValid = false;
}

TEST(DesktopLocale, lcAllThenLcMessagesThenLangAndEmptyOnesDoNotCount) {
    using Env = std::map<std::string, std::string>;
    struct Case {
        Env env;
        const char* expected;
    } cases[] = {
        {{{"LC_ALL", "pl_PL"}, {"LC_MESSAGES", "fr_FR"}, {"LANG", "de_DE.UTF-8"}}, "pl_PL"},
        {{{"LC_ALL", ""}, {"LC_MESSAGES", "fr_FR"}, {"LANG", "de_DE.UTF-8"}}, "fr_FR"},
        {{{"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", "de_DE.UTF-8"}}, "de_DE.UTF-8"},
        {{{"LC_CTYPE", "de_DE.UTF-8"}}, ""},
        {{}, ""},
    };
    for (const Case& c : cases) {
        const std::string got = DesktopMessagesLocale([&](const char* name) -> const char* {
            auto it = c.env.find(name);
            return it == c.env.end() ? nullptr : it->second.c_str();
        });
        EXPECT_EQ(c.expected, got);
    }
}

}  // namespace
}  // namespace kyvo
