#include "cli/ArchiveCommand.h"

#include <sys/stat.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppFiles.h"
#include "app/Main.h"
#include "archive/Archive.h"
#include "archivefeed/MeasurementArchiveFeed.h"
#include "cli/CliOptions.h"
#include "cli/SummaryCommand.h"
#include "files/ResultExport.h"
#include "files/Settings.h"
#if KYVO_WITH_REPORT
#include "report/ReportInfo.h"
#endif

namespace kyvo::cli {
namespace {

constexpr const char* kProgramName = "Kyvo Data Reader";

const char* const kUsageText =
    "usage: kyvo-cli [--archive LOCATION] archive SUBCOMMAND ...\n"
    "  list [FILTER...] [--format tsv|csv|json]\n"
    "                              the measurements (tsv: one line each, id first;\n"
    "                              csv and json as kyvo-cli export writes them)\n"
    "  report [FILTER...] [--summary] --out REPORT.pdf\n"
    "                              a PDF report, one page per measurement; --summary:\n"
    "                              a table of them and each result's trend chart\n"
    "  import FILE...              result files of any layout (again: nothing new)\n"
    "  comment ID TEXT             the measurement's comment\n"
    "  patient ID PATIENT [BIRTHDATE]\n"
    "                              its patient id (and birth date, YYYY-MM-DD)\n"
    "  remove ID --reason TEXT     hides it with a reason; it is never deleted\n"
    "  role ID control MATERIAL | role ID patient\n"
    "                              marks it as a control of that material, or as a\n"
    "                              patient's result (whatever its patient id)\n"
    "  history ID                  every change of it: time, user@host, program,\n"
    "                              action, old -> new\n"
    "  check                       integrity, schema version and counts\n"
    "  copy --to LOCATION          everything, audit trail included, into another\n"
    "                              archive (copying again adds nothing)\n"
    "FILTER: --from DATE --to DATE (YYYY-MM-DD) --test NAME --lot LOT --device SERIAL\n"
    "        --text WORDS --removed (removed ones too) --role patient|control\n"
    "LOCATION: sqlite:PATH or postgresql://[user@]host[:port]/database[?...]; without\n"
    "--archive the user setting \"Archive\"/\"Location\", else the default archive.\n"
    "Exit status 7: the archive cannot be reached or used, holds no such\n"
    "measurement, or its check found problems; 6: a file could not be read or written.\n";

int UsageError(const std::string& what) {
    std::cerr << "kyvo-cli: " << what << "\n" << kUsageText;
    return kUsage;
}

std::string OneLine(std::string s) {
    std::string out;
    for (char c : s) {
        if (c == '\r' || c == '\n' || c == '\t') {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// A location for messages: a password in a URI is never printed.
std::string Shown(const std::string& location) {
    const std::size_t scheme = location.find("://");
    if (scheme == std::string::npos) return location;
    const std::size_t start = scheme + 3;
    const std::size_t at = location.find('@', start);
    const std::size_t slash = location.find('/', start);
    if (at == std::string::npos || (slash != std::string::npos && slash < at)) return location;
    const std::size_t colon = location.find(':', start);
    if (colon == std::string::npos || colon > at) return location;
    return location.substr(0, colon) + location.substr(at);
}

struct ArchiveOptions {
    std::string archive;
    std::string sub;
    std::vector<std::string> args;
    TArchiveFilter filter;
    std::string format = "tsv";
    std::string out;
    std::string reason;
    bool reasonGiven = false;
    std::string to;
    bool summary = false;
};

std::optional<int> Parse(const std::vector<std::string>& argv, ArchiveOptions& o) {
    const std::size_t argc = argv.size();
    for (std::size_t i = 0; i < argc; ++i) {
        const std::string& a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        if (a == "--help" || a == "-h") {
            std::cout << kUsageText;
            return kOk;
        }
        if (a == "--from" || a == "--to" || a == "--test" || a == "--lot" || a == "--device" ||
            a == "--text" || a == "--format" || a == "--out" || a == "--reason" || a == "--role") {
            std::string v;
            if (!value(v)) return UsageError(a + " needs a value");
            if (a == "--from") o.filter.From = v;
            if (a == "--to") (o.sub == "copy" ? o.to : o.filter.To) = v;
            if (a == "--test") o.filter.Test = v;
            if (a == "--lot") o.filter.Lot = v;
            if (a == "--device") o.filter.Device = v;
            if (a == "--text") o.filter.Text = v;
            if (a == "--format") o.format = v;
            if (a == "--out") o.out = v;
            if (a == "--reason") o.reason = v, o.reasonGiven = true;
            if (a == "--role") {
                if (v != "patient" && v != "control")
                    return UsageError("--role needs patient or control");
                o.filter.Role = v;
            }
        } else if (a == "--removed") {
            o.filter.IncludeRemoved = true;
        } else if (a == "--summary") {
            o.summary = true;
        } else if (a.size() > 1 && a[0] == '-' && !(o.sub == "comment" || o.sub == "patient")) {
            return UsageError("unknown option " + a + " for archive" +
                              (o.sub.empty() ? "" : " " + o.sub));
        } else if (o.sub.empty()) {
            o.sub = a;
        } else {
            o.args.push_back(a);
        }
    }
    static const std::vector<std::string> subs = {"list",    "report", "import",  "comment",
                                                  "patient", "remove", "history", "check",
                                                  "copy",    "role"};
    if (o.sub.empty()) return UsageError("archive needs a subcommand");
    if (std::find(subs.begin(), subs.end(), o.sub) == subs.end())
        return UsageError("unknown archive subcommand " + o.sub);
    const bool filters = !o.filter.From.empty() || !o.filter.To.empty() || !o.filter.Test.empty() ||
                         !o.filter.Lot.empty() || !o.filter.Device.empty() ||
                         !o.filter.Text.empty() || o.filter.IncludeRemoved ||
                         !o.filter.Role.empty();
    if (filters && o.sub != "list" && o.sub != "report")
        return UsageError("filters belong to archive list and archive report");
    if (o.format != "tsv" && o.format != "csv" && o.format != "json")
        return UsageError("unknown format \"" + o.format + "\" (tsv, csv or json)");
    if (o.format != "tsv" && o.sub != "list") return UsageError("--format belongs to archive list");
    if (!o.out.empty() && o.sub != "report") return UsageError("--out belongs to archive report");
    if (o.reasonGiven && o.sub != "remove") return UsageError("--reason belongs to archive remove");
    if (o.summary && o.sub != "report") return UsageError("--summary belongs to archive report");
    auto args = [&](std::size_t min, std::size_t max, const char* form) -> std::optional<int> {
        if (o.args.size() < min || o.args.size() > max)
            return UsageError("usage: kyvo-cli archive " + o.sub + " " + form);
        return std::nullopt;
    };
    if (o.sub == "list" || o.sub == "check") return args(0, 0, "");
    if (o.sub == "report") {
        if (o.out.empty()) return UsageError("archive report needs --out REPORT.pdf");
        return args(0, 0, "[FILTER...] --out REPORT.pdf");
    }
    if (o.sub == "import") return args(1, 1u << 20, "FILE...");
    if (o.sub == "comment") return args(2, 2, "ID TEXT");
    if (o.sub == "patient") return args(2, 3, "ID PATIENT [BIRTHDATE]");
    if (o.sub == "history") return args(1, 1, "ID");
    if (o.sub == "role") {
        if (auto code = args(2, 3, "ID control MATERIAL | ID patient")) return code;
        if (o.args[1] == "control" && o.args.size() == 3) return std::nullopt;
        if (o.args[1] == "patient" && o.args.size() == 2) return std::nullopt;
        return UsageError("usage: kyvo-cli archive role ID control MATERIAL | ID patient");
    }
    if (o.sub == "remove") {
        if (o.reason.empty())
            return UsageError(
                "archive remove needs --reason TEXT: a removal is kept with its reason");
        return args(1, 1, "ID --reason TEXT");
    }
    if (o.sub == "copy") {
        if (o.to.empty()) return UsageError("archive copy needs --to LOCATION");
        return args(0, 0, "--to LOCATION");
    }
    return std::nullopt;
}

bool ParseId(const std::string& text, std::int64_t& id) {
    if (text.empty() || text.size() > 18) return false;
    id = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        id = id * 10 + (c - '0');
    }
    return id > 0;
}

class Runner {
  public:
    explicit Runner(const ArchiveOptions& o) : o_(o) {}
    int Run();

  private:
    int Fail(const TArchiveError& e, const std::string& location);
    int List(IArchive& a);
    int Report(IArchive& a);
    int Import(IArchive& a);
    int Edit(IArchive& a);
    int History(IArchive& a);
    int Check(IArchive& a);
    int Copy(IArchive& a);
    std::vector<TMeasureSet> LoadListed(IArchive& a, std::vector<TExportQc>* qc = nullptr);

    const ArchiveOptions& o_;
    TAppFiles files_;
    TArchiveActor actor_ = DefaultActor("kyvo-cli", ProgramVersion());
};

class StderrFileErrors final : public IFileErrorReporter {
  public:
    void ShowFileError(const std::string& text, const std::string& caption) override {
        std::cerr << "kyvo-cli: " << caption << ": " << text << "\n";
    }
};

int Runner::Fail(const TArchiveError& e, const std::string& location) {
    return ArchiveFailure(e, location);
}

}  // namespace

int ArchiveFailure(const TArchiveError& e, const std::string& location) {
    const std::string what = OneLine(e.what());
    switch (e.Kind) {
        case EArchiveErrorKind::Unreachable:
            // The archive's own text names the location (without password).
            std::cerr << "kyvo-cli: " << what << "\n";
            return kArchiveError;
        case EArchiveErrorKind::NewerSchema:
            std::cerr << "kyvo-cli: " << what << " Use the newer program for it.\n";
            return kArchiveError;
        case EArchiveErrorKind::NotAnArchive:
            std::cerr << "kyvo-cli: " << Shown(location) << " is no measurement archive: " << what
                      << "\n";
            return kArchiveError;
        case EArchiveErrorKind::NotFound:
            std::cerr << "kyvo-cli: " << what << "\n";
            return kArchiveError;
        case EArchiveErrorKind::BadInput:
            std::cerr << "kyvo-cli: " << what << "\n";
            return kUsage;
        case EArchiveErrorKind::Failed:
            break;
    }
    std::cerr << "kyvo-cli: the archive " << Shown(location) << " failed: " << what << "\n";
    return kArchiveError;
}

namespace {

std::string RowLine(const TArchiveRow& r) {
    std::string line = std::to_string(r.Id) + "\t" + r.DateTime + "\t" + r.TestId + "\t" +
                       r.TestName + "\t" + r.LotNr + "\t" + r.DeviceSerial + "\t" + r.Results +
                       "\t" + r.Comment + "\t" + r.PatientId + "\t" + r.Source;
    if (r.Removed) line += "\tremoved: " + r.RemovedReason;
    if (r.Role == "control") line += "\tcontrol " + r.ControlMaterial;
    if (r.QcFailed) line += "\tQC failed";
    return line;
}

std::vector<TMeasureSet> Runner::LoadListed(IArchive& a, std::vector<TExportQc>* qc) {
    std::vector<TMeasureSet> sets;
    for (const TArchiveRow& r : a.List(o_.filter)) {
        sets.push_back(a.Load(r.Id));
        if (qc) qc->push_back({r.Role, r.ControlMaterial, r.QcFailed});
    }
    return sets;
}

std::vector<const TMeasureSet*> Pointers(const std::vector<TMeasureSet>& sets) {
    std::vector<const TMeasureSet*> p;
    for (const auto& s : sets) p.push_back(&s);
    return p;
}

int Runner::List(IArchive& a) {
    std::string text;
    if (o_.format == "tsv") {
        for (const TArchiveRow& r : a.List(o_.filter)) text += RowLine(r) + "\n";
    } else {
        std::vector<TExportQc> qc;
        const std::vector<TMeasureSet> sets = LoadListed(a, &qc);
        text = o_.format == "json"
                   ? ExportJson(Pointers(sets), {kProgramName, ProgramVersionString()}, &qc)
                   : ExportCsv(Pointers(sets), ECsvForm::ResultRows, &qc);
    }
    std::cout.write(text.data(), std::streamsize(text.size()));
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "kyvo-cli: standard output could not be written\n";
        return kFileError;
    }
    return kOk;
}

int Runner::Report(IArchive& a) {
    if (o_.summary) return WriteArchiveSummary(a, o_.filter, o_.out, files_.Language());
    const std::vector<TMeasureSet> sets = LoadListed(a);
    ILanguage& language = files_.Language();
    if (sets.empty()) {
        std::cerr << "kyvo-cli: " << OneLine(language.Text(LE_NothingToExport)) << "\n";
        return kFileError;
    }
#if KYVO_WITH_REPORT
    TReportInfo info;
    info.ProgramName = kProgramName;
    info.ProgramVersion = ProgramVersionString();
    info.Text = [&language](const TLangEntry& e) { return language.Text(e); };
    std::string error;
    if (!WriteReportPdfOffscreen(Pointers(sets), info, o_.out, error)) {
        std::cerr << "kyvo-cli: " << OneLine(language.Text(LE_FileWriteError)) << o_.out << ": "
                  << error << "\n";
        return kFileError;
    }
    std::cout << "report of " << sets.size() << " measurements written to " << o_.out << "\n";
    return kOk;
#else
    std::cerr << "kyvo-cli: this build has no report support (it was built without Qt)\n";
    return kUsage;
#endif
}

int Runner::Import(IArchive& a) {
    int code = kOk;
    for (const std::string& path : o_.args) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            std::cerr << "kyvo-cli: " << path << ": no such file\n";
            code = kFileError;
            continue;
        }
        TImportOutcome r;
        try {
            r = ImportResultFile(a, path, actor_);
        } catch (const TArchiveError& e) {
            if (e.Kind != EArchiveErrorKind::BadInput) throw;
            std::cerr << "kyvo-cli: " << OneLine(e.what()) << "\n";
            code = kFileError;
            continue;
        }
        std::cout << path << ": " << r.Added << " added, " << r.Unchanged << " unchanged, "
                  << r.Updated << " updated\n";
        if (!r.Complete) {
            std::cerr << "kyvo-cli: " << path << ": stopped at line " << r.StoppedAtLine << ": "
                      << OneLine(r.Error) << "\n";
            code = kFileError;
        }
    }
    return code;
}

int Runner::Edit(IArchive& a) {
    std::int64_t id = 0;
    if (!ParseId(o_.args[0], id))
        return UsageError("\"" + o_.args[0] + "\" is no measurement id (see archive list)");
    if (o_.sub == "comment") {
        a.SetComment(id, o_.args[1], actor_);
    } else if (o_.sub == "patient") {
        a.SetPatient(id, o_.args[1], o_.args.size() > 2 ? o_.args[2] : std::string(), actor_);
    } else if (o_.sub == "role") {
        a.SetRole(id, o_.args[1], o_.args.size() > 2 ? o_.args[2] : std::string(), actor_);
    } else {
        a.Remove(id, o_.reason, actor_);
    }
    return kOk;
}

std::string Change(const TAuditEntry& e) {
    if (e.OldValue.empty() && e.NewValue.empty()) return {};
    return "\"" + e.OldValue + "\" \u2192 \"" + e.NewValue + "\"";
}

int Runner::History(IArchive& a) {
    std::int64_t id = 0;
    if (!ParseId(o_.args[0], id))
        return UsageError("\"" + o_.args[0] + "\" is no measurement id (see archive list)");
    const auto rows = a.History(id);
    if (rows.empty()) {
        // A measurement that exists has at least its insert.
        (void)a.Load(id);
    }
    for (const TAuditEntry& e : rows)
        std::cout << e.Time << "\t" << e.User << "@" << e.Host << "\t" << e.Program << " "
                  << e.Version << "\t" << e.Action << "\t" << OneLine(Change(e)) << "\n";
    return kOk;
}

int Runner::Check(IArchive& a) {
    const TArchiveCheck c = a.Check();
    std::cout << "archive: " << a.Location() << "\n"
              << "schema version: " << c.SchemaVersion << "\n"
              << "measurements: " << c.Measurements << " (" << c.Removed << " removed)\n"
              << "result rows: " << c.ResultRows << "\n"
              << "devices: " << c.Devices << "\n"
              << "audit rows: " << c.AuditRows << "\n";
    if (c.Problems.empty()) {
        std::cout << "problems: none\n";
        return kOk;
    }
    for (const std::string& p : c.Problems) std::cout << "problem: " << OneLine(p) << "\n";
    return kArchiveError;
}

int Runner::Copy(IArchive& a) {
    std::unique_ptr<IArchive> target;
    try {
        target = OpenArchive(o_.to);
    } catch (const TArchiveError& e) {
        return Fail(e, o_.to);
    }
    const std::int64_t before = target->Count({});
    std::int64_t added = 0;
    try {
        added = CopyArchive(a, *target);
    } catch (const TArchiveError& e) {
        return Fail(e, o_.to);
    }
    std::cout << "copied " << added << " measurements from " << a.Location() << " to "
              << target->Location() << " (" << before << " were there before)\n";
    return kOk;
}

int Runner::Run() {
    StderrFileErrors fileErrors;
    files_.Open(kProgramName, &fileErrors);
    const std::string location =
        ChooseArchiveLocation(o_.archive, PeekArchiveSettings(files_.UserFile()).Location);
    try {
        const std::unique_ptr<IArchive> archive = OpenArchive(location);
        if (o_.sub == "list") return List(*archive);
        if (o_.sub == "report") return Report(*archive);
        if (o_.sub == "import") return Import(*archive);
        if (o_.sub == "history") return History(*archive);
        if (o_.sub == "check") return Check(*archive);
        if (o_.sub == "copy") return Copy(*archive);
        return Edit(*archive);
    } catch (const TArchiveError& e) {
        return Fail(e, location);
    } catch (const std::exception& e) {
        std::cerr << "kyvo-cli: the archive " << Shown(location) << " failed: " << OneLine(e.what())
                  << "\n";
        return kArchiveError;
    }
}

}  // namespace

int RunArchiveCommand(const Options& global) {
    ArchiveOptions o;
    o.archive = global.archive;
    if (auto code = Parse(global.args, o)) return *code;
    Runner runner(o);
    return runner.Run();
}

}  // namespace kyvo::cli
