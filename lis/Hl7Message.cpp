#include "lis/Hl7Message.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "files/ResultExport.h"
#include "lis/Hl7Escape.h"

namespace kyvo::lis {

namespace {

// A segment as its fields; empty fields at the end are left out.
class Segment {
  public:
    explicit Segment(std::string id) : fields_{std::move(id)} {}
    // Sets field n (1-based) to an already escaped value.
    Segment& Set(std::size_t n, std::string raw) {
        if (fields_.size() <= n) fields_.resize(n + 1);
        fields_[n] = std::move(raw);
        return *this;
    }
    Segment& Text(std::size_t n, std::string_view text) { return Set(n, Hl7Escape(text)); }
    std::string Finish() const {
        std::size_t last = fields_.size();
        while (last > 1 && fields_[last - 1].empty()) --last;
        std::string out = fields_[0];
        for (std::size_t i = 1; i < last; ++i) {
            out += '|';
            out += fields_[i];
        }
        out += '\r';
        return out;
    }

  private:
    std::vector<std::string> fields_;
};

std::string coded(const TCodedElement& c) {
    std::string out = Hl7Escape(c.Code);
    if (!c.Text.empty() || !c.System.empty()) out += '^' + Hl7Escape(c.Text);
    if (!c.System.empty()) out += '^' + Hl7Escape(c.System);
    return out;
}

std::string digits(int value, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, value);
    return buf;
}

std::string offsetText(long gmtoffSeconds) {
    const char sign = gmtoffSeconds < 0 ? '-' : '+';
    const long minutes = (gmtoffSeconds < 0 ? -gmtoffSeconds : gmtoffSeconds) / 60;
    return sign + digits(static_cast<int>(minutes / 60), 2) +
           digits(static_cast<int>(minutes % 60), 2);
}

std::string tmText(const std::tm& tm) {
    return digits(tm.tm_year + 1900, 4) + digits(tm.tm_mon + 1, 2) + digits(tm.tm_mday, 2) +
           digits(tm.tm_hour, 2) + digits(tm.tm_min, 2) + digits(tm.tm_sec, 2);
}

bool sameText(std::string_view a, std::string_view b) {
    return a == b;
}

enum class ERowState { Valid, Expired, Invalid };

// The row's validity text in English or in the rows' language. A text that
// is neither counts as invalid: a result whose validity cannot be told is
// never reported as final.
ERowState rowState(const TResultSet& row, const TextLookup& text) {
    const auto is = [&](const TLangEntry& e) {
        return sameText(row.Validity, e.Def) || (text && sameText(row.Validity, text(e)));
    };
    if (row.Validity.empty() || is(LE_Valid)) return ERowState::Valid;
    if (is(LE_KyvoExpired)) return ERowState::Expired;
    return ERowState::Invalid;
}

struct ObxValue {
    std::string Type;       // NM, SN, ST or empty
    std::string Value;      // escaped
    std::string ScaleFlag;  // "<" or ">" for a censored value
};

ObxValue obxValue(const TResultSet& row) {
    const std::string& v = row.ResultValue;
    if (const auto n = ResultValueNumber(v)) return {"NM", NumberText(*n), {}};
    if (!v.empty() && (v[0] == '<' || v[0] == '>')) {
        const std::size_t cmpLen = v.size() > 1 && v[1] == '=' ? 2 : 1;
        if (const auto n = ResultValueNumber(std::string_view(v).substr(cmpLen)))
            return {"SN", v.substr(0, cmpLen) + '^' + NumberText(*n), std::string(1, v[0])};
    }
    if (!v.empty()) return {"ST", Hl7Escape(v), {}};
    if (!row.ClassName.empty()) return {"ST", Hl7Escape(row.ClassName), {}};
    return {};
}

std::string rangeText(const TReferenceRange& r) {
    if (r.Low && r.High) return NumberText(*r.Low) + '-' + NumberText(*r.High);
    if (r.Low) return '>' + NumberText(*r.Low);
    if (r.High) return '<' + NumberText(*r.High);
    return {};
}

TCodedElement localCode(const std::string& testName, const std::string& resultName) {
    if (resultName.empty()) return {testName, testName, "L"};
    return {testName + "/" + resultName, resultName, "L"};
}

}  // namespace

std::string ControlIdFor(std::int64_t measurementId, int version) {
    return "KDR-" + std::to_string(measurementId) + "-" + std::to_string(version);
}

std::string Hl7Time(std::chrono::system_clock::time_point t) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&secs, &tm);
    return tmText(tm) + offsetText(tm.tm_gmtoff);
}

std::string Hl7Time(const TDateData& date) {
    if (!isValidDateData(date)) return {};
    std::tm tm{};
    tm.tm_year = 2000 + date.Year - 1900;
    tm.tm_mon = date.Month - 1;
    tm.tm_mday = date.MonthDay;
    tm.tm_hour = date.Hour;
    tm.tm_min = date.Minutes;
    tm.tm_sec = date.Seconds;
    tm.tm_isdst = -1;
    std::tm probe = tm;
    const std::time_t t = std::mktime(&probe);
    std::tm local{};
    if (t == static_cast<std::time_t>(-1) || !localtime_r(&t, &local)) return tmText(tm);
    // The device's clock shows wall time; the offset is the one in force then.
    return tmText(tm) + offsetText(local.tm_gmtoff);
}

std::string Hl7BirthDate(std::string_view s) {
    const auto num = [&](std::size_t pos, std::size_t len) {
        int v = 0;
        for (std::size_t i = pos; i < pos + len; ++i) {
            if (s[i] < '0' || s[i] > '9') return -1;
            v = v * 10 + (s[i] - '0');
        }
        return v;
    };
    int y = -1, m = -1, d = -1;
    if (s.size() == 10 && s[4] == '-' && s[7] == '-') {
        y = num(0, 4), m = num(5, 2), d = num(8, 2);
    } else if (s.size() == 8) {
        y = num(0, 4), m = num(4, 2), d = num(6, 2);
    } else if (s.size() == 10 && s[2] == '.' && s[5] == '.') {
        d = num(0, 2), m = num(3, 2), y = num(6, 4);
    }
    if (y < 1800 || m < 1 || m > 12 || d < 1) return {};
    const std::chrono::year_month_day ymd{std::chrono::year(y),
                                          std::chrono::month(static_cast<unsigned>(m)),
                                          std::chrono::day(static_cast<unsigned>(d))};
    if (!ymd.ok()) return {};
    return digits(y, 4) + digits(m, 2) + digits(d, 2);
}

std::string BuildOruR01(const TLisMeasurement& m, const TLisSettings& settings,
                        const TCodeMapping& mapping,
                        std::chrono::system_clock::time_point sendTime) {
    if (!m.Set) return {};
    const TMeasureSet& set = *m.Set;
    std::string out;

    Segment msh("MSH");
    msh.Set(1, "^~\\&")
        .Text(2, settings.SendingApplication)
        .Text(3, settings.SendingFacility)
        .Text(4, settings.ReceivingApplication)
        .Text(5, settings.ReceivingFacility)
        .Set(6, Hl7Time(sendTime))
        .Set(8, "ORU^R01^ORU_R01")
        .Text(9, ControlIdFor(m.MeasurementId, m.Version))
        .Set(10, settings.ProcessingId == EProcessingId::Training ? "T" : "P")
        .Set(11, "2.5.1")
        .Set(17, "UNICODE UTF-8");
    // MSH-1 is the field separator itself, so field n of MSH is at index n-1.
    out += msh.Finish();

    if (!set.PatientID.empty()) {
        Segment pid("PID");
        pid.Set(1, "1").Text(3, set.PatientID).Set(7, Hl7BirthDate(set.PatientBDate));
        out += pid.Finish();
    }

    const std::string status = m.Corrected ? "C" : "F";
    const std::string observed = Hl7Time(set.DateTime);

    Segment orc("ORC");
    orc.Set(1, "RE").Text(3, set.TestID);
    out += orc.Finish();

    const TTestCode* mappedTest = mapping.FindTest(set.TestName);
    const TCodedElement testCode = mappedTest ? mappedTest->Code : localCode(set.TestName, {});
    Segment obr("OBR");
    obr.Set(1, "1").Text(3, set.TestID).Set(4, coded(testCode)).Set(7, observed).Set(25, status);
    out += obr.Finish();

    int orderNotes = 0;
    if (!set.UserComment.empty()) {
        Segment nte("NTE");
        nte.Set(1, std::to_string(++orderNotes)).Set(2, "L").Text(3, set.UserComment);
        out += nte.Finish();
    }
    // A control's own rejection is in its values; the flag is for the
    // patients' results that followed it.
    if (m.QcFailed && m.Role != ESpecimenRole::Control) {
        Segment nte("NTE");
        nte.Set(1, std::to_string(++orderNotes)).Set(2, "L").Text(3, kQcFailedNote).Set(4, "RE");
        out += nte.Finish();
    }

    // Rows that share an observation code (a mapping line for a whole test,
    // two rows of one name) are told apart by OBX-4.
    std::vector<std::string> codes;
    for (const TResultSet& row : set.ResultList) {
        const TResultCode* rc = mapping.FindResult(set.TestName, row.ResultName);
        codes.push_back(coded(rc ? rc->Code : localCode(set.TestName, row.ResultName)));
    }
    for (std::size_t i = 0; i < set.ResultList.size(); ++i) {
        const TResultSet& row = set.ResultList[i];
        const ERowState state = rowState(row, m.Text);
        const TResultCode* rc = mapping.FindResult(set.TestName, row.ResultName);

        Segment obx("OBX");
        obx.Set(1, std::to_string(i + 1));
        obx.Set(3, codes[i]);
        if (std::count(codes.begin(), codes.end(), codes[i]) > 1) obx.Set(4, std::to_string(i + 1));
        if (!rc || rc->Unit.empty())
            obx.Text(6, row.UnitName);
        else
            obx.Set(6, coded({rc->Unit, {}, "UCUM"}));
        if (i < m.Ranges.size() && m.Ranges[i]) obx.Set(7, rangeText(*m.Ranges[i]));

        std::string note;
        if (state == ERowState::Invalid) {
            obx.Set(11, "X");
            note = row.ResultValue.empty() ? row.Validity : row.ResultValue;
        } else {
            const ObxValue v = obxValue(row);
            obx.Set(2, v.Type).Set(5, v.Value);
            std::string flags;
            if (const TClassFlag* f =
                    row.ClassName.empty() ? nullptr : mapping.FindFlag(row.ClassName))
                flags = Hl7Escape(f->Flag);
            if (!v.ScaleFlag.empty()) flags += (flags.empty() ? "" : "~") + v.ScaleFlag;
            obx.Set(8, flags).Set(11, status);
            if (state == ERowState::Expired) note = row.Validity;
        }
        obx.Set(14, observed).Text(18, m.DeviceSerial);
        out += obx.Finish();
        if (!note.empty()) {
            Segment nte("NTE");
            nte.Set(1, "1").Set(2, "L").Text(3, note);
            out += nte.Finish();
        }
    }

    if (m.Role != ESpecimenRole::Unknown) {
        Segment spm("SPM");
        spm.Set(1, "1").Set(11, m.Role == ESpecimenRole::Control ? "Q" : "P");
        if (mappedTest && !mappedTest->Specimen.Code.empty())
            spm.Set(4, coded(mappedTest->Specimen));
        out += spm.Finish();
    }
    return out;
}

}  // namespace kyvo::lis
