// The error codes the device reports and the texts that name them. The
// protocol object passes every code through unchanged; the enumerators name
// the codes that have a meaning, any other byte value is carried as well.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kyvo {

// Communication errors (frame 0x45): the device rejected or could not carry
// out a frame.
enum eComError : std::uint8_t {
    ceNoError = 0x00,
    ceCRCMismatch = 0x01,
    ceUnknownCommand = 0x02,
    ceBufferOverflow = 0x04,
    ceNotEnoughMemory = 0x05,
    ceCommandError = 0x06,
    ceNoImageData = 0x30,
    ceInvalidFlags = 0x31,
    ceWriteBufferOverflow = 0x40,
    ceWriteInvalidAddress = 0x41,
    ceReadInvalidLocation = 0x42,
    ceReadNoData = 0x43,
    ceWriteMemoryOverflow = 0x44,
    ceWriteFlashFailed = 0x45,
};

// Device errors (frame 0x47, and the RFID status frame 0x57): a capture,
// evaluation, RFID or memory operation failed.
enum eKyvoError : std::uint8_t {
    keNoError = 0x00,
    keExpiryDateExceeded = 0x10,
    keLowBattery = 0x11,
    keCaptureError = 0x12,  // 0x12-0x15
    keCaptureErrorLast = 0x15,
    keNominalPositionOutOfRange = 0x16,
    keSearchWidthTooSmall = 0x17,
    keConfigurationInvalid = 0x1A,
    keConfigurationWrongVersion = 0x1C,
    keAbortedByUser = 0x1D,
    keResultIllegalIndex = 0x20,
    keResultIllegalChar = 0x21,
    keResultIllegalJump = 0x22,
    keResultIllegalNumber = 0x23,
    keResultMissingOperand = 0x2A,
    keResultIllegalJumpAddress = 0x2B,
    keResultIllegalAssignment = 0x2C,
    keResultOperandNaN = 0x2D,
    keResultInfiniteLoop = 0x2E,
    keRFIDTimeOut = 0x30,  // 0x30-0x3F: RFID errors
    keRFIDStatusError = 0x31,
    keRFIDCollision = 0x33,
    keRFIDNothingReceived = 0x38,
    keRFIDNotEnoughCapacity = 0x3B,
    keRFIDAuthenticationFailed = 0x3C,
    keReadError = 0x40,        // 0x40-0x41
    keLoadResultError = 0x50,  // 0x50-0x52
    keFlashWriteError = 0x60,  // 0x60-0x63
    keRFIDWriteFail = 0x70,
    keRFIDUnencryptedTag = 0x71,
    keMeasurementCountLimit = 0x72,
    keConfigurationWrongVersion2 = 0x90,
    keCustomerInvalid = 0x91,
};

// A code's text: the language entry that names it and its English text.
struct tErrorText {
    std::uint32_t langId;
    std::string_view text;
};

// Language entries of the two header lines.
inline constexpr std::uint32_t langComErrorHeader = 522;   // "(Comm) Error Code:"
inline constexpr std::uint32_t langKyvoErrorHeader = 523;  // "(Kyvo) Error Code:"

// The text of a communication error code; none for 0 and unlisted codes.
std::optional<tErrorText> comErrorText(std::uint8_t code);
// The text of a device error code as shown when no RFID retry is pending;
// none for 0 and unlisted codes.
std::optional<tErrorText> kyvoErrorText(std::uint8_t code);
// RFID errors that a measurement from a tag may retry silently
// (0x30-0x3A, 0x3D-0x3F).
bool isRFIDRetryError(std::uint8_t code);

// Two upper-case hexadecimal digits: "1B".
std::string errorCodeHex(std::uint8_t code);

// Looks up a language entry by id, with the English text as default.
using tLanguageLookup = std::function<std::string(std::uint32_t id, std::string_view english)>;

// "<entry 522> <hex>\r\n<code text>" (the code text is empty when unlisted).
std::string comErrorMessage(std::uint8_t code, const tLanguageLookup& lang);
// "<entry 523> 0x<hex>\r\n<code text>".
std::string kyvoErrorMessage(std::uint8_t code, const tLanguageLookup& lang);

}  // namespace kyvo
