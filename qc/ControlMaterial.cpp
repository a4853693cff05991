#include "qc/ControlMaterial.h"

#include <cctype>
#include <cmath>

namespace kyvo::qc {

bool IsIsoDay(const std::string& d) {
    if (d.size() != 10 || d[4] != '-' || d[7] != '-') return false;
    for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u}) {
        if (!std::isdigit(static_cast<unsigned char>(d[i]))) return false;
    }
    const int year = std::stoi(d.substr(0, 4));
    const int month = std::stoi(d.substr(5, 2));
    const int day = std::stoi(d.substr(8, 2));
    if (month < 1 || month > 12 || day < 1) return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

namespace {

bool Blank(const std::string& s) {
    for (char c : s) {
        if (!std::isspace(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

// Where a lot's use begins, comparable with a measurement's ISO time.
std::string Start(const TControlMaterial& m) {
    return m.Opened.empty() ? m.Added.substr(0, 19) : m.Opened;
}

template <typename Match>
const TControlMaterial* InUse(const std::vector<TControlMaterial>& materials,
                              const std::string& dateTime, Match match) {
    const TControlMaterial* best = nullptr;
    const TControlMaterial* oldest = nullptr;
    for (const TControlMaterial& m : materials) {
        if (!match(m)) continue;
        const std::string s = Start(m);
        if (!oldest || s < Start(*oldest) || (s == Start(*oldest) && m.Id < oldest->Id)) {
            oldest = &m;
        }
        if (s <= dateTime &&
            (!best || s > Start(*best) || (s == Start(*best) && m.Id > best->Id))) {
            best = &m;
        }
    }
    return best ? best : oldest;
}

}  // namespace

std::string CheckMaterial(const TControlMaterial& m) {
    if (Blank(m.Name)) return "A control material needs a name.";
    if (Blank(m.Test)) return "A control material needs the test it checks.";
    if (Blank(m.Result)) return "A control material needs the result name whose value it checks.";
    if (Blank(m.Lot)) return "A control material needs its lot.";
    if (m.Level < 1 || m.Level > 3) return "A control material's level is 1, 2 or 3.";
    if (!std::isfinite(m.Mean)) return "A control material's mean must be a number.";
    if (!std::isfinite(m.Sd) || m.Sd <= 0)
        return "A control material's standard deviation must be a number above 0.";
    if (!m.Expires.empty() && !IsIsoDay(m.Expires))
        return "\"" + m.Expires + "\" is no date of the form YYYY-MM-DD.";
    if (!m.Opened.empty() && !IsIsoDay(m.Opened))
        return "\"" + m.Opened + "\" is no date of the form YYYY-MM-DD.";
    return {};
}

const TControlMaterial* LotInUse(const std::vector<TControlMaterial>& materials,
                                 const std::string& name, const std::string& dateTime) {
    return InUse(materials, dateTime, [&](const TControlMaterial& m) { return m.Name == name; });
}

const TControlMaterial* LotByPatientId(const std::vector<TControlMaterial>& materials,
                                       const std::string& patientId, const std::string& test,
                                       const std::string& dateTime) {
    if (patientId.empty()) return nullptr;
    return InUse(materials, dateTime, [&](const TControlMaterial& m) {
        return m.PatientIdPrefix == patientId && m.Test == test;
    });
}

}  // namespace kyvo::qc
