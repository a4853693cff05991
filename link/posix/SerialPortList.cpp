#include "link/posix/SerialPortList.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <tuple>

namespace kyvo {

namespace fs = std::filesystem;

namespace {

std::string attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\t'))
        text.pop_back();
    const auto start = text.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : text.substr(start);
}

std::uint32_t hex(const std::string& text) {
    std::uint32_t v = 0;
    if (text.empty() || text.size() > 4) return 0;
    for (char c : text) {
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (d < 0) return 0;
        v = v << 4 | static_cast<std::uint32_t>(d);
    }
    return v;
}

// The number at the end of a tty name (ttyUSB12 gives 12).
unsigned long trailingNumber(const std::string& name) {
    std::size_t i = name.size();
    while (i > 0 && name[i - 1] >= '0' && name[i - 1] <= '9') --i;
    if (i == name.size() || name.size() - i > 9) return 0;
    return std::stoul(name.substr(i));
}

}  // namespace

std::vector<TSerialPortInfo> listSerialPorts(const std::string& sysRoot,
                                             const std::string& devRoot) {
    std::vector<std::tuple<int, std::string, unsigned long, TSerialPortInfo>> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(sysRoot) / "sys/class/tty", ec)) {
        const std::string name = entry.path().filename().string();
        TSerialPortInfo info;
        info.Path = (fs::path(devRoot) / name).string();
        int kind = 0;
        if (name.rfind("rfcomm", 0) == 0) {
            // Bound to a paired device's serial port service while it exists.
            if (name.size() == 6 || name.find_first_not_of("0123456789", 6) != std::string::npos)
                continue;
            kind = 1;
            info.Description = "Bluetooth";
        } else {
            std::error_code e2;
            const fs::path device = fs::canonical(entry.path() / "device", e2);
            if (e2) continue;  // virtual consoles, pseudo-terminals
            const std::string driver = fs::read_symlink(device / "driver", e2).filename().string();
            // The placeholder UARTs the kernel creates whether or not one is
            // there: on the serial8250 platform device, or of type 0 (unknown).
            if (driver == "serial8250" ||
                device.string().find("/platform/serial8250") != std::string::npos ||
                attribute(entry.path() / "type") == "0")
                continue;
            fs::path usb = device;
            while (!usb.empty() && usb != usb.root_path() && !fs::exists(usb / "idVendor", e2))
                usb = usb.parent_path();
            if (!usb.empty() && fs::exists(usb / "idVendor", e2)) {
                kind = 0;
                info.UsbId =
                    hex(attribute(usb / "idVendor")) << 16 | hex(attribute(usb / "idProduct"));
                info.UsbSerial = attribute(usb / "serial");
                info.Description = attribute(usb / "product");
            } else {
                kind = 2;  // a built-in port: its path says enough
            }
        }
        const std::string stem = name.substr(0, name.find_first_of("0123456789"));
        found.emplace_back(kind, stem, trailingNumber(name), std::move(info));
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return std::tie(std::get<0>(a), std::get<1>(a), std::get<2>(a)) <
               std::tie(std::get<0>(b), std::get<1>(b), std::get<2>(b));
    });
    std::vector<TSerialPortInfo> ports;
    for (auto& f : found) ports.push_back(std::move(std::get<3>(f)));
    return ports;
}

}  // namespace kyvo
