#include "app/VirtualScheduler.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace kyvo {

class VirtualScheduler::Timer final : public ITimer {
  public:
    Timer(VirtualScheduler& owner, std::function<void()> fn) : owner_(&owner), fn_(std::move(fn)) {
        owner_->timers_.push_back(this);
    }
    ~Timer() override {
        if (owner_) {
            auto& v = owner_->timers_;
            v.erase(std::remove(v.begin(), v.end(), this), v.end());
        }
    }
    void Start(int intervalMs) override {
        interval_ = intervalMs;
        active_ = true;
        due_ = owner_->now_ + std::max(1, intervalMs);
        seq_ = ++owner_->armSeq_;
    }
    void Stop() override { active_ = false; }
    bool IsActive() const override { return active_; }
    int Interval() const override { return interval_; }

    VirtualScheduler* owner_;
    std::function<void()> fn_;
    int interval_ = 0;
    bool active_ = false;
    std::int64_t due_ = 0;
    std::uint64_t seq_ = 0;
};

VirtualScheduler::VirtualScheduler(TLocalDateTime start) : startEpochMs_(ToEpochMs(start)) {}

VirtualScheduler::~VirtualScheduler() {
    for (Timer* t : timers_) t->owner_ = nullptr;
}

std::unique_ptr<ITimer> VirtualScheduler::CreateTimer(std::function<void()> onTimeout) {
    return std::make_unique<Timer>(*this, std::move(onTimeout));
}

TLocalDateTime VirtualScheduler::Now() {
    return FromEpochMs(startEpochMs_ + now_ + wallOffset_);
}

std::int64_t VirtualScheduler::NextDue() const {
    std::int64_t best = std::numeric_limits<std::int64_t>::max();
    for (const Timer* t : timers_)
        if (t->active_) best = std::min(best, t->due_);
    for (const Hook& h : hooks_) best = std::min(best, h.due);
    return best;
}

void VirtualScheduler::Advance(std::int64_t ms) {
    const std::int64_t end = now_ + ms;
    for (;;) {
        const std::int64_t due = NextDue();
        if (due > end) break;
        now_ = due;
        // Hooks first: they model the worker delivering bytes, which happens
        // before a timer due at the same instant is looked at.
        for (std::size_t i = 0; i < hooks_.size(); ++i) {
            if (hooks_[i].due == now_) {
                hooks_[i].due += hooks_[i].period;
                auto fn = hooks_[i].fn;
                fn();
            }
        }
        // Fire the earliest-armed due timer, then look again: its callback
        // may have stopped or re-armed others.
        for (;;) {
            Timer* next = nullptr;
            for (Timer* t : timers_)
                if (t->active_ && t->due_ == now_ && (!next || t->seq_ < next->seq_)) next = t;
            if (!next) break;
            next->due_ = now_ + std::max(1, next->interval_);
            next->seq_ = ++armSeq_;
            auto fn = next->fn_;
            fn();
        }
    }
    // A callback that advanced the clock itself (a modal box's event loop)
    // may have moved past end; time never runs back.
    now_ = std::max(now_, end);
}

void VirtualScheduler::AddTickHook(int periodMs, std::function<void()> fn) {
    hooks_.push_back({std::max(1, periodMs), now_ + std::max(1, periodMs), std::move(fn)});
}

std::int64_t VirtualScheduler::ToEpochMs(const TLocalDateTime& t) {
    using namespace std::chrono;
    const sys_days d = year_month_day{year{t.Year}, month{static_cast<unsigned>(t.Month)},
                                      day{static_cast<unsigned>(t.Day)}};
    return d.time_since_epoch().count() * 86400000LL +
           ((t.Hour * 60LL + t.Minute) * 60LL + t.Second) * 1000LL + t.Millisecond;
}

TLocalDateTime VirtualScheduler::FromEpochMs(std::int64_t ms) {
    using namespace std::chrono;
    std::int64_t days = ms / 86400000LL;
    std::int64_t rest = ms % 86400000LL;
    if (rest < 0) {
        rest += 86400000LL;
        --days;
    }
    const year_month_day ymd{sys_days{std::chrono::days{days}}};
    TLocalDateTime t;
    t.Year = static_cast<int>(ymd.year());
    t.Month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    t.Day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    t.Hour = static_cast<int>(rest / 3600000);
    t.Minute = static_cast<int>(rest / 60000 % 60);
    t.Second = static_cast<int>(rest / 1000 % 60);
    t.Millisecond = static_cast<int>(rest % 1000);
    return t;
}

}  // namespace kyvo
