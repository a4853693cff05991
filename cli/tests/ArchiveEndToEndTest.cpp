// kyvo-cli and its archive, end to end: the real program against the real
// simulator, a real SQLite file and a real (throw-away) PostgreSQL server.
// Every run gets a data folder of its own, so that archive and spool are
// never the user's.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include "archive/testsupport/TempPostgres.h"
#include "cli/tests/SimProcess.h"
#include "files/AtomicFile.h"
#include "files/TextCodec.h"

namespace {

namespace fs = std::filesystem;
using kyvo::testing::TTempPostgres;

// Every kyvo-cli of this test binary (the other end-to-end tests' too)
// keeps its archive and spool in a folder of its own, never the user's.
const std::string kDataHome = [] {
    const std::string folder =
        ::testing::TempDir() + "kyvo-cli-e2e-data-" + std::to_string(getpid());
    setenv("XDG_DATA_HOME", folder.c_str(), 1);
    return folder;
}();

struct Result {
    int status = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

// A scratch folder: the data folder (archive, spool) and the cache of the
// runs made through it.
struct Home {
    std::string dir;
    Home() {
        static int n = 0;
        dir = ::testing::TempDir() + "kyvo-archive-e2e-" + std::to_string(getpid()) + "-" +
              std::to_string(++n);
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~Home() { fs::remove_all(dir); }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    std::string Sqlite() const { return "sqlite:" + Path("data/kyvo-data-reader/archive.sqlite"); }

    // kyvo-cli with args; program: another copy of it (one with its own settings).
    Result Run(const std::string& args, const std::string& program = KYVO_CLI_PROGRAM) const {
        const std::string errFile = Path("stderr.txt");
        const std::string cmd = "XDG_DATA_HOME=" + Path("data") +
                                " XDG_CACHE_HOME=" + Path("cache") + " " + program + " " + args +
                                " 2>" + errFile;
        Result r;
        FILE* p = popen(cmd.c_str(), "r");
        if (!p) return r;
        std::array<char, 4096> buf{};
        std::size_t n;
        while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
        const int st = pclose(p);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        std::ifstream e(errFile);
        std::stringstream ss;
        ss << e.rdbuf();
        r.err = ss.str();
        return r;
    }
};

std::size_t Lines(const std::string& text) {
    std::size_t n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

std::string Show(const Result& r) {
    return "status " + std::to_string(r.status) + "\nstdout:\n" + r.out + "\nstderr:\n" + r.err;
}

// A copy of kyvo-cli in a folder of its own, with its own user settings.
std::string ProgramWithSettings(const Home& home, const std::string& settings) {
    const std::string folder = home.Path("program");
    fs::create_directories(folder);
    fs::copy_file(KYVO_CLI_PROGRAM, folder + "/kyvo-cli", fs::copy_options::overwrite_existing);
    std::ofstream(folder + "/DRConfig.ini") << settings;
    return folder + "/kyvo-cli";
}

TEST(KyvoCliArchive, aReadFeedsTheArchiveAndASecondReadChangesNothing) {
    kyvo::testing::SimProcess sim;
    ASSERT_FALSE(sim.port.empty());
    Home home;
    const Result read = home.Run("--port " + sim.port + " read --out " + home.Path("r.tsv"));
    ASSERT_EQ(read.status, 0) << Show(read);
    EXPECT_EQ(read.err, "");
    const Result list = home.Run("archive list");
    ASSERT_EQ(list.status, 0) << Show(list);
    EXPECT_EQ(Lines(list.out), 25u) << list.out;
    EXPECT_EQ(
        list.out.rfind("1\t2026-12-02T08:15:00\t12 3 1 7 1807 0042 34082560\tCRP quantitative", 0),
        0u)
        << list.out;
    EXPECT_NE(list.out.find("\t12 3 1807 0042\t"), std::string::npos) << "the device's serial";
    EXPECT_NE(list.out.find("\tdevice-read\n"), std::string::npos);
    const Result json = home.Run("archive list --format json");
    const Result check = home.Run("archive check");
    EXPECT_EQ(check.status, 0) << Show(check);

    const Result again = home.Run("--port " + sim.port + " read --out " + home.Path("r.tsv"));
    ASSERT_EQ(again.status, 0) << Show(again);
    EXPECT_EQ(home.Run("archive list --format json").out, json.out);
    EXPECT_EQ(home.Run("archive check").out, check.out) << "no new rows, no new audit rows";

    // The same sets as export writes from the result file the read wrote.
    const Result exported = home.Run("export " + home.Path("r.tsv") + " --to csv");
    const Result listed = home.Run("archive list --format csv");
    ASSERT_EQ(exported.status, 0) << Show(exported);
    EXPECT_EQ(Lines(listed.out), Lines(exported.out));
}

TEST(KyvoCliArchive, aMeasurementFeedsTheArchiveAsAMeasurement) {
    kyvo::testing::SimProcess sim;
    ASSERT_FALSE(sim.port.empty());
    Home home;
    const Result m =
        home.Run("--port " + sim.port + " measure --stored 2 --out " + home.Path("m.tsv"));
    ASSERT_EQ(m.status, 0) << Show(m);
    const Result list = home.Run("archive list");
    ASSERT_EQ(Lines(list.out), 1u) << list.out;
    EXPECT_NE(list.out.find("\tDrug screen\t"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\tmeasurement\n"), std::string::npos) << list.out;
}

TEST(KyvoCliArchive, theFeedSettingFalseFeedsNothing) {
    kyvo::testing::SimProcess sim;
    ASSERT_FALSE(sim.port.empty());
    Home home;
    const std::string program = ProgramWithSettings(home, "[Archive]\nFeed = FALSE\n");
    const Result read =
        home.Run("--port " + sim.port + " read --out " + home.Path("r.tsv"), program);
    ASSERT_EQ(read.status, 0) << Show(read);
    EXPECT_TRUE(fs::exists(home.Path("r.tsv")));
    EXPECT_FALSE(fs::exists(home.Path("data/kyvo-data-reader/archive.sqlite")));
    EXPECT_FALSE(fs::exists(home.Path("data/kyvo-data-reader/archive-spool.sqlite")));
}

TEST(KyvoCliArchive, theLocationSettingAndTheArchiveOptionChooseTheArchive) {
    kyvo::testing::SimProcess sim;
    ASSERT_FALSE(sim.port.empty());
    Home home;
    const std::string program = ProgramWithSettings(
        home, "[Archive]\nLocation = \"sqlite:" + home.Path("lab.sqlite") + "\"\n");
    ASSERT_EQ(home.Run("--port " + sim.port + " read --out " + home.Path("r.tsv"), program).status,
              0);
    EXPECT_EQ(Lines(home.Run("--archive sqlite:" + home.Path("lab.sqlite") + " archive list").out),
              25u);
    // --archive stands above the setting.
    ASSERT_EQ(home.Run("--archive sqlite:" + home.Path("other.sqlite") + " --port " + sim.port +
                           " read --out " + home.Path("r.tsv"),
                       program)
                  .status,
              0);
    EXPECT_EQ(Lines(home.Run("archive list", program).out), 25u);
    EXPECT_EQ(
        Lines(home.Run("--archive sqlite:" + home.Path("other.sqlite") + " archive list").out),
        25u);
    EXPECT_FALSE(fs::exists(home.Path("data/kyvo-data-reader/archive.sqlite")));
}

TEST(KyvoCliArchive, importTakesEveryLayoutOnceAndADamagedFileKeepsTheLinesBeforeIt) {
    kyvo::testing::SimProcess sim;
    ASSERT_FALSE(sim.port.empty());
    Home maker;  // writes the three layouts; its own archive is not looked at
    for (const char* layout : {"long", "short", "tobrel"}) {
        const Result r = maker.Run("--layout " + std::string(layout) + " --port " + sim.port +
                                   " read --out " + maker.Path(std::string(layout) + ".tsv"));
        ASSERT_EQ(r.status, 0) << layout << Show(r);
    }
    for (const char* layout : {"long", "short", "tobrel"}) {
        SCOPED_TRACE(layout);
        Home home;
        const std::string file = maker.Path(std::string(layout) + ".tsv");
        const Result first = home.Run("archive import " + file);
        ASSERT_EQ(first.status, 0) << Show(first);
        EXPECT_EQ(first.out, file + ": 25 added, 0 unchanged, 0 updated\n");
        const std::string json = home.Run("archive list --format json").out;
        const Result second = home.Run("archive import " + file);
        EXPECT_EQ(second.status, 0) << Show(second);
        EXPECT_EQ(second.out, file + ": 0 added, 25 unchanged, 0 updated\n");
        EXPECT_EQ(home.Run("archive list --format json").out, json);
        EXPECT_NE(home.Run("archive list").out.find("\timport\n"), std::string::npos);
    }

    // The long file with a line that is no measurement after its fifth one,
    // saved as a Linux editor would (UTF-8).
    std::string bytes;
    ASSERT_TRUE(kyvo::readFileBytes(maker.Path("long.tsv"), bytes));
    std::vector<std::string> lines = kyvo::decodeTextLines(bytes);
    ASSERT_GT(lines.size(), 10u);
    lines.insert(lines.begin() + 6, "this line was cut off by a full disk");
    const std::string damagedFile = maker.Path("damaged.tsv");
    {
        std::ofstream f(damagedFile, std::ios::binary);
        for (const std::string& line : lines) f << line << "\n";
    }
    Home home;
    const Result damaged = home.Run("archive import " + damagedFile);
    EXPECT_EQ(damaged.status, 6) << Show(damaged);
    EXPECT_NE(damaged.err.find("stopped at line 7"), std::string::npos) << damaged.err;
    EXPECT_EQ(Lines(damaged.err), 1u) << damaged.err;
    EXPECT_EQ(damaged.out, damagedFile + ": 5 added, 0 unchanged, 0 updated\n");
    EXPECT_EQ(Lines(home.Run("archive list").out), 5u)
        << "the lines before the damaged one are kept";

    const Result missing = home.Run("archive import " + home.Path("nothing.tsv"));
    EXPECT_EQ(missing.status, 6) << Show(missing);
}

TEST(KyvoCliArchive, editsAreKeptWithTheirHistoryAndARemovalNeedsAReason) {
    Home home;
    ASSERT_EQ(
        home.Run("archive import " + std::string(KYVO_CLI_TEST_DATA) + "/demo-results.tsv").status,
        0);
    EXPECT_EQ(home.Run("archive comment 1 \"checked twice\"").status, 0);
    EXPECT_EQ(home.Run("archive patient 1 P-17 1970-02-03").status, 0);
    const Result noReason = home.Run("archive remove 2");
    EXPECT_EQ(noReason.status, 2) << Show(noReason);
    EXPECT_EQ(home.Run("archive remove 2 --reason \"wrong card\"").status, 0);

    const Result h1 = home.Run("archive history 1");
    ASSERT_EQ(h1.status, 0) << Show(h1);
    ASSERT_EQ(Lines(h1.out), 3u) << h1.out;
    std::istringstream rows(h1.out);
    std::string insert, comment, patient;
    std::getline(rows, insert);
    std::getline(rows, comment);
    std::getline(rows, patient);
    EXPECT_NE(insert.find("\tinsert\t"), std::string::npos) << insert;
    EXPECT_NE(comment.find("\tkyvo-cli "), std::string::npos) << comment;
    EXPECT_NE(comment.find("@"), std::string::npos) << comment;
    EXPECT_NE(comment.find("\tcomment\t\"\" \u2192 \"checked twice\""), std::string::npos)
        << comment;
    EXPECT_NE(patient.find("\tpatient\t"), std::string::npos) << patient;
    EXPECT_NE(patient.find("P-17"), std::string::npos) << patient;
    EXPECT_NE(home.Run("archive history 2").out.find("\tremove\t\"\" \u2192 \"wrong card\""),
              std::string::npos);

    const Result list = home.Run("archive list");
    EXPECT_EQ(list.out.find("\nremoved"), std::string::npos);
    EXPECT_EQ(list.out.rfind("2\t", 0), std::string::npos) << "removed ones are hidden";
    EXPECT_NE(list.out.find("\tchecked twice\tP-17\t"), std::string::npos) << list.out;
    EXPECT_NE(home.Run("archive list --removed").out.find("\tremoved: wrong card\n"),
              std::string::npos);

    // The PDF report of what a filter selects, through the export's report.
    const std::string pdf = home.Path("crp.pdf");
    const Result report = home.Run("archive report --test \"CRP quantitative\" --out " + pdf);
    ASSERT_EQ(report.status, 0) << Show(report);
    std::ifstream pdfFile(pdf, std::ios::binary);
    std::string head(5, '\0');
    pdfFile.read(head.data(), 5);
    EXPECT_EQ(head, "%PDF-");
    EXPECT_EQ(home.Run("archive report --test nothing-like-this --out " + pdf).status, 6);

    // A copy into another SQLite archive carries the edits and their trail;
    // a second copy adds nothing.
    const std::string copy = "sqlite:" + home.Path("copy.sqlite");
    const Result copied = home.Run("archive copy --to " + copy);
    ASSERT_EQ(copied.status, 0) << Show(copied);
    EXPECT_EQ(home.Run("archive copy --to " + copy).out.rfind("copied 0 measurements", 0), 0u);
    EXPECT_EQ(home.Run("--archive " + copy + " archive list --removed --format json").out,
              home.Run("archive list --removed --format json").out);
    EXPECT_EQ(home.Run("--archive " + copy + " archive history 1").out.substr(0, 10),
              h1.out.substr(0, 10));
    EXPECT_EQ(Lines(home.Run("--archive " + copy + " archive history 1").out), 3u);

    const Result unknown = home.Run("archive comment 999 x");
    EXPECT_EQ(unknown.status, 7) << Show(unknown);
    EXPECT_EQ(home.Run("archive history x").status, 2);
}

TEST(KyvoCliArchive, anArchiveThatCannotBeUsedIsStatusSevenWithItsReason) {
    Home home;
    const Result unreachable =
        home.Run("--archive 'postgresql:///kyvo?host=" + home.Path("no-server") + "' archive list");
    EXPECT_EQ(unreachable.status, 7) << Show(unreachable);
    EXPECT_NE(unreachable.err.find("cannot be reached"), std::string::npos) << unreachable.err;
    EXPECT_EQ(Lines(unreachable.err), 1u) << unreachable.err;

    // A newer program's archive is left alone.
    ASSERT_EQ(home.Run("archive check").status, 0);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(home.Path("data/kyvo-data-reader/archive.sqlite").c_str(), &db),
              SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const Result newer = home.Run("archive list");
    EXPECT_EQ(newer.status, 7) << Show(newer);
    EXPECT_NE(newer.err.find("newer version"), std::string::npos) << newer.err;

    std::ofstream(home.Path("notes.sqlite")) << "shopping list\n";
    const Result foreign =
        home.Run("--archive sqlite:" + home.Path("notes.sqlite") + " archive list");
    EXPECT_EQ(foreign.status, 7) << Show(foreign);
}

TEST(KyvoCliArchive, copyingSqliteToPostgresAndBackGivesTheSameArchive) {
    if (const auto why = TTempPostgres::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    TTempPostgres& pg = TTempPostgres::Shared();
    const std::string server = pg.CreateDatabase("cli_copy");
    Home home;
    ASSERT_EQ(
        home.Run("archive import " + std::string(KYVO_CLI_TEST_DATA) + "/demo-results.tsv").status,
        0);
    ASSERT_EQ(home.Run("archive comment 3 \"seen by the lab\"").status, 0);
    ASSERT_EQ(home.Run("archive remove 4 --reason duplicate").status, 0);
    const std::string json = home.Run("archive list --removed --format json").out;
    const std::string history = home.Run("archive history 3").out;

    const Result toServer = home.Run("archive copy --to '" + server + "'");
    ASSERT_EQ(toServer.status, 0) << Show(toServer);
    const Result twice = home.Run("archive copy --to '" + server + "'");
    ASSERT_EQ(twice.status, 0) << Show(twice);
    EXPECT_EQ(twice.out.rfind("copied 0 measurements", 0), 0u) << twice.out;
    EXPECT_EQ(home.Run("--archive '" + server + "' archive list --removed --format json").out,
              json);

    const std::string back = "sqlite:" + home.Path("back.sqlite");
    ASSERT_EQ(home.Run("--archive '" + server + "' archive copy --to " + back).status, 0);
    EXPECT_EQ(home.Run("--archive " + back + " archive list --removed --format json").out, json);
    const std::string backHistory = home.Run("--archive " + back + " archive history 3").out;
    EXPECT_EQ(Lines(backHistory), Lines(history)) << backHistory;
    EXPECT_NE(backHistory.find("seen by the lab"), std::string::npos) << backHistory;
    EXPECT_EQ(home.Run("--archive " + back + " archive check").status, 0);
}

TEST(KyvoCliArchive, aServerStoppedMidReadCostsNothingAndTheNextRunDelivers) {
    if (const auto why = TTempPostgres::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    TTempPostgres pg;  // its own server: this test stops it
    const std::string server = pg.CreateDatabase("cli_spool");
    // Paced as a real line, so that the read lasts long enough to stop the
    // server on its way.
    kyvo::testing::SimProcess sim({"--baud", "115200"});
    ASSERT_FALSE(sim.port.empty());
    Home home;
    const std::string trace = home.Path("trace.txt");
    auto run = std::async(std::launch::async, [&] {
        return home.Run("--archive '" + server + "' --trace " + trace + " --port " + sim.port +
                        " read --out " + home.Path("r.tsv"));
    });
    // Once ring blocks flow (the trace grows past the identification), the
    // server goes away.
    for (int i = 0; i < 400 && (!fs::exists(trace) || fs::file_size(trace) < 20000); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    pg.Stop();
    const Result read = run.get();
    EXPECT_EQ(read.status, 0) << Show(read);
    EXPECT_TRUE(fs::exists(home.Path("r.tsv"))) << "the result file is written as ever";
    EXPECT_NE(read.out.find("read 25 measurements (25 new)"), std::string::npos) << read.out;
    ASSERT_EQ(Lines(read.err), 1u) << read.err;
    EXPECT_NE(read.err.find("the archive cannot be reached"), std::string::npos) << read.err;
    EXPECT_NE(read.err.find("25 measurements wait"), std::string::npos) << read.err;

    pg.Start();
    // The next run delivers what waited before its own measurement.
    const Result next = home.Run("--archive '" + server + "' --port " + sim.port +
                                 " measure --stored 1 --out " + home.Path("m.tsv"));
    EXPECT_EQ(next.status, 0) << Show(next);
    EXPECT_EQ(next.err, "");
    const Result list = home.Run("--archive '" + server + "' archive list");
    EXPECT_EQ(Lines(list.out), 26u) << Show(list);
}

}  // namespace
