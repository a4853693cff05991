#include "cli/LisCommand.h"

#include <chrono>
#include <csignal>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/AppFiles.h"
#include "archive/Archive.h"
#include "archivefeed/MeasurementArchiveFeed.h"
#include "files/Settings.h"
#include "lisfeed/LisOutbox.h"
#include "protocol/ByteBuffer.h"

namespace kyvo::cli {
namespace {

constexpr const char* kProgramName = "Kyvo Data Reader";

const char* const kUsageText =
    "usage: kyvo-cli [--archive LOCATION] lis SUBCOMMAND [--lis HOST:PORT] ...\n"
    "  send [--since DATE] [--attempts N]\n"
    "                              send what waits in the outbox, oldest first, one\n"
    "                              line per message: delivered, held or failed\n"
    "                              (--since YYYY-MM-DD: first queue every measurement\n"
    "                              of that day and later that was never queued,\n"
    "                              imported ones too)\n"
    "  status                      how many wait, were delivered, are held; each held\n"
    "                              one with its reason, each waiting one with its last\n"
    "                              failure\n"
    "  resend ID... [--attempts N] queue the measurements again and send: a held one\n"
    "                              as it is now, a delivered one as a correction\n"
    "  preview ID                  the message as it would go, one segment a line\n"
    "--lis HOST:PORT stands above the settings \"LIS\"/\"Host\" and \"Port\".\n"
    "A LIS that does not answer: each message waits \"LIS\"/\"AckTimeout\" seconds for\n"
    "its acknowledgement (a connection 10 s); after N failed attempts in a row\n"
    "(--attempts, default 3; pauses of 5 s, 10 s, ... between them) send gives up and\n"
    "the rest waits for the next run. Another sender working the archive's outbox\n"
    "is waited for the same way.\n"
    "Exit status: 0 everything went (nothing waits, nothing was held), 8 a message\n"
    "was held or the rest waits (the LIS could not be reached, another sender),\n"
    "7 the archive cannot be used, 6 the mapping file cannot be read, 2 bad usage\n"
    "(no LIS set).\n";

struct LisOptions {
    std::string archive;
    std::string sub;
    std::string lis;
    std::string since;
    int attempts = 3;
    std::vector<std::int64_t> ids;
};

int UsageError(const std::string& what) {
    std::cerr << "kyvo-cli: " << what << "\n" << kUsageText;
    return kUsage;
}

std::optional<int> Parse(const std::vector<std::string>& argv, LisOptions& o) {
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsageText;
            return kOk;
        }
        if (a == "--lis" || a == "--since" || a == "--attempts") {
            if (i + 1 >= argv.size()) return UsageError(a + " needs a value");
            const std::string& v = argv[++i];
            if (a == "--lis") o.lis = v;
            if (a == "--since") o.since = v;
            if (a == "--attempts") {
                std::uint32_t n = 0;
                if (!strToCardinal(v, n) || n == 0 || n > 1000)
                    return UsageError("--attempts needs a number from 1 to 1000");
                o.attempts = static_cast<int>(n);
            }
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError("unknown option " + a + " for lis" +
                              (o.sub.empty() ? "" : " " + o.sub));
        } else if (o.sub.empty()) {
            o.sub = a;
        } else {
            std::uint32_t n = 0;
            if (!strToCardinal(a, n) || n == 0)
                return UsageError("\"" + a + "\" is no measurement id");
            o.ids.push_back(n);
        }
    }
    if (o.sub.empty()) return UsageError("lis needs a subcommand");
    if (o.sub != "send" && o.sub != "status" && o.sub != "resend" && o.sub != "preview")
        return UsageError("unknown lis subcommand \"" + o.sub + "\"");
    if ((o.sub == "resend" && o.ids.empty()) || (o.sub == "preview" && o.ids.size() != 1))
        return UsageError("lis " + o.sub + " needs " +
                          (o.sub == "preview" ? "one measurement id" : "measurement ids"));
    if ((o.sub == "send" || o.sub == "status") && !o.ids.empty())
        return UsageError("lis " + o.sub + " takes no measurement id");
    if (!o.since.empty() && o.sub != "send") return UsageError("--since is for lis send");
    return std::nullopt;
}

class StderrFileErrors final : public IFileErrorReporter {
  public:
    void ShowFileError(const std::string& text, const std::string& caption) override {
        std::cerr << "kyvo-cli: " << caption << ": " << text << "\n";
    }
};

std::string OneLine(const std::string& s) {
    std::string out;
    for (char c : s) out += (c == '\r' || c == '\n' || c == '\t') ? ' ' : c;
    return out;
}

class Runner {
  public:
    explicit Runner(const LisOptions& o) : o_(o) {}
    int Run();

  private:
    // The sender's settings; an exit code when there are none to send with.
    std::optional<int> MakeConfig(bool needHost);
    int Send(IArchive& a);
    int Status(IArchive& a);
    int Preview(IArchive& a);

    const LisOptions& o_;
    TAppFiles files_;
    TArchiveActor actor_ = DefaultActor("kyvo-cli", ProgramVersion());
    TLisSenderConfig config_;
};

std::optional<int> Runner::MakeConfig(bool needHost) {
    TLisSendSettings s = PeekLisSettings(files_.UserFile());
    // A preview needs no LIS to go to.
    if (!needHost && s.Host.empty() && o_.lis.empty()) s.Host = "localhost";
    TLisConfigResult c = MakeLisSenderConfig(s, o_.lis);
    for (const auto& w : c.Warnings) std::cerr << "kyvo-cli: " << w << "\n";
    if (!c.Config) {
        std::cerr << "kyvo-cli: " << c.Error << "\n";
        const bool mapping = !s.MappingFile.empty() && c.Error.find("mapping") != std::string::npos;
        return mapping ? kFileError : kUsage;
    }
    config_ = std::move(*c.Config);
    ILanguage& language = files_.Language();
    config_.Text = [&language](const TLangEntry& e) { return language.Text(e); };
    return std::nullopt;
}

int Runner::Send(IArchive& a) {
    if (!o_.since.empty()) {
        const TLisQueueOutcome q = a.QueueForLisSince(o_.since, actor_);
        std::cerr << "kyvo-cli: " << q.Queued << " measurement(s) from " << o_.since
                  << " on queued for the LIS\n";
    }
    if (o_.sub == "resend") {
        const TLisQueueOutcome q = a.QueueForLis(o_.ids, actor_);
        if (q.Skipped)
            std::cerr << "kyvo-cli: " << q.Skipped << " removed measurement(s) are not sent\n";
    }
    lis::TMllpLink link(config_.Endpoint, config_.ConnectTimeout, config_.AckTimeout);
    TLisRunPolicy policy;
    policy.MaxFailedAttempts = o_.attempts;
    int held = 0;
    for (int round = 1;; ++round) {
        const TLisRunResult r =
            RunLisOutbox(a, link, config_, actor_, policy, [](const TLisSendEvent& e) {
                std::cout << LisSendOutcomeName(e.Outcome) << "\t" << e.Entry.MeasurementId << "\t"
                          << e.Entry.TestId << "\t"
                          << lis::ControlIdFor(e.Entry.MeasurementId, e.Entry.Version);
                if (!e.Reason.empty()) std::cout << "\t" << OneLine(e.Reason);
                std::cout << std::endl;
            });
        held += r.Held;
        if (!r.Error.empty()) std::cerr << "kyvo-cli: " << OneLine(r.Error) << "\n";
        if (r.OtherSender) {
            if (round >= o_.attempts) {
                std::cerr << "kyvo-cli: another sender is working the outbox of this archive; "
                             "what waits is left to it\n";
                break;
            }
            const auto pause = lis::RetryPause(round);
            std::cerr << "kyvo-cli: another sender is working the outbox of this archive; trying "
                         "again in "
                      << pause.count() << " s\n";
            std::this_thread::sleep_for(pause);
            continue;
        }
        if (r.GaveUp)
            std::cerr << "kyvo-cli: the LIS " << config_.Endpoint.Host << ":"
                      << config_.Endpoint.Port << " did not take the message after " << o_.attempts
                      << " attempt(s); the rest waits for the next run\n";
        if (r.LostLock)
            std::cerr << "kyvo-cli: the connection to the archive was renewed; stopped\n";
        break;
    }
    const TLisCounts c = a.LisCounts();
    std::cerr << "kyvo-cli: " << c.Waiting << " waiting, " << c.Delivered << " delivered, "
              << c.Held << " held\n";
    return c.Waiting == 0 && held == 0 ? kOk : kLisIncomplete;
}

int Runner::Status(IArchive& a) {
    const TLisCounts c = a.LisCounts();
    std::cout << "waiting\t" << c.Waiting << "\ndelivered\t" << c.Delivered << "\nheld\t" << c.Held
              << "\n";
    for (ELisState state : {ELisState::Held, ELisState::Waiting}) {
        for (const TLisOutboxEntry& e : a.LisEntries(state, 0)) {
            if (state == ELisState::Waiting && e.Reason.empty()) continue;
            std::cout << LisStateName(state) << "\t" << e.MeasurementId << "\t" << e.TestId << "\t"
                      << e.ControlId << "\t" << e.Changed << "\t" << OneLine(e.Reason) << "\n";
        }
    }
    return kOk;
}

int Runner::Preview(IArchive& a) {
    const std::int64_t id = o_.ids.at(0);
    TLisOutboxEntry e;
    e.MeasurementId = id;
    // The newest version as it would leave now; a measurement never queued
    // as its first version.
    if (const auto versions = a.LisHistory(id); !versions.empty()) e = versions.back();
    std::string message = BuildLisMessage(a, e, config_, std::chrono::system_clock::now());
    for (char& ch : message)
        if (ch == '\r') ch = '\n';
    std::cout << message;
    return kOk;
}

int Runner::Run() {
    StderrFileErrors fileErrors;
    files_.Open(kProgramName, &fileErrors);
    if (o_.sub != "status") {
        if (auto code = MakeConfig(o_.sub != "preview")) return *code;
    }
    const std::string location =
        ChooseArchiveLocation(o_.archive, PeekArchiveSettings(files_.UserFile()).Location);
    try {
        const std::unique_ptr<IArchive> archive = OpenArchive(location);
        if (o_.sub == "status") return Status(*archive);
        if (o_.sub == "preview") return Preview(*archive);
        return Send(*archive);
    } catch (const TArchiveError& e) {
        std::cerr << "kyvo-cli: " << OneLine(e.what()) << "\n";
        return e.Kind == EArchiveErrorKind::BadInput ? kUsage : kArchiveError;
    }
}

}  // namespace

int RunLisCommand(const Options& global) {
    // The sending is the work, the lines are its report: a reader of them
    // that goes away (| head) must not end the run mid-way.
    std::signal(SIGPIPE, SIG_IGN);
    LisOptions o;
    o.archive = global.archive;
    if (auto code = Parse(global.args, o)) return *code;
    Runner runner(o);
    return runner.Run();
}

}  // namespace kyvo::cli
