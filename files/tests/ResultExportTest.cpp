#include "files/ResultExport.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

namespace kyvo {
namespace {

TDateData Date(int y, int mo, int d, int h, int mi, int s) {
    TDateData t{};
    t.Year = std::uint8_t(y - 2000);
    t.Month = std::uint8_t(mo);
    t.MonthDay = std::uint8_t(d);
    t.Hour = std::uint8_t(h);
    t.Minutes = std::uint8_t(mi);
    t.Seconds = std::uint8_t(s);
    return t;
}

TMeasureSet SampleSet() {
    TMeasureSet m;
    m.TestID = "1 2 3 4 1807 0042 33752069";
    m.TestName = "CRP";
    m.LotNr = "L-17";
    m.Distr_Manu = "Maker";
    m.DateTime = Date(2017, 3, 15, 14, 5, 9);
    m.Voltage = "2950";
    m.Temperature = "23.50";
    m.ResultList.push_back({"Valid", "CRP", "5.6", "mg/l", ""});
    m.ResultList.push_back({"Valid", "Band", "<0.5", "", "neg"});
    return m;
}

// The process locale of the window is the user's; a German one writes
// "12,5" through printf-style formatting.
class GermanNumericLocale {
  public:
    GermanNumericLocale() {
        const char* old = std::setlocale(LC_ALL, nullptr);
        saved_ = old ? old : "C";
        active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    }
    ~GermanNumericLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
    bool active() const { return active_; }

  private:
    std::string saved_;
    bool active_ = false;
};

TEST(ResultExport, resultValueNumberReadsOnlyPlainDecimalsWithPoint) {
    struct Case {
        const char* text;
        bool isNumber;
        double value;
    } cases[] = {
        {"5.6", true, 5.6}, {"12", true, 12},   {"-3.25", true, -3.25},     {"0", true, 0},
        {"<0.5", false, 0}, {">100", false, 0}, {"Not a number", false, 0}, {"", false, 0},
        {"1,5", false, 0},  {".", false, 0},    {"5.", false, 0},           {"-", false, 0},
        {"1e5", false, 0},  {" 5", false, 0},   {"nan", false, 0},
    };
    for (const Case& c : cases) {
        const auto v = ResultValueNumber(c.text);
        EXPECT_EQ(c.isNumber, v.has_value()) << c.text;
        if (v && c.isNumber) {
            EXPECT_DOUBLE_EQ(c.value, *v) << c.text;
        }
    }
}

TEST(ResultExport, isoDateTimeOnlyForCalendarDates) {
    EXPECT_EQ("2017-03-15T14:05:09", IsoDateTime(Date(2017, 3, 15, 14, 5, 9)));
    EXPECT_EQ("2024-02-29T00:00:00", IsoDateTime(Date(2024, 2, 29, 0, 0, 0)));
    EXPECT_EQ("", IsoDateTime(Date(2023, 2, 29, 0, 0, 0)));
    EXPECT_EQ("", IsoDateTime(Date(2017, 0, 15, 14, 5, 9)));
    EXPECT_EQ("", IsoDateTime(Date(2017, 3, 15, 24, 0, 0)));
}

TEST(ResultExport, csvHasBomHeaderCrLfAndQuotesAsRfc4180) {
    TMeasureSet m = SampleSet();
    m.UserComment = "said \"retest\", later";
    m.TestName = "two\nlines";
    const std::string csv = ExportCsv({&m}, ECsvForm::ResultRows);
    ASSERT_EQ(0u, csv.rfind("\xEF\xBB\xBFtest_id,test_name,", 0));
    EXPECT_NE(std::string::npos,
              csv.find(",\"two\nlines\",L-17,Maker,2017-03-15T14:05:09,03/15/2017 14:05:09,"
                       "\"said \"\"retest\"\", later\",2950,23.5,1,CRP,5.6,5.6,mg/l,,Valid\r\n"));
    EXPECT_NE(std::string::npos, csv.find(",2,Band,,<0.5,,neg,Valid\r\n"));
    // Header plus two rows, every row ended by CR LF.
    std::size_t rows = 0;
    for (std::size_t p = csv.find("\r\n"); p != std::string::npos; p = csv.find("\r\n", p + 2))
        ++rows;
    EXPECT_EQ(3u, rows);
}

TEST(ResultExport, aMeasurementWithoutResultRowsKeepsOneCsvRow) {
    TMeasureSet m = SampleSet();
    m.ResultList.clear();
    const std::string csv = ExportCsv({&m}, ECsvForm::ResultRows);
    EXPECT_NE(std::string::npos, csv.find("\r\n1 2 3 4 1807 0042 33752069,CRP,"));
    EXPECT_NE(std::string::npos, csv.find(",2950,23.5,,,,,,,\r\n"));
}

TEST(ResultExport, lineFormHasOneRowPerLineResultWithNotANumberLeftEmpty) {
    TMeasureSet m = SampleSet();
    m.MeasureResult.LineCount = 2;
    m.MeasureResult.Results().Line[0] = {12.5f, 1, 2, 3, 4, 100.25f, 7, 120, 5};
    m.MeasureResult.Results().Line[1] = {
        std::numeric_limits<float>::quiet_NaN(), 1, 2, 3, 4, 5, 8, -3, 4};
    const std::string csv = ExportCsv({&m}, ECsvForm::LineRows);
    EXPECT_NE(std::string::npos, csv.find(",line_no,mean_value,"));
    EXPECT_NE(std::string::npos, csv.find(",1,12.5,1,2,3,4,100.25,7,120,5\r\n"));
    EXPECT_NE(std::string::npos, csv.find(",2,,1,2,3,4,5,8,-3,4\r\n"));
}

TEST(ResultExport, numbersKeepThePointUnderAGermanProcessLocale) {
    GermanNumericLocale german;
    if (!german.active()) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    TMeasureSet m = SampleSet();
    m.MeasureResult.LineCount = 1;
    m.MeasureResult.Results().Line[0].MeanValue = 1234.5f;
    const std::string csv = ExportCsv({&m}, ECsvForm::LineRows);
    const std::string json = ExportJson({&m}, {"Kyvo Data Reader", "V1.5.062"});
    EXPECT_NE(std::string::npos, csv.find(",1234.5,"));
    EXPECT_NE(std::string::npos, json.find("\"meanValue\": 1234.5,"));
    EXPECT_NE(std::string::npos, json.find("\"temperature\": 23.5,"));
    EXPECT_EQ(std::string::npos, json.find("1234,5"));
    EXPECT_EQ(std::string::npos, json.find("1.234"));
}

TEST(ResultExport, jsonHoldsNullForWhatIsNoNumberAndEscapesTexts) {
    TMeasureSet m = SampleSet();
    m.Voltage = "";
    m.UserComment = "tab\there \"quoted\" back\\slash \x01";
    m.DateTime = Date(2017, 0, 15, 14, 5, 9);
    m.MeasureResult.LineCount = 1;
    m.MeasureResult.Results().Line[0].MeanValue = std::numeric_limits<float>::infinity();
    m.OrigImage.assign(kMaxImageValues, -1);
    m.OrigImage[0] = 100;
    m.OrigImage[1] = 300;
    m.OrigImage[3] = 7;  // after the first negative entry: not part of the image
    m.ImgMin = "100";
    m.ImgMax = "300";
    const std::string json = ExportJson({&m}, {"Kyvo Data Reader", "V1.5.062"});
    EXPECT_NE(std::string::npos, json.find("\"voltage\": null,"));
    EXPECT_NE(std::string::npos, json.find("\"dateTime\": null,"));
    EXPECT_NE(std::string::npos, json.find("\"value\": null, \"valueText\": \"<0.5\""));
    EXPECT_NE(std::string::npos, json.find("\"value\": 5.6, \"valueText\": \"5.6\""));
    EXPECT_NE(std::string::npos, json.find("\"meanValue\": null,"));
    EXPECT_NE(std::string::npos,
              json.find("\"userComment\": \"tab\\there \\\"quoted\\\" back\\\\slash \\u0001\""));
    EXPECT_NE(std::string::npos,
              json.find("\"image\": {\"min\": 100, \"max\": 300, \"values\": [100, 300]}"));
}

TEST(ResultExport, anEmptySelectionGivesAnEmptyButWellFormedDocument) {
    EXPECT_EQ(
        "{\n  \"format\": \"kyvo-measurements\",\n  \"formatVersion\": 1,\n  \"program\": "
        "{\"name\": \"K\", \"version\": \"V\"},\n  \"measurements\": []\n}\n",
        ExportJson({}, {"K", "V"}));
}

}  // namespace
}  // namespace kyvo
