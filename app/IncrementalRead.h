#pragma once

// Reading the two result rings of a device the program has read before:
// fetch only the bytes that can have changed since, check enough of the
// kept bytes against the device, and hand on ring images that are byte for
// byte what a whole read gives; or read a ring whole when anything does not
// fit.
//
// The device appends each new entry after its newest one, at the write
// position, and moves its read pointer past the oldest entries it
// overwrites; it never rewrites an entry in place. So since the last read
// only the bytes from the end of the newest known entry onwards can have
// changed, and the known entries from the new read pointer up to the newest
// one are still there unchanged. The fetch trusts that model only as far as
// the device confirms it:
//  - the new read pointer must be the head of a known entry (or the ring
//    was empty and the pointer has not moved), else the ring is read whole;
//  - the header at the new read pointer and the whole newest known entry
//    are fetched again and must equal the remembered bytes (this catches a
//    formatted database, another memory behind the same serial and
//    rewritten entries);
//  - the new entries are walked head by head from the newest known entry
//    over fetched bytes only, up to and past the end mark; the device's
//    write pointer only sizes the first fetch, and a walk that runs past
//    the fetched bytes fetches more, so a wrong pointer costs a request,
//    never a wrong image;
//  - the new bytes must not reach the kept entries (the newest entries
//    wrapped past the oldest), else the ring is read whole.
// The two rings are taken from memory together or not at all: a device that
// contradicts what is remembered of one ring (formatted, another memory)
// is trusted with neither.

#include <cstdint>
#include <optional>
#include <vector>

#include "files/DeviceMemoryFile.h"
#include "protocol/KyvoReadWrite.h"

namespace kyvo {

enum class ERingKind : std::uint8_t { ResultConfigs, Results };

// Ring offsets [Offset, Offset + Size), never past the ring's last byte.
struct TRingSpan {
    std::uint32_t Offset = 0;
    std::uint32_t Size = 0;
};

// One ring. The caller asks for spans with Next() and hands each one's bytes
// to Deliver() in turn until Next() gives none; then Image() is the ring.
class TRingFetch {
  public:
    // size: the ring's byte count as a whole read requests it. now: bounds
    // and pointers as just read (Bytes unused). cached: the ring as last
    // read, or null; it is used only when its bounds and size equal now's.
    TRingFetch(ERingKind kind, std::uint8_t eepromVersion, std::uint32_t size,
               const TStoredRing& now, const TStoredRing* cached);

    std::optional<TRingSpan> Next();
    void Deliver(const std::vector<std::uint8_t>& bytes);
    // Forget what was fetched and read the ring whole.
    void ReadWhole();

    bool Whole() const { return mode_ == Mode::Whole; }
    // A remembered byte or header did not match the device.
    bool Mismatch() const { return mismatch_; }
    bool Complete() const { return complete_; }
    const std::vector<std::uint8_t>& Image() const { return image_; }
    std::uint32_t Fetched() const { return fetched_; }
    // Bytes fetched so far plus those still planned (grows when the walk
    // needs more than planned).
    std::uint32_t Planned() const;

  private:
    enum class Mode { Whole, Incremental };
    bool Plan(const TStoredRing& now, const TStoredRing& cached);
    void CheckWindow();
    std::uint32_t Dist(std::uint32_t from, std::uint32_t to) const {
        return (to + size_ - from) % size_;
    }

    ERingKind kind_;
    std::uint32_t size_;
    std::uint32_t header_;
    Mode mode_ = Mode::Whole;
    bool mismatch_ = false;
    bool complete_ = false;
    std::vector<std::uint8_t> image_;
    std::vector<std::uint8_t> cache_;
    std::uint32_t fetched_ = 0;
    std::optional<TRingSpan> asked_;

    // Incremental plan, in ring offsets.
    std::uint32_t headAt_ = 0, headSize_ = 0;  // kept header to confirm
    bool headChecked_ = true;
    std::uint32_t wStart_ = 0;    // first byte fetched again
    std::uint32_t overlap_ = 0;   // remembered bytes from wStart_ to confirm
    std::uint32_t walkFrom_ = 0;  // first head of the walk over new bytes
    std::uint32_t wHave_ = 0, wWant_ = 0, wMax_ = 0;
};

// Both rings of one stored-data read, as device requests.
class TStoredDataFetch {
  public:
    struct TRequest {
        std::uint32_t Address = 0;
        std::uint32_t Size = 0;
        ERingKind Ring = ERingKind::ResultConfigs;
    };

    // map and reader: the EEPROM mirror and the read sequencer after the
    // storage pointers were parsed. cached: the device's remembered record
    // (none: first contact, or reading whole was asked for). It counts only
    // when its identity equals this device's.
    TStoredDataFetch(const TEEPROMMap& map, const TDataRead& reader,
                     const std::optional<TDeviceMemoryRecord>& cached);

    std::optional<TRequest> Next();
    void Deliver(const tByteBuffer& bytes);

    const tByteBuffer& ResultCfgImage() const { return cfg_.Image(); }
    const tByteBuffer& ResultImage() const { return res_.Image(); }
    std::uint32_t FetchedBytes() const { return cfg_.Fetched() + res_.Fetched(); }
    std::uint32_t PlannedBytes() const { return cfg_.Planned() + res_.Planned(); }
    // Both rings' sizes: what a whole read fetches.
    std::uint32_t TotalBytes() const { return cfgSize_ + resSize_; }
    bool UsedMemory() const { return !cfg_.Whole() || !res_.Whole(); }
    // What to remember after the read; none when a ring came back shorter
    // than its size (a short reply), so nothing half known is kept.
    std::optional<TDeviceMemoryRecord> Record() const;

    // The device's identity as the record keeps it, and the serial bytes
    // its file is named by.
    static std::vector<std::uint8_t> IdentityOf(const TEEPROMMap& map, const TDataRead& reader);
    static std::vector<std::uint8_t> SerialOf(const TEEPROMMap& map);

  private:
    std::vector<std::uint8_t> identity_;
    TStoredRing cfgNow_, resNow_;
    std::uint32_t cfgSize_, resSize_;
    std::uint32_t cfgBase_, resBase_;
    TRingFetch cfg_;
    TRingFetch res_;
    ERingKind asking_ = ERingKind::ResultConfigs;
};

}  // namespace kyvo
