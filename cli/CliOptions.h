// kyvo-cli's command line: its options and their parsing, apart from the
// program so that the parser can be driven on its own.
#pragma once

#include <optional>
#include <string>

#include "files/SettingsEnums.h"

namespace kyvo::cli {

enum ExitCode {
    kOk = 0,
    kUsage = 2,
    kNoDevice = 3,
    kTimeOut = 4,
    kDeviceError = 5,
    kFileError = 6,
    // The archive cannot be reached or used (server down, wrong password, a
    // newer schema, not an archive), a measurement it does not hold, or a
    // check that found problems.
    kArchiveError = 7,
};

struct Options {
    std::string port;
    std::optional<int> ftdi;
    std::string baud;
    std::optional<ETSVVersion> layout;
    std::string command;
    std::string out;
    bool overwrite = false;
    bool full = false;  // read both rings whole, whatever is remembered
    std::string config;
    std::optional<int> stored;
    bool rfid = false;
    bool timer = false;
    bool combine = false;
    std::optional<std::string> setClock;
    bool yes = false;
    bool verbose = false;
    // Every byte to and from the device, appended to this file.
    std::string trace;
    // The measurement archive ("sqlite:PATH" or a PostgreSQL URI); empty:
    // the user setting "Archive"/"Location", else the default one.
    std::string archive;
};

// "kyvo-cli" and its version.
std::string ProgramAndVersion();
// The version alone.
std::string ProgramVersion();

// Parses argv into o; returns an exit code on a usage error (the reason and
// the usage on standard error) or after --help (the usage on standard output).
std::optional<int> ParseOptions(int argc, char** argv, Options& o);

}  // namespace kyvo::cli
