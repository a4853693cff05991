// The Levey-Jennings series of a material: per lot, the control values in
// time order against the lot's mean and +-1, 2, 3 SD, with the rules that
// fired at each value. Plain data; the chart is drawn elsewhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qc/Westgard.h"

namespace kyvo::qc {

struct TLjPoint {
    std::int64_t MeasurementId = 0;
    std::string TestId;
    std::string DateTime;
    std::string Device;
    std::optional<double> Value;  // none: shown at the chart's edge, never dropped
    std::string ValueText;
    std::optional<double> Z;
    std::vector<EQcRule> Rules;  // fired at this value
    bool Rejected = false;       // a rejecting rule among them
};

struct TLjSeries {
    TControlMaterial Material;  // the lot
    std::vector<TLjPoint> Points;
    // Mean, then mean +- 1, 2, 3 SD: {value, label} from -3 SD to +3 SD.
    std::vector<std::pair<double, std::string>> Lines() const;
};

// One series per lot of the material named name, the oldest lot first
// (by its first value, else its start); lots without values too.
std::vector<TLjSeries> BuildLeveyJennings(const std::vector<TControlMaterial>& materials,
                                          const std::vector<TControlPoint>& points,
                                          const std::vector<TQcViolation>& violations,
                                          const std::string& name);

}  // namespace kyvo::qc
