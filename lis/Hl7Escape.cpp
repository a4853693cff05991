#include "lis/Hl7Escape.h"

namespace kyvo::lis {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string Hl7Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '|':
                out += "\\F\\";
                break;
            case '^':
                out += "\\S\\";
                break;
            case '&':
                out += "\\T\\";
                break;
            case '~':
                out += "\\R\\";
                break;
            case '\\':
                out += "\\E\\";
                break;
            default:
                if (u < 0x20 || u == 0x7F) {
                    out += "\\X";
                    out += kHex[u >> 4];
                    out += kHex[u & 0x0F];
                    out += '\\';
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string Hl7Unescape(std::string_view field, const THl7Delimiters& d) {
    std::string out;
    out.reserve(field.size());
    std::size_t i = 0;
    while (i < field.size()) {
        if (field[i] != d.Escape) {
            out += field[i++];
            continue;
        }
        const std::size_t end = field.find(d.Escape, i + 1);
        if (end == std::string_view::npos) {
            out.append(field.substr(i));
            break;
        }
        const std::string_view seq = field.substr(i + 1, end - i - 1);
        i = end + 1;
        if (seq == "F")
            out += d.Field;
        else if (seq == "S")
            out += d.Component;
        else if (seq == "T")
            out += d.Subcomponent;
        else if (seq == "R")
            out += d.Repetition;
        else if (seq == "E")
            out += d.Escape;
        else if (seq == ".br")
            out += '\r';
        else if (!seq.empty() && (seq[0] == 'X' || seq[0] == 'x') && seq.size() % 2 == 1) {
            std::string bytes;
            bool ok = true;
            for (std::size_t k = 1; k + 1 < seq.size() && ok; k += 2) {
                const int hi = hexDigit(seq[k]);
                const int lo = hexDigit(seq[k + 1]);
                ok = hi >= 0 && lo >= 0;
                if (ok) bytes += static_cast<char>(hi << 4 | lo);
            }
            if (ok) out += bytes;
        }
    }
    return out;
}

}  // namespace kyvo::lis
