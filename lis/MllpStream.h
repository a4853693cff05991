// The byte stream under MLLP: a plain TCP socket or TLS over one. Internal
// to lis/; the client picks one when it connects.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "lis/Mllp.h"

namespace kyvo::lis::detail {

using Clock = std::chrono::steady_clock;

// poll() for events until deadline, through signal interruptions: >0 ready,
// 0 timed out, <0 failed (errno).
int WaitFor(int fd, short events, Clock::time_point deadline);

TMllpResult Ok();
TMllpResult Outcome(EMllpOutcome o, std::string detail = {});
// The outcome an errno of connect/send/recv stands for.
EMllpOutcome OutcomeOfErrno(int e);

class IMllpStream {
  public:
    virtual ~IMllpStream() = default;
    // Every byte of data by deadline; Answered when done.
    virtual TMllpResult WriteAll(std::string_view data, Clock::time_point deadline) = 0;
    // At least one byte appended to out by deadline; Answered when done.
    virtual TMllpResult ReadSome(std::string& out, Clock::time_point deadline) = 0;
};

// Takes fd (connected, non-blocking) over.
std::unique_ptr<IMllpStream> PlainStream(int fd);

// TLS over fd (connected, non-blocking; taken over either way): the
// handshake by deadline, the server's certificate checked against the CA
// file and the name. *result says why there is no stream.
std::unique_ptr<IMllpStream> TlsStream(int fd, const TMllpTls& tls, const std::string& host,
                                       Clock::time_point deadline, TMllpResult* result);

}  // namespace kyvo::lis::detail
