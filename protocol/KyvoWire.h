// Every fact of the device's wire protocol, named once: frame markers and
// limits, command codes with their payload bytes and flag bits, the device
// frames with their lengths and whether they close the frame, and the fixed
// places and sizes in device memory. The encoders, the receive state
// machine, the read steps and the tests take them from here.
#pragma once

#include <array>
#include <cstdint>

namespace kyvo {

// ---- framing ----

inline constexpr std::uint8_t kStartMarker = 0xFE;  // sent once, never doubled
inline constexpr std::uint8_t kFrameSpace = 0x20;   // first byte after the marker
// Frame bytes after the start marker: space, code, payload and checksum.
inline constexpr std::int32_t kFrameLimit = 16384;
// Space, code and checksum around the payload.
inline constexpr std::int32_t kFrameOverhead = 3;
// Largest payload one command may carry.
inline constexpr std::int32_t kMaxSendPayload = kFrameLimit - 4;

// ---- commands the program sends ----

enum EWireCommand : std::uint8_t {
    wcGetAcknowledge = 0xAA,
    wcGetFirmwareVersion = 0xA2,
    wcGetSerial = 0xA4,
    wcReadData = 0x52,
    wcWriteData = 0x50,
    wcImage = 0x43,  // getImage and getImageNext
    wcSetDateTime = 0x58,
    wcGetDateTime = 0x5A,
    wcButtonControl = 0xC0,
    wcEvaluate = 0x5E,  // evaluate and abortEvaluation
    wcFormatDB = 0x5F,
    wcCapture = 0x5C,
    wcGetRFIDState = 0x56,
    wcResetKyvo = 0xAF,
    wcRunBootloader = 0xA1,
};

// Payload bytes of each command; writeData has a header and then its data.
struct TWireCommandRule {
    EWireCommand code;
    std::int32_t payload;  // fixed bytes, or the header before variable data
    bool variable;
};

inline constexpr std::array<TWireCommandRule, 15> kWireCommands{{
    {wcGetAcknowledge, 0, false},
    {wcGetFirmwareVersion, 0, false},
    {wcGetSerial, 0, false},
    {wcReadData, 7, false},     // 0x00, address u32, count u16
    {wcWriteData, 7, true},     // flags u8, address u32, count u16, then count bytes
    {wcImage, 5, false},        // mode u8, two u16
    {wcSetDateTime, 6, false},  // the TDateData bytes
    {wcGetDateTime, 0, false},
    {wcButtonControl, 1, false},
    {wcEvaluate, 1, false},
    {wcFormatDB, 1, false},
    {wcCapture, 4, false},  // flags u8, integration time u16, image count u8
    {wcGetRFIDState, 0, false},
    {wcResetKyvo, 0, false},
    {wcRunBootloader, 0, false},
}};

constexpr const TWireCommandRule* wireCommandRule(std::uint8_t code) {
    for (const auto& s : kWireCommands)
        if (s.code == code) return &s;
    return nullptr;
}

// writeData flags.
inline constexpr std::uint8_t kWriteUpdate = 0x01;
inline constexpr std::uint8_t kWriteReset = 0x02;
inline constexpr std::uint8_t kWriteSavePermanent = 0x10;
// The first payload byte of readData.
inline constexpr std::uint8_t kReadDataReserved = 0x00;
// getImage modes: the base, plus one for a cut image, plus two for 16 bits;
// getImageNext: 1 when finished, 0 for the next part.
inline constexpr std::uint8_t kImageModeFirst = 2;
inline constexpr std::uint8_t kImageModeCutted = 1;
inline constexpr std::uint8_t kImageModeFull16bit = 2;
inline constexpr std::uint8_t kImageModeNext = 0;
inline constexpr std::uint8_t kImageModeFinished = 1;
// setButtonControl.
inline constexpr std::uint8_t kButtonDisabled = 0x80;
inline constexpr std::uint8_t kButtonEnabled = 0x00;
// evaluate flags, and the payload that aborts an evaluation.
inline constexpr std::uint8_t kEvaluateFromRFID = 0x01;
inline constexpr std::uint8_t kEvaluateTimer = 0x02;
inline constexpr std::uint8_t kEvaluateAbort = 0x04;
// FormatDB: the results only, or the stored test configurations too.
inline constexpr std::uint8_t kFormatResultsOnly = 0x00;
inline constexpr std::uint8_t kFormatWithConfigs = 0x01;
// capture flags.
inline constexpr std::uint8_t kCaptureCorrectWhite = 0x01;
inline constexpr std::uint8_t kCaptureFiltered = 0x02;
inline constexpr std::uint8_t kCaptureFull16Bit = 0x04;
inline constexpr std::uint8_t kCaptureCutted = 0x08;
inline constexpr std::uint8_t kCaptureGain = 0x10;
// setDateTime and the date-time frame count years from this one.
inline constexpr int kDeviceYearBase = 2000;
// The plain-text command that switches the device off (unframed).
inline constexpr char kShutdownText[] = "shutdown\r";

// ---- frames the device sends ----

enum EDeviceFrame : std::uint8_t {
    dfShowTimer = 0x30,
    dfPlaceWhiteCard = 0x31,
    dfPlaceTestCard = 0x32,
    dfEvaluationRun = 0x33,
    dfImageTransferStart = 0x40,
    dfImageData = 0x42,
    dfCommunicationError = 0x45,
    dfKyvoError = 0x47,
    dfDeviceBusy = 0x49,
    dfWriteSuccess = 0x51,
    dfDataRead = 0x53,
    dfAcknowledge = 0x55,
    dfRFIDStatus = 0x57,
    dfDateTime = 0x59,
    dfFirmwareVersion = 0xA3,
    dfSerial = 0xA5,
    dfStateUpdate = 0xD0,
};

// How a frame's length follows from its bytes.
enum EFrameLength : std::uint8_t {
    flFixed,      // payload bytes as given
    flByteCount,  // a header of payload bytes ending in a u8 count of data bytes
    flWordCount,  // a header ending in a u16 count of data bytes; 0 means 65536
};

struct TDeviceFrameRule {
    EDeviceFrame code;
    EFrameLength length;
    std::int32_t payload;  // fixed payload bytes, or the header's bytes
    // The receive state is reset after the event. A frame that is not reset
    // stays open: bytes after it join it and dispatch it again.
    bool resets;
};

inline constexpr std::array<TDeviceFrameRule, 17> kDeviceFrames{{
    {dfShowTimer, flFixed, 2, false},
    {dfPlaceWhiteCard, flFixed, 0, false},
    {dfPlaceTestCard, flFixed, 0, false},
    {dfEvaluationRun, flFixed, 0, false},
    {dfImageTransferStart, flFixed, 4, true},
    {dfImageData, flWordCount, 7, true},  // mode u8, x u16, y u16, count u16
    {dfCommunicationError, flFixed, 1, true},
    {dfKyvoError, flFixed, 2, true},
    {dfDeviceBusy, flFixed, 4, false},
    {dfWriteSuccess, flFixed, 7, true},
    {dfDataRead, flWordCount, 7, true},  // flags u8, address u32, count u16
    {dfAcknowledge, flFixed, 0, true},
    {dfRFIDStatus, flByteCount, 5, false},  // error u8, tag u8, size u16, count u8
    {dfDateTime, flFixed, 6, true},
    {dfFirmwareVersion, flFixed, 9, true},
    {dfSerial, flFixed, 12, false},
    {dfStateUpdate, flFixed, 2, false},
}};

constexpr const TDeviceFrameRule* deviceFrameRule(std::uint8_t code) {
    for (const auto& s : kDeviceFrames)
        if (s.code == code) return &s;
    return nullptr;
}

// ---- device memory ----

// Requests and writes are cut into blocks of at most this many bytes.
inline constexpr std::uint32_t kBlockSize = 768;

inline constexpr std::uint32_t kConfigurationAddress = 0x00000;
inline constexpr std::uint32_t kDisplayAddress = 0x10000;
inline constexpr std::uint32_t kMeasurementResultAddress = 0x20000;
inline constexpr std::uint32_t kDataMemoryAddress = 0x30000;
inline constexpr std::uint32_t kRFIDAddress = 0x40000;
inline constexpr std::uint32_t kNonVolatileAddress = 0x50000;
inline constexpr std::uint32_t kVolatileAddress = 0x50080;
inline constexpr std::uint32_t kResultMemoryAddress = 0x80000;
inline constexpr std::uint32_t kEEPROMRecordSize = 128;

// The active test configuration; 4096 bytes from layout version 5 with the
// separate result memory.
inline constexpr std::uint32_t kConfigurationSize = 1248;
inline constexpr std::uint32_t kConfigurationSizeSeparate = 4096;
// The last measurement record: up to layout version 4, version 5, from 6.
inline constexpr std::uint32_t kMeasurementResultSizeV4 = 346;
inline constexpr std::uint32_t kMeasurementResultSizeV5 = 356;
inline constexpr std::uint32_t kMeasurementResultSizeV6 = 316;

// Fixed blocks inside the two EEPROM records. Older layouts keep some of
// them elsewhere: the read steps choose by layout version.
struct TMemoryBlock {
    std::uint32_t address;
    std::uint32_t size;
};
// Layout version, serial number and production date.
inline constexpr TMemoryBlock kIdentityBlock{kNonVolatileAddress, 13};
inline constexpr TMemoryBlock kConfigBitsBlock{kVolatileAddress, 4};
inline constexpr TMemoryBlock kConfigBits0Block{0x5007C, 4};
inline constexpr TMemoryBlock kWhiteGainBlock{0x50031, 10};     // version 3 on
inline constexpr TMemoryBlock kWhiteGainBlockOld{0x5002E, 10};  // versions 0-2
// The storage pointers in their three orders.
inline constexpr TMemoryBlock kPointersAllBlock{0x500A2, 24};    // versions 1, 2
inline constexpr TMemoryBlock kPointersAbsBlockV3{0x5009C, 12};  // versions 3, 4
inline constexpr TMemoryBlock kPointersAbsBlock{0x500A0, 12};    // every other version
inline constexpr TMemoryBlock kPointersRelBlockV3{0x500AE, 14};  // versions 3, 4
inline constexpr TMemoryBlock kPointersRelBlock{0x500B2, 14};    // every other version

}  // namespace kyvo
