#include "files/ResultFileWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "files/FileLock.h"
#include "files/tests/ResultFileTestSupport.h"

namespace kyvo {
namespace {

using testing::fields;
using testing::fileBytes;
using testing::fileLines;
using testing::sampleSet;
using testing::tabs;
using testing::TScratchDir;
using testing::TScriptedDialogs;

TEST(ResultFileHeader, tabCountsIdentifyEveryLayoutInAnyLanguage) {
    const TextLookup german = [](const TLangEntry& e) { return "T" + std::to_string(e.ID); };
    struct Case {
        ETSVVersion layout;
        std::size_t tabs;
    } cases[] = {{TSVVLong, 139}, {TSVVShort, 46}, {TSVVTobrel, 36}};
    for (const auto& c : cases) {
        for (const TextLookup& text : {TextLookup(EnglishText), german}) {
            const std::string header = BuildTsvHeader(c.layout, text);
            EXPECT_EQ(tabs(header), c.tabs);
            EXPECT_EQ(header.back(), '\t');
            EXPECT_EQ(DetectTsvVersion(header), c.layout);
        }
    }
    EXPECT_EQ(DetectTsvVersion(""), TSVEmpty);
    EXPECT_EQ(DetectTsvVersion("Test ID\tTest name\t"), TSVVUnknown);
}

TEST(ResultFileHeader, titlesFollowTheColumnOrderWithNumberedResultsAndLines) {
    const auto longTitles = fields(BuildTsvHeader(TSVVLong));
    ASSERT_EQ(longTitles.size(), 139u);
    EXPECT_EQ(
        std::vector<std::string>(longTitles.begin(), longTitles.begin() + 12),
        (std::vector<std::string>{"Test ID", "Test name", "Lot number", "Distributor/Manufacturer",
                                  "Date / Time", "User comments", "Voltage", "Temperature",
                                  "Result name 1", "Result 1", "Result unit 1", "Class 1"}));
    EXPECT_EQ(longTitles[47], "Class 10");
    EXPECT_EQ(longTitles[48], "Mean value 1");
    EXPECT_EQ(longTitles[56], "Line width 1");
    EXPECT_EQ(longTitles[137], "Line width 10");
    EXPECT_EQ(longTitles[138], "Image data");

    const auto tobrel = fields(BuildTsvHeader(TSVVTobrel));
    EXPECT_EQ(tobrel[5], "User comments");
    EXPECT_EQ(std::vector<std::string>(tobrel.begin() + 6, tobrel.begin() + 9),
              (std::vector<std::string>{"Result name 1", "Result 1", "Class 1"}));
    EXPECT_EQ(tobrel.back(), "Class 10");
    EXPECT_EQ(fields(BuildTsvHeader(TSVVShort))[8], "Result unit 1");
}

TEST(ResultFileRow, dateFieldIsACalendarDateOrTheNumberOfItsFirstFourBytes) {
    struct Case {
        std::uint8_t year, month, day, hour, minute, second;
        const char* text;
    } cases[] = {
        {17, 3, 15, 14, 5, 9, "03/15/2017 14:05:09"},
        {18, 1, 1, 0, 0, 0, "01/01/2018"},
        {18, 1, 1, 0, 0, 1, "01/01/2018 00:00:01"},
        {0, 12, 31, 23, 59, 59, "12/31/2000 23:59:59"},
        {20, 2, 29, 8, 0, 0, "02/29/2020 08:00:00"},
        {18, 0, 13, 11, 0, 9, "218824713"},  // month 0
        {19, 2, 29, 1, 2, 3, "486605315"},   // no 29 February in 2019
        {18, 13, 1, 0, 0, 0, "16777216"},    // month 13
        {18, 5, 0, 10, 0, 0, "655360"},      // day 0
        {18, 5, 5, 24, 0, 0, "85458944"},    // hour 24
        {18, 5, 5, 10, 60, 0, "84556800"},   // minute 60
    };
    for (const auto& c : cases) {
        TDateData d;
        setDateData(d, c.year, c.month, c.day, c.hour, c.minute, c.second);
        EXPECT_EQ(FormatTsvDate(d), c.text);
    }
}

TEST(ResultFileRow, lineNumbersUseTwoDecimalsAndThreeDigitIntegers) {
    struct Case {
        float v;
        const char* text;
    } cases[] = {{2.0f, "2.00"},
                 {-0.5f, "-0.50"},
                 {1234567.0f, "1234567.00"},
                 {std::numeric_limits<float>::infinity(), "INF"},
                 {-std::numeric_limits<float>::infinity(), "-INF"},
                 {std::nanf(""), "NAN"},
                 {-std::nanf(""), "NAN"}};
    for (const auto& c : cases) EXPECT_EQ(FormatTsvFloat(c.v), c.text);

    auto s = sampleSet("id");
    const auto f = fields(FormatMeasureRow(*s, TSVVLong));
    // Line 1 starts after 8 fixed and 40 result fields.
    EXPECT_EQ(std::vector<std::string>(f.begin() + 48, f.begin() + 57),
              (std::vector<std::string>{"100.25", "2.00", "250.50", "10.75", "11.00", "120.00",
                                        "007", "-005", "012"}));
}

TEST(ResultFileRow, resultFieldsJoinValidityAndNameOnlyWhenThereIsAName) {
    TMeasureSet s;
    s.ResultList.push_back({"Valid", "", "1", "u", "c"});
    s.ResultList.push_back({"", "Name", "2", "", ""});
    s.ResultList.push_back({"Invalid", "A - B", "x", "", ""});
    const auto f = fields(FormatMeasureRow(s, TSVVShort));
    ASSERT_EQ(f.size(), 46u);
    EXPECT_EQ(std::vector<std::string>(f.begin() + 6, f.begin() + 18),
              (std::vector<std::string>{"", "1", "u", "c", " - Name", "2", "", "",
                                        "Invalid - A - B", "x", "", ""}));
}

TEST(ResultFileRow, everyLayoutPadsResultsAndEndsWithATab) {
    auto s = sampleSet("1 2 3 4 1807 0042 33752069");
    s->ResultList.push_back({"Valid", "Third", "3", "", ""});
    const std::string tobrel = FormatMeasureRow(*s, TSVVTobrel);
    const auto t = fields(tobrel);
    ASSERT_EQ(t.size(), 36u);
    EXPECT_EQ(tobrel.back(), '\t');
    EXPECT_EQ(std::vector<std::string>(t.begin() + 6, t.begin() + 15),
              (std::vector<std::string>{"Valid - CRP", "12.5", "", "Valid - Ratio", "", "positive",
                                        "Valid - Third", "3", ""}));
    EXPECT_TRUE(std::all_of(t.begin() + 15, t.end(), [](const auto& x) { return x.empty(); }));

    const std::string shortRow = FormatMeasureRow(*s, TSVVShort);
    EXPECT_EQ(tabs(shortRow), 46u);
    EXPECT_EQ(shortRow.back(), '\t');

    // Long: 139 fields before the image, one per image value, no extra field.
    const std::string longRow = FormatMeasureRow(*s, TSVVLong);
    EXPECT_EQ(tabs(longRow), 138u + 40u);
    EXPECT_EQ(longRow.back(), '\t');
    const auto l = fields(longRow);
    EXPECT_EQ(l[6], "3700");
    EXPECT_EQ(l[7], "23.50");
    EXPECT_EQ(l[138], "100");
}

TEST(ResultFileRow, firstLineOfWidthZeroWritesNinetyEmptyLineFields) {
    auto s = sampleSet("id");
    s->MeasureResult.Results().Line[0].Width = 0;
    const auto f = fields(FormatMeasureRow(*s, TSVVLong));
    EXPECT_TRUE(
        std::all_of(f.begin() + 48, f.begin() + 138, [](const auto& x) { return x.empty(); }));
    EXPECT_EQ(f[138], "100");

    // No image and no lines: the line stops after the 90 line fields.
    TMeasureSet bare;
    bare.MeasureResult.LineCount = 200;  // more than fits; never more than ten lines
    EXPECT_EQ(tabs(FormatMeasureRow(bare, TSVVLong)), 138u);
}

TEST(ResultFileRow, imageStopsAtTheFirstNegativeEntry) {
    TMeasureSet s;
    s.OrigImage = {5, 4095, -1, 7};
    const auto f = fields(FormatMeasureRow(s, TSVVLong));
    EXPECT_EQ(std::vector<std::string>(f.begin() + 138, f.end()),
              (std::vector<std::string>{"5", "4095"}));
    s.OrigImage.assign(kMaxImageValues + 1, 1);
    EXPECT_EQ(fields(FormatMeasureRow(s, TSVVLong)).size(), 138u + 256u);
}

TEST(ResultFileRow, tabsAndLineBreaksInsideTextsCannotBreakTheColumns) {
    auto s = sampleSet("id");
    s->UserComment = "first line\r\nsecond\tpart";
    s->ResultList[0].ResultName = "CR\nP";
    const std::string row = FormatMeasureRow(*s, TSVVShort);
    EXPECT_EQ(tabs(row), 46u);
    EXPECT_EQ(row.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(fields(row)[5], "first line  second part");
    EXPECT_EQ(fields(row)[6], "Valid - CR P");
}

TEST(ResultFileRow, moreThanTenResultsAreNotWritten) {
    TMeasureSet s;
    for (int i = 0; i < 12; ++i) s.ResultList.push_back({"", "R" + std::to_string(i), "", "", ""});
    const auto f = fields(FormatMeasureRow(s, TSVVShort));
    ASSERT_EQ(f.size(), 46u);
    EXPECT_EQ(f[42], " - R9");
}

// Saving --------------------------------------------------------------------

TMeasureList sampleList(int count, int firstSeed = 0) {
    TMeasureList list;
    for (int i = 0; i < count; ++i) {
        list.push_back(sampleSet("id " + std::to_string(firstSeed + i), firstSeed + i));
    }
    return list;
}

TSaveOutcome saveTo(const std::string& path, const TMeasureList& list, ETSVVersion layout,
                    TScriptedDialogs& dialogs) {
    TSaveRequest r;
    r.Mode = ESaveMode::LastFile;
    r.Layout = layout;
    r.LastFile = path;
    return SaveMeasureList(list, r, dialogs);
}

TEST(ResultFileSave, newFileHoldsTheHeaderAndOneLinePerMeasurementInUtf16) {
    TScratchDir dir;
    const auto list = sampleList(3);
    TScriptedDialogs dialogs;
    const std::string path = dir.File("Results.tsv");
    ASSERT_EQ(saveTo(path, list, TSVVShort, dialogs).Result, ESaveResult::Saved);

    const std::string bytes = fileBytes(path);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(bytes.substr(bytes.size() - 4), std::string("\r\0\n\0", 4));
    const auto lines = fileLines(path);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(tabs(lines[0]), 46u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(lines[i + 1], FormatMeasureRow(*list[i], TSVVShort));
    EXPECT_TRUE(dialogs.Messages.empty());
    EXPECT_TRUE(dialogs.Questions.empty());  // a new file needs no question
    // Only the result file is left: no temporary file, no lock file.
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"Results.tsv"}));
}

TEST(ResultFileSave, savingTheSameListTwiceLeavesTheFileUnchanged) {
    for (ETSVVersion layout : {TSVVLong, TSVVShort, TSVVTobrel}) {
        TScratchDir dir;
        const auto list = sampleList(4);
        TScriptedDialogs dialogs;
        const std::string path = dir.File("r.tsv");
        ASSERT_EQ(saveTo(path, list, layout, dialogs).Result, ESaveResult::Saved);
        const std::string first = fileBytes(path);
        ASSERT_EQ(saveTo(path, list, layout, dialogs).Result, ESaveResult::Saved);
        EXPECT_EQ(fileBytes(path), first) << int{layout};
    }
}

TEST(ResultFileSave, changedMeasurementReplacesItsLineInPlaceAndNewOnesAreAppended) {
    TScratchDir dir;
    auto list = sampleList(3);
    TScriptedDialogs dialogs;
    const std::string path = dir.File("r.tsv");
    ASSERT_EQ(saveTo(path, list, TSVVLong, dialogs).Result, ESaveResult::Saved);

    list[1]->UserComment = "changed";
    list.erase(list.begin());  // a line of a set no longer listed stays
    list.push_back(sampleSet("id 9", 9));
    ASSERT_EQ(saveTo(path, list, TSVVLong, dialogs).Result, ESaveResult::Saved);
    const auto lines = fileLines(path);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(fields(lines[1])[0], "id 0");
    EXPECT_EQ(lines[2], FormatMeasureRow(*list[0], TSVVLong));
    EXPECT_EQ(fields(lines[2])[5], "changed");
    EXPECT_EQ(lines[3], FormatMeasureRow(*list[1], TSVVLong));
    EXPECT_EQ(lines[4], FormatMeasureRow(*list[2], TSVVLong));
}

TEST(ResultFileSave, aCommentInTheFileSurvivesASetWithoutOneButNotAnEditedOne) {
    TScratchDir dir;
    TScriptedDialogs dialogs;
    const std::string path = dir.File("r.tsv");
    auto annotated = sampleList(3);
    for (auto& set : annotated) set->UserComment = "checked by " + set->TestID;
    ASSERT_EQ(saveTo(path, annotated, TSVVLong, dialogs).Result, ESaveResult::Saved);

    // The same measurements read again from the device carry no comment.
    auto reread = sampleList(3);
    for (auto& set : reread) set->UserComment.clear();
    reread[1]->CommentEdited = true;      // the user cleared this one
    reread[2]->UserComment = "new note";  // and wrote this one
    reread[2]->CommentEdited = true;
    ASSERT_EQ(saveTo(path, reread, TSVVLong, dialogs).Result, ESaveResult::Saved);
    const auto lines = fileLines(path);
    ASSERT_EQ(lines.size(), 4u);  // updated in place, nothing appended
    EXPECT_EQ(fields(lines[1])[5], "checked by id 0");
    EXPECT_EQ(fields(lines[2])[5], "");
    EXPECT_EQ(fields(lines[3])[5], "new note");

    // Saving once more changes nothing.
    const std::string before = fileBytes(path);
    ASSERT_EQ(saveTo(path, reread, TSVVLong, dialogs).Result, ESaveResult::Saved);
    EXPECT_EQ(fileBytes(path), before);
}

TEST(ResultFileSave, mergingKeepsForeignAndDamagedLinesAndRefreshesTheHeader) {
    TScratchDir dir;
    const auto list = sampleList(2);
    const std::string path = dir.File("r.tsv");
    // A header in another language, a line the list does not know, a damaged
    // line of a listed measurement, and one line that is no measurement.
    std::string germanHeader;
    for (int i = 0; i < 46; ++i) germanHeader += "Spalte\t";
    const std::string foreign = FormatMeasureRow(*sampleSet("other", 7), TSVVShort);
    const std::string damaged = "id 1\tname\tlot\tdm\tnot a date\t";
    ASSERT_TRUE(
        writeFileAtomically(path, encodeTextLines({germanHeader, foreign, damaged, "free text"})));

    TScriptedDialogs dialogs;
    ASSERT_EQ(saveTo(path, list, TSVVShort, dialogs).Result, ESaveResult::Saved);
    EXPECT_EQ(fileLines(path),
              (std::vector<std::string>{BuildTsvHeader(TSVVShort), foreign, damaged, "free text",
                                        FormatMeasureRow(*list[0], TSVVShort),
                                        FormatMeasureRow(*list[1], TSVVShort)}));
}

TEST(ResultFileSave, emptyOrZeroByteFileReceivesTheHeaderAndTheLines) {
    for (const std::string& content :
         {std::string(), std::string("\xFF\xFE"), std::string("\xFF\xFE\r\0\n\0", 6)}) {
        TScratchDir dir;
        const std::string path = dir.File("r.tsv");
        ASSERT_TRUE(writeFileAtomically(path, content));
        const auto list = sampleList(2);
        TScriptedDialogs dialogs;
        ASSERT_EQ(saveTo(path, list, TSVVTobrel, dialogs).Result, ESaveResult::Saved);
        const auto lines = fileLines(path);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], BuildTsvHeader(TSVVTobrel));
    }
}

TEST(ResultFileSave, fileOfAnotherLayoutIsLeftAloneAndInteractiveModeChoosesAgain) {
    TScratchDir dir;
    const std::string shortFile = dir.File("short.tsv");
    const std::string other = dir.File("other.tsv");
    const auto oldList = sampleList(2, 50);
    TScriptedDialogs setup;
    ASSERT_EQ(saveTo(shortFile, oldList, TSVVShort, setup).Result, ESaveResult::Saved);
    ASSERT_EQ(saveTo(other, oldList, TSVVLong, setup).Result, ESaveResult::Saved);
    const std::string shortBytes = fileBytes(shortFile);

    const auto list = sampleList(2);
    {
        TScriptedDialogs dialogs;
        EXPECT_EQ(saveTo(shortFile, list, TSVVLong, dialogs).Result, ESaveResult::Incompatible);
        EXPECT_EQ(dialogs.Messages, (std::vector<std::uint32_t>{668}));
        EXPECT_EQ(dialogs.Captions, (std::vector<std::uint32_t>{648}));
        EXPECT_EQ(fileBytes(shortFile), shortBytes);
    }
    {
        TScriptedDialogs dialogs;
        dialogs.Files = {shortFile, other};
        dialogs.Answers = {EDialogAnswer::Yes, EDialogAnswer::No};
        TSaveRequest r;
        r.Layout = TSVVLong;
        EXPECT_EQ(SaveMeasureList(list, r, dialogs).Result, ESaveResult::Saved);
        EXPECT_EQ(dialogs.Questions, (std::vector<std::uint32_t>{562, 562}));
        EXPECT_EQ(dialogs.Messages, (std::vector<std::uint32_t>{668}));
        EXPECT_EQ(dialogs.Remembered, (std::vector<std::string>{shortFile, other}));
        EXPECT_EQ(fileBytes(shortFile), shortBytes);
        EXPECT_EQ(fileLines(other),
                  (std::vector<std::string>{BuildTsvHeader(TSVVLong),
                                            FormatMeasureRow(*list[0], TSVVLong),
                                            FormatMeasureRow(*list[1], TSVVLong)}));
    }
}

TEST(ResultFileSave, cancellingTheDialogOrTheQuestionWritesNothing) {
    TScratchDir dir;
    const std::string path = dir.File("r.tsv");
    ASSERT_TRUE(writeFileAtomically(path, "old"));
    const auto list = sampleList(1);
    TSaveRequest r;
    r.Layout = TSVVShort;

    TScriptedDialogs noFile;
    EXPECT_EQ(SaveMeasureList(list, r, noFile).Result, ESaveResult::Cancelled);
    TScriptedDialogs cancel;
    cancel.Files = {path};
    cancel.Answers = {EDialogAnswer::Cancel};
    EXPECT_EQ(SaveMeasureList(list, r, cancel).Result, ESaveResult::Cancelled);
    EXPECT_EQ(fileBytes(path), "old");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"r.tsv"}));
}

TEST(ResultFileSave, fileHeldByAnotherInstanceIsReportedInUseAndTriedAgain) {
    TScratchDir dir;
    const std::string path = dir.File("r.tsv");
    const auto list = sampleList(1);
    auto other = std::make_unique<TFileLock>();
    ASSERT_EQ(other->TryLock(path), ELockResult::Locked);

    // The automatic modes try the same file again after each OK; here the
    // other instance finishes while the second message is shown.
    TScriptedDialogs dialogs;
    int shown = 0;
    dialogs.OnMessage = [&] {
        if (++shown == 2) other.reset();
    };
    TSaveRequest r;
    r.Mode = ESaveMode::Tracking;
    r.Layout = TSVVShort;
    r.TrackingFile = path;
    EXPECT_EQ(SaveMeasureList(list, r, dialogs).Result, ESaveResult::Saved);
    EXPECT_EQ(dialogs.Messages, (std::vector<std::uint32_t>{556, 556}));
    EXPECT_EQ(fileLines(path).size(), 2u);

    // Interactive mode shows the save dialog again.
    TFileLock again;
    ASSERT_EQ(again.TryLock(path), ELockResult::Locked);
    TScriptedDialogs interactive;
    interactive.Files = {path, dir.File("free.tsv")};
    r.Mode = ESaveMode::Interactive;
    EXPECT_EQ(SaveMeasureList(list, r, interactive).Result, ESaveResult::Saved);
    EXPECT_EQ(interactive.Messages, (std::vector<std::uint32_t>{556}));
    EXPECT_EQ(fileLines(dir.File("free.tsv")).size(), 2u);
}

TEST(ResultFileSave, unwritableFolderFailsWithAReasonAndChangesNothing) {
    TScratchDir dir;
    const auto list = sampleList(1);
    TScriptedDialogs dialogs;
    const TSaveOutcome out = saveTo(dir.File("missing/r.tsv"), list, TSVVShort, dialogs);
    EXPECT_EQ(out.Result, ESaveResult::Failed);
    EXPECT_NE(out.Error.find("missing"), std::string::npos);
    EXPECT_TRUE(dir.Names().empty());
}

TEST(ResultFileLock, secondHolderSeesTheFileInUseUntilTheFirstLetsGo) {
    TScratchDir dir;
    const std::string path = dir.File("r.tsv");
    TFileLock a, b;
    EXPECT_EQ(a.TryLock(path), ELockResult::Locked);
    EXPECT_EQ(b.TryLock(path), ELockResult::InUse);
    a.Unlock();
    EXPECT_TRUE(dir.Names().empty());  // the lock file goes with the lock
    EXPECT_EQ(b.TryLock(path), ELockResult::Locked);
    EXPECT_EQ(a.TryLock(path), ELockResult::InUse);
}

}  // namespace
}  // namespace kyvo
