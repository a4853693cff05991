#include "cli/ExportCommand.h"

#include <array>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppFiles.h"
#include "app/Main.h"
#include "cli/ArchiveCommand.h"
#include "cli/CliOptions.h"
#include "files/AtomicFile.h"
#include "files/ResultExport.h"
#include "files/ResultFileReader.h"
#if KYVO_WITH_REPORT
#include "report/ReportInfo.h"
#endif

namespace kyvo::cli {
namespace {

constexpr const char* kProgramName = "Kyvo Data Reader";

const char* const kUsageText =
    "usage: kyvo-cli export IN.tsv --to csv|json [--lines] [--select TESTID...] [--out FILE]\n"
    "       kyvo-cli report IN.tsv --out REPORT.pdf [--select TESTID...]\n"
    "  export writes CSV (one row per result, or per line result with --lines) or JSON,\n"
    "         to standard output when no --out is given\n"
    "  report writes a PDF report, one page per measurement (no display needed)\n"
    "  --select takes one or more test IDs (quote each one: they hold blanks)\n";

struct FileOptions {
    std::string command;
    std::string input;
    std::string to;
    bool lines = false;
    std::string out;
    std::vector<std::string> select;
};

int UsageError(const std::string& what) {
    std::cerr << "kyvo-cli: " << what << "\n" << kUsageText;
    return kUsage;
}

std::optional<int> Parse(const std::vector<std::string>& args, FileOptions& o) {
    const std::size_t argc = args.size();
    for (std::size_t i = 0; i < argc; ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsageText;
            return kOk;
        } else if (a == "--to") {
            if (i + 1 >= argc) return UsageError("--to needs csv or json");
            o.to = args[++i];
            if (o.to != "csv" && o.to != "json")
                return UsageError("unknown export format \"" + o.to + "\" (csv or json)");
        } else if (a == "--out") {
            if (i + 1 >= argc) return UsageError("--out needs a file name");
            o.out = args[++i];
        } else if (a == "--lines") {
            o.lines = true;
        } else if (a == "--select") {
            const std::size_t before = o.select.size();
            while (i + 1 < argc && std::string_view(args[i + 1]).substr(0, 2) != "--")
                o.select.push_back(args[++i]);
            if (o.select.size() == before) return UsageError("--select needs one or more test IDs");
        } else if (!a.empty() && a[0] == '-') {
            return UsageError("unknown option " + a + " for " + o.command);
        } else if (o.input.empty()) {
            o.input = a;
        } else {
            return UsageError("unexpected argument " + a);
        }
    }
    if (o.input.empty()) return UsageError(o.command + " needs a result file (IN.tsv)");
    if (o.command == "export" && o.to.empty())
        return UsageError("export needs --to csv or --to json");
    if (o.command == "report" && o.out.empty()) return UsageError("report needs --out REPORT.pdf");
    if (o.command == "report" && (!o.to.empty() || o.lines))
        return UsageError("--to and --lines belong to export");
    if (o.lines && o.to != "csv") return UsageError("--lines is a CSV form (--to csv)");
    return std::nullopt;
}

class StderrFileErrors final : public IFileErrorReporter {
  public:
    void ShowFileError(const std::string& text, const std::string& caption) override {
        std::cerr << "kyvo-cli: " << caption << ": " << text << "\n";
    }
};

// Loading answers no questions; its messages are kept for the one that
// matters.
class QuietDialogs final : public IResultFileDialogs {
  public:
    explicit QuietDialogs(ILanguage& language) : language_(language) {}
    std::optional<std::string> ChooseSaveFile() override { return std::nullopt; }
    void RememberResultFile(const std::string&) override {}
    EDialogAnswer AskYesNoCancel(const TLangEntry&) override { return EDialogAnswer::Cancel; }
    void ShowMessage(const TLangEntry& text, const TLangEntry*,
                     const std::string& detail) override {
        last = language_.Text(text) + detail;
    }
    std::string last;

  private:
    ILanguage& language_;
};

std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\r' || c == '\n') c = ' ';
    return s;
}

// Reads a result file of any of the three layouts. Returns an exit status;
// a damaged line keeps the measurements before it and is reported.
int LoadAnyLayout(const std::string& path, ILanguage& language, TMeasureList& list) {
    QuietDialogs dialogs(language);
    TLoadOutcome outcome;
    for (ETSVVersion layout : {TSVVLong, TSVVShort, TSVVTobrel}) {
        outcome = LoadMeasureFile(path, layout, list, dialogs, Unsorted);
        if (outcome.Result != ELoadResult::Incompatible) break;
    }
    switch (outcome.Result) {
        case ELoadResult::Loaded:
            return kOk;
        case ELoadResult::NotFound:
            std::cerr << "kyvo-cli: " << path << ": no such file\n";
            return kFileError;
        case ELoadResult::InUse:
            std::cerr << "kyvo-cli: " << path << ": " << OneLine(dialogs.last) << "\n";
            return kFileError;
        case ELoadResult::ReadFailed:
            std::cerr << "kyvo-cli: " << outcome.Error << "\n";
            return kFileError;
        case ELoadResult::Incompatible:
            std::cerr << "kyvo-cli: " << path
                      << ": not a result file (its header matches none of the three layouts)\n";
            return kFileError;
        case ELoadResult::TooLarge:
            std::cerr << "kyvo-cli: " << OneLine(dialogs.last) << "\n";
            return kFileError;
        case ELoadResult::DamagedLine:
            std::cerr << "kyvo-cli: " << path << ": line " << outcome.DamagedLine
                      << " is damaged; only the measurements before it are used\n";
            return kFileError;
    }
    return kFileError;
}

int Run(const FileOptions& o) {
    TAppFiles files;
    StderrFileErrors fileErrors;
    files.Open(kProgramName, &fileErrors);
    ILanguage& language = files.Language();

    TMeasureList list;
    const int loaded = LoadAnyLayout(o.input, language, list);
    if (loaded != kOk && list.empty()) return loaded;

    std::vector<const TMeasureSet*> sets;
    if (o.select.empty()) {
        for (const auto& m : list) sets.push_back(m.get());
    } else {
        for (const std::string& id : o.select) {
            const TMeasureSet* found = nullptr;
            for (const auto& m : list)
                if (m->TestID == id) found = m.get();
            if (!found) {
                std::cerr << "kyvo-cli: " << o.input << " holds no measurement with test ID \""
                          << id << "\"\n";
                return kFileError;
            }
            sets.push_back(found);
        }
    }

    if (o.command == "report") {
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
        if (!WriteReportPdfOffscreen(sets, info, o.out, error)) {
            std::cerr << "kyvo-cli: " << OneLine(language.Text(LE_FileWriteError)) << o.out << ": "
                      << error << "\n";
            return kFileError;
        }
        return loaded;
#else
        std::cerr << "kyvo-cli: this build has no report support (it was built without Qt)\n";
        return kUsage;
#endif
    }

    const std::string text =
        o.to == "json" ? ExportJson(sets, {kProgramName, ProgramVersionString()})
                       : ExportCsv(sets, o.lines ? ECsvForm::LineRows : ECsvForm::ResultRows);
    if (o.out.empty()) {
        std::cout.write(text.data(), std::streamsize(text.size()));
        std::cout.flush();
        if (!std::cout) {
            std::cerr << "kyvo-cli: standard output could not be written\n";
            return kFileError;
        }
        return loaded;
    }
    std::string error;
    if (!writeFileAtomically(o.out, text, &error)) {
        std::cerr << "kyvo-cli: " << OneLine(language.Text(LE_FileWriteError)) << error << "\n";
        return kFileError;
    }
    return loaded;
}

}  // namespace

int RunFileCommand(const Options& global) {
    FileOptions o;
    o.command = global.command;
    if (auto code = Parse(global.args, o)) return *code;
    return Run(o);
}

}  // namespace kyvo::cli
