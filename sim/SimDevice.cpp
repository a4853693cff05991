#include "sim/SimDevice.h"

#include <algorithm>
#include <stdexcept>

#include "sim/Records.h"
#include "sim/SimClock.h"
#include "sim/SimCommands.h"
#include "sim/SimEvaluator.h"
#include "sim/SimFraming.h"
#include "sim/SimMemory.h"

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

}  // namespace kyvo::sim
