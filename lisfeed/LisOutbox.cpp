#include "lisfeed/LisOutbox.h"

#include <algorithm>
#include <thread>

#include "protocol/ByteBuffer.h"

namespace kyvo {

namespace {

// "host:port", "[v6]:port"; false when it is neither.
bool SplitHostPort(const std::string& text, std::string& host, int& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        return false;  // a bare v6 address needs its brackets
    }
    std::uint32_t n = 0;
    if (!strToCardinal(text.substr(colon + 1), n) || n == 0 || n > 65535) return false;
    port = static_cast<int>(n);
    return true;
}

}  // namespace

TLisConfigResult MakeLisSenderConfig(const TLisSendSettings& s, const std::string& hostPort) {
    TLisConfigResult out;
    std::string host = s.Host;
    int port = s.Port;
    if (!hostPort.empty() && !SplitHostPort(hostPort, host, port)) {
        out.Error = "\"" + hostPort + "\" is no HOST:PORT";
        return out;
    }
    if (host.empty()) {
        out.Error = "no LIS is set (the setting \"LIS\"/\"Host\" is empty, and no --lis HOST:PORT)";
        return out;
    }
    TLisSenderConfig c;
    c.Endpoint = lis::TMllpEndpoint(host, static_cast<std::uint16_t>(port));
    if (s.Tls) {
        if (s.CaFile.empty()) {
            out.Error = "TLS is on, but no CA file is set (\"LIS\"/\"CAFile\")";
            return out;
        }
        c.Endpoint.Tls = lis::TMllpTls{s.CaFile, s.ServerName, s.CertFile, s.KeyFile};
    }
    c.Message.SendingApplication = s.SendingApplication;
    c.Message.SendingFacility = s.SendingFacility;
    c.Message.ReceivingApplication = s.ReceivingApplication;
    c.Message.ReceivingFacility = s.ReceivingFacility;
    c.Message.ProcessingId =
        s.ProcessingId == "T" ? lis::EProcessingId::Training : lis::EProcessingId::Production;
    c.AckTimeout = std::chrono::seconds(std::max(1, s.AckTimeoutSeconds));
    c.SendControls = s.SendControls;
    if (!s.MappingFile.empty()) {
        lis::TMappingParse p = lis::LoadCodeMapping(s.MappingFile);
        for (const auto& e : p.Errors) {
            // A file that cannot be read at all would send every result with
            // a local code the LIS may file under the wrong test: refused.
            if (e.Line == 0) {
                out.Error = lis::MappingErrorText(e);
                return out;
            }
            out.Warnings.push_back(s.MappingFile + ": " + lis::MappingErrorText(e));
        }
        c.Mapping = std::move(p.Mapping);
    }
    out.Config = std::move(c);
    return out;
}

std::string BuildLisMessage(IArchive& archive, const TLisOutboxEntry& entry,
                            const TLisSenderConfig& config,
                            std::chrono::system_clock::time_point sendTime) {
    const TArchiveRecord rec = archive.LoadRecord(entry.MeasurementId);
    lis::TLisMeasurement m;
    m.Set = &rec.Set;
    m.MeasurementId = entry.MeasurementId;
    m.Version = entry.Version;
    m.Corrected = entry.Corrected;
    m.DeviceSerial = rec.Device.Serial;
    m.Text = config.Text;
    // A control goes as one (SPM-11 Q); a patient's result under a rejected
    // control says so, so the LIS does not take it as plain.
    if (const auto row = archive.Row(entry.MeasurementId)) {
        if (row->Role == "control")
            m.Role = lis::ESpecimenRole::Control;
        else if (row->Role == "patient")
            m.Role = lis::ESpecimenRole::Patient;
        m.QcFailed = row->QcFailed;
    }
    return lis::BuildOruR01(m, config.Message, config.Mapping, sendTime);
}

std::string LisSendOutcomeName(ELisSendOutcome outcome) {
    switch (outcome) {
        case ELisSendOutcome::Delivered:
            return "delivered";
        case ELisSendOutcome::Held:
            return "held";
        case ELisSendOutcome::Failed:
            return "failed";
    }
    return "failed";
}

TArchiveLisOutbox::TArchiveLisOutbox(IArchive& archive, const TLisSenderConfig& config,
                                     TArchiveActor actor, TLisSendObserver observer)
    : archive_(archive),
      config_(config),
      actor_(std::move(actor)),
      observer_(std::move(observer)) {}

std::optional<lis::TOutboxEntry> TArchiveLisOutbox::Next() {
    for (;;) {
        current_ = archive_.NextLisEntry();
        if (!current_) return std::nullopt;
        std::string message;
        try {
            message =
                BuildLisMessage(archive_, *current_, config_, std::chrono::system_clock::now());
        } catch (const TArchiveError& e) {
            if (e.Kind == EArchiveErrorKind::Unreachable) throw;
            // A measurement the archive cannot give back whole is no
            // message; the ones behind it go on.
            const std::string why = std::string("the message cannot be made: ") + e.what();
            archive_.MarkLisHeld(current_->Id, why, actor_);
            Tell(current_->Id, ELisSendOutcome::Held, why);
            continue;
        }
        // Written before the message leaves: a sender that dies after
        // sending leaves this trace of it.
        archive_.MarkLisSending(current_->Id, actor_);
        ++current_->Attempts;
        return lis::TOutboxEntry{current_->Id,
                                 lis::ControlIdFor(current_->MeasurementId, current_->Version),
                                 std::move(message)};
    }
}

void TArchiveLisOutbox::MarkDelivered(std::int64_t id, const lis::TAck& ack) {
    std::string text(lis::AckCodeName(ack.Code));
    if (!ack.Text.empty()) text += ": " + ack.Text;
    if (!ack.ControlId.empty()) text += " (" + ack.ControlId + ")";
    archive_.MarkLisDelivered(id, text, actor_);
    Tell(id, ELisSendOutcome::Delivered, {});
}

void TArchiveLisOutbox::MarkHeld(std::int64_t id, std::optional<lis::EAckCode>,
                                 const std::string& reason) {
    archive_.MarkLisHeld(id, reason, actor_);
    Tell(id, ELisSendOutcome::Held, reason);
}

void TArchiveLisOutbox::MarkAttempt(std::int64_t id, const std::string& reason, int) {
    archive_.MarkLisFailed(id, reason, actor_);
    Tell(id, ELisSendOutcome::Failed, reason);
}

void TArchiveLisOutbox::Tell(std::int64_t id, ELisSendOutcome outcome, const std::string& reason) {
    if (!observer_ || !current_ || current_->Id != id) return;
    observer_(TLisSendEvent{*current_, outcome, reason});
}

TLisRunResult RunLisOutbox(IArchive& archive, lis::ILisLink& link, const TLisSenderConfig& config,
                           const TArchiveActor& actor, const TLisRunPolicy& policy,
                           const TLisSendObserver& observer) {
    using Clock = lis::TLisSender::Clock;
    TLisRunResult r;
    try {
        if (!archive.TryLockLisSender()) {
            r.OtherSender = true;
            return r;
        }
    } catch (const TArchiveError& e) {
        r.Error = e.what();
        return r;
    }
    struct TUnlock {
        IArchive& a;
        ~TUnlock() { a.UnlockLisSender(); }
    } unlock{archive};

    bool heldUnanswered = false;
    std::string heldWhy;
    TArchiveLisOutbox outbox(archive, config, actor, [&](const TLisSendEvent& e) {
        switch (e.Outcome) {
            case ELisSendOutcome::Delivered:
                ++r.Delivered;
                break;
            case ELisSendOutcome::Held:
                ++r.Held;
                break;
            case ELisSendOutcome::Failed:
                ++r.Failed;
                break;
        }
        if (observer) observer(e);
    });
    // A held message without an answer (the TLS check) would hold every
    // message behind it the same way: the run stops there instead.
    struct TWatch : lis::ILisLink {
        lis::ILisLink& inner;
        bool& flag;
        std::string& why;
        TWatch(lis::ILisLink& l, bool& f, std::string& w) : inner(l), flag(f), why(w) {}
        lis::TMllpResult Exchange(std::string_view message) override {
            lis::TMllpResult res = inner.Exchange(message);
            if (res.Outcome == lis::EMllpOutcome::Failed && res.Detail.rfind("TLS", 0) == 0) {
                flag = true;
                why = res.Detail;
            }
            return res;
        }
        void Drop() override { inner.Drop(); }
    } watch(link, heldUnanswered, heldWhy);

    lis::TLisSender sender(outbox, watch);
    Clock::time_point due = Clock::now();
    try {
        for (;;) {
            if (!archive.HoldsLisSender()) {
                r.LostLock = true;
                break;
            }
            const auto next = sender.Step(std::max(due, Clock::now()));
            if (heldUnanswered) {
                r.Error = heldWhy;
                break;
            }
            if (!next) break;
            if (sender.FailedAttempts() == 0) continue;
            if (policy.MaxFailedAttempts > 0 &&
                sender.FailedAttempts() >= policy.MaxFailedAttempts) {
                r.GaveUp = true;
                break;
            }
            const auto pause = policy.Pause ? policy.Pause(sender.FailedAttempts())
                                            : std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  lis::RetryPause(sender.FailedAttempts()));
            const auto until = Clock::now() + pause;
            bool stopped = false;
            while (Clock::now() < until) {
                if (policy.Stop && policy.Stop()) {
                    stopped = true;
                    break;
                }
                std::this_thread::sleep_for(
                    std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(50)));
            }
            if (stopped) break;
            due = *next;
        }
    } catch (const TArchiveError& e) {
        r.Error = e.what();
    }
    return r;
}

}  // namespace kyvo
