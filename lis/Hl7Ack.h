// Acknowledgements from the LIS: MSH, MSA and optional ERR segments, read
// from bytes nobody vouches for. Every input gives either an
// acknowledgement or an error text; nothing is trusted with an index.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kyvo::lis {

// MSA-1. AA/CA: taken; AE/CE: the receiver found an error in it; AR/CR: the
// receiver refused it (unsupported type, version, processing id, ...).
enum class EAckCode { AA, AE, AR, CA, CE, CR };

struct TAck {
    EAckCode Code = EAckCode::AA;
    std::string AckedControlId;  // MSA-2: MSH-10 of the message acknowledged
    std::string Text;            // MSA-3
    std::string ErrorText;       // what the ERR segments say, "; "-joined
    std::string ControlId;       // MSH-10 of the acknowledgement itself
};

struct TAckParse {
    std::optional<TAck> Ack;
    std::string Error;  // why there is none
};

// message: one message without MLLP framing; segments end with CR (LF and
// CR LF are taken as well). The delimiters are the ones MSH declares.
TAckParse ParseAck(std::string_view message);

std::string_view AckCodeName(EAckCode code);

}  // namespace kyvo::lis
