// The device side's own names for the wire: frame codes, the communication
// error codes it answers with, and the limits of a frame. Kept apart from the
// program's protocol code on purpose, so a mistake there is not mirrored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kyvo::sim::wire {

// Frame codes, device side.
enum : std::uint8_t {
    cAck = 0x55,
    cGetAck = 0xAA,
    cGetFirmware = 0xA2,
    cFirmware = 0xA3,
    cGetSerial = 0xA4,
    cSerial = 0xA5,
    cReadData = 0x52,
    cData = 0x53,
    cWriteData = 0x50,
    cWriteSuccess = 0x51,
    cImage = 0x43,
    cImageStart = 0x40,
    cImageData = 0x42,
    cSetDateTime = 0x58,
    cGetDateTime = 0x5A,
    cDateTime = 0x59,
    cButtonControl = 0xC0,
    cEvaluate = 0x5E,
    cFormatDB = 0x5F,
    cCapture = 0x5C,
    cGetRFIDState = 0x56,
    cRFIDStatus = 0x57,
    cReset = 0xAF,
    cBootloader = 0xA1,
    cShowTimer = 0x30,
    cWhiteCard = 0x31,
    cTestCard = 0x32,
    cEvaluationRun = 0x33,
    cCommError = 0x45,
    cDeviceError = 0x47,
    cBusy = 0x49,
};

// Communication error codes the device answers with.
enum : std::uint8_t {
    ceCrc = 0x01,
    ceUnknownCommand = 0x02,
    ceBufferOverflow = 0x04,
    ceCommandError = 0x06,
    ceNoImageData = 0x30,
    ceInvalidFlags = 0x31,
    ceWriteInvalidAddress = 0x41,
    ceReadInvalidLocation = 0x42,
    ceReadNoData = 0x43,
    ceWriteMemoryOverflow = 0x44,
};

inline constexpr std::uint32_t kMaxReplyData = 16384 - 3 - 7;  // the program's receive limit
inline constexpr std::uint32_t kMaxWriteData = 16380 - 7;
inline constexpr std::uint64_t kInterByteTimeoutMs = 500;
// Waits longer than this get busy notices, so the program keeps waiting.
inline constexpr std::uint32_t kLongWaitMs = 4000;

// Payload length after the code for the fixed-size commands; the write
// command adds its data count to its 7 header bytes.
inline std::optional<std::size_t> payloadLength(std::uint8_t code) {
    switch (code) {
        case cGetAck:
        case cGetFirmware:
        case cGetSerial:
        case cGetDateTime:
        case cGetRFIDState:
        case cReset:
        case cBootloader:
            return 0;
        case cReadData:
        case cWriteData:
            return 7;
        case cImage:
            return 5;
        case cSetDateTime:
            return 6;
        case cButtonControl:
        case cEvaluate:
        case cFormatDB:
            return 1;
        case cCapture:
            return 4;
        default:
            return std::nullopt;
    }
}

}  // namespace kyvo::sim::wire
