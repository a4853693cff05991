// What the simulated device is: its identity, its memory contents, how it
// plays an evaluation and which faults it injects. A scenario is plain data;
// it is read from a text file (see README.md in this folder) or built in
// code, and a SimDevice plays it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/ByteBuffer.h"

namespace kyvo::sim {

// Configuration bits the device reports (bit numbers of the two words).
struct SimConfigBits {
    bool ClockPresent = true;
    bool SeparateResultMemory = true;
    bool RFIDConfigSource = false;
    bool InstantMeasureAllowed = true;
    bool TimerMeasureAllowed = true;
    bool ResultsWithLineData = true;
    bool ResultsWithImage = true;
    std::uint32_t extraBits = 0;    // further bits of KyvoCfgBits, carried
    std::uint32_t extraBits_0 = 0;  // further bits of KyvoCfgBits_0, carried
};

struct SimLine {
    bool reference = false;
    std::int16_t position = 0;  // relative to the preceding reference line
    std::uint8_t width = 10;
    std::uint8_t searchWidth = 20;
    std::uint16_t searchMinValue = 100;
    std::uint16_t minValue = 50;
};

struct SimClass {
    float lowerThan = 0;
    std::string name;
};

struct SimResultDef {
    std::string name;
    std::string unit;
    float lowerLimit = 0.0f;
    float upperLimit = 10000.0f;
    std::uint8_t digitCfg = 0x12;  // bits 0-3 valid digits, 4-7 decimal places
    bool showValue = true;
    bool showClass = false;  // set automatically when classes are given
    std::vector<SimClass> classes;
};

// One test configuration, turned into its byte form by the simulator.
struct SimTestConfig {
    std::string key;  // the scenario's name for it
    std::uint8_t version = 5;
    std::uint16_t customerID = 1;
    std::uint16_t projectID = 1;
    std::uint16_t testType = 1;
    std::uint16_t testNu = 1;
    std::string testName;
    std::string lotNr;
    std::string distributor;
    TDateData expiry;  // zero bytes unless given
    std::uint8_t imageCount = 2;
    std::uint16_t timerSeconds = 0;  // countdown of a timer measurement
    std::string invalidText = "FAIL";
    std::string program = "R0=L1/L0";  // result assignment, opaque to the program
    std::vector<float> filter;
    std::vector<SimLine> lines;
    std::vector<SimResultDef> results;
    bool stored = true;  // listed in the stored configuration list
    std::uint16_t creditCount = 0xFFFF;
};

// One stored measurement. Line results and the image are derived from the
// values and the configuration's lines unless switched off.
struct SimMeasurement {
    std::string config;  // key of a SimTestConfig
    TDateData date;
    std::vector<float> values;  // missing values are generated
    std::uint8_t invalid = 0;   // UTestInvalid flags
    std::uint16_t voltage = 3700;
    float temperature = 24.0f;
    std::uint16_t measureID = 0;  // 0: numbered by the simulator
    bool deleted = false;         // stored with ID 0, an entry the reader skips
};

struct SimGenerator {
    std::uint32_t count = 0;  // measurements to generate
    std::uint32_t seed = 1;
    std::uint32_t days = 5;  // spread over this many days before the clock's today
};

struct SimMemoryLayout {
    // Pointer values (16-bit offsets) as the device reports them; unset ones
    // take the defaults for the scenario's result memory. With separate
    // result memory (EEPROM version 3 and later) the result pointers count
    // from resultStart at 0x80000; otherwise every pointer counts from
    // configStart, which sits at 0x30000 (or 0x80000 for the rings of an
    // older device with separate result memory).
    std::optional<std::uint16_t> configStart, configStop;
    std::optional<std::uint16_t> resultCfgStart, resultCfgStop;
    std::optional<std::uint16_t> resultStart, resultStop;
    // Where the oldest entry of each ring sits, as an offset from the ring's
    // start; entries that do not fit before the ring's end wrap to its start.
    std::uint16_t resultCfgReadOffset = 0;
    std::uint16_t resultReadOffset = 0;
    std::optional<std::uint16_t> configMemorySize;  // default by version and bits
};

struct SimRFID {
    bool present = true;  // a tag is in range
    std::uint8_t tagType = 1;
    std::uint16_t userDataSize = 2048;
    std::string config;          // configuration on the tag ("" = empty tag)
    std::uint32_t failures = 0;  // RFID errors before the first success
    std::uint8_t failureCode = 0x38;
};

struct SimEvaluation {
    std::vector<float> values;  // result of the next evaluations (else generated)
    std::uint8_t invalid = 0;
    bool store = true;                  // also append to the stored rings
    bool whiteCard = true;              // prompt for the white card
    bool autoPress = true;              // the simulated user presses the device button
    std::uint32_t pressDelayMs = 1200;  // user's time to press after a prompt
    std::uint32_t runMs = 1500;         // evaluation running
    std::uint32_t formatMs = 1000;      // FormatDB until its acknowledge
    std::uint8_t errorCode = 0;         // device error instead of a result (0 = none)
    std::uint16_t imageWidth = 240;
    std::uint16_t imageChunk = 1024;  // bytes per image frame
};

enum class FaultKind {
    Silence,      // ignore every frame (no answers) for durationMs, 0 = for ever
    BadChecksum,  // send the reply with a wrong checksum
    CommError,    // answer with communication error `code` instead
    DeviceError,  // answer with device error `code`, `info` instead
    Busy,         // announce busy for durationMs, ignore frames, then acknowledge
    ShortReply,   // a data reply carries only `bytes` of the requested bytes
    EscapedFe,    // a data reply's bytes but code, colour mode and length are all 0xFE
    CloseLine,    // send `bytes` bytes of the reply, then close the line
};

// A fault fires on the matching received frames (Silence, CommError,
// DeviceError, Busy) or on the matching sent frames (the others): the
// frames with code `command` (received frames) or sent in answer to it
// (sent frames), every code when command is unset. It fires on occurrence
// number `nth` (from 1) and the `times` - 1 following ones; times 0 means on
// every one from nth on; ShortReply and EscapedFe count data replies only.
// Silence and Busy may instead start at `atMs`.
struct SimFault {
    FaultKind kind = FaultKind::Silence;
    std::optional<std::uint8_t> command;
    std::uint32_t nth = 1;
    std::uint32_t times = 1;
    std::optional<std::uint64_t> atMs;
    std::uint32_t durationMs = 0;
    std::uint8_t code = 0;
    std::uint8_t info = 0;
    std::uint32_t bytes = 0;
};

struct Scenario {
    std::uint8_t eepromVersion = 6;
    tFirmwareVersion firmware{1, 5, 62, 0, 0, 0, 0};
    tSerial serial{12, 3, {0x0712}, 42, 100042};
    SimConfigBits bits;
    std::uint16_t nominalWhiteValue = 3000;
    SimMemoryLayout memory;
    // Device clock: offset in seconds from the computer's clock; none means
    // the clock reports an invalid date.
    std::optional<std::int64_t> clockOffsetSeconds = 0;
    std::vector<SimTestConfig> configs;
    std::string activeConfig;  // key of the configuration in configuration memory
    std::vector<SimMeasurement> measurements;
    SimGenerator generator;
    SimRFID rfid;
    SimEvaluation evaluation;
    std::vector<SimFault> faults;

    // The built-in demo device: EEPROM version 6, separate result memory,
    // a clock, several stored configurations and about 25 measurements.
    static Scenario demo();

    // Parses the scenario text format. On failure returns nothing and sets
    // error to "line N: what is wrong".
    static std::optional<Scenario> parse(std::string_view text, std::string& error);
    static std::optional<Scenario> load(const std::string& path, std::string& error);

    // Checks what the text format cannot: references between sections,
    // counts that fit the device records, a memory layout that fits the
    // device's regions. Returns an empty text when the scenario is sound.
    std::string validate() const;

    const SimTestConfig* findConfig(std::string_view key) const;
};

// The scenario format as shown by `kyvo-sim --help`.
std::string scenarioFormatHelp();
// The built-in demo device in the scenario format.
std::string demoScenarioText();

// Device `index` (from 0) of a run with several devices plays its scenario
// with `index` added to the sub-serial and the maker's running number, so
// every device of the run has its own serial; device 0 plays it unchanged.
Scenario scenarioOfDevice(Scenario scenario, unsigned index);

}  // namespace kyvo::sim
