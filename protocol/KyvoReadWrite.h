// The two sequencers that cut a memory read or write into device requests
// of at most 768 bytes, and the rules that place each read step in device
// memory for every EEPROM layout version.
#pragma once

#include <cstdint>
#include <optional>

#include "protocol/ByteBuffer.h"
#include "protocol/KyvoEEPROM15.h"
#include "protocol/KyvoWire.h"

namespace kyvo {

enum EReadStep : std::uint8_t {
    SpNonVolatileSN = 0,
    SpVolatilePtAbs = 1,
    SpVolatilePtRel = 2,
    SpVolatilePt = 3,
    SpResultCfgData = 4,
    SpResultData = 5,
    SpTestConfigs = 6,
    SpConfiguration = 7,
    SpKyvoConfigBits = 8,
    SpMeasurementResult = 9,
    SpRFID = 10,
    SpKyvoConfigBits_0 = 11,
    SpWhiteGain = 12,
    SpNoRead = 13,
};

enum EWriteStep : std::uint8_t {
    WSpRFID = 0,
    WSpConfig = 1,
    WSpEraseRFID = 2,
    WSpNoWrite = 3,
};

// The three orders in which the device hands out its storage pointers.
enum EStoragePointerKind : std::uint8_t {
    spkAbsolute,  // 12 bytes: the six area bounds
    spkRelative,  // 14 bytes: the six read/write pointers and the last result
    spkAll,       // 24 bytes (EEPROM versions 1, 2): six pointers, then six bounds
};

// Where a step starts and how many bytes it has, for a map as read so far.
struct TReadPlacement {
    std::uint32_t address = 0;
    std::uint32_t size = 0;
};

class TDataRead {
  public:
    TDataRead() = default;

    // Starts a step: empties Buffer and places it by the step's rule.
    void InitializeReading(EReadStep NewReadStep, const TEEPROMMap& EEPROMMap);
    // The next request of the step. Size is at most 768; once SizeLeft is 0
    // the step is complete (a step of size 0 still yields one request).
    void PrepareNextBlock(std::uint16_t& Size, std::uint32_t& Address);
    // The four ring fields from the area bounds. From EEPROM version 3 with
    // SeparateResultMemory the result bounds count from the result ring's
    // start; otherwise every bound counts from the configuration area's
    // start. A ring is Stop - Start + 1 bytes, 65536 at most.
    void SetResultStoragePointers(std::uint8_t EEPROMVersion,
                                  const TEEPROMVolatile& EEPROMVolatile);

    // Start address and size a step gets from InitializeReading.
    TReadPlacement Placement(EReadStep step, const TEEPROMMap& EEPROMMap) const;

    EReadStep ReadStep = SpNoRead;
    tByteBuffer Buffer;
    std::uint32_t StartAddress = 0;
    std::uint32_t AddressOffset = 0;
    // 32 bits so that a ring of 65536 bytes is read whole.
    std::uint32_t SizeLeft = 0;
    std::uint16_t RFIDSize = 0;
    std::uint32_t ResultMemStart = 0;
    std::uint32_t ResultMemSize = 0;
    std::uint32_t ResultCfgMemStart = 0;
    std::uint32_t ResultCfgMemSize = 0;
    std::uint32_t SavedDataReadSrc = 0;
};

class TDataWrite {
  public:
    TDataWrite() = default;

    void Init(EWriteStep NewWriteStep, const tByteBuffer& Content, bool SavePerm);
    // Appends the next package (768 bytes or the rest) to PackageBuffer and
    // gives its device address; false, and the step WSpNoWrite, when all
    // has been sent.
    bool PreparePackage(std::uint32_t& Address, tByteBuffer& PackageBuffer);
    // True right after the last package was prepared: the one that carries
    // SavePermanent.
    bool LastPackagePrepared() const { return WriteStep != WSpNoWrite && SizeLeft == 0; }

    EWriteStep WriteStep = WSpNoWrite;
    tByteBuffer Buffer;
    std::uint32_t AbsStartAddress = 0;
    std::uint32_t AddressOffset = 0;
    // 32 bits so that no content is cut short.
    std::uint32_t SizeOverall = 0;
    std::uint32_t SizeLeft = 0;
    std::uint16_t RFIDSize = 0;
    bool Update = false;
    bool Reset = false;
    bool SavePermanent = false;
};

std::uint32_t writeStepAddress(EWriteStep step);

// The 16-bit values of a pointer block into rec, in the kind's order.
// Missing bytes read as zero.
void parseStoragePointers(const tByteBuffer& bytes, EStoragePointerKind kind, TEEPROMVolatile& rec);
// Which kind a completed pointer step holds, by its start address; none
// when the address is no pointer block.
std::optional<EStoragePointerKind> storagePointerKindAt(std::uint32_t startAddress);

}  // namespace kyvo
