// Westgard rules as pure functions over the control values of the archive.
//
// z = (value - mean) / SD of the value's material lot. At each new value of
// a series every rule is checked over the values that end with it:
//   1-2s  |z| > 2                                    warning
//   1-3s  |z| > 3 (then not also 1-2s)               reject
//   2-2s  two consecutive z > 2, or two z < -2       reject
//   4-1s  four consecutive z > 1, or four z < -1     reject
//   10x   ten consecutive on one side (z > 0 or z < 0)  reject
// so that eleven values on one side give two 10x. A series is one material
// lot in time order; no rule but R-4s looks across materials or lots.
//   R-4s  within one run (the same test on the same device on the same
//         calendar day), one control of any level with z > 2 and another
//         with z < -2                                reject
// R-4s fires at the value that completes the pair and names the latest
// earlier value of the run on the other side.
//
// Only controls with a number take part; a text-only or invalid value ("<5",
// "FAIL") neither breaks nor continues a series, and it is never a pass.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qc/ControlMaterial.h"

namespace kyvo::qc {

enum class EQcRule : std::uint8_t { R12s, R13s, R22s, RR4s, R41s, R10x };
enum class EQcSeverity : std::uint8_t { Warning, Reject };

// "1-2s", "1-3s", "2-2s", "R-4s", "4-1s", "10x".
std::string RuleName(EQcRule rule);
std::optional<EQcRule> RuleFromName(const std::string& name);
EQcSeverity RuleSeverity(EQcRule rule);
// "warning", "reject".
std::string SeverityName(EQcSeverity severity);

// One control measurement of a material lot.
struct TControlPoint {
    std::int64_t MeasurementId = 0;
    std::string TestId;    // the measurement's identity text
    std::string DateTime;  // ISO "YYYY-MM-DDThh:mm:ss"
    std::string Device;    // the reader's serial text
    std::int64_t MaterialId = 0;
    std::optional<double> Value;  // none: text-only or invalid
    std::string ValueText;        // as the device showed it
};

struct TQcViolation {
    EQcRule Rule = EQcRule::R12s;
    EQcSeverity Severity = EQcSeverity::Warning;
    std::int64_t MaterialId = 0;  // the lot of the value where it fired
    std::string Material;         // its name
    std::string Lot;
    // Oldest first; the last is the value where the rule fired.
    std::vector<std::int64_t> MeasurementIds;
    std::vector<std::string> TestIds;
};

// z of a value against a lot; none for an SD that is not positive.
std::optional<double> ZScore(const TControlMaterial& m, double value);

// Every violation, ordered by the value where each fired (time order of
// the points; at one value in the order R-4s... as listed in EQcRule).
// points in any order; those naming no material in materials are ignored.
// Points are ordered by DateTime, then MeasurementId.
std::vector<TQcViolation> EvaluateWestgard(const std::vector<TControlMaterial>& materials,
                                           std::vector<TControlPoint> points);

// The measurements at which a rejecting rule fired.
std::vector<std::int64_t> RejectedMeasurements(const std::vector<TQcViolation>& violations);

}  // namespace kyvo::qc
