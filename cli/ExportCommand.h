// The commands of kyvo-cli that work on a result file without a device:
// export (CSV or JSON) and report (PDF).
#pragma once

#include "cli/CliOptions.h"

namespace kyvo::cli {

// Runs export or report (global.command) with its own arguments
// (global.args) and returns the exit status.
int RunFileCommand(const Options& global);

}  // namespace kyvo::cli
