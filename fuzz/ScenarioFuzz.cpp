// The simulator's scenario text: parsed, checked, and when sound played as
// a device, whose memory is then built from it.
#include <cstdint>
#include <string>

#include "fuzz/FuzzInput.h"
#include "sim/Scenario.h"
#include "sim/SimDevice.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kyvo;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto scenario = sim::Scenario::parse(text, error);
    fuzz::keep(error);
    if (!scenario) return 0;
    const std::string problem = scenario->validate();
    fuzz::keep(problem);
    if (!problem.empty()) return 0;
    sim::SimDevice device(*scenario);
    // Let it identify itself, as the program's first request.
    const std::uint8_t ack[] = {0xFE, 0x20, 0x55, 0x75};
    device.receive(ack, sizeof ack);
    device.advance(10);
    return 0;
}
