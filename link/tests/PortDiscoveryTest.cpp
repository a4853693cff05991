// Port discovery from a fake sysfs tree: the built-in FTDI provider over
// ftdi_sio ports, and the Bluetooth serial ports.
#include <gtest/gtest.h>

#include <thread>

#include "link/BluetoothThread.h"
#include "link/SeriellThread.h"
#include "link/posix/FtdiSioProvider.h"
#include "link/posix/SerialPortList.h"
#include "link/tests/FakeSysfs.h"
#include "link/tests/Pty.h"

namespace kyvo {
namespace {

using test::FakeSysfs;

class FtdiSio : public ::testing::Test {
  protected:
    FtdiSio() : sys("kyvo_ftdisio") {
        sys.addUsbPort("ttyUSB0", "ftdi_sio", "1-1.4", "0403", "6015", "DK0AAA01",
                       "FT230X Basic UART");
        sys.addUsbPort("ttyUSB2", "cp210x", "1-2", "10c4", "ea60", "0001", "CP2102");
        sys.addUsbPort("ttyUSB10", "ftdi_sio", "3-2", "0403", "6010", "FT1234", "Dual RS232-HS", 2,
                       1);
        sys.addUsbPort("ttyUSB1", "ftdi_sio", "2-1.17", "0403", "6001", "A900XYZ",
                       "FT232R USB UART", 1, 0, 9);
        sys.addTty("ttyS0");
    }
    FakeSysfs sys;
};

TEST_F(FtdiSio, listsEveryFtdiSioPortWithItsUsbIdentityInPortOrder) {
    FTDIDirect ftdi(makeFtdiSioProvider(sys.root(), sys.dev()));
    ASSERT_TRUE(ftdi.isValid());
    ASSERT_EQ(ftdi.updateDeviceList(2000), FT_OK);
    ASSERT_EQ(ftdi.deviceCount(), 3);
    struct Row {
        const char* serial;
        const char* description;
        std::uint32_t id, locId, type, flags;
    };
    const Row rows[] = {
        {"DK0AAA01", "FT230X Basic UART", 0x04036015, 0x114, FT_DEVICE_X_SERIES, 0},
        // A hub port beyond one hex digit: bus and device number instead.
        {"A900XYZ", "FT232R USB UART", 0x04036001, 0x20009, FT_DEVICE_232R, 0},
        // The second UART of a dual chip.
        {"FT1234B", "Dual RS232-HS B", 0x04036010, 0x322, FT_DEVICE_2232H, FT_FLAGS_HISPEED},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& n = ftdi.deviceInfoList()[i];
        EXPECT_EQ(nodeSerial(n), rows[i].serial) << i;
        EXPECT_EQ(nodeDescription(n), rows[i].description) << i;
        EXPECT_EQ(n.id, rows[i].id) << i;
        EXPECT_EQ(n.locId, rows[i].locId) << i;
        EXPECT_EQ(n.dType, rows[i].type) << i;
        EXPECT_EQ(n.flags, rows[i].flags) << i;
        EXPECT_EQ(n.ftHandle, nullptr) << i;
    }
    tDeviceInfoDetail detail;
    ASSERT_EQ(ftdi.getDeviceInfoDetail(0, detail), FT_OK);
    EXPECT_EQ(detail.USBPID, 0x6015);
    EXPECT_EQ(detail.description, "FT230X Basic UART");
}

TEST_F(FtdiSio, ftdiModeOpensThePortByItsListIndexAndMovesBytes) {
    test::Pty pty;
    ASSERT_TRUE(pty.ok());
    sys.linkDevice("ttyUSB0", pty.slave());
    DirectMainThread main;
    TSeriellThread port(true, main, TSeriellThread::kDefaultBufferSize,
                        std::make_unique<FTDIDirect>(makeFtdiSioProvider(sys.root(), sys.dev())));
    port.SetftdiMode(true);
    ASSERT_TRUE(port.ftdiMode());
    ASSERT_EQ(port.ftdi().updateDeviceList(2000), FT_OK);

    EXPECT_FALSE(port.OpenPort(1, 38400));  // ttyUSB1 has no device file
    EXPECT_EQ(port.GetErrorCode(), 0x8002u);

    ASSERT_TRUE(port.OpenPort(0, 38400)) << port.GetErrorMessage();
    EXPECT_EQ(nodeSerial(port.ftdiCurrentDevice()), "DK0AAA01");
    tByteBuffer got;
    port.OnReceive = [&](TSeriellThread* s) {
        tByteBuffer chunk;
        s->read(chunk, -1);
        got.insert(got.end(), chunk.begin(), chunk.end());
    };
    ASSERT_TRUE(pty.send({0x02, 0x41, 0x03}));
    for (int round = 0; round < 2000 && got.size() < 3; ++round) {
        port.Round();
        if (got.size() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(got, (tByteBuffer{0x02, 0x41, 0x03}));
    port.Send(tByteBuffer{0x02, 0x10, 0x03});
    EXPECT_TRUE(port.SendBuffer());
    EXPECT_EQ(pty.receive(3), (std::vector<std::uint8_t>{0x02, 0x10, 0x03}));

    // While open, a fresh list marks the device as opened.
    ASSERT_EQ(port.ftdi().updateDeviceList(2000), FT_OK);
    EXPECT_EQ(port.ftdi().deviceInfoList()[0].flags & FT_FLAGS_OPENED, FT_FLAGS_OPENED);
    EXPECT_TRUE(port.ClosePort());
    ASSERT_EQ(port.ftdi().updateDeviceList(2000), FT_OK);
    EXPECT_EQ(port.ftdi().deviceInfoList()[0].flags, 0u);
}

TEST_F(FtdiSio, anUnknownHandleIsRefused) {
    auto api = makeFtdiSioProvider(sys.root(), sys.dev());
    int notAHandle = 0;
    EXPECT_EQ(api->Close(&notAHandle), FT_INVALID_HANDLE);
    std::uint32_t n = 0;
    EXPECT_EQ(api->GetQueueStatus(&notAHandle, &n), FT_INVALID_HANDLE);
    FT_HANDLE h = nullptr;
    EXPECT_EQ(api->OpenEx(reinterpret_cast<void*>(std::uintptr_t{0x999}), FT_OPEN_BY_LOCATION, &h),
              FT_DEVICE_NOT_FOUND);
}

TEST(BluetoothPorts, presentRfcommPortsAreListedInNumberOrder) {
    FakeSysfs sys("kyvo_bt");
    for (const char* tty : {"rfcomm12", "ttyS0", "rfcomm3", "rfcomm0", "ttyUSB0", "rfcommX"})
        sys.addTty(tty);
    TBluetoothThread bt(true, nullptr, 3, 38400, sys.root(), "/dev");
    std::vector<std::string> ports{"stale"};
    bt.GetComPorts(ports);
    EXPECT_EQ(ports, (std::vector<std::string>{"/dev/rfcomm0", "/dev/rfcomm3", "/dev/rfcomm12"}));
    EXPECT_EQ(bt.threadState(), TSStart);
    EXPECT_EQ(bt.preferredPort(), 3);
}

TEST(BluetoothPorts, noBluetoothPortEmptiesTheListButNoTtyAtAllKeepsIt) {
    FakeSysfs sys("kyvo_bt_none");
    TBluetoothThread bt(true, nullptr, 1, 38400, sys.root());
    std::vector<std::string> ports{"/dev/rfcomm5"};
    bt.GetComPorts(ports);  // the tty class is empty: nothing to go by
    EXPECT_EQ(ports, std::vector<std::string>{"/dev/rfcomm5"});
    sys.addTty("ttyS0");
    bt.GetComPorts(ports);
    EXPECT_TRUE(ports.empty());
    TBluetoothThread nowhere(true, nullptr, 1, 38400, "/nonexistent-root");
    ports = {"kept"};
    nowhere.GetComPorts(ports);
    EXPECT_EQ(ports, std::vector<std::string>{"kept"});
}

TEST(SerialPorts, everyPortWithHardwareBehindItIsListedUsbFirstThenBluetoothThenBuiltIn) {
    namespace fs = std::filesystem;
    FakeSysfs sys("kyvo_serialports");
    sys.addUsbPort("ttyUSB1", "cp210x", "1-2", "10c4", "ea60", "0001", "CP2102 USB to UART");
    sys.addUsbPort("ttyUSB0", "ftdi_sio", "1-1", "0403", "6015", "DK0AAA01", "FT230X Basic UART");
    sys.addUsbPort("ttyACM0", "cdc_acm", "1-3", "2341", "0043", "", "Arduino Uno");
    sys.addTty("rfcomm2");
    sys.addTty("tty1");  // a virtual console: no device behind it
    // A built-in port found by the firmware, and one of the legacy ports the
    // kernel creates whether or not a UART is there.
    auto builtIn = [&](const std::string& tty, const std::string& parent,
                       const std::string& driver) {
        const fs::path dir = fs::path(sys.root()) / "sys/devices" / parent;
        fs::create_directories(dir / "tty" / tty);
        fs::create_directory_symlink(fs::path(sys.root()) / "sys/bus/drivers" / driver,
                                     dir / "driver");
        sys.addTty(tty);
        fs::create_directory_symlink(dir, fs::path(sys.root()) / "sys/class/tty" / tty / "device");
    };
    builtIn("ttyS0", "pnp0/00:05", "serial");
    builtIn("ttyS1", "platform/serial8250", "serial8250");
    builtIn("ttyS2", "platform/serial8250/serial8250:0/serial8250:0.2", "port");
    builtIn("ttyS3", "pnp0/00:06", "port");
    std::ofstream(fs::path(sys.root()) / "sys/class/tty/ttyS3/type") << "0\n";

    const auto ports = listSerialPorts(sys.root(), "/dev");
    std::vector<std::string> paths, descriptions;
    for (const auto& p : ports) {
        paths.push_back(p.Path);
        descriptions.push_back(p.Description);
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyUSB1",
                                               "/dev/rfcomm2", "/dev/ttyS0"}));
    EXPECT_EQ(descriptions, (std::vector<std::string>{"Arduino Uno", "FT230X Basic UART",
                                                      "CP2102 USB to UART", "Bluetooth", ""}));
    EXPECT_EQ(ports[1].UsbId, 0x04036015u);
    EXPECT_EQ(ports[1].UsbSerial, "DK0AAA01");
    EXPECT_EQ(ports[3].UsbId, 0u);
}

}  // namespace
}  // namespace kyvo
