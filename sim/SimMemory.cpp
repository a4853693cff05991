#include "sim/SimMemory.h"

#include <algorithm>
#include <cmath>

#include "sim/SimDevice.h"
#include "sim/SimWire.h"

namespace kyvo::sim {

SimMemory::SimMemory(const Scenario& scenario, const ResolvedLayout& layout, std::int64_t deviceNow)
    : sc_(scenario), layout_(layout) {
    build(deviceNow);
}

SimMemory::Region* SimMemory::addRegion(std::uint32_t address, std::size_t size, std::uint8_t fill,
                                        bool writable) {
    regions_.push_back(Region{address, tByteBuffer(size, fill), writable});
    return &regions_.back();
}

void SimMemory::build(std::int64_t deviceNow) {
    regions_.reserve(8);
    configMem_ = addRegion(kConfigMemoryAddress, layout_.configMemorySize, 0, true);
    lcdMem_ = addRegion(kLcdAddress, 256, 0, true);
    record_ = addRegion(kMeasurementAddress, measurementRecordSize(sc_.eepromVersion), 0, false);
    data_ = addRegion(kDataMemoryAddress, kRingMemorySize, 0xFF, true);
    if (sc_.rfid.present) rfid_ = addRegion(kRFIDAddress, sc_.rfid.userDataSize, 0, true);
    eeprom_ = addRegion(kNonVolatileAddress, 256, 0, true);
    ringMem_ =
        layout_.separate ? addRegion(kResultMemoryAddress, kRingMemorySize, 0xFF, true) : data_;

    // Stored configuration list, back to back from the data memory's start.
    std::uint32_t pos = 0;
    for (const auto& c : sc_.configs) {
        if (!c.stored) continue;
        tByteBuffer b = configToBytes(c);
        std::copy(b.begin(), b.end(), data_->bytes.begin() + pos);
        pos += static_cast<std::uint32_t>(b.size());
    }
    configListUsed_ = pos;

    if (const SimTestConfig* a = sc_.findConfig(sc_.activeConfig)) {
        tByteBuffer b = configToBytes(*a);
        std::copy_n(b.begin(), std::min<std::size_t>(b.size(), configMem_->bytes.size()),
                    configMem_->bytes.begin());
    }
    active_ = parseActiveConfig(configMem_->bytes);

    if (rfid_) {
        if (const SimTestConfig* t = sc_.findConfig(sc_.rfid.config)) {
            tByteBuffer b = configToBytes(*t);
            std::copy_n(b.begin(), std::min<std::size_t>(b.size(), rfid_->bytes.size()),
                        rfid_->bytes.begin());
        }
    }

    cfgRing_.offset = layout_.resultCfgOffset;
    cfgRing_.size = layout_.resultCfgSize;
    resRing_.offset = layout_.resultOffset;
    resRing_.size = layout_.resultSize;
    clearRing(cfgRing_, sc_.memory.resultCfgReadOffset);
    clearRing(resRing_, sc_.memory.resultReadOffset);

    writeIdentity();
    for (const auto& m : sc_.measurements) storeScenarioMeasurement(m);
    generateMeasurements(deviceNow);
    writePointers();
}

void SimMemory::writeIdentity() {
    auto& e = eeprom_->bytes;
    tCursor c = 0;
    bufAddByte(e, c, sc_.eepromVersion);
    bufAddDWord(e, c, sc_.serial.kalmiSerial);
    bufAddWord(e, c, sc_.serial.customer);
    bufAddWord(e, c, sc_.serial.project);
    bufAddByte(e, c, sc_.serial.productionDate.ProductionWeek);
    bufAddByte(e, c, sc_.serial.productionDate.ProductionYear);
    bufAddWord(e, c, sc_.serial.subSerial);
    c = sc_.eepromVersion >= 3 ? 49 : 46;
    bufAddWord(e, c, sc_.nominalWhiteValue);
    for (int i = 0; i < 8; ++i) bufAddByte(e, c, 0x80);
    const auto& b = sc_.bits;
    if (sc_.eepromVersion >= 5) {
        std::uint32_t bits0 = b.extraBits_0;
        bits0 |= (b.InstantMeasureAllowed ? 1u << 18 : 0) | (b.TimerMeasureAllowed ? 1u << 19 : 0) |
                 (b.ResultsWithLineData ? 1u << 23 : 0) | (b.ResultsWithImage ? 1u << 24 : 0);
        c = 124;
        bufAddDWord(e, c, bits0);
    }
    std::uint32_t bits = b.extraBits;
    bits |= (b.ClockPresent ? 1u << 3 : 0) | (b.SeparateResultMemory ? 1u << 4 : 0) |
            (b.RFIDConfigSource ? 1u << 5 : 0);
    c = 128;
    bufAddDWord(e, c, bits);
}

// The storage pointers at the addresses of the scenario's EEPROM version.
void SimMemory::writePointers() {
    auto& e = eeprom_->bytes;
    const auto& l = layout_;
    auto ringPtr = [](std::uint16_t start, std::uint32_t off) {
        return static_cast<std::uint16_t>(start + off);
    };
    std::uint16_t abs[6] = {l.configStart,   l.configStop,  l.resultCfgStart,
                            l.resultCfgStop, l.resultStart, l.resultStop};
    std::uint16_t rel[7] = {l.configStart,
                            static_cast<std::uint16_t>(l.configStart + configListUsed_),
                            ringPtr(l.resultCfgStart, cfgRing_.read),
                            ringPtr(l.resultCfgStart, cfgRing_.write),
                            ringPtr(l.resultStart, resRing_.read),
                            ringPtr(l.resultStart, resRing_.write),
                            ringPtr(l.resultStart, resRing_.newest)};
    auto put = [&](tCursor at, const std::uint16_t* v, int n) {
        for (int i = 0; i < n; ++i) bufAddWord(e, at, v[i]);
    };
    const tCursor vol = 128;
    if (sc_.eepromVersion <= 2) {
        put(vol + 34, rel, 6);
        put(vol + 46, abs, 6);
    } else if (sc_.eepromVersion <= 4) {
        put(vol + 28, abs, 6);
        put(vol + 46, rel, 7);
    } else {
        put(vol + 32, abs, 6);
        put(vol + 50, rel, 7);
    }
}

std::uint8_t& SimMemory::ringByte(Ring& r, std::uint32_t i) {
    return ringMem_->bytes[r.offset + (i % r.size)];
}

void SimMemory::clearRing(Ring& r, std::uint32_t readOffset) {
    for (std::uint32_t i = 0; i < r.size; ++i) ringByte(r, i) = 0xFF;
    r.read = r.write = r.newest = readOffset;
    r.entries.clear();
}

void SimMemory::dropOldest(Ring& r) {
    if (r.entries.empty()) return;
    Ring::Entry e = r.entries.front();
    r.entries.pop_front();
    r.read = (r.read + e.size) % r.size;
    if (&r == &cfgRing_) {
        auto it = std::find_if(ringConfigs_.begin(), ringConfigs_.end(),
                               [&](const auto& p) { return p.first == e.id; });
        if (it != ringConfigs_.end()) ringConfigs_.erase(it);
    }
}

// Appends one entry after the newest, dropping the oldest ones while it
// does not fit; one byte always stays free for the end marker.
bool SimMemory::appendToRing(Ring& r, const tByteBuffer& entry, std::uint8_t id) {
    if (entry.size() + 1 > r.size) return false;
    while (r.used() + entry.size() + 1 > r.size && !r.entries.empty()) dropOldest(r);
    r.newest = r.write;
    for (std::size_t i = 0; i < entry.size(); ++i)
        ringByte(r, r.write + static_cast<std::uint32_t>(i)) = entry[i];
    r.write = (r.write + static_cast<std::uint32_t>(entry.size())) % r.size;
    ringByte(r, r.write) = 0xFF;
    r.entries.push_back({static_cast<std::uint32_t>(entry.size()), id});
    return true;
}

std::uint8_t SimMemory::configIDFor(const tByteBuffer& cfgBytes) {
    for (const auto& [id, bytes] : ringConfigs_)
        if (bytes == cfgBytes) return id;
    std::uint8_t id = 0;
    for (int tries = 0; tries < 254; ++tries) {
        std::uint8_t candidate = nextConfigID_;
        nextConfigID_ = nextConfigID_ >= 254 ? 1 : nextConfigID_ + 1;
        if (std::none_of(ringConfigs_.begin(), ringConfigs_.end(),
                         [&](const auto& p) { return p.first == candidate; })) {
            id = candidate;
            break;
        }
    }
    if (id == 0) {
        dropOldest(cfgRing_);
        return configIDFor(cfgBytes);
    }
    tByteBuffer entry = resultConfigEntry(id, cfgBytes, sc_.eepromVersion);
    if (entry.empty() || !appendToRing(cfgRing_, entry, id)) return 0;
    ringConfigs_.emplace_back(id, cfgBytes);
    return id;
}

void SimMemory::storeMeasurement(const Measurement& m, const ActiveConfig& config, bool deleted) {
    std::uint8_t id = configIDFor(config.bytes);
    if (id == 0) return;
    StoredBits bits{sc_.bits.ResultsWithLineData, sc_.bits.ResultsWithImage};
    tByteBuffer entry = resultEntry(deleted ? 0 : id, m, sc_.eepromVersion, bits);
    appendToRing(resRing_, entry, deleted ? 0 : id);
    ++changes_;
    if (!deleted) writeRecord(m, config);
}

void SimMemory::storeAndPublish(const Measurement& m, const ActiveConfig& config) {
    storeMeasurement(m, config, false);
    writePointers();
}

void SimMemory::writeRecord(const Measurement& m, const ActiveConfig& config) {
    tByteBuffer rec = measurementRecord(m, config, sc_.eepromVersion);
    std::copy_n(rec.begin(), std::min(rec.size(), record_->bytes.size()), record_->bytes.begin());
    ++changes_;
}

std::vector<float> SimMemory::generateValues(const ActiveConfig& c, Random& rnd, std::size_t from,
                                             std::vector<float> values) const {
    for (std::size_t i = from; i < c.resultCount; ++i) {
        double lo = c.lower[i], hi = std::min<double>(c.upper[i], lo + 60.0);
        double v = rnd.uniform(lo * 0.8, hi * 1.05);
        values.push_back(static_cast<float>(std::round(v * 1000.0) / 1000.0));
    }
    return values;
}

bool SimMemory::expiredOn(const ActiveConfig& c, const TDateData& date) {
    auto exp = dateToSeconds(c.expiry);
    auto when = dateToSeconds(date);
    return exp && when && *when > *exp + 86399;
}

Measurement SimMemory::makeMeasurement(const ActiveConfig& c, std::vector<float> values,
                                       Random& rnd, std::uint64_t seed) const {
    Measurement m;
    std::size_t given = values.size();
    m.values = generateValues(c, rnd, given, std::move(values));
    m.voltage = static_cast<std::uint16_t>(3500 + rnd.below(600));
    m.temperature = static_cast<float>(std::round(rnd.uniform(18.0, 30.0) * 100.0) / 100.0);
    synthesiseLinesAndImage(m, c, sc_.evaluation.imageWidth, seed);
    return m;
}

void SimMemory::storeScenarioMeasurement(const SimMeasurement& sm) {
    const SimTestConfig* cfg = sc_.findConfig(sm.config);
    if (!cfg) return;
    ActiveConfig c = parseActiveConfig(configToBytes(*cfg));
    if (c.status != ActiveConfig::Status::Good) return;
    Random rnd(sc_.generator.seed * 7919ull + measureCounter_);
    std::vector<float> values = sm.values;
    if (values.size() > c.resultCount) values.resize(c.resultCount);
    Measurement m = makeMeasurement(c, values, rnd, measureCounter_ + 17ull);
    m.date = sm.date;
    m.invalid = sm.invalid;
    m.voltage = sm.voltage;
    m.temperature = sm.temperature;
    m.measureID = sm.measureID ? sm.measureID : ++measureCounter_;
    storeMeasurement(m, c, sm.deleted);
}

void SimMemory::generateMeasurements(std::int64_t deviceNow) {
    const auto& g = sc_.generator;
    if (g.count == 0) return;
    std::vector<const SimTestConfig*> candidates;
    for (const auto& c : sc_.configs)
        if (!c.results.empty()) candidates.push_back(&c);
    if (candidates.empty()) return;
    Random rnd(g.seed);
    std::int64_t today = deviceNow;
    std::int64_t start =
        today - today % 86400 - static_cast<std::int64_t>(g.days) * 86400 + 8 * 3600;
    std::int64_t span = std::max<std::int64_t>(static_cast<std::int64_t>(g.days) * 86400, 3600);
    std::int64_t step = span / g.count;
    for (std::uint32_t i = 0; i < g.count; ++i) {
        const SimTestConfig* cfg =
            candidates[rnd.below(static_cast<std::uint32_t>(candidates.size()))];
        ActiveConfig c = parseActiveConfig(configToBytes(*cfg));
        Measurement m = makeMeasurement(c, {}, rnd, rnd.next());
        std::int64_t t = start + i * step +
                         rnd.below(static_cast<std::uint32_t>(std::max<std::int64_t>(step / 2, 1)));
        m.date = secondsToDate(t);
        std::uint32_t roll = rnd.below(100);
        if (roll < 8)
            m.invalid = 0x01;
        else if (roll < 12)
            m.invalid = 0x80;
        else if (roll < 22)
            m.invalid = 0x40;
        if (expiredOn(c, m.date)) m.invalid |= 0x40;
        m.measureID = ++measureCounter_;
        storeMeasurement(m, c, false);
    }
}

void SimMemory::format(bool withConfigList) {
    clearRing(cfgRing_, 0);
    clearRing(resRing_, 0);
    ringConfigs_.clear();
    if (withConfigList) {
        std::fill_n(data_->bytes.begin(), layout_.configListSize, 0xFF);
        configListUsed_ = 0;
    }
    writePointers();
    ++changes_;
}

SimMemory::Region* SimMemory::regionFor(std::uint32_t address, std::uint32_t count, bool& partly) {
    partly = false;
    for (auto& r : regions_) {
        std::uint64_t end = static_cast<std::uint64_t>(r.address) + r.bytes.size();
        if (address >= r.address && address < end) {
            if (address + static_cast<std::uint64_t>(count) <= end) return &r;
            partly = true;
            return nullptr;
        }
    }
    return nullptr;
}

std::optional<tByteBuffer> SimMemory::read(std::uint32_t address, std::uint32_t count) {
    bool partly = false;
    Region* r = regionFor(address, count, partly);
    if (!r) return std::nullopt;
    auto from = r->bytes.begin() + (address - r->address);
    return tByteBuffer(from, from + count);
}

std::uint8_t SimMemory::write(std::uint32_t address, const std::uint8_t* bytes,
                              std::uint32_t count) {
    bool partly = false;
    Region* r = regionFor(address, count, partly);
    if (!r) return partly ? wire::ceWriteMemoryOverflow : wire::ceWriteInvalidAddress;
    if (!r->writable) return wire::ceWriteInvalidAddress;
    std::copy(bytes, bytes + count, r->bytes.begin() + (address - r->address));
    ++changes_;
    return 0;
}

void SimMemory::applyUpdate(std::uint32_t address) {
    if (address < kConfigMemoryAddress + configMem_->bytes.size())
        active_ = parseActiveConfig(configMem_->bytes);
    if (address >= kLcdAddress && address < kLcdAddress + 256) {
        const auto& b = lcdMem_->bytes;
        lcd_.assign(b.begin(), std::find(b.begin(), b.end(), 0));
    }
}

std::size_t SimMemory::storedResultCount() const {
    return static_cast<std::size_t>(std::count_if(resRing_.entries.begin(), resRing_.entries.end(),
                                                  [](const auto& e) { return e.id != 0; }));
}

void SimMemory::addMeasurements(std::uint32_t count, std::int64_t deviceNow) {
    if (count == 0) return;
    std::vector<ActiveConfig> candidates;
    for (const auto& c : sc_.configs) {
        if (c.results.empty()) continue;
        ActiveConfig a = parseActiveConfig(configToBytes(c));
        if (a.status == ActiveConfig::Status::Good) candidates.push_back(std::move(a));
    }
    if (candidates.empty() && active_.status == ActiveConfig::Status::Good)
        candidates.push_back(active_);
    if (candidates.empty()) return;
    // A measurement a minute up to now, closer together when there are many,
    // so they stay newer than the stored ones of earlier days.
    const std::int64_t spacing = std::clamp<std::int64_t>(4 * 3600 / count, 1, 60);
    for (std::uint32_t i = 0; i < count; ++i) {
        Random rnd(sc_.generator.seed * 15485863ull + measureCounter_);
        const ActiveConfig& c =
            candidates[rnd.below(static_cast<std::uint32_t>(candidates.size()))];
        Measurement m = makeMeasurement(c, {}, rnd, rnd.next());
        m.date = secondsToDate(deviceNow - static_cast<std::int64_t>(count - 1 - i) * spacing);
        std::uint32_t roll = rnd.below(100);
        if (roll < 8)
            m.invalid = 0x01;
        else if (roll < 18)
            m.invalid = 0x40;
        if (expiredOn(c, m.date)) m.invalid |= 0x40;
        m.measureID = ++measureCounter_;
        storeMeasurement(m, c, false);
    }
    writePointers();
}

namespace {

void saveRing(StateWriter& out, std::uint32_t read, std::uint32_t write, std::uint32_t newest) {
    out.u32(read);
    out.u32(write);
    out.u32(newest);
}

}  // namespace

void SimMemory::save(StateWriter& out) const {
    out.u8(static_cast<std::uint8_t>(regions_.size()));
    for (const auto& r : regions_) {
        out.u32(r.address);
        out.bytes(r.bytes);
    }
    for (const Ring* r : {&cfgRing_, &resRing_}) {
        saveRing(out, r->read, r->write, r->newest);
        out.u32(static_cast<std::uint32_t>(r->entries.size()));
        for (const auto& e : r->entries) {
            out.u32(e.size);
            out.u8(e.id);
        }
    }
    out.u16(static_cast<std::uint16_t>(ringConfigs_.size()));
    for (const auto& [id, bytes] : ringConfigs_) {
        out.u8(id);
        out.bytes(bytes);
    }
    out.u8(nextConfigID_);
    out.u32(configListUsed_);
    out.u16(measureCounter_);
}

void SimMemory::restore(StateReader& in) {
    std::vector<Region> regions = regions_;
    std::uint8_t n = in.u8();
    if (n != regions.size())
        throw StateError("it holds the memory of a device with other memory regions");
    for (auto& r : regions) {
        std::uint32_t address = in.u32();
        tByteBuffer bytes = in.bytes();
        if (address != r.address || bytes.size() != r.bytes.size())
            throw StateError("it holds the memory of a device with other memory regions");
        r.bytes = std::move(bytes);
    }
    // The identity is the scenario's: version, serial and configuration bits.
    const std::size_t eepromIndex = static_cast<std::size_t>(eeprom_ - regions_.data());
    const tByteBuffer& mine = regions_[eepromIndex].bytes;
    const tByteBuffer& theirs = regions[eepromIndex].bytes;
    if (!std::equal(mine.begin(), mine.begin() + 13, theirs.begin()) ||
        !std::equal(mine.begin() + 124, mine.begin() + 132, theirs.begin() + 124))
        throw StateError(
            "it holds the memory of another device (its EEPROM version, serial or "
            "configuration bits differ from the scenario's)");

    Ring rings[2] = {cfgRing_, resRing_};
    for (Ring& r : rings) {
        r.read = in.u32();
        r.write = in.u32();
        r.newest = in.u32();
        r.entries.clear();
        std::uint32_t count = in.u32();
        if (count > r.size) throw StateError("its ring bookkeeping is damaged");
        std::uint64_t total = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t size = in.u32();
            std::uint8_t id = in.u8();
            total += size;
            r.entries.push_back({size, id});
        }
        if (r.read >= r.size || r.write >= r.size || r.newest >= r.size || total != r.used())
            throw StateError("its ring bookkeeping is damaged");
    }
    std::vector<std::pair<std::uint8_t, tByteBuffer>> configs(in.u16());
    for (auto& [id, bytes] : configs) {
        id = in.u8();
        bytes = in.bytes();
    }
    std::uint8_t nextID = in.u8();
    std::uint32_t listUsed = in.u32();
    std::uint16_t counter = in.u16();
    if (nextID == 0 || nextID > 254 || listUsed > layout_.configListSize)
        throw StateError("its ring bookkeeping is damaged");

    for (std::size_t i = 0; i < regions.size(); ++i)
        regions_[i].bytes = std::move(regions[i].bytes);
    cfgRing_ = std::move(rings[0]);
    resRing_ = std::move(rings[1]);
    ringConfigs_ = std::move(configs);
    nextConfigID_ = nextID;
    configListUsed_ = listUsed;
    measureCounter_ = counter;
    active_ = parseActiveConfig(configMem_->bytes);
    const auto& b = lcdMem_->bytes;
    lcd_.assign(b.begin(), std::find(b.begin(), b.end(), 0));
    ++changes_;
}

}  // namespace kyvo::sim
