#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "app/tests/Harness.h"

namespace kyvo {
namespace {

using testing::Ready;
using testing::Rig;

sim::Scenario Quiet() {
    sim::Scenario s = sim::Scenario::demo();
    s.bits.ClockPresent = false;
    return s;
}

constexpr int kDrug = 1;  // index in the demo's stored configuration list

TEST(Measure, aStoredConfigurationIsChosenRunAndItsResultJoinsTheList) {
    Ready r(Quiet(), {{"Setup/TestSource", "Kyvo"}});
    r.rig.view.ConfigAnswers = {kDrug};
    r.rig.main->Button_InstantMeasureClick();
    EXPECT_EQ(r.rig.State(), stEvaluating);
    r.rig.Run(20000);
    ASSERT_EQ(r.rig.view.ConfigLists.size(), 1u);
    EXPECT_EQ(r.rig.view.ConfigLists[0],
              (std::vector<std::string>{"CRP quantitative - L2026-11", "Drug screen - D-0815",
                                        "Fertility panel - P5-330"}));
    EXPECT_EQ(r.rig.State(), stReady);
    ASSERT_EQ(r.rig.main->MeasureList.size(), 1u);
    const TMeasureSet& m = *r.rig.main->MeasureList[0];
    EXPECT_EQ(m.TestName, "Drug screen");
    EXPECT_EQ(m.ResultList.size(), 2u);
    EXPECT_FALSE(m.ImageData.empty());
    EXPECT_EQ(r.rig.view.SelectedMeasurement, 0);
    EXPECT_TRUE(r.rig.view.Messages.empty());
    EXPECT_FALSE(r.rig.view.PromptVisible);
    EXPECT_NE(std::find(r.rig.view.Prompts.begin(), r.rig.view.Prompts.end(),
                        "Test evaluation is running..."),
              r.rig.view.Prompts.end());
}

TEST(Measure, cancellingTheConfigurationChoiceReturnsToReady) {
    Ready r(Quiet(), {{"Setup/TestSource", "Kyvo"}});
    r.rig.main->Button_InstantMeasureClick();
    r.rig.Run(2000);
    EXPECT_EQ(r.rig.view.ConfigLists.size(), 1u);
    EXPECT_EQ(r.rig.State(), stReady);
    EXPECT_TRUE(r.rig.main->MeasureList.empty());
}

TEST(Measure, aTimerMeasurementCountsDownInThePromptWithoutTimingOut) {
    Ready r(Quiet(), {{"Setup/TestSource", "Kyvo"}});
    r.rig.view.ConfigAnswers = {2};  // the panel has a 12 s countdown
    r.rig.main->Button_TimerMeasureClick();
    r.rig.Run(40000);
    ASSERT_EQ(r.rig.main->MeasureList.size(), 1u);
    EXPECT_NE(std::find(r.rig.view.Prompts.begin(), r.rig.view.Prompts.end(),
                        "The evaluation starts in 0012."),
              r.rig.view.Prompts.end());
    EXPECT_TRUE(r.rig.view.Messages.empty());  // no time-out along the way
}

std::string WriteFile(const std::string& name, const tByteBuffer& bytes) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST(Measure, aBadConfigurationFileIsReportedAndTheNextFileIsRun) {
    Ready r(Quiet());  // source: ask
    tByteBuffer good = r.rig.device->activeConfigBytes();
    tByteBuffer bad = good;
    bad[bad.size() / 2] ^= 0x5A;
    r.rig.view.SelectAnswers = {1};  // "Load from file"
    r.rig.view.FileAnswers = {WriteFile("bad.bin", bad), WriteFile("good.bin", good)};
    r.rig.main->Button_InstantMeasureClick();
    r.rig.Run(20000);
    EXPECT_EQ(r.rig.view.MessageTexts(),
              std::vector<std::string>{"The checksum of the test configuration is not correct. "
                                       "The data could be corrupted."});
    EXPECT_EQ(r.rig.view.FileDialogs.size(), 2u);
    EXPECT_EQ(r.rig.view.FileDialogs[0].Kind, EFileDialog::OpenConfig);
    ASSERT_EQ(r.rig.main->MeasureList.size(), 1u);
    EXPECT_EQ(r.rig.main->MeasureList[0]->TestName, "CRP quantitative");
    // The configuration dialog remembers its own folder; the result files'
    // folder moves only with a result file.
    EXPECT_EQ(r.rig.view.FileDialogs[1].InitialDir, ::testing::TempDir());
    EXPECT_EQ(r.rig.main->DefaultDir, "/tmp/kyvo-config/");
    EXPECT_EQ(r.rig.user.Values["Setup/DefaultDir"], "/tmp/kyvo-config/");
}

TEST(Measure, overwriteAndACancelledFileDialogLeaveAnEmptyListAndNoMeasurement) {
    Ready r(Quiet(), {{"Setup/TestSource", "Local"}, {"Setup/AddDataBehaviour", "Overwrite"}});
    r.rig.main->MeasureList.push_back(std::make_unique<TMeasureSet>());
    r.rig.main->Button_InstantMeasureClick();
    r.rig.Run(2000);
    EXPECT_TRUE(r.rig.main->MeasureList.empty());
    EXPECT_EQ(r.rig.State(), stReady);
    EXPECT_TRUE(r.rig.view.Messages.empty());
}

TEST(Measure, rfidFailuresAreRetriedSilentlyForFiveSecondsThenReported) {
    sim::Scenario s = Quiet();
    s.bits.RFIDConfigSource = true;
    s.rfid.config = "crp";
    s.rfid.failures = 1000;  // the tag is never found
    Ready r(s, {{"Setup/TestSource", "Kyvo"}});
    r.rig.main->Button_InstantMeasureClick();  // OK at the tag prompt (default answer)
    ASSERT_EQ(r.rig.view.Messages.size(), 1u);
    EXPECT_EQ(r.rig.view.Messages[0].Style, EMsgStyle::OKCancel);
    r.rig.Run(30000);
    ASSERT_EQ(r.rig.view.Messages.size(), 2u);
    EXPECT_EQ(r.rig.view.Messages[1].Text,
              "(Kyvo) Error Code: 0x38\r\nRFID Error: nothing received.");
    EXPECT_EQ(r.rig.State(), stReady);
    EXPECT_TRUE(r.rig.main->MeasureList.empty());
}

TEST(Measure, anRfidTagFoundAfterRetriesRunsItsConfiguration) {
    sim::Scenario s = Quiet();
    s.bits.RFIDConfigSource = true;
    s.rfid.config = "drug";
    s.rfid.failures = 2;
    Ready r(s, {{"Setup/TestSource", "Kyvo"}});
    r.rig.main->Button_InstantMeasureClick();
    r.rig.Run(30000);
    EXPECT_EQ(r.rig.view.Messages.size(), 1u);  // only the tag prompt
    ASSERT_EQ(r.rig.main->MeasureList.size(), 1u);
    EXPECT_EQ(r.rig.main->MeasureList[0]->TestName, "Drug screen");
}

TEST(Measure, twoCombinedMeasurementsOfTwoResultsGiveOneEntryWithFourRows) {
    Ready r(Quiet(), {{"Setup/TestSource", "Kyvo"}, {"Setup/CombineMeasurements", "true"}});
    r.rig.view.ConfigAnswers = {kDrug};
    r.rig.view.MessageAnswers = {EModalResult::Yes};
    r.rig.main->Button_InstantMeasureClick();
    r.rig.Run(40000);
    ASSERT_EQ(r.rig.view.Messages.size(), 1u);
    EXPECT_EQ(r.rig.view.Messages[0].Caption, "Combine measurements?");
    ASSERT_EQ(r.rig.main->MeasureList.size(), 1u);
    EXPECT_EQ(r.rig.main->MeasureList[0]->ResultList.size(), 4u);
    EXPECT_EQ(r.rig.main->CombineMode(), ECombineMeasurements::Combine);
    EXPECT_EQ(r.rig.State(), stReady);
}

TEST(Measure, noCombiningIsOfferedForMoreThanFiveResults) {
    sim::Scenario s = Quiet();
    sim::SimResultDef sixth;
    sixth.name = "AMH";
    sixth.unit = "ng/ml";
    for (auto& c : s.configs)
        if (c.key == "panel5") c.results.push_back(sixth);
    Ready r(s, {{"Setup/TestSource", "Kyvo"}, {"Setup/CombineMeasurements", "true"}});
    r.rig.view.ConfigAnswers = {2};
    r.rig.main->Button_InstantMeasureClick();
    r.rig.Run(40000);
    EXPECT_TRUE(r.rig.view.Messages.empty());
    ASSERT_EQ(r.rig.main->MeasureList.size(), 1u);
    EXPECT_EQ(r.rig.main->MeasureList[0]->ResultList.size(), 6u);
}

TEST(Measure, aChangedConfigurationForTheSecondHalfGivesTwoSingleEntries) {
    Ready r(Quiet(), {{"Setup/TestSource", "Kyvo"}, {"Setup/CombineMeasurements", "true"}});
    r.rig.view.ConfigAnswers = {kDrug};
    r.rig.view.MessageAnswers = {EModalResult::Yes};
    r.rig.main->Button_InstantMeasureClick();
    // Run until the first half is done and the configuration is written again,
    // then put another configuration into the device before it evaluates.
    for (int i = 0; i < 40000 && r.rig.view.Messages.empty(); i += 5) r.rig.Run(5);
    ASSERT_EQ(r.rig.main->CombineMode(), ECombineMeasurements::SecondMeasure);
    r.rig.Run(200);
    const sim::SimTestConfig* crp = r.rig.device->scenario().findConfig("crp");
    ASSERT_NE(crp, nullptr);
    tByteBuffer other;
    {
        sim::SimDevice probe(r.rig.device->scenario());
        other = probe.activeConfigBytes();  // the scenario's active one: crp
    }
    r.rig.device->write(0x00000, other);
    r.rig.Run(40000);
    EXPECT_EQ(r.rig.view.MessageTexts()[1],
              "The test configurations are not identical. The measurements will be handled as "
              "single ones.");
    ASSERT_EQ(r.rig.main->MeasureList.size(), 2u);
    EXPECT_EQ(r.rig.main->MeasureList[0]->ResultList.size(), 2u);
    EXPECT_EQ(r.rig.main->MeasureList[1]->TestName, "CRP quantitative");
    EXPECT_EQ(r.rig.main->CombineMode(), ECombineMeasurements::Combine);
}

// The evaluate frame with the abort flag, as it goes over the wire.
bool SentAbort(const tByteBuffer& sent) {
    const tByteBuffer frame = test::wireFrame(0x5E, {0x04});
    return std::search(sent.begin(), sent.end(), frame.begin(), frame.end()) != sent.end();
}

TEST(Measure, cancelDuringTheCountdownStopsTheDeviceAndEndsWithItsAbortMessage) {
    Ready r(Quiet(), {{"Setup/TestSource", "Kyvo"}});
    r.rig.view.ConfigAnswers = {2};  // 12 s countdown
    r.rig.main->Button_TimerMeasureClick();
    r.rig.Run(4000);
    ASSERT_EQ(r.rig.State(), stEvaluating);
    ASSERT_TRUE(r.rig.view.PromptVisible);
    r.rig.sent.clear();
    r.rig.main->AbortEvaluation();
    EXPECT_TRUE(SentAbort(r.rig.sent));
    r.rig.Run(1000);
    EXPECT_EQ(r.rig.State(), stReady);
    EXPECT_FALSE(r.rig.view.PromptVisible);
    EXPECT_EQ(r.rig.view.MessageTexts(),
              std::vector<std::string>{"(Kyvo) Error Code: 0x1D\r\nAborted by user."});
    // The device really stopped: no result arrives later.
    r.rig.Run(30000);
    EXPECT_TRUE(r.rig.main->MeasureList.empty());
    EXPECT_EQ(r.rig.MessageCount(), 1u);
}

TEST(Measure, anAbortTheDeviceOnlyAcknowledgesStillEndsTheMeasurement) {
    Ready r(Quiet(), {{"Setup/TestSource", "Kyvo"}});
    r.rig.view.ConfigAnswers = {2};
    r.rig.main->Button_TimerMeasureClick();
    r.rig.Run(4000);
    ASSERT_EQ(r.rig.State(), stEvaluating);
    r.rig.deviceAttached = false;  // the device's own answer is replaced below
    r.rig.main->AbortEvaluation();
    r.rig.InjectFrame(0x55, {});  // acknowledge: nothing was running
    r.rig.Run(100);
    EXPECT_EQ(r.rig.State(), stReady);
    EXPECT_EQ(r.rig.view.MessageTexts(), std::vector<std::string>{"Aborted by user."});
    EXPECT_TRUE(r.rig.main->MeasureList.empty());
}

TEST(Measure, cancelOutsideAMeasurementSendsNothing) {
    Ready r(Quiet());
    r.rig.sent.clear();
    r.rig.main->AbortEvaluation();
    r.rig.Run(100);
    EXPECT_TRUE(r.rig.sent.empty());
    EXPECT_EQ(r.rig.State(), stReady);
}

TEST(Measure, aSecondHalfThatFailsEndsTheCombiningAndKeepsTheFirstHalf) {
    sim::Scenario s = Quiet();
    sim::SimFault fault;
    fault.kind = sim::FaultKind::DeviceError;
    fault.command = 0x5E;  // evaluate: the second one is refused
    fault.nth = 2;
    fault.code = 0x13;
    s.faults.push_back(fault);
    Ready r(s, {{"Setup/TestSource", "Kyvo"},
                {"Setup/CombineMeasurements", "true"},
                {"Setup/AddDataBehaviour", "Add"}});
    r.rig.view.ConfigAnswers = {kDrug, kDrug};
    r.rig.view.MessageAnswers = {EModalResult::Yes, EModalResult::OK, EModalResult::No};
    r.rig.main->Button_InstantMeasureClick();
    r.rig.Run(40000);
    ASSERT_EQ(r.rig.view.Messages.size(), 2u);
    EXPECT_EQ(r.rig.view.Messages[1].Text.substr(0, 23), "(Kyvo) Error Code: 0x13");
    EXPECT_EQ(r.rig.State(), stReady);
    EXPECT_EQ(r.rig.main->CombineMode(), ECombineMeasurements::Combine);
    ASSERT_EQ(r.rig.main->MeasureList.size(), 1u);  // the first half, on its own
    EXPECT_EQ(r.rig.main->MeasureList[0]->ResultList.size(), 2u);

    // The next measurement is a measurement of its own again: offered for
    // combining, and not merged into the old half.
    r.rig.main->Button_InstantMeasureClick();
    r.rig.Run(40000);
    ASSERT_EQ(r.rig.view.Messages.size(), 3u)
        << ::testing::PrintToString(r.rig.view.MessageTexts());
    EXPECT_EQ(r.rig.view.Messages[2].Caption, "Combine measurements?");
    ASSERT_EQ(r.rig.main->MeasureList.size(), 2u);
    EXPECT_EQ(r.rig.main->MeasureList[1]->ResultList.size(), 2u);
}

}  // namespace
}  // namespace kyvo
