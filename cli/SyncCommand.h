// kyvo-cli sync: every reader plugged in read by itself, all at once, into
// the archive; with --watch it stays and reads each reader as it appears.
#pragma once

#include "cli/CliOptions.h"

namespace kyvo::cli {

int RunSyncCommand(const Options& o);

}  // namespace kyvo::cli
