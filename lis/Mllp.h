// The Minimal Lower Layer Protocol over TCP: each message travels as
// 0x0B <message> 0x1C 0x0D, and the receiver answers each with one framed
// acknowledgement (original mode). The client sends one message at a time
// and waits for its answer; what the answer says is for ParseAck.
//
// With TMllpEndpoint::Tls the frames travel inside TLS (1.2 or later): the
// server's certificate must chain to the CA file and name the server; there
// is no way to switch the check off.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kyvo::lis {

inline constexpr char kMllpStart = '\x0B';
inline constexpr char kMllpEnd = '\x1C';
inline constexpr char kMllpTrailer = '\x0D';

std::string MllpFrame(std::string_view message);

// Cuts frames out of a byte stream. Bytes outside a frame are skipped; a
// start byte inside a frame starts it anew (the sender gave the old one
// up); a frame longer than maxFrame is dropped whole (Overflowed() tells)
// and reading goes on at the next start byte. A 0x1C not followed by 0x0D
// is part of the message.
class TMllpDeframer {
  public:
    explicit TMllpDeframer(std::size_t maxFrame = std::size_t{1} << 20) : max_(maxFrame) {}
    void Feed(std::string_view bytes);
    // The next complete frame's message, oldest first.
    std::optional<std::string> Next();
    bool Overflowed() const { return overflowed_; }
    // Whether some frame has begun and not ended.
    bool InFrame() const { return state_ != State::Outside; }

  private:
    enum class State { Outside, Inside, AfterEnd, Skipping };
    std::size_t max_;
    State state_ = State::Outside;
    std::string current_;
    std::deque<std::string> ready_;  // complete frames
    bool overflowed_ = false;
};

enum class EMllpOutcome {
    Answered,  // one framed answer came; Reply holds it
    Refused,   // nobody listens there (connection refused)
    Closed,    // the peer closed or reset the connection before answering
    TimedOut,  // no connection, or no complete answer, within the time
    Failed,    // anything else: name not found, network unreachable, a TLS
               // handshake or certificate check that failed, ...
};

std::string_view MllpOutcomeName(EMllpOutcome outcome);

struct TMllpResult {
    EMllpOutcome Outcome = EMllpOutcome::Failed;
    std::string Reply;   // the answer's message, unframed
    std::string Detail;  // the system's words for a failure
};

struct TMllpTls {
    std::string CaFile;      // PEM certificates of the authorities trusted
    std::string ServerName;  // the name the certificate must carry; empty: Host
    // A client certificate (PEM, with its chain) for a LIS that asks for
    // one, and its key (empty: in CertFile); both empty: none.
    std::string CertFile;
    std::string KeyFile;
};

struct TMllpEndpoint {
    TMllpEndpoint() = default;
    TMllpEndpoint(std::string host, std::uint16_t port, std::optional<TMllpTls> tls = std::nullopt)
        : Host(std::move(host)), Port(port), Tls(std::move(tls)) {}
    std::string Host;  // name or address
    std::uint16_t Port = 0;
    std::optional<TMllpTls> Tls;  // none: plain TCP
};

namespace detail {
class IMllpStream;
}

// One connection to a LIS. Not thread-safe; one message at a time.
class TMllpClient {
  public:
    TMllpClient();
    ~TMllpClient();
    TMllpClient(const TMllpClient&) = delete;
    TMllpClient& operator=(const TMllpClient&) = delete;

    // Connects (every address the name has, in turn) within timeout. Answered
    // stands for connected here.
    TMllpResult Connect(const TMllpEndpoint& endpoint, std::chrono::milliseconds timeout);
    bool Connected() const { return stream_ != nullptr; }

    // Sends message framed and waits up to timeout for one framed answer.
    // After anything but Answered the connection is closed, so that a late
    // answer can never be taken for the next message's.
    TMllpResult Exchange(std::string_view message, std::chrono::milliseconds timeout);

    void Close();

  private:
    std::unique_ptr<detail::IMllpStream> stream_;
    TMllpDeframer deframer_;
};

}  // namespace kyvo::lis
