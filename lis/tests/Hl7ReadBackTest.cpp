// Every kind of message the builder makes, read by python3-hl7 (a parser the
// project did not write) and compared field by field after its unescaping.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LisTestSupport.h"
#include "lis/Hl7Message.h"

namespace kyvo::lis {
namespace {

using test::Date;
using test::Row;

struct TField {
    std::string Segment;
    int N, Field, Rep, Comp;
    std::string Text;
};

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void ExpectReadBack(const std::string& name, const std::string& message,
                    const std::vector<std::string>& segments, const std::vector<TField>& fields) {
    std::string json = "{\"segments\": [";
    for (std::size_t i = 0; i < segments.size(); ++i)
        json += (i ? ", " : "") + JsonString(segments[i]);
    json += "], \"fields\": [";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const TField& f = fields[i];
        json += (i ? ", [" : "[") + JsonString(f.Segment) + ", " + std::to_string(f.N) + ", " +
                std::to_string(f.Field) + ", " + std::to_string(f.Rep) + ", " +
                std::to_string(f.Comp) + ", " + JsonString(f.Text) + "]";
    }
    json += "]}";
    const std::string msgPath = test::TempPath(name + ".hl7");
    const std::string expPath = test::TempPath(name + ".json");
    test::WriteFile(msgPath, message);
    test::WriteFile(expPath, json);
    const test::TPythonRun run = test::RunPython("hl7_readback.py", {msgPath, expPath});
    std::remove(msgPath.c_str());
    std::remove(expPath.c_str());
    if (run.Status == 77) GTEST_SKIP() << "python3 with python3-hl7 is missing: " << run.Output;
    EXPECT_EQ(run.Status, 0) << name << ":\n" << run.Output;
}

TCodeMapping Mapping() {
    TCodeMapping m;
    m.Results.push_back({"CRP quantitative",
                         "CRP",
                         {"1988-5", "C reactive protein [Mass/volume] in Serum or Plasma", "LN"},
                         "mg/L"});
    m.Flags.push_back({"elevated", "H"});
    m.Tests.push_back({"CRP quantitative",
                       {"1988-5", "C reactive protein [Mass/volume] in Serum or Plasma", "LN"},
                       {"SER", "Serum", "HL70487"}});
    return m;
}

TEST(Hl7ReadBack, MessagesReadBackWithPython3Hl7) {
    test::BerlinTime tz;
    TLisSettings settings;
    settings.SendingFacility = "Praxis Dr. Weiß & Partner";  // a delimiter in a setting
    settings.ReceivingApplication = "LAB^SYS";

    TMeasureSet crp;
    crp.TestID = "12 3 1 7 1807 0042 34082560";
    crp.TestName = "CRP quantitative";
    crp.DateTime = Date(2026, 12, 2, 8, 15, 0);
    crp.PatientID = "P|47~11";
    crp.PatientBDate = "23.04.1961";
    crp.UserComment = "Pat. \"Müller\" | re-test ^ 2 & more ~ a\\b µg ß °C\r\nline 2\nline 3";
    crp.ResultList = {Row("CRP", "57.5", "mg/l", "elevated")};
    TLisMeasurement m;
    m.Set = &crp;
    m.MeasurementId = 42;
    m.Version = 3;
    m.Role = ESpecimenRole::Patient;
    m.DeviceSerial = "12 3 1807 0042";
    m.Ranges = {TReferenceRange{std::nullopt, 5.0}};
    ExpectReadBack("patient", BuildOruR01(m, settings, Mapping(), test::SendTime()),
                   {"MSH", "PID", "ORC", "OBR", "NTE", "OBX", "SPM"},
                   {
                       {"MSH", 1, 4, 1, 1, "Praxis Dr. Weiß & Partner"},
                       {"MSH", 1, 5, 1, 1, "LAB^SYS"},
                       {"MSH", 1, 7, 1, 1, "20261211140000+0100"},
                       {"MSH", 1, 9, 1, 1, "ORU"},
                       {"MSH", 1, 9, 1, 2, "R01"},
                       {"MSH", 1, 9, 1, 3, "ORU_R01"},
                       {"MSH", 1, 10, 1, 1, "KDR-42-3"},
                       {"MSH", 1, 11, 1, 1, "P"},
                       {"MSH", 1, 12, 1, 1, "2.5.1"},
                       {"MSH", 1, 18, 1, 1, "UNICODE UTF-8"},
                       {"PID", 1, 3, 1, 1, "P|47~11"},
                       {"PID", 1, 7, 1, 1, "19610423"},
                       {"OBR", 1, 3, 1, 1, "12 3 1 7 1807 0042 34082560"},
                       {"OBR", 1, 7, 1, 1, "20261202081500+0100"},
                       {"NTE", 1, 3, 1, 1, crp.UserComment},
                       {"OBX", 1, 2, 1, 1, "NM"},
                       {"OBX", 1, 3, 1, 1, "1988-5"},
                       {"OBX", 1, 3, 1, 2, "C reactive protein [Mass/volume] in Serum or Plasma"},
                       {"OBX", 1, 3, 1, 3, "LN"},
                       {"OBX", 1, 5, 1, 1, "57.5"},
                       {"OBX", 1, 6, 1, 1, "mg/L"},
                       {"OBX", 1, 6, 1, 3, "UCUM"},
                       {"OBX", 1, 7, 1, 1, "<5"},
                       {"OBX", 1, 8, 1, 1, "H"},
                       {"OBX", 1, 11, 1, 1, "F"},
                       {"OBX", 1, 14, 1, 1, "20261202081500+0100"},
                       {"OBX", 1, 18, 1, 1, "12 3 1807 0042"},
                       {"OBR", 1, 4, 1, 1, "1988-5"},
                       {"OBR", 1, 4, 1, 3, "LN"},
                       {"SPM", 1, 4, 1, 1, "SER"},
                       {"SPM", 1, 4, 1, 3, "HL70487"},
                       {"SPM", 1, 11, 1, 1, "P"},
                   });

    TMeasureSet drug;
    drug.TestID = "12 3 2 1 1807 0042 34090000";
    drug.TestName = "Drug screen";
    drug.DateTime = Date(2026, 7, 2, 9, 40, 10);
    drug.ResultList = {Row("THC", ">500", "ng/ml"),
                       Row("COC", "INVALID | repeat", "ng/ml", "", "Invalid"),
                       Row("AMP", "Not a number", "ng/ml")};
    TLisMeasurement d;
    d.Set = &drug;
    d.MeasurementId = 7;
    d.Version = 2;
    d.Corrected = true;
    d.Role = ESpecimenRole::Control;
    ExpectReadBack("control", BuildOruR01(d, {}, Mapping(), test::SendTime()),
                   {"MSH", "ORC", "OBR", "OBX", "OBX", "NTE", "OBX", "SPM"},
                   {
                       {"MSH", 1, 10, 1, 1, "KDR-7-2"},
                       {"OBR", 1, 25, 1, 1, "C"},
                       {"OBX", 1, 2, 1, 1, "SN"},
                       {"OBX", 1, 3, 1, 1, "Drug screen/THC"},
                       {"OBX", 1, 3, 1, 3, "L"},
                       {"OBX", 1, 5, 1, 1, ">"},
                       {"OBX", 1, 5, 1, 2, "500"},
                       {"OBX", 1, 8, 1, 1, ">"},
                       {"OBX", 1, 11, 1, 1, "C"},
                       {"OBX", 1, 14, 1, 1, "20260702094010+0200"},
                       {"OBX", 2, 2, 1, 1, ""},
                       {"OBX", 2, 5, 1, 1, ""},
                       {"OBX", 2, 11, 1, 1, "X"},
                       {"NTE", 1, 3, 1, 1, "INVALID | repeat"},
                       {"OBX", 3, 2, 1, 1, "ST"},
                       {"OBX", 3, 5, 1, 1, "Not a number"},
                       {"SPM", 1, 11, 1, 1, "Q"},
                   });

    TMeasureSet panel;
    panel.TestID = "12 3 5 2 1807 0042 1";
    panel.TestName = "Fertility panel";
    panel.DateTime = Date(2026, 12, 3, 14, 2, 33);
    panel.UserComment = "first line\rsecond line\r\nthird ~ line";
    panel.ResultList = {Row("LH", "Not a number", "IU/l"), Row("FSH", "", "IU/l", "elevated"),
                        Row("PdG", "4.5", "ug/ml", "", "Kyvo expired"),
                        Row("hCG", "<2", "IU/l", "elevated")};
    TLisMeasurement f;
    f.Set = &panel;
    f.MeasurementId = 8;
    f.DeviceSerial = "12|3";
    ExpectReadBack("panel", BuildOruR01(f, settings, Mapping(), test::SendTime()),
                   {"MSH", "ORC", "OBR", "NTE", "OBX", "OBX", "OBX", "NTE", "OBX"},
                   {
                       {"NTE", 1, 3, 1, 1, panel.UserComment},
                       {"OBX", 1, 2, 1, 1, "ST"},
                       {"OBX", 1, 5, 1, 1, "Not a number"},
                       {"OBX", 1, 18, 1, 1, "12|3"},
                       {"OBX", 2, 2, 1, 1, "ST"},
                       {"OBX", 2, 5, 1, 1, "elevated"},
                       {"OBX", 2, 8, 1, 1, "H"},
                       {"OBX", 3, 2, 1, 1, "NM"},
                       {"OBX", 3, 5, 1, 1, "4.5"},
                       {"OBX", 3, 11, 1, 1, "F"},
                       {"NTE", 2, 3, 1, 1, "Kyvo expired"},
                       {"OBX", 4, 2, 1, 1, "SN"},
                       {"OBX", 4, 5, 1, 1, "<"},
                       {"OBX", 4, 5, 1, 2, "2"},
                       {"OBX", 4, 8, 1, 1, "H"},
                       {"OBX", 4, 8, 2, 1, "<"},
                   });
}

}  // namespace
}  // namespace kyvo::lis
