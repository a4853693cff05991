// A pseudo-terminal for the link tests: the test holds the master side, the
// code under test opens the slave path as its port.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kyvo::test {

class Pty {
  public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            char name[128] = {};
            if (ptsname_r(master_, name, sizeof name) == 0) slave_ = name;
        }
        if (master_ >= 0) fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0 && !slave_.empty(); }
    const std::string& slave() const { return slave_; }
    int master() const { return master_; }

    void closeMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    // What the device sends.
    bool send(const std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else {
                struct pollfd p {
                    master_, POLLOUT, 0
                };
                if (poll(&p, 1, 2000) <= 0) return false;
            }
        }
        return true;
    }

    // Reads until `count` bytes came or nothing came for `idleMs`.
    std::vector<std::uint8_t> receive(std::size_t count, int idleMs = 2000) {
        std::vector<std::uint8_t> out;
        std::uint8_t buf[4096];
        while (out.size() < count) {
            struct pollfd p {
                master_, POLLIN, 0
            };
            if (poll(&p, 1, idleMs) <= 0) break;
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

  private:
    int master_ = -1;
    std::string slave_;
};

}  // namespace kyvo::test
