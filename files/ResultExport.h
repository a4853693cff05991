// Measurements out for spreadsheets and scripts: CSV (one row per result row
// or per line result) and one JSON document. Numbers are always written
// with "." and without thousands separators, whatever the process locale.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testdata/MeasureSet.h"

namespace kyvo {

enum class ECsvForm {
    ResultRows,  // one row per result row of each measurement
    LineRows,    // one row per line result of each measurement
};

// UTF-8 with a byte-order mark (spreadsheets that guess the encoding need
// it), RFC 4180 quoting, CR LF line ends, a header row of fixed English
// column names so that scripts can rely on them. A measurement without
// result rows still gets one row (its result fields empty) in the result
// form, so that no measurement is lost.
// What the archive knows of a measurement's quality control, for exports
// from the archive: one per set, in the same order. Exports of a result
// file have none and leave the columns out.
struct TExportQc {
    std::string Role;             // "patient", "control" or "" (not set)
    std::string ControlMaterial;  // for a control
    bool QcFailed = false;        // a patient's result under a rejected control
};

// With qc, every row ends with role,control_material,qc_failed (true/false).
std::string ExportCsv(const std::vector<const TMeasureSet*>& sets, ECsvForm form,
                      const std::vector<TExportQc>* qc = nullptr);

// Who wrote the document; goes into its head.
struct TExportOrigin {
    std::string ProgramName;
    std::string ProgramVersion;
};

// One JSON document (UTF-8, no byte-order mark) with an array of
// measurements; the shape is described by schema/kyvo-measurements.schema.json.
// With qc, each measurement also has "role", "controlMaterial" and "qcFailed".
std::string ExportJson(const std::vector<const TMeasureSet*>& sets, const TExportOrigin& origin,
                       const std::vector<TExportQc>* qc = nullptr);

// The number a result's value text shows: a plain decimal with "." (as the
// fixed format writes it). Texts such as "<0.5", ">100", "Not a number" or an
// invalid-test text give none.
std::optional<double> ResultValueNumber(std::string_view text);

// "2017-03-15T14:05:09" for a calendar date; empty when the stored date is
// none (the result file then shows its number text).
std::string IsoDateTime(const TDateData& date);

// The shortest text that reads back as value, with "." and no exponent for
// ordinary magnitudes; empty for NaN and infinities.
std::string NumberText(double value);
std::string NumberText(float value);

}  // namespace kyvo
