#include "sim/SimEvaluator.h"

#include <algorithm>

#include "sim/SimDevice.h"
#include "sim/SimWire.h"

namespace kyvo::sim {

using namespace wire;

SimEvaluator::SimEvaluator(const Scenario& scenario, SimClock& clock, SimFraming& framing,
                           SimMemory& memory)
    : sc_(scenario),
      clock_(clock),
      framing_(framing),
      memory_(memory),
      phase_(EvaluationPhase::Idle),
      rfidFailuresLeft_(scenario.rfid.failures) {}

void SimEvaluator::afterInEvaluation(std::uint64_t ms, SimClock::Task run) {
    std::uint64_t gen = evalGen_;
    clock_.after(ms, [this, gen, run = std::move(run)] {
        if (gen == evalGen_) run();
    });
}

bool SimEvaluator::busy() const {
    return phase_ != EvaluationPhase::Idle && phase_ != EvaluationPhase::WaitRFIDConfig;
}

void SimEvaluator::cancel() {
    ++evalGen_;
    phase_ = EvaluationPhase::Idle;
}

void SimEvaluator::image(const tByteBuffer& p) {
    tCursor c = 0;
    std::uint8_t mode = bufReadByte(p, c);
    if (mode >= 2 && mode <= 5) {
        if (!last_ || last_->image.empty()) return framing_.sendCommError(ceNoImageData, cImage);
        imagePos_ = 0;
        tByteBuffer r;
        tCursor o = 0;
        bufAddWord(r, o, static_cast<std::uint16_t>(last_->image.size()));
        bufAddWord(r, o, 1);
        framing_.send(cImageStart, r, cImage);
        return;
    }
    if (mode == 1) {
        imagePos_ = 0;
        return;
    }
    if (mode != 0) return framing_.sendCommError(ceInvalidFlags, cImage);
    if (!last_) return framing_.sendCommError(ceNoImageData, cImage);
    std::uint32_t total = static_cast<std::uint32_t>(last_->image.size()) * 2;
    if (imagePos_ >= total) return framing_.sendCommError(ceNoImageData, cImage);
    std::uint32_t chunk =
        std::min<std::uint32_t>({static_cast<std::uint32_t>(sc_.evaluation.imageChunk & ~1u),
                                 total - imagePos_, kMaxReplyData & ~1u});
    tByteBuffer r;
    tCursor o = 0;
    bufAddByte(r, o, 2);  // 16-bit gray
    bufAddWord(r, o, static_cast<std::uint16_t>(imagePos_ / 2));
    bufAddWord(r, o, 0);
    bufAddWord(r, o, static_cast<std::uint16_t>(chunk));
    for (std::uint32_t i = imagePos_ / 2; i < (imagePos_ + chunk) / 2; ++i)
        bufAddWord(r, o, last_->image[i]);
    imagePos_ += chunk;
    framing_.send(cImageData, r, cImage);
}

void SimEvaluator::sendRFIDStatus(std::uint8_t error, std::uint8_t cause) {
    tByteBuffer r;
    tCursor o = 0;
    bufAddByte(r, o, error);
    bufAddByte(r, o, error ? 0 : sc_.rfid.tagType);
    bufAddWord(r, o, error ? 0 : sc_.rfid.userDataSize);
    static const std::uint8_t uid[8] = {0xE0, 0x04, 0x01, 0x50, 0x12, 0x34, 0x56, 0x78};
    bufAddByte(r, o, error ? 0 : 8);
    if (!error)
        for (std::uint8_t v : uid) bufAddByte(r, o, v);
    framing_.send(cRFIDStatus, r, cause);
}

void SimEvaluator::evaluate(std::uint8_t flags) {
    if (flags & 0x04) {
        bool wasRunning = busy();
        cancel();
        if (wasRunning)
            framing_.sendDeviceError(0x1D, 0, cEvaluate);
        else
            framing_.sendEmpty(cAck, cEvaluate);
        return;
    }
    if (busy()) return framing_.sendCommError(ceCommandError, cEvaluate);
    cancel();
    if (flags & 0x01) {
        afterInEvaluation(300, [this] {
            if (!memory_.hasRFID()) return sendRFIDStatus(0x38, cEvaluate);
            if (rfidFailuresLeft_ > 0) {
                --rfidFailuresLeft_;
                return sendRFIDStatus(sc_.rfid.failureCode, cEvaluate);
            }
            phase_ = EvaluationPhase::WaitRFIDConfig;
            sendRFIDStatus(0, cEvaluate);
        });
        return;
    }
    const ActiveConfig& active = memory_.active();
    if (active.status != ActiveConfig::Status::Good) {
        std::uint8_t err = active.status == ActiveConfig::Status::WrongVersion ? 0x1C : 0x1A;
        afterInEvaluation(200, [this, err] { framing_.sendDeviceError(err, 0, cEvaluate); });
        return;
    }
    timerRun_ = (flags & 0x02) != 0;
    std::uint16_t seconds = timerRun_ ? active.timerSeconds : 0;
    if (seconds > 0) {
        phase_ = EvaluationPhase::Countdown;
        countdown(seconds, seconds);
    } else {
        afterCountdown();
    }
}

void SimEvaluator::countdown(std::uint16_t left, std::uint16_t total) {
    if (left == 0) return afterCountdown();
    tByteBuffer r;
    tCursor o = 0;
    bufAddWord(r, o, left);
    framing_.send(cShowTimer, r, cEvaluate);
    // Keeps the program waiting through a long countdown.
    if (left * 1000u > kLongWaitMs && (total - left) % 4 == 0)
        framing_.sendBusy(left * 1000u, cEvaluate);
    afterInEvaluation(1000, [this, left, total] { countdown(left - 1, total); });
}

void SimEvaluator::afterCountdown() {
    if (sc_.evaluation.whiteCard)
        prompt(cWhiteCard, EvaluationPhase::WaitWhiteCard);
    else
        prompt(cTestCard, EvaluationPhase::WaitTestCard);
}

void SimEvaluator::prompt(std::uint8_t code, EvaluationPhase waitPhase) {
    phase_ = waitPhase;
    framing_.sendEmpty(code, cEvaluate);
    if (sc_.evaluation.autoPress)
        afterInEvaluation(sc_.evaluation.pressDelayMs, [this] { press(); });
    keepAlive(waitPhase);
}

// While the user takes long to press the button the device reports
// itself busy, so the program does not give up on it.
void SimEvaluator::keepAlive(EvaluationPhase waitPhase) {
    afterInEvaluation(kLongWaitMs, [this, waitPhase] {
        if (phase_ != waitPhase) return;
        framing_.sendBusy(kLongWaitMs + 1000, cEvaluate);
        keepAlive(waitPhase);
    });
}

void SimEvaluator::press() {
    if (phase_ == EvaluationPhase::WaitWhiteCard) {
        ++evalGen_;  // ends the keep-alive and the pending press of this prompt
        prompt(cTestCard, EvaluationPhase::WaitTestCard);
    } else if (phase_ == EvaluationPhase::WaitTestCard) {
        ++evalGen_;
        phase_ = EvaluationPhase::Running;
        framing_.sendEmpty(cEvaluationRun, cEvaluate);
        if (sc_.evaluation.runMs > kLongWaitMs) framing_.sendBusy(sc_.evaluation.runMs, cEvaluate);
        afterInEvaluation(sc_.evaluation.runMs, [this] { finish(); });
    }
}

void SimEvaluator::finish() {
    phase_ = EvaluationPhase::Idle;
    if (sc_.evaluation.errorCode)
        return framing_.sendDeviceError(sc_.evaluation.errorCode, 0, cEvaluate);
    ++evaluationCount_;
    const ActiveConfig& active = memory_.active();
    Random rnd(sc_.generator.seed * 104729ull + evaluationCount_);
    Measurement m = memory_.makeMeasurement(active, sc_.evaluation.values, rnd, rnd.next());
    m.values.resize(active.resultCount);
    auto clock = clock_.deviceClock();
    m.date = clock ? *clock : TDateData{};
    m.invalid = sc_.evaluation.invalid;
    if (clock && SimMemory::expiredOn(active, *clock)) m.invalid |= 0x40;
    m.measureID = memory_.nextMeasureID();
    memory_.writeRecord(m, active);
    if (sc_.evaluation.store) memory_.storeAndPublish(m, active);
    last_ = std::move(m);
    imagePos_ = 0;
    framing_.sendEmpty(cAck, cEvaluate);
}

void SimEvaluator::formatDB(std::uint8_t flags) {
    if (busy()) return framing_.sendCommError(ceCommandError, cFormatDB);
    cancel();
    phase_ = EvaluationPhase::Formatting;
    if (sc_.evaluation.formatMs > kLongWaitMs)
        framing_.sendBusy(sc_.evaluation.formatMs, cFormatDB);
    afterInEvaluation(sc_.evaluation.formatMs, [this, flags] {
        memory_.format((flags & 0x01) != 0);
        phase_ = EvaluationPhase::Idle;
        framing_.sendEmpty(cAck, cFormatDB);
    });
}

}  // namespace kyvo::sim
