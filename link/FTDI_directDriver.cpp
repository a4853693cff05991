#include "link/FTDI_directDriver.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <thread>

#include "link/posix/FtdiSioProvider.h"

namespace kyvo {

namespace {

struct SymbolNames {
    const char* name;
    const char* alternative;
};

// Indexed by D2xxEntry. The time-out setter is documented as FT_SetTimeouts;
// the other spelling is accepted too.
constexpr std::array<SymbolNames, static_cast<std::size_t>(D2xxEntry::Count_)> kSymbols{{
    {"FT_CreateDeviceInfoList", nullptr},
    {"FT_GetDeviceInfoList", nullptr},
    {"FT_OpenEx", nullptr},
    {"FT_Close", nullptr},
    {"FT_SetBaudRate", nullptr},
    {"FT_Purge", nullptr},
    {"FT_SetDataCharacteristics", nullptr},
    {"FT_GetQueueStatus", nullptr},
    {"FT_Read", nullptr},
    {"FT_Write", nullptr},
    {"FT_SetDtr", nullptr},
    {"FT_ClrDtr", nullptr},
    {"FT_SetRts", nullptr},
    {"FT_ClrRts", nullptr},
    {"FT_ResetDevice", nullptr},
    {"FT_GetStatus", nullptr},
    {"FT_EE_Read", nullptr},
    {"FT_EE_Program", nullptr},
    {"FT_EraseEE", nullptr},
    {"FT_GetComPortNumber", nullptr},
    {"FT_SetBitMode", nullptr},
    {"FT_GetBitMode", nullptr},
    {"FT_SetTimeouts", "FT_SetTimeOuts"},
    {"FT_EEPROM_Read", nullptr},
    {"FT_EEPROM_Program", nullptr},
    {"FT_GetDeviceInfoDetail", nullptr},
    {"FT_ListDevices", nullptr},
}};

// The library's own calling convention: DWORD is 32 bits, handles are
// pointers. LONG results are read through a 64-bit cell so that either
// width of the library's LONG fits.
extern "C" {
using FnCreateDeviceInfoList = FT_STATUS (*)(std::uint32_t*);
using FnGetDeviceInfoList = FT_STATUS (*)(tFT_device_list_info_node*, std::uint32_t*);
using FnOpenEx = FT_STATUS (*)(void*, std::uint32_t, FT_HANDLE*);
using FnHandle = FT_STATUS (*)(FT_HANDLE);
using FnHandleU32 = FT_STATUS (*)(FT_HANDLE, std::uint32_t);
using FnHandleU32U32 = FT_STATUS (*)(FT_HANDLE, std::uint32_t, std::uint32_t);
using FnDataCharacteristics = FT_STATUS (*)(FT_HANDLE, std::uint8_t, std::uint8_t, std::uint8_t);
using FnHandleU32Ptr = FT_STATUS (*)(FT_HANDLE, std::uint32_t*);
using FnRead = FT_STATUS (*)(FT_HANDLE, void*, std::uint32_t, std::uint32_t*);
using FnWrite = FT_STATUS (*)(FT_HANDLE, const void*, std::uint32_t, std::uint32_t*);
using FnGetStatus = FT_STATUS (*)(FT_HANDLE, std::uint32_t*, std::uint32_t*, std::uint32_t*);
using FnGetComPortNumber = FT_STATUS (*)(FT_HANDLE, std::int64_t*);
using FnSetBitMode = FT_STATUS (*)(FT_HANDLE, std::uint8_t, std::uint8_t);
using FnGetDeviceInfoDetail = FT_STATUS (*)(std::uint32_t, std::uint32_t*, std::uint32_t*,
                                            std::uint32_t*, std::uint32_t*, void*, void*,
                                            FT_HANDLE*);
using FnListDevices = FT_STATUS (*)(void*, void*, std::uint32_t);
}

class DlD2xx final : public ID2xxApi {
  public:
    explicit DlD2xx(void* lib) : lib_(lib) {
        for (std::size_t i = 0; i < kSymbols.size(); ++i) {
            syms_[i] = dlsym(lib_, kSymbols[i].name);
            if (!syms_[i] && kSymbols[i].alternative)
                syms_[i] = dlsym(lib_, kSymbols[i].alternative);
        }
    }
    ~DlD2xx() override { dlclose(lib_); }

    bool has(D2xxEntry e) const override { return sym(e) != nullptr; }

    FT_STATUS CreateDeviceInfoList(std::uint32_t* n) override {
        return fn<FnCreateDeviceInfoList>(D2xxEntry::CreateDeviceInfoList)(n);
    }
    FT_STATUS GetDeviceInfoList(tFT_device_list_info_node* list, std::uint32_t* n) override {
        return fn<FnGetDeviceInfoList>(D2xxEntry::GetDeviceInfoList)(list, n);
    }
    FT_STATUS OpenEx(void* arg, std::uint32_t flags, FT_HANDLE* h) override {
        return fn<FnOpenEx>(D2xxEntry::OpenEx)(arg, flags, h);
    }
    FT_STATUS Close(FT_HANDLE h) override { return fn<FnHandle>(D2xxEntry::Close)(h); }
    FT_STATUS SetBaudRate(FT_HANDLE h, std::uint32_t baud) override {
        return fn<FnHandleU32>(D2xxEntry::SetBaudRate)(h, baud);
    }
    FT_STATUS Purge(FT_HANDLE h, std::uint32_t mask) override {
        return fn<FnHandleU32>(D2xxEntry::Purge)(h, mask);
    }
    FT_STATUS SetDataCharacteristics(FT_HANDLE h, std::uint8_t w, std::uint8_t s,
                                     std::uint8_t p) override {
        return fn<FnDataCharacteristics>(D2xxEntry::SetDataCharacteristics)(h, w, s, p);
    }
    FT_STATUS GetQueueStatus(FT_HANDLE h, std::uint32_t* rx) override {
        return fn<FnHandleU32Ptr>(D2xxEntry::GetQueueStatus)(h, rx);
    }
    FT_STATUS Read(FT_HANDLE h, void* buf, std::uint32_t n, std::uint32_t* got) override {
        return fn<FnRead>(D2xxEntry::Read)(h, buf, n, got);
    }
    FT_STATUS Write(FT_HANDLE h, const void* buf, std::uint32_t n, std::uint32_t* put) override {
        return fn<FnWrite>(D2xxEntry::Write)(h, buf, n, put);
    }
    FT_STATUS SetDtr(FT_HANDLE h) override { return fn<FnHandle>(D2xxEntry::SetDtr)(h); }
    FT_STATUS ClrDtr(FT_HANDLE h) override { return fn<FnHandle>(D2xxEntry::ClrDtr)(h); }
    FT_STATUS SetRts(FT_HANDLE h) override { return fn<FnHandle>(D2xxEntry::SetRts)(h); }
    FT_STATUS ClrRts(FT_HANDLE h) override { return fn<FnHandle>(D2xxEntry::ClrRts)(h); }
    FT_STATUS ResetDevice(FT_HANDLE h) override { return fn<FnHandle>(D2xxEntry::ResetDevice)(h); }
    FT_STATUS GetStatus(FT_HANDLE h, std::uint32_t* rx, std::uint32_t* tx,
                        std::uint32_t* ev) override {
        return fn<FnGetStatus>(D2xxEntry::GetStatus)(h, rx, tx, ev);
    }
    FT_STATUS GetComPortNumber(FT_HANDLE h, std::int32_t* port) override {
        std::int64_t cell = -1;
        FT_STATUS st = fn<FnGetComPortNumber>(D2xxEntry::GetComPortNumber)(h, &cell);
        std::int32_t low;
        std::memcpy(&low, &cell, sizeof low);
        *port = low;
        return st;
    }
    FT_STATUS SetBitMode(FT_HANDLE h, std::uint8_t mask, std::uint8_t mode) override {
        return fn<FnSetBitMode>(D2xxEntry::SetBitMode)(h, mask, mode);
    }
    FT_STATUS SetTimeouts(FT_HANDLE h, std::uint32_t r, std::uint32_t w) override {
        return fn<FnHandleU32U32>(D2xxEntry::SetTimeouts)(h, r, w);
    }
    FT_STATUS GetDeviceInfoDetail(std::uint32_t index, std::uint32_t* flags, std::uint32_t* type,
                                  std::uint32_t* id, std::uint32_t* locId, char* serial,
                                  char* description, FT_HANDLE* handle) override {
        return fn<FnGetDeviceInfoDetail>(D2xxEntry::GetDeviceInfoDetail)(
            index, flags, type, id, locId, serial, description, handle);
    }
    FT_STATUS ListDevices(void* a, void* b, std::uint32_t flags) override {
        return fn<FnListDevices>(D2xxEntry::ListDevices)(a, b, flags);
    }

  private:
    void* sym(D2xxEntry e) const { return syms_[static_cast<std::size_t>(e)]; }
    template <class F>
    F fn(D2xxEntry e) const {
        return reinterpret_cast<F>(sym(e));
    }

    void* lib_;
    std::array<void*, kSymbols.size()> syms_{};
};

// A library answering a count beyond this is not trusted with an allocation.
constexpr std::uint32_t kMaxDevices = 1024;

std::string boundedText(const char* text, std::size_t size) {
    return std::string(text, strnlen(text, size));
}

}  // namespace

const char* d2xxSymbolName(D2xxEntry e) {
    auto i = static_cast<std::size_t>(e);
    return i < kSymbols.size() ? kSymbols[i].name : "";
}

std::string nodeSerial(const tFT_device_list_info_node& node) {
    return boundedText(node.serial, sizeof node.serial);
}
std::string nodeDescription(const tFT_device_list_info_node& node) {
    return boundedText(node.description, sizeof node.description);
}

std::unique_ptr<ID2xxApi> loadD2xxLibrary(const std::string& path) {
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) return nullptr;
    return std::make_unique<DlD2xx>(lib);
}

FTDIDirect::FTDIDirect() : api_(loadD2xxLibrary("libftd2xx.so")) {
    if (!api_) api_ = makeFtdiSioProvider();
}

FTDIDirect::FTDIDirect(std::unique_ptr<ID2xxApi> api) : api_(std::move(api)) {}

FTDIDirect::~FTDIDirect() = default;

#define KYVO_REQUIRE(entry)                                                      \
    do {                                                                         \
        if (!api_ || !api_->has(D2xxEntry::entry)) return FTDI_FUNCTION_MISSING; \
    } while (0)

FT_STATUS FTDIDirect::updateDeviceList(std::uint32_t timeOut) {
    if (!api_) {
        fDeviceCount = 0;
        return FTDI_LIBRARY_NOT_LOADED;
    }
    if (!api_->has(D2xxEntry::CreateDeviceInfoList)) {
        fDeviceCount = 0;
        return FTDI_FUNCTION_MISSING;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeOut);
    std::uint32_t count = 0;
    FT_STATUS st = api_->CreateDeviceInfoList(&count);
    while (st == FT_DEVICE_LIST_NOT_READY && Clock::now() < deadline) {
        // The driver is still enumerating; asking again at once only burns
        // the main thread.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        st = api_->CreateDeviceInfoList(&count);
    }
    if (st == FT_OK && count > 0) {
        if (!api_->has(D2xxEntry::GetDeviceInfoList)) {
            st = FTDI_FUNCTION_MISSING;
        } else {
            count = std::min(count, kMaxDevices);
            list_.assign(count, tFT_device_list_info_node{});
            std::uint32_t got = count;
            st = api_->GetDeviceInfoList(list_.data(), &got);
            if (st == FT_OK) fDeviceCount = static_cast<std::int32_t>(std::min(got, count));
        }
    } else if (st == FT_OK) {
        list_.clear();
        fDeviceCount = 0;
    }
    if (st != FT_OK) fDeviceCount = 0;
    return st;
}

FT_STATUS FTDIDirect::openEx(std::int32_t index, FT_HANDLE& ftHandle, bool indexAsLocID) {
    ftHandle = nullptr;
    std::uint32_t location = 0;
    std::string serial;
    if (!indexAsLocID) {
        if (index < 0 || index >= fDeviceCount) return FTDI_NO_VALID_DEVICE;
        location = list_[static_cast<std::size_t>(index)].locId;
        serial = nodeSerial(list_[static_cast<std::size_t>(index)]);
    } else {
        location = static_cast<std::uint32_t>(index);
        for (std::int32_t i = 0; i < fDeviceCount; ++i) {
            if (list_[static_cast<std::size_t>(i)].locId == location) {
                serial = nodeSerial(list_[static_cast<std::size_t>(i)]);
                break;
            }
        }
    }
    KYVO_REQUIRE(OpenEx);
    FT_HANDLE h = nullptr;
    FT_STATUS st = api_->OpenEx(reinterpret_cast<void*>(static_cast<std::uintptr_t>(location)),
                                FT_OPEN_BY_LOCATION, &h);
    // Opening by location is not reliable everywhere; the serial number of
    // the same list entry names the same device.
    if (st != FT_OK && !serial.empty()) {
        h = nullptr;
        if (api_->OpenEx(serial.data(), FT_OPEN_BY_SERIAL_NUMBER, &h) == FT_OK) st = FT_OK;
    }
    if (st != FT_OK) h = nullptr;
    if (static_cast<std::int32_t>(location) >= 0) {
        for (std::int32_t i = 0; i < fDeviceCount; ++i) {
            auto& node = list_[static_cast<std::size_t>(i)];
            if (node.locId == location) {
                node.ftHandle = h;
                break;
            }
        }
    }
    ftHandle = h;
    return st;
}

FT_STATUS FTDIDirect::close(FT_HANDLE ftHandle) {
    KYVO_REQUIRE(Close);
    return api_->Close(ftHandle);
}

FT_STATUS FTDIDirect::setBaudrate(FT_HANDLE ftHandle, std::uint32_t baudrate) {
    KYVO_REQUIRE(SetBaudRate);
    return api_->SetBaudRate(ftHandle, baudrate);
}

FT_STATUS FTDIDirect::purge(FT_HANDLE ftHandle, std::uint8_t mask) {
    KYVO_REQUIRE(Purge);
    return api_->Purge(ftHandle, mask & 0x7F);
}

FT_STATUS FTDIDirect::setDataCharacteristics(FT_HANDLE ftHandle, std::uint8_t wordLength,
                                             std::uint8_t stopBits, std::uint8_t parity) {
    KYVO_REQUIRE(SetDataCharacteristics);
    return api_->SetDataCharacteristics(ftHandle, wordLength, stopBits, parity);
}

std::uint32_t FTDIDirect::getRxAvailable(FT_HANDLE ftHandle) {
    if (!api_ || !api_->has(D2xxEntry::GetQueueStatus)) return 0;
    std::uint32_t n = 0;
    return api_->GetQueueStatus(ftHandle, &n) == FT_OK ? n : 0;
}

FT_STATUS FTDIDirect::read(FT_HANDLE ftHandle, std::uint8_t* buffer, std::uint32_t maxRead,
                           std::uint32_t& len) {
    KYVO_REQUIRE(Read);
    // Never more than the caller's buffer holds, whatever len says.
    len = std::min({len, maxRead, getRxAvailable(ftHandle)});
    if (len == 0) return FT_OK;
    std::uint32_t got = 0;
    FT_STATUS st = api_->Read(ftHandle, buffer, len, &got);
    len = std::min(got, len);
    return st;
}

FT_STATUS FTDIDirect::write(FT_HANDLE ftHandle, const std::uint8_t* buffer, std::uint32_t,
                            std::uint32_t& len) {
    KYVO_REQUIRE(Write);
    std::uint32_t put = 0;
    FT_STATUS st = api_->Write(ftHandle, buffer, len, &put);
    len = std::min(put, len);
    return st;
}

FT_STATUS FTDIDirect::setDTR(FT_HANDLE ftHandle, bool enable) {
    if (enable) {
        KYVO_REQUIRE(SetDtr);
        return api_->SetDtr(ftHandle);
    }
    KYVO_REQUIRE(ClrDtr);
    return api_->ClrDtr(ftHandle);
}

FT_STATUS FTDIDirect::setRTS(FT_HANDLE ftHandle, bool enable) {
    if (enable) {
        KYVO_REQUIRE(SetRts);
        return api_->SetRts(ftHandle);
    }
    KYVO_REQUIRE(ClrRts);
    return api_->ClrRts(ftHandle);
}

FT_STATUS FTDIDirect::reset(FT_HANDLE ftHandle) {
    KYVO_REQUIRE(ResetDevice);
    return api_->ResetDevice(ftHandle);
}

std::uint32_t FTDIDirect::getTxInQueue(FT_HANDLE ftHandle) {
    if (!api_ || !api_->has(D2xxEntry::GetStatus)) return 0;
    std::uint32_t rx = 0, tx = 0, ev = 0;
    return api_->GetStatus(ftHandle, &rx, &tx, &ev) == FT_OK ? tx : 0;
}

FT_STATUS FTDIDirect::setTimeOuts(FT_HANDLE ftHandle, std::uint32_t readTimeOut,
                                  std::uint32_t writeTimeOut) {
    KYVO_REQUIRE(SetTimeouts);
    return api_->SetTimeouts(ftHandle, readTimeOut, writeTimeOut);
}

std::int32_t FTDIDirect::getComPortNumber(FT_HANDLE ftHandle) {
    if (!api_ || !api_->has(D2xxEntry::GetComPortNumber)) return -1;
    std::int32_t port = -1;
    return api_->GetComPortNumber(ftHandle, &port) == FT_OK ? port : -1;
}

FT_STATUS FTDIDirect::setCBusOutput(FT_HANDLE ftHandle, std::uint8_t dataDirection,
                                    std::uint8_t outputValue) {
    KYVO_REQUIRE(SetBitMode);
    auto mask = static_cast<std::uint8_t>((dataDirection << 4) | (outputValue & 0x0F));
    return api_->SetBitMode(ftHandle, mask, 0x20);
}

FT_STATUS FTDIDirect::getDeviceInfoDetail(std::uint32_t index, tDeviceInfoDetail& d) {
    d.USBVendor = 0;
    d.USBPID = 0;
    d.serial.clear();
    d.description.clear();
    KYVO_REQUIRE(GetDeviceInfoDetail);
    // Room beyond the fields' documented sizes, in case a library writes more.
    char serial[128] = {};
    char description[128] = {};
    std::uint32_t flags = 0, type = 0, id = 0, loc = 0;
    FT_HANDLE handle = nullptr;
    FT_STATUS st =
        api_->GetDeviceInfoDetail(index, &flags, &type, &id, &loc, serial, description, &handle);
    if (st != FT_OK) return st;
    d.flags = flags;
    d.deviceType = type;
    d.locationID = loc;
    d.ftHandle = handle;
    d.USBVendor = static_cast<std::uint16_t>(id >> 16);
    d.USBPID = static_cast<std::uint16_t>(id & 0xFFFF);
    d.serial = boundedText(serial, 64);
    d.description = boundedText(description, 64);
    return st;
}

std::int32_t FTDIDirect::getDevIndexFromHandle(FT_HANDLE ftHandle) const {
    if (!ftHandle) return -1;
    for (std::int32_t i = 0; i < fDeviceCount; ++i) {
        if (list_[static_cast<std::size_t>(i)].ftHandle == ftHandle) return i;
    }
    return -1;
}

FT_STATUS FTDIDirect::listDevices(void* arg1, void* arg2, std::uint32_t flags) {
    KYVO_REQUIRE(ListDevices);
    return api_->ListDevices(arg1, arg2, flags);
}

std::string FTDIDirect::getDeviceTypeStr(std::uint32_t devType) {
    static constexpr const char* kNames[] = {"FT232BM", "FT232AM",    "FT100AX", "unknown",
                                             "FT2232C", "FT232R",     "FT2232H", "FT4232H",
                                             "FT232H",  "FT X-Series"};
    return devType < std::size(kNames) ? kNames[devType] : "";
}

}  // namespace kyvo
