#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "protocol/KyvoCommand.h"
#include "protocol/tests/KyvoTestSupport.h"

namespace kyvo {
namespace {

using test::RecordingSender;
using test::wireFrame;

std::string hex(const tByteBuffer& b) {
    std::string s;
    for (auto x : b) {
        if (!s.empty()) s += ' ';
        s += errorCodeHex(x);
    }
    return s;
}

tDateTime at(int y, unsigned mo, unsigned d, int h, int mi, int s) {
    using namespace std::chrono;
    return local_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
}

TEST(KyvoCommandSend, readDataProducesTheKnownFrame) {
    RecordingSender port;
    tKyvoCommand kyvo(port);
    kyvo.readData(0x20000, 768);
    EXPECT_EQ(hex(port.sent), "FE 20 52 00 00 00 02 00 00 03 73");
    EXPECT_TRUE(port.queued.empty());
    EXPECT_EQ(port.transmissions, 1);
}

TEST(KyvoCommandSend, everyCommandSendsItsCodeAndPayload) {
    struct Case {
        const char* name;
        std::function<void(tKyvoCommand&)> command;
        std::uint8_t code;
        tByteBuffer payload;
    };
    const tByteBuffer three{0x11, 0x22, 0x33};
    const Case cases[] = {
        {"getAcknowledge", [](auto& k) { k.getAcknowledge(); }, 0xAA, {}},
        {"getFirmwareVersion", [](auto& k) { k.getFirmwareVersion(); }, 0xA2, {}},
        {"getSerial", [](auto& k) { k.getSerial(); }, 0xA4, {}},
        {"readData zero",
         [](auto& k) { k.readData(0x50000, 0); },
         0x52,
         {0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00}},
        {"readData negative",
         [](auto& k) { k.readData(0x50000, -7); },
         0x52,
         {0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00}},
        {"readData beyond 16 bits is capped",
         [](auto& k) { k.readData(0x30000, 70000); },
         0x52,
         {0x00, 0x00, 0x00, 0x03, 0x00, 0xFF, 0xFF}},
        {"writeData update reset",
         [&](auto& k) { k.writeData(0x40000, three, true, true, 0, 3, false); },
         0x50,
         {0x03, 0x00, 0x00, 0x04, 0x00, 0x03, 0x00, 0x11, 0x22, 0x33}},
        {"writeData savePermanent only",
         [&](auto& k) { k.writeData(0x300, three, false, false, 1, 2, true); },
         0x50,
         {0x10, 0x00, 0x03, 0x00, 0x00, 0x02, 0x00, 0x22, 0x33}},
        {"writeData negative count takes the rest",
         [&](auto& k) { k.writeData(0, three, false, false, 1, -1, false); },
         0x50,
         {0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x22, 0x33}},
        {"writeData count past the buffer is cut to what is there",
         [&](auto& k) { k.writeData(0, three, false, false, 2, 50, false); },
         0x50,
         {0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x33}},
        {"writeData offset past the buffer sends nothing",
         [&](auto& k) { k.writeData(0, three, false, false, 9, -1, false); },
         0x50,
         {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {"getImage plain",
         [](auto& k) { k.getImage(1, false, false); },
         0x43,
         {0x02, 0x00, 0x00, 0x01, 0x00}},
        {"getImage cut",
         [](auto& k) { k.getImage(0x0102, true, false); },
         0x43,
         {0x03, 0x00, 0x00, 0x02, 0x01}},
        {"getImage 16 bit",
         [](auto& k) { k.getImage(1, false, true); },
         0x43,
         {0x04, 0x00, 0x00, 0x01, 0x00}},
        {"getImage cut 16 bit",
         [](auto& k) { k.getImage(1, true, true); },
         0x43,
         {0x05, 0x00, 0x00, 0x01, 0x00}},
        {"getImageNext",
         [](auto& k) { k.getImageNext(0x0201, 7, false); },
         0x43,
         {0x00, 0x01, 0x02, 0x07, 0x00}},
        {"getImageNext finished",
         [](auto& k) { k.getImageNext(0, 0, true); },
         0x43,
         {0x01, 0x00, 0x00, 0x00, 0x00}},
        {"setDateTime",
         [](auto& k) { k.setDateTime(at(2019, 12, 31, 23, 59, 58)); },
         0x58,
         {0x3A, 0x3B, 0x17, 0x1F, 0x0C, 0x13}},
        {"setDateTime year byte wraps",
         [](auto& k) { k.setDateTime(at(1999, 1, 2, 3, 4, 5)); },
         0x58,
         {0x05, 0x04, 0x03, 0x02, 0x01, 0xFF}},
        {"getDateTime", [](auto& k) { k.getDateTime(); }, 0x5A, {}},
        {"setButtonControl enable", [](auto& k) { k.setButtonControl(false); }, 0xC0, {0x00}},
        {"setButtonControl disable", [](auto& k) { k.setButtonControl(true); }, 0xC0, {0x80}},
        {"evaluate", [](auto& k) { k.evaluate(false, false); }, 0x5E, {0x00}},
        {"evaluate from tag with timer", [](auto& k) { k.evaluate(true, true); }, 0x5E, {0x03}},
        {"evaluate with timer", [](auto& k) { k.evaluate(false, true); }, 0x5E, {0x02}},
        {"abortEvaluation", [](auto& k) { k.abortEvaluation(); }, 0x5E, {0x04}},
        {"FormatDB all", [](auto& k) { k.FormatDB(true); }, 0x5F, {0x01}},
        {"FormatDB results", [](auto& k) { k.FormatDB(false); }, 0x5F, {0x00}},
        {"capture",
         [](auto& k) { k.capture(0x1234, 3, true, false, true, false, true); },
         0x5C,
         {0x15, 0x34, 0x12, 0x03}},
        {"capture cut filtered",
         [](auto& k) { k.capture(1, 1, false, true, false, true, false); },
         0x5C,
         {0x0A, 0x01, 0x00, 0x01}},
        {"getRFIDState", [](auto& k) { k.getRFIDState(); }, 0x56, {}},
        {"resetKyvo", [](auto& k) { k.resetKyvo(); }, 0xAF, {}},
        {"runBootloader", [](auto& k) { k.runBootloader(); }, 0xA1, {}},
        {"sendToLCD",
         [](auto& k) { k.sendToLCD("Hi\xE9"); },
         0x50,
         {0x03, 0x00, 0x00, 0x01, 0x00, 0x04, 0x00, 'H', 'i', 0xE9, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingSender port;
        tKyvoCommand kyvo(port);
        c.command(kyvo);
        EXPECT_EQ(hex(port.sent), hex(wireFrame(c.code, c.payload)));
        EXPECT_TRUE(port.queued.empty());
        EXPECT_EQ(port.transmissions, 1);
    }
}

TEST(KyvoCommandSend, startMarkerValuesAreDoubledInPayloadAndChecksum) {
    RecordingSender port;
    tKyvoCommand kyvo(port);
    // 0x20 ^ 0x50 ^ 0x01 ^ 0x8F = 0xFE: the checksum itself must be escaped.
    kyvo.writeData(0, tByteBuffer{0x8F}, false, false, 0, 1, false);
    EXPECT_EQ(hex(port.sent), "FE 20 50 00 00 00 00 00 01 00 8F FE FE");

    port.clear();
    kyvo.writeData(0xFE, tByteBuffer{0xFE}, false, false, 0, 1, false);
    EXPECT_EQ(hex(port.sent), "FE 20 50 00 FE FE 00 00 00 01 00 FE FE 71");
}

TEST(KyvoCommandSend, aFrameOverTheLimitRaisesAndLeavesWhatWasQueued) {
    RecordingSender port;
    tKyvoCommand kyvo(port);
    // writeData has 7 payload bytes before its data.
    const tByteBuffer fits(kMaxSendPayload - 7, 0x01);
    kyvo.writeData(0, fits, false, false, 0, -1, false);
    EXPECT_EQ(port.sent.size(), 1u + kFrameLimit - 1);  // marker, then 16383 bytes
    EXPECT_EQ(port.transmissions, 1);

    port.clear();
    const tByteBuffer tooLong(kMaxSendPayload - 6, 0x01);
    try {
        kyvo.writeData(0, tooLong, false, false, 0, -1, false);
        FAIL() << "no overflow raised";
    } catch (const eCommandBufferOverflow& e) {
        EXPECT_STREQ(e.what(), "Transmitt buffer overflow in tKyvoCommand");
    }
    // Everything but the checksum was handed over; nothing was transmitted.
    EXPECT_EQ(port.queued.size(), 1u + kFrameLimit - 1);
    EXPECT_EQ(port.transmissions, 0);

    // The next command is framed from scratch.
    port.clear();
    kyvo.getAcknowledge();
    EXPECT_EQ(hex(port.sent), "FE 20 AA 8A");
}

TEST(KyvoCommandSend, plainTextGoesOutUnframed) {
    RecordingSender port;
    tKyvoCommand kyvo(port);
    kyvo.sendString("shutdown\r");
    EXPECT_EQ(std::string(port.sent.begin(), port.sent.end()), "shutdown\r");
    EXPECT_EQ(port.transmissions, 1);

    port.clear();
    kyvo.sendString(std::string_view("\xFE\x00", 2));  // not escaped either
    EXPECT_EQ(hex(port.sent), "FE 00");
}

TEST(KyvoCommandSend, aHandlerMaySendWhileAFrameIsBeingReceived) {
    RecordingSender port;
    tKyvoCommand kyvo(port);
    int acks = 0;
    kyvo.onAcknowledge = [&](tKyvoCommand& sender) {
        ++acks;
        sender.getSerial();
    };
    for (auto b : wireFrame(0x55, {})) kyvo.handleByte(b);
    for (auto b : wireFrame(0x55, {})) kyvo.handleByte(b);
    EXPECT_EQ(acks, 2);
    EXPECT_EQ(hex(port.sent), hex(test::concat({wireFrame(0xA4, {}), wireFrame(0xA4, {})})));
}

TEST(KyvoCommand, readerDatesWrapTheFreeFunctions) {
    using namespace std::chrono;
    const year_month_day d{year{2018}, month{7}, day{23}};
    EXPECT_EQ(tKyvoCommand::toReaderDate(d), (23u << 24) | (7u << 16) | 2018u);
    EXPECT_EQ(tKyvoCommand::fromReaderDate(tKyvoCommand::toReaderDate(d)), d);
}

TEST(KyvoCommandSend, everyCommandOfTheTableFramesThePayloadLengthItsEntryGives) {
    const tByteBuffer data{0x11, 0x22, 0x33};
    const std::map<std::uint8_t, std::function<void(tKyvoCommand&)>> encoders{
        {0xAA, [](auto& k) { k.getAcknowledge(); }},
        {0xA2, [](auto& k) { k.getFirmwareVersion(); }},
        {0xA4, [](auto& k) { k.getSerial(); }},
        {0x52, [](auto& k) { k.readData(0x1000, 16); }},
        {0x50, [&](auto& k) { k.writeData(0x1000, data, false, false, 0, -1, false); }},
        {0x43, [](auto& k) { k.getImage(1, false, false); }},
        {0x58, [](auto& k) { k.setDateTime(at(2020, 1, 2, 3, 4, 5)); }},
        {0x5A, [](auto& k) { k.getDateTime(); }},
        {0xC0, [](auto& k) { k.setButtonControl(true); }},
        {0x5E, [](auto& k) { k.evaluate(false, true); }},
        {0x5F, [](auto& k) { k.FormatDB(false); }},
        {0x5C, [](auto& k) { k.capture(1, 1, false, false, false, false, false); }},
        {0x56, [](auto& k) { k.getRFIDState(); }},
        {0xAF, [](auto& k) { k.resetKyvo(); }},
        {0xA1, [](auto& k) { k.runBootloader(); }},
    };
    EXPECT_EQ(kWireCommands.size(), encoders.size());
    for (const auto& rule : kWireCommands) {
        SCOPED_TRACE(errorCodeHex(rule.code));
        const auto encoder = encoders.find(rule.code);
        ASSERT_NE(encoder, encoders.end());
        RecordingSender port;
        tKyvoCommand kyvo(port);
        encoder->second(kyvo);
        ASSERT_GE(port.sent.size(), 4u);
        EXPECT_EQ(port.sent[2], rule.code);
        const std::size_t payload = port.sent.size() - 4;  // marker, space, code, checksum
        EXPECT_EQ(payload, rule.payload + (rule.variable ? data.size() : 0u));
    }
}

}  // namespace
}  // namespace kyvo
