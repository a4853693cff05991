#include <gtest/gtest.h>

#include "sim/tests/SimClient.h"

namespace kyvo::sim::test {
namespace {

SimDevice deviceWith(const std::string& fault) {
    return SimDevice(parseOrFail(demoScenarioText() + "\n[fault]\n" + fault));
}

// Sends n acknowledge requests, one at a time, and tells which got an answer.
std::vector<bool> acknowledged(SimDevice& dev, SimClient& c, int n, std::uint32_t gapMs = 100) {
    std::vector<bool> got;
    for (int i = 0; i < n; ++i) {
        c.send(0xAA);
        dev.advance(gapMs);
        auto f = c.take();
        got.push_back(!f.empty() && f[0].code == 0x55);
    }
    return got;
}

TEST(SimFault, silenceAfterSomeFramesLastsForItsDuration) {
    SimDevice forever = deviceWith("kind = silence\nafter-frames = 2\ntimes = 0\n");
    SimClient c1(forever);
    EXPECT_EQ(acknowledged(forever, c1, 5), (std::vector<bool>{true, true, false, false, false}));

    SimDevice brief = deviceWith("kind = silence\nafter-frames = 1\nduration-ms = 250\n");
    SimClient c2(brief);
    EXPECT_EQ(acknowledged(brief, c2, 5), (std::vector<bool>{true, false, false, false, true}));

    SimDevice timed = deviceWith("kind = silence\nat-ms = 150\nduration-ms = 200\n");
    SimClient c3(timed);
    EXPECT_EQ(acknowledged(timed, c3, 5), (std::vector<bool>{true, true, false, false, true}));
}

TEST(SimFault, wrongChecksumOnTheNthReplyOnly) {
    SimDevice dev = deviceWith("kind = bad-checksum\nnth = 2\n");
    SimClient c(dev);
    std::vector<bool> ok;
    for (int i = 0; i < 3; ++i) {
        auto f = c.request(0xAA);
        ASSERT_TRUE(f);
        ok.push_back(f->checksumOk);
    }
    EXPECT_EQ(ok, (std::vector<bool>{true, false, true}));
}

TEST(SimFault, errorCodesAnswerTheGivenCommand) {
    struct Case {
        const char* fault;
        std::uint8_t command;
        tByteBuffer payload;
        std::uint8_t frame;
        tByteBuffer expected;
    };
    const Case cases[] = {
        {"kind = comm-error\ncommand = 0x52\ncode = 0x42\n",
         0x52,
         SimClient::readRequest(0x50000, 13),
         0x45,
         {0x42}},
        {"kind = device-error\ncommand = 0x5E\ncode = 0x11\ninfo = 3\n",
         0x5E,
         {0x00},
         0x47,
         {0x11, 0x03}},
    };
    for (const auto& k : cases) {
        SimDevice dev = deviceWith(k.fault);
        SimClient c(dev);
        EXPECT_EQ(c.request(0xAA)->code, 0x55) << "other commands are answered";
        auto f = c.request(k.command, k.payload);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->code, k.frame) << k.fault;
        EXPECT_EQ(f->payload, k.expected) << k.fault;
        // Only once: the next one is answered normally.
        auto again = c.request(k.command, k.payload, 10000);
        ASSERT_TRUE(again);
        EXPECT_NE(again->code, k.frame) << k.fault;
    }
}

TEST(SimFault, busyPeriodAnnouncesItselfIgnoresFramesAndEndsWithAnAcknowledge) {
    SimDevice dev = deviceWith("kind = busy\ncommand = 0x52\nduration-ms = 2000\n");
    SimClient c(dev);
    c.send(0x52, SimClient::readRequest(0x50000, 13));
    auto f = c.take();
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].code, 0x49);
    EXPECT_EQ(dword(f[0].payload, 0), 2000u);
    dev.advance(1000);
    c.send(0xAA);
    EXPECT_TRUE(c.take().empty());
    dev.advance(1000);
    auto end = c.take();
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end[0].code, 0x55);
    EXPECT_EQ(c.request(0xAA)->code, 0x55);
}

TEST(SimFault, shortReplyCarriesFewerBytesThanRequested) {
    SimDevice dev = deviceWith("kind = short-reply\nbytes = 5\n");
    SimClient c(dev);
    auto f = c.request(0x52, SimClient::readRequest(0x50000, 13));
    ASSERT_TRUE(f);
    ASSERT_EQ(f->code, 0x53);
    EXPECT_TRUE(f->checksumOk);
    EXPECT_EQ(word(f->payload, 5), 5);
    EXPECT_EQ(f->payload.size(), 7u + 5u);
    EXPECT_EQ(f->payload[7], 6);  // the first byte is still the EEPROM version
}

TEST(SimFault, escapedFeInEveryDataPositionDecodesToFeBytes) {
    SimDevice dev = deviceWith("kind = escaped-fe\n");
    SimClient c(dev);
    c.send(0x52, SimClient::readRequest(0x50000, 100));
    tByteBuffer wire = dev.takeOutput();
    std::size_t fe = std::count(wire.begin(), wire.end(), 0xFE);
    EXPECT_GE(fe, 1u + 2u * 105u);  // the start marker; flags, address and data doubled
    c.decoder.feed(wire);
    auto f = c.take();
    ASSERT_EQ(f.size(), 1u);
    EXPECT_TRUE(f[0].checksumOk);
    EXPECT_EQ(f[0].payload.size(), 107u);
    EXPECT_EQ(word(f[0].payload, 5), 100);
    f[0].payload.erase(f[0].payload.begin() + 5, f[0].payload.begin() + 7);
    EXPECT_TRUE(std::all_of(f[0].payload.begin(), f[0].payload.end(),
                            [](std::uint8_t b) { return b == 0xFE; }));
}

TEST(SimFault, closedLineStopsInTheMiddleOfATransfer) {
    SimDevice dev = deviceWith("kind = close-line\ncommand = 0x52\nnth = 2\nbytes = 100\n");
    SimClient c(dev);
    ASSERT_EQ(c.request(0x52, SimClient::readRequest(0x30000, 768))->code, 0x53);
    c.send(0x52, SimClient::readRequest(0x30000, 768));
    EXPECT_EQ(dev.takeOutput().size(), 100u);
    EXPECT_TRUE(dev.lineClosed());
    c.send(0xAA);
    dev.advance(1000);
    EXPECT_FALSE(dev.hasOutput());
}

}  // namespace
}  // namespace kyvo::sim::test
