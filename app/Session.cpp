// The session's state machine, connecting, identification, disconnecting,
// the time-outs with the probe after them and the device's error events.
#include <cstdio>

#include "app/DeviceSession.h"
#include "protocol/KyvoErrors.h"
#include "protocol/KyvoWire.h"

namespace kyvo {

const TLangEntry& StateText(std::uint8_t s) {
    switch (s) {
        case stReady:
        case stProbe:
        case stWaitClock:
            return LE_Ready;
        case stReceiving:
            return LE_ReceivingData;
        case stIdentifying:
        case stWaitConnect:
        case stWaitFirmware:
        case stWaitSerial:
            return LE_Connecting;
        case stFormatting:
            return LE_Formatting;
        case stEvaluating:
            return LE_Evaluating;
        case stBusy:
            return LE_KyvoBusy;
        case stDisconnected:
        case stClosing:
        case stDisconnecting:
            return LE_Disconnected;
        default:
            return LE_Empty;
    }
}

const TLangEntry& ReadPhaseText(EReadStep step) {
    if (step == SpVolatilePtAbs || step == SpVolatilePtRel) return LE_ReceivingPointers;
    return step == SpResultCfgData ? LE_ReceivingResultConfigs : LE_ReceivingResults;
}

bool ListPorts(IDeviceLink& link, bool cableIdOnly, std::vector<TPortEntry>& ports, int& error) {
    ports.clear();
    error = 0;
    bool ok = true;
    auto add = [&ports](TPortEntry p) { ports.push_back(std::move(p)); };
    if (link.FtdiMode()) {
        std::vector<TFTDIDeviceEntry> devices;
        ok = link.UpdateDeviceList(devices, error, 2000);
        if (ok)
            for (std::size_t i = 0; i < devices.size(); ++i) {
                const auto& rec = devices[i];
                if (rec.Flags == 1 || rec.ID != kKyvoCableId) continue;
                add({EPortKind::Ftdi, static_cast<int>(i), "",
                     cableIdOnly ? rec.Serial : rec.Description + " (" + rec.Serial + ")",
                     rec.Serial});
            }
        // Every other serial port after the cables: USB serial adapters,
        // Bluetooth serial ports.
        for (const auto& p : link.OtherSerialPorts()) {
            const bool bluetooth = p.Path.find("rfcomm") != std::string::npos;
            add({bluetooth ? EPortKind::Bluetooth : EPortKind::Serial, -1, p.Path,
                 p.Path + (p.Description.empty() ? "" : " (" + p.Description + ")"), ""});
        }
        return ok;
    }
    for (const auto& name : link.GetComPorts()) {
        const bool bluetooth = name.find("rfcomm") != std::string::npos;
        ports.push_back({bluetooth ? EPortKind::Bluetooth : EPortKind::Serial, -1, name, name, ""});
    }
    return true;
}

TDeviceSession::TDeviceSession(const TSessionDeps& deps) : d(deps), ev(*deps.Events) {
    d.Link->OnReceive = [this] { HandleReceivedBytes(); };
    d.Link->OnError = [this](ELinkError k) { HandleSerialError(k); };

    Kyvo = std::make_unique<tKyvoCommand>(*d.Link);
    Kyvo->onAcknowledge = [this](tKyvoCommand&) { HandleAcknowledge(); };
    Kyvo->onFirmwareVersion = [this](tKyvoCommand&, const tFirmwareVersion& f) {
        HandleFirmwareVersion(f);
    };
    Kyvo->onSerial = [this](tKyvoCommand&, const tSerial& s) { HandleSerial(s); };
    Kyvo->onCommunicationError = [this](tKyvoCommand&, eComError c) {
        HandleCommunicationError(c);
    };
    Kyvo->onKyvoError = [this](tKyvoCommand&, eKyvoError c, std::uint8_t) { HandleKyvoError(c); };
    Kyvo->onUnknownCommand = [this](tKyvoCommand&, std::uint8_t) { HandleUnknownCommand(); };
    Kyvo->onDeviceBusy = [this](tKyvoCommand&, std::uint32_t ms) { HandleDeviceBusy(ms); };
    Kyvo->onDataReaded = [this](tKyvoCommand&, std::uint8_t, std::uint32_t address,
                                tByteBuffer& b) { HandleDataRead(address, b); };
    Kyvo->onWriteSuccess = [this](tKyvoCommand&, std::uint8_t, std::uint32_t address,
                                  std::int32_t) { HandleWriteSuccess(address); };
    Kyvo->onRFIDStatus = [this](tKyvoCommand&, eKyvoError c, std::uint8_t, std::int32_t size,
                                tByteBuffer&) { HandleRFIDStatus(c, size); };
    Kyvo->onImageTransferStart = [this](tKyvoCommand&, std::uint16_t w, std::uint16_t) {
        HandleImageTransferStart(w);
    };
    Kyvo->onImageData = [this](tKyvoCommand&, eColorMode m, std::int32_t, std::int32_t,
                               tByteBuffer& b) { HandleImageData(m, b); };
    Kyvo->onShowTimer = [this](tKyvoCommand&, std::uint16_t secs) {
        HandlePrompt(Lang(LE_EvaluationStartsIn) + intToStrPad(secs, 4, '0') + ".");
    };
    Kyvo->onPlaceWhiteCard = [this](tKyvoCommand&) { HandlePrompt(Lang(LE_PlaceOverWhiteCard)); };
    Kyvo->onPlaceTestCard = [this](tKyvoCommand&) { HandlePrompt(Lang(LE_PlaceOverTestCard)); };
    Kyvo->onEvaluationRun = [this](tKyvoCommand&) { HandlePrompt(Lang(LE_TestEvaluationRunning)); };
    Kyvo->onDateTime = [this](tKyvoCommand&, tDateTime t, bool valid) { HandleDateTime(t, valid); };
    Kyvo->onStateUpdate = [](tKyvoCommand&, std::uint16_t) {};

    Timer_KyvoClock = d.Timers->CreateTimer([this] { Timer_KyvoClockTimer(); });
    Timer_StateCnt = d.Timers->CreateTimer([this] { Timer_StateCntTimer(); });
    Timer_TimeOut = d.Timers->CreateTimer([this] { Timer_TimeOutTimer(); });
    Timer_WaitAfterClock = d.Timers->CreateTimer([this] { Timer_WaitAfterClockTimer(); });
}

TDeviceSession::~TDeviceSession() {
    Stop();
}

void TDeviceSession::Start() {
    KyvoBaudRate = settings_.Baud;
    ClosingForm = false;
    DelayedUserAction = actNone;
    Timer_StateCnt->Start(1000);
    EnterState(stDisconnected);
}

void TDeviceSession::Stop() {
    Timer_StateCnt->Stop();
    Timer_KyvoClock->Stop();
    Timer_TimeOut->Stop();
    Timer_WaitAfterClock->Stop();
    d.Link->OnReceive = nullptr;
    d.Link->OnError = nullptr;
}

std::string TDeviceSession::Lang(const TLangEntry& e) const {
    return d.Language ? d.Language->Text(e) : std::string(e.Def);
}

bool TDeviceSession::ClockRunning() const {
    return Timer_KyvoClock->IsActive();
}

// ---------------------------------------------------------------------------
// Activities and reports

void TDeviceSession::BeginActivity(EActivity a) {
    // A clock poll under way gives way to what the user asked for.
    if (activity_ != EActivity::None && activity_ != a) {
        const EActivity before = activity_;
        const EOutcome o = outcome_.value_or(EOutcome::Cancelled);
        activity_ = EActivity::None;
        outcome_.reset();
        ev.ActivityEnded(before, o);
    }
    activity_ = a;
    outcome_.reset();
}

void TDeviceSession::NoteOutcome(EOutcome o) {
    if (activity_ != EActivity::None && !outcome_) outcome_ = o;
}

void TDeviceSession::SettleActivity() {
    if (activity_ == EActivity::None) return;
    if (State_.Current != stReady && State_.Current != stDisconnected) return;
    const EActivity a = activity_;
    const EOutcome o = outcome_.value_or(EOutcome::Done);
    activity_ = EActivity::None;
    outcome_.reset();
    ev.ActivityEnded(a, o);
}

namespace {
EOutcome OutcomeOf(EErrorKind k) {
    switch (k) {
        case EErrorKind::TimeOut:
            return EOutcome::TimeOut;
        case EErrorKind::Communication:
            return EOutcome::Communication;
        case EErrorKind::Device:
            return EOutcome::Device;
        case EErrorKind::File:
            return EOutcome::File;
        case EErrorKind::Connection:
            return EOutcome::Connection;
    }
    return EOutcome::Device;
}
}  // namespace

void TDeviceSession::ReportError(TSessionError e, std::uint8_t stateAfter) {
    NoteOutcome(OutcomeOf(e.Kind));
    EnterState(stMessage);
    Timer_StateCnt->Stop();
    RunPaused([&] { ev.Error(e); });
    EnterState(stateAfter);
    Timer_StateCnt->Start(1000);
}

void TDeviceSession::ReportNotice(ENotice n, const TLangEntry& text) {
    RunPaused([&] { ev.Notice(n, Lang(text)); });
}

void TDeviceSession::RunPaused(const std::function<void()>& dialog) {
    const bool clockWasOn = Timer_KyvoClock->IsActive();
    Timer_StateCnt->Stop();
    Timer_KyvoClock->Stop();
    dialog();
    if (clockWasOn) Timer_KyvoClock->Start(1000);
    Timer_StateCnt->Start(1000);
}

void TDeviceSession::RunInfo(const std::function<void()>& dialog) {
    TSessionEntry entry(*this);
    const std::uint8_t remembered = State_.Current;
    EnterState(stInfo);
    dialog();
    EnterState(remembered);
}

// ---------------------------------------------------------------------------
// States

int TDeviceSession::StateTimeOut(std::uint8_t s) const {
    // A serial or Bluetooth port needs the serial port's time.
    const bool ftdi = openedKind_ == EPortKind::Ftdi;
    switch (s) {
        case stReceiving:
            return 5000;
        case stIdentifying:
        case stFormatting:
        case stEvaluating:
            return 8500;
        case stWaitConnect:
            return ftdi ? 50 : 1000;
        case stProbe:
        case stWaitFirmware:
        case stWaitSerial:
            return ftdi ? 100 : 1000;
        case stWaitClock:
            return settings_.ClockTimeOutMs;
        case stClosing:
        case stDisconnecting:
            return 100;
        default:
            return 0;
    }
}

void TDeviceSession::EnterState(std::uint8_t s) {
    // A combined pair whose second half ends without a result is over: the
    // first half stays a measurement of its own, and the next measurement
    // starts a pair afresh.
    const bool halfLeftBehind = s != stEvaluating && s != stMessage &&
                                (CombineMeasurements == ECombineMeasurements::SecondMeasure ||
                                 CombineMeasurements == ECombineMeasurements::HandleSingle);
    if (halfLeftBehind) CombineMeasurements = ECombineMeasurements::Combine;
    ArmTimeOut(0);
    if (s != stEvaluating) {
        ev.PromptEnded();
        abortRequested = false;
    }
    if (s != stReceiving) ev.ProgressShown(false);
    ev.CombiningChangeable(s != stEvaluating);
    ArmTimeOut(StateTimeOut(s));
    busyWait_ = false;
    // Back at rest nothing is awaited: a late reply finds no request to answer.
    if (s == stReady || s == stDisconnected) inFlight_.reset();
    State_.Current = s;
    State_.ActiveCount = 0;
    ev.StateEntered(s);
    if (halfLeftBehind && NewMeasureSet) AddNewMeasureSet();
}

void TDeviceSession::ArmTimeOut(int ms) {
    Timer_TimeOut->Stop();
    if (ms > 0) Timer_TimeOut->Start(ms);
}

bool TDeviceSession::CheckNotBusy(std::uint8_t s) {
    if (State_.Current == stReady || State_.Current == stWaitClock) {
        EnterState(s);
        return true;
    }
    NoteOutcome(EOutcome::Busy);
    ReportNotice(ENotice::DeviceBusy, LE_KyvoBusyPleaseWait);
    return false;
}

bool TDeviceSession::StartActivity(EActivity a, std::uint8_t s) {
    if (State_.Current == stReady || State_.Current == stWaitClock) {
        BeginActivity(a);
        EnterState(s);
        return true;
    }
    ReportNotice(ENotice::DeviceBusy, LE_KyvoBusyPleaseWait);
    ev.ActivityEnded(a, EOutcome::Busy);
    return false;
}

bool TDeviceSession::DelayIfClockPending(eUserAction action) {
    if (!Timer_WaitAfterClock->IsActive()) return false;
    DelayedUserAction = action;
    return true;
}

void TDeviceSession::Timer_WaitAfterClockTimer() {
    TSessionEntry entry(*this);
    Timer_WaitAfterClock->Stop();
    const eUserAction a = DelayedUserAction;
    DelayedUserAction = actNone;
    switch (a) {
        case actReadData:
            ReadStoredData();
            break;
        case actInstantMeasure:
            Measure(false);
            break;
        case actTimerMeasure:
            Measure(true);
            break;
        case actFormatDB:
            Format();
            break;
        default:
            break;
    }
}

void TDeviceSession::Timer_StateCntTimer() {
    ++State_.ActiveCount;
}

void TDeviceSession::EnableDeviceActions(bool enable, bool useCapabilities) {
    TDeviceActions a;
    a.ReadData = a.Format = a.InstantMeasure = a.TimerMeasure = enable;
    if (useCapabilities && EEPROMMap.EEPROMVersion() >= 5) {
        const auto& bits = EEPROMMap.NonVolatileData.KyvoCfgBits_0;
        a.InstantMeasure = enable && bits.InstantMeasureAllowed();
        a.TimerMeasure = enable && bits.TimerMeasureAllowed();
    }
    ev.DeviceActionsChanged(a);
}

void TDeviceSession::EnableClock() {
    ev.ClockAvailable();
    Timer_KyvoClock->Start(1000);
    KyvoAcknowledged = true;
}

void TDeviceSession::ProbeAfterTimeOut(const std::string& message, const std::string& caption) {
    NoteOutcome(EOutcome::TimeOut);
    KyvoAcknowledged = false;
    errorMsg = message;
    errorCaption = caption;
    EnterState(stProbe);
    Request(wcGetAcknowledge, 0, [this] { Kyvo->getAcknowledge(); });
}

bool TDeviceSession::ButtonLockApplies() const {
    return settings_.LockDeviceButton && EEPROMMap.EEPROMVersion() >= 5;
}

// ---------------------------------------------------------------------------
// Connecting and disconnecting

bool TDeviceSession::Connect(const TPortEntry& port, int baud, bool userAsked) {
    TSessionEntry entry(*this);
    BeginActivity(EActivity::Connect);
    identificationComplete = true;
    manualConnect = userAsked;
    const std::string name = port.Kind == EPortKind::Ftdi ? port.Text : port.Path;
    const bool opened = port.Kind == EPortKind::Ftdi ? d.Link->OpenFtdi(port.FtdiIndex, baud)
                                                     : d.Link->OpenSerial(port.Path, baud);
    if (!opened) {
        NoteOutcome(EOutcome::Connection);
        // Automatic attempts stay quiet; the user who asked is told why.
        if (userAsked) ReportOpenFailure(name);
        return false;
    }
    openedKind_ = port.Kind;
    KyvoBaudRate = baud;
    if (port.Kind != EPortKind::Ftdi) CurrOpenedDevice = port.Path;
    EnterState(stWaitConnect);
    Request(wcGetAcknowledge, 0, [this] { Kyvo->getAcknowledge(); });
    return true;
}

void TDeviceSession::ReportOpenFailure(const std::string& name) {
    TSessionError e;
    e.Kind = EErrorKind::Connection;
    e.Code = static_cast<int>(d.Link->LastOpenFailure());
    e.Caption = Lang(LE_ConnectionFailed);
    switch (d.Link->LastOpenFailure()) {
        case EOpenFailure::Missing:
            e.Text = Lang(LE_PortMissing) + " " + name;
            break;
        case EOpenFailure::InUse:
            e.Text = Lang(LE_PortInUse) + " " + name;
            break;
        case EOpenFailure::NotPermitted:
            e.Text = Lang(LE_PortNotPermitted) + " " + name + "\r\n" + Lang(LE_PortAccessHelp);
            break;
        default:
            e.Text = Lang(LE_PortOpenFailed) + " " + name;
            break;
    }
    ReportError(e, State_.Current);
}

void TDeviceSession::Disconnect(bool userAsked) {
    TSessionEntry entry(*this);
    BeginActivity(EActivity::Disconnect);
    StartDisconnect(userAsked, true);
}

void TDeviceSession::StartDisconnect(bool userAsked, bool releaseAllowed) {
    if (userAsked && settings_.ShutDownOnClose) Kyvo->sendString(kShutdownText);
    EnterState(stDisconnecting);
    if (ButtonLockApplies() && identificationComplete && !ClosingForm && releaseAllowed)
        Request(wcButtonControl, 0, [this] { Kyvo->setButtonControl(false); });
    else
        CloseConnection();
}

void TDeviceSession::CloseConnection() {
    EnterState(stDisconnected);
    identificationComplete = false;
    Timer_KyvoClock->Stop();
    d.Link->ClosePort();
    KyvoAcknowledged = false;
    ev.Disconnected();
    EnableDeviceActions(false, false);
    EEPROMMap.Reset();
}

bool TDeviceSession::PrepareClose() {
    TSessionEntry entry(*this);
    // A locked device button is released first; its acknowledge allows the
    // close again.
    if (d.Link->IsOpen() && ButtonLockApplies() && !ClosingForm) {
        ClosingForm = true;
        EnterState(stClosing);
        Request(wcButtonControl, 0, [this] { Kyvo->setButtonControl(false); });
        return false;
    }
    return true;
}

void TDeviceSession::Close() {
    if (d.Link->IsOpen() && settings_.ShutDownOnClose) Kyvo->sendString(kShutdownText);
}

// ---------------------------------------------------------------------------
// Identification and the acknowledge

void TDeviceSession::HandleAcknowledge() {
    if (busyWait_) {
        ResumeAfterBusy(true);
        KyvoAcknowledged = true;
        return;
    }
    // An acknowledge answers these; the other requests wait on for their own reply.
    if (inFlight_) switch (inFlight_->Command) {
            case wcGetAcknowledge:
            case wcButtonControl:
            case wcFormatDB:
            case wcEvaluate:
                inFlight_.reset();
                break;
            default:
                break;
        }
    switch (State_.Current) {
        case stWaitConnect: {
            ArmTimeOut(0);
            if (openedKind_ == EPortKind::Ftdi) {
                const TFTDIDeviceEntry dev = d.Link->CurrentDevice();
                CurrOpenedDevice = settings_.CableIdOnly
                                       ? dev.Serial
                                       : dev.Description + " (" + dev.Serial + ")";
            }
            ev.Connected();
            EnterState(stWaitFirmware);
            Request(wcGetFirmwareVersion, 0, [this] { Kyvo->getFirmwareVersion(); });
            break;
        }
        case stIdentifying:
            if (ButtonLockApplies()) {
                EnableDeviceActions(true, true);
                EnterState(stReady);
            }
            break;
        case stFormatting:
            EnterState(stReady);
            ReportNotice(ENotice::Formatted, LE_DatabaseFormatted);
            break;
        case stEvaluating:
            // A device with no evaluation running acknowledges the abort.
            if (abortRequested) {
                EnterState(stReady);
                NoteOutcome(EOutcome::Cancelled);
                ReportNotice(ENotice::AbortedByUser, LE_AbortedByUser);
                break;
            }
            StartReadStep(SpConfiguration);
            break;
        case stProbe:
            if (!errorMsg.empty()) {
                TSessionError e;
                e.Kind = EErrorKind::TimeOut;
                e.Text = errorMsg;
                e.Caption = errorCaption;
                ReportError(e, stReady);
            }
            EnterState(stReady);
            break;
        case stBusy:
            EnterState(stReady);
            break;
        case stClosing:
            if (ButtonLockApplies() && ClosingForm) ev.CloseAllowed();
            break;
        case stDisconnecting:
            if (!ClosingForm) CloseConnection();
            break;
        default:
            break;
    }
    KyvoAcknowledged = true;
}

void TDeviceSession::HandleFirmwareVersion(const tFirmwareVersion& fw) {
    FWString = firmwareVersionText(fw);
    ev.IdentityShown(FWString, SNString);
    if (State_.Current == stWaitFirmware &&
        AcceptReply(wcGetFirmwareVersion, 0, "firmware version")) {
        EnterState(stWaitSerial);
        Request(wcGetSerial, 0, [this] { Kyvo->getSerial(); });
    }
}

void TDeviceSession::HandleSerial(const tSerial& sn) {
    auto& nv = EEPROMMap.NonVolatileData;
    nv.DravonSerialNumber = sn.kalmiSerial;
    nv.CustomerNumber = sn.customer;
    nv.ProjectNumber = sn.project;
    nv.ProductionWeek = sn.productionDate.ProductionWeek;
    nv.ProductionYear = sn.productionDate.ProductionYear;
    nv.SerialNumber = sn.subSerial;
    SNString = serialText(sn);
    ev.IdentityShown(FWString, SNString);
    if (d.Link->IsOpen()) ev.DeviceSerialRead(SNString);
    if (State_.Current == stWaitSerial && AcceptReply(wcGetSerial, 0, "serial number")) {
        EnableDeviceActions(true, false);
        EnterState(stIdentifying);
        StartReadStep(SpNonVolatileSN);
    }
}

// ---------------------------------------------------------------------------
// Time-out

void TDeviceSession::Timer_TimeOutTimer() {
    TSessionEntry entry(*this);
    Timer_TimeOut->Stop();
    KyvoAcknowledged = false;
    switch (State_.Current) {
        case stWaitConnect:
            NoteOutcome(EOutcome::Connection);
            StartDisconnect(false, false);
            if (manualConnect) {
                TSessionError e;
                e.Kind = EErrorKind::Connection;
                e.Text = Lang(LE_ConnectionFailed);
                ReportError(e, State_.Current);
            }
            break;
        case stProbe: {
            TSessionError e;
            e.Kind = EErrorKind::TimeOut;
            e.Text = errorMsg + "\r\n" + Lang(LE_ConnectionClosed);
            e.Caption = errorCaption;
            e.ConnectionClosed = true;
            ReportError(e, stReady);
            StartDisconnect(false, false);
            break;
        }
        case stWaitClock:
            NoteOutcome(EOutcome::TimeOut);
            if (settings_.DisconnectOnClockTimeOut) {
                if (settings_.AutoConnect)
                    StartDisconnect(false, false);
                else
                    ProbeAfterTimeOut("", Lang(LE_KyvoDisconnected));
            } else {
                // One lost clock reply: the poll ends and goes on at its next turn.
                EnterState(stReady);
                KyvoAcknowledged = true;
            }
            break;
        case stWaitSerial:
            EnterState(stReady);
            EnableDeviceActions(true, false);
            identificationComplete = false;
            EnableClock();
            break;
        case stBusy:
            if (busyWait_) {
                // Busy past its time: the activity ends, its request not done.
                NoteOutcome(EOutcome::Busy);
                EnterState(stReady);
                KyvoAcknowledged = true;
                ReportNotice(ENotice::DeviceBusy, LE_KyvoBusyPleaseWait);
                break;
            }
            EnterState(stReady);
            KyvoAcknowledged = true;
            break;
        case stClosing:
        case stDisconnecting:
            StartDisconnect(false, false);
            break;
        default:
            ProbeAfterTimeOut(Lang(LE_WaitingForDeviceTimeOut), Lang(LE_KyvoDisconnected));
            break;
    }
}

// ---------------------------------------------------------------------------
// Error events

void TDeviceSession::HandleSerialError(ELinkError kind) {
    TSessionEntry entry(*this);
    TSessionError e;
    e.Kind = EErrorKind::Connection;
    e.Code = static_cast<int>(kind);
    e.Caption = Lang(LE_RS232Error);
    switch (kind) {
        case ELinkError::NotAllSend:
        case ELinkError::ConnectionLost:
            e.Text = Lang(LE_ConnectionClosedDataLoss);
            NoteOutcome(EOutcome::Connection);
            StartDisconnect(false, false);
            break;
        case ELinkError::Unknown:
            e.Text = Lang(LE_UnknownError);
            NoteOutcome(EOutcome::Connection);
            StartDisconnect(false, false);
            break;
        case ELinkError::PortNotOpen:
            e.Text = Lang(LE_PortNotOpened);
            break;
    }
    ReportError(e, State_.Current);
}

namespace {
tLanguageLookup LookupFor(const TDeviceSession& s) {
    return [&s](std::uint32_t id, std::string_view english) {
        return s.Lang(TLangEntry{id, english});
    };
}
}  // namespace

void TDeviceSession::HandleCommunicationError(std::uint8_t code) {
    if (State_.Current == stReady || State_.Current == stDisconnected) return;
    NoteOutcome(EOutcome::Communication);
    EnterState(stReady);
    if (code == 0) return;
    TSessionError e;
    e.Kind = EErrorKind::Communication;
    e.Code = code;
    e.Text = comErrorMessage(code, LookupFor(*this));
    ReportError(e, stReady);
}

void TDeviceSession::HandleKyvoError(std::uint8_t code) {
    if (State_.Current == stReady || State_.Current == stDisconnected) return;
    if (code == 0) return;
    if (isRFIDRetryError(code) && TryRFIDAgain) {
        if (State_.Current == stEvaluating)
            Request(wcEvaluate, 0, [this] { Kyvo->evaluate(true, IsTimerMeasure); });
        TryRFIDAgain = State_.ActiveCount < 5;
        return;
    }
    NoteOutcome(EOutcome::Device);
    if (State_.Current != stReady) EnterState(stReady);
    TSessionError e;
    e.Kind = EErrorKind::Device;
    e.Code = code;
    e.Text = kyvoErrorMessage(code, LookupFor(*this));
    ReportError(e, State_.Current);
}

void TDeviceSession::HandleUnknownCommand() {
    if (State_.Current == stReady) return;
    TSessionError e;
    e.Kind = EErrorKind::Device;
    e.Text = Lang(LE_UnknownCommand);
    ReportError(e, stReady);
}

void TDeviceSession::HandleDeviceBusy(std::uint32_t ms) {
    const std::uint64_t total = static_cast<std::uint64_t>(ms) + 8500;
    const int wait = total > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(total);
    if (!busyWait_ && BusyRefusesRequest()) {
        // The activity keeps its place and its request; the status says busy
        // until the device is free again.
        busyWait_ = true;
        busyResumeState_ = State_.Current;
        State_.Current = stBusy;
        State_.ActiveCount = 0;
        ev.StateEntered(stBusy);
    }
    const bool working =
        inFlight_ && (inFlight_->Command == wcEvaluate || inFlight_->Command == wcFormatDB);
    if (!busyWait_ && State_.Current != stEvaluating && !working) EnterState(stBusy);
    ArmTimeOut(wait);
}

// ---------------------------------------------------------------------------
// The request in flight

void TDeviceSession::Request(std::uint8_t command, std::uint32_t address,
                             std::function<void()> send) {
    inFlight_ = TRequest{command, address, std::move(send), false, 0};
    inFlight_->Send();
}

bool TDeviceSession::AcceptReply(std::uint8_t command, std::uint32_t address, const char* what) {
    if (!busyWait_ && inFlight_ && inFlight_->Command == command && inFlight_->Address == address) {
        inFlight_.reset();
        return true;
    }
    char text[96];
    std::snprintf(text, sizeof text, "dropped a %s reply (address 0x%06X) that answers no request",
                  what, static_cast<unsigned>(address));
    ev.ReplyDropped(text);
    d.Link->Note(text);
    return false;
}

bool TDeviceSession::BusyRefusesRequest() const {
    if (!inFlight_) return false;
    switch (inFlight_->Command) {
        case wcEvaluate:
            // Busy notices keep a running evaluation alive; before any sign
            // of it the device did not take the request.
            return !inFlight_->Started;
        case wcFormatDB:
            // A long format says busy too: once repeated, busy means formatting
            // (a second format of an empty database changes nothing).
            return inFlight_->Repeats == 0;
        default:
            return true;
    }
}

void TDeviceSession::ResumeAfterBusy(bool repeat) {
    busyWait_ = false;
    State_.Current = busyResumeState_;
    State_.ActiveCount = 0;
    ev.StateEntered(busyResumeState_);
    ArmTimeOut(StateTimeOut(busyResumeState_));
    if (!inFlight_ || !repeat) return;
    ++inFlight_->Repeats;
    inFlight_->Send();
}

void TDeviceSession::NoteEvaluationStarted() {
    if (!inFlight_ || inFlight_->Command != wcEvaluate) return;
    inFlight_->Started = true;
    // The busy reply came before the evaluation's first sign: it runs after all.
    if (busyWait_) ResumeAfterBusy(false);
}

void TDeviceSession::HandleReceivedBytes() {
    TSessionEntry entry(*this);
    std::uint8_t b = 0;
    while (d.Link->GetByte(b)) Kyvo->handleByte(b);
}

}  // namespace kyvo
