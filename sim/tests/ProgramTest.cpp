// The real kyvo-sim program on a pseudo-terminal, with real time.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>

#include "sim/SimState.h"
#include "sim/tests/SimClient.h"
#include "sim/tests/SimProgram.h"

namespace kyvo::sim::test {
namespace {

TEST(SimProgram, playsOnAPseudoTerminalUntilShutdown) {
    Program sim({});
    ASSERT_GT(sim.pid, 0);
    std::string path = sim.firstLine(10000);
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);

    tByteBuffer ack = encodeFrame(0xAA, {});
    ASSERT_EQ(write(fd, ack.data(), ack.size()), static_cast<ssize_t>(ack.size()));
    EXPECT_EQ(readFrameBytes(fd, 4, 10000), (tByteBuffer{0xFE, 0x20, 0x55, 0x75}));

    tByteBuffer read = encodeFrame(0x52, SimClient::readRequest(0x50000, 13));
    ASSERT_EQ(write(fd, read.data(), read.size()), static_cast<ssize_t>(read.size()));
    FrameDecoder d;
    d.feed(readFrameBytes(fd, 3 + 7 + 13 + 1, 10000));
    ASSERT_EQ(d.frames.size(), 1u);
    EXPECT_EQ(d.frames[0].payload[7], 6);

    const char text[] = "shutdown\r";
    ASSERT_EQ(write(fd, text, 9), 9);
    EXPECT_EQ(sim.waitExit(10000), 0);
    close(fd);
}

TEST(SimProgram, aStateFileCarriesTheMemoryAcrossRunsAndABadOneIsRefused) {
    const std::string state =
        ::testing::TempDir() + "sim-program-history-" + std::to_string(getpid()) + ".state";
    std::remove(state.c_str());
    const std::size_t demoCount = SimDevice().storedResultCount();
    {
        Program sim({"--state", state, "--add-measurements", "2"});
        std::string path = sim.firstLine(10000);
        int fd = openLine(path);
        ASSERT_GE(fd, 0) << path;
        tByteBuffer p{0x01};
        tCursor c = 1;
        bufAddDWord(p, c, 0x10000);
        bufAddWord(p, c, 3);
        p.insert(p.end(), {'o', 'k', 0});
        tByteBuffer write = encodeFrame(0x50, p);
        ASSERT_EQ(::write(fd, write.data(), write.size()), static_cast<ssize_t>(write.size()));
        FrameDecoder d;
        d.feed(readFrameBytes(fd, 11, 10000));
        ASSERT_EQ(d.frames.size(), 1u);
        EXPECT_EQ(d.frames[0].code, 0x51);
        // The line is pulled: what was answered is in the state already.
        kill(sim.pid, SIGKILL);
        EXPECT_EQ(sim.waitExit(10000), 128);
        close(fd);
    }
    SimDevice after1;
    ASSERT_TRUE(after1.loadState(state));
    EXPECT_EQ(after1.lcdText(), "ok");
    EXPECT_EQ(after1.storedResultCount(), demoCount + 2);
    {
        Program sim({"--state", state, "--add-measurements", "3"});
        int fd = openLine(sim.firstLine(10000));
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "shutdown\r", 9), 9);
        EXPECT_EQ(sim.waitExit(10000), 0);
        close(fd);
    }
    SimDevice after2;
    ASSERT_TRUE(after2.loadState(state));
    EXPECT_EQ(after2.storedResultCount(), demoCount + 5);

    tByteBuffer damaged = fileBytes(state);
    damaged[damaged.size() / 2] ^= 0x01;
    writeFileAtomically(state, damaged);
    Program refused({"--state", state});
    EXPECT_EQ(refused.readAll(10000), "");
    EXPECT_EQ(refused.waitExit(10000), 2);
    EXPECT_EQ(fileBytes(state), damaged);
    std::remove(state.c_str());
}

TEST(SimProgram, helpDocumentsTheScenarioFormat) {
    Program sim({"--help"});
    std::string text = sim.readAll(10000);
    EXPECT_EQ(sim.waitExit(10000), 0);
    for (const char* word :
         {"--scenario", "--baud", "--stdio", "--state", "--add-measurements", "--format-first",
          "--devices", "--scenario-for", "--fault-device", "--link", "[config NAME]", "[fault]",
          "close-line", "result-read-offset"})
        EXPECT_NE(text.find(word), std::string::npos) << word;
}

TEST(SimProgram, badScenarioEndsWithTheReason) {
    Program sim({"--scenario", "/nonexistent/x.ini"});
    EXPECT_EQ(sim.readAll(10000), "");
    EXPECT_EQ(sim.waitExit(10000), 2);
}

}  // namespace
}  // namespace kyvo::sim::test
