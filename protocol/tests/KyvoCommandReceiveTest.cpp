#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "protocol/KyvoCommand.h"
#include "protocol/tests/KyvoTestSupport.h"

namespace kyvo {
namespace {

using test::concat;
using test::RecordingSender;
using test::wireFrame;

std::string bytesText(const tByteBuffer& b) {
    std::string s = "[";
    for (std::size_t i = 0; i < b.size(); ++i) s += (i ? " " : "") + errorCodeHex(b[i]);
    return s + "]";
}

// A protocol object with every event wired to a log line.
class Receiver {
  public:
    Receiver() : kyvo(port) {
        auto n = [](auto v) { return std::to_string(v); };
        kyvo.onAcknowledge = [this](tKyvoCommand&) { log.push_back("ack"); };
        kyvo.onFirmwareVersion = [this, n](tKyvoCommand&, const tFirmwareVersion& v) {
            log.push_back("firmware " + n(v.main) + " " + n(v.sub) + " " + n(v.revision) + " " +
                          n(int(v.variant)) + " " + n(v.branch) + " " + n(v.branchRevision) + " " +
                          n(int(v.suffix)));
        };
        kyvo.onCommunicationError = [this, n](tKyvoCommand&, eComError e) {
            log.push_back("comError " + n(int(e)));
        };
        kyvo.onKyvoError = [this, n](tKyvoCommand&, eKyvoError e, std::uint8_t info) {
            log.push_back("kyvoError " + n(int(e)) + " " + n(info));
        };
        kyvo.onWriteSuccess = [this, n](tKyvoCommand&, std::uint8_t f, std::uint32_t a,
                                        std::int32_t c) {
            log.push_back("written " + n(f) + " " + n(a) + " " + n(c));
        };
        kyvo.onDataReaded = [this, n](tKyvoCommand&, std::uint8_t f, std::uint32_t a,
                                      tByteBuffer& data) {
            log.push_back("data " + n(f) + " " + n(a) + " " + bytesText(data));
            kept = std::move(data);
        };
        kyvo.onRFIDStatus = [this, n](tKyvoCommand&, eKyvoError e, std::uint8_t tag,
                                      std::int32_t size, tByteBuffer& data) {
            log.push_back("rfid " + n(int(e)) + " " + n(tag) + " " + n(size) + " " +
                          bytesText(data));
        };
        kyvo.onUnknownCommand = [this, n](tKyvoCommand&, std::uint8_t code) {
            log.push_back("unknown " + n(code));
        };
        kyvo.onImageTransferStart = [this, n](tKyvoCommand&, std::uint16_t w, std::uint16_t h) {
            log.push_back("imageStart " + n(w) + " " + n(h));
        };
        kyvo.onImageData = [this, n](tKyvoCommand&, eColorMode m, std::int32_t x, std::int32_t y,
                                     tByteBuffer& data) {
            log.push_back("image " + n(int(m)) + " " + n(x) + " " + n(y) + " " + bytesText(data));
        };
        kyvo.onDateTime = [this](tKyvoCommand&, tDateTime t, bool valid) {
            using namespace std::chrono;
            if (!valid) {
                log.push_back("date invalid");
                return;
            }
            const auto d = floor<days>(t);
            const year_month_day ymd{d};
            const hh_mm_ss hms{t - d};
            log.push_back("date " + std::to_string(int(ymd.year())) + "-" +
                          std::to_string(unsigned(ymd.month())) + "-" +
                          std::to_string(unsigned(ymd.day())) + " " +
                          std::to_string(hms.hours().count()) + ":" +
                          std::to_string(hms.minutes().count()) + ":" +
                          std::to_string(hms.seconds().count()));
        };
        kyvo.onSerial = [this, n](tKyvoCommand&, const tSerial& s) {
            log.push_back("serial " + n(s.kalmiSerial) + " " + n(s.customer) + " " + n(s.project) +
                          " " + n(s.productionDate.ProductionYear) + " " +
                          n(s.productionDate.ProductionWeek) + " " + n(s.subSerial));
        };
        kyvo.onDeviceBusy = [this, n](tKyvoCommand&, std::uint32_t ms) {
            log.push_back("busy " + n(ms));
        };
        kyvo.onShowTimer = [this, n](tKyvoCommand&, std::uint16_t s) {
            log.push_back("timer " + n(s));
        };
        kyvo.onPlaceWhiteCard = [this](tKyvoCommand&) { log.push_back("whiteCard"); };
        kyvo.onPlaceTestCard = [this](tKyvoCommand&) { log.push_back("testCard"); };
        kyvo.onEvaluationRun = [this](tKyvoCommand&) { log.push_back("evaluating"); };
        kyvo.onStateUpdate = [this, n](tKyvoCommand&, std::uint16_t s) {
            log.push_back("state " + n(s));
        };
    }

    // Feeds the bytes; returns handleByte's result for each.
    std::vector<bool> feed(const tByteBuffer& bytes) {
        std::vector<bool> results;
        for (auto b : bytes) results.push_back(kyvo.handleByte(b));
        return results;
    }

    RecordingSender port;
    tKyvoCommand kyvo;
    std::vector<std::string> log;
    tByteBuffer kept;
};

using Log = std::vector<std::string>;

TEST(KyvoCommandReceive, everyDeviceFrameRaisesItsEventWithItsArguments) {
    struct Case {
        std::uint8_t code;
        tByteBuffer payload;
        std::string event;
    };
    const Case cases[] = {
        {0x30, {0x0A, 0x01}, "timer 266"},
        {0x31, {}, "whiteCard"},
        {0x32, {}, "testCard"},
        {0x33, {}, "evaluating"},
        {0x40, {0x80, 0x02, 0x01, 0x00}, "imageStart 640 1"},
        {0x42,
         {0x02, 0x03, 0x00, 0x04, 0x01, 0x03, 0x00, 0xAA, 0xFE, 0xCC},
         "image 2 3 260 [AA FE CC]"},
        {0x45, {0x02}, "comError 2"},
        {0x47, {0x13, 0x07}, "kyvoError 19 7"},
        {0x49, {0xD0, 0x07, 0x00, 0x00}, "busy 2000"},
        {0x51, {0x11, 0x00, 0x00, 0x04, 0x00, 0xE0, 0x01}, "written 17 262144 480"},
        {0x53, {0x01, 0x00, 0x00, 0x02, 0x00, 0x02, 0x00, 0x5A, 0x00}, "data 1 131072 [5A 00]"},
        {0x55, {}, "ack"},
        {0x57, {0x00, 0x02, 0x00, 0x01, 0x02, 0x10, 0x20}, "rfid 0 2 256 [10 20]"},
        {0x57, {0x31, 0x00, 0x00, 0x00, 0x00}, "rfid 49 0 0 []"},
        {0x59, {0x3A, 0x3B, 0x17, 0x1F, 0x0C, 0x13}, "date 2019-12-31 23:59:58"},
        {0x59, {0x00, 0x00, 0x00, 0x1D, 0x02, 0x14}, "date 2020-2-29 0:0:0"},
        {0x59, {0x00, 0x00, 0x00, 0x01, 0x00, 0x13}, "date invalid"},  // month 0
        {0x59, {0x00, 0x00, 0x00, 0x1D, 0x02, 0x13}, "date invalid"},  // 29 February 2019
        {0x59, {0x00, 0x00, 0x18, 0x01, 0x01, 0x13}, "date invalid"},  // hour 24
        {0x59, {0x3C, 0x00, 0x00, 0x01, 0x01, 0x13}, "date invalid"},  // second 60
        {0xA3, {0x01, 0x02, 0x24, 0x00, 'b', 0x02, 0x07, 0x00, 0x00}, "firmware 1 2 36 98 2 7 0"},
        {0xA5,
         {0x78, 0x56, 0x34, 0x12, 0x0C, 0x00, 0x03, 0x00, 0x12, 0x07, 0x2A, 0x00},
         "serial 305419896 12 3 18 7 42"},
        {0xD0, {0x34, 0x12}, "state 4660"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.event);
        Receiver r;
        r.feed(wireFrame(c.code, c.payload));
        EXPECT_EQ(r.log, Log{c.event});
    }
}

TEST(KyvoCommandReceive, byteStreamsFollowTheFramingRules) {
    const tByteBuffer ack{0xFE, 0x20, 0x55, 0x75};
    const tByteBuffer busy = wireFrame(0x49, {0xD0, 0x07, 0x00, 0x00});
    struct Case {
        const char* name;
        tByteBuffer stream;
        Log events;
    };
    const Case cases[] = {
        {"an acknowledge frame", ack, {"ack"}},
        {"bytes before the first start marker are ignored",
         concat({{0x20, 0x55, 0x75, 0x01}, ack}),
         {"ack"}},
        {"a wrong checksum drops the frame and the next is handled",
         concat({{0xFE, 0x20, 0x55, 0x76}, ack}),
         {"ack"}},
        {"a first byte other than space drops the frame",
         concat({{0xFE, 0x21, 0x55, 0x74}, ack}),
         {"ack"}},
        {"a doubled marker outside a frame is ignored and the third starts one",
         concat({{0xFE, 0xFE}, ack}),
         {"ack"}},
        {"a doubled marker inside a payload is one data byte",
         wireFrame(0x53, {0x00, 0xFE, 0x00, 0x00, 0x00, 0x01, 0x00, 0xFE}),
         {"data 0 254 [FE]"}},
        {"a checksum of 0xFE arrives doubled",
         {0xFE, 0x20, 0x45, 0x9B, 0xFE, 0xFE},
         {"comError 155"}},
        {"a frame that resets ignores the bytes after it",
         concat({ack, {0x00, 0x20, 0x55, 0x75}}),
         {"ack"}},
        {"a frame that stays open is raised again by an extra zero byte",
         concat({busy, {0x00}}),
         {"busy 2000", "busy 2000"}},
        {"a frame that stays open is dropped by an extra non-zero byte",
         concat({busy, {0x01, 0x00, 0x00}}),
         {"busy 2000"}},
        {"a frame that stays open followed by a marker leaves no trace",
         concat({busy, ack}),
         {"busy 2000", "ack"}},
        {"an open serial frame is raised again by a zero byte",
         concat({wireFrame(0xA5, tByteBuffer(12, 0)), {0x00}}),
         {"serial 0 0 0 0 0 0", "serial 0 0 0 0 0 0"}},
        {"an unknown code is reported for every byte after it",
         concat({{0xFE, 0x20, 0x77, 0x01, 0x02}, ack}),
         {"unknown 119", "unknown 119", "ack"}},
        {"an unknown code without a further byte is not reported yet", {0xFE, 0x20, 0x77}, {}},
        {"a data frame split across a marker-free stream completes once",
         concat({wireFrame(0x53, {0x00, 0x00, 0x00, 0x03, 0x00, 0x03, 0x00, 1, 2, 3}), {0x00}}),
         {"data 0 196608 [01 02 03]"}},
        {"an image frame with a length of zero never completes and is abandoned",
         concat({{0xFE, 0x20, 0x42, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
                 tByteBuffer(20000, 0x00),
                 ack}),
         {"ack"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Receiver r;
        r.feed(c.stream);
        EXPECT_EQ(r.log, c.events);
    }
}

TEST(KyvoCommandReceive, handleByteTellsIgnoredAndRejectedBytes) {
    Receiver r;
    EXPECT_EQ(r.feed({0x01}), std::vector<bool>{false});  // no frame open
    EXPECT_EQ(r.feed({0xFE, 0x20, 0x55, 0x75}), (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(r.feed({0x00}), std::vector<bool>{false});  // after a reset
    EXPECT_EQ(r.feed({0xFE, 0x21, 0x00}), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(r.feed({0x00}), std::vector<bool>{false});  // third byte: not a space
    EXPECT_EQ(r.feed({0xFE, 0x20, 0x77, 0x00}), (std::vector<bool>{true, true, true, false}));
    // A known code reports true while waiting and on completion.
    EXPECT_EQ(r.feed(wireFrame(0x47, {0x01, 0x02})),
              (std::vector<bool>{true, true, true, true, true, true}));
}

TEST(KyvoCommandReceive, aFrameIsAbandonedAfterTheReceiveLimit) {
    Receiver r;
    // A data frame announcing 0 bytes means 65536 and cannot fit.
    const tByteBuffer header{0xFE, 0x20, 0x53, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    auto results = r.feed(header);
    EXPECT_TRUE(results.back());
    // 9 bytes are stored so far; the limit is 16384.
    results = r.feed(tByteBuffer(kFrameLimit - 9, 0x00));
    EXPECT_TRUE(results.back());
    EXPECT_EQ(r.feed({0x00, 0x00}), (std::vector<bool>{false, false}));
    EXPECT_TRUE(r.log.empty());
    r.feed({0xFE, 0x20, 0x55, 0x75});
    EXPECT_EQ(r.log, Log{"ack"});
}

TEST(KyvoCommandReceive, theLargestDataFrameThatFitsIsDelivered) {
    Receiver r;
    const std::size_t n = kFrameLimit - 10;  // space, code, 7 header bytes, checksum
    tByteBuffer payload{0x00,
                        0x00,
                        0x00,
                        0x03,
                        0x00,
                        static_cast<std::uint8_t>(n),
                        static_cast<std::uint8_t>(n >> 8)};
    for (std::size_t i = 0; i < n; ++i) payload.push_back(static_cast<std::uint8_t>(i * 7));
    r.feed(wireFrame(0x53, payload));
    ASSERT_EQ(r.log.size(), 1u);
    ASSERT_EQ(r.kept.size(), n);
    EXPECT_EQ(r.kept, tByteBuffer(payload.begin() + 7, payload.end()));
}

TEST(KyvoCommandReceive, unassignedEventsStillConsumeAndResetTheirFrames) {
    RecordingSender port;
    tKyvoCommand kyvo(port);
    int acks = 0;
    kyvo.onAcknowledge = [&](tKyvoCommand&) { ++acks; };
    auto feed = [&](const tByteBuffer& bytes) {
        bool last = false;
        for (auto b : bytes) last = kyvo.handleByte(b);
        return last;
    };
    feed(wireFrame(0x53, {0x00, 0x00, 0x00, 0x03, 0x00, 0x02, 0x00, 0x01, 0x02}));
    EXPECT_FALSE(feed({0x00}));  // reset: the trailing byte is ignored
    feed(wireFrame(0x57, {0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(feed({0x00}));  // not reset: the frame is still open
    for (std::uint8_t code :
         {0x30, 0x31, 0x32, 0x33, 0x40, 0x42, 0x45, 0x47, 0x49, 0x51, 0x59, 0xA3, 0xA5, 0xD0})
        feed(wireFrame(code, tByteBuffer(12, 0x00)));
    feed(wireFrame(0x55, {}));
    EXPECT_EQ(acks, 1);
}

}  // namespace
}  // namespace kyvo

namespace kyvo {
namespace {

TEST(KyvoCommandReceive, bytesFedFromInsideAHandlerAreNotLostWhenItReturns) {
    // A handler that shows a dialog runs a nested event loop, which may
    // deliver more received bytes before the handler returns.
    test::RecordingSender port;
    tKyvoCommand kyvo(port);
    std::vector<std::string> log;
    kyvo.onDataReaded = [&](tKyvoCommand& k, std::uint8_t, std::uint32_t, tByteBuffer&) {
        log.push_back("data");
        for (std::uint8_t b : {0xFE, 0x20, 0x55}) k.handleByte(b);
    };
    kyvo.onAcknowledge = [&](tKyvoCommand&) { log.push_back("ack"); };
    for (auto b : test::wireFrame(0x53, {0, 0, 0, 0, 0, 1, 0, 9})) kyvo.handleByte(b);
    kyvo.handleByte(0x75);
    EXPECT_EQ(log, (std::vector<std::string>{"data", "ack"}));
}

TEST(KyvoCommandReceive, aHandlerMayReplaceItsOwnEvent) {
    test::RecordingSender port;
    tKyvoCommand kyvo(port);
    std::vector<std::string> log;
    const std::string first = "first handler with a long enough text to live on the heap";
    kyvo.onAcknowledge = [&, first](tKyvoCommand& k) {
        k.onAcknowledge = [&](tKyvoCommand&) { log.push_back("second"); };
        log.push_back(first);  // still alive after the replacement
    };
    for (int i = 0; i < 2; ++i)
        for (auto b : test::wireFrame(0x55, {})) kyvo.handleByte(b);
    EXPECT_EQ(log, (std::vector<std::string>{first, "second"}));
}

}  // namespace
}  // namespace kyvo

namespace kyvo {
namespace {

TEST(KyvoCommandReceive, garbageNeverStopsTheNextSoundFrame) {
    // Random bytes, rich in start markers and known codes, in many seeds:
    // whatever state they leave, the next start marker resynchronises.
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        test::RecordingSender port;
        tKyvoCommand kyvo(port);
        int acks = 0;
        bool lastWasAck = false;
        kyvo.onAcknowledge = [&](tKyvoCommand&) {
            ++acks;
            lastWasAck = true;
        };
        kyvo.onUnknownCommand = [&](tKyvoCommand&, std::uint8_t) { lastWasAck = false; };
        kyvo.onDataReaded = [&](tKyvoCommand&, std::uint8_t, std::uint32_t, tByteBuffer& d) {
            ASSERT_LE(d.size(), static_cast<std::size_t>(kFrameLimit));
            lastWasAck = false;
        };
        std::uint32_t x = seed;
        const std::uint8_t pool[] = {0xFE, 0xFE, 0x20, 0x20, 0x53, 0x42, 0x57, 0x55, 0x00, 0x01};
        for (int i = 0; i < 20000; ++i) {
            x = x * 1664525u + 1013904223u;
            const std::uint8_t b = (x >> 28) < 10 ? pool[(x >> 24) % 10] : std::uint8_t(x >> 16);
            kyvo.handleByte(b);
        }
        // A lone marker may be pending: the frame's own marker then makes a
        // data byte 0xFE, so lead with a byte that settles it.
        kyvo.handleByte(0x00);
        acks = 0;
        for (auto b : test::wireFrame(0x55, {})) kyvo.handleByte(b);
        EXPECT_EQ(acks, 1);
        EXPECT_TRUE(lastWasAck);
    }
}

// The table's lengths and reset column drive the state machine; the codes
// and the frames that stay open are pinned here as literals so that a wrong
// table entry is caught.
TEST(KyvoCommandReceive, eachDeviceFrameCompletesAtItsLengthAndStaysOpenOnlyWhereItShould) {
    const std::vector<std::uint8_t> open{0x30, 0x31, 0x32, 0x33, 0x49, 0x57, 0xA5, 0xD0};
    std::vector<std::uint8_t> codes;
    for (const auto& rule : kDeviceFrames) {
        SCOPED_TRACE(errorCodeHex(rule.code));
        codes.push_back(rule.code);
        // A payload of the table's length; a counted frame carries 2 data bytes.
        tByteBuffer payload(static_cast<std::size_t>(rule.payload), 0x00);
        if (rule.length == flByteCount) payload.back() = 2;
        if (rule.length == flWordCount) payload[payload.size() - 2] = 2;
        if (rule.code == dfDateTime) payload = {0, 0, 0, 1, 1, 20};
        if (rule.length != flFixed) payload.insert(payload.end(), {0x00, 0x00});
        const tByteBuffer frame = wireFrame(rule.code, payload);
        Receiver r;
        r.feed(tByteBuffer(frame.begin(), frame.end() - 1));
        EXPECT_TRUE(r.log.empty()) << "complete before its checksum";
        r.feed({frame.back()});
        ASSERT_EQ(r.log.size(), 1u);
        EXPECT_EQ(r.log[0].find("unknown"), std::string::npos) << r.log[0];
        // A zero byte after the frame keeps the checksum: an open frame fires again.
        r.feed({0x00});
        const bool staysOpen = std::find(open.begin(), open.end(), rule.code) != open.end();
        EXPECT_EQ(r.log.size(), staysOpen ? 2u : 1u);
        EXPECT_EQ(rule.resets, !staysOpen);
    }
    EXPECT_EQ(codes,
              (std::vector<std::uint8_t>{0x30, 0x31, 0x32, 0x33, 0x40, 0x42, 0x45, 0x47, 0x49, 0x51,
                                         0x53, 0x55, 0x57, 0x59, 0xA3, 0xA5, 0xD0}));
}

}  // namespace
}  // namespace kyvo
