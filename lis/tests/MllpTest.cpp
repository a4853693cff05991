#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LisTestSupport.h"
#include "TestLis.h"
#include "lis/Hl7Ack.h"
#include "lis/Hl7Message.h"
#include "lis/Mllp.h"

namespace kyvo::lis {
namespace {

using namespace std::chrono_literals;

TEST(MllpFraming, FramesAreCutOutOfAnyChunking) {
    const std::string a = "MSH|^~\\&|a\rMSA|AA|1\r";
    const std::string b = std::string(
        "MSH|b\x1C"
        "x\r",
        8);  // a lone 0x1C inside
    const std::string stream = "noise" + MllpFrame(a) + "\r\n" + MllpFrame(b);
    for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{7}, stream.size()}) {
        TMllpDeframer d;
        std::vector<std::string> got;
        for (std::size_t i = 0; i < stream.size(); i += chunk) {
            d.Feed(std::string_view(stream).substr(i, chunk));
            while (auto f = d.Next()) got.push_back(*f);
        }
        EXPECT_EQ(got, (std::vector<std::string>{a, b})) << "chunk " << chunk;
        EXPECT_FALSE(d.InFrame());
    }
}

TEST(MllpFraming, RestartedAndOversizedFramesAreDropped) {
    TMllpDeframer d(8);
    d.Feed("\x0bhalf\x0bwhole\x1c\r");
    EXPECT_EQ(d.Next(), std::optional<std::string>("whole"));
    d.Feed(
        "\x0b"
        "0123456789\x1c\r\x0bok\x1c\r");
    EXPECT_EQ(d.Next(), std::optional<std::string>("ok"));
    EXPECT_FALSE(d.Next());
    EXPECT_TRUE(d.Overflowed());
}

using test::TestLis;

std::string Message(std::int64_t id) {
    static TMeasureSet set = [] {
        TMeasureSet s;
        s.TestID = "12 3 1 7 1807 0042 34082560";
        s.TestName = "CRP quantitative";
        s.DateTime = test::Date(2026, 12, 2, 8, 15, 0);
        s.UserComment = "a | b";
        s.ResultList = {test::Row("CRP", "7.25", "mg/l")};
        return s;
    }();
    TLisMeasurement m;
    m.Set = &set;
    m.MeasurementId = id;
    return BuildOruR01(m, {}, {}, test::SendTime());
}

struct TExchange {
    TMllpResult Connect, Exchange;
};

TExchange SendOne(std::uint16_t port, const std::string& message,
                  std::chrono::milliseconds timeout) {
    TMllpClient client;
    TExchange x;
    x.Connect = client.Connect({"127.0.0.1", port}, 2000ms);
    if (x.Connect.Outcome == EMllpOutcome::Answered) x.Exchange = client.Exchange(message, timeout);
    return x;
}

TEST(MllpClient, AcknowledgementsOfEveryKindArrive) {
    const struct {
        const char* code;
        const char* text;
    } cases[] = {{"AA", ""}, {"AE", "Unknown test code"}, {"AR", "Unsupported processing id"}};
    for (const auto& c : cases) {
        TestLis lis(TestLis::EBehaviour::Ack, c.code, c.text);
        const std::string msg = Message(42);
        const TExchange x = SendOne(lis.Port(), msg, 5000ms);
        ASSERT_EQ(x.Exchange.Outcome, EMllpOutcome::Answered)
            << c.code << ": " << x.Exchange.Detail;
        const TAckParse ack = ParseAck(x.Exchange.Reply);
        ASSERT_TRUE(ack.Ack) << ack.Error;
        EXPECT_EQ(AckCodeName(ack.Ack->Code), c.code);
        EXPECT_EQ(ack.Ack->AckedControlId, "KDR-42-1");
        EXPECT_EQ(ack.Ack->Text, c.text);
        EXPECT_EQ(lis.Received(), std::vector<std::string>{msg});
    }
}

TEST(MllpClient, SlowAcknowledgementWithinTheTimeIsAnswered) {
    TestLis lis(TestLis::EBehaviour::SlowAck);
    const TExchange x = SendOne(lis.Port(), Message(5), 10000ms);
    ASSERT_EQ(x.Exchange.Outcome, EMllpOutcome::Answered) << x.Exchange.Detail;
    EXPECT_EQ(ParseAck(x.Exchange.Reply).Ack->AckedControlId, "KDR-5-1");
}

TEST(MllpClient, SilenceTimesOutAndClosesTheConnection) {
    TestLis lis(TestLis::EBehaviour::Silent);
    TMllpClient client;
    ASSERT_EQ(client.Connect({"127.0.0.1", lis.Port()}, 2000ms).Outcome, EMllpOutcome::Answered);
    const TMllpResult r = client.Exchange(Message(1), 300ms);
    EXPECT_EQ(r.Outcome, EMllpOutcome::TimedOut) << r.Detail;
    EXPECT_FALSE(client.Connected());
}

TEST(MllpClient, PeerClosingBeforeTheAcknowledgementIsClosed) {
    TestLis lis(TestLis::EBehaviour::CloseBeforeAck);
    const TExchange x = SendOne(lis.Port(), Message(1), 5000ms);
    EXPECT_EQ(x.Exchange.Outcome, EMllpOutcome::Closed) << x.Exchange.Detail;
}

TEST(MllpClient, AnAcknowledgementOfAnotherMessageIsReadAsSuch) {
    TestLis lis(TestLis::EBehaviour::WrongMsa2);
    const TExchange x = SendOne(lis.Port(), Message(1), 5000ms);
    ASSERT_EQ(x.Exchange.Outcome, EMllpOutcome::Answered);
    const TAckParse ack = ParseAck(x.Exchange.Reply);
    ASSERT_TRUE(ack.Ack);
    EXPECT_NE(ack.Ack->AckedControlId, ControlIdFor(1, 1));
}

TEST(MllpClient, GarbageAnswerIsAnsweredButNoAcknowledgement) {
    TestLis lis(TestLis::EBehaviour::Garbage);
    const TExchange x = SendOne(lis.Port(), Message(1), 5000ms);
    ASSERT_EQ(x.Exchange.Outcome, EMllpOutcome::Answered);
    EXPECT_FALSE(ParseAck(x.Exchange.Reply).Ack);
}

TEST(MllpClient, NobodyListeningIsRefused) {
    // A bound socket that does not listen keeps the port from anybody else.
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    TMllpClient client;
    const TMllpResult r = client.Connect({"127.0.0.1", ntohs(addr.sin_port)}, 2000ms);
    ::close(s);
    EXPECT_EQ(r.Outcome, EMllpOutcome::Refused) << r.Detail;
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(client.Exchange("x", 100ms).Outcome, EMllpOutcome::Closed);
}

TEST(MllpClient, ConnectionThatIsNeverAcceptedTimesOut) {
    // A listener whose queue is full drops further handshakes: the
    // connection neither comes nor is refused.
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(s, 0), 0);
    socklen_t len = sizeof addr;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    const std::uint16_t port = ntohs(addr.sin_port);
    std::vector<std::unique_ptr<TMllpClient>> fillers;
    TMllpResult r;
    // Fill the queue; bounded, and the first one that does not connect is
    // the one looked at.
    for (int i = 0; i < 8; ++i) {
        auto c = std::make_unique<TMllpClient>();
        r = c->Connect({"127.0.0.1", port}, 300ms);
        if (r.Outcome != EMllpOutcome::Answered) break;
        fillers.push_back(std::move(c));
    }
    ::close(s);
    EXPECT_EQ(r.Outcome, EMllpOutcome::TimedOut) << r.Detail;
}

}  // namespace
}  // namespace kyvo::lis
