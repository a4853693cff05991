// A control material as the lab defines it from the package insert: which
// result of which test it checks, its lot and level, and the target mean and
// standard deviation the Westgard rules measure against. One row per lot: a
// new lot of a material is a new row under the same name, with its own
// targets, and starts a new series.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kyvo::qc {

struct TControlMaterial {
    std::int64_t Id = 0;  // the archive's id of this lot of the material
    std::string Name;     // "CRP-L1"; the same for every lot
    std::string Test;     // the test's name as measurements carry it
    std::string Result;   // the result row's name whose value is the control value
    std::string Lot;      // the control material's lot, not the test cards'
    int Level = 1;        // 1, 2 or 3
    double Mean = 0;
    double Sd = 0;
    std::string Expires;          // YYYY-MM-DD or empty
    std::string Opened;           // YYYY-MM-DD or empty
    std::string PatientIdPrefix;  // a measurement with exactly this patient id is a control
    std::string Added;            // ISO time the archive took it in
    std::string Retired;          // ISO time it was retired; empty while in use
};

// Empty when m can be kept; otherwise why not, in one sentence. Checks the
// texts, the level, a finite mean, a finite positive SD and the dates.
std::string CheckMaterial(const TControlMaterial& m);

// True for a day written YYYY-MM-DD that exists.
bool IsIsoDay(const std::string& text);

// The lot of the material named name that was in use at dateTime (ISO):
// the one with the latest start (opened day, else the day it was added) not
// after that time; a time before every start takes the oldest lot. Null when
// no lot has that name. materials in any order.
const TControlMaterial* LotInUse(const std::vector<TControlMaterial>& materials,
                                 const std::string& name, const std::string& dateTime);

// The same for a measurement of test (the test's name) with patient id
// patientId: the lot in use of the material of that test whose prefix the
// patient id equals, or null. A prefix names one material per test.
const TControlMaterial* LotByPatientId(const std::vector<TControlMaterial>& materials,
                                       const std::string& patientId, const std::string& test,
                                       const std::string& dateTime);

}  // namespace kyvo::qc
