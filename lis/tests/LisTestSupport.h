// Measure sets, a fixed time zone and the python3-hl7 read-back shared by
// the LIS tests.
#pragma once

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "lis/Hl7Message.h"
#include "testdata/MeasureSet.h"

namespace kyvo::lis::test {

// Central European time (UTC+1, summer UTC+2) as a POSIX rule, so that the
// offsets in golden messages need no time zone database.
class BerlinTime {
  public:
    BerlinTime() {
        if (const char* tz = std::getenv("TZ")) old_ = tz, hadOld_ = true;
        setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        tzset();
    }
    ~BerlinTime() {
        if (hadOld_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    std::string old_;
    bool hadOld_ = false;
};

inline TDateData Date(int y, int mo, int d, int h, int mi, int s) {
    TDateData out;
    setDateData(out, static_cast<std::uint8_t>(y - 2000), static_cast<std::uint8_t>(mo),
                static_cast<std::uint8_t>(d), static_cast<std::uint8_t>(h),
                static_cast<std::uint8_t>(mi), static_cast<std::uint8_t>(s));
    return out;
}

inline TResultSet Row(std::string name, std::string value, std::string unit, std::string cls = {},
                      std::string validity = "Valid") {
    TResultSet r;
    r.Validity = std::move(validity);
    r.ResultName = std::move(name);
    r.ResultValue = std::move(value);
    r.UnitName = std::move(unit);
    r.ClassName = std::move(cls);
    return r;
}

// 2026-12-11 13:00:00 UTC.
inline std::chrono::system_clock::time_point SendTime() {
    return std::chrono::system_clock::time_point(std::chrono::seconds(1796994000));
}

// Runs Debian's python3 on script with args; returns its exit status and
// output. Status 77: python3 or its hl7 module is missing.
struct TPythonRun {
    int Status = -1;
    std::string Output;
};
TPythonRun RunPython(const std::string& script, const std::vector<std::string>& args);
std::string TempPath(const std::string& name);
void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace kyvo::lis::test
