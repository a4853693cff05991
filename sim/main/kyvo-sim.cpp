// kyvo-sim: plays the Kyvo device on a pseudo-terminal (or on standard input
// and output) in real time, with the engine of SimDevice.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sim/SimDevice.h"
#include "sim/SimState.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) {
    stopRequested = 1;
}

const char* kUsage = R"(Usage: kyvo-sim [--scenario FILE] [--state FILE] [--format-first]
                [--add-measurements K] [--baud N] [--stdio]
                [--devices N [--scenario-for I FILE]... [--fault-device I]...
                 [--link DIR]]
       kyvo-sim --print-demo | --help | --version

Plays the Kyvo device so that every flow of Kyvo Data Reader can be run
without hardware. kyvo-sim creates a pseudo-terminal and prints the path of
its slave side (for example /dev/pts/7) as the first line of standard output;
connect the program to that path. It plays the device until it receives the
text "shutdown\r", until it is terminated, or until a close-line fault
closes the line.

Options:
  --scenario FILE  play the device the file describes (format below);
                   without it the built-in demo device plays: EEPROM
                   version 6, separate result memory, a clock, three stored
                   test configurations and 25 stored measurements
  --state FILE     keep the device's memory in FILE across runs: when FILE
                   exists the stored data, pointers, configurations and
                   clock come from it instead of the scenario (which must
                   describe the same device); the memory is written back
                   whenever it changes and at the end. A damaged or
                   foreign FILE is refused (status 2), never replaced
  --format-first   format the database (empty both result rings) before
                   playing
  --add-measurements K
                   store K new measurements before playing, as evaluations
                   would: the pointers move and the oldest entries give way
                   when a ring is full (after --format-first if both)
  --baud N         send at N baud (10 bits per byte), as slowly as a real
                   line; without it replies go out at once
  --stdio          play on standard input and output instead of a
                   pseudo-terminal (nothing else is printed on standard output)
  --print-demo     print the demo device as a scenario file and exit
  --help           show this text
  --version        print the version and exit

Several devices (1 to 16, each on its own pseudo-terminal):
  --devices N      play N devices at once; the first N lines of standard
                   output are their paths, device 0 first. Device I plays
                   the scenario with I added to its sub-serial and maker's
                   number (serial 12 3 1807 0042 + I for the demo device),
                   and a fresh device I starts with I measurements more,
                   stored as --add-measurements stores them. Each has its
                   own clock, faults and memory: with --state FILE device 0
                   keeps it in FILE and device I in FILE.I. --format-first,
                   --add-measurements and --baud apply to every device.
                   "shutdown\r" on a device's line ends only that device
                   (its line closes for good), as does a close-line fault;
                   kyvo-sim ends when every device has ended, or on
                   SIGINT/SIGTERM
  --scenario-for I FILE
                   device I plays FILE instead (its serial still gets I
                   added); for example the demo device (--print-demo) with a
                   [fault] section added. May be given for several devices
  --fault-device I the faults of the --scenario (or demo) device fire on
                   device I only; the others play it without faults. May be
                   given several times. A --scenario-for file keeps its faults
  --link DIR       create DIR/kyvo-CUSTOMER-PROJECT-YYWW-SUB, a symbolic link
                   to each device's pseudo-terminal, removed when the device
                   ends; a test unplugs a device by removing its link

)";

std::int64_t localNowSeconds() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return static_cast<std::int64_t>(t) + tm.tm_gmtoff;
}

bool makeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

int fail(const std::string& text) {
    std::cerr << "kyvo-sim: " << text << "\n";
    return 2;
}

bool parseIndex(const char* v, unsigned long limit, unsigned long& out) {
    char* end = nullptr;
    out = std::strtoul(v, &end, 10);
    return end && !*end && *v != '-' && *v != 0 && out <= limit;
}

using Clock = std::chrono::steady_clock;

// One played device with its line. Every device of a run is one of these;
// a single event loop serves them all, so one line that is busy, paced or
// silent never holds up another.
struct Line {
    explicit Line(const kyvo::sim::Scenario& scenario, std::int64_t hostTime)
        : device(scenario, hostTime) {}

    kyvo::sim::SimDevice device;
    std::string statePath;
    std::string path;      // the pseudo-terminal's slave side
    std::string linkPath;  // --link's symbolic link to it
    int inFd = -1, outFd = -1, slaveFd = -1;
    bool ownsFds = false;  // a pseudo-terminal, closed when the device ends
    bool inputOpen = true;
    bool ended = false;
    bool saveFailed = false;
    std::uint64_t savedChanges = 0;
    std::uint64_t failedChanges = 0;
    std::uint64_t idleUntilMs = 0;  // no program on the line; look again then
    kyvo::tByteBuffer pending;
    std::size_t pendingPos = 0;
    std::uint64_t nextByteUs = 0;  // earliest time of the next paced byte

    bool saveState() {
        if (statePath.empty()) return true;
        try {
            device.saveState(statePath);
            savedChanges = device.memoryChanges();
            return true;
        } catch (const kyvo::sim::StateError& e) {
            std::cerr << "kyvo-sim: " << e.what() << "\n";
            return false;
        }
    }

    void flushOutput(bool all, std::uint64_t byteUs, std::uint64_t nowUs) {
        while (pendingPos < pending.size()) {
            std::size_t n = pending.size() - pendingPos;
            if (byteUs > 0 && !all) {
                // Every byte takes its ten bit times; send what is due by now.
                if (nextByteUs > nowUs) return;
                n = std::min<std::size_t>(n, 1 + (nowUs - nextByteUs) / byteUs);
            }
            ssize_t w = ::write(outFd, pending.data() + pendingPos, n);
            if (w < 0) {
                if (errno == EAGAIN || errno == EINTR) return;
                pendingPos = pending.size();
                return;
            }
            pendingPos += static_cast<std::size_t>(w);
            if (byteUs > 0) nextByteUs += byteUs * static_cast<std::uint64_t>(w);
        }
        pending.clear();
        pendingPos = 0;
    }

    // The device has ended: its memory is saved, its line closed for good
    // and its link taken away (unless someone put another there).
    void end() {
        if (ended) return;
        ended = true;
        if (device.memoryChanges() != savedChanges && !saveState()) saveFailed = true;
        // The link goes first: whoever sees the line hang up finds it gone.
        if (!linkPath.empty()) {
            char target[4096];
            ssize_t n = readlink(linkPath.c_str(), target, sizeof target - 1);
            if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == path)
                unlink(linkPath.c_str());
        }
        if (ownsFds) {
            if (slaveFd >= 0) close(slaveFd);
            close(inFd);
        }
    }
};

// "kyvo-12-3-1807-0042": the serial as the program shows it, fit for a file name.
std::string linkName(const kyvo::tSerial& serial) {
    std::string name = "kyvo-" + kyvo::serialText(serial);
    std::replace(name.begin(), name.end(), ' ', '-');
    return name;
}

}  // namespace

int main(int argc, char** argv) {
    std::string scenarioPath;
    long baud = 0;
    bool useStdio = false;
    std::string statePath;
    bool formatFirst = false;
    unsigned long addMeasurements = 0;
    unsigned long deviceCount = 1;
    std::map<unsigned long, std::string> scenarioFor;
    std::set<unsigned long> faultDevices;
    std::string linkDir;
    constexpr unsigned long kMaxDevices = 16;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage << kyvo::sim::scenarioFormatHelp();
            return 0;
        } else if (a == "--version") {
            std::cout << "kyvo-sim " KYVO_VERSION "\n";
            return 0;
        } else if (a == "--print-demo") {
            std::cout << kyvo::sim::demoScenarioText();
            return 0;
        } else if (a == "--scenario" && i + 1 < argc) {
            scenarioPath = argv[++i];
        } else if (a == "--baud" && i + 1 < argc) {
            char* end = nullptr;
            baud = std::strtol(argv[++i], &end, 10);
            if (!end || *end || baud < 50 || baud > 4000000)
                return fail("--baud needs a rate from 50 to 4000000");
        } else if (a == "--state" && i + 1 < argc) {
            statePath = argv[++i];
            if (statePath.empty()) return fail("--state needs a file name");
        } else if (a == "--format-first") {
            formatFirst = true;
        } else if (a == "--add-measurements" && i + 1 < argc) {
            if (!parseIndex(argv[++i], 100000, addMeasurements))
                return fail("--add-measurements needs a count from 0 to 100000");
        } else if (a == "--stdio") {
            useStdio = true;
        } else if (a == "--devices" && i + 1 < argc) {
            if (!parseIndex(argv[++i], kMaxDevices, deviceCount) || deviceCount == 0)
                return fail("--devices needs a count from 1 to 16");
        } else if (a == "--scenario-for" && i + 2 < argc) {
            unsigned long index = 0;
            if (!parseIndex(argv[++i], kMaxDevices - 1, index))
                return fail("--scenario-for needs a device number from 0 to 15 and a file");
            scenarioFor[index] = argv[++i];
        } else if (a == "--fault-device" && i + 1 < argc) {
            unsigned long index = 0;
            if (!parseIndex(argv[++i], kMaxDevices - 1, index))
                return fail("--fault-device needs a device number from 0 to 15");
            faultDevices.insert(index);
        } else if (a == "--link" && i + 1 < argc) {
            linkDir = argv[++i];
            if (linkDir.empty()) return fail("--link needs a folder");
        } else {
            return fail("unknown argument '" + a + "' (see --help)");
        }
    }
    if (useStdio && (deviceCount > 1 || !linkDir.empty()))
        return fail("--stdio plays one device and has no pseudo-terminal to link");
    for (const auto& [index, file] : scenarioFor)
        if (index >= deviceCount)
            return fail("--scenario-for " + std::to_string(index) + ": there is no device " +
                        std::to_string(index) + " (device numbers count from 0)");
    for (unsigned long index : faultDevices)
        if (index >= deviceCount)
            return fail("--fault-device " + std::to_string(index) + ": there is no device " +
                        std::to_string(index) + " (device numbers count from 0)");

    kyvo::sim::Scenario scenario = kyvo::sim::Scenario::demo();
    if (!scenarioPath.empty()) {
        std::string error;
        auto s = kyvo::sim::Scenario::load(scenarioPath, error);
        if (!s) return fail(error);
        scenario = *s;
    }

    // Every device is set up, its state read and written once, before any
    // path is printed: a state that cannot be used or written shows before
    // playing.
    std::vector<std::unique_ptr<Line>> lines;
    for (unsigned long i = 0; i < deviceCount; ++i) {
        kyvo::sim::Scenario own = scenario;
        if (auto it = scenarioFor.find(i); it != scenarioFor.end()) {
            std::string error;
            auto s = kyvo::sim::Scenario::load(it->second, error);
            if (!s) return fail(error);
            own = *s;
        } else if (!faultDevices.empty() && !faultDevices.count(i)) {
            own.faults.clear();
        }
        auto line = std::make_unique<Line>(
            kyvo::sim::scenarioOfDevice(own, static_cast<unsigned>(i)), localNowSeconds());
        kyvo::sim::SimDevice& device = line->device;
        if (!statePath.empty())
            line->statePath = i == 0 ? statePath : statePath + "." + std::to_string(i);
        bool restored = false;
        if (!line->statePath.empty()) {
            try {
                restored = device.loadState(line->statePath);
            } catch (const kyvo::sim::StateError& e) {
                return fail(e.what());
            }
        }
        // A fresh device I has I measurements more than device 0, so the
        // devices of one run tell apart by their histories too.
        if (!restored && i > 0) device.addStoredMeasurements(static_cast<std::uint32_t>(i));
        if (formatFirst) device.formatDatabase();
        if (addMeasurements > 0)
            device.addStoredMeasurements(static_cast<std::uint32_t>(addMeasurements));
        lines.push_back(std::move(line));
    }
    // Written only once every state has been read and taken: a bad state of
    // one device leaves the others' files as they were.
    for (auto& line : lines)
        if (!line->saveState()) return 2;

    termios savedTerminal{};
    bool restoreTerminal = false;
    if (useStdio) {
        Line& line = *lines.front();
        line.inFd = 0;
        line.outFd = 1;
        if (isatty(0) && tcgetattr(0, &savedTerminal) == 0) restoreTerminal = makeRaw(0);
    } else {
        for (auto& line : lines) {
            int master = posix_openpt(O_RDWR | O_NOCTTY);
            if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
                return fail(std::string("cannot create a pseudo-terminal: ") +
                            std::strerror(errno));
            const char* name = ptsname(master);
            if (!name) return fail("cannot name the pseudo-terminal");
            line->path = name;
            // Holding the slave open keeps the line up while the program
            // closes and reopens it; raw mode keeps the line discipline from
            // echoing or translating bytes before the program sets its own mode.
            line->slaveFd = open(line->path.c_str(), O_RDWR | O_NOCTTY);
            if (line->slaveFd < 0 || !makeRaw(line->slaveFd))
                return fail("cannot set up " + line->path + ": " + std::strerror(errno));
            line->inFd = line->outFd = master;
            line->ownsFds = true;
        }
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);
    if (!linkDir.empty()) {
        for (auto& line : lines) {
            std::string link = linkDir + "/" + linkName(line->device.scenario().serial);
            // A link left by a killed run is replaced; anything else is kept.
            struct stat st {};
            if (lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(link.c_str());
            if (symlink(line->path.c_str(), link.c_str()) != 0) {
                int err = errno;
                for (auto& l : lines) l->end();
                return fail("cannot create the link " + link + ": " + std::strerror(err));
            }
            line->linkPath = link;
        }
    }
    if (!useStdio) {
        for (auto& line : lines) std::cout << line->path << "\n";
        std::cout << std::flush;
    }
    for (auto& line : lines) fcntl(line->outFd, F_SETFL, fcntl(line->outFd, F_GETFL) | O_NONBLOCK);

    const auto start = Clock::now();
    auto elapsedMs = [&] {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    };
    auto elapsedUs = [&] {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
    };
    const std::uint64_t byteUs = baud > 0 ? 10'000'000ull / static_cast<std::uint64_t>(baud) : 0;

    // One thread and one poll() over every line: the devices share nothing,
    // the engine is not thread-safe by design, and pacing is a deadline per
    // line that the poll timeout covers for all of them.
    std::uint8_t buf[4096];
    std::vector<pollfd> fds;
    std::vector<Line*> fdLines;
    while (!stopRequested) {
        int timeout = 50;
        bool anyLive = false;
        for (auto& owned : lines) {
            Line& line = *owned;
            if (line.ended) continue;
            kyvo::sim::SimDevice& device = line.device;
            std::uint64_t now = elapsedMs();
            if (now > device.nowMs())
                device.advance(static_cast<std::uint32_t>(now - device.nowMs()));
            kyvo::tByteBuffer out = device.takeOutput();
            // Saved before the answer goes out, so whoever saw the answer
            // finds the change in the state file. A state that cannot be
            // written is reported once per change, not on every turn.
            if (device.memoryChanges() != line.savedChanges &&
                device.memoryChanges() != line.failedChanges && !line.saveState())
                line.failedChanges = device.memoryChanges();
            // A line that was idle starts sending now, not in the past.
            if (line.pending.empty() && !out.empty())
                line.nextByteUs = std::max(line.nextByteUs, elapsedUs());
            line.pending.insert(line.pending.end(), out.begin(), out.end());
            line.flushOutput(false, byteUs, elapsedUs());
            if (device.shutdownRequested() || (!line.inputOpen && line.pending.empty())) {
                line.end();
                continue;
            }
            if (device.lineClosed()) {
                line.flushOutput(true, byteUs, elapsedUs());
                line.end();
                continue;
            }
            anyLive = true;
            if (!line.inputOpen) timeout = 0;
            if (auto next = device.nextEventMs())
                timeout = static_cast<int>(std::min<std::uint64_t>(
                    timeout, *next > device.nowMs() ? *next - device.nowMs() : 0));
            if (line.pendingPos < line.pending.size() && byteUs > 0) {
                std::uint64_t nowUs = elapsedUs();
                int wait = line.nextByteUs > nowUs
                               ? static_cast<int>((line.nextByteUs - nowUs) / 1000)
                               : 0;
                timeout = std::min(timeout, std::max(wait, 1));
            }
        }
        if (!anyLive) break;

        fds.clear();
        fdLines.clear();
        const std::uint64_t nowMs = elapsedMs();
        for (auto& owned : lines) {
            Line& line = *owned;
            if (line.ended) continue;
            bool waitWritable = line.pendingPos < line.pending.size() && byteUs == 0;
            short events = 0;
            if (line.inputOpen && line.idleUntilMs <= nowMs)
                events |= POLLIN;
            else if (line.inputOpen)
                timeout = std::min(timeout, static_cast<int>(line.idleUntilMs - nowMs));
            if (waitWritable && line.outFd == line.inFd) events |= POLLOUT;
            if (events) {
                fds.push_back({line.inFd, events, 0});
                fdLines.push_back(&line);
            }
            if (waitWritable && line.outFd != line.inFd) {
                fds.push_back({line.outFd, POLLOUT, 0});
                fdLines.push_back(nullptr);
            }
        }
        int ready = poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR) break;
        for (std::size_t k = 0; ready > 0 && k < fds.size(); ++k) {
            Line* line = fdLines[k];
            if (!line || !line->inputOpen || !(fds[k].events & POLLIN) ||
                !(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t r = ::read(line->inFd, buf, sizeof buf);
            if (r > 0) {
                std::uint64_t t = elapsedMs();
                if (t > line->device.nowMs())
                    line->device.advance(static_cast<std::uint32_t>(t - line->device.nowMs()));
                line->device.receive(buf, static_cast<std::size_t>(r));
            } else if (r == 0 || (errno != EAGAIN && errno != EINTR && errno != EIO)) {
                line->inputOpen = false;
            } else if (errno == EIO) {
                line->idleUntilMs = elapsedMs() + 10;  // no program on the line at the moment
            }
        }
    }
    bool saved = true;
    for (auto& line : lines) {
        line->end();
        saved = saved && !line->saveFailed;
    }
    if (restoreTerminal) tcsetattr(0, TCSANOW, &savedTerminal);
    return saved ? 0 : 1;
}
