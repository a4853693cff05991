// Shared helpers of the protocol tests: a sender that records what the
// protocol object hands it, and a frame builder written independently of the
// production encoder so that a fault there is not mirrored here.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "protocol/ByteBuffer.h"
#include "protocol/SerialSender.h"

namespace kyvo::test {

class RecordingSender : public ISerialSender {
  public:
    bool SendByte(std::uint8_t b) override {
        queued.push_back(b);
        return true;
    }
    bool SendBuffer() override {
        sent.insert(sent.end(), queued.begin(), queued.end());
        queued.clear();
        ++transmissions;
        return true;
    }
    void clear() {
        queued.clear();
        sent.clear();
        transmissions = 0;
    }

    tByteBuffer queued;  // handed over but not yet asked to be transmitted
    tByteBuffer sent;    // handed over and then transmitted
    int transmissions = 0;
};

// FE 20 <code> <payload> <xor>, with every 0xFE after the marker doubled.
inline tByteBuffer wireFrame(std::uint8_t code, const tByteBuffer& payload) {
    tByteBuffer body{0x20, code};
    body.insert(body.end(), payload.begin(), payload.end());
    std::uint8_t x = 0;
    for (auto b : body) x ^= b;
    body.push_back(x);
    tByteBuffer wire{0xFE};
    for (auto b : body) {
        wire.push_back(b);
        if (b == 0xFE) wire.push_back(0xFE);
    }
    return wire;
}

inline tByteBuffer concat(std::initializer_list<tByteBuffer> parts) {
    tByteBuffer out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace kyvo::test
