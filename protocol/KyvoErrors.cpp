#include "protocol/KyvoErrors.h"

#include <array>

namespace kyvo {

namespace {

// One row per code range: first and last code, language entry, English text.
struct tErrorRow {
    std::uint8_t first;
    std::uint8_t last;
    tErrorText text;
};

constexpr std::array kComErrors{
    tErrorRow{0x01, 0x01, {533, "CRC mismatch"}},
    tErrorRow{0x02, 0x02, {525, "Unknown command"}},
    tErrorRow{0x04, 0x04, {534, "Buffer overflow"}},
    tErrorRow{0x05, 0x05, {535, "Not enough memory"}},
    tErrorRow{0x06, 0x06, {536, "Command error"}},
    tErrorRow{0x30, 0x30, {537, "No image data"}},
    tErrorRow{0x31, 0x31, {538, "Invalid flags"}},
    tErrorRow{0x40, 0x40, {539, "Write buffer overflow"}},
    tErrorRow{0x41, 0x41, {540, "Write invalid address"}},
    tErrorRow{0x42, 0x42, {541, "Read invalid location"}},
    tErrorRow{0x43, 0x43, {542, "Read no data"}},
    tErrorRow{0x44, 0x44, {543, "Write memory overflow"}},
    tErrorRow{0x45, 0x45, {544, "Write flash failed"}},
};

// The specific RFID rows come before the range row that catches the rest.
constexpr std::array kKyvoErrors{
    tErrorRow{0x10, 0x10, {545, "Expiry date exceeded"}},
    tErrorRow{0x11, 0x11, {546, "Low battery"}},
    tErrorRow{0x12, 0x15, {547, "Capture error"}},
    tErrorRow{0x16, 0x16, {548, "Nominal position out of range"}},
    tErrorRow{0x17, 0x17, {549, "Search width has to be greater than line width"}},
    tErrorRow{0x1A, 0x1A, {550, "Configuration is invalid"}},
    tErrorRow{0x1C, 0x1C, {611, "The test configuration has the wrong version."}},
    tErrorRow{0x90, 0x90, {611, "The test configuration has the wrong version."}},
    tErrorRow{0x1D, 0x1D, {612, "Aborted by user."}},
    tErrorRow{0x20, 0x20, {595, "Result assignement: an illegal index has been found."}},
    tErrorRow{0x21, 0x21, {596, "Result assignment: an illegal char has been found."}},
    tErrorRow{0x22, 0x22, {597, "Result assignment: an illegal jump operation has been found."}},
    tErrorRow{0x23, 0x23, {598, "Result assignment: an illegal number has been found."}},
    tErrorRow{0x2A, 0x2A, {599, "Result assignment: an expected operand could not be found."}},
    tErrorRow{0x2B, 0x2B, {600, "Result assignment: an illegal jump address has been found."}},
    tErrorRow{0x2C, 0x2C, {601, "Result assignment: an illegal assignment has been found."}},
    tErrorRow{0x2D, 0x2D, {602, "Result assignment: an operand is NaN (Not a Number)."}},
    tErrorRow{0x2E, 0x2E, {603, "Result assignemnt: an infinite loop has been found."}},
    tErrorRow{0x30, 0x30, {604, "RFID Error: time out."}},
    tErrorRow{0x31, 0x31, {605, "RFID Error: status error."}},
    tErrorRow{0x33, 0x33, {606, "RFID Error: collision (more than one tag in range)."}},
    tErrorRow{0x38, 0x38, {607, "RFID Error: nothing received."}},
    tErrorRow{0x3B,
              0x3B,
              {591,
               "The RFID tag has not enough capacity to hold the data. Please use a tag "
               "with more memory."}},
    tErrorRow{0x3C, 0x3C, {609, "RFID Error: authentification failed."}},
    tErrorRow{0x30, 0x3F, {552, "RFID Error"}},
    tErrorRow{0x40, 0x41, {553, "Read error"}},
    tErrorRow{0x50, 0x52, {554, "Load result error"}},
    tErrorRow{0x60, 0x63, {555, "Internal flash write error"}},
    tErrorRow{0x70, 0x70, {610, "RFID Error: write fail."}},
    tErrorRow{0x71, 0x71, {608, "RFID Error: reading of an unencrypted tag is not allowed."}},
    tErrorRow{0x72, 0x72, {592, "The measurement count limitation has been reached."}},
    tErrorRow{0x91, 0x91, {629, "The customer specified in the config is invalid for the device."}},
};

template <std::size_t N>
std::optional<tErrorText> find(const std::array<tErrorRow, N>& table, std::uint8_t code) {
    for (const auto& row : table)
        if (code >= row.first && code <= row.last) return row.text;
    return std::nullopt;
}

std::string textOrEmpty(const std::optional<tErrorText>& t, const tLanguageLookup& lang) {
    return t ? lang(t->langId, t->text) : std::string();
}

}  // namespace

std::optional<tErrorText> comErrorText(std::uint8_t code) {
    return find(kComErrors, code);
}

std::optional<tErrorText> kyvoErrorText(std::uint8_t code) {
    return find(kKyvoErrors, code);
}

bool isRFIDRetryError(std::uint8_t code) {
    return (code >= 0x30 && code <= 0x3A) || (code >= 0x3D && code <= 0x3F);
}

std::string errorCodeHex(std::uint8_t code) {
    constexpr char digits[] = "0123456789ABCDEF";
    return {digits[code >> 4], digits[code & 0x0F]};
}

std::string comErrorMessage(std::uint8_t code, const tLanguageLookup& lang) {
    return lang(langComErrorHeader, "(Comm) Error Code:") + " " + errorCodeHex(code) + "\r\n" +
           textOrEmpty(comErrorText(code), lang);
}

std::string kyvoErrorMessage(std::uint8_t code, const tLanguageLookup& lang) {
    return lang(langKyvoErrorHeader, "(Kyvo) Error Code:") + " 0x" + errorCodeHex(code) + "\r\n" +
           textOrEmpty(kyvoErrorText(code), lang);
}

}  // namespace kyvo
