// How the serial worker sleeps between rounds without waking needlessly:
// poll() on the port's descriptor together with an eventfd that other
// threads raise when there is work (bytes queued, the port changing, the
// worker stopping).
#pragma once

#include <atomic>

namespace kyvo {

class PortWaiter {
  public:
    PortWaiter();
    ~PortWaiter();
    PortWaiter(const PortWaiter&) = delete;
    PortWaiter& operator=(const PortWaiter&) = delete;

    // False when no eventfd could be had; the worker then keeps fixed rounds.
    bool ok() const { return fd_ >= 0; }

    // Any thread. Only the first call after a wait has taken the wake-up
    // costs a system call, so queuing byte by byte stays cheap.
    void wake();

    struct Result {
        bool woken = false;      // wake() was called
        bool portReady = false;  // the port has bytes, hung up or failed
    };
    // One thread only: returns after a wake(), when portFd (ignored when
    // negative) is readable or failed, or after timeoutMs.
    Result wait(int portFd, int timeoutMs);

  private:
    int fd_ = -1;
    std::atomic<bool> pending_{false};
};

}  // namespace kyvo
