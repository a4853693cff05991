// Quality control kept in the archive, the same cases against both engines:
// materials, roles, the QC-failed flag on listings and acknowledgements.
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>

#include "archive/ArchiveInternal.h"
#include "archive/tests/ArchiveTestSupport.h"

namespace kyvo::testing {
namespace {

class ArchiveQc : public ArchiveEngineBase {
  protected:
    void SetUp() override {
        ArchiveEngineBase::SetUp();
        if (IsSkipped()) return;
        a_ = OpenArchive(Fresh("qc"));
    }

    static qc::TControlMaterial Material(const std::string& name, const std::string& lot,
                                         const std::string& prefix = "") {
        qc::TControlMaterial m;
        m.Name = name;
        m.Test = "CRP quantitative";
        m.Result = "CRP";
        m.Lot = lot;
        m.Level = 1;
        m.Mean = 10;
        m.Sd = 1;
        m.PatientIdPrefix = prefix;
        return m;
    }

    // A CRP measurement n of device "1807 <dev>" on day/hour of March 2026.
    std::int64_t Measure(int n, const std::string& dev, int day, int hour, const std::string& value,
                         const std::string& patient = "",
                         const std::string& test = "CRP quantitative") {
        TMeasureSet s = FullSet("x", n);
        s.TestID = "12 3 1 7 1807 " + dev + " " + std::to_string(60000000 + n);
        s.TestName = test;
        s.PatientID = patient;
        setDateData(s.DateTime, 26, 3, static_cast<std::uint8_t>(day),
                    static_cast<std::uint8_t>(hour), 0, 0);
        s.ResultList = {{"Valid", "Ratio", "1.5", "", ""}, {"Valid", "CRP", value, "mg/l", ""}};
        EXPECT_EQ(a_->Store(s, {}, EArchiveSource::DeviceRead, Actor()), EStoreOutcome::Added);
        return *a_->FindByTestId(s.TestID);
    }

    TArchiveRow Row(std::int64_t id) {
        TArchiveFilter f;
        f.IncludeRemoved = true;
        for (const auto& r : a_->List(f)) {
            if (r.Id == id) return r;
        }
        ADD_FAILURE() << "no row " << id;
        return {};
    }

    std::vector<std::int64_t> Ids(const std::string& role) {
        TArchiveFilter f;
        f.Role = role;
        f.Sort = EArchiveSort::Added;
        std::vector<std::int64_t> ids;
        for (const auto& r : a_->List(f)) ids.push_back(r.Id);
        EXPECT_EQ(a_->Count(f), static_cast<std::int64_t>(ids.size())) << role;
        return ids;
    }

    template <typename F>
    EArchiveErrorKind Refused(F&& f) {
        try {
            f();
        } catch (const TArchiveError& e) {
            return e.Kind;
        }
        ADD_FAILURE() << "not refused";
        return EArchiveErrorKind::Failed;
    }

    std::unique_ptr<IArchive> a_;
};

INSTANTIATE_TEST_SUITE_P(Engines, ArchiveQc, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

TEST_P(ArchiveQc, MaterialsAreKeptPerLotCheckedAndAudited) {
    auto m = Material("CRP-L1", "A", "QC-L1");
    m.Expires = "2027-01-31";
    m.Opened = "2026-03-01";
    m.Mean = 7.25;
    m.Sd = 0.35;
    const auto stamp = a_->ChangeStamp();
    const auto id = a_->AddMaterial(m, Actor());
    EXPECT_GT(a_->ChangeStamp(), stamp);
    auto l2 = Material("CRP-L1", "B", "QC-L1");
    l2.Mean = 8;
    a_->AddMaterial(l2, Actor("bob"));

    EXPECT_EQ(Refused([&] { a_->AddMaterial(m, Actor()); }), EArchiveErrorKind::BadInput);
    auto otherTest = Material("CRP-L1", "C");
    otherTest.Test = "HbA1c";
    EXPECT_EQ(Refused([&] { a_->AddMaterial(otherTest, Actor()); }), EArchiveErrorKind::BadInput);
    EXPECT_EQ(Refused([&] { a_->AddMaterial(Material("CRP-L2", "A", "QC-L1"), Actor()); }),
              EArchiveErrorKind::BadInput);
    auto noSd = Material("CRP-L2", "A");
    noSd.Sd = 0;
    EXPECT_EQ(Refused([&] { a_->AddMaterial(noSd, Actor()); }), EArchiveErrorKind::BadInput);
    // The same prefix for another test's material is fine.
    auto hba = Material("HBA-L1", "H", "QC-L1");
    hba.Test = "HbA1c";
    hba.Result = "HbA1c";
    a_->AddMaterial(hba, Actor());

    auto all = a_->Materials();
    ASSERT_EQ(all.size(), 3u);
    const auto& back = all[0];
    EXPECT_EQ(back.Id, id);
    EXPECT_EQ(back.Name, "CRP-L1");
    EXPECT_EQ(back.Lot, "A");
    EXPECT_EQ(back.Mean, 7.25);
    EXPECT_EQ(back.Sd, 0.35);
    EXPECT_EQ(back.Expires, "2027-01-31");
    EXPECT_EQ(back.Opened, "2026-03-01");
    EXPECT_EQ(back.PatientIdPrefix, "QC-L1");
    EXPECT_FALSE(back.Added.empty());
    EXPECT_TRUE(back.Retired.empty());

    a_->RetireMaterial("CRP-L1", Actor());
    a_->RetireMaterial("CRP-L1", Actor());  // again: nothing more
    EXPECT_EQ(Refused([&] { a_->RetireMaterial("none", Actor()); }), EArchiveErrorKind::NotFound);
    all = a_->Materials();
    EXPECT_FALSE(all[0].Retired.empty());
    EXPECT_FALSE(all[1].Retired.empty());
    EXPECT_TRUE(all[2].Retired.empty());

    std::vector<std::string> audit;
    for (const auto& e : a_->Audit(0, 0)) {
        EXPECT_EQ(e.Action, "qc-material");
        audit.push_back(e.User + " " + e.NewValue);
    }
    EXPECT_EQ(audit,
              (std::vector<std::string>{
                  "alice add CRP-L1 lot A: test CRP quantitative, result CRP, level 1, mean "
                  "7.25, SD 0.35, expires 2027-01-31, opened 2026-03-01, patient-id prefix QC-L1",
                  "bob add CRP-L1 lot B: test CRP quantitative, result CRP, level 1, mean 8, SD 1, "
                  "patient-id prefix QC-L1",
                  "alice add HBA-L1 lot H: test HbA1c, result HbA1c, level 1, mean 10, SD 1, "
                  "patient-id prefix QC-L1",
                  "alice retire CRP-L1"}));
}

TEST_P(ArchiveQc, MarksAndPrefixesMakeControlsAndAPatientMarkOverridesThePrefix) {
    a_->AddMaterial(Material("CRP-L1", "A", "QC-L1"), Actor());
    const auto patient = Measure(1, "0001", 2, 8, "5.0", "P-17");
    const auto byPrefix = Measure(2, "0001", 2, 9, "10.2", "QC-L1");
    const auto marked = Measure(3, "0001", 2, 10, "9.9");
    const auto overridden = Measure(4, "0001", 2, 11, "30.0", "QC-L1");
    const auto otherTest = Measure(5, "0001", 2, 12, "10.0", "QC-L1", "Ferritin");
    const auto plain = Measure(6, "0001", 2, 13, "4.0");

    a_->SetRole(marked, "control", "CRP-L1", Actor());
    a_->SetRole(overridden, "patient", "", Actor("bob"));
    EXPECT_EQ(Ids("control"), (std::vector<std::int64_t>{byPrefix, marked}));
    EXPECT_EQ(Ids("patient"), (std::vector<std::int64_t>{patient, overridden, otherTest, plain}));
    EXPECT_EQ(Ids("").size(), 6u);

    EXPECT_EQ(Row(byPrefix).Role, "control");
    EXPECT_EQ(Row(byPrefix).ControlMaterial, "CRP-L1");
    EXPECT_EQ(Row(marked).Role, "control");
    EXPECT_EQ(Row(marked).ControlMaterial, "CRP-L1");
    EXPECT_EQ(Row(overridden).Role, "patient");
    EXPECT_EQ(Row(overridden).ControlMaterial, "");
    EXPECT_EQ(Row(plain).Role, "");
    EXPECT_EQ(Row(otherTest).Role, "");

    // Dropping the mark gives the prefix its say again.
    a_->SetRole(overridden, "", "", Actor());
    EXPECT_EQ(Row(overridden).Role, "control");
    EXPECT_EQ(Ids("control"), (std::vector<std::int64_t>{byPrefix, marked, overridden}));

    const auto history = a_->History(overridden);
    ASSERT_EQ(history.size(), 3u);
    EXPECT_EQ(history[1].Action, "role");
    EXPECT_EQ(history[1].User, "bob");
    EXPECT_EQ(history[1].NewValue, "patient");
    EXPECT_EQ(history[2].OldValue, "patient");
    EXPECT_EQ(history[2].NewValue, "");
    EXPECT_EQ(a_->History(marked).back().NewValue, "control CRP-L1 lot A");
    // The same mark again writes nothing.
    const auto stamp = a_->ChangeStamp();
    a_->SetRole(marked, "control", "CRP-L1", Actor());
    EXPECT_EQ(a_->ChangeStamp(), stamp);

    EXPECT_EQ(Refused([&] { a_->SetRole(otherTest, "control", "CRP-L1", Actor()); }),
              EArchiveErrorKind::BadInput);
    EXPECT_EQ(Refused([&] { a_->SetRole(plain, "control", "CRP-L9", Actor()); }),
              EArchiveErrorKind::NotFound);
    EXPECT_EQ(Refused([&] { a_->SetRole(plain, "calibrator", "", Actor()); }),
              EArchiveErrorKind::BadInput);
    EXPECT_EQ(Refused([&] { a_->SetRole(999999, "patient", "", Actor()); }),
              EArchiveErrorKind::NotFound);
    a_->RetireMaterial("CRP-L1", Actor());
    EXPECT_EQ(Refused([&] { a_->SetRole(plain, "control", "CRP-L1", Actor()); }),
              EArchiveErrorKind::BadInput);
    EXPECT_EQ(Row(plain).Role, "");
    TArchiveFilter bad;
    bad.Role = "calibrator";
    EXPECT_EQ(Refused([&] { a_->List(bad); }), EArchiveErrorKind::BadInput);
}

TEST_P(ArchiveQc, PatientResultsCarryQcFailedFromARejectedControlUntilOnePasses) {
    a_->AddMaterial(Material("CRP-L1", "A", "QC-L1"), Actor());
    // Mean 10, SD 1.
    const auto ok = Measure(1, "0001", 2, 8, "10.5", "QC-L1");
    const auto before = Measure(2, "0001", 2, 9, "6.0", "P-1");
    const auto bad = Measure(3, "0001", 2, 10, "13.4", "QC-L1");  // 1-3s
    const auto after = Measure(4, "0001", 2, 11, "6.0", "P-2");
    const auto otherDevice = Measure(5, "0002", 2, 11, "6.0", "P-3");
    const auto otherTest = Measure(6, "0001", 2, 11, "6.0", "P-4", "Ferritin");
    const auto textOnly = Measure(7, "0001", 2, 12, "FAIL", "QC-L1");
    const auto stillAfter = Measure(8, "0001", 2, 13, "6.0", "P-5");

    EXPECT_FALSE(Row(ok).QcFailed);
    EXPECT_FALSE(Row(before).QcFailed);
    EXPECT_FALSE(Row(bad).QcFailed);  // a control carries no flag of its own
    EXPECT_TRUE(Row(after).QcFailed);
    EXPECT_FALSE(Row(otherDevice).QcFailed);
    EXPECT_FALSE(Row(otherTest).QcFailed);
    EXPECT_EQ(Row(textOnly).Role, "control");
    EXPECT_TRUE(Row(stillAfter).QcFailed);

    const TQcOverview o = a_->QcOverview();
    ASSERT_EQ(o.Points.size(), 3u);
    EXPECT_EQ(o.Points[0].MeasurementId, ok);
    EXPECT_EQ(o.Points[0].Value, 10.5);
    EXPECT_EQ(o.Points[0].ValueText, "10.5");  // the CRP row, not the first row
    EXPECT_FALSE(o.Points[2].Value);
    EXPECT_EQ(o.Points[2].ValueText, "FAIL");
    ASSERT_EQ(o.Violations.size(), 1u);
    EXPECT_EQ(o.Violations[0].Rule, qc::EQcRule::R13s);
    EXPECT_EQ(o.Violations[0].MeasurementIds, std::vector<std::int64_t>{bad});

    // A person acknowledges: kept, audited, and the flag stays.
    EXPECT_EQ(Refused([&] { a_->Acknowledge(o.Violations[0], "  ", Actor()); }),
              EArchiveErrorKind::BadInput);
    auto wrong = o.Violations[0];
    wrong.Rule = qc::EQcRule::R22s;
    EXPECT_EQ(Refused([&] { a_->Acknowledge(wrong, "no such", Actor()); }),
              EArchiveErrorKind::NotFound);
    a_->Acknowledge(o.Violations[0], "new vial opened", Actor("bob"));
    const TQcOverview o2 = a_->QcOverview();
    EXPECT_EQ(o2.Violations.size(), 1u);
    ASSERT_EQ(o2.Acknowledgements.size(), 1u);
    EXPECT_EQ(o2.Acknowledgements[0].Rule, "1-3s");
    EXPECT_EQ(o2.Acknowledgements[0].MeasurementId, bad);
    EXPECT_EQ(o2.Acknowledgements[0].Note, "new vial opened");
    EXPECT_EQ(o2.Acknowledgements[0].User, "bob");
    EXPECT_EQ(a_->History(bad).back().Action, "qc-acknowledge");
    EXPECT_EQ(a_->History(bad).back().NewValue, "1-3s CRP-L1 lot A: new vial opened");
    EXPECT_TRUE(Row(after).QcFailed);

    // A control that passes lifts the flag for what follows it, not before.
    Measure(9, "0001", 3, 8, "9.5", "QC-L1");
    const auto next = Measure(10, "0001", 3, 9, "6.0", "P-6");
    EXPECT_FALSE(Row(next).QcFailed);
    EXPECT_TRUE(Row(after).QcFailed);
    // A removed control no longer counts.
    a_->Remove(bad, "wrong vial", Actor());
    EXPECT_FALSE(Row(after).QcFailed);
    EXPECT_FALSE(Row(stillAfter).QcFailed);
    // Marked as a control later (6.0 is 1-3s): the flag goes with the role,
    // and what follows it is flagged again.
    a_->SetRole(after, "control", "CRP-L1", Actor());
    EXPECT_FALSE(Row(after).QcFailed);
    EXPECT_TRUE(Row(stillAfter).QcFailed);
}

TEST_P(ArchiveQc, ANewLotStartsANewSeriesAndMarksTakeTheLotInUse) {
    auto a = Material("CRP-L1", "A", "QC-L1");
    a.Opened = "2026-03-01";
    auto b = Material("CRP-L1", "B", "QC-L1");
    b.Opened = "2026-03-05";
    b.Mean = 20;
    a_->AddMaterial(a, Actor());
    a_->AddMaterial(b, Actor());
    // Lot A: 9 above its mean; lot B: one above its own.
    for (int d = 1; d <= 4; ++d) {
        Measure(d, "0001", d, 8, "10.5", "QC-L1");
        Measure(10 + d, "0001", d, 9, "10.5");
    }
    for (int d = 11; d <= 14; ++d)
        a_->SetRole(*a_->FindByTestId("12 3 1 7 1807 0001 " + std::to_string(60000000 + d)),
                    "control", "CRP-L1", Actor());
    const auto inB = Measure(20, "0001", 5, 8, "20.5");
    a_->SetRole(inB, "control", "CRP-L1", Actor());
    Measure(21, "0001", 6, 8, "20.5", "QC-L1");
    const TQcOverview o = a_->QcOverview();
    ASSERT_EQ(o.Points.size(), 10u);
    const auto lotB = o.Materials[1].Id;
    EXPECT_EQ(o.Points[8].MaterialId, lotB);
    EXPECT_EQ(o.Points[9].MaterialId, lotB);
    EXPECT_EQ(o.Points[7].MaterialId, o.Materials[0].Id);
    EXPECT_TRUE(o.Violations.empty());  // 8 + 2 on one side, never 10 of one lot
}

TEST_P(ArchiveQc, CopyingCarriesMaterialsMarksAndAcknowledgementsOnce) {
    auto lot = Material("CRP-L1", "A", "QC-L1");
    lot.Opened = "2026-03-01";
    a_->AddMaterial(lot, Actor());
    a_->AddMaterial(Material("CRP-L2", "B"), Actor());
    a_->RetireMaterial("CRP-L2", Actor("bob"));
    Measure(1, "0001", 2, 8, "13.5", "QC-L1");  // 1-3s, by its prefix
    const auto marked = Measure(2, "0001", 2, 9, "10.0");
    const auto patient = Measure(3, "0001", 2, 10, "6.0", "QC-L1");
    const auto flagged = Measure(4, "0001", 2, 11, "6.0", "P-1");
    a_->SetRole(marked, "control", "CRP-L1", Actor());
    a_->SetRole(patient, "patient", "", Actor());
    // 13.5 rejected, then 10.0 passes; acknowledged all the same.
    const auto o = a_->QcOverview();
    ASSERT_EQ(o.Violations.size(), 1u);
    a_->Acknowledge(o.Violations[0], "vial warm", Actor("carol"));
    a_->SetRole(marked, "", "", Actor());  // the flag comes back for P-1
    ASSERT_TRUE(Row(flagged).QcFailed);

    // Into an archive of the other engine, and back into the same one.
    const std::string other = GetParam() == "sqlite" ? "postgres" : "sqlite";
    if (other == "postgres" && !TTempPostgres::Unavailable().empty()) GTEST_SKIP();
    auto to = OpenArchive(FreshLocation(other, scratch_, "copy"));
    EXPECT_EQ(CopyArchive(*a_, *to), 4);
    const auto audit = to->Audit(0, 0).size();
    EXPECT_EQ(CopyArchive(*a_, *to), 0);
    EXPECT_EQ(to->Audit(0, 0).size(), audit);  // nothing the second time

    const auto from = a_->Materials();
    const auto copied = to->Materials();
    ASSERT_EQ(copied.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(copied[i].Name, from[i].Name);
        EXPECT_EQ(copied[i].Lot, from[i].Lot);
        EXPECT_EQ(copied[i].Opened, from[i].Opened);
        EXPECT_EQ(copied[i].PatientIdPrefix, from[i].PatientIdPrefix);
        EXPECT_EQ(copied[i].Added, from[i].Added);
        EXPECT_EQ(copied[i].Retired, from[i].Retired);
    }
    auto rows = [](IArchive& a) {
        std::vector<std::string> out;
        TArchiveFilter f;
        f.Sort = EArchiveSort::DateTime;
        for (const auto& r : a.List(f))
            out.push_back(r.TestId + " " + r.Role + " " + r.ControlMaterial + " " +
                          (r.QcFailed ? "failed" : "-"));
        return out;
    };
    EXPECT_EQ(rows(*to), rows(*a_));
    const auto copiedO = to->QcOverview();
    ASSERT_EQ(copiedO.Acknowledgements.size(), 1u);
    EXPECT_EQ(copiedO.Acknowledgements[0].Note, "vial warm");
    EXPECT_EQ(copiedO.Acknowledgements[0].User, "carol");
    EXPECT_EQ(copiedO.Acknowledgements[0].Time, a_->QcOverview().Acknowledgements[0].Time);
    std::vector<std::string> materialAudit;
    for (const auto& e : to->Audit(0, 0)) {
        if (e.Action == "qc-material") materialAudit.push_back(e.User + " " + e.NewValue);
    }
    EXPECT_EQ(materialAudit.size(), 3u);
    EXPECT_EQ(materialAudit.back(), "bob retire CRP-L2");
    EXPECT_TRUE(to->Check().Problems.empty());
}

TEST_P(ArchiveQc, AnArchiveOfTheVersionBeforeQualityControlIsBroughtUpToDate) {
    const std::string loc = Fresh("old");
    OpenArchive(loc)->Store(FullSet(DeviceId(1), 1), {}, EArchiveSource::DeviceRead, Actor());
    // Back to how the previous version left it: no quality control tables.
    const std::string down =
        "DROP TABLE qc_acknowledgements; DROP TABLE qc_roles; DROP TABLE qc_materials;";
    const int previous = archive_detail::kSchemaVersion - 1;
    if (GetParam() == "sqlite") {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(loc.substr(7).c_str(), &db), SQLITE_OK);
        const std::string sql = down + "PRAGMA user_version = " + std::to_string(previous);
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    } else {
        const std::string db =
            loc.substr(loc.find(":///") + 4, loc.find('?') - loc.find(":///") - 4);
        TTempPostgres::Shared().Exec(
            db, down + "UPDATE schema_version SET version = " + std::to_string(previous));
    }
    auto a = OpenArchive(loc);
    EXPECT_EQ(a->Count({}), 1);
    a->AddMaterial(Material("CRP-L1", "A"), Actor());
    EXPECT_EQ(a->Materials().size(), 1u);
    EXPECT_TRUE(a->Check().Problems.empty());
}

}  // namespace
}  // namespace kyvo::testing
