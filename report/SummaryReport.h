// The summary report: one table line per measurement (date, test, lot,
// device, results with units and classes, validity, QC flag, comment) over as
// many pages as it takes, lines never parted by a page break, then each
// result's trend chart on a page of its own. For a month of measurements,
// where the measurement report's page per measurement is too much.
#pragma once

#include <QDateTime>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "report/ChartData.h"
#include "report/ReportInfo.h"
#include "report/TrendChart.h"

namespace kyvo {

struct TSummaryMeasurement {
    std::int64_t Id = 0;
    std::string DateTime;  // ISO, or the device's number text without a calendar date
    std::string TestId;
    std::string TestName;
    std::string LotNr;
    std::string DeviceSerial;
    std::string Comment;
    bool QcFailed = false;  // where quality control judged its test on its device
    std::string ControlMaterial;  // set for a control: kept out of the trend charts
    std::vector<TResultSet> Results;
};

struct TSummaryReport {
    std::string Scope;  // what was chosen: the filter's terms, or the selection
    std::vector<TSummaryMeasurement> Rows;
    std::vector<TChartData> Charts;  // one page each, after the table
};

// A line of the table from an archive listing row and its measurement.
TSummaryMeasurement SummaryMeasurementOf(const TArchiveRow& row, const TMeasureSet& set);

// One trend chart per test and result name the rows hold (in the order of
// test, then result as first met), built as the archive view builds it.
std::vector<TChartData> SummaryTrendCharts(const std::vector<TSummaryMeasurement>& rows,
                                           const TTrendOptions& options);

// The report of the measurements rows names, loaded from archive, with their
// trend charts; scope says what was chosen. Throws TArchiveError.
TSummaryReport SummaryFromArchive(IArchive& archive, const std::vector<TArchiveRow>& rows,
                                  const std::string& scope, const TTrendOptions& options);

// "test CRP quantitative, lot L1, 2026-03-01 – 2026-03-31, words "x"": the
// filter's terms in a line; empty for no terms.
std::string DescribeFilter(const TArchiveFilter& filter, const TextLookup& text);

// Paints the report onto device (page size set; landscape suits it best),
// starting on its present page. False when painting cannot begin or a page
// cannot be added.
bool paintSummaryReport(QPagedPaintDevice& device, const TSummaryReport& report,
                        const TReportInfo& info, const QDateTime& createdAt);

// Writes the report as a landscape PDF at path, replacing it in one step.
bool writeSummaryReportPdf(const QString& path, const TSummaryReport& report,
                           const TReportInfo& info, const QPageSize& pageSize, std::string& error);

// For a program without a window: an offscreen Qt application when none
// runs, the page size by the user's locale.
bool WriteSummaryReportPdfOffscreen(const TSummaryReport& report, const TReportInfo& info,
                                    const std::string& path, std::string& error);

}  // namespace kyvo
