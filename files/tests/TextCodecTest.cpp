#include "files/TextCodec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kyvo {
namespace {

using Lines = std::vector<std::string>;

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::string text;
};

TEST(TextCodec, everyByteOrderMarkAndTheLegacyCodePageDecodeToTheSameText) {
    const std::string expected = "A\xC3\xA4\xE2\x82\xAC";  // "Aä€"
    const DecodeCase cases[] = {
        {"utf8 bom",
         std::string("\xEF\xBB\xBF"
                     "A\xC3\xA4\xE2\x82\xAC"),
         expected},
        {"utf16 le bom",
         std::string("\xFF\xFE"
                     "A\0\xE4\0\xAC\x20",
                     8),
         expected},
        {"utf16 be bom",
         std::string("\xFE\xFF"
                     "\0A\0\xE4\x20\xAC",
                     8),
         expected},
        {"windows-1252", std::string("A\xE4\x80"), expected},
        {"windows-1252 hole keeps its code", std::string("\x81"), "\xC2\x81"},
        {"utf8 without bom, as Linux editors save it", std::string("A\xC3\xA4\xE2\x82\xAC"),
         expected},
        {"utf8 without bom with a literal replacement character",
         std::string("\xEF\xBF\xBD\xC2\xB5"), "\xEF\xBF\xBD\xC2\xB5"},
        {"windows-1252 that merely starts like utf8", std::string("\xC3\xA4\xE4"),
         "\xC3\x83\xC2\xA4\xC3\xA4"},
        {"utf16 surrogate pair", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), "\xF0\x9F\x98\x80"},
        {"utf16 lone surrogate",
         std::string("\xFF\xFE\x3D\xD8"
                     "A\0",
                     6),
         "\xEF\xBF\xBD"
         "A"},
        {"utf16 odd trailing byte",
         std::string("\xFF\xFE"
                     "A\0B",
                     5),
         "A\xEF\xBF\xBD"},
        {"broken utf8 after bom",
         std::string("\xEF\xBB\xBF"
                     "a\xC3(\xE2\x82"),
         "a\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"utf8 overlong form", std::string("\xEF\xBB\xBF\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"empty", std::string(), std::string()},
    };
    for (const auto& c : cases) EXPECT_EQ(c.text, decodeText(c.bytes)) << c.name;
}

TEST(TextCodec, linesEndAtCrLfLoneCrOrLoneLfAndAFinalBreakAddsNoLine) {
    EXPECT_EQ((Lines{"a", "b", "c", "", "d"}), splitLines("a\r\nb\rc\n\nd"));
    EXPECT_EQ((Lines{"a", ""}), splitLines("a\r\n\r\n"));
    EXPECT_EQ((Lines{"a"}), splitLines("a\n"));
    EXPECT_EQ((Lines{"", "a"}), splitLines("\r\na"));
    EXPECT_EQ(Lines{}, splitLines(""));
}

TEST(TextCodec, encodingWritesBomUtf16LeAndCrLfAfterEveryLine) {
    const std::string bytes = encodeTextLines({"[A]", "", "\xC3\xA4"});
    const std::string expected("\xFF\xFE[\0A\0]\0\r\0\n\0\r\0\n\0\xE4\0\r\0\n\0", 22);
    EXPECT_EQ(expected, bytes);
    EXPECT_EQ(std::string("\xFF\xFE", 2), encodeTextLines({}));
}

TEST(TextCodec, encodedLinesDecodeBackUnchanged) {
    const Lines lines = {"plain", "", "tab\there", "\xF0\x9F\x98\x80 emoji", "\xE2\x82\xAC"};
    EXPECT_EQ(lines, decodeTextLines(encodeTextLines(lines)));
}

}  // namespace
}  // namespace kyvo
