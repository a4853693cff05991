#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "sim/tests/SimClient.h"

namespace kyvo::sim::test {
namespace {

TEST(SimScenario, demoTextParsesToTheBuiltInDevice) {
    Scenario s = parseOrFail(demoScenarioText());
    EXPECT_EQ(s.eepromVersion, 6);
    EXPECT_TRUE(s.bits.SeparateResultMemory);
    EXPECT_TRUE(s.bits.ClockPresent);
    EXPECT_EQ(s.configs.size(), 3u);
    EXPECT_EQ(s.measurements.size() + s.generator.count, 25u);
    const SimTestConfig* crp = s.findConfig("crp");
    ASSERT_NE(crp, nullptr);
    ASSERT_EQ(crp->results.size(), 1u);
    EXPECT_EQ(crp->results[0].classes.size(), 3u);
    EXPECT_EQ(crp->results[0].classes[1].name, "elevated");
    EXPECT_EQ(s.findConfig("drug")->invalidText, "INVALID - repeat test");
    EXPECT_EQ(s.findConfig("panel5")->results.size(), 5u);
}

TEST(SimScenario, everyKindOfEntryIsRead) {
    Scenario s = parseOrFail(R"(
# a comment
[device]
eeprom-version = 3
firmware = 2.1.7        # trailing comment
firmware-variant = b
firmware-branch = 2
firmware-branch-revision = 7
serial = 9 8 2011 0005
bits = ClockPresent RFIDConfigSource
clock-offset = invalid
active-config = x
[memory]
result-read-offset = 0x100
[config x]
version = 4
test-id = 1 2 3 4
name = Name with  spaces
expiry = 2030-01-02
line = ref 10 6 12 100 50
line = 20
result = Value | mg/dl | 0.5 | 100 | 0x23 | class
class = 1.5 low one
result = Other
[measurement]
config = x
date = 2026-11-30 23:59:58
values = 1 nan
invalid = 0x80
[fault]
kind = close-line
command = 0x52
nth = 3
bytes = 40
)");
    EXPECT_EQ(s.eepromVersion, 3);
    EXPECT_EQ(s.firmware.main, 2);
    EXPECT_EQ(s.firmware.revision, 7);
    EXPECT_EQ(s.firmware.variant, 'b');
    EXPECT_EQ(s.firmware.branchRevision, 7);
    EXPECT_EQ(s.serial.productionDate.ProductionYear, 20);
    EXPECT_EQ(s.serial.productionDate.ProductionWeek, 11);
    EXPECT_TRUE(s.bits.RFIDConfigSource);
    EXPECT_FALSE(s.bits.SeparateResultMemory);
    EXPECT_FALSE(s.clockOffsetSeconds);
    EXPECT_EQ(s.memory.resultReadOffset, 0x100);
    const SimTestConfig& x = s.configs.at(0);
    EXPECT_EQ(x.testName, "Name with  spaces");
    EXPECT_EQ(x.expiry.MonthDay, 2);
    ASSERT_EQ(x.lines.size(), 2u);
    EXPECT_TRUE(x.lines[0].reference);
    EXPECT_EQ(x.lines[1].position, 20);
    EXPECT_FALSE(x.results[0].showValue);
    EXPECT_EQ(x.results[0].digitCfg, 0x23);
    EXPECT_EQ(x.results[0].classes[0].name, "low one");
    ASSERT_EQ(s.measurements.size(), 1u);
    EXPECT_TRUE(std::isnan(s.measurements[0].values[1]));
    ASSERT_EQ(s.faults.size(), 1u);
    EXPECT_EQ(s.faults[0].kind, FaultKind::CloseLine);
    EXPECT_EQ(s.faults[0].command, 0x52);
    EXPECT_EQ(s.faults[0].bytes, 40u);
}

TEST(SimScenario, mistakesAreReportedWithTheirLine) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"eeprom-version = 5", "line 1: 'eeprom-version' outside of any section"},
        {"[device]\neeprom-version = 7", "line 2: '7' is too large (at most 6)"},
        {"[device]\ncolour = red", "line 2: unknown key 'colour' in [device]"},
        {"[devices]", "line 1: unknown section [devices]"},
        {"[device]\nbits = ClockPresent Turbo", "line 2: unknown configuration bit 'Turbo'"},
        {"[config a]\nresult = A\nresult = B\n[config a]", "line 4: configuration 'a' given twice"},
        {"[config a]\nclass = 4 low", "line 2: a class belongs to a result given before it"},
        {"[measurement]\ndate = 2026-13", "line 2: '2026-13' is not a date (YYYY-MM-DD)"},
        {"[fault]\nkind = gremlin", "line 2: unknown fault kind 'gremlin'"},
        {"[device]\nactive-config = nope", "active-config 'nope' is not a configuration"},
        {"[measurement]\nconfig = nope", "measurement of unknown configuration 'nope'"},
        {"[memory]\nresult-start = 0x1000\nresult-stop = 0x2FFF\nresult-cfg-start = 0x2000",
         "memory: the stored configurations and the two rings overlap"},
        {"[memory]\nresult-read-offset = 0xF000", "memory: a read offset lies outside its ring"},
    };
    for (const auto& k : cases) {
        std::string error;
        EXPECT_FALSE(Scenario::parse(k.text, error)) << k.text;
        EXPECT_EQ(error, k.error) << k.text;
    }
}

TEST(SimScenario, tooManyLinesResultsOrClassesAreRefused) {
    std::string lines = "[config a]\n";
    for (int i = 0; i < 11; ++i) lines += "line = 10\n";
    std::string classes = "[config a]\nresult = A\n";
    for (int i = 0; i < 8; ++i) classes += "class = " + std::to_string(i) + " c\n";
    std::string error;
    EXPECT_FALSE(Scenario::parse(lines, error));
    EXPECT_EQ(error, "configuration 'a': at most 10 lines");
    EXPECT_FALSE(Scenario::parse(classes, error));
    EXPECT_EQ(error, "configuration 'a': at most 7 classes per result");
}

TEST(SimScenario, exampleScenariosParseAndPlay) {
    int seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(KYVO_SIM_SCENARIOS)) {
        if (entry.path().extension() != ".ini") continue;
        ++seen;
        std::string error;
        auto s = Scenario::load(entry.path().string(), error);
        ASSERT_TRUE(s) << error;
        SimDevice dev(*s);
        SimClient c(dev);
        auto ack = c.request(0xAA);
        // A scenario may well start with a fault; it must still play.
        EXPECT_TRUE(!ack || ack->code == 0x55 || ack->code == 0x45 || ack->code == 0x49 ||
                    !ack->checksumOk)
            << entry.path();
    }
    EXPECT_GT(seen, 0);
}

TEST(SimScenario, unsoundScenarioBuiltInCodeIsRefusedByTheDevice) {
    Scenario s = Scenario::demo();
    s.memory.resultStop = 0xFFFF;  // the result ring would cover the configuration ring
    EXPECT_THROW(SimDevice{s}, std::invalid_argument);
}

TEST(SimScenario, measurementsOfARemovedConfigurationAreLeftOut) {
    Scenario s = Scenario::demo();
    s.configs.resize(2);                   // without the five-result panel
    s.measurements[0].values = {1, 2, 3};  // the one-result CRP test
    SimDevice dev(s);
    SimClient c(dev);
    StoredData d = readStoredData(c, 6, true, true, true);
    EXPECT_EQ(d.results.size(), dev.storedResultCount());
    EXPECT_LT(d.results.size(), 25u);
    for (const auto& r : d.results) EXPECT_LE(r.values.size(), 2u);
}

TEST(SimScenario, missingFileIsReported) {
    std::string error;
    EXPECT_FALSE(Scenario::load("/nonexistent/x.ini", error));
    EXPECT_EQ(error, "/nonexistent/x.ini: cannot be read");
}

}  // namespace
}  // namespace kyvo::sim::test
