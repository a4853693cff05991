// The device session: one connected reader and everything done with it.
// It owns the connection state machine with its time-outs, the probe after
// a time-out and the busy check, identification, the stored-data read, the
// measurement flow with its configuration sources and combining, the clock
// and formatting, and it reports what happens as typed events to its
// presenter (the window's controller or kyvo-cli). It never shows anything
// itself: questions go to the presenter through ISessionEvents and come back
// as typed answers.
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
#include "app/MeasurementArchive.h"
#include "app/Platform.h"
#include "app/View.h"
#include "files/SettingsEnums.h"
#include "protocol/ByteBuffer.h"
#include "protocol/KyvoCommand.h"
#include "protocol/KyvoEEPROM15.h"
#include "protocol/KyvoReadWrite.h"
#include "testdata/MeasureSet.h"
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
};

// The status text of a state, and of a stored-data read's memory area.
const TLangEntry& StateText(std::uint8_t state);
const TLangEntry& ReadPhaseText(EReadStep step);

// What a session does on request (or, for the clock poll, by itself).
enum class EActivity : std::uint8_t {
    None,
    Connect,  // open, acknowledge, firmware, serial, identification
    ReadStoredData,
    Measure,
    ReadClock,  // the poll of the device clock while connected
    SetClock,
    Format,
    Disconnect,
};

// How an activity ended. An activity with errors ends with the kind of the
// first one.
enum class EOutcome : std::uint8_t {
    Done,
    Cancelled,      // a question was answered with Cancel or No
    Busy,           // refused: busy with another activity, or the device busy past its time
    TimeOut,        // the device stopped answering
    Communication,  // the device reported a communication error
    Device,         // the device reported an error, or refused a request
    File,           // a file the user chose could not be used
    Connection,     // the port did not open, or the connection was lost
    Invalid,        // refused: the request cannot be carried out (an impossible date)
};

// The kind of an error a session reports.
enum class EErrorKind : std::uint8_t { TimeOut, Communication, Device, File, Connection };

struct TSessionError {
    EErrorKind Kind = EErrorKind::Device;
    // Device or communication error code, the open failure (EOpenFailure)
    // for a port that did not open, the link error (ELinkError) for a lost
    // connection; 0 otherwise.
    int Code = 0;
    std::string Text;  // in the program's language, as the window shows it
    std::string Caption;
    bool ConnectionClosed = false;  // the text says that the connection was closed
};

// Notices that are no errors.
enum class ENotice : std::uint8_t {
    DeviceBusy,       // refused: another activity runs ("please wait")
    Formatted,        // the database was formatted
    AbortedByUser,    // the device acknowledged the abort of an evaluation
    DatabaseEmpty,    // the stored-data read found no measurement
    ConfigsDiffer,    // a combined pair's second configuration differs
    NoStoredConfig,   // a measurement from the device's list: the device holds none
};

// Where a measurement's test configuration comes from.
enum class EConfigSource : std::uint8_t { Device, File };

// A port the user can pick: the kind decides how it is opened and how long
// the device gets to answer.
enum class EPortKind : std::uint8_t { Ftdi, Serial, Bluetooth };
struct TPortEntry {
    EPortKind Kind = EPortKind::Serial;
    int FtdiIndex = -1;  // index in the link's last FTDI device list
    std::string Path;    // device path (serial, Bluetooth)
    std::string Text;    // what the port box shows (without its number)
    std::string UsbSerial;  // a cable's USB serial number (empty otherwise)
};

// The ports present now. FTDI mode lists the reader's cables (not those
// opened by another program) and then every other serial port; otherwise
// the named serial ports. cableIdOnly: a cable's text is its serial number
// only. False with error: the FTDI driver failed (the other ports are still
// listed).
bool ListPorts(IDeviceLink& link, bool cableIdOnly, std::vector<TPortEntry>& ports, int& error);

// The first field of t the device clock cannot take ("year": outside 2000 to
// 2099, "month", "day": not in that month, "hour", "minute", "second"), or
// none when t is a real date and time.
std::optional<std::string> InvalidClockField(const TLocalDateTime& t);

// Which device actions the present device allows.
struct TDeviceActions {
    bool ReadData = false;
    bool Format = false;
    bool InstantMeasure = false;
    bool TimerMeasure = false;
};

// What the presenter hears from the session, on the main thread. Question
// defaults answer as a closed dialog does (Cancel or No).
class ISessionEvents {
  public:
    virtual ~ISessionEvents() = default;

    // --- state and progress ----------------------------------------------
    virtual void StateEntered(std::uint8_t /*state*/) {}
    // A stored-data read moves on to the next memory area.
    virtual void ReadPhase(EReadStep /*step*/) {}
    virtual void ProgressShown(bool /*visible*/) {}
    virtual void ProgressRange(int /*max*/) {}
    virtual void ProgressAt(int /*position*/) {}

    // --- connection and identification -----------------------------------
    // The device answered the first acknowledge request.
    virtual void Connected() {}
    // The port is closed (also after an open that was never answered).
    virtual void Disconnected() {}
    // Firmware or serial number arrived; either may still be empty.
    virtual void IdentityShown(const std::string& /*firmware*/, const std::string& /*serial*/) {}
    virtual void DeviceActionsChanged(const TDeviceActions& /*actions*/) {}
    // The device has a clock; its poll runs from now on.
    virtual void ClockAvailable() {}
    // The device clock as read; device is meaningless when !valid.
    virtual void ClockRead(const TLocalDateTime& /*device*/, bool /*valid*/,
                           const TLocalDateTime& /*now*/) {}
    // The clock poll waits while the user edits a clock picker.
    virtual bool ClockPollHeld() { return false; }
    // A released device button allows the close asked for.
    virtual void CloseAllowed() {}

    // --- measurement ------------------------------------------------------
    // A prompt from the device during a measurement.
    virtual void Prompt(const std::string& /*text*/) {}
    // The prompt is over.
    virtual void PromptEnded() {}
    // The combining check box can be changed (not during an evaluation).
    virtual void CombiningChangeable(bool /*changeable*/) {}

    // --- messages and questions (answered before the call returns) -------
    virtual void Error(const TSessionError& /*error*/) {}
    virtual void Notice(ENotice /*notice*/, const std::string& /*text*/) {}
    // New data and a list that is not empty: add to it or overwrite it.
    virtual EAddDecision AskAddOrOverwrite() { return EAddDecision::Cancel; }
    // Combine the measurement just taken with a second one?
    virtual bool AskCombine() { return false; }
    // Where the configuration of the measurement comes from; none cancels.
    virtual std::optional<EConfigSource> AskConfigSource() { return std::nullopt; }
    // A test configuration file; startFolder empty: the result folder.
    virtual std::optional<std::string> ChooseConfigFile(const std::string& /*startFolder*/) {
        return std::nullopt;
    }
    // One of the configurations stored in the device (index into items).
    virtual std::optional<int> ChooseStoredConfiguration(const std::vector<std::string>& /*items*/) {
        return std::nullopt;
    }
    // Place the device over the test card with its tag (OK goes on).
    virtual bool ConfirmTagPlaced() { return false; }
    // Format the device's database, deleting every stored measurement?
    virtual bool ConfirmFormat() { return false; }

    // --- the measurement list ---------------------------------------------
    // New data may reorder the list: a single selection is dropped first.
    virtual void ReleaseListSelection() {}
    // An overwrite empties the list: its owner clears it (and lets the view
    // drop its rows) before the new data arrives.
    virtual void ClearList() {}
    // A stored-data read added its measurements to the list.
    virtual void StoredDataRead(const TStorageBuildResult& /*result*/) {}
    // A new measurement joined the list (it is the last entry).
    virtual void MeasurementAdded(const TMeasureSet& /*set*/) {}

    // --- activities -------------------------------------------------------
    virtual void ActivityEnded(EActivity /*activity*/, EOutcome /*outcome*/) {}

    // The device's serial record arrived while connected (its text).
    virtual void DeviceSerialRead(const std::string& /*serial*/) {}

    // Measurements of a read or a measurement were handed to the archive.
    virtual void ArchiveFed(const TArchiveReport& /*report*/) {}

    // A reply that answers no request in flight (one that came after its
    // time-out, or of an activity that has ended) was dropped; what names it.
    virtual void ReplyDropped(const std::string& /*what*/) {}
};

// What the session works with that it does not create itself.
struct TSessionDeps {
    ISessionEvents* Events = nullptr;
    ITimerFactory* Timers = nullptr;
    IClock* Clock = nullptr;
    IDeviceLink* Link = nullptr;
    ILanguage* Language = nullptr;
    TMeasureList* List = nullptr;  // the list new measurements join
    // Where each device's last read rings are remembered, so that the next
    // stored-data read fetches only what changed; empty: nothing is.
    std::string DeviceMemoryFolder{};
    // Where every read's and measurement's sets go besides the list; none:
    // nowhere.
    IMeasurementArchive* Archive = nullptr;
};

// The session's settings (from the program and user settings).
struct TSessionSettings {
    int Baud = 38400;                  // FTDI cables and the default of serial ports
    int ClockTimeOutMs = 1000;         // the clock poll's time-out
    bool DisconnectOnClockTimeOut = true;
    bool LockDeviceButton = false;     // lock the device's own button while connected
    bool ShutDownOnClose = false;      // send "shutdown" when the user disconnects
    bool AutoConnect = true;           // a lost clock poll disconnects instead of probing
    bool CableIdOnly = false;          // a cable is named by its serial number only
    // Off: every stored-data read fetches both rings whole and nothing of
    // the device is remembered (its remembered file is removed).
    bool IncrementalRead = true;
    // The next reads fetch both rings whole; what they read is still
    // remembered when IncrementalRead is on.
    bool ReadWhole = false;
};

class TDeviceSession {
  public:
    explicit TDeviceSession(const TSessionDeps& deps);
    ~TDeviceSession();
    TDeviceSession(const TDeviceSession&) = delete;
    TDeviceSession& operator=(const TDeviceSession&) = delete;

    // Starts the state counter; the session is then disconnected.
    void Start();
    // Stops every timer and lets go of the link's handlers.
    void Stop();

    // --- operations -------------------------------------------------------
    // Opens port and identifies the device on it. False: the port did not
    // open (reported when userAsked, always ended as Connect/Connection).
    bool Connect(const TPortEntry& port, int baud, bool userAsked);
    // userAsked: the user disconnected (the device may be shut down).
    void Disconnect(bool userAsked);
    void ReadStoredData();
    // timer: the device waits its timer before it evaluates.
    void Measure(bool timer);
    // An impossible date or time (see InvalidClockField) is not sent: the
    // activity ends as Invalid.
    void SetClock(const TLocalDateTime& t);
    void Format();
    // Asks the device to stop the evaluation under way.
    void AbortEvaluation();
    // Before the program closes: a locked device button is released first
    // (false: CloseAllowed follows once the device answered).
    bool PrepareClose();
    // The program closes: the device is shut down when so configured.
    void Close();
    // Runs a dialog with the clock poll and the state counter paused.
    void RunPaused(const std::function<void()>& dialog);
    // Runs the version dialog in the info state.
    void RunInfo(const std::function<void()>& dialog);

    // --- choices ----------------------------------------------------------
    TSessionSettings& Settings() { return settings_; }
    void UseTestSource(ETestSource s) { CurrentTestSource = s; }
    ETestSource TestSource() const { return CurrentTestSource; }
    void UseCombining(bool on) {
        CombineMeasurements = on ? ECombineMeasurements::Combine : ECombineMeasurements::SingleOnly;
    }
    ECombineMeasurements CombineMode() const { return CombineMeasurements; }
    void UseAddDataBehaviour(EAddDataBehaviour b) { AddDataBehaviour = b; }
    EAddDataBehaviour AddBehaviour() const { return AddDataBehaviour; }

    // --- queries ----------------------------------------------------------
    const TState& State() const { return State_; }
    EActivity Activity() const { return activity_; }
    bool IsOpen() const { return d.Link->IsOpen(); }
    bool Acknowledged() const { return KyvoAcknowledged; }
    const TEEPROMMap& EEPROM() const { return EEPROMMap; }
    const std::string& FirmwareText() const { return FWString; }
    const std::string& SerialText() const { return SNString; }
    const std::string& OpenedDevice() const { return CurrOpenedDevice; }
    int Baud() const { return KyvoBaudRate; }
    EPortKind OpenedKind() const { return openedKind_; }
    const tByteBuffer& ResultCfgData() const { return ResultCfgBuffer; }
    const tByteBuffer& ResultData() const { return ResultBuffer; }
    const TLocalDateTime& LastDeviceClock() const { return lastDeviceClock; }
    bool LastDeviceClockValid() const { return lastDeviceClockValid; }
    bool ActionPending() const { return DelayedUserAction != actNone; }
    bool ClockRunning() const;
    const std::vector<TKyvoResultData>& StoredResultTable() const { return ResultList; }
    std::string Lang(const TLangEntry& e) const;
    // Ring bytes the last stored-data read fetched, and what a whole read
    // fetches.
    std::uint32_t LastReadFetched() const { return lastReadFetched; }
    std::uint32_t LastReadRingBytes() const { return lastReadRingBytes; }

  private:
    // state machine
    void EnterState(std::uint8_t s);
    void ArmTimeOut(int ms);
    bool CheckNotBusy(std::uint8_t s);
    // CheckNotBusy for a new activity: refused, it ends as Busy at once.
    bool StartActivity(EActivity a, std::uint8_t s);
    int StateTimeOut(std::uint8_t s) const;
    void EnableDeviceActions(bool enable, bool useCapabilities);
    void EnableClock();
    void ProbeAfterTimeOut(const std::string& message, const std::string& caption);
    bool DelayIfClockPending(eUserAction action);
    bool ButtonLockApplies() const;
    void StartDisconnect(bool userAsked, bool releaseAllowed);
    void CloseConnection();

    // The request in flight: the only one whose answer moves an activity on,
    // and the one repeated when the device answers that it is busy.
    struct TRequest {
        std::uint8_t Command = 0;
        std::uint32_t Address = 0;  // memory reads and writes
        std::function<void()> Send;
        bool Started = false;  // evaluate: the device reported progress
        int Repeats = 0;
    };
    void Request(std::uint8_t command, std::uint32_t address, std::function<void()> send);
    // True when the reply answers the request in flight, which is then done;
    // any other reply is dropped and reported.
    bool AcceptReply(std::uint8_t command, std::uint32_t address, const char* what);
    // A busy reply means the request was not taken and is repeated later,
    // rather than that the device is working on it.
    bool BusyRefusesRequest() const;
    // Back to the activity's state; repeat: send the request in flight again.
    void ResumeAfterBusy(bool repeat);
    // A sign of the evaluation asked for (a prompt, the countdown, the RFID
    // status): busy notices from now on keep it alive.
    void NoteEvaluationStarted();

    // activities and reports
    void BeginActivity(EActivity a);
    void NoteOutcome(EOutcome o);
    // Called when the outermost handler returns: an activity whose work is
    // over (back at Ready or disconnected) ends here.
    void SettleActivity();
    void ReportError(TSessionError e, std::uint8_t stateAfter);
    void ReportNotice(ENotice n, const TLangEntry& text);
    void ReportOpenFailure(const std::string& name);

    // timers
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
    void HandleWriteSuccess(std::uint32_t address);
    void HandleRFIDStatus(std::uint8_t code, std::int32_t userDataSize);
    void HandlePrompt(const std::string& text);
    void HandleImageTransferStart(std::uint16_t width);
    void HandleImageData(eColorMode mode, const tByteBuffer& data);

    // memory transfer driving and the stored-data read
    void StartReadStep(EReadStep step);
    void RequestNextReadBlock();
    bool CollectReadBlock(const tByteBuffer& bytes);
    void HandleDataRead(std::uint32_t address, tByteBuffer& bytes);
    void StartWriteStep(EWriteStep step, const tByteBuffer& content, bool savePermanent);
    bool SendNextWritePackage();
    void WriteConfigBytesToDevice(const tByteBuffer& config, std::uint32_t target,
                                  bool savePermanent);
    void BuildMeasureSetsFromStorage();
    void StartRingFetch();
    void ContinueRingFetch();

    // measurement
    bool AskAboutPresentList();
    void ChooseStoredConfiguration(const tByteBuffer& list);
    void HandleConfigurationRead(EReadStep step, const tByteBuffer& bytes);
    void HandleMeasurementRecord(const tByteBuffer& bytes);
    void AddNewMeasureSet();
    void WriteTestConfigToDevice(TTestConfig& cfg, std::uint32_t target, bool savePermanent);
    bool ShowConfigMessage(std::uint8_t parseResult, bool fromFile);
    TDeviceIdentity DeviceIdentity() const;
    void FeedArchive(const std::vector<const TMeasureSet*>& sets, EMeasurementOrigin origin);
    TextLookup Texts() const;

    friend class TSessionEntry;

    TSessionDeps d;
    ISessionEvents& ev;
    TSessionSettings settings_;

    std::unique_ptr<tKyvoCommand> Kyvo;
    TEEPROMMap EEPROMMap;
    TDataRead ReadKyvoDataHelper;
    TDataWrite WriteKyvoDataHelper;
    std::unique_ptr<ITimer> Timer_KyvoClock, Timer_StateCnt, Timer_TimeOut, Timer_WaitAfterClock;

    TState State_;
    int entryDepth_ = 0;
    EActivity activity_ = EActivity::None;
    std::optional<EOutcome> outcome_;

    bool KyvoAcknowledged = false;
    bool ClosingForm = false;
    bool manualConnect = false;
    bool identificationComplete = false;
    std::string errorMsg, errorCaption;
    int KyvoBaudRate = 38400;
    EPortKind openedKind_ = EPortKind::Serial;
    std::string CurrOpenedDevice;
    std::string FWString, SNString;
    eUserAction DelayedUserAction = actNone;
    std::string ConfigFileDir;  // start of the configuration dialog once used

    EAddDataBehaviour AddDataBehaviour = AlwaysAsk;
    ETestSource CurrentTestSource = TSSelect;
    ECombineMeasurements CombineMeasurements = ECombineMeasurements::SingleOnly;
    bool IsTimerMeasure = false;
    bool TryRFIDAgain = false;
    bool abortRequested = false;  // abortEvaluation sent in this measurement

    tByteBuffer ResultCfgBuffer;
    tByteBuffer ResultBuffer;
    int progressPosition = 0;
    bool countProgress = true;  // false while a read's pointer blocks arrive

    TLocalDateTime lastDeviceClock;
    bool lastDeviceClockValid = false;

    std::vector<TKyvoResultData> ResultList;  // stored result configurations
    TTestConfig TestConfig;
    bool haveTestConfig = false;
    std::unique_ptr<TMeasureSet> NewMeasureSet;
    std::uint16_t imageWidth = 0;

    std::unique_ptr<TStoredDataFetch> ringFetch;
    std::uint32_t lastReadFetched = 0, lastReadRingBytes = 0;

    std::optional<TRequest> inFlight_;
    bool busyWait_ = false;  // the request in flight waits for the device to be free
    std::uint8_t busyResumeState_ = stReady;
};

// Every way into the session (an operation, a timer, the link) holds one:
// when the outermost returns, an activity whose work is over ends.
class TSessionEntry {
  public:
    explicit TSessionEntry(TDeviceSession& s) : s_(s) { ++s_.entryDepth_; }
    ~TSessionEntry() {
        if (--s_.entryDepth_ == 0) s_.SettleActivity();
    }
    TSessionEntry(const TSessionEntry&) = delete;
    TSessionEntry& operator=(const TSessionEntry&) = delete;

  private:
    TDeviceSession& s_;
};

}  // namespace kyvo
