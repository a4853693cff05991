// The D2XX binding against a fake library built with the tests, and FTDI
// mode of the worker on top of it.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cstring>

#include "link/FTDI_directDriver.h"
#include "link/SeriellThread.h"
#include "link/tests/fake_d2xx/FakeD2xx.h"

namespace kyvo {
namespace {

tFT_device_list_info_node node(std::uint32_t flags, std::uint32_t id, std::uint32_t loc,
                               const char* serial, const char* description) {
    tFT_device_list_info_node n{};
    n.flags = flags;
    n.dType = FT_DEVICE_X_SERIES;
    n.id = id;
    n.locId = loc;
    std::strncpy(n.serial, serial, sizeof n.serial);
    std::strncpy(n.description, description, sizeof n.description);
    return n;
}

class FakeLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        lib_ = dlopen(KYVO_FAKE_D2XX_PATH, RTLD_NOW);
        ASSERT_NE(lib_, nullptr) << dlerror();
        auto get = reinterpret_cast<FakeD2xxState* (*)()>(dlsym(lib_, "FakeD2xx_State"));
        ASSERT_NE(get, nullptr);
        fake = get();
        std::memset(fake, 0, sizeof *fake);
        fake->count = 2;
        fake->devices[0] = node(0, 0x04036015, 0x114, "DK0AAA01", "Kyvo Cable");
        fake->devices[1] = node(0, 0x04036015, 0x115, "DK0AAA02", "Kyvo Cable");
    }
    void TearDown() override {
        if (lib_) dlclose(lib_);
    }
    std::unique_ptr<FTDIDirect> binding() {
        auto api = loadD2xxLibrary(KYVO_FAKE_D2XX_PATH);
        EXPECT_NE(api, nullptr);
        return std::make_unique<FTDIDirect>(std::move(api));
    }

    FakeD2xxState* fake = nullptr;

  private:
    void* lib_ = nullptr;
};

TEST(FtdiWithoutLibrary, everyCallFailsWithTheBindingsOwnCodes) {
    EXPECT_EQ(loadD2xxLibrary("/nonexistent/libftd2xx.so"), nullptr);
    FTDIDirect ftdi(nullptr);
    EXPECT_FALSE(ftdi.isValid());
    EXPECT_EQ(ftdi.updateDeviceList(2000), FTDI_LIBRARY_NOT_LOADED);
    EXPECT_EQ(ftdi.deviceCount(), 0);
    FT_HANDLE h = reinterpret_cast<FT_HANDLE>(1);
    for (std::int32_t index : {0, 1, -1}) EXPECT_EQ(ftdi.openEx(index, h, false), 508);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(ftdi.openEx(0x114, h, true), FTDI_FUNCTION_MISSING);
    EXPECT_EQ(ftdi.setBaudrate(nullptr, 9600), FTDI_FUNCTION_MISSING);
    EXPECT_EQ(ftdi.setCBusOutput(nullptr, 1, 1), FTDI_FUNCTION_MISSING);
    std::uint32_t len = 10;
    std::uint8_t buf[10];
    EXPECT_EQ(ftdi.read(nullptr, buf, 10, len), FTDI_FUNCTION_MISSING);
    EXPECT_EQ(ftdi.getRxAvailable(nullptr), 0u);
    EXPECT_EQ(ftdi.getComPortNumber(nullptr), -1);
}

TEST_F(FakeLibrary, aListThatNeverGetsReadyGives19AfterTheTimeOutAndStaysEmpty) {
    auto ftdi = binding();
    ASSERT_EQ(ftdi->updateDeviceList(2000), FT_OK);
    ASSERT_EQ(ftdi->deviceCount(), 2);
    fake->notReadyAnswers = -1;
    EXPECT_EQ(ftdi->updateDeviceList(30), FT_DEVICE_LIST_NOT_READY);
    EXPECT_EQ(ftdi->deviceCount(), 0);
    EXPECT_GT(fake->createCalls, 2);  // it asked again until the time-out
}

TEST_F(FakeLibrary, aListThatGetsReadyAfterSomeAnswersIsRead) {
    auto ftdi = binding();
    fake->notReadyAnswers = 3;
    EXPECT_EQ(ftdi->updateDeviceList(2000), FT_OK);
    EXPECT_EQ(fake->createCalls, 4);
    ASSERT_EQ(ftdi->deviceCount(), 2);
    EXPECT_EQ(nodeSerial(ftdi->deviceInfoList()[1]), "DK0AAA02");
    EXPECT_EQ(nodeDescription(ftdi->deviceInfoList()[0]), "Kyvo Cable");
    fake->count = 0;
    EXPECT_EQ(ftdi->updateDeviceList(2000), FT_OK);
    EXPECT_EQ(ftdi->deviceCount(), 0);
}

TEST_F(FakeLibrary, openingByAnIndexOutsideTheListGives508WithoutAskingTheLibrary) {
    auto ftdi = binding();
    ftdi->updateDeviceList(2000);
    FT_HANDLE h = nullptr;
    EXPECT_EQ(ftdi->openEx(ftdi->deviceCount(), h, false), FTDI_NO_VALID_DEVICE);
    EXPECT_EQ(ftdi->openEx(-1, h, false), FTDI_NO_VALID_DEVICE);
    EXPECT_EQ(fake->openCalls, 0);
}

TEST_F(FakeLibrary, openingGoesByLocationAndFallsBackToTheSerialNumber) {
    auto ftdi = binding();
    ftdi->updateDeviceList(2000);
    FT_HANDLE h = nullptr;
    ASSERT_EQ(ftdi->openEx(1, h, false), FT_OK);
    EXPECT_NE(h, nullptr);
    EXPECT_EQ(fake->lastOpenFlags, FT_OPEN_BY_LOCATION);
    EXPECT_EQ(fake->lastOpenLocation, 0x115u);
    EXPECT_EQ(ftdi->getDevIndexFromHandle(h), 1);
    EXPECT_EQ(ftdi->close(h), FT_OK);

    fake->failOpenByLocation = 1;
    fake->openCalls = 0;
    ASSERT_EQ(ftdi->openEx(0x114, h, true), FT_OK);
    EXPECT_EQ(fake->openCalls, 2);
    EXPECT_EQ(fake->lastOpenFlags, FT_OPEN_BY_SERIAL_NUMBER);
    EXPECT_STREQ(fake->lastOpenSerial, "DK0AAA01");
    EXPECT_EQ(ftdi->getDevIndexFromHandle(h), 0);

    fake->openStatus = FT_DEVICE_NOT_FOUND;
    EXPECT_EQ(ftdi->openEx(0, h, false), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(ftdi->getDevIndexFromHandle(nullptr), -1);
}

TEST_F(FakeLibrary, cbusOutputSendsDirectionInTheHighNibbleAndValueInTheLow) {
    auto ftdi = binding();
    int dummy = 0;
    EXPECT_EQ(ftdi->setCBusOutput(&dummy, 0x0F, 0x15), FT_OK);
    EXPECT_EQ(fake->bitMask, 0xF5);
    EXPECT_EQ(fake->bitMode, 0x20);
}

TEST_F(FakeLibrary, entryPointsTheLibraryLacksGive510AndTheRestPassStatusesThrough) {
    auto ftdi = binding();
    EXPECT_EQ(ftdi->listDevices(nullptr, nullptr, 0), FTDI_FUNCTION_MISSING);
    EXPECT_EQ(ftdi->getComPortNumber(nullptr), -1);
    fake->baudStatus = FT_IO_ERROR;
    EXPECT_EQ(ftdi->setBaudrate(nullptr, 9600), FT_IO_ERROR);
    EXPECT_EQ(ftdi->purge(nullptr, 0xFF), FT_OK);
    EXPECT_EQ(fake->purgeMasks[0], 0x7Fu);
    tDeviceInfoDetail detail;
    ASSERT_EQ(ftdi->getDeviceInfoDetail(1, detail), FT_OK);
    EXPECT_EQ(detail.USBVendor, 0x0403);
    EXPECT_EQ(detail.USBPID, 0x6015);
    EXPECT_EQ(detail.locationID, 0x115u);
    EXPECT_EQ(detail.serial, "DK0AAA02");
    EXPECT_EQ(ftdi->getDeviceInfoDetail(9, detail), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(detail.USBVendor, 0);
    EXPECT_TRUE(detail.serial.empty() && detail.description.empty());
}

TEST(FtdiTexts, deviceTypesHaveTheirNames) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0, "FT232BM"}, {3, "unknown"}, {5, "FT232R"}, {9, "FT X-Series"}, {10, ""}};
    for (auto [type, text] : cases) EXPECT_EQ(FTDIDirect::getDeviceTypeStr(type), text);
}

class FtdiMode : public FakeLibrary {
  protected:
    void SetUp() override {
        FakeLibrary::SetUp();
        port = std::make_unique<TSeriellThread>(true, main, 4096, binding());
        port->SetftdiMode(true);
        ASSERT_TRUE(port->ftdiMode());
        ASSERT_EQ(port->ftdi().updateDeviceList(2000), FT_OK);
    }
    DirectMainThread main;
    std::unique_ptr<TSeriellThread> port;
};

TEST_F(FtdiMode, openingConfiguresTheDeviceAndBytesFlowBothWays) {
    port->Set_DTR(true);
    ASSERT_TRUE(port->OpenPort(1, 38400, false)) << port->GetErrorMessage();
    EXPECT_EQ(fake->resets, 1);
    EXPECT_EQ(fake->baud, 38400u);
    EXPECT_EQ(fake->wordLength, 8);
    EXPECT_EQ(fake->stopBits, 0);
    EXPECT_EQ(fake->parity, 0);
    EXPECT_EQ(fake->readTimeout, 1000u);
    EXPECT_EQ(fake->writeTimeout, 1000u);
    EXPECT_EQ(fake->dtr, 1);
    EXPECT_EQ(fake->rts, 0);
    ASSERT_EQ(fake->purgeCount, 2);
    EXPECT_EQ(fake->purgeMasks[0], 2u);  // transmit side first
    EXPECT_EQ(fake->purgeMasks[1], 1u);
    EXPECT_EQ(nodeSerial(port->GetftdiCurrentDevice()), "DK0AAA02");

    const std::uint8_t reply[] = {0x10, 0x20, 0x30};
    std::memcpy(fake->rx, reply, sizeof reply);
    fake->rxLen = 3;
    tByteBuffer got;
    port->OnReceive = [&](TSeriellThread* s) { s->read(got, -1); };
    EXPECT_TRUE(port->ReadSeriell());
    EXPECT_EQ(got, (tByteBuffer{0x10, 0x20, 0x30}));

    port->Send(tByteBuffer{1, 2, 3, 4});
    EXPECT_TRUE(port->SendBuffer());
    EXPECT_EQ(fake->txLen, 4u);
    EXPECT_EQ(port->setCBusOutput(0x0F, 0x15), 0u);
    EXPECT_EQ(fake->bitMask, 0xF5);
    EXPECT_TRUE(port->ClosePort());
    EXPECT_EQ(fake->closes, 1);
}

TEST_F(FtdiMode, badLineSettingsFailTheOpenWithTheirCodesAndLeaveItClosed) {
    struct Case {
        std::int32_t bits;
        tStopBits stop;
        std::uint32_t code;
    };
    const Case cases[] = {
        {7, FT_STOP_BITS_1_5, 0x81FA},  // the stop-bit error overrides
        {6, FT_STOP_BITS_1, 0x81FB},
        {9, FT_STOP_BITS_1_5, 0x81FA},
    };
    for (const auto& c : cases) {
        port->countOfBits = c.bits;
        port->stopBits = c.stop;
        EXPECT_FALSE(port->OpenPort(0, 38400, false));
        EXPECT_EQ(port->GetErrorCode(), c.code);
        EXPECT_FALSE(port->isOpen());
    }
    EXPECT_EQ(fake->dataCharacteristicsCalls, 0);
    EXPECT_EQ(fake->closes, 3);
}

TEST_F(FtdiMode, libraryStatusesReachLastErrorWithBit0x8000) {
    fake->baudStatus = FT_IO_ERROR;
    EXPECT_FALSE(port->OpenPort(0, 38400, false));
    EXPECT_EQ(port->GetErrorCode(), 0x8004u);
    fake->baudStatus = 0;
    EXPECT_FALSE(port->OpenPort(2, 38400, false));
    EXPECT_EQ(port->GetErrorCode(), 0x81FCu);
    fake->openStatus = FT_DEVICE_NOT_FOUND;
    EXPECT_FALSE(port->OpenPort(0, 38400, false));
    EXPECT_EQ(port->GetErrorCode(), 0x8002u);
    EXPECT_EQ(TSeriellThread::GetErrorMessage(port->GetErrorCode()),
              "FTDI: Gerät nicht verfügbar (0x8002)");
    fake->openStatus = 0;
    ASSERT_TRUE(port->OpenPort(0, 38400, false));
    fake->rxLen = 5;
    fake->readStatus = FT_IO_ERROR;
    EXPECT_FALSE(port->ReadSeriell());
    EXPECT_EQ(port->GetErrorCode(), 0x8004u);
    fake->writeStatus = FT_IO_ERROR;
    int errors = 0;
    port->OnError = [&](TSeriellThread*, TSeriellError e) { errors += e == Err_NotAllSend; };
    port->Send(tByteBuffer{1});
    EXPECT_FALSE(port->SendBuffer());
    EXPECT_EQ(errors, 1);
}

TEST_F(FtdiMode, theCurrentDeviceByLocationIsTheListEntryWithThatLocation) {
    ASSERT_TRUE(port->OpenPort(0x115, 38400, true));
    EXPECT_EQ(nodeSerial(port->GetftdiCurrentDevice()), "DK0AAA02");
    port->ClosePort();
    EXPECT_EQ(nodeDescription(port->GetftdiCurrentDevice()), "invalid");
}

}  // namespace
}  // namespace kyvo
