// Results to the lab information system: one HL7 v2.5.1 ORU^R01 message per
// measurement, UTF-8, segments ending with CR.
//
// MSH [PID] ORC OBR [NTE] [NTE] {OBX {NTE}} [SPM]
//
// The order's notes: the user's comment, then, for a patient's result taken
// while the newest control of its test on its device was rejected,
// kQcFailedNote (NTE-4 RE).
//
// PID only for a measurement with a patient id (PID-3; PID-7 from a birth
// date in a form read without guessing); the reader knows no name, so PID-5
// stays empty. SPM only where the specimen role is known: SPM-11 P for a
// patient's, Q for a control's; SPM-4 the specimen type the mapping's test
// line names, else empty. OBR-4 is the mapping's test code, else the test's
// name as a local code (L); OBR-25 and OBX-11 are F, or C for a correction.
//
// How a result row becomes an OBX:
// - a plain number ("7.25") is NM, written with "." whatever the locale;
// - a value beyond the device's measuring limits ("<0.5", ">200") is SN
//   (comparator^number), so that the LIS keeps a number it can compare and
//   the comparator it must not drop; OBX-8 then also carries "<" or ">"
//   (below/above the instrument's scale, table 0078);
// - any other value text ("Not a number", "Infinite"), or a class without a
//   value (a qualitative test), is ST with that text;
// - an invalid row (the device's invalid-test text) carries no value: OBX-11
//   is X (result cannot be obtained), and the device's text follows in an
//   NTE, so that no LIS can take the text for a result;
// - a row of an expired test card keeps its value and gets an NTE with the
//   row's validity text;
// - OBX-4 numbers rows that share one observation code (a mapping line for
//   a whole test), so that the LIS can tell them apart;
// - OBX-8 is the flag the mapping gives for the row's class, when it gives
//   one; an unmapped class leaves it empty (a class name is the test maker's
//   word, not an HL7 flag).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lis/CodeMapping.h"
#include "testdata/MeasureSet.h"

namespace kyvo::lis {

enum class EProcessingId { Production, Training };  // MSH-11 P or T

struct TLisSettings {
    std::string SendingApplication = "KyvoDataReader";  // MSH-3
    std::string SendingFacility;                        // MSH-4
    std::string ReceivingApplication;                   // MSH-5
    std::string ReceivingFacility;                      // MSH-6
    EProcessingId ProcessingId = EProcessingId::Production;
};

enum class ESpecimenRole { Unknown, Patient, Control };

// An interval for OBX-7; either end may be missing.
struct TReferenceRange {
    std::optional<double> Low;
    std::optional<double> High;
};

struct TLisMeasurement {
    const TMeasureSet* Set = nullptr;
    std::int64_t MeasurementId = 0;  // stable identity in the archive
    int Version = 1;                 // raised by every correction
    bool Corrected = false;          // OBX-11/OBR-25 C instead of F
    ESpecimenRole Role = ESpecimenRole::Unknown;
    std::string DeviceSerial;  // OBX-18
    // A patient's result while the newest control of its test on its device
    // was rejected: an NTE on the order says so.
    bool QcFailed = false;
    // One entry per result row (by index), or fewer: a reference interval
    // for OBX-7. The device's measuring limits are no reference interval.
    std::vector<std::optional<TReferenceRange>> Ranges;
    // The language the rows' validity texts were made in; the English texts
    // are always recognised.
    TextLookup Text;
};

inline constexpr const char* kQcFailedNote =
    "QC failed: the newest control of this test on this device was rejected.";

// "KDR-<id>-<version>": the same for every resend of one version, a new one
// for a corrected version. Fits MSH-10's 20 characters for ids below 10^12
// and versions below 1000.
std::string ControlIdFor(std::int64_t measurementId, int version);

// "YYYYMMDDHHMMSS+hhmm" of a moment in the process's time zone.
std::string Hl7Time(std::chrono::system_clock::time_point t);
// The device's local date with the UTC offset the process's time zone has at
// that date; empty for bytes that are no calendar date.
std::string Hl7Time(const TDateData& date);
// "YYYYMMDD" of a birth date written YYYY-MM-DD, YYYYMMDD or DD.MM.YYYY;
// empty for anything else (a date is never guessed).
std::string Hl7BirthDate(std::string_view text);

// The message for m (empty without m.Set). sendTime goes into MSH-7.
std::string BuildOruR01(const TLisMeasurement& m, const TLisSettings& settings,
                        const TCodeMapping& mapping,
                        std::chrono::system_clock::time_point sendTime);

}  // namespace kyvo::lis
