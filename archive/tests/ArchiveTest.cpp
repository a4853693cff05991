// The archive's behaviour, the same table of cases against both engines.
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <set>

#include "archive/ArchiveInternal.h"
#include "archive/tests/ArchiveTestSupport.h"
#include "files/ResultFileWriter.h"
#include "files/TextCodec.h"

namespace kyvo::testing {

namespace {
// Stops the shared throw-away server at the end, also after failures.
class TPostgresEnvironment : public ::testing::Environment {
  public:
    void TearDown() override { TTempPostgres::StopShared(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new TPostgresEnvironment);
int g_dbCounter = 0;
}  // namespace

std::string FreshLocation(const std::string& engine, const TArchiveScratch& scratch,
                          const std::string& name) {
    if (engine == "sqlite") return "sqlite:" + scratch.File(name + ".sqlite");
    return TTempPostgres::Shared().CreateDatabase("t" + std::to_string(::getpid()) + "_" + name +
                                                  "_" + std::to_string(++g_dbCounter));
}

class ArchiveEngine : public ArchiveEngineBase {};

INSTANTIATE_TEST_SUITE_P(Engines, ArchiveEngine, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

TEST_P(ArchiveEngine, StoresAndLoadsEveryFieldExactly) {
    auto a = OpenArchive(Fresh());
    TMeasureSet s = FullSet(DeviceId(1), 1);
    s.UserComment = "first look";
    s.PatientID = "P-0042";
    s.PatientBDate = "1970-05-01";
    TMeasureSet noDate = FullSet(DeviceId(2), 2);
    noDate.DateTime.Data = {1, 2, 3, 4, 0, 0};  // no calendar date: the device's number text
    noDate.MeasureResult = TMeasureResult{};    // and no line data at all
    noDate.OrigImage.clear();
    noDate.ImageData.clear();
    const TArchiveDevice dev{"1807 0001", "FW 2.13", "6"};
    EXPECT_EQ(a->Store(s, dev, EArchiveSource::DeviceRead, Actor()), EStoreOutcome::Added);
    EXPECT_EQ(a->Store(noDate, dev, EArchiveSource::Measurement, Actor()), EStoreOutcome::Added);

    const auto id = a->FindByTestId(s.TestID);
    ASSERT_TRUE(id);
    ExpectSameSet(a->Load(*id), s);
    ExpectSameSet(a->Load(*a->FindByTestId(noDate.TestID)), noDate);
    EXPECT_FALSE(a->FindByTestId("no such"));
    try {
        a->Load(999999);
        ADD_FAILURE() << "no throw";
    } catch (const TArchiveError& e) {
        EXPECT_EQ(e.Kind, EArchiveErrorKind::NotFound);
    }

    const auto rows = a->List({});
    ASSERT_EQ(rows.size(), 2u);
    const TArchiveRow& r = rows[0].TestId == s.TestID ? rows[0] : rows[1];
    EXPECT_EQ(r.TestName, "CRP quantitative");
    EXPECT_EQ(r.DeviceSerial, "1807 0001");
    EXPECT_EQ(r.Comment, "first look");
    EXPECT_EQ(r.PatientId, "P-0042");
    EXPECT_EQ(r.Source, "device-read");
    EXPECT_EQ(r.DateTime, "2026-02-02T01:01:07");
    EXPECT_EQ(r.Results, "CRP 1.25 mg/l; Ratio <0.5; Größe FAIL");
    const TArchiveRow& r2 = rows[0].TestId == s.TestID ? rows[1] : rows[0];
    EXPECT_EQ(r2.DateTime, dateDataToNumberText(noDate.DateTime));
    EXPECT_EQ(r2.Source, "measurement");

    const TArchiveCheck c = a->Check();
    EXPECT_TRUE(c.Problems.empty()) << c.Problems.front();
    EXPECT_EQ(c.Measurements, 2);
    EXPECT_EQ(c.ResultRows, 6);
    EXPECT_EQ(c.Devices, 1);
    EXPECT_EQ(c.AuditRows, 2);
    EXPECT_EQ(c.SchemaVersion, a->SchemaVersion());
}

TEST_P(ArchiveEngine, StoringAgainChangesNothingButTheUsersLatestEdit) {
    auto a = OpenArchive(Fresh());
    TMeasureSet s = FullSet(DeviceId(3), 3);
    s.UserComment = "hemolytic";
    ASSERT_EQ(a->Store(s, {}, EArchiveSource::DeviceRead, Actor()), EStoreOutcome::Added);
    const auto id = *a->FindByTestId(s.TestID);
    const auto stamp = a->ChangeStamp();

    TMeasureSet again = FullSet(DeviceId(3), 3);  // read again: no comment, no patient
    EXPECT_EQ(a->Store(again, {}, EArchiveSource::DeviceRead, Actor()), EStoreOutcome::Unchanged);
    EXPECT_EQ(a->Store(s, {}, EArchiveSource::DeviceRead, Actor()), EStoreOutcome::Unchanged);
    EXPECT_EQ(a->ChangeStamp(), stamp);
    EXPECT_EQ(a->Load(id).UserComment, "hemolytic");
    EXPECT_EQ(a->History(id).size(), 1u);

    again.UserComment = "re-tested";
    EXPECT_EQ(a->Store(again, {}, EArchiveSource::DeviceRead, Actor("bob")),
              EStoreOutcome::Updated);
    again.UserComment = "";
    again.PatientID = "P-7";
    EXPECT_EQ(a->Store(again, {}, EArchiveSource::DeviceRead, Actor("bob")),
              EStoreOutcome::Updated);
    again.PatientID = "";
    again.PatientBDate = "1980-01-02";
    EXPECT_EQ(a->Store(again, {}, EArchiveSource::DeviceRead, Actor("bob")),
              EStoreOutcome::Updated);
    // The user cleared the comment in the list: that edit wins too.
    again.PatientBDate = "";
    again.CommentEdited = true;
    EXPECT_EQ(a->Store(again, {}, EArchiveSource::DeviceRead, Actor("bob")),
              EStoreOutcome::Updated);
    EXPECT_GT(a->ChangeStamp(), stamp);

    const TMeasureSet back = a->Load(id);
    EXPECT_EQ(back.UserComment, "");
    EXPECT_EQ(back.PatientID, "P-7");
    EXPECT_EQ(back.PatientBDate, "1980-01-02");
    const auto h = a->History(id);
    ASSERT_EQ(h.size(), 5u);
    EXPECT_EQ(h[0].Action, "insert");
    EXPECT_EQ(h[0].User, "alice");
    EXPECT_EQ(h[1].Action, "comment");
    EXPECT_EQ(h[1].OldValue, "hemolytic");
    EXPECT_EQ(h[1].NewValue, "re-tested");
    EXPECT_EQ(h[1].User, "bob");
    EXPECT_EQ(h[1].Host, "lab-pc");
    EXPECT_EQ(h[1].Program, "kyvo-test");
    EXPECT_EQ(h[1].Version, "0.1.0");
    EXPECT_EQ(h[1].TestId, s.TestID);
    EXPECT_EQ(h[1].MeasurementId, id);
    EXPECT_EQ(h[2].Action, "patient");
    EXPECT_EQ(h[2].OldValue, "");
    EXPECT_EQ(h[2].NewValue, "P-7");
    EXPECT_EQ(h[3].NewValue, "P-7 / 1980-01-02");
    EXPECT_EQ(h[4].Action, "comment");
    EXPECT_EQ(h[4].OldValue, "re-tested");
    EXPECT_EQ(h[4].NewValue, "");
    // "2026-12-11T14:03:05+01:00"
    ASSERT_EQ(h[0].Time.size(), 25u) << h[0].Time;
    EXPECT_EQ(h[0].Time[10], 'T');
    EXPECT_TRUE(h[0].Time[19] == '+' || h[0].Time[19] == '-');
    EXPECT_EQ(h[0].Time[22], ':');
}

TEST_P(ArchiveEngine, EditsAndRemovalsAreAuditedAndRemovedOnesHidden) {
    auto a = OpenArchive(Fresh());
    for (int i = 0; i < 3; ++i)
        a->Store(FullSet(DeviceId(i), i), {}, EArchiveSource::DeviceRead, Actor());
    const auto id = *a->FindByTestId(DeviceId(1));
    a->SetComment(id, "checked", Actor("carol"));
    a->SetComment(id, "checked", Actor("carol"));  // the same again: no row
    a->SetPatient(id, "P-1", "2001-02-03", Actor("carol"));
    for (const std::string reason : {"", "   "}) {
        try {
            a->Remove(id, reason, Actor());
            ADD_FAILURE() << "removed without a reason";
        } catch (const TArchiveError& e) {
            EXPECT_EQ(e.Kind, EArchiveErrorKind::BadInput);
        }
    }
    a->Remove(id, "wrong patient card", Actor("dave"));
    a->Remove(id, "again", Actor("dave"));  // removed once: the first reason stands
    for (auto call : std::vector<std::function<void()>>{
             [&] { a->SetComment(424242, "x", Actor()); }, [&] { a->Remove(424242, "x", Actor()); },
             [&] { a->History(424242); }}) {
        try {
            call();
            ADD_FAILURE() << "no throw";
        } catch (const TArchiveError& e) {
            EXPECT_EQ(e.Kind, EArchiveErrorKind::NotFound);
        }
    }

    EXPECT_EQ(a->Count({}), 2);
    TArchiveFilter all;
    all.IncludeRemoved = true;
    EXPECT_EQ(a->Count(all), 3);
    const auto rows = a->List(all);
    const auto it =
        std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r.Id == id; });
    ASSERT_NE(it, rows.end());
    EXPECT_TRUE(it->Removed);
    EXPECT_EQ(it->RemovedReason, "wrong patient card");
    EXPECT_EQ(it->Comment, "checked");
    // Still there, as it was.
    EXPECT_EQ(a->Load(id).PatientBDate, "2001-02-03");
    // Reading it again from the device does not bring it back.
    EXPECT_EQ(a->Store(FullSet(DeviceId(1), 1), {}, EArchiveSource::DeviceRead, Actor()),
              EStoreOutcome::Unchanged);
    EXPECT_EQ(a->Count({}), 2);

    const auto h = a->History(id);
    std::vector<std::string> actions;
    for (const auto& e : h)
        actions.push_back(e.Action + ":" + e.User + ":" + e.OldValue + ">" + e.NewValue);
    EXPECT_EQ(actions, (std::vector<std::string>{
                           "insert:alice:>device-read", "comment:carol:>checked",
                           "patient:carol:>P-1 / 2001-02-03", "remove:dave:>wrong patient card"}));
    const auto c = a->Check();
    EXPECT_TRUE(c.Problems.empty());
    EXPECT_EQ(c.Removed, 1);
    EXPECT_EQ(c.AuditRows, 6);
}

TEST_P(ArchiveEngine, FiltersSortsAndPages) {
    auto a = OpenArchive(Fresh());
    std::vector<TMeasureSet> sets;
    for (int i = 0; i < 30; ++i) {
        TMeasureSet s = FullSet(DeviceId(i), i);
        s.TestName = i % 3 == 0 ? "HbA1c" : "CRP quantitative";
        if (i == 7) s.UserComment = "Patient called Müller 100%";
        if (i == 8) s.PatientID = "MUELLER-8";
        sets.push_back(s);
    }
    std::vector<const TMeasureSet*> ptrs;
    for (const auto& s : sets) ptrs.push_back(&s);
    const auto outcomes = a->StoreMany(ptrs, {}, EArchiveSource::ImportedFile, Actor());
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), EStoreOutcome::Added), 30);

    auto ids = [&](const TArchiveFilter& f) {
        std::vector<std::string> out;
        for (const auto& r : a->List(f)) out.push_back(r.TestId);
        EXPECT_EQ(a->Count([&] {
            auto g = f;
            g.Offset = 0;
            g.Limit = 0;
            return g;
        }()),
                  static_cast<std::int64_t>(a->List([&] {
                                                 auto g = f;
                                                 g.Offset = 0;
                                                 g.Limit = 0;
                                                 return g;
                                             }())
                                                .size()));
        return out;
    };
    struct TCase {
        const char* name;
        TArchiveFilter filter;
        std::size_t count;
    };
    TArchiveFilter f;
    std::vector<TCase> cases;
    f = {};
    f.Test = "HbA1c";
    cases.push_back({"test", f, 10});
    f = {};
    f.Lot = "L1003";
    cases.push_back({"lot", f, 4});
    f = {};
    f.Device = "1807 0002";
    cases.push_back({"device", f, 10});
    f = {};
    f.From = "2026-03-01";
    f.To = "2026-04-30";
    cases.push_back({"dates", f, 6});
    f = {};
    f.To = "2026-01-31";
    cases.push_back({"to only, whole day", f, 3});
    f = {};
    f.Text = "müller";
    cases.push_back({"comment word, folded umlaut", f, 1});
    f = {};
    f.Text = "MÜLLER 100%";
    cases.push_back({"every word, percent literal", f, 1});
    f = {};
    f.Text = "mueller";
    cases.push_back({"patient id", f, 1});
    f = {};
    f.Text = "größe hba1c";
    cases.push_back({"result name and test name", f, 10});
    f = {};
    f.Text = "34082565";
    cases.push_back({"identity", f, 1});
    f = {};
    f.Text = "c_p";
    cases.push_back({"underscore literal", f, 0});
    f = {};
    f.Text = "12 3 1 7 1807 0002 34082565";
    cases.push_back({"whole identity, words shorter than three characters first", f, 1});
    f = {};
    f.Text = "7";
    cases.push_back({"one short word", f, 30});
    for (const auto& c : cases) EXPECT_EQ(ids(c.filter).size(), c.count) << c.name;

    // Sorted by date, both ways, paged without overlap or gap.
    TArchiveFilter byDate;
    const auto all = ids(byDate);
    ASSERT_EQ(all.size(), 30u);
    std::vector<std::string> dates;
    for (const auto& r : a->List(byDate)) dates.push_back(r.DateTime);
    EXPECT_TRUE(std::is_sorted(dates.begin(), dates.end()));
    byDate.Descending = true;
    auto desc = ids(byDate);
    std::reverse(desc.begin(), desc.end());
    EXPECT_EQ(desc, all);
    std::vector<std::string> paged;
    TArchiveFilter page;
    page.Limit = 7;
    for (page.Offset = 0; page.Offset < 35; page.Offset += 7) {
        const auto p = ids(page);
        paged.insert(paged.end(), p.begin(), p.end());
    }
    EXPECT_EQ(paged, all);
    for (auto sort :
         {EArchiveSort::TestId, EArchiveSort::TestName, EArchiveSort::Lot, EArchiveSort::Device,
          EArchiveSort::Comment, EArchiveSort::PatientId, EArchiveSort::Added}) {
        TArchiveFilter s;
        s.Sort = sort;
        EXPECT_EQ(a->List(s).size(), 30u);
    }
    TArchiveFilter byId;
    byId.Sort = EArchiveSort::TestId;
    const auto sortedIds = ids(byId);
    EXPECT_TRUE(std::is_sorted(sortedIds.begin(), sortedIds.end()));

    // A day that is no day is refused, not taken for a text that sorts somewhere.
    for (const char* day : {"11.12.2026", "2026-13-01", "2026-02-30", "2025-02-29", "2026-04-31"}) {
        TArchiveFilter bad;
        bad.From = day;
        try {
            a->List(bad);
            ADD_FAILURE() << day << ": no throw";
        } catch (const TArchiveError& e) {
            EXPECT_EQ(e.Kind, EArchiveErrorKind::BadInput) << day;
        }
    }
    TArchiveFilter leapDay;
    leapDay.To = "2024-02-29";
    EXPECT_NO_THROW(a->List(leapDay));
}

TEST_P(ArchiveEngine, ResultRowsHoldNumbersWhereTheValueIsOne) {
    const std::string loc = Fresh();
    auto a = OpenArchive(loc);
    a->Store(FullSet(DeviceId(5), 5), {}, EArchiveSource::DeviceRead, Actor());
    // Straight into the table, as a chart would read it.
    auto db = GetParam() == "sqlite" ? archive_detail::OpenSqliteDb(loc.substr(7))
                                     : archive_detail::OpenPostgresDb(loc);
    const auto rows = db->Query("SELECT no, name, value, value_text FROM results ORDER BY no", {});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(std::stod(*rows[0][2]), 5.25);
    EXPECT_FALSE(rows[1][2]);  // "<0.5" is a limit, not a value
    EXPECT_FALSE(rows[2][2]);
    EXPECT_EQ(*rows[2][1], "Größe");
    // The trail and the measurements are never rewritten or deleted, not
    // even by hand in the database.
    for (const char* sql : {"UPDATE audit SET user_name = 'mallory'", "DELETE FROM audit",
                            "DELETE FROM measurements"}) {
        try {
            db->Query(sql, {});
            ADD_FAILURE() << sql;
        } catch (const TArchiveError& e) {
            EXPECT_EQ(e.Kind, EArchiveErrorKind::Failed);
        }
    }
}

TEST_P(ArchiveEngine, ChangeStampFollowsOtherConnections) {
    const std::string loc = Fresh();
    auto viewer = OpenArchive(loc);
    auto writer = OpenArchive(loc);
    const auto before = viewer->ChangeStamp();
    EXPECT_EQ(viewer->WaitForChange(before, 50), before);
    const pid_t child = ::fork();
    if (child == 0) {
        ::usleep(200000);
        try {
            auto w = OpenArchive(loc);
            w->Store(FullSet(DeviceId(9), 9), {}, EArchiveSource::DeviceRead, TArchiveActor{});
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    const auto after = viewer->WaitForChange(before, 20000);
    EXPECT_GT(after, before);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto id = *writer->FindByTestId(DeviceId(9));
    writer->SetComment(id, "seen", TArchiveActor{});
    EXPECT_GT(viewer->WaitForChange(after, 20000), after);
}

}  // namespace kyvo::testing

namespace kyvo::testing {

TEST_P(ArchiveEngine, StoreManyGivesEachSetTheOutcomeStoreWould) {
    auto a = OpenArchive(Fresh());
    TMeasureSet known = FullSet(DeviceId(1), 1);
    TMeasureSet knownEdited = FullSet(DeviceId(2), 2);
    a->Store(known, {}, EArchiveSource::DeviceRead, Actor());
    a->Store(knownEdited, {}, EArchiveSource::DeviceRead, Actor());
    knownEdited.UserComment = "now with a comment";
    std::vector<TMeasureSet> fresh;
    for (int i = 10; i < 260; ++i) fresh.push_back(FullSet(DeviceId(i), i));
    TMeasureSet repeatWithPatient = fresh[5];
    repeatWithPatient.PatientID = "P-R";
    std::vector<const TMeasureSet*> batch{&known, &fresh[0], &knownEdited};
    for (std::size_t i = 1; i < fresh.size(); ++i) batch.push_back(&fresh[i]);
    batch.push_back(&fresh[0]);
    batch.push_back(&repeatWithPatient);
    const auto out = a->StoreMany(batch, TArchiveDevice{"", "3.0", "7"},
                                  EArchiveSource::ImportedFile, Actor("bulk"));
    ASSERT_EQ(out.size(), batch.size());
    EXPECT_EQ(out[0], EStoreOutcome::Unchanged);
    EXPECT_EQ(out[1], EStoreOutcome::Added);
    EXPECT_EQ(out[2], EStoreOutcome::Updated);
    EXPECT_EQ(std::count(out.begin() + 3, out.end() - 2, EStoreOutcome::Added), 249);
    EXPECT_EQ(out[out.size() - 2], EStoreOutcome::Unchanged);
    EXPECT_EQ(out.back(), EStoreOutcome::Updated);
    EXPECT_EQ(a->Count({}), 252);
    for (int i : {0, 5, 249}) {
        const auto id = a->FindByTestId(fresh[static_cast<std::size_t>(i)].TestID);
        ASSERT_TRUE(id);
        TMeasureSet expected = fresh[static_cast<std::size_t>(i)];
        if (i == 5) expected.PatientID = "P-R";
        ExpectSameSet(a->Load(*id), expected);
        const auto h = a->History(*id);
        ASSERT_FALSE(h.empty());
        EXPECT_EQ(h[0].Action, "insert");
        EXPECT_EQ(h[0].User, "bulk");
        EXPECT_EQ(h[0].NewValue, "import");
        EXPECT_EQ(h.size(), i == 5 ? 2u : 1u);
    }
    EXPECT_EQ(a->Load(*a->FindByTestId(knownEdited.TestID)).UserComment, "now with a comment");
    const auto c = a->Check();
    EXPECT_TRUE(c.Problems.empty());
    EXPECT_EQ(c.ResultRows, 252 * 3);
    EXPECT_EQ(c.AuditRows, 2 + 250 + 2);
    TArchiveFilter f;
    f.Text = "größe";
    EXPECT_EQ(a->Count(f), 252);
}

}  // namespace kyvo::testing

namespace kyvo::testing {

TEST(ArchiveSearchText, FoldsTheLettersOfEuropeanNames) {
    struct TCase {
        const char* in;
        const char* out;
    };
    for (const TCase& c : {TCase{"CRP Müller ÄÖÜ", "crp müller äöü"}, TCase{"ŁÓDŹ Ŵ Ÿ", "łódź ŵ ÿ"},
                           TCase{"ÀÉÎ×Ø", "àéî×ø"}, TCase{"ĀĒĪ Ĺ Ň", "āēī ĺ ň"},
                           TCase{"ß 100% a_b", "ß 100% a_b"}}) {
        EXPECT_EQ(archive_detail::FoldCase(c.in), c.out) << c.in;
    }
}

}  // namespace kyvo::testing
