// The device's memory: the regions at their device addresses, the stored
// configuration list, the two result rings with their bookkeeping and
// pointers, the identity records, the last measurement record. It stores
// measurements as the device does and makes the measurements it stores.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "protocol/ByteBuffer.h"
#include "sim/Records.h"
#include "sim/Scenario.h"
#include "sim/SimState.h"

namespace kyvo::sim {

class SimMemory {
  public:
    // The memory of the scenario's device with its stored configurations and
    // measurements; deviceNow is the device clock's reading in local seconds
    // (the generated measurements lie before its day).
    SimMemory(const Scenario& scenario, const ResolvedLayout& layout, std::int64_t deviceNow);

    std::optional<tByteBuffer> read(std::uint32_t address, std::uint32_t count);
    // 0 on success, else the communication error code the device answers.
    std::uint8_t write(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t count);

    // A write with the update flag: the configuration memory is activated,
    // the LCD shows its text.
    void applyUpdate(std::uint32_t address);

    const ActiveConfig& active() const { return active_; }
    const std::string& lcdText() const { return lcd_; }
    bool hasRFID() const { return rfid_ != nullptr; }
    std::uint32_t configMemorySize() const {
        return static_cast<std::uint32_t>(configMem_->bytes.size());
    }
    std::size_t storedResultCount() const;
    std::size_t storedResultConfigCount() const { return cfgRing_.entries.size(); }

    // The next measurement number the device gives.
    std::uint16_t nextMeasureID() { return ++measureCounter_; }
    Measurement makeMeasurement(const ActiveConfig& c, std::vector<float> values, Random& rnd,
                                std::uint64_t seed) const;
    static bool expiredOn(const ActiveConfig& c, const TDateData& date);
    // The device keeps its latest measurement at 0x20000.
    void writeRecord(const Measurement& m, const ActiveConfig& config);
    // Appends the measurement (and its configuration, when new) to the
    // rings and moves the pointers.
    void storeAndPublish(const Measurement& m, const ActiveConfig& config);
    // Empties both rings; withConfigList also the stored configuration list.
    void format(bool withConfigList);
    // Stores count measurements of the scenario's configurations as
    // evaluations would, the newest at deviceNow; the oldest entries make
    // room when the rings are full.
    void addMeasurements(std::uint32_t count, std::int64_t deviceNow);

    // Counts every change of the memory's contents.
    std::uint64_t changes() const { return changes_; }

    // Everything the memory holds, regions and ring bookkeeping. restore
    // takes a state of a device with this memory's layout and identity, else
    // it throws StateError and leaves the memory as it was.
    void save(StateWriter& out) const;
    void restore(StateReader& in);

  private:
    struct Region {
        std::uint32_t address = 0;
        tByteBuffer bytes;
        bool writable = true;
    };
    // One ring of stored entries inside the ring memory.
    struct Ring {
        std::uint32_t offset = 0;  // within the region
        std::uint32_t size = 0;
        std::uint32_t read = 0, write = 0;  // offsets from the ring's start
        std::uint32_t newest = 0;
        struct Entry {
            std::uint32_t size;
            std::uint8_t id;
        };
        std::deque<Entry> entries;
        std::uint32_t used() const { return (write + size - read) % size; }
    };

    Region* addRegion(std::uint32_t address, std::size_t size, std::uint8_t fill, bool writable);
    void build(std::int64_t deviceNow);
    void writeIdentity();
    void writePointers();
    std::uint8_t& ringByte(Ring& r, std::uint32_t i);
    void clearRing(Ring& r, std::uint32_t readOffset);
    void dropOldest(Ring& r);
    bool appendToRing(Ring& r, const tByteBuffer& entry, std::uint8_t id);
    std::uint8_t configIDFor(const tByteBuffer& cfgBytes);
    void storeMeasurement(const Measurement& m, const ActiveConfig& config, bool deleted);
    std::vector<float> generateValues(const ActiveConfig& c, Random& rnd, std::size_t from,
                                      std::vector<float> values) const;
    void storeScenarioMeasurement(const SimMeasurement& sm);
    void generateMeasurements(std::int64_t deviceNow);
    Region* regionFor(std::uint32_t address, std::uint32_t count, bool& partly);

    const Scenario& sc_;
    ResolvedLayout layout_;

    std::vector<Region> regions_;  // config, lcd, record, data, rfid, eeprom, result
    Region* configMem_ = nullptr;
    Region* lcdMem_ = nullptr;
    Region* record_ = nullptr;
    Region* data_ = nullptr;
    Region* rfid_ = nullptr;
    Region* eeprom_ = nullptr;
    Region* ringMem_ = nullptr;
    Ring cfgRing_, resRing_;
    std::vector<std::pair<std::uint8_t, tByteBuffer>> ringConfigs_;  // id -> configuration
    std::uint8_t nextConfigID_ = 1;
    std::uint32_t configListUsed_ = 0;
    std::uint16_t measureCounter_ = 0;

    ActiveConfig active_;
    std::string lcd_;
    std::uint64_t changes_ = 0;
};

}  // namespace kyvo::sim
