#include "app/ReaderSync.h"

namespace kyvo {

namespace {

// An error text on one line, as a reader's result line shows it.
std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool blank = c == '\r' || c == '\n' || c == '\t' || c == ' ';
        if (!blank || (!out.empty() && out.back() != ' ')) out += blank ? ' ' : c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string OpenFailureText(EOpenFailure f) {
    switch (f) {
        case EOpenFailure::Missing:
            return "the port does not exist";
        case EOpenFailure::InUse:
            return "the port is in use by another program";
        case EOpenFailure::NotPermitted:
            return "the port may not be opened by this user (see the udev rule or the dialout "
                   "group)";
        case EOpenFailure::None:
        case EOpenFailure::Other:
            break;
    }
    return "the port cannot be opened";
}

// How long each step may take before the run gives up on it; the session's
// own time-outs normally end it long before.
constexpr int kConnectLimitMs = 15000;
constexpr int kReadLimitMs = 600000;
constexpr int kReleaseLimitMs = 1000;
constexpr int kDrainLimitMs = 200;

}  // namespace

TReaderSync::TReaderSync(const TSyncShared& shared, TSyncTarget target) : shared_(shared) {
    result_.Target = std::move(target);
}

TReaderSync::~TReaderSync() {
    stepTimer_.reset();
    deadline_.reset();
    if (session_) session_->Stop();
    session_.reset();
    link_.reset();
}

void TReaderSync::Start() {
    const TSyncTarget& t = result_.Target;
    link_ = std::make_unique<LinkDeviceLink>(*shared_.MainThread, false, !t.UsbSerial.empty());
    link_->SetLineFormat(shared_.LineFormat);
    TSessionDeps deps;
    deps.Events = this;
    deps.Timers = shared_.Timers;
    deps.Clock = shared_.Clock;
    deps.Link = link_.get();
    deps.Language = shared_.Language;
    deps.List = &list_;
    deps.DeviceMemoryFolder = shared_.DeviceMemoryFolder;
    deps.Archive = shared_.Archive;
    session_ = std::make_unique<TDeviceSession>(deps);
    session_->Settings() = shared_.Settings;
    session_->UseAddDataBehaviour(AlwaysAdd);
    session_->Start();
    stepTimer_ = shared_.Timers->CreateTimer([this] {
        stepTimer_->Stop();
        Next();
    });
    deadline_ = shared_.Timers->CreateTimer([this] {
        deadline_->Stop();
        switch (step_) {
            case EStep::Connecting:
                Fail(EOutcome::Connection, "the reader did not answer");
                break;
            case EStep::Reading:
                Fail(EOutcome::TimeOut, "the read did not end");
                break;
            case EStep::Closing:
                Close();
                break;
            case EStep::Draining:
                Finish();
                break;
            case EStep::Idle:
            case EStep::Done:
                break;
        }
    });

    TPortEntry port;
    port.Path = port.Text = t.Path;
    if (t.Path.find("rfcomm") != std::string::npos) port.Kind = EPortKind::Bluetooth;
    if (!t.UsbSerial.empty() && link_->FtdiMode()) {
        // A cable is opened as the window opens it (low latency, the cable's
        // baud rate); the driver does not list one another program holds.
        std::vector<TPortEntry> ports;
        int error = 0;
        ListPorts(*link_, false, ports, error);
        bool listed = false;
        for (const auto& p : ports)
            if (p.Kind == EPortKind::Ftdi && p.UsbSerial == t.UsbSerial) {
                port = p;
                listed = true;
            }
        if (!listed) {
            result_.Held = true;
            result_.Failure = EOutcome::Connection;
            result_.Why = OpenFailureText(EOpenFailure::InUse);
            Finish();
            return;
        }
    }
    step_ = EStep::Connecting;
    deadline_->Start(kConnectLimitMs);
    if (!session_->Connect(port, shared_.Baud, false)) {
        const EOpenFailure why = link_->LastOpenFailure();
        result_.Held = why == EOpenFailure::InUse;
        result_.Failure = EOutcome::Connection;
        result_.Why = OpenFailureText(why);
        Finish();
    }
}

void TReaderSync::Next() {
    switch (step_) {
        case EStep::Connecting:
            if (!connectEnd_) return;
            // An automatic connection says nothing of a reader that never
            // answered; its line does.
            if (*connectEnd_ != EOutcome::Done)
                return Fail(*connectEnd_, *connectEnd_ == EOutcome::Connection
                                              ? "the reader did not answer"
                                              : "the connection failed");
            // A reader that fell silent while identifying and then answered
            // the probe is connected but unknown: nothing to read from.
            if (session_->FirmwareText().empty() || session_->EEPROM().EEPROMVersion() == 0)
                return Fail(EOutcome::TimeOut, "the reader did not identify itself");
            result_.Serial = session_->SerialText();
            return BeginRead();
        case EStep::Reading:
            if (!readEnd_) return;
            if (*readEnd_ != EOutcome::Done || !readData_)
                return Fail(*readEnd_ == EOutcome::Done ? EOutcome::Device : *readEnd_,
                            "the read failed");
            result_.Measurements = list_.size();
            result_.Fetched = session_->LastReadFetched();
            result_.RingBytes = session_->LastReadRingBytes();
            return BeginClose();
        case EStep::Closing:
            if (closeAllowed_ || !link_->IsOpen()) Close();
            return;
        case EStep::Draining:
            // The last bytes (the close requests) on the line first.
            if (link_->Worker().txCount() == 0) return Finish();
            stepTimer_->Start(5);
            return;
        case EStep::Idle:
        case EStep::Done:
            return;
    }
}

void TReaderSync::BeginRead() {
    step_ = EStep::Reading;
    deadline_->Start(kReadLimitMs);
    // A request while the clock is being read is carried out a moment later
    // by the session itself.
    session_->ReadStoredData();
}

void TReaderSync::Fail(EOutcome o, const std::string& why) {
    result_.Failure = o;
    if (result_.Why.empty()) result_.Why = why;
    BeginClose();
}

void TReaderSync::BeginClose() {
    step_ = EStep::Closing;
    deadline_->Start(kReleaseLimitMs);
    // A locked device button is released before the line closes.
    if (!link_->IsOpen() || session_->PrepareClose()) closeAllowed_ = true;
    stepTimer_->Start(0);
}

void TReaderSync::Close() {
    session_->Close();
    session_->Stop();
    if (link_->IsOpen()) session_->Disconnect(false);
    step_ = EStep::Draining;
    deadline_->Start(kDrainLimitMs);
    stepTimer_->Start(0);
}

void TReaderSync::Finish() {
    step_ = EStep::Done;
    if (stepTimer_) stepTimer_->Stop();
    if (deadline_) deadline_->Stop();
    finished_ = true;
}

void TReaderSync::Error(const TSessionError& e) {
    if (result_.Why.empty()) result_.Why = OneLine(e.Text);
}

void TReaderSync::CloseAllowed() {
    closeAllowed_ = true;
    if (stepTimer_) stepTimer_->Start(0);
}

void TReaderSync::Disconnected() {
    if (stepTimer_) stepTimer_->Start(0);
}

void TReaderSync::StoredDataRead(const TStorageBuildResult&) {
    readData_ = true;
}

void TReaderSync::ArchiveFed(const TArchiveReport& r) {
    result_.New = r.Added;
    result_.Waiting = r.Waiting;
    result_.ArchiveUnreachable = r.Unreachable;
    result_.ArchiveError = OneLine(r.Error);
}

void TReaderSync::ActivityEnded(EActivity a, EOutcome o) {
    if (a == EActivity::Connect && step_ == EStep::Connecting)
        connectEnd_ = o;
    else if (a == EActivity::ReadStoredData && step_ == EStep::Reading)
        readEnd_ = o;
    else
        return;
    stepTimer_->Start(0);
}

}  // namespace kyvo
