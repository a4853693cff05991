#include "lis/Mllp.h"

#include "lis/MllpStream.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace kyvo::lis {

namespace detail {

int WaitFor(int fd, short events, Clock::time_point deadline) {
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int ms = left <= 0 ? 0 : left > 3600000 ? 3600000 : static_cast<int>(left);
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, ms);
        if (r < 0 && errno == EINTR) continue;
        return r;
    }
}

TMllpResult Ok() {
    return Outcome(EMllpOutcome::Answered);
}

TMllpResult Outcome(EMllpOutcome o, std::string detail) {
    TMllpResult r;
    r.Outcome = o;
    r.Detail = std::move(detail);
    return r;
}

EMllpOutcome OutcomeOfErrno(int e) {
    switch (e) {
        case ECONNREFUSED:
            return EMllpOutcome::Refused;
        case ETIMEDOUT:
            return EMllpOutcome::TimedOut;
        case ECONNRESET:
        case EPIPE:
        case ECONNABORTED:
            return EMllpOutcome::Closed;
        default:
            return EMllpOutcome::Failed;
    }
}

namespace {

class TPlainStream : public IMllpStream {
  public:
    explicit TPlainStream(int fd) : fd_(fd) {}
    ~TPlainStream() override { ::close(fd_); }

    TMllpResult WriteAll(std::string_view data, Clock::time_point deadline) override {
        std::size_t sent = 0;
        while (sent < data.size()) {
            const ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                const int r = WaitFor(fd_, POLLOUT, deadline);
                if (r == 0)
                    return Outcome(EMllpOutcome::TimedOut,
                                   "the message could not be sent within the time");
                if (r < 0) return Outcome(EMllpOutcome::Failed, std::strerror(errno));
                continue;
            }
            return Outcome(OutcomeOfErrno(errno), std::strerror(errno));
        }
        return Ok();
    }

    TMllpResult ReadSome(std::string& out, Clock::time_point deadline) override {
        char buf[4096];
        while (true) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n > 0) {
                out.append(buf, static_cast<std::size_t>(n));
                return Ok();
            }
            if (n == 0)
                return Outcome(EMllpOutcome::Closed,
                               "the LIS closed the connection before it answered");
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return Outcome(OutcomeOfErrno(errno), std::strerror(errno));
            const int w = WaitFor(fd_, POLLIN, deadline);
            if (w == 0) return Outcome(EMllpOutcome::TimedOut, "no answer within the time");
            if (w < 0) return Outcome(EMllpOutcome::Failed, std::strerror(errno));
        }
    }

  private:
    int fd_;
};

}  // namespace

std::unique_ptr<IMllpStream> PlainStream(int fd) {
    return std::make_unique<TPlainStream>(fd);
}

}  // namespace detail

using namespace detail;

std::string MllpFrame(std::string_view message) {
    std::string out;
    out.reserve(message.size() + 3);
    out += kMllpStart;
    out += message;
    out += kMllpEnd;
    out += kMllpTrailer;
    return out;
}

void TMllpDeframer::Feed(std::string_view bytes) {
    for (const char c : bytes) {
        switch (state_) {
            case State::Outside:
                if (c == kMllpStart) {
                    current_.clear();
                    state_ = State::Inside;
                }
                break;
            case State::Skipping:
                if (c == kMllpStart) {
                    current_.clear();
                    state_ = State::Inside;
                }
                break;
            case State::AfterEnd:
                if (c == kMllpTrailer) {
                    ready_.push_back(std::move(current_));
                    current_.clear();
                    state_ = State::Outside;
                    break;
                }
                current_ += kMllpEnd;
                state_ = State::Inside;
                [[fallthrough]];
            case State::Inside:
                if (c == kMllpStart) {
                    current_.clear();
                } else if (c == kMllpEnd) {
                    state_ = State::AfterEnd;
                } else if (current_.size() >= max_) {
                    overflowed_ = true;
                    current_.clear();
                    current_.shrink_to_fit();
                    state_ = State::Skipping;
                } else {
                    current_ += c;
                }
                break;
        }
    }
}

std::optional<std::string> TMllpDeframer::Next() {
    if (ready_.empty()) return std::nullopt;
    std::string out = std::move(ready_.front());
    ready_.pop_front();
    return out;
}

std::string_view MllpOutcomeName(EMllpOutcome outcome) {
    switch (outcome) {
        case EMllpOutcome::Answered:
            return "answered";
        case EMllpOutcome::Refused:
            return "refused";
        case EMllpOutcome::Closed:
            return "closed";
        case EMllpOutcome::TimedOut:
            return "timed out";
        case EMllpOutcome::Failed:
            return "failed";
    }
    return "?";
}

TMllpClient::TMllpClient() = default;

TMllpClient::~TMllpClient() {
    Close();
}

void TMllpClient::Close() {
    stream_.reset();
    deframer_ = TMllpDeframer();
}

TMllpResult TMllpClient::Connect(const TMllpEndpoint& endpoint, std::chrono::milliseconds timeout) {
    Close();
    const Clock::time_point deadline = Clock::now() + timeout;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string port = std::to_string(endpoint.Port);
    if (const int rc = ::getaddrinfo(endpoint.Host.c_str(), port.c_str(), &hints, &list); rc != 0)
        return Outcome(EMllpOutcome::Failed, endpoint.Host + ": " + ::gai_strerror(rc));

    TMllpResult last = Outcome(EMllpOutcome::Failed, endpoint.Host + ": no address");
    for (addrinfo* a = list; a; a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            last = Outcome(EMllpOutcome::Failed, std::strerror(errno));
            continue;
        }
        int err = 0;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            err = errno;
            if (err == EINPROGRESS) {
                const int r = WaitFor(fd, POLLOUT, deadline);
                if (r == 0) {
                    ::close(fd);
                    last = Outcome(EMllpOutcome::TimedOut, "no connection within the time");
                    break;  // the time is spent for every further address too
                }
                socklen_t len = sizeof err;
                if (r < 0)
                    err = errno;
                else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                    err = errno;
            }
        }
        if (err == 0) {
            if (endpoint.Tls) {
                stream_ = TlsStream(fd, *endpoint.Tls, endpoint.Host, deadline, &last);
            } else {
                stream_ = PlainStream(fd);
                last = Ok();
            }
            break;
        }
        ::close(fd);
        last = Outcome(OutcomeOfErrno(err), std::strerror(err));
    }
    ::freeaddrinfo(list);
    return last;
}

TMllpResult TMllpClient::Exchange(std::string_view message, std::chrono::milliseconds timeout) {
    if (!stream_) return Outcome(EMllpOutcome::Closed, "not connected");
    const Clock::time_point deadline = Clock::now() + timeout;
    const auto fail = [&](TMllpResult r) {
        Close();
        return r;
    };
    // An answer the peer sent unasked (or late) belongs to no message of ours.
    while (deframer_.Next()) {
    }
    if (TMllpResult w = stream_->WriteAll(MllpFrame(message), deadline);
        w.Outcome != EMllpOutcome::Answered)
        return fail(std::move(w));
    std::string bytes;
    while (true) {
        if (auto reply = deframer_.Next()) {
            TMllpResult r = Ok();
            r.Reply = std::move(*reply);
            return r;
        }
        bytes.clear();
        if (TMllpResult r = stream_->ReadSome(bytes, deadline); r.Outcome != EMllpOutcome::Answered)
            return fail(std::move(r));
        deframer_.Feed(bytes);
    }
}

}  // namespace kyvo::lis
