// A LIS of the tests' own on 127.0.0.1 (a free port): reads framed messages
// and answers each as the next behaviour of its script says, on one
// connection or on new ones when the client reconnects. Every wait is
// bounded; the thread ends with the object.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lis/Mllp.h"

namespace kyvo::lis::test {

class TestLis {
  public:
    enum class EBehaviour { Ack, Silent, CloseBeforeAck, WrongMsa2, SlowAck, Garbage };
    struct TAnswer {
        TAnswer(EBehaviour b, std::string code = "AA", std::string text = {})
            : Behaviour(b), Code(std::move(code)), Text(std::move(text)) {}
        EBehaviour Behaviour;
        std::string Code;
        std::string Text;
    };

    explicit TestLis(std::vector<TAnswer> script) : script_(std::move(script)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(::listen(listen_, 4), 0);
        socklen_t len = sizeof addr;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    TestLis(EBehaviour b, std::string code = "AA", std::string text = {})
        : TestLis(std::vector<TAnswer>{{b, std::move(code), std::move(text)}}) {}
    ~TestLis() {
        stop_ = true;
        thread_.join();
        ::close(listen_);
    }
    std::uint16_t Port() const { return port_; }
    // Every message received, in order.
    std::vector<std::string> Received() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    // How many connections were accepted.
    int Connections() const { return connections_; }

    // MSH-10 of a message with the default delimiters.
    static std::string ControlIdOf(const std::string& msg) {
        std::size_t pos = 0;
        for (int i = 0; i < 9 && pos != std::string::npos; ++i) pos = msg.find('|', pos + 1);
        if (pos == std::string::npos) return {};
        return msg.substr(pos + 1, msg.find('|', pos + 1) - pos - 1);
    }

  private:
    static bool WaitIn(int fd, int ms) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, ms) > 0;
    }

    void Serve() {
        using namespace std::chrono_literals;
        int conn = -1;
        std::size_t next = 0;
        TMllpDeframer d;
        char buf[4096];
        for (int round = 0; round < 600 && next < script_.size() && !stop_; ++round) {
            if (conn < 0) {
                if (WaitIn(listen_, 100)) {
                    conn = ::accept(listen_, nullptr, nullptr);
                    ++connections_;
                    d = TMllpDeframer();
                }
                continue;
            }
            if (!WaitIn(conn, 100)) continue;
            const ssize_t n = ::recv(conn, buf, sizeof buf, 0);
            if (n <= 0) {
                ::close(conn);
                conn = -1;
                continue;
            }
            d.Feed(std::string_view(buf, static_cast<std::size_t>(n)));
            while (next < script_.size()) {
                const auto msg = d.Next();
                if (!msg) break;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    received_.push_back(*msg);
                }
                if (!Answer(conn, *msg, script_[next++])) {
                    ::close(conn);
                    conn = -1;
                    break;
                }
            }
        }
        if (conn >= 0) {
            // Waits for the client to close rather than resetting the line.
            WaitIn(conn, 2000);
            ::close(conn);
        }
    }

    // Whether the connection stays open.
    bool Answer(int conn, const std::string& msg, const TAnswer& a) {
        using namespace std::chrono_literals;
        const std::string msh =
            "MSH|^~\\&|LABSYS|LAB|KyvoDataReader||20261211140001+0100||ACK^R01^ACK|A1|P|2.5.1\r";
        std::string reply;
        switch (a.Behaviour) {
            case EBehaviour::Silent: {
                // Holds the line open until the client gives up.
                char c;
                for (int i = 0; i < 100 && !stop_; ++i)
                    if (WaitIn(conn, 100) && ::recv(conn, &c, 1, 0) <= 0) break;
                return false;
            }
            case EBehaviour::CloseBeforeAck:
                // Half an answer, then gone.
                reply = "\x0b" + msh;
                ::send(conn, reply.data(), reply.size(), MSG_NOSIGNAL);
                return false;
            case EBehaviour::WrongMsa2:
                reply = MllpFrame(msh + "MSA|AA|KDR-999-9\r");
                break;
            case EBehaviour::Garbage:
                reply = MllpFrame("this is no acknowledgement");
                break;
            case EBehaviour::SlowAck:
                std::this_thread::sleep_for(400ms);
                [[fallthrough]];
            case EBehaviour::Ack:
                reply =
                    MllpFrame(msh + "MSA|" + a.Code + "|" + ControlIdOf(msg) + "|" + a.Text + "\r");
                break;
        }
        // Sent in two pieces, so that the client must put the frame together.
        const std::size_t half = reply.size() / 2;
        ::send(conn, reply.data(), half, MSG_NOSIGNAL);
        std::this_thread::sleep_for(20ms);
        ::send(conn, reply.data() + half, reply.size() - half, MSG_NOSIGNAL);
        return true;
    }

    std::vector<TAnswer> script_;
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> received_;
};

}  // namespace kyvo::lis::test
