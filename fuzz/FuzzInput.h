// Carving typed values out of a fuzz input. Reads past the end yield zeros
// and empty texts, so every input, however short, drives the whole target.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "protocol/ByteBuffer.h"

namespace kyvo::fuzz {

class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t remaining() const { return size_ - pos_; }

    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t word() {
        const std::uint16_t lo = byte();
        return static_cast<std::uint16_t>(lo | byte() << 8);
    }
    std::uint32_t dword() {
        const std::uint32_t lo = word();
        return lo | static_cast<std::uint32_t>(word()) << 16;
    }
    float single() {
        const std::uint32_t bits = dword();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    bool flag() { return (byte() & 1) != 0; }

    // The next count bytes, fewer at the end.
    tByteBuffer bytes(std::size_t count) {
        count = std::min(count, remaining());
        tByteBuffer out(data_ + pos_, data_ + pos_ + count);
        pos_ += count;
        return out;
    }
    // A block led by its 16-bit length.
    tByteBuffer block() { return bytes(word()); }
    tByteBuffer rest() { return bytes(remaining()); }
    std::string_view restText() {
        std::string_view out(reinterpret_cast<const char*>(data_ + pos_), remaining());
        pos_ = size_;
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A value every consumer of the target's results reads, so the optimiser
// cannot drop the work that produced them.
inline void keep(const void* p, std::size_t n) {
    static volatile std::uint8_t sink;
    const auto* b = static_cast<const std::uint8_t*>(p);
    for (std::size_t i = 0; i < n; ++i) sink = static_cast<std::uint8_t>(sink ^ b[i]);
}
inline void keep(std::string_view s) { keep(s.data(), s.size()); }

// A scratch folder of this process in memory-backed storage, for the
// targets whose entry points take file names.
std::string scratchFolder();

}  // namespace kyvo::fuzz
