// A minimal client of the device protocol for the simulator's tests, written
// from the frame tables alone: it frames commands and decodes device frames
// without any of the product's protocol code.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/ByteBuffer.h"
#include "sim/SimDevice.h"

namespace kyvo::sim::test {

struct DeviceFrame {
    std::uint8_t code = 0;
    tByteBuffer payload;
    bool checksumOk = true;
};

inline tByteBuffer encodeFrame(std::uint8_t code, const tByteBuffer& payload) {
    tByteBuffer wire{0xFE};
    std::uint8_t crc = 0;
    auto put = [&](std::uint8_t b) {
        wire.push_back(b);
        if (b == 0xFE) wire.push_back(0xFE);
        crc ^= b;
    };
    put(0x20);
    put(code);
    for (std::uint8_t b : payload) put(b);
    std::uint8_t sum = crc;
    wire.push_back(sum);
    if (sum == 0xFE) wire.push_back(0xFE);
    return wire;
}

// Decodes the device's byte stream into frames; lengths follow from the
// code (and the length field of the variable frames).
class FrameDecoder {
  public:
    void feed(const tByteBuffer& bytes) {
        for (std::uint8_t b : bytes) feedByte(b);
    }
    std::vector<DeviceFrame> frames;
    std::size_t garbage = 0;  // bytes outside any frame

  private:
    static std::optional<std::size_t> need(const tByteBuffer& f) {
        if (f.size() < 2) return std::nullopt;
        auto len16 = [&](std::size_t at) -> std::optional<std::size_t> {
            if (f.size() < at + 2) return std::nullopt;
            std::size_t l = f[at] | (f[at + 1] << 8);
            return l == 0 ? 65536 : l;
        };
        std::size_t n = 0;
        switch (f[1]) {
            case 0x30:
                n = 2;
                break;
            case 0x31:
            case 0x32:
            case 0x33:
            case 0x55:
                n = 0;
                break;
            case 0x40:
                n = 4;
                break;
            case 0x45:
                n = 1;
                break;
            case 0x47:
                n = 2;
                break;
            case 0x49:
                n = 4;
                break;
            case 0x51:
                n = 7;
                break;
            case 0x59:
                n = 6;
                break;
            case 0xA3:
                n = 9;
                break;
            case 0xA5:
                n = 12;
                break;
            case 0xD0:
                n = 2;
                break;
            case 0x42: {
                auto l = len16(2 + 5);
                if (!l) return std::nullopt;
                n = 7 + *l;
                break;
            }
            case 0x53: {
                auto l = len16(2 + 5);
                if (!l) return std::nullopt;
                n = 7 + *l;
                break;
            }
            case 0x57:
                if (f.size() < 2 + 5) return std::nullopt;
                n = 5 + f[2 + 4];
                break;
            default:
                n = 0;
                break;
        }
        return 2 + n + 1;
    }

    void feedByte(std::uint8_t b) {
        if (pendingFE_) {
            pendingFE_ = false;
            if (b == 0xFE) {
                if (open_) store(b);
                return;
            }
            open_ = true;
            cur_.clear();
            store(b);
            return;
        }
        if (b == 0xFE) {
            pendingFE_ = true;
            return;
        }
        if (open_)
            store(b);
        else
            ++garbage;
    }

    void store(std::uint8_t b) {
        cur_.push_back(b);
        auto n = need(cur_);
        if (!n || cur_.size() < *n) return;
        std::uint8_t crc = 0;
        for (std::uint8_t v : cur_) crc ^= v;
        frames.push_back({cur_[1], tByteBuffer(cur_.begin() + 2, cur_.end() - 1), crc == 0});
        open_ = false;
    }

    bool open_ = false, pendingFE_ = false;
    tByteBuffer cur_;
};

inline std::uint16_t word(const tByteBuffer& b, tCursor at) {
    return bufReadWord(b, at);
}
inline std::uint32_t dword(const tByteBuffer& b, tCursor at) {
    return bufReadDWord(b, at);
}

class SimClient {
  public:
    explicit SimClient(SimDevice& device) : dev(device) {}

    void send(std::uint8_t code, const tByteBuffer& payload = {}) {
        dev.receive(encodeFrame(code, payload));
    }

    // Frames the device sent since the last call.
    std::vector<DeviceFrame> take() {
        decoder.feed(dev.takeOutput());
        std::vector<DeviceFrame> out;
        out.swap(decoder.frames);
        return out;
    }

    // Sends and waits (in device time) for the first frame of the answer.
    std::optional<DeviceFrame> request(std::uint8_t code, const tByteBuffer& payload = {},
                                       std::uint32_t waitMs = 2000) {
        send(code, payload);
        for (std::uint32_t t = 0;; t += 10) {
            auto f = take();
            if (!f.empty()) return f.front();
            if (t >= waitMs) return std::nullopt;
            dev.advance(10);
        }
    }

    static tByteBuffer readRequest(std::uint32_t address, std::uint16_t count) {
        tByteBuffer p;
        tCursor c = 0;
        bufAddByte(p, c, 0);
        bufAddDWord(p, c, address);
        bufAddWord(p, c, count);
        return p;
    }

    // Reads as the program does: blocks of at most 768 bytes.
    tByteBuffer readMemory(std::uint32_t address, std::uint32_t size) {
        tByteBuffer all;
        for (std::uint32_t off = 0; off < size; off += 768) {
            auto n = static_cast<std::uint16_t>(std::min<std::uint32_t>(768, size - off));
            auto f = request(0x52, readRequest(address + off, n));
            EXPECT_TRUE(f && f->code == 0x53) << "read at " << std::hex << address + off;
            if (!f || f->code != 0x53) return all;
            EXPECT_EQ(dword(f->payload, 1), address + off);
            all.insert(all.end(), f->payload.begin() + 7, f->payload.end());
        }
        return all;
    }

    // Writes as the program does; update and savePermanent go with the last block.
    bool writeMemory(std::uint32_t address, const tByteBuffer& bytes, bool update) {
        for (std::size_t off = 0; off < bytes.size(); off += 768) {
            std::size_t n = std::min<std::size_t>(768, bytes.size() - off);
            bool lastBlock = off + n == bytes.size();
            tByteBuffer p;
            tCursor c = 0;
            bufAddByte(p, c, lastBlock && update ? 0x01 : 0x00);
            bufAddDWord(p, c, static_cast<std::uint32_t>(address + off));
            bufAddWord(p, c, static_cast<std::uint16_t>(n));
            p.insert(p.end(), bytes.begin() + off, bytes.begin() + off + n);
            auto f = request(0x50, p);
            if (!f || f->code != 0x51) return false;
        }
        return true;
    }

    SimDevice& dev;
    FrameDecoder decoder;
};

// Rotates a ring image so that it starts with its oldest entry.
inline tByteBuffer rotate(const tByteBuffer& ring, std::size_t by) {
    tByteBuffer r(ring.size());
    for (std::size_t i = 0; i < ring.size(); ++i) r[i] = ring[(by + i) % ring.size()];
    return r;
}

struct StoragePointers {
    std::uint16_t cfgStart, cfgStop, rcStart, rcStop, rStart, rStop;
    std::uint16_t rcRead, rcWrite, rRead, rWrite;
};

// Reads the storage pointers at the addresses the given EEPROM version uses.
inline StoragePointers readPointers(SimClient& c, std::uint8_t version) {
    StoragePointers p{};
    if (version <= 2) {
        tByteBuffer b = c.readMemory(0x500A2, 24);
        p.rcRead = word(b, 4);
        p.rcWrite = word(b, 6);
        p.rRead = word(b, 8);
        p.rWrite = word(b, 10);
        p.cfgStart = word(b, 12);
        p.cfgStop = word(b, 14);
        p.rcStart = word(b, 16);
        p.rcStop = word(b, 18);
        p.rStart = word(b, 20);
        p.rStop = word(b, 22);
        return p;
    }
    tByteBuffer a = c.readMemory(version <= 4 ? 0x5009C : 0x500A0, 12);
    tByteBuffer r = c.readMemory(version <= 4 ? 0x500AE : 0x500B2, 14);
    p.cfgStart = word(a, 0);
    p.cfgStop = word(a, 2);
    p.rcStart = word(a, 4);
    p.rcStop = word(a, 6);
    p.rStart = word(a, 8);
    p.rStop = word(a, 10);
    p.rcRead = word(r, 4);
    p.rcWrite = word(r, 6);
    p.rRead = word(r, 8);
    p.rWrite = word(r, 10);
    return p;
}

struct StoredResult {
    std::uint8_t id;
    TDateData date;
    std::uint8_t invalid;
    std::vector<float> values;
};

struct StoredData {
    std::vector<std::pair<std::uint8_t, std::uint8_t>> configs;  // id, result count
    std::vector<StoredResult> results;
};

// Reads both rings the way the program locates them and walks their entries.
inline StoredData readStoredData(SimClient& c, std::uint8_t version, bool separate, bool lineData,
                                 bool image) {
    StoragePointers p = readPointers(c, version);
    std::uint32_t src = separate ? 0x80000 : 0x30000;
    std::uint16_t base = (version >= 3 && separate) ? p.rStart : p.cfgStart;
    std::uint32_t rcSize = p.rcStop - p.rcStart + 1u, rSize = p.rStop - p.rStart + 1u;
    tByteBuffer rc = rotate(c.readMemory(src + (p.rcStart - base), rcSize), p.rcRead - p.rcStart);
    tByteBuffer rs = rotate(c.readMemory(src + (p.rStart - base), rSize), p.rRead - p.rStart);
    StoredData d;
    std::size_t hc = version >= 6 ? 23 : 19, hr = version >= 6 ? 18 : 16;
    for (std::size_t pos = 0; pos + hc <= rc.size();) {
        std::uint8_t id = rc[pos];
        if (id == 0 || id == 0xFF) break;
        std::uint16_t size = word(rc, static_cast<tCursor>(pos + 1));
        if (size < hc) break;
        d.configs.emplace_back(id, rc[pos + 17] & 0x0F);
        pos += size;
    }
    for (std::size_t pos = 0; pos + hr < rs.size();) {
        std::uint8_t id = rs[pos];
        if (id == 0xFF) break;
        std::uint16_t size = word(rs, static_cast<tCursor>(pos + 1));
        if (size == 0) break;
        if (id != 0) {
            StoredResult r{id, {}, rs[pos + 9], {}};
            for (int i = 0; i < 6; ++i) r.date.Data[i] = rs[pos + 3 + i];
            std::uint8_t n = 0;
            for (auto& [cid, count] : d.configs)
                if (cid == id) n = count;
            tCursor v = static_cast<tCursor>(pos + hr);
            for (int i = 0; i < n; ++i) r.values.push_back(bufReadSingle(rs, v));
            std::size_t expect = hr + 4u * n;
            if (lineData) {
                std::uint8_t lines = rs[v];
                expect += 1 + lines * (version >= 6 ? 24u : 28u);
                v = static_cast<tCursor>(pos + expect);
            }
            if (image) expect += 1 + rs[v] * 3u / 2u;
            EXPECT_EQ(size, expect) << "entry of configuration " << int(id);
            d.results.push_back(r);
        }
        pos += size;
    }
    return d;
}

inline Scenario parseOrFail(const std::string& text) {
    std::string error;
    auto s = Scenario::parse(text, error);
    EXPECT_TRUE(s.has_value()) << error;
    return s ? *s : Scenario{};
}

}  // namespace kyvo::sim::test
