#include "app/DockWatch.h"

namespace kyvo {

void TDockWatch::Look(const std::map<std::string, std::string>& present, std::int64_t nowMs) {
    for (auto it = readers_.begin(); it != readers_.end();) {
        if (present.count(it->first) || it->second.Busy) {
            it->second.Present = present.count(it->first) > 0;
            ++it;
        } else {
            it = readers_.erase(it);
        }
    }
    for (const auto& [key, fingerprint] : present) {
        auto [it, added] = readers_.try_emplace(key);
        TReader& r = it->second;
        if (added) {
            r.Fingerprint = fingerprint;
            r.DueMs = nowMs;
        } else if (r.Fingerprint != fingerprint) {
            r.Fingerprint = fingerprint;
            if (r.Busy)
                r.Replugged = true;
            else
                r.DueMs = nowMs;
        }
    }
}

std::vector<std::string> TDockWatch::TakeDue(std::int64_t nowMs) {
    std::vector<std::string> due;
    for (auto& [key, r] : readers_)
        if (r.Present && !r.Busy && r.DueMs >= 0 && r.DueMs <= nowMs) {
            r.Busy = true;
            due.push_back(key);
        }
    return due;
}

void TDockWatch::Ended(const std::string& key, EDockEnd end, std::int64_t nowMs) {
    const auto it = readers_.find(key);
    if (it == readers_.end()) return;
    TReader& r = it->second;
    r.Busy = false;
    if (!r.Present) {
        // Unplugged while it was read: whatever it comes back as is new.
        readers_.erase(it);
        return;
    }
    if (r.Replugged) {
        r.Replugged = false;
        r.DueMs = nowMs;
        return;
    }
    switch (end) {
        case EDockEnd::Read:
            r.DueMs = policy_.RereadMs > 0 ? nowMs + policy_.RereadMs : -1;
            break;
        case EDockEnd::Held:
            r.DueMs = nowMs + policy_.HeldRetryMs;
            break;
        case EDockEnd::Failed:
            r.DueMs = nowMs + policy_.FailedRetryMs;
            break;
    }
}

std::size_t TDockWatch::Busy() const {
    std::size_t n = 0;
    for (const auto& [key, r] : readers_) n += r.Busy;
    return n;
}

}  // namespace kyvo
