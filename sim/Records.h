// Byte forms of the device's records, as the simulated device keeps them in
// its memory: test configurations, the last measurement record, the stored
// result configuration and result entries, packed 12-bit images.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/ByteBuffer.h"
#include "sim/Scenario.h"

namespace kyvo::sim {

// A configuration laid out once: its string area with the pointers into it
// and the result and class entries as they appear in every byte form.
struct ConfigLayout {
    tByteBuffer strings;  // from offset 0, terminators included
    std::uint16_t ptrTestName = 0, ptrLotNr = 0, ptrDistributor = 0;
    std::uint16_t ptrInvalidText = 1, ptrProgram = 0;
    std::uint16_t resultClassCnt = 0;  // result count | class count << 8
    tByteBuffer resultEntries;         // 15 bytes per result
    tByteBuffer classEntries;          // 6 bytes per class
    std::vector<std::uint16_t> classNamePtrs;
    std::vector<float> classLimits;
    std::vector<std::uint8_t> classFirst, classCount;  // per result
};

ConfigLayout layoutConfig(const SimTestConfig& config);
tByteBuffer configToBytes(const SimTestConfig& config);

// What the simulated device needs of an activated configuration; parsed by
// the device from its configuration memory.
struct ActiveConfig {
    enum class Status { Good, NoConfig, WrongVersion, BadChecksum };
    Status status = Status::NoConfig;
    tByteBuffer bytes;
    std::uint16_t timerSeconds = 0;
    std::uint8_t lineCount = 0, resultCount = 0, classCount = 0;
    std::array<std::int16_t, 10> linePos{};  // absolute positions
    std::array<std::uint8_t, 10> lineWidth{};
    std::array<float, 10> lower{}, upper{};
    std::array<std::uint8_t, 10> classFirst{}, classNum{};
    std::array<float, 31> classLimit{};
    std::array<std::uint16_t, 31> classPtr{};
    TDateData expiry;
};
ActiveConfig parseActiveConfig(const tByteBuffer& bytes);

// One line's result as the device computes it.
struct LineResult {
    float mean = 0, min = 0, max = 0, leftMean = 0, rightMean = 0, maxPosAbs = 0;
    std::uint8_t usedPixel = 0;
    std::int16_t center = 0;
    std::uint8_t width = 0;
};

// Everything one measurement produced.
struct Measurement {
    std::vector<float> values;
    std::vector<LineResult> lines;
    std::vector<std::uint16_t> image;  // 12-bit samples
    std::uint8_t invalid = 0;
    std::uint16_t voltage = 3700;
    float temperature = 24.0f;
    TDateData date;
    std::uint16_t measureID = 0;
};

// Derives lines and a line image from the values; deterministic in seed.
void synthesiseLinesAndImage(Measurement& m, const ActiveConfig& config, std::uint16_t imageWidth,
                             std::uint64_t seed);

// Stored line form: 28 bytes, 27 (the last measurement of EEPROM version 4
// and older) or 24 (version 6 and later).
void appendLine(tByteBuffer& buf, const LineResult& line, int size);

std::uint32_t measurementRecordSize(std::uint8_t eepromVersion);
tByteBuffer measurementRecord(const Measurement& m, const ActiveConfig& config,
                              std::uint8_t eepromVersion);

tByteBuffer resultConfigEntry(std::uint8_t id, const tByteBuffer& configBytes,
                              std::uint8_t eepromVersion);
struct StoredBits {
    bool lineData = true;
    bool image = true;
};
tByteBuffer resultEntry(std::uint8_t id, const Measurement& m, std::uint8_t eepromVersion,
                        StoredBits bits);

// 12-bit values packed two per three bytes.
tByteBuffer pack12(const std::vector<std::uint16_t>& values);

// A small, portable random source (SplitMix64) so that generated data are
// the same on every platform.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    // Uniform in [lo, hi).
    double uniform(double lo, double hi);
    std::uint32_t below(std::uint32_t n);

  private:
    std::uint64_t state_;
};

// The memory layout with every default filled in and checked against the
// device's 64 KiB data and result memories.
struct ResolvedLayout {
    std::uint16_t configStart = 0, configStop = 0;
    std::uint16_t resultCfgStart = 0, resultCfgStop = 0;
    std::uint16_t resultStart = 0, resultStop = 0;
    std::uint32_t configMemorySize = 1248;
    bool separate = false;
    std::uint32_t ringRegion = 0;  // device address of the memory holding the rings
    std::uint32_t resultCfgOffset = 0, resultCfgSize = 0;  // within that memory
    std::uint32_t resultOffset = 0, resultSize = 0;
    std::uint32_t configListSize = 0;  // at the start of the data memory
};
inline constexpr std::uint32_t kRingMemorySize = 0x10000;
std::optional<ResolvedLayout> resolveLayout(const Scenario& s, std::string& error);

// Civil date helpers on local seconds since 1970-01-01.
TDateData secondsToDate(std::int64_t seconds);
// None for bytes that form no valid date.
std::optional<std::int64_t> dateToSeconds(const TDateData& d);

}  // namespace kyvo::sim
