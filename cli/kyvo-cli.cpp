// kyvo-cli: the headless front end of the device session, for scripts and
// for machines without a display. It uses the same settings and language
// files as the window.
#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppFiles.h"
#include "app/DeviceSession.h"
#include "app/LinkDeviceLink.h"
#include "archivefeed/MeasurementArchiveFeed.h"
#include "cli/ArchiveCommand.h"
#include "cli/CliOptions.h"
#include "cli/CliView.h"
#include "cli/ExportCommand.h"
#include "cli/QcCommand.h"
#include "cli/LisCommand.h"
#include "cli/RealTimeLoop.h"
#include "cli/SyncCommand.h"
#include "files/DeviceMemoryFile.h"
#include "files/ResultFileReader.h"
#include "files/ResultFileWriter.h"
#include "files/Settings.h"

namespace kyvo::cli {
namespace {

// File errors of the settings and language files: printed, the run goes on.
class StderrReporter final : public IFileErrorReporter {
  public:
    void ShowFileError(const std::string& text, const std::string& caption) override {
        std::cerr << "kyvo-cli: " << caption << ": " << text << "\n";
    }
};

// Result-file dialogs answered from the options.
class CliResultDialogs final : public IResultFileDialogs {
  public:
    CliResultDialogs(std::string path, bool overwrite, ILanguage& lang)
        : path_(std::move(path)), overwrite_(overwrite), lang_(lang) {}
    std::optional<std::string> ChooseSaveFile() override {
        if (chosen_) return std::nullopt;  // a file in use is not waited for
        chosen_ = true;
        return path_;
    }
    void RememberResultFile(const std::string&) override {}
    EDialogAnswer AskYesNoCancel(const TLangEntry&) override {
        return overwrite_ ? EDialogAnswer::No : EDialogAnswer::Yes;
    }
    void ShowMessage(const TLangEntry& text, const TLangEntry* caption,
                     const std::string& detail) override {
        std::cerr << "kyvo-cli: " << (caption ? lang_.Text(*caption) + ": " : std::string())
                  << PlainText(lang_.Text(text) + detail) << "\n";
    }
    void Reset() { chosen_ = false; }

  private:
    std::string path_;
    bool overwrite_;
    ILanguage& lang_;
    bool chosen_ = false;
};

bool FileExists(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0;
}

std::string Two(int v) {
    return intToStrPad(v, 2, '0');
}

std::string DateText(const TLocalDateTime& t) {
    return intToStrPad(t.Year, 4, '0') + "-" + Two(t.Month) + "-" + Two(t.Day) + " " + Two(t.Hour) +
           ":" + Two(t.Minute) + ":" + Two(t.Second);
}

std::string MeasureLine(const TMeasureSet& m) {
    std::string line = m.TestID + "\t" + m.TestName + "\t" + FormatTsvDate(m.DateTime);
    for (const auto& r : m.ResultList) {
        line += "\t" + r.ResultName + "=" + r.ResultValue;
        if (!r.UnitName.empty()) line += " " + r.UnitName;
        if (!r.ClassName.empty()) line += " [" + r.ClassName + "]";
        line += " (" + r.Validity + ")";
    }
    return line;
}

class Program {
  public:
    explicit Program(const Options& o) : o_(o) {}
    int Run();

  private:
    int Ports();
    int Connect();
    int Identify();
    int Read();
    int Measure();
    int Clock();
    int Format();
    int Finish(int code);
    // Read and measure feed the archive unless "Archive"/"Feed" is FALSE.
    void OpenArchiveFeed(TSessionDeps& deps);
    // One line on standard error when the archive could not take the run's
    // measurements; the exit status stays what the command made it.
    void TellArchiveTrouble();
    std::string Lang(const TLangEntry& e) { return files_.Language().Text(e); }
    // Runs until activity a has ended; its outcome, or none when it did not
    // end within limitMs.
    std::optional<EOutcome> WaitFor(EActivity a, int limitMs);
    // The exit status of an activity that did not end well.
    int Failed(EOutcome o);
    // The device stopped answering: the time-out and the closed connection,
    // each unless the session said so already.
    int ReportSilence();
    // Waits for the next clock poll; false when the device fell silent.
    bool WaitForClock();
    bool Save(const std::string& path, bool overwrite, std::size_t& newCount);

    const Options& o_;
    RealTimeLoop loop_;
    SystemClock clock_;
    CliView view_;
    StderrReporter reporter_;
    TAppFiles files_;
    TMeasureList list_;
    std::unique_ptr<TMeasurementArchiveFeed> archive_;
    std::unique_ptr<LinkDeviceLink> link_;
    std::unique_ptr<TDeviceSession> session_;
};

void Program::OpenArchiveFeed(TSessionDeps& deps) {
    if (o_.command != "read" && o_.command != "measure") return;
    const TArchiveSettings settings = PeekArchiveSettings(files_.UserFile());
    if (!settings.Feed) return;
    archive_ = std::make_unique<TMeasurementArchiveFeed>(
        ChooseArchiveLocation(o_.archive, settings.Location), DefaultSpoolPath(),
        DefaultActor("kyvo-cli", ProgramVersion()), &files_.UserFile());
    // What waited since an earlier run goes first.
    view_.ArchiveFed(archive_->Deliver());
    deps.Archive = archive_.get();
}

void Program::TellArchiveTrouble() {
    if (!archive_ || !view_.ArchiveTrouble) return;
    const TArchiveReport& r = *view_.ArchiveTrouble;
    std::string why;
    for (char c : r.Error) {
        const bool blank = c == '\n' || c == '\r' || c == '\t' || c == ' ';
        if (!blank || (!why.empty() && why.back() != ' ')) why += blank ? ' ' : c;
    }
    while (!why.empty() && why.back() == ' ') why.pop_back();
    std::cerr << "kyvo-cli: the archive cannot be reached" << (why.empty() ? "" : " (" + why + ")")
              << "; " << r.Waiting << " measurements wait and go into it at the next run\n";
}

std::optional<EOutcome> Program::WaitFor(EActivity a, int limitMs) {
    loop_.RunUntil([&] { return view_.EndOf(a).has_value(); }, limitMs);
    return view_.EndOf(a);
}

int Program::Failed(EOutcome o) {
    // A silence is said on stderr before its status.
    return o == EOutcome::TimeOut ? ReportSilence() : ExitStatusOf(o);
}

int Program::ReportSilence() {
    view_.EndProgress();
    // A clock request that is not answered closes the connection without a
    // word in the window; here it is said.
    if (!view_.ToldTimeOut)
        std::cerr << "kyvo-cli: " << PlainText(Lang(LE_WaitingForDeviceTimeOut)) << "\n";
    if (!view_.ToldClosed && !link_->IsOpen())
        std::cerr << "kyvo-cli: " << PlainText(Lang(LE_ConnectionClosed)) << "\n";
    return kTimeOut;
}

bool Program::WaitForClock() {
    // A poll, its time-out and the probe after it. A lost reply that the
    // settings let pass without disconnecting is followed by the next poll.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(8000);
    for (;;) {
        view_.ForgetEnds();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              until - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return false;
        const auto o = WaitFor(EActivity::ReadClock, static_cast<int>(left));
        if (o == EOutcome::Done) return true;
        if (o != EOutcome::TimeOut || session_->Settings().DisconnectOnClockTimeOut ||
            !link_->IsOpen())
            return false;
    }
}

int Program::Ports() {
    DirectMainThread direct;
    LinkDeviceLink link(direct, true, true);
    std::size_t shown = 0;
    if (link.FtdiMode()) {
        std::vector<TPortEntry> ports;
        int error = 0;
        if (!ListPorts(link, false, ports, error))
            std::cerr << "kyvo-cli: FTDI error " << error << "\n";
        int n = 0;
        for (const auto& p : ports) {
            if (p.Kind == EPortKind::Ftdi)
                std::cout << "ftdi " << ++n << ": " << p.Text << "\n";
            else
                std::cout << "serial: " << p.Text << "\n";
            ++shown;
        }
    } else {
        for (const auto& p : link.OtherSerialPorts()) {
            std::cout << "serial: " << p.Path
                      << (p.Description.empty() ? "" : " (" + p.Description + ")") << "\n";
            ++shown;
        }
    }
    if (shown == 0) std::cout << "no device found\n";
    return kOk;
}

int Program::Connect() {
    files_.Open("Kyvo Data Reader", &reporter_);
    view_.Verbose = o_.verbose;
    view_.Lang = [this](const TLangEntry& e) { return Lang(e); };
    link_ = std::make_unique<LinkDeviceLink>(loop_.MainThread(), false, o_.ftdi.has_value());
    if (o_.ftdi && !link_->FtdiMode()) {
        std::cerr << "kyvo-cli: no FTDI driver is usable on this computer\n";
        return kNoDevice;
    }
    const TProgramSettings prog = ReadProgramSettings(files_.ProgFile());
    const TConnectionSettings user = ReadConnectionSettings(files_.UserFile());
    link_->SetLineFormat({prog.DataBits, prog.Parity, prog.StopBits});

    TSessionDeps deps;
    deps.Events = &view_;
    deps.Timers = &loop_;
    deps.Clock = &clock_;
    deps.Link = link_.get();
    deps.Language = &files_.Language();
    deps.List = &list_;
    deps.DeviceMemoryFolder = deviceMemoryFolder();
    OpenArchiveFeed(deps);
    session_ = std::make_unique<TDeviceSession>(deps);
    TSessionSettings& s = session_->Settings();
    s.Baud = prog.Baud;
    s.ClockTimeOutMs = prog.GetTimeTimeOut;
    s.DisconnectOnClockTimeOut = prog.DisconnectOnTimeError;
    s.CableIdOnly = prog.ShowCableIDOnly;
    s.LockDeviceButton = user.DisableKyvoButtonOnConnect;
    s.AutoConnect = user.AutoConnect;
    s.ShutDownOnClose = user.ShutDownOnClose;
    // The window's setting counts here too (read without writing it back);
    // --full reads whole once.
    std::string incremental = files_.UserFile().GetVal("Setup", "IncrementalRead");
    for (char& c : incremental) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    s.IncrementalRead = incremental != "false";
    s.ReadWhole = o_.full;
    session_->UseAddDataBehaviour(AlwaysAdd);
    session_->Start();

    TPortEntry port;
    std::uint32_t baud = static_cast<std::uint32_t>(prog.Baud);
    bool known = true;
    if (o_.ftdi) {
        std::vector<TPortEntry> ports;
        int error = 0;
        ListPorts(*link_, prog.ShowCableIDOnly, ports, error);
        known = *o_.ftdi >= 1 && *o_.ftdi <= static_cast<int>(ports.size());
        if (known) port = ports[*o_.ftdi - 1];
    } else {
        port.Path = port.Text = o_.port;
        if (o_.port.find("rfcomm") != std::string::npos) port.Kind = EPortKind::Bluetooth;
        known = !o_.port.empty() && (o_.baud.empty() || (strToCardinal(o_.baud, baud) && baud > 0));
    }
    if (!known || !session_->Connect(port, static_cast<int>(baud), true)) {
        // The session said why (no such port, in use, not permitted).
        if (view_.FirstError) return kNoDevice;
        std::cerr << "kyvo-cli: "
                  << (o_.ftdi ? "there is no device " + std::to_string(*o_.ftdi) +
                                    " (see kyvo-cli ports)"
                              : "cannot open port " + o_.port)
                  << "\n";
        return kNoDevice;
    }
    const auto outcome = WaitFor(EActivity::Connect, 15000);
    if (!outcome) {
        std::cerr << "kyvo-cli: " << PlainText(Lang(LE_ConnectionFailed)) << "\n";
        return kNoDevice;
    }
    if (*outcome != EOutcome::Done) return Failed(*outcome);
    // A device that stopped answering during identification and then answered
    // the probe is back at Ready, but unidentified: that is no connection to
    // report as good, nor to read from.
    if (session_->FirmwareText().empty() || session_->EEPROM().EEPROMVersion() == 0) {
        std::cerr << "kyvo-cli: the device did not identify itself\n";
        return kTimeOut;
    }
    return kOk;
}

int Program::Identify() {
    const auto& e = session_->EEPROM();
    std::cout << "firmware: " << session_->FirmwareText() << "\n";
    std::cout << "serial: " << session_->SerialText() << "\n";
    std::cout << "eeprom version: " << int(e.EEPROMVersion()) << "\n";
    const auto& bits = e.VolatileData.KyvoCfgBits;
    const auto& bits0 = e.NonVolatileData.KyvoCfgBits_0;
    if (bits.ClockPresent()) {
        if (!WaitForClock()) return ReportSilence();
        std::cout << "clock: "
                  << (session_->LastDeviceClockValid() ? DateText(session_->LastDeviceClock())
                                                       : std::string("invalid"))
                  << "\n";
    } else {
        std::cout << "clock: none\n";
    }
    std::vector<std::string> caps;
    if (bits.ClockPresent()) caps.push_back("clock");
    if (bits.SeparateResultMemory()) caps.push_back("separate-result-memory");
    if (bits.RFIDConfigSource()) caps.push_back("rfid-config");
    if (e.EEPROMVersion() < 5 || bits0.InstantMeasureAllowed()) caps.push_back("instant-measure");
    if (e.EEPROMVersion() < 5 || bits0.TimerMeasureAllowed()) caps.push_back("timer-measure");
    if (bits0.ResultsWithLineData()) caps.push_back("line-data");
    if (bits0.ResultsWithImage()) caps.push_back("image");
    std::string line;
    for (const auto& c : caps) line += (line.empty() ? "" : " ") + c;
    std::cout << "capabilities: " << (line.empty() ? "none" : line) << "\n";
    return kOk;
}

bool Program::Save(const std::string& path, bool overwrite, std::size_t& newCount) {
    // Which measurements the file holds already, for the "new" count: their
    // IDs alone, not the measurements.
    std::unordered_set<std::string> known;
    if (FileExists(path)) ReadResultFileTestIDs(path, known);
    newCount = 0;
    for (const auto& m : list_)
        if (!known.count(m->TestID)) ++newCount;
    CliResultDialogs dialogs(path, overwrite, files_.Language());
    TSaveRequest r;
    r.Mode = ESaveMode::Interactive;
    r.Layout = o_.layout.value_or(ReadTsvStyle(files_.Prog()));
    const TSaveOutcome so =
        SaveMeasureList(list_, r, dialogs, [this](const TLangEntry& e) { return Lang(e); });
    if (so.Result == ESaveResult::Saved) return true;
    std::cerr << "kyvo-cli: cannot write " << path
              << (so.Error.empty() ? std::string() : ": " + so.Error)
              << (so.Result == ESaveResult::Incompatible ? ": the file has another layout" : "")
              << "\n";
    return false;
}

int Program::Read() {
    view_.ForgetEnds();
    view_.StoredRead.reset();
    // A request while the clock is being read is carried out 300 ms later.
    session_->ReadStoredData();
    const auto outcome = WaitFor(EActivity::ReadStoredData, 600000);
    view_.EndProgress();
    if (!outcome) return ReportSilence();
    if (*outcome != EOutcome::Done || !view_.StoredRead) return Failed(*outcome);
    for (const auto& m : list_) std::cout << MeasureLine(*m) << "\n";
    if (view_.StoredRead->Created == 0) {
        std::cout << PlainText(Lang(LE_KyvoDatabaseEmpty)) << "\n";
        std::cout << "read 0 measurements (0 new); " << o_.out << " not written\n";
        return kOk;
    }
    std::size_t fresh = 0;
    if (!Save(o_.out, o_.overwrite, fresh)) return kFileError;
    std::cout << "read " << list_.size() << " measurements (" << fresh << " new) into " << o_.out
              << "; fetched " << session_->LastReadFetched() << " of "
              << session_->LastReadRingBytes() << " bytes\n";
    return kOk;
}

int Program::Measure() {
    const auto& bits = session_->EEPROM().VolatileData.KyvoCfgBits;
    if (o_.rfid != bits.RFIDConfigSource() && o_.config.empty()) {
        std::cerr << "kyvo-cli: "
                  << (o_.rfid ? "this device does not take its configuration from an RFID tag"
                              : "this device takes its configuration from an RFID tag; use --rfid")
                  << "\n";
        return kDeviceError;
    }
    session_->UseTestSource(o_.config.empty() ? TSKyvo : TSLocal);
    session_->UseCombining(o_.combine);
    view_.YesToCombine = o_.combine;
    if (!o_.config.empty()) view_.ConfigFile = o_.config;
    if (o_.stored) view_.StoredConfig = *o_.stored - 1;
    view_.ForgetEnds();
    session_->Measure(o_.timer);
    const auto outcome = WaitFor(EActivity::Measure, 900000);
    if (!outcome) return ReportSilence();
    if (*outcome != EOutcome::Done || view_.MeasurementsAdded == 0) {
        const bool noSuchConfig = o_.stored && view_.StoredConfigAsked &&
                                  *o_.stored > static_cast<int>(view_.StoredConfigItems.size());
        if (outcome != EOutcome::Done && outcome != EOutcome::Cancelled && !noSuchConfig)
            return Failed(*outcome);
        if (noSuchConfig) {
            std::cerr << "kyvo-cli: there is no stored configuration " << *o_.stored;
            if (view_.StoredConfigItems.empty()) std::cerr << " (the device holds none)";
            std::cerr << "\n";
            for (std::size_t i = 0; i < view_.StoredConfigItems.size(); ++i)
                std::cerr << "  " << i + 1 << ". " << view_.StoredConfigItems[i] << "\n";
            return kUsage;
        }
        std::cerr << "kyvo-cli: the measurement did not start\n";
        return kDeviceError;
    }
    for (const auto& m : list_) std::cout << MeasureLine(*m) << "\n";
    std::size_t fresh = 0;
    if (!Save(o_.out, false, fresh)) return kFileError;
    std::cout << "added " << list_.size() << " measurement to " << o_.out << "\n";
    return kOk;
}

int Program::Clock() {
    if (!session_->EEPROM().VolatileData.KyvoCfgBits.ClockPresent()) {
        std::cerr << "kyvo-cli: this device has no clock\n";
        return kDeviceError;
    }
    if (!WaitForClock()) return ReportSilence();
    if (o_.setClock) {
        loop_.RunUntil([&] { return session_->State().Current == stReady; }, 3000);
        TLocalDateTime t = clock_.Now();
        if (*o_.setClock != "now")
            std::sscanf(o_.setClock->c_str(), "%d-%d-%d %d:%d:%d", &t.Year, &t.Month, &t.Day,
                        &t.Hour, &t.Minute, &t.Second);
        view_.ForgetEnds();
        session_->SetClock(t);
        if (const auto field = InvalidClockField(t);
            field && view_.EndOf(EActivity::SetClock) == EOutcome::Invalid) {
            std::cerr << "kyvo-cli: --set " << *o_.setClock << ": no such " << *field << "\n";
            return kUsage;
        }
        if (view_.EndOf(EActivity::SetClock) != EOutcome::Done) {
            std::cerr << "kyvo-cli: " << PlainText(Lang(LE_KyvoBusyPleaseWait)) << "\n";
            return kDeviceError;
        }
        // The next poll shows what the device took.
        if (!WaitForClock()) return ReportSilence();
    }
    std::cout << "clock: "
              << (session_->LastDeviceClockValid() ? DateText(session_->LastDeviceClock())
                                                   : std::string("invalid"))
              << "\n";
    return session_->LastDeviceClockValid() ? kOk : kDeviceError;
}

int Program::Format() {
    view_.YesToFormat = o_.yes;
    view_.ForgetEnds();
    session_->Format();
    const auto outcome = WaitFor(EActivity::Format, 120000);
    if (!outcome) return ReportSilence();
    if (*outcome != EOutcome::Done) return Failed(*outcome);
    std::cout << PlainText(Lang(LE_DatabaseFormatted)) << "\n";
    return kOk;
}

int Program::Finish(int code) {
    if (!session_) return code;
    if (link_ && link_->IsOpen()) {
        // The close request releases a locked device button first.
        if (!session_->PrepareClose())
            loop_.RunUntil([&] { return view_.CloseAllowedCount > 0 || !link_->IsOpen(); }, 1000);
        session_->Close();
        session_->Stop();
        if (link_->IsOpen()) session_->Disconnect(false);
        // Let the worker put the last bytes on the line.
        loop_.RunUntil([&] { return link_->Worker().txCount() == 0; }, 200);
    } else {
        session_->Stop();
    }
    session_.reset();
    link_.reset();
    TellArchiveTrouble();
    return code;
}

int Program::Run() {
    if (o_.command == "ports") return Ports();
    int code = Connect();
    if (code != kOk) return Finish(code);
    if (o_.command == "identify")
        code = Identify();
    else if (o_.command == "read")
        code = Read();
    else if (o_.command == "measure")
        code = Measure();
    else if (o_.command == "clock")
        code = Clock();
    else if (o_.command == "format")
        code = Format();
    return Finish(code);
}

}  // namespace
}  // namespace kyvo::cli

#include "link/PortTrace.h"

int main(int argc, char** argv) {
    kyvo::cli::Options o;
    if (auto code = kyvo::cli::ParseOptions(argc, argv, o)) return *code;
    // The commands that need no device, each reading its own arguments
    // (a command word marked so without an entry here fails loudly).
    static const std::map<std::string_view, int (*)(const kyvo::cli::Options&)> ownArguments = {
        {"export", kyvo::cli::RunFileCommand},
        {"report", kyvo::cli::RunFileCommand},
        {"archive", kyvo::cli::RunArchiveCommand},
        {"qc", kyvo::cli::RunQcCommand},
        {"lis", kyvo::cli::RunLisCommand},
        {"sync", kyvo::cli::RunSyncCommand},
    };
    if (kyvo::cli::FindCommand(o.command)->ownArguments) return ownArguments.at(o.command)(o);
    std::optional<kyvo::TScopedPortTrace> trace;
    if (!o.trace.empty() && !trace.emplace(o.trace, kyvo::cli::ProgramAndVersion()).ok()) {
        std::cerr << "kyvo-cli: cannot write the trace file " << o.trace << ": " << trace->error()
                  << "\n";
        return kyvo::cli::kFileError;
    }
    if (trace) {
        // The command goes on: the trace is for support, the device's work
        // is what the user asked for.
        trace->onWriteFailure([path = o.trace](const std::string& reason) {
            std::cerr << "kyvo-cli: the trace file " + path + " cannot be written any more (" +
                             reason + "); the trace is incomplete\n";
        });
    }
    kyvo::cli::Program p(o);
    return p.Run();
}
