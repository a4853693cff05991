#include "sim/Scenario.h"

#include <charconv>
#include <fstream>
#include <map>
#include <sstream>

#include "sim/Records.h"

namespace kyvo::sim {

namespace {

std::string trim(std::string_view s) {
    std::size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\r')) ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
    return std::string(s.substr(a, b - a));
}

std::vector<std::string> split(std::string_view s, char sep) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == sep) {
            out.push_back(trim(s.substr(start, i - start)));
            start = i + 1;
        }
    }
    return out;
}

std::vector<std::string> words(std::string_view s) {
    std::vector<std::string> out;
    std::istringstream in{std::string(s)};
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

struct ParseError {
    std::string text;
};

std::uint64_t toUnsigned(const std::string& s, std::uint64_t max) {
    std::uint64_t v = 0;
    const char* b = s.data();
    const char* e = s.data() + s.size();
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        b += 2;
        base = 16;
    }
    auto [p, ec] = std::from_chars(b, e, v, base);
    if (ec != std::errc{} || p != e || b == e) throw ParseError{"'" + s + "' is not a number"};
    if (v > max) throw ParseError{"'" + s + "' is too large (at most " + std::to_string(max) + ")"};
    return v;
}

std::int64_t toSigned(const std::string& s, std::int64_t min, std::int64_t max) {
    std::int64_t v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc{} || p != s.data() + s.size() || s.empty())
        throw ParseError{"'" + s + "' is not a number"};
    if (v < min || v > max)
        throw ParseError{"'" + s + "' is out of range " + std::to_string(min) + ".." +
                         std::to_string(max)};
    return v;
}

float toFloat(const std::string& s) {
    if (s == "nan" || s == "NaN") return std::numeric_limits<float>::quiet_NaN();
    if (s == "inf") return std::numeric_limits<float>::infinity();
    if (s == "-inf") return -std::numeric_limits<float>::infinity();
    float v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc{} || p != s.data() + s.size() || s.empty())
        throw ParseError{"'" + s + "' is not a number"};
    return v;
}

bool toBool(const std::string& s) {
    if (s == "yes" || s == "true" || s == "on" || s == "1") return true;
    if (s == "no" || s == "false" || s == "off" || s == "0") return false;
    throw ParseError{"'" + s + "' is not yes or no"};
}

std::uint8_t u8(const std::string& s) {
    return static_cast<std::uint8_t>(toUnsigned(s, 0xFF));
}
std::uint16_t u16(const std::string& s) {
    return static_cast<std::uint16_t>(toUnsigned(s, 0xFFFF));
}
std::uint32_t u32(const std::string& s) {
    return static_cast<std::uint32_t>(toUnsigned(s, 0xFFFFFFFF));
}

// "YYYY-MM-DD" or "YYYY-MM-DD hh:mm[:ss]"; the bytes are kept even when they
// form no calendar date, so invalid dates can be played too.
TDateData toDate(const std::string& s) {
    auto parts = words(s);
    if (parts.empty() || parts.size() > 2) throw ParseError{"'" + s + "' is not a date"};
    auto ymd = split(parts[0], '-');
    if (ymd.size() != 3) throw ParseError{"'" + s + "' is not a date (YYYY-MM-DD)"};
    TDateData d;
    d.Year = static_cast<std::uint8_t>(toSigned(ymd[0], 2000, 2255) - 2000);
    d.Month = u8(ymd[1]);
    d.MonthDay = u8(ymd[2]);
    if (parts.size() == 2) {
        auto hms = split(parts[1], ':');
        if (hms.size() < 2 || hms.size() > 3) throw ParseError{"'" + s + "' is not a time"};
        d.Hour = u8(hms[0]);
        d.Minutes = u8(hms[1]);
        d.Seconds = hms.size() == 3 ? u8(hms[2]) : 0;
    }
    return d;
}

std::vector<float> toFloats(const std::string& s) {
    std::vector<float> out;
    for (const auto& w : words(s)) out.push_back(toFloat(w));
    return out;
}

char toChar(const std::string& s) {
    if (s.empty()) return 0;
    if (s.size() == 1) return s[0];
    return static_cast<char>(u8(s));
}

FaultKind toFaultKind(const std::string& s) {
    static const std::map<std::string, FaultKind> kinds{{"silence", FaultKind::Silence},
                                                        {"bad-checksum", FaultKind::BadChecksum},
                                                        {"comm-error", FaultKind::CommError},
                                                        {"device-error", FaultKind::DeviceError},
                                                        {"busy", FaultKind::Busy},
                                                        {"short-reply", FaultKind::ShortReply},
                                                        {"escaped-fe", FaultKind::EscapedFe},
                                                        {"close-line", FaultKind::CloseLine}};
    auto it = kinds.find(s);
    if (it == kinds.end()) throw ParseError{"unknown fault kind '" + s + "'"};
    return it->second;
}

void setBits(SimConfigBits& bits, const std::string& value) {
    SimConfigBits none;
    none.ClockPresent = none.SeparateResultMemory = none.RFIDConfigSource = false;
    none.InstantMeasureAllowed = none.TimerMeasureAllowed = false;
    none.ResultsWithLineData = none.ResultsWithImage = false;
    none.extraBits = bits.extraBits;
    none.extraBits_0 = bits.extraBits_0;
    static const std::map<std::string, bool SimConfigBits::*> names{
        {"ClockPresent", &SimConfigBits::ClockPresent},
        {"SeparateResultMemory", &SimConfigBits::SeparateResultMemory},
        {"RFIDConfigSource", &SimConfigBits::RFIDConfigSource},
        {"InstantMeasureAllowed", &SimConfigBits::InstantMeasureAllowed},
        {"TimerMeasureAllowed", &SimConfigBits::TimerMeasureAllowed},
        {"ResultsWithLineData", &SimConfigBits::ResultsWithLineData},
        {"ResultsWithImage", &SimConfigBits::ResultsWithImage}};
    for (const auto& w : words(value)) {
        auto it = names.find(w);
        if (it == names.end()) throw ParseError{"unknown configuration bit '" + w + "'"};
        none.*(it->second) = true;
    }
    bits = none;
}

class Parser {
  public:
    explicit Parser(Scenario& s) : s_(s) {}

    void section(const std::string& header) {
        auto w = words(header);
        if (w.empty()) throw ParseError{"empty section name"};
        kind_ = w[0];
        if (kind_ == "config") {
            if (w.size() != 2) throw ParseError{"[config NAME] needs one name"};
            if (s_.findConfig(w[1])) throw ParseError{"configuration '" + w[1] + "' given twice"};
            s_.configs.emplace_back();
            s_.configs.back().key = w[1];
        } else if (kind_ == "measurement") {
            s_.measurements.emplace_back();
        } else if (kind_ == "fault") {
            s_.faults.emplace_back();
        } else if (kind_ != "device" && kind_ != "memory" && kind_ != "generate" &&
                   kind_ != "rfid" && kind_ != "evaluation") {
            throw ParseError{"unknown section [" + header + "]"};
        } else if (w.size() != 1) {
            throw ParseError{"[" + kind_ + "] takes no name"};
        }
    }

    void entry(const std::string& key, const std::string& v) {
        if (kind_.empty()) throw ParseError{"'" + key + "' outside of any section"};
        bool known = kind_ == "device"        ? device(key, v)
                     : kind_ == "memory"      ? memory(key, v)
                     : kind_ == "config"      ? config(key, v)
                     : kind_ == "measurement" ? measurement(key, v)
                     : kind_ == "generate"    ? generate(key, v)
                     : kind_ == "rfid"        ? rfid(key, v)
                     : kind_ == "evaluation"  ? evaluation(key, v)
                                              : fault(key, v);
        if (!known) throw ParseError{"unknown key '" + key + "' in [" + kind_ + "]"};
    }

  private:
    bool device(const std::string& k, const std::string& v) {
        auto& f = s_.firmware;
        if (k == "eeprom-version") {
            s_.eepromVersion = static_cast<std::uint8_t>(toUnsigned(v, 6));
            if (s_.eepromVersion == 0) throw ParseError{"eeprom-version is 1 to 6"};
        } else if (k == "firmware") {
            auto p = split(v, '.');
            if (p.size() != 3) throw ParseError{"firmware is MAIN.SUB.REVISION"};
            f.main = u8(p[0]);
            f.sub = u8(p[1]);
            f.revision = u16(p[2]);
        } else if (k == "firmware-variant") {
            f.variant = toChar(v);
        } else if (k == "firmware-branch") {
            f.branch = u8(v);
        } else if (k == "firmware-branch-revision") {
            f.branchRevision = u16(v);
        } else if (k == "firmware-suffix") {
            f.suffix = toChar(v);
        } else if (k == "serial") {
            auto p = words(v);
            if (p.size() != 4 || p[2].size() != 4)
                throw ParseError{"serial is CUSTOMER PROJECT YYWW SUBSERIAL"};
            s_.serial.customer = u16(p[0]);
            s_.serial.project = u16(p[1]);
            s_.serial.productionDate.ProductionYear = u8(p[2].substr(0, 2));
            s_.serial.productionDate.ProductionWeek = u8(p[2].substr(2, 2));
            s_.serial.subSerial = u16(p[3]);
        } else if (k == "kalmi-serial") {
            s_.serial.kalmiSerial = u32(v);
        } else if (k == "bits") {
            setBits(s_.bits, v);
        } else if (k == "extra-bits") {
            s_.bits.extraBits = u32(v);
        } else if (k == "extra-bits-0") {
            s_.bits.extraBits_0 = u32(v);
        } else if (k == "nominal-white") {
            s_.nominalWhiteValue = u16(v);
        } else if (k == "clock-offset") {
            if (v == "invalid")
                s_.clockOffsetSeconds.reset();
            else
                s_.clockOffsetSeconds = toSigned(v, -4000000000LL, 4000000000LL);
        } else if (k == "active-config") {
            s_.activeConfig = v;
        } else {
            return false;
        }
        return true;
    }

    bool memory(const std::string& k, const std::string& v) {
        auto& m = s_.memory;
        static const std::map<std::string, std::optional<std::uint16_t> SimMemoryLayout::*> ptrs{
            {"config-start", &SimMemoryLayout::configStart},
            {"config-stop", &SimMemoryLayout::configStop},
            {"result-cfg-start", &SimMemoryLayout::resultCfgStart},
            {"result-cfg-stop", &SimMemoryLayout::resultCfgStop},
            {"result-start", &SimMemoryLayout::resultStart},
            {"result-stop", &SimMemoryLayout::resultStop},
            {"config-memory-size", &SimMemoryLayout::configMemorySize}};
        if (auto it = ptrs.find(k); it != ptrs.end()) {
            m.*(it->second) = u16(v);
        } else if (k == "result-cfg-read-offset") {
            m.resultCfgReadOffset = u16(v);
        } else if (k == "result-read-offset") {
            m.resultReadOffset = u16(v);
        } else {
            return false;
        }
        return true;
    }

    bool config(const std::string& k, const std::string& v) {
        auto& c = s_.configs.back();
        if (k == "version") {
            c.version = u8(v);
        } else if (k == "test-id") {
            auto p = words(v);
            if (p.size() != 4) throw ParseError{"test-id is CUSTOMER PROJECT TYPE NUMBER"};
            c.customerID = u16(p[0]);
            c.projectID = u16(p[1]);
            c.testType = u16(p[2]);
            c.testNu = u16(p[3]);
        } else if (k == "name") {
            c.testName = v;
        } else if (k == "lot") {
            c.lotNr = v;
        } else if (k == "distributor") {
            c.distributor = v;
        } else if (k == "expiry") {
            c.expiry = toDate(v);
        } else if (k == "image-count") {
            c.imageCount = u8(v);
        } else if (k == "timer") {
            c.timerSeconds = u16(v);
        } else if (k == "invalid-text") {
            c.invalidText = v;
        } else if (k == "program") {
            c.program = v;
        } else if (k == "filter") {
            c.filter = toFloats(v);
        } else if (k == "stored") {
            c.stored = toBool(v);
        } else if (k == "credit-count") {
            c.creditCount = u16(v);
        } else if (k == "line") {
            auto p = words(v);
            SimLine line;
            std::size_t i = 0;
            if (!p.empty() && p[0] == "ref") {
                line.reference = true;
                i = 1;
            }
            if (p.size() - i < 1 || p.size() - i > 5)
                throw ParseError{
                    "line is [ref] POSITION [WIDTH [SEARCH-WIDTH [SEARCH-MIN [MIN]]]]"};
            line.position = static_cast<std::int16_t>(toSigned(p[i], -32768, 32767));
            if (p.size() > i + 1) line.width = u8(p[i + 1]);
            if (p.size() > i + 2) line.searchWidth = u8(p[i + 2]);
            if (p.size() > i + 3) line.searchMinValue = u16(p[i + 3]);
            if (p.size() > i + 4) line.minValue = u16(p[i + 4]);
            c.lines.push_back(line);
        } else if (k == "result") {
            auto p = split(v, '|');
            if (p.size() < 1 || p.size() > 6)
                throw ParseError{"result is NAME | UNIT | LOWER | UPPER | DIGITS | FLAGS"};
            SimResultDef r;
            r.name = p[0];
            if (p.size() > 1) r.unit = p[1];
            if (p.size() > 2 && !p[2].empty()) r.lowerLimit = toFloat(p[2]);
            if (p.size() > 3 && !p[3].empty()) r.upperLimit = toFloat(p[3]);
            if (p.size() > 4 && !p[4].empty()) r.digitCfg = u8(p[4]);
            if (p.size() > 5) {
                r.showValue = false;
                for (const auto& f : words(p[5])) {
                    if (f == "value")
                        r.showValue = true;
                    else if (f == "class")
                        r.showClass = true;
                    else
                        throw ParseError{"result flags are 'value' and 'class'"};
                }
            }
            c.results.push_back(r);
        } else if (k == "class") {
            if (c.results.empty()) throw ParseError{"a class belongs to a result given before it"};
            auto p = words(v);
            if (p.empty()) throw ParseError{"class is LOWER-THAN NAME"};
            SimClass cl;
            cl.lowerThan = toFloat(p[0]);
            std::size_t at = v.find(p[0]) + p[0].size();
            cl.name = trim(v.substr(at));
            c.results.back().classes.push_back(cl);
        } else {
            return false;
        }
        return true;
    }

    bool measurement(const std::string& k, const std::string& v) {
        auto& m = s_.measurements.back();
        if (k == "config") {
            m.config = v;
        } else if (k == "date") {
            m.date = toDate(v);
        } else if (k == "values") {
            m.values = toFloats(v);
        } else if (k == "invalid") {
            m.invalid = u8(v);
        } else if (k == "voltage") {
            m.voltage = u16(v);
        } else if (k == "temperature") {
            m.temperature = toFloat(v);
        } else if (k == "measure-id") {
            m.measureID = u16(v);
        } else if (k == "deleted") {
            m.deleted = toBool(v);
        } else {
            return false;
        }
        return true;
    }

    bool generate(const std::string& k, const std::string& v) {
        auto& g = s_.generator;
        if (k == "count")
            g.count = static_cast<std::uint32_t>(toUnsigned(v, 2000));
        else if (k == "seed")
            g.seed = u32(v);
        else if (k == "days")
            g.days = static_cast<std::uint32_t>(toUnsigned(v, 3650));
        else
            return false;
        return true;
    }

    bool rfid(const std::string& k, const std::string& v) {
        auto& r = s_.rfid;
        if (k == "present")
            r.present = toBool(v);
        else if (k == "tag-type")
            r.tagType = u8(v);
        else if (k == "size")
            r.userDataSize = u16(v);
        else if (k == "config")
            r.config = v;
        else if (k == "failures")
            r.failures = u32(v);
        else if (k == "failure-code")
            r.failureCode = u8(v);
        else
            return false;
        return true;
    }

    bool evaluation(const std::string& k, const std::string& v) {
        auto& e = s_.evaluation;
        if (k == "values")
            e.values = toFloats(v);
        else if (k == "invalid")
            e.invalid = u8(v);
        else if (k == "store")
            e.store = toBool(v);
        else if (k == "white-card")
            e.whiteCard = toBool(v);
        else if (k == "auto-press")
            e.autoPress = toBool(v);
        else if (k == "press-delay-ms")
            e.pressDelayMs = u32(v);
        else if (k == "run-ms")
            e.runMs = u32(v);
        else if (k == "format-ms")
            e.formatMs = u32(v);
        else if (k == "error")
            e.errorCode = u8(v);
        else if (k == "image-width")
            e.imageWidth = u16(v);
        else if (k == "image-chunk")
            e.imageChunk = u16(v);
        else
            return false;
        return true;
    }

    bool fault(const std::string& k, const std::string& v) {
        auto& f = s_.faults.back();
        if (k == "kind") {
            f.kind = toFaultKind(v);
        } else if (k == "command") {
            f.command = u8(v);
        } else if (k == "nth") {
            f.nth = u32(v);
            if (f.nth == 0) throw ParseError{"nth counts from 1"};
        } else if (k == "times") {
            f.times = u32(v);
        } else if (k == "after-frames") {
            f.nth = u32(v) + 1;
        } else if (k == "at-ms") {
            f.atMs = toUnsigned(v, ~std::uint64_t{0} >> 1);
        } else if (k == "duration-ms") {
            f.durationMs = u32(v);
        } else if (k == "code") {
            f.code = u8(v);
        } else if (k == "info") {
            f.info = u8(v);
        } else if (k == "bytes") {
            f.bytes = u32(v);
        } else {
            return false;
        }
        return true;
    }

    Scenario& s_;
    std::string kind_;
};

// The demo device, in the scenario format: it doubles as the fullest example.
constexpr const char* kDemoScenario = R"(# The built-in demo device.
[device]
eeprom-version = 6
firmware = 1.5.62
firmware-variant = b
serial = 12 3 1807 0042
kalmi-serial = 100042
bits = ClockPresent SeparateResultMemory InstantMeasureAllowed TimerMeasureAllowed ResultsWithLineData ResultsWithImage
clock-offset = 0
active-config = crp

[config crp]
test-id = 12 3 1 7
name = CRP quantitative
lot = L2026-11
distributor = Kyvo Diagnostics
expiry = 2027-06-30
line = ref 60 10 20 400 100
line = 90 8 20 200 50
result = CRP | mg/l | 0.5 | 200 | 0x23 | value class
class = 10 normal
class = 50 elevated
class = 1000 high

[config drug]
test-id = 12 3 2 1
name = Drug screen
lot = D-0815
distributor = Kyvo Diagnostics
expiry = 2026-12-01
invalid-text = INVALID - repeat test
line = ref 50 8 16 300 80
line = 40 8 16 150 40
line = 80 8 16 150 40
result = THC | ng/ml | 0 | 500 | 0x13
result = COC | ng/ml | 0 | 500 | 0x13

[config panel5]
test-id = 12 3 5 2
name = Fertility panel
lot = P5-330
distributor = Kyvo Diagnostics
expiry = 2028-01-31
timer = 12
line = ref 30 8 16 300 80
line = 30 6 14 120 30
line = 60 6 14 120 30
line = 90 6 14 120 30
line = 120 6 14 120 30
line = 150 6 14 120 30
result = LH | IU/l | 0 | 100 | 0x12
result = FSH | IU/l | 0 | 100 | 0x12
result = E3G | ng/ml | 0 | 1000 | 0x13
result = PdG | ug/ml | 0 | 50 | 0x22
result = hCG | IU/l | 0 | 500 | 0x13

[measurement]
config = crp
date = 2026-12-02 08:15:00
values = 7.25
temperature = 22.5

[measurement]
config = drug
date = 2026-12-02 09:40:10
values = 12 340
invalid = 0x01

[measurement]
config = panel5
date = 2026-12-03 14:02:33
values = 12.5 8.25 120 4.5 2
invalid = 0x40

[generate]
count = 22
seed = 2026
days = 6

[rfid]
tag-type = 1
size = 2048
config = drug
)";

}  // namespace

std::optional<Scenario> Scenario::parse(std::string_view text, std::string& error) {
    Scenario s;
    // A parsed scenario starts from an empty device, not from the demo's
    // contents; the struct's defaults hold for the rest.
    Parser parser(s);
    std::size_t lineNo = 0;
    std::size_t start = 0;
    try {
        while (start <= text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string_view::npos) end = text.size();
            std::string line = trim(text.substr(start, end - start));
            start = end + 1;
            ++lineNo;
            if (line.empty() || line[0] == '#' || line[0] == ';') continue;
            if (line.front() == '[') {
                if (line.back() != ']') throw ParseError{"section header without ']'"};
                parser.section(trim(std::string_view(line).substr(1, line.size() - 2)));
                continue;
            }
            auto eq = line.find('=');
            if (eq == std::string::npos) throw ParseError{"expected KEY = VALUE"};
            std::string key = trim(std::string_view(line).substr(0, eq));
            std::string value = trim(std::string_view(line).substr(eq + 1));
            // A value may carry a trailing comment after " #".
            if (auto hash = value.find(" #"); hash != std::string::npos && key != "name" &&
                                              key != "lot" && key != "distributor" &&
                                              key != "invalid-text" && key != "program")
                value = trim(std::string_view(value).substr(0, hash));
            parser.entry(key, value);
        }
    } catch (const ParseError& e) {
        error = "line " + std::to_string(lineNo) + ": " + e.text;
        return std::nullopt;
    }
    error = s.validate();
    if (!error.empty()) return std::nullopt;
    return s;
}

std::optional<Scenario> Scenario::load(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    auto s = parse(text.str(), error);
    if (!s) error = path + ": " + error;
    return s;
}

Scenario Scenario::demo() {
    std::string error;
    auto s = parse(kDemoScenario, error);
    return s ? *s : Scenario{};
}

const SimTestConfig* Scenario::findConfig(std::string_view key) const {
    for (const auto& c : configs)
        if (c.key == key) return &c;
    return nullptr;
}

std::string Scenario::validate() const {
    if (eepromVersion < 1 || eepromVersion > 6) return "eeprom-version is 1 to 6";
    for (const auto& c : configs) {
        std::string where = "configuration '" + c.key + "': ";
        if (c.lines.size() > 10) return where + "at most 10 lines";
        if (c.results.size() > 10) return where + "at most 10 results";
        if (c.filter.size() > 15) return where + "at most 15 filter values";
        std::size_t classes = 0;
        for (const auto& r : c.results) {
            if (r.classes.size() > 7) return where + "at most 7 classes per result";
            classes += r.classes.size();
        }
        if (classes > 31) return where + "at most 31 classes";
        if (layoutConfig(c).strings.size() > 4000) return where + "texts exceed 4000 bytes";
    }
    std::string layoutError;
    auto layout = resolveLayout(*this, layoutError);
    if (!layout) return layoutError;
    if (const SimTestConfig* a = findConfig(activeConfig);
        a && configToBytes(*a).size() > layout->configMemorySize)
        return "active-config '" + activeConfig + "' does not fit the configuration memory";
    std::size_t listSize = 1;
    for (const auto& c : configs)
        if (c.stored) listSize += configToBytes(c).size();
    if (listSize > layout->configListSize)
        return "the stored configurations do not fit between config-start and config-stop";
    if (!activeConfig.empty() && !findConfig(activeConfig))
        return "active-config '" + activeConfig + "' is not a configuration";
    if (!rfid.config.empty() && !findConfig(rfid.config))
        return "rfid config '" + rfid.config + "' is not a configuration";
    for (const auto& m : measurements) {
        const SimTestConfig* c = findConfig(m.config);
        if (!c) return "measurement of unknown configuration '" + m.config + "'";
        if (m.values.size() > c->results.size())
            return "measurement of '" + m.config + "' has more values than results";
    }
    if (generator.count > 0) {
        bool any = false;
        for (const auto& c : configs) any = any || !c.results.empty();
        if (!any) return "generate needs a configuration with results";
    }
    if (evaluation.imageWidth == 0 || evaluation.imageWidth > 256) return "image-width is 1 to 256";
    if (evaluation.imageChunk < 2) return "image-chunk is at least 2";
    return {};
}

Scenario scenarioOfDevice(Scenario scenario, unsigned index) {
    scenario.serial.subSerial = static_cast<std::uint16_t>(scenario.serial.subSerial + index);
    scenario.serial.kalmiSerial += index;
    return scenario;
}

std::string demoScenarioText() {
    return kDemoScenario;
}

std::string scenarioFormatHelp() {
    return R"(Scenario files are plain text: [section] headers, KEY = VALUE lines,
comments from '#' or ';' at the start of a line (or after " #" in a value).
Numbers are decimal or 0x hex; dates are YYYY-MM-DD [hh:mm[:ss]]. Anything
not given keeps the default shown in brackets.

[device]
  eeprom-version = 1..6                 memory layout version [6]
  firmware = MAIN.SUB.REVISION          [1.5.62]
  firmware-variant / firmware-suffix = one character   [none]
  firmware-branch / firmware-branch-revision = number  [0]
  serial = CUSTOMER PROJECT YYWW SUB    as the program shows it [12 3 1807 0042]
  kalmi-serial = N                      the maker's running number
  bits = NAMES...                       the set bits, of ClockPresent
         SeparateResultMemory RFIDConfigSource InstantMeasureAllowed
         TimerMeasureAllowed ResultsWithLineData ResultsWithImage [all but RFID]
  extra-bits / extra-bits-0 = N         further bits of the two words, carried
  nominal-white = N                     [3000]
  clock-offset = SECONDS | invalid      device clock against the computer's [0]
  active-config = NAME                  configuration in configuration memory

[memory]                                pointer values, 16-bit offsets
  config-start, config-stop, result-cfg-start, result-cfg-stop,
  result-start, result-stop = N         defaults depend on the result memory
  result-cfg-read-offset, result-read-offset = N
                                        oldest entry of each ring, from its
                                        start; entries wrap past the ring's end
  config-memory-size = N                [1248; 4096 from version 5 with
                                        separate result memory]

[config NAME]                           one test configuration (several allowed)
  version = 2..5 [5]    test-id = CUSTOMER PROJECT TYPE NUMBER [1 1 1 1]
  name, lot, distributor = TEXT         expiry = DATE
  timer = SECONDS                       countdown of a timer measurement [0]
  image-count = N [2]   invalid-text = TEXT [FAIL]   program = TEXT
  filter = F F ...      credit-count = N [65535]
  stored = yes|no                       in the stored configuration list [yes]
  line = [ref] POSITION [WIDTH [SEARCH-WIDTH [SEARCH-MIN [MIN]]]]
                                        positions count from the preceding ref
  result = NAME | UNIT | LOWER | UPPER | DIGITS | FLAGS
                                        DIGITS 0xPV: P decimals, V valid digits
                                        [0x12]; FLAGS: value and/or class [value]
  class = LOWER-THAN NAME               a class of the result above

[measurement]                           one stored measurement (several allowed)
  config = NAME   date = DATE   values = V V ...   invalid = FLAGS [0]
  voltage = N [3700]   temperature = T [24]   measure-id = N
  deleted = yes|no                      stored as a skipped entry [no]

[generate]                              generated stored measurements
  count = N [0]   seed = N [1]   days = N   spread over the days before today [5]

[rfid]                                  the tag held over the device
  present = yes|no [yes]   tag-type = N [1]   size = BYTES [2048]
  config = NAME                         configuration on the tag [empty tag]
  failures = N                          RFID errors before it is read [0]
  failure-code = CODE                   [0x38]

[evaluation]                            how measurements play
  values = V V ...                      result values [generated]
  invalid = FLAGS [0]   store = yes|no  also into the stored rings [yes]
  white-card = yes|no [yes]             prompt for the white card
  auto-press = yes|no [yes]             the simulated user presses the button
  press-delay-ms = N [1200]   run-ms = N [1500]   format-ms = N [1000]
  error = CODE                          device error instead of a result
  image-width = 1..256 [240]   image-chunk = BYTES per image frame [1024]

[fault]                                 one injected fault (several allowed)
  kind = silence | bad-checksum | comm-error | device-error | busy |
         short-reply | escaped-fe | close-line
  command = CODE                        only frames with this command code
                                        (sent faults: replies to it) [any]
  nth = N [1]   times = N [1; 0 = all from nth on]
  after-frames = N                      same as nth = N + 1
  at-ms = MS                            silence or busy from this time on
  duration-ms = MS                      silence (0 = for ever) or busy period
  code = CODE   info = N                error to answer with
  bytes = N                             short-reply: data bytes delivered;
                                        close-line: bytes sent before closing
  escaped-fe puts 0xFE into every byte of a data reply (memory or image)
  but its code, colour mode and length, so each is escaped on the wire
)";
}

}  // namespace kyvo::sim
