#include "cli/CliOptions.h"

#include <cstdio>
#include <iostream>
#include <set>

#include "protocol/ByteBuffer.h"
#include "protocol/KyvoCommand.h"

namespace kyvo::cli {
namespace {

const char* const kUsageText =
    "usage: kyvo-cli [--port PATH | --ftdi N] [--baud N] [--layout long|short|tobrel]\n"
    "                [--trace FILE] COMMAND\n"
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
    "kyvo-cli --help | --version\n"
    "--trace FILE appends every byte to and from the device to FILE (time, direction,\n"
    "hex and text), for support; a FILE that cannot be written ends with status 6.\n";

int UsageError(const std::string& what) {
    std::cerr << "kyvo-cli: " << what << "\n" << kUsageText;
    return kUsage;
}

}  // namespace

std::string ProgramAndVersion() {
    return "kyvo-cli " KYVO_VERSION;
}

std::optional<int> ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h") {
            std::cout << kUsageText;
            return kOk;
        } else if (a == "--version") {
            std::cout << "kyvo-cli " KYVO_VERSION "\n";
            return kOk;
        } else if (a == "--port") {
            if (!value(o.port)) return UsageError("--port needs a device path");
        } else if (a == "--ftdi") {
            std::uint32_t n = 0;
            if (!value(v) || !strToCardinal(v, n) || n == 0)
                return UsageError("--ftdi needs a device number from 1 (see kyvo-cli ports)");
            o.ftdi = static_cast<int>(n);
        } else if (a == "--baud") {
            std::uint32_t n = 0;
            if (!value(o.baud) || !strToCardinal(o.baud, n) || n == 0)
                return UsageError("--baud needs a positive number");
        } else if (a == "--layout") {
            if (!value(v)) return UsageError("--layout needs long, short or tobrel");
            const std::string w = upperCaseAscii(v);
            if (w == "LONG")
                o.layout = TSVVLong;
            else if (w == "SHORT")
                o.layout = TSVVShort;
            else if (w == "TOBREL")
                o.layout = TSVVTobrel;
            else
                return UsageError("unknown layout \"" + v + "\" (long, short or tobrel)");
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
        } else if (a == "--trace") {
            if (!value(o.trace) || o.trace.empty()) return UsageError("--trace needs a file name");
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (!a.empty() && a[0] == '-') {
            return UsageError("unknown option " + a);
        } else if (o.command.empty()) {
            o.command = a;
        } else {
            return UsageError("unexpected argument " + a);
        }
    }
    static const std::set<std::string> commands = {"ports",   "identify", "read",
                                                   "measure", "clock",    "format"};
    if (o.command.empty()) return UsageError("no command given");
    if (!commands.count(o.command)) return UsageError("unknown command " + o.command);
    if (!o.port.empty() && o.ftdi) return UsageError("give either --port or --ftdi");
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
