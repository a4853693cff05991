// The simulated device's time: the millisecond counter the caller moves on,
// the queue of things the device does by itself, and the device clock that
// runs from the computer's clock with an offset.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

#include "protocol/ByteBuffer.h"

namespace kyvo::sim {

class SimClock {
  public:
    using Task = std::function<void()>;

    // hostAt0: the computer's clock (local civil seconds) at time 0;
    // offset: device clock minus computer clock, none for an invalid date.
    SimClock(std::int64_t hostAt0, std::optional<std::int64_t> offset)
        : hostAt0_(hostAt0), offset_(offset) {}

    std::uint64_t now() const { return now_; }

    // Tasks due at the same time run in the order they were queued.
    void at(std::uint64_t when, Task run) { events_.emplace(when, std::move(run)); }
    void after(std::uint64_t ms, Task run) { at(now_ + ms, std::move(run)); }
    // Runs the tasks due on the way, in time order; while halted() is true
    // due tasks are dropped instead of run.
    void advance(std::uint64_t ms, const std::function<bool()>& halted);
    std::optional<std::uint64_t> nextEventMs() const;
    void clearEvents() { events_.clear(); }

    // The computer's clock now.
    std::int64_t hostNow() const { return hostAt0_ + static_cast<std::int64_t>(now_ / 1000); }
    void setHostTime(std::int64_t localSeconds) {
        hostAt0_ = localSeconds - static_cast<std::int64_t>(now_ / 1000);
    }

    const std::optional<std::int64_t>& offset() const { return offset_; }
    void setOffset(std::optional<std::int64_t> offset) { offset_ = offset; }
    // Sets the device clock as setDateTime does; an invalid date leaves it
    // reporting no date.
    void setDeviceClock(const TDateData& date);
    std::optional<TDateData> deviceClock() const;
    // Counts the device clock's settings.
    std::uint64_t settings() const { return settings_; }

  private:
    std::int64_t hostAt0_;
    std::optional<std::int64_t> offset_;
    std::uint64_t now_ = 0;
    std::uint64_t settings_ = 0;
    std::multimap<std::uint64_t, Task> events_;
};

}  // namespace kyvo::sim
