#include "lis/CodeMapping.h"

#include <cstdint>
#include <fstream>
#include <sstream>

namespace kyvo::lis {

namespace {

std::string_view trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool sameName(std::string_view a, std::string_view b) {
    a = trimmed(a);
    b = trimmed(b);
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::vector<std::string> splitOn(std::string_view line, char sep) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (true) {
        const std::size_t bar = line.find(sep, start);
        out.emplace_back(
            trimmed(line.substr(start, bar == std::string_view::npos ? bar : bar - start)));
        if (bar == std::string_view::npos) break;
        start = bar + 1;
    }
    return out;
}

// Valid UTF-8 without overlong forms or surrogates.
bool validUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t n = 0;
        std::uint32_t cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (s.size() - i <= n) return false;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = cp << 6 | (d & 0x3F);
        }
        if (n == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return false;
        if (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) return false;
        i += n + 1;
    }
    return true;
}

bool knownFlag(std::string_view f) {
    static constexpr std::string_view kFlags[] = {
        "L", "H", "LL", "HH", "<",   ">",   "N",   "A",   "AA", "U",  "D",  "B",   "W",  "S",
        "R", "I", "MS", "VS", "POS", "NEG", "IND", "DET", "ND", "AC", "RR", "QCF", "TOX"};
    for (const auto k : kFlags)
        if (f == k) return true;
    return false;
}

}  // namespace

const TResultCode* TCodeMapping::FindResult(std::string_view testName,
                                            std::string_view resultName) const {
    const TResultCode* whole = nullptr;
    for (const TResultCode& r : Results) {
        if (!sameName(r.TestName, testName)) continue;
        if (!r.ResultName.empty() && sameName(r.ResultName, resultName)) return &r;
        if (r.ResultName.empty() && !whole) whole = &r;
    }
    return whole;
}

const TTestCode* TCodeMapping::FindTest(std::string_view testName) const {
    for (const TTestCode& t : Tests)
        if (sameName(t.TestName, testName)) return &t;
    return nullptr;
}

const TClassFlag* TCodeMapping::FindFlag(std::string_view className) const {
    for (const TClassFlag& f : Flags)
        if (sameName(f.ClassName, className)) return &f;
    return nullptr;
}

TMappingParse ParseCodeMapping(std::string_view text) {
    TMappingParse out;
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = trimmed(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNo;
        if (line.empty() || line.front() == '#') continue;
        const auto fail = [&](std::string message) {
            out.Errors.push_back({lineNo, std::move(message)});
        };
        if (!validUtf8(line)) {
            fail("not UTF-8 text");
            continue;
        }
        const std::vector<std::string> f = splitOn(line, '|');
        const std::string& kind = f[0];
        if (kind == "test") {
            if (f.size() != 5 && f.size() != 6) {
                fail(
                    "a test line has 5 or 6 fields: test | name | code | text | coding system "
                    "[| specimen code^text^system]");
                continue;
            }
            TCodedElement specimen;
            if (f.size() == 6 && !f[5].empty()) {
                const std::vector<std::string> c = splitOn(f[5], '^');
                if (c.size() != 3 || c[0].empty() || c[2].empty()) {
                    fail("a specimen type is written code^text^coding system");
                    continue;
                }
                specimen = {c[0], c[1], c[2]};
            }
            if (f[1].empty() || f[2].empty() || f[4].empty()) {
                fail("a test line needs a test name, a code and a coding system");
                continue;
            }
            if (out.Mapping.FindTest(f[1])) {
                fail("test \"" + f[1] + "\" is mapped twice");
                continue;
            }
            out.Mapping.Tests.push_back({f[1], {f[2], f[3], f[4]}, specimen});
        } else if (kind == "result") {
            if (f.size() != 6 && f.size() != 7) {
                fail(
                    "a result line has 6 or 7 fields: result | test | result name | code | text | "
                    "coding system [| UCUM unit]");
                continue;
            }
            if (f[1].empty() || f[3].empty() || f[5].empty()) {
                fail("a result line needs a test name, a code and a coding system");
                continue;
            }
            bool twice = false;
            for (const TResultCode& r : out.Mapping.Results)
                twice = twice || (sameName(r.TestName, f[1]) && sameName(r.ResultName, f[2]));
            if (twice) {
                fail("result \"" + f[2] + "\" of test \"" + f[1] + "\" is mapped twice");
                continue;
            }
            out.Mapping.Results.push_back(
                {f[1], f[2], {f[3], f[4], f[5]}, f.size() == 7 ? f[6] : std::string()});
        } else if (kind == "flag") {
            if (f.size() != 3) {
                fail("a flag line has 3 fields: flag | class name | HL7 flag");
                continue;
            }
            if (f[1].empty()) {
                fail("a flag line needs a class name");
                continue;
            }
            if (!knownFlag(f[2])) {
                fail("\"" + f[2] +
                     "\" is no HL7 abnormal flag (L, H, LL, HH, N, A, AA, POS, NEG, ...)");
                continue;
            }
            if (out.Mapping.FindFlag(f[1])) {
                fail("class \"" + f[1] + "\" is mapped twice");
                continue;
            }
            out.Mapping.Flags.push_back({f[1], f[2]});
        } else {
            fail("unknown record \"" + kind + "\" (test, result or flag)");
        }
    }
    return out;
}

TMappingParse LoadCodeMapping(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        TMappingParse out;
        out.Errors.push_back({0, "cannot read " + path});
        return out;
    }
    std::ostringstream buf;
    buf << in.rdbuf();
    return ParseCodeMapping(buf.str());
}

std::string MappingErrorText(const TMappingError& error) {
    if (error.Line == 0) return "mapping: " + error.Message;
    return "mapping line " + std::to_string(error.Line) + ": " + error.Message;
}

}  // namespace kyvo::lis
