// kyvo-cli archive ...: the measurement archive from the command line,
// without a device: list, report, import, the user's edits with their
// history, the integrity check and copying to another archive.
#pragma once

#include <string>

#include "archive/Archive.h"
#include "cli/CliOptions.h"

namespace kyvo::cli {

// Says on standard error why the archive at location failed and returns the
// exit status for it (7, or 2 for input the archive refused).
int ArchiveFailure(const TArchiveError& e, const std::string& location);

// global holds the parsed global options and the archive command's own
// arguments; returns the exit status.
int RunArchiveCommand(const Options& global);

}  // namespace kyvo::cli
