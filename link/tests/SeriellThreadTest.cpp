#include "link/SeriellThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "link/tests/AllocationCounter.h"

namespace kyvo {
namespace {

tByteBuffer pattern(std::size_t n) {
    tByteBuffer b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 31 + i / 251);
    return b;
}

struct Events {
    int receive = 0;
    int rxFull = 0;
    int errors = 0;
    TSeriellError lastError = Err_Unknown;
    std::vector<std::string> order;
    tByteBuffer received;
};

// A suspended worker stepped by the test, with a loopback behind it.
class SerialWorker : public ::testing::Test {
  protected:
    explicit SerialWorker(std::int32_t bufferSize = TSeriellThread::kDefaultBufferSize)
        : port(true, main, bufferSize, std::make_unique<FTDIDirect>(nullptr)) {
        wire = std::make_shared<LoopbackPort>(
            [this](const std::uint8_t* d, std::size_t n) { sent.insert(sent.end(), d, d + n); });
        port.OnReceive = [this](TSeriellThread* s) {
            ++ev.receive;
            ev.order.push_back("receive");
            std::uint8_t b;
            while (s->GetByte(b)) ev.received.push_back(b);
        };
        port.OnRxBufferFull = [this](TSeriellThread*) {
            ++ev.rxFull;
            ev.order.push_back("full");
        };
        port.OnError = [this](TSeriellThread*, TSeriellError e) {
            ++ev.errors;
            ev.lastError = e;
        };
    }

    DirectMainThread main;
    TSeriellThread port;
    std::shared_ptr<LoopbackPort> wire;
    tByteBuffer sent;
    Events ev;
};

TEST_F(SerialWorker, twentyThousandQueuedBytesLeaveAsAFullChunkThenTheRestInOrder) {
    ASSERT_TRUE(port.OpenPort(wire, 115200));
    const tByteBuffer data = pattern(20000);
    ASSERT_TRUE(port.Send(data));
    EXPECT_TRUE(port.SendBuffer());
    EXPECT_EQ(port.txCount(), 3616);
    EXPECT_TRUE(port.SendBuffer());
    EXPECT_FALSE(port.SendBuffer());  // nothing left
    EXPECT_EQ(wire->record().writes, (std::vector<std::size_t>{16384, 3616}));
    EXPECT_EQ(sent, data);
    EXPECT_EQ(ev.errors, 0);
}

TEST_F(SerialWorker, nothingIsTakenWhileTheDriverStillHoldsEarlierOutput) {
    ASSERT_TRUE(port.OpenPort(wire, 38400));
    port.Send(tByteBuffer{1, 2, 3});
    wire->setOutputBusy(true);
    EXPECT_FALSE(port.SendBuffer());
    EXPECT_EQ(port.txCount(), 3);
    wire->setOutputBusy(false);
    EXPECT_TRUE(port.SendBuffer());
    EXPECT_EQ(sent, (tByteBuffer{1, 2, 3}));
}

TEST_F(SerialWorker, aShortWriteRaisesNotAllSendAndLosesOnlyTheUnwrittenPartOfThatChunk) {
    ASSERT_TRUE(port.OpenPort(wire, 38400));
    const tByteBuffer data = pattern(20000);
    port.Send(data);
    wire->setWriteLimit(1000);
    EXPECT_FALSE(port.SendBuffer());
    EXPECT_EQ(ev.errors, 1);
    EXPECT_EQ(ev.lastError, Err_NotAllSend);
    EXPECT_EQ(port.lastSerialError(), Err_NotAllSend);
    EXPECT_EQ(port.txCount(), 3616);  // the next chunk is still queued
    wire->setWriteLimit(-1);
    EXPECT_TRUE(port.SendBuffer());
    tByteBuffer expected(data.begin(), data.begin() + 1000);
    expected.insert(expected.end(), data.begin() + 16384, data.end());
    EXPECT_EQ(sent, expected);
}

TEST_F(SerialWorker, receivedBytesReachOnReceiveInOneNotification) {
    ASSERT_TRUE(port.OpenPort(wire, 38400));
    EXPECT_TRUE(port.ReadSeriell());  // nothing waiting: no event
    EXPECT_EQ(ev.receive, 0);
    wire->push(pattern(300));
    EXPECT_TRUE(port.ReadSeriell());
    EXPECT_EQ(ev.receive, 1);
    EXPECT_EQ(ev.received, pattern(300));
}

TEST_F(SerialWorker, aReceptionStepTakesAtMostOneChunk) {
    ASSERT_TRUE(port.OpenPort(wire, 38400));
    port.OnReceive = nullptr;  // leave the bytes queued
    wire->push(pattern(20000));
    port.ReadSeriell();
    EXPECT_EQ(port.RxCount(), 16384);
    port.ReadSeriell();
    EXPECT_EQ(port.RxCount(), 20000);
    tByteBuffer all;
    EXPECT_TRUE(port.read(all, -1));
    EXPECT_EQ(all, pattern(20000));
}

class SmallQueues : public SerialWorker {
  protected:
    SmallQueues() : SerialWorker(8) {}
};

TEST_F(SmallQueues, aRefusedReceivedByteRaisesRxBufferFullBeforeReceive) {
    ASSERT_TRUE(port.OpenPort(wire, 38400));
    port.OnReceive = [this](TSeriellThread*) {
        ++ev.receive;
        ev.order.push_back("receive");
    };
    wire->push(pattern(12));
    EXPECT_TRUE(port.ReadSeriell());
    EXPECT_EQ(ev.order, (std::vector<std::string>{"full", "receive"}));
    tByteBuffer got;
    port.read(got, -1);
    EXPECT_EQ(got, pattern(8));  // the rest of that chunk is lost
}

TEST_F(SmallQueues, aFullTransmitQueueRaisesRxBufferFullOnTheCallerAndRefuses) {
    ASSERT_TRUE(port.OpenPort(wire, 38400));
    EXPECT_FALSE(port.Send(pattern(10)));
    EXPECT_EQ(ev.rxFull, 1);
    EXPECT_EQ(port.txCount(), 8);
    EXPECT_FALSE(port.SendByte(1));
    EXPECT_FALSE(port.Send(std::string("x")));
    EXPECT_EQ(ev.rxFull, 3);
    port.clear();
    EXPECT_FALSE(port.Send(std::string("shutdown\r")));  // 9 bytes into 8
    EXPECT_EQ(port.txCount(), 8);
    EXPECT_EQ(ev.rxFull, 4);
}

TEST_F(SerialWorker, aClosedPortRefusesEverythingWithoutEvents) {
    std::uint8_t b = 0;
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.SendByte(1));
    EXPECT_FALSE(port.Send(tByteBuffer{1, 2}));
    EXPECT_FALSE(port.SendBuffer());
    EXPECT_FALSE(port.ReadSeriell());
    EXPECT_FALSE(port.GetByte(b));
    EXPECT_FALSE(port.ReadByte(b));
    tByteBuffer out{1, 2, 3};
    EXPECT_FALSE(port.read(out, -1));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(port.ClosePort());
    EXPECT_EQ(ev.rxFull + ev.errors + ev.receive, 0);
}

TEST_F(SerialWorker, aFailingReadSetsBit0x8000AndRaisesNothing) {
    ASSERT_TRUE(port.OpenPort(wire, 38400));
    wire->push(pattern(5));
    wire->setReadFailure(EIO);
    EXPECT_FALSE(port.ReadSeriell());
    EXPECT_EQ(port.GetErrorCode(), 0x8000u);
    EXPECT_EQ(ev.receive + ev.rxFull + ev.errors, 0);
    EXPECT_TRUE(port.isOpen());  // the application decides, through its time-outs
    EXPECT_TRUE(port.ClosePort());
}

TEST_F(SerialWorker, aLineThatHungUpIsReportedOnceAsALostConnection) {
    ASSERT_TRUE(port.OpenPort(wire, 38400));
    wire->hangUp();
    EXPECT_FALSE(port.ReadSeriell());
    EXPECT_FALSE(port.ReadSeriell());
    EXPECT_EQ(ev.errors, 1);
    EXPECT_EQ(port.lastSerialError(), Err_ConnectionLost);
    // A new open is a new line.
    auto fresh = std::make_shared<LoopbackPort>();
    ASSERT_TRUE(port.OpenPort(fresh, 38400));
    fresh->hangUp();
    EXPECT_FALSE(port.ReadSeriell());
    EXPECT_EQ(ev.errors, 2);
}

TEST_F(SerialWorker, openingAppliesTheLineSettingsAndLevelsThenPurges) {
    port.countOfBits = 7;
    port.parity = FT_PARITY_EVEN;
    port.stopBits = FT_STOP_BITS_2;
    port.Set_DTR(true);
    port.Send(tByteBuffer{1});  // closed: refused
    ASSERT_TRUE(port.OpenPort(wire, 9600));
    auto rec = wire->record();
    EXPECT_EQ(rec.settings.baudRate, 9600);
    EXPECT_EQ(rec.settings.dataBits, 7);
    EXPECT_EQ(rec.settings.parity, FT_PARITY_EVEN);
    EXPECT_EQ(rec.settings.stopBits, FT_STOP_BITS_2);
    EXPECT_TRUE(rec.dtr);
    EXPECT_FALSE(rec.rts);
    EXPECT_EQ(rec.purges, 1);
    EXPECT_EQ(port.BaudRate(), 9600);
    port.SET_RTS(true);
    EXPECT_TRUE(wire->record().rts);
    wire->setModemStatus(kModemCTS | kModemRLSD);
    port.GetStatus();
    EXPECT_TRUE(port.CTS);
    EXPECT_FALSE(port.DSR);
    EXPECT_FALSE(port.RI);
    EXPECT_TRUE(port.RLSD);
    EXPECT_TRUE(port.ClosePort());
    EXPECT_TRUE(wire->record().closed);
    EXPECT_FALSE(port.isOpen());
}

TEST_F(SerialWorker, openingThroughAnOpenerCarriesItsErrorCode) {
    int calls = 0;
    port.SetPortOpener([&](std::int32_t id, bool, std::uint32_t& error) {
        ++calls;
        if (id == 7) return std::static_pointer_cast<ISerialPort>(wire);
        error = 2;
        return std::shared_ptr<ISerialPort>();
    });
    EXPECT_FALSE(port.OpenPort(3, 38400));
    EXPECT_EQ(port.GetErrorCode(), 2u);
    EXPECT_TRUE(port.OpenPort(7, 38400));
    EXPECT_EQ(port.GetErrorCode(), 0u);
    EXPECT_EQ(calls, 2);
}

TEST_F(SerialWorker, theBusStaysActiveForTwentyMillisecondsAfterATransmission) {
    ASSERT_TRUE(port.OpenPort(wire, 38400));
    EXPECT_EQ(port.busState(), bsIDLE);
    port.Send(tByteBuffer{1});
    port.SendBuffer();
    EXPECT_EQ(port.busState(), bsACTIVE);
    for (int round = 0; round < 3; ++round) {  // 15 ms of rounds
        port.UpdateBusState();
        EXPECT_EQ(port.busState(), bsACTIVE) << round;
    }
    port.UpdateBusState();
    EXPECT_EQ(port.busState(), bsIDLE);

    wire->push(tByteBuffer{1});
    port.ReadSeriell();  // a reception holds the bus for one round only
    EXPECT_EQ(port.busState(), bsACTIVE);
    port.UpdateBusState();
    EXPECT_EQ(port.busState(), bsIDLE);
}

TEST_F(SerialWorker, aRoundOfReceptionAndTransmissionAllocatesNothing) {
    // A port that records nothing, so only the worker's own work is counted.
    class Quiet final : public ISerialPort {
      public:
        std::uint32_t configure(const tLineSettings&, bool, bool) override { return 0; }
        std::uint32_t setDTR(bool) override { return 0; }
        std::uint32_t setRTS(bool) override { return 0; }
        bool getModemStatus(std::uint32_t&) override { return false; }
        void purge(bool, bool) override {}
        std::uint32_t readWaiting(std::uint8_t* buf, std::uint32_t maxLen,
                                  std::uint32_t& len) override {
            len = std::min<std::uint32_t>(maxLen, 4000);
            std::fill(buf, buf + len, 0x55);
            return 0;
        }
        bool readyToSend() override { return true; }
        std::uint32_t write(const std::uint8_t*, std::uint32_t len,
                            std::uint32_t& written) override {
            written = len;
            return 0;
        }
        void cancel() override {}
        std::uint32_t close() override { return 0; }
    };
    ASSERT_TRUE(port.OpenPort(std::make_shared<Quiet>(), 38400));
    std::uint64_t drained = 0;
    port.OnReceive = [&](TSeriellThread* s) {
        std::uint8_t b;
        while (s->GetByte(b)) ++drained;
    };
    const tByteBuffer frame = pattern(700);
    kyvo::test::allocationsOnThisThread() = 0;
    { tByteBuffer probe(10); }
    ASSERT_EQ(kyvo::test::allocationsOnThisThread(), 1);  // the counter counts
    kyvo::test::allocationsOnThisThread() = 0;
    for (int i = 0; i < 50; ++i) {
        port.Send(frame);
        port.Round();
    }
    EXPECT_EQ(kyvo::test::allocationsOnThisThread(), 0);
    EXPECT_EQ(drained, 50u * 4000u);
}

TEST(SerialWorkerTexts, errorMessagesNameTheCodeInHex) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {2, "Port existiert nicht (0x0002)"},
        {5, "Port wird schon verwendet (0x0005)"},
        {0x8001, "FTDI: Ungültiges Handle (0x8001)"},
        {0x8002, "FTDI: Gerät nicht verfügbar (0x8002)"},
        {0x81FA, "FTDI: Invalid Stop Bits (0x81FA)"},
        {0x81FB, "FTDI: Invalid Word Size (0x81FB)"},
        {0x81FC, "FTDI: Kein gültiges Gerät ausgewählt (0x81FC)"},
        {0x81FE, "FTDI: DLL Funktion not supported (0x81FE)"},
        {0x81FF, "FTDI: DLL Error (0x81FF)"},
        {0x8080, "Unbekannter Fehler (0x8080)"},
        {0, "Unbekannter Fehler (0x0000)"},
    };
    for (auto [code, text] : cases) EXPECT_EQ(TSeriellThread::GetErrorMessage(code), text);
}

TEST(SerialWorkerTexts, parityAndStopBitsHaveTheirNames) {
    DirectMainThread main;
    TSeriellThread port(true, main, 16, std::make_unique<FTDIDirect>(nullptr));
    const std::pair<tParity, const char*> parities[] = {{FT_PARITY_NONE, "none"},
                                                        {FT_PARITY_ODD, "odd"},
                                                        {FT_PARITY_EVEN, "even"},
                                                        {FT_PARITY_MARK, "mark"},
                                                        {FT_PARITY_SPACE, "space"}};
    for (auto [p, text] : parities) {
        port.parity = p;
        EXPECT_EQ(port.getParityString(), text);
    }
    const std::pair<tStopBits, const char*> stops[] = {
        {FT_STOP_BITS_1, "1"}, {FT_STOP_BITS_1_5, "1.5"}, {FT_STOP_BITS_2, "2"}};
    for (auto [s, text] : stops) {
        port.stopBits = s;
        EXPECT_EQ(port.getStopBitsString(), text);
    }
}

TEST_F(SerialWorker, withoutTheFtdiLibraryFtdiModeStaysOffAndTheOpenPortCloses) {
    ASSERT_TRUE(port.OpenPort(wire, 38400));
    port.SetftdiMode(true);
    EXPECT_FALSE(port.ftdiMode());
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.setCBusOutput(0x0F, 0x15), kErrFtdiPortClosed);
    EXPECT_EQ(port.getComPortNumber(), -1);
    EXPECT_EQ(port.GetErrorCode(), kErrFtdiPortClosed);
    auto node = port.GetftdiCurrentDevice();
    EXPECT_EQ(nodeDescription(node), "invalid");
    EXPECT_EQ(nodeSerial(node), "");
    EXPECT_EQ(node.id, 0u);
}

TEST(ComPortNames, numbersAndNamesMapToDevicePaths) {
    EXPECT_EQ(comPortDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(comPortDevicePath(12), "/dev/ttyS11");
    EXPECT_EQ(comPortDevicePath(0), "");
    EXPECT_EQ(comPortDevicePath(-3), "");
    const std::pair<const char*, const char*> names[] = {{"COM3", "/dev/ttyS2"},
                                                         {"com1", "/dev/ttyS0"},
                                                         {"/dev/pts/7", "/dev/pts/7"},
                                                         {"ttyUSB0", "/dev/ttyUSB0"},
                                                         {"rfcomm1", "/dev/rfcomm1"},
                                                         {"COMX", "/dev/COMX"},
                                                         {"", ""}};
    for (auto [name, path] : names) EXPECT_EQ(comPortDevicePath(std::string(name)), path) << name;
}

// The running worker: notifications arrive on the main thread while the
// worker waits; destruction never hangs on a pending notification.
TEST(SerialWorkerThread, receivedBytesAreDeliveredOnTheMainThread) {
    QueuedMainThread main;
    TSeriellThread port(false, main, TSeriellThread::kDefaultBufferSize,
                        std::make_unique<FTDIDirect>(nullptr));
    auto wire = std::make_shared<LoopbackPort>();
    ASSERT_TRUE(port.OpenPort(wire, 38400));
    const auto mainId = std::this_thread::get_id();
    bool allOnMain = true;
    tByteBuffer got;
    port.OnReceive = [&](TSeriellThread* s) {
        allOnMain = allOnMain && std::this_thread::get_id() == mainId;
        std::uint8_t b;
        while (s->GetByte(b)) got.push_back(b);
    };
    wire->push(pattern(5000));
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got.size() < 5000 && std::chrono::steady_clock::now() < give_up)
        main.waitAndRun(std::chrono::milliseconds(50));
    EXPECT_EQ(got, pattern(5000));
    EXPECT_TRUE(allOnMain);
}

TEST(SerialWorkerThread, destroyingWhileTheWorkerWaitsForTheMainThreadSkipsTheHandler) {
    QueuedMainThread main;
    std::atomic<int> handled{0};
    auto wire = std::make_shared<LoopbackPort>();
    {
        TSeriellThread port(false, main, 1024, std::make_unique<FTDIDirect>(nullptr));
        port.OnReceive = [&](TSeriellThread*) { ++handled; };
        ASSERT_TRUE(port.OpenPort(wire, 38400));
        wire->push(pattern(10));
        // Let the worker block on the notification, which nobody pumps.
        while (wire->pendingForProgram() != 0) std::this_thread::yield();
    }
    EXPECT_EQ(handled.load(), 0);
    EXPECT_TRUE(wire->record().closed);
}

}  // namespace
}  // namespace kyvo
