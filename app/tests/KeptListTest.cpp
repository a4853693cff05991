// An end that cannot ask (SIGTERM, SIGHUP, a logout) keeps a list whose
// changes no file holds, and the next start offers it back.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "app/tests/Harness.h"

namespace kyvo {
namespace {

using testing::Rig;

class KeptList : public ::testing::Test {
  protected:
    KeptList() {
        char name[] = "/tmp/kyvo-kept-XXXXXX";
        if (::mkdtemp(name)) root = name;
        data = root + "/share/kyvo-data-reader";
    }
    ~KeptList() override {
        if (!root.empty()) std::filesystem::remove_all(root);
    }
    // A run that reads the demo device's measurements into its list.
    std::unique_ptr<Rig> ReadRun() {
        auto rig = std::make_unique<Rig>(sim::Scenario::demo(), Settings(), "", nullptr, data);
        rig->Start();
        rig->Connect();
        rig->main->Button_ReadDataClick();
        rig->Run(30000);
        EXPECT_FALSE(rig->main->MeasureList.empty());
        return rig;
    }
    std::unique_ptr<Rig> NextStart() {
        auto rig = std::make_unique<Rig>(sim::Scenario::demo(), Settings(), "", nullptr, data);
        return rig;
    }
    static std::map<std::string, std::string> Settings() {
        return {{"Setup/AddDataBehaviour", "Add"}};
    }
    static std::vector<std::string> Ids(const Rig& rig) {
        std::vector<std::string> ids;
        for (const auto& m : rig.main->MeasureList) ids.push_back(m->TestID);
        return ids;
    }
    std::string root, data;
};

TEST_F(KeptList, anUnsavedListIsKeptInAPrivateFolderAndYesBringsItBack) {
    std::vector<std::string> before;
    {
        auto run = ReadRun();
        before = Ids(*run);
        std::string error;
        ASSERT_TRUE(run->main->KeepUnsavedListForNextStart(error)) << error;
        ASSERT_EQ(run->main->RecoveryFiles().size(), 1u);
        struct stat st {};
        ASSERT_EQ(::stat(data.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    auto next = NextStart();
    next->view.MessageAnswers = {EModalResult::Yes};
    next->Start();
    ASSERT_EQ(next->view.Messages.size(), 1u);
    EXPECT_EQ(next->view.Messages[0].Style, EMsgStyle::YesNo);
    EXPECT_EQ(next->view.Messages[0].Text,
              "The program was ended last time before its measurement list (" +
                  std::to_string(before.size()) +
                  " measurements) was saved.\r\nLoad that list now?");
    EXPECT_EQ(Ids(*next), before);
    EXPECT_EQ(next->view.Counts[EList::Measurements], int(before.size()));
    EXPECT_TRUE(next->main->RecoveryFiles().empty());
    // Still in no file: closing asks to save it.
    EXPECT_TRUE(next->main->ListHasUnsavedEdits());
}

TEST_F(KeptList, noLeavesTheListEmptyAndTheQuestionIsNotAskedAgain) {
    {
        auto run = ReadRun();
        std::string error;
        ASSERT_TRUE(run->main->KeepUnsavedListForNextStart(error)) << error;
    }
    {
        auto next = NextStart();
        next->view.MessageAnswers = {EModalResult::No};
        next->Start();
        EXPECT_EQ(next->view.Messages.size(), 1u);
        EXPECT_TRUE(next->main->MeasureList.empty());
        EXPECT_TRUE(next->main->RecoveryFiles().empty());
    }
    auto third = NextStart();
    third->Start();
    EXPECT_TRUE(third->view.Messages.empty());
}

TEST_F(KeptList, aBoxClosedWithoutAnAnswerKeepsTheFileForTheNextStart) {
    {
        auto run = ReadRun();
        std::string error;
        ASSERT_TRUE(run->main->KeepUnsavedListForNextStart(error)) << error;
    }
    auto next = NextStart();
    next->view.MessageAnswers = {EModalResult::None};  // the program ended meanwhile
    next->Start();
    EXPECT_TRUE(next->main->MeasureList.empty());
    EXPECT_EQ(next->main->RecoveryFiles().size(), 1u);
}

TEST_F(KeptList, nothingIsKeptForAnEmptyOrSavedList) {
    auto empty = NextStart();
    empty->Start();
    std::string error;
    EXPECT_TRUE(empty->main->KeepUnsavedListForNextStart(error));
    EXPECT_FALSE(std::filesystem::exists(data));

    auto saved = ReadRun();
    saved->main->NoteListSaved(root + "/Results.tsv");
    EXPECT_TRUE(saved->main->KeepUnsavedListForNextStart(error));
    EXPECT_FALSE(std::filesystem::exists(data));
}

TEST_F(KeptList, twoEndsInTheSameMomentKeepTwoFilesAndBothAreOffered) {
    auto run = ReadRun();
    std::string error;
    ASSERT_TRUE(run->main->KeepUnsavedListForNextStart(error)) << error;
    ASSERT_TRUE(run->main->KeepUnsavedListForNextStart(error)) << error;
    EXPECT_EQ(run->main->RecoveryFiles().size(), 2u);
    const std::size_t count = run->main->MeasureList.size();
    run.reset();

    auto next = NextStart();
    next->view.MessageAnswers = {EModalResult::Yes, EModalResult::Yes};
    next->Start();
    EXPECT_EQ(next->view.Messages.size(), 2u);
    // The same measurements twice are listed once.
    EXPECT_EQ(next->main->MeasureList.size(), count);
    EXPECT_TRUE(next->main->RecoveryFiles().empty());
}

TEST_F(KeptList, aKeptFileThatCannotBeReadIsSaidWithItsPathAndStays) {
    std::filesystem::create_directories(data);
    const std::string damaged = data + "/unsaved-list-20261201-080000-000.tsv";
    std::ofstream(damaged) << "not a result file\n";
    auto next = NextStart();
    next->Start();
    ASSERT_EQ(next->view.Messages.size(), 1u);
    EXPECT_EQ(next->view.Messages[0].Style, EMsgStyle::OK);
    EXPECT_NE(next->view.Messages[0].Text.find(
                  "The measurement list of the last run could not be recovered: " + damaged),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(damaged));
}

TEST_F(KeptList, withoutADataFolderTheLossIsSaid) {
    Rig rig(sim::Scenario::demo(), Settings());
    rig.Start();
    rig.Connect();
    rig.main->Button_ReadDataClick();
    rig.Run(30000);
    ASSERT_FALSE(rig.main->MeasureList.empty());
    std::string error;
    EXPECT_FALSE(rig.main->KeepUnsavedListForNextStart(error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace kyvo
