// The summary report of a month's measurements, read back with pdftotext.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QPageSize>
#include <filesystem>

#include "report/SummaryReport.h"
#include "report/tests/PdfFoot.h"

namespace kyvo {
namespace {

using testing::ExpectFootAlone;
using testing::ReadPdfWords;
using testing::TPdfPage;

std::string Token(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "c%04d", i);
    return buf;
}

// 500 measurements of two tests on two devices; every 7th has a comment of a
// few lines, number 250 one longer than a page.
TSummaryReport FiveHundred() {
    TSummaryReport r;
    r.Scope = "Test CRP quantitative";
    for (int i = 0; i < 500; ++i) {
        TSummaryMeasurement m;
        m.Id = i + 1;
        char date[32];
        std::snprintf(date, sizeof date, "2026-03-%02dT%02d:%02d:00", 1 + i / 20, i % 20, i % 60);
        m.DateTime = date;
        m.TestId = "12 3 1 7 1807 0042 " + std::to_string(34082560 + i);
        m.TestName = i % 5 == 0 ? "HbA1c" : "CRP quantitative";
        m.LotNr = i % 2 ? "L4711" : "L4712";
        m.DeviceSerial = i % 3 ? "1807 0042" : "1807 0043";
        m.QcFailed = i % 50 == 0;
        std::string comment = Token(i);
        if (i % 7 == 0)
            for (int k = 0; k < 30; ++k) comment += " more words";
        if (i == 250) {
            for (int k = 0; k < 900; ++k) comment += " x" + std::to_string(1000 + k);
        }
        m.Comment = comment;
        const std::string value = i % 11 == 0 ? "<5" : std::to_string(5 + i % 17) + ".5";
        m.Results.push_back({"Valid", m.TestName == "HbA1c" ? "HbA1c" : "CRP", value, "mg/l",
                             i % 17 > 10 ? "high" : "normal"});
        if (m.TestName != "HbA1c") m.Results.push_back({"Valid", "Ratio", "1.5", "", ""});
        r.Rows.push_back(std::move(m));
    }
    TTrendOptions o;
    o.TextEdgeLabel = "Text only";
    r.Charts = SummaryTrendCharts(r.Rows, o);
    return r;
}

TEST(SummaryReport, FiveHundredMeasurementsBreakBetweenLinesWithHeadsFeetAndChartsPages) {
    const TSummaryReport report = FiveHundred();
    ASSERT_EQ(report.Charts.size(), 3u);  // HbA1c; CRP and Ratio of CRP quantitative
    EXPECT_EQ(report.Charts[0].Title, "HbA1c - HbA1c");
    EXPECT_EQ(report.Charts[1].Title, "CRP quantitative - CRP");
    EXPECT_EQ(report.Charts[2].Title, "CRP quantitative - Ratio");

    const TReportInfo info{"Kyvo Data Reader", "9.8.7", "", "", EnglishText};
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("kyvo-summary-" + std::to_string(::getpid()) + ".pdf"))
                                 .string();
    std::string error;
    ASSERT_TRUE(writeSummaryReportPdf(QString::fromStdString(path), report, info,
                                      QPageSize(QPageSize::A4), error))
        << error;
    std::string pdfError;
    const auto pages = ReadPdfWords(path, &pdfError);
    ASSERT_TRUE(pdfError.empty()) << pdfError;
    std::filesystem::remove(path);
    ASSERT_GT(pages.size(), 10u);
    const int count = int(pages.size());

    // Table pages first, then one page per chart.
    const int tablePages = count - 3;
    std::vector<int> pageOfRow(500, -1);
    std::vector<std::string> longWords;
    for (int n = 0; n < count; ++n) {
        SCOPED_TRACE("page " + std::to_string(n + 1));
        const TPdfPage& page = pages[std::size_t(n)];
        const std::string text = page.Text();
        ExpectFootAlone(page, n + 1, count);
        // The head: the program with its version and the report's name.
        EXPECT_TRUE(page.Find("9.8.7") && page.Find("Summary")) << text.substr(0, 200);
        if (n < tablePages) {
            // The table's column heads on every page of it.
            for (const char* head : {"Date", "Results", "Validity", "QC", "comments"})
                EXPECT_TRUE(page.Find(head)) << head;
        }
        for (const auto& w : page.Words) {
            if (w.Text.size() == 5 && w.Text[0] == 'c' && std::isdigit(w.Text[1])) {
                const int i = std::stoi(w.Text.substr(1));
                ASSERT_EQ(pageOfRow[std::size_t(i)], -1) << w.Text << " twice";
                pageOfRow[std::size_t(i)] = n;
            }
            if (w.Text.size() == 5 && w.Text[0] == 'x') longWords.push_back(w.Text);
        }
    }
    // Every line on one page, in order: its date and its comment together.
    for (int i = 0; i < 500; ++i) {
        SCOPED_TRACE(Token(i));
        const int n = pageOfRow[std::size_t(i)];
        ASSERT_GE(n, 0) << "missing";
        ASSERT_LT(n, tablePages);
        if (i > 0) {
            EXPECT_GE(n, pageOfRow[std::size_t(i - 1)]);
        }
        char date[32];
        std::snprintf(date, sizeof date, "2026-03-%02d %02d:%02d:00", 1 + i / 20, i % 20, i % 60);
        EXPECT_NE(pages[std::size_t(n)].Text().find(date), std::string::npos);
        if (i % 50 == 0) {
            EXPECT_NE(pages[std::size_t(n)].Text().find("QC failed"), std::string::npos);
        }
    }
    // The line longer than a page goes on over the next pages, line by line.
    ASSERT_EQ(longWords.size(), 900u);
    for (int k = 0; k < 900; ++k)
        EXPECT_EQ(longWords[std::size_t(k)], "x" + std::to_string(1000 + k));
    EXPECT_GT(pageOfRow[251], pageOfRow[250] + 1);

    // Each chart on its own page with its title; text-only values at its edge.
    for (int c = 0; c < 3; ++c) {
        const std::string text = pages[std::size_t(tablePages + c)].Text();
        EXPECT_NE(text.find(report.Charts[std::size_t(c)].Title), std::string::npos) << text;
        EXPECT_FALSE(pages[std::size_t(tablePages + c)].Find("Validity"));
    }
    EXPECT_NE(pages[std::size_t(tablePages + 1)].Text().find("Text only"), std::string::npos);
    EXPECT_NE(pages[std::size_t(tablePages + 1)].Text().find("<5"), std::string::npos);
}

TEST(SummaryReport, ALinesQcFlagAndRoleComeFromTheListingAndControlsStayOffTheTrend) {
    TMeasureSet set;
    set.TestID = "12 3 1 7 1807 0042 34082561";
    set.TestName = "CRP quantitative";
    set.ResultList.push_back({"Valid", "CRP", "7.5", "mg/l", "normal"});
    TArchiveRow patient;
    patient.Id = 1;
    patient.DateTime = "2026-12-01T08:00:00";
    patient.QcFailed = true;
    TArchiveRow control = patient;
    control.Id = 2;
    control.QcFailed = false;
    control.Role = "control";
    control.ControlMaterial = "CRP-L1";
    const TSummaryMeasurement p = SummaryMeasurementOf(patient, set);
    const TSummaryMeasurement c = SummaryMeasurementOf(control, set);
    EXPECT_TRUE(p.QcFailed);
    EXPECT_TRUE(p.ControlMaterial.empty());
    EXPECT_FALSE(c.QcFailed);
    EXPECT_EQ(c.ControlMaterial, "CRP-L1");

    const auto charts = SummaryTrendCharts({p, c}, TTrendOptions{});
    ASSERT_EQ(charts.size(), 1u);
    std::vector<std::int64_t> drawn;
    for (const auto& series : charts[0].Series)
        for (const auto& point : series.Points) drawn.push_back(point.MeasurementId);
    EXPECT_EQ(drawn, std::vector<std::int64_t>{1});
}

}  // namespace
}  // namespace kyvo
