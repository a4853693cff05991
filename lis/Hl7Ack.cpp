#include "lis/Hl7Ack.h"

#include <algorithm>
#include <vector>

#include "lis/Hl7Escape.h"

namespace kyvo::lis {

namespace {

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    while (true) {
        const std::size_t at = s.find(sep, start);
        if (at == std::string_view::npos) {
            out.push_back(s.substr(start));
            return out;
        }
        out.push_back(s.substr(start, at - start));
        start = at + 1;
    }
}

bool goodDelimiter(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && !(c >= '0' && c <= '9') && !(c >= 'A' && c <= 'Z') &&
           !(c >= 'a' && c <= 'z');
}

class Reader {
  public:
    explicit Reader(const THl7Delimiters& d) : d_(d) {}
    // Field n (1-based, MSH counted as everywhere else: n=1 is the first
    // field after the segment id) of a segment's fields, first repetition,
    // component c, unescaped.
    std::string Get(const std::vector<std::string_view>& fields, std::size_t n, std::size_t c = 1,
                    std::size_t sub = 1) const {
        if (n >= fields.size()) return {};
        const std::string_view rep = split(fields[n], d_.Repetition).front();
        const std::vector<std::string_view> comps = split(rep, d_.Component);
        if (c == 0 || c > comps.size()) return {};
        const std::vector<std::string_view> subs = split(comps[c - 1], d_.Subcomponent);
        if (sub == 0 || sub > subs.size()) return {};
        return Hl7Unescape(subs[sub - 1], d_);
    }

  private:
    THl7Delimiters d_;
};

std::optional<EAckCode> ackCode(std::string_view s) {
    static constexpr struct {
        std::string_view name;
        EAckCode code;
    } kCodes[] = {{"AA", EAckCode::AA}, {"AE", EAckCode::AE}, {"AR", EAckCode::AR},
                  {"CA", EAckCode::CA}, {"CE", EAckCode::CE}, {"CR", EAckCode::CR}};
    for (const auto& k : kCodes)
        if (s == k.name) return k.code;
    return std::nullopt;
}

void appendText(std::string& out, const std::string& text) {
    if (text.empty() || out.find(text) != std::string::npos) return;
    if (!out.empty()) out += "; ";
    out += text;
}

}  // namespace

std::string_view AckCodeName(EAckCode code) {
    switch (code) {
        case EAckCode::AA:
            return "AA";
        case EAckCode::AE:
            return "AE";
        case EAckCode::AR:
            return "AR";
        case EAckCode::CA:
            return "CA";
        case EAckCode::CE:
            return "CE";
        case EAckCode::CR:
            return "CR";
    }
    return "??";
}

TAckParse ParseAck(std::string_view message) {
    TAckParse out;
    const auto fail = [&](std::string why) {
        out.Error = std::move(why);
        return out;
    };
    if (message.size() < 8 || message.substr(0, 3) != "MSH")
        return fail("the answer is no HL7 message (it does not start with MSH)");

    THl7Delimiters d;
    d.Field = message[3];
    std::string_view enc = message.substr(4);
    enc = enc.substr(0, enc.find_first_of(std::string{d.Field, '\r', '\n'}));
    if (enc.size() < 3 || enc.size() > 4)
        return fail("the answer's MSH-2 does not declare 3 or 4 delimiters");
    d.Component = enc[0];
    d.Repetition = enc[1];
    d.Escape = enc[2];
    if (enc.size() > 3) d.Subcomponent = enc[3];
    const char all[] = {d.Field, d.Component, d.Repetition, d.Escape, d.Subcomponent};
    for (std::size_t i = 0; i < 5; ++i) {
        if (!goodDelimiter(all[i])) return fail("the answer's MSH declares an unusable delimiter");
        for (std::size_t k = 0; k < i; ++k)
            if (all[i] == all[k] && !(i == 4 && enc.size() == 3))
                return fail("the answer's MSH declares one delimiter twice");
    }

    std::vector<std::string_view> segments;
    std::size_t start = 0;
    while (start < message.size()) {
        std::size_t end = message.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = message.size();
        if (end > start) segments.push_back(message.substr(start, end - start));
        start = end + 1;
    }

    const Reader r(d);
    TAck ack;
    bool haveMsa = false;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        std::vector<std::string_view> f = split(segments[i], d.Field);
        const std::string_view id = f.front();
        if (i == 0) {
            // MSH-1 is the separator itself: put a placeholder in so that
            // field numbers count as in every other segment.
            f.insert(f.begin() + 1, std::string_view());
            ack.ControlId = r.Get(f, 10);
            continue;
        }
        if (id == "MSH") return fail("the answer holds more than one message");
        if (id == "MSA") {
            if (haveMsa) return fail("the answer holds two MSA segments");
            haveMsa = true;
            const std::string code = r.Get(f, 1);
            const auto c = ackCode(code);
            if (!c) return fail("the answer's MSA-1 \"" + code + "\" is no acknowledgement code");
            ack.Code = *c;
            ack.AckedControlId = r.Get(f, 2);
            ack.Text = r.Get(f, 3);
        } else if (id == "ERR") {
            // 2.5 and later: user message, diagnostics, error code's text;
            // before: the code and location's text.
            std::string text = r.Get(f, 8);
            if (text.empty()) text = r.Get(f, 7);
            if (text.empty()) text = r.Get(f, 3, 2);
            if (text.empty()) text = r.Get(f, 3, 1);
            if (text.empty()) text = r.Get(f, 1, 4, 2);
            if (text.empty()) text = r.Get(f, 1, 4, 1);
            appendText(ack.ErrorText, text);
        }
    }
    if (!haveMsa) return fail("the answer has no MSA segment");
    if (ack.AckedControlId.empty()) return fail("the answer's MSA-2 names no message");
    out.Ack = std::move(ack);
    return out;
}

}  // namespace kyvo::lis
