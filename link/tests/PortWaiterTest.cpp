// The worker's sleep: it ends for a wake-up from any thread and for a port
// descriptor that has bytes or hung up, and wake-ups coalesce.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "link/posix/PortWaiter.h"

namespace kyvo {
namespace {

// A long timeout stands for "never": a wait that ends by it reports nothing.
constexpr int kNever = 60000;

struct Pipe {
    Pipe() {
        if (pipe2(fd, O_CLOEXEC | O_NONBLOCK) != 0) fd[0] = fd[1] = -1;
    }
    ~Pipe() {
        closeEnd(0);
        closeEnd(1);
    }
    void closeEnd(int i) {
        if (fd[i] >= 0) ::close(fd[i]);
        fd[i] = -1;
    }
    int fd[2];
};

TEST(PortWaiter, waitsEndForWakeUpsAndForPortsThatHaveBytesOrHungUp) {
    enum class Before { Nothing, Wake, ManyWakes, PortByte, PortHangUp };
    struct Case {
        const char* name;
        Before before;
        bool watchPort;
        int timeoutMs;
        bool woken;
        bool portReady;
    };
    const Case cases[] = {
        {"quiet", Before::Nothing, true, 0, false, false},
        {"woken", Before::Wake, true, kNever, true, false},
        {"woken many times", Before::ManyWakes, false, kNever, true, false},
        {"byte on the port", Before::PortByte, true, kNever, false, true},
        {"port hung up", Before::PortHangUp, true, kNever, false, true},
        {"byte on an unwatched port", Before::PortByte, false, 0, false, false},
    };
    for (const auto& c : cases) {
        PortWaiter waiter;
        ASSERT_TRUE(waiter.ok());
        Pipe line;
        ASSERT_GE(line.fd[0], 0);
        const std::uint8_t byte = 0x55;
        switch (c.before) {
            case Before::Nothing:
                break;
            case Before::Wake:
                waiter.wake();
                break;
            case Before::ManyWakes:
                for (int i = 0; i < 100; ++i) waiter.wake();
                break;
            case Before::PortByte:
                ASSERT_EQ(::write(line.fd[1], &byte, 1), 1);
                break;
            case Before::PortHangUp:
                line.closeEnd(1);
                break;
        }
        auto r = waiter.wait(c.watchPort ? line.fd[0] : -1, c.timeoutMs);
        EXPECT_EQ(r.woken, c.woken) << c.name;
        EXPECT_EQ(r.portReady, c.portReady) << c.name;
        // The wake-up was taken whole: the next wait has nothing to report.
        r = waiter.wait(-1, 0);
        EXPECT_FALSE(r.woken) << c.name;
        // And the next wake-up is not lost.
        waiter.wake();
        EXPECT_TRUE(waiter.wait(-1, kNever).woken) << c.name;
    }
}

TEST(PortWaiter, aWakeUpFromAnotherThreadEndsTheWait) {
    PortWaiter waiter;
    ASSERT_TRUE(waiter.ok());
    Pipe line;
    for (int round = 0; round < 50; ++round) {
        std::thread other([&] { waiter.wake(); });
        EXPECT_TRUE(waiter.wait(line.fd[0], kNever).woken) << round;
        other.join();
    }
}

}  // namespace
}  // namespace kyvo
