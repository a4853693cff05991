// An answer from the lab information system as it comes off the line: the
// MLLP frames cut out of the bytes (in two pieces, split where the input
// says), each read as an acknowledgement; then the same bytes as one
// unframed message. The seeds (corpus/ack) are written by hand: answers of
// the kinds a LIS gives, framed and unframed.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzInput.h"
#include "lis/Hl7Ack.h"
#include "lis/Hl7Escape.h"
#include "lis/Mllp.h"

namespace {

void readAck(std::string_view message) {
    using namespace kyvo;
    const lis::TAckParse p = lis::ParseAck(message);
    if (p.Ack) {
        fuzz::keep(p.Ack->AckedControlId);
        fuzz::keep(p.Ack->ErrorText);
        // What we read back from a LIS must survive our own escaping.
        if (lis::Hl7Unescape(lis::Hl7Escape(p.Ack->Text)) != p.Ack->Text) __builtin_trap();
    } else {
        fuzz::keep(p.Error);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kyvo;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = size ? data[0] % (size + 1) : 0;
    lis::TMllpDeframer deframer(512);
    deframer.Feed(bytes.substr(0, cut));
    deframer.Feed(bytes.substr(cut));
    while (auto frame = deframer.Next()) {
        if (frame->size() > 512) __builtin_trap();
        readAck(*frame);
    }
    readAck(bytes);
    return 0;
}
