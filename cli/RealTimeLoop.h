// The command-line program's event loop: timers on the steady clock and the
// serial worker's notifications, both run on the main thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "app/Platform.h"
#include "link/MainThread.h"

namespace kyvo::cli {

class RealTimeLoop final : public ITimerFactory {
  public:
    RealTimeLoop();
    ~RealTimeLoop() override;
    std::unique_ptr<ITimer> CreateTimer(std::function<void()> onTimeout) override;
    IMainThread& MainThread() { return mainThread_; }

    // Runs timers and notifications until done() holds or maxMs have passed.
    // Returns done().
    bool RunUntil(const std::function<bool()>& done, int maxMs);

  private:
    class Timer;
    friend class Timer;
    using Clock = std::chrono::steady_clock;
    void FireDue();
    Clock::time_point NextDue() const;

    QueuedMainThread mainThread_;
    std::vector<Timer*> timers_;
};

}  // namespace kyvo::cli
