#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "files/ConfigFile.h"
#include "files/GenFile.h"
#include "files/tests/FileTestSupport.h"
#include "files/tests/TempFolder.h"

namespace kyvo {
namespace {

using Lines = std::vector<std::string>;

class KeyFile : public ::testing::Test {
  protected:
    TempFolder dir;
    RecordingReporter reporter;
    std::string path = dir.file("DRConfig.ini");

    // Opens a settings file holding the given lines, without saving it at the end.
    std::unique_ptr<TConfigFile> configWith(const Lines& lines) {
        writeLines(path, lines);
        auto file = std::make_unique<TConfigFile>(path, false, false, &reporter);
        file->SaveImmediate = true;
        return file;
    }
};

TEST(KeyFileEscapes, textIsWrittenWithEveryEscapeAndDecodesBackUnchanged) {
    struct Case {
        std::string text;
        std::string saved;
    };
    const Case cases[] = {
        {"line\nfeed", "line\\rfeed"},
        {"carriage\rreturn", "carriage\\nreturn"},
        {"a\r\nb", "a\\n\\rb"},
        {"\b\t\x1B", "\\b\\t\\e"},
        {std::string("\0\x01\x07\x0B\x0C\x0E\x1A", 7), "\\x00\\x01\\x07\\x0B\\x0C\\x0E\\x1A"},
        {"\x1C\x1D\x1E\x1F", "\x1C\x1D\x1E\x1F"},
        {"say \"hi\" # not a comment \\ end", "say \\\"hi\\\" \\# not a comment \\\\ end"},
        {"\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.saved, TGenFile::MakeSaveString(c.text));
        EXPECT_EQ(c.text, TGenFile::DecodeSaveString(TGenFile::MakeSaveString(c.text)));
    }
}

TEST(KeyFileEscapes, brokenAndUnknownEscapesDecodeAsTheRulesSay) {
    struct Case {
        const char* saved;
        std::string text;
    };
    const Case cases[] = {
        {"\\x41", "A"},        {"\\x4G", "\x04G"},   {"\\xZ", "Z"}, {"\\x7e\\x7E", "~~"},
        {"a\\qb", "ab"},       {"a\\", "a"},         {"a\\x", "a"}, {"a\\x4", "a"},
        {"\\xC4", "\xC3\x84"}, {"\\\xC3\xA4z", "z"},  // an unknown escape drops the whole character
    };
    for (const Case& c : cases) EXPECT_EQ(c.text, TGenFile::DecodeSaveString(c.saved)) << c.saved;
}

TEST(KeyFileEscapes, hexNibblesAreTheSixteenDigitsInEitherCase) {
    unsigned n = 99;
    EXPECT_TRUE(TGenFile::DecodeHexNibble('f', n));
    EXPECT_EQ(15u, n);
    EXPECT_TRUE(TGenFile::DecodeHexNibble('A', n));
    EXPECT_EQ(10u, n);
    EXPECT_TRUE(TGenFile::DecodeHexNibble('0', n));
    EXPECT_EQ(0u, n);
    for (char32_t c : {U'g', U'G', U'/', U':', U'@', U'`', U'\xE4'})
        EXPECT_FALSE(TGenFile::DecodeHexNibble(c, n));
}

TEST(KeyFileLines, valuesKeepBlanksAndHashOnlyInsideQuotes) {
    struct Case {
        const char* line;
        const char* item;
        const char* value;
    };
    const Case cases[] = {
        {"a = \"a # b\"", "a", "a # b"},
        {"a = a # b", "a", "a"},
        {"a = hello world", "a", "helloworld"},
        {"a = \"hello world\"", "a", "hello world"},
        {"\ta\t=\t\"x\ty\"\t", "a", "x\ty"},
        {"a = x=y", "a", "x=y"},
        {"a = \"say \\\"hi\\\"\"", "a", "say \"hi\""},
        {"a = \\#1", "a", "#1"},
        {"my item = 5", "myitem", "5"},
        {"\"my item\" = 5", "my item", "5"},
        {"# a = 1", "", ""},
        {"no equals sign", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.item, TGenFile::GetLineItem(c.line)) << c.line;
        EXPECT_EQ(c.value, TGenFile::GetLineValue(c.line)) << c.line;
    }
    EXPECT_EQ("Setup", TGenFile::GetLineHead("  [Setup]  # comment"));
    EXPECT_EQ("Set up", TGenFile::GetLineHead("[\"Set up\"]"));
    EXPECT_EQ("Open", TGenFile::GetLineHead("[Open"));
    EXPECT_EQ("", TGenFile::GetLineHead("x [Setup]"));
    EXPECT_EQ("", TGenFile::GetLineHead("[]"));
}

TEST_F(KeyFile, textWithLineFeedAndCarriageReturnSurvivesSaveAndReload) {
    {
        TConfigFile file(path, false, false, &reporter);
        file.SetVal("Setup", "Note", "one\ntwo\rthree \"#4\"");
    }
    EXPECT_EQ((Lines{"", "[Setup]", "Note = \"one\\rtwo\\nthree \\\"\\#4\\\"\""}), fileLines(path));
    TConfigFile again(path, false, false, &reporter);
    EXPECT_EQ("one\ntwo\rthree \"#4\"", again.GetVal("Setup", "Note"));
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(KeyFile, defaultsAreWrittenBackWithTheNewestItemFirstInItsSection) {
    auto file = configWith({});
    EXPECT_EQ(874, file->GetVal("Setup", "Width", 874));
    EXPECT_EQ((Lines{"", "[Setup]", "Width = 874"}), file->Lines);
    EXPECT_EQ(624, file->GetVal("Setup", "Height", 624));
    EXPECT_FALSE(file->GetVal("Setup", "PromptSave", false));
    EXPECT_EQ("Results.tsv", file->GetVal("Setup", "LastUsedFile", "Results.tsv"));
    EXPECT_EQ(-3, file->GetVal("COM", "Port", -3));
    EXPECT_EQ((Lines{"", "[Setup]", "LastUsedFile = \"Results.tsv\"", "PromptSave = false",
                     "Height = 624", "Width = 874", "", "[COM]", "Port = -3"}),
              file->Lines);
    // A second read finds the written values and changes nothing.
    const Lines before = file->Lines;
    EXPECT_EQ(874, file->GetVal("Setup", "Width", 1));
    EXPECT_EQ("Results.tsv", file->GetVal("Setup", "LastUsedFile", "other"));
    EXPECT_EQ(before, file->Lines);
}

TEST_F(KeyFile, integerItemsAcceptDecimalAndHexAndReplaceAnythingElse) {
    struct Case {
        const char* value;
        bool valid;
        std::int32_t number;
    };
    const Case cases[] = {
        {"0x10", true, 16},
        {"$1F", true, 31},
        {"x10", true, 16},
        {"X10", true, 16},
        {"0XfF", true, 255},
        {"-0x10", true, -16},
        {"-$10", true, -16},
        {"+5", true, 5},
        {"-7", true, -7},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0},
        {"0x80000000", false, 0},
        {"abc", false, 0},
        {"12a", false, 0},
        {"0x", false, 0},
        {"$", false, 0},
        {"-", false, 0},
        {"1.5", false, 0},
        {"\"\"", false, 0},
    };
    for (const Case& c : cases) {
        auto file = configWith({"[Setup]", std::string("Width = ") + c.value, "# keep"});
        const std::int32_t got = file->GetVal("Setup", "Width", 874);
        if (c.valid) {
            EXPECT_EQ(c.number, got) << c.value;
            EXPECT_EQ(std::string("Width = ") + c.value, file->Lines[1]);
        } else {
            EXPECT_EQ(874, got) << c.value;
            EXPECT_EQ((Lines{"[Setup]", "Width = 874", "# keep"}), file->Lines) << c.value;
        }
    }
}

TEST_F(KeyFile, booleanItemsAcceptTrueAndFalseInAnyCase) {
    auto file = configWith({"[Setup]", "A = True", "B = yes", "C = FALSE", "D = \"tRuE\"", "E ="});
    EXPECT_TRUE(file->GetBool("Setup", "A"));
    EXPECT_FALSE(file->GetBool("Setup", "B"));
    EXPECT_FALSE(file->GetBool("Setup", "Missing"));
    EXPECT_EQ((Lines{"[Setup]", "A = True", "B = yes", "C = FALSE", "D = \"tRuE\"", "E ="}),
              file->Lines);

    EXPECT_TRUE(file->GetVal("Setup", "A", false));
    EXPECT_FALSE(file->GetVal("Setup", "C", true));
    EXPECT_TRUE(file->GetVal("Setup", "D", false));
    EXPECT_TRUE(file->GetVal("Setup", "B", true));
    EXPECT_FALSE(file->GetVal("Setup", "E", false));
    EXPECT_EQ((Lines{"[Setup]", "A = True", "B = true", "C = FALSE", "D = \"tRuE\"", "E = false"}),
              file->Lines);
}

TEST_F(KeyFile, textItemsWriteTheirDefaultOnlyWhenMissing) {
    auto file = configWith({"[Setup]", "Empty = \"\"", "Name = \"a b\""});
    EXPECT_EQ("dflt", file->GetVal("Setup", "Empty", "dflt"));
    EXPECT_EQ("a b", file->GetVal("Setup", "Name", "dflt"));
    EXPECT_EQ("", file->GetVal("Setup", "Other"));
    EXPECT_EQ((Lines{"[Setup]", "Empty = \"\"", "Name = \"a b\""}), file->Lines);
    EXPECT_EQ("x \"y\"", file->GetVal("Setup", "Other", "x \"y\""));
    EXPECT_EQ((Lines{"[Setup]", "Other = \"x \\\"y\\\"\"", "Empty = \"\"", "Name = \"a b\""}),
              file->Lines);
}

TEST_F(KeyFile, headsIgnoreCaseButItemsDoNot) {
    auto file = configWith({"[setup]", "width = 10"});
    EXPECT_EQ("10", file->GetVal("SETUP", "width"));
    EXPECT_EQ("", file->GetVal("SETUP", "Width"));
    EXPECT_EQ(874, file->GetVal("Setup", "Width", 874));
    EXPECT_EQ((Lines{"[setup]", "Width = 874", "width = 10"}), file->Lines);

    auto umlaut = configWith({"[\xC3\x84nderung]", "a = 1"});
    EXPECT_EQ("1", umlaut->GetVal("\xC3\xA4NDERUNG", "a"));
}

TEST_F(KeyFile, headLineWithTrailingBlanksEndsTheSectionBeforeItButIsNeverFound) {
    auto file = configWith({"[A]", "x = 1", "[Setup]  ", "y = 2", "[Setup] # c", "z = 3"});
    EXPECT_EQ("1", file->GetVal("A", "x"));
    EXPECT_EQ("", file->GetVal("A", "y"));
    EXPECT_EQ("", file->GetVal("Setup", "y"));
    file->SetVal("Setup", "y", 5);
    EXPECT_EQ((Lines{"[A]", "x = 1", "[Setup]  ", "y = 2", "[Setup] # c", "z = 3", "", "[Setup]",
                     "y = 5"}),
              file->Lines);
    EXPECT_EQ("5", file->GetVal("setup", "y"));

    // Any line that cleans to a head ends a section, quoted or indented.
    auto quoted = configWith({"[A]", "x = 1", "  \"[Q]\"", "q = 1", "[B]", "\t[C] # c", "c = 1"});
    EXPECT_EQ("", quoted->GetVal("A", "q"));
    EXPECT_EQ("", quoted->GetVal("B", "c"));
    EXPECT_EQ("1", quoted->GetVal("A", "x"));
}

TEST_F(KeyFile, settingAnItemReplacesOnlyItsLineAndKeepsEverythingElse) {
    auto file = configWith({"; header", "[Setup]", "", "# comment", "Width = 1 # old", "= odd",
                            "[Other]", "Width = 2"});
    file->SetVal("Setup", "Width", 3);
    file->SetVal("Other", "Flag", true);
    EXPECT_EQ((Lines{"; header", "[Setup]", "", "# comment", "Width = 3", "= odd", "[Other]",
                     "Flag = true", "Width = 2"}),
              file->Lines);
    // An empty item name reaches the "= odd" line, never the comment above it.
    file->SetVal("Setup", "", 7);
    EXPECT_EQ("# comment", file->Lines[3]);
    EXPECT_EQ(" = 7", file->Lines[5]);
}

TEST_F(KeyFile, readOnlyFileThatDoesNotExistIsReportedAndNeverCreated) {
    {
        TConfigFile file(path, false, true, &reporter);
        EXPECT_FALSE(file.FileValid);
        EXPECT_EQ(8, file.GetVal("COM", "bits", 8));
        EXPECT_EQ("none", file.GetVal("COM", "parity", "none"));
        EXPECT_TRUE(file.save());
    }
    ASSERT_EQ(1u, reporter.messages.size());
    EXPECT_EQ("Could not open file " + path, reporter.messages[0].text);
    EXPECT_EQ("File Error", reporter.messages[0].caption);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(KeyFile, fileThatCanNeitherBeOpenedNorCreatedIsReportedAndNothingIsSaved) {
    const std::string missing = dir.file("no/such/folder.ini");
    {
        TConfigFile file(missing, false, false, &reporter);
        EXPECT_FALSE(file.FileValid);
        EXPECT_TRUE(file.GetVal("Setup", "x", true));
        EXPECT_FALSE(file.Lines.empty());  // the default stays in memory
    }
    ASSERT_EQ(1u, reporter.messages.size());
    EXPECT_EQ("Could neither open nor create file " + missing, reporter.messages[0].text);
    EXPECT_EQ("File error", reporter.messages[0].caption);
    EXPECT_FALSE(std::filesystem::exists(dir.file("no")));
}

TEST_F(KeyFile, missingWritableFileIsCreatedEmptyAtOpen) {
    TConfigFile file(dir.file("sub/../new.ini"), false, false, &reporter);
    EXPECT_TRUE(file.FileValid);
    EXPECT_EQ(dir.file("new.ini"), file.Filename);
    EXPECT_EQ("", fileBytes(dir.file("new.ini")));
    EXPECT_TRUE(file.Lines.empty());
}

TEST_F(KeyFile, savingWritesUtf16LeWithBomAndCrLfWhateverTheFileWasReadAs) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"windows-1252", "# caf\xE9\r\n[Setup]\nName = \"\xE4\"\r"},
        {"utf-8", "\xEF\xBB\xBF# caf\xC3\xA9\r\n[Setup]\nName = \"\xC3\xA4\""},
        {"utf-16 be",
         std::string("\xFE\xFF\0#\0 \0c\0a\0f\0\xE9\0\n\0[\0S\0e\0t\0u\0p\0]\0\n\0N\0a\0m"
                     "\0e\0 \0=\0 \0\"\0\xE4\0\"",
                     52)},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(writeFileAtomically(path, c.bytes));
        {
            TConfigFile file(path, false, false, &reporter);
            EXPECT_EQ("\xC3\xA4", file.GetVal("Setup", "Name")) << c.name;
        }
        const std::string saved = fileBytes(path);
        const std::string expected =
            encodeTextLines({"# caf\xC3\xA9", "[Setup]", "Name = \"\xC3\xA4\""});
        EXPECT_EQ(expected, saved) << c.name;
        EXPECT_EQ(std::string("\xFF\xFE#\0", 4), saved.substr(0, 4)) << c.name;
    }
}

TEST_F(KeyFile, saveImmediateReadOnlyAndReloadLeaveTheDiskAlone) {
    writeLines(path, {"[Setup]", "A = 1"});
    const std::string original = fileBytes(path);
    {
        TConfigFile file(path, true, false, &reporter);
        file.SetVal("Setup", "A", 2);
    }
    {
        TConfigFile file(path, false, true, &reporter);
        file.SetVal("Setup", "A", 3);
    }
    EXPECT_EQ(original, fileBytes(path));
    TConfigFile file(path, false, false, &reporter);
    file.SetVal("Setup", "A", 4);
    file.reload();
    EXPECT_EQ("1", file.GetVal("Setup", "A"));
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(KeyFile, failedSaveIsReportedAndKeepsTheOldFile) {
    TConfigFile file(path, false, false, &reporter);
    file.SetVal("Setup", "A", 1);
    // The folder to be written into is replaced by a file.
    const std::string folder = dir.file("gone");
    std::filesystem::create_directory(folder);
    file.Filename = folder + "/DRConfig.ini";
    std::filesystem::remove(folder);
    writeFileAtomically(folder, "not a folder");
    EXPECT_FALSE(file.save());
    ASSERT_EQ(1u, reporter.messages.size());
    EXPECT_EQ(0u, reporter.messages[0].text.find("Could not save file " + file.Filename));
    EXPECT_EQ("not a folder", fileBytes(folder));
    file.FileValid = false;  // no second report from the destructor
}

TEST_F(KeyFile, garbageFileBytesOpenLookUpAndSaveWithoutHarm) {
    std::mt19937 random(20261209);
    const std::string alphabet("[]=\"#\\x0aF \t\r\nAz\xC3\xA4\xFF\xFE\0", 22);
    for (int round = 0; round < 100; ++round) {
        std::string bytes;
        const int length = static_cast<int>(random() % 120);
        for (int i = 0; i < length; ++i)
            bytes += (random() % 4 == 0) ? static_cast<char>(random() % 256)
                                         : alphabet[random() % alphabet.size()];
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        TConfigFile file(path, true, false, &reporter);
        ASSERT_TRUE(file.FileValid);
        file.GetVal("a", "F", 1);
        file.GetVal("[", "=", "x");
        file.GetBool("A", "z");
        file.SetVal("\"", "#", "\r\n\\");
        // What a save writes reads back as the same lines.
        EXPECT_EQ(file.Lines, decodeTextLines(encodeTextLines(file.Lines))) << round;
    }
    EXPECT_TRUE(reporter.messages.empty());
}

}  // namespace
}  // namespace kyvo
