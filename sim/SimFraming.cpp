#include "sim/SimFraming.h"

#include <algorithm>

#include "sim/SimWire.h"

namespace kyvo::sim {

using namespace wire;

namespace {

bool firesOnReceive(FaultKind k) {
    return k == FaultKind::Silence || k == FaultKind::CommError || k == FaultKind::DeviceError ||
           k == FaultKind::Busy;
}

}  // namespace

SimFraming::SimFraming(const Scenario& scenario, SimClock& clock) : sc_(scenario), clock_(clock) {
    faultCount_.assign(sc_.faults.size(), 0);
    for (std::size_t i = 0; i < sc_.faults.size(); ++i) {
        const SimFault& f = sc_.faults[i];
        if (!f.atMs) continue;
        if (f.kind == FaultKind::Silence)
            clock_.at(*f.atMs, [this, f] { startSilence(f.durationMs); });
        else if (f.kind == FaultKind::Busy)
            clock_.at(*f.atMs, [this, f] { startBusy(f.durationMs, 0); });
    }
}

void SimFraming::setOutputHandler(std::function<void(const std::uint8_t*, std::size_t)> handler) {
    handler_ = std::move(handler);
    if (handler_ && !out_.empty()) {
        tByteBuffer pending = takeOutput();
        handler_(pending.data(), pending.size());
    }
}

tByteBuffer SimFraming::takeOutput() {
    tByteBuffer out;
    out.swap(out_);
    return out;
}

void SimFraming::timeMoved() {
    if (inFrame_ && clock_.now() - lastByteAt_ > kInterByteTimeoutMs) inFrame_ = false;
}

// ---- sending ---------------------------------------------------------------

void SimFraming::emit(const std::uint8_t* p, std::size_t n) {
    if (n == 0) return;
    if (handler_)
        handler_(p, n);
    else
        out_.insert(out_.end(), p, p + n);
}

bool SimFraming::faultMatches(std::size_t i, std::uint8_t code) {
    const SimFault& f = sc_.faults[i];
    if (f.command && *f.command != code) return false;
    std::uint32_t n = ++faultCount_[i];
    return n >= f.nth && (f.times == 0 || n < f.nth + f.times);
}

void SimFraming::send(std::uint8_t code, tByteBuffer payload, std::uint8_t cause) {
    if (shutdown_ || closed_) return;
    ++sent_;
    bool badChecksum = false;
    std::optional<std::uint32_t> closeAfter;
    for (std::size_t i = 0; i < sc_.faults.size(); ++i) {
        const SimFault& f = sc_.faults[i];
        if (firesOnReceive(f.kind) || f.atMs) continue;
        bool dataFrame = code == cData || (f.kind == FaultKind::EscapedFe && code == cImageData);
        if ((f.kind == FaultKind::ShortReply || f.kind == FaultKind::EscapedFe) && !dataFrame)
            continue;
        if (!faultMatches(i, cause)) continue;
        switch (f.kind) {
            case FaultKind::BadChecksum:
                badChecksum = true;
                break;
            case FaultKind::ShortReply: {
                std::uint32_t keep = std::min<std::uint32_t>(
                    f.bytes, static_cast<std::uint32_t>(payload.size() - 7));
                payload.resize(7 + keep);
                tCursor c = 5;
                bufAddWord(payload, c, static_cast<std::uint16_t>(keep));
                break;
            }
            case FaultKind::EscapedFe:
                // Every byte but the code, the colour mode and the length.
                std::fill(payload.begin() + (code == cData ? 0 : 1), payload.begin() + 5, 0xFE);
                std::fill(payload.begin() + 7, payload.end(), 0xFE);
                break;
            case FaultKind::CloseLine:
                closeAfter = f.bytes;
                break;
            default:
                break;
        }
    }
    tByteBuffer wire;
    wire.reserve(payload.size() * 2 + 8);
    wire.push_back(0xFE);
    std::uint8_t crc = 0;
    auto put = [&](std::uint8_t b) {
        wire.push_back(b);
        if (b == 0xFE) wire.push_back(0xFE);
    };
    put(0x20);
    crc ^= 0x20;
    put(code);
    crc ^= code;
    for (std::uint8_t b : payload) {
        put(b);
        crc ^= b;
    }
    put(badChecksum ? static_cast<std::uint8_t>(crc ^ 0x5A) : crc);
    if (closeAfter) {
        emit(wire.data(), std::min<std::size_t>(*closeAfter, wire.size()));
        closed_ = true;
        return;
    }
    emit(wire.data(), wire.size());
}

void SimFraming::sendCommError(std::uint8_t err, std::uint8_t cause) {
    send(cCommError, {err}, cause);
}

void SimFraming::sendDeviceError(std::uint8_t err, std::uint8_t info, std::uint8_t cause) {
    send(cDeviceError, {err, info}, cause);
}

void SimFraming::sendBusy(std::uint32_t ms, std::uint8_t cause) {
    tByteBuffer p;
    tCursor c = 0;
    bufAddDWord(p, c, ms);
    send(cBusy, p, cause);
}

// ---- receiving -------------------------------------------------------------

void SimFraming::receiveByte(std::uint8_t b) {
    const std::uint64_t now = clock_.now();
    if (inFrame_ && now - lastByteAt_ > kInterByteTimeoutMs) inFrame_ = false;
    lastByteAt_ = now;
    if (pendingFE_) {
        pendingFE_ = false;
        if (b == 0xFE) {
            if (inFrame_) storeByte(b);
            return;
        }
        inFrame_ = true;
        frame_.clear();
        storeByte(b);
        return;
    }
    if (b == 0xFE) {
        pendingFE_ = true;
        return;
    }
    if (inFrame_) {
        storeByte(b);
        return;
    }
    text_.push_back(static_cast<char>(b));
    if (text_.size() > 9) text_.erase(0, text_.size() - 9);
    if (text_ == "shutdown\r") {
        shutdown_ = true;
        clock_.clearEvents();
    }
}

void SimFraming::storeByte(std::uint8_t b) {
    frame_.push_back(b);
    if (frame_.size() == 1 && frame_[0] != 0x20) {
        inFrame_ = false;
        return;
    }
    if (frame_.size() < 2) return;
    std::uint8_t code = frame_[1];
    auto n = payloadLength(code);
    if (!n) {
        inFrame_ = false;
        ++received_;
        if (acceptFrame(code)) sendCommError(ceUnknownCommand, code);
        return;
    }
    std::size_t need = 2 + *n + 1;
    if (code == cWriteData && frame_.size() >= 2 + 7) {
        std::uint32_t count = frame_[7] | (frame_[8] << 8);
        if (count > kMaxWriteData) {
            inFrame_ = false;
            ++received_;
            if (acceptFrame(code)) sendCommError(ceBufferOverflow, code);
            return;
        }
        need += count;
    }
    if (frame_.size() < need) return;
    inFrame_ = false;
    ++received_;
    std::uint8_t crc = 0;
    for (std::uint8_t v : frame_) crc ^= v;
    if (!acceptFrame(code)) return;
    if (crc != 0) {
        sendCommError(ceCrc, code);
        return;
    }
    if (onFrame_) onFrame_(code, tByteBuffer(frame_.begin() + 2, frame_.end() - 1));
}

void SimFraming::startSilence(std::uint32_t ms) {
    if (ms == 0)
        silentForever_ = true;
    else
        silentUntil_ = std::max(silentUntil_, clock_.now() + ms);
}

void SimFraming::startBusy(std::uint32_t ms, std::uint8_t cause) {
    sendBusy(ms, cause);
    busyUntil_ = clock_.now() + ms;
    clock_.at(busyUntil_, [this, cause] { sendEmpty(cAck, cause); });
}

// Applies silence, busy periods and the faults that replace an answer;
// false when the frame gets no normal answer.
bool SimFraming::acceptFrame(std::uint8_t code) {
    const std::uint64_t now = clock_.now();
    if (silentForever_ || now < silentUntil_ || now < busyUntil_) return false;
    for (std::size_t i = 0; i < sc_.faults.size(); ++i) {
        const SimFault& f = sc_.faults[i];
        if (!firesOnReceive(f.kind) || f.atMs) continue;
        if (!faultMatches(i, code)) continue;
        switch (f.kind) {
            case FaultKind::Silence:
                startSilence(f.durationMs);
                return false;
            case FaultKind::Busy:
                startBusy(f.durationMs, code);
                return false;
            case FaultKind::CommError:
                sendCommError(f.code, code);
                return false;
            case FaultKind::DeviceError:
                sendDeviceError(f.code, f.info, code);
                return false;
            default:
                break;
        }
    }
    return true;
}

}  // namespace kyvo::sim
