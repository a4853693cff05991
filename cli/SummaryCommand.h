// kyvo-cli archive report --summary: the summary report of the measurements a
// filter selects, with each result's trend chart.
#pragma once

#include <string>

#include "app/AppServices.h"
#include "archive/Archive.h"

namespace kyvo::cli {

// Writes the summary PDF to out; messages go to standard output and error.
// Returns the exit status. TArchiveError passes through to the caller.
int WriteArchiveSummary(IArchive& archive, const TArchiveFilter& filter, const std::string& out,
                        ILanguage& language);

}  // namespace kyvo::cli
