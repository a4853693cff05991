// The one escaping function of every text that goes into an HL7 v2 message,
// and its inverse for texts read from one (acknowledgements).
//
// The message uses the default delimiters |^~\& and segments end with CR.
// Escaped: | \F\, ^ \S\, & \T\, ~ \R\, \ \E\. Line breaks and every other
// control character (0x00-0x1F, 0x7F) become hex escapes, \X0D\ for CR and
// \X0A\ for LF, so a comment's line breaks arrive byte for byte and never end
// a segment. Hex escapes are allowed in ST, TX and FT fields alike, which
// \.br\ is not. Bytes from 0x80 up (UTF-8) pass unchanged.
#pragma once

#include <string>
#include <string_view>

namespace kyvo::lis {

// The delimiters a message declares in MSH-1 and MSH-2.
struct THl7Delimiters {
    char Field = '|';
    char Component = '^';
    char Repetition = '~';
    char Escape = '\\';
    char Subcomponent = '&';
};

std::string Hl7Escape(std::string_view text);

// The text an escaped field stands for: the five delimiter escapes, hex
// escapes \Xhhhh\ (byte pairs), \.br\ as CR; other escape sequences (highlighting, character
// set switches) are dropped, an unterminated one is kept as it stands.
std::string Hl7Unescape(std::string_view field, const THl7Delimiters& d = {});

}  // namespace kyvo::lis
