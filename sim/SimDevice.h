// The simulated device. No threads and no real time: the caller feeds the
// bytes the program sends with receive(), moves the device's clock on with
// advance(), and drains what the device sends with takeOutput() (or gets it
// at once through an output handler). Everything is deterministic for a
// given scenario, host time and sequence of calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/ByteBuffer.h"
#include "sim/Scenario.h"

namespace kyvo::sim {

// Device addresses of the memory regions.
inline constexpr std::uint32_t kConfigMemoryAddress = 0x00000;
inline constexpr std::uint32_t kLcdAddress = 0x10000;
inline constexpr std::uint32_t kMeasurementAddress = 0x20000;
inline constexpr std::uint32_t kDataMemoryAddress = 0x30000;
inline constexpr std::uint32_t kRFIDAddress = 0x40000;
inline constexpr std::uint32_t kNonVolatileAddress = 0x50000;
inline constexpr std::uint32_t kVolatileAddress = 0x50080;
inline constexpr std::uint32_t kResultMemoryAddress = 0x80000;

enum class EvaluationPhase {
    Idle,
    Countdown,
    WaitWhiteCard,
    WaitTestCard,
    Running,
    WaitRFIDConfig,  // tag status sent; waits for the configuration write and a new evaluate
    Formatting,
};

class SimDevice {
  public:
    // 2026-12-09 12:00:00 as local civil seconds since 1970-01-01.
    static constexpr std::int64_t kDefaultHostTime = 1796817600;

    // Plays the built-in demo device. hostTime is the computer's clock at
    // time 0 (see setHostTime); generated measurements lie before it.
    explicit SimDevice(std::int64_t hostTime = kDefaultHostTime);
    // Throws std::invalid_argument when the memory layout does not fit the
    // device (a parsed scenario always fits). Other slips of a scenario
    // built in code are played leniently: measurements of a missing
    // configuration are left out, surplus values dropped, an unknown active
    // or tag configuration leaves that memory empty.
    explicit SimDevice(const Scenario& scenario, std::int64_t hostTime = kDefaultHostTime);
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    // Bytes from the program, in arrival order. Answers due at once are
    // queued before this returns; later ones wait for advance().
    void receive(const std::uint8_t* data, std::size_t size);
    void receive(const tByteBuffer& bytes) { receive(bytes.data(), bytes.size()); }

    // Moves the device's time on by ms, running everything that falls due
    // on the way in time order.
    void advance(std::uint32_t ms);
    std::uint64_t nowMs() const;
    // Time of the next thing the device will do by itself, if any.
    std::optional<std::uint64_t> nextEventMs() const;

    // Bytes the device sent since the last call, in order.
    tByteBuffer takeOutput();
    bool hasOutput() const;
    // With a handler set, sent bytes go to it at once instead of the queue.
    void setOutputHandler(std::function<void(const std::uint8_t*, std::size_t)> handler);

    // The computer's clock, as local civil time in seconds since 1970-01-01,
    // at the device's present time; the device clock runs from it with the
    // scenario's offset.
    void setHostTime(std::int64_t localSeconds);
    // The device clock now; none when it reports an invalid date.
    std::optional<TDateData> deviceClock() const;

    // Presses the device's button (answers a card prompt); the scenario's
    // simulated user does this by itself unless autoPress is off.
    void pressButton();

    // "shutdown\r" arrived; the device plays nothing more.
    bool shutdownRequested() const;
    // A close-line fault fired; nothing more is sent and the line should
    // be closed by the caller.
    bool lineClosed() const;

    // The device memory: reads and writes as readData/writeData do them.
    // read() gives none for an address outside every region.
    std::optional<tByteBuffer> read(std::uint32_t address, std::uint32_t count) const;
    bool write(std::uint32_t address, const tByteBuffer& bytes);

    // History. Both change the memory as the device would and move the
    // pointers: addStoredMeasurements stores count measurements of the
    // scenario's configurations, dated up to the device clock's now (the
    // oldest entries give way when a ring is full); formatDatabase empties
    // both rings as the formatDB command does, withConfigList also the
    // stored configuration list.
    void addStoredMeasurements(std::uint32_t count);
    void formatDatabase(bool withConfigList = false);

    // The device's memory as a state (regions, ring bookkeeping, clock
    // offset), so a later device continues with the same stored data.
    // restoreState throws StateError (sim/SimState.h) for a damaged state or
    // one of a device with another identity or memory layout; the device is
    // then left as it was. saveState writes through a temporary file and a
    // rename; loadState returns false when the file does not exist. Both
    // throw StateError when the file cannot be written or read.
    tByteBuffer stateBytes() const;
    void restoreState(const tByteBuffer& state);
    void saveState(const std::string& path) const;
    bool loadState(const std::string& path);
    // Counts the changes of what a state holds (writes, stored
    // measurements, formats, setting the clock), to tell when a state is
    // worth saving.
    std::uint64_t memoryChanges() const;

    // Device state for assertions.
    const Scenario& scenario() const;
    EvaluationPhase evaluationPhase() const;
    bool buttonDisabled() const;
    std::size_t storedResultCount() const;
    std::size_t storedResultConfigCount() const;
    std::size_t framesReceived() const;
    std::size_t framesSent() const;
    std::uint32_t configMemorySize() const;
    // The configuration most recently activated by a write with the update
    // flag (or the scenario's active one); its byte form.
    tByteBuffer activeConfigBytes() const;
    std::string lcdText() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace kyvo::sim
