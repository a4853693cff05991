// A PDF as poppler's pdftotext reads it: the words of each page with where
// they stand, so that tests see the report as its reader does.
#pragma once

#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

namespace kyvo::testing {

struct TPdfWord {
    std::string Text;
    double XMin = 0, YMin = 0, XMax = 0, YMax = 0;
};

struct TPdfPage {
    std::vector<TPdfWord> Words;
    std::string Text() const {
        std::string out;
        for (const auto& w : Words) out += w.Text + " ";
        return out;
    }
    // The first word equal to text, or null.
    const TPdfWord* Find(const std::string& text) const {
        for (const auto& w : Words)
            if (w.Text == text) return &w;
        return nullptr;
    }
};

inline std::string PdfUnescape(std::string s) {
    const std::pair<const char*, const char*> entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
    for (const auto& [from, to] : entities) {
        for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + 1))
            s.replace(at, std::string(from).size(), to);
    }
    return s;
}

// Empty, with error set, when pdftotext cannot read the file.
inline std::vector<TPdfPage> ReadPdfWords(const std::string& path, std::string* error = nullptr) {
    std::vector<TPdfPage> pages;
    const std::string cmd = "pdftotext -bbox '" + path + "' - 2>&1";
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (!pipe) {
        if (error) *error = "pdftotext cannot be run";
        return pages;
    }
    std::string out;
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    const int status = ::pclose(pipe);
    if (status != 0) {
        if (error) *error = "pdftotext failed (is poppler-utils installed?): " + out.substr(0, 300);
        return pages;
    }
    static const std::regex word(
        R"re(<word xMin="([0-9.]+)" yMin="([0-9.]+)" xMax="([0-9.]+)" yMax="([0-9.]+)">(.*)</word>)re");
    std::size_t pos = 0;
    while (pos < out.size()) {
        std::size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(pos, end - pos);
        pos = end + 1;
        if (line.find("<page ") != std::string::npos) {
            pages.emplace_back();
            continue;
        }
        std::smatch m;
        if (!pages.empty() && std::regex_search(line, m, word)) {
            pages.back().Words.push_back({PdfUnescape(m[5]), std::stod(m[1]), std::stod(m[2]),
                                          std::stod(m[3]), std::stod(m[4])});
        }
    }
    return pages;
}

}  // namespace kyvo::testing
