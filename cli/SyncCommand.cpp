#include "cli/SyncCommand.h"

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/AppFiles.h"
#include "app/DockWatch.h"
#include "app/ReaderSync.h"
#include "archivefeed/MeasurementArchiveFeed.h"
#include "cli/CliView.h"
#include "cli/DesktopNotice.h"
#include "cli/RealTimeLoop.h"
#include "files/DeviceMemoryFile.h"
#include "files/Settings.h"
#include "link/PortTrace.h"
#include "link/posix/SerialPortList.h"

namespace kyvo::cli {

namespace {

volatile std::sig_atomic_t gStopAsked = 0;

extern "C" void OnStopSignal(int) {
    gStopAsked = 1;
}

// SIGTERM and SIGINT end the command once the reads in flight are archived;
// nothing new starts after them.
void CatchStopSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

class StderrReporter final : public IFileErrorReporter {
  public:
    void ShowFileError(const std::string& text, const std::string& caption) override {
        std::cerr << "kyvo-cli: " << caption << ": " << text << "\n";
    }
};

constexpr const char* kSyncUsage =
    "usage: kyvo-cli [--port PATH]... [--baud N] [--archive LOCATION] [--trace FILE] sync "
    "[--watch]\n"
    "Reads every reader plugged in (every reader cable, every --port, the ports of the\n"
    "user setting Sync/Ports) at once into the archive: only what changed since the last\n"
    "read is fetched. --watch stays and reads each reader when it appears, again after\n"
    "Sync/RereadMinutes (default 15) while it stays docked; SIGTERM or Ctrl+C end it once\n"
    "the reads in flight are archived.\n";

struct TReader {
    std::string Key;  // a cable by its USB serial number, any other port by its path
    TSyncTarget Target;
    std::string Fingerprint;  // empty: not there now
};

// What identifies the device node behind path now: a reader plugged in
// again gets a new node (or a new link to one) even when no look saw it gone.
std::string Fingerprint(const std::string& path) {
    struct stat l {
    }, s{};
    if (::lstat(path.c_str(), &l) != 0 || ::stat(path.c_str(), &s) != 0) return {};
    auto ns = [](const struct timespec& t) {
        return std::to_string(t.tv_sec) + "." + std::to_string(t.tv_nsec);
    };
    return std::to_string(l.st_ino) + "@" + ns(l.st_ctim) + ">" + std::to_string(s.st_rdev) + ":" +
           std::to_string(s.st_ino) + "@" + ns(s.st_ctim);
}

std::string RealPath(const std::string& path) {
    std::error_code ec;
    auto p = std::filesystem::canonical(path, ec);
    return ec ? path : p.string();
}

// Every reader the port list knows (the reader cables) and every port named
// on the command line or in the settings, once each.
std::vector<TReader> FindReaders(const std::vector<std::string>& named) {
    std::vector<TReader> readers;
    std::set<std::string> seen;
    for (const auto& p : listSerialPorts()) {
        if (p.UsbId != kKyvoCableId) continue;
        TReader r;
        r.Key = "usb:" + (p.UsbSerial.empty() ? p.Path : p.UsbSerial);
        r.Target = {p.Path, p.UsbSerial};
        r.Fingerprint = Fingerprint(p.Path);
        if (seen.insert(RealPath(p.Path)).second) readers.push_back(std::move(r));
    }
    for (const auto& path : named) {
        TReader r;
        r.Key = path;
        r.Target = {path, ""};
        r.Fingerprint = Fingerprint(path);
        if (seen.insert(RealPath(path)).second) readers.push_back(std::move(r));
    }
    return readers;
}

std::string ResultLine(const TSyncResult& r) {
    std::string line =
        (r.Serial.empty() ? std::string("reader") : r.Serial) + " on " + r.Target.Path + ": ";
    if (r.Failure) return line + "failed: " + (r.Why.empty() ? "no reason given" : r.Why);
    line += std::to_string(r.Measurements) + " measurements, ";
    if (r.ArchiveUnreachable)
        line += std::to_string(r.Waiting) + " wait for the archive" +
                (r.ArchiveError.empty() ? "" : " (" + r.ArchiveError + ")");
    else
        line += std::to_string(r.New) + " new";
    return line + ", " + std::to_string(r.Fetched) + " of " + std::to_string(r.RingBytes) +
           " bytes fetched";
}

class SyncProgram {
  public:
    explicit SyncProgram(const Options& o) : o_(o) {}
    int Run(bool watch);

  private:
    bool Prepare();
    void StartRead(const TReader& reader);
    // Ends the finished runs; out gets their lines (the watch: standard error).
    void Reap(std::ostream& out, TDockWatch* watch);
    std::int64_t NowMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    int RunOnce();
    int RunWatch();

    const Options& o_;
    RealTimeLoop loop_;
    SystemClock clock_;
    StderrReporter reporter_;
    TAppFiles files_;
    std::unique_ptr<TMeasurementArchiveFeed> archive_;
    TSyncShared shared_;
    TSyncSettings syncSettings_;
    std::vector<std::string> named_;
    struct TRun {
        std::string Key;
        std::unique_ptr<TReaderSync> Sync;
    };
    std::vector<TRun> runs_;
    int worst_ = kOk;
};

bool SyncProgram::Prepare() {
    files_.Open("Kyvo Data Reader", &reporter_);
    const TProgramSettings prog = ReadProgramSettings(files_.ProgFile());
    const TConnectionSettings user = ReadConnectionSettings(files_.UserFile());
    syncSettings_ = PeekSyncSettings(files_.UserFile());
    named_ = o_.ports;
    named_.insert(named_.end(), syncSettings_.Ports.begin(), syncSettings_.Ports.end());

    shared_.MainThread = &loop_.MainThread();
    shared_.Timers = &loop_;
    shared_.Clock = &clock_;
    shared_.Language = &files_.Language();
    shared_.DeviceMemoryFolder = deviceMemoryFolder();
    shared_.LineFormat = {prog.DataBits, prog.Parity, prog.StopBits};
    shared_.Baud = prog.Baud;
    if (!o_.baud.empty()) shared_.Baud = std::atoi(o_.baud.c_str());
    TSessionSettings& s = shared_.Settings;
    s.Baud = prog.Baud;
    s.ClockTimeOutMs = prog.GetTimeTimeOut;
    s.DisconnectOnClockTimeOut = prog.DisconnectOnTimeError;
    s.CableIdOnly = prog.ShowCableIDOnly;
    s.LockDeviceButton = user.DisableKyvoButtonOnConnect;
    s.AutoConnect = user.AutoConnect;
    s.ShutDownOnClose = user.ShutDownOnClose;
    std::string incremental = files_.UserFile().GetVal("Setup", "IncrementalRead");
    for (char& c : incremental) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    s.IncrementalRead = incremental != "false";

    const TArchiveSettings archive = PeekArchiveSettings(files_.UserFile());
    // What opening the files set up (a first start's language) is written
    // now; at the end, maybe days later under systemd, a copy read at the
    // start would overwrite what the window saved meanwhile.
    files_.UserFile().save();
    files_.LanguageFile().save();
    files_.UserFile().ReadOnly = true;
    files_.LanguageFile().ReadOnly = true;
    if (archive.Feed) {
        archive_ = std::make_unique<TMeasurementArchiveFeed>(
            ChooseArchiveLocation(o_.archive, archive.Location), DefaultSpoolPath(),
            DefaultActor("kyvo-cli", ProgramVersion()));
        // What waited since an earlier run goes first.
        archive_->Deliver();
        shared_.Archive = archive_.get();
    }
    return true;
}

void SyncProgram::StartRead(const TReader& reader) {
    auto sync = std::make_unique<TReaderSync>(shared_, reader.Target);
    sync->Start();
    runs_.push_back({reader.Key, std::move(sync)});
}

void SyncProgram::Reap(std::ostream& out, TDockWatch* watch) {
    ReapNotifications();
    for (auto it = runs_.begin(); it != runs_.end();) {
        if (!it->Sync->Finished()) {
            ++it;
            continue;
        }
        const TSyncResult r = it->Sync->Result();
        const std::string key = it->Key;
        it = runs_.erase(it);  // the run is destroyed here, outside its own callbacks
        if (watch) {
            watch->Ended(key,
                         r.Held      ? EDockEnd::Held
                         : r.Failure ? EDockEnd::Failed
                                     : EDockEnd::Read,
                         NowMs());
            // Another program holds it: tried again quietly.
            if (r.Held && !o_.verbose) continue;
        }
        out << (watch ? "kyvo-cli: " : "") << ResultLine(r) << std::endl;
        if (r.Failure)
            worst_ = std::max(worst_, ExitStatusOf(*r.Failure));
        else if (!r.ArchiveUnreachable && r.New > 0)
            NotifyDesktop(ReaderNoticeText(r.Serial, r.New, [this](const TLangEntry& e) {
                return files_.Language().Text(e);
            }));
    }
}

int SyncProgram::RunOnce() {
    std::vector<TReader> readers = FindReaders(named_);
    if (readers.empty()) {
        std::cerr << "kyvo-cli: no reader found: no reader cable is plugged in and no port is "
                     "named (--port PATH, or the user setting Sync/Ports)\n";
        return kNoDevice;
    }
    for (const auto& r : readers) StartRead(r);
    while (!runs_.empty()) {
        loop_.RunUntil(
            [&] {
                for (const auto& r : runs_)
                    if (r.Sync->Finished()) return true;
                return false;
            },
            1000);
        Reap(std::cout, nullptr);
    }
    return worst_;
}

int SyncProgram::RunWatch() {
    TDockPolicy policy;
    policy.RereadMs = static_cast<std::int64_t>(syncSettings_.RereadMinutes) * 60 * 1000;
    TDockWatch watch(policy);
    constexpr std::int64_t kLookEveryMs = 2000;
    std::map<std::string, TReader> known;
    std::int64_t nextLook = 0;
    std::cerr << "kyvo-cli: watching for readers" << std::endl;
    while (!gStopAsked) {
        if (NowMs() >= nextLook) {
            std::map<std::string, std::string> present;
            known.clear();
            for (auto& r : FindReaders(named_)) {
                if (r.Fingerprint.empty()) continue;
                present[r.Key] = r.Fingerprint;
                known[r.Key] = std::move(r);
            }
            watch.Look(present, NowMs());
            nextLook = NowMs() + kLookEveryMs;
        }
        for (const auto& key : watch.TakeDue(NowMs())) {
            const auto it = known.find(key);
            if (it == known.end()) {
                watch.Ended(key, EDockEnd::Failed, NowMs());
                continue;
            }
            if (o_.verbose)
                std::cerr << "kyvo-cli: reading " << it->second.Target.Path << std::endl;
            StartRead(it->second);
        }
        loop_.RunUntil(
            [&] {
                if (gStopAsked || NowMs() >= nextLook) return true;
                for (const auto& r : runs_)
                    if (r.Sync->Finished()) return true;
                return false;
            },
            200);
        Reap(std::cerr, &watch);
    }
    if (!runs_.empty())
        std::cerr << "kyvo-cli: ending once " << runs_.size() << " reads in flight are archived"
                  << std::endl;
    while (!runs_.empty()) {
        loop_.RunUntil(
            [&] {
                for (const auto& r : runs_)
                    if (r.Sync->Finished()) return true;
                return false;
            },
            1000);
        Reap(std::cerr, &watch);
    }
    std::cerr << "kyvo-cli: stopped" << std::endl;
    return kOk;
}

int SyncProgram::Run(bool watch) {
    CatchStopSignals();
    Prepare();
    return watch ? RunWatch() : RunOnce();
}

}  // namespace

int RunSyncCommand(const Options& o) {
    bool watch = false;
    for (const auto& a : o.args) {
        if (a == "--watch") {
            watch = true;
        } else if (a == "--help" || a == "-h") {
            std::cout << kSyncUsage;
            return kOk;
        } else {
            std::cerr << "kyvo-cli: sync: unexpected argument " << a << "\n" << kSyncUsage;
            return kUsage;
        }
    }
    if (o.ftdi) {
        std::cerr << "kyvo-cli: sync finds the reader cables itself; --ftdi is not for it\n";
        return kUsage;
    }
    std::optional<TScopedPortTrace> trace;
    if (!o.trace.empty() && !trace.emplace(o.trace, ProgramAndVersion()).ok()) {
        std::cerr << "kyvo-cli: cannot write the trace file " << o.trace << ": " << trace->error()
                  << "\n";
        return kFileError;
    }
    if (trace)
        trace->onWriteFailure([path = o.trace](const std::string& reason) {
            std::cerr << "kyvo-cli: the trace file " + path + " cannot be written any more (" +
                             reason + "); the trace is incomplete\n";
        });
    SyncProgram p(o);
    return p.Run(watch);
}

}  // namespace kyvo::cli
