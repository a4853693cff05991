// The outbox worked by the sender against LIS peers of the tests' own: each
// kind of answer, a LIS down for a whole run, a restart with a full outbox,
// two senders at once, messages made at send time, TLS, and the service.
#include <algorithm>
#include <clocale>
#include <fstream>
#include <locale>
#include <set>

#include <libpq-fe.h>

#include "lis/tests/TlsTestSupport.h"
#include "lisfeed/LisOutbox.h"
#include "lisfeed/LisService.h"
#include "lisfeed/tests/LisFeedTestSupport.h"

namespace kyvo::lisfeed_test {
namespace {

using namespace std::chrono_literals;
using lis::test::TestLis;
using EB = TestLis::EBehaviour;

TLisSenderConfig Config(std::uint16_t port, std::chrono::milliseconds ackTimeout = 2000ms) {
    TLisSendSettings s;
    s.Host = "127.0.0.1";
    s.Port = port;
    TLisConfigResult c = MakeLisSenderConfig(s);
    EXPECT_TRUE(c.Config) << c.Error;
    c.Config->ConnectTimeout = 2000ms;
    c.Config->AckTimeout = ackTimeout;
    return *c.Config;
}

TLisRunPolicy Policy(int attempts) {
    TLisRunPolicy p;
    p.MaxFailedAttempts = attempts;
    p.Pause = [](int) { return 10ms; };
    return p;
}

TLisRunResult Send(IArchive& a, const TLisSenderConfig& c, const TLisRunPolicy& p) {
    lis::TMllpLink link(c.Endpoint, c.ConnectTimeout, c.AckTimeout);
    return RunLisOutbox(a, link, c, Actor(), p);
}

// n measurements queued from a device, their ids in order.
std::vector<std::int64_t> Queue(IArchive& a, int n, int first = 1) {
    a.SetLisQueueing(true);
    std::vector<std::int64_t> ids;
    for (int k = first; k < first + n; ++k) {
        a.Store(Crp(k), {}, EArchiveSource::DeviceRead, Actor());
        ids.push_back(*a.FindByTestId(Crp(k).TestID));
    }
    return ids;
}

std::string Cid(std::int64_t id, int version = 1) {
    return lis::ControlIdFor(id, version);
}

class LisSend : public EngineTest {};
INSTANTIATE_TEST_SUITE_P(Engines, LisSend, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

TEST(LisSendAnswers, EachAnswerOfTheLisHasItsOutcome) {
    const struct {
        const char* name;
        TestLis::TAnswer first;
        ELisState state;
        const char* reason;  // part of it
        bool secondGoes;     // the next message went in the same run
    } cases[] = {
        {"AA", {EB::Ack, "AA"}, ELisState::Delivered, "", true},
        {"AE with text",
         {EB::Ack, "AE", "Unknown patient P-1"},
         ELisState::Held,
         "AE: Unknown patient P-1",
         true},
        {"AR", {EB::Ack, "AR"}, ELisState::Held, "AR", true},
        {"no answer", {EB::Silent}, ELisState::Waiting, "timed out", false},
        {"closed before the ACK", {EB::CloseBeforeAck}, ELisState::Waiting, "closed", false},
        {"ACK of another message",
         {EB::WrongMsa2},
         ELisState::Waiting,
         "acknowledgement of another message (KDR-999-9)",
         false},
        {"slow ACK within the time-out", {EB::SlowAck}, ELisState::Delivered, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch scratch;
        auto a = OpenArchive(FreshArchive("sqlite", scratch));
        const auto ids = Queue(*a, 2);
        TestLis lis({c.first, {EB::Ack, "AA"}});
        const TLisRunResult r = Send(*a, Config(lis.Port(), 2000ms), Policy(1));
        const auto first = a->LisHistory(ids[0]).at(0);
        EXPECT_EQ(first.State, c.state);
        EXPECT_NE(first.Reason.find(c.reason), std::string::npos) << first.Reason;
        EXPECT_EQ(first.Attempts, 1);
        EXPECT_EQ(a->LisHistory(ids[1]).at(0).State,
                  c.secondGoes ? ELisState::Delivered : ELisState::Waiting);
        EXPECT_EQ(r.GaveUp, !c.secondGoes);
        const auto got = lis.Received();
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(TestLis::ControlIdOf(got[0]), Cid(ids[0]));
    }
}

TEST_P(LisSend, ALisDownForTheWholeRunGetsEverythingOnceAndInOrderWhenItIsBack) {
    auto a = OpenArchive(location_);
    const auto ids = Queue(*a, 5);
    const std::uint16_t port = DeadPort();
    const TLisRunResult down = Send(*a, Config(port), Policy(3));
    EXPECT_TRUE(down.GaveUp);
    EXPECT_EQ(down.Failed, 3);
    EXPECT_EQ(down.Delivered, 0);
    EXPECT_EQ(a->LisCounts().Waiting, 5);
    EXPECT_EQ(a->LisHistory(ids[0]).at(0).Attempts, 3) << "the same message every time";
    EXPECT_EQ(a->LisHistory(ids[1]).at(0).Attempts, 0) << "nothing overtakes it";

    AckLis lis(port);
    const TLisRunResult up = Send(*a, Config(port), Policy(3));
    EXPECT_EQ(up.Delivered, 5);
    std::vector<std::string> want;
    for (auto id : ids) want.push_back(Cid(id));
    EXPECT_EQ(lis.ControlIds(), want);
    EXPECT_EQ(a->LisCounts().Delivered, 5);
    EXPECT_FALSE(a->NextLisEntry());
}

TEST_P(LisSend, ANewSenderTakesAFullOutboxOverWhereTheOldOneStopped) {
    std::vector<std::int64_t> ids;
    std::vector<std::string> firstRun;
    {
        auto a = OpenArchive(location_);
        ids = Queue(*a, 5);
        // The third message's answer is lost: sent, never acknowledged.
        TestLis lis({{EB::Ack, "AA"}, {EB::Ack, "AA"}, {EB::Silent}});
        const TLisRunResult r = Send(*a, Config(lis.Port(), 500ms), Policy(1));
        EXPECT_EQ(r.Delivered, 2);
        EXPECT_TRUE(r.GaveUp);
        for (const auto& m : lis.Received()) firstRun.push_back(TestLis::ControlIdOf(m));
    }
    auto b = OpenArchive(location_);
    AckLis lis;
    const TLisRunResult r = Send(*b, Config(lis.Port()), Policy(1));
    EXPECT_EQ(r.Delivered, 3);
    EXPECT_EQ(firstRun, (std::vector<std::string>{Cid(ids[0]), Cid(ids[1]), Cid(ids[2])}));
    EXPECT_EQ(lis.ControlIds(), (std::vector<std::string>{Cid(ids[2]), Cid(ids[3]), Cid(ids[4])}))
        << "the one without an answer again with its control id, nothing delivered twice";
    // The one sent twice says so in its history.
    int sends = 0;
    for (const auto& e : b->History(ids[2])) sends += e.Action == "lis-send";
    EXPECT_EQ(sends, 2);
    EXPECT_EQ(b->LisHistory(ids[2]).at(0).Attempts, 2);
    EXPECT_EQ(b->LisCounts().Delivered, 5);
}

TEST_P(LisSend, TwoSendersStartedAtOnceDeliverEachMessageOnce) {
    {
        auto a = OpenArchive(location_);
        Queue(*a, 40);
    }
    AckLis lis;
    std::atomic<int> otherSender{0};
    const auto sender = [&] {
        auto a = OpenArchive(location_);
        const TLisSenderConfig c = Config(lis.Port());
        lis::TMllpLink link(c.Endpoint, c.ConnectTimeout, c.AckTimeout);
        for (int round = 0; round < 2000 && a->LisCounts().Waiting > 0; ++round) {
            const TLisRunResult r = RunLisOutbox(*a, link, c, Actor(), Policy(3));
            if (r.OtherSender) {
                ++otherSender;
                std::this_thread::sleep_for(1ms);
            }
        }
    };
    std::thread one(sender), two(sender);
    one.join();
    two.join();
    const auto got = lis.ControlIds();
    EXPECT_EQ(got.size(), 40u);
    EXPECT_EQ(std::set<std::string>(got.begin(), got.end()).size(), 40u);
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end(),
                               [](const std::string& x, const std::string& y) {
                                   return std::stoll(x.substr(4)) < std::stoll(y.substr(4));
                               }))
        << "in the order they were queued";
    auto a = OpenArchive(location_);
    EXPECT_EQ(a->LisCounts().Delivered, 40);
    for (const auto& e : a->LisEntries(ELisState::None, 0)) EXPECT_EQ(e.Attempts, 1) << e.TestId;
}

TEST(LisSendMessage, AHeldMessageIsMadeAnewFromWhatTheArchiveHoldsWhenItIsSentAgain) {
    Scratch scratch;
    auto a = OpenArchive(FreshArchive("sqlite", scratch));
    const auto ids = Queue(*a, 1);
    TLisSenderConfig c;
    {
        TestLis lis(EB::Ack, "AE", "no patient");
        c = Config(lis.Port());
        Send(*a, c, Policy(1));
        const auto first = lis.Received().at(0);
        EXPECT_EQ(first.find("\rPID|"), std::string::npos);
        EXPECT_NE(first.find("|CRP quantitative/CRP^CRP^L|"), std::string::npos) << first;
    }
    ASSERT_EQ(a->LisHistory(ids[0]).at(0).State, ELisState::Held);
    // The person fixes both causes: the patient and the mapping.
    a->SetPatient(ids[0], "P-4711", "1970-02-03", Actor());
    const std::string mapping = scratch.File("mapping.txt");
    std::ofstream(mapping) << "result | CRP quantitative | CRP | 1988-5 | CRP | LN | mg/L\n";
    TLisSendSettings s;
    s.Host = "127.0.0.1";
    s.MappingFile = mapping;
    AckLis lis;
    s.Port = lis.Port();
    const TLisConfigResult fixed = MakeLisSenderConfig(s);
    ASSERT_TRUE(fixed.Config) << fixed.Error;
    EXPECT_EQ(a->QueueForLis({ids[0]}, Actor()).Queued, 1);
    EXPECT_EQ(Send(*a, *fixed.Config, Policy(1)).Delivered, 1);
    const std::string again = lis.Messages().at(0);
    EXPECT_EQ(TestLis::ControlIdOf(again), Cid(ids[0])) << "the same version";
    EXPECT_NE(again.find("\rPID|1||P-4711||||19700203\r"), std::string::npos) << again;
    EXPECT_NE(again.find("|1988-5^CRP^LN|"), std::string::npos) << again;
    EXPECT_NE(again.find("|F|||"), std::string::npos) << "no correction: it never arrived";
}

TEST(LisSendMessage, ACorrectionGoesWithItsOwnControlIdAndStatusC) {
    Scratch scratch;
    auto a = OpenArchive(FreshArchive("sqlite", scratch));
    const auto ids = Queue(*a, 1);
    AckLis lis;
    Send(*a, Config(lis.Port()), Policy(1));
    a->SetComment(ids[0], "haemolytic sample", Actor());
    EXPECT_EQ(Send(*a, Config(lis.Port()), Policy(1)).Delivered, 1);
    ASSERT_EQ(lis.Messages().size(), 2u);
    const std::string corrected = lis.Messages()[1];
    EXPECT_EQ(TestLis::ControlIdOf(corrected), Cid(ids[0], 2));
    EXPECT_NE(corrected.find("\rNTE|1|L|haemolytic sample\r"), std::string::npos) << corrected;
    EXPECT_NE(corrected.find("|C|||"), std::string::npos) << "OBX-11 C";
    EXPECT_EQ(lis.Messages()[0].find("|C|||"), std::string::npos);
}

TEST(LisSendMessage, ControlsGoAsControlsOrNotAtAllAndPatientsUnderARejectedControlSaySo) {
    Scratch scratch;
    auto a = OpenArchive(FreshArchive("sqlite", scratch));
    qc::TControlMaterial m;
    m.Name = "CRP-L1";
    m.Test = "CRP quantitative";
    m.Result = "CRP";
    m.Lot = "C1";
    m.Mean = 7.25;
    m.Sd = 0.5;
    m.PatientIdPrefix = "QC-L1";
    a->AddMaterial(m, Actor());
    a->SetLisQueueing(true);
    a->SetLisQueueControls(false);
    TMeasureSet rejected = Crp(1, "20");  // far beyond 3 SD
    rejected.PatientID = "QC-L1";
    a->Store(rejected, {}, EArchiveSource::DeviceRead, Actor());
    TMeasureSet patient = Crp(2);
    patient.PatientID = "P-1";
    a->Store(patient, {}, EArchiveSource::DeviceRead, Actor());
    const std::int64_t controlId = *a->FindByTestId(rejected.TestID);
    EXPECT_TRUE(a->LisHistory(controlId).empty()) << "controls stay out while switched off";

    a->SetLisQueueControls(true);
    TMeasureSet passing = Crp(3, "7.3");
    passing.PatientID = "QC-L1";
    a->Store(passing, {}, EArchiveSource::DeviceRead, Actor());
    TMeasureSet later = Crp(4);
    later.PatientID = "P-2";
    a->Store(later, {}, EArchiveSource::DeviceRead, Actor());

    AckLis lis;
    EXPECT_EQ(Send(*a, Config(lis.Port()), Policy(1)).Delivered, 3);
    const auto sent = lis.Messages();
    ASSERT_EQ(sent.size(), 3u);
    const std::string note = std::string("|L|") + lis::kQcFailedNote;
    EXPECT_NE(sent[0].find(note), std::string::npos) << "under the rejected control: " << sent[0];
    EXPECT_EQ(sent[1].find(note), std::string::npos) << sent[1];
    EXPECT_NE(sent[1].find("\rSPM|1||||||||||Q"), std::string::npos) << "SPM-11 Q: " << sent[1];
    EXPECT_EQ(sent[2].find(note), std::string::npos) << "a passing control lifts it: " << sent[2];
}

TEST(LisSendMessage, NumbersGoWithADotInAGermanProcess) {
    Scratch scratch;
    auto a = OpenArchive(FreshArchive("sqlite", scratch));
    const auto ids = Queue(*a, 1);
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    const std::locale oldGlobal = std::locale::global(std::locale("de_DE.UTF-8"));
    AckLis lis;
    const TLisRunResult r = Send(*a, Config(lis.Port()), Policy(1));
    std::locale::global(oldGlobal);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(r.Delivered, 1);
    const std::string m = lis.Messages().at(0);
    EXPECT_NE(m.find("|NM|CRP quantitative/CRP^CRP^L||7.25|mg/l|"), std::string::npos) << m;
}

TEST(LisSendSettings, SettingsThatCannotBeUsedAreRefusedWithTheirReason) {
    Scratch scratch;
    const struct {
        const char* name;
        std::string host, hostPort, ca, mapping;
        bool tls;
        const char* error;  // empty: usable
        std::string host2;
        int port2;
    } cases[] = {
        {"no host", "", "", "", "", false, "no LIS is set", "", 0},
        {"--lis wins", "lis.lab", "10.1.2.3:2600", "", "", false, "", "10.1.2.3", 2600},
        {"IPv6 with brackets", "", "[::1]:2575", "", "", false, "", "::1", 2575},
        {"no port", "", "lis.lab", "", "", false, "is no HOST:PORT", "", 0},
        {"port 0", "", "lis.lab:0", "", "", false, "is no HOST:PORT", "", 0},
        {"TLS without a CA", "lis.lab", "", "", "", true, "no CA file", "", 0},
        {"unreadable mapping", "lis.lab", "", "", scratch.File("none.txt"), false, "mapping", "",
         0},
    };
    for (const auto& c : cases) {
        TLisSendSettings s;
        s.Host = c.host;
        s.Tls = c.tls;
        s.CaFile = c.ca;
        s.MappingFile = c.mapping;
        const TLisConfigResult r = MakeLisSenderConfig(s, c.hostPort);
        if (std::string(c.error).empty()) {
            ASSERT_TRUE(r.Config) << c.name << ": " << r.Error;
            EXPECT_EQ(r.Config->Endpoint.Host, c.host2) << c.name;
            EXPECT_EQ(r.Config->Endpoint.Port, c.port2) << c.name;
        } else {
            EXPECT_FALSE(r.Config) << c.name;
            EXPECT_NE(r.Error.find(c.error), std::string::npos) << c.name << ": " << r.Error;
        }
    }
}

TEST(LisSendTls, TlsGoesThroughOnlyToTheServerTheCertificateNames) {
    lis::test::Certificates certs;
    if (!certs.Ok()) GTEST_SKIP() << "the openssl program is missing or failed";
    const auto tlsConfig = [&](std::uint16_t port, const std::string& name) {
        TLisSendSettings s;
        s.Host = "127.0.0.1";
        s.Port = port;
        s.Tls = true;
        s.CaFile = certs.Path("ca.pem");
        s.ServerName = name;
        TLisSenderConfig c = *MakeLisSenderConfig(s).Config;
        c.ConnectTimeout = 1000ms;
        c.AckTimeout = 2000ms;
        return c;
    };
    Scratch scratch;
    auto a = OpenArchive(FreshArchive("sqlite", scratch));
    const auto ids = Queue(*a, 2);
    {
        // Another name than the certificate's: held with the reason, and
        // the message behind it waits rather than being held alike.
        lis::test::TlsLis lis(certs);
        const TLisRunResult r = Send(*a, tlsConfig(lis.Port(), "other.test"), Policy(3));
        EXPECT_NE(r.Error.find("mismatch"), std::string::npos) << r.Error;
        EXPECT_EQ(lis.Received(), "");
        const auto held = a->LisHistory(ids[0]).at(0);
        EXPECT_EQ(held.State, ELisState::Held);
        EXPECT_NE(held.Reason.find("TLS"), std::string::npos) << held.Reason;
        EXPECT_EQ(a->LisHistory(ids[1]).at(0).State, ELisState::Waiting);
    }
    {
        // A plain LIS where TLS is set: never a message in plain text.
        TestLis plain(EB::Ack, "AA");
        const TLisRunResult r = Send(*a, tlsConfig(plain.Port(), "lis.test"), Policy(1));
        EXPECT_EQ(r.Delivered, 0);
        EXPECT_TRUE(plain.Received().empty());
        EXPECT_EQ(a->LisHistory(ids[1]).at(0).State, ELisState::Waiting);
    }
    {
        lis::test::TlsLis lis(certs);
        const TLisRunResult r = Send(*a, tlsConfig(lis.Port(), "lis.test"), Policy(1));
        EXPECT_EQ(r.Delivered, 1) << r.Error;
        EXPECT_EQ(TestLis::ControlIdOf(lis.Received()), Cid(ids[1]));
    }
}

// Waits (bounded) until the service's status satisfies done.
template <class F>
bool WaitFor(const TLisService& s, F done) {
    for (int i = 0; i < 400; ++i) {
        if (done(s.Status())) return true;
        std::this_thread::sleep_for(25ms);
    }
    return done(s.Status());
}

class LisService : public EngineTest {};
INSTANTIATE_TEST_SUITE_P(Engines, LisService, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

TEST_P(LisService, WorksTheOutboxByItselfOrWhenAskedAndTellsItsStatus) {
    const std::string location = location_;
    std::vector<std::int64_t> ids;
    {
        auto a = OpenArchive(location);
        ids = Queue(*a, 3);
    }
    AckLis lis;
    TLisSendSettings s;
    s.Send = true;
    s.Automatic = false;
    s.Host = "127.0.0.1";
    s.Port = lis.Port();
    TLisService service(location, Actor());
    std::atomic<int> changes{0};
    std::mutex m;
    std::vector<std::string> sent;
    service.SetOnChange([&](const TLisServiceStatus&) { ++changes; });
    service.SetOnSend([&](const TLisSendEvent& e) {
        std::lock_guard<std::mutex> lock(m);
        sent.push_back(LisSendOutcomeName(e.Outcome) + " " + e.Entry.ControlId);
    });
    service.Configure(s);
    service.Start();
    ASSERT_TRUE(
        WaitFor(service, [](const TLisServiceStatus& st) { return st.Counts.Waiting == 3; }));
    EXPECT_TRUE(service.Status().Configured);
    EXPECT_TRUE(lis.ControlIds().empty()) << "by hand: nothing goes before it is asked";
    service.SendNow();
    ASSERT_TRUE(
        WaitFor(service, [](const TLisServiceStatus& st) { return st.Counts.Delivered == 3; }));
    EXPECT_EQ(lis.ControlIds().size(), 3u);

    // Automatic: a new measurement goes without being asked.
    s.Automatic = true;
    service.Configure(s);
    {
        auto a = OpenArchive(location);
        Queue(*a, 1, 10);
    }
    ASSERT_TRUE(
        WaitFor(service, [](const TLisServiceStatus& st) { return st.Counts.Delivered == 4; }));
    service.Stop();
    EXPECT_EQ(lis.ControlIds().size(), 4u);
    EXPECT_GT(changes.load(), 0);
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent.at(0), "delivered " + Cid(ids[0]));
    // It held the lock only while it worked.
    auto a = OpenArchive(location);
    EXPECT_TRUE(a->TryLockLisSender());
}

TEST_P(LisService, ALisThatIsAwayIsTriedAgainAndTheReasonShown) {
    const std::string location = location_;
    {
        auto a = OpenArchive(location);
        Queue(*a, 2);
    }
    TLisSendSettings s;
    s.Send = true;
    s.Host = "127.0.0.1";
    s.Port = DeadPort();
    TLisService service(location, Actor());
    service.Configure(s);
    service.Start();
    ASSERT_TRUE(WaitFor(service, [](const TLisServiceStatus& st) {
        return st.FailedAttempts >= 1 && !st.Working;
    }));
    const TLisServiceStatus st = service.Status();
    EXPECT_NE(st.LastError.find("refused"), std::string::npos) << st.LastError;
    EXPECT_EQ(st.Counts.Waiting, 2);
    // While it pauses, another sender may work the outbox.
    auto a = OpenArchive(location);
    EXPECT_TRUE(a->TryLockLisSender());
    a->UnlockLisSender();
    AckLis lis(static_cast<std::uint16_t>(s.Port));
    service.SendNow();  // without waiting out the pause
    ASSERT_TRUE(
        WaitFor(service, [](const TLisServiceStatus& st) { return st.Counts.Delivered == 2; }));
    EXPECT_EQ(service.Status().LastError, "");
}

}  // namespace
}  // namespace kyvo::lisfeed_test

namespace kyvo::lisfeed_test {
namespace {

// On a server, a writer that began first can commit after one that began
// later: the archive's newest audit row then stays the same although a
// message was queued. The service must find it all the same.
TEST(LisServiceOnAServer, AMessageQueuedByATransactionThatCommitsLateIsFound) {
    if (const auto why = testing::TTempPostgres::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    Scratch scratch;
    const std::string location = FreshArchive("postgres", scratch);
    std::int64_t late = 0, other = 0;
    {
        auto a = OpenArchive(location);
        a->Store(Crp(1), {}, EArchiveSource::DeviceRead, Actor());
        a->Store(Crp(2), {}, EArchiveSource::DeviceRead, Actor());
        late = *a->FindByTestId(Crp(1).TestID);
        other = *a->FindByTestId(Crp(2).TestID);
    }
    AckLis lis;
    TLisSendSettings s;
    s.Send = true;
    s.Host = "127.0.0.1";
    s.Port = lis.Port();
    TLisService service(location, Actor());
    service.Configure(s);
    service.Start();
    ASSERT_TRUE(WaitFor(service, [](const TLisServiceStatus& st) { return st.Configured; }));

    // The slow writer queues its message and takes its audit row first...
    PGconn* slow = PQconnectdb(location.c_str());
    ASSERT_EQ(PQstatus(slow), CONNECTION_OK);
    const auto exec = [&](const std::string& sql) {
        PGresult* r = PQexec(slow, sql.c_str());
        const bool ok =
            PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
        PQclear(r);
        return ok;
    };
    const std::string id = std::to_string(late);
    ASSERT_TRUE(exec("BEGIN"));
    ASSERT_TRUE(
        exec("INSERT INTO lis_outbox(measurement_id, version, corrected, state, queued, "
             "changed, control_id) VALUES (" +
             id + ", 1, 0, 'waiting', 'now', 'now', 'KDR-" + id + "-1')"));
    ASSERT_TRUE(
        exec("INSERT INTO audit(time, user_name, host, program, version, action, "
             "measurement_id, test_id, old_value, new_value) VALUES ('now', 'u', 'h', "
             "'p', 'v', 'lis-queue', " +
             id + ", '', '', 'KDR-" + id + "-1')"));
    // ...a quick one changes the archive after it and is seen...
    {
        auto a = OpenArchive(location);
        a->SetComment(other, "seen first", Actor());
    }
    std::this_thread::sleep_for(500ms);
    // ...and then the slow one commits.
    ASSERT_TRUE(exec("NOTIFY kyvo_archive"));
    ASSERT_TRUE(exec("COMMIT"));
    PQfinish(slow);
    EXPECT_TRUE(
        WaitFor(service, [](const TLisServiceStatus& st) { return st.Counts.Delivered == 1; }))
        << "waiting " << service.Status().Counts.Waiting;
    service.Stop();
    EXPECT_EQ(lis.ControlIds(), std::vector<std::string>{"KDR-" + id + "-1"});
}

}  // namespace
}  // namespace kyvo::lisfeed_test
