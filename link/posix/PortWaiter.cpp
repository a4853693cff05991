#include "link/posix/PortWaiter.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace kyvo {

PortWaiter::PortWaiter() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

PortWaiter::~PortWaiter() {
    if (fd_ >= 0) ::close(fd_);
}

void PortWaiter::wake() {
    if (fd_ < 0 || pending_.exchange(true, std::memory_order_acq_rel)) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
}

PortWaiter::Result PortWaiter::wait(int portFd, int timeoutMs) {
    struct pollfd p[2] = {{fd_, POLLIN, 0}, {portFd, POLLIN, 0}};
    Result r;
    if (::poll(p, portFd >= 0 ? 2 : 1, timeoutMs) <= 0) return r;
    if (p[0].revents & POLLIN) {
        std::uint64_t count = 0;
        [[maybe_unused]] ssize_t n = ::read(fd_, &count, sizeof count);
        // Cleared only after the drain: a wake() in between finds the flag
        // still set and skips its write, and the exchange makes what it
        // queued visible to the round that follows this wait.
        pending_.exchange(false, std::memory_order_acq_rel);
        r.woken = true;
    }
    r.portReady = portFd >= 0 && p[1].revents != 0;
    return r;
}

}  // namespace kyvo
