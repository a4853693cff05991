// The sending side of a serial port as the protocol object sees it. The
// serial port worker implements it; tests use a recording fake.
#pragma once

#include <cstdint>

namespace kyvo {

class ISerialSender {
public:
    virtual ~ISerialSender() = default;
    // Queues one byte for transmission. False when the port is closed or the
    // transmit queue refused the byte (the byte is then lost).
    virtual bool SendByte(std::uint8_t b) = 0;
    // Transmits what is queued now; true when a chunk left completely.
    // Does nothing (false) while the port is closed.
    virtual bool SendBuffer() = 0;
};

}  // namespace kyvo
