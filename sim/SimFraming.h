// Both directions of the device's line: frames out of the received bytes
// (escapes, checksum, the inter-byte time-out, the plain "shutdown\r"), frames
// onto the wire, and the scenario's faults, which bend either direction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "protocol/ByteBuffer.h"
#include "sim/Scenario.h"
#include "sim/SimClock.h"

namespace kyvo::sim {

class SimFraming {
  public:
    // A complete frame with a good checksum that no fault swallowed:
    // its code and the payload after the code.
    using FrameHandler = std::function<void(std::uint8_t code, const tByteBuffer& payload)>;

    // Queues the faults that start at a given time on the clock.
    SimFraming(const Scenario& scenario, SimClock& clock);

    void setFrameHandler(FrameHandler handler) { onFrame_ = std::move(handler); }
    void setOutputHandler(std::function<void(const std::uint8_t*, std::size_t)> handler);

    void receiveByte(std::uint8_t b);
    // Drops a frame left incomplete for longer than the inter-byte time-out.
    void timeMoved();

    // cause: the code of the received frame this answers (for the faults).
    void send(std::uint8_t code, tByteBuffer payload, std::uint8_t cause);
    void sendEmpty(std::uint8_t code, std::uint8_t cause) { send(code, {}, cause); }
    void sendCommError(std::uint8_t err, std::uint8_t cause);
    void sendDeviceError(std::uint8_t err, std::uint8_t info, std::uint8_t cause);
    void sendBusy(std::uint32_t ms, std::uint8_t cause);

    tByteBuffer takeOutput();
    bool hasOutput() const { return !out_.empty(); }

    bool shutdown() const { return shutdown_; }
    bool closed() const { return closed_; }
    bool halted() const { return shutdown_ || closed_; }
    std::size_t framesReceived() const { return received_; }
    std::size_t framesSent() const { return sent_; }

  private:
    void emit(const std::uint8_t* p, std::size_t n);
    bool faultMatches(std::size_t i, std::uint8_t code);
    void storeByte(std::uint8_t b);
    void startSilence(std::uint32_t ms);
    void startBusy(std::uint32_t ms, std::uint8_t cause);
    bool acceptFrame(std::uint8_t code);

    const Scenario& sc_;
    SimClock& clock_;
    FrameHandler onFrame_;

    // Receive side.
    bool inFrame_ = false;
    bool pendingFE_ = false;
    tByteBuffer frame_;
    std::uint64_t lastByteAt_ = 0;
    std::string text_;  // unframed bytes, for "shutdown\r"

    // Faults.
    std::vector<std::uint32_t> faultCount_;
    bool silentForever_ = false;
    std::uint64_t silentUntil_ = 0;
    std::uint64_t busyUntil_ = 0;

    bool shutdown_ = false;
    bool closed_ = false;
    std::size_t received_ = 0, sent_ = 0;
    tByteBuffer out_;
    std::function<void(const std::uint8_t*, std::size_t)> handler_;
};

}  // namespace kyvo::sim
