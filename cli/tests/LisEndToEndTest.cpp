// kyvo-cli lis end to end: the real program, the real simulator, a real
// SQLite archive, and a LIS made of python3-hl7's MLLP server, which reads
// the messages with a parser the project did not write.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/tests/SimProcess.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Show(const Result& r) {
    return "status " + std::to_string(r.status) + "\nstdout:\n" + r.out + "\nstderr:\n" + r.err;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

bool HaveHl7() {
    return std::system("/usr/bin/python3 -c 'import hl7.mllp' >/dev/null 2>&1") == 0;
}

// The python LIS (lisfeed/tests/test_lis.py) on a free port, logging every
// message it reads as one JSON line.
class PythonLis {
  public:
    PythonLis(const std::string& log, const std::string& answer) {
        int out[2];
        if (::pipe(out) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::execl(KYVO_PYTHON3, KYVO_PYTHON3, KYVO_TEST_LIS_SCRIPT, "--log", log.c_str(),
                    "--answer", answer.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        std::string line;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(out[0]);
        port_ = line;
    }
    ~PythonLis() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& Port() const { return port_; }

  private:
    pid_t pid_ = -1;
    std::string port_;
};

// A scratch folder with a copy of kyvo-cli and its own settings, data and
// cache folders.
struct Home {
    std::string dir;
    Home() {
        static int n = 0;
        dir = ::testing::TempDir() + "kyvo-lis-e2e-" + std::to_string(getpid()) + "-" +
              std::to_string(++n);
        fs::remove_all(dir);
        fs::create_directories(dir + "/program");
        fs::copy_file(KYVO_CLI_PROGRAM, dir + "/program/kyvo-cli");
        const fs::path ro = fs::path(KYVO_CLI_PROGRAM).parent_path() / "DRConfigRO.ini";
        if (fs::exists(ro)) fs::copy_file(ro, dir + "/program/DRConfigRO.ini");
    }
    ~Home() { fs::remove_all(dir); }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    void Settings(const std::string& text) const {
        std::ofstream(Path("program/DRConfig.ini")) << text;
    }
    std::string Env(const std::string& locale) const {
        return "XDG_DATA_HOME=" + Path("data") + " XDG_CACHE_HOME=" + Path("cache") +
               (locale.empty() ? "" : " LANG=" + locale + " LC_ALL=" + locale) + " ";
    }
    Result Run(const std::string& args, const std::string& locale = {}) const {
        const std::string errFile = Path("stderr.txt");
        const std::string cmd =
            Env(locale) + Path("program/kyvo-cli") + " " + args + " 2>" + errFile;
        Result r;
        FILE* p = popen(cmd.c_str(), "r");
        if (!p) return r;
        std::array<char, 4096> buf{};
        std::size_t n;
        while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
        const int st = pclose(p);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        r.err = ReadAll(errFile);
        return r;
    }
    // Reads the simulator's 25 demo measurements into the archive.
    void ReadDemo() const {
        kyvo::testing::SimProcess sim;
        ASSERT_FALSE(sim.port.empty());
        const Result read = Run("--port " + sim.port + " read --out " + Path("r.tsv"));
        ASSERT_EQ(read.status, 0) << Show(read);
    }
};

std::string LisSettings(const std::string& port, const std::string& extra = {}) {
    return "[LIS]\nSend=TRUE\nHost=127.0.0.1\nPort=" + port +
           "\nAckTimeout=3\nReceivingApplication=LABSYS\nMappingFile=" KYVO_LIS_MAPPING "\n" +
           extra;
}

// "KDR-1-1" of every JSON line of a LIS log, in order.
std::vector<std::string> ControlIds(const std::string& log) {
    std::vector<std::string> out;
    for (const auto& l : LinesOf(ReadAll(log))) {
        const std::string key = "\"control_id\": \"";
        const auto at = l.find(key);
        if (at == std::string::npos) continue;
        out.push_back(l.substr(at + key.size(), l.find('"', at + key.size()) - at - key.size()));
    }
    return out;
}

TEST(KyvoCliLis, ReadMeasurementsReachThePythonLisAsWrittenInAGermanSession) {
    if (!HaveHl7()) GTEST_SKIP() << "python3-hl7 is not installed";
    Home home;
    const std::string log = home.Path("lis.log");
    PythonLis lis(log, "AA");
    ASSERT_FALSE(lis.Port().empty());
    home.Settings(LisSettings(lis.Port()));
    home.ReadDemo();
    Result status = home.Run("lis status");
    EXPECT_EQ(status.out.rfind("waiting\t25\ndelivered\t0\nheld\t0\n", 0), 0u) << Show(status);

    // Every delimiter, a line break and letters beyond ASCII in a comment.
    const Result comment = home.Run(
        "archive comment 1 'Pat. \"Müller\" | re-test ^ 2 & more~ \\ µ ß °C\nsecond line'");
    ASSERT_EQ(comment.status, 0) << Show(comment);

    const Result send = home.Run("lis send", "de_DE.UTF-8");
    ASSERT_EQ(send.status, 0) << Show(send);
    const auto lines = LinesOf(send.out);
    ASSERT_EQ(lines.size(), 25u) << send.out;
    EXPECT_EQ(lines[0], "delivered\t1\t12 3 1 7 1807 0042 34082560\tKDR-1-1");
    for (const auto& l : lines) EXPECT_EQ(l.rfind("delivered\t", 0), 0u) << l;

    const auto received = LinesOf(ReadAll(log));
    ASSERT_EQ(received.size(), 25u);
    const std::string& first = received[0];
    EXPECT_NE(first.find("\"control_id\": \"KDR-1-1\""), std::string::npos) << first;
    EXPECT_NE(first.find("\"type\": \"ORU^R01\""), std::string::npos) << first;
    EXPECT_NE(first.find("\"charset\": \"UNICODE UTF-8\""), std::string::npos) << first;
    // "." whatever the locale, the mapping's LOINC code and UCUM unit.
    EXPECT_NE(first.find("{\"type\": \"NM\", \"code\": \"1988-5\", \"value\": \"7.25\", \"unit\": "
                         "\"mg/L\", \"status\": \"F\"}"),
              std::string::npos)
        << first;
    // As python3-hl7 unescaped it (JSON-escaped here).
    EXPECT_NE(first.find("\"nte\": [\"Pat. \\\"Müller\\\" | re-test ^ 2 & more~ \\\\ µ ß "
                         "°C\\nsecond line\"]"),
              std::string::npos)
        << first;
    status = home.Run("lis status");
    EXPECT_EQ(status.out, "waiting\t0\ndelivered\t25\nheld\t0\n") << Show(status);

    // The preview: the message as it goes, one segment a line.
    const Result preview = home.Run("lis preview 2", "de_DE.UTF-8");
    ASSERT_EQ(preview.status, 0) << Show(preview);
    const auto segs = LinesOf(preview.out);
    ASSERT_GE(segs.size(), 4u) << preview.out;
    EXPECT_EQ(segs[0].rfind("MSH|^~\\&|KyvoDataReader||LABSYS||", 0), 0u) << segs[0];
    EXPECT_NE(segs[0].find("|ORU^R01^ORU_R01|KDR-2-1|P|2.5.1|"), std::string::npos) << segs[0];
}

TEST(KyvoCliLis, HeldOrUnreachableEndsWithStatus8AndNothingIsLost) {
    if (!HaveHl7()) GTEST_SKIP() << "python3-hl7 is not installed";
    Home home;
    const std::string log = home.Path("lis.log");
    PythonLis lis(log, "AE:Unknown patient,AA");
    ASSERT_FALSE(lis.Port().empty());
    home.Settings(LisSettings(lis.Port()));
    home.ReadDemo();

    // Nobody listens there: the run gives up after its attempts, all wait.
    const Result away = home.Run("lis send --attempts 1 --lis 127.0.0.1:1");
    EXPECT_EQ(away.status, 8) << Show(away);
    EXPECT_NE(away.err.find("did not take the message after 1 attempt"), std::string::npos)
        << away.err;
    EXPECT_EQ(LinesOf(away.out).size(), 1u) << away.out;
    EXPECT_EQ(away.out.rfind("failed\t1\t", 0), 0u) << away.out;
    Result status = home.Run("lis status");
    EXPECT_EQ(status.out.rfind("waiting\t25\ndelivered\t0\nheld\t0\n", 0), 0u) << Show(status);
    EXPECT_NE(status.out.find("waiting\t1\t12 3 1 7 1807 0042 34082560\tKDR-1-1\t"),
              std::string::npos)
        << "with the reason of its last attempt\n"
        << status.out;

    const Result send = home.Run("lis send");
    EXPECT_EQ(send.status, 8) << Show(send);
    EXPECT_EQ(LinesOf(send.out).at(0),
              "held\t1\t12 3 1 7 1807 0042 34082560\tKDR-1-1\tAE: Unknown patient");
    status = home.Run("lis status");
    EXPECT_EQ(status.out.rfind("waiting\t0\ndelivered\t24\nheld\t1\nheld\t1\t", 0), 0u)
        << status.out;
    EXPECT_NE(status.out.find("AE: Unknown patient"), std::string::npos);

    const Result resend = home.Run("lis resend 1");
    EXPECT_EQ(resend.status, 0) << Show(resend);
    EXPECT_EQ(resend.out, "delivered\t1\t12 3 1 7 1807 0042 34082560\tKDR-1-1\n");
    EXPECT_EQ(home.Run("lis resend 9999").status, 7);
    EXPECT_EQ(home.Run("lis send --since 2026-02-30").status, 2);
    EXPECT_EQ(home.Run("lis preview").status, 2);
}

TEST(KyvoCliLis, AReaderOfTheOutputThatGoesAwayDoesNotStopTheSending) {
    if (!HaveHl7()) GTEST_SKIP() << "python3-hl7 is not installed";
    Home home;
    PythonLis lis(home.Path("lis.log"), "AA");
    ASSERT_FALSE(lis.Port().empty());
    home.Settings(LisSettings(lis.Port()));
    home.ReadDemo();
    const Result first = home.Run("lis send | head -1");
    EXPECT_EQ(first.out, "delivered\t1\t12 3 1 7 1807 0042 34082560\tKDR-1-1\n");
    const Result status = home.Run("lis status");
    EXPECT_EQ(status.out, "waiting\t0\ndelivered\t25\nheld\t0\n") << Show(status);
}

TEST(KyvoCliLis, ASendKilledMidRunLosesNothingAndSendsNothingTwiceUnnoticed) {
    if (!HaveHl7()) GTEST_SKIP() << "python3-hl7 is not installed";
    Home home;
    const std::string log1 = home.Path("lis1.log");
    std::vector<std::string> firstRun;
    {
        PythonLis slow(log1, "slow");
        ASSERT_FALSE(slow.Port().empty());
        home.Settings(LisSettings(slow.Port()));
        home.ReadDemo();
        const pid_t cli = ::fork();
        if (cli == 0) {
            const std::string cmd = "exec env " + home.Env("") + home.Path("program/kyvo-cli") +
                                    " lis send >/dev/null 2>&1";
            ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Killed while the third message waits for its answer.
        for (int i = 0; i < 400 && ControlIds(log1).size() < 3; ++i)
            std::this_thread::sleep_for(25ms);
        ::kill(cli, SIGKILL);
        ::waitpid(cli, nullptr, 0);
        firstRun = ControlIds(log1);
    }
    ASSERT_GE(firstRun.size(), 3u);
    const std::string log2 = home.Path("lis2.log");
    PythonLis lis(log2, "AA");
    home.Settings(LisSettings(lis.Port()));
    const Result send = home.Run("lis send");
    ASSERT_EQ(send.status, 0) << Show(send);
    const auto secondRun = ControlIds(log2);
    std::set<std::string> all(firstRun.begin(), firstRun.end());
    all.insert(secondRun.begin(), secondRun.end());
    EXPECT_EQ(all.size(), 25u) << "every measurement reached the LIS";
    for (const auto& id : secondRun) {
        if (std::find(firstRun.begin(), firstRun.end(), id) == firstRun.end()) continue;
        // Sent twice: only the one in flight, and its history shows both.
        EXPECT_EQ(id, firstRun.back());
        const std::string mid = id.substr(4, id.rfind('-') - 4);
        const Result history = home.Run("archive history " + mid);
        std::size_t sends = 0;
        for (const auto& l : LinesOf(history.out))
            sends += l.find("\tlis-send\t") != std::string::npos;
        EXPECT_EQ(sends, 2u) << history.out;
    }
    const Result status = home.Run("lis status");
    EXPECT_EQ(status.out, "waiting\t0\ndelivered\t25\nheld\t0\n") << Show(status);
}

}  // namespace
