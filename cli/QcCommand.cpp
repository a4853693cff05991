#include "cli/QcCommand.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppFiles.h"
#include "app/Main.h"
#include "archive/Archive.h"
#include "archivefeed/MeasurementArchiveFeed.h"
#include "cli/ArchiveCommand.h"
#include "files/ResultExport.h"
#include "files/Settings.h"
#include "qc/LeveyJennings.h"
#if KYVO_WITH_REPORT
#include "report/LeveyJenningsChart.h"
#endif

namespace kyvo::cli {
namespace {

constexpr const char* kProgramName = "Kyvo Data Reader";

const char* const kUsageText =
    "usage: kyvo-cli [--archive LOCATION] qc SUBCOMMAND ...\n"
    "  material add NAME --test TEST --result RESULT --lot LOT --level 1|2|3\n"
    "               --mean M --sd S [--expires DATE] [--opened DATE]\n"
    "               [--patient-id-prefix TEXT]\n"
    "                              a control material, or a new lot of one (its own\n"
    "                              targets; a new lot starts a new series)\n"
    "  material list               every lot: name, lot, level, test, result, mean,\n"
    "                              SD, expiry, opened, patient-id prefix, state\n"
    "  material retire NAME        no new controls of it; its history stays\n"
    "  check [--material NAME] [--format text|json]\n"
    "                              every Westgard violation, oldest first; exit\n"
    "                              status 1 when one of them rejects a control\n"
    "  chart MATERIAL --out FILE.pdf|FILE.png\n"
    "                              its Levey-Jennings chart, one per lot\n"
    "A measurement is a control when marked so (kyvo-cli archive role ID control\n"
    "MATERIAL) or when its patient id equals a material's patient-id prefix.\n"
    "DATE: YYYY-MM-DD. Numbers with \".\".\n"
    "Exit status 1: qc check found a rejected control; 7: the archive cannot be\n"
    "reached or used, or holds no such material; 6: the chart could not be written.\n";

int UsageError(const std::string& what) {
    std::cerr << "kyvo-cli: " << what << "\n" << kUsageText;
    return kUsage;
}

struct QcOptions {
    std::string archive;
    std::vector<std::string> words;  // subcommand words and positional arguments
    std::map<std::string, std::string> values;
};

const std::vector<std::string> kValueOptions = {"--test",     "--result", "--lot",
                                                "--level",    "--mean",   "--sd",
                                                "--expires",  "--opened", "--patient-id-prefix",
                                                "--material", "--format", "--out"};

// Which options each form takes.
const std::map<std::string, std::vector<std::string>> kAllowed = {
    {"material add",
     {"--test", "--result", "--lot", "--level", "--mean", "--sd", "--expires", "--opened",
      "--patient-id-prefix"}},
    {"material list", {}},
    {"material retire", {}},
    {"check", {"--material", "--format"}},
    {"chart", {"--out"}},
};

std::optional<double> Number(const std::string& text) {
    double v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size())
        return std::nullopt;
    return v;
}

std::optional<int> Parse(const std::vector<std::string>& argv, QcOptions& o, std::string& form) {
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsageText;
            return kOk;
        }
        if (std::find(kValueOptions.begin(), kValueOptions.end(), a) != kValueOptions.end()) {
            if (i + 1 >= argv.size()) return UsageError(a + " needs a value");
            o.values[a] = argv[++i];
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError("unknown option " + a + " for qc");
        } else {
            o.words.push_back(a);
        }
    }
    if (o.words.empty()) return UsageError("qc needs a subcommand");
    std::size_t positional = 1;
    form = o.words[0];
    if (form == "material") {
        if (o.words.size() < 2) return UsageError("qc material needs add, list or retire");
        form += " " + o.words[1];
        positional = 2;
    }
    const auto allowed = kAllowed.find(form);
    if (allowed == kAllowed.end()) return UsageError("unknown qc subcommand " + form);
    for (const auto& [name, value] : o.values) {
        if (std::find(allowed->second.begin(), allowed->second.end(), name) ==
            allowed->second.end())
            return UsageError(name + " does not belong to qc " + form);
    }
    const std::size_t args = o.words.size() - positional;
    const std::size_t wanted = form == "material list" || form == "check" ? 0 : 1;
    if (args != wanted) {
        static const std::map<std::string, std::string> forms = {
            {"material add",
             "NAME --test TEST --result RESULT --lot LOT --level N --mean M --sd S"},
            {"material list", ""},
            {"material retire", "NAME"},
            {"check", "[--material NAME] [--format text|json]"},
            {"chart", "MATERIAL --out FILE.pdf|FILE.png"}};
        return UsageError("usage: kyvo-cli qc " + form + " " + forms.at(form));
    }
    if (form == "material add") {
        for (const char* needed : {"--test", "--result", "--lot", "--level", "--mean", "--sd"}) {
            if (!o.values.count(needed))
                return UsageError("qc material add needs " + std::string(needed));
        }
        const std::string level = o.values["--level"];
        if (level != "1" && level != "2" && level != "3")
            return UsageError("--level needs 1, 2 or 3");
        if (!Number(o.values["--mean"])) return UsageError("--mean needs a number (with \".\")");
        const auto sd = Number(o.values["--sd"]);
        if (!sd || !(*sd > 0)) return UsageError("--sd needs a number above 0 (with \".\")");
    }
    if (form == "check" && o.values.count("--format") && o.values["--format"] != "text" &&
        o.values["--format"] != "json")
        return UsageError("unknown format \"" + o.values["--format"] + "\" (text or json)");
    if (form == "chart") {
        std::string out = o.values.count("--out") ? o.values["--out"] : std::string();
        for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        auto endsWith = [&](const std::string& tail) {
            return out.size() > tail.size() &&
                   out.compare(out.size() - tail.size(), tail.size(), tail) == 0;
        };
        if (!endsWith(".pdf") && !endsWith(".png"))
            return UsageError("qc chart needs --out FILE.pdf or --out FILE.png");
    }
    return std::nullopt;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string OneLine(const std::string& s) {
    std::string out;
    for (char c : s) out += (c == '\r' || c == '\n' || c == '\t') ? ' ' : c;
    return out;
}

class Runner {
  public:
    Runner(QcOptions o, std::string form) : o_(std::move(o)), form_(std::move(form)) {}
    int Run();

  private:
    int Add(IArchive& a);
    int List(IArchive& a);
    int Check(IArchive& a);
    int Chart(IArchive& a);
    std::string Value(const std::string& name) const {
        const auto it = o_.values.find(name);
        return it == o_.values.end() ? std::string() : it->second;
    }
    const std::string& Positional() const { return o_.words.back(); }

    QcOptions o_;
    std::string form_;
    TArchiveActor actor_ = DefaultActor("kyvo-cli", ProgramVersion());
};

int Runner::Add(IArchive& a) {
    qc::TControlMaterial m;
    m.Name = Positional();
    m.Test = Value("--test");
    m.Result = Value("--result");
    m.Lot = Value("--lot");
    m.Level = std::stoi(Value("--level"));
    m.Mean = *Number(Value("--mean"));
    m.Sd = *Number(Value("--sd"));
    m.Expires = Value("--expires");
    m.Opened = Value("--opened");
    m.PatientIdPrefix = Value("--patient-id-prefix");
    a.AddMaterial(m, actor_);
    return kOk;
}

int Runner::List(IArchive& a) {
    for (const auto& m : a.Materials()) {
        std::cout << OneLine(m.Name) << "\t" << OneLine(m.Lot) << "\t" << m.Level << "\t"
                  << OneLine(m.Test) << "\t" << OneLine(m.Result) << "\t" << NumberText(m.Mean)
                  << "\t" << NumberText(m.Sd) << "\t" << m.Expires << "\t" << m.Opened << "\t"
                  << OneLine(m.PatientIdPrefix) << "\t"
                  << (m.Retired.empty() ? "in use" : "retired " + m.Retired) << "\n";
    }
    return kOk;
}

int Runner::Check(IArchive& a) {
    const TQcOverview o = a.QcOverview();
    const std::string only = Value("--material");
    if (!only.empty() && std::none_of(o.Materials.begin(), o.Materials.end(),
                                      [&](const auto& m) { return m.Name == only; })) {
        throw TArchiveError(EArchiveErrorKind::NotFound,
                            "The archive holds no control material " + only + ".");
    }
    std::map<std::int64_t, const qc::TControlPoint*> points;
    for (const auto& p : o.Points) points[p.MeasurementId] = &p;
    const bool json = Value("--format") == "json";
    bool rejected = false;
    std::string out = json ? "[" : "";
    bool first = true;
    for (const qc::TQcViolation& v : o.Violations) {
        if (!only.empty() && v.Material != only) continue;
        rejected = rejected || v.Severity == qc::EQcSeverity::Reject;
        if (json) {
            out += first ? "\n  " : ",\n  ";
            out += "{\"rule\": " + JsonString(qc::RuleName(v.Rule)) +
                   ", \"severity\": " + JsonString(qc::SeverityName(v.Severity)) +
                   ", \"material\": " + JsonString(v.Material) + ", \"measurements\": [";
            for (std::size_t i = 0; i < v.TestIds.size(); ++i)
                out += (i ? ", " : "") + JsonString(v.TestIds[i]);
            out += "]}";
        } else {
            const std::int64_t at = v.MeasurementIds.back();
            const auto p = points.find(at);
            out += qc::SeverityName(v.Severity) + "\t" + qc::RuleName(v.Rule) + "\t" +
                   OneLine(v.Material) + "\tlot " + OneLine(v.Lot) + "\t" +
                   (p != points.end() ? p->second->DateTime : std::string()) + "\t";
            for (std::size_t i = 0; i < v.TestIds.size(); ++i)
                out += (i ? "; " : "") + v.TestIds[i];
            out += "\n";
            for (const auto& ack : o.Acknowledgements) {
                if (ack.Rule == qc::RuleName(v.Rule) && ack.MaterialId == v.MaterialId &&
                    ack.MeasurementId == at) {
                    out += "\tacknowledged " + ack.Time + " by " + ack.User + "@" + ack.Host +
                           ": " + OneLine(ack.Note) + "\n";
                }
            }
        }
        first = false;
    }
    if (json) out += first ? "]\n" : "\n]\n";
    std::cout << out;
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "kyvo-cli: standard output could not be written\n";
        return kFileError;
    }
    if (!json && first) std::cerr << "kyvo-cli: no Westgard violations\n";
    return rejected ? kQcRejected : kOk;
}

int Runner::Chart(IArchive& a) {
    const TQcOverview o = a.QcOverview();
    const auto series = qc::BuildLeveyJennings(o.Materials, o.Points, o.Violations, Positional());
    if (series.empty()) {
        throw TArchiveError(EArchiveErrorKind::NotFound,
                            "The archive holds no control material " + Positional() + ".");
    }
#if KYVO_WITH_REPORT
    std::vector<TChartData> charts;
    for (const auto& s : series) charts.push_back(LeveyJenningsChartData(s));
    std::string error;
    const std::string out = Value("--out");
    if (!WriteChartsOffscreen(charts, out, std::string(kProgramName) + " " + ProgramVersionString(),
                              error)) {
        std::cerr << "kyvo-cli: " << out << ": " << OneLine(error) << "\n";
        return kFileError;
    }
    std::size_t values = 0;
    for (const auto& s : series) values += s.Points.size();
    std::cout << "Levey-Jennings chart of " << Positional() << " (" << series.size()
              << (series.size() == 1 ? " lot, " : " lots, ") << values << " controls) written to "
              << out << "\n";
    return kOk;
#else
    std::cerr << "kyvo-cli: this build has no chart support (it was built without Qt)\n";
    return kUsage;
#endif
}

class StderrFileErrors final : public IFileErrorReporter {
  public:
    void ShowFileError(const std::string& text, const std::string& caption) override {
        std::cerr << "kyvo-cli: " << caption << ": " << text << "\n";
    }
};

int Runner::Run() {
    StderrFileErrors fileErrors;
    TAppFiles files;
    files.Open(kProgramName, &fileErrors);
    const std::string location =
        ChooseArchiveLocation(o_.archive, PeekArchiveSettings(files.UserFile()).Location);
    try {
        const std::unique_ptr<IArchive> archive = OpenArchive(location);
        if (form_ == "material add") return Add(*archive);
        if (form_ == "material list") return List(*archive);
        if (form_ == "material retire") {
            archive->RetireMaterial(Positional(), actor_);
            return kOk;
        }
        if (form_ == "check") return Check(*archive);
        return Chart(*archive);
    } catch (const TArchiveError& e) {
        return ArchiveFailure(e, location);
    } catch (const std::exception& e) {
        std::cerr << "kyvo-cli: the archive failed: " << OneLine(e.what()) << "\n";
        return kArchiveError;
    }
}

}  // namespace

int RunQcCommand(const Options& global) {
    QcOptions o;
    o.archive = global.archive;
    std::string form;
    if (auto code = Parse(global.args, o, form)) return *code;
    Runner runner(std::move(o), std::move(form));
    return runner.Run();
}

}  // namespace kyvo::cli
