#pragma once

// Text of key files, result files and logs: inside the program UTF-8, on disk
// whatever the file brings when reading and always UTF-16 LE with BOM and
// CR LF when writing, so that files stay interchangeable with the Windows
// program.

#include <string>
#include <string_view>
#include <vector>

namespace kyvo {

// Decodes the whole content of a text file to UTF-8. A UTF-8 (EF BB BF),
// UTF-16 LE (FF FE) or UTF-16 BE (FE FF) byte-order mark selects that
// encoding and is dropped; without one, well-formed UTF-8 is taken as it is
// and anything else is read as Windows-1252. Broken
// sequences (bad UTF-8, lone surrogates, an odd trailing byte) become U+FFFD;
// nothing is ever dropped silently.
std::string decodeText(std::string_view bytes);

// Splits text at CR LF, a lone CR or a lone LF. A terminator at the very end
// does not start another line; empty text gives no lines.
std::vector<std::string> splitLines(std::string_view text);

// splitLines without copies: views into text.
std::vector<std::string_view> splitLineViews(std::string_view text);

// decodeText followed by splitLines.
std::vector<std::string> decodeTextLines(std::string_view bytes);

// The file bytes of the given lines: BOM FF FE, then every line in UTF-16 LE
// followed by CR LF, the last one included.
std::string encodeTextLines(const std::vector<std::string>& lines);
std::string encodeTextLineViews(const std::vector<std::string_view>& lines);

// Code-unit conversions. Invalid input becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view utf16);
std::string windows1252ToUtf8(std::string_view bytes);

// Appends the UTF-8 form of one code point (U+FFFD for surrogates and values
// beyond U+10FFFF).
void appendUtf8(std::string& out, char32_t codePoint);

// Splits UTF-8 into code points (U+FFFD for every broken sequence).
std::u32string utf8ToCodePoints(std::string_view utf8);

}  // namespace kyvo
