// COM mode on POSIX: a tty opened exclusively (TIOCEXCL and an flock, so a
// second opener, even one running as root, is refused), in raw mode with
// the given line settings and no flow control.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "link/SerialPort.h"

namespace kyvo {

// The codes the worker reports for a failed open.
constexpr std::uint32_t kErrPortMissing = 2;
constexpr std::uint32_t kErrPortInUse = 5;
constexpr std::uint32_t kErrPortFailure = 31;
// No permission to open the device file (not in its group, no udev rule).
constexpr std::uint32_t kErrPortNotPermitted = 13;

class TermiosPort final : public ISerialPort {
  public:
    // Opens an existing tty for reading and writing without making it the
    // controlling terminal. Null on failure, with error 2 (no such port, or
    // not a tty), 5 (held by another opener), 13 (no permission) or 31.
    static std::shared_ptr<TermiosPort> open(const std::string& path, std::uint32_t& error);
    ~TermiosPort() override;

    std::uint32_t configure(const tLineSettings& settings, bool dtr, bool rts) override;
    // Raw mode with the given line settings; the modem lines stay as they are.
    void setLine(const tLineSettings& settings);
    std::uint32_t setDTR(bool on) override;
    std::uint32_t setRTS(bool on) override;
    bool getModemStatus(std::uint32_t& bits) override;
    void purge(bool tx, bool rx) override;
    std::uint32_t readWaiting(std::uint8_t* buf, std::uint32_t maxLen, std::uint32_t& len) override;
    bool readyToSend() override;
    std::uint32_t write(const std::uint8_t* buf, std::uint32_t len,
                        std::uint32_t& written) override;
    void cancel() override { cancelled_.store(true); }
    std::uint32_t close() override;
    int pollFd() const override { return fd_; }
    bool hungUp() const override { return hungUp_.load(); }

    // A write gives up after this long without progress (the line stalled).
    void setStallTimeoutMs(int ms) { stallTimeoutMs_ = ms; }
    // Asks the driver for its lowest latency (ftdi_sio: 1 ms instead of the
    // chip's 16 ms flush timer). Ignored where the driver has no such knob.
    void requestLowLatency();
    // Bytes the driver has read but nobody took yet; false on a port error.
    bool bytesWaiting(std::uint32_t& n, std::uint32_t& error);
    std::uint32_t outputQueued();
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

  private:
    TermiosPort(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    std::uint32_t modemLine(int bit, bool on);

    int fd_;
    std::string path_;
    int stallTimeoutMs_ = 1000;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> hungUp_{false};
};

}  // namespace kyvo
