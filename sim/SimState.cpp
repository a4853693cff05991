#include "sim/SimState.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kyvo::sim {

void StateWriter::u16(std::uint16_t v) {
    u8(static_cast<std::uint8_t>(v));
    u8(static_cast<std::uint8_t>(v >> 8));
}
void StateWriter::u32(std::uint32_t v) {
    u16(static_cast<std::uint16_t>(v));
    u16(static_cast<std::uint16_t>(v >> 16));
}
void StateWriter::i64(std::int64_t v) {
    auto u = static_cast<std::uint64_t>(v);
    u32(static_cast<std::uint32_t>(u));
    u32(static_cast<std::uint32_t>(u >> 32));
}
void StateWriter::bytes(const tByteBuffer& b) {
    u32(static_cast<std::uint32_t>(b.size()));
    out_.insert(out_.end(), b.begin(), b.end());
}

void StateReader::need(std::size_t n) const {
    if (end_ - at_ < n) throw StateError("the state ends too early");
}
std::uint8_t StateReader::u8() {
    need(1);
    return in_[at_++];
}
std::uint16_t StateReader::u16() {
    std::uint16_t lo = u8();
    return static_cast<std::uint16_t>(lo | (u8() << 8));
}
std::uint32_t StateReader::u32() {
    std::uint32_t lo = u16();
    return lo | (static_cast<std::uint32_t>(u16()) << 16);
}
std::int64_t StateReader::i64() {
    std::uint64_t lo = u32();
    return static_cast<std::int64_t>(lo | (static_cast<std::uint64_t>(u32()) << 32));
}
tByteBuffer StateReader::bytes() {
    std::uint32_t n = u32();
    need(n);
    tByteBuffer b(in_.begin() + static_cast<std::ptrdiff_t>(at_),
                  in_.begin() + static_cast<std::ptrdiff_t>(at_ + n));
    at_ += n;
    return b;
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void writeFileAtomically(const std::string& path, const tByteBuffer& bytes) {
    const std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f)
            throw StateError("cannot write the state file " + tmp + ": " + std::strerror(errno));
        f.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
        f.flush();
        if (!f) {
            std::remove(tmp.c_str());
            throw StateError("cannot write the state file " + tmp + ": " + std::strerror(errno));
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::string why = std::strerror(errno);
        std::remove(tmp.c_str());
        throw StateError("cannot replace the state file " + path + ": " + why);
    }
}

std::optional<tByteBuffer> readWholeFile(const std::string& path) {
    std::error_code ec;
    auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) return std::nullopt;
    if (status.type() == std::filesystem::file_type::directory)
        throw StateError("cannot read the state file " + path + ": it is a folder");
    std::ifstream f(path, std::ios::binary);
    if (!f) throw StateError("cannot read the state file " + path + ": " + std::strerror(errno));
    tByteBuffer b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (f.bad()) throw StateError("cannot read the state file " + path);
    return b;
}

}  // namespace kyvo::sim
