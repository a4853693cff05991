#include <gtest/gtest.h>

#include "sim/tests/SimClient.h"

namespace kyvo::sim::test {
namespace {

TEST(SimProtocol, acknowledgeIsTheFourByteFrame) {
    SimDevice dev;
    dev.receive(tByteBuffer{0xFE, 0x20, 0xAA, 0x8A});
    EXPECT_EQ(dev.takeOutput(), (tByteBuffer{0xFE, 0x20, 0x55, 0x75}));
}

TEST(SimProtocol, firmwareAndSerialFramesCarryTheScenarioIdentity) {
    Scenario s = Scenario::demo();
    s.firmware = {1, 0, 5, 'b', 2, 7, 'x'};
    s.serial.kalmiSerial = 0x01020304;
    s.serial.customer = 12;
    s.serial.project = 3;
    s.serial.productionDate.ProductionYear = 18;
    s.serial.productionDate.ProductionWeek = 7;
    s.serial.subSerial = 42;
    SimDevice dev(s);
    SimClient c(dev);

    auto fw = c.request(0xA2);
    ASSERT_TRUE(fw);
    EXPECT_EQ(fw->code, 0xA3);
    EXPECT_TRUE(fw->checksumOk);
    EXPECT_EQ(fw->payload, (tByteBuffer{1, 0, 5, 0, 'b', 2, 7, 0, 'x'}));

    auto sn = c.request(0xA4);
    ASSERT_TRUE(sn);
    EXPECT_EQ(sn->code, 0xA5);
    EXPECT_EQ(sn->payload, (tByteBuffer{4, 3, 2, 1, 12, 0, 3, 0, 18, 7, 42, 0}));
}

TEST(SimProtocol, damagedOrUnknownFramesAreAnsweredWithCommunicationErrors) {
    SimDevice dev;
    SimClient c(dev);
    struct Case {
        const char* what;
        tByteBuffer wire;
        std::uint8_t error;
    };
    const Case cases[] = {
        {"wrong checksum", {0xFE, 0x20, 0xAA, 0x8B}, 0x01},
        {"unknown code", {0xFE, 0x20, 0x77}, 0x02},
        {"read of no bytes", encodeFrame(0x52, SimClient::readRequest(0x50000, 0)), 0x43},
        {"read outside memory", encodeFrame(0x52, SimClient::readRequest(0x60000, 16)), 0x42},
        {"read across a region's end", encodeFrame(0x52, SimClient::readRequest(0x500F0, 32)),
         0x42},
        {"image before any measurement", encodeFrame(0x43, {5, 0, 0, 1, 0}), 0x30},
    };
    for (const auto& k : cases) {
        dev.receive(k.wire);
        auto f = c.take();
        ASSERT_EQ(f.size(), 1u) << k.what;
        EXPECT_EQ(f[0].code, 0x45) << k.what;
        EXPECT_EQ(f[0].payload, tByteBuffer{k.error}) << k.what;
    }
    // The device still answers normally afterwards.
    auto ack = c.request(0xAA);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->code, 0x55);
}

TEST(SimProtocol, escapedFeBytesInARequestAreTakenOnce) {
    SimDevice dev;
    SimClient c(dev);
    tByteBuffer content{0xFE, 0x01, 0xFE, 0xFE, 0x02};
    ASSERT_TRUE(c.writeMemory(0x00100, content, false));
    EXPECT_EQ(c.readMemory(0x00100, 5), content);
    EXPECT_EQ(dev.read(0x00100, 5), content);
}

TEST(SimProtocol, bytesOutsideFramesAndAbandonedFramesAreIgnored) {
    SimDevice dev;
    SimClient c(dev);
    dev.receive(tByteBuffer{0x11, 0x22, 0xFE, 0xFE});        // noise, an escaped FE with no frame
    dev.receive(tByteBuffer{0xFE, 0x20, 0x52, 0x00, 0x00});  // a read cut short
    dev.advance(600);
    EXPECT_TRUE(c.take().empty());
    auto ack = c.request(0xAA);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->code, 0x55);
    // A new start marker also ends an unfinished frame at once.
    dev.receive(tByteBuffer{0xFE, 0x20, 0x52, 0x00});
    auto again = c.request(0xAA);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->code, 0x55);
}

TEST(SimProtocol, shutdownTextEndsThePlayEvenAfterAFrame) {
    SimDevice dev;
    SimClient c(dev);
    c.send(0xAA);
    const std::string text = "shutdown\r";
    dev.receive(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    EXPECT_TRUE(dev.shutdownRequested());
    c.take();
    c.send(0xAA);
    dev.advance(1000);
    EXPECT_TRUE(c.take().empty());
}

TEST(SimProtocol, buttonControlIsAcknowledgedAndRemembered) {
    SimDevice dev;
    SimClient c(dev);
    auto lock = c.request(0xC0, {0x80});
    ASSERT_TRUE(lock);
    EXPECT_EQ(lock->code, 0x55);
    EXPECT_TRUE(dev.buttonDisabled());
    ASSERT_TRUE(c.request(0xC0, {0x00}));
    EXPECT_FALSE(dev.buttonDisabled());
}

TEST(SimProtocol, clockRunsFromTheHostClockWithTheScenarioOffset) {
    Scenario s = Scenario::demo();
    s.clockOffsetSeconds = -90;
    SimDevice dev(s, SimDevice::kDefaultHostTime);  // 2026-12-09 12:00:00
    SimClient c(dev);
    auto t = c.request(0x5A);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->code, 0x59);
    EXPECT_EQ(t->payload, (tByteBuffer{30, 58, 11, 9, 12, 26}));

    // setDateTime takes effect at once and the clock runs on from it.
    c.send(0x58, {58, 59, 23, 31, 12, 19});
    EXPECT_TRUE(c.take().empty());
    dev.advance(3000);
    auto t2 = c.request(0x5A);
    ASSERT_TRUE(t2);
    EXPECT_EQ(t2->payload, (tByteBuffer{1, 0, 0, 1, 1, 20}));

    // An invalid date makes the clock report invalid dates.
    c.send(0x58, {0, 0, 0, 0, 0, 20});
    auto t3 = c.request(0x5A);
    ASSERT_TRUE(t3);
    EXPECT_EQ(t3->payload[4], 0);
    EXPECT_FALSE(dev.deviceClock());
}

TEST(SimProtocol, tagAndDisplayTakeWrites) {
    SimDevice dev;
    SimClient c(dev);
    tByteBuffer tag(100, 0x5A);
    ASSERT_TRUE(c.writeMemory(0x40000, tag, true));
    EXPECT_EQ(c.readMemory(0x40000, 100), tag);

    const std::string text = "Hello";
    tByteBuffer lcd(text.begin(), text.end());
    lcd.push_back(0);
    tByteBuffer p{0x03, 0x00, 0x00, 0x01, 0x00, static_cast<std::uint8_t>(lcd.size()), 0x00};
    p.insert(p.end(), lcd.begin(), lcd.end());
    auto f = c.request(0x50, p);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->code, 0x51);
    EXPECT_EQ(f->payload[0], 0x03);
    EXPECT_EQ(dev.lcdText(), "Hello");

    Scenario noTag = Scenario::demo();
    noTag.rfid.present = false;
    SimDevice bare(noTag);
    SimClient cb(bare);
    tByteBuffer w{0x01, 0x00, 0x00, 0x04, 0x00, 0x01, 0x00, 0x42};
    auto refused = cb.request(0x50, w);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code, 0x47);
    EXPECT_EQ(refused->payload[0], 0x70);
}

TEST(SimProtocol, writeOutsideWritableMemoryIsRefused) {
    SimDevice dev;
    SimClient c(dev);
    struct Case {
        std::uint32_t address;
        std::uint16_t count;
        std::uint8_t error;
    };
    const Case cases[] = {{0x20000, 4, 0x41}, {0x60000, 4, 0x41}, {0x00FF0, 0x20, 0x44}};
    for (const auto& k : cases) {
        tByteBuffer p;
        tCursor cur = 0;
        bufAddByte(p, cur, 0);
        bufAddDWord(p, cur, k.address);
        bufAddWord(p, cur, k.count);
        p.resize(7 + k.count, 0x11);
        auto f = c.request(0x50, p);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->code, 0x45) << std::hex << k.address;
        EXPECT_EQ(f->payload, tByteBuffer{k.error}) << std::hex << k.address;
    }
}

}  // namespace
}  // namespace kyvo::sim::test
