#include "cli/CliOptions.h"

#include <cstdio>
#include <iostream>

#include "protocol/ByteBuffer.h"
#include "protocol/KyvoCommand.h"

namespace kyvo::cli {
namespace {

const char* const kUsageText =
    "usage: kyvo-cli [--port PATH | --ftdi N] [--baud N] [--layout long|short|tobrel]\n"
    "                [--trace FILE] [--archive LOCATION] COMMAND\n"
    "  ports                       list FTDI devices and serial ports (USB, Bluetooth)\n"
    "  identify                    print firmware, serial, EEPROM version, clock, capabilities\n"
    "  read --out FILE [--overwrite] [--full]\n"
    "                              read the stored measurements into FILE (only\n"
    "                              what changed since the last read; --full: all)\n"
    "  measure (--config FILE.bin | --stored N | --rfid) [--timer] [--combine] --out FILE\n"
    "                              run a measurement and add its result to FILE\n"
    "  clock [--set now | --set \"YYYY-MM-DD hh:mm:ss\"]\n"
    "  format --yes\n"
    "  export IN.tsv --to csv|json [--lines] [--select TESTID...] [--out FILE]\n"
    "                              a result file as CSV or JSON (no device needed)\n"
    "  report IN.tsv --out REPORT.pdf [--select TESTID...]\n"
    "                              a PDF report, one page per measurement\n"
    "  archive list|report|import|comment|patient|remove|history|check|copy|role ...\n"
    "                              the measurement archive (kyvo-cli archive --help)\n"
    "  qc material add|list|retire ... | qc check | qc chart MATERIAL --out FILE\n"
    "                              quality control in the archive (kyvo-cli qc --help)\n"
    "  lis send|status|resend|preview ... [--lis HOST:PORT]\n"
    "                              results to the lab information system (kyvo-cli lis --help)\n"
    "  sync [--watch]              read every reader plugged in (cables, each --port,\n"
    "                              [Sync] Ports) into the archive, all at once;\n"
    "                              --watch: stay and read each one as it appears\n"
    "kyvo-cli --help | --version\n"
    "--trace FILE appends every byte to and from the device to FILE (time, direction,\n"
    "hex and text), for support; a FILE that cannot be written ends with status 6.\n"
    "--archive LOCATION uses that archive (sqlite:PATH or postgresql://...) instead of\n"
    "the user setting \"Archive\"/\"Location\"; read and measure feed it unless\n"
    "\"Archive\"/\"Feed\" is FALSE.\n"
    "Exit status: 0 ok, 1 qc check found a rejected control, 2 bad usage, 3 no port or\n"
    "no device, 4 time-out, 5 device or communication error, 6 file error, 7 archive\n"
    "error (cannot be reached or used), 8 not everything reached the LIS (held, or\n"
    "waiting for an unreachable LIS).\n";

int UsageError(const std::string& what) {
    std::cerr << "kyvo-cli: " << what << "\n" << kUsageText;
    return kUsage;
}

std::string TakeFtdi(Options& o, const std::string& v) {
    std::uint32_t n = 0;
    if (!strToCardinal(v, n) || n == 0)
        return "--ftdi needs a device number from 1 (see kyvo-cli ports)";
    o.ftdi = static_cast<int>(n);
    return {};
}

std::string TakePort(Options& o, const std::string& v) {
    if (v.empty()) return "--port needs a device path";
    if (o.port.empty()) o.port = v;
    o.ports.push_back(v);
    return {};
}

std::string TakeBaud(Options& o, const std::string& v) {
    std::uint32_t n = 0;
    if (!strToCardinal(v, n) || n == 0) return "--baud needs a positive number";
    o.baud = v;
    return {};
}

std::string TakeLayout(Options& o, const std::string& v) {
    const std::string w = upperCaseAscii(v);
    if (w == "LONG")
        o.layout = TSVVLong;
    else if (w == "SHORT")
        o.layout = TSVVShort;
    else if (w == "TOBREL")
        o.layout = TSVVTobrel;
    else
        return "unknown layout \"" + v + "\" (long, short or tobrel)";
    return {};
}

void PrintHelp() {
    std::cout << kUsageText << "exit status:\n";
    for (const auto& s : ExitStatuses()) std::cout << "  " << s.code << "  " << s.meaning << "\n";
}

const GlobalOption* FindGlobal(std::string_view name) {
    for (const auto& g : GlobalOptions())
        if (g.name == name) return &g;
    return nullptr;
}

bool TakesValue(const CommandWord* c, std::string_view a) {
    if (c) {
        for (auto v : c->valueOptions)
            if (v == a) return true;
        return false;
    }
    // Ahead of the command word: an option of any command.
    for (const auto& w : CommandWords())
        if (TakesValue(&w, a)) return true;
    return false;
}

}  // namespace

std::string ProgramAndVersion() {
    return "kyvo-cli " KYVO_VERSION;
}

std::string ProgramVersion() {
    return KYVO_VERSION;
}

const std::vector<GlobalOption>& GlobalOptions() {
    static const std::vector<GlobalOption> options = {
        {.name = "--port", .needsValue = "--port needs a device path", .take = TakePort},
        {.name = "--ftdi",
         .needsValue = "--ftdi needs a device number from 1 (see kyvo-cli ports)",
         .take = TakeFtdi},
        {.name = "--baud", .needsValue = "--baud needs a positive number", .take = TakeBaud},
        {.name = "--layout",
         .needsValue = "--layout needs long, short or tobrel",
         .take = TakeLayout},
        {.name = "--trace", .needsValue = "--trace needs a file name", .text = &Options::trace},
        {.name = "--archive",
         .needsValue = "--archive needs a location (sqlite:PATH or postgresql://...)",
         .text = &Options::archive},
        {.name = "--verbose", .flag = &Options::verbose},
    };
    return options;
}

const std::vector<CommandWord>& CommandWords() {
    // Every device command takes the device commands' options (and says
    // nothing of those it has no use for).
    static const std::vector<std::string_view> device = {"--out", "--config", "--stored", "--set"};
    static const std::vector<CommandWord> words = {
        {"ports", false, device},
        {"identify", false, device},
        {"read", false, device},
        {"measure", false, device},
        {"clock", false, device},
        {"format", false, device},
        {"export", true, {"--to", "--out"}},
        {"report", true, {"--out"}},
        {"sync", true, {}},
        {"archive",
         true,
         {"--from", "--to", "--test", "--lot", "--device", "--text", "--format", "--out",
          "--reason", "--role"}},
        {"qc",
         true,
         {"--test", "--result", "--lot", "--level", "--mean", "--sd", "--expires", "--opened",
          "--patient-id-prefix", "--material", "--format", "--out"}},
        {"lis", true, {"--lis", "--since", "--attempts"}},
    };
    return words;
}

const CommandWord* FindCommand(std::string_view name) {
    for (const auto& c : CommandWords())
        if (c.name == name) return &c;
    return nullptr;
}

const std::vector<ExitStatusText>& ExitStatuses() {
    static const std::vector<ExitStatusText> statuses = {
        {kOk, "Success."},
        {kQcRejected,
         "qc check found a control rejected by a Westgard rule (1-3s, 2-2s, R-4s, 4-1s or 10x)."},
        {kUsage, "Bad usage."},
        {kNoDevice,
         "No port or no device: a port that does not exist, is in use by another program or is "
         "not permitted, or a line that hung up."},
        {kTimeOut, "Time-out: the device stopped answering."},
        {kDeviceError, "Device or communication error."},
        {kFileError,
         "File error, also a trace file that cannot be written or an archive import that "
         "stopped at a damaged line."},
        {kArchiveError,
         "Archive error: the archive cannot be reached (server down, wrong password), was made "
         "by a newer version of the program, is no archive, holds no measurement with that id, "
         "or its check found problems."},
        {kLisIncomplete,
         "Not everything reached the LIS: a message was held (the LIS answered AE or AR, or its "
         "TLS check failed), or messages still wait because the LIS could not be reached or "
         "another sender works the archive's outbox."},
    };
    return statuses;
}

std::optional<int> SplitCommandLine(int argc, char** argv, Options& o) {
    const CommandWord* command = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (TakesValue(command, a)) {
            // The command's own option: its value goes along, whatever it looks like.
            o.args.push_back(a);
            if (i + 1 < argc) o.args.emplace_back(argv[++i]);
        } else if (const GlobalOption* g = FindGlobal(a)) {
            if (g->flag) {
                o.*(g->flag) = true;
                continue;
            }
            if (i + 1 >= argc) return UsageError(std::string(g->needsValue));
            const std::string value = argv[++i];
            if (g->text) {
                if (value.empty()) return UsageError(std::string(g->needsValue));
                o.*(g->text) = value;
            } else if (const std::string refused = g->take(o, value); !refused.empty()) {
                return UsageError(refused);
            }
        } else if (o.command.empty() && (a == "--help" || a == "-h")) {
            PrintHelp();
            return kOk;
        } else if (o.command.empty() && a == "--version") {
            std::cout << ProgramAndVersion() << "\n";
            return kOk;
        } else if (o.command.empty() && !a.empty() && a[0] != '-') {
            o.command = a;
            command = FindCommand(a);
        } else {
            o.args.push_back(a);
        }
    }
    return std::nullopt;
}

std::optional<int> ParseOptions(int argc, char** argv, Options& o) {
    if (auto code = SplitCommandLine(argc, argv, o)) return code;
    const CommandWord* command = FindCommand(o.command);
    if (command && command->ownArguments) return std::nullopt;
    // The options of the device commands; they may stand before the command word too.
    const std::vector<std::string>& args = o.args;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h") {
            PrintHelp();
            return kOk;
        } else if (a == "--version") {
            std::cout << ProgramAndVersion() << "\n";
            return kOk;
        } else if (a == "--out") {
            if (!value(o.out)) return UsageError("--out needs a file name");
        } else if (a == "--overwrite") {
            o.overwrite = true;
        } else if (a == "--full") {
            o.full = true;
        } else if (a == "--config") {
            if (!value(o.config)) return UsageError("--config needs a configuration file");
        } else if (a == "--stored") {
            std::uint32_t n = 0;
            if (!value(v) || !strToCardinal(v, n) || n == 0)
                return UsageError("--stored needs a configuration number from 1");
            o.stored = static_cast<int>(n);
        } else if (a == "--rfid") {
            o.rfid = true;
        } else if (a == "--timer") {
            o.timer = true;
        } else if (a == "--combine") {
            o.combine = true;
        } else if (a == "--set") {
            if (!value(v)) return UsageError("--set needs now or \"YYYY-MM-DD hh:mm:ss\"");
            o.setClock = v;
        } else if (a == "--yes") {
            o.yes = true;
        } else if (!a.empty() && a[0] == '-') {
            return UsageError("unknown option " + a);
        } else {
            return UsageError("unexpected argument " + a);
        }
    }
    if (o.command.empty()) return UsageError("no command given");
    if (!command) return UsageError("unknown command " + o.command);
    if (!o.port.empty() && o.ftdi) return UsageError("give either --port or --ftdi");
    if (o.ports.size() > 1) return UsageError("only sync takes several --port");
    if (o.command != "ports" && o.port.empty() && !o.ftdi)
        return UsageError("name the device with --port PATH or --ftdi N");
    if ((o.command == "read" || o.command == "measure") && o.out.empty())
        return UsageError(o.command + " needs --out FILE");
    if (o.command == "measure") {
        const int sources = (!o.config.empty()) + (o.stored ? 1 : 0) + (o.rfid ? 1 : 0);
        if (sources != 1) return UsageError("measure needs one of --config, --stored, --rfid");
    }
    if (o.command == "format" && !o.yes)
        return UsageError("format erases the device's results; confirm with --yes");
    if (o.setClock && *o.setClock != "now") {
        int y, mo, d, h, mi, s;
        char tail;
        if (std::sscanf(o.setClock->c_str(), "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &s,
                        &tail) != 6)
            return UsageError("--set needs now or \"YYYY-MM-DD hh:mm:ss\" (years 2000 to 2099)");
        if (const char* field = invalidDateTimeField(y, mo, d, h, mi, s))
            return UsageError("--set " + *o.setClock + ": " +
                              (std::string(field) == "year" ? "the year must be 2000 to 2099"
                                                            : std::string("no such ") + field));
    }
    return std::nullopt;
}

}  // namespace kyvo::cli
