// The presenter's list and file flows (reading stored data into the list,
// saving, loading, the feedback line) and the housekeeping menus (clock,
// formatting, version dialog).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <unordered_set>

#include "app/Main.h"
#include "files/Settings.h"

namespace kyvo {

// ---------------------------------------------------------------------------
// Memory transfer driving

std::string ReplacePlaceholders(std::string text, const std::vector<std::string>& values) {
    for (std::size_t i = values.size(); i-- > 0;) {
        const std::string mark = "%" + std::to_string(i + 1);
        for (std::size_t at = text.find(mark); at != std::string::npos;
             at = text.find(mark, at + values[i].size()))
            text.replace(at, mark.size(), values[i]);
    }
    return text;
}

// ---------------------------------------------------------------------------
// Reading stored data

void TForm_Main::Button_ReadDataClick() {
    session_->ReadStoredData();
}

void TForm_Main::ReleaseListSelection() {
    if (view.SelectedCount(EList::Measurements) == 1) view.ClearSelection(EList::Measurements);
}

void TForm_Main::RetranslateResultRows() {
    static const TLangEntry* const kValidity[] = {&LE_Valid, &LE_Invalid, &LE_KyvoExpired};
    static const TLangEntry* const kValue[] = {&LE_NotANumber, &LE_Infinite};
    std::vector<std::string> now;
    for (const TLangEntry* e : kValidity) now.push_back(Lang(*e));
    for (const TLangEntry* e : kValue) now.push_back(Lang(*e));
    const std::vector<std::string> before = rowTexts.empty() ? now : rowTexts;
    rowTexts = now;
    if (before == now) return;
    auto follow = [&](std::string& text, std::size_t first, std::size_t count,
                      const TLangEntry* const* entries) {
        for (std::size_t i = 0; i < count; ++i)
            if (text == before[first + i] || text == entries[i]->Def) {
                text = now[first + i];
                return;
            }
    };
    for (auto& set : MeasureList)
        for (TResultSet& row : set->ResultList) {
            follow(row.Validity, 0, std::size(kValidity), kValidity);
            follow(row.ResultValue, std::size(kValidity), std::size(kValue), kValue);
        }
}

void TForm_Main::ShowFeedback(const TLangEntry& text, std::vector<std::string> values) {
    feedbackText = &text;
    feedbackValues = std::move(values);
    view.SetStatusText(2, ReplacePlaceholders(Lang(text), feedbackValues));
}

void TForm_Main::ClearFeedback() {
    feedbackText = nullptr;
    feedbackValues.clear();
    view.SetStatusText(2, "");
}

void TForm_Main::NoteListSaved(const std::string& path) {
    lastSavedPath_ = path;
    ++saveCount_;
    ListFile = path;
    ListModified = false;
    ShowFeedback(LE_ListSavedTo, {path});
    view.SetCaption(MainCaption());
}

void TForm_Main::NoteListLoaded(const std::string& path) {
    ListFile = path;
    ListModified = false;
    ShowFeedback(LE_ListLoadedFrom, {path});
    view.SetCaption(MainCaption());
}

void TForm_Main::NoteListChanged() {
    if (ListModified) return;
    ListModified = true;
    view.SetCaption(MainCaption());
}

void TForm_Main::SortByPresentMode() {
    if (SortList)
        SortList(MeasureSortMode, MeasureList);
    else
        SortByMode(MeasureSortMode, MeasureList, d.Collation ? *d.Collation : defaultCollation());
}

void TForm_Main::SortMeasureList(ESortType mode) {
    MeasureSortMode = mode;
    SortByPresentMode();
}

std::size_t TForm_Main::DeleteMeasurements(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::size_t deleted = 0;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        if (*it >= 0 && *it < static_cast<int>(MeasureList.size())) {
            MeasureList.erase(MeasureList.begin() + *it);
            ++deleted;
        }
    if (deleted > 0) {
        MarkListEdited();
        NoteListChanged();
    }
    return deleted;
}

void TForm_Main::DeleteAllMeasurements() {
    if (MeasureList.empty()) return;
    MeasureList.clear();
    MarkListEdited();
    NoteListChanged();
}

TForm_Main::TAppendOutcome TForm_Main::AppendMeasurements(TMeasureList sets) {
    TAppendOutcome outcome;
    std::unordered_set<std::string> ids;
    for (const auto& m : MeasureList) ids.insert(m->TestID);
    // A measurement already in the list keeps its comment edits there.
    if (!sets.empty() && view.SelectedCount(EList::Measurements) == 1)
        view.ClearSelection(EList::Measurements);
    for (auto& set : sets) {
        if (!set) continue;
        if (!ids.insert(set->TestID).second) {
            ++outcome.Duplicates;
            continue;
        }
        MeasureList.push_back(std::move(set));
        ++outcome.Added;
    }
    if (outcome.Added > 0) {
        NoteListChanged();
        view.SetListCount(EList::Measurements, static_cast<int>(MeasureList.size()));
        SortByPresentMode();
        view.RepaintList(EList::Measurements);
        view.SetEnabled(EControl::Menu_SaveFile, true);
        view.SetEnabled(EControl::Button_Save, true);
    }
    ShowFeedback(LE_ArchiveOpenedIntoList, {std::to_string(outcome.Added + outcome.Duplicates),
                                            std::to_string(outcome.Duplicates)});
    return outcome;
}

bool TForm_Main::SetMeasurementComment(std::size_t row, const std::string& text) {
    if (row >= MeasureList.size()) return false;
    TMeasureSet& set = *MeasureList[row];
    if (set.UserComment == text) return false;
    set.UserComment = text;
    set.CommentEdited = true;
    MarkListEdited();
    NoteListChanged();
    if (d.Archive) ArchiveFed(d.Archive->SetComment(set.TestID, text));
    return true;
}

void TForm_Main::ArchiveFed(const TArchiveReport& report) {
    // The status bar, not a box: a lab without its server goes on measuring,
    // and each hand-over updates the number that waits.
    if (report.Unreachable)
        ShowFeedback(LE_ArchiveWaiting, {std::to_string(report.Waiting)});
    else if (archiveWasUnreachable_ && report.Waiting == 0)
        ShowFeedback(LE_ArchiveReachableAgain, {});
    archiveWasUnreachable_ = report.Unreachable;
}

void TForm_Main::SetImagePosition(EImagePos pos) {
    imagePosition_ = pos;
    d.UserSettings->SetText("Setup", "ImagePosition", std::string(ImagePositionWord(pos)));
}

void TForm_Main::ClearMeasureList() {
    if (!MeasureList.empty()) NoteListChanged();
    MeasureList.clear();
    ListEdited = false;
    view.SetListCount(EList::Measurements, 0);
    view.SetListCount(EList::Results, 0);
}

bool TForm_Main::SaveList(int mode) {
    if (!SaveMeasureList || !SaveMeasureList(*this, mode)) return false;
    ListEdited = false;
    return true;
}

void TForm_Main::SaveAsConfigured() {
    if (!SaveMeasureList) return;
    if (AutoSave)
        SaveList(1);
    else if (PromptSave)
        SaveList(0);
    if (TrackMeasurements) SaveList(3);
}

void TForm_Main::Menu_SaveFileClick() {
    if (MeasureList.empty() || !SaveMeasureList) return;
    SaveList(0);
}

void TForm_Main::Menu_LoadFileClick() {
    if (view.SelectedCount(EList::Measurements) == 1) view.ClearSelection(EList::Measurements);
    if (!MeasureList.empty()) {
        const EModalResult r =
            ShowOwnMessage(Lang(LE_AskSaveBeforeOpening), "", EMsgStyle::YesNoCancel);
        // A box closed without an answer keeps the list, as Cancel does.
        if (r != EModalResult::Yes && r != EModalResult::No) return;
        // A save that was cancelled or failed keeps the list, and so the
        // load must not go on and replace it.
        if (r == EModalResult::Yes && SaveMeasureList && !SaveList(0)) return;
    }
    TFileDialogRequest request;
    request.Kind = EFileDialog::OpenResults;
    request.InitialDir = ResultFolder();
    request.FileName = LastUsedFile;
    request.DefaultExt = "tsv";
    request.Filter = Lang(LE_TsvFileFilter);
    request.MustExist = true;
    if (const auto path = view.ShowFileDialog(request)) LoadResultFile(*path);
}

void TForm_Main::Menu_LoadLastSavedOnStartClick() {
    LoadLastSavedOnStart = !LoadLastSavedOnStart;
    view.SetChecked(EControl::Menu_LoadLastSavedOnStart, LoadLastSavedOnStart);
    d.UserSettings->SetBool("Setup", "LoadLastSavedOnStart", LoadLastSavedOnStart);
}

void TForm_Main::LoadResultFile(const std::string& path) {
    if (!LoadMeasureFile) return;
    // The list may be replaced: the view lets go of its rows first.
    view.SetListCount(EList::Measurements, 0);
    view.SetListCount(EList::Results, 0);
    LoadMeasureFile(*this, path);
    ListEdited = false;
    view.SetListCount(EList::Measurements, static_cast<int>(MeasureList.size()));
    view.RepaintList(EList::Measurements);
    view.SetEnabled(EControl::Menu_SaveFile, !MeasureList.empty());
    view.SetEnabled(EControl::Button_Save, !MeasureList.empty());
}

void TForm_Main::StoredDataRead(const TStorageBuildResult& r) {
    if (r.Added > 0) NoteListChanged();
    view.SetListCount(EList::Measurements, static_cast<int>(MeasureList.size()));
    SortByPresentMode();
    view.RepaintList(EList::Measurements);
    view.SetEnabled(EControl::Menu_SaveFile, !MeasureList.empty());
    view.SetEnabled(EControl::Button_Save, !MeasureList.empty());
    ShowFeedback(LE_MeasurementsReadNew, {std::to_string(r.Created), std::to_string(r.Added)});
    if (r.Created > 0) SaveAsConfigured();
    storedReadCount = static_cast<int>(r.Created);
}

EAddDecision TForm_Main::AskAddOrOverwrite() {
    TMessageButtons b;
    b.OK = Lang(LE_Yes);
    b.Cancel = Lang(LE_No);
    b.Aux = Lang(LE_Cancel);
    switch (view.ShowMessageBox(Lang(LE_AskAddToCurrentList), "", EMsgStyle::YesNoCancel, b)) {
        case EModalResult::Yes:
            return EAddDecision::Add;
        case EModalResult::No:
            return EAddDecision::Overwrite;
        default:
            return EAddDecision::Cancel;
    }
}

namespace {
bool IsFailure(EOutcome o) {
    return o != EOutcome::Done && o != EOutcome::Cancelled && o != EOutcome::Busy;
}

std::string DateTimeText(const TLocalDateTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.Year, t.Month, t.Day,
                  t.Hour, t.Minute, t.Second);
    return text;
}
}  // namespace

void TForm_Main::ActivityEnded(EActivity a, EOutcome o) {
    // The status bar tells what the last activity did; what an earlier one
    // did must not stand there as if it were the latest news. An activity
    // that failed has said why in its message and leaves the line empty.
    switch (a) {
        case EActivity::Measure:
            if (o == EOutcome::Done && addedMeasurement_) {
                const auto& [id, savedTo] = *addedMeasurement_;
                if (savedTo.empty())
                    ShowFeedback(LE_MeasurementAdded, {id});
                else
                    ShowFeedback(LE_MeasurementAddedAndSaved, {id, savedTo});
            } else if (IsFailure(o)) {
                ClearFeedback();
            }
            addedMeasurement_.reset();
            break;
        case EActivity::SetClock:
            if (o == EOutcome::Done && clockSent_)
                ShowFeedback(LE_DeviceClockSet, {DateTimeText(*clockSent_)});
            clockSent_.reset();
            break;
        case EActivity::Format:
            if (o == EOutcome::Done)
                ShowFeedback(LE_DatabaseFormatted, {});
            else if (IsFailure(o))
                ClearFeedback();
            break;
        case EActivity::ReadStoredData:
            if (IsFailure(o) && !storedReadCount) ClearFeedback();
            break;
        default:
            break;
    }
    if (a != EActivity::ReadStoredData || !storedReadCount) return;
    const int count = *storedReadCount;
    storedReadCount.reset();
    if (OnStoredDataRead) OnStoredDataRead(*this, count);
}

void TForm_Main::Menu_DataBehaviourClick(EAddDataBehaviour behaviour) {
    session_->UseAddDataBehaviour(behaviour);
    view.SetChecked(EControl::Menu_OverWriteExisting, behaviour == AlwaysOverwrite);
    view.SetChecked(EControl::Menu_AddToExisting, behaviour == AlwaysAdd);
    view.SetChecked(EControl::Menu_AlwaysAsk, behaviour == AlwaysAsk);
    d.UserSettings->SetText("Setup", "AddDataBehaviour",
                            std::string(AddDataBehaviourWord(behaviour)));
}

// ---------------------------------------------------------------------------
// Clock

void TForm_Main::ClockRead(const TLocalDateTime& t, bool valid, const TLocalDateTime& now) {
    if (valid) {
        const int minutes = MinutesBetweenTimesOfDay(now, t);
        view.SetPanelColour(EControl::Panel_Time, minutes == 0   ? EPanelColour::Green
                                                  : minutes <= 2 ? EPanelColour::DarkYellow
                                                                 : EPanelColour::Red);
        const bool sameDay = now.Year == t.Year && now.Month == t.Month && now.Day == t.Day;
        view.SetPanelColour(EControl::Panel_Date,
                            sameDay ? EPanelColour::Green : EPanelColour::Red);
        view.SetPickerDateTime(t);
    } else {
        view.SetPanelColour(EControl::Panel_Time, EPanelColour::Red);
        view.SetPanelColour(EControl::Panel_Date, EPanelColour::Red);
        view.SetPickerDateTime(now);
    }
}

void TForm_Main::SetDeviceClock() {
    if (!session_->Acknowledged() || session_->State().Current != stReady) return;
    clockSent_ = view.PickerDateTime();
    session_->SetClock(*clockSent_);
}

void TForm_Main::DTP_SetDateKeyDown(bool enter) {
    if (enter) SetDeviceClock();
    view.ClearPickerFocus();
}

void TForm_Main::PopUpItem_SetSystemTimeClick() {
    view.SetPickerDateTime(d.Clock->Now());
    SetDeviceClock();
    view.ClearPickerFocus();
}

// ---------------------------------------------------------------------------
// Formatting and the version dialog

void TForm_Main::Menu_FormatDBClick() {
    session_->Format();
}

bool TForm_Main::ConfirmFormat() {
    TMessageButtons b;
    b.OK = Lang(LE_Yes);
    b.Cancel = Lang(LE_No);
    b.DefaultIsSecond = true;
    return view.ShowMessageBox(Lang(LE_AskFormatDatabase), "", EMsgStyle::YesNo, b) ==
           EModalResult::Yes;
}

void TForm_Main::SubMenu_VersionClick() {
    TInfoDialogTexts t;
    t.ProgName = appName;
    t.LogoFile = d.ProgSettings->GetTextNoDefault("Customer", "logo");
    if (t.LogoFile.empty()) t.LogoFile = "logo.tif";
    t.Customer = d.ProgSettings->GetTextNoDefault("Customer", "name");
    t.Version = VERSION_STRING;
    t.CloseText = Lang(LE_Close);
    session_->RunInfo([&] { view.ShowInfoDialog(t); });
}

}  // namespace kyvo
