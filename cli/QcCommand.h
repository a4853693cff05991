// kyvo-cli qc ...: quality control in the archive without a device or a
// window: control materials, the Westgard check with its exit status, and
// the Levey-Jennings chart of a material.
#pragma once

#include "cli/CliOptions.h"

namespace kyvo::cli {

// global holds the parsed global options and the qc command's own
// arguments; returns the exit status (qc check: 1 when a control was
// rejected).
int RunQcCommand(const Options& global);

}  // namespace kyvo::cli
