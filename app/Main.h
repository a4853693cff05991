// The main window's logic without its pixels: the presenter of the device
// session. It turns the window's handlers into session operations and the
// session's events into what IMainView shows and asks; it owns the port
// list, the measurement list and its edits, the settings and start-up and
// shutdown. Everything runs on the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppServices.h"
#include "app/DeviceLink.h"
#include "app/DeviceSession.h"
#include "app/Platform.h"
#include "app/View.h"
#include "files/SettingsEnums.h"
#include "protocol/ByteBuffer.h"
#include "protocol/KyvoCommand.h"
#include "protocol/KyvoEEPROM15.h"
#include "protocol/KyvoReadWrite.h"
#include "testdata/MeasureSet.h"
#include "testdata/Sorting.h"
#include "testdata/TestConfiguration.h"
#include "testdata/TestResults.h"

namespace kyvo {

// Who started a connect or disconnect.
enum class ESource { MainWindow, Button_Open };

// The version text "V1.5.062".
std::string MakeVersionString(int major, int minor, int build);
// The program's version, the project's ("0.1.0"), as --version, reports and
// exports give it; the window's caption shows it as "V0.1.0".
std::string ProgramVersionString();

// The window placement of the user settings (Left, Top, Width, Height,
// WindowState) on this screen: a negative edge becomes 0, an edge beyond the
// desktop half the screen; WindowState 2, more or negative maximises.
TWindowGeometry PlaceWindow(IKeyStore& user, const TScreenSize& screen);

// The path of file name in folder, with a separator between them when the
// folder lacks one; name alone when folder is empty.
std::string JoinFolderAndFile(const std::string& folder, const std::string& name);

// text with %1, %2, ... replaced by values[0], values[1], ...
std::string ReplacePlaceholders(std::string text, const std::vector<std::string>& values);

// Whole minutes between the times of day of a and b, sign dropped.
int MinutesBetweenTimesOfDay(const TLocalDateTime& a, const TLocalDateTime& b);

// Everything the controller works with that it does not create itself.
struct TMainDeps {
    IMainView* View = nullptr;
    ITimerFactory* Timers = nullptr;
    IClock* Clock = nullptr;
    IDeviceLink* Link = nullptr;
    IKeyStore* ProgSettings = nullptr;  // DRConfigRO.ini, never saved
    IKeyStore* UserSettings = nullptr;  // DRConfig.ini
    ILanguage* Language = nullptr;
    std::string ConfigFolder;  // the configuration folder
    // The result dialogs' start folder while "DefaultDir" names none that
    // exists: the user's documents folder; ConfigFolder when empty.
    std::string DocumentsFolder;
    const ICollation* Collation = nullptr;  // sorting; the std fallback when null
    // Where each device's last read rings are remembered, so that the next
    // read fetches only what changed; empty: nothing is remembered.
    std::string DeviceMemoryFolder{};
    // The measurement archive every read and measurement goes into, and
    // comment edits too; none: nowhere.
    IMeasurementArchive* Archive = nullptr;
    // The user's data folder (created 0700 when first needed), where a list
    // the program could not ask about at its end is kept for the next start;
    // empty: such a list is lost.
    std::string DataFolder{};
};

class TForm_Main : private ISessionEvents {
  public:
    explicit TForm_Main(const TMainDeps& deps);
    ~TForm_Main() override;
    TForm_Main(const TForm_Main&) = delete;
    TForm_Main& operator=(const TForm_Main&) = delete;

    // --- life cycle (the front end calls these) ---------------------------
    void FormCreate();
    void FormActivate();
    // False refuses the close for now.
    bool FormCloseQuery();
    // The end of a close that cannot ask (the desktop ends the session,
    // SIGTERM, SIGHUP): a list with changes no file holds is written to a
    // file of its own in the data folder, offered back at the next start.
    // True when there was nothing to keep or it was kept; otherwise false
    // with the reason in error.
    bool KeepUnsavedListForNextStart(std::string& error);
    // The kept lists waiting in the data folder, in the order of their
    // names (the time they were kept).
    std::vector<std::string> RecoveryFiles() const;
    void FormClose();
    void FormDestroy();

    // --- user actions -----------------------------------------------------
    void Button_OpenClick();
    void Button_ReadDataClick();
    void Button_InstantMeasureClick();
    void Button_TimerMeasureClick();
    void Menu_FormatDBClick();
    void Menu_AutoConnectClick();
    void Menu_ShutDownOnCloseClick();
    void Menu_DataBehaviourClick(EAddDataBehaviour behaviour);
    void Menu_TestSourceClick(ETestSource source);
    void CB_CombineMeasurementsClick(bool ticked);
    void aktualisieren1Click();
    void ComboBox_FTDIDeviceChange();
    void SubMenu_VersionClick();
    // Save_File and Ctrl+S: the list into a file the user chooses; nothing
    // while the list is empty.
    void Menu_SaveFileClick();
    // Load_File and Ctrl+L: offers to save a non-empty list first (Cancel
    // ends), then replaces the list with the file chosen in the open dialog.
    void Menu_LoadFileClick();
    // Ticks or unticks loading the last used file at the next start.
    void Menu_LoadLastSavedOnStartClick();
    // Sets every caption and hint in the present language; the front end
    // runs it again after the user picked another language.
    void ApplyLanguageTexts();
    // Cancel in the prompt window: asks the device to stop the evaluation
    // under way. Its answer ends the measurement as a device error does;
    // nothing happens outside a measurement.
    void AbortEvaluation();
    // Enter or Escape in a clock picker; other keys are the picker's own.
    void DTP_SetDateKeyDown(bool enter);
    void PopUpItem_SetSystemTimeClick();

    // For scripted front ends: the source and combining of the next
    // measurements, without touching the user settings.
    void UseTestSource(ETestSource source) { session_->UseTestSource(source); }
    void UseCombining(bool on) { session_->UseCombining(on); }
    void UseAddDataBehaviour(EAddDataBehaviour b) { session_->UseAddDataBehaviour(b); }

    // --- queries for the front ends ---------------------------------------
    // The device session (present from FormCreate to FormDestroy).
    TDeviceSession& Session() { return *session_; }
    const TState& State() const;
    bool Initialized() const { return initialized; }
    bool KyvoAcknowledgedFlag() const { return session_ && session_->Acknowledged(); }
    const TEEPROMMap& EEPROM() const { return session_->EEPROM(); }
    const std::string& FirmwareText() const { return session_->FirmwareText(); }
    const std::string& SerialText() const { return session_->SerialText(); }
    const std::string& AppName() const { return appName; }
    const std::string& VersionString() const { return VERSION_STRING; }
    const tByteBuffer& ResultCfgData() const { return session_->ResultCfgData(); }
    const tByteBuffer& ResultData() const { return session_->ResultData(); }
    const TLocalDateTime& LastDeviceClock() const { return session_->LastDeviceClock(); }
    bool LastDeviceClockValid() const { return session_->LastDeviceClockValid(); }
    ECombineMeasurements CombineMode() const { return session_->CombineMode(); }
    // A user action waits for the end of a clock request.
    bool ActionPending() const { return session_ && session_->ActionPending(); }
    std::string Lang(const TLangEntry& e) const;

    // Raised after a stored-data read has delivered both rings and the list
    // has been updated; count is the number of stored measurements found.
    std::function<void(TForm_Main&, int count)> OnStoredDataRead;
    // Writes the measurement list: mode 0 interactive (file dialog), 1 the
    // last used file, 3 the tracking file; reports its own failures. Returns
    // whether the list was written (false: cancelled or failed). Unset:
    // nothing is written.
    std::function<bool(TForm_Main&, int mode)> SaveMeasureList;
    // Replaces MeasureList with the measurements of a result file, sorted
    // with MeasureSortMode, reporting its own failures; the controller runs
    // it for Load_File and, when "LoadLastSavedOnStart" is ticked, for the
    // last used file at start-up, and shows the list afterwards. Unset:
    // nothing is loaded.
    std::function<void(TForm_Main&, const std::string& path)> LoadMeasureFile;
    // Raised when a new measurement has joined the list.
    std::function<void(TForm_Main&, const TMeasureSet&)> OnMeasurementAdded;
    // Raised when the state machine enters a state.
    std::function<void(TForm_Main&, std::uint8_t state)> OnStateEntered;

    // Shows a message through the program's own box, pausing the timers.
    // defaultNo: the second button is the default (questions whose Yes
    // destroys data).
    EModalResult ShowOwnMessage(const std::string& text, const std::string& caption,
                                EMsgStyle style, bool defaultNo = false);
    // Runs a modal dialog of the front end with the clock poll and the state
    // counter paused, as every message box is.
    void RunPaused(const std::function<void()>& dialog);

    // The user changed the list in a way that lives in no file and nowhere
    // on the device (a comment, deleted entries): closing asks to save even
    // when "SaveOnExit" is off. A save of the list or a newly loaded list
    // clears it.
    void MarkListEdited() { ListEdited = true; }
    bool ListHasUnsavedEdits() const { return ListEdited && !MeasureList.empty(); }

    // --- edits of the measurement list (the window's list menus) ----------
    // Sorts the list by mode; measurements read or measured later join it
    // in that order.
    void SortMeasureList(ESortType mode);
    // Deletes the measurements at these rows (any order; rows beyond the
    // list are ignored). Returns how many went.
    std::size_t DeleteMeasurements(std::vector<int> rows);
    // Deletes every measurement.
    void DeleteAllMeasurements();
    // Appends measurements from elsewhere (the archive) as a file load adds
    // them: a set whose TestID is already in the list, or earlier among
    // sets, is left out. The list is sorted and shown again and the status
    // bar says how many came and how many were there already.
    struct TAppendOutcome {
        std::size_t Added = 0;
        std::size_t Duplicates = 0;
    };
    TAppendOutcome AppendMeasurements(TMeasureList sets);
    // The comment of the measurement at row; false when row is not in the
    // list or the comment is unchanged.
    bool SetMeasurementComment(std::size_t row, const std::string& text);
    // Where the window shows the line image; kept in the user settings.
    EImagePos ImagePosition() const { return imagePosition_; }
    void SetImagePosition(EImagePos pos);
    // How the list is sorted (the front end's fastest way); unset: by
    // SortByMode with the collation.
    std::function<void(ESortType, TMeasureList&)> SortList;

  private:
    // --- session events ---------------------------------------------------
    void StateEntered(std::uint8_t state) override;
    void ReadPhase(EReadStep step) override;
    void ProgressShown(bool visible) override { view.SetProgressVisible(visible); }
    void ProgressRange(int max) override { view.SetProgressMax(max); }
    void ProgressAt(int position) override { view.SetProgressPosition(position); }
    void Connected() override;
    void Disconnected() override;
    void IdentityShown(const std::string& firmware, const std::string& serial) override;
    void DeviceActionsChanged(const TDeviceActions& a) override;
    void ClockAvailable() override;
    void ClockRead(const TLocalDateTime& device, bool valid, const TLocalDateTime& now) override;
    bool ClockPollHeld() override { return view.PickerHasFocus(); }
    void CloseAllowed() override { view.RequestClose(); }
    void Prompt(const std::string& text) override { view.ShowEvaluationInfo(text); }
    void PromptEnded() override { view.HideEvaluationInfo(); }
    void CombiningChangeable(bool c) override {
        view.SetEnabled(EControl::CB_CombineMeasurements, c);
    }
    void Error(const TSessionError& e) override;
    void Notice(ENotice n, const std::string& text) override;
    EAddDecision AskAddOrOverwrite() override;
    bool AskCombine() override;
    std::optional<EConfigSource> AskConfigSource() override;
    std::optional<std::string> ChooseConfigFile(const std::string& startFolder) override;
    std::optional<int> ChooseStoredConfiguration(const std::vector<std::string>& items) override;
    bool ConfirmTagPlaced() override;
    bool ConfirmFormat() override;
    void ReleaseListSelection() override;
    void ClearList() override { ClearMeasureList(); }
    void StoredDataRead(const TStorageBuildResult& r) override;
    void MeasurementAdded(const TMeasureSet& set) override;
    void ActivityEnded(EActivity a, EOutcome o) override;
    void DeviceSerialRead(const std::string& serial) override;
    void ArchiveFed(const TArchiveReport& report) override;

    void EnableDeviceActions(bool enable);

    // connection
    void RefreshDeviceList();
    void OpenConnection(ESource source);
    std::string MainCaption() const;
    // The port box of COM mode after its list was refilled: what the user
    // typed stays; else the last port path, the numbered port or the first.
    void SelectComPort(int remembered, const std::string& typed);

    // timers
    void Timer_initTimer();
    void Timer_FTDIUpdateTimer();

    // flows
    void LoadResultFile(const std::string& path);
    // At start: each kept list is offered; Yes adds it to the list, either
    // answer removes its file. One that cannot be read is said and stays.
    void OfferKeptLists();
    void SaveAsConfigured();
    bool SaveList(int mode);
    std::string DefaultResultFolder() const;
    // The language texts result rows carry (validity, "Not a number",
    // "Infinite") follow a change of language: a row text equal to the
    // entry's text in the language before, or to its built-in text, takes
    // the text of the present language.
    void RetranslateResultRows();
    // Status panel 2 tells what the last read, save or load did; it follows
    // a change of language.
    void ShowFeedback(const TLangEntry& text, std::vector<std::string> values);
    void SetDeviceClock();

    TMainDeps d;
    IMainView& view;
    std::unique_ptr<TDeviceSession> session_;

    std::unique_ptr<ITimer> Timer_init, Timer_FTDIUpdate;

    bool preventStart = false;
    bool Constructed = false;
    bool initialized = false;
    bool SaveOnExit = false;
    bool PromptSave = false;
    bool AutoSave = false;
    bool TrackMeasurements = false;
    std::string VERSION_STRING;
    std::string appName;

    bool autoConnect = true;
    bool ShutDownOnClose = false;
    bool ShowCableIDOnly = false;
    int KyvoBaudRate = 38400;
    std::vector<std::string> AvailableCOMPorts;
    // The ports of the FTDI box, item by item (cables, then serial ports).
    std::vector<TPortEntry> ftdiPorts;
    // The port the FTDI box follows wherever the list puts it: the one last
    // connected to or picked by hand ("usb:" and a cable's USB serial, or
    // "path:" and a device path); empty: none known.
    std::string ftdiChoice_;
    void ShowFtdiHint();
    bool LoadLastSavedOnStart = false;
    bool ListEdited = false;
    EImagePos imagePosition_ = SRight;
    void SortByPresentMode();

    std::vector<std::string> rowTexts;  // texts of the row entries when last applied
    const TLangEntry* feedbackText = nullptr;
    std::vector<std::string> feedbackValues;
    std::optional<int> storedReadCount;  // the last stored-data read's count, until it ends
    bool archiveWasUnreachable_ = false;
    // What the activity under way says when it ends: the measurement that
    // joined the list (its test ID and the file the list was saved to with
    // it, if any) and the time sent to the device clock.
    std::optional<std::pair<std::string, std::string>> addedMeasurement_;
    std::optional<TLocalDateTime> clockSent_;
    std::string lastSavedPath_;
    int saveCount_ = 0;
    void ClearFeedback();

  public:
    TMeasureList MeasureList;
    ESortType MeasureSortMode = Unsorted;
    std::string DefaultDir;
    std::string LastUsedFile = "Results.tsv";
    // DefaultDir when that folder still exists, else the default folder.
    std::string ResultFolder() const;
    // ClearMeasureList: frees every measurement; both list counts become 0.
    void ClearMeasureList();

    // The result file the list came from or was last saved to (empty: none)
    // and whether the list changed since; the window caption shows both.
    std::string ListFile;
    bool ListModified = false;
    // A save to a result file the user sees as the list's file (not the
    // tracking file): the status bar names it, the caption loses its mark.
    void NoteListSaved(const std::string& path);
    void NoteListLoaded(const std::string& path);
    // Measurements were added, deleted or commented.
    void NoteListChanged();
    const std::vector<TKyvoResultData>& StoredResultTable() const {
        return session_->StoredResultTable();
    }
};

}  // namespace kyvo
