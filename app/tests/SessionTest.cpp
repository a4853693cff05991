// The device session on its own, with a presenter that records what it
// hears and answers every question from a script: the typed outcomes of
// each kind of error and each question.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/tests/Harness.h"

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
    int Cleared = 0, Added = 0;

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
    void ActivityEnded(EActivity a, EOutcome o) override { Ends.push_back({a, o}); }

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

}  // namespace
}  // namespace kyvo
