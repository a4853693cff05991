// Timers and the computer's clock as the controller sees them. The Qt
// program backs them with QTimer and the system clock, the command-line
// front end with its own event loop, the tests with VirtualScheduler. All
// callbacks run on the main thread; the controller never sleeps.
#pragma once

#include <functional>
#include <memory>

#include "app/View.h"

namespace kyvo {

// A repeating timer. Start (re)arms it with the given interval from now;
// Stop disarms it. Stopping or restarting it from inside its own callback
// is allowed.
class ITimer {
  public:
    virtual ~ITimer() = default;
    virtual void Start(int intervalMs) = 0;
    virtual void Stop() = 0;
    virtual bool IsActive() const = 0;
    virtual int Interval() const = 0;
};

class ITimerFactory {
  public:
    virtual ~ITimerFactory() = default;
    // The timer starts stopped; onTimeout runs on the main thread at every
    // expiry while it is active. It must not outlive the factory.
    virtual std::unique_ptr<ITimer> CreateTimer(std::function<void()> onTimeout) = 0;
};

class IClock {
  public:
    virtual ~IClock() = default;
    // The computer's present local date and time.
    virtual TLocalDateTime Now() = 0;
};

// The system clock in local time.
class SystemClock final : public IClock {
  public:
    TLocalDateTime Now() override;
};

}  // namespace kyvo
