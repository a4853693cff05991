// kyvo-cli against the real simulator on a pseudo-terminal, with real
// threads and real time: the exit statuses and the lines scripts rely on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/tests/SimProcess.h"
#include "files/AtomicFile.h"
#include "files/TextCodec.h"

namespace {

// The demo device, or the device a scenario text describes.
struct Sim {
    std::string scenarioPath;
    std::unique_ptr<kyvo::testing::SimProcess> process;
    std::string port;
    explicit Sim(const std::string& scenario = "") {
        std::vector<std::string> args;
        if (!scenario.empty()) {
            scenarioPath =
                ::testing::TempDir() + "kyvo-cli-e2e-" + std::to_string(getpid()) + ".ini";
            FILE* f = std::fopen(scenarioPath.c_str(), "w");
            if (!f) return;
            std::fputs(scenario.c_str(), f);
            std::fclose(f);
            args = {"--scenario", scenarioPath};
        }
        process = std::make_unique<kyvo::testing::SimProcess>(args);
        port = process->port;
    }
    ~Sim() {
        process.reset();
        if (!scenarioPath.empty()) std::remove(scenarioPath.c_str());
    }
};

struct Result {
    int status = -1;
    std::string out;
};

// A shell command line with its standard error joined to its output.
Result RunShell(const std::string& command) {
    const std::string cmd = command + " 2>&1";
    Result r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

Result RunCli(const std::string& args) {
    return RunShell(std::string(KYVO_CLI_PROGRAM) + " " + args);
}

TEST(KyvoCli, identifyPrintsTheDeviceAndReadMergesIntoTheResultFile) {
    Sim sim;
    ASSERT_FALSE(sim.port.empty()) << "kyvo-sim did not start: " << KYVO_SIM_PROGRAM;
    const Result id = RunCli("--port " + sim.port + " identify");
    EXPECT_EQ(id.status, 0) << id.out;
    EXPECT_NE(id.out.find("eeprom version: 6\n"), std::string::npos) << id.out;
    EXPECT_NE(id.out.find("serial: 12 3 1807 0042\n"), std::string::npos) << id.out;
    EXPECT_NE(id.out.find("capabilities: clock"), std::string::npos) << id.out;
    // The default program settings beside the program: no file error at start.
    EXPECT_EQ(id.out.find("Could not open file"), std::string::npos) << id.out;

    const std::string file = ::testing::TempDir() + "kyvo-cli-e2e.tsv";
    std::filesystem::remove(file);
    const Result first = RunCli("--port " + sim.port + " read --out " + file);
    EXPECT_EQ(first.status, 0) << first.out;
    EXPECT_NE(first.out.find("read 25 measurements (25 new) into " + file), std::string::npos)
        << first.out;
    EXPECT_TRUE(std::filesystem::exists(file));
    const Result second = RunCli("--port " + sim.port + " read --out " + file);
    EXPECT_EQ(second.status, 0) << second.out;
    EXPECT_NE(second.out.find("(0 new)"), std::string::npos) << second.out;
}

TEST(KyvoCli, readingIntoAFileAnnotatedInALinuxEditorKeepsItsComments) {
    Sim sim;
    ASSERT_FALSE(sim.port.empty()) << "kyvo-sim did not start: " << KYVO_SIM_PROGRAM;
    const std::string file = ::testing::TempDir() + "kyvo-cli-e2e-annotated.tsv";
    std::filesystem::remove(file);
    ASSERT_EQ(RunCli("--port " + sim.port + " read --out " + file).status, 0);

    // The user writes a comment into the second measurement and saves the
    // file as a Linux editor does: UTF-8 without a byte-order mark, LF.
    std::string bytes;
    ASSERT_TRUE(kyvo::readFileBytes(file, bytes));
    std::vector<std::string> lines = kyvo::decodeTextLines(bytes);
    ASSERT_GT(lines.size(), 2u);
    const std::string comment =
        "gepr\xC3\xBC"
        "ft, 5 \xC2\xB5g/ml";
    auto commentField = [](std::string& line) -> std::pair<std::size_t, std::size_t> {
        std::size_t start = 0;
        for (int i = 0; i < 5; ++i) start = line.find('\t', start) + 1;
        return {start, line.find('\t', start) - start};
    };
    const auto [at, size] = commentField(lines[2]);
    lines[2].replace(at, size, comment);
    std::string edited;
    for (const std::string& l : lines) edited += l + "\n";
    ASSERT_TRUE(kyvo::writeFileAtomically(file, edited));

    const Result again = RunCli("--port " + sim.port + " read --out " + file);
    EXPECT_EQ(again.status, 0) << again.out;
    ASSERT_TRUE(kyvo::readFileBytes(file, bytes));
    std::vector<std::string> after = kyvo::decodeTextLines(bytes);
    ASSERT_EQ(after.size(), lines.size());
    const auto [at2, size2] = commentField(after[2]);
    EXPECT_EQ(after[2].substr(at2, size2), comment);
    std::filesystem::remove(file);
}

TEST(KyvoCli, exitStatusesNameWhatWentWrong) {
    EXPECT_EQ(RunCli("").status, 2);
    EXPECT_EQ(RunCli("identify").status, 2);
    EXPECT_EQ(RunCli("--port /dev/null frobnicate").status, 2);
    EXPECT_EQ(RunCli("--port /dev/null format").status, 2);  // needs --yes
    const Result missing = RunCli("--port /nonexistent/tty identify");
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.out.find("This port does not exist: /nonexistent/tty"), std::string::npos)
        << missing.out;
}

TEST(KyvoCli, aPortHeldByAnotherProgramIsSaidToBeInUse) {
    Sim sim;
    ASSERT_FALSE(sim.port.empty());
    const int holder = ::open(sim.port.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    const Result busy = RunCli("--port " + sim.port + " identify");
    ::close(holder);
    EXPECT_EQ(busy.status, 3) << busy.out;
    EXPECT_NE(busy.out.find("This port is in use by another program: " + sim.port),
              std::string::npos)
        << busy.out;
}

// The device falls silent in the middle of each activity: for ever (the
// probe fails too, the connection is closed) or for a while (it answers the
// probe). Either way the user reads why the command failed.
TEST(KyvoCli, aDeviceThatFallsSilentMidActivitySaysTimeOutAndWhetherTheConnectionClosed) {
    const std::string file = ::testing::TempDir() + "kyvo-cli-e2e-silent.tsv";
    struct Case {
        const char* what;
        std::string fault;
        std::string command;
        bool closed;
    };
    const Case cases[] = {
        {"read", "command = 0x52\nnth = 4\n", "read --out " + file, true},
        {"read, probe answered", "command = 0x52\nnth = 4\nduration-ms = 3000\n",
         "read --out " + file, false},
        {"identify", "command = 0x5A\n", "identify", true},
        {"clock", "command = 0x5A\n", "clock", true},
        // The first read after identification: the measurement's own.
        {"measure", "command = 0x52\nnth = 4\n", "measure --stored 1 --out " + file, true},
        {"format", "command = 0x5F\n", "format --yes", true},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(file);
        Sim sim("[fault]\nkind = silence\n" + c.fault);
        ASSERT_FALSE(sim.port.empty());
        const Result r = RunCli("--port " + sim.port + " " + c.command);
        EXPECT_EQ(r.status, 4) << c.what << "\n" << r.out;
        EXPECT_NE(r.out.find("Waiting for device: time out."), std::string::npos) << c.what << "\n"
                                                                                  << r.out;
        EXPECT_EQ(r.out.find("The connection has been closed.") != std::string::npos, c.closed)
            << c.what << "\n"
            << r.out;
        EXPECT_FALSE(std::filesystem::exists(file)) << c.what;
    }
}

TEST(KyvoCli, aCablePulledMidReadIsAClosedConnectionNotATimeOut) {
    Sim sim("[fault]\nkind = close-line\ncommand = 0x52\nnth = 4\nbytes = 10\n");
    ASSERT_FALSE(sim.port.empty());
    const std::string file = ::testing::TempDir() + "kyvo-cli-e2e-pulled.tsv";
    std::filesystem::remove(file);
    const Result r = RunCli("--port " + sim.port + " read --out " + file);
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_NE(r.out.find("RS232 Error: Connection closed (possible data loss)"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("time out"), std::string::npos) << r.out;
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(KyvoCli, aDeviceThatFailsDuringAnActivityIsNeverReportedAsSuccess) {
    // The second reply (the firmware version) arrives damaged: the device
    // answers the probe, but it never identified itself.
    {
        Sim sim("[fault]\nkind = bad-checksum\nnth = 2\n");
        ASSERT_FALSE(sim.port.empty());
        const Result id = RunCli("--port " + sim.port + " identify");
        EXPECT_EQ(id.status, 4) << id.out;
        EXPECT_NE(id.out.find("Waiting for device: time out."), std::string::npos) << id.out;
        EXPECT_EQ(id.out.find("firmware:"), std::string::npos) << id.out;
    }
    // A communication error in the middle of the stored-data read.
    {
        Sim sim("[fault]\nkind = comm-error\ncommand = 0x52\nnth = 4\ncode = 0x42\n");
        ASSERT_FALSE(sim.port.empty());
        const std::string file = ::testing::TempDir() + "kyvo-cli-e2e-fault.tsv";
        std::filesystem::remove(file);
        const Result read = RunCli("--port " + sim.port + " read --out " + file);
        EXPECT_EQ(read.status, 5) << read.out;
        EXPECT_NE(read.out.find("(Comm) Error Code: 42"), std::string::npos) << read.out;
        EXPECT_FALSE(std::filesystem::exists(file));
    }
}

TEST(KyvoCli, aRequestAnsweredBusyIsAskedAgainOnceTheDeviceIsFree) {
    const std::string file = ::testing::TempDir() + "kyvo-cli-e2e-busy.tsv";
    struct Case {
        const char* what;
        std::string nth;  // of the memory reads
    };
    // The third read is identification's last (0x500080), the sixth one of
    // the stored-data read's own.
    const Case cases[] = {{"identification", "3"}, {"stored-data read", "6"}};
    const Result demo = RunShell(std::string(KYVO_SIM_PROGRAM) + " --print-demo");
    ASSERT_EQ(demo.status, 0);
    for (const Case& c : cases) {
        std::filesystem::remove(file);
        Sim sim(demo.out + "\n[fault]\nkind = busy\ncommand = 0x52\nnth = " + c.nth +
                "\nduration-ms = 2000\n");
        ASSERT_FALSE(sim.port.empty());
        const Result r = RunCli("--port " + sim.port + " read --out " + file);
        EXPECT_EQ(r.status, 0) << c.what << "\n" << r.out;
        EXPECT_NE(r.out.find("read 25 measurements (25 new) into " + file), std::string::npos)
            << c.what << "\n"
            << r.out;
        EXPECT_EQ(r.out.find("Error"), std::string::npos) << c.what << "\n" << r.out;
    }
}

TEST(KyvoCli, aMeasurementFromAStoredConfigurationTheDeviceDoesNotHoldIsAUsageError) {
    const std::string file = ::testing::TempDir() + "kyvo-cli-e2e-nostored.tsv";
    std::filesystem::remove(file);
    Sim sim(
        "[device]\neeprom-version = 6\nfirmware = 1.5.62\nserial = 12 3 1807 0042\n"
        "bits = InstantMeasureAllowed\nactive-config = crp\n"
        "[config crp]\ntest-id = 12 3 1 7\nname = CRP\nstored = no\nline = ref 60 10 20 400 100\n"
        "line = 90 8 20 200 50\nresult = CRP | mg/l | 0.5 | 200 | 0x23\n");
    ASSERT_FALSE(sim.port.empty());
    const Result r = RunCli("--port " + sim.port + " measure --stored 1 --out " + file);
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("there is no stored configuration 1 (the device holds none)"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("time out"), std::string::npos) << r.out;
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(KyvoCli, anImpossibleClockTimeIsAUsageErrorNamingTheField) {
    struct Case {
        const char* when;
        const char* said;
    };
    const Case cases[] = {{"2024-02-31 10:00:00", "no such day"},
                          {"2023-02-29 10:00:00", "no such day"},
                          {"2024-13-01 10:00:00", "no such month"},
                          {"2024-06-01 24:00:00", "no such hour"},
                          {"2024-06-01 10:60:00", "no such minute"},
                          {"1999-06-01 10:00:00", "the year must be 2000 to 2099"}};
    Sim sim;
    ASSERT_FALSE(sim.port.empty());
    for (const Case& c : cases) {
        const Result r = RunCli("--port " + sim.port + " clock --set \"" + c.when + "\"");
        EXPECT_EQ(r.status, 2) << c.when << "\n" << r.out;
        EXPECT_NE(r.out.find(c.said), std::string::npos) << c.when << "\n" << r.out;
        EXPECT_EQ(r.out.find("clock: "), std::string::npos) << c.when << "\n" << r.out;
    }
    // The device clock kept its time.
    const Result now = RunCli("--port " + sim.port + " clock");
    EXPECT_EQ(now.status, 0) << now.out;
    EXPECT_EQ(now.out.find("clock: 2024-03-02"), std::string::npos) << now.out;
    const Result leap = RunCli("--port " + sim.port + " clock --set \"2024-02-29 10:00:00\"");
    EXPECT_EQ(leap.status, 0) << leap.out;
    EXPECT_NE(leap.out.find("clock: 2024-02-29 10:00"), std::string::npos) << leap.out;
}

TEST(KyvoCli, aLostClockReplyIsLetPassWhenTheProgramSettingsSaySo) {
    // A program folder of its own: kyvo-cli with program settings that keep
    // the connection when a clock reply is lost.
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::path(::testing::TempDir()) / ("kyvo-cli-e2e-keep-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::copy_file(KYVO_CLI_PROGRAM, folder / "kyvo-cli");
    {
        FILE* f = std::fopen((folder / "DRConfigRO.ini").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("[KyvoCommunication]\ndisconnectOnTimeError = false\n", f);
        std::fclose(f);
    }
    const Result demo = RunShell(std::string(KYVO_SIM_PROGRAM) + " --print-demo");
    ASSERT_EQ(demo.status, 0);
    Sim sim(demo.out + "\n[fault]\nkind = silence\ncommand = 0x5A\nnth = 1\nduration-ms = 500\n");
    ASSERT_FALSE(sim.port.empty());
    const Result r = RunShell((folder / "kyvo-cli").string() + " --port " + sim.port +
                              " clock --set \"2030-01-02 03:04:05\"");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("clock: 2030-01-02 03:04"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("time out"), std::string::npos) << r.out;
    fs::remove_all(folder);
}

TEST(KyvoCli, traceRecordsEveryByteBothWaysAndAnUnwritableTraceIsAFileError) {
    Sim sim;
    ASSERT_FALSE(sim.port.empty());
    const std::string trace =
        ::testing::TempDir() + "kyvo-cli-e2e-" + std::to_string(getpid()) + ".trace";
    std::filesystem::remove(trace);
    const Result id = RunCli("--port " + sim.port + " --trace " + trace + " identify");
    ASSERT_EQ(id.status, 0) << id.out;

    std::FILE* f = std::fopen(trace.c_str(), "r");
    ASSERT_TRUE(f);
    std::string text;
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) text.append(buf.data(), n);
    std::fclose(f);
    std::filesystem::remove(trace);
    EXPECT_NE(text.find("# open " + sim.port), std::string::npos) << text;
    // The probe's acknowledge request goes out, the device's acknowledge
    // comes back, and the firmware version answers its request.
    EXPECT_NE(text.find("> FE 20 A2 82 "), std::string::npos) << text;
    EXPECT_NE(text.find("< FE 20 55 75 "), std::string::npos) << text;
    EXPECT_NE(text.find("< FE 20 A3 "), std::string::npos) << text;
    EXPECT_NE(text.find("# closed"), std::string::npos) << text;

    // A file that does not open, and one that opens but takes nothing, as a
    // full disk: both end the run before the device is opened.
    struct Unwritable {
        std::string path;
        std::string why;
    };
    for (const Unwritable& u : {Unwritable{"/nonexistent/dir/x.trace", "No such file"},
                                Unwritable{"/dev/full", "No space left on device"}}) {
        if (!std::filesystem::exists(std::filesystem::path(u.path).parent_path())) continue;
        const Result bad = RunCli("--port " + sim.port + " --trace " + u.path + " identify");
        EXPECT_EQ(bad.status, 6) << u.path << "\n" << bad.out;
        EXPECT_NE(bad.out.find("cannot write the trace file " + u.path + ": " + u.why),
                  std::string::npos)
            << bad.out;
        EXPECT_EQ(bad.out.find("firmware:"), std::string::npos) << bad.out;
    }
}

// A trace file that fills up during the run (a file size limit stands in
// for a full disk or a quota): the command still does its work, and
// standard error says once that the trace is incomplete.
TEST(KyvoCli, aTraceFileThatFillsUpDuringTheRunIsSaidOnceAndTheCommandGoesOn) {
    Sim sim;
    ASSERT_FALSE(sim.port.empty());
    const std::string dir = ::testing::TempDir() + "kyvo-cli-e2e-full-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    const std::string trace = dir + "/line.trace";
    // 2 KiB: the start and the first frames, far from an identification.
    const Result r = RunShell("trap '' XFSZ; ulimit -f 2; exec " + std::string(KYVO_CLI_PROGRAM) +
                              " --port " + sim.port + " --trace " + trace + " identify");
    std::error_code none;
    const auto size = std::filesystem::file_size(trace, none);
    std::filesystem::remove_all(dir);
    ASSERT_FALSE(none) << none.message();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("firmware:"), std::string::npos) << r.out;
    EXPECT_GT(size, 0u);
    EXPECT_LE(size, 2048u);
    const std::string said = "the trace file " + trace + " cannot be written any more (";
    const auto at = r.out.find(said);
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(said, at + 1), std::string::npos) << "said more than once:\n" << r.out;
    EXPECT_NE(r.out.find("the trace is incomplete", at), std::string::npos) << r.out;
}

// The value of --trace is a file name, whatever word it is: "report" does
// not make the line a report command.
TEST(KyvoCli, aTraceFileNamedLikeACommandIsAFileName) {
    Sim sim;
    ASSERT_FALSE(sim.port.empty());
    const std::string dir = ::testing::TempDir() + "kyvo-cli-e2e-named-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    const Result r = RunShell("cd " + dir + " && " + std::string(KYVO_CLI_PROGRAM) +
                              " --trace report --port " + sim.port + " read --out r.tsv");
    std::error_code none;
    const bool traced = std::filesystem::file_size(dir + "/report", none) > 0 && !none;
    const bool read = std::filesystem::exists(dir + "/r.tsv");
    std::filesystem::remove_all(dir);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(traced);
    EXPECT_TRUE(read) << r.out;
}

// What a device or the file system refuses ends the command with its own
// exit status, the reason on stderr and no result file written.
TEST(KyvoCli, aRefusedMeasurementOrResultFileEndsWithItsOwnExitStatus) {
    const std::string file = ::testing::TempDir() + "kyvo-cli-e2e-refused.tsv";
    struct Case {
        const char* what;
        std::string scenario;
        std::string command;
        bool lockFile;
        int status;
        std::string said;
    };
    const Case cases[] = {
        {"device error during a measurement",
         "[device]\neeprom-version = 6\nfirmware = 1.5.62\nserial = 12 3 1807 0042\n"
         "bits = InstantMeasureAllowed\nactive-config = crp\n"
         "[config crp]\ntest-id = 12 3 1 7\nname = CRP\nline = ref 60 10 20 400 100\n"
         "line = 90 8 20 200 50\nresult = CRP | mg/l | 0.5 | 200 | 0x23\n"
         "[evaluation]\nerror = 0x21\n",
         "measure --stored 1 --out " + file, false, 5, "(Kyvo) Error Code: 0x21"},
        {"result file locked by another instance", "", "read --out " + file, true, 6,
         "cannot write " + file},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(file);
        Sim sim(c.scenario);
        ASSERT_FALSE(sim.port.empty()) << c.what;
        int holder = -1;
        if (c.lockFile) {
            holder = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
            ASSERT_GE(holder, 0) << c.what;
            ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0) << c.what;
        }
        const Result r = RunCli("--port " + sim.port + " " + c.command);
        if (holder >= 0) {
            ::close(holder);
            std::filesystem::remove(file + ".lock");
        }
        EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.out;
        EXPECT_NE(r.out.find(c.said), std::string::npos) << c.what << "\n" << r.out;
        EXPECT_EQ(r.out.find("time out"), std::string::npos) << c.what << "\n" << r.out;
        EXPECT_FALSE(std::filesystem::exists(file)) << c.what;
    }
}

// kyvo-cli has no window: a run leaves the window's placement in the user
// settings as it was, so that the window still opens centred.
TEST(KyvoCli, aRunLeavesTheWindowPlacementOfTheUserSettingsAlone) {
    Sim sim;
    ASSERT_FALSE(sim.port.empty());
    const std::string folder =
        ::testing::TempDir() + "kyvo-cli-e2e-portable-" + std::to_string(getpid());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string program = folder + "/kyvo-cli";
    std::filesystem::copy_file(KYVO_CLI_PROGRAM, program);
    // The settings file beside the program is the one it uses.
    const std::string cmd = "HOME=" + folder + " XDG_CONFIG_HOME=" + folder + "/config " +
                            program + " --port " + sim.port + " identify >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::string bytes;
    ASSERT_TRUE(kyvo::readFileBytes(folder + "/DRConfig.ini", bytes));
    for (const std::string& line : kyvo::decodeTextLines(bytes))
        for (const char* item : {"Left", "Top", "Width", "Height", "WindowState"})
            EXPECT_NE(line.rfind(std::string(item) + " ", 0), 0u) << line;
    std::filesystem::remove_all(folder);
}

// Every kyvo-cli these tests start remembers devices in a folder of its
// own, never in the user's cache.
const std::string kDeviceCache = [] {
    const std::string folder =
        ::testing::TempDir() + "kyvo-cli-e2e-cache-" + std::to_string(getpid());
    setenv("XDG_CACHE_HOME", folder.c_str(), 1);
    return folder;
}();

// B and T of the summary's "fetched B of T bytes"; -1 when it is missing.
std::pair<long, long> Fetched(const std::string& out) {
    const auto at = out.find("; fetched ");
    long b = -1, t = -1;
    if (at == std::string::npos ||
        std::sscanf(out.c_str() + at, "; fetched %ld of %ld bytes", &b, &t) != 2)
        return {-1, -1};
    return {b, t};
}

std::string FileBytes(const std::string& path) {
    std::string bytes;
    kyvo::readFileBytes(path, bytes);
    return bytes;
}

TEST(KyvoCli, aSecondReadOfTheSameDeviceFetchesLittleAndWritesTheSameFile) {
    std::filesystem::remove_all(kDeviceCache);
    Sim sim;
    ASSERT_FALSE(sim.port.empty());
    const std::string base = ::testing::TempDir() + "kyvo-cli-e2e-again-";
    const auto read = [&](const std::string& name, const std::string& extra = "") {
        std::filesystem::remove(base + name);
        return RunCli("--port " + sim.port + " read --out " + base + name + extra);
    };

    const Result first = read("first.tsv");
    ASSERT_EQ(first.status, 0) << first.out;
    const auto [all, total] = Fetched(first.out);
    EXPECT_GT(total, 32 * 1024) << first.out;
    EXPECT_EQ(all, total) << first.out;
    EXPECT_NE(first.out.find("read 25 measurements (25 new) into " + base + "first.tsv; fetched "),
              std::string::npos)
        << first.out;
    const auto files = std::distance(
        std::filesystem::directory_iterator(kDeviceCache + "/kyvo-data-reader/devices"),
        std::filesystem::directory_iterator());
    EXPECT_EQ(files, 1);

    const Result again = read("again.tsv");
    ASSERT_EQ(again.status, 0) << again.out;
    EXPECT_LE(Fetched(again.out).first, 8 * 1024) << again.out;
    EXPECT_EQ(Fetched(again.out).second, total) << again.out;
    EXPECT_EQ(FileBytes(base + "again.tsv"), FileBytes(base + "first.tsv"));

    // --full, and a damaged memory file: everything is read, the file is the same.
    const Result full = read("full.tsv", " --full");
    EXPECT_EQ(Fetched(full.out), std::make_pair(total, total)) << full.out;
    EXPECT_EQ(FileBytes(base + "full.tsv"), FileBytes(base + "first.tsv"));
    EXPECT_EQ(std::distance(
                  std::filesystem::directory_iterator(kDeviceCache + "/kyvo-data-reader/devices"),
                  std::filesystem::directory_iterator()),
              1);
    for (const auto& f :
         std::filesystem::directory_iterator(kDeviceCache + "/kyvo-data-reader/devices"))
        ASSERT_TRUE(kyvo::writeFileAtomically(f.path().string(), "damaged"));
    const Result damaged = read("damaged.tsv");
    EXPECT_EQ(damaged.status, 0) << damaged.out;
    EXPECT_EQ(Fetched(damaged.out), std::make_pair(total, total)) << damaged.out;
    EXPECT_EQ(FileBytes(base + "damaged.tsv"), FileBytes(base + "first.tsv"));
    std::filesystem::remove_all(kDeviceCache);
}

// The window's setting that turns the remembering off counts for kyvo-cli
// too: every read of a known device is then a whole one.
TEST(KyvoCli, theUserSettingThatTurnsRememberingOffMakesEveryReadWholeAndForgetsTheDevice) {
    std::filesystem::remove_all(kDeviceCache);
    Sim sim;
    ASSERT_FALSE(sim.port.empty());
    const std::string folder =
        ::testing::TempDir() + "kyvo-cli-e2e-setting-" + std::to_string(getpid());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string program = folder + "/kyvo-cli";
    std::filesystem::copy_file(KYVO_CLI_PROGRAM, program);
    const auto read = [&](const std::string& name) {
        return RunShell("HOME=" + folder + " XDG_CONFIG_HOME=" + folder + "/config " + program +
                        " --port " + sim.port + " read --out " + folder + "/" + name);
    };
    const std::string devices = kDeviceCache + "/kyvo-data-reader/devices";
    const auto remembered = [&devices] {
        std::error_code ec;
        return std::distance(std::filesystem::directory_iterator(devices, ec),
                             std::filesystem::directory_iterator());
    };
    // Remembered while the setting is on, the file is the owner's alone.
    ASSERT_EQ(read("before.tsv").status, 0);
    ASSERT_EQ(remembered(), 1);
    for (const auto& f : std::filesystem::directory_iterator(devices))
        EXPECT_EQ(f.status().permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // The settings file beside the program is the one it uses.
    ASSERT_TRUE(
        kyvo::writeFileAtomically(folder + "/DRConfig.ini", "[Setup]\nIncrementalRead = false\n"));
    for (const char* name : {"first.tsv", "again.tsv"}) {
        const Result r = read(name);
        ASSERT_EQ(r.status, 0) << r.out;
        const auto [fetched, total] = Fetched(r.out);
        EXPECT_GT(total, 32 * 1024) << r.out;
        EXPECT_EQ(fetched, total) << name << "\n" << r.out;
        // Off means forgotten: the device's file went with the first read.
        EXPECT_EQ(remembered(), 0) << name;
    }
    EXPECT_EQ(FileBytes(folder + "/again.tsv"), FileBytes(folder + "/first.tsv"));
    std::filesystem::remove_all(folder);
    std::filesystem::remove_all(kDeviceCache);
}

}  // namespace
