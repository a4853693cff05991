// Delivering an outbox to the LIS, one message at a time, oldest first.
//
// - AA or CA whose MSA-2 is the message's control id: delivered.
// - AE, AR, CE or CR for it: held with the acknowledgement's texts (MSA-3,
//   ERR); a person must look at it, it is never sent again by itself, and
//   the messages behind it go on.
// - No answer, a closed or refused connection, an answer that is no
//   acknowledgement, or an acknowledgement of another message (its MSA-2):
//   the same message (same bytes, same control id) is sent again after a
//   pause that doubles from 5 s up to 10 min; nothing behind it overtakes
//   it, so that a correction never reaches the LIS before its original.
//   An answer of another message also drops the connection, whose answers
//   are out of step.
// - A TLS connection that cannot be made safely (the server's certificate
//   not trusted or naming another host, a handshake that failed, unusable
//   certificate files): held with the reason. A person must fix the
//   settings; the message never goes in plain text instead.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "lis/Hl7Ack.h"
#include "lis/Mllp.h"

namespace kyvo::lis {

struct TOutboxEntry {
    std::int64_t Id = 0;
    std::string ControlId;  // MSH-10 of Message
    std::string Message;
};

// The persistent queue (the archive's outbox in the program).
class ILisOutbox {
  public:
    virtual ~ILisOutbox() = default;
    // The oldest message that is neither delivered nor held.
    virtual std::optional<TOutboxEntry> Next() = 0;
    virtual void MarkDelivered(std::int64_t id, const TAck& ack) = 0;
    // reason: the acknowledgement's texts, for the person who clears it.
    // code: the acknowledgement's, or none when the message was held
    // before any answer (a TLS check that failed).
    virtual void MarkHeld(std::int64_t id, std::optional<EAckCode> code,
                          const std::string& reason) = 0;
    // A failed attempt; the message stays next in line.
    virtual void MarkAttempt(std::int64_t id, const std::string& reason, int failedAttempts) = 0;
};

// How messages reach the LIS: one message out, one answer back.
class ILisLink {
  public:
    virtual ~ILisLink() = default;
    virtual TMllpResult Exchange(std::string_view message) = 0;
    // Closes the connection; the next Exchange opens a new one.
    virtual void Drop() = 0;
};

// ILisLink over TMllpClient: connects when not connected, keeps the
// connection between messages.
class TMllpLink : public ILisLink {
  public:
    TMllpLink(TMllpEndpoint endpoint, std::chrono::milliseconds connectTimeout,
              std::chrono::milliseconds replyTimeout)
        : endpoint_(std::move(endpoint)),
          connectTimeout_(connectTimeout),
          replyTimeout_(replyTimeout) {}
    TMllpResult Exchange(std::string_view message) override;
    void Drop() override { client_.Close(); }

  private:
    TMllpEndpoint endpoint_;
    std::chrono::milliseconds connectTimeout_, replyTimeout_;
    TMllpClient client_;
};

enum class ESendVerdict { Delivered, Held, Retry };

struct TSendJudgement {
    ESendVerdict Verdict = ESendVerdict::Retry;
    std::optional<TAck> Ack;  // when one for this message came
    std::string Reason;       // for Held and Retry
    bool DropConnection = false;
};

// What an exchange's result means for the message with controlId.
TSendJudgement JudgeExchange(std::string_view controlId, const TMllpResult& result);

// The pause after the n-th failed attempt in a row (n >= 1): 5 s, 10 s,
// 20 s, ... at most 10 min.
std::chrono::seconds RetryPause(int failedAttempts);

class TLisSender {
  public:
    using Clock = std::chrono::steady_clock;
    TLisSender(ILisOutbox& outbox, ILisLink& link) : outbox_(outbox), link_(link) {}

    // Sends the next message when one is due at now. Returns when to call
    // again: now while messages wait, the end of the pause after a failure,
    // none when the outbox is empty (call again when it gets a message).
    std::optional<Clock::time_point> Step(Clock::time_point now);

    int FailedAttempts() const { return failed_; }

  private:
    ILisOutbox& outbox_;
    ILisLink& link_;
    int failed_ = 0;
    std::optional<Clock::time_point> pauseUntil_;
};

}  // namespace kyvo::lis
