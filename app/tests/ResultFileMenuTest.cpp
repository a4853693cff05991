#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "app/AppFiles.h"
#include "app/tests/Harness.h"

namespace kyvo {
namespace {

using testing::Rig;

class TempFolder {
  public:
    TempFolder() {
        char name[] = "/tmp/kyvo-result-menu-XXXXXX";
        if (::mkdtemp(name)) Path = name;
    }
    ~TempFolder() {
        if (!Path.empty()) std::filesystem::remove_all(Path);
    }
    std::string File(const std::string& name) const { return Path + "/" + name; }
    std::string Path;
};

std::unique_ptr<TMeasureSet> Set(const std::string& id) {
    auto s = std::make_unique<TMeasureSet>();
    s->TestID = id;
    s->TestName = "Test " + id;
    s->DateTime.Data = {9, 5, 14, 15, 3, 17};
    s->ResultList.push_back({"", "CRP", "12.5", "mg/l", "high"});
    return s;
}

std::vector<std::string> IDs(const TMeasureList& list) {
    std::vector<std::string> v;
    for (const auto& s : list) v.push_back(s->TestID);
    return v;
}

// Answers nothing: for writing the files a scenario starts from.
class NoDialogs final : public IResultFileDialogs {
  public:
    std::optional<std::string> ChooseSaveFile() override { return std::nullopt; }
    void RememberResultFile(const std::string&) override {}
    EDialogAnswer AskYesNoCancel(const TLangEntry&) override { return EDialogAnswer::Cancel; }
    void ShowMessage(const TLangEntry&, const TLangEntry*, const std::string&) override {}
};

void WriteResultFile(const std::string& path, const std::vector<std::string>& ids) {
    TMeasureList list;
    for (const auto& id : ids) list.push_back(Set(id));
    TSaveRequest r;
    r.Mode = ESaveMode::LastFile;
    r.Layout = TSVVLong;
    r.LastFile = path;
    NoDialogs none;
    ASSERT_EQ(SaveMeasureList(list, r, none).Result, ESaveResult::Saved);
}

// The controller with its result files bound as the program binds them.
struct Window {
    explicit Window(const TempFolder& folder, std::map<std::string, std::string> settings = {})
        : rig(sim::Scenario::demo(), std::move(settings)),
          dialogs(rig.view, *rig.main, rig.user, rig.lang) {
        BindResultFileSaving(*rig.main, dialogs, TSVVLong, folder.File("tracking.tsv"));
        BindResultFileLoading(*rig.main, dialogs, TSVVLong, nullptr);
    }
    Rig rig;
    ViewResultFileDialogs dialogs;
};

TEST(ResultFileMenu, saveWritesTheListToTheChosenFileAndRemembersItOnlyWhenThereIsAList) {
    TempFolder folder;
    Window w(folder);
    w.rig.Start();
    const std::string path = folder.File("list.tsv");
    w.rig.view.FileAnswers = {path};
    w.rig.main->Menu_SaveFileClick();
    EXPECT_TRUE(w.rig.view.FileDialogs.empty());
    EXPECT_FALSE(std::filesystem::exists(path));

    w.rig.main->MeasureList.push_back(Set("A"));
    w.rig.main->MeasureList.push_back(Set("B"));
    w.rig.main->Menu_SaveFileClick();
    ASSERT_EQ(w.rig.view.FileDialogs.size(), 1u);
    EXPECT_EQ(w.rig.view.FileDialogs[0].Kind, EFileDialog::SaveResults);
    EXPECT_EQ(w.rig.main->DefaultDir, folder.Path + "/");
    EXPECT_EQ(w.rig.main->LastUsedFile, "list.tsv");
    EXPECT_EQ(w.rig.user.Values["Setup/DefaultDir"], folder.Path + "/");
    EXPECT_EQ(w.rig.user.Values["Setup/LastUsedFile"], "list.tsv");

    TMeasureList back;
    NoDialogs none;
    EXPECT_EQ(LoadMeasureFile(path, TSVVLong, back, none, Unsorted).Result, ELoadResult::Loaded);
    EXPECT_EQ(IDs(back), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(back[0]->ResultList, w.rig.main->MeasureList[0]->ResultList);
}

TEST(ResultFileMenu, loadAsksAboutThePresentListAndReplacesItWithTheChosenFile) {
    const std::string question = std::string(LE_AskSaveBeforeOpening.Def);
    struct Case {
        const char* name;
        bool listEmpty;
        std::optional<EModalResult> answer;  // none: no question expected
        bool saves, opens;
    };
    const Case cases[] = {
        {"empty list: no question", true, std::nullopt, false, true},
        {"Cancel keeps the list", false, EModalResult::Cancel, false, false},
        {"a box closed unanswered keeps the list", false, EModalResult::None, false, false},
        {"No opens without saving", false, EModalResult::No, false, true},
        {"Yes saves first, then opens", false, EModalResult::Yes, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const std::string stored = folder.File("stored.tsv");
        const std::string saved = folder.File("saved.tsv");
        WriteResultFile(stored, {"B", "A", "B"});
        Window w(folder, {{"Setup/DefaultDir", folder.Path + "/"}});
        w.rig.Start();
        if (!c.listEmpty) w.rig.main->MeasureList.push_back(Set("present"));
        w.rig.view.SelectionCount = 1;
        if (c.answer) w.rig.view.MessageAnswers = {*c.answer};
        if (c.saves) w.rig.view.FileAnswers.push_back(saved);
        w.rig.view.FileAnswers.push_back(stored);
        const std::size_t messagesBefore = w.rig.MessageCount();

        w.rig.main->Menu_LoadFileClick();

        EXPECT_EQ(w.rig.view.SelectionCount, 0);
        std::vector<std::string> asked;
        for (std::size_t i = messagesBefore; i < w.rig.view.Messages.size(); ++i)
            asked.push_back(w.rig.view.Messages[i].Text);
        EXPECT_EQ(asked,
                  c.answer ? std::vector<std::string>{question} : std::vector<std::string>{});
        if (c.answer) {
            EXPECT_EQ(w.rig.view.Messages.back().Style, EMsgStyle::YesNoCancel);
        }
        std::vector<EFileDialog> kinds;
        for (const auto& r : w.rig.view.FileDialogs) kinds.push_back(r.Kind);
        std::vector<EFileDialog> expected;
        if (c.saves) expected.push_back(EFileDialog::SaveResults);
        if (c.opens) expected.push_back(EFileDialog::OpenResults);
        EXPECT_EQ(kinds, expected);
        EXPECT_EQ(std::filesystem::exists(saved), c.saves);
        if (!c.opens) {
            EXPECT_EQ(IDs(w.rig.main->MeasureList), std::vector<std::string>{"present"});
            continue;
        }
        const TFileDialogRequest& open = w.rig.view.FileDialogs.back();
        EXPECT_TRUE(open.MustExist);
        EXPECT_EQ(open.DefaultExt, "tsv");
        EXPECT_EQ(open.Filter, LE_TsvFileFilter.Def);
        EXPECT_EQ(open.InitialDir, folder.Path + "/");
        EXPECT_EQ(open.FileName, c.saves ? "saved.tsv" : "Results.tsv");
        // The file's second line with a TestID already read is dropped.
        EXPECT_EQ(IDs(w.rig.main->MeasureList), (std::vector<std::string>{"B", "A"}));
        EXPECT_EQ(w.rig.view.Counts[EList::Measurements], 2);
        EXPECT_EQ(w.rig.view.Counts[EList::Results], 0);
        EXPECT_TRUE(w.rig.view.IsEnabled(EControl::Menu_SaveFile));
        EXPECT_EQ(w.rig.user.Values["Setup/LastUsedFile"], "stored.tsv");
    }
}

TEST(ResultFileMenu, theCaptionNamesTheListsFileAndMarksChangesTheStatusSaysWhereItWasSaved) {
    TempFolder folder;
    const std::string stored = folder.File("stored.tsv");
    const std::string saved = folder.File("saved.tsv");
    WriteResultFile(stored, {"A", "B"});
    Window w(folder, {{"Setup/DefaultDir", folder.Path + "/"}});
    w.rig.Start();
    const std::string plain = w.rig.view.Caption;
    EXPECT_EQ(plain.find(".tsv"), std::string::npos);

    w.rig.view.FileAnswers = {stored};
    w.rig.main->Menu_LoadFileClick();
    EXPECT_EQ(w.rig.view.Caption, plain + " - stored.tsv");
    EXPECT_EQ(w.rig.view.Feedback, "List loaded from " + stored);

    w.rig.main->NoteListChanged();  // as the window reports a deleted entry
    EXPECT_EQ(w.rig.view.Caption, plain + " - *stored.tsv");

    w.rig.view.FileAnswers = {saved};
    w.rig.main->Menu_SaveFileClick();
    EXPECT_EQ(w.rig.view.Caption, plain + " - saved.tsv");
    EXPECT_EQ(w.rig.view.Feedback, "List saved to " + saved);

    // A list saved only to the tracking file keeps its mark.
    w.rig.main->NoteListChanged();
    w.rig.main->SaveMeasureList(*w.rig.main, 3);
    EXPECT_EQ(w.rig.view.Caption, plain + " - *saved.tsv");
}

TEST(ResultFileMenu, lastUsedFileIsLoadedAtStartOnlyWhenTickedAndTheTickCanBeChanged) {
    struct Case {
        const char* name;
        bool ticked, fileExists;
        std::vector<std::string> loaded;
        bool notFoundShown;
    };
    const Case cases[] = {
        {"ticked, file there", true, true, {"A", "B"}, false},
        {"ticked, file gone", true, false, {}, true},
        {"not ticked", false, true, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const std::string path = folder.File("last.tsv");
        if (c.fileExists) WriteResultFile(path, {"A", "B"});
        // A folder typed into the settings by hand may lack its separator.
        Window w(folder, {{"Setup/DefaultDir", folder.Path},
                          {"Setup/LastUsedFile", "last.tsv"},
                          {"Setup/LoadLastSavedOnStart", c.ticked ? "true" : "false"}});
        w.rig.Start();
        EXPECT_TRUE(w.rig.main->Initialized());
        EXPECT_EQ(IDs(w.rig.main->MeasureList), c.loaded);
        EXPECT_EQ(w.rig.view.Counts[EList::Measurements], int(c.loaded.size()));
        EXPECT_EQ(w.rig.view.IsEnabled(EControl::Menu_SaveFile), !c.loaded.empty());
        const std::vector<std::string> notFound = {std::string(LE_FileNotFound.Def) + path};
        EXPECT_EQ(w.rig.view.MessageTexts(),
                  c.notFoundShown ? notFound : std::vector<std::string>{});
        EXPECT_EQ(w.rig.view.Checked[EControl::Menu_LoadLastSavedOnStart], c.ticked);

        w.rig.main->Menu_LoadLastSavedOnStartClick();
        EXPECT_EQ(w.rig.view.Checked[EControl::Menu_LoadLastSavedOnStart], !c.ticked);
        EXPECT_EQ(w.rig.user.Values["Setup/LoadLastSavedOnStart"], c.ticked ? "false" : "true");
        w.rig.main->Menu_LoadLastSavedOnStartClick();
        EXPECT_EQ(w.rig.view.Checked[EControl::Menu_LoadLastSavedOnStart], c.ticked);
        EXPECT_EQ(w.rig.user.Values["Setup/LoadLastSavedOnStart"], c.ticked ? "true" : "false");
    }
}

}  // namespace
}  // namespace kyvo
