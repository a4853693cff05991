#include "sim/SimDevice.h"

#include <algorithm>
#include <stdexcept>

#include "sim/Records.h"
#include "sim/SimClock.h"
#include "sim/SimCommands.h"
#include "sim/SimEvaluator.h"
#include "sim/SimFraming.h"
#include "sim/SimMemory.h"
#include "sim/SimState.h"

namespace kyvo::sim {

namespace {

ResolvedLayout layoutOf(const Scenario& sc) {
    std::string error;
    auto l = resolveLayout(sc, error);
    return l ? *l : ResolvedLayout{};
}

}  // namespace

// The device's parts, wired to each other: received frames go from the
// framing to the commands, which hand long work to the evaluator; all of
// them keep their data in the memory and their time on the clock.
struct SimDevice::Impl {
    Scenario sc;
    ResolvedLayout layout;
    SimClock clock;
    SimFraming framing;
    SimMemory memory;
    SimEvaluator evaluator;
    SimCommands commands;

    Impl(const Scenario& s, std::int64_t host)
        : sc(s),
          layout(layoutOf(sc)),
          clock(host, sc.clockOffsetSeconds),
          framing(sc, clock),
          memory(sc, layout, clock.hostNow() + clock.offset().value_or(0)),
          evaluator(sc, clock, framing, memory),
          commands(sc, clock, framing, memory, evaluator) {
        framing.setFrameHandler(
            [this](std::uint8_t code, const tByteBuffer& p) { commands.dispatch(code, p); });
    }

    void advance(std::uint64_t ms) {
        clock.advance(ms, [this] { return framing.halted(); });
        framing.timeMoved();
    }
};

SimDevice::SimDevice(std::int64_t hostTime) : SimDevice(Scenario::demo(), hostTime) {}

namespace {
// Only what would leave the device without a memory to play in is refused;
// references to missing configurations are played as gaps (see the header).
const Scenario& checked(const Scenario& scenario) {
    std::string error;
    auto layout = resolveLayout(scenario, error);
    if (layout) {
        std::size_t list = 1;
        for (const auto& c : scenario.configs)
            if (c.stored) list += configToBytes(c).size();
        if (list > layout->configListSize)
            error = "the stored configurations do not fit between config-start and config-stop";
    }
    if (!error.empty()) throw std::invalid_argument("unusable simulator scenario: " + error);
    return scenario;
}
}  // namespace

SimDevice::SimDevice(const Scenario& scenario, std::int64_t hostTime)
    : d(std::make_unique<Impl>(checked(scenario), hostTime)) {}

SimDevice::~SimDevice() = default;

void SimDevice::receive(const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size && !d->framing.halted(); ++i) d->framing.receiveByte(data[i]);
}

void SimDevice::advance(std::uint32_t ms) {
    d->advance(ms);
}
std::uint64_t SimDevice::nowMs() const {
    return d->clock.now();
}

std::optional<std::uint64_t> SimDevice::nextEventMs() const {
    if (d->framing.halted()) return std::nullopt;
    return d->clock.nextEventMs();
}

tByteBuffer SimDevice::takeOutput() {
    return d->framing.takeOutput();
}

bool SimDevice::hasOutput() const {
    return d->framing.hasOutput();
}

void SimDevice::setOutputHandler(std::function<void(const std::uint8_t*, std::size_t)> handler) {
    d->framing.setOutputHandler(std::move(handler));
}

void SimDevice::setHostTime(std::int64_t localSeconds) {
    d->clock.setHostTime(localSeconds);
}

std::optional<TDateData> SimDevice::deviceClock() const {
    return d->clock.deviceClock();
}
void SimDevice::pressButton() {
    d->evaluator.press();
}
bool SimDevice::shutdownRequested() const {
    return d->framing.shutdown();
}
bool SimDevice::lineClosed() const {
    return d->framing.closed();
}

std::optional<tByteBuffer> SimDevice::read(std::uint32_t address, std::uint32_t count) const {
    return d->memory.read(address, count);
}

bool SimDevice::write(std::uint32_t address, const tByteBuffer& bytes) {
    return d->memory.write(address, bytes.data(), static_cast<std::uint32_t>(bytes.size())) == 0;
}

const Scenario& SimDevice::scenario() const {
    return d->sc;
}
EvaluationPhase SimDevice::evaluationPhase() const {
    return d->evaluator.phase();
}
bool SimDevice::buttonDisabled() const {
    return d->commands.buttonDisabled();
}

std::size_t SimDevice::storedResultCount() const {
    return d->memory.storedResultCount();
}

std::size_t SimDevice::storedResultConfigCount() const {
    return d->memory.storedResultConfigCount();
}
std::size_t SimDevice::framesReceived() const {
    return d->framing.framesReceived();
}
std::size_t SimDevice::framesSent() const {
    return d->framing.framesSent();
}
std::uint32_t SimDevice::configMemorySize() const {
    return d->memory.configMemorySize();
}
tByteBuffer SimDevice::activeConfigBytes() const {
    return d->memory.active().bytes;
}
std::string SimDevice::lcdText() const {
    return d->memory.lcdText();
}

void SimDevice::addStoredMeasurements(std::uint32_t count) {
    d->memory.addMeasurements(count, d->clock.hostNow() + d->clock.offset().value_or(0));
}

void SimDevice::formatDatabase(bool withConfigList) {
    d->memory.format(withConfigList);
}

std::uint64_t SimDevice::memoryChanges() const {
    // The clock's offset is part of the state too.
    return d->memory.changes() + d->clock.settings();
}

// A state: the magic line, the format number, the memory layout it was taken
// from, the clock offset, the memory, and a CRC-32 of everything before it.
namespace {

constexpr char kStateMagic[] = "kyvo-sim state\n";
constexpr std::size_t kMagicSize = sizeof kStateMagic - 1;
constexpr std::uint16_t kStateFormat = 1;

void writeLayout(StateWriter& out, const Scenario& sc, const ResolvedLayout& l) {
    out.u8(sc.eepromVersion);
    out.u8(l.separate ? 1 : 0);
    for (std::uint32_t v : {l.configMemorySize, l.configListSize, l.resultCfgOffset,
                            l.resultCfgSize, l.resultOffset, l.resultSize})
        out.u32(v);
}

}  // namespace

tByteBuffer SimDevice::stateBytes() const {
    StateWriter out;
    for (std::size_t i = 0; i < kMagicSize; ++i) out.u8(static_cast<std::uint8_t>(kStateMagic[i]));
    out.u16(kStateFormat);
    writeLayout(out, d->sc, d->layout);
    const auto& offset = d->clock.offset();
    out.u8(offset ? 1 : 0);
    out.i64(offset.value_or(0));
    d->memory.save(out);
    tByteBuffer& b = out.buffer();
    out.u32(crc32(b.data(), b.size()));
    return std::move(out.buffer());
}

void SimDevice::restoreState(const tByteBuffer& state) {
    if (state.size() < kMagicSize + 2 + 4 ||
        !std::equal(state.begin(), state.begin() + kMagicSize, kStateMagic))
        throw StateError("it is not a kyvo-sim state");
    StateReader in(state, kMagicSize, state.size() - 4);
    if (std::uint16_t format = in.u16(); format != kStateFormat)
        throw StateError("it is a state of format " + std::to_string(format) +
                         ", this kyvo-sim reads format " + std::to_string(kStateFormat));
    StateReader crcIn(state, state.size() - 4);
    if (crcIn.u32() != crc32(state.data(), state.size() - 4))
        throw StateError("it is damaged (its checksum does not match)");
    StateWriter expected;
    writeLayout(expected, d->sc, d->layout);
    for (std::uint8_t b : expected.buffer())
        if (in.u8() != b)
            throw StateError(
                "it holds the memory of a device with another EEPROM version or "
                "memory layout");
    bool hasOffset = in.u8() != 0;
    std::int64_t offset = in.i64();
    d->memory.restore(in);
    if (!in.atEnd()) throw StateError("it is damaged (bytes after its end)");
    d->clock.setOffset(hasOffset ? std::optional<std::int64_t>(offset) : std::nullopt);
}

void SimDevice::saveState(const std::string& path) const {
    writeFileAtomically(path, stateBytes());
}

bool SimDevice::loadState(const std::string& path) {
    auto bytes = readWholeFile(path);
    if (!bytes) return false;
    try {
        restoreState(*bytes);
    } catch (const StateError& e) {
        throw StateError("the state file " + path + " cannot be used: " + e.what());
    }
    return true;
}

}  // namespace kyvo::sim
