// What the window's quality control shows, apart from the widgets: the
// Levey-Jennings chart of a material as chart data, the texts of the
// violation list, and the texts of the QC flag in the measurement lists.
// Standard types only, so that all of it is tested without pixels.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "qc/LeveyJennings.h"
#include "qc/Westgard.h"
#include "report/ChartData.h"

namespace kyvo {

// The language's words the chart writes.
struct TLjChartTexts {
    std::string Mean = "Mean";
    std::string Sd = "SD";
    std::string LotSeries = "Lot %1";    // the legend of a lot's series
    std::string NoNumber = "no number";  // the strip of values without one
};

// The Levey-Jennings chart of one material in the window's language, drawn
// as `kyvo-cli qc chart` draws it. With lot, that lot's values against its
// own mean and +-1, 2, 3 SD lines (labelled with their values); without, every lot as a
// series of its own, each value as z (SD units around its own lot's mean),
// so that lots with other targets share the lines. Values without a number
// go to the chart's text strip at their time. A value at which rules fired
// is marked (reject when one of them rejects, else warning) with the rules'
// names. Lots are the series in the order given.
TChartData LeveyJenningsViewData(const std::vector<qc::TLjSeries>& lots,
                                 std::optional<std::size_t> lot, const TLjChartTexts& texts);

// The lot a material's chart opens with: the newest lot that has values,
// else the newest; none when there is no lot.
std::optional<std::size_t> DefaultLjLot(const std::vector<qc::TLjSeries>& lots);

// The notes people gave on violation v (the same rule, lot and value
// where it fired), in the order given.
std::vector<const TQcAcknowledgement*> AcknowledgementsOf(
    const std::vector<TQcAcknowledgement>& acks, const qc::TQcViolation& v);

// "Note (user, 2026-03-05 10:12)", one line per note.
std::string AcknowledgementText(const std::vector<const TQcAcknowledgement*>& acks);

// The columns of the violation list.
enum class EQcViolationColumn : std::uint8_t {
    Rule,
    Severity,
    Lot,
    Measurements,
    Acknowledged,
    Count_
};

// The control of a test on a device that holds a patient result under the
// lock-out: the newest control with a number of that test on that device
// at or before dateTime, when a rejecting rule fired at it.
struct TFailedControl {
    std::string Material;
    std::string Lot;
    std::string TestId;
    std::string DateTime;
    std::vector<std::string> Rules;  // the rejecting rules that fired at it
};
std::optional<TFailedControl> FailedControlFor(const std::vector<qc::TControlMaterial>& materials,
                                               const std::vector<qc::TControlPoint>& points,
                                               const std::vector<qc::TQcViolation>& violations,
                                               const std::string& test, const std::string& device,
                                               const std::string& dateTime);

// "CRP-L1 lot C-204, 2026-03-05 10:12:00, 1-3s 2-2s": what the flag's
// tooltip names.
std::string FailedControlText(const TFailedControl& c);

}  // namespace kyvo

namespace kyvo {

// The words of the role and QC flag columns.
struct TQcFlagTexts {
    std::string Control = "control";
    std::string Patient = "patient";
    std::string Failed = "QC failed";
};

// "control: CRP-L1" for a control, "patient" for a marked patient's
// measurement, empty while no role is set.
std::string QcRoleCellText(const std::string& role, const std::string& material,
                           const TQcFlagTexts& texts);
// The flag's cell: "QC failed" or empty.
std::string QcFlagCellText(bool failed, const TQcFlagTexts& texts);

}  // namespace kyvo

namespace kyvo {

// What quality control says of a measurement of the main list, which knows
// no archive rows: a control (by the archive's controls, found by the
// identity text), or a patient's result under a rejected control of its
// test on its reader (the reader's serial as the identity text names it).
struct TQcListMark {
    bool Control = false;
    std::string Material;  // of a control
    std::optional<TFailedControl> Failed;
};
TQcListMark QcListMarkOf(const TQcOverview& overview, const TMeasureSet& set);

}  // namespace kyvo
