#include <gtest/gtest.h>

#include <string>

#include "LisTestSupport.h"
#include "lis/CodeMapping.h"

namespace kyvo::lis {
namespace {

TEST(CodeMapping, ShippedExampleCoversTheDemoDevice) {
    const TMappingParse p = LoadCodeMapping(std::string(KYVO_LIS_SOURCE_DIR) + "/mapping.example");
    for (const auto& e : p.Errors) ADD_FAILURE() << MappingErrorText(e);
    const TResultCode* crp = p.Mapping.FindResult("CRP quantitative", "CRP");
    ASSERT_NE(crp, nullptr);
    EXPECT_EQ(
        crp->Code,
        (TCodedElement{"1988-5", "C reactive protein [Mass/volume] in Serum or Plasma", "LN"}));
    EXPECT_EQ(crp->Unit, "mg/L");
    // The test and result names of the simulator's demo device.
    const struct {
        const char* test;
        const char* result;
    } demo[] = {{"CRP quantitative", "CRP"}, {"Drug screen", "THC"},     {"Drug screen", "COC"},
                {"Fertility panel", "LH"},   {"Fertility panel", "FSH"}, {"Fertility panel", "E3G"},
                {"Fertility panel", "PdG"},  {"Fertility panel", "hCG"}};
    for (const auto& d : demo) {
        EXPECT_NE(p.Mapping.FindResult(d.test, d.result), nullptr) << d.test << " / " << d.result;
        EXPECT_NE(p.Mapping.FindTest(d.test), nullptr) << d.test;
    }
    EXPECT_EQ(p.Mapping.FindTest("CRP quantitative")->Specimen,
              (TCodedElement{"SER", "Serum", "HL70487"}));
    ASSERT_NE(p.Mapping.FindFlag("elevated"), nullptr);
    EXPECT_EQ(p.Mapping.FindFlag("elevated")->Flag, "H");
}

TEST(CodeMapping, NamesMatchWithoutCaseAndAResultLineWinsOverTheWholeTest) {
    const TMappingParse p = ParseCodeMapping(
        "\xEF\xBB\xBF# comment\r\n"
        "\r\n"
        "result | Drug Screen |     | D-ANY | Any drug | L\r\n"
        "result | drug screen | thc | D-THC | THC      | L | ng/mL\r\n"
        "  flag | Positiv     | POS\n"
        "test|Drug screen|D|Drug screen|L");
    ASSERT_TRUE(p.Errors.empty()) << MappingErrorText(p.Errors.front());
    ASSERT_NE(p.Mapping.FindResult("DRUG SCREEN", "THC"), nullptr);
    EXPECT_EQ(p.Mapping.FindResult("DRUG SCREEN", "THC")->Code.Code, "D-THC");
    EXPECT_EQ(p.Mapping.FindResult("Drug screen", "COC")->Code.Code, "D-ANY");
    EXPECT_EQ(p.Mapping.FindResult("Drug screen", "COC")->Unit, "");
    EXPECT_EQ(p.Mapping.FindResult("Other", "THC"), nullptr);
    EXPECT_EQ(p.Mapping.FindFlag("positiv")->Flag, "POS");
    EXPECT_EQ(p.Mapping.FindTest("drug screen")->Code.Code, "D");
}

TEST(CodeMapping, BadLinesAreReportedWithTheirNumbersAndTheRestStillCounts) {
    const TMappingParse p = ParseCodeMapping(
        "# line 1\n"
        "result | CRP quantitative | CRP | 1988-5 | CRP | LN | mg/L\n"  // 2: good
        "result | CRP quantitative | CRP | 1988-5 | CRP\n"              // 3: too few fields
        "result | | CRP | 1 | x | L\n"                                  // 4: no test name
        "result | CRP quantitative | crp | 2 | x | L\n"                 // 5: twice
        "flag | high | VERYHIGH\n"                                      // 6: no HL7 flag
        "flag | | H\n"                                                  // 7: no class
        "colour | red | blue\n"                                         // 8: unknown record
        "test | Drug screen | | x | L\n"                                // 9: no code
        "test | Drug screen | D | x | L | S^s^L | extra\n"              // 10: too many fields
        "result | T | R | C | \xC3\x28 | L\n"                           // 11: not UTF-8
        "flag | high | H\n"                                             // 12: good
        "flag | High | HH\n"                                            // 13: twice
        "test | T2 | C | x | L | SER^Serum\n"                           // 14: specimen w/o system
        "test | T3 | C | x | L | SER^Serum^HL70487\n");                 // 15: good
    std::vector<int> lines;
    for (const auto& e : p.Errors) lines.push_back(e.Line);
    EXPECT_EQ(lines, (std::vector<int>{3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 14}));
    EXPECT_EQ(p.Mapping.FindTest("T3")->Specimen.System, "HL70487");
    EXPECT_EQ(p.Mapping.Results.size(), 1u);
    EXPECT_EQ(p.Mapping.Flags.size(), 1u);
    EXPECT_EQ(p.Mapping.FindFlag("high")->Flag, "H");
    EXPECT_EQ(MappingErrorText(p.Errors.front()).rfind("mapping line 3: ", 0), 0u);
}

TEST(CodeMapping, UnreadableFileIsOneError) {
    const TMappingParse p = LoadCodeMapping("/nonexistent/kyvo/mapping.txt");
    ASSERT_EQ(p.Errors.size(), 1u);
    EXPECT_EQ(p.Errors[0].Line, 0);
}

}  // namespace
}  // namespace kyvo::lis
