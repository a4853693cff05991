#include "files/ResultFileReader.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <unordered_set>

#include "files/FileLock.h"
#include "files/tests/ResultFileTestSupport.h"

namespace kyvo {
namespace {

using testing::fields;
using testing::fileBytes;
using testing::sampleSet;
using testing::TScratchDir;
using testing::TScriptedDialogs;

TEST(ResultFileParse, floatsTakeEitherSeparatorAndTheSpecialWords) {
    struct Case {
        const char* text;
        bool ok;
        float value;
    } cases[] = {
        {"1.25", true, 1.25f},  {"1,25", true, 1.25f}, {"-3", true, -3.0f},    {"+2.5", true, 2.5f},
        {"1e3", true, 1000.0f}, {".5", true, 0.5f},    {"7.", true, 7.0f},     {"", false, 0},
        {"abc", false, 0},      {"1.2.3", false, 0},   {"1,2.3", false, 0},    {"0x10", false, 0},
        {"inf", false, 0},      {"nan", false, 0},     {"Infinity", false, 0}, {"1 000", false, 0},
        {"1e", false, 0},       {"-", false, 0},       {"1e999", false, 0},    {" 1.5", false, 0},
        {"++1", false, 0},
    };
    for (const auto& c : cases) {
        float v = 42.0f;
        EXPECT_EQ(ParseTsvFloat(c.text, v), c.ok) << c.text;
        EXPECT_EQ(v, c.ok ? c.value : 42.0f) << c.text;
    }
    float v = 0;
    ASSERT_TRUE(ParseTsvFloat("INF", v));
    EXPECT_EQ(v, std::numeric_limits<float>::infinity());
    ASSERT_TRUE(ParseTsvFloat("-INF", v));
    EXPECT_EQ(v, -std::numeric_limits<float>::infinity());
    ASSERT_TRUE(ParseTsvFloat("NAN", v));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(v), 0xFFC00000u);
}

TEST(ResultFileParse, datesAreCalendarTextsOrTheNumberOfTheFirstFourBytes) {
    struct Case {
        const char* text;
        bool ok;
        std::array<std::uint8_t, 6> bytes;  // Seconds .. Year
    } cases[] = {
        {"03/15/2017 14:05:09", true, {9, 5, 14, 15, 3, 17}},
        {"01/01/2018", true, {0, 0, 0, 1, 1, 18}},
        {"1/2/2018 3:04", true, {0, 4, 3, 2, 1, 18}},
        {"12/31/1999 23:59:59.500", true, {59, 59, 23, 31, 12, 99}},
        {"02/29/2020 00:00:00", true, {0, 0, 0, 29, 2, 20}},
        {"218824713", true, {9, 0, 11, 13, 0, 0}},
        {"4294967295", true, {255, 255, 255, 255, 0, 0}},
        {"02/29/2019", false, {}},
        {"13/01/2018", false, {}},
        {"01/01/2018 24:00:00", false, {}},
        {"01/01/2018 10:60", false, {}},
        {"01/01/2018x", false, {}},
        {"2018-01-01", false, {}},
        {"4294967296", false, {}},
        {"-1", false, {}},
        {"", false, {}},
    };
    for (const auto& c : cases) {
        TDateData d;
        d.Data.fill(0xEE);
        EXPECT_EQ(ParseTsvDate(c.text, d), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(d.Data, c.bytes) << c.text;
        }
    }
}

std::string longLine(const std::string& afterResults) {
    std::string line = "id\tname\tlot\tdm\t01/01/2018\tcomment\t3700\t23.50\t";
    line += "Valid - CRP\t5.6\tmg/l\t\t";
    for (int i = 1; i < 10; ++i) line += "\t\t\t\t";
    return line + afterResults;
}

TEST(ResultFileParse, resultNameSplitsAtTheFirstSeparatorAndEmptyResultsAreDropped) {
    struct Case {
        const char* field;
        const char* validity;
        const char* name;
    } cases[] = {
        {"Valid - CRP", "Valid", "CRP"},     {" - CRP", "", "CRP"},
        {"Valid - A - B", "Valid", "A - B"}, {"No separator", "", "No separator"},
        {"Valid -CRP", "", "Valid -CRP"},
    };
    for (const auto& c : cases) {
        TMeasureSet s;
        const std::string line =
            std::string("id\tn\tl\td\t01/01/2018\t\t") + c.field + "\t1\tu\tk\t" + "\t\t\t\t";
        ASSERT_TRUE(ParseMeasureRow(line, s, TSVVShort)) << c.field;
        ASSERT_EQ(s.ResultList.size(), 1u);  // the second, empty result is dropped
        EXPECT_EQ(s.ResultList[0], (TResultSet{c.validity, c.name, "1", "u", "k"}));
    }
    // A result with only a class is kept; Tobrel lines have no unit field.
    TMeasureSet t;
    ASSERT_TRUE(ParseMeasureRow("a\tb\tc\td\t1\te\t\t\tpos\t - X\t2\t\t", t, TSVVTobrel));
    ASSERT_EQ(t.ResultList.size(), 2u);
    EXPECT_EQ(t.ResultList[0], (TResultSet{"", "", "", "", "pos"}));
    EXPECT_EQ(t.ResultList[1], (TResultSet{"", "X", "2", "", ""}));
}

TEST(ResultFileParse, integerAfterTheResultsStartsTheImageWithoutLineData) {
    TMeasureSet s;
    ASSERT_TRUE(ParseMeasureRow(longLine("512\t100\t300\t200\t"), s, TSVVLong));
    EXPECT_EQ(s.MeasureResult.LineCount, 0);
    EXPECT_EQ(s.OrigImage, (std::vector<std::int32_t>{512, 100, 300, 200}));
    EXPECT_EQ(s.ImgMin, "100");
    EXPECT_EQ(s.ImgMax, "512");
    EXPECT_EQ(s.ImageData.size(), 4u);
    EXPECT_EQ(s.ImageData[1], 0);

    // The last image value may end the line without a tab.
    TMeasureSet t;
    ASSERT_TRUE(ParseMeasureRow(longLine("7\t9"), t, TSVVLong));
    EXPECT_EQ(t.OrigImage[1], 9);
    EXPECT_EQ(t.ImageData.size(), 2u);
}

TEST(ResultFileParse, lineDataFillsTheLinesThatHaveAnyValue) {
    std::string lines = "1,25\t2.00\t3.00\t4.00\t5.00\t6.00\t007\t-005\t012\t";
    lines += "\t\t\t\t\t\t\t\t003\t";  // only a width: counts as a line
    for (int i = 2; i < 10; ++i) lines += "\t\t\t\t\t\t\t\t\t";
    TMeasureSet s;
    ASSERT_TRUE(ParseMeasureRow(longLine(lines + "10\t20\t"), s, TSVVLong));
    EXPECT_EQ(s.MeasureResult.LineCount, 2);
    const TLineResult& l = s.MeasureResult.Results().Line[0];
    EXPECT_EQ(l.MeanValue, 1.25f);
    EXPECT_EQ(l.MaxPosAbs, 6.0f);
    EXPECT_EQ(l.UsedPixel, 7);
    EXPECT_EQ(l.CenterPositionAbsolut, -5);
    EXPECT_EQ(l.Width, 12);
    EXPECT_EQ(s.MeasureResult.Results().Line[1].Width, 3);
    EXPECT_EQ(s.MeasureResult.Results().Line[1].MeanValue, 0.0f);
    EXPECT_EQ(s.OrigImage[0], 10);
    EXPECT_EQ(s.OrigImage[1], 20);
    EXPECT_EQ(s.OrigImage.size(), 2u);
}

TEST(ResultFileParse, damagedFieldsMakeTheWholeLineInvalid) {
    const std::string lineTail(81, '\t');  // lines 2 to 10
    // Line data starts with a value that is no integer, else it would be
    // taken for the first image value.
    const std::string good = "1.5\t2\t3\t4\t5\t6\t7\t8\t9\t";
    std::string tooMany;
    for (int i = 0; i < 257; ++i) tooMany += "1\t";
    const std::string cases[] = {
        longLine("1.5\tx.5\t3\t4\t5\t6\t7\t8\t9\t" + lineTail),    // a line value
        longLine("1.5\t2\t3\t4\t5\t6\t256\t8\t9\t" + lineTail),    // used pixel beyond 8 bits
        longLine("1.5\t2\t3\t4\t5\t6\t7\t40000\t9\t" + lineTail),  // centre beyond 16 bits
        longLine("1.5\t2\t3\t4\t5\t6\t7\t8\t2.5\t" + lineTail),    // width not an integer
        longLine(good + lineTail + "12\tx\t"),                     // an image value
        longLine(good + lineTail + "12\t\t13\t"),                  // an empty image value
        longLine(tooMany),                                         // more than the image holds
        "id\tname\tlot\tdm\tyesterday\t",                          // the date
        "no tabs at all",
    };
    for (const auto& line : cases) {
        TMeasureSet s;
        EXPECT_FALSE(ParseMeasureRow(line, s, TSVVLong)) << line;
    }
    TMeasureSet s;
    std::string exactly256;
    for (int i = 0; i < 256; ++i) exactly256 += "4095\t";
    EXPECT_TRUE(ParseMeasureRow(longLine(exactly256), s, TSVVLong));
    EXPECT_FALSE(ParseMeasureRow("a\tb\tc\td\t1\t", s, TSVVUnknown));
}

TEST(ResultFileParse, writingWhatWasReadGivesTheSameLineInEveryLayout) {
    auto a = sampleSet("1 2 3 4 1807 0042 33752069", 3);
    auto b = sampleSet("numeric date", 4);
    setDateData(b->DateTime, 0, 0, 13, 11, 0, 9);  // written as 218824713
    b->MeasureResult.Results().Line[0].Width = 0;  // no line data
    b->ResultList[0].ResultValue = "<0.5";
    b->MeasureResult.Results().Line[1].MeanValue = std::numeric_limits<float>::infinity();
    auto c = sampleSet("no image", 5);
    c->OrigImage.clear();
    c->MeasureResult.Results().Line[2].MinValue = -std::numeric_limits<float>::infinity();
    c->MeasureResult.Results().Line[2].MaxValue = std::nanf("");
    for (ETSVVersion layout : {TSVVLong, TSVVShort, TSVVTobrel}) {
        for (const TMeasureSet* set : {a.get(), b.get(), c.get()}) {
            const std::string line = FormatMeasureRow(*set, layout);
            TMeasureSet read;
            ASSERT_TRUE(ParseMeasureRow(line, read, layout)) << line;
            EXPECT_EQ(FormatMeasureRow(read, layout), line) << int{layout};
        }
    }
    TMeasureSet read;
    ASSERT_TRUE(ParseMeasureRow(FormatMeasureRow(*b, TSVVShort), read, TSVVShort));
    EXPECT_EQ(read.DateTime.MonthDay, 13);
    EXPECT_EQ(read.DateTime.Hour, 11);
    EXPECT_EQ(read.DateTime.Month, 0);
    EXPECT_EQ(read.DateTime.Year, 0);
}

TEST(ResultFileParse, truncatedAndScrambledLinesNeverOverrunTheSet) {
    auto full = sampleSet("id", 1);
    full->ResultList.resize(10, TResultSet{"Valid", "R", "1", "u", "k"});
    full->MeasureResult.LineCount = 10;
    full->MeasureResult.Results().Line.fill(full->MeasureResult.Results().Line[0]);
    full->OrigImage.assign(kMaxImageValues, 4095);
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    for (ETSVVersion layout : {TSVVLong, TSVVShort, TSVVTobrel}) {
        const std::string line = FormatMeasureRow(*full, layout);
        for (std::size_t cut = 0; cut <= line.size(); cut += 7) {
            TMeasureSet s;
            if (ParseMeasureRow(std::string_view(line).substr(0, cut), s, layout)) {
                EXPECT_LE(s.ResultList.size(), kMaxResults);
                EXPECT_LE(s.MeasureResult.LineCount, kMaxTestLines);
                EXPECT_LE(s.ImageData.size(), kMaxImageValues);
            }
        }
        // Tabs and digits shuffled in: more fields than any layout has.
        for (int round = 0; round < 200; ++round) {
            std::string noisy = line;
            for (int k = 0; k < 40; ++k) {
                const char pick[] = {'\t', '\t', '5', ',', '-', 'x', '\0'};
                noisy.insert(next() % (noisy.size() + 1), 1, pick[next() % sizeof pick]);
            }
            TMeasureSet s;
            if (ParseMeasureRow(noisy, s, layout)) {
                EXPECT_LE(s.ResultList.size(), kMaxResults);
                EXPECT_LE(s.MeasureResult.LineCount, kMaxTestLines);
                EXPECT_LE(s.ImageData.size(), kMaxImageValues);
            }
        }
    }
}

// Loading --------------------------------------------------------------------

class ResultFileLoad : public ::testing::Test {
  protected:
    TScratchDir dir;
    TScriptedDialogs dialogs;
    TMeasureList list;

    std::string write(const std::string& name, ETSVVersion layout, std::vector<std::string> lines) {
        lines.insert(lines.begin(), BuildTsvHeader(layout));
        const std::string path = dir.File(name);
        EXPECT_TRUE(writeFileAtomically(path, encodeTextLines(lines)));
        return path;
    }
    std::vector<std::string> ids() const {
        std::vector<std::string> out;
        for (const auto& s : list) out.push_back(s->TestID);
        return out;
    }
};

TEST_F(ResultFileLoad, damagedThirdLineKeepsTheTwoBeforeAndReportsTheError) {
    std::vector<std::string> lines;
    for (int i = 0; i < 5; ++i)
        lines.push_back(FormatMeasureRow(*sampleSet("m" + std::to_string(i), i), TSVVLong));
    lines[2] = "m2\tbroken";
    const std::string path = write("r.tsv", TSVVLong, lines);
    list.push_back(sampleSet("old"));

    const TLoadOutcome out = LoadMeasureFile(path, TSVVLong, list, dialogs, Unsorted);
    EXPECT_EQ(out.Result, ELoadResult::DamagedLine);
    EXPECT_EQ(out.DamagedLine, 4u);  // the header is line 1
    EXPECT_EQ(ids(), (std::vector<std::string>{"m0", "m1"}));
    EXPECT_EQ(dialogs.Messages, (std::vector<std::uint32_t>{647}));
    EXPECT_EQ(dialogs.Captions, (std::vector<std::uint32_t>{648}));
    EXPECT_EQ(dialogs.Remembered, (std::vector<std::string>{path}));
}

TEST_F(ResultFileLoad, repeatedTestIDKeepsOnlyItsFirstLineAndTheListIsSorted) {
    auto first = sampleSet("b", 1);
    auto second = sampleSet("b", 2);
    const std::string path =
        write("r.tsv", TSVVShort,
              {FormatMeasureRow(*first, TSVVShort), FormatMeasureRow(*sampleSet("a", 3), TSVVShort),
               FormatMeasureRow(*second, TSVVShort), ""});
    const TLoadOutcome out = LoadMeasureFile(path, TSVVShort, list, dialogs, TestIDUp);
    EXPECT_EQ(out.Result, ELoadResult::Loaded);
    EXPECT_EQ(out.Added, 2u);
    EXPECT_EQ(out.Duplicates, 1u);
    EXPECT_EQ(ids(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(list[1]->TestName, first->TestName);
    EXPECT_TRUE(dialogs.Messages.empty());
}

TEST_F(ResultFileLoad, fileOfAnotherLayoutOrWithoutHeaderLeavesTheListEmpty) {
    const std::string shortFile =
        write("short.tsv", TSVVShort, {FormatMeasureRow(*sampleSet("x"), TSVVShort)});
    const std::string empty = dir.File("empty.tsv");
    ASSERT_TRUE(writeFileAtomically(empty, ""));
    for (const std::string& path : {shortFile, empty}) {
        list.push_back(sampleSet("old"));
        dialogs.Messages.clear();
        EXPECT_EQ(LoadMeasureFile(path, TSVVLong, list, dialogs, Unsorted).Result,
                  ELoadResult::Incompatible);
        EXPECT_TRUE(list.empty());
        EXPECT_EQ(dialogs.Messages, (std::vector<std::uint32_t>{647}));
    }
    EXPECT_TRUE(dialogs.Remembered.empty());
}

TEST_F(ResultFileLoad, missingUnreadableOrInUseFileLeavesTheListAsItWas) {
    list.push_back(sampleSet("old"));
    const std::string missing = dir.File("nothing.tsv");
    EXPECT_EQ(LoadMeasureFile(missing, TSVVLong, list, dialogs, Unsorted).Result,
              ELoadResult::NotFound);
    EXPECT_EQ(dialogs.Messages, (std::vector<std::uint32_t>{590}));
    EXPECT_EQ(dialogs.Details, (std::vector<std::string>{missing}));

    const std::string path = write("r.tsv", TSVVLong, {});
    TFileLock writer;
    ASSERT_EQ(writer.TryLock(path), ELockResult::Locked);
    EXPECT_EQ(LoadMeasureFile(path, TSVVLong, list, dialogs, Unsorted).Result, ELoadResult::InUse);
    EXPECT_EQ(dialogs.Messages, (std::vector<std::uint32_t>{590, 556}));
    EXPECT_EQ(ids(), (std::vector<std::string>{"old"}));

    // A folder by that name exists but cannot be read as a file.
    const std::string folder = dir.File("folder.tsv");
    std::filesystem::create_directory(folder);
    EXPECT_EQ(LoadMeasureFile(folder, TSVVLong, list, dialogs, Unsorted).Result,
              ELoadResult::ReadFailed);
    EXPECT_EQ(dialogs.Messages.back(), 647u);
    EXPECT_EQ(ids(), (std::vector<std::string>{"old"}));
    EXPECT_TRUE(dialogs.Remembered.empty());
}

// The user must learn why: a folder, a file without read permission.
TEST_F(ResultFileLoad, unreadableFileIsReportedWithTheSystemsReason) {
    struct Case {
        std::string path;
        int err;
    };
    std::vector<Case> cases;
    const std::string folder = dir.File("folder.tsv");
    std::filesystem::create_directory(folder);
    cases.push_back({folder, EISDIR});
    // root reads every file whatever its mode.
    if (::geteuid() != 0) {
        const std::string locked = write("locked.tsv", TSVVLong, {});
        std::filesystem::permissions(locked, std::filesystem::perms::none);
        cases.push_back({locked, EACCES});
    }
    for (const Case& c : cases) {
        EXPECT_EQ(LoadMeasureFile(c.path, TSVVLong, list, dialogs, Unsorted).Result,
                  ELoadResult::ReadFailed)
            << c.path;
        ASSERT_FALSE(dialogs.Details.empty());
        EXPECT_NE(dialogs.Details.back().find(c.path), std::string::npos) << dialogs.Details.back();
        EXPECT_NE(dialogs.Details.back().find(std::strerror(c.err)), std::string::npos)
            << dialogs.Details.back();
    }
}

TEST_F(ResultFileLoad, fileBeyondTheSizeLimitIsRefusedAndTheListStays) {
    list.push_back(sampleSet("old"));
    const std::string path = write("huge.tsv", TSVVLong, {});
    std::filesystem::resize_file(path, kMaxResultFileBytes + 1);  // sparse: costs no disk
    EXPECT_EQ(LoadMeasureFile(path, TSVVLong, list, dialogs, Unsorted).Result,
              ELoadResult::TooLarge);
    EXPECT_EQ(dialogs.Messages, (std::vector<std::uint32_t>{832}));
    EXPECT_EQ(dialogs.Details, (std::vector<std::string>{path}));
    EXPECT_EQ(ids(), (std::vector<std::string>{"old"}));
}

TEST_F(ResultFileLoad, fileWrittenInAnotherLanguageAndSavedAgainIsByteForByteTheSame) {
    const TextLookup other = [](const TLangEntry& e) { return "Spalte " + std::to_string(e.ID); };
    for (ETSVVersion layout : {TSVVLong, TSVVShort, TSVVTobrel}) {
        TMeasureList source;
        for (int i = 0; i < 3; ++i) source.push_back(sampleSet("s" + std::to_string(i), i));
        TSaveRequest r;
        r.Mode = ESaveMode::LastFile;
        r.Layout = layout;
        r.LastFile = dir.File("lang.tsv");
        ASSERT_EQ(SaveMeasureList(source, r, dialogs, other).Result, ESaveResult::Saved);
        const std::string written = fileBytes(r.LastFile);

        ASSERT_EQ(LoadMeasureFile(r.LastFile, layout, list, dialogs, Unsorted).Result,
                  ELoadResult::Loaded);
        ASSERT_EQ(list.size(), 3u);
        r.LastFile = dir.File("again.tsv");
        ASSERT_EQ(SaveMeasureList(list, r, dialogs, other).Result, ESaveResult::Saved);
        EXPECT_EQ(fileBytes(r.LastFile), written) << int{layout};
        std::filesystem::remove(dir.File("lang.tsv"));
        std::filesystem::remove(r.LastFile);
    }
}

// A file of many short lines becomes as many sets: each holds only itself,
// with its short texts inside it and nothing on the side.
TEST_F(ResultFileLoad, aShortLineBecomesASetWithoutAllocationsOfItsOwn) {
    const std::string path = write("short-lines.tsv", TSVVLong, {"17\t\t\t\t1\t", "18\t\t\t\t1\t"});
    const TLoadOutcome out = LoadMeasureFile(path, TSVVLong, list, dialogs, Unsorted);
    ASSERT_EQ(out.Result, ELoadResult::Loaded);
    ASSERT_EQ(list.size(), 2u);
    const TMeasureSet& s = *list[0];
    EXPECT_EQ(s.TestID, "17");
    EXPECT_EQ(s.ResultList.capacity(), 0u);
    EXPECT_EQ(s.ImageData.capacity(), 0u);
    EXPECT_EQ(s.OrigImage.capacity(), 0u);
    EXPECT_FALSE(s.MeasureResult.HasResults());
    const std::string empty;
    for (const std::string* text :
         {&s.TestID, &s.TestName, &s.LotNr, &s.Distr_Manu, &s.UserComment, &s.Voltage,
          &s.Temperature, &s.ImgMin, &s.ImgMax, &s.PatientID, &s.PatientBDate})
        EXPECT_EQ(text->capacity(), empty.capacity());
}

// What a merge needs to know of a file: the IDs of its lines, damaged ones
// and repeated ones included, the header not.
TEST_F(ResultFileLoad, theIDsOfAFileAreItsLinesFirstFieldsWithoutParsingThem) {
    const std::string path =
        write("ids.tsv", TSVVShort,
              {FormatMeasureRow(*sampleSet("a", 1), TSVVShort), "b\tbroken", "",
               FormatMeasureRow(*sampleSet("a", 2), TSVVShort), "1 2 3 4 1807 0042 33752069\t"});
    std::unordered_set<std::string> ids{"stale"};
    ASSERT_TRUE(ReadResultFileTestIDs(path, ids));
    EXPECT_EQ(ids, (std::unordered_set<std::string>{"a", "b", "", "1 2 3 4 1807 0042 33752069"}));
    EXPECT_FALSE(ReadResultFileTestIDs(dir.File("missing.tsv"), ids));
    EXPECT_TRUE(ids.empty());
}

}  // namespace
}  // namespace kyvo
