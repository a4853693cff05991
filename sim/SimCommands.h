// The device's answer to each received command: identity, memory reads and
// writes, the clock, the button, and the hand-over of the long-running work
// to the evaluator.
#pragma once

#include <cstdint>

#include "protocol/ByteBuffer.h"
#include "sim/Scenario.h"
#include "sim/SimClock.h"
#include "sim/SimEvaluator.h"
#include "sim/SimFraming.h"
#include "sim/SimMemory.h"

namespace kyvo::sim {

class SimCommands {
  public:
    SimCommands(const Scenario& scenario, SimClock& clock, SimFraming& framing, SimMemory& memory,
                SimEvaluator& evaluator)
        : sc_(scenario), clock_(clock), framing_(framing), memory_(memory), evaluator_(evaluator) {}

    // A received frame's code and payload (its length already checked).
    void dispatch(std::uint8_t code, const tByteBuffer& payload);

    bool buttonDisabled() const { return buttonDisabled_; }

  private:
    void writeData(const tByteBuffer& payload);

    const Scenario& sc_;
    SimClock& clock_;
    SimFraming& framing_;
    SimMemory& memory_;
    SimEvaluator& evaluator_;
    bool buttonDisabled_ = false;
};

}  // namespace kyvo::sim
