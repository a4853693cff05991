// Result files of every layout into the archive, also when damaged or cut
// off by a killed process.
#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <random>

#include "archive/tests/ArchiveTestSupport.h"
#include "files/ResultFileReader.h"
#include "files/ResultFileWriter.h"
#include "files/TextCodec.h"

namespace kyvo::testing {
namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<std::string> ResultFileLines(ETSVVersion layout, int first, int count) {
    std::vector<std::string> lines{BuildTsvHeader(layout)};
    for (int i = first; i < first + count; ++i) {
        TMeasureSet s = FullSet(DeviceId(i), i);
        if (i % 4 == 0) s.UserComment = "Kommentar " + std::to_string(i);
        if (i % 5 == 0) s.PatientID = "P" + std::to_string(i);
        lines.push_back(FormatMeasureRow(s, layout));
    }
    return lines;
}

class ArchiveImport : public ArchiveEngineBase {};

TEST_P(ArchiveImport, EveryLayoutImportsOnceAndLoadsAsTheFileHoldsIt) {
    for (ETSVVersion layout : {TSVVLong, TSVVShort, TSVVTobrel}) {
        SCOPED_TRACE(static_cast<int>(layout));
        auto a = OpenArchive(Fresh("layout" + std::to_string(layout)));
        const auto lines = ResultFileLines(layout, 0, 12);
        const std::string path = scratch_.File("r.tsv");
        WriteFile(path, encodeTextLines(lines));
        const TImportOutcome first = ImportResultFile(*a, path, Actor());
        EXPECT_TRUE(first.Complete) << first.Error;
        EXPECT_EQ(first.Added, 12);
        const TImportOutcome again = ImportResultFile(*a, path, Actor());
        EXPECT_TRUE(again.Complete);
        EXPECT_EQ(again.Added, 0);
        EXPECT_EQ(again.Unchanged, 12);
        EXPECT_EQ(again.Updated, 0);
        for (std::size_t i = 1; i < lines.size(); ++i) {
            TMeasureSet expected;
            ASSERT_TRUE(ParseMeasureRow(lines[i], expected, layout));
            const auto id = a->FindByTestId(expected.TestID);
            ASSERT_TRUE(id);
            ExpectSameSet(a->Load(*id), expected);
        }
        const auto rows = a->List({});
        ASSERT_EQ(rows.size(), 12u);
        EXPECT_EQ(rows[0].Source, "import");
        EXPECT_FALSE(rows[0].DeviceSerial.empty());  // from the identity text
        EXPECT_TRUE(a->Check().Problems.empty());
    }
}

TEST_P(ArchiveImport, ShippedResultFilesAndEncodings) {
    auto a = OpenArchive(Fresh());
    const TImportOutcome demo = ImportResultFile(
        *a, std::string(KYVO_SOURCE_DIR) + "/cli/tests/data/demo-results.tsv", Actor());
    EXPECT_TRUE(demo.Complete) << demo.Error;
    EXPECT_EQ(demo.Added + demo.Unchanged, 25);
    EXPECT_EQ(a->Count({}), demo.Added);

    // The same measurements as UTF-8 with LF (an edited copy), many enough
    // to cross the reader's chunks, add nothing more.
    const auto lines = ResultFileLines(TSVVLong, 100, 1500);
    std::string utf8;
    for (const auto& l : lines) utf8 += l + "\n";
    WriteFile(scratch_.File("u16.tsv"), encodeTextLines(lines));
    WriteFile(scratch_.File("u8.tsv"), utf8);
    const auto u16 = ImportResultFile(*a, scratch_.File("u16.tsv"), Actor());
    EXPECT_EQ(u16.Added, 1500);
    const auto u8 = ImportResultFile(*a, scratch_.File("u8.tsv"), Actor());
    EXPECT_TRUE(u8.Complete) << u8.Error;
    EXPECT_EQ(u8.Unchanged, 1500);
    EXPECT_EQ(a->Count({}), demo.Added + 1500);
    TArchiveFilter f;
    f.Text = "kommentar 1040";
    EXPECT_EQ(a->Count(f), 1);

    for (const std::string bad : {"", "not a result file\r\n"}) {
        WriteFile(scratch_.File("bad.tsv"), bad);
        try {
            ImportResultFile(*a, scratch_.File("bad.tsv"), Actor());
            ADD_FAILURE() << "imported " << bad;
        } catch (const TArchiveError& e) {
            EXPECT_EQ(e.Kind, EArchiveErrorKind::BadInput);
        }
    }
}

TEST_P(ArchiveImport, DamagedLineKeepsWhatCameBeforeAndSaysWhere) {
    auto a = OpenArchive(Fresh());
    auto lines = ResultFileLines(TSVVLong, 0, 6);
    const std::string good = lines[4];
    lines[4] = "12 3 1 7\tcut off";
    WriteFile(scratch_.File("d.tsv"), encodeTextLines(lines));
    const TImportOutcome out = ImportResultFile(*a, scratch_.File("d.tsv"), Actor());
    EXPECT_FALSE(out.Complete);
    EXPECT_EQ(out.StoppedAtLine, 5u);
    EXPECT_NE(out.Error.find("5"), std::string::npos) << out.Error;
    EXPECT_EQ(out.Added, 3);
    EXPECT_EQ(a->Count({}), 3);
    lines[4] = good;
    WriteFile(scratch_.File("d.tsv"), encodeTextLines(lines));
    const TImportOutcome fixed = ImportResultFile(*a, scratch_.File("d.tsv"), Actor());
    EXPECT_TRUE(fixed.Complete);
    EXPECT_EQ(fixed.Added, 3);
    EXPECT_EQ(fixed.Unchanged, 3);
}

TEST_P(ArchiveImport, KilledDuringImportLeavesItConsistentAndTheNextRunCompletes) {
    const std::string loc = Fresh();
    OpenArchive(loc);  // created before, so that the kill may come at any point of importing
    const int n = 4000;
    WriteFile(scratch_.File("big.tsv"), encodeTextLines(ResultFileLines(TSVVLong, 0, n)));
    std::mt19937 rng(std::random_device{}());
    for (int round = 0; round < 3; ++round) {
        const pid_t child = ::fork();
        if (child == 0) {
            try {
                auto a = OpenArchive(loc);
                ImportResultFile(*a, scratch_.File("big.tsv"), TArchiveActor{"k", "h", "p", "v"});
            } catch (...) {
            }
            ::_exit(0);
        }
        ::usleep(std::uniform_int_distribution<int>(20000, 600000)(rng));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        auto a = OpenArchive(loc);
        const TArchiveCheck c = a->Check();
        EXPECT_TRUE(c.Problems.empty()) << c.Problems.front();
        EXPECT_LE(c.Measurements, n);
        EXPECT_EQ(c.ResultRows, c.Measurements * 3);
    }
    auto a = OpenArchive(loc);
    const TImportOutcome out = ImportResultFile(*a, scratch_.File("big.tsv"), Actor());
    EXPECT_TRUE(out.Complete);
    EXPECT_EQ(out.Added + out.Unchanged, n);
    const TArchiveCheck c = a->Check();
    EXPECT_TRUE(c.Problems.empty());
    EXPECT_EQ(c.Measurements, n);
    EXPECT_EQ(c.AuditRows, n);
}

INSTANTIATE_TEST_SUITE_P(Engines, ArchiveImport, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace kyvo::testing
