#include <gtest/gtest.h>

#include "app/tests/Harness.h"

namespace kyvo {
namespace {

using testing::Rig;

TEST(Clock, minutesBetweenTimesOfDayIgnoreTheDate) {
    EXPECT_EQ(MinutesBetweenTimesOfDay({2024, 1, 1, 12, 0, 0, 0}, {2024, 1, 1, 11, 58, 30, 0}), 1);
    EXPECT_EQ(MinutesBetweenTimesOfDay({2024, 1, 2, 0, 0, 10, 0}, {2024, 1, 1, 23, 59, 30, 0}),
              1439);
    EXPECT_EQ(MinutesBetweenTimesOfDay({2024, 1, 1, 8, 0, 59, 999}, {2030, 5, 5, 8, 0, 0, 0}), 0);
}

struct ClockCase {
    std::optional<std::int64_t> deviceOffsetSeconds;  // none: the device reports an invalid date
    EPanelColour time, date;
};

class ClockPanels : public ::testing::TestWithParam<ClockCase> {};

TEST_P(ClockPanels, showHowFarTheDeviceClockIsOff) {
    sim::Scenario s = sim::Scenario::demo();
    s.clockOffsetSeconds = GetParam().deviceOffsetSeconds;
    Rig rig(s);
    rig.Start();
    rig.Connect();
    rig.Run(1500);  // at least one poll
    EXPECT_EQ(rig.view.Colours[EControl::Panel_Time], GetParam().time);
    EXPECT_EQ(rig.view.Colours[EControl::Panel_Date], GetParam().date);
    EXPECT_EQ(rig.State() == stReady || rig.State() == stWaitClock, true);
}

// The computer's clock stands at 2026-12-09 12:00 in the rig.
INSTANTIATE_TEST_SUITE_P(
    Offsets, ClockPanels,
    ::testing::Values(ClockCase{0, EPanelColour::Green, EPanelColour::Green},
                      ClockCase{-90, EPanelColour::DarkYellow, EPanelColour::Green},
                      ClockCase{-200, EPanelColour::Red, EPanelColour::Green},
                      ClockCase{-86400, EPanelColour::Green, EPanelColour::Red},
                      ClockCase{std::nullopt, EPanelColour::Red, EPanelColour::Red}));

TEST(Clock, theDayBoundaryCountsTimesOfDayNotElapsedTime) {
    // Both clocks start at 12:00:00; the device runs 11:59:30 ahead, the
    // computer 12:00:10: device 23:59:30, computer 00:00:10 of the next day.
    sim::Scenario s = sim::Scenario::demo();
    s.clockOffsetSeconds = 11 * 3600 + 59 * 60 + 30;
    Rig rig(s);
    rig.sched.SetWallClockOffsetMs((12 * 3600 + 10) * 1000LL);
    rig.Start();
    rig.Connect();
    rig.Run(1500);
    EXPECT_EQ(rig.view.Colours[EControl::Panel_Time], EPanelColour::Red);
    EXPECT_EQ(rig.view.Colours[EControl::Panel_Date], EPanelColour::Red);
}

TEST(Clock, enterInAPickerSetsTheDeviceClockOnlyWhenIdle) {
    Rig rig(sim::Scenario::demo());
    rig.Start();
    rig.Connect();
    rig.Run(1500);
    while (rig.State() != stReady) rig.Run(1);
    rig.view.Picker = {2025, 3, 4, 5, 6, 7, 0};
    rig.main->DTP_SetDateKeyDown(true);
    rig.Run(1500);
    const auto c = rig.device->deviceClock();
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->Year, 25);
    EXPECT_EQ(c->Month, 3);
    EXPECT_EQ(c->MonthDay, 4);

    rig.main->Button_ReadDataClick();
    while (rig.State() != stReceiving) rig.Run(1);
    rig.view.Picker = {2030, 1, 1, 0, 0, 0, 0};
    rig.view.PickerFocus = true;
    rig.main->DTP_SetDateKeyDown(true);
    EXPECT_FALSE(rig.view.PickerFocus);
    rig.Run(3000);
    EXPECT_EQ(rig.device->deviceClock()->Year, 25);
}

TEST(Housekeeping, formattingAsksThenEmptiesTheDatabaseAndSaysSo) {
    Rig rig(sim::Scenario::demo());
    rig.Start();
    rig.Connect();
    ASSERT_GT(rig.device->storedResultCount(), 0u);
    rig.view.MessageAnswers = {EModalResult::No};
    rig.main->Menu_FormatDBClick();
    rig.Run(400);  // a clock request may delay the click
    ASSERT_EQ(rig.view.Messages.size(), 1u);
    EXPECT_EQ(rig.view.Messages[0].Style, EMsgStyle::YesNo);
    EXPECT_TRUE(rig.view.Messages[0].DefaultNo);  // Enter must not wipe the device
    rig.Run(3000);
    EXPECT_GT(rig.device->storedResultCount(), 0u);

    rig.view.MessageAnswers = {EModalResult::Yes};
    rig.main->Menu_FormatDBClick();
    rig.Run(400);
    EXPECT_EQ(rig.State(), stFormatting);
    EXPECT_EQ(rig.view.Status, "Formatting");
    rig.Run(3000);
    EXPECT_EQ(rig.view.MessageTexts().back(), "Database has been successfully formatted.");
    EXPECT_EQ(rig.device->storedResultCount(), 0u);
}

TEST(Housekeeping, theVersionDialogHoldsInfoAndReturnsToTheStateBefore) {
    Rig rig(sim::Scenario::demo());
    rig.Start();
    rig.Connect();
    while (rig.State() != stReady) rig.Run(1);
    rig.main->SubMenu_VersionClick();
    EXPECT_EQ(rig.State(), stReady);
    bool sawInfo = false;
    for (const auto& s : rig.view.StatusHistory) sawInfo |= s.empty();
    EXPECT_TRUE(sawInfo);
}

TEST(Shutdown, closingWithTheButtonLockWaitsForTheReleaseAndAsksAgain) {
    Rig rig(sim::Scenario::demo(),
            {{"Setup/DisableKyvoButtonOnConnect", "true"}, {"Setup/SaveOnExit", "true"}});
    rig.Start();
    rig.Connect();
    ASSERT_TRUE(rig.device->buttonDisabled());
    rig.main->MeasureList.push_back(std::make_unique<TMeasureSet>());
    rig.view.MessageAnswers = {EModalResult::Cancel};
    EXPECT_FALSE(rig.main->FormCloseQuery());
    EXPECT_EQ(rig.view.Messages.size(), 1u);
    rig.Run(50);  // the release is still sent and acknowledged
    EXPECT_FALSE(rig.device->buttonDisabled());
    EXPECT_EQ(rig.view.CloseRequests, 1);
    rig.view.MessageAnswers = {EModalResult::No};
    EXPECT_TRUE(rig.main->FormCloseQuery());  // asked again, no second release
    EXPECT_EQ(rig.view.Messages.size(), 2u);
}

TEST(Shutdown, aReleaseThatIsNotAcknowledgedClosesTheConnectionAndKeepsTheWindow) {
    Rig rig(sim::Scenario::demo(), {{"Setup/DisableKyvoButtonOnConnect", "true"}});
    rig.Start();
    rig.Connect();
    rig.deviceAttached = false;
    EXPECT_FALSE(rig.main->FormCloseQuery());
    EXPECT_EQ(rig.State(), stClosing);
    rig.Run(150);
    EXPECT_EQ(rig.State(), stDisconnected);
    EXPECT_EQ(rig.view.CloseRequests, 0);
}

TEST(Shutdown, closingWithShutdownOnSendsShutdownBeforeTheTeardown) {
    Rig rig(sim::Scenario::demo(), {{"KyvoCommunication/ShutDownOnClose", "true"}});
    rig.Start();
    rig.Connect();
    EXPECT_TRUE(rig.main->FormCloseQuery());
    rig.main->FormClose();
    EXPECT_TRUE(rig.device->shutdownRequested());
    rig.main->FormDestroy();
    EXPECT_FALSE(rig.link.IsOpen());
    EXPECT_EQ(rig.user.Values["Setup/Width"], "874");
}

}  // namespace
}  // namespace kyvo

namespace kyvo {
namespace {

TEST(Startup, theLastUsedFileIsLoadedInTheSecondStageWhenTicked) {
    // A "DefaultDir" that no longer exists gives way to the default folder.
    const std::string here = ::testing::TempDir();
    const struct {
        std::string defaultDir, expected;
    } cases[] = {
        {here, here + "x.tsv"},
        {"/data/gone-since-last-run/", "/tmp/kyvo-config/x.tsv"},
    };
    for (const auto& c : cases) {
        testing::Rig rig(sim::Scenario::demo(), {{"Setup/LoadLastSavedOnStart", "true"},
                                                 {"Setup/DefaultDir", c.defaultDir},
                                                 {"Setup/LastUsedFile", "x.tsv"}});
        std::vector<std::string> loaded;
        rig.main->LoadMeasureFile = [&](TForm_Main& m, const std::string& path) {
            EXPECT_FALSE(m.Initialized());  // connecting is still refused while it loads
            loaded.push_back(path);
        };
        rig.main->FormCreate();
        rig.Run(149);
        EXPECT_TRUE(loaded.empty());
        rig.Run(1);
        EXPECT_EQ(loaded, std::vector<std::string>{c.expected}) << c.defaultDir;
    }
}

}  // namespace
}  // namespace kyvo

namespace kyvo {
namespace {

struct PlaceCase {
    std::map<std::string, std::string> settings;
    TWindowGeometry want;
};

class WindowPlacement : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(WindowPlacement, followsTheSettingsWithinTheDesktop) {
    testing::MemKeyStore user;
    user.Values = GetParam().settings;
    const TWindowGeometry g = PlaceWindow(user, {1280, 1024, 1280, 1024});
    EXPECT_EQ(g.Left, GetParam().want.Left);
    EXPECT_EQ(g.Top, GetParam().want.Top);
    EXPECT_EQ(g.Width, GetParam().want.Width);
    EXPECT_EQ(g.WindowState, GetParam().want.WindowState);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, WindowPlacement,
    ::testing::Values(
        PlaceCase{{}, {203, 200, 874, 624, 0}},
        PlaceCase{{{"Setup/Left", "5000"}, {"Setup/Top", "-3"}}, {640, 0, 874, 624, 0}},
        PlaceCase{{{"Setup/WindowState", "1"}}, {203, 200, 874, 624, 0}},
        PlaceCase{{{"Setup/WindowState", "-1"}}, {203, 200, 874, 624, 2}},
        PlaceCase{{{"Setup/WindowState", "7"}, {"Setup/Width", "900"}}, {203, 200, 900, 624, 2}}));

}  // namespace
}  // namespace kyvo
