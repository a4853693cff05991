// kyvo-cli archive ...: the measurement archive from the command line,
// without a device: list, report, import, the user's edits with their
// history, the integrity check and copying to another archive.
#pragma once

namespace kyvo::cli {

// argv is the whole command line; returns the exit status.
int RunArchiveCommand(int argc, char** argv);

}  // namespace kyvo::cli
