// The pieces of a state file: little-endian fields with a bounds-checked
// reader, a checksum, and writing a file through a temporary file and a
// rename. The layout of the file is SimDevice's (see README.md).
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "protocol/ByteBuffer.h"

namespace kyvo::sim {

// A state that cannot be used: damaged, foreign, or of another device.
class StateError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class StateWriter {
  public:
    void u8(std::uint8_t v) { out_.push_back(v); }
    void u16(std::uint16_t v);
    void u32(std::uint32_t v);
    void i64(std::int64_t v);
    void bytes(const tByteBuffer& b);  // length-prefixed
    tByteBuffer& buffer() { return out_; }

  private:
    tByteBuffer out_;
};

class StateReader {
  public:
    explicit StateReader(const tByteBuffer& in, std::size_t from = 0, std::size_t end = SIZE_MAX)
        : in_(in), at_(from), end_(std::min(end, in.size())) {}
    std::uint8_t u8();
    std::uint16_t u16();
    std::uint32_t u32();
    std::int64_t i64();
    tByteBuffer bytes();
    bool atEnd() const { return at_ == end_; }

  private:
    void need(std::size_t n) const;
    const tByteBuffer& in_;
    std::size_t at_;
    std::size_t end_;
};

std::uint32_t crc32(const std::uint8_t* data, std::size_t size);

// Writes the bytes to a temporary file beside path and renames it into
// place, so a crash never leaves half a state. Throws StateError.
void writeFileAtomically(const std::string& path, const tByteBuffer& bytes);
// None when the file does not exist; throws StateError when it cannot be read.
std::optional<tByteBuffer> readWholeFile(const std::string& path);

}  // namespace kyvo::sim
