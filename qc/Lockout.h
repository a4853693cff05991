// The lock-out of patient results: while the newest control of a test on a
// device is rejected, every patient result of that test from that device
// after it is "QC failed", until a control of that test on that device
// passes. A control passes when it has a number and no rejecting rule fired
// at it (a 1-2s warning passes); a control without a number changes nothing.
// Acknowledging a violation does not lift the lock: only a passing control
// does.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "qc/Westgard.h"

namespace kyvo::qc {

class TQcLockout {
  public:
    TQcLockout() = default;
    TQcLockout(const std::vector<TControlMaterial>& materials,
               const std::vector<TControlPoint>& points,
               const std::vector<TQcViolation>& violations);

    // Whether a patient result of test (the test's name) from device,
    // measured at dateTime (ISO), falls under a rejected control. A control
    // at the same time counts as before it. No date: never.
    bool Failed(const std::string& test, const std::string& device,
                const std::string& dateTime) const;

  private:
    struct TStep {
        std::string DateTime;
        bool Rejected = false;
    };
    // (test, device) -> the controls with a number, in time order.
    std::map<std::pair<std::string, std::string>, std::vector<TStep>> steps_;
};

}  // namespace kyvo::qc
