// kyvo-cli archive ...: the measurement archive from the command line,
// without a device: list, report, import, the user's edits with their
// history, the integrity check and copying to another archive.
#pragma once

#include "cli/CliOptions.h"

namespace kyvo::cli {

// global holds the parsed global options and the archive command's own
// arguments; returns the exit status.
int RunArchiveCommand(const Options& global);

}  // namespace kyvo::cli
