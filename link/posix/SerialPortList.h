// Every serial port of the computer that could reach a device, read from
// sysfs: USB serial adapters (ttyUSB, ttyACM), Bluetooth serial ports
// (rfcomm) and built-in ports that have hardware behind them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kyvo {

struct TSerialPortInfo {
    std::string Path;         // device path below devRoot, e.g. /dev/ttyUSB1
    std::string Description;  // USB product text, "Bluetooth", or empty
    std::uint32_t UsbId = 0;  // vendor << 16 | product; 0 when not USB
    std::string UsbSerial;    // the USB device's serial number, when it has one
};

// sysRoot stands for "/" (tests build a fake tree); devRoot holds the device
// files. Sorted by kind (USB, then Bluetooth, then built-in) and number. The
// legacy ports the kernel always creates (serial8250 platform ports) are
// left out: nothing answers there.
std::vector<TSerialPortInfo> listSerialPorts(const std::string& sysRoot = "/",
                                             const std::string& devRoot = "/dev");

}  // namespace kyvo
