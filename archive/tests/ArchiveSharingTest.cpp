// Several writers at once, databases the program must not touch, the
// feed's spool across a server that goes away, and copying between engines.
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <set>
#include <sstream>

#include "archive/ArchiveInternal.h"
#include "archive/tests/ArchiveTestSupport.h"

namespace kyvo::testing {
namespace {

class ArchiveSharing : public ArchiveEngineBase {};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

template <typename F>
void ExpectKind(EArchiveErrorKind kind, F&& call, const std::string& inMessage = "") {
    try {
        call();
        ADD_FAILURE() << "no error";
    } catch (const TArchiveError& e) {
        EXPECT_EQ(e.Kind, kind) << e.what();
        EXPECT_NE(std::string(e.what()).find(inMessage), std::string::npos) << e.what();
    }
}

TEST_P(ArchiveSharing, TwoProcessesWritingAtOnceStoreEveryMeasurementOnce) {
    const std::string loc = Fresh();
    OpenArchive(loc);
    // Both store the same 150 measurements, each also 100 of its own, one
    // transaction per measurement, as a device read feeds them.
    std::vector<pid_t> children;
    for (int who = 0; who < 2; ++who) {
        const pid_t child = ::fork();
        if (child == 0) {
            int failures = 0;
            try {
                auto a = OpenArchive(loc);
                const TArchiveActor actor{"writer" + std::to_string(who), "h", "p", "v"};
                for (int i = 0; i < 250; ++i) {
                    const int k = i < 150 ? i : 1000 * (who + 1) + i;
                    try {
                        a->Store(FullSet(DeviceId(k), k), {}, EArchiveSource::DeviceRead, actor);
                    } catch (const TArchiveError&) {
                        ++failures;
                    }
                }
            } catch (...) {
                ::_exit(2);
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t c : children) {
        int status = 0;
        ::waitpid(c, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    auto a = OpenArchive(loc);
    TArchiveFilter all;
    const auto rows = a->List(all);
    std::set<std::string> ids;
    for (const auto& r : rows) ids.insert(r.TestId);
    EXPECT_EQ(rows.size(), 350u);
    EXPECT_EQ(ids.size(), rows.size());
    const TArchiveCheck c = a->Check();
    EXPECT_TRUE(c.Problems.empty());
    EXPECT_EQ(c.AuditRows, 350);  // one insert each, no second insert of the shared ones
    EXPECT_EQ(c.ResultRows, 350 * 3);
}

TEST_P(ArchiveSharing, TwoBatchWritersInOppositeOrdersStoreEveryMeasurementOnce) {
    const std::string loc = Fresh();
    OpenArchive(loc);
    std::vector<pid_t> children;
    for (int who = 0; who < 2; ++who) {
        const pid_t child = ::fork();
        if (child == 0) {
            try {
                auto a = OpenArchive(loc);
                std::vector<TMeasureSet> sets;
                for (int i = 0; i < 600; ++i)
                    sets.push_back(FullSet(DeviceId(who ? 599 - i : i), who ? 599 - i : i));
                for (int i = 0; i < 100; ++i)
                    sets.push_back(FullSet(DeviceId(5000 + 100 * who + i), i));
                for (std::size_t from = 0; from < sets.size(); from += 70) {
                    std::vector<const TMeasureSet*> batch;
                    for (std::size_t k = from; k < std::min(sets.size(), from + 70); ++k)
                        batch.push_back(&sets[k]);
                    a->StoreMany(batch, {}, EArchiveSource::ImportedFile,
                                 TArchiveActor{"b", "h", "p", "v"});
                }
            } catch (const std::exception& e) {
                std::fprintf(stderr, "writer %d: %s\n", who, e.what());
                ::_exit(1);
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (pid_t c : children) {
        int status = 0;
        ::waitpid(c, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    auto a = OpenArchive(loc);
    const TArchiveCheck c = a->Check();
    EXPECT_TRUE(c.Problems.empty());
    EXPECT_EQ(c.Measurements, 800);
    EXPECT_EQ(c.AuditRows, 800);
    EXPECT_EQ(c.ResultRows, 800 * 3);
}

TEST_P(ArchiveSharing, NewerSchemaIsRefusedAndLeftUntouched) {
    const std::string loc = Fresh();
    OpenArchive(loc)->Store(FullSet(DeviceId(1), 1), {}, EArchiveSource::DeviceRead, Actor());
    if (GetParam() == "sqlite") {
        const std::string path = loc.substr(7);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 7", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
        const std::string before = ReadAll(path);
        struct stat st {};
        ::stat(path.c_str(), &st);
        ExpectKind(
            EArchiveErrorKind::NewerSchema, [&] { OpenArchive(loc); }, "newer version");
        struct stat st2 {};
        ::stat(path.c_str(), &st2);
        EXPECT_EQ(ReadAll(path), before);
        EXPECT_EQ(st.st_mtim.tv_nsec, st2.st_mtim.tv_nsec);
    } else {
        const std::string db =
            loc.substr(loc.find(":///") + 4, loc.find('?') - loc.find(":///") - 4);
        TTempPostgres::Shared().Exec(db, "UPDATE schema_version SET version = 7");
        ExpectKind(
            EArchiveErrorKind::NewerSchema, [&] { OpenArchive(loc); }, "schema 7");
        TTempPostgres::Shared().Exec(db, "UPDATE schema_version SET version = " +
                                             std::to_string(archive_detail::kSchemaVersion));
        EXPECT_EQ(OpenArchive(loc)->Count({}), 1);
    }
}

TEST(ArchiveOpen, RefusesWhatIsNoArchiveAndKeepsItsFilesPrivate) {
    TArchiveScratch scratch;
    {
        std::ofstream(scratch.File("text.sqlite"))
            << "just some text, long enough to be no database header at all";
    }
    ExpectKind(EArchiveErrorKind::NotAnArchive,
               [&] { OpenArchive("sqlite:" + scratch.File("text.sqlite")); });
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(scratch.File("other.sqlite").c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE invoices(x)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ExpectKind(EArchiveErrorKind::NotAnArchive,
               [&] { OpenArchive("sqlite:" + scratch.File("other.sqlite")); });
    ExpectKind(EArchiveErrorKind::BadInput, [&] { OpenArchive("mysql://server/db"); });
    ExpectKind(EArchiveErrorKind::BadInput, [&] { OpenArchive("sqlite:"); });
    { std::ofstream(scratch.File("plainfile")) << "x"; }
    ExpectKind(
        EArchiveErrorKind::Unreachable,
        [&] { OpenArchive("sqlite:" + scratch.File("plainfile") + "/sub/a.sqlite"); },
        "cannot be reached");

    // The default place: folders 0700, the file 0600, whatever the umask.
    const std::string data = scratch.File("xdg/data");
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    const mode_t old = ::umask(0);
    EXPECT_EQ(DefaultArchiveLocation(), "sqlite:" + data + "/kyvo-data-reader/archive.sqlite");
    EXPECT_EQ(DefaultSpoolPath(), data + "/kyvo-data-reader/archive-spool.sqlite");
    auto a = OpenArchive("");
    a->Store(FullSet(DeviceId(1), 1), {}, EArchiveSource::DeviceRead, TArchiveActor{});
    ::umask(old);
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(a->Location(),
              DefaultArchiveLocation().substr(0, 7) + data + "/kyvo-data-reader/archive.sqlite");
    struct stat st {};
    ASSERT_EQ(::stat((data + "/kyvo-data-reader").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(data.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat((data + "/kyvo-data-reader/archive.sqlite").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(ArchiveOpen, PostgresLocationHidesThePasswordAndSaysWhyItCannotConnect) {
    if (const auto why = TTempPostgres::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    TTempPostgres& pg = TTempPostgres::Shared();
    pg.CreateDatabase("pwtest");
    const std::string uri = "postgresql://postgres:s3cret@/pwtest?host=" + pg.SocketDir();
    auto a = OpenArchive(uri);
    EXPECT_EQ(a->Location().find("s3cret"), std::string::npos) << a->Location();
    EXPECT_EQ(a->Location(), "postgresql://postgres@/pwtest?host=" + pg.SocketDir());
    TArchiveScratch nowhere;
    const std::string dead = "postgresql:///kyvo?host=" + nowhere.File("") + "&password=zz";
    ExpectKind(
        EArchiveErrorKind::Unreachable, [&] { OpenArchive(dead); },
        "The archive postgresql:///kyvo?host=" + nowhere.File("") + " cannot be reached: ");
}

TEST(ArchiveFeed, SpoolsWhileThePostgresServerIsAwayAndDeliversInOrderAfterwards) {
    if (const auto why = TTempPostgres::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    TTempPostgres pg;  // its own server: this test stops it
    const std::string loc = pg.CreateDatabase("feed");
    TArchiveScratch scratch;
    TArchiveFeed feed(loc, scratch.File("spool/spool.sqlite"), TArchiveActor{"u", "h", "p", "v"});
    std::vector<TMeasureSet> sets;
    for (int i = 0; i < 8; ++i) sets.push_back(FullSet(DeviceId(i), i));
    auto ptrs = [&](int from, int to) {
        std::vector<const TMeasureSet*> p;
        for (int i = from; i < to; ++i) p.push_back(&sets[static_cast<std::size_t>(i)]);
        return p;
    };
    const TArchiveDevice dev{"1807 0042", "2.13", "6"};
    TFeedOutcome out = feed.Feed(ptrs(0, 2), dev, EArchiveSource::DeviceRead);
    EXPECT_EQ(out.Stored, 2u);
    EXPECT_EQ(out.Added, 2u);
    EXPECT_FALSE(out.Unreachable);

    pg.Stop();
    out = feed.Feed(ptrs(2, 5), dev, EArchiveSource::DeviceRead);
    EXPECT_TRUE(out.Unreachable);
    EXPECT_EQ(out.Stored, 0u);
    EXPECT_EQ(out.Spooled, 3u);
    EXPECT_NE(out.Error.find("cannot be reached"), std::string::npos) << out.Error;
    out = feed.Deliver();
    EXPECT_TRUE(out.Unreachable);
    EXPECT_EQ(feed.Waiting(), 3u);
    struct stat st {};
    ASSERT_EQ(::stat(scratch.File("spool/spool.sqlite").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    pg.Start();
    // The next feed delivers what waited first, then its own.
    out = feed.Feed(ptrs(5, 8), dev, EArchiveSource::Measurement);
    EXPECT_FALSE(out.Unreachable) << out.Error;
    EXPECT_EQ(out.Stored, 6u);
    EXPECT_EQ(out.Added, 6u);
    EXPECT_EQ(out.Spooled, 0u);
    auto a = OpenArchive(loc);
    TArchiveFilter byAdded;
    byAdded.Sort = EArchiveSort::Added;
    std::vector<std::string> order;
    for (const auto& r : a->List(byAdded)) order.push_back(r.TestId);
    std::vector<std::string> expected;
    for (const auto& s : sets) expected.push_back(s.TestID);
    EXPECT_EQ(order, expected);
    EXPECT_EQ(a->List(byAdded)[3].Source, "device-read");
    EXPECT_EQ(a->List(byAdded)[6].Source, "measurement");
    ExpectSameSet(a->Load(*a->FindByTestId(sets[3].TestID)), sets[3]);
    EXPECT_TRUE(a->Check().Problems.empty());
    // Delivering again adds nothing.
    out = feed.Deliver();
    EXPECT_EQ(out.Stored, 0u);
}

TEST(ArchiveFeed, SpoolsWhileTheSqliteFileCannotBeOpened) {
    TArchiveScratch scratch;
    {
        std::ofstream(scratch.File("blocker"))
            << "x";  // a file where the archive's folder should be
    }
    const std::string loc = "sqlite:" + scratch.File("blocker") + "/archive.sqlite";
    TArchiveFeed feed(loc, scratch.File("spool.sqlite"), TArchiveActor{});
    TMeasureSet s = FullSet(DeviceId(1), 1);
    s.UserComment = "edited";
    s.CommentEdited = true;
    TFeedOutcome out = feed.Feed({&s}, {}, EArchiveSource::Measurement);
    EXPECT_TRUE(out.Unreachable);
    EXPECT_EQ(out.Spooled, 1u);
    std::filesystem::remove(scratch.File("blocker"));
    out = feed.Deliver();
    EXPECT_EQ(out.Stored, 1u);
    EXPECT_EQ(out.Spooled, 0u);
    auto a = OpenArchive(loc);
    ExpectSameSet(a->Load(*a->FindByTestId(s.TestID)), s);
    TMeasureSet empty;
    ExpectKind(EArchiveErrorKind::BadInput,
               [&] { feed.Feed({&empty}, {}, EArchiveSource::Measurement); });
}

TEST(ArchiveFeed, AMeasurementWaitingForOneArchiveNeverGoesIntoAnother) {
    TArchiveScratch scratch;
    {
        std::ofstream(scratch.File("blocker")) << "x";
    }
    const std::string away = "sqlite:" + scratch.File("blocker") + "/lab.sqlite";
    const std::string other = "sqlite:" + scratch.File("own.sqlite");
    const std::string spool = scratch.File("spool.sqlite");
    TMeasureSet s = FullSet(DeviceId(7), 7);
    EXPECT_EQ(TArchiveFeed(away, spool, TArchiveActor{}).Feed({&s}, {}, EArchiveSource::Measurement)
                  .Spooled,
              1u);
    // The next run works with another archive: the waiting one stays waiting.
    TArchiveFeed second(other, spool, TArchiveActor{});
    EXPECT_EQ(second.Waiting(), 0u);
    TMeasureSet t = FullSet(DeviceId(8), 8);
    const TFeedOutcome out = second.Feed({&t}, {}, EArchiveSource::Measurement);
    EXPECT_EQ(out.Stored, 1u);
    EXPECT_FALSE(OpenArchive(other)->FindByTestId(s.TestID));
    std::filesystem::remove(scratch.File("blocker"));
    TArchiveFeed back(away, spool, TArchiveActor{});
    EXPECT_EQ(back.Waiting(), 1u);
    EXPECT_EQ(back.Deliver().Stored, 1u);
    EXPECT_TRUE(OpenArchive(away)->FindByTestId(s.TestID));
}

TEST(ArchiveFeed, ACommentEditedWhileTheArchiveIsAwayWaitsBehindItsMeasurement) {
    TArchiveScratch scratch;
    {
        std::ofstream(scratch.File("blocker")) << "x";
    }
    const std::string loc = "sqlite:" + scratch.File("blocker") + "/lab.sqlite";
    TArchiveFeed feed(loc, scratch.File("spool.sqlite"), TArchiveActor{"ann", "pc", "kyvo", "1"});
    TMeasureSet s = FullSet(DeviceId(3), 3);
    s.UserComment = "";
    EXPECT_EQ(feed.Feed({&s}, {}, EArchiveSource::DeviceRead).Spooled, 1u);
    TFeedOutcome edit = feed.SetComment(s.TestID, "re-test tomorrow");
    EXPECT_TRUE(edit.Unreachable);
    EXPECT_EQ(edit.Stored, 0u);
    EXPECT_EQ(feed.SetComment(DeviceId(99), "no such measurement").Spooled, 3u);
    std::filesystem::remove(scratch.File("blocker"));
    const TFeedOutcome out = feed.Deliver();
    EXPECT_EQ(out.Spooled, 0u);
    auto a = OpenArchive(loc);
    const auto id = a->FindByTestId(s.TestID);
    ASSERT_TRUE(id);
    EXPECT_EQ(a->Load(*id).UserComment, "re-test tomorrow");
    const auto history = a->History(*id);
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[1].Action, "comment");
    EXPECT_EQ(history[1].User, "ann");
    EXPECT_FALSE(a->FindByTestId(DeviceId(99)));
    // Reachable, an edit goes straight in.
    EXPECT_EQ(feed.SetComment(s.TestID, "done").Stored, 1u);
    EXPECT_EQ(a->Load(*id).UserComment, "done");
}

TEST(ArchiveCopy, SqliteToPostgresToSqliteKeepsMeasurementsAndAuditTrail) {
    if (const auto why = TTempPostgres::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    TArchiveScratch scratch;
    auto src = OpenArchive("sqlite:" + scratch.File("src.sqlite"));
    const TArchiveActor alice{"alice", "pc1", "kyvo", "0.1"};
    const TArchiveActor bob{"bob", "pc2", "kyvo", "0.2"};
    for (int i = 0; i < 40; ++i) {
        TMeasureSet s = FullSet(DeviceId(i), i);
        if (i == 3) s.DateTime.Data = {9, 9, 9, 9, 0, 0};
        src->Store(s, TArchiveDevice{i % 2 ? "1807 0001" : "", "2.1", "6"},
                   i % 3 ? EArchiveSource::DeviceRead : EArchiveSource::ImportedFile, alice);
    }
    src->SetComment(*src->FindByTestId(DeviceId(4)), "checked", bob);
    src->SetPatient(*src->FindByTestId(DeviceId(5)), "P-5", "1999-09-09", bob);
    src->Remove(*src->FindByTestId(DeviceId(6)), "duplicate card", bob);

    const std::string pgLoc = TTempPostgres::Shared().CreateDatabase("copy");
    auto mid = OpenArchive(pgLoc);
    auto dst = OpenArchive("sqlite:" + scratch.File("dst.sqlite"));
    EXPECT_EQ(CopyArchive(*src, *mid), 40);
    EXPECT_EQ(CopyArchive(*src, *mid), 0);
    EXPECT_EQ(CopyArchive(*mid, *dst), 40);
    EXPECT_EQ(CopyArchive(*mid, *dst), 0);

    TArchiveFilter all;
    all.IncludeRemoved = true;
    for (IArchive* other : {mid.get(), dst.get()}) {
        SCOPED_TRACE(other->Location());
        const auto a = src->List(all);
        const auto b = other->List(all);
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].Id, b[i].Id);
            EXPECT_EQ(a[i].TestId, b[i].TestId);
            EXPECT_EQ(a[i].DateTime, b[i].DateTime);
            EXPECT_EQ(a[i].DeviceSerial, b[i].DeviceSerial);
            EXPECT_EQ(a[i].Comment, b[i].Comment);
            EXPECT_EQ(a[i].PatientId, b[i].PatientId);
            EXPECT_EQ(a[i].Results, b[i].Results);
            EXPECT_EQ(a[i].Source, b[i].Source);
            EXPECT_EQ(a[i].Removed, b[i].Removed);
            EXPECT_EQ(a[i].RemovedReason, b[i].RemovedReason);
            const TArchiveRecord ra = src->LoadRecord(a[i].Id);
            const TArchiveRecord rb = other->LoadRecord(b[i].Id);
            ExpectSameSet(ra.Set, rb.Set);
            EXPECT_EQ(ra.Added, rb.Added);
            EXPECT_EQ(ra.Device.Firmware, rb.Device.Firmware);
            const auto ha = src->History(a[i].Id);
            const auto hb = other->History(b[i].Id);
            ASSERT_EQ(ha.size(), hb.size());
            for (std::size_t k = 0; k < ha.size(); ++k) {
                EXPECT_EQ(ha[k].Time, hb[k].Time);
                EXPECT_EQ(ha[k].User, hb[k].User);
                EXPECT_EQ(ha[k].Host, hb[k].Host);
                EXPECT_EQ(ha[k].Program, hb[k].Program);
                EXPECT_EQ(ha[k].Version, hb[k].Version);
                EXPECT_EQ(ha[k].Action, hb[k].Action);
                EXPECT_EQ(ha[k].TestId, hb[k].TestId);
                EXPECT_EQ(ha[k].OldValue, hb[k].OldValue);
                EXPECT_EQ(ha[k].NewValue, hb[k].NewValue);
            }
        }
        EXPECT_EQ(other->Count({}), 39);
        EXPECT_EQ(other->Audit(0, 0).size(), src->Audit(0, 0).size());
        EXPECT_TRUE(other->Check().Problems.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, ArchiveSharing, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace kyvo::testing
