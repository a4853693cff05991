// Pieces of the LIS outbox tests: archives of both engines, measurements,
// and a LIS that acknowledges every message at once (on any number of
// connections, on a port that may be given, so that a LIS can be down and
// come back on the same port).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/Archive.h"
#include "archive/testsupport/TempPostgres.h"
#include "lis/Mllp.h"
#include "lis/tests/TestLis.h"

namespace kyvo::lisfeed_test {

class AckLis {
  public:
    // port 0: a free one.
    explicit AckLis(std::uint16_t port = 0) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        EXPECT_EQ(::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(::listen(listen_, 16), 0);
        socklen_t len = sizeof addr;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~AckLis() {
        stop_ = true;
        thread_.join();
        for (auto& [fd, d] : conns_) ::close(fd);
        ::close(listen_);
    }
    std::uint16_t Port() const { return port_; }
    // MSH-10 of every message received, in order.
    std::vector<std::string> ControlIds() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return ids_;
    }
    std::vector<std::string> Messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }

  private:
    void Serve() {
        while (!stop_) {
            std::vector<pollfd> fds{{listen_, POLLIN, 0}};
            for (auto& [fd, d] : conns_) fds.push_back({fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), 50) <= 0) continue;
            if (fds[0].revents & POLLIN) {
                const int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) conns_.emplace(c, lis::TMllpDeframer());
            }
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (!fds[i].revents) continue;
                const int fd = fds[i].fd;
                char buf[65536];
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) {
                    ::close(fd);
                    conns_.erase(fd);
                    continue;
                }
                auto& d = conns_.at(fd);
                d.Feed(std::string_view(buf, static_cast<std::size_t>(n)));
                while (const auto msg = d.Next()) {
                    const std::string id = lis::test::TestLis::ControlIdOf(*msg);
                    {
                        std::lock_guard<std::mutex> lock(mutex_);
                        ids_.push_back(id);
                        messages_.push_back(*msg);
                    }
                    const std::string ack = lis::MllpFrame(
                        "MSH|^~\\&|LABSYS|LAB|KyvoDataReader||20261211140001+0100||ACK^R01^ACK|A" +
                        id + "|P|2.5.1\rMSA|AA|" + id + "\r");
                    ::send(fd, ack.data(), ack.size(), MSG_NOSIGNAL);
                }
            }
        }
    }

    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::map<int, lis::TMllpDeframer> conns_;
    mutable std::mutex mutex_;
    std::vector<std::string> ids_;
    std::vector<std::string> messages_;
};

// A port nobody listens on (the system's answer: refused).
inline std::uint16_t DeadPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(s);
    return ntohs(addr.sin_port);
}

class Scratch {
  public:
    Scratch() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "kyvo-lisfeed-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// An empty archive: "sqlite" (a file in scratch) or "postgres" (a new
// database on the shared throw-away server).
inline std::string FreshArchive(const std::string& engine, const Scratch& scratch) {
    static int n = 0;
    ++n;
    if (engine == "sqlite") return "sqlite:" + scratch.File("a" + std::to_string(n) + ".sqlite");
    return testing::TTempPostgres::Shared().CreateDatabase("lis" + std::to_string(::getpid()) +
                                                           "_" + std::to_string(n));
}

inline TArchiveActor Actor() {
    return TArchiveActor{"lab", "pc1", "kyvo-test", "0.1.0"};
}

// A CRP measurement with the n-th identity, dated 2026-12-n (n from 1).
inline TMeasureSet Crp(int n, const std::string& value = "7.25") {
    TMeasureSet s;
    char id[64];
    std::snprintf(id, sizeof id, "12 3 1 7 1807 0042 %d", 34082560 + n);
    s.TestID = id;
    s.TestName = "CRP quantitative";
    s.LotNr = "L2026-11";
    setDateData(s.DateTime, 26, 12, static_cast<std::uint8_t>(1 + (n - 1) % 28), 8,
                static_cast<std::uint8_t>(n % 60), 0);
    TResultSet r;
    r.Validity = "Valid";
    r.ResultName = "CRP";
    r.ResultValue = value;
    r.UnitName = "mg/l";
    r.ClassName = "normal";
    s.ResultList.push_back(r);
    return s;
}

// Engines the tests run on: GetParam() is "sqlite" or "postgres".
class EngineTest : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (GetParam() == "postgres") {
            if (const auto why = testing::TTempPostgres::Unavailable(); !why.empty())
                GTEST_SKIP() << why;
        }
        location_ = FreshArchive(GetParam(), scratch_);
    }
    Scratch scratch_;
    std::string location_;
};

}  // namespace kyvo::lisfeed_test
