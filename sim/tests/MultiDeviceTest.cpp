// kyvo-sim --devices: several devices in one run, each on its own
// pseudo-terminal, with its own serial, history, faults and end.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "sim/Scenario.h"
#include "sim/SimDevice.h"
#include "sim/tests/SimClient.h"
#include "sim/tests/SimProgram.h"

namespace kyvo::sim::test {
namespace {

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "sim-devices-" + std::to_string(getpid()) + "-" + name;
}

// A run of kyvo-sim with the lines of all its devices open.
struct Devices {
    Program sim;
    std::vector<std::string> paths;
    std::vector<int> fds;

    Devices(std::size_t count, std::vector<std::string> args) : sim(std::move(args)) {
        for (std::size_t i = 0; i < count; ++i) {
            paths.push_back(sim.firstLine(10000));
            fds.push_back(openLine(paths.back()));
        }
    }
    ~Devices() {
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }
    bool allOpen() const {
        for (int fd : fds)
            if (fd < 0) return false;
        return !fds.empty();
    }

    void send(std::size_t device, std::uint8_t code, const tByteBuffer& payload = {}) {
        tByteBuffer frame = encodeFrame(code, payload);
        ASSERT_EQ(::write(fds[device], frame.data(), frame.size()),
                  static_cast<ssize_t>(frame.size()));
    }
    // The device's first frame within the time, if any.
    std::optional<DeviceFrame> answer(std::size_t device, std::size_t atLeast, int timeoutMs) {
        FrameDecoder d;
        d.feed(readFrameBytes(fds[device], atLeast, timeoutMs));
        if (d.frames.empty()) return std::nullopt;
        return d.frames.front();
    }
    void shutdown(std::size_t device) { ASSERT_EQ(::write(fds[device], "shutdown\r", 9), 9); }
};

// The serial frame's sub-serial and maker's number.
std::pair<std::uint16_t, std::uint32_t> serialOf(const DeviceFrame& f) {
    return {word(f.payload, 10), dword(f.payload, 0)};
}

// True when the line the test holds has been hung up by kyvo-sim.
bool hungUp(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    std::uint8_t b;
    return (p.revents & POLLHUP) && ::read(fd, &b, 1) <= 0;
}

TEST(SimDevices, eachDeviceHasItsOwnSerialAndHistoryAndKeepsItInItsOwnStateFile) {
    const std::string state = tempPath("history.state");
    for (const char* suffix : {"", ".1", ".2", ".0"}) std::remove((state + suffix).c_str());
    const std::size_t demoCount = SimDevice().storedResultCount();
    {
        Devices run(3, {"--devices", "3", "--state", state});
        ASSERT_TRUE(run.allOpen());
        for (std::size_t i = 0; i < 3; ++i) {
            run.send(i, 0xA4);
            auto serial = run.answer(i, 3 + 12 + 1, 10000);
            ASSERT_TRUE(serial) << "device " << i;
            ASSERT_EQ(serial->code, 0xA5);
            EXPECT_EQ(serialOf(*serial), std::make_pair(static_cast<std::uint16_t>(42 + i),
                                                        static_cast<std::uint32_t>(100042 + i)))
                << "device " << i;
        }
        for (std::size_t i = 0; i < 3; ++i) run.shutdown(i);
        EXPECT_EQ(run.sim.waitExit(10000), 0);
        // Nothing but the three paths on standard output.
        EXPECT_EQ(run.sim.readAll(1000), "");
    }
    // Device 0 keeps the single device's file name; the others add their number.
    struct stat st {};
    EXPECT_NE(stat((state + ".0").c_str(), &st), 0);
    auto countIn = [&](std::size_t i, const std::string& file) {
        SimDevice dev(scenarioOfDevice(Scenario::demo(), static_cast<unsigned>(i)));
        return dev.loadState(file) ? dev.storedResultCount() : 0;
    };
    const std::string files[] = {state, state + ".1", state + ".2"};
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(countIn(i, files[i]), demoCount + i) << i;

    // The next run continues each device's history: the extra measurements
    // of a fresh device are not added again, --add-measurements goes to all.
    {
        Devices run(3, {"--devices", "3", "--state", state, "--add-measurements", "2"});
        ASSERT_TRUE(run.allOpen());
        for (std::size_t i = 0; i < 3; ++i) run.shutdown(i);
        EXPECT_EQ(run.sim.waitExit(10000), 0);
    }
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(countIn(i, files[i]), demoCount + i + 2) << i;
    // A state belongs to its device: device 1's memory is refused as device 0's.
    SimDevice device0(scenarioOfDevice(Scenario::demo(), 0));
    EXPECT_THROW(device0.loadState(files[1]), StateError);
    for (const auto& f : files) std::remove(f.c_str());
}

TEST(SimDevices, aDamagedStateOfOneDeviceEndsTheRunAndLeavesTheOthersFilesAlone) {
    const std::string state = tempPath("damaged.state");
    {
        Devices run(2, {"--devices", "2", "--state", state});
        ASSERT_TRUE(run.allOpen());
        run.shutdown(0);
        run.shutdown(1);
        ASSERT_EQ(run.sim.waitExit(10000), 0);
    }
    const tByteBuffer first = fileBytes(state);
    tByteBuffer damaged = fileBytes(state + ".1");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(damaged.empty());
    damaged[damaged.size() / 2] ^= 0x01;
    writeFileAtomically(state + ".1", damaged);

    Program refused({"--devices", "2", "--state", state, "--add-measurements", "3"});
    EXPECT_EQ(refused.readAll(10000), "");
    EXPECT_EQ(refused.waitExit(10000), 2);
    EXPECT_EQ(fileBytes(state), first);
    EXPECT_EQ(fileBytes(state + ".1"), damaged);
    std::remove(state.c_str());
    std::remove((state + ".1").c_str());
}

TEST(SimDevices, aSilentOrFailingDeviceHoldsUpNoOther) {
    // The demo device falls silent for ever after its first frame.
    const std::string silent = tempPath("silent.ini");
    std::ofstream(silent) << demoScenarioText()
                          << "\n[fault]\nkind = silence\nafter-frames = 1\nduration-ms = 0\n";
    // The demo device answers its second memory read with a communication error.
    const std::string failing = tempPath("failing.ini");
    std::ofstream(failing)
        << demoScenarioText()
        << "\n[fault]\nkind = comm-error\ncommand = 0x52\nnth = 2\ncode = 0x42\n";
    // The silent scenario's faults fire on device 1 only; device 2 plays its own file.
    Devices run(4, {"--devices", "4", "--baud", "9600", "--scenario", silent, "--fault-device", "1",
                    "--scenario-for", "2", failing});
    ASSERT_TRUE(run.allOpen());
    const tByteBuffer smallRead = SimClient::readRequest(0x50000, 13);
    const std::size_t smallReply = 3 + 7 + 13 + 1;

    for (std::size_t i = 0; i < 4; ++i) {
        run.send(i, 0xAA);
        auto ack = run.answer(i, 4, 10000);
        ASSERT_TRUE(ack) << "device " << i;
        EXPECT_EQ(ack->code, 0x55);
    }
    // Device 1 is silent now, mid-session; the others answer meanwhile.
    run.send(1, 0x52, smallRead);
    run.send(2, 0x52, smallRead);
    run.send(2, 0x52, smallRead);
    for (std::size_t i : {0, 3}) {
        run.send(i, 0x52, smallRead);
        auto data = run.answer(i, smallReply, 10000);
        ASSERT_TRUE(data) << "device " << i;
        EXPECT_EQ(data->code, 0x53);
    }
    FrameDecoder two;
    two.feed(readFrameBytes(run.fds[2], smallReply + 4, 10000));
    ASSERT_EQ(two.frames.size(), 2u);
    EXPECT_EQ(two.frames[0].code, 0x53);
    EXPECT_EQ(two.frames[1].code, 0x45);
    EXPECT_EQ(two.frames[1].payload, (tByteBuffer{0x42}));
    EXPECT_FALSE(run.answer(1, 1, 1500));

    // While device 0 sends a long reply at 9600 baud (over 4 s), device 3
    // answers at once: the lines are paced each on its own.
    const std::uint16_t big = 4096;
    run.send(0, 0x52, SimClient::readRequest(0x80000, big));
    run.send(3, 0xAA);
    auto ack = run.answer(3, 4, 10000);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->code, 0x55);
    tByteBuffer sofar = readFrameBytes(run.fds[0], 1, 0);
    EXPECT_LT(sofar.size(), std::size_t{big});
    // The reply is longer on the wire than its data where bytes are escaped.
    FrameDecoder d;
    d.feed(sofar);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (d.frames.empty() && std::chrono::steady_clock::now() < until)
        d.feed(readFrameBytes(run.fds[0], 1, 100));
    ASSERT_EQ(d.frames.size(), 1u);
    EXPECT_EQ(d.frames[0].code, 0x53);
    EXPECT_TRUE(d.frames[0].checksumOk);
    std::remove(silent.c_str());
    std::remove(failing.c_str());
}

TEST(SimDevices, aShutdownEndsOnlyItsDeviceAndTakesItsLinkAway) {
    const std::string dir = tempPath("links");
    mkdir(dir.c_str(), 0700);
    Devices run(3, {"--devices", "3", "--link", dir});
    ASSERT_TRUE(run.allOpen());
    auto link = [&](int sub) { return dir + "/kyvo-12-3-1807-00" + std::to_string(sub); };
    auto target = [](const std::string& l) {
        char buf[256];
        ssize_t n = readlink(l.c_str(), buf, sizeof buf);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    };
    for (int i = 0; i < 3; ++i) EXPECT_EQ(target(link(42 + i)), run.paths[i]) << i;

    run.shutdown(1);
    EXPECT_TRUE(hungUp(run.fds[1], 10000));
    EXPECT_EQ(target(link(43)), "");
    EXPECT_EQ(target(link(42)), run.paths[0]);
    for (std::size_t i : {0, 2}) {
        run.send(i, 0xAA);
        auto ack = run.answer(i, 4, 10000);
        ASSERT_TRUE(ack) << "device " << i;
        EXPECT_EQ(ack->code, 0x55);
    }
    EXPECT_EQ(run.sim.waitExit(300), -1);  // still playing the other two

    // A link the test removed (a device unplugged) is not an error at the end.
    unlink(link(42).c_str());
    run.shutdown(0);
    run.shutdown(2);
    EXPECT_EQ(run.sim.waitExit(10000), 0);
    EXPECT_EQ(target(link(44)), "");
    rmdir(dir.c_str());
}

TEST(SimDevices, oneDeviceIsTheSingleDeviceProgram) {
    const std::string state = tempPath("one.state");
    for (std::vector<std::string> args :
         {std::vector<std::string>{"--state", state}, {"--devices", "1", "--state", state}}) {
        std::remove(state.c_str());
        Devices run(1, args);
        ASSERT_TRUE(run.allOpen());
        EXPECT_EQ(run.paths[0].rfind("/dev/", 0), 0u);
        run.send(0, 0xA4);
        auto serial = run.answer(0, 3 + 12 + 1, 10000);
        ASSERT_TRUE(serial);
        EXPECT_EQ(serialOf(*serial), std::make_pair(std::uint16_t{42}, std::uint32_t{100042}));
        run.shutdown(0);
        EXPECT_EQ(run.sim.waitExit(10000), 0);
        EXPECT_EQ(run.sim.readAll(1000), "");
        SimDevice dev;
        ASSERT_TRUE(dev.loadState(state));
        EXPECT_EQ(dev.storedResultCount(), SimDevice().storedResultCount());
    }
    std::remove(state.c_str());
}

TEST(SimDevices, badDeviceOptionsAreRefusedBeforeAnyPath) {
    const std::vector<std::vector<std::string>> cases = {
        {"--devices", "0"},
        {"--devices", "17"},
        {"--devices", "two"},
        {"--devices", "2", "--stdio"},
        {"--devices", "2", "--scenario-for", "2", KYVO_SIM_SCENARIOS "/slow-user.ini"},
        {"--devices", "2", "--scenario-for", "1", "/nonexistent/x.ini"},
        {"--devices", "2", "--fault-device", "5"},
        {"--devices", "2", "--link", "/nonexistent/folder"},
    };
    for (const auto& args : cases) {
        Program sim(args);
        EXPECT_EQ(sim.readAll(10000), "") << args[1] << " " << args.back();
        EXPECT_EQ(sim.waitExit(10000), 2) << args[1] << " " << args.back();
    }
}

}  // namespace
}  // namespace kyvo::sim::test
