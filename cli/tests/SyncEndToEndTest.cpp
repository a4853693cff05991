// kyvo-cli sync and sync --watch against several simulated readers: the
// real programs, real pseudo-terminals, a real SQLite archive in a folder of
// the test's own. Waits have deadlines (a reader that is never read fails
// the test) but nothing asserts on speed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/posix/TermiosPort.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadAll(const std::string& path) {
    std::ifstream f(path);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::size_t Lines(const std::string& text) {
    std::size_t n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Waits until done() holds; false when the deadline passed first.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return done();
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// A program running beside the test: standard output into a pipe read line
// by line (the simulator's paths), standard error into a file.
struct Child {
    pid_t pid = -1;
    int out = -1;
    std::string errFile;

    Child(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
          std::string errPath)
        : errFile(std::move(errPath)) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
            dup2(fds[1], 1);
            const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (err >= 0) dup2(err, 2);
            close(fds[0]);
            std::vector<char*> argv;
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        out = fds[0];
    }
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0) close(out);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    std::vector<std::string> ReadLines(std::size_t n) {
        std::vector<std::string> lines(1);
        char c;
        while (lines.size() <= n && read(out, &c, 1) == 1) {
            if (c == '\n')
                lines.emplace_back();
            else
                lines.back() += c;
        }
        lines.pop_back();
        return lines;
    }
    std::string Err() const { return ReadAll(errFile); }
    // Sends sig and waits for the end; the exit status, -1 when it did not
    // end by itself within the deadline.
    int Stop(int sig, std::chrono::milliseconds deadline) {
        kill(pid, sig);
        int status = 0;
        const bool ended = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, deadline);
        if (!ended) return -1;
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

// A scratch folder with the data folder (archive, spool) and the cache
// (device memory) of the runs made through it.
struct Home {
    std::string dir;
    Home() {
        static int n = 0;
        dir = ::testing::TempDir() + "kyvo-sync-e2e-" + std::to_string(getpid()) + "-" +
              std::to_string(++n);
        fs::remove_all(dir);
        fs::create_directories(dir + "/links");
    }
    ~Home() { fs::remove_all(dir); }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    std::map<std::string, std::string> Env() const {
        // No desktop bus: a notification is asked of the fake gdbus, if at all.
        return {{"XDG_DATA_HOME", Path("data")},
                {"XDG_CACHE_HOME", Path("cache")},
                {"DBUS_SESSION_BUS_ADDRESS", ""}};
    }

    struct Result {
        int status = -1;
        std::string out, err;
    };
    Result Cli(const std::string& args, const std::string& extraEnv = "") const {
        std::string env;
        for (const auto& [k, v] : Env()) env += k + "='" + v + "' ";
        const std::string cmd =
            env + extraEnv + " " + KYVO_CLI_PROGRAM + " " + args + " 2>" + Path("stderr.txt");
        Result r;
        FILE* p = popen(cmd.c_str(), "r");
        if (!p) return r;
        std::array<char, 4096> buf{};
        std::size_t n;
        while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
        const int st = pclose(p);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        r.err = ReadAll(Path("stderr.txt"));
        return r;
    }
    // Measurements in the archive, of one device or of all.
    std::size_t Archived(const std::string& device = "") const {
        return Lines(
            Cli("archive list" + (device.empty() ? "" : " --device '" + device + "'")).out);
    }
    std::string WriteScenario(const std::string& name, const std::string& fault) const {
        const std::string path = Path(name);
        FILE* p = popen((std::string(KYVO_SIM_PROGRAM) + " --print-demo").c_str(), "r");
        std::string demo;
        std::array<char, 4096> buf{};
        std::size_t n;
        while (p && (n = fread(buf.data(), 1, buf.size(), p)) > 0) demo.append(buf.data(), n);
        if (p) pclose(p);
        std::ofstream(path) << demo << "\n" << fault;
        return path;
    }
};

std::string Show(const Home::Result& r) {
    return "status " + std::to_string(r.status) + "\nstdout:\n" + r.out + "\nstderr:\n" + r.err;
}

// The bytes a reader's line says were fetched.
long Fetched(const std::string& out, const std::string& serial) {
    // Read by hand: std::regex trips GCC 12's maybe-uninitialized warning
    // under the sanitizers.
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(serial + " on ", 0) != 0) continue;
        const std::size_t at = line.find(" new, ");
        const std::size_t of = line.find(" of ", at == std::string::npos ? 0 : at);
        if (at == std::string::npos || of == std::string::npos) continue;
        const std::string number = line.substr(at + 6, of - at - 6);
        if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
            continue;
        return std::stol(number);
    }
    return -1;
}

// The simulator with n devices; its paths, device 0 first.
struct Sims {
    std::unique_ptr<Child> child;
    std::vector<std::string> paths;
    Sims(const Home& home, std::size_t n, std::vector<std::string> args) {
        args.insert(args.begin(), {KYVO_SIM_PROGRAM, "--devices", std::to_string(n)});
        child = std::make_unique<Child>(args, std::map<std::string, std::string>{},
                                        home.Path("sim-stderr.txt"));
        paths = child->ReadLines(n);
    }
    std::string Ports() const {
        std::string s;
        for (const auto& p : paths) s += " --port " + p;
        return s;
    }
};

TEST(KyvoCliSync, threeReadersAreReadAtOnceIntoTheArchiveAndASecondSyncFetchesLittle) {
    Home home;
    Sims sims(home, 3, {});
    ASSERT_EQ(sims.paths.size(), 3u);
    // A fake gdbus stands for the desktop's notification service.
    fs::create_directories(home.Path("bin"));
    const std::string gdbus = home.Path("bin/gdbus");
    std::ofstream(gdbus) << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> " << home.Path("notices") << "\n";
    fs::permissions(gdbus, fs::perms::owner_all);
    const std::string bus = "DBUS_SESSION_BUS_ADDRESS=unix:path=" + home.Path("bus") +
                            " PATH=" + home.Path("bin") + ":$PATH";

    const auto first = home.Cli(sims.Ports() + " sync", bus);
    ASSERT_EQ(first.status, 0) << Show(first);
    EXPECT_EQ(Lines(first.out), 3u) << first.out;
    for (const auto& [serial, count] : std::vector<std::pair<std::string, std::string>>{
             {"12 3 1807 0042", "25"}, {"12 3 1807 0043", "26"}, {"12 3 1807 0044", "27"}})
        EXPECT_NE(first.out.find(serial + " on "), std::string::npos) << first.out;
    EXPECT_NE(first.out.find(": 25 measurements, 25 new, 65535 of 65535 bytes fetched"),
              std::string::npos)
        << first.out;
    EXPECT_EQ(home.Archived("12 3 1807 0042"), 25u);
    EXPECT_EQ(home.Archived("12 3 1807 0043"), 26u);
    EXPECT_EQ(home.Archived("12 3 1807 0044"), 27u);
    EXPECT_EQ(home.Archived(), 78u);
    ASSERT_TRUE(WaitFor([&] { return Count(ReadAll(home.Path("notices")), "Notify") == 3; }, 5s))
        << ReadAll(home.Path("notices"));
    const std::string notices = ReadAll(home.Path("notices"));
    EXPECT_NE(notices.find("\"Reader 1807 0043: 26 new measurements\""), std::string::npos)
        << notices;
    EXPECT_NE(notices.find("org.freedesktop.Notifications.Notify"), std::string::npos);

    const auto second = home.Cli(sims.Ports() + " sync", bus);
    ASSERT_EQ(second.status, 0) << Show(second);
    for (const std::string serial : {"12 3 1807 0042", "12 3 1807 0043", "12 3 1807 0044"}) {
        const long fetched = Fetched(second.out, serial);
        EXPECT_GE(fetched, 0) << second.out;
        EXPECT_LT(fetched, 2000) << second.out;
    }
    EXPECT_EQ(Lines(second.out), 3u) << second.out;
    EXPECT_EQ(Count(second.out, "measurements, 0 new, "), 3u) << second.out;
    EXPECT_EQ(home.Archived(), 78u);
}

TEST(KyvoCliSync, aSilentAndAFailingReaderAreNamedWhileTheOthersAreArchived) {
    Home home;
    const auto silent =
        home.WriteScenario("silent.ini", "[fault]\nkind = silence\nafter-frames = 30\n");
    const auto failing = home.WriteScenario(
        "failing.ini", "[fault]\nkind = comm-error\ncommand = 0x52\nnth = 5\ncode = 0x42\n");
    Sims sims(home, 4, {"--scenario-for", "1", silent, "--scenario-for", "2", failing});
    ASSERT_EQ(sims.paths.size(), 4u);

    const auto all = home.Cli(sims.Ports() + " sync");
    // The worst single status: a communication error (5) over a time-out (4).
    EXPECT_EQ(all.status, 5) << Show(all);
    EXPECT_NE(all.out.find("12 3 1807 0043 on " + sims.paths[1] + ": failed: "), std::string::npos)
        << all.out;
    EXPECT_NE(all.out.find("time out"), std::string::npos) << all.out;
    EXPECT_NE(all.out.find("12 3 1807 0044 on " + sims.paths[2] + ": failed: "), std::string::npos)
        << all.out;
    EXPECT_NE(all.out.find("12 3 1807 0042 on " + sims.paths[0] + ": 25 measurements, 25 new"),
              std::string::npos)
        << all.out;
    EXPECT_NE(all.out.find("12 3 1807 0045 on " + sims.paths[3] + ": 28 measurements, 28 new"),
              std::string::npos)
        << all.out;
    EXPECT_EQ(home.Archived("12 3 1807 0042"), 25u);
    EXPECT_EQ(home.Archived("12 3 1807 0045"), 28u);
    EXPECT_EQ(home.Archived(), 25u + 28u);

    // Silent from the start it is no reader at all (3), as a port that is
    // not there.
    const auto some = home.Cli("--port " + sims.paths[1] + " --port " + sims.paths[3] + " sync");
    EXPECT_EQ(some.status, 3) << Show(some);
    EXPECT_NE(some.out.find(sims.paths[1] + ": failed: the reader did not answer"),
              std::string::npos)
        << some.out;
    const auto missing =
        home.Cli("--port " + sims.paths[3] + " --port " + home.Path("none") + " sync");
    EXPECT_EQ(missing.status, 3) << Show(missing);
    EXPECT_NE(missing.out.find(home.Path("none") + ": failed: the port does not exist"),
              std::string::npos)
        << missing.out;
    EXPECT_EQ(home.Archived(), 25u + 28u);
}

// kyvo-cli sync --watch on the path a simulated reader's link appears at.
struct Watch {
    std::unique_ptr<Child> child;
    explicit Watch(const Home& home, const std::string& port) {
        std::map<std::string, std::string> env = home.Env();
        child = std::make_unique<Child>(std::vector<std::string>{KYVO_CLI_PROGRAM, "--verbose",
                                                                 "--port", port, "sync", "--watch"},
                                        env, home.Path("watch-stderr.txt"));
    }
    bool Says(const std::string& text, std::chrono::milliseconds deadline) {
        return WaitFor([&] { return child->Err().find(text) != std::string::npos; }, deadline);
    }
};

TEST(KyvoCliSyncWatch, aReaderPluggedInIsReadAndPluggedInAgainWithFiveNewGivesThoseFive) {
    Home home;
    const std::string link = home.Path("links/kyvo-12-3-1807-0042");
    Watch watch(home, link);
    ASSERT_TRUE(watch.Says("watching for readers", 5s)) << watch.child->Err();
    auto sim = std::make_unique<Child>(
        std::vector<std::string>{KYVO_SIM_PROGRAM, "--link", home.Path("links"), "--state",
                                 home.Path("reader.state")},
        std::map<std::string, std::string>{}, home.Path("sim-stderr.txt"));
    ASSERT_EQ(sim->ReadLines(1).size(), 1u);
    EXPECT_TRUE(watch.Says("on " + link + ": 25 measurements, 25 new", 5s)) << watch.child->Err();

    // Unplugged, five measurements later plugged in again.
    sim.reset();
    sim = std::make_unique<Child>(
        std::vector<std::string>{KYVO_SIM_PROGRAM, "--link", home.Path("links"), "--state",
                                 home.Path("reader.state"), "--add-measurements", "5"},
        std::map<std::string, std::string>{}, home.Path("sim-stderr.txt"));
    ASSERT_EQ(sim->ReadLines(1).size(), 1u);
    EXPECT_TRUE(watch.Says(": 30 measurements, 5 new", 10s)) << watch.child->Err();
    EXPECT_EQ(home.Archived(), 30u);
    EXPECT_EQ(watch.child->Stop(SIGTERM, 10s), 0) << watch.child->Err();
    const std::string err = watch.child->Err();
    EXPECT_NE(err.find("stopped"), std::string::npos) << err;
    // Read twice, once per plugging in: docked, it waits for its interval.
    EXPECT_EQ(Count(err, " measurements, "), 2u) << err;
}

TEST(KyvoCliSyncWatch, aReaderUnpluggedDuringItsReadIsReadWholeWhenItIsBack) {
    Home home;
    const std::string link = home.Path("links/kyvo-12-3-1807-0042");
    Watch watch(home, link);
    ASSERT_TRUE(watch.Says("watching for readers", 5s)) << watch.child->Err();
    // Paced as a real line, so that the read is under way when the cable goes.
    auto sim = std::make_unique<Child>(
        std::vector<std::string>{KYVO_SIM_PROGRAM, "--link", home.Path("links"), "--baud", "57600"},
        std::map<std::string, std::string>{}, home.Path("sim-stderr.txt"));
    ASSERT_EQ(sim->ReadLines(1).size(), 1u);
    ASSERT_TRUE(watch.Says("reading " + link, 5s)) << watch.child->Err();
    std::this_thread::sleep_for(1500ms);
    sim.reset();
    EXPECT_TRUE(watch.Says("on " + link + ": failed: ", 15s)) << watch.child->Err();
    EXPECT_EQ(home.Archived(), 0u);

    sim = std::make_unique<Child>(
        std::vector<std::string>{KYVO_SIM_PROGRAM, "--link", home.Path("links")},
        std::map<std::string, std::string>{}, home.Path("sim-stderr.txt"));
    ASSERT_EQ(sim->ReadLines(1).size(), 1u);
    EXPECT_TRUE(watch.Says(": 25 measurements, 25 new, 65535 of 65535 bytes fetched", 10s))
        << watch.child->Err();
    EXPECT_EQ(home.Archived(), 25u);
    EXPECT_EQ(watch.child->Stop(SIGTERM, 10s), 0) << watch.child->Err();
}

TEST(KyvoCliSyncWatch, aSigtermDuringAReadArchivesTheWholeReadBeforeTheEnd) {
    Home home;
    const std::string link = home.Path("links/kyvo-12-3-1807-0042");
    // Paced as a real line: the read of both rings takes several seconds.
    Child sim({KYVO_SIM_PROGRAM, "--link", home.Path("links"), "--baud", "57600"}, {},
              home.Path("sim-stderr.txt"));
    ASSERT_EQ(sim.ReadLines(1).size(), 1u);
    Watch watch(home, link);
    ASSERT_TRUE(watch.Says("reading " + link, 5s)) << watch.child->Err();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(watch.child->Stop(SIGTERM, 60s), 0) << watch.child->Err();
    const std::string err = watch.child->Err();
    EXPECT_NE(err.find("ending once 1 reads in flight are archived"), std::string::npos) << err;
    EXPECT_NE(err.find(": 25 measurements, 25 new"), std::string::npos) << err;
    EXPECT_EQ(home.Archived(), 25u);
}

// The window and the service side by side: while the window holds its
// reader the service leaves it alone, and settings the window saves while
// the service runs are still there after the service ended.
TEST(KyvoCliSyncWatch, aPortAnotherProgramHoldsIsSkippedQuietlyAndReadOnceFree) {
    Home home;
    Child sim({KYVO_SIM_PROGRAM}, {}, home.Path("sim-stderr.txt"));
    const auto paths = sim.ReadLines(1);
    ASSERT_EQ(paths.size(), 1u);
    // Held as the window holds its port.
    std::uint32_t error = 0;
    auto held = kyvo::TermiosPort::open(paths[0], error);
    ASSERT_TRUE(held) << error;

    // A copy of kyvo-cli with the user settings file beside it.
    fs::create_directories(home.Path("program"));
    const std::string program = home.Path("program/kyvo-cli");
    fs::copy_file(KYVO_CLI_PROGRAM, program);
    fs::copy_file(fs::path(KYVO_CLI_PROGRAM).parent_path() / "DRConfigRO.ini",
                  home.Path("program/DRConfigRO.ini"));
    const std::string settings = home.Path("program/DRConfig.ini");
    std::ofstream(settings) << "[Setup]\nLanguage = \"English\"\n";

    std::map<std::string, std::string> env = home.Env();
    Child watch({program, "--port", paths[0], "sync", "--watch"}, env,
                home.Path("watch-stderr.txt"));
    // Several looks at the port while it is held.
    ASSERT_TRUE(WaitFor([&] { return watch.Err().find("watching") != std::string::npos; }, 5s));
    std::this_thread::sleep_for(4500ms);
    EXPECT_EQ(watch.Err(), "kyvo-cli: watching for readers\n");
    EXPECT_EQ(home.Archived(), 0u);

    // The window lets go of the reader and saves its settings.
    held->close();
    held.reset();
    std::ofstream(settings) << "[Setup]\nLanguage = \"Deutsch\"\n";
    EXPECT_TRUE(WaitFor(
        [&] { return watch.Err().find(": 25 measurements, 25 new") != std::string::npos; }, 10s))
        << watch.Err();
    EXPECT_EQ(watch.Stop(SIGINT, 10s), 0) << watch.Err();
    EXPECT_EQ(home.Archived(), 25u);
    EXPECT_EQ(ReadAll(settings), "[Setup]\nLanguage = \"Deutsch\"\n");
}

}  // namespace
