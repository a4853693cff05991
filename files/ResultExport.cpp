#include "files/ResultExport.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

#include "files/ResultFileWriter.h"

namespace kyvo {

namespace {

bool isLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

bool isCalendarDate(const TDateData& d) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d.Month < 1 || d.Month > 12 || d.MonthDay < 1) return false;
    const int year = 2000 + d.Year;
    const int days = kDays[d.Month - 1] + (d.Month == 2 && isLeapYear(year) ? 1 : 0);
    return d.MonthDay <= days && d.Hour < 24 && d.Minutes < 60 && d.Seconds < 60;
}

void appendDigits(std::string& out, unsigned value, int width) {
    char buf[8];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    for (int pad = width - int(r.ptr - buf); pad > 0; --pad) out += '0';
    out.append(buf, r.ptr);
}

// A decimal integer or fixed-point number as the device texts hold them
// (voltage, temperature, image minimum and maximum).
std::optional<double> plainNumber(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-') ++i;
    const std::size_t intStart = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    const bool intDigits = i > intStart;
    bool fracDigits = false;
    if (i < text.size() && text[i] == '.') {
        const std::size_t fracStart = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        fracDigits = i > fracStart;
        if (!fracDigits) return std::nullopt;
    }
    if (i != text.size() || !(intDigits || fracDigits)) return std::nullopt;
    double value = 0;
    const auto r =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<long long> integerOf(std::string_view text) {
    long long value = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

// --- CSV -------------------------------------------------------------------

void csvField(std::string& out, std::string_view text, bool first = false) {
    if (!first) out += ',';
    const bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                       (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quote) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

// A text cell that a spreadsheet would take for a formula (=, +, -, @, or a
// tab or carriage return it may drop before one) gets a leading apostrophe,
// which spreadsheets show as text and do not display. A text that is exactly
// a plain number ("-3.5") is left as it is: it is a number, not a formula.
// Numeric columns never go through here.
void csvText(std::string& out, std::string_view text, bool first = false) {
    static constexpr std::string_view kFormulaStart = "=+-@\t\r";
    if (text.empty() || kFormulaStart.find(text.front()) == std::string_view::npos ||
        plainNumber(text)) {
        csvField(out, text, first);
        return;
    }
    csvField(out, "'" + std::string(text), first);
}

void csvEnd(std::string& out) {
    out += "\r\n";
}

void csvMeasurementFields(std::string& out, const TMeasureSet& m) {
    csvText(out, m.TestID, true);
    csvText(out, m.TestName);
    csvText(out, m.LotNr);
    csvText(out, m.Distr_Manu);
    csvText(out, IsoDateTime(m.DateTime));
    csvText(out, FormatTsvDate(m.DateTime));
    csvText(out, m.UserComment);
    const auto voltage = plainNumber(m.Voltage);
    const auto temperature = plainNumber(m.Temperature);
    csvField(out, voltage ? NumberText(*voltage) : std::string());
    csvField(out, temperature ? NumberText(*temperature) : std::string());
}

constexpr std::string_view kMeasurementColumns =
    "test_id,test_name,lot_number,distributor_manufacturer,date_time,date_text,user_comment,"
    "voltage,temperature";

// --- JSON ------------------------------------------------------------------

void jsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 15];
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
}

void jsonNumberOrNull(std::string& out, std::optional<double> value) {
    const std::string text = value ? NumberText(*value) : std::string();
    out += text.empty() ? "null" : text;
}

void jsonFloat(std::string& out, float value) {
    const std::string text = NumberText(value);
    out += text.empty() ? "null" : text;
}

void jsonKey(std::string& out, std::string_view key, bool first = false) {
    if (!first) out += ',';
    out += "\n      ";
    jsonString(out, key);
    out += ": ";
}

void jsonMeasurement(std::string& out, const TMeasureSet& m) {
    out += "    {";
    jsonKey(out, "testId", true);
    jsonString(out, m.TestID);
    jsonKey(out, "testName");
    jsonString(out, m.TestName);
    jsonKey(out, "lotNumber");
    jsonString(out, m.LotNr);
    jsonKey(out, "distributorManufacturer");
    jsonString(out, m.Distr_Manu);
    jsonKey(out, "dateTime");
    const std::string iso = IsoDateTime(m.DateTime);
    if (iso.empty())
        out += "null";
    else
        jsonString(out, iso);
    jsonKey(out, "dateText");
    jsonString(out, FormatTsvDate(m.DateTime));
    jsonKey(out, "userComment");
    jsonString(out, m.UserComment);
    jsonKey(out, "voltage");
    jsonNumberOrNull(out, plainNumber(m.Voltage));
    jsonKey(out, "temperature");
    jsonNumberOrNull(out, plainNumber(m.Temperature));

    jsonKey(out, "results");
    out += '[';
    for (std::size_t i = 0; i < m.ResultList.size(); ++i) {
        const TResultSet& r = m.ResultList[i];
        out += i ? ",\n        {" : "\n        {";
        out += "\"validity\": ";
        jsonString(out, r.Validity);
        out += ", \"name\": ";
        jsonString(out, r.ResultName);
        out += ", \"value\": ";
        jsonNumberOrNull(out, ResultValueNumber(r.ResultValue));
        out += ", \"valueText\": ";
        jsonString(out, r.ResultValue);
        out += ", \"unit\": ";
        jsonString(out, r.UnitName);
        out += ", \"class\": ";
        jsonString(out, r.ClassName);
        out += '}';
    }
    out += m.ResultList.empty() ? "]" : "\n      ]";

    jsonKey(out, "lines");
    out += '[';
    const auto lines = m.MeasureResult.Lines();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const TLineResult& l = lines[i];
        out += i ? ",\n        {" : "\n        {";
        out += "\"meanValue\": ";
        jsonFloat(out, l.MeanValue);
        out += ", \"minValue\": ";
        jsonFloat(out, l.MinValue);
        out += ", \"maxValue\": ";
        jsonFloat(out, l.MaxValue);
        out += ", \"leftMean\": ";
        jsonFloat(out, l.LeftMeanValue);
        out += ", \"rightMean\": ";
        jsonFloat(out, l.RightMeanValue);
        out += ", \"maxPosition\": ";
        jsonFloat(out, l.MaxPosAbs);
        out += ", \"usedPixel\": " + std::to_string(l.UsedPixel);
        out += ", \"centerPosition\": " + std::to_string(l.CenterPositionAbsolut);
        out += ", \"width\": " + std::to_string(l.Width);
        out += '}';
    }
    out += !lines.empty() ? "\n      ]" : "]";

    jsonKey(out, "image");
    out += "{\"min\": ";
    const auto lo = integerOf(m.ImgMin);
    const auto hi = integerOf(m.ImgMax);
    out += lo ? std::to_string(*lo) : "null";
    out += ", \"max\": ";
    out += hi ? std::to_string(*hi) : "null";
    out += ", \"values\": [";
    bool first = true;
    for (std::int32_t v : m.OrigImage) {
        if (v < 0) break;
        if (!first) out += ", ";
        first = false;
        out += std::to_string(v);
    }
    out += "]}";
}

void jsonQc(std::string& out, const TExportQc& q) {
    jsonKey(out, "role");
    jsonString(out, q.Role);
    jsonKey(out, "controlMaterial");
    jsonString(out, q.ControlMaterial);
    jsonKey(out, "qcFailed");
    out += q.QcFailed ? "true" : "false";
}

void csvQc(std::string& out, const std::vector<TExportQc>* qc, std::size_t index) {
    if (!qc) return;
    const TExportQc q = index < qc->size() ? (*qc)[index] : TExportQc{};
    csvText(out, q.Role);
    csvText(out, q.ControlMaterial);
    csvField(out, q.QcFailed ? "true" : "false");
}

}  // namespace

std::optional<double> ResultValueNumber(std::string_view text) {
    return plainNumber(text);
}

std::string IsoDateTime(const TDateData& d) {
    if (!isCalendarDate(d)) return {};
    std::string out;
    appendDigits(out, 2000u + d.Year, 4);
    out += '-';
    appendDigits(out, d.Month, 2);
    out += '-';
    appendDigits(out, d.MonthDay, 2);
    out += 'T';
    appendDigits(out, d.Hour, 2);
    out += ':';
    appendDigits(out, d.Minutes, 2);
    out += ':';
    appendDigits(out, d.Seconds, 2);
    return out;
}

std::string NumberText(double value) {
    if (!std::isfinite(value)) return {};
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

std::string NumberText(float value) {
    if (!std::isfinite(value)) return {};
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

std::string ExportCsv(const std::vector<const TMeasureSet*>& sets, ECsvForm form,
                      const std::vector<TExportQc>* qc) {
    std::string out = "\xEF\xBB\xBF";
    out += kMeasurementColumns;
    if (form == ECsvForm::ResultRows)
        out += ",result_no,result_name,value,value_text,unit,class,validity";
    else
        out +=
            ",line_no,mean_value,min_value,max_value,left_mean,right_mean,max_position,"
            "used_pixel,center_position,width";
    if (qc) out += ",role,control_material,qc_failed";
    csvEnd(out);
    for (std::size_t k = 0; k < sets.size(); ++k) {
        const TMeasureSet* m = sets[k];
        if (!m) continue;
        if (form == ECsvForm::ResultRows) {
            if (m->ResultList.empty()) {
                csvMeasurementFields(out, *m);
                out += ",,,,,,,";
                csvQc(out, qc, k);
                csvEnd(out);
            }
            for (std::size_t i = 0; i < m->ResultList.size(); ++i) {
                const TResultSet& r = m->ResultList[i];
                csvMeasurementFields(out, *m);
                csvField(out, std::to_string(i + 1));
                csvText(out, r.ResultName);
                const auto value = ResultValueNumber(r.ResultValue);
                csvField(out, value ? NumberText(*value) : std::string());
                csvText(out, r.ResultValue);
                csvText(out, r.UnitName);
                csvText(out, r.ClassName);
                csvText(out, r.Validity);
                csvQc(out, qc, k);
                csvEnd(out);
            }
        } else {
            const auto lines = m->MeasureResult.Lines();
            for (std::size_t i = 0; i < lines.size(); ++i) {
                const TLineResult& l = lines[i];
                csvMeasurementFields(out, *m);
                csvField(out, std::to_string(i + 1));
                for (float v : {l.MeanValue, l.MinValue, l.MaxValue, l.LeftMeanValue,
                                l.RightMeanValue, l.MaxPosAbs})
                    csvField(out, NumberText(v));
                csvField(out, std::to_string(l.UsedPixel));
                csvField(out, std::to_string(l.CenterPositionAbsolut));
                csvField(out, std::to_string(l.Width));
                csvQc(out, qc, k);
                csvEnd(out);
            }
        }
    }
    return out;
}

std::string ExportJson(const std::vector<const TMeasureSet*>& sets, const TExportOrigin& origin,
                       const std::vector<TExportQc>* qc) {
    std::string out = "{\n  \"format\": \"kyvo-measurements\",\n  \"formatVersion\": 1,";
    out += "\n  \"program\": {\"name\": ";
    jsonString(out, origin.ProgramName);
    out += ", \"version\": ";
    jsonString(out, origin.ProgramVersion);
    out += "},\n  \"measurements\": [";
    bool first = true;
    for (std::size_t k = 0; k < sets.size(); ++k) {
        const TMeasureSet* m = sets[k];
        if (!m) continue;
        out += first ? "\n" : ",\n";
        first = false;
        jsonMeasurement(out, *m);
        if (qc) jsonQc(out, k < qc->size() ? (*qc)[k] : TExportQc{});
        out += "\n    }";
    }
    out += first ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

}  // namespace kyvo
