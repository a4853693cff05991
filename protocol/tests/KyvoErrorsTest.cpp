#include <gtest/gtest.h>

#include <string>

#include "protocol/KyvoErrors.h"

namespace kyvo {
namespace {

// The English texts, each marked with its language entry so a wrong id shows.
std::string tagged(std::uint32_t id, std::string_view english) {
    return std::to_string(id) + ":" + std::string(english);
}

TEST(ErrorTexts, communicationErrorsNameTheirCodeInHex) {
    struct Case {
        std::uint8_t code;
        std::string message;
    };
    const Case cases[] = {
        {0x02, "522:(Comm) Error Code: 02\r\n525:Unknown command"},
        {0x01, "522:(Comm) Error Code: 01\r\n533:CRC mismatch"},
        {0x45, "522:(Comm) Error Code: 45\r\n544:Write flash failed"},
        {0x03, "522:(Comm) Error Code: 03\r\n"},
        {0xAB, "522:(Comm) Error Code: AB\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.code));
        EXPECT_EQ(comErrorMessage(c.code, tagged), c.message);
    }
    EXPECT_FALSE(comErrorText(0x00).has_value());
}

TEST(ErrorTexts, deviceErrorsNameTheirCodeAndRange) {
    struct Case {
        std::uint8_t code;
        std::string message;
    };
    const Case cases[] = {
        {0x1B, "523:(Kyvo) Error Code: 0x1B\r\n"},
        {0x12, "523:(Kyvo) Error Code: 0x12\r\n547:Capture error"},
        {0x15, "523:(Kyvo) Error Code: 0x15\r\n547:Capture error"},
        {0x90, "523:(Kyvo) Error Code: 0x90\r\n611:The test configuration has the wrong version."},
        {0x1C, "523:(Kyvo) Error Code: 0x1C\r\n611:The test configuration has the wrong version."},
        {0x30, "523:(Kyvo) Error Code: 0x30\r\n604:RFID Error: time out."},
        {0x33,
         "523:(Kyvo) Error Code: 0x33\r\n606:RFID Error: collision (more than one tag in range)."},
        {0x34, "523:(Kyvo) Error Code: 0x34\r\n552:RFID Error"},
        {0x3F, "523:(Kyvo) Error Code: 0x3F\r\n552:RFID Error"},
        {0x3C, "523:(Kyvo) Error Code: 0x3C\r\n609:RFID Error: authentification failed."},
        {0x41, "523:(Kyvo) Error Code: 0x41\r\n553:Read error"},
        {0x63, "523:(Kyvo) Error Code: 0x63\r\n555:Internal flash write error"},
        {0x64, "523:(Kyvo) Error Code: 0x64\r\n"},
        {0x91,
         "523:(Kyvo) Error Code: 0x91\r\n629:The customer specified in the config is invalid "
         "for the device."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.code));
        EXPECT_EQ(kyvoErrorMessage(c.code, tagged), c.message);
    }
    EXPECT_FALSE(kyvoErrorText(0x00).has_value());
}

TEST(ErrorTexts, onlyTheRetryableRFIDErrorsAreRetried) {
    // Capacity (0x3B) and authentication (0x3C) failures will not go away
    // by trying again.
    for (std::uint8_t code : {0x30, 0x31, 0x3A, 0x3D, 0x3F}) EXPECT_TRUE(isRFIDRetryError(code));
    for (std::uint8_t code : {0x00, 0x2F, 0x3B, 0x3C, 0x40, 0x70})
        EXPECT_FALSE(isRFIDRetryError(code));
}

TEST(ErrorTexts, hexDigitsAreTwoUpperCase) {
    EXPECT_EQ(errorCodeHex(0x00), "00");
    EXPECT_EQ(errorCodeHex(0x0a), "0A");
    EXPECT_EQ(errorCodeHex(0xfe), "FE");
}

}  // namespace
}  // namespace kyvo
