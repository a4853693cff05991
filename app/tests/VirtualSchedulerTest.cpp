#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/VirtualScheduler.h"

namespace kyvo {
namespace {

TEST(VirtualScheduler, timersFireAtTheirDueTimesInArmingOrder) {
    VirtualScheduler s;
    std::vector<std::string> log;
    auto a = s.CreateTimer([&] { log.push_back("a@" + std::to_string(s.Elapsed())); });
    auto b = s.CreateTimer([&] { log.push_back("b@" + std::to_string(s.Elapsed())); });
    b->Start(100);
    a->Start(100);
    s.Advance(250);
    EXPECT_EQ(log, (std::vector<std::string>{"b@100", "a@100", "b@200", "a@200"}));
    EXPECT_EQ(s.Elapsed(), 250);
}

TEST(VirtualScheduler, aTimerStoppedOrRestartedByAnotherCallbackObeys) {
    VirtualScheduler s;
    int fired = 0;
    auto victim = s.CreateTimer([&] { ++fired; });
    auto killer = s.CreateTimer([&] { victim->Stop(); });
    killer->Start(50);
    victim->Start(50);  // due at the same instant, armed later
    s.Advance(200);
    EXPECT_EQ(fired, 0);

    auto once = s.CreateTimer([&] { ++fired; });
    once->Start(30);
    s.Advance(20);
    once->Start(30);  // re-arming moves the due time
    s.Advance(20);
    EXPECT_EQ(fired, 0);
    s.Advance(10);
    EXPECT_EQ(fired, 1);
}

TEST(VirtualScheduler, wallClockFollowsVirtualTimeAcrossMidnight) {
    VirtualScheduler s({2024, 12, 31, 23, 59, 59, 500});
    s.Advance(700);
    EXPECT_EQ(s.Now(), (TLocalDateTime{2025, 1, 1, 0, 0, 0, 200}));
    s.SetWallClockOffsetMs(-60000);
    EXPECT_EQ(s.Now(), (TLocalDateTime{2024, 12, 31, 23, 59, 0, 200}));
}

}  // namespace
}  // namespace kyvo
