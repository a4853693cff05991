#include <gtest/gtest.h>

#include "app/tests/Harness.h"

namespace kyvo {
namespace {

using testing::Ready;
using testing::Rig;

// A device without a clock, so that no clock poll interleaves.
sim::Scenario Quiet() {
    sim::Scenario s = sim::Scenario::demo();
    s.bits.ClockPresent = false;
    return s;
}

sim::SimFault SilenceOn(std::uint8_t command) {
    sim::SimFault f;
    f.kind = sim::FaultKind::Silence;
    f.command = command;
    f.times = 0;       // every one
    f.durationMs = 1;  // that frame only
    return f;
}

TEST(StateMachine, aReadWhoseDeviceStopsReadingIsProbedAndReturnsToReady) {
    sim::Scenario s = Quiet();
    s.faults.push_back(SilenceOn(0x52));
    Rig rig(s);
    rig.Start();
    rig.Connect();
    // Identification reads memory too: with every read silenced it stops at
    // its first read and the probe brings it back to Ready.
    EXPECT_EQ(rig.State(), stIdentifying);
    rig.Run(8500);
    EXPECT_EQ(rig.State(), stReady);
    ASSERT_EQ(rig.view.Messages.size(), 1u);
    EXPECT_EQ(rig.view.Messages[0].Text, "Waiting for device: time out.");
    EXPECT_EQ(rig.view.Messages[0].Caption, "Kyvo has been disconnected!");

    rig.main->Button_ReadDataClick();
    rig.Run(4990);
    EXPECT_EQ(rig.State(), stReceiving);
    rig.Run(20);  // the time-out, the probe and its answer
    EXPECT_EQ(rig.State(), stReady);
    EXPECT_EQ(rig.view.Messages.size(), 2u);
    EXPECT_TRUE(rig.link.IsOpen());
}

TEST(StateMachine, aDeviceThatStopsAnsweringIsProbedThenDisconnected) {
    Ready r(Quiet());
    r.rig.deviceAttached = false;
    r.rig.main->Button_ReadDataClick();
    r.rig.Run(5005);
    EXPECT_EQ(r.rig.State(), stProbe);
    r.rig.Run(1000);
    EXPECT_EQ(r.rig.State(), stDisconnected);
    ASSERT_EQ(r.rig.view.Messages.size(), 1u);
    EXPECT_EQ(r.rig.view.Messages[0].Text,
              "Waiting for device: time out.\r\nThe connection has been closed.");
    EXPECT_EQ(r.rig.view.Messages[0].Caption, "Kyvo has been disconnected!");
    EXPECT_FALSE(r.rig.link.IsOpen());
    EXPECT_EQ(r.rig.view.Status, "disconnected");
}

TEST(StateMachine, aClickDuringAnActivityGetsTheBusyMessageAndLeavesItRunning) {
    Ready r(Quiet());
    r.rig.main->Button_ReadDataClick();
    ASSERT_EQ(r.rig.State(), stReceiving);
    r.rig.main->Menu_FormatDBClick();
    EXPECT_EQ(
        r.rig.view.MessageTexts(),
        std::vector<std::string>{"The kyvo is busy. Please wait until it is in Ready-state."});
    EXPECT_EQ(r.rig.State(), stReceiving);
    r.rig.Run(3000);
    EXPECT_EQ(r.rig.State(), stReady);
    EXPECT_FALSE(r.rig.main->MeasureList.empty());
}

TEST(StateMachine, clicksWithin300msOfAClockRequestRunOnlyTheLastOneWhenTheyEnd) {
    Ready r(sim::Scenario::demo());  // with the clock poll
    // Step to just after a clock request.
    for (int i = 0; i < 2000 && r.rig.State() != stWaitClock; ++i) r.rig.Run(1);
    ASSERT_EQ(r.rig.State(), stWaitClock);
    const auto asked = r.rig.sched.Elapsed();
    r.rig.main->Menu_FormatDBClick();
    r.rig.main->Button_ReadDataClick();
    EXPECT_TRUE(r.rig.view.Messages.empty());
    EXPECT_NE(r.rig.State(), stReceiving);
    while (r.rig.State() != stReceiving && r.rig.sched.Elapsed() < asked + 400) r.rig.Run(1);
    EXPECT_EQ(r.rig.State(), stReceiving);
    EXPECT_EQ(r.rig.sched.Elapsed(), asked + 300);
    EXPECT_TRUE(r.rig.view.Messages.empty());  // no format question: replaced
}

TEST(StateMachine, aBusyNoticeShowsKyvoBusyAndReturnsToReadyAfterItsTime) {
    Ready r(Quiet());
    r.rig.InjectFrame(0x49, {0xD0, 0x07, 0, 0});  // 2000 ms
    r.rig.Run(5);
    EXPECT_EQ(r.rig.State(), stBusy);
    EXPECT_EQ(r.rig.view.Status, "Kyvo busy");
    r.rig.Run(10490);
    EXPECT_EQ(r.rig.State(), stBusy);
    r.rig.Run(10);
    EXPECT_EQ(r.rig.State(), stReady);
    EXPECT_TRUE(r.rig.main->KyvoAcknowledgedFlag());
}

struct ErrorCase {
    std::uint8_t frame;  // 0x45 communication, 0x47 device
    std::uint8_t code;
    std::string message;  // empty: none
};

class ErrorReport : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorReport, endsTheReadWithTheCodeAndItsText) {
    const auto& c = GetParam();
    Ready r(Quiet());
    r.rig.main->Button_ReadDataClick();
    ASSERT_EQ(r.rig.State(), stReceiving);
    r.rig.InjectFrame(c.frame, c.frame == 0x45 ? tByteBuffer{c.code} : tByteBuffer{c.code, 0});
    r.rig.Run(5);
    if (c.message.empty()) {
        EXPECT_TRUE(r.rig.view.Messages.empty());
    } else {
        ASSERT_EQ(r.rig.view.Messages.size(), 1u);
        EXPECT_EQ(r.rig.view.Messages[0].Text, c.message);
        EXPECT_EQ(r.rig.view.Messages[0].Caption, "");
        EXPECT_EQ(r.rig.State(), stReady);
    }
    r.rig.Run(3000);
    EXPECT_EQ(r.rig.State(), stReady);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ErrorReport,
    ::testing::Values(
        ErrorCase{0x45, 0x02, "(Comm) Error Code: 02\r\nUnknown command"},
        ErrorCase{0x45, 0x43, "(Comm) Error Code: 43\r\nRead no data"},
        ErrorCase{0x45, 0x77, "(Comm) Error Code: 77\r\n"},
        ErrorCase{0x47, 0x13, "(Kyvo) Error Code: 0x13\r\nCapture error"},
        ErrorCase{0x47, 0x1B, "(Kyvo) Error Code: 0x1B\r\n"},
        ErrorCase{0x47, 0x38, "(Kyvo) Error Code: 0x38\r\nRFID Error: nothing received."},
        ErrorCase{0x47, 0x91,
                  "(Kyvo) Error Code: 0x91\r\nThe customer specified in the config is invalid "
                  "for the device."}));

TEST(StateMachine, deviceErrorZeroChangesNothingAndErrorsWhileIdleAreNotShown) {
    Ready r(Quiet());
    r.rig.main->Button_ReadDataClick();
    r.rig.InjectFrame(0x47, {0x00, 0});
    r.rig.Run(5);
    EXPECT_EQ(r.rig.State(), stReceiving);
    r.rig.Run(3000);
    ASSERT_EQ(r.rig.State(), stReady);
    r.rig.InjectFrame(0x47, {0x13, 0});
    r.rig.InjectFrame(0x45, {0x02});
    r.rig.Run(5);
    EXPECT_TRUE(r.rig.view.Messages.empty());
}

TEST(StateMachine, aFailedTransmissionClosesTheConnectionThenSaysSo) {
    Ready r(Quiet());
    r.rig.port->setWriteLimit(0);
    r.rig.main->Button_ReadDataClick();
    r.rig.Run(20);
    ASSERT_FALSE(r.rig.view.Messages.empty());
    EXPECT_EQ(r.rig.view.Messages[0].Text, "Connection closed (possible data loss)");
    EXPECT_EQ(r.rig.view.Messages[0].Caption, "RS232 Error");
    EXPECT_EQ(r.rig.State(), stDisconnected);
    EXPECT_FALSE(r.rig.link.IsOpen());
}

}  // namespace
}  // namespace kyvo
