#include "link/posix/FtdiSioProvider.h"

#include <poll.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>

#include "link/posix/TermiosPort.h"
#include "protocol/ByteBuffer.h"

namespace kyvo {

namespace {

namespace fs = std::filesystem;

struct Device {
    std::string tty;
    std::string devPath;
    std::uint32_t id = 0;
    std::uint32_t locId = 0;
    std::uint32_t type = FT_DEVICE_UNKNOWN;
    std::uint32_t flags = 0;
    std::string serial;
    std::string description;
};

struct Handle {
    std::string tty;
    std::shared_ptr<TermiosPort> port;
    tLineSettings line{9600, 8, FT_STOP_BITS_1, FT_PARITY_NONE};
    std::uint32_t readTimeout = 0;
    std::uint32_t writeTimeout = 0;
};

std::string readAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    // Some attributes are padded ("bNumInterfaces" reads " 2").
    auto blank = [](char c) { return c == ' ' || c == '\r' || c == '\t'; };
    while (!text.empty() && blank(text.back())) text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && blank(text[start])) ++start;
    return text.substr(start);
}

std::uint32_t readHex(const fs::path& file) {
    std::string text = readAttribute(file);
    if (text.empty() || text.size() > 8) return 0;
    std::uint32_t v = 0;
    for (char c : text) {
        int d = std::isxdigit(static_cast<unsigned char>(c))
                    ? (std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                   : (std::tolower(c) - 'a' + 10))
                    : -1;
        if (d < 0) return 0;
        v = v << 4 | static_cast<std::uint32_t>(d);
    }
    return v;
}

std::uint32_t typeOfProduct(std::uint16_t product) {
    switch (product) {
        case 0x6001:
            return FT_DEVICE_232R;
        case 0x6010:
            return FT_DEVICE_2232H;
        case 0x6011:
            return FT_DEVICE_4232H;
        case 0x6014:
            return FT_DEVICE_232H;
        case 0x6015:
            return FT_DEVICE_X_SERIES;
        default:
            return FT_DEVICE_UNKNOWN;
    }
}

// "1-1.4" (bus 1, hub port 1, port 4) gives 0x114; a path that does not fit
// in hex digits falls back to bus and device number.
std::uint32_t locationOf(const std::string& usbName, std::uint32_t devnum) {
    auto dash = usbName.find('-');
    std::uint32_t bus = 0;
    if (dash == std::string::npos || !strToCardinal(usbName.substr(0, dash), bus)) return 0;
    std::uint64_t loc = bus;
    bool fits = bus <= 0xF;
    std::string rest = usbName.substr(dash + 1);
    std::size_t start = 0;
    while (fits && start <= rest.size()) {
        auto dot = rest.find('.', start);
        std::string part =
            rest.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        std::uint32_t port = 0;
        if (!strToCardinal(part, port) || port > 0xF) fits = false;
        loc = loc << 4 | port;
        if (loc > 0xFFFFFFFu) fits = false;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    if (fits) return static_cast<std::uint32_t>(loc);
    return (bus & 0xFFFF) << 16 | (devnum & 0xFFFF);
}

std::uint32_t ttyNumber(const std::string& tty) {
    std::uint32_t n = 0;
    strToCardinal(tty.substr(std::strlen("ttyUSB")), n);
    return n;
}

void copyText(char* dest, std::size_t size, const std::string& text) {
    std::memset(dest, 0, size);
    std::memcpy(dest, text.data(), std::min(text.size(), size - 1));
}

class FtdiSioProvider final : public ID2xxApi {
  public:
    FtdiSioProvider(std::string sysRoot, std::string devRoot)
        : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {}
    ~FtdiSioProvider() override {
        for (Handle* h : handles_) delete h;
    }

    bool has(D2xxEntry e) const override {
        switch (e) {
            case D2xxEntry::EE_Read:
            case D2xxEntry::EE_Program:
            case D2xxEntry::EraseEE:
            case D2xxEntry::GetBitMode:
            case D2xxEntry::EEPROM_Read:
            case D2xxEntry::EEPROM_Program:
                return false;
            default:
                return true;
        }
    }

    FT_STATUS CreateDeviceInfoList(std::uint32_t* n) override {
        std::lock_guard lock(mutex_);
        scan();
        *n = static_cast<std::uint32_t>(devices_.size());
        return FT_OK;
    }

    FT_STATUS GetDeviceInfoList(tFT_device_list_info_node* list, std::uint32_t* n) override {
        std::lock_guard lock(mutex_);
        std::uint32_t count =
            std::min<std::uint32_t>(*n, static_cast<std::uint32_t>(devices_.size()));
        for (std::uint32_t i = 0; i < count; ++i) {
            const Device& d = devices_[i];
            tFT_device_list_info_node& node = list[i];
            node = tFT_device_list_info_node{};
            Handle* open = handleOf(d.tty);
            node.flags = d.flags | (open ? FT_FLAGS_OPENED : 0);
            node.dType = d.type;
            node.id = d.id;
            node.locId = d.locId;
            copyText(node.serial, sizeof node.serial, d.serial);
            copyText(node.description, sizeof node.description, d.description);
            node.ftHandle = open;
        }
        *n = count;
        return FT_OK;
    }

    FT_STATUS OpenEx(void* arg, std::uint32_t flags, FT_HANDLE* out) override {
        *out = nullptr;
        std::lock_guard lock(mutex_);
        if (devices_.empty()) scan();
        const Device* found = nullptr;
        for (const Device& d : devices_) {
            bool match = false;
            if (flags == FT_OPEN_BY_LOCATION)
                match =
                    d.locId == static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(arg));
            else if (flags == FT_OPEN_BY_SERIAL_NUMBER && arg)
                match = d.serial == static_cast<const char*>(arg);
            else if (flags == FT_OPEN_BY_DESCRIPTION && arg)
                match = d.description == static_cast<const char*>(arg);
            if (match) {
                found = &d;
                break;
            }
        }
        if (!found) return FT_DEVICE_NOT_FOUND;
        if (handleOf(found->tty)) return FT_DEVICE_NOT_OPENED;
        std::uint32_t error = 0;
        auto port = TermiosPort::open(found->devPath, error);
        if (!port)
            return error == kErrPortMissing        ? FT_DEVICE_NOT_FOUND
                   : error == kErrPortNotPermitted ? FTDI_PORT_NOT_PERMITTED
                                                   : FT_DEVICE_NOT_OPENED;
        // The chip holds received bytes up to its latency timer (16 ms) before
        // it sends them; every block request would wait for that.
        port->requestLowLatency();
        auto* h = new Handle{found->tty, std::move(port)};
        h->port->setLine(h->line);
        handles_.insert(h);
        *out = h;
        return FT_OK;
    }

    FT_STATUS Close(FT_HANDLE handle) override {
        std::lock_guard lock(mutex_);
        auto it = handles_.find(static_cast<Handle*>(handle));
        if (it == handles_.end()) return FT_INVALID_HANDLE;
        Handle* h = *it;
        handles_.erase(it);
        h->port->close();
        delete h;
        return FT_OK;
    }

    FT_STATUS SetBaudRate(FT_HANDLE handle, std::uint32_t baud) override {
        Handle* h = valid(handle);
        if (!h) return FT_INVALID_HANDLE;
        if (baud == 0 || baud > 0x7FFFFFFF) return FT_INVALID_PARAMETER;
        h->line.baudRate = static_cast<std::int32_t>(baud);
        h->port->setLine(h->line);
        return FT_OK;
    }

    FT_STATUS Purge(FT_HANDLE handle, std::uint32_t mask) override {
        Handle* h = valid(handle);
        if (!h) return FT_INVALID_HANDLE;
        h->port->purge(mask & 2, mask & 1);
        return FT_OK;
    }

    FT_STATUS SetDataCharacteristics(FT_HANDLE handle, std::uint8_t w, std::uint8_t s,
                                     std::uint8_t p) override {
        Handle* h = valid(handle);
        if (!h) return FT_INVALID_HANDLE;
        if ((w != 7 && w != 8) || (s != FT_STOP_BITS_1 && s != FT_STOP_BITS_2) || p > 4)
            return FT_INVALID_PARAMETER;
        h->line.dataBits = w;
        h->line.stopBits = static_cast<tStopBits>(s);
        h->line.parity = static_cast<tParity>(p);
        h->port->setLine(h->line);
        return FT_OK;
    }

    FT_STATUS GetQueueStatus(FT_HANDLE handle, std::uint32_t* rx) override {
        Handle* h = valid(handle);
        if (!h) return FT_INVALID_HANDLE;
        std::uint32_t error = 0;
        return h->port->bytesWaiting(*rx, error) ? FT_OK : FT_IO_ERROR;
    }

    FT_STATUS Read(FT_HANDLE handle, void* buf, std::uint32_t toRead, std::uint32_t* got) override {
        *got = 0;
        Handle* h = valid(handle);
        if (!h) return FT_INVALID_HANDLE;
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(h->readTimeout);
        auto* out = static_cast<std::uint8_t*>(buf);
        for (;;) {
            std::uint32_t n = 0;
            if (h->port->readWaiting(out + *got, toRead - *got, n) != 0) return FT_IO_ERROR;
            *got += n;
            if (*got >= toRead || Clock::now() >= deadline) return FT_OK;
            struct pollfd p {
                h->port->fd(), POLLIN, 0
            };
            poll(&p, 1, 10);
        }
    }

    FT_STATUS Write(FT_HANDLE handle, const void* buf, std::uint32_t n,
                    std::uint32_t* put) override {
        *put = 0;
        Handle* h = valid(handle);
        if (!h) return FT_INVALID_HANDLE;
        h->port->setStallTimeoutMs(h->writeTimeout ? static_cast<int>(h->writeTimeout) : 1000);
        std::uint32_t written = 0;
        std::uint32_t err = h->port->write(static_cast<const std::uint8_t*>(buf), n, written);
        *put = written;
        return err == 0 ? FT_OK : FT_IO_ERROR;
    }

    FT_STATUS SetDtr(FT_HANDLE h) override { return line(h, true, true); }
    FT_STATUS ClrDtr(FT_HANDLE h) override { return line(h, true, false); }
    FT_STATUS SetRts(FT_HANDLE h) override { return line(h, false, true); }
    FT_STATUS ClrRts(FT_HANDLE h) override { return line(h, false, false); }

    FT_STATUS ResetDevice(FT_HANDLE handle) override {
        Handle* h = valid(handle);
        if (!h) return FT_INVALID_HANDLE;
        h->port->purge(true, true);
        return FT_OK;
    }

    FT_STATUS GetStatus(FT_HANDLE handle, std::uint32_t* rx, std::uint32_t* tx,
                        std::uint32_t* ev) override {
        Handle* h = valid(handle);
        if (!h) return FT_INVALID_HANDLE;
        std::uint32_t error = 0;
        *ev = 0;
        *tx = h->port->outputQueued();
        return h->port->bytesWaiting(*rx, error) ? FT_OK : FT_IO_ERROR;
    }

    // A kernel tty has no COM number, and its CBUS pins are not reachable
    // through the tty.
    FT_STATUS GetComPortNumber(FT_HANDLE, std::int32_t* port) override {
        *port = -1;
        return FT_NOT_SUPPORTED;
    }
    FT_STATUS SetBitMode(FT_HANDLE handle, std::uint8_t, std::uint8_t) override {
        return valid(handle) ? FT_NOT_SUPPORTED : FT_INVALID_HANDLE;
    }

    FT_STATUS SetTimeouts(FT_HANDLE handle, std::uint32_t r, std::uint32_t w) override {
        Handle* h = valid(handle);
        if (!h) return FT_INVALID_HANDLE;
        h->readTimeout = r;
        h->writeTimeout = w;
        return FT_OK;
    }

    FT_STATUS GetDeviceInfoDetail(std::uint32_t index, std::uint32_t* flags, std::uint32_t* type,
                                  std::uint32_t* id, std::uint32_t* locId, char* serial,
                                  char* description, FT_HANDLE* handle) override {
        std::lock_guard lock(mutex_);
        if (index >= devices_.size()) return FT_DEVICE_NOT_FOUND;
        const Device& d = devices_[index];
        Handle* open = handleOf(d.tty);
        *flags = d.flags | (open ? FT_FLAGS_OPENED : 0);
        *type = d.type;
        *id = d.id;
        *locId = d.locId;
        copyText(serial, 16, d.serial);
        copyText(description, 64, d.description);
        *handle = open;
        return FT_OK;
    }

    FT_STATUS ListDevices(void*, void*, std::uint32_t) override { return FT_NOT_SUPPORTED; }

  private:
    Handle* valid(FT_HANDLE handle) {
        std::lock_guard lock(mutex_);
        auto it = handles_.find(static_cast<Handle*>(handle));
        return it == handles_.end() ? nullptr : *it;
    }

    Handle* handleOf(const std::string& tty) const {
        for (Handle* h : handles_) {
            if (h->tty == tty) return h;
        }
        return nullptr;
    }

    FT_STATUS line(FT_HANDLE handle, bool dtr, bool on) {
        Handle* h = valid(handle);
        if (!h) return FT_INVALID_HANDLE;
        std::uint32_t err = dtr ? h->port->setDTR(on) : h->port->setRTS(on);
        return err == 0 ? FT_OK : FT_IO_ERROR;
    }

    // Every ftdi_sio tty with the USB identity of the device it belongs to,
    // in tty number order.
    void scan() {
        devices_.clear();
        std::error_code ec;
        fs::path classDir = fs::path(sysRoot_) / "sys/class/tty";
        for (const auto& entry : fs::directory_iterator(classDir, ec)) {
            std::string name = entry.path().filename().string();
            if (name.rfind("ttyUSB", 0) != 0) continue;
            fs::path portDir = fs::canonical(entry.path() / "device", ec);
            if (ec) continue;
            fs::path driver = fs::read_symlink(portDir / "driver", ec);
            if (ec || driver.filename() != "ftdi_sio") continue;
            // Up from the usb-serial port to the USB device that has the identity.
            fs::path usbDir = portDir.parent_path();
            fs::path interfaceDir = usbDir;
            while (!usbDir.empty() && usbDir != usbDir.root_path() &&
                   !fs::exists(usbDir / "idVendor", ec)) {
                interfaceDir = usbDir;
                usbDir = usbDir.parent_path();
            }
            if (usbDir.empty() || !fs::exists(usbDir / "idVendor", ec)) continue;
            Device d;
            d.tty = name;
            d.devPath = (fs::path(devRoot_) / name).string();
            auto vendor = static_cast<std::uint16_t>(readHex(usbDir / "idVendor"));
            auto product = static_cast<std::uint16_t>(readHex(usbDir / "idProduct"));
            d.id = static_cast<std::uint32_t>(vendor) << 16 | product;
            d.type = typeOfProduct(product);
            if (d.type == FT_DEVICE_2232H || d.type == FT_DEVICE_4232H || d.type == FT_DEVICE_232H)
                d.flags = FT_FLAGS_HISPEED;
            std::uint32_t devnum = 0;
            strToCardinal(readAttribute(usbDir / "devnum"), devnum);
            d.locId = locationOf(usbDir.filename().string(), devnum);
            d.serial = readAttribute(usbDir / "serial");
            d.description = readAttribute(usbDir / "product");
            // A chip with several UARTs: one entry per interface, told apart
            // by a letter as the vendor's driver does.
            std::uint32_t interfaces = 0;
            strToCardinal(readAttribute(usbDir / "bNumInterfaces"), interfaces);
            if (interfaces > 1) {
                std::uint32_t number = readHex(interfaceDir / "bInterfaceNumber");
                char letter = static_cast<char>('A' + std::min<std::uint32_t>(number, 25));
                d.serial += letter;
                d.description += std::string(" ") + letter;
                d.locId = d.locId << 4 | (number + 1);
            }
            devices_.push_back(std::move(d));
        }
        std::sort(devices_.begin(), devices_.end(), [](const Device& a, const Device& b) {
            return ttyNumber(a.tty) < ttyNumber(b.tty);
        });
    }

    std::string sysRoot_;
    std::string devRoot_;
    std::mutex mutex_;
    std::vector<Device> devices_;
    std::set<Handle*> handles_;
};

}  // namespace

std::unique_ptr<ID2xxApi> makeFtdiSioProvider(std::string sysRoot, std::string devRoot) {
    return std::make_unique<FtdiSioProvider>(std::move(sysRoot), std::move(devRoot));
}

}  // namespace kyvo
