#include "protocol/KyvoEEPROM15.h"

#include <algorithm>

namespace kyvo {

namespace {

// Record layouts as data: each field's offset and how it is read and written.
template <typename Rec>
struct tField {
    std::uint32_t offset;
    void (*read)(Rec&, const tByteBuffer&, tCursor&);
    void (*write)(const Rec&, tByteBuffer&, tCursor&);
};

template <typename Rec, typename T, T Rec::*M>
tField<Rec> num(std::uint32_t offset) {
    if constexpr (sizeof(T) == 1)
        return {offset, [](Rec& r, const tByteBuffer& b, tCursor& c) { r.*M = bufReadByte(b, c); },
                [](const Rec& r, tByteBuffer& b, tCursor& c) { bufAddByte(b, c, r.*M); }};
    else if constexpr (sizeof(T) == 2)
        return {offset, [](Rec& r, const tByteBuffer& b, tCursor& c) { r.*M = bufReadWord(b, c); },
                [](const Rec& r, tByteBuffer& b, tCursor& c) { bufAddWord(b, c, r.*M); }};
    else
        return {offset, [](Rec& r, const tByteBuffer& b, tCursor& c) { r.*M = bufReadDWord(b, c); },
                [](const Rec& r, tByteBuffer& b, tCursor& c) { bufAddDWord(b, c, r.*M); }};
}

template <typename Rec, typename Bits, Bits Rec::*M>
tField<Rec> bits(std::uint32_t offset) {
    return {offset,
            [](Rec& r, const tByteBuffer& b, tCursor& c) { (r.*M).Data = bufReadDWord(b, c); },
            [](const Rec& r, tByteBuffer& b, tCursor& c) { bufAddDWord(b, c, (r.*M).Data); }};
}

template <typename Rec, std::size_t N, std::array<std::uint8_t, N> Rec::*M>
tField<Rec> raw(std::uint32_t offset) {
    return {offset,
            [](Rec& r, const tByteBuffer& b, tCursor& c) {
                for (auto& x : r.*M) x = bufReadByte(b, c);
            },
            [](const Rec& r, tByteBuffer& b, tCursor& c) {
                for (auto x : r.*M) bufAddByte(b, c, x);
            }};
}

using NV = TEEPROMNonVolatile;
using VO = TEEPROMVolatile;

const std::array kNonVolatileLayout{
    num<NV, std::uint8_t, &NV::EEPROMVersion>(0),
    num<NV, std::uint32_t, &NV::DravonSerialNumber>(1),
    num<NV, std::uint16_t, &NV::CustomerNumber>(5),
    num<NV, std::uint16_t, &NV::ProjectNumber>(7),
    num<NV, std::uint8_t, &NV::ProductionWeek>(9),
    num<NV, std::uint8_t, &NV::ProductionYear>(10),
    num<NV, std::uint16_t, &NV::SerialNumber>(11),
    raw<NV, 36, &NV::OtherData>(13),
    num<NV, std::uint16_t, &NV::NominalWhiteValue>(49),
    raw<NV, 8, &NV::ImageTargetGain>(51),
    raw<NV, 65, &NV::OtherData2>(59),
    bits<NV, TKyvoConfigBits_0, &NV::KyvoCfgBits_0>(124),
};
// The identification block is the first seven fields (13 bytes).
constexpr std::size_t kNonVolatileSNFields = 7;

const std::array kVolatileLayout{
    bits<VO, TKyvoConfigBits, &VO::KyvoCfgBits>(0),
    raw<VO, 28, &VO::OtherData>(4),
    num<VO, std::uint16_t, &VO::StoredConfigurationStart>(32),
    num<VO, std::uint16_t, &VO::StoredConfigurationStop>(34),
    num<VO, std::uint16_t, &VO::StoredTestResultCfgStart>(36),
    num<VO, std::uint16_t, &VO::StoredTestResultCfgStop>(38),
    num<VO, std::uint16_t, &VO::StoredTestResultStart>(40),
    num<VO, std::uint16_t, &VO::StoredTestResultStop>(42),
    raw<VO, 6, &VO::OtherData2>(44),
    num<VO, std::uint16_t, &VO::StoredConfigurationReadPtr>(50),
    num<VO, std::uint16_t, &VO::StoredConfigurationWritePtr>(52),
    num<VO, std::uint16_t, &VO::StoredTestResultCfgReadPtr>(54),
    num<VO, std::uint16_t, &VO::StoredTestResultCfgWritePtr>(56),
    num<VO, std::uint16_t, &VO::StoredTestResultReadPtr>(58),
    num<VO, std::uint16_t, &VO::StoredTestResultWritePtr>(60),
    num<VO, std::uint16_t, &VO::StoredLastTestResult>(62),
    raw<VO, 64, &VO::OtherData3>(64),
};

template <typename Rec, std::size_t N>
Rec fromBytes(const std::array<tField<Rec>, N>& layout, const tByteBuffer& bytes) {
    Rec r;
    for (const auto& f : layout) {
        tCursor c = f.offset;
        f.read(r, bytes, c);
    }
    return r;
}

template <typename Rec, std::size_t N>
tByteBuffer toBytes(const std::array<tField<Rec>, N>& layout, const Rec& r) {
    tByteBuffer b(kEEPROMRecordSize, 0);
    for (const auto& f : layout) {
        tCursor c = f.offset;
        f.write(r, b, c);
    }
    return b;
}

}  // namespace

TEEPROMNonVolatile nonVolatileFromBytes(const tByteBuffer& bytes) {
    return fromBytes(kNonVolatileLayout, bytes);
}
tByteBuffer nonVolatileToBytes(const TEEPROMNonVolatile& rec) {
    return toBytes(kNonVolatileLayout, rec);
}
TEEPROMVolatile volatileFromBytes(const tByteBuffer& bytes) {
    return fromBytes(kVolatileLayout, bytes);
}
tByteBuffer volatileToBytes(const TEEPROMVolatile& rec) {
    return toBytes(kVolatileLayout, rec);
}

void readNonVolatileSN(TEEPROMNonVolatile& rec, const tByteBuffer& bytes) {
    for (std::size_t i = 0; i < kNonVolatileSNFields; ++i) {
        tCursor c = kNonVolatileLayout[i].offset;
        kNonVolatileLayout[i].read(rec, bytes, c);
    }
}

void readWhiteGain(TEEPROMNonVolatile& rec, const tByteBuffer& bytes) {
    tCursor c = 0;
    rec.NominalWhiteValue = bufReadWord(bytes, c);
    for (auto& g : rec.ImageTargetGain) g = bufReadByte(bytes, c);
}

void TEEPROMMap::Reset() {
    NonVolatileData = TEEPROMNonVolatile{};
    VolatileData = TEEPROMVolatile{};
    for (auto& w : WhiteImage) w.fill(0);
}

}  // namespace kyvo
