// A D2XX stand-in with the library's entry-point names and calling
// convention, driven by the link tests through its control block. It
// deliberately lacks FT_ListDevices, FT_GetComPortNumber and the EEPROM
// functions, so the binding's missing-entry handling is exercised.
#include "link/tests/fake_d2xx/FakeD2xx.h"

#include <algorithm>
#include <cstring>

using kyvo::FT_HANDLE;
using kyvo::FT_STATUS;

namespace {
FakeD2xxState state;
int handleCell;
FT_HANDLE theHandle() {
    return &handleCell;
}
bool valid(FT_HANDLE h) {
    return h == theHandle();
}
}  // namespace

extern "C" {

__attribute__((visibility("default"))) FakeD2xxState* FakeD2xx_State() {
    return &state;
}

__attribute__((visibility("default"))) FT_STATUS FT_CreateDeviceInfoList(std::uint32_t* n) {
    ++state.createCalls;
    if (state.notReadyAnswers != 0) {
        if (state.notReadyAnswers > 0) --state.notReadyAnswers;
        *n = 0;
        return kyvo::FT_DEVICE_LIST_NOT_READY;
    }
    *n = state.count;
    return kyvo::FT_OK;
}

__attribute__((visibility("default"))) FT_STATUS FT_GetDeviceInfoList(
    kyvo::tFT_device_list_info_node* list, std::uint32_t* n) {
    std::uint32_t count = std::min<std::uint32_t>(state.count, 4);
    std::memcpy(list, state.devices, count * sizeof(kyvo::tFT_device_list_info_node));
    *n = count;
    return kyvo::FT_OK;
}

__attribute__((visibility("default"))) FT_STATUS FT_OpenEx(void* arg, std::uint32_t flags,
                                                           FT_HANDLE* h) {
    ++state.openCalls;
    state.lastOpenFlags = flags;
    *h = nullptr;
    if (state.openStatus) return state.openStatus;
    if (flags == kyvo::FT_OPEN_BY_LOCATION) {
        state.lastOpenLocation = reinterpret_cast<std::uintptr_t>(arg);
        if (state.failOpenByLocation) return kyvo::FT_DEVICE_NOT_FOUND;
    } else if (flags == kyvo::FT_OPEN_BY_SERIAL_NUMBER) {
        std::strncpy(state.lastOpenSerial, static_cast<const char*>(arg),
                     sizeof state.lastOpenSerial - 1);
    }
    *h = theHandle();
    return kyvo::FT_OK;
}

__attribute__((visibility("default"))) FT_STATUS FT_Close(FT_HANDLE h) {
    if (!valid(h)) return kyvo::FT_INVALID_HANDLE;
    ++state.closes;
    return kyvo::FT_OK;
}

__attribute__((visibility("default"))) FT_STATUS FT_SetBaudRate(FT_HANDLE, std::uint32_t baud) {
    state.baud = baud;
    return state.baudStatus;
}

__attribute__((visibility("default"))) FT_STATUS FT_Purge(FT_HANDLE, std::uint32_t mask) {
    if (state.purgeCount < 8) state.purgeMasks[state.purgeCount] = mask;
    ++state.purgeCount;
    return kyvo::FT_OK;
}

__attribute__((visibility("default"))) FT_STATUS FT_SetDataCharacteristics(FT_HANDLE,
                                                                           std::uint8_t w,
                                                                           std::uint8_t s,
                                                                           std::uint8_t p) {
    ++state.dataCharacteristicsCalls;
    state.wordLength = w;
    state.stopBits = s;
    state.parity = p;
    return kyvo::FT_OK;
}

__attribute__((visibility("default"))) FT_STATUS FT_GetQueueStatus(FT_HANDLE, std::uint32_t* rx) {
    *rx = state.rxLen - state.rxPos;
    return kyvo::FT_OK;
}

__attribute__((visibility("default"))) FT_STATUS FT_Read(FT_HANDLE, void* buf, std::uint32_t n,
                                                         std::uint32_t* got) {
    *got = 0;
    if (state.readStatus) return state.readStatus;
    std::uint32_t take = std::min(n, state.rxLen - state.rxPos);
    std::memcpy(buf, state.rx + state.rxPos, take);
    state.rxPos += take;
    *got = take;
    return kyvo::FT_OK;
}

__attribute__((visibility("default"))) FT_STATUS FT_Write(FT_HANDLE, const void* buf,
                                                          std::uint32_t n, std::uint32_t* put) {
    std::uint32_t take = state.writeLimit ? std::min(n, state.writeLimit) : n;
    take = std::min<std::uint32_t>(take, sizeof state.tx - state.txLen);
    std::memcpy(state.tx + state.txLen, buf, take);
    state.txLen += take;
    *put = take;
    return state.writeStatus;
}

__attribute__((visibility("default"))) FT_STATUS FT_SetDtr(FT_HANDLE) {
    state.dtr = 1;
    return kyvo::FT_OK;
}
__attribute__((visibility("default"))) FT_STATUS FT_ClrDtr(FT_HANDLE) {
    state.dtr = 0;
    return kyvo::FT_OK;
}
__attribute__((visibility("default"))) FT_STATUS FT_SetRts(FT_HANDLE) {
    state.rts = 1;
    return kyvo::FT_OK;
}
__attribute__((visibility("default"))) FT_STATUS FT_ClrRts(FT_HANDLE) {
    state.rts = 0;
    return kyvo::FT_OK;
}
__attribute__((visibility("default"))) FT_STATUS FT_ResetDevice(FT_HANDLE) {
    ++state.resets;
    return kyvo::FT_OK;
}
__attribute__((visibility("default"))) FT_STATUS FT_GetStatus(FT_HANDLE, std::uint32_t* rx,
                                                              std::uint32_t* tx,
                                                              std::uint32_t* ev) {
    *rx = state.rxLen - state.rxPos;
    *tx = 0;
    *ev = 0;
    return kyvo::FT_OK;
}
__attribute__((visibility("default"))) FT_STATUS FT_SetBitMode(FT_HANDLE, std::uint8_t mask,
                                                               std::uint8_t mode) {
    state.bitMask = mask;
    state.bitMode = mode;
    return kyvo::FT_OK;
}
__attribute__((visibility("default"))) FT_STATUS FT_SetTimeouts(FT_HANDLE, std::uint32_t r,
                                                                std::uint32_t w) {
    state.readTimeout = r;
    state.writeTimeout = w;
    return kyvo::FT_OK;
}
__attribute__((visibility("default"))) FT_STATUS FT_GetDeviceInfoDetail(
    std::uint32_t index, std::uint32_t* flags, std::uint32_t* type, std::uint32_t* id,
    std::uint32_t* loc, void* serial, void* description, FT_HANDLE* h) {
    if (index >= std::min<std::uint32_t>(state.count, 4)) return kyvo::FT_DEVICE_NOT_FOUND;
    const auto& d = state.devices[index];
    *flags = d.flags;
    *type = d.dType;
    *id = d.id;
    *loc = d.locId;
    std::memcpy(serial, d.serial, sizeof d.serial);
    std::memcpy(description, d.description, sizeof d.description);
    *h = d.ftHandle;
    return kyvo::FT_OK;
}

}  // extern "C"
