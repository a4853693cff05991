// The presenter's side of an end that cannot ask (the desktop ends the
// session, SIGTERM, SIGHUP): a list whose changes no file holds is kept in
// the data folder and offered back at the next start.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <unordered_map>

#include "app/Main.h"
#include "files/AtomicFile.h"
#include "files/ResultFileWriter.h"
#include "files/TextCodec.h"

namespace kyvo {

namespace {

constexpr std::string_view kRecoveryPrefix = "unsaved-list-";
constexpr std::string_view kRecoverySuffix = ".tsv";
// The layout that keeps everything a measure set holds, whatever layout the
// settings choose for result files.
constexpr ETSVVersion kRecoveryLayout = TSVVLong;

// Nobody is there to answer while a kept list is read back: the reason of a
// failure is collected for the one message that says so.
class TQuietResultDialogs final : public IResultFileDialogs {
  public:
    explicit TQuietResultDialogs(const TForm_Main& main) : main_(main) {}
    std::optional<std::string> ChooseSaveFile() override { return std::nullopt; }
    void RememberResultFile(const std::string&) override {}
    EDialogAnswer AskYesNoCancel(const TLangEntry&) override { return EDialogAnswer::Cancel; }
    void ShowMessage(const TLangEntry& text, const TLangEntry*,
                     const std::string& detail) override {
        if (Reason.empty()) Reason = main_.Lang(text) + detail;
    }
    std::string Reason;

  private:
    const TForm_Main& main_;
};

bool IsRecoveryFile(const std::string& name) {
    return name.size() > kRecoveryPrefix.size() + kRecoverySuffix.size() &&
           name.starts_with(kRecoveryPrefix) && name.ends_with(kRecoverySuffix);
}

}  // namespace

std::vector<std::string> TForm_Main::RecoveryFiles() const {
    std::vector<std::string> files;
    if (d.DataFolder.empty()) return files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(d.DataFolder, ec), end; !ec && it != end;
         it.increment(ec))
        if (it->is_regular_file(ec) && IsRecoveryFile(it->path().filename().string()))
            files.push_back(it->path().string());
    std::sort(files.begin(), files.end());
    return files;
}

bool TForm_Main::KeepUnsavedListForNextStart(std::string& error) {
    if (MeasureList.empty() || !(ListModified || ListEdited)) return true;
    if (d.DataFolder.empty()) {
        error = "there is no folder for user data (neither XDG_DATA_HOME nor HOME is set)";
        return false;
    }
    std::error_code ec;
    const std::filesystem::path folder(d.DataFolder);
    // Measurements are patients' data: the folder is the user's alone.
    if (!std::filesystem::is_directory(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        if (!ec)
            std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::replace, ec);
        if (ec) {
            error = "Could not create " + folder.string() + ": " + ec.message();
            return false;
        }
    }
    const TLocalDateTime t = d.Clock->Now();
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d-%03d", t.Year, t.Month, t.Day,
                  t.Hour, t.Minute, t.Second, t.Millisecond);
    // Another instance ending in the same moment keeps its own list.
    std::string path;
    for (int n = 1; path.empty() || std::filesystem::exists(path, ec); ++n)
        path = JoinFolderAndFile(d.DataFolder, std::string(kRecoveryPrefix) + stamp +
                                                   (n > 1 ? "-" + std::to_string(n) : "") +
                                                   std::string(kRecoverySuffix));
    std::vector<std::string> lines{BuildTsvHeader(kRecoveryLayout)};
    for (const auto& set : MeasureList) lines.push_back(FormatMeasureRow(*set, kRecoveryLayout));
    return writeFileAtomically(path, encodeTextLines(lines), &error);
}

void TForm_Main::OfferKeptLists() {
    for (const std::string& path : RecoveryFiles()) {
        TMeasureList kept;
        TQuietResultDialogs quiet(*this);
        const TLoadOutcome outcome =
            kyvo::LoadMeasureFile(path, kRecoveryLayout, kept, quiet, MeasureSortMode,
                                  d.Collation ? *d.Collation : defaultCollation());
        if (outcome.Result != ELoadResult::Loaded) {
            // Left where it is, for the user to look at.
            const std::string reason = !outcome.Error.empty() ? outcome.Error : quiet.Reason;
            ShowOwnMessage(
                Lang(LE_UnsavedListNotRecovered) + path + (reason.empty() ? "" : "\r\n" + reason),
                "", EMsgStyle::OK);
            continue;
        }
        const EModalResult answer = ShowOwnMessage(
            ReplacePlaceholders(Lang(LE_AskRestoreUnsavedList), {std::to_string(kept.size())}), "",
            EMsgStyle::YesNo);
        if (answer == EModalResult::Yes && !kept.empty()) {
            // The list may be replaced: the view lets go of its rows first.
            view.SetListCount(EList::Measurements, 0);
            view.SetListCount(EList::Results, 0);
            // The kept measurement is the newer one where both have it.
            std::unordered_map<std::string, std::size_t> at;
            for (std::size_t i = 0; i < MeasureList.size(); ++i) at[MeasureList[i]->TestID] = i;
            for (auto& set : kept) {
                const auto it = at.find(set->TestID);
                if (it != at.end())
                    MeasureList[it->second] = std::move(set);
                else
                    MeasureList.push_back(std::move(set));
            }
            SortByPresentMode();
            // Still in no file: closing asks to save it.
            MarkListEdited();
            NoteListChanged();
            view.SetListCount(EList::Measurements, static_cast<int>(MeasureList.size()));
            view.RepaintList(EList::Measurements);
            view.SetEnabled(EControl::Menu_SaveFile, true);
            view.SetEnabled(EControl::Button_Save, true);
        }
        // Answered either way: handled. A box closed without an answer (the
        // program ending meanwhile) leaves it for the next start.
        if (answer == EModalResult::Yes || answer == EModalResult::No) {
            std::error_code ec;
            std::filesystem::remove(path, ec);
        }
    }
}

}  // namespace kyvo
