// The device's long-running work: an evaluation from the countdown through
// the card prompts to the stored result and its line image, the RFID
// configuration source, and the database format.
#pragma once

#include <cstdint>
#include <optional>

#include "protocol/ByteBuffer.h"
#include "sim/Records.h"
#include "sim/Scenario.h"
#include "sim/SimClock.h"
#include "sim/SimFraming.h"
#include "sim/SimMemory.h"

namespace kyvo::sim {

enum class EvaluationPhase;

class SimEvaluator {
  public:
    SimEvaluator(const Scenario& scenario, SimClock& clock, SimFraming& framing, SimMemory& memory);

    // The evaluate, formatDB and image commands with their flag byte or
    // payload; rfidStatus answers getRFIDState.
    void evaluate(std::uint8_t flags);
    void formatDB(std::uint8_t flags);
    void image(const tByteBuffer& payload);
    void sendRFIDStatus(std::uint8_t error, std::uint8_t cause);

    // The device button: answers the card prompt that waits for it.
    void press();
    // Ends whatever runs, without an answer (the reset command).
    void cancel();
    // An evaluation or format is under way; other work is refused.
    bool busy() const;
    EvaluationPhase phase() const { return phase_; }

  private:
    void afterInEvaluation(std::uint64_t ms, SimClock::Task run);
    void countdown(std::uint16_t left, std::uint16_t total);
    void afterCountdown();
    void prompt(std::uint8_t code, EvaluationPhase waitPhase);
    void keepAlive(EvaluationPhase waitPhase);
    void finish();

    const Scenario& sc_;
    SimClock& clock_;
    SimFraming& framing_;
    SimMemory& memory_;

    EvaluationPhase phase_;
    // Bumped whenever the running evaluation ends or moves to its next
    // prompt, so the tasks it queued before find themselves stale.
    std::uint64_t evalGen_ = 0;
    bool timerRun_ = false;
    std::optional<Measurement> last_;  // for the image transfer
    std::uint32_t imagePos_ = 0;
    std::uint32_t rfidFailuresLeft_ = 0;
    std::uint32_t evaluationCount_ = 0;
};

}  // namespace kyvo::sim
