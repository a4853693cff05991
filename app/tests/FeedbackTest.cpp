// The feedback panel of the status bar tells what the last activity did,
// never what one before it did.
#include <gtest/gtest.h>

#include "app/tests/Harness.h"

namespace kyvo {
namespace {

using testing::Ready;
using testing::Rig;

constexpr int kDrug = 1;  // index in the demo's stored configuration list

void WaitForReady(Rig& rig) {
    for (int i = 0; i < 5000 && rig.State() != stReady; ++i) rig.Run(1);
    ASSERT_EQ(rig.State(), stReady);
}

void Measure(Rig& rig) {
    WaitForReady(rig);
    rig.view.ConfigAnswers = {kDrug};
    rig.main->Button_InstantMeasureClick();
    rig.Run(20000);
    WaitForReady(rig);
}

TEST(Feedback, eachActivitysEndReplacesWhatTheOneBeforeSaid) {
    Ready r(sim::Scenario::demo(),
            {{"Setup/TestSource", "Kyvo"}, {"Setup/AddDataBehaviour", "Add"}});
    Rig& rig = r.rig;
    rig.main->Button_ReadDataClick();
    rig.Run(30000);
    const std::size_t read = rig.main->MeasureList.size();
    ASSERT_GT(read, 0u);
    EXPECT_EQ(rig.view.Feedback, std::to_string(read) + " measurements read, " +
                                     std::to_string(read) + " of them new.");

    Measure(rig);
    ASSERT_EQ(rig.main->MeasureList.size(), read + 1);
    std::string added;
    for (const auto& m : rig.main->MeasureList)
        if (m->TestName == "Drug screen") added = m->TestID;
    EXPECT_EQ(rig.view.Feedback, "Measurement " + added + " added.");

    WaitForReady(rig);
    rig.view.Picker = {2025, 3, 4, 5, 6, 7, 0};
    rig.main->DTP_SetDateKeyDown(true);
    EXPECT_EQ(rig.view.Feedback, "Device clock set to 2025-03-04 05:06:07.");

    WaitForReady(rig);
    rig.view.MessageAnswers = {EModalResult::No};  // the format is not wanted after all
    rig.main->Menu_FormatDBClick();
    rig.Run(3000);
    EXPECT_EQ(rig.view.Feedback, "Device clock set to 2025-03-04 05:06:07.");

    WaitForReady(rig);
    rig.view.MessageAnswers = {EModalResult::Yes};
    rig.main->Menu_FormatDBClick();
    rig.Run(3000);
    EXPECT_EQ(rig.view.Feedback, "Database has been successfully formatted.");
}

TEST(Feedback, aMeasurementSavedWithTheListNamesTheFile) {
    Ready r(sim::Scenario::demo(),
            {{"Setup/TestSource", "Kyvo"}, {"Setup/AutoSaveToLastFile", "TRUE"}});
    Rig& rig = r.rig;
    rig.main->SaveMeasureList = [](TForm_Main& m, int mode) {
        if (mode == 1) m.NoteListSaved("/data/Results.tsv");
        return true;
    };
    Measure(rig);
    ASSERT_EQ(rig.main->MeasureList.size(), 1u);
    EXPECT_EQ(rig.view.Feedback, "Measurement " + rig.main->MeasureList[0]->TestID +
                                     " added, list saved to /data/Results.tsv");
}

TEST(Feedback, aReadThatFailsLeavesNoEarlierNewsBehind) {
    Ready r(sim::Scenario::demo(), {{"Setup/AddDataBehaviour", "Add"}});
    Rig& rig = r.rig;
    rig.main->Button_ReadDataClick();
    rig.Run(30000);
    ASSERT_FALSE(rig.view.Feedback.empty());
    WaitForReady(rig);
    rig.deviceAttached = false;
    rig.main->Button_ReadDataClick();
    rig.Run(30000);
    EXPECT_FALSE(rig.view.Messages.empty());  // the time-out was said in its box
    EXPECT_EQ(rig.view.Feedback, "");
}

}  // namespace
}  // namespace kyvo
