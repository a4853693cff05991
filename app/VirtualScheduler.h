// A deterministic stand-in for timers and the clock: time moves only when
// Advance is called, and due timers fire in order of their due time (ties in
// order of arming). Extra "tick" hooks let a test step other machinery, for
// example a suspended serial worker, at a fixed period on the same clock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "app/Platform.h"

namespace kyvo {

class VirtualScheduler final : public ITimerFactory, public IClock {
  public:
    // start is the wall-clock time at virtual millisecond 0.
    explicit VirtualScheduler(TLocalDateTime start = {2024, 5, 17, 10, 0, 0, 0});
    ~VirtualScheduler() override;

    std::unique_ptr<ITimer> CreateTimer(std::function<void()> onTimeout) override;
    TLocalDateTime Now() override;

    // Virtual milliseconds since construction.
    std::int64_t Elapsed() const { return now_; }
    // Moves time forward by ms, firing every timer and hook that falls due,
    // each at its own due time.
    void Advance(std::int64_t ms);
    // Runs fn every periodMs (first at now + periodMs) for as long as the
    // scheduler lives.
    void AddTickHook(int periodMs, std::function<void()> fn);
    // Shifts the wall clock without moving timers (clock panel tests).
    void SetWallClockOffsetMs(std::int64_t offset) { wallOffset_ = offset; }

    // Wall-clock helpers, exposed for tests.
    static std::int64_t ToEpochMs(const TLocalDateTime& t);
    static TLocalDateTime FromEpochMs(std::int64_t ms);

  private:
    class Timer;
    struct Hook {
        int period;
        std::int64_t due;
        std::function<void()> fn;
    };
    friend class Timer;

    std::int64_t NextDue() const;

    std::int64_t now_ = 0;
    std::int64_t startEpochMs_ = 0;
    std::int64_t wallOffset_ = 0;
    std::uint64_t armSeq_ = 0;
    std::vector<Timer*> timers_;
    std::vector<Hook> hooks_;
};

}  // namespace kyvo
