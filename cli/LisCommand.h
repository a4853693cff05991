// kyvo-cli lis: the archive's outbox to the lab information system.
#pragma once

#include "cli/CliOptions.h"

namespace kyvo::cli {

int RunLisCommand(const Options& global);

}  // namespace kyvo::cli
