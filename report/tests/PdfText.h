// A PDF as poppler's pdftotext reads it: the words of each page with where
// they stand, so that tests see the report as its reader does.
#pragma once

#include <algorithm>
#include <cstdio>
#include <optional>
#include <stdexcept>
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
    // Read by hand: std::regex here trips GCC 12's maybe-uninitialized
    // warning under the sanitizers, and the lines are pdftotext's own.
    const auto attribute = [](const std::string& line, const char* name) -> std::optional<double> {
        const std::string key = std::string(" ") + name + "=\"";
        const std::size_t at = line.find(key);
        if (at == std::string::npos) return std::nullopt;
        const std::size_t from = at + key.size();
        const std::size_t to = line.find('"', from);
        if (to == std::string::npos) return std::nullopt;
        try {
            return std::stod(line.substr(from, to - from));
        } catch (const std::exception&) {
            return std::nullopt;
        }
    };
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
        const std::size_t open = line.find("<word ");
        const std::size_t close = line.rfind("</word>");
        if (pages.empty() || open == std::string::npos || close == std::string::npos) continue;
        const std::size_t text = line.find('>', open);
        const auto x0 = attribute(line, "xMin"), y0 = attribute(line, "yMin");
        const auto x1 = attribute(line, "xMax"), y1 = attribute(line, "yMax");
        if (text == std::string::npos || text > close || !x0 || !y0 || !x1 || !y1) continue;
        pages.back().Words.push_back(
            {PdfUnescape(line.substr(text + 1, close - text - 1)), *x0, *y0, *x1, *y1});
    }
    return pages;
}

}  // namespace kyvo::testing
