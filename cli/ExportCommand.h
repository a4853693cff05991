// The commands of kyvo-cli that work on a result file without a device:
// export (CSV or JSON) and report (PDF).
#pragma once

#include <optional>

namespace kyvo::cli {

// When the command word of argv is export or report, runs it and returns
// its exit status; otherwise returns none and the device commands run.
std::optional<int> RunFileCommand(int argc, char** argv);

}  // namespace kyvo::cli
