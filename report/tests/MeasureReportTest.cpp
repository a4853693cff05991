// The per-measurement PDF report read back as its reader sees it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDateTime>
#include <QPageSize>
#include <filesystem>

#include "report/MeasureReport.h"
#include "report/tests/PdfFoot.h"

namespace kyvo {
namespace {

using testing::ExpectFootAlone;
using testing::ReadPdfWords;
using testing::TPdfPage;

std::string TempPdf(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            (name + "-" + std::to_string(::getpid()) + ".pdf"))
        .string();
}

TMeasureSet Measurement(const std::string& id, const std::string& comment) {
    TMeasureSet m;
    m.TestID = id;
    m.TestName = "CRP quantitative";
    m.LotNr = "L4711";
    m.Voltage = "3712";
    m.Temperature = "22.51";
    setDateData(m.DateTime, 26, 3, 5, 9, 30, 0);
    m.ResultList.push_back({"Valid", "CRP", "7.25", "mg/l", "normal"});
    m.UserComment = comment;
    return m;
}

TEST(MeasureReport, LongCommentGoesOnToNewPagesNeverIntoTheFoot) {
    std::string comment;
    const int words = 1500;
    for (int i = 0; i < words; ++i) comment += "w" + std::to_string(10000 + i) + " ";
    const TMeasureSet longOne = Measurement("1 2 3 4 1807 0001 1", comment);
    const TMeasureSet next = Measurement("1 2 3 4 1807 0001 2", "short");
    TReportInfo info{"Kyvo Data Reader", "9.8.7", "1807 0001", "FW 2.13", EnglishText};
    const std::string path = TempPdf("kyvo-long-comment");
    std::string error;
    ASSERT_TRUE(writeMeasureReportPdf(QString::fromStdString(path), {&longOne, &next}, info,
                                      QPageSize(QPageSize::A4), error))
        << error;
    std::string pdfError;
    const auto pages = ReadPdfWords(path, &pdfError);
    ASSERT_TRUE(pdfError.empty()) << pdfError;
    std::filesystem::remove(path);
    ASSERT_GE(pages.size(), 4u);
    const int count = int(pages.size());

    std::vector<std::string> seen;
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE("page " + std::to_string(i + 1));
        const TPdfPage& page = pages[std::size_t(i)];
        ExpectFootAlone(page, i + 1, count);
        // Every page has the head with the program and its version.
        EXPECT_NE(page.Text().find("Kyvo Data Reader 9.8.7"), std::string::npos);
        for (const auto& w : page.Words)
            if (w.Text.size() == 6 && w.Text[0] == 'w') seen.push_back(w.Text);
    }
    // The whole comment, in order, each word once.
    ASSERT_EQ(seen.size(), std::size_t(words));
    for (int i = 0; i < words; ++i)
        EXPECT_EQ(seen[std::size_t(i)], "w" + std::to_string(10000 + i));

    // The next measurement starts a page of its own; units on device values.
    const std::string last = pages.back().Text();
    EXPECT_NE(last.find("1807 0001 2"), std::string::npos);
    EXPECT_NE(last.find("short"), std::string::npos);
    EXPECT_EQ(pages[std::size_t(count - 2)].Text().find("short"), std::string::npos);
    const std::string first = pages.front().Text();
    EXPECT_NE(first.find("3712 mV"), std::string::npos) << first;
    EXPECT_NE(first.find("22.51 °C"), std::string::npos) << first;
}

}  // namespace
}  // namespace kyvo
