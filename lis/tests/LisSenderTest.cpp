#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "LisTestSupport.h"
#include "TestLis.h"
#include "lis/Hl7Message.h"
#include "lis/LisSender.h"

namespace kyvo::lis {
namespace {

using namespace std::chrono_literals;
using test::TestLis;

const std::string kMsh = "MSH|^~\\&|LABSYS|LAB|KDR||20261211140001+0100||ACK|A1|P|2.5.1\r";

TMllpResult Answer(std::string reply) {
    TMllpResult r;
    r.Outcome = EMllpOutcome::Answered;
    r.Reply = std::move(reply);
    return r;
}

TMllpResult Failure(EMllpOutcome o) {
    TMllpResult r;
    r.Outcome = o;
    r.Detail = "detail";
    return r;
}

TEST(LisSender, JudgementOfEveryKindOfAnswer) {
    const struct {
        const char* name;
        TMllpResult result;
        ESendVerdict verdict;
        bool drop;
        const char* reason;
    } cases[] = {
        {"AA", Answer(kMsh + "MSA|AA|KDR-1-1\r"), ESendVerdict::Delivered, false, ""},
        {"CA", Answer(kMsh + "MSA|CA|KDR-1-1\r"), ESendVerdict::Delivered, false, ""},
        {"AE with texts", Answer(kMsh + "MSA|AE|KDR-1-1|Unknown code\rERR||||E||||OBX-3 CRP\r"),
         ESendVerdict::Held, false, "AE: Unknown code: OBX-3 CRP"},
        {"AR", Answer(kMsh + "MSA|AR|KDR-1-1\r"), ESendVerdict::Held, false, "AR"},
        {"CE", Answer(kMsh + "MSA|CE|KDR-1-1|busy\r"), ESendVerdict::Held, false, "CE: busy"},
        {"CR", Answer(kMsh + "MSA|CR|KDR-1-1\r"), ESendVerdict::Held, false, "CR"},
        {"AA of another message", Answer(kMsh + "MSA|AA|KDR-1-2\r"), ESendVerdict::Retry, true,
         "acknowledgement of another message (KDR-1-2)"},
        {"AE of another message", Answer(kMsh + "MSA|AE|KDR-11-1\r"), ESendVerdict::Retry, true,
         "acknowledgement of another message (KDR-11-1)"},
        {"garbage", Answer("garbage"), ESendVerdict::Retry, true, nullptr},
        {"time-out", Failure(EMllpOutcome::TimedOut), ESendVerdict::Retry, false,
         "timed out: detail"},
        {"closed", Failure(EMllpOutcome::Closed), ESendVerdict::Retry, false, "closed: detail"},
        {"refused", Failure(EMllpOutcome::Refused), ESendVerdict::Retry, false, "refused: detail"},
        {"failed", Failure(EMllpOutcome::Failed), ESendVerdict::Retry, false, "failed: detail"},
        {"certificate refused",
         TMllpResult{EMllpOutcome::Failed, {}, "TLS handshake failed: hostname mismatch"},
         ESendVerdict::Held, false, "failed: TLS handshake failed: hostname mismatch"},
    };
    for (const auto& c : cases) {
        const TSendJudgement j = JudgeExchange("KDR-1-1", c.result);
        EXPECT_EQ(j.Verdict, c.verdict) << c.name;
        EXPECT_EQ(j.DropConnection, c.drop) << c.name;
        if (c.reason) {
            EXPECT_EQ(j.Reason, c.reason) << c.name;
        }
        EXPECT_EQ(j.Ack.has_value(),
                  c.result.Outcome == EMllpOutcome::Answered && c.verdict != ESendVerdict::Retry)
            << c.name;
    }
}

TEST(LisSender, RetryPauseGrowsFromFiveSecondsToTenMinutes) {
    const std::vector<std::pair<int, int>> cases = {{1, 5},   {2, 10},   {3, 20},       {4, 40},
                                                    {5, 80},  {6, 160},  {7, 320},      {8, 600},
                                                    {9, 600}, {64, 600}, {1 << 30, 600}};
    for (const auto& [n, s] : cases) EXPECT_EQ(RetryPause(n).count(), s) << n;
}

// The archive's outbox in memory: entries in order, their state and the
// reasons written.
class MemoryOutbox : public ILisOutbox {
  public:
    struct TEntry {
        TOutboxEntry Entry;
        std::string State = "waiting";
        std::vector<std::string> Notes;
    };
    std::vector<TEntry> Entries;

    void Add(std::int64_t id, std::string controlId, std::string message) {
        TEntry e;
        e.Entry = {id, std::move(controlId), std::move(message)};
        Entries.push_back(std::move(e));
    }

    std::optional<TOutboxEntry> Next() override {
        for (const TEntry& e : Entries)
            if (e.State == "waiting") return e.Entry;
        return std::nullopt;
    }
    void MarkDelivered(std::int64_t id, const TAck& ack) override {
        Find(id).State = "delivered";
        Find(id).Notes.push_back(std::string(AckCodeName(ack.Code)));
    }
    void MarkHeld(std::int64_t id, std::optional<EAckCode>, const std::string& reason) override {
        Find(id).State = "held";
        Find(id).Notes.push_back(reason);
    }
    void MarkAttempt(std::int64_t id, const std::string& reason, int failed) override {
        Find(id).Notes.push_back(std::to_string(failed) + " " + reason.substr(0, reason.find(':')));
    }
    TEntry& Find(std::int64_t id) {
        for (TEntry& e : Entries)
            if (e.Entry.Id == id) return e;
        throw std::runtime_error("no entry");
    }
};

TEST(LisSender, OutboxIsDeliveredInOrderThroughFailuresWithTheSameControlId) {
    test::BerlinTime tz;
    TMeasureSet set;
    set.TestID = "12 3 1 7 1807 0042 34082560";
    set.TestName = "CRP quantitative";
    set.DateTime = test::Date(2026, 12, 2, 8, 15, 0);
    set.ResultList = {test::Row("CRP", "7.25", "mg/l")};
    MemoryOutbox outbox;
    for (std::int64_t id : {1, 2, 3}) {
        TLisMeasurement m;
        m.Set = &set;
        m.MeasurementId = id;
        outbox.Add(id, ControlIdFor(id, 1), BuildOruR01(m, {}, {}, test::SendTime()));
    }

    using B = TestLis::EBehaviour;
    TestLis lis({{B::Silent},
                 {B::WrongMsa2},
                 {B::CloseBeforeAck},
                 {B::Ack, "AA"},
                 {B::Ack, "AE", "Unknown test"},
                 {B::Ack, "AA"}});
    TMllpLink link({"127.0.0.1", lis.Port()}, 2000ms, 300ms);
    TLisSender sender(outbox, link);

    // Virtual time: the sender is asked at the moments it names and once
    // too early; it never sleeps.
    using Clock = TLisSender::Clock;
    const Clock::time_point t0{};
    std::vector<std::chrono::seconds> waits;
    Clock::time_point now = t0;
    for (int i = 0; i < 20; ++i) {
        const auto next = sender.Step(now);
        if (!next) break;
        if (*next > now) {
            waits.push_back(std::chrono::duration_cast<std::chrono::seconds>(*next - now));
            // Too early: nothing is sent.
            EXPECT_EQ(sender.Step(now + 1s), next);
        }
        now = *next;
    }
    EXPECT_EQ(waits, (std::vector<std::chrono::seconds>{5s, 10s, 20s}));
    EXPECT_EQ(outbox.Entries[0].State, "delivered");
    EXPECT_EQ(
        outbox.Entries[0].Notes,
        (std::vector<std::string>{"1 timed out", "2 acknowledgement of another message (KDR-999-9)",
                                  "3 closed", "AA"}));
    EXPECT_EQ(outbox.Entries[1].State, "held");
    EXPECT_EQ(outbox.Entries[1].Notes, (std::vector<std::string>{"AE: Unknown test"}));
    EXPECT_EQ(outbox.Entries[2].State, "delivered");
    EXPECT_EQ(sender.FailedAttempts(), 0);

    std::vector<std::string> ids;
    for (const std::string& m : lis.Received()) ids.push_back(TestLis::ControlIdOf(m));
    EXPECT_EQ(ids, (std::vector<std::string>{"KDR-1-1", "KDR-1-1", "KDR-1-1", "KDR-1-1", "KDR-2-1",
                                             "KDR-3-1"}));
    // A resend is the same message, byte for byte.
    EXPECT_EQ(lis.Received()[0], lis.Received()[3]);
    // A new connection after each failure, then one for the rest.
    EXPECT_EQ(lis.Connections(), 4);
}

TEST(LisSender, RefusedConnectionWaitsAndTriesTheSameMessageAgain) {
    MemoryOutbox outbox;
    outbox.Add(1, "KDR-1-1", "MSH|^~\\&|x||||x||ORU^R01^ORU_R01|KDR-1-1|P|2.5.1\r");
    // A bound socket that does not listen: refused.
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    TMllpLink link({"127.0.0.1", ntohs(addr.sin_port)}, 1000ms, 1000ms);
    TLisSender sender(outbox, link);
    const TLisSender::Clock::time_point t0{};
    EXPECT_EQ(sender.Step(t0), t0 + 5s);
    EXPECT_EQ(sender.Step(t0 + 5s), t0 + 15s);
    ::close(s);
    EXPECT_EQ(outbox.Entries[0].State, "waiting");
    EXPECT_EQ(outbox.Entries[0].Notes, (std::vector<std::string>{"1 refused", "2 refused"}));
}

}  // namespace
}  // namespace kyvo::lis
