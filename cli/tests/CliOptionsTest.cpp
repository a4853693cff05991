// kyvo-cli's command line on its own: where the command word is, which
// arguments are global options, and the exit statuses the manual promises.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliOptions.h"

namespace {

using kyvo::cli::Options;

struct Parsed {
    std::optional<int> code;
    Options o;
    std::string err;
};

Parsed Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "kyvo-cli");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Parsed p;
    std::ostringstream sink;
    auto* const err = std::cerr.rdbuf(sink.rdbuf());
    auto* const out = std::cout.rdbuf(sink.rdbuf());
    p.code = kyvo::cli::ParseOptions(static_cast<int>(args.size()), argv.data(), p.o);
    std::cerr.rdbuf(err);
    std::cout.rdbuf(out);
    p.err = sink.str();
    return p;
}

// A global option's value is never the command word, whichever command
// follows and wherever the option stands; a command's own option keeps
// its value even when that looks like a global option.
TEST(CliOptions, theCommandWordIsFoundPastEveryGlobalOptionsValue) {
    struct Case {
        std::vector<std::string> args;
        std::string command;
        std::string trace;
        std::string port;
        std::vector<std::string> args_left;
    };
    const Case cases[] = {
        {{"--trace", "report", "--port", "P", "read", "--out", "r.tsv"}, "read", "report", "P", {}},
        {{"--trace", "export", "--port", "P", "identify"}, "identify", "export", "P", {}},
        {{"--trace", "t.log", "export", "in.tsv", "--to", "csv"},
         "export",
         "t.log",
         "",
         {"in.tsv", "--to", "csv"}},
        {{"export", "in.tsv", "--trace", "t.log", "--to", "json"},
         "export",
         "t.log",
         "",
         {"in.tsv", "--to", "json"}},
        {{"--port", "report", "--trace", "read", "report", "in.tsv", "--out", "--trace"},
         "report",
         "read",
         "report",
         {"in.tsv", "--out", "--trace"}},
        {{"--layout", "short", "--out", "x.csv", "export", "in.tsv", "--to", "csv"},
         "export",
         "",
         "",
         {"--out", "x.csv", "in.tsv", "--to", "csv"}},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        const Parsed p = Parse(c.args);
        EXPECT_FALSE(p.code) << line << "\n" << p.err;
        EXPECT_EQ(p.o.command, c.command) << line;
        EXPECT_EQ(p.o.trace, c.trace) << line;
        EXPECT_EQ(p.o.port, c.port) << line;
        if (kyvo::cli::FindCommand(c.command)->ownArguments) {
            EXPECT_EQ(p.o.args, c.args_left) << line;
        }
    }
}

// The device commands' options may stand before the command word, as they
// always could; the global options after it.
TEST(CliOptions, deviceCommandsTakeTheirOptionsAndTheGlobalOnesOnEitherSide) {
    const Parsed before = Parse({"--out", "r.tsv", "--full", "--port", "P", "read"});
    ASSERT_FALSE(before.code) << before.err;
    EXPECT_EQ(before.o.out, "r.tsv");
    EXPECT_TRUE(before.o.full);
    const Parsed after = Parse({"read", "--out", "r.tsv", "--baud", "9600", "--layout", "tobrel",
                                "--verbose", "--port", "P", "--trace", "t"});
    ASSERT_FALSE(after.code) << after.err;
    EXPECT_EQ(after.o.baud, "9600");
    EXPECT_EQ(after.o.layout, kyvo::TSVVTobrel);
    EXPECT_TRUE(after.o.verbose);
    EXPECT_EQ(after.o.trace, "t");
}

// sync reads every reader named, in order, and needs none named (it finds
// the reader cables itself).
TEST(CliOptions, syncTakesEveryPortGivenAndNeedsNone) {
    const Parsed several =
        Parse({"--port", "/dev/ttyUSB0", "sync", "--port", "/dev/rfcomm0", "--watch"});
    EXPECT_FALSE(several.code) << several.err;
    EXPECT_EQ(several.o.command, "sync");
    EXPECT_EQ(several.o.ports, (std::vector<std::string>{"/dev/ttyUSB0", "/dev/rfcomm0"}));
    EXPECT_EQ(several.o.args, std::vector<std::string>{"--watch"});
    const Parsed none = Parse({"sync"});
    EXPECT_FALSE(none.code) << none.err;
    EXPECT_TRUE(none.o.ports.empty());
}

TEST(CliOptions, refusedGlobalValuesAndUnknownWordsAreUsageErrors) {
    struct Case {
        std::vector<std::string> args;
        std::string said;
    };
    const Case cases[] = {
        {{"--port", "P", "--trace"}, "--trace needs a file name"},
        {{"--port", "P", "--trace", "", "identify"}, "--trace needs a file name"},
        {{"--port", "", "identify"}, "--port needs a device path"},
        {{"--ftdi", "0", "ports"}, "--ftdi needs a device number from 1"},
        {{"--baud", "fast", "--port", "P", "identify"}, "--baud needs a positive number"},
        {{"--layout", "wide", "export", "in.tsv", "--to", "csv"}, "unknown layout \"wide\""},
        {{"--port", "P", "frobnicate"}, "unknown command frobnicate"},
        {{"--port", "P", "--frob", "identify"}, "unknown option --frob"},
        {{"--port", "P", "identify", "extra"}, "unexpected argument extra"},
        {{"--port", "P"}, "no command given"},
        {{"--port", "P", "--port", "Q", "read", "--out", "r.tsv"},
         "only sync takes several --port"},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.args);
        EXPECT_EQ(p.code, kyvo::cli::kUsage) << c.said;
        EXPECT_NE(p.err.find(c.said), std::string::npos) << p.err;
    }
}

// The manual page's EXIT STATUS and the program's own table (which --help
// prints) say the same, code for code and word for word.
TEST(CliOptions, theManualPageListsTheProgramsExitStatuses) {
    std::ifstream in(KYVO_CLI_MAN_PAGE);
    ASSERT_TRUE(in) << KYVO_CLI_MAN_PAGE;
    std::map<int, std::string> manual;
    std::string line;
    bool inSection = false;
    int code = -1;
    while (std::getline(in, line)) {
        if (line.rfind(".SH", 0) == 0) {
            inSection = line == ".SH EXIT STATUS";
            code = -1;
            continue;
        }
        if (!inSection) continue;
        if (line == ".TP" || line.rfind(".PP", 0) == 0) {
            code = -1;
        } else if (line.rfind(".B ", 0) == 0 && code < 0) {
            code = std::stoi(line.substr(3));
            manual[code];
        } else if (code >= 0) {
            std::string text;
            for (std::size_t i = 0; i < line.size(); ++i) {
                if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '-') continue;
                text += line[i];
            }
            std::string& m = manual[code];
            m += (m.empty() ? "" : " ") + text;
        }
    }
    std::map<int, std::string> program;
    for (const auto& s : kyvo::cli::ExitStatuses()) program[s.code] = std::string(s.meaning);
    EXPECT_EQ(manual, program);
    // A port in use is no device to talk to, as the end-to-end tests see it.
    EXPECT_NE(program[kyvo::cli::kNoDevice].find("in use"), std::string::npos);
}

}  // namespace
