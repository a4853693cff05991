// The main window's logic without its pixels: start-up and shutdown, the
// connection state machine, identification, reading stored data, the
// measurement flow, the clock, formatting and error reporting. It owns the
// protocol object, the memory mirror, the sequencers and the measurement
// list; it shows and asks everything through IMainView and is driven by the
// front end's handlers below, the timers and the device link's events, all
// on the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppServices.h"
#include "app/DeviceLink.h"
#include "app/IncrementalRead.h"
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

// State codes of the connection state machine.
enum TStateCode : std::uint8_t {
    stReady = 0,
    stReceiving = 2,
    stIdentifying = 5,
    stFormatting = 7,
    stEvaluating = 8,
    stWaitConnect = 12,
    stProbe = 13,
    stWaitFirmware = 14,
    stWaitClock = 15,
    stDisconnected = 16,
    stWaitSerial = 17,
    stMessage = 18,
    stInfo = 19,
    stBusy = 20,
    stClosing = 21,
    stDisconnecting = 22,
};

struct TState {
    std::uint8_t Current = stDisconnected;
    std::int32_t ActiveCount = 0;
};

enum eUserAction : std::uint8_t {
    actNone,
    actReadData,
    actInstantMeasure,
    actTimerMeasure,
    actFormatDB,
    actQCMeasure,
    actEvaluate,
    actCapture,
    actCaptureWhite,
    actWriteRFID,
    actReadRFID,
    actWriteContinuous,
    actGetRFIDInfo,
    actAddPermToKyvo,
    actReadConfig,
    actDeleteKyvoCfgs,
    actWriteConfig,
};

// Who started a connect or disconnect.
enum class ESource { MainWindow, Button_Open };

// The version text "V1.5.062".
std::string MakeVersionString(int major, int minor, int build);
// The version text of this program, as the window's caption shows it.
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
};

class TForm_Main {
  public:
    explicit TForm_Main(const TMainDeps& deps);
    ~TForm_Main();
    TForm_Main(const TForm_Main&) = delete;
    TForm_Main& operator=(const TForm_Main&) = delete;

    // --- life cycle (the front end calls these) ---------------------------
    void FormCreate();
    void FormActivate();
    // False refuses the close for now.
    bool FormCloseQuery();
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
    void UseTestSource(ETestSource source) { CurrentTestSource = source; }
    void UseCombining(bool on) {
        CombineMeasurements = on ? ECombineMeasurements::Combine : ECombineMeasurements::SingleOnly;
    }
    void UseAddDataBehaviour(EAddDataBehaviour b) { AddDataBehaviour = b; }
    // Off: every stored-data read fetches both rings whole.
    void UseIncrementalRead(bool on) { IncrementalRead = on; }

    // --- queries for the front ends ---------------------------------------
    const TState& State() const { return State_; }
    bool Initialized() const { return initialized; }
    bool KyvoAcknowledgedFlag() const { return KyvoAcknowledged; }
    const TEEPROMMap& EEPROM() const { return EEPROMMap; }
    const std::string& FirmwareText() const { return FWString; }
    const std::string& SerialText() const { return SNString; }
    const std::string& AppName() const { return appName; }
    const std::string& VersionString() const { return VERSION_STRING; }
    const tByteBuffer& ResultCfgData() const { return ResultCfgBuffer; }
    const tByteBuffer& ResultData() const { return ResultBuffer; }
    // Ring bytes the last stored-data read fetched, and what a whole read
    // fetches.
    std::uint32_t LastReadFetched() const { return lastReadFetched; }
    std::uint32_t LastReadRingBytes() const { return lastReadRingBytes; }
    const TLocalDateTime& LastDeviceClock() const { return lastDeviceClock; }
    bool LastDeviceClockValid() const { return lastDeviceClockValid; }
    ECombineMeasurements CombineMode() const { return CombineMeasurements; }
    // A user action waits for the end of a clock request.
    bool ActionPending() const { return DelayedUserAction != actNone; }
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
    void ShowMessageKeepState(const std::string& text, const std::string& caption, std::uint8_t s);
    // Runs a modal dialog of the front end with the clock poll and the state
    // counter paused, as every message box is.
    void RunPaused(const std::function<void()>& dialog);

    // The user changed the list in a way that lives in no file and nowhere
    // on the device (a comment, deleted entries): closing asks to save even
    // when "SaveOnExit" is off. A save of the list or a newly loaded list
    // clears it.
    void MarkListEdited() { ListEdited = true; }
    bool ListHasUnsavedEdits() const { return ListEdited && !MeasureList.empty(); }

  private:
    friend struct TMainTestAccess;

    // state machine
    void EnterState(std::uint8_t s);
    void ArmTimeOut(int ms);
    bool CheckNotBusy(std::uint8_t s);
    int StateTimeOut(std::uint8_t s) const;
    const TLangEntry& StateText(std::uint8_t s) const;
    void EnableDeviceActions(bool enable, bool useCapabilities);
    void EnableClock();
    void ProbeAfterTimeOut(const std::string& message, const std::string& caption);
    bool DelayIfClockPending(eUserAction action);

    // connection
    void RefreshDeviceList();
    void OpenConnection(ESource source);
    void StartDisconnect(ESource source, bool releaseAllowed);
    void CloseConnection();
    std::string MainCaption() const;
    bool ButtonLockApplies() const;
    // Says why the port named name did not open (a connection the user asked for).
    void ReportOpenFailure(const std::string& name);
    // The port box of COM mode after its list was refilled: what the user
    // typed stays; else the last port path, the numbered port or the first.
    void SelectComPort(int remembered, const std::string& typed);

    // timers
    void Timer_initTimer();
    void Timer_FTDIUpdateTimer();
    void Timer_KyvoClockTimer();
    void Timer_StateCntTimer();
    void Timer_TimeOutTimer();
    void Timer_WaitAfterClockTimer();

    // device events
    void HandleReceivedBytes();
    void HandleSerialError(ELinkError kind);
    void HandleAcknowledge();
    void HandleFirmwareVersion(const tFirmwareVersion& fw);
    void HandleSerial(const tSerial& sn);
    void HandleCommunicationError(std::uint8_t code);
    void HandleKyvoError(std::uint8_t code);
    void HandleUnknownCommand();
    void HandleDeviceBusy(std::uint32_t ms);
    void HandleDateTime(tDateTime dateTime, bool valid);
    void HandleWriteSuccess();
    void HandleRFIDStatus(std::uint8_t code, std::int32_t userDataSize);
    void HandlePrompt(const std::string& text);
    void HandleImageTransferStart(std::uint16_t width);
    void HandleImageData(eColorMode mode, const tByteBuffer& data);

    // memory transfer driving
    void StartReadStep(EReadStep step);
    void RequestNextReadBlock();
    bool CollectReadBlock(const tByteBuffer& bytes);
    void HandleDataRead(tByteBuffer& bytes);
    void StartRingFetch();
    void ContinueRingFetch();
    void StartWriteStep(EWriteStep step, const tByteBuffer& content, bool savePermanent);
    bool SendNextWritePackage();
    void WriteConfigBytesToDevice(const tByteBuffer& config, std::uint32_t target,
                                  bool savePermanent);

    // flows
    void Button_MeasureClick(EControl button);
    bool AskAboutPresentList();
    void LoadResultFile(const std::string& path);
    void SaveAsConfigured();
    bool SaveList(int mode);
    std::string DefaultResultFolder() const;
    void BuildMeasureSetsFromStorage();
    void ChooseStoredConfiguration(const tByteBuffer& list);
    void HandleConfigurationRead(EReadStep step, const tByteBuffer& bytes);
    void HandleMeasurementRecord(const tByteBuffer& bytes);
    void AddNewMeasureSet();
    void WriteTestConfigToDevice(TTestConfig& cfg, std::uint32_t target, bool savePermanent);
    bool ShowConfigMessage(std::uint8_t parseResult);
    TDeviceIdentity DeviceIdentity() const;
    TextLookup Texts() const;
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

    std::unique_ptr<tKyvoCommand> Kyvo;
    TEEPROMMap EEPROMMap;
    TDataRead ReadKyvoDataHelper;
    TDataWrite WriteKyvoDataHelper;

    std::unique_ptr<ITimer> Timer_init, Timer_FTDIUpdate, Timer_KyvoClock, Timer_StateCnt,
        Timer_TimeOut, Timer_WaitAfterClock;

    TState State_;
    bool preventStart = false;
    bool Constructed = false;
    bool initialized = false;
    bool ClosingForm = false;
    bool SaveOnExit = false;
    bool PromptSave = false;
    bool AutoSave = false;
    bool TrackMeasurements = false;
    std::string VERSION_STRING;
    std::string appName;

    bool KyvoAcknowledged = false;
    bool autoConnect = true;
    bool manualConnect = false;
    bool ShutDownOnClose = false;
    bool DisableButtonOnConnect = false;
    bool identificationComplete = false;
    bool ShowCableIDOnly = false;
    std::string errorMsg, errorCaption;
    int timeOutForGetTime = 1000;
    bool autoDisconnectOnTimeError = true;
    int KyvoBaudRate = 38400;
    std::string CurrOpenedDevice;
    std::string FWString, SNString;
    eUserAction DelayedUserAction = actNone;
    std::vector<std::string> AvailableCOMPorts;
    std::vector<int> ftdiItemIndex;  // device-list index of each FTDI box item
    std::vector<std::string> ftdiItemText;
    // Device paths of the serial ports listed after the cables in the FTDI box.
    std::vector<std::string> ftdiItemPath;
    // The open port is a serial port opened by name (its time-outs are those
    // of COM mode, whatever the mode).
    bool serialPortOpened = false;
    bool LoadLastSavedOnStart = false;
    bool ListEdited = false;
    std::string ConfigFileDir;  // start of the configuration dialog once used

    EAddDataBehaviour AddDataBehaviour = AlwaysAsk;
    ETestSource CurrentTestSource = TSSelect;
    ECombineMeasurements CombineMeasurements = ECombineMeasurements::SingleOnly;
    bool IsTimerMeasure = false;
    bool TryRFIDAgain = false;
    bool abortRequested = false;        // abortEvaluation sent in this measurement
    std::vector<std::string> rowTexts;  // texts of the row entries when last applied
    const TLangEntry* feedbackText = nullptr;
    std::vector<std::string> feedbackValues;

    tByteBuffer ResultCfgBuffer;
    tByteBuffer ResultBuffer;
    int progressPosition = 0;
    bool countProgress = true;  // false while a read's pointer blocks arrive
    bool IncrementalRead = true;
    std::unique_ptr<TStoredDataFetch> ringFetch;
    std::uint32_t lastReadFetched = 0, lastReadRingBytes = 0;

    TLocalDateTime lastDeviceClock;
    bool lastDeviceClockValid = false;

    std::vector<TKyvoResultData> ResultList;  // stored result configurations
    TTestConfig TestConfig;
    bool haveTestConfig = false;
    std::unique_ptr<TMeasureSet> NewMeasureSet;
    std::uint16_t imageWidth = 0;

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
    const std::vector<TKyvoResultData>& StoredResultTable() const { return ResultList; }
};

}  // namespace kyvo
