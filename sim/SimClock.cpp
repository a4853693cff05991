#include "sim/SimClock.h"

#include <algorithm>

#include "sim/Records.h"

namespace kyvo::sim {

void SimClock::advance(std::uint64_t ms, const std::function<bool()>& halted) {
    std::uint64_t target = now_ + ms;
    while (!events_.empty() && events_.begin()->first <= target) {
        auto it = events_.begin();
        now_ = std::max(now_, it->first);
        Task run = std::move(it->second);
        events_.erase(it);
        if (!halted()) run();
    }
    now_ = target;
}

std::optional<std::uint64_t> SimClock::nextEventMs() const {
    if (events_.empty()) return std::nullopt;
    return events_.begin()->first;
}

void SimClock::setDeviceClock(const TDateData& date) {
    ++settings_;
    if (auto s = dateToSeconds(date))
        offset_ = *s - hostNow();
    else
        offset_.reset();
}

std::optional<TDateData> SimClock::deviceClock() const {
    if (!offset_) return std::nullopt;
    return secondsToDate(hostNow() + *offset_);
}

}  // namespace kyvo::sim
