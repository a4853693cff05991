#include "cli/RealTimeLoop.h"

#include <algorithm>

namespace kyvo::cli {

class RealTimeLoop::Timer final : public ITimer {
  public:
    Timer(RealTimeLoop& owner, std::function<void()> fn) : owner_(&owner), fn_(std::move(fn)) {
        owner_->timers_.push_back(this);
    }
    ~Timer() override {
        if (!owner_) return;
        auto& v = owner_->timers_;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
    void Start(int ms) override {
        interval_ = std::max(1, ms);
        due_ = Clock::now() + std::chrono::milliseconds(interval_);
        active_ = true;
    }
    void Stop() override { active_ = false; }
    bool IsActive() const override { return active_; }
    int Interval() const override { return interval_; }

    RealTimeLoop* owner_;
    std::function<void()> fn_;
    int interval_ = 1;
    bool active_ = false;
    Clock::time_point due_{};
};

RealTimeLoop::RealTimeLoop() = default;

RealTimeLoop::~RealTimeLoop() {
    for (Timer* t : timers_) t->owner_ = nullptr;
}

std::unique_ptr<ITimer> RealTimeLoop::CreateTimer(std::function<void()> onTimeout) {
    return std::make_unique<Timer>(*this, std::move(onTimeout));
}

RealTimeLoop::Clock::time_point RealTimeLoop::NextDue() const {
    auto best = Clock::time_point::max();
    for (const Timer* t : timers_)
        if (t->active_) best = std::min(best, t->due_);
    return best;
}

void RealTimeLoop::FireDue() {
    // One due timer at a time: a callback may stop or re-arm the others.
    for (;;) {
        const auto now = Clock::now();
        Timer* next = nullptr;
        for (Timer* t : timers_)
            if (t->active_ && t->due_ <= now && (!next || t->due_ < next->due_)) next = t;
        if (!next) return;
        next->due_ = now + std::chrono::milliseconds(next->interval_);
        auto fn = next->fn_;
        fn();
    }
}

bool RealTimeLoop::RunUntil(const std::function<bool()>& done, int maxMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(maxMs);
    for (;;) {
        mainThread_.runPending();
        FireDue();
        if (done()) return true;
        const auto now = Clock::now();
        if (now >= end) return done();
        auto wake = std::min(NextDue(), end);
        if (wake < now) wake = now;
        mainThread_.waitAndRun(
            std::min<Clock::duration>(wake - now, std::chrono::milliseconds(20)));
    }
}

}  // namespace kyvo::cli
