#include "link/PortTrace.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "link/SeriellThread.h"

namespace kyvo {
namespace {

namespace fs = std::filesystem;

struct TraceLine {
    int ms = 0;  // since midnight
    char kind = 0;
    std::string hex;
    std::string text;
    std::string note;
};

bool isDigits(const std::string& s, std::size_t at, std::size_t n) {
    for (std::size_t i = at; i < at + n; ++i)
        if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
    return true;
}

bool isUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// "hh:mm:ss.mmm > XX XX ...  |text|" or "hh:mm:ss.mmm # note"; none when the
// line has neither shape.
std::optional<TraceLine> parseTraceLine(const std::string& s) {
    if (!isDigits(s, 0, 2) || s.size() < 15 || s[2] != ':' || !isDigits(s, 3, 2) ||
        s[5] != ':' || !isDigits(s, 6, 2) || s[8] != '.' || !isDigits(s, 9, 3) || s[12] != ' ' ||
        s[14] != ' ')
        return std::nullopt;
    TraceLine l;
    l.ms = ((std::stoi(s.substr(0, 2)) * 60 + std::stoi(s.substr(3, 2))) * 60 +
            std::stoi(s.substr(6, 2))) *
               1000 +
           std::stoi(s.substr(9, 3));
    l.kind = s[13];
    const std::string rest = s.substr(15);
    if (l.kind == '#') {
        l.note = rest;
        return l;
    }
    if (l.kind != '<' && l.kind != '>') return std::nullopt;
    std::size_t i = 0;
    while (i + 2 < rest.size() && isUpperHex(rest[i]) && isUpperHex(rest[i + 1]) &&
           rest[i + 2] == ' ') {
        l.hex += rest.substr(i, 3);
        i += 3;
    }
    if (l.hex.empty()) return std::nullopt;
    l.hex.pop_back();
    while (i < rest.size() && rest[i] == ' ') ++i;
    if (rest.size() < i + 2 || rest[i] != '|' || rest.back() != '|') return std::nullopt;
    l.text = rest.substr(i + 1, rest.size() - i - 2);
    return l;
}

std::vector<TraceLine> readTrace(const fs::path& file) {
    std::vector<TraceLine> lines;
    std::ifstream in(file);
    std::string s;
    while (std::getline(in, s)) {
        if (auto l = parseTraceLine(s))
            lines.push_back(*l);
        else
            ADD_FAILURE() << "not a trace line: \"" << s << "\"";
    }
    return lines;
}

std::vector<TraceLine> onlyBytes(const std::vector<TraceLine>& lines) {
    std::vector<TraceLine> out;
    for (const auto& l : lines)
        if (l.kind != '#') out.push_back(l);
    return out;
}

class PortTrace : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("kyvo-trace-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        file = dir / "line.trace";
    }
    void TearDown() override { fs::remove_all(dir); }

    std::shared_ptr<TPortTrace> openTrace() {
        std::string error;
        auto t = TPortTrace::open(file.string(), "link tests", error);
        EXPECT_TRUE(t) << error;
        return t;
    }

    fs::path dir;
    fs::path file;
};

TEST_F(PortTrace, writesAndReadsAreLoggedWithDirectionHexAndPrintableText) {
    auto trace = openTrace();
    auto wire = std::make_shared<LoopbackPort>();
    TTracingPort port(wire, trace, "/dev/pts/7");
    ASSERT_EQ(port.configure(tLineSettings{}, true, false), 0u);

    const std::uint8_t request[] = {0xFE, 0x20, 0xAA, 0x8A};
    std::uint32_t written = 0;
    ASSERT_EQ(port.write(request, sizeof request, written), 0u);
    EXPECT_EQ(written, 4u);
    wire->push({0xFE, 0x20, 0x55, 0x75, 'O', 'k', 0x7F});
    std::uint8_t buf[64];
    std::uint32_t got = 0;
    ASSERT_EQ(port.readWaiting(buf, sizeof buf, got), 0u);
    EXPECT_EQ(got, 7u);
    got = 0;
    port.readWaiting(buf, sizeof buf, got);  // nothing waiting: no line
    port.close();
    trace.reset();

    const auto lines = readTrace(file);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].kind, '#');
    EXPECT_NE(lines[0].note.find("trace started"), std::string::npos);
    EXPECT_NE(lines[0].note.find("link tests"), std::string::npos);
    EXPECT_EQ(lines[1].note, "open /dev/pts/7, 38400 baud 8N1");
    EXPECT_EQ(lines[2].kind, '>');
    EXPECT_EQ(lines[2].hex, "FE 20 AA 8A");
    EXPECT_EQ(lines[2].text, ". ..");
    EXPECT_EQ(lines[3].kind, '<');
    EXPECT_EQ(lines[3].hex, "FE 20 55 75 4F 6B 7F");
    EXPECT_EQ(lines[3].text, ". UuOk.");
    EXPECT_EQ(lines[4].note, "closed");
}

TEST_F(PortTrace, aLongChunkIsWrappedSixteenBytesALineAndTextColumnsAlign) {
    auto trace = openTrace();
    std::vector<std::uint8_t> chunk(40);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<std::uint8_t>('A' + i);
    trace->bytes('<', chunk.data(), chunk.size());
    trace.reset();

    const auto lines = onlyBytes(readTrace(file));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(lines[1].text, "QRSTUVWXYZ[\\]^_`");
    EXPECT_EQ(lines[2].text, "abcdefgh");
    EXPECT_EQ(lines[2].hex, "61 62 63 64 65 66 67 68");
    for (const auto& l : lines) EXPECT_EQ(l.kind, '<');
    // The text column starts at the same place on a short last line.
    std::ifstream in(file);
    std::string s;
    std::vector<std::size_t> bars;
    while (std::getline(in, s))
        if (s.find('|') != std::string::npos) bars.push_back(s.find('|'));
    ASSERT_EQ(bars.size(), 3u);
    EXPECT_EQ(bars[0], bars[2]);
}

TEST_F(PortTrace, timestampsNeverRunBackwards) {
    auto trace = openTrace();
    const std::uint8_t b[] = {0x01, 0x02};
    for (int i = 0; i < 2000; ++i) trace->bytes(i % 2 ? '<' : '>', b, sizeof b);
    trace.reset();
    const auto lines = readTrace(file);
    ASSERT_EQ(lines.size(), 2001u);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const bool midnight = lines[i - 1].ms > 86'000'000 && lines[i].ms < 400'000;
        EXPECT_TRUE(lines[i].ms >= lines[i - 1].ms || midnight) << "line " << i;
    }
}

TEST_F(PortTrace, anotherRunIsAppendedAndAFileThatCannotBeOpenedSaysWhy) {
    const std::uint8_t b[] = {0x55};
    openTrace()->bytes('>', b, 1);
    openTrace()->bytes('<', b, 1);
    const auto lines = readTrace(file);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].kind, '>');
    EXPECT_EQ(lines[3].kind, '<');

    std::string error;
    EXPECT_FALSE(TPortTrace::open((dir / "missing" / "x.trace").string(), "", error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(TPortTrace::open(dir.string(), "", error));  // a folder
    EXPECT_FALSE(error.empty());
}

// /dev/full opens for appending like any file and refuses every byte, as a
// full disk or an exhausted quota does: the start line finds it out.
TEST_F(PortTrace, aFileThatOpensButTakesNoLineIsRefusedAtTheStart) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    std::string error;
    EXPECT_FALSE(TPortTrace::open("/dev/full", "link tests", error));
    EXPECT_NE(error.find("No space left"), std::string::npos) << error;
    error.clear();
    TScopedPortTrace scoped("/dev/full", "link tests");
    EXPECT_FALSE(scoped.ok());
    EXPECT_NE(scoped.error().find("No space left"), std::string::npos) << scoped.error();
}

// A file that takes the start and then fills up (here a file size limit,
// the way a quota or a full disk behaves): the owner hears of it once, no
// line is written after the refused one, and once the file takes bytes
// again the trace ends with a note that lines were lost. Run in a child,
// whose limit cannot reach the test program's own files.
TEST_F(PortTrace, aFileThatFillsUpIsReportedOnceAndEndsWithANoteThatItIsIncomplete) {
    constexpr rlim_t kLimit = 4096;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = kLimit;
        if (::setrlimit(RLIMIT_FSIZE, &small) != 0) ::_exit(10);
        std::string error;
        auto trace = TPortTrace::open(file.string(), "link tests", error);
        if (!trace) ::_exit(11);
        int calls = 0;
        std::string reason;
        trace->onWriteFailure([&](const std::string& r) {
            ++calls;
            reason = r;
        });
        const std::uint8_t b[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99};
        for (int i = 0; i < 200; ++i) {
            trace->bytes(i % 2 ? '<' : '>', b, sizeof b);
            trace->note("line " + std::to_string(i));
        }
        if (calls != 1) ::_exit(12);
        if (reason.find("too large") == std::string::npos) ::_exit(13);
        // Room again: the end note goes in.
        ::setrlimit(RLIMIT_FSIZE, &saved);
        trace.reset();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "10: no limit, 11: no start, 12: not told once, "
                                         "13: no reason";

    std::ifstream in(file);
    std::vector<std::string> raw;
    for (std::string s; std::getline(in, s);) raw.push_back(s);
    ASSERT_GE(raw.size(), 3u);
    EXPECT_LE(fs::file_size(file), kLimit + 200);
    const auto last = parseTraceLine(raw.back());
    ASSERT_TRUE(last) << raw.back();
    EXPECT_EQ(last->kind, '#');
    EXPECT_EQ(last->note.rfind("trace incomplete: lines were lost (", 0), 0u) << last->note;
    EXPECT_NE(last->note.find("too large"), std::string::npos) << last->note;
    // Every line before is whole, but for the one the limit cut, which
    // keeps a line of its own: the note starts a line.
    std::size_t broken = 0;
    for (std::size_t i = 0; i + 1 < raw.size(); ++i)
        if (!parseTraceLine(raw[i])) ++broken;
    EXPECT_LE(broken, 1u);
    EXPECT_NE(raw[0].find("trace started"), std::string::npos);
}

TEST_F(PortTrace, failedReadsAndShortWritesAreNotedOncePerChange) {
    auto trace = openTrace();
    auto wire = std::make_shared<LoopbackPort>();
    TTracingPort port(wire, trace, "");
    std::uint8_t buf[8];
    std::uint32_t got = 0;
    wire->setReadFailure(5);
    for (int i = 0; i < 3; ++i) port.readWaiting(buf, sizeof buf, got);
    wire->setReadFailure(0);
    port.readWaiting(buf, sizeof buf, got);
    wire->setWriteLimit(1);
    const std::uint8_t out[] = {0x10, 0x20, 0x30};
    std::uint32_t written = 0;
    port.write(out, sizeof out, written);
    trace.reset();

    const auto lines = readTrace(file);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1].note, "read failed with code 5");
    EXPECT_EQ(lines[2].note, "reading again");
    EXPECT_EQ(lines[3].hex, "10 20 30");
    EXPECT_EQ(lines[4].note, "the port took 1 of 3 bytes");
}

// The front ends install the trace before the layers above create their
// port object; the worker's own traffic then reaches the file.
TEST_F(PortTrace, aDefaultDecoratorReachesEveryWorkerCreatedWhileItIsInstalled) {
    auto trace = openTrace();
    DirectMainThread main;
    tByteBuffer received;
    auto wire = std::make_shared<LoopbackPort>();
    {
        TSeriellThread::ScopedDefaultPortDecorator scope(
            [trace](std::shared_ptr<ISerialPort> p, const std::string& name) {
                return std::make_shared<TTracingPort>(std::move(p), trace, name);
            });
        TSeriellThread worker(true, main, TSeriellThread::kDefaultBufferSize,
                              std::make_unique<FTDIDirect>(nullptr));
        worker.OnReceive = [&](TSeriellThread* s) {
            std::uint8_t b;
            while (s->GetByte(b)) received.push_back(b);
        };
        ASSERT_TRUE(worker.OpenPort(wire, 19200));
        worker.Send(std::string("hello"));
        worker.SendBuffer();
        wire->push({'w', 'o', 'r', 'l', 'd'});
        worker.Round();
        worker.ClosePort();
    }
    EXPECT_EQ(std::string(received.begin(), received.end()), "world");
    // Once the scope has ended, a new worker's ports are left alone.
    TSeriellThread plain(true, main, TSeriellThread::kDefaultBufferSize,
                         std::make_unique<FTDIDirect>(nullptr));
    ASSERT_TRUE(plain.OpenPort(std::make_shared<LoopbackPort>(), 19200));
    plain.Send(std::string("unseen"));
    plain.SendBuffer();
    plain.ClosePort();
    trace.reset();

    const auto lines = readTrace(file);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1].note, "open port, 19200 baud 8N1");
    EXPECT_EQ(lines[2].kind, '>');
    EXPECT_EQ(lines[2].text, "hello");
    EXPECT_EQ(lines[3].kind, '<');
    EXPECT_EQ(lines[3].text, "world");
    EXPECT_EQ(lines[4].note, "closed");
}

}  // namespace
}  // namespace kyvo
