// When a watched reader is read: the rules over looks at the ports, on a
// clock of the test's own.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/DockWatch.h"

namespace kyvo {
namespace {

using Present = std::map<std::string, std::string>;
using Keys = std::vector<std::string>;

TDockWatch Watch() {
    TDockPolicy p;
    p.RereadMs = 900000;
    p.HeldRetryMs = 2000;
    p.FailedRetryMs = 60000;
    return TDockWatch(p);
}

TEST(DockWatch, aReaderIsReadWhenPluggedInAndAgainOnlyWhenPluggedInAgainOrAfterItsInterval) {
    TDockWatch w = Watch();
    w.Look({{"a", "1"}, {"b", "1"}}, 0);
    EXPECT_EQ(w.TakeDue(0), (Keys{"a", "b"}));
    EXPECT_EQ(w.TakeDue(0), Keys{}) << "being read";
    w.Ended("a", EDockEnd::Read, 100);
    w.Ended("b", EDockEnd::Read, 100);
    w.Look({{"a", "1"}, {"b", "1"}}, 2000);
    EXPECT_EQ(w.TakeDue(2000), Keys{}) << "docked: nothing until the interval";
    // a unplugged and plugged in again between two looks: a new node.
    w.Look({{"a", "2"}, {"b", "1"}}, 4000);
    EXPECT_EQ(w.TakeDue(4000), Keys{"a"});
    w.Ended("a", EDockEnd::Read, 4100);
    // b gone for one look and back: read again.
    w.Look({{"a", "2"}}, 6000);
    w.Look({{"a", "2"}, {"b", "1"}}, 8000);
    EXPECT_EQ(w.TakeDue(8000), Keys{"b"});
    w.Ended("b", EDockEnd::Read, 8100);
    EXPECT_EQ(w.TakeDue(904099), Keys{});
    EXPECT_EQ(w.TakeDue(904100), Keys{"a"});
    EXPECT_EQ(w.TakeDue(908100), Keys{"b"});
}

TEST(DockWatch, aHeldPortIsTriedSoonAFailedReadLaterOrWhenPluggedInAgain) {
    struct Case {
        EDockEnd end;
        long long retryAt;
    };
    for (const Case c : {Case{EDockEnd::Held, 2100}, Case{EDockEnd::Failed, 60100}}) {
        TDockWatch w = Watch();
        w.Look({{"a", "1"}}, 0);
        ASSERT_EQ(w.TakeDue(0), Keys{"a"});
        w.Ended("a", c.end, 100);
        EXPECT_EQ(w.TakeDue(c.retryAt - 1), Keys{});
        EXPECT_EQ(w.TakeDue(c.retryAt), Keys{"a"});
        w.Ended("a", c.end, c.retryAt);
        w.Look({{"a", "2"}}, c.retryAt + 1);
        EXPECT_EQ(w.TakeDue(c.retryAt + 1), Keys{"a"}) << "plugged in again: at once";
    }
}

TEST(DockWatch, aReaderUnpluggedOrReplacedDuringItsReadIsReadAgainWhenItIsBack) {
    TDockWatch w = Watch();
    w.Look({{"a", "1"}, {"b", "1"}}, 0);
    ASSERT_EQ(w.TakeDue(0), (Keys{"a", "b"}));
    // a unplugged mid-read; b unplugged and plugged in again mid-read.
    w.Look({{"b", "2"}}, 2000);
    EXPECT_EQ(w.Busy(), 2u);
    w.Ended("a", EDockEnd::Failed, 2500);
    w.Ended("b", EDockEnd::Failed, 2500);
    EXPECT_EQ(w.TakeDue(2500), Keys{"b"});
    w.Look({{"a", "1"}, {"b", "2"}}, 4000);
    EXPECT_EQ(w.TakeDue(4000), Keys{"a"});
    // A read that went well just as the reader was replaced still counts
    // the new one as not read.
    w.Ended("a", EDockEnd::Read, 4100);
    w.Look({{"a", "1"}, {"b", "3"}}, 6000);
    w.Ended("b", EDockEnd::Read, 6100);
    EXPECT_EQ(w.TakeDue(6100), Keys{"b"});
}

TEST(DockWatch, noIntervalMeansADockedReaderIsReadOnlyWhenPluggedIn) {
    TDockPolicy p;
    p.RereadMs = 0;
    TDockWatch w(p);
    w.Look({{"a", "1"}}, 0);
    ASSERT_EQ(w.TakeDue(0), Keys{"a"});
    w.Ended("a", EDockEnd::Read, 10);
    w.Look({{"a", "1"}}, 100000000);
    EXPECT_EQ(w.TakeDue(100000000), Keys{});
}

}  // namespace
}  // namespace kyvo
