// The controller's edits of its measurement list: deleting, commenting,
// sorting and the image position, and what each leaves to be saved.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/tests/Harness.h"

namespace kyvo {
namespace {

using testing::Rig;

std::unique_ptr<TMeasureSet> Set(const std::string& id, const std::string& name) {
    auto s = std::make_unique<TMeasureSet>();
    s->TestID = id;
    s->TestName = name;
    return s;
}

std::vector<std::string> IDs(const TMeasureList& list) {
    std::vector<std::string> v;
    for (const auto& s : list) v.push_back(s->TestID);
    return v;
}

// A started controller with the list a, b, c and no unsaved edits.
struct Listed {
    Listed() : rig(sim::Scenario::demo()) {
        rig.Start();
        for (const char* id : {"a", "b", "c"})
            rig.main->MeasureList.push_back(Set(id, std::string("Test ") + id));
    }
    Rig rig;
};

TEST(ListEdit, editsChangeTheListAndOnlyRealEditsAreLeftToSave) {
    struct Case {
        const char* what;
        std::function<void(TForm_Main&)> edit;
        std::vector<std::string> ids;
        bool edited;
    };
    const Case cases[] = {
        {"rows deleted in any order, twice or beyond the list",
         [](TForm_Main& m) {
             EXPECT_EQ(m.DeleteMeasurements({2, 0, 9, 0, -1}), 2u);
         },
         {"b"},
         true},
        {"no row deleted",
         [](TForm_Main& m) { EXPECT_EQ(m.DeleteMeasurements({3}), 0u); },
         {"a", "b", "c"},
         false},
        {"the whole list deleted", [](TForm_Main& m) { m.DeleteAllMeasurements(); }, {}, false},
        {"a comment written",
         [](TForm_Main& m) {
             EXPECT_TRUE(m.SetMeasurementComment(1, "checked"));
             EXPECT_EQ(m.MeasureList[1]->UserComment, "checked");
             EXPECT_TRUE(m.MeasureList[1]->CommentEdited);
         },
         {"a", "b", "c"},
         true},
        {"a comment left as it was",
         [](TForm_Main& m) { EXPECT_FALSE(m.SetMeasurementComment(1, "")); },
         {"a", "b", "c"},
         false},
        {"a comment beyond the list",
         [](TForm_Main& m) { EXPECT_FALSE(m.SetMeasurementComment(3, "x")); },
         {"a", "b", "c"},
         false},
    };
    for (const Case& c : cases) {
        Listed l;
        TForm_Main& m = *l.rig.main;
        c.edit(m);
        EXPECT_EQ(IDs(m.MeasureList), c.ids) << c.what;
        // An empty list has nothing left to lose.
        EXPECT_EQ(m.ListHasUnsavedEdits(), c.edited) << c.what;
        const bool changed = c.edited || c.ids.size() != 3;
        EXPECT_EQ(m.ListModified, changed) << c.what;
    }
}

TEST(ListEdit, closingAfterAnEditAsksToSaveEvenWithoutSaveOnExit) {
    Listed l;
    l.rig.main->SetMeasurementComment(0, "retest");
    l.rig.view.MessageAnswers = {EModalResult::Cancel};
    EXPECT_FALSE(l.rig.main->FormCloseQuery());
    EXPECT_EQ(l.rig.view.MessageTexts(),
              std::vector<std::string>{std::string(LE_AskSaveBeforeClosing.Def)});
}

TEST(ListEdit, theSortModeStaysForMeasurementsThatJoinLater) {
    Listed l;
    TForm_Main& m = *l.rig.main;
    m.SortMeasureList(TestIDDown);
    EXPECT_EQ(IDs(m.MeasureList), (std::vector<std::string>{"c", "b", "a"}));
    EXPECT_EQ(m.MeasureSortMode, TestIDDown);
    std::vector<ESortType> sortedWith;
    m.SortList = [&](ESortType mode, TMeasureList& list) {
        sortedWith.push_back(mode);
        SortByMode(mode, list, defaultCollation());
    };
    m.SortMeasureList(TestIDUp);
    EXPECT_EQ(IDs(m.MeasureList), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(sortedWith, std::vector<ESortType>{TestIDUp});
    // Sorting is no edit.
    EXPECT_FALSE(m.ListHasUnsavedEdits());
}

TEST(ListEdit, appendedMeasurementsJoinInSortOrderAndOnesAlreadyThereAreLeftOut) {
    Listed l;
    TForm_Main& m = *l.rig.main;
    m.SortMeasureList(TestIDDown);
    TMeasureList sets;
    for (const char* id : {"b", "e", "d", "e"}) sets.push_back(Set(id, "from the archive"));
    const auto outcome = m.AppendMeasurements(std::move(sets));
    EXPECT_EQ(outcome.Added, 2u);
    EXPECT_EQ(outcome.Duplicates, 2u);
    EXPECT_EQ(IDs(m.MeasureList), (std::vector<std::string>{"e", "d", "c", "b", "a"}));
    // The list's own b stays, not the archive's.
    EXPECT_EQ(m.MeasureList[3]->TestName, "Test b");
    EXPECT_EQ(l.rig.view.Counts[EList::Measurements], 5);
    EXPECT_EQ(l.rig.view.Feedback,
              "4 measurements taken from the archive, 2 of them already in "
              "the list.");
    // In no file yet, but kept in the archive: no question at closing.
    EXPECT_TRUE(m.ListModified);
    EXPECT_FALSE(m.ListHasUnsavedEdits());

    const auto none = m.AppendMeasurements({});
    EXPECT_EQ(none.Added, 0u);
    EXPECT_EQ(m.MeasureList.size(), 5u);
}

TEST(ListEdit, theImagePositionIsReadAtConstructionAndKeptInTheUserSettings) {
    Rig rig(sim::Scenario::demo(), {{"Setup/ImagePosition", "left"}});
    EXPECT_EQ(rig.main->ImagePosition(), SLeft);
    rig.main->SetImagePosition(SFull);
    EXPECT_EQ(rig.main->ImagePosition(), SFull);
    EXPECT_EQ(rig.user.Values["Setup/ImagePosition"], "Full");
}

}  // namespace
}  // namespace kyvo
