#include "cli/SummaryCommand.h"

#include <iostream>

#include "app/Main.h"
#include "cli/CliOptions.h"
#if KYVO_WITH_REPORT
#include "report/SummaryReport.h"
#endif

namespace kyvo::cli {

int WriteArchiveSummary(IArchive& archive, const TArchiveFilter& filter, const std::string& out,
                        ILanguage& language) {
    TArchiveFilter byDate = filter;
    byDate.Sort = EArchiveSort::DateTime;
    byDate.Descending = false;
    const std::vector<TArchiveRow> rows = archive.List(byDate);
    if (rows.empty()) {
        std::cerr << "kyvo-cli: " << language.Text(LE_NothingToExport) << "\n";
        return kFileError;
    }
#if KYVO_WITH_REPORT
    const TextLookup text = [&language](const TLangEntry& e) { return language.Text(e); };
    TTrendOptions trend;
    trend.InvalidTexts = {EnglishText(LE_Invalid), text(LE_Invalid)};
    trend.TextEdgeLabel = text(LE_TrendTextOnly);
    const std::string terms = DescribeFilter(filter, text);
    std::string scope = text(LE_SummaryScopeFilter);
    const auto at = scope.find("%1");
    if (at != std::string::npos) scope.replace(at, 2, terms.empty() ? text(LE_SummaryAll) : terms);
    const TSummaryReport report = SummaryFromArchive(archive, rows, scope, trend);
    TReportInfo info;
    info.ProgramName = "Kyvo Data Reader";
    info.ProgramVersion = ProgramVersionString();
    info.Text = text;
    std::string error;
    if (!WriteSummaryReportPdfOffscreen(report, info, out, error)) {
        std::cerr << "kyvo-cli: " << language.Text(LE_FileWriteError) << out << ": " << error
                  << "\n";
        return kFileError;
    }
    std::cout << "summary report of " << rows.size() << " measurements written to " << out << "\n";
    return kOk;
#else
    (void)out;
    std::cerr << "kyvo-cli: this build has no report support (it was built without Qt)\n";
    return kUsage;
#endif
}

}  // namespace kyvo::cli
