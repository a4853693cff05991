#include "app/IncrementalRead.h"

#include <algorithm>

#include "testdata/TestResults.h"

namespace kyvo {

namespace {

// Beyond the end mark the walks read one header; a little more is fetched so
// that a device which marks the end with a whole blank header is covered by
// the first request.
constexpr std::uint32_t kTail = 32;
// How much more to ask for when the walk over new entries runs past the
// fetched bytes and the write pointer gave no usable hint.
constexpr std::uint32_t kMoreStep = kBlockSize;

std::uint32_t ringOffset(std::uint16_t pointer, std::uint16_t start) {
    return static_cast<std::uint16_t>(pointer - start);
}

bool isEndMark(ERingKind kind, std::uint8_t id) {
    return id == 255 || (kind == ERingKind::ResultConfigs && id == 0);
}

struct HeadWalk {
    std::vector<std::uint32_t> heads;
    std::optional<std::uint32_t> end;
};

// The entry heads from `from` up to the end mark, following each entry's
// Size. No end when the walk meets an entry that cannot be one or goes
// once round without an end mark.
HeadWalk walkHeads(const std::vector<std::uint8_t>& ring, std::uint32_t from, ERingKind kind) {
    HeadWalk w;
    const auto size = static_cast<std::uint32_t>(ring.size());
    std::uint32_t p = from;
    for (std::uint32_t travelled = 0; travelled < size;) {
        if (isEndMark(kind, ring[p])) {
            w.end = p;
            return w;
        }
        const std::uint32_t entry = ring[(p + 1) % size] | ring[(p + 2) % size] << 8;
        if (entry < 3) return w;
        w.heads.push_back(p);
        travelled += entry;
        p = (p + entry) % size;
    }
    return w;
}

}  // namespace

// ---------------------------------------------------------------------------
// One ring

TRingFetch::TRingFetch(ERingKind kind, std::uint8_t eepromVersion, std::uint32_t size,
                       const TStoredRing& now, const TStoredRing* cached)
    : kind_(kind),
      size_(size),
      header_(static_cast<std::uint32_t>(kind == ERingKind::ResultConfigs
                                             ? StoredResultCfgHeaderSize(eepromVersion)
                                             : StoredResultHeaderSize(eepromVersion))) {
    if (cached && size_ > 0 && size_ <= kMaxStoredRingSize && cached->Start == now.Start &&
        cached->Stop == now.Stop && cached->Bytes.size() == size_ && Plan(now, *cached)) {
        mode_ = Mode::Incremental;
        cache_ = cached->Bytes;
        image_ = cache_;
    }
}

bool TRingFetch::Plan(const TStoredRing& now, const TStoredRing& cached) {
    const std::uint32_t r0 = ringOffset(cached.ReadPtr, cached.Start);
    const std::uint32_t r1 = ringOffset(now.ReadPtr, now.Start);
    if (r0 >= size_ || r1 >= size_) return false;
    const HeadWalk old = walkHeads(cached.Bytes, r0, kind_);
    if (!old.end) return false;
    const std::uint32_t e0 = *old.end;
    std::uint32_t kept = 0;
    if (old.heads.empty()) {
        // Nothing was stored: confirm a few bytes before the old end mark,
        // which a format or another memory would not leave as they were.
        if (r1 != e0) return false;
        overlap_ = std::min(kTail, size_ - 1);
        wStart_ = (e0 + size_ - overlap_) % size_;
        walkFrom_ = e0;
    } else {
        const std::uint32_t n0 = old.heads.back();
        if (std::find(old.heads.begin(), old.heads.end(), r1) == old.heads.end()) return false;
        kept = Dist(r1, n0);
        wStart_ = n0;
        walkFrom_ = n0;
        overlap_ = Dist(n0, e0);
        if (kept > 0) {
            headAt_ = r1;
            headSize_ = std::min(header_, kept);
            headChecked_ = false;
        }
    }
    wMax_ = size_ - kept;
    const std::uint32_t w1 = ringOffset(now.WritePtr, now.Start);
    const std::uint32_t toWrite = w1 < size_ ? Dist(wStart_, w1) : wMax_;
    if (toWrite >= overlap_ && toWrite < wMax_)
        wWant_ = toWrite + header_ + kTail;
    else
        wWant_ = overlap_ + header_ + kMoreStep;
    wWant_ = std::min(wWant_, wMax_);
    return true;
}

std::optional<TRingSpan> TRingFetch::Next() {
    if (complete_) return std::nullopt;
    if (asked_) return asked_;
    if (mode_ == Mode::Whole) {
        asked_ = TRingSpan{0, size_};
    } else if (!headChecked_) {
        asked_ = TRingSpan{headAt_, std::min(headSize_, size_ - headAt_)};
    } else {
        const std::uint32_t at = (wStart_ + wHave_) % size_;
        asked_ = TRingSpan{at, std::min(wWant_ - wHave_, size_ - at)};
    }
    return asked_;
}

void TRingFetch::Deliver(const std::vector<std::uint8_t>& bytes) {
    if (!asked_) return;
    const TRingSpan span = *asked_;
    asked_.reset();
    fetched_ += static_cast<std::uint32_t>(bytes.size());
    if (mode_ == Mode::Whole) {
        // Exactly what a whole read collects, a short reply included.
        image_ = bytes;
        complete_ = true;
        return;
    }
    if (bytes.size() != span.Size) {
        ReadWhole();
        return;
    }
    std::copy(bytes.begin(), bytes.end(), image_.begin() + span.Offset);
    if (!headChecked_) {
        // A header that wraps past the ring's end is confirmed in two parts.
        const bool same = std::equal(bytes.begin(), bytes.end(), cache_.begin() + span.Offset);
        if (!same) {
            mismatch_ = true;
            ReadWhole();
            return;
        }
        headAt_ = (headAt_ + span.Size) % size_;
        headSize_ -= span.Size;
        headChecked_ = headSize_ == 0;
        return;
    }
    wHave_ += span.Size;
    if (wHave_ >= wWant_) CheckWindow();
}

void TRingFetch::CheckWindow() {
    for (std::uint32_t i = 0; i < overlap_; ++i) {
        const std::uint32_t p = (wStart_ + i) % size_;
        if (image_[p] != cache_[p]) {
            mismatch_ = true;
            ReadWhole();
            return;
        }
    }
    // Walk the new entries over fetched bytes only; off counts from wStart_.
    std::uint32_t off = Dist(wStart_, walkFrom_);
    const auto needMore = [this](std::uint32_t upTo) {
        const std::uint32_t want = std::min(wMax_, std::max(wHave_ + kMoreStep, upTo));
        if (want <= wHave_) {
            ReadWhole();
        } else {
            wWant_ = want;
        }
    };
    for (;;) {
        if (off + 3 > wHave_) return needMore(off + header_ + kTail);
        const std::uint32_t p = (wStart_ + off) % size_;
        if (isEndMark(kind_, image_[p])) {
            // The walks read a header at the end mark; where it reaches into
            // the kept entries those bytes are the confirmed old ones.
            const std::uint32_t markEnd = off + std::min(header_, wMax_ - off);
            if (markEnd > wHave_) return needMore(markEnd);
            complete_ = true;
            return;
        }
        const std::uint32_t entry = image_[(p + 1) % size_] | image_[(p + 2) % size_] << 8;
        if (entry < 3 || off + entry >= wMax_) {
            ReadWhole();
            return;
        }
        off += entry;
    }
}

void TRingFetch::ReadWhole() {
    mode_ = Mode::Whole;
    image_.clear();
    complete_ = false;
    asked_.reset();
}

std::uint32_t TRingFetch::Planned() const {
    if (complete_) return fetched_;
    if (mode_ == Mode::Whole) return fetched_ + size_;
    return fetched_ + (headChecked_ ? 0 : headSize_) + (wWant_ - wHave_);
}

// ---------------------------------------------------------------------------
// Both rings

namespace {

TStoredRing ringNow(std::uint16_t start, std::uint16_t stop, std::uint16_t read,
                    std::uint16_t write) {
    return TStoredRing{start, stop, read, write, {}};
}

void addLE(std::vector<std::uint8_t>& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

std::vector<std::uint8_t> TStoredDataFetch::SerialOf(const TEEPROMMap& map) {
    const tByteBuffer nv = nonVolatileToBytes(map.NonVolatileData);
    return {nv.begin() + 1, nv.begin() + 13};
}

std::vector<std::uint8_t> TStoredDataFetch::IdentityOf(const TEEPROMMap& map,
                                                       const TDataRead& reader) {
    const tByteBuffer nv = nonVolatileToBytes(map.NonVolatileData);
    std::vector<std::uint8_t> id(nv.begin(), nv.begin() + 13);  // version and serial record
    const auto& vol = map.VolatileData;
    addLE(id, map.NonVolatileData.KyvoCfgBits_0.Data, 4);
    addLE(id, vol.KyvoCfgBits.Data, 4);
    addLE(id, reader.SavedDataReadSrc, 4);
    for (std::uint16_t bound :
         {vol.StoredConfigurationStart, vol.StoredConfigurationStop, vol.StoredTestResultCfgStart,
          vol.StoredTestResultCfgStop, vol.StoredTestResultStart, vol.StoredTestResultStop})
        addLE(id, bound, 2);
    for (std::uint32_t v : {reader.ResultCfgMemStart, reader.ResultCfgMemSize,
                            reader.ResultMemStart, reader.ResultMemSize})
        addLE(id, v, 4);
    return id;
}

TStoredDataFetch::TStoredDataFetch(const TEEPROMMap& map, const TDataRead& reader,
                                   const std::optional<TDeviceMemoryRecord>& cached)
    : identity_(IdentityOf(map, reader)),
      cfgNow_(ringNow(map.VolatileData.StoredTestResultCfgStart,
                      map.VolatileData.StoredTestResultCfgStop,
                      map.VolatileData.StoredTestResultCfgReadPtr,
                      map.VolatileData.StoredTestResultCfgWritePtr)),
      resNow_(ringNow(map.VolatileData.StoredTestResultStart, map.VolatileData.StoredTestResultStop,
                      map.VolatileData.StoredTestResultReadPtr,
                      map.VolatileData.StoredTestResultWritePtr)),
      cfgSize_(reader.Placement(SpResultCfgData, map).size),
      resSize_(reader.Placement(SpResultData, map).size),
      cfgBase_(reader.Placement(SpResultCfgData, map).address),
      resBase_(reader.Placement(SpResultData, map).address),
      cfg_(ERingKind::ResultConfigs, map.EEPROMVersion(), cfgSize_, cfgNow_,
           cached && cached->Identity == identity_ ? &cached->ResultCfg : nullptr),
      res_(ERingKind::Results, map.EEPROMVersion(), resSize_, resNow_,
           cached && cached->Identity == identity_ ? &cached->Result : nullptr) {
    if (cfg_.Whole() != res_.Whole()) {
        cfg_.ReadWhole();
        res_.ReadWhole();
    }
}

std::optional<TStoredDataFetch::TRequest> TStoredDataFetch::Next() {
    if (const auto s = cfg_.Next()) {
        asking_ = ERingKind::ResultConfigs;
        return TRequest{cfgBase_ + s->Offset, s->Size, asking_};
    }
    if (const auto s = res_.Next()) {
        asking_ = ERingKind::Results;
        return TRequest{resBase_ + s->Offset, s->Size, asking_};
    }
    return std::nullopt;
}

void TStoredDataFetch::Deliver(const tByteBuffer& bytes) {
    TRingFetch& ring = asking_ == ERingKind::ResultConfigs ? cfg_ : res_;
    TRingFetch& other = asking_ == ERingKind::ResultConfigs ? res_ : cfg_;
    ring.Deliver(bytes);
    if (ring.Whole() && !other.Whole()) other.ReadWhole();
}

std::optional<TDeviceMemoryRecord> TStoredDataFetch::Record() const {
    if (!cfg_.Complete() || !res_.Complete() || cfg_.Image().size() != cfgSize_ ||
        res_.Image().size() != resSize_ || cfgSize_ > kMaxStoredRingSize ||
        resSize_ > kMaxStoredRingSize)
        return std::nullopt;
    TDeviceMemoryRecord r;
    r.Identity = identity_;
    r.ResultCfg = cfgNow_;
    r.ResultCfg.Bytes = cfg_.Image();
    r.Result = resNow_;
    r.Result.Bytes = res_.Image();
    return r;
}

}  // namespace kyvo
