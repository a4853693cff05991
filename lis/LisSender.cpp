#include "lis/LisSender.h"

#include <algorithm>

namespace kyvo::lis {

TMllpResult TMllpLink::Exchange(std::string_view message) {
    if (!client_.Connected()) {
        TMllpResult c = client_.Connect(endpoint_, connectTimeout_);
        if (c.Outcome != EMllpOutcome::Answered) return c;
    }
    return client_.Exchange(message, replyTimeout_);
}

TSendJudgement JudgeExchange(std::string_view controlId, const TMllpResult& result) {
    TSendJudgement j;
    if (result.Outcome != EMllpOutcome::Answered) {
        j.Reason = std::string(MllpOutcomeName(result.Outcome));
        if (!result.Detail.empty()) j.Reason += ": " + result.Detail;
        // Trying again cannot make a certificate trustworthy.
        if (result.Outcome == EMllpOutcome::Failed && result.Detail.rfind("TLS", 0) == 0)
            j.Verdict = ESendVerdict::Held;
        return j;
    }
    TAckParse p = ParseAck(result.Reply);
    if (!p.Ack) {
        j.Reason = "no acknowledgement: " + p.Error;
        j.DropConnection = true;
        return j;
    }
    if (p.Ack->AckedControlId != controlId) {
        j.Reason = "acknowledgement of another message (" + p.Ack->AckedControlId + ")";
        j.DropConnection = true;
        return j;
    }
    const EAckCode code = p.Ack->Code;
    if (code == EAckCode::AA || code == EAckCode::CA) {
        j.Verdict = ESendVerdict::Delivered;
    } else {
        j.Verdict = ESendVerdict::Held;
        j.Reason = std::string(AckCodeName(code));
        for (const std::string* t : {&p.Ack->Text, &p.Ack->ErrorText})
            if (!t->empty()) j.Reason += ": " + *t;
    }
    j.Ack = std::move(p.Ack);
    return j;
}

std::chrono::seconds RetryPause(int failedAttempts) {
    std::chrono::seconds pause{5};
    for (int i = 1; i < failedAttempts && pause < std::chrono::seconds(600); ++i) pause *= 2;
    return std::min(pause, std::chrono::seconds(600));
}

std::optional<TLisSender::Clock::time_point> TLisSender::Step(Clock::time_point now) {
    if (pauseUntil_ && now < *pauseUntil_) return pauseUntil_;
    std::optional<TOutboxEntry> e = outbox_.Next();
    if (!e) return std::nullopt;
    const TSendJudgement j = JudgeExchange(e->ControlId, link_.Exchange(e->Message));
    if (j.DropConnection) link_.Drop();
    switch (j.Verdict) {
        case ESendVerdict::Delivered:
            outbox_.MarkDelivered(e->Id, *j.Ack);
            break;
        case ESendVerdict::Held:
            outbox_.MarkHeld(e->Id, j.Ack ? std::optional<EAckCode>(j.Ack->Code) : std::nullopt,
                             j.Reason);
            // Held without an answer: the line did not work.
            if (!j.Ack) {
                link_.Drop();
                return now;
            }
            break;
        case ESendVerdict::Retry:
            ++failed_;
            outbox_.MarkAttempt(e->Id, j.Reason, failed_);
            pauseUntil_ = now + RetryPause(failed_);
            return pauseUntil_;
    }
    // The LIS answered: the line works again.
    failed_ = 0;
    pauseUntil_.reset();
    return now;
}

}  // namespace kyvo::lis
