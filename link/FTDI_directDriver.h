// The binding to the FTDI D2XX driver interface. The vendor's library is
// loaded at run time and bound by entry-point name; where it is absent a
// built-in provider serves the same entry points over the kernel's ftdi_sio
// ports, so FTDI mode, the device list and automatic connection also work on
// a stock system. A missing library or entry point never raises: 511 and 510.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kyvo {

using FT_HANDLE = void*;
using FT_STATUS = std::uint32_t;

constexpr FT_STATUS FT_OK = 0;
constexpr FT_STATUS FT_INVALID_HANDLE = 1;
constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
constexpr FT_STATUS FT_IO_ERROR = 4;
constexpr FT_STATUS FT_INVALID_PARAMETER = 6;
constexpr FT_STATUS FT_NOT_SUPPORTED = 17;
constexpr FT_STATUS FT_DEVICE_LIST_NOT_READY = 19;
// The binding's own codes.
constexpr FT_STATUS FTDI_INVALID_STOP_BITS = 506;
constexpr FT_STATUS FTDI_INVALID_WORD_SIZE = 507;
constexpr FT_STATUS FTDI_NO_VALID_DEVICE = 508;
constexpr FT_STATUS FTDI_FUNCTION_MISSING = 510;
constexpr FT_STATUS FTDI_LIBRARY_NOT_LOADED = 511;
// The built-in provider's own: the user may not open the cable's tty.
constexpr FT_STATUS FTDI_PORT_NOT_PERMITTED = 512;

constexpr std::uint32_t FT_OPEN_BY_SERIAL_NUMBER = 1;
constexpr std::uint32_t FT_OPEN_BY_DESCRIPTION = 2;
constexpr std::uint32_t FT_OPEN_BY_LOCATION = 4;
constexpr std::uint32_t FT_FLAGS_OPENED = 1;
constexpr std::uint32_t FT_FLAGS_HISPEED = 2;

enum eFT_deviceType : std::uint32_t {
    FT_DEVICE_232BM = 0,
    FT_DEVICE_232AM = 1,
    FT_DEVICE_100AX = 2,
    FT_DEVICE_UNKNOWN = 3,
    FT_DEVICE_2232C = 4,
    FT_DEVICE_232R = 5,
    FT_DEVICE_2232H = 6,
    FT_DEVICE_4232H = 7,
    FT_DEVICE_232H = 8,
    FT_DEVICE_X_SERIES = 9
};

// The library's device-list node, byte for byte (the handle is a pointer).
struct tFT_device_list_info_node {
    std::uint32_t flags;
    std::uint32_t dType;
    std::uint32_t id;  // vendor << 16 | product
    std::uint32_t locId;
    char serial[16];
    char description[64];
    FT_HANDLE ftHandle;
};
static_assert(sizeof(void*) != 8 || sizeof(tFT_device_list_info_node) == 104);

// Texts of a node up to the first NUL, never beyond the field.
std::string nodeSerial(const tFT_device_list_info_node& node);
std::string nodeDescription(const tFT_device_list_info_node& node);

struct tDeviceInfoDetail {
    std::uint32_t flags = 0;
    std::uint32_t deviceType = 0;
    std::uint32_t locationID = 0;
    std::uint16_t USBVendor = 0;
    std::uint16_t USBPID = 0;
    std::string serial;
    std::string description;
    FT_HANDLE ftHandle = nullptr;
};

// The entry points, one per D2XX function the program binds.
enum class D2xxEntry {
    CreateDeviceInfoList,
    GetDeviceInfoList,
    OpenEx,
    Close,
    SetBaudRate,
    Purge,
    SetDataCharacteristics,
    GetQueueStatus,
    Read,
    Write,
    SetDtr,
    ClrDtr,
    SetRts,
    ClrRts,
    ResetDevice,
    GetStatus,
    EE_Read,
    EE_Program,
    EraseEE,
    GetComPortNumber,
    SetBitMode,
    GetBitMode,
    SetTimeouts,
    EEPROM_Read,
    EEPROM_Program,
    GetDeviceInfoDetail,
    ListDevices,
    Count_
};
// The library's symbol name of an entry point.
const char* d2xxSymbolName(D2xxEntry e);

// The D2XX functions as the binding calls them. Arguments are those of the
// library functions of the same names.
class ID2xxApi {
  public:
    virtual ~ID2xxApi() = default;
    virtual bool has(D2xxEntry e) const = 0;
    virtual FT_STATUS CreateDeviceInfoList(std::uint32_t* numDevs) = 0;
    virtual FT_STATUS GetDeviceInfoList(tFT_device_list_info_node* list,
                                        std::uint32_t* numDevs) = 0;
    virtual FT_STATUS OpenEx(void* arg, std::uint32_t flags, FT_HANDLE* handle) = 0;
    virtual FT_STATUS Close(FT_HANDLE h) = 0;
    virtual FT_STATUS SetBaudRate(FT_HANDLE h, std::uint32_t baud) = 0;
    virtual FT_STATUS Purge(FT_HANDLE h, std::uint32_t mask) = 0;
    virtual FT_STATUS SetDataCharacteristics(FT_HANDLE h, std::uint8_t wordLength,
                                             std::uint8_t stopBits, std::uint8_t parity) = 0;
    virtual FT_STATUS GetQueueStatus(FT_HANDLE h, std::uint32_t* rxBytes) = 0;
    virtual FT_STATUS Read(FT_HANDLE h, void* buf, std::uint32_t toRead,
                           std::uint32_t* returned) = 0;
    virtual FT_STATUS Write(FT_HANDLE h, const void* buf, std::uint32_t toWrite,
                            std::uint32_t* written) = 0;
    virtual FT_STATUS SetDtr(FT_HANDLE h) = 0;
    virtual FT_STATUS ClrDtr(FT_HANDLE h) = 0;
    virtual FT_STATUS SetRts(FT_HANDLE h) = 0;
    virtual FT_STATUS ClrRts(FT_HANDLE h) = 0;
    virtual FT_STATUS ResetDevice(FT_HANDLE h) = 0;
    virtual FT_STATUS GetStatus(FT_HANDLE h, std::uint32_t* rxBytes, std::uint32_t* txBytes,
                                std::uint32_t* events) = 0;
    virtual FT_STATUS GetComPortNumber(FT_HANDLE h, std::int32_t* port) = 0;
    virtual FT_STATUS SetBitMode(FT_HANDLE h, std::uint8_t mask, std::uint8_t mode) = 0;
    virtual FT_STATUS SetTimeouts(FT_HANDLE h, std::uint32_t readMs, std::uint32_t writeMs) = 0;
    virtual FT_STATUS GetDeviceInfoDetail(std::uint32_t index, std::uint32_t* flags,
                                          std::uint32_t* type, std::uint32_t* id,
                                          std::uint32_t* locId, char* serial, char* description,
                                          FT_HANDLE* handle) = 0;
    virtual FT_STATUS ListDevices(void* arg1, void* arg2, std::uint32_t flags) = 0;
};

// Loads a D2XX shared library and binds its entry points by name; null when
// the library cannot be loaded.
std::unique_ptr<ID2xxApi> loadD2xxLibrary(const std::string& path);

class FTDIDirect {
  public:
    // The vendor's libftd2xx.so when it loads, else the built-in provider over
    // the system's ftdi_sio ports.
    FTDIDirect();
    // A given API; null means no library (every call fails with 510/511).
    explicit FTDIDirect(std::unique_ptr<ID2xxApi> api);
    ~FTDIDirect();
    FTDIDirect(const FTDIDirect&) = delete;
    FTDIDirect& operator=(const FTDIDirect&) = delete;

    bool isValid() const { return api_ != nullptr; }
    std::int32_t deviceCount() const { return fDeviceCount; }
    const std::vector<tFT_device_list_info_node>& deviceInfoList() const { return list_; }

    // Rebuilds the device list, repeating the count while the driver answers
    // that the list is not ready, for at most timeOut ms. A failure empties it.
    FT_STATUS updateDeviceList(std::uint32_t timeOut);
    // Opens by list index (or by location id with indexAsLocID); falls back to
    // the entry's serial number when opening by location fails. ftHandle is
    // null after a failure; 508 for an index outside the list.
    FT_STATUS openEx(std::int32_t index, FT_HANDLE& ftHandle, bool indexAsLocID);
    FT_STATUS close(FT_HANDLE ftHandle);
    FT_STATUS setBaudrate(FT_HANDLE ftHandle, std::uint32_t baudrate);
    // mask: 1 receive, 2 transmit.
    FT_STATUS purge(FT_HANDLE ftHandle, std::uint8_t mask);
    FT_STATUS setDataCharacteristics(FT_HANDLE ftHandle, std::uint8_t wordLength,
                                     std::uint8_t stopBits, std::uint8_t parity);
    // Bytes waiting in the driver; 0 when unknown.
    std::uint32_t getRxAvailable(FT_HANDLE ftHandle);
    // Reads at most len of the bytes waiting now; len becomes the bytes read.
    FT_STATUS read(FT_HANDLE ftHandle, std::uint8_t* buffer, std::uint32_t maxRead,
                   std::uint32_t& len);
    FT_STATUS write(FT_HANDLE ftHandle, const std::uint8_t* buffer, std::uint32_t maxLen,
                    std::uint32_t& len);
    FT_STATUS setDTR(FT_HANDLE ftHandle, bool enable);
    FT_STATUS setRTS(FT_HANDLE ftHandle, bool enable);
    FT_STATUS reset(FT_HANDLE ftHandle);
    // Bytes waiting in the driver's transmit queue; 0 when unknown.
    std::uint32_t getTxInQueue(FT_HANDLE ftHandle);
    FT_STATUS setTimeOuts(FT_HANDLE ftHandle, std::uint32_t readTimeOut,
                          std::uint32_t writeTimeOut);
    // -1 on any failure.
    std::int32_t getComPortNumber(FT_HANDLE ftHandle);
    // CBUS bit-bang: mask = dataDirection << 4 | (outputValue & 0x0F).
    FT_STATUS setCBusOutput(FT_HANDLE ftHandle, std::uint8_t dataDirection,
                            std::uint8_t outputValue);
    FT_STATUS getDeviceInfoDetail(std::uint32_t index, tDeviceInfoDetail& deviceInfoDetail);
    std::int32_t getDevIndexFromHandle(FT_HANDLE ftHandle) const;
    FT_STATUS listDevices(void* arg1, void* arg2, std::uint32_t flags);

    static std::string getDeviceTypeStr(std::uint32_t devType);

  private:
    std::unique_ptr<ID2xxApi> api_;
    std::int32_t fDeviceCount = 0;
    std::vector<tFT_device_list_info_node> list_;
};

}  // namespace kyvo
