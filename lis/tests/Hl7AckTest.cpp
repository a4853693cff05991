#include <gtest/gtest.h>

#include <string>

#include "lis/Hl7Ack.h"

namespace kyvo::lis {
namespace {

const std::string kMsh =
    "MSH|^~\\&|LABSYS|LAB|KyvoDataReader||20261211140001+0100||ACK^R01^ACK|A-1|P|2.5.1\r";

TEST(Hl7Ack, TableOfAcknowledgements) {
    const struct {
        const char* name;
        std::string message;
        EAckCode code;
        const char* acked;
        const char* text;
        const char* errorText;
    } cases[] = {
        {"AA", kMsh + "MSA|AA|KDR-42-1\r", EAckCode::AA, "KDR-42-1", "", ""},
        {"AE with text and a 2.5 ERR",
         kMsh + "MSA|AE|KDR-42-1|Unknown test \\F\\ code\rERR||OBX^1^3|"
                "103^Table value not found^HL70357|E||||Test code "
                "CRP\\S\\x is not known\r",
         EAckCode::AE, "KDR-42-1", "Unknown test | code", "Test code CRP^x is not known"},
        {"AR with an ERR of 2.3",
         kMsh + "MSA|AR|KDR-42-1\rERR|MSH^1^12^203&Unsupported version id&HL70357\r", EAckCode::AR,
         "KDR-42-1", "", "Unsupported version id"},
        {"two ERR segments", kMsh + "MSA|AE|KDR-1-1\rERR||||E||||first\rERR||||E||||second\r",
         EAckCode::AE, "KDR-1-1", "", "first; second"},
        {"CA, LF line ends", "MSH|^~\\&|L||K||x||ACK|B|P|2.5.1\nMSA|CA|KDR-2-1\n", EAckCode::CA,
         "KDR-2-1", "", ""},
        {"CE", kMsh + "MSA|CE|KDR-2-1|busy\r", EAckCode::CE, "KDR-2-1", "busy", ""},
        {"CR without final CR", kMsh + "MSA|CR|KDR-2-1", EAckCode::CR, "KDR-2-1", "", ""},
        {"other delimiters", "MSH#$*@%#L##K##x##ACK#B#P#2.5.1\rMSA#AE#KDR-3-1$ignored#a @F@ b*r\r",
         EAckCode::AE, "KDR-3-1", "a # b", ""},
    };
    for (const auto& c : cases) {
        const TAckParse p = ParseAck(c.message);
        ASSERT_TRUE(p.Ack) << c.name << ": " << p.Error;
        EXPECT_EQ(p.Ack->Code, c.code) << c.name;
        EXPECT_EQ(p.Ack->AckedControlId, c.acked) << c.name;
        EXPECT_EQ(p.Ack->Text, c.text) << c.name;
        EXPECT_EQ(p.Ack->ErrorText, c.errorText) << c.name;
    }
    EXPECT_EQ(ParseAck(kMsh + "MSA|AA|X\r").Ack->ControlId, "A-1");
}

TEST(Hl7Ack, WrongMsa2IsReadAsItStandsForTheCallerToReject) {
    const TAckParse p = ParseAck(kMsh + "MSA|AA|KDR-99-1\r");
    ASSERT_TRUE(p.Ack);
    EXPECT_EQ(p.Ack->AckedControlId, "KDR-99-1");
}

TEST(Hl7Ack, GarbageGivesAnErrorNeverAnAcknowledgement) {
    const std::string cases[] = {
        "",
        "MSH",
        "MSH|",
        "MSH|^~",
        "hello world, this is no HL7",
        "\x0bMSH|^~\\&|x\r\x1c\r",                  // still framed
        kMsh,                                       // no MSA
        kMsh + "MSA|OK|KDR-1-1\r",                  // no acknowledgement code
        kMsh + "MSA|AA\r",                          // MSA-2 missing
        kMsh + "MSA|AA|\r",                         // MSA-2 empty
        kMsh + "MSA|AA|KDR-1-1\rMSA|AE|KDR-1-1\r",  // two MSA
        kMsh + "MSA|AA|KDR-1-1\r" + kMsh,           // two messages
        "MSH||||\rMSA|AA|KDR-1-1\r",                // a delimiter twice
        "MSHA^~\\&|x\rMSA|AA|KDR-1-1\r",            // letter as field separator
        std::string("MSH|^~\\&\0\r", 10) + "MSA|AA|K\r",
        "PID|1||x\rMSA|AA|KDR-1-1\r",  // does not start with MSH
    };
    for (const auto& c : cases) {
        const TAckParse p = ParseAck(c);
        EXPECT_FALSE(p.Ack) << "accepted: " << c;
        EXPECT_FALSE(p.Error.empty()) << c;
    }
}

}  // namespace
}  // namespace kyvo::lis
