#include <gtest/gtest.h>

#include <clocale>
#include <locale>
#include <string>
#include <vector>

#include "LisTestSupport.h"
#include "lis/CodeMapping.h"
#include "lis/Hl7Escape.h"
#include "lis/Hl7Message.h"

namespace kyvo::lis {
namespace {

using test::Date;
using test::Row;

TCodeMapping CrpMapping() {
    TCodeMapping m;
    m.Results.push_back({"CRP quantitative",
                         "CRP",
                         {"1988-5", "C reactive protein [Mass/volume] in Serum or Plasma", "LN"},
                         "mg/L"});
    m.Flags.push_back({"normal", "N"});
    m.Flags.push_back({"elevated", "H"});
    return m;
}

TLisSettings PracticeSettings() {
    TLisSettings s;
    s.SendingFacility = "Praxis Dr. Weiß";
    s.ReceivingApplication = "LABSYS";
    s.ReceivingFacility = "ZENTRALLABOR";
    return s;
}

TMeasureSet CrpSet() {
    TMeasureSet set;
    set.TestID = "12 3 1 7 1807 0042 34082560";
    set.TestName = "CRP quantitative";
    set.DateTime = Date(2026, 12, 2, 8, 15, 0);
    set.ResultList = {Row("CRP", "7.25", "mg/l", "normal")};
    return set;
}

std::vector<std::string> Segments(const std::string& message) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t cr; (cr = message.find('\r', start)) != std::string::npos; start = cr + 1)
        out.push_back(message.substr(start, cr - start));
    EXPECT_EQ(start, message.size()) << "message does not end with CR";
    return out;
}

TEST(Hl7Message, CrpWithPatientIsTheGoldenMessage) {
    test::BerlinTime tz;
    TMeasureSet set = CrpSet();
    set.PatientID = "P-4711";
    set.PatientBDate = "1961-04-23";
    TLisMeasurement m;
    m.Set = &set;
    m.MeasurementId = 42;
    m.Version = 1;
    m.Role = ESpecimenRole::Patient;
    m.DeviceSerial = "12 3 1807 0042";
    m.Ranges = {TReferenceRange{std::nullopt, 5.0}};

    const std::string msg = BuildOruR01(m, PracticeSettings(), CrpMapping(), test::SendTime());
    EXPECT_EQ(Segments(msg),
              (std::vector<std::string>{
                  "MSH|^~\\&|KyvoDataReader|Praxis Dr. Weiß|LABSYS|ZENTRALLABOR|"
                  "20261211140000+0100||ORU^R01^ORU_R01|KDR-42-1|P|2.5.1||||||UNICODE UTF-8",
                  "PID|1||P-4711||||19610423",
                  "ORC|RE||12 3 1 7 1807 0042 34082560",
                  "OBR|1||12 3 1 7 1807 0042 34082560|CRP quantitative^CRP quantitative^L|||"
                  "20261202081500+0100||||||||||||||||||F",
                  "OBX|1|NM|1988-5^C reactive protein [Mass/volume] in Serum or Plasma^LN||7.25|"
                  "mg/L^^UCUM|<5|N|||F|||20261202081500+0100||||12 3 1807 0042",
                  "SPM|1||||||||||P",
              }));
}

TEST(Hl7Message, CorrectedControlWithoutPatientAndUnmappedTestUsesLocalCodes) {
    test::BerlinTime tz;
    TMeasureSet set;
    set.TestID = "12 3 2 1 1807 0042 34090000";
    set.TestName = "Drug screen";
    set.DateTime = Date(2026, 7, 2, 9, 40, 10);  // summer time
    set.ResultList = {Row("THC", ">500", "ng/ml"), Row("COC", "<0.5", "ng/ml", "negative")};
    TLisMeasurement m;
    m.Set = &set;
    m.MeasurementId = 7;
    m.Version = 2;
    m.Corrected = true;
    m.Role = ESpecimenRole::Control;
    TLisSettings s;
    s.ProcessingId = EProcessingId::Training;

    const std::string msg = BuildOruR01(m, s, CrpMapping(), test::SendTime());
    EXPECT_EQ(Segments(msg),
              (std::vector<std::string>{
                  "MSH|^~\\&|KyvoDataReader||||20261211140000+0100||ORU^R01^ORU_R01|KDR-7-2|T|"
                  "2.5.1||||||UNICODE UTF-8",
                  "ORC|RE||12 3 2 1 1807 0042 34090000",
                  "OBR|1||12 3 2 1 1807 0042 34090000|Drug screen^Drug screen^L|||"
                  "20260702094010+0200||||||||||||||||||C",
                  "OBX|1|SN|Drug screen/THC^THC^L||>^500|ng/ml||>|||C|||20260702094010+0200",
                  "OBX|2|SN|Drug screen/COC^COC^L||<^0.5|ng/ml||<|||C|||20260702094010+0200",
                  "SPM|1||||||||||Q",
              }));
}

TEST(Hl7Message, AResultUnderARejectedControlSaysSoInAnOrderNoteAfterTheComment) {
    test::BerlinTime tz;
    TMeasureSet set = CrpSet();
    TLisMeasurement m;
    m.Set = &set;
    m.MeasurementId = 9;
    m.QcFailed = true;
    auto orderNotes = [&] {
        std::vector<std::string> notes;
        bool afterObr = false;
        for (const auto& seg : Segments(BuildOruR01(m, {}, CrpMapping(), test::SendTime()))) {
            if (seg.rfind("OBX", 0) == 0) break;
            if (afterObr) notes.push_back(seg);
            afterObr = afterObr || seg.rfind("OBR", 0) == 0;
        }
        return notes;
    };
    const std::string note =
        "QC failed: the newest control of this test on this device was rejected.";
    EXPECT_EQ(orderNotes(), std::vector<std::string>{"NTE|1|L|" + note + "|RE"});
    set.UserComment = "slightly lipaemic";
    m.Role = ESpecimenRole::Patient;
    EXPECT_EQ(orderNotes(),
              (std::vector<std::string>{"NTE|1|L|slightly lipaemic", "NTE|2|L|" + note + "|RE"}));
    // A control carries its own rejection in its values, never the flag.
    m.Role = ESpecimenRole::Control;
    EXPECT_EQ(orderNotes(), std::vector<std::string>{"NTE|1|L|slightly lipaemic"});
    m.Role = ESpecimenRole::Patient;
    m.QcFailed = false;
    EXPECT_EQ(orderNotes(), std::vector<std::string>{"NTE|1|L|slightly lipaemic"});
}

TEST(Hl7Message, TextValuesClassesInvalidAndExpiredRows) {
    test::BerlinTime tz;
    TMeasureSet set;
    set.TestID = "12 3 5 2 1807 0042 1";
    set.TestName = "Fertility panel";
    set.DateTime = Date(2026, 12, 3, 14, 2, 33);
    set.ResultList = {
        Row("LH", "Not a number", "IU/l"),
        Row("FSH", "", "IU/l", "elevated"),
        Row("E3G", "INVALID - repeat test", "ng/ml", "", "Invalid"),
        Row("PdG", "4.5", "ug/ml", "", "Kyvo expired"),
        Row("hCG", "2", "IU/l", "", "Ungültig"),  // German, with the lookup below
        Row("X", "3", "IU/l", "", "?!"),          // a validity nobody knows
    };
    TLisMeasurement m;
    m.Set = &set;
    m.MeasurementId = 9;
    m.Text = [](const TLangEntry& e) -> std::string {
        if (e.ID == LE_Invalid.ID) return "Ungültig";
        if (e.ID == LE_Valid.ID) return "Gültig";
        return std::string(e.Def);
    };

    const std::string msg = BuildOruR01(m, {}, CrpMapping(), test::SendTime());
    const std::vector<std::string> seg = Segments(msg);
    const std::string t = "20261203140233+0100";
    EXPECT_EQ(std::vector<std::string>(seg.begin() + 3, seg.end()),
              (std::vector<std::string>{
                  "OBX|1|ST|Fertility panel/LH^LH^L||Not a number|IU/l|||||F|||" + t,
                  "OBX|2|ST|Fertility panel/FSH^FSH^L||elevated|IU/l||H|||F|||" + t,
                  "OBX|3||Fertility panel/E3G^E3G^L|||ng/ml|||||X|||" + t,
                  "NTE|1|L|INVALID - repeat test",
                  "OBX|4|NM|Fertility panel/PdG^PdG^L||4.5|ug/ml|||||F|||" + t,
                  "NTE|1|L|Kyvo expired",
                  "OBX|5||Fertility panel/hCG^hCG^L|||IU/l|||||X|||" + t,
                  "NTE|1|L|2",
                  "OBX|6||Fertility panel/X^X^L|||IU/l|||||X|||" + t,
                  "NTE|1|L|3",
              }));
}

TEST(Hl7Message, CommentWithEverySpecialCharacterIsEscapedOnce) {
    test::BerlinTime tz;
    TMeasureSet set = CrpSet();
    set.UserComment = "Pat. \"Müller\" | re-test ^ 2 & more ~ a\\b µg ß °C\r\nline 2";
    TLisMeasurement m;
    m.Set = &set;
    m.MeasurementId = 1;
    const std::string msg = BuildOruR01(m, {}, {}, test::SendTime());
    const std::vector<std::string> seg = Segments(msg);
    ASSERT_EQ(seg.size(), 5u);
    EXPECT_EQ(seg[3],
              "NTE|1|L|Pat. \"Müller\" \\F\\ re-test \\S\\ 2 \\T\\ more \\R\\ a\\E\\b µg ß "
              "°C\\X0D\\\\X0A\\line 2");
    EXPECT_EQ(Hl7Unescape(seg[3].substr(8)), set.UserComment);
}

TEST(Hl7Message, EscapeRoundTripsEveryByte) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    const std::string escaped = Hl7Escape(all);
    for (const char c : {'|', '^', '&', '~', '\r', '\n'})
        EXPECT_EQ(escaped.find(c), std::string::npos) << int(c);
    EXPECT_EQ(Hl7Unescape(escaped), all);
}

TEST(Hl7Message, UnescapeOfForeignFields) {
    const struct {
        const char* field;
        const char* text;
    } cases[] = {
        {"a\\.br\\b", "a\rb"},       // formatted text's line break
        {"\\X0D0A\\", "\r\n"},       // several bytes in one hex escape
        {"\\H\\bold\\N\\", "bold"},  // highlighting dropped
        {"open \\F", "open \\F"},    // unterminated: kept
        {"\\XZZ\\x", "x"},           // bad hex dropped
        {"\\E\\F\\E\\", "\\F\\"},
    };
    for (const auto& c : cases) EXPECT_EQ(Hl7Unescape(c.field), c.text) << c.field;
}

TEST(Hl7Message, GermanLocaleStillWritesADecimalPoint) {
    test::BerlinTime tz;
    const char* before = std::setlocale(LC_ALL, nullptr);
    const std::string saved = before ? before : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    const std::locale oldGlobal = std::locale::global(std::locale("de_DE.UTF-8"));
    TMeasureSet set = CrpSet();
    set.ResultList = {Row("CRP", "1234.5", "mg/l"), Row("CRP2", "<0.5", "mg/l")};
    TLisMeasurement m;
    m.Set = &set;
    m.Ranges = {TReferenceRange{0.25, 5.5}};
    const std::string msg = BuildOruR01(m, {}, CrpMapping(), test::SendTime());
    std::locale::global(oldGlobal);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_NE(msg.find("|NM|1988-5^C reactive protein [Mass/volume] in Serum or Plasma^LN||1234.5|"
                       "mg/L^^UCUM|0.25-5.5|"),
              std::string::npos)
        << msg;
    EXPECT_NE(msg.find("||<^0.5|"), std::string::npos) << msg;
}

TEST(Hl7Message, RowsSharingOneCodeAreToldApartBySubId) {
    test::BerlinTime tz;
    TCodeMapping mapping;
    mapping.Results.push_back({"Drug screen", "", {"D-ANY", "Drug", "L"}, ""});
    mapping.Results.push_back({"Drug screen", "AMP", {"D-AMP", "Amphetamine", "L"}, ""});
    TMeasureSet set;
    set.TestID = "1";
    set.TestName = "Drug screen";
    set.ResultList = {Row("THC", "1", "ng/ml"), Row("AMP", "2", "ng/ml"), Row("COC", "3", "ng/ml")};
    TLisMeasurement m;
    m.Set = &set;
    const std::vector<std::string> seg = Segments(BuildOruR01(m, {}, mapping, test::SendTime()));
    ASSERT_EQ(seg.size(), 6u);
    EXPECT_EQ(seg[3], "OBX|1|NM|D-ANY^Drug^L|1|1|ng/ml|||||F");
    EXPECT_EQ(seg[4], "OBX|2|NM|D-AMP^Amphetamine^L||2|ng/ml|||||F");
    EXPECT_EQ(seg[5], "OBX|3|NM|D-ANY^Drug^L|3|3|ng/ml|||||F");
    m.Set = nullptr;
    EXPECT_EQ(BuildOruR01(m, {}, mapping, test::SendTime()), "");
}

TEST(Hl7Message, ControlIdIsStablePerVersion) {
    EXPECT_EQ(ControlIdFor(42, 1), ControlIdFor(42, 1));
    EXPECT_NE(ControlIdFor(42, 1), ControlIdFor(42, 2));
    EXPECT_NE(ControlIdFor(4, 21), ControlIdFor(42, 1));
    EXPECT_LE(ControlIdFor(999999999999, 999).size(), 20u);
}

TEST(Hl7Message, BirthDatesAreReadOnlyInUnambiguousForms) {
    const struct {
        const char* text;
        const char* hl7;
    } cases[] = {
        {"1961-04-23", "19610423"}, {"19610423", "19610423"},   {"23.04.1961", "19610423"},
        {"04/23/1961", ""},         {"1961-02-30", ""},         {"", ""},
        {"1961-4-23", ""},          {"2024-02-29", "20240229"}, {"abcdefgh", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Hl7BirthDate(c.text), c.hl7) << c.text;
}

TEST(Hl7Message, MeasurementWithoutCalendarDateHasNoObservationTime) {
    test::BerlinTime tz;
    TMeasureSet set = CrpSet();
    set.DateTime = TDateData();  // all zero: no calendar date
    TLisMeasurement m;
    m.Set = &set;
    const std::vector<std::string> seg = Segments(BuildOruR01(m, {}, {}, test::SendTime()));
    EXPECT_EQ(seg[2].rfind(
                  "OBR|1||12 3 1 7 1807 0042 34082560|CRP quantitative^CRP quantitative^L||||", 0),
              0u)
        << seg[2];
    EXPECT_EQ(seg[3], "OBX|1|NM|CRP quantitative/CRP^CRP^L||7.25|mg/l|||||F");
}

}  // namespace
}  // namespace kyvo::lis
