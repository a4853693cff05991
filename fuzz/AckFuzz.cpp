// An acknowledgement from the lab information system: read as an ACK, its
// texts escaped and unescaped again. The seeds (corpus/ack) are written by
// hand: answers of the kinds a LIS gives.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzInput.h"
#include "lis/Hl7Ack.h"
#include "lis/Hl7Escape.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kyvo;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const lis::TAckParse p = lis::ParseAck(bytes);
    if (p.Ack) {
        fuzz::keep(p.Ack->AckedControlId);
        fuzz::keep(p.Ack->ErrorText);
        // What we read back from a LIS must survive our own escaping.
        if (lis::Hl7Unescape(lis::Hl7Escape(p.Ack->Text)) != p.Ack->Text) __builtin_trap();
    } else {
        fuzz::keep(p.Error);
    }
    return 0;
}
