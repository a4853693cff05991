// The D2XX entry points served over the kernel's ftdi_sio ports, for systems
// without the vendor's library: devices are listed from sysfs (USB identity
// of each ftdi_sio tty) and opened through the termios layer.
#pragma once

#include <memory>
#include <string>

#include "link/FTDI_directDriver.h"

namespace kyvo {

// sysRoot stands for "/" (so /sys/class/tty is read below it) and devRoot
// holds the device files named like the ttys (ttyUSB0, ...). Location ids
// are built from the USB port path: bus number, then one hex digit per hub
// port (bus 1, port 1.4 gives 0x114).
std::unique_ptr<ID2xxApi> makeFtdiSioProvider(std::string sysRoot = "/",
                                              std::string devRoot = "/dev");

}  // namespace kyvo
