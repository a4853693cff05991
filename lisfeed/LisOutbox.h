// The archive's LIS outbox bound to the lis layer: the messages are made at
// send time from what the archive holds then (so a fixed patient id or
// mapping takes effect on a resend), one sender per archive works them off.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "files/Settings.h"
#include "lis/CodeMapping.h"
#include "lis/Hl7Message.h"
#include "lis/LisSender.h"

namespace kyvo {

// What a sender needs, made once from the settings.
struct TLisSenderConfig {
    lis::TMllpEndpoint Endpoint;
    lis::TLisSettings Message;
    lis::TCodeMapping Mapping;
    std::chrono::milliseconds ConnectTimeout{10000};
    std::chrono::milliseconds AckTimeout{30000};
    bool SendControls = true;
    // The language the rows' validity texts may be in (English always counts).
    TextLookup Text;
};

struct TLisConfigResult {
    std::optional<TLisSenderConfig> Config;
    std::string Error;  // why there is none: no host, a bad --lis, an unreadable mapping
    // Mapping lines that were not understood (the rest of the file counts).
    std::vector<std::string> Warnings;
};

// hostPort ("HOST:PORT", "[v6]:PORT") stands above the settings' host and
// port when not empty.
TLisConfigResult MakeLisSenderConfig(const TLisSendSettings& settings,
                                     const std::string& hostPort = {});

// The message of an outbox entry as it would leave at sendTime; throws
// TArchiveError when the archive cannot give the measurement.
std::string BuildLisMessage(IArchive& archive, const TLisOutboxEntry& entry,
                            const TLisSenderConfig& config,
                            std::chrono::system_clock::time_point sendTime);

enum class ELisSendOutcome : std::uint8_t { Delivered, Held, Failed };
std::string LisSendOutcomeName(ELisSendOutcome outcome);  // "delivered", "held", "failed"

// One message's outcome, as the sender saw it.
struct TLisSendEvent {
    TLisOutboxEntry Entry;  // as it was taken from the outbox
    ELisSendOutcome Outcome = ELisSendOutcome::Failed;
    std::string Reason;  // held or failed: why
};
using TLisSendObserver = std::function<void(const TLisSendEvent&)>;

// ILisOutbox over an archive. Next() writes the entry's send mark (audit
// row, attempts) before the message leaves, so that a sender killed
// between sending and marking the answer leaves a trace: the next sender
// sends the same control id again and the history shows both sends.
class TArchiveLisOutbox final : public lis::ILisOutbox {
  public:
    TArchiveLisOutbox(IArchive& archive, const TLisSenderConfig& config, TArchiveActor actor,
                      TLisSendObserver observer = {});
    std::optional<lis::TOutboxEntry> Next() override;
    void MarkDelivered(std::int64_t id, const lis::TAck& ack) override;
    void MarkHeld(std::int64_t id, std::optional<lis::EAckCode> code,
                  const std::string& reason) override;
    void MarkAttempt(std::int64_t id, const std::string& reason, int failedAttempts) override;

  private:
    void Tell(std::int64_t id, ELisSendOutcome outcome, const std::string& reason);
    IArchive& archive_;
    const TLisSenderConfig& config_;
    TArchiveActor actor_;
    TLisSendObserver observer_;
    std::optional<TLisOutboxEntry> current_;
};

// How long one run keeps at it when the LIS does not answer.
struct TLisRunPolicy {
    // Failed attempts in a row (no answer, connection closed or refused)
    // after which the run gives up and leaves the rest waiting; 0: never.
    int MaxFailedAttempts = 3;
    // The pause after the n-th failure; lis::RetryPause by default.
    std::function<std::chrono::milliseconds(int)> Pause;
    // Asked while pausing: true ends the run at once (the rest waits).
    std::function<bool()> Stop;
};

struct TLisRunResult {
    int Delivered = 0;
    int Held = 0;
    int Failed = 0;            // failed attempts
    bool OtherSender = false;  // another sender holds the archive's lock: nothing done
    bool GaveUp = false;       // the LIS did not answer: the rest waits
    bool LostLock = false;     // the archive connection was renewed meanwhile
    std::string Error;         // the archive failed (its words)
};

// Works the outbox through once: takes the sender lock (or reports
// OtherSender), sends oldest first until nothing waits or the policy gives
// up, releases the lock.
TLisRunResult RunLisOutbox(IArchive& archive, lis::ILisLink& link, const TLisSenderConfig& config,
                           const TArchiveActor& actor, const TLisRunPolicy& policy,
                           const TLisSendObserver& observer = {});

}  // namespace kyvo
