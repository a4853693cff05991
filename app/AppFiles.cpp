#include "app/AppFiles.h"

#include <cstdlib>
#include <filesystem>

#include "app/Main.h"
#include "files/StartupFiles.h"

namespace kyvo {

void TAppFiles::Open(const std::string& programName, IFileErrorReporter* reporter,
                     tPathsEnvironment environment) {
    InitProgramPaths(Paths, "DRConfig.ini", programName, std::move(environment));
    prog_ = OpenProgramSettings(Paths, reporter);
    user_ = OpenUserSettings(Paths, reporter);
    const std::string langName = user_->GetVal("Language", "filename", "language.ini");
    languageFile_ = OpenLanguageFile(Paths, langName, reporter);
    // A user copy made before this program version shipped a language (or an
    // entry of it) learns what it lacks from the copy beside the program.
    const std::string shippedPath =
        JoinFolderAndFile(ShippedFilesFolder(Paths.appPath, Paths.configFileNameRO), langName);
    if (!langName.empty() && langName.front() != '/' && shippedPath != languageFile_->Filename &&
        std::filesystem::exists(shippedPath)) {
        const TLanguageFile shipped(shippedPath, true);
        AddMissingTranslations(*languageFile_, shipped);
    }
    Menu = BuildLanguageMenu(*languageFile_, *user_, DesktopMessagesLocale([](const char* name) {
        return std::getenv(name);
    }));
    progStore_ = std::make_unique<ConfigKeyStore>(*prog_);
    userStore_ = std::make_unique<ConfigKeyStore>(*user_);
    language_ = std::make_unique<FileLanguage>(*languageFile_);
}

void AddMissingTranslations(TLanguageFile& user, const TLanguageFile& shipped) {
    if (!shipped.IsValid()) return;
    for (int h = 1; h <= shipped.CountHeads(); ++h) {
        const std::string head = shipped.GetHeadName(h);
        if (head == "English") continue;
        for (const TLangEntry& e : kLanguageEntries) {
            const std::string id = std::to_string(e.ID);
            if (!user.GetVal(head, id).empty()) continue;
            const std::string text = shipped.GetVal(head, id);
            if (!text.empty()) user.SetVal(head, e.ID, text);
        }
    }
}

std::optional<std::string> ViewResultFileDialogs::ChooseSaveFile() {
    TFileDialogRequest r;
    r.Kind = EFileDialog::SaveResults;
    r.InitialDir = main_.ResultFolder();
    r.FileName = main_.LastUsedFile;
    r.DefaultExt = "tsv";
    r.Filter = lang_.Text(LE_TsvFileFilter);
    return view_.ShowFileDialog(r);
}

void ViewResultFileDialogs::RememberResultFile(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    if (slash == std::string::npos) {
        main_.LastUsedFile = path;
    } else {
        main_.DefaultDir = path.substr(0, slash + 1);
        main_.LastUsedFile = path.substr(slash + 1);
    }
    user_.SetText("Setup", "DefaultDir", main_.DefaultDir);
    user_.SetText("Setup", "LastUsedFile", main_.LastUsedFile);
}

EDialogAnswer ViewResultFileDialogs::AskYesNoCancel(const TLangEntry& question) {
    switch (main_.ShowOwnMessage(lang_.Text(question), "", EMsgStyle::YesNoCancel)) {
        case EModalResult::Yes:
            return EDialogAnswer::Yes;
        case EModalResult::No:
            return EDialogAnswer::No;
        default:
            return EDialogAnswer::Cancel;
    }
}

void ViewResultFileDialogs::ShowMessage(const TLangEntry& text, const TLangEntry* caption,
                                        const std::string& detail) {
    main_.ShowOwnMessage(lang_.Text(text) + detail, caption ? lang_.Text(*caption) : "",
                         EMsgStyle::OK);
}

void BindResultFileSaving(TForm_Main& main, IResultFileDialogs& dialogs, ETSVVersion layout,
                          const std::string& trackingFile) {
    main.SaveMeasureList = [&dialogs, layout, trackingFile](TForm_Main& m, int mode) {
        TSaveRequest r;
        r.Mode = mode == 1   ? ESaveMode::LastFile
                 : mode == 3 ? ESaveMode::Tracking
                             : ESaveMode::Interactive;
        r.Layout = layout;
        r.LastFile = JoinFolderAndFile(m.ResultFolder(), m.LastUsedFile);
        r.TrackingFile = trackingFile;
        const TSaveOutcome outcome = kyvo::SaveMeasureList(
            m.MeasureList, r, dialogs, [&m](const TLangEntry& e) { return m.Lang(e); });
        // A failed save must never look like a saved list: the message names
        // the file and the system's reason.
        if (outcome.Result == ESaveResult::Failed)
            dialogs.ShowMessage(LE_ResultFileNotSaved, &LE_SaveError, "\r\n" + outcome.Error);
        if (outcome.Result == ESaveResult::Saved && r.Mode != ESaveMode::Tracking)
            m.NoteListSaved(outcome.Path);
        return outcome.Result == ESaveResult::Saved;
    };
}

void BindResultFileLoading(TForm_Main& main, IResultFileDialogs& dialogs, ETSVVersion layout,
                           const ICollation* collation) {
    main.LoadMeasureFile = [&dialogs, layout, collation](TForm_Main& m, const std::string& path) {
        const TLoadOutcome outcome =
            kyvo::LoadMeasureFile(path, layout, m.MeasureList, dialogs, m.MeasureSortMode,
                                  collation ? *collation : defaultCollation());
        if (outcome.Result == ELoadResult::Loaded) m.NoteListLoaded(path);
    };
}

ETSVVersion ReadTsvStyle(IKeyStore& prog) {
    const std::string w = upperCaseAscii(prog.GetText("Setup", "SaveTSVStyle", "Long"));
    return w == "SHORT" ? TSVVShort : w == "TOBREL" ? TSVVTobrel : TSVVLong;
}

}  // namespace kyvo
