#include "protocol/KyvoReadWrite.h"

#include <algorithm>
#include <array>

namespace kyvo {

namespace {

// Bytes in a ring from its first to its last byte. The bounds are 16-bit
// offsets, so a ring spanning all of them has 65536 bytes; that is kept
// whole instead of wrapping to 0. Bounds in the wrong order wrap modulo
// 65536 as the device's own 16-bit arithmetic does.
std::uint32_t ringSize(std::uint16_t start, std::uint16_t last) {
    const std::int32_t d = std::int32_t{last} - std::int32_t{start} + 1;
    if (d > 0) return static_cast<std::uint32_t>(d);
    return static_cast<std::uint32_t>(d) & 0xFFFF;
}

using VO = TEEPROMVolatile;
using PointerField = std::uint16_t VO::*;

constexpr std::array<PointerField, 6> kAbsoluteOrder{
    &VO::StoredConfigurationStart, &VO::StoredConfigurationStop, &VO::StoredTestResultCfgStart,
    &VO::StoredTestResultCfgStop,  &VO::StoredTestResultStart,   &VO::StoredTestResultStop,
};
constexpr std::array<PointerField, 7> kRelativeOrder{
    &VO::StoredConfigurationReadPtr, &VO::StoredConfigurationWritePtr,
    &VO::StoredTestResultCfgReadPtr, &VO::StoredTestResultCfgWritePtr,
    &VO::StoredTestResultReadPtr,    &VO::StoredTestResultWritePtr,
    &VO::StoredLastTestResult,
};

}  // namespace

TReadPlacement TDataRead::Placement(EReadStep step, const TEEPROMMap& map) const {
    const std::uint8_t v = map.EEPROMVersion();
    const bool separate = map.VolatileData.KyvoCfgBits.SeparateResultMemory();
    auto block = [](const TMemoryBlock& b) { return TReadPlacement{b.address, b.size}; };
    switch (step) {
        case SpNonVolatileSN:
            return block(kIdentityBlock);
        case SpVolatilePtAbs:
            if (v == 1 || v == 2) return block(kPointersAllBlock);
            if (v == 3 || v == 4) return block(kPointersAbsBlockV3);
            return block(kPointersAbsBlock);
        case SpVolatilePtRel:
            return block((v == 3 || v == 4) ? kPointersRelBlockV3 : kPointersRelBlock);
        case SpVolatilePt:
            return block(kPointersAllBlock);
        case SpResultCfgData:
            return {SavedDataReadSrc + ResultCfgMemStart, ResultCfgMemSize};
        case SpResultData:
            return {SavedDataReadSrc + ResultMemStart, ResultMemSize};
        case SpTestConfigs:
            return {kDataMemoryAddress,
                    static_cast<std::uint16_t>(map.VolatileData.StoredConfigurationStop -
                                               map.VolatileData.StoredConfigurationStart)};
        case SpConfiguration:
            return {kConfigurationAddress,
                    (v >= 5 && separate) ? kConfigurationSizeSeparate : kConfigurationSize};
        case SpKyvoConfigBits:
            return block(kConfigBitsBlock);
        case SpMeasurementResult:
            return {kMeasurementResultAddress, v >= 6   ? kMeasurementResultSizeV6
                                               : v >= 5 ? kMeasurementResultSizeV5
                                                        : kMeasurementResultSizeV4};
        case SpRFID:
            return {kRFIDAddress, RFIDSize};
        case SpKyvoConfigBits_0:
            return block(kConfigBits0Block);
        case SpWhiteGain:
            return block(v >= 3 ? kWhiteGainBlock : kWhiteGainBlockOld);
        case SpNoRead:
            break;
    }
    return {0, 0};
}

void TDataRead::InitializeReading(EReadStep NewReadStep, const TEEPROMMap& EEPROMMap) {
    const TReadPlacement p = Placement(NewReadStep, EEPROMMap);
    ReadStep = NewReadStep;
    Buffer.clear();
    AddressOffset = 0;
    StartAddress = p.address;
    SizeLeft = p.size;
}

void TDataRead::PrepareNextBlock(std::uint16_t& Size, std::uint32_t& Address) {
    Address = StartAddress + AddressOffset;
    if (SizeLeft <= kBlockSize) {
        Size = static_cast<std::uint16_t>(SizeLeft);
        SizeLeft = 0;
    } else {
        Size = kBlockSize;
        SizeLeft -= kBlockSize;
        AddressOffset += kBlockSize;
    }
}

void TDataRead::SetResultStoragePointers(std::uint8_t EEPROMVersion, const TEEPROMVolatile& p) {
    // Without the separate result memory every bound is an offset from the
    // start of the configuration area (at 0x30000); with it the result
    // bounds are offsets from the start of the result ring (at 0x80000).
    if (EEPROMVersion >= 3 && p.KyvoCfgBits.SeparateResultMemory()) {
        ResultMemStart = 0;
        ResultCfgMemStart = std::uint32_t{p.StoredTestResultCfgStart} - p.StoredTestResultStart;
    } else {
        ResultMemStart = std::uint32_t{p.StoredTestResultStart} - p.StoredConfigurationStart;
        ResultCfgMemStart = std::uint32_t{p.StoredTestResultCfgStart} - p.StoredConfigurationStart;
    }
    ResultMemSize = ringSize(p.StoredTestResultStart, p.StoredTestResultStop);
    ResultCfgMemSize = ringSize(p.StoredTestResultCfgStart, p.StoredTestResultCfgStop);
}

std::uint32_t writeStepAddress(EWriteStep step) {
    switch (step) {
        case WSpRFID:
        case WSpEraseRFID:
            return kRFIDAddress;
        case WSpConfig:
        case WSpNoWrite:
            break;
    }
    return kConfigurationAddress;
}

void TDataWrite::Init(EWriteStep NewWriteStep, const tByteBuffer& Content, bool SavePerm) {
    WriteStep = NewWriteStep;
    Buffer = Content;
    SizeOverall = SizeLeft = static_cast<std::uint32_t>(Content.size());
    AddressOffset = 0;
    Update = Reset = false;
    SavePermanent = SavePerm;
    AbsStartAddress = writeStepAddress(NewWriteStep);
    if (NewWriteStep == WSpNoWrite) SizeLeft = 0;
}

bool TDataWrite::PreparePackage(std::uint32_t& Address, tByteBuffer& PackageBuffer) {
    if (WriteStep == WSpNoWrite) return false;
    if (SizeLeft == 0) {
        WriteStep = WSpNoWrite;
        return false;
    }
    const std::uint32_t n = std::min(SizeLeft, kBlockSize);
    const auto from = Buffer.begin() + static_cast<std::ptrdiff_t>(AddressOffset);
    PackageBuffer.insert(PackageBuffer.end(), from, from + n);
    Address = AbsStartAddress + AddressOffset;
    AddressOffset += n;
    SizeLeft -= n;
    if (SizeLeft == 0 && (WriteStep == WSpRFID || WriteStep == WSpConfig)) Update = true;
    return true;
}

void parseStoragePointers(const tByteBuffer& bytes, EStoragePointerKind kind,
                          TEEPROMVolatile& rec) {
    tCursor c = 0;
    auto readInto = [&](auto first, auto last) {
        for (auto it = first; it != last; ++it) rec.** it = bufReadWord(bytes, c);
    };
    switch (kind) {
        case spkAbsolute:
            readInto(kAbsoluteOrder.begin(), kAbsoluteOrder.end());
            break;
        case spkRelative:
            readInto(kRelativeOrder.begin(), kRelativeOrder.end());
            break;
        case spkAll:
            readInto(kRelativeOrder.begin(), kRelativeOrder.begin() + 6);
            readInto(kAbsoluteOrder.begin(), kAbsoluteOrder.end());
            break;
    }
}

std::optional<EStoragePointerKind> storagePointerKindAt(std::uint32_t startAddress) {
    switch (startAddress) {
        case kPointersAbsBlockV3.address:
        case kPointersAbsBlock.address:
            return spkAbsolute;
        case kPointersAllBlock.address:
            return spkAll;
        case kPointersRelBlockV3.address:
        case kPointersRelBlock.address:
            return spkRelative;
        default:
            return std::nullopt;
    }
}

}  // namespace kyvo
