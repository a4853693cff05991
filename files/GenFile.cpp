#include "files/GenFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "files/AtomicFile.h"
#include "files/TextCodec.h"

namespace kyvo {

namespace {

class StderrReporter : public IFileErrorReporter {
  public:
    void ShowFileError(const std::string& text, const std::string& caption) override {
        std::cerr << caption << ": " << text << '\n';
    }
};

// Simple case folding for head names: ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic, which covers the language names a file may hold.
char32_t foldCase(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    if (c == 0x178) return 0xFF;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
        c != 0x17F) {
        const bool oddLower = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddLower) return (c % 2 == 1) ? c + 1 : c;
        return (c % 2 == 0) ? c + 1 : c;
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
}

// The folding above keeps the UTF-8 length of every character, so texts of
// different byte lengths never match.
bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    const std::u32string ca = utf8ToCodePoints(a);
    const std::u32string cb = utf8ToCodePoints(b);
    if (ca.size() != cb.size()) return false;
    for (std::size_t i = 0; i < ca.size(); ++i)
        if (foldCase(ca[i]) != foldCase(cb[i])) return false;
    return true;
}

}  // namespace

IFileErrorReporter& stderrFileErrorReporter() {
    static StderrReporter reporter;
    return reporter;
}

TGenFile::TGenFile(const std::string& FileName, bool saveImmediate, bool ROnly,
                   IFileErrorReporter* reporter)
    : reporter_(reporter ? *reporter : stderrFileErrorReporter()) {
    OpenFile(FileName, saveImmediate, ROnly);
}

TGenFile::~TGenFile() {
    save();
}

void TGenFile::reload() {
    OpenFile(Filename, SaveImmediate, ReadOnly);
}

void TGenFile::OpenFile(const std::string& FileName, bool saveImmediate, bool readOnly) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(FileName, ec);
    Filename = ec ? FileName : full.lexically_normal().string();
    Lines.clear();
    ReadOnly = readOnly;
    SaveImmediate = saveImmediate;
    FileValid = false;

    std::string bytes;
    if (readFileBytes(Filename, bytes)) {
        FileValid = true;
        Lines = decodeTextLines(bytes);
        return;
    }
    if (ReadOnly) {
        reporter_.ShowFileError("Could not open file " + Filename, "File Error");
        return;
    }
    // O_EXCL: a file that appeared meanwhile is never truncated.
    const int fd = ::open(Filename.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        ::close(fd);
        FileValid = true;
        return;
    }
    reporter_.ShowFileError("Could neither open nor create file " + Filename, "File error");
}

bool TGenFile::save() {
    if (ReadOnly || !FileValid || SaveImmediate) return true;
    std::string error;
    if (writeFileAtomically(Filename, encodeTextLines(Lines), &error)) return true;
    reporter_.ShowFileError("Could not save file " + Filename + "\n" + error, "File error");
    return false;
}

std::string TGenFile::MakeSaveString(std::string_view Str) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(Str.size() + 8);
    for (char ch : Str) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case 8:
                out += "\\b";
                break;
            case 9:
                out += "\\t";
                break;
            case 10:
                out += "\\r";
                break;
            case 13:
                out += "\\n";
                break;
            case 27:
                out += "\\e";
                break;
            case '"':
                out += "\\\"";
                break;
            case '#':
                out += "\\#";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (c <= 26) {
                    out += "\\x";
                    out += kHex[c >> 4];
                    out += kHex[c & 15];
                } else {
                    out += ch;  // bytes of multi-byte characters are all >= 0x80
                }
        }
    }
    return out;
}

bool TGenFile::DecodeHexNibble(char32_t C, unsigned& Nibble) {
    if (C >= '0' && C <= '9') {
        Nibble = C - '0';
    } else if (C >= 'a' && C <= 'f') {
        Nibble = C - 'a' + 10;
    } else if (C >= 'A' && C <= 'F') {
        Nibble = C - 'A' + 10;
    } else {
        return false;
    }
    return true;
}

std::string TGenFile::DecodeSaveString(std::string_view SaveStr) {
    enum { Plain, AfterBackslash, AfterX, AfterDigit } state = Plain;
    unsigned high = 0;
    std::string out;
    out.reserve(SaveStr.size());
    for (char32_t c : utf8ToCodePoints(SaveStr)) {
        switch (state) {
            case Plain:
                if (c == '\\')
                    state = AfterBackslash;
                else
                    appendUtf8(out, c);
                break;
            case AfterBackslash:
                state = Plain;
                switch (c) {
                    case '"':
                        out += '"';
                        break;
                    case '#':
                        out += '#';
                        break;
                    case '\\':
                        out += '\\';
                        break;
                    case 'b':
                        out += '\b';
                        break;
                    case 'e':
                        out += '\x1B';
                        break;
                    case 'n':
                        out += '\r';
                        break;
                    case 'r':
                        out += '\n';
                        break;
                    case 't':
                        out += '\t';
                        break;
                    case 'x':
                        state = AfterX;
                        break;
                    default:
                        break;  // unknown escape: dropped with its backslash
                }
                break;
            case AfterX:
                if (DecodeHexNibble(c, high)) {
                    state = AfterDigit;
                } else {
                    appendUtf8(out, c);
                    state = Plain;
                }
                break;
            case AfterDigit: {
                unsigned low = 0;
                if (DecodeHexNibble(c, low)) {
                    appendUtf8(out, high * 16 + low);
                } else {
                    appendUtf8(out, high);
                    appendUtf8(out, c);
                }
                state = Plain;
                break;
            }
        }
    }
    return out;
}

std::string TGenFile::CleanLine(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    bool inQuotes = false;
    bool escapePending = false;
    for (char c : line) {
        if (escapePending) {
            out += '\\';
            out += c;
            escapePending = false;
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if (c == ' ' || c == '\t') {
            if (inQuotes) out += c;
        } else if (c == '#') {
            if (!inQuotes) break;
            out += c;
        } else if (c == '\\') {
            escapePending = true;
        } else {
            out += c;
        }
    }
    return out;
}

std::string TGenFile::GetLineHead(std::string_view line) {
    const std::string clean = CleanLine(line);
    if (clean.empty() || clean[0] != '[') return {};
    const auto close = clean.find(']', 1);
    return clean.substr(1, close == std::string::npos ? std::string::npos : close - 1);
}

std::string TGenFile::GetLineItem(std::string_view line) {
    const std::string clean = CleanLine(line);
    const auto eq = clean.find('=');
    return eq == std::string::npos ? std::string() : clean.substr(0, eq);
}

std::string TGenFile::GetLineValue(std::string_view line) {
    const std::string clean = CleanLine(line);
    const auto eq = clean.find('=');
    if (eq == std::string::npos) return {};
    return DecodeSaveString(std::string_view(clean).substr(eq + 1));
}

// Only a line whose first character apart from blanks is "[" or a quote can
// clean to a head; this spares cleaning every item line on each lookup.
static bool mayBeHead(std::string_view line) {
    const auto first = line.find_first_not_of(" \t");
    return first != std::string_view::npos && (line[first] == '[' || line[first] == '"');
}

int TGenFile::FindNextHead(int index) const {
    for (int i = index < 0 ? 0 : index; i < static_cast<int>(Lines.size()); ++i)
        if (mayBeHead(Lines[i]) && !GetLineHead(Lines[i]).empty()) return i;
    return -1;
}

int TGenFile::FindHead(std::string_view Head) const {
    const std::string wanted = "[" + CleanLine(Head) + "]";
    for (std::size_t i = 0; i < Lines.size(); ++i)
        if (sameIgnoringCase(Lines[i], wanted)) return static_cast<int>(i);
    return -1;
}

int TGenFile::FindItem(int first, int last, std::string_view Item) const {
    const std::string wanted = CleanLine(Item);
    if (first < 0) first = 0;
    if (last < 0 || last >= static_cast<int>(Lines.size()))
        last = static_cast<int>(Lines.size()) - 1;
    for (int i = first; i <= last; ++i) {
        const std::string clean = CleanLine(Lines[i]);
        const auto eq = clean.find('=');
        // A line without "=" is no item, even for an empty name: a set must
        // never overwrite a comment or a blank line.
        if (eq != std::string::npos && std::string_view(clean).substr(0, eq) == wanted) return i;
    }
    return -1;
}

void TGenFile::SectionRange(int h, int& first, int& last) const {
    first = h + 1;
    last = FindNextHead(h + 1);
}

bool TGenFile::FindValue(std::string_view Head, std::string_view Item, std::string& value) const {
    const int h = FindHead(Head);
    if (h < 0) return false;
    int first = 0;
    int last = 0;
    SectionRange(h, first, last);
    const int i = FindItem(first, last, Item);
    if (i < 0) return false;
    value = GetLineValue(Lines[i]);
    return true;
}

std::string TGenFile::QuotedValue(std::string_view Val) {
    return "\"" + MakeSaveString(Val) + "\"";
}

void TGenFile::PutItem(std::string_view Head, std::string_view Item, const std::string& value) {
    const std::string line = CleanLine(Item) + " = " + value;
    const int h = FindHead(Head);
    if (h < 0) {
        Lines.emplace_back();
        Lines.push_back("[" + CleanLine(Head) + "]");
        Lines.push_back(line);
        return;
    }
    int first = 0;
    int last = 0;
    SectionRange(h, first, last);
    const int i = FindItem(first, last, Item);
    if (i >= 0)
        Lines[i] = line;
    else
        Lines.insert(Lines.begin() + h + 1, line);
}

}  // namespace kyvo
