// COM mode against pseudo-terminals: the test plays the device on the
// master side, the worker opens the slave path.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "link/SeriellThread.h"
#include "link/posix/TermiosPort.h"
#include "link/tests/Pty.h"

namespace kyvo {
namespace {

using test::Pty;

tByteBuffer pattern(std::size_t n) {
    tByteBuffer b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 13 + i / 256);
    return b;
}

class ComPort : public ::testing::Test {
  protected:
    ComPort()
        : port(true, main, TSeriellThread::kDefaultBufferSize,
               std::make_unique<FTDIDirect>(nullptr)) {
        port.OnReceive = [this](TSeriellThread* s) {
            ++receives;
            std::uint8_t b;
            while (s->GetByte(b)) received.push_back(b);
        };
        port.OnError = [this](TSeriellThread*, TSeriellError e) {
            ++errors;
            lastError = e;
        };
    }
    void SetUp() override { ASSERT_TRUE(pty.ok()); }

    // Steps the worker until `n` bytes came (or a round limit says no).
    void receiveUntil(std::size_t n) {
        for (int round = 0; round < 2000 && received.size() < n; ++round) {
            port.Round();
            if (received.size() < n) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    Pty pty;
    DirectMainThread main;
    TSeriellThread port;
    int receives = 0;
    int errors = 0;
    TSeriellError lastError = Err_Unknown;
    tByteBuffer received;
};

TEST_F(ComPort, opensAndClosesAndCanBeOpenedAgain) {
    ASSERT_TRUE(port.OpenPort(pty.slave(), 38400)) << port.GetErrorMessage();
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.GetErrorCode(), 0u);
    EXPECT_EQ(nodeDescription(port.ftdiCurrentDevice()), pty.slave());
    EXPECT_TRUE(port.ClosePort());
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.ClosePort());
    EXPECT_TRUE(port.OpenPort(pty.slave(), 38400));
}

TEST_F(ComPort, portsThatAreNotThereOrNotTerminalsGiveCode2) {
    const std::string dir = ::testing::TempDir() + "/kyvo_com_missing";
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/plain.txt") << "not a port";
    const std::string cases[] = {"/dev/kyvo-no-such-port", dir + "/plain.txt", dir, "COM0", ""};
    for (const auto& name : cases) {
        EXPECT_FALSE(port.OpenPort(name, 38400)) << name;
        EXPECT_EQ(port.GetErrorCode(), 2u) << name;
        EXPECT_FALSE(port.isOpen()) << name;
    }
    EXPECT_EQ(TSeriellThread::GetErrorMessage(port.GetErrorCode()),
              "Port existiert nicht (0x0002)");
}

TEST_F(ComPort, aPortHeldByAnotherOpenerGivesCode5UntilItIsReleased) {
    std::uint32_t error = 0;
    auto other = TermiosPort::open(pty.slave(), error);
    ASSERT_TRUE(other) << error;
    EXPECT_FALSE(port.OpenPort(pty.slave(), 38400));
    EXPECT_EQ(port.GetErrorCode(), 5u);
    other->close();
    EXPECT_TRUE(port.OpenPort(pty.slave(), 38400));
    // And the other way round: the open port keeps the next opener out.
    EXPECT_FALSE(TermiosPort::open(pty.slave(), error));
    EXPECT_EQ(error, 5u);
}

TEST_F(ComPort, everyByteValuePassesUnchangedBothWays) {
    ASSERT_TRUE(port.OpenPort(pty.slave(), 115200));
    tByteBuffer all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    // Line editing, echo, CR/LF translation, flow-control characters or
    // signals would each change some of these.
    ASSERT_TRUE(pty.send(all));
    receiveUntil(all.size());
    EXPECT_EQ(received, all);
    ASSERT_TRUE(port.Send(all));
    EXPECT_TRUE(port.SendBuffer());
    EXPECT_EQ(pty.receive(all.size()), all);
    EXPECT_TRUE(pty.receive(1, 50).empty());  // and no echo of what came in
}

TEST_F(ComPort, twentyThousandBytesLeaveAsAFullChunkThenTheRestInOrder) {
    ASSERT_TRUE(port.OpenPort(pty.slave(), 115200));
    const tByteBuffer data = pattern(20000);
    tByteBuffer atDevice;
    std::thread device([&] { atDevice = pty.receive(data.size()); });
    ASSERT_TRUE(port.Send(data));
    EXPECT_TRUE(port.SendBuffer());
    EXPECT_EQ(port.txCount(), 3616);
    bool second = false;
    for (int round = 0; round < 2000 && !second; ++round) {
        // The pseudo-terminal may still hold output of the first chunk.
        second = port.SendBuffer();
        if (!second) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(second);
    device.join();
    EXPECT_EQ(atDevice, data);
    EXPECT_EQ(errors, 0);
}

TEST_F(ComPort, aLineNobodyReadsEndsTheWriteShortWithNotAllSend) {
    ASSERT_TRUE(port.OpenPort(pty.slave(), 115200));
    // The pseudo-terminal buffers a few kilobytes; the device never reads.
    ASSERT_TRUE(port.Send(pattern(20000)));
    EXPECT_FALSE(port.SendBuffer());
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(lastError, Err_NotAllSend);
    EXPECT_EQ(port.txCount(), 3616);
    EXPECT_TRUE(port.isOpen());
    EXPECT_TRUE(port.ClosePort());
}

TEST_F(ComPort, theOtherEndHangingUpFailsTheReceptionStepAndSaysTheConnectionIsLost) {
    ASSERT_TRUE(port.OpenPort(pty.slave(), 38400));
    ASSERT_TRUE(pty.send({1, 2, 3}));
    receiveUntil(3);
    ASSERT_EQ(received.size(), 3u);
    pty.closeMaster();
    EXPECT_FALSE(port.ReadSeriell());
    EXPECT_NE(port.GetErrorCode() & kErrFtdiBit, 0u);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(lastError, Err_ConnectionLost);
    EXPECT_FALSE(port.ReadSeriell());
    EXPECT_EQ(errors, 1);  // once
    port.Send(tByteBuffer{4, 5});
    for (int i = 0; i < 5; ++i) port.Round();  // nothing crashes, nothing blocks
    EXPECT_EQ(receives, 1);
    EXPECT_TRUE(port.isOpen());
    port.ClosePort();
    EXPECT_FALSE(port.isOpen());
}

TEST_F(ComPort, modemLinesAPseudoTerminalLacksAreNoErrors) {
    port.Set_DTR(true);
    port.SET_RTS(true);
    ASSERT_TRUE(port.OpenPort(pty.slave(), 38400));
    EXPECT_EQ(port.GetErrorCode(), 0u);
    port.Set_DTR(false);
    port.GetStatus();
    EXPECT_FALSE(port.CTS || port.DSR || port.RI || port.RLSD);
    EXPECT_TRUE(port.ClosePort());
}

TEST_F(ComPort, lineSettingsReachTheTerminalInRawModeWithoutFlowControl) {
    port.countOfBits = 7;
    port.parity = FT_PARITY_ODD;
    port.stopBits = FT_STOP_BITS_2;
    ASSERT_TRUE(port.OpenPort(pty.slave(), 57600));
    // The master side answers with the settings of its slave. A
    // pseudo-terminal always forces 8 data bits without a parity bit, but
    // keeps the parity kind, the stop bits and the speed.
    struct termios2 tio {};
    ASSERT_EQ(ioctl(pty.master(), TCGETS2, &tio), 0);
    EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD));
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_TRUE(tio.c_cflag & CLOCAL);
    EXPECT_EQ(tio.c_ospeed, 57600u);
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP));
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
    EXPECT_FALSE(tio.c_oflag & OPOST);

    port.parity = FT_PARITY_SPACE;
    port.countOfBits = 8;
    port.stopBits = FT_STOP_BITS_1;
    ASSERT_TRUE(port.OpenPort(pty.slave(), 1000000));
    ASSERT_EQ(ioctl(pty.master(), TCGETS2, &tio), 0);
    EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(CMSPAR));
    EXPECT_FALSE(tio.c_cflag & CSTOPB);
    EXPECT_EQ(tio.c_ospeed, 1000000u);
}

TEST(ComPortWorker, aRunningWorkerMovesBytesBothWaysWithNotificationsOnTheMainThread) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    QueuedMainThread main;
    TSeriellThread port(false, main, TSeriellThread::kDefaultBufferSize,
                        std::make_unique<FTDIDirect>(nullptr));
    tByteBuffer got;
    port.OnReceive = [&](TSeriellThread* s) {
        std::uint8_t b;
        while (s->GetByte(b)) got.push_back(b);
        // Answer from the handler, as the protocol layer does.
        s->Send(tByteBuffer{0xAA});
        s->SendBuffer();
    };
    ASSERT_TRUE(port.OpenPort(pty.slave(), 115200));
    ASSERT_TRUE(pty.send(pattern(3000)));
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got.size() < 3000 && std::chrono::steady_clock::now() < giveUp)
        main.waitAndRun(std::chrono::milliseconds(20));
    EXPECT_EQ(got, pattern(3000));
    auto answers = pty.receive(1);
    ASSERT_FALSE(answers.empty());
    EXPECT_EQ(answers[0], 0xAA);
}

// The running worker sleeps on the port's descriptor; it must follow the
// port to a new descriptor and keep failing the reception step of a line
// that hung up, as in fixed rounds.
TEST(ComPortWorker, aRunningWorkerFollowsThePortThroughCloseReopenAndHangUp) {
    Pty first, second;
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(second.ok());
    QueuedMainThread main;
    TSeriellThread port(false, main, TSeriellThread::kDefaultBufferSize,
                        std::make_unique<FTDIDirect>(nullptr));
    tByteBuffer got;
    port.OnReceive = [&](TSeriellThread* s) {
        std::uint8_t b;
        while (s->GetByte(b)) got.push_back(b);
    };
    const auto pumpUntil = [&](auto done) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done() && std::chrono::steady_clock::now() < giveUp)
            main.waitAndRun(std::chrono::milliseconds(20));
    };

    ASSERT_TRUE(port.OpenPort(first.slave(), 115200));
    // Queued only: the worker transmits them on its own.
    ASSERT_TRUE(port.Send(pattern(300)));
    EXPECT_EQ(first.receive(300), pattern(300));
    ASSERT_TRUE(first.send(pattern(200)));
    pumpUntil([&] { return got.size() >= 200; });
    EXPECT_EQ(got, pattern(200));

    ASSERT_TRUE(port.ClosePort());
    got.clear();
    ASSERT_TRUE(port.OpenPort(second.slave(), 115200));
    ASSERT_TRUE(second.send(pattern(400)));
    pumpUntil([&] { return got.size() >= 400; });
    EXPECT_EQ(got, pattern(400));
    for (std::uint8_t b : pattern(50)) ASSERT_TRUE(port.SendByte(b));
    EXPECT_EQ(second.receive(50), pattern(50));

    second.closeMaster();
    pumpUntil([&] { return (port.GetErrorCode() & kErrFtdiBit) != 0; });
    EXPECT_NE(port.GetErrorCode() & kErrFtdiBit, 0u);
    EXPECT_TRUE(port.ClosePort());
}

}  // namespace
}  // namespace kyvo
