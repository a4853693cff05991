// The device session on its own, with a presenter that records what it
// hears and answers every question from a script: the typed outcomes of
// each kind of error and each question.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/tests/Harness.h"
#include "link/PortTrace.h"

namespace kyvo {
namespace {

using testing::Rig;

struct Recorder final : ISessionEvents {
    // Answers.
    EAddDecision AddAnswer = EAddDecision::Add;
    std::optional<EConfigSource> Source;
    std::optional<std::string> File;  // offered once
    std::optional<int> Stored;
    bool Combine = false, Format = false, Tag = false;

    // What was heard.
    std::vector<std::string> Asked;
    std::vector<TSessionError> Errors;
    std::vector<ENotice> Notices;
    std::vector<std::pair<EActivity, EOutcome>> Ends;
    std::vector<std::string> Dropped;
    int Cleared = 0, Added = 0;
    int ClockPollsWithoutClock = 0;  // clock polls that ended Done without a clock read
    bool clockReadInPoll = false;

    void Error(const TSessionError& e) override { Errors.push_back(e); }
    void Notice(ENotice n, const std::string&) override { Notices.push_back(n); }
    EAddDecision AskAddOrOverwrite() override {
        Asked.push_back("add-or-overwrite");
        return AddAnswer;
    }
    bool AskCombine() override {
        Asked.push_back("combine");
        return Combine;
    }
    std::optional<EConfigSource> AskConfigSource() override {
        Asked.push_back("source");
        return Source;
    }
    std::optional<std::string> ChooseConfigFile(const std::string&) override {
        Asked.push_back("file");
        return std::exchange(File, std::nullopt);
    }
    std::optional<int> ChooseStoredConfiguration(const std::vector<std::string>&) override {
        Asked.push_back("stored");
        return Stored;
    }
    bool ConfirmTagPlaced() override {
        Asked.push_back("tag");
        return Tag;
    }
    bool ConfirmFormat() override {
        Asked.push_back("format");
        return Format;
    }
    void ClearList() override { ++Cleared; }
    void MeasurementAdded(const TMeasureSet&) override { ++Added; }
    void ActivityEnded(EActivity a, EOutcome o) override {
        Ends.push_back({a, o});
        if (a != EActivity::ReadClock) return;
        if (o == EOutcome::Done && !clockReadInPoll) ++ClockPollsWithoutClock;
        clockReadInPoll = false;
    }
    void ClockRead(const TLocalDateTime&, bool, const TLocalDateTime&) override {
        clockReadInPoll = true;
    }
    void ReplyDropped(const std::string& what) override { Dropped.push_back(what); }

    std::optional<EOutcome> EndOf(EActivity a) const {
        std::optional<EOutcome> o;
        for (const auto& [activity, outcome] : Ends)
            if (activity == a) o = outcome;
        return o;
    }
};

// A session on the harness's simulated device, without the window's
// controller (the rig's one is never started).
struct SessionRig {
    explicit SessionRig(const sim::Scenario& s) : rig(s) {
        TSessionDeps deps;
        deps.Events = &ev;
        deps.Timers = &rig.sched;
        deps.Clock = &rig.sched;
        deps.Link = &rig.link;
        deps.Language = &rig.lang;
        deps.List = &list;
        session = std::make_unique<TDeviceSession>(deps);
        session->Start();
    }
    bool Connect(const std::string& path = "sim") {
        TPortEntry port;
        port.Path = port.Text = path;
        const bool opened = session->Connect(port, 38400, true);
        rig.Run(3000);
        return opened;
    }

    Rig rig;
    Recorder ev;
    TMeasureList list;
    std::unique_ptr<TDeviceSession> session;
};

sim::Scenario Quiet() {
    sim::Scenario s = sim::Scenario::demo();
    s.bits.ClockPresent = false;
    return s;
}

sim::SimFault FaultOnRead(sim::FaultKind kind, std::uint8_t code = 0) {
    sim::SimFault f;
    f.kind = kind;
    f.command = 0x52;  // memory read
    f.nth = 4;
    f.times = 0;
    f.code = code;
    return f;
}

TEST(Session, eachKindOfErrorEndsItsActivityWithThatOutcomeAndCode) {
    struct Case {
        const char* what;
        sim::Scenario scenario;
        EActivity activity;
        std::function<void(SessionRig&)> start;
        EOutcome outcome;
        EErrorKind kind;
        int code;
        bool closed;  // the connection is closed afterwards
    };
    sim::Scenario silent = Quiet(), comm = Quiet(), failing = Quiet();
    silent.faults.push_back(FaultOnRead(sim::FaultKind::Silence));
    comm.faults.push_back(FaultOnRead(sim::FaultKind::CommError, 0x42));
    failing.evaluation.errorCode = 0x21;
    const auto read = [](SessionRig& r) { r.session->ReadStoredData(); };
    const auto measureStored = [](SessionRig& r) {
        r.session->UseTestSource(TSKyvo);
        r.ev.Stored = 0;
        r.session->Measure(false);
    };
    const auto measureFromFile = [](SessionRig& r) {
        r.session->UseTestSource(TSLocal);
        r.ev.File = "/nonexistent/test.bin";
        r.session->Measure(false);
    };
    const Case cases[] = {
        {"silent mid-read", silent, EActivity::ReadStoredData, read, EOutcome::TimeOut,
         EErrorKind::TimeOut, 0, true},
        {"communication error mid-read", comm, EActivity::ReadStoredData, read,
         EOutcome::Communication, EErrorKind::Communication, 0x42, false},
        {"device error in a measurement", failing, EActivity::Measure, measureStored,
         EOutcome::Device, EErrorKind::Device, 0x21, false},
        {"unusable configuration file", Quiet(), EActivity::Measure, measureFromFile,
         EOutcome::File, EErrorKind::File, kCfgNoConfig, false},
    };
    for (const Case& c : cases) {
        SessionRig r(c.scenario);
        ASSERT_TRUE(r.Connect()) << c.what;
        ASSERT_EQ(r.ev.EndOf(EActivity::Connect), EOutcome::Done) << c.what;
        c.start(r);
        r.rig.Run(30000);
        EXPECT_EQ(r.ev.EndOf(c.activity), c.outcome) << c.what;
        ASSERT_FALSE(r.ev.Errors.empty()) << c.what;
        EXPECT_EQ(r.ev.Errors[0].Kind, c.kind) << c.what;
        EXPECT_EQ(r.ev.Errors[0].Code, c.code) << c.what;
        EXPECT_EQ(r.ev.Errors[0].ConnectionClosed, c.closed) << c.what;
        EXPECT_EQ(r.session->IsOpen(), !c.closed) << c.what;
        EXPECT_EQ(r.ev.Added, 0) << c.what;
    }
}

TEST(Session, aPortThatDoesNotOpenEndsTheConnectAsAConnectionError) {
    SessionRig r(Quiet());
    r.rig.link.SetPortFactory(nullptr);
    EXPECT_FALSE(r.Connect("/nonexistent/tty"));
    EXPECT_EQ(r.ev.EndOf(EActivity::Connect), EOutcome::Connection);
    ASSERT_EQ(r.ev.Errors.size(), 1u);
    EXPECT_EQ(r.ev.Errors[0].Kind, EErrorKind::Connection);
    EXPECT_EQ(r.ev.Errors[0].Code, static_cast<int>(EOpenFailure::Missing));
    EXPECT_EQ(r.ev.Errors[0].Text, "This port does not exist: /nonexistent/tty");
}

TEST(Session, questionsAreAnsweredThroughTypedCallbacks) {
    struct Case {
        const char* what;
        std::function<void(SessionRig&)> start;
        EActivity activity;
        std::vector<std::string> asked;
        EOutcome outcome;
        int added;
        std::size_t listSize;
    };
    const auto measure = [](ETestSource source, std::function<void(Recorder&)> answer) {
        return [source, answer](SessionRig& r) {
            r.session->UseTestSource(source);
            answer(r.ev);
            r.session->Measure(false);
        };
    };
    const Case cases[] = {
        {"no source chosen", measure(TSSelect, [](Recorder&) {}), EActivity::Measure, {"source"},
         EOutcome::Cancelled, 0, 0},
        {"no stored configuration chosen", measure(TSKyvo, [](Recorder&) {}),
         EActivity::Measure, {"stored"}, EOutcome::Cancelled, 0, 0},
        {"a stored configuration, not combined",
         [](SessionRig& r) {
             r.session->UseTestSource(TSKyvo);
             r.session->UseCombining(true);
             r.ev.Stored = 0;
             r.session->Measure(false);
         },
         EActivity::Measure, {"stored", "combine"}, EOutcome::Done, 1, 1},
        {"the present list kept",
         [](SessionRig& r) {
             r.list.push_back(std::make_unique<TMeasureSet>());
             r.session->UseAddDataBehaviour(AlwaysAsk);
             r.ev.AddAnswer = EAddDecision::Cancel;
             r.session->ReadStoredData();
         },
         EActivity::ReadStoredData, {"add-or-overwrite"}, EOutcome::Cancelled, 0, 1},
        {"the present list added to",
         [](SessionRig& r) {
             r.list.push_back(std::make_unique<TMeasureSet>());
             r.session->UseAddDataBehaviour(AlwaysAsk);
             r.session->ReadStoredData();
         },
         EActivity::ReadStoredData, {"add-or-overwrite"}, EOutcome::Done, 0, 26},
        {"formatting declined", [](SessionRig& r) { r.session->Format(); }, EActivity::Format,
         {"format"}, EOutcome::Cancelled, 0, 0},
        {"formatting confirmed",
         [](SessionRig& r) {
             r.ev.Format = true;
             r.session->Format();
         },
         EActivity::Format, {"format"}, EOutcome::Done, 0, 0},
    };
    for (const Case& c : cases) {
        SessionRig r(Quiet());
        ASSERT_TRUE(r.Connect()) << c.what;
        c.start(r);
        r.rig.Run(30000);
        EXPECT_EQ(r.ev.Asked, c.asked) << c.what;
        EXPECT_EQ(r.ev.EndOf(c.activity), c.outcome) << c.what;
        EXPECT_EQ(r.ev.Added, c.added) << c.what;
        EXPECT_EQ(r.list.size(), c.listSize) << c.what;
        EXPECT_TRUE(r.ev.Errors.empty()) << c.what;
        EXPECT_EQ(r.session->State().Current, stReady) << c.what;
    }
}

TEST(Session, aTagThatIsNotPlacedCancelsAndAnOverwriteClearsTheListFirst) {
    sim::Scenario s = Quiet();
    s.bits.RFIDConfigSource = true;
    s.rfid.config = "crp";
    SessionRig r(s);
    ASSERT_TRUE(r.Connect());
    r.list.push_back(std::make_unique<TMeasureSet>());
    r.session->UseTestSource(TSKyvo);
    r.session->UseAddDataBehaviour(AlwaysAsk);
    r.ev.AddAnswer = EAddDecision::Overwrite;
    r.session->Measure(false);
    r.rig.Run(1000);
    EXPECT_EQ(r.ev.Asked, (std::vector<std::string>{"add-or-overwrite", "tag"}));
    EXPECT_EQ(r.ev.Cleared, 1);
    EXPECT_EQ(r.ev.EndOf(EActivity::Measure), EOutcome::Cancelled);
}

TEST(Session, aRequestWhileBusyIsRefusedAndTheRunningActivityGoesOn) {
    SessionRig r(Quiet());
    ASSERT_TRUE(r.Connect());
    r.session->UseTestSource(TSKyvo);
    r.ev.Stored = 0;
    r.session->Measure(false);
    r.session->ReadStoredData();
    EXPECT_EQ(r.ev.EndOf(EActivity::ReadStoredData), EOutcome::Busy);
    EXPECT_EQ(r.ev.Notices, std::vector<ENotice>{ENotice::DeviceBusy});
    EXPECT_FALSE(r.ev.EndOf(EActivity::Measure));
    r.rig.Run(30000);
    EXPECT_EQ(r.ev.EndOf(EActivity::Measure), EOutcome::Done);
    EXPECT_EQ(r.ev.Added, 1);
}

TEST(Session, theClockPollIsAnActivityOfItsOwnAndTheClockIsSetWhenIdle) {
    SessionRig r(sim::Scenario::demo());
    ASSERT_TRUE(r.Connect());
    EXPECT_EQ(r.ev.EndOf(EActivity::ReadClock), EOutcome::Done);
    EXPECT_TRUE(r.session->LastDeviceClockValid());
    for (int i = 0; i < 40 && r.session->State().Current != stReady; ++i) r.rig.Run(25);
    r.session->SetClock({2030, 1, 2, 3, 4, 5, 0});
    EXPECT_EQ(r.ev.EndOf(EActivity::SetClock), EOutcome::Done);
    r.rig.Run(1500);
    EXPECT_EQ(r.session->LastDeviceClock().Year, 2030);
}

// The frames the program sent with this command code.
int SentFrames(const tByteBuffer& sent, std::uint8_t code) {
    int n = 0;
    for (std::size_t i = 0; i + 2 < sent.size(); ++i) {
        if (sent[i] != 0xFE) continue;
        if (sent[i + 1] == 0xFE) {  // an escaped 0xFE inside a frame
            ++i;
            continue;
        }
        if (sent[i + 1] == 0x20 && sent[i + 2] == code) ++n;
    }
    return n;
}

sim::SimFault BusyOn(std::uint8_t command, std::uint32_t nth) {
    sim::SimFault f;
    f.kind = sim::FaultKind::Busy;
    f.command = command;
    f.nth = nth;
    f.durationMs = 2000;
    return f;
}

// A data reply as the device frames it: flags, address, count, the bytes.
tByteBuffer DataReply(std::uint32_t address, std::size_t count) {
    tByteBuffer p{0x00,
                  static_cast<std::uint8_t>(address),
                  static_cast<std::uint8_t>(address >> 8),
                  static_cast<std::uint8_t>(address >> 16),
                  static_cast<std::uint8_t>(address >> 24),
                  static_cast<std::uint8_t>(count),
                  static_cast<std::uint8_t>(count >> 8)};
    p.resize(p.size() + count, 0x5A);
    return p;
}

TEST(Session, aRequestAnsweredBusyIsRepeatedOnceTheDeviceIsFreeInEveryActivity) {
    struct Case {
        const char* what;
        sim::SimFault fault;
        bool clock;  // the device has a clock (its poll runs)
        std::function<void(SessionRig&)> start;
        EActivity activity;
        std::uint8_t repeated;  // the command sent once more than without the fault
    };
    const auto read = [](SessionRig& r) { r.session->ReadStoredData(); };
    const auto measure = [](SessionRig& r) {
        r.session->UseTestSource(TSKyvo);
        r.ev.Stored = 0;
        r.session->Measure(false);
    };
    const auto format = [](SessionRig& r) {
        r.ev.Format = true;
        r.session->Format();
    };
    const auto idle = [](SessionRig&) {};
    const Case cases[] = {
        // The third memory read of identification: the volatile configuration bits.
        {"identification", BusyOn(0x52, 3), false, idle, EActivity::Connect, 0x52},
        {"identification, firmware", BusyOn(0xA2, 1), false, idle, EActivity::Connect, 0xA2},
        {"stored-data read, a pointer block", BusyOn(0x52, 5), false, read,
         EActivity::ReadStoredData, 0x52},
        {"stored-data read, a ring block", BusyOn(0x52, 7), false, read, EActivity::ReadStoredData,
         0x52},
        {"measurement, the stored list", BusyOn(0x52, 5), false, measure, EActivity::Measure, 0x52},
        {"measurement, the configuration written", BusyOn(0x50, 1), false, measure,
         EActivity::Measure, 0x50},
        {"measurement, the evaluation", BusyOn(0x5E, 1), false, measure, EActivity::Measure, 0x5E},
        {"measurement, the result read", BusyOn(0x52, 8), false, measure, EActivity::Measure, 0x52},
        {"measurement, the image", BusyOn(0x43, 1), false, measure, EActivity::Measure, 0x43},
        {"clock poll", BusyOn(0x5A, 2), true, idle, EActivity::ReadClock, 0x5A},
        {"format", BusyOn(0x5F, 1), false, format, EActivity::Format, 0x5F},
    };
    for (const Case& c : cases) {
        sim::Scenario clean = Quiet();
        clean.bits.ClockPresent = c.clock;
        sim::Scenario busy = clean;
        busy.faults.push_back(c.fault);
        SessionRig plain(clean), r(busy);
        for (SessionRig* rig : {&plain, &r}) {
            ASSERT_TRUE(rig->Connect()) << c.what;
            c.start(*rig);
            rig->rig.Run(c.clock ? 6000 : 30000);
            // What the device holds afterwards, through a plain read.
            if (c.activity == EActivity::Connect || c.activity == EActivity::Format) {
                rig->session->ReadStoredData();
                rig->rig.Run(30000);
            }
        }
        EXPECT_EQ(r.ev.EndOf(c.activity), EOutcome::Done) << c.what;
        EXPECT_TRUE(r.ev.Errors.empty()) << c.what << ": " << r.ev.Errors[0].Text;
        EXPECT_EQ(r.session->State().Current, stReady) << c.what;
        EXPECT_EQ(r.list.size(), plain.list.size()) << c.what;
        EXPECT_EQ(r.ev.Added, plain.ev.Added) << c.what;
        EXPECT_EQ(r.ev.Notices, plain.ev.Notices) << c.what;
        EXPECT_EQ(r.ev.ClockPollsWithoutClock, 0) << c.what;
        EXPECT_EQ(r.session->EEPROM().VolatileData.KyvoCfgBits.Data,
                  plain.session->EEPROM().VolatileData.KyvoCfgBits.Data)
            << c.what;
        if (c.activity != EActivity::ReadClock) {
            EXPECT_EQ(SentFrames(r.rig.sent, c.repeated),
                      SentFrames(plain.rig.sent, c.repeated) + 1)
                << c.what;
            // Nothing else is asked again.
            if (c.repeated != 0x52) {
                EXPECT_EQ(SentFrames(r.rig.sent, 0x52), SentFrames(plain.rig.sent, 0x52)) << c.what;
            }
        }
    }
}

TEST(Session, aBusyNoticeBeforeTheEvaluationsFirstPromptDoesNotStartItTwice) {
    SessionRig r(Quiet());
    ASSERT_TRUE(r.Connect());
    r.session->UseTestSource(TSKyvo);
    r.ev.Stored = 0;
    r.session->Measure(false);
    // The device announces itself busy just before its first prompt.
    for (int i = 0; i < 5000 && SentFrames(r.rig.sent, 0x5E) == 0; ++i) r.rig.Run(1);
    ASSERT_EQ(SentFrames(r.rig.sent, 0x5E), 1);
    r.rig.InjectFrame(0x49, {0xD0, 0x07, 0, 0});
    r.rig.Run(30000);
    EXPECT_EQ(r.ev.EndOf(EActivity::Measure), EOutcome::Done);
    EXPECT_EQ(r.ev.Added, 1);
    EXPECT_EQ(SentFrames(r.rig.sent, 0x5E), 1);
    EXPECT_TRUE(r.ev.Errors.empty());
}

TEST(Session, aClockTimeAnsweredBusyIsSentAgainLaterByTheTimeWaited) {
    sim::Scenario s = sim::Scenario::demo();
    s.faults.push_back(BusyOn(0x58, 1));
    SessionRig r(s);
    ASSERT_TRUE(r.Connect());
    for (int i = 0; i < 40 && r.session->State().Current != stReady; ++i) r.rig.Run(25);
    r.session->SetClock({2030, 1, 2, 3, 4, 5, 0});
    EXPECT_EQ(r.ev.EndOf(EActivity::SetClock), EOutcome::Done);
    r.rig.Run(4000);
    EXPECT_EQ(SentFrames(r.rig.sent, 0x58), 2);
    const TLocalDateTime c = r.session->LastDeviceClock();
    EXPECT_EQ((std::array{c.Year, c.Month, c.Day, c.Hour, c.Minute}),
              (std::array{2030, 1, 2, 3, 4}));
    EXPECT_GE(c.Second, 5 + 2);  // the 2 s the device was busy
    EXPECT_TRUE(r.ev.Errors.empty());
    EXPECT_TRUE(r.ev.Notices.empty());
}

TEST(Session, aDeviceBusyPastItsTimeEndsTheActivityWithTheBusyMessage) {
    sim::Scenario s = Quiet();
    sim::SimFault gone = FaultOnRead(sim::FaultKind::Silence);
    gone.durationMs = 0;  // nothing is answered from the read on
    s.faults.push_back(gone);
    SessionRig r(s);
    ASSERT_TRUE(r.Connect());
    r.session->ReadStoredData();
    r.rig.Run(100);
    r.rig.InjectFrame(0x49, {0xE8, 0x03, 0, 0});  // busy for 1000 ms
    r.rig.Run(1000 + 8500 - 100);
    EXPECT_EQ(r.session->State().Current, stBusy);
    EXPECT_FALSE(r.ev.EndOf(EActivity::ReadStoredData));
    r.rig.Run(200);
    EXPECT_EQ(r.ev.EndOf(EActivity::ReadStoredData), EOutcome::Busy);
    EXPECT_EQ(r.ev.Notices, std::vector<ENotice>{ENotice::DeviceBusy});
    EXPECT_TRUE(r.ev.Errors.empty());
    EXPECT_EQ(r.session->State().Current, stReady);
    EXPECT_EQ(r.ev.Added, 0);
    EXPECT_TRUE(r.list.empty());
}

TEST(Session, aReplyAfterItsTimeOutIsDroppedAndANewReadGetsOnlyItsOwnBlocks) {
    sim::Scenario s = Quiet();
    // The first ring block goes unanswered for 3 s: the read times out and
    // the probe after it is answered.
    sim::SimFault late = FaultOnRead(sim::FaultKind::Silence);
    late.nth = 6;
    late.times = 1;
    late.durationMs = 3000;
    s.faults.push_back(late);
    SessionRig r(s);
    // The line traced as --trace traces it.
    const std::string tracePath = ::testing::TempDir() + "kyvo-session-dropped.trace";
    std::remove(tracePath.c_str());
    std::string traceError;
    const auto trace = TPortTrace::open(tracePath, "test", traceError);
    ASSERT_TRUE(trace) << traceError;
    r.rig.link.Worker().SetPortDecorator(
        [trace](std::shared_ptr<ISerialPort> port, const std::string& name) {
            return std::make_shared<TTracingPort>(std::move(port), trace, name);
        });
    ASSERT_TRUE(r.Connect());
    r.session->ReadStoredData();
    r.rig.Run(30000);
    ASSERT_EQ(r.ev.EndOf(EActivity::ReadStoredData), EOutcome::TimeOut);
    ASSERT_EQ(r.session->State().Current, stReady);

    // The late reply, a block of the ring the read had only begun.
    const int readsBefore = SentFrames(r.rig.sent, 0x52);
    r.rig.InjectFrame(0x53, DataReply(0x80000, 768));
    r.rig.Run(3000);
    EXPECT_EQ(SentFrames(r.rig.sent, 0x52), readsBefore);
    ASSERT_EQ(r.ev.Dropped.size(), 1u);
    EXPECT_EQ(r.session->State().Current, stReady);
    std::stringstream traced;
    traced << std::ifstream(tracePath).rdbuf();
    EXPECT_NE(traced.str().find("# " + r.ev.Dropped[0]), std::string::npos) << traced.str();
    EXPECT_NE(r.ev.Dropped[0].find("0x080000"), std::string::npos) << r.ev.Dropped[0];
    std::remove(tracePath.c_str());

    // A block of the old read arriving as the new one starts.
    r.ev.Errors.clear();
    r.ev.Ends.clear();
    r.session->ReadStoredData();
    r.rig.InjectFrame(0x53, DataReply(0x80300, 16));
    r.rig.Run(30000);
    EXPECT_EQ(r.ev.EndOf(EActivity::ReadStoredData), EOutcome::Done);
    EXPECT_TRUE(r.ev.Errors.empty()) << r.ev.Errors[0].Text;
    EXPECT_EQ(r.ev.Dropped.size(), 2u);
    SessionRig plain(Quiet());
    ASSERT_TRUE(plain.Connect());
    plain.session->ReadStoredData();
    plain.rig.Run(30000);
    EXPECT_EQ(r.list.size(), plain.list.size());
    EXPECT_EQ(r.session->ResultData(), plain.session->ResultData());
}

TEST(Session, aMeasurementFromADeviceWithoutStoredConfigurationsEndsAtOnce) {
    sim::Scenario s = Quiet();
    for (auto& c : s.configs) c.stored = false;
    SessionRig r(s);
    ASSERT_TRUE(r.Connect());
    r.session->UseTestSource(TSKyvo);
    r.ev.Stored = 0;
    r.session->Measure(false);
    r.rig.Run(1000);
    EXPECT_EQ(r.ev.EndOf(EActivity::Measure), EOutcome::Device);
    EXPECT_EQ(r.ev.Notices, std::vector<ENotice>{ENotice::NoStoredConfig});
    EXPECT_TRUE(r.ev.Asked.empty());  // nothing to choose from
    EXPECT_TRUE(r.ev.Errors.empty());
    EXPECT_EQ(r.session->State().Current, stReady);
    r.rig.Run(30000);
    EXPECT_TRUE(r.ev.Errors.empty());  // no time-out follows
}

TEST(Session, aLostClockReplyWithoutDisconnectingEndsThePollWhichGoesOn) {
    sim::Scenario s = sim::Scenario::demo();
    sim::SimFault lost;
    lost.kind = sim::FaultKind::Silence;
    lost.command = 0x5A;
    lost.nth = 2;
    lost.durationMs = 500;
    s.faults.push_back(lost);
    SessionRig r(s);
    r.session->Settings().DisconnectOnClockTimeOut = false;
    ASSERT_TRUE(r.Connect());
    r.rig.Run(5000);
    EXPECT_TRUE(r.session->IsOpen());
    EXPECT_EQ(r.session->State().Current == stReady || r.session->State().Current == stWaitClock,
              true);
    int timedOut = 0, done = 0;
    for (const auto& [a, o] : r.ev.Ends)
        if (a == EActivity::ReadClock) (o == EOutcome::TimeOut ? timedOut : done) += 1;
    EXPECT_EQ(timedOut, 1);
    EXPECT_GE(done, 3);  // the poll went on after the lost reply
    EXPECT_TRUE(r.ev.Errors.empty());
    for (int i = 0; i < 40 && r.session->State().Current != stReady; ++i) r.rig.Run(25);
    r.session->SetClock({2030, 1, 2, 3, 4, 5, 0});
    EXPECT_EQ(r.ev.EndOf(EActivity::SetClock), EOutcome::Done);
    r.rig.Run(1500);
    EXPECT_EQ(r.session->LastDeviceClock().Year, 2030);
}

TEST(Session, anImpossibleDateIsNotSentToTheDeviceClock) {
    struct Case {
        TLocalDateTime t;
        const char* field;
    };
    const Case cases[] = {
        {{2024, 2, 31, 10, 0, 0, 0}, "day"},    {{2023, 2, 29, 10, 0, 0, 0}, "day"},
        {{2024, 4, 31, 10, 0, 0, 0}, "day"},    {{2024, 13, 1, 10, 0, 0, 0}, "month"},
        {{2024, 0, 1, 10, 0, 0, 0}, "month"},   {{1999, 12, 31, 10, 0, 0, 0}, "year"},
        {{2100, 1, 1, 10, 0, 0, 0}, "year"},    {{2024, 1, 1, 24, 0, 0, 0}, "hour"},
        {{2024, 1, 1, 10, 60, 0, 0}, "minute"}, {{2024, 1, 1, 10, 0, -1, 0}, "second"},
    };
    SessionRig r(sim::Scenario::demo());
    ASSERT_TRUE(r.Connect());
    for (const Case& c : cases) {
        EXPECT_EQ(InvalidClockField(c.t), std::optional<std::string>(c.field)) << c.field;
        for (int i = 0; i < 40 && r.session->State().Current != stReady; ++i) r.rig.Run(25);
        const int setsBefore = SentFrames(r.rig.sent, 0x58);
        r.session->SetClock(c.t);
        EXPECT_EQ(r.ev.EndOf(EActivity::SetClock), EOutcome::Invalid) << c.field;
        EXPECT_EQ(SentFrames(r.rig.sent, 0x58), setsBefore) << c.field;
    }
    EXPECT_FALSE(InvalidClockField({2024, 2, 29, 23, 59, 59, 0}));
    r.rig.Run(1500);
    EXPECT_NE(r.session->LastDeviceClock().Year, 2100);
    EXPECT_TRUE(r.ev.Errors.empty());
}

}  // namespace
}  // namespace kyvo
