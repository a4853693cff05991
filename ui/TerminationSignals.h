// SIGTERM and SIGHUP (a logout, `systemctl stop`, `kill`, a closed terminal)
// reach the Qt event loop: the handler only writes the signal's number into
// a pipe, and a socket notifier on the other end calls the program back
// from the loop, where it may do anything.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace kyvo {

class TTerminationSignals final : public QObject {
  public:
    TTerminationSignals() = default;
    // Restores the signals' default actions.
    ~TTerminationSignals() override;
    TTerminationSignals(const TTerminationSignals&) = delete;
    TTerminationSignals& operator=(const TTerminationSignals&) = delete;

    // Catches both signals from now on; onSignal runs in the event loop with
    // the signal's number. False (the signals keep their default action)
    // when the pipe or a handler cannot be set up. One instance at a time.
    bool install(std::function<void(int)> onSignal);

  private:
    void drain();
    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void(int)> onSignal_;
};

}  // namespace kyvo
