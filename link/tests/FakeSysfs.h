// A small sysfs tree under a temporary directory: tty class entries, USB
// devices with their identity files and the driver links of their ports.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace kyvo::test {

class FakeSysfs {
  public:
    explicit FakeSysfs(const std::string& name)
        : root_(std::filesystem::path(::testing::TempDir()) /
                (name + "_" + std::to_string(getpid()))) {
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "sys/class/tty");
        std::filesystem::create_directories(root_ / "sys/bus/usb-serial/drivers/ftdi_sio");
        std::filesystem::create_directories(root_ / "sys/bus/usb-serial/drivers/cp210x");
        std::filesystem::create_directories(root_ / "dev");
    }
    ~FakeSysfs() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    std::string root() const { return root_.string(); }
    std::string dev() const { return (root_ / "dev").string(); }

    // A USB serial port `tty` on the USB device named usbName ("1-1.4").
    void addUsbPort(const std::string& tty, const std::string& driver, const std::string& usbName,
                    const std::string& vendor, const std::string& product,
                    const std::string& serial, const std::string& description, int interfaces = 1,
                    int interfaceNumber = 0, int devnum = 5) {
        auto usb = root_ / "sys/devices/pci0000:00/0000:00:14.0" / usbName;
        std::filesystem::create_directories(usb);
        write(usb / "idVendor", vendor);
        write(usb / "idProduct", product);
        write(usb / "serial", serial);
        write(usb / "product", description);
        write(usb / "devnum", std::to_string(devnum));
        write(usb / "bNumInterfaces", " " + std::to_string(interfaces));
        auto iface = usb / (usbName + ":1." + std::to_string(interfaceNumber));
        std::filesystem::create_directories(iface / tty);
        write(iface / "bInterfaceNumber", "0" + std::to_string(interfaceNumber));
        std::filesystem::create_directory_symlink(root_ / "sys/bus/usb-serial/drivers" / driver,
                                                  iface / tty / "driver");
        addTty(tty);
        std::filesystem::create_directory_symlink(iface / tty,
                                                  root_ / "sys/class/tty" / tty / "device");
    }
    void addTty(const std::string& tty) {
        std::filesystem::create_directories(root_ / "sys/class/tty" / tty);
    }
    // The device file of `tty`, standing for the real one.
    void linkDevice(const std::string& tty, const std::string& target) {
        std::filesystem::create_symlink(target, root_ / "dev" / tty);
    }

  private:
    static void write(const std::filesystem::path& file, const std::string& text) {
        std::ofstream(file) << text << "\n";
    }
    std::filesystem::path root_;
};

}  // namespace kyvo::test
