// kyvo-cli: the headless front end of the controller, for scripts and for
// machines without a display. It uses the same settings and language files
// as the window.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/AppFiles.h"
#include "app/LinkDeviceLink.h"
#include "app/Main.h"
#include "cli/CliOptions.h"
#include "cli/CliView.h"
#include "cli/ExportCommand.h"
#include "cli/RealTimeLoop.h"
#include "files/DeviceMemoryFile.h"
#include "files/ResultFileReader.h"
#include "files/ResultFileWriter.h"

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
    CliResultDialogs(std::string path, bool overwrite, TForm_Main& main)
        : path_(std::move(path)), overwrite_(overwrite), main_(main) {}
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
        std::cerr << "kyvo-cli: " << (caption ? main_.Lang(*caption) + ": " : std::string())
                  << PlainText(main_.Lang(text) + detail) << "\n";
    }
    void Reset() { chosen_ = false; }

  private:
    std::string path_;
    bool overwrite_;
    TForm_Main& main_;
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
    // Exit code for a message the controller showed (errors), or none.
    std::optional<int> Classify(const std::string& text) const;
    int ReportMessages(std::size_t from, int fallback);
    // Runs until the activity that runs in state `activity` is over: its
    // state, the probe after its time-out, a message and the disconnect
    // after it are all part of it. done ends the wait early.
    void WaitForActivityEnd(std::uint8_t activity, int limitMs, const std::function<bool()>& done);
    // The device stopped answering: what the controller said about it, and
    // the time-out and the closed connection when it said nothing.
    int ReportSilence(std::size_t from);
    // Waits for the clock poll's answer; false when the device fell silent
    // instead (the connection closed, or the time-out was shown).
    bool WaitForClock(const std::function<bool()>& answered);
    bool Save(const std::string& path, bool overwrite, std::size_t& newCount);

    const Options& o_;
    RealTimeLoop loop_;
    SystemClock clock_;
    CliView view_;
    StderrReporter reporter_;
    TAppFiles files_;
    std::unique_ptr<LinkDeviceLink> link_;
    std::unique_ptr<TForm_Main> main_;
};

std::optional<int> Program::Classify(const std::string& text) const {
    auto is = [&](const TLangEntry& e) { return text == main_->Lang(e); };
    auto starts = [&](const TLangEntry& e) {
        const std::string h = main_->Lang(e);
        return text.compare(0, h.size(), h) == 0;
    };
    if (is(LE_ConnectionFailed) || starts(LE_PortMissing) || starts(LE_PortInUse) ||
        starts(LE_PortNotPermitted) || starts(LE_PortOpenFailed) || is(LE_ConnectionClosedDataLoss))
        return kNoDevice;
    if (starts(LE_WaitingForDeviceTimeOut) ||
        text.find(main_->Lang(LE_ConnectionClosed)) != std::string::npos)
        return kTimeOut;
    if (is(LE_NoTestConfigurationFound) || is(LE_ConfigWrongVersionNotLoaded) ||
        is(LE_ConfigChecksumWrong))
        return o_.config.empty() ? kDeviceError : kFileError;
    if (is(LE_DatabaseFormatted) || is(LE_KyvoDatabaseEmpty) || is(LE_ConfigsNotIdentical))
        return std::nullopt;
    return kDeviceError;
}

int Program::ReportMessages(std::size_t from, int fallback) {
    // The first error the controller showed decides the exit status; the
    // fallback only stands when it showed none.
    std::optional<int> first;
    for (std::size_t i = from; i < view_.Messages.size(); ++i) {
        const auto& m = view_.Messages[i];
        if (m.Style != EMsgStyle::OK) continue;
        const auto c = Classify(m.Text);
        if (!c) continue;
        std::string text = PlainText(m.Text);
        while (!text.empty() && text.front() == '\n') text.erase(0, 1);
        std::cerr << "kyvo-cli: " << (m.Caption.empty() ? "" : m.Caption + ": ") << text << "\n";
        if (!first) first = *c;
    }
    return first.value_or(fallback);
}

void Program::WaitForActivityEnd(std::uint8_t activity, int limitMs,
                                 const std::function<bool()>& done) {
    loop_.RunUntil(
        [&] {
            if (done && done()) return true;
            const auto s = main_->State().Current;
            return !main_->ActionPending() && s != activity && s != stProbe && s != stMessage &&
                   s != stBusy && s != stDisconnecting;
        },
        limitMs);
}

bool Program::WaitForClock(const std::function<bool()>& answered) {
    const std::size_t before = view_.Messages.size();
    auto silent = [&] {
        for (std::size_t i = before; i < view_.Messages.size(); ++i)
            if (Classify(view_.Messages[i].Text) == kTimeOut) return true;
        return !link_->IsOpen();
    };
    // A poll, its time-out and the probe after it.
    loop_.RunUntil([&] { return answered() || silent(); }, 5000);
    if (answered()) return true;
    WaitForActivityEnd(stWaitClock, 3000, nullptr);
    return !silent();
}

int Program::ReportSilence(std::size_t from) {
    bool toldTimeOut = false, toldClosed = false, toldOther = false;
    for (std::size_t i = from; i < view_.Messages.size(); ++i) {
        const std::string& t = view_.Messages[i].Text;
        const bool timeOut = t.find(main_->Lang(LE_WaitingForDeviceTimeOut)) != std::string::npos;
        const bool closed = t.find(main_->Lang(LE_ConnectionClosed)) != std::string::npos;
        toldTimeOut |= timeOut;
        toldClosed |= closed;
        if (!timeOut && !closed && view_.Messages[i].Style == EMsgStyle::OK && Classify(t))
            toldOther = true;
    }
    if (toldOther) return ReportMessages(from, kTimeOut);
    // A clock request that is not answered closes the connection without a
    // word in the window; here it is said.
    if (!toldTimeOut)
        std::cerr << "kyvo-cli: " << PlainText(main_->Lang(LE_WaitingForDeviceTimeOut)) << "\n";
    const int code = ReportMessages(from, kTimeOut);
    if (!toldClosed && !link_->IsOpen())
        std::cerr << "kyvo-cli: " << PlainText(main_->Lang(LE_ConnectionClosed)) << "\n";
    return code;
}

int Program::Ports() {
    DirectMainThread direct;
    LinkDeviceLink ftdiLink(direct, true, true);
    std::size_t shown = 0;
    if (ftdiLink.FtdiMode()) {
        std::vector<TFTDIDeviceEntry> devices;
        int error = 0;
        if (!ftdiLink.UpdateDeviceList(devices, error, 2000)) {
            std::cerr << "kyvo-cli: FTDI error " << error << "\n";
        } else {
            int n = 0;
            for (const auto& d : devices) {
                if (d.Flags == 1 || d.ID != 0x04036015) continue;
                std::cout << "ftdi " << ++n << ": " << d.Description << " (" << d.Serial << ")\n";
                ++shown;
            }
        }
    }
    for (const auto& p : ftdiLink.OtherSerialPorts()) {
        std::cout << "serial: " << p.Path
                  << (p.Description.empty() ? "" : " (" + p.Description + ")") << "\n";
        ++shown;
    }
    if (shown == 0) std::cout << "no device found\n";
    return kOk;
}

int Program::Connect() {
    files_.Open("Kyvo Data Reader", &reporter_);
    view_.Verbose = o_.verbose;
    view_.PortPath = o_.port;
    view_.Baud = o_.baud;
    view_.FtdiItem = o_.ftdi ? *o_.ftdi - 1 : -1;
    link_ = std::make_unique<LinkDeviceLink>(loop_.MainThread(), false, o_.ftdi.has_value());
    if (o_.ftdi && !link_->FtdiMode()) {
        std::cerr << "kyvo-cli: no FTDI driver is usable on this computer\n";
        return kNoDevice;
    }
    TMainDeps deps;
    deps.View = &view_;
    deps.Timers = &loop_;
    deps.Clock = &clock_;
    deps.Link = link_.get();
    deps.ProgSettings = &files_.Prog();
    deps.UserSettings = &files_.User();
    deps.Language = &files_.Language();
    deps.ConfigFolder = files_.ConfigFolder();
    deps.DeviceMemoryFolder = deviceMemoryFolder();
    main_ = std::make_unique<TForm_Main>(deps);
    main_->FormCreate();
    loop_.RunUntil([&] { return main_->Initialized(); }, 2000);

    const std::size_t before = view_.Messages.size();
    main_->Button_OpenClick();
    if (!link_->IsOpen()) {
        // The controller said why (no such port, in use, not permitted).
        if (ReportMessages(before, kOk) != kOk) return kNoDevice;
        std::cerr << "kyvo-cli: "
                  << (o_.ftdi ? "there is no device " + std::to_string(*o_.ftdi) +
                                    " (see kyvo-cli ports)"
                              : "cannot open port " + o_.port)
                  << "\n";
        return kNoDevice;
    }
    loop_.RunUntil(
        [&] {
            const auto s = main_->State().Current;
            return s == stReady || s == stDisconnected;
        },
        15000);
    if (main_->State().Current != stReady) {
        const int code = ReportMessages(before, kOk);
        if (code != kOk) return code;
        std::cerr << "kyvo-cli: " << PlainText(main_->Lang(LE_ConnectionFailed)) << "\n";
        return kNoDevice;
    }
    // A device that stopped answering during identification and then answered
    // the probe is back at Ready, but unidentified: that is no connection to
    // report as good, nor to read from.
    const int code = ReportMessages(before, kOk);
    if (code != kOk) return code;
    if (main_->FirmwareText().empty() || main_->EEPROM().EEPROMVersion() == 0) {
        std::cerr << "kyvo-cli: the device did not identify itself\n";
        return kTimeOut;
    }
    return kOk;
}

int Program::Identify() {
    const auto& e = main_->EEPROM();
    std::cout << "firmware: " << main_->FirmwareText() << "\n";
    std::cout << "serial: " << main_->SerialText() << "\n";
    std::cout << "eeprom version: " << int(e.EEPROMVersion()) << "\n";
    const auto& bits = e.VolatileData.KyvoCfgBits;
    const auto& bits0 = e.NonVolatileData.KyvoCfgBits_0;
    if (bits.ClockPresent()) {
        const std::size_t before = view_.Messages.size();
        if (!WaitForClock([&] { return main_->LastDeviceClockValid(); }))
            return ReportSilence(before);
        std::cout << "clock: "
                  << (main_->LastDeviceClockValid() ? DateText(main_->LastDeviceClock())
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
    // Which measurements the file holds already, for the "new" count.
    std::set<std::string> known;
    if (FileExists(path)) {
        TMeasureList old;
        CliResultDialogs quiet(path, false, *main_);
        const TLoadOutcome lo = LoadMeasureFile(
            path, o_.layout.value_or(ReadTsvStyle(files_.Prog())), old, quiet, Unsorted);
        for (const auto& m : old) known.insert(m->TestID);
        (void)lo;
    }
    newCount = 0;
    for (const auto& m : main_->MeasureList)
        if (!known.count(m->TestID)) ++newCount;
    CliResultDialogs dialogs(path, overwrite, *main_);
    TSaveRequest r;
    r.Mode = ESaveMode::Interactive;
    r.Layout = o_.layout.value_or(ReadTsvStyle(files_.Prog()));
    const TSaveOutcome so = SaveMeasureList(main_->MeasureList, r, dialogs,
                                            [this](const TLangEntry& e) { return main_->Lang(e); });
    if (so.Result == ESaveResult::Saved) return true;
    std::cerr << "kyvo-cli: cannot write " << path
              << (so.Error.empty() ? std::string() : ": " + so.Error)
              << (so.Result == ESaveResult::Incompatible ? ": the file has another layout" : "")
              << "\n";
    return false;
}

int Program::Read() {
    const std::size_t before = view_.Messages.size();
    bool finished = false;
    int found = 0;
    main_->UseAddDataBehaviour(AlwaysAdd);
    if (o_.full) main_->UseIncrementalRead(false);
    main_->OnStoredDataRead = [&](TForm_Main&, int count) {
        finished = true;
        found = count;
    };
    // A click while the clock is being read is carried out 300 ms later.
    main_->Button_ReadDataClick();
    WaitForActivityEnd(stReceiving, 600000, [&] { return finished; });
    view_.EndProgress();
    if (!finished) return ReportSilence(before);
    for (const auto& m : main_->MeasureList) std::cout << MeasureLine(*m) << "\n";
    if (found == 0) {
        std::cout << PlainText(main_->Lang(LE_KyvoDatabaseEmpty)) << "\n";
        std::cout << "read 0 measurements (0 new); " << o_.out << " not written\n";
        return kOk;
    }
    std::size_t fresh = 0;
    if (!Save(o_.out, o_.overwrite, fresh)) return kFileError;
    std::cout << "read " << main_->MeasureList.size() << " measurements (" << fresh << " new) into "
              << o_.out << "; fetched " << main_->LastReadFetched() << " of "
              << main_->LastReadRingBytes() << " bytes\n";
    return kOk;
}

int Program::Measure() {
    const auto& bits = main_->EEPROM().VolatileData.KyvoCfgBits;
    if (o_.rfid != bits.RFIDConfigSource() && o_.config.empty()) {
        std::cerr << "kyvo-cli: "
                  << (o_.rfid ? "this device does not take its configuration from an RFID tag"
                              : "this device takes its configuration from an RFID tag; use --rfid")
                  << "\n";
        return kDeviceError;
    }
    main_->UseAddDataBehaviour(AlwaysAdd);
    main_->UseTestSource(o_.config.empty() ? TSKyvo : TSLocal);
    main_->UseCombining(o_.combine);
    if (!o_.config.empty()) view_.ConfigFile = o_.config;
    if (o_.stored) view_.StoredConfig = *o_.stored - 1;
    view_.Answer = [this](const std::string& text, EMsgStyle style) -> std::optional<EModalResult> {
        if (text == main_->Lang(LE_AskSecondMeasurement))
            return o_.combine ? EModalResult::Yes : EModalResult::No;
        if (text == main_->Lang(LE_PlaceOverTestCardWithTag)) {
            std::cout << "device: " << PlainText(text) << std::endl;
            return EModalResult::OK;
        }
        (void)style;
        return std::nullopt;
    };
    const std::size_t before = view_.Messages.size();
    bool added = false;
    main_->OnMeasurementAdded = [&](TForm_Main&, const TMeasureSet&) {
        // A combined pair joins the list only at its end.
        if (main_->CombineMode() != ECombineMeasurements::SecondMeasure) added = true;
    };
    bool started = false;
    main_->OnStateEntered = [&](TForm_Main&, std::uint8_t s) {
        if (s == stEvaluating) started = true;
    };
    if (o_.timer)
        main_->Button_TimerMeasureClick();
    else
        main_->Button_InstantMeasureClick();
    // The flow runs in Evaluating; anything else between two events means
    // it has ended, with a result or without.
    WaitForActivityEnd(stEvaluating, 900000, nullptr);
    if (!added) {
        const int code = link_->IsOpen() ? ReportMessages(before, kOk) : ReportSilence(before);
        if (code != kOk) return code;
        if (o_.stored && *o_.stored > static_cast<int>(view_.StoredConfigItems.size())) {
            std::cerr << "kyvo-cli: there is no stored configuration " << *o_.stored;
            if (view_.StoredConfigItems.empty()) std::cerr << " (the device holds none)";
            std::cerr << "\n";
            for (std::size_t i = 0; i < view_.StoredConfigItems.size(); ++i)
                std::cerr << "  " << i + 1 << ". " << view_.StoredConfigItems[i] << "\n";
            return kUsage;
        }
        std::cerr << "kyvo-cli: the measurement did not start\n";
        return started ? kDeviceError : kFileError;
    }
    ReportMessages(before, kOk);
    for (const auto& m : main_->MeasureList) std::cout << MeasureLine(*m) << "\n";
    std::size_t fresh = 0;
    if (!Save(o_.out, false, fresh)) return kFileError;
    std::cout << "added " << main_->MeasureList.size() << " measurement to " << o_.out << "\n";
    return kOk;
}

int Program::Clock() {
    if (!main_->EEPROM().VolatileData.KyvoCfgBits.ClockPresent()) {
        std::cerr << "kyvo-cli: this device has no clock\n";
        return kDeviceError;
    }
    const std::size_t before = view_.Messages.size();
    if (!WaitForClock([&] { return main_->LastDeviceClockValid(); })) return ReportSilence(before);
    if (o_.setClock) {
        loop_.RunUntil([&] { return main_->State().Current == stReady; }, 3000);
        if (*o_.setClock == "now") {
            main_->PopUpItem_SetSystemTimeClick();
        } else {
            TLocalDateTime t;
            std::sscanf(o_.setClock->c_str(), "%d-%d-%d %d:%d:%d", &t.Year, &t.Month, &t.Day,
                        &t.Hour, &t.Minute, &t.Second);
            view_.Picker = t;
            main_->DTP_SetDateKeyDown(true);
        }
        // The next poll shows what the device took.
        const TLocalDateTime mark = main_->LastDeviceClock();
        if (!WaitForClock([&] {
                return main_->LastDeviceClockValid() && !(main_->LastDeviceClock() == mark);
            }))
            return ReportSilence(before);
    }
    std::cout << "clock: "
              << (main_->LastDeviceClockValid() ? DateText(main_->LastDeviceClock())
                                                : std::string("invalid"))
              << "\n";
    return main_->LastDeviceClockValid() ? kOk : kDeviceError;
}

int Program::Format() {
    view_.Answer = [this](const std::string& text, EMsgStyle) -> std::optional<EModalResult> {
        if (text == main_->Lang(LE_AskFormatDatabase)) return EModalResult::Yes;
        return std::nullopt;
    };
    const std::size_t before = view_.Messages.size();
    bool formatted = false;
    main_->Menu_FormatDBClick();
    WaitForActivityEnd(stFormatting, 120000, [&] {
        for (std::size_t i = before; i < view_.Messages.size(); ++i)
            if (view_.Messages[i].Text == main_->Lang(LE_DatabaseFormatted)) formatted = true;
        return formatted;
    });
    if (!formatted) return ReportSilence(before);
    std::cout << PlainText(main_->Lang(LE_DatabaseFormatted)) << "\n";
    return kOk;
}

int Program::Finish(int code) {
    if (!main_) return code;
    if (link_ && link_->IsOpen()) {
        // The close request releases a locked device button first.
        if (!main_->FormCloseQuery()) {
            loop_.RunUntil([&] { return view_.CloseRequests > 0 || !link_->IsOpen(); }, 1000);
        }
        main_->FormClose();
        main_->FormDestroy();
        // Let the worker put the last bytes on the line.
        loop_.RunUntil([&] { return link_->Worker().txCount() == 0; }, 200);
    } else {
        main_->FormDestroy();
    }
    main_.reset();
    link_.reset();
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

int main(int argc, char** argv) {
    if (auto code = kyvo::cli::RunFileCommand(argc, argv)) return *code;
    kyvo::cli::Options o;
    if (auto code = kyvo::cli::ParseOptions(argc, argv, o)) return *code;
    kyvo::cli::Program p(o);
    return p.Run();
}
