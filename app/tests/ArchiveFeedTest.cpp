// What the session hands to the measurement archive. The archive here is a
// recorder of the app's own interface; the real archive behind it is tried
// end to end in cli/tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "app/tests/Harness.h"

namespace kyvo {
namespace {

using testing::Rig;

class RecordingArchive final : public IMeasurementArchive {
  public:
    struct Handover {
        std::vector<TMeasureSet> Sets;
        TMeasurementDevice Device;
        EMeasurementOrigin Origin;
    };
    std::vector<Handover> Handovers;
    std::vector<std::pair<std::string, std::string>> Comments;
    int Deliveries = 0;
    bool Reachable = true;
    std::set<std::string> Held;  // test IDs the archive holds
    std::size_t Waiting = 0;

    TArchiveReport Keep(const std::vector<const TMeasureSet*>& sets,
                        const TMeasurementDevice& device, EMeasurementOrigin origin) override {
        Handover h{{}, device, origin};
        for (const TMeasureSet* s : sets) h.Sets.push_back(*s);
        Handovers.push_back(h);
        TArchiveReport r;
        if (!Reachable) {
            Waiting += sets.size();
            r.Unreachable = true;
            r.Waiting = Waiting;
            r.Error = "connection refused";
            return r;
        }
        r.Stored = sets.size() + Waiting;
        Waiting = 0;
        for (const TMeasureSet* s : sets) r.Added += Held.insert(s->TestID).second ? 1 : 0;
        return r;
    }
    TArchiveReport Deliver() override {
        ++Deliveries;
        TArchiveReport r;
        r.Unreachable = !Reachable;
        r.Waiting = Waiting;
        return r;
    }
    TArchiveReport SetComment(const std::string& testId, const std::string& comment) override {
        Comments.push_back({testId, comment});
        TArchiveReport r;
        r.Stored = Held.count(testId);
        r.Unreachable = !Reachable;
        return r;
    }
};

sim::Scenario Quiet() {
    sim::Scenario s = sim::Scenario::demo();
    s.bits.ClockPresent = false;
    return s;
}

struct Fed {
    explicit Fed(const sim::Scenario& s, std::map<std::string, std::string> settings = {})
        : rig(s, std::move(settings), {}, &archive) {
        rig.Start();
        rig.Connect();
        EXPECT_EQ(rig.State(), stReady);
    }
    RecordingArchive archive;
    Rig rig;
    void Read() {
        rig.main->Button_ReadDataClick();
        rig.Run(3000);
    }
};

TEST(ArchiveFeed, aReadHandsEveryStoredMeasurementWithTheDeviceOverAsADeviceRead) {
    Fed f(sim::Scenario::demo(), {{"Setup/AddDataBehaviour", "Add"}});
    EXPECT_EQ(f.archive.Deliveries, 1) << "what waited goes at start";
    f.Read();
    ASSERT_EQ(f.archive.Handovers.size(), 1u);
    const auto h = f.archive.Handovers[0];
    EXPECT_EQ(h.Origin, EMeasurementOrigin::DeviceRead);
    EXPECT_EQ(h.Device.Serial, f.rig.main->SerialText());
    EXPECT_FALSE(h.Device.Serial.empty());
    EXPECT_EQ(h.Device.Firmware, f.rig.main->FirmwareText());
    EXPECT_EQ(h.Device.EepromVersion, std::to_string(f.rig.main->EEPROM().EEPROMVersion()));
    ASSERT_EQ(h.Sets.size(), f.rig.main->MeasureList.size());
    for (std::size_t i = 0; i < h.Sets.size(); ++i) {
        const auto& inList = f.rig.main->MeasureList;
        EXPECT_TRUE(std::any_of(inList.begin(), inList.end(), [&](const auto& m) {
            return m->TestID == h.Sets[i].TestID &&
                   m->ResultList.size() == h.Sets[i].ResultList.size();
        })) << h.Sets[i].TestID;
    }
    // A second read adds nothing to the list, yet the archive hears of every
    // stored measurement again: the list may have come from elsewhere.
    f.Read();
    ASSERT_EQ(f.archive.Handovers.size(), 2u);
    EXPECT_EQ(f.archive.Handovers[1].Sets.size(), h.Sets.size());
    EXPECT_EQ(f.archive.Held.size(), h.Sets.size());
}

TEST(ArchiveFeed, aReadIntoAListLoadedFromAFileStillFeedsTheMeasurementsTheListHad) {
    Fed f(sim::Scenario::demo(), {{"Setup/AddDataBehaviour", "Add"}});
    f.Read();
    const std::size_t stored = f.archive.Handovers.at(0).Sets.size();
    // The list keeps what it has; a new archive behind the same session.
    f.archive.Held.clear();
    f.Read();
    EXPECT_EQ(f.archive.Held.size(), stored);
}

TEST(ArchiveFeed, aNewMeasurementIsHandedOverAloneAsAMeasurement) {
    Fed f(Quiet(), {{"Setup/TestSource", "Kyvo"}});
    f.rig.view.ConfigAnswers = {1};
    f.rig.main->Button_InstantMeasureClick();
    f.rig.Run(20000);
    ASSERT_EQ(f.rig.main->MeasureList.size(), 1u);
    ASSERT_EQ(f.archive.Handovers.size(), 1u);
    const auto& h = f.archive.Handovers[0];
    EXPECT_EQ(h.Origin, EMeasurementOrigin::Measurement);
    ASSERT_EQ(h.Sets.size(), 1u);
    EXPECT_EQ(h.Sets[0].TestID, f.rig.main->MeasureList[0]->TestID);
    EXPECT_EQ(h.Sets[0].ResultList.size(), 2u);
    EXPECT_FALSE(h.Device.Serial.empty());
}

TEST(ArchiveFeed, anUnreachableArchiveCostsNoMeasurementAndTheStatusBarSaysHowManyWait) {
    Fed f(sim::Scenario::demo(),
          {{"Setup/AddDataBehaviour", "Add"}, {"Setup/AutoSaveMeasurements", "true"}});
    int saves = 0;
    f.rig.main->SaveMeasureList = [&](TForm_Main&, int) { return ++saves, true; };
    f.archive.Reachable = false;
    f.Read();
    const std::size_t read = f.rig.main->MeasureList.size();
    EXPECT_GT(read, 0u);
    EXPECT_EQ(saves, 1) << "the result file is written as without an archive";
    EXPECT_TRUE(f.rig.view.Messages.empty()) << "no box: the lab goes on measuring";
    EXPECT_EQ(f.rig.view.Feedback, "The archive cannot be reached: " + std::to_string(read) +
                                       " measurements wait and go into it later.");
    EXPECT_EQ(f.rig.State(), stReady);

    f.archive.Reachable = true;
    f.Read();
    EXPECT_EQ(f.archive.Waiting, 0u);
    EXPECT_EQ(f.rig.view.Feedback,
              "The archive can be reached again; every waiting measurement is in it.");
}

TEST(ArchiveFeed, aCommentEditGoesToTheArchiveByTestId) {
    Fed f(sim::Scenario::demo(), {{"Setup/AddDataBehaviour", "Add"}});
    f.Read();
    ASSERT_FALSE(f.rig.main->MeasureList.empty());
    ASSERT_TRUE(f.rig.main->SetMeasurementComment(0, "checked twice"));
    ASSERT_EQ(f.archive.Comments.size(), 1u);
    EXPECT_EQ(f.archive.Comments[0].first, f.rig.main->MeasureList[0]->TestID);
    EXPECT_EQ(f.archive.Comments[0].second, "checked twice");
    EXPECT_FALSE(f.rig.main->SetMeasurementComment(0, "checked twice"));
    EXPECT_EQ(f.archive.Comments.size(), 1u) << "an unchanged comment is no edit";
}

TEST(ArchiveFeed, withoutAnArchiveAReadAndAMeasurementRunAsBefore) {
    Rig rig(Quiet(), {{"Setup/TestSource", "Kyvo"}, {"Setup/AddDataBehaviour", "Add"}});
    rig.Start();
    rig.Connect();
    rig.main->Button_ReadDataClick();
    rig.Run(3000);
    const std::size_t read = rig.main->MeasureList.size();
    EXPECT_GT(read, 0u);
    rig.view.ConfigAnswers = {1};
    rig.main->Button_InstantMeasureClick();
    rig.Run(20000);
    EXPECT_EQ(rig.main->MeasureList.size(), read + 1);
    EXPECT_TRUE(rig.view.Messages.empty());
}

}  // namespace
}  // namespace kyvo
