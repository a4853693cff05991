// kyvo-sim: plays the Kyvo device on a pseudo-terminal (or on standard input
// and output) in real time, with the engine of SimDevice.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>

#include "sim/SimDevice.h"
#include "sim/SimState.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) {
    stopRequested = 1;
}

const char* kUsage = R"(Usage: kyvo-sim [--scenario FILE] [--state FILE] [--format-first]
                [--add-measurements K] [--baud N] [--stdio]
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

}  // namespace

int main(int argc, char** argv) {
    std::string scenarioPath;
    long baud = 0;
    bool useStdio = false;
    std::string statePath;
    bool formatFirst = false;
    unsigned long addMeasurements = 0;
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
            char* end = nullptr;
            const char* v = argv[++i];
            addMeasurements = std::strtoul(v, &end, 10);
            if (!end || *end || *v == '-' || *v == 0 || addMeasurements > 100000)
                return fail("--add-measurements needs a count from 0 to 100000");
        } else if (a == "--stdio") {
            useStdio = true;
        } else {
            return fail("unknown argument '" + a + "' (see --help)");
        }
    }

    kyvo::sim::Scenario scenario = kyvo::sim::Scenario::demo();
    if (!scenarioPath.empty()) {
        std::string error;
        auto s = kyvo::sim::Scenario::load(scenarioPath, error);
        if (!s) return fail(error);
        scenario = *s;
    }
    kyvo::sim::SimDevice device(scenario, localNowSeconds());
    std::uint64_t savedChanges = 0;
    std::uint64_t failedChanges = 0;
    auto saveState = [&]() -> bool {
        if (statePath.empty()) return true;
        try {
            device.saveState(statePath);
            savedChanges = device.memoryChanges();
            return true;
        } catch (const kyvo::sim::StateError& e) {
            std::cerr << "kyvo-sim: " << e.what() << "\n";
            return false;
        }
    };
    if (!statePath.empty()) {
        try {
            device.loadState(statePath);
        } catch (const kyvo::sim::StateError& e) {
            return fail(e.what());
        }
    }
    if (formatFirst) device.formatDatabase();
    if (addMeasurements > 0)
        device.addStoredMeasurements(static_cast<std::uint32_t>(addMeasurements));
    // Written at once, so a state that cannot be written shows before playing.
    if (!saveState()) return 2;

    int inFd = 0, outFd = 1, slaveFd = -1;
    termios savedTerminal{};
    bool restoreTerminal = false;
    if (!useStdio) {
        int master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return fail(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno));
        const char* name = ptsname(master);
        if (!name) return fail("cannot name the pseudo-terminal");
        std::string slaveName = name;
        // Holding the slave open keeps the line up while the program closes
        // and reopens it; raw mode keeps the line discipline from echoing
        // or translating bytes before the program sets its own mode.
        slaveFd = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
        if (slaveFd < 0 || !makeRaw(slaveFd))
            return fail("cannot set up " + slaveName + ": " + std::strerror(errno));
        inFd = outFd = master;
        std::cout << slaveName << "\n" << std::flush;
    } else if (isatty(0) && tcgetattr(0, &savedTerminal) == 0) {
        restoreTerminal = makeRaw(0);
    }
    fcntl(outFd, F_SETFL, fcntl(outFd, F_GETFL) | O_NONBLOCK);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto elapsedMs = [&] {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    };
    auto elapsedUs = [&] {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
    };

    kyvo::tByteBuffer pending;
    std::size_t pendingPos = 0;
    std::uint64_t nextByteUs = 0;  // earliest time of the next paced byte
    const std::uint64_t byteUs = baud > 0 ? 10'000'000ull / static_cast<std::uint64_t>(baud) : 0;

    auto flushOutput = [&](bool all) {
        while (pendingPos < pending.size()) {
            std::size_t n = pending.size() - pendingPos;
            if (byteUs > 0 && !all) {
                // Every byte takes its ten bit times; send what is due by now.
                std::uint64_t now = elapsedUs();
                if (nextByteUs > now) return;
                n = std::min<std::size_t>(n, 1 + (now - nextByteUs) / byteUs);
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
    };

    std::uint8_t buf[4096];
    bool inputOpen = true;
    while (!stopRequested) {
        std::uint64_t now = elapsedMs();
        if (now > device.nowMs()) device.advance(static_cast<std::uint32_t>(now - device.nowMs()));
        kyvo::tByteBuffer out = device.takeOutput();
        // Saved before the answer goes out, so whoever saw the answer finds
        // the change in the state file. A state that cannot be written is
        // reported once per change, not on every turn of the loop.
        if (device.memoryChanges() != savedChanges && device.memoryChanges() != failedChanges &&
            !saveState())
            failedChanges = device.memoryChanges();
        // A line that was idle starts sending now, not in the past.
        if (pending.empty() && !out.empty()) nextByteUs = std::max(nextByteUs, elapsedUs());
        pending.insert(pending.end(), out.begin(), out.end());
        flushOutput(false);
        if (device.shutdownRequested()) break;
        if (device.lineClosed()) {
            flushOutput(true);
            break;
        }
        if (!inputOpen && pending.empty()) break;

        int timeout = 50;
        if (auto next = device.nextEventMs())
            timeout = static_cast<int>(std::min<std::uint64_t>(
                timeout, *next > device.nowMs() ? *next - device.nowMs() : 0));
        bool waitWritable = pendingPos < pending.size() && byteUs == 0;
        if (pendingPos < pending.size() && byteUs > 0) {
            std::uint64_t nowUs = elapsedUs();
            int wait = nextByteUs > nowUs ? static_cast<int>((nextByteUs - nowUs) / 1000) : 0;
            timeout = std::min(timeout, std::max(wait, 1));
        }
        pollfd fds[2] = {{inFd, POLLIN, 0}, {outFd, POLLOUT, 0}};
        if (waitWritable && outFd == inFd) fds[0].events |= POLLOUT;
        int nfds = poll(fds, waitWritable && outFd != inFd ? 2 : 1, inputOpen ? timeout : 0);
        if (nfds < 0 && errno != EINTR) break;
        if (inputOpen && nfds > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t r = ::read(inFd, buf, sizeof buf);
            if (r > 0) {
                std::uint64_t t = elapsedMs();
                if (t > device.nowMs())
                    device.advance(static_cast<std::uint32_t>(t - device.nowMs()));
                device.receive(buf, static_cast<std::size_t>(r));
            } else if (r == 0 || (errno != EAGAIN && errno != EINTR && errno != EIO)) {
                inputOpen = false;
            } else if (errno == EIO) {
                usleep(10000);  // no program on the line at the moment
            }
        }
    }
    bool saved = device.memoryChanges() == savedChanges || saveState();
    if (restoreTerminal) tcsetattr(0, TCSANOW, &savedTerminal);
    if (slaveFd >= 0) close(slaveFd);
    if (!useStdio) close(inFd);
    return saved ? 0 : 1;
}
