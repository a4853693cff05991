#include <gtest/gtest.h>

#include "sim/tests/SimClient.h"

namespace kyvo::sim::test {
namespace {

const char* kTimerScenario = R"(
[device]
active-config = t
[config t]
test-id = 7 7 7 7
name = Timed
timer = 10
line = ref 50 10
line = 40 8
result = A | u | 0 | 100
class = 5 low
class = 50 high
result = B | u | 0 | 100
[evaluation]
values = 12.5 3.25
press-delay-ms = 1000
run-ms = 1500
image-width = 200
image-chunk = 256
)";

// Runs the device until it acknowledges the evaluation; returns every frame.
std::vector<DeviceFrame> runUntilAcknowledge(SimDevice& dev, SimClient& c, std::uint32_t maxMs) {
    std::vector<DeviceFrame> all;
    for (std::uint32_t t = 0; t < maxMs; t += 100) {
        dev.advance(100);
        for (auto& f : c.take()) all.push_back(f);
        if (!all.empty() && (all.back().code == 0x55 || all.back().code == 0x47)) break;
    }
    return all;
}

TEST(SimEvaluation, timerMeasurementPlaysCountdownPromptsResultAndImage) {
    SimDevice dev(parseOrFail(kTimerScenario));
    SimClient c(dev);
    std::size_t storedBefore = dev.storedResultCount();
    c.send(0x5E, {0x02});
    auto frames = runUntilAcknowledge(dev, c, 30000);

    std::vector<std::uint16_t> countdown;
    std::vector<std::uint8_t> order;
    int busy = 0;
    for (const auto& f : frames) {
        EXPECT_TRUE(f.checksumOk);
        if (f.code == 0x30) countdown.push_back(word(f.payload, 0));
        if (f.code == 0x49) ++busy;
        if (f.code >= 0x31 && f.code <= 0x33) order.push_back(f.code);
    }
    EXPECT_EQ(countdown, (std::vector<std::uint16_t>{10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_GE(busy, 1);  // a 10 s countdown outlasts the program's patience
    EXPECT_EQ(order, (std::vector<std::uint8_t>{0x31, 0x32, 0x33}));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().code, 0x55);
    EXPECT_EQ(dev.evaluationPhase(), EvaluationPhase::Idle);

    // The last measurement record, EEPROM version 6 layout (316 bytes).
    tByteBuffer rec = c.readMemory(0x20000, 316);
    tCursor v = 3;
    EXPECT_FLOAT_EQ(bufReadSingle(rec, v), 12.5f);
    EXPECT_FLOAT_EQ(bufReadSingle(rec, v), 3.25f);
    tCursor lines = 43;
    EXPECT_GT(bufReadSingle(rec, lines), 0.0f);  // first line's mean
    EXPECT_EQ(rec[43 + 23], 10);                 // first line's width in the 24-byte form
    tCursor classes = 43 + 240;
    std::uint16_t classOfA = bufReadWord(rec, classes);
    std::uint16_t classOfB = bufReadWord(rec, classes);
    EXPECT_NE(classOfA, 0);  // 12.5 < 50: "high"
    EXPECT_EQ(classOfB, 0);  // B has no classes
    TDateData date;
    for (int i = 0; i < 6; ++i) date.Data[i] = rec[310 + i];
    auto recorded = dateDataToSortTime(date);
    auto clockNow = dateDataToSortTime(*dev.deviceClock());
    ASSERT_TRUE(recorded && clockNow);
    EXPECT_LE(*clockNow - *recorded, 60);
    EXPECT_EQ(dev.storedResultCount(), storedBefore + 1);

    // The image: announced, then 200 16-bit samples in chunks of 256 bytes.
    auto start = c.request(0x43, {5, 0, 0, 1, 0});
    ASSERT_TRUE(start);
    EXPECT_EQ(start->code, 0x40);
    EXPECT_EQ(word(start->payload, 0), 200);
    EXPECT_EQ(word(start->payload, 2), 1);
    tByteBuffer pixels;
    for (int chunk = 0; chunk < 2; ++chunk) {
        auto f = c.request(0x43, {0, 0, 0, 0, 0});
        ASSERT_TRUE(f);
        ASSERT_EQ(f->code, 0x42);
        EXPECT_EQ(f->payload[0], 2);  // 16-bit gray
        EXPECT_EQ(word(f->payload, 1), pixels.size() / 2);
        EXPECT_EQ(word(f->payload, 5), f->payload.size() - 7);
        pixels.insert(pixels.end(), f->payload.begin() + 7, f->payload.end());
    }
    ASSERT_EQ(pixels.size(), 400u);
    for (tCursor i = 0; i < 400; i += 2) EXPECT_LE(word(pixels, i), 4095);
    c.send(0x43, {1, 0, 0, 0, 0});
    dev.advance(500);
    EXPECT_TRUE(c.take().empty());
}

TEST(SimEvaluation, withoutAutomaticPressTheDeviceWaitsForTheButtonAndReportsBusy) {
    Scenario s = parseOrFail(kTimerScenario);
    s.evaluation.autoPress = false;
    s.evaluation.whiteCard = false;
    SimDevice dev(s);
    SimClient c(dev);
    c.send(0x5E, {0x00});
    auto prompt = c.take();
    ASSERT_EQ(prompt.size(), 1u);
    EXPECT_EQ(prompt[0].code, 0x32);
    dev.advance(10000);
    auto waiting = c.take();
    ASSERT_FALSE(waiting.empty());
    for (const auto& f : waiting) EXPECT_EQ(f.code, 0x49);
    EXPECT_EQ(dev.evaluationPhase(), EvaluationPhase::WaitTestCard);
    dev.pressButton();
    auto running = c.take();
    ASSERT_FALSE(running.empty());
    EXPECT_EQ(running[0].code, 0x33);
    auto rest = runUntilAcknowledge(dev, c, 5000);
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.back().code, 0x55);
}

TEST(SimEvaluation, configurationWrittenWithUpdateBecomesActiveAndReadsBack) {
    SimDevice dev;  // demo: the stored list holds three configurations
    SimClient c(dev);
    tByteBuffer list = c.readMemory(0x30000, 0x1FFF);
    std::uint16_t first = word(list, 1);
    std::uint16_t second = word(list, first + 1);
    tByteBuffer cfg(list.begin() + first, list.begin() + first + second);
    // The byte form: its size at offset 1 and the byte sum before the last six bytes.
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 6 < cfg.size(); ++i) sum += cfg[i];
    EXPECT_EQ(dword(cfg, static_cast<tCursor>(cfg.size() - 6)), sum);

    ASSERT_NE(dev.activeConfigBytes(), cfg);
    ASSERT_TRUE(c.writeMemory(0x00000, cfg, true));
    EXPECT_EQ(dev.activeConfigBytes(), cfg);
    tByteBuffer back = c.readMemory(0x00000, dev.configMemorySize());
    EXPECT_TRUE(std::equal(cfg.begin(), cfg.end(), back.begin()));

    // A write without the update flag changes the memory but not the active one.
    tByteBuffer garbage(64, 0x33);
    ASSERT_TRUE(c.writeMemory(0x00000, garbage, false));
    EXPECT_EQ(dev.activeConfigBytes(), cfg);
}

TEST(SimEvaluation, unusableActiveConfigurationEndsInADeviceError) {
    struct Case {
        const char* what;
        tByteBuffer bytes;
        std::uint8_t error;
    };
    tByteBuffer badSum(64, 0);
    badSum[0] = 5;
    badSum[52] = 1;  // a checksum that matches nothing
    tByteBuffer hugeTexts(64, 0);
    hugeTexts[0] = 5;
    hugeTexts[29] = 0x88;  // 5000 bytes of texts, more than the device holds
    hugeTexts[30] = 0x13;
    const Case cases[] = {{"no configuration", tByteBuffer(64, 0), 0x1A},
                          {"texts beyond the string area", hugeTexts, 0x1A},
                          {"version 6", tByteBuffer{6, 64, 0}, 0x1C},
                          {"bad checksum", badSum, 0x1A}};
    for (const auto& k : cases) {
        SimDevice dev;
        SimClient c(dev);
        ASSERT_TRUE(c.writeMemory(0x00000, k.bytes, true));
        c.send(0x5E, {0x00});
        auto f = runUntilAcknowledge(dev, c, 2000);
        ASSERT_EQ(f.size(), 1u) << k.what;
        EXPECT_EQ(f[0].code, 0x47) << k.what;
        EXPECT_EQ(f[0].payload[0], k.error) << k.what;
    }
}

TEST(SimEvaluation, rfidErrorsComeFirstThenTheTagIsReadable) {
    Scenario s = Scenario::demo();
    s.rfid.failures = 2;
    s.bits.RFIDConfigSource = true;
    SimDevice dev(s);
    SimClient c(dev);
    std::vector<std::uint8_t> codes;
    DeviceFrame success;
    for (int attempt = 0; attempt < 3; ++attempt) {
        c.send(0x5E, {0x01});
        auto f = runUntilAcknowledge(dev, c, 500);
        ASSERT_EQ(f.size(), 1u);
        ASSERT_EQ(f[0].code, 0x57);
        codes.push_back(f[0].payload[0]);
        success = f[0];
    }
    EXPECT_EQ(codes, (std::vector<std::uint8_t>{0x38, 0x38, 0x00}));
    std::uint16_t size = word(success.payload, 2);
    EXPECT_EQ(size, 2048);
    EXPECT_EQ(success.payload.size(), 5u + success.payload[4]);
    tByteBuffer tag = c.readMemory(0x40000, size);
    std::uint16_t cfgSize = word(tag, 1);
    EXPECT_EQ(tag[0], 5);
    // The tag holds the "drug" configuration of the stored list.
    tByteBuffer list = c.readMemory(0x30000, 0x1FFF);
    std::uint16_t first = word(list, 1);
    EXPECT_TRUE(std::equal(tag.begin(), tag.begin() + cfgSize, list.begin() + first));
}

TEST(SimEvaluation, scenarioDeviceErrorReplacesTheResult) {
    Scenario s = Scenario::demo();
    s.evaluation.errorCode = 0x13;
    SimDevice dev(s);
    SimClient c(dev);
    std::size_t before = dev.storedResultCount();
    c.send(0x5E, {0x00});
    auto f = runUntilAcknowledge(dev, c, 10000);
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(f.back().code, 0x47);
    EXPECT_EQ(f.back().payload[0], 0x13);
    EXPECT_EQ(dev.storedResultCount(), before);
}

TEST(SimEvaluation, abortStopsARunningEvaluationWithAbortedByUserAndAnIdleOneIsAcknowledged) {
    SimDevice dev(parseOrFail(kTimerScenario));
    SimClient c(dev);
    const std::size_t storedBefore = dev.storedResultCount();
    c.send(0x5E, {0x02});
    dev.advance(3500);
    c.take();
    ASSERT_NE(dev.evaluationPhase(), EvaluationPhase::Idle);
    c.send(0x5E, {0x04});
    dev.advance(100);
    auto frames = c.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].code, 0x47);  // device error
    ASSERT_FALSE(frames[0].payload.empty());
    EXPECT_EQ(frames[0].payload[0], 0x1D);
    EXPECT_EQ(dev.evaluationPhase(), EvaluationPhase::Idle);
    // Nothing of the stopped evaluation follows, and nothing was stored.
    dev.advance(30000);
    EXPECT_TRUE(c.take().empty());
    EXPECT_EQ(dev.storedResultCount(), storedBefore);

    c.send(0x5E, {0x04});
    dev.advance(100);
    frames = c.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].code, 0x55);
}

}  // namespace
}  // namespace kyvo::sim::test
