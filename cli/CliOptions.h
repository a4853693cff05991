// kyvo-cli's command line: its options and their parsing, apart from the
// program so that the parser can be driven on its own.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/SettingsEnums.h"

namespace kyvo::cli {

enum ExitCode {
    kOk = 0,
    // qc check: a control was rejected by a Westgard rule.
    kQcRejected = 1,
    kUsage = 2,
    kNoDevice = 3,
    kTimeOut = 4,
    kDeviceError = 5,
    kFileError = 6,
    // The archive cannot be reached or used (server down, wrong password, a
    // newer schema, not an archive), a measurement it does not hold, or a
    // check that found problems.
    kArchiveError = 7,
    // kyvo-cli lis send/resend: not everything reached the LIS (a message
    // held, or left waiting because the LIS or another sender kept it).
    kLisIncomplete = 8,
};

struct Options {
    std::string port;  // the first --port
    // Every --port in order; only sync takes more than one.
    std::vector<std::string> ports;
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
    // The arguments of a command that parses its own (CommandWord::ownArguments),
    // in order: all but the global options and the command word.
    std::vector<std::string> args;
    // The measurement archive ("sqlite:PATH" or a PostgreSQL URI); empty:
    // the user setting "Archive"/"Location", else the default one.
    std::string archive;
};

// An option every command takes, before or after the command word. A new
// global option is its field in Options and one row of the table in
// CliOptions.cpp, for example
//   {.name = "--archive", .needsValue = "--archive needs a location", .text = &Options::archive}
// Exactly one of text, flag and take is set.
struct GlobalOption {
    std::string_view name;
    // The usage error when the value is missing; empty for a switch (flag).
    std::string_view needsValue = {};
    // A value kept as given; an empty one is refused with needsValue.
    std::string Options::*text = nullptr;
    // A switch: set when given.
    bool Options::*flag = nullptr;
    // A value that is checked and converted into o; returns the usage error
    // when it is refused, else an empty text.
    std::string (*take)(Options& o, const std::string& value) = nullptr;
};
const std::vector<GlobalOption>& GlobalOptions();

// A command word. Device commands are parsed by ParseOptions and run by the
// program; a command with its own arguments needs no device and parses
// Options::args itself (export, report).
struct CommandWord {
    std::string_view name;
    bool ownArguments;
    // Its options that take a value, so that such a value is neither taken
    // for the command word nor for a global option.
    std::vector<std::string_view> valueOptions;
};
const std::vector<CommandWord>& CommandWords();
const CommandWord* FindCommand(std::string_view name);

// The one parser of the global options: takes them into o wherever they
// stand, the first other word that is no option's value into o.command,
// and everything else, in order, into o.args. An exit code on a usage error
// and after --help or --version ahead of the command word.
std::optional<int> SplitCommandLine(int argc, char** argv, Options& o);

// What each exit code means, as --help and the manual page say it.
struct ExitStatusText {
    int code;
    std::string_view meaning;
};
const std::vector<ExitStatusText>& ExitStatuses();

// "kyvo-cli" and its version.
std::string ProgramAndVersion();
// The version alone.
std::string ProgramVersion();

// Parses argv into o; returns an exit code on a usage error (the reason and
// the usage on standard error) or after --help (the usage on standard output).
// For a command with its own arguments only the global options are checked;
// the command's arguments are left in o.args.
std::optional<int> ParseOptions(int argc, char** argv, Options& o);

}  // namespace kyvo::cli
