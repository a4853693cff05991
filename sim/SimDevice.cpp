#include "sim/SimDevice.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <stdexcept>

#include "sim/Records.h"

namespace kyvo::sim {

namespace {

// Frame codes, device side.
enum : std::uint8_t {
    cAck = 0x55,
    cGetAck = 0xAA,
    cGetFirmware = 0xA2,
    cFirmware = 0xA3,
    cGetSerial = 0xA4,
    cSerial = 0xA5,
    cReadData = 0x52,
    cData = 0x53,
    cWriteData = 0x50,
    cWriteSuccess = 0x51,
    cImage = 0x43,
    cImageStart = 0x40,
    cImageData = 0x42,
    cSetDateTime = 0x58,
    cGetDateTime = 0x5A,
    cDateTime = 0x59,
    cButtonControl = 0xC0,
    cEvaluate = 0x5E,
    cFormatDB = 0x5F,
    cCapture = 0x5C,
    cGetRFIDState = 0x56,
    cRFIDStatus = 0x57,
    cReset = 0xAF,
    cBootloader = 0xA1,
    cShowTimer = 0x30,
    cWhiteCard = 0x31,
    cTestCard = 0x32,
    cEvaluationRun = 0x33,
    cCommError = 0x45,
    cDeviceError = 0x47,
    cBusy = 0x49,
};

// Communication error codes the device answers with.
enum : std::uint8_t {
    ceCrc = 0x01,
    ceUnknownCommand = 0x02,
    ceBufferOverflow = 0x04,
    ceCommandError = 0x06,
    ceNoImageData = 0x30,
    ceInvalidFlags = 0x31,
    ceWriteInvalidAddress = 0x41,
    ceReadInvalidLocation = 0x42,
    ceReadNoData = 0x43,
    ceWriteMemoryOverflow = 0x44,
};

constexpr std::uint32_t kMaxReplyData = 16384 - 3 - 7;  // the program's receive limit
constexpr std::uint32_t kMaxWriteData = 16380 - 7;
constexpr std::uint64_t kInterByteTimeoutMs = 500;
constexpr std::uint32_t kLongWaitMs = 4000;

// Payload length after the code for the fixed-size commands; the write
// command adds its data count to its 7 header bytes.
std::optional<std::size_t> payloadLength(std::uint8_t code) {
    switch (code) {
        case cGetAck:
        case cGetFirmware:
        case cGetSerial:
        case cGetDateTime:
        case cGetRFIDState:
        case cReset:
        case cBootloader:
            return 0;
        case cReadData:
        case cWriteData:
            return 7;
        case cImage:
            return 5;
        case cSetDateTime:
            return 6;
        case cButtonControl:
        case cEvaluate:
        case cFormatDB:
            return 1;
        case cCapture:
            return 4;
        default:
            return std::nullopt;
    }
}

bool firesOnReceive(FaultKind k) {
    return k == FaultKind::Silence || k == FaultKind::CommError || k == FaultKind::DeviceError ||
           k == FaultKind::Busy;
}

struct Region {
    std::uint32_t address = 0;
    tByteBuffer bytes;
    bool writable = true;
};

// One ring of stored entries inside the ring memory.
struct Ring {
    std::uint32_t offset = 0;  // within the region
    std::uint32_t size = 0;
    std::uint32_t read = 0, write = 0;  // offsets from the ring's start
    std::uint32_t newest = 0;
    struct Entry {
        std::uint32_t size;
        std::uint8_t id;
    };
    std::deque<Entry> entries;
    std::uint32_t used() const { return (write + size - read) % size; }
};

}  // namespace

struct SimDevice::Impl {
    Scenario sc;
    ResolvedLayout layout;
    std::int64_t hostAt0 = kDefaultHostTime;  // host seconds at device time 0
    std::uint64_t now = 0;

    std::vector<Region> regions;  // config, lcd, record, data, rfid, eeprom, result
    Region* configMem = nullptr;
    Region* record = nullptr;
    Region* data = nullptr;
    Region* rfid = nullptr;
    Region* eeprom = nullptr;
    Region* ringMem = nullptr;
    Ring cfgRing, resRing;
    std::vector<std::pair<std::uint8_t, tByteBuffer>> ringConfigs;  // id -> configuration
    std::uint8_t nextConfigID = 1;
    std::uint32_t configListUsed = 0;

    ActiveConfig active;
    std::optional<std::int64_t> clockOffset;
    bool buttonDisabled = false;
    bool shutdown = false;
    bool closed = false;
    std::string lcd;
    std::uint32_t rfidFailuresLeft = 0;
    std::uint16_t measureCounter = 0;
    std::uint32_t evaluationCount = 0;

    EvaluationPhase phase = EvaluationPhase::Idle;
    std::uint64_t evalGen = 0;
    bool timerRun = false;
    std::optional<Measurement> last;  // for the image transfer
    std::uint32_t imagePos = 0;

    // Receive side.
    bool inFrame = false;
    bool pendingFE = false;
    tByteBuffer frame;
    std::uint64_t lastByteAt = 0;
    std::string text;  // unframed bytes, for "shutdown\r"

    // Faults.
    std::vector<std::uint32_t> faultCount;
    bool silentForever = false;
    std::uint64_t silentUntil = 0;
    std::uint64_t busyUntil = 0;

    std::size_t received = 0, sent = 0;
    tByteBuffer out;
    std::function<void(const std::uint8_t*, std::size_t)> handler;

    struct Event {
        std::function<void()> run;
    };
    std::multimap<std::uint64_t, Event> events;

    explicit Impl(const Scenario& s, std::int64_t host) : sc(s), hostAt0(host) {
        std::string error;
        auto l = resolveLayout(sc, error);
        layout = l ? *l : ResolvedLayout{};
        clockOffset = sc.clockOffsetSeconds;
        rfidFailuresLeft = sc.rfid.failures;
        faultCount.assign(sc.faults.size(), 0);
        buildMemory();
        for (std::size_t i = 0; i < sc.faults.size(); ++i) {
            const SimFault& f = sc.faults[i];
            if (!f.atMs) continue;
            if (f.kind == FaultKind::Silence)
                at(*f.atMs, [this, f] { startSilence(f.durationMs); });
            else if (f.kind == FaultKind::Busy)
                at(*f.atMs, [this, f] { startBusy(f.durationMs, 0); });
        }
    }

    // ---- time -------------------------------------------------------------

    void at(std::uint64_t when, std::function<void()> run) {
        events.emplace(when, Event{std::move(run)});
    }
    void after(std::uint64_t ms, std::function<void()> run) { at(now + ms, std::move(run)); }
    void afterInEvaluation(std::uint64_t ms, std::function<void()> run) {
        std::uint64_t gen = evalGen;
        after(ms, [this, gen, run = std::move(run)] {
            if (gen == evalGen) run();
        });
    }

    void advance(std::uint64_t ms) {
        std::uint64_t target = now + ms;
        while (!events.empty() && events.begin()->first <= target) {
            auto it = events.begin();
            now = std::max(now, it->first);
            Event e = std::move(it->second);
            events.erase(it);
            if (!shutdown && !closed) e.run();
        }
        now = target;
        if (inFrame && now - lastByteAt > kInterByteTimeoutMs) inFrame = false;
    }

    std::int64_t hostNow() const { return hostAt0 + static_cast<std::int64_t>(now / 1000); }

    std::optional<TDateData> deviceClock() const {
        if (!clockOffset) return std::nullopt;
        return secondsToDate(hostNow() + *clockOffset);
    }

    // ---- memory -----------------------------------------------------------

    Region* addRegion(std::uint32_t address, std::size_t size, std::uint8_t fill, bool writable) {
        regions.push_back(Region{address, tByteBuffer(size, fill), writable});
        return &regions.back();
    }

    void buildMemory() {
        regions.reserve(8);
        configMem = addRegion(kConfigMemoryAddress, layout.configMemorySize, 0, true);
        addRegion(kLcdAddress, 256, 0, true);
        record = addRegion(kMeasurementAddress, measurementRecordSize(sc.eepromVersion), 0, false);
        data = addRegion(kDataMemoryAddress, kRingMemorySize, 0xFF, true);
        if (sc.rfid.present) rfid = addRegion(kRFIDAddress, sc.rfid.userDataSize, 0, true);
        eeprom = addRegion(kNonVolatileAddress, 256, 0, true);
        ringMem =
            layout.separate ? addRegion(kResultMemoryAddress, kRingMemorySize, 0xFF, true) : data;

        // Stored configuration list, back to back from the data memory's start.
        std::uint32_t pos = 0;
        for (const auto& c : sc.configs) {
            if (!c.stored) continue;
            tByteBuffer b = configToBytes(c);
            std::copy(b.begin(), b.end(), data->bytes.begin() + pos);
            pos += static_cast<std::uint32_t>(b.size());
        }
        configListUsed = pos;

        if (const SimTestConfig* a = sc.findConfig(sc.activeConfig)) {
            tByteBuffer b = configToBytes(*a);
            std::copy_n(b.begin(), std::min<std::size_t>(b.size(), configMem->bytes.size()),
                        configMem->bytes.begin());
        }
        active = parseActiveConfig(configMem->bytes);

        if (rfid) {
            if (const SimTestConfig* t = sc.findConfig(sc.rfid.config)) {
                tByteBuffer b = configToBytes(*t);
                std::copy_n(b.begin(), std::min<std::size_t>(b.size(), rfid->bytes.size()),
                            rfid->bytes.begin());
            }
        }

        cfgRing.offset = layout.resultCfgOffset;
        cfgRing.size = layout.resultCfgSize;
        resRing.offset = layout.resultOffset;
        resRing.size = layout.resultSize;
        clearRing(cfgRing, sc.memory.resultCfgReadOffset);
        clearRing(resRing, sc.memory.resultReadOffset);

        writeIdentity();
        for (const auto& m : sc.measurements) storeScenarioMeasurement(m);
        generateMeasurements();
        writePointers();
    }

    void writeIdentity() {
        auto& e = eeprom->bytes;
        tCursor c = 0;
        bufAddByte(e, c, sc.eepromVersion);
        bufAddDWord(e, c, sc.serial.kalmiSerial);
        bufAddWord(e, c, sc.serial.customer);
        bufAddWord(e, c, sc.serial.project);
        bufAddByte(e, c, sc.serial.productionDate.ProductionWeek);
        bufAddByte(e, c, sc.serial.productionDate.ProductionYear);
        bufAddWord(e, c, sc.serial.subSerial);
        c = sc.eepromVersion >= 3 ? 49 : 46;
        bufAddWord(e, c, sc.nominalWhiteValue);
        for (int i = 0; i < 8; ++i) bufAddByte(e, c, 0x80);
        const auto& b = sc.bits;
        if (sc.eepromVersion >= 5) {
            std::uint32_t bits0 = b.extraBits_0;
            bits0 |= (b.InstantMeasureAllowed ? 1u << 18 : 0) |
                     (b.TimerMeasureAllowed ? 1u << 19 : 0) |
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
    void writePointers() {
        auto& e = eeprom->bytes;
        const auto& l = layout;
        auto ringPtr = [](std::uint16_t start, std::uint32_t off) {
            return static_cast<std::uint16_t>(start + off);
        };
        std::uint16_t abs[6] = {l.configStart,   l.configStop,  l.resultCfgStart,
                                l.resultCfgStop, l.resultStart, l.resultStop};
        std::uint16_t rel[7] = {l.configStart,
                                static_cast<std::uint16_t>(l.configStart + configListUsed),
                                ringPtr(l.resultCfgStart, cfgRing.read),
                                ringPtr(l.resultCfgStart, cfgRing.write),
                                ringPtr(l.resultStart, resRing.read),
                                ringPtr(l.resultStart, resRing.write),
                                ringPtr(l.resultStart, resRing.newest)};
        auto put = [&](tCursor at, const std::uint16_t* v, int n) {
            for (int i = 0; i < n; ++i) bufAddWord(e, at, v[i]);
        };
        const tCursor vol = 128;
        if (sc.eepromVersion <= 2) {
            put(vol + 34, rel, 6);
            put(vol + 46, abs, 6);
        } else if (sc.eepromVersion <= 4) {
            put(vol + 28, abs, 6);
            put(vol + 46, rel, 7);
        } else {
            put(vol + 32, abs, 6);
            put(vol + 50, rel, 7);
        }
    }

    std::uint8_t& ringByte(Ring& r, std::uint32_t i) {
        return ringMem->bytes[r.offset + (i % r.size)];
    }

    void clearRing(Ring& r, std::uint32_t readOffset) {
        for (std::uint32_t i = 0; i < r.size; ++i) ringByte(r, i) = 0xFF;
        r.read = r.write = r.newest = readOffset;
        r.entries.clear();
    }

    void dropOldest(Ring& r) {
        if (r.entries.empty()) return;
        Ring::Entry e = r.entries.front();
        r.entries.pop_front();
        r.read = (r.read + e.size) % r.size;
        if (&r == &cfgRing) {
            auto it = std::find_if(ringConfigs.begin(), ringConfigs.end(),
                                   [&](const auto& p) { return p.first == e.id; });
            if (it != ringConfigs.end()) ringConfigs.erase(it);
        }
    }

    // Appends one entry after the newest, dropping the oldest ones while it
    // does not fit; one byte always stays free for the end marker.
    bool appendToRing(Ring& r, const tByteBuffer& entry, std::uint8_t id) {
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

    std::uint8_t configIDFor(const tByteBuffer& cfgBytes) {
        for (const auto& [id, bytes] : ringConfigs)
            if (bytes == cfgBytes) return id;
        std::uint8_t id = 0;
        for (int tries = 0; tries < 254; ++tries) {
            std::uint8_t candidate = nextConfigID;
            nextConfigID = nextConfigID >= 254 ? 1 : nextConfigID + 1;
            if (std::none_of(ringConfigs.begin(), ringConfigs.end(),
                             [&](const auto& p) { return p.first == candidate; })) {
                id = candidate;
                break;
            }
        }
        if (id == 0) {
            dropOldest(cfgRing);
            return configIDFor(cfgBytes);
        }
        tByteBuffer entry = resultConfigEntry(id, cfgBytes, sc.eepromVersion);
        if (entry.empty() || !appendToRing(cfgRing, entry, id)) return 0;
        ringConfigs.emplace_back(id, cfgBytes);
        return id;
    }

    void storeMeasurement(const Measurement& m, const ActiveConfig& config, bool deleted) {
        std::uint8_t id = configIDFor(config.bytes);
        if (id == 0) return;
        StoredBits bits{sc.bits.ResultsWithLineData, sc.bits.ResultsWithImage};
        tByteBuffer entry = resultEntry(deleted ? 0 : id, m, sc.eepromVersion, bits);
        appendToRing(resRing, entry, deleted ? 0 : id);
        if (!deleted) writeRecord(m, config);
    }

    // The device keeps its latest measurement at 0x20000.
    void writeRecord(const Measurement& m, const ActiveConfig& config) {
        tByteBuffer rec = measurementRecord(m, config, sc.eepromVersion);
        std::copy_n(rec.begin(), std::min(rec.size(), record->bytes.size()), record->bytes.begin());
    }

    std::vector<float> generateValues(const ActiveConfig& c, Random& rnd, std::size_t from,
                                      std::vector<float> values) {
        for (std::size_t i = from; i < c.resultCount; ++i) {
            double lo = c.lower[i], hi = std::min<double>(c.upper[i], lo + 60.0);
            double v = rnd.uniform(lo * 0.8, hi * 1.05);
            values.push_back(static_cast<float>(std::round(v * 1000.0) / 1000.0));
        }
        return values;
    }

    bool expiredOn(const ActiveConfig& c, const TDateData& date) const {
        auto exp = dateToSeconds(c.expiry);
        auto when = dateToSeconds(date);
        return exp && when && *when > *exp + 86399;
    }

    Measurement makeMeasurement(const ActiveConfig& c, std::vector<float> values, Random& rnd,
                                std::uint64_t seed) {
        Measurement m;
        std::size_t given = values.size();
        m.values = generateValues(c, rnd, given, std::move(values));
        m.voltage = static_cast<std::uint16_t>(3500 + rnd.below(600));
        m.temperature = static_cast<float>(std::round(rnd.uniform(18.0, 30.0) * 100.0) / 100.0);
        synthesiseLinesAndImage(m, c, sc.evaluation.imageWidth, seed);
        return m;
    }

    void storeScenarioMeasurement(const SimMeasurement& sm) {
        const SimTestConfig* cfg = sc.findConfig(sm.config);
        if (!cfg) return;
        ActiveConfig c = parseActiveConfig(configToBytes(*cfg));
        if (c.status != ActiveConfig::Status::Good) return;
        Random rnd(sc.generator.seed * 7919ull + measureCounter);
        std::vector<float> values = sm.values;
        if (values.size() > c.resultCount) values.resize(c.resultCount);
        Measurement m = makeMeasurement(c, values, rnd, measureCounter + 17ull);
        m.date = sm.date;
        m.invalid = sm.invalid;
        m.voltage = sm.voltage;
        m.temperature = sm.temperature;
        m.measureID = sm.measureID ? sm.measureID : ++measureCounter;
        storeMeasurement(m, c, sm.deleted);
    }

    void generateMeasurements() {
        const auto& g = sc.generator;
        if (g.count == 0) return;
        std::vector<const SimTestConfig*> candidates;
        for (const auto& c : sc.configs)
            if (!c.results.empty()) candidates.push_back(&c);
        if (candidates.empty()) return;
        Random rnd(g.seed);
        std::int64_t today = hostNow() + clockOffset.value_or(0);
        std::int64_t start =
            today - today % 86400 - static_cast<std::int64_t>(g.days) * 86400 + 8 * 3600;
        std::int64_t span = std::max<std::int64_t>(static_cast<std::int64_t>(g.days) * 86400, 3600);
        std::int64_t step = span / g.count;
        for (std::uint32_t i = 0; i < g.count; ++i) {
            const SimTestConfig* cfg =
                candidates[rnd.below(static_cast<std::uint32_t>(candidates.size()))];
            ActiveConfig c = parseActiveConfig(configToBytes(*cfg));
            Measurement m = makeMeasurement(c, {}, rnd, rnd.next());
            std::int64_t t =
                start + i * step +
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
            m.measureID = ++measureCounter;
            storeMeasurement(m, c, false);
        }
    }

    Region* regionFor(std::uint32_t address, std::uint32_t count, bool& partly) {
        partly = false;
        for (auto& r : regions) {
            std::uint64_t end = static_cast<std::uint64_t>(r.address) + r.bytes.size();
            if (address >= r.address && address < end) {
                if (address + static_cast<std::uint64_t>(count) <= end) return &r;
                partly = true;
                return nullptr;
            }
        }
        return nullptr;
    }

    std::optional<tByteBuffer> read(std::uint32_t address, std::uint32_t count) {
        bool partly = false;
        Region* r = regionFor(address, count, partly);
        if (!r) return std::nullopt;
        auto from = r->bytes.begin() + (address - r->address);
        return tByteBuffer(from, from + count);
    }

    // 0 on success, else the communication error code.
    std::uint8_t write(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t count) {
        bool partly = false;
        Region* r = regionFor(address, count, partly);
        if (!r) return partly ? ceWriteMemoryOverflow : ceWriteInvalidAddress;
        if (!r->writable) return ceWriteInvalidAddress;
        std::copy(bytes, bytes + count, r->bytes.begin() + (address - r->address));
        return 0;
    }

    // ---- sending ----------------------------------------------------------

    void emit(const std::uint8_t* p, std::size_t n) {
        if (n == 0) return;
        if (handler)
            handler(p, n);
        else
            out.insert(out.end(), p, p + n);
    }

    bool faultMatches(std::size_t i, std::uint8_t code) {
        const SimFault& f = sc.faults[i];
        if (f.command && *f.command != code) return false;
        std::uint32_t n = ++faultCount[i];
        return n >= f.nth && (f.times == 0 || n < f.nth + f.times);
    }

    void send(std::uint8_t code, tByteBuffer payload, std::uint8_t cause) {
        if (shutdown || closed) return;
        ++sent;
        bool badChecksum = false;
        std::optional<std::uint32_t> closeAfter;
        for (std::size_t i = 0; i < sc.faults.size(); ++i) {
            const SimFault& f = sc.faults[i];
            if (firesOnReceive(f.kind) || f.atMs) continue;
            bool dataFrame =
                code == cData || (f.kind == FaultKind::EscapedFe && code == cImageData);
            if ((f.kind == FaultKind::ShortReply || f.kind == FaultKind::EscapedFe) && !dataFrame)
                continue;
            if (!faultMatches(i, cause)) continue;
            switch (f.kind) {
                case FaultKind::BadChecksum:
                    badChecksum = true;
                    break;
                case FaultKind::ShortReply: {
                    std::uint32_t keep = std::min<std::uint32_t>(
                        f.bytes, static_cast<std::uint32_t>(payload.size() - 7));
                    payload.resize(7 + keep);
                    tCursor c = 5;
                    bufAddWord(payload, c, static_cast<std::uint16_t>(keep));
                    break;
                }
                case FaultKind::EscapedFe:
                    // Every byte but the code, the colour mode and the length.
                    std::fill(payload.begin() + (code == cData ? 0 : 1), payload.begin() + 5, 0xFE);
                    std::fill(payload.begin() + 7, payload.end(), 0xFE);
                    break;
                case FaultKind::CloseLine:
                    closeAfter = f.bytes;
                    break;
                default:
                    break;
            }
        }
        tByteBuffer wire;
        wire.reserve(payload.size() * 2 + 8);
        wire.push_back(0xFE);
        std::uint8_t crc = 0;
        auto put = [&](std::uint8_t b) {
            wire.push_back(b);
            if (b == 0xFE) wire.push_back(0xFE);
        };
        put(0x20);
        crc ^= 0x20;
        put(code);
        crc ^= code;
        for (std::uint8_t b : payload) {
            put(b);
            crc ^= b;
        }
        put(badChecksum ? static_cast<std::uint8_t>(crc ^ 0x5A) : crc);
        if (closeAfter) {
            emit(wire.data(), std::min<std::size_t>(*closeAfter, wire.size()));
            closed = true;
            return;
        }
        emit(wire.data(), wire.size());
    }

    void sendEmpty(std::uint8_t code, std::uint8_t cause) { send(code, {}, cause); }
    void sendCommError(std::uint8_t err, std::uint8_t cause) { send(cCommError, {err}, cause); }
    void sendDeviceError(std::uint8_t err, std::uint8_t info, std::uint8_t cause) {
        send(cDeviceError, {err, info}, cause);
    }
    void sendBusy(std::uint32_t ms, std::uint8_t cause) {
        tByteBuffer p;
        tCursor c = 0;
        bufAddDWord(p, c, ms);
        send(cBusy, p, cause);
    }

    // ---- receiving --------------------------------------------------------

    void receiveByte(std::uint8_t b) {
        if (inFrame && now - lastByteAt > kInterByteTimeoutMs) inFrame = false;
        lastByteAt = now;
        if (pendingFE) {
            pendingFE = false;
            if (b == 0xFE) {
                if (inFrame) storeByte(b);
                return;
            }
            inFrame = true;
            frame.clear();
            storeByte(b);
            return;
        }
        if (b == 0xFE) {
            pendingFE = true;
            return;
        }
        if (inFrame) {
            storeByte(b);
            return;
        }
        text.push_back(static_cast<char>(b));
        if (text.size() > 9) text.erase(0, text.size() - 9);
        if (text == "shutdown\r") {
            shutdown = true;
            events.clear();
        }
    }

    void storeByte(std::uint8_t b) {
        frame.push_back(b);
        if (frame.size() == 1 && frame[0] != 0x20) {
            inFrame = false;
            return;
        }
        if (frame.size() < 2) return;
        std::uint8_t code = frame[1];
        auto n = payloadLength(code);
        if (!n) {
            inFrame = false;
            ++received;
            if (acceptFrame(code)) sendCommError(ceUnknownCommand, code);
            return;
        }
        std::size_t need = 2 + *n + 1;
        if (code == cWriteData && frame.size() >= 2 + 7) {
            std::uint32_t count = frame[7] | (frame[8] << 8);
            if (count > kMaxWriteData) {
                inFrame = false;
                ++received;
                if (acceptFrame(code)) sendCommError(ceBufferOverflow, code);
                return;
            }
            need += count;
        }
        if (frame.size() < need) return;
        inFrame = false;
        ++received;
        std::uint8_t crc = 0;
        for (std::uint8_t v : frame) crc ^= v;
        if (!acceptFrame(code)) return;
        if (crc != 0) {
            sendCommError(ceCrc, code);
            return;
        }
        dispatch(code, tByteBuffer(frame.begin() + 2, frame.end() - 1));
    }

    void startSilence(std::uint32_t ms) {
        if (ms == 0)
            silentForever = true;
        else
            silentUntil = std::max(silentUntil, now + ms);
    }

    void startBusy(std::uint32_t ms, std::uint8_t cause) {
        sendBusy(ms, cause);
        busyUntil = now + ms;
        at(busyUntil, [this, cause] { sendEmpty(cAck, cause); });
    }

    // Applies silence, busy periods and the faults that replace an answer;
    // false when the frame gets no normal answer.
    bool acceptFrame(std::uint8_t code) {
        if (silentForever || now < silentUntil || now < busyUntil) return false;
        for (std::size_t i = 0; i < sc.faults.size(); ++i) {
            const SimFault& f = sc.faults[i];
            if (!firesOnReceive(f.kind) || f.atMs) continue;
            if (!faultMatches(i, code)) continue;
            switch (f.kind) {
                case FaultKind::Silence:
                    startSilence(f.durationMs);
                    return false;
                case FaultKind::Busy:
                    startBusy(f.durationMs, code);
                    return false;
                case FaultKind::CommError:
                    sendCommError(f.code, code);
                    return false;
                case FaultKind::DeviceError:
                    sendDeviceError(f.code, f.info, code);
                    return false;
                default:
                    break;
            }
        }
        return true;
    }

    // ---- commands ---------------------------------------------------------

    void dispatch(std::uint8_t code, const tByteBuffer& p) {
        tCursor c = 0;
        switch (code) {
            case cGetAck:
                sendEmpty(cAck, code);
                break;
            case cGetFirmware: {
                const auto& f = sc.firmware;
                tByteBuffer r;
                tCursor o = 0;
                bufAddByte(r, o, f.main);
                bufAddByte(r, o, f.sub);
                bufAddWord(r, o, f.revision);
                bufAddByte(r, o, static_cast<std::uint8_t>(f.variant));
                bufAddByte(r, o, f.branch);
                bufAddWord(r, o, f.branchRevision);
                bufAddByte(r, o, static_cast<std::uint8_t>(f.suffix));
                send(cFirmware, r, code);
                break;
            }
            case cGetSerial: {
                const auto& s = sc.serial;
                tByteBuffer r;
                tCursor o = 0;
                bufAddDWord(r, o, s.kalmiSerial);
                bufAddWord(r, o, s.customer);
                bufAddWord(r, o, s.project);
                bufAddWord(r, o, s.productionDate.ProductionDate);
                bufAddWord(r, o, s.subSerial);
                send(cSerial, r, code);
                break;
            }
            case cReadData: {
                std::uint8_t flags = bufReadByte(p, c);
                std::uint32_t address = bufReadDWord(p, c);
                std::uint16_t count = bufReadWord(p, c);
                // A length of 0 in the reply would mean 65536 bytes.
                if (count == 0) return sendCommError(ceReadNoData, code);
                if (count > kMaxReplyData) return sendCommError(ceBufferOverflow, code);
                auto bytes = read(address, count);
                if (!bytes) return sendCommError(ceReadInvalidLocation, code);
                tByteBuffer r;
                tCursor o = 0;
                bufAddByte(r, o, flags);
                bufAddDWord(r, o, address);
                bufAddWord(r, o, count);
                r.insert(r.end(), bytes->begin(), bytes->end());
                send(cData, r, code);
                break;
            }
            case cWriteData:
                writeData(p);
                break;
            case cImage:
                image(p);
                break;
            case cSetDateTime: {
                TDateData d;
                for (auto& v : d.Data) v = bufReadByte(p, c);
                if (auto s = dateToSeconds(d))
                    clockOffset = *s - hostNow();
                else
                    clockOffset.reset();
                break;
            }
            case cGetDateTime: {
                TDateData d;  // all zero: no valid date
                if (auto clock = deviceClock(); clock && sc.bits.ClockPresent) d = *clock;
                send(cDateTime, tByteBuffer(d.Data.begin(), d.Data.end()), code);
                break;
            }
            case cButtonControl:
                buttonDisabled = (p[0] & 0x80) != 0;
                sendEmpty(cAck, code);
                break;
            case cEvaluate:
                evaluate(p[0]);
                break;
            case cFormatDB:
                formatDB(p[0]);
                break;
            case cCapture:
                if (busyEvaluating()) return sendCommError(ceCommandError, code);
                after(300, [this] { sendEmpty(cAck, cCapture); });
                break;
            case cGetRFIDState:
                sendRFIDStatus(sc.rfid.present ? 0 : 0x38, code);
                break;
            case cReset:
                cancelEvaluation();
                break;
            case cBootloader:
                // The device would leave for its boot loader; there is none to play.
                break;
            default:
                break;
        }
    }

    void writeData(const tByteBuffer& p) {
        tCursor c = 0;
        std::uint8_t flags = bufReadByte(p, c);
        std::uint32_t address = bufReadDWord(p, c);
        std::uint16_t count = bufReadWord(p, c);
        bool inRFID = address >= kRFIDAddress && address < kRFIDAddress + 0x10000;
        if (inRFID && !rfid) return sendDeviceError(0x70, 0, cWriteData);
        if (std::uint8_t err = write(address, p.data() + 7, count))
            return sendCommError(err, cWriteData);
        if (flags & 0x01) {
            if (address < kConfigMemoryAddress + configMem->bytes.size())
                active = parseActiveConfig(configMem->bytes);
            if (address >= kLcdAddress && address < kLcdAddress + 256) {
                const auto& b = regions[1].bytes;
                lcd.assign(b.begin(), std::find(b.begin(), b.end(), 0));
            }
        }
        tByteBuffer r;
        tCursor o = 0;
        bufAddByte(r, o, flags);
        bufAddDWord(r, o, address);
        bufAddWord(r, o, count);
        send(cWriteSuccess, r, cWriteData);
    }

    void image(const tByteBuffer& p) {
        tCursor c = 0;
        std::uint8_t mode = bufReadByte(p, c);
        if (mode >= 2 && mode <= 5) {
            if (!last || last->image.empty()) return sendCommError(ceNoImageData, cImage);
            imagePos = 0;
            tByteBuffer r;
            tCursor o = 0;
            bufAddWord(r, o, static_cast<std::uint16_t>(last->image.size()));
            bufAddWord(r, o, 1);
            send(cImageStart, r, cImage);
            return;
        }
        if (mode == 1) {
            imagePos = 0;
            return;
        }
        if (mode != 0) return sendCommError(ceInvalidFlags, cImage);
        if (!last) return sendCommError(ceNoImageData, cImage);
        std::uint32_t total = static_cast<std::uint32_t>(last->image.size()) * 2;
        if (imagePos >= total) return sendCommError(ceNoImageData, cImage);
        std::uint32_t chunk =
            std::min<std::uint32_t>({static_cast<std::uint32_t>(sc.evaluation.imageChunk & ~1u),
                                     total - imagePos, kMaxReplyData & ~1u});
        tByteBuffer r;
        tCursor o = 0;
        bufAddByte(r, o, 2);  // 16-bit gray
        bufAddWord(r, o, static_cast<std::uint16_t>(imagePos / 2));
        bufAddWord(r, o, 0);
        bufAddWord(r, o, static_cast<std::uint16_t>(chunk));
        for (std::uint32_t i = imagePos / 2; i < (imagePos + chunk) / 2; ++i)
            bufAddWord(r, o, last->image[i]);
        imagePos += chunk;
        send(cImageData, r, cImage);
    }

    // ---- evaluation -------------------------------------------------------

    bool busyEvaluating() const {
        return phase != EvaluationPhase::Idle && phase != EvaluationPhase::WaitRFIDConfig;
    }

    void cancelEvaluation() {
        ++evalGen;
        phase = EvaluationPhase::Idle;
    }

    void sendRFIDStatus(std::uint8_t error, std::uint8_t cause) {
        tByteBuffer r;
        tCursor o = 0;
        bufAddByte(r, o, error);
        bufAddByte(r, o, error ? 0 : sc.rfid.tagType);
        bufAddWord(r, o, error ? 0 : sc.rfid.userDataSize);
        static const std::uint8_t uid[8] = {0xE0, 0x04, 0x01, 0x50, 0x12, 0x34, 0x56, 0x78};
        bufAddByte(r, o, error ? 0 : 8);
        if (!error)
            for (std::uint8_t v : uid) bufAddByte(r, o, v);
        send(cRFIDStatus, r, cause);
    }

    void evaluate(std::uint8_t flags) {
        if (flags & 0x04) {
            bool wasRunning = busyEvaluating();
            cancelEvaluation();
            if (wasRunning)
                sendDeviceError(0x1D, 0, cEvaluate);
            else
                sendEmpty(cAck, cEvaluate);
            return;
        }
        if (busyEvaluating()) return sendCommError(ceCommandError, cEvaluate);
        cancelEvaluation();
        if (flags & 0x01) {
            afterInEvaluation(300, [this] {
                if (!rfid) return sendRFIDStatus(0x38, cEvaluate);
                if (rfidFailuresLeft > 0) {
                    --rfidFailuresLeft;
                    return sendRFIDStatus(sc.rfid.failureCode, cEvaluate);
                }
                phase = EvaluationPhase::WaitRFIDConfig;
                sendRFIDStatus(0, cEvaluate);
            });
            return;
        }
        if (active.status != ActiveConfig::Status::Good) {
            std::uint8_t err = active.status == ActiveConfig::Status::WrongVersion ? 0x1C : 0x1A;
            afterInEvaluation(200, [this, err] { sendDeviceError(err, 0, cEvaluate); });
            return;
        }
        timerRun = (flags & 0x02) != 0;
        std::uint16_t seconds = timerRun ? active.timerSeconds : 0;
        if (seconds > 0) {
            phase = EvaluationPhase::Countdown;
            countdown(seconds, seconds);
        } else {
            afterCountdown();
        }
    }

    void countdown(std::uint16_t left, std::uint16_t total) {
        if (left == 0) return afterCountdown();
        tByteBuffer r;
        tCursor o = 0;
        bufAddWord(r, o, left);
        send(cShowTimer, r, cEvaluate);
        // Keeps the program waiting through a long countdown.
        if (left * 1000u > kLongWaitMs && (total - left) % 4 == 0)
            sendBusy(left * 1000u, cEvaluate);
        afterInEvaluation(1000, [this, left, total] { countdown(left - 1, total); });
    }

    void afterCountdown() {
        if (sc.evaluation.whiteCard)
            prompt(cWhiteCard, EvaluationPhase::WaitWhiteCard);
        else
            prompt(cTestCard, EvaluationPhase::WaitTestCard);
    }

    void prompt(std::uint8_t code, EvaluationPhase waitPhase) {
        phase = waitPhase;
        sendEmpty(code, cEvaluate);
        if (sc.evaluation.autoPress)
            afterInEvaluation(sc.evaluation.pressDelayMs, [this] { press(); });
        keepAlive(waitPhase);
    }

    // While the user takes long to press the button the device reports
    // itself busy, so the program does not give up on it.
    void keepAlive(EvaluationPhase waitPhase) {
        afterInEvaluation(kLongWaitMs, [this, waitPhase] {
            if (phase != waitPhase) return;
            sendBusy(kLongWaitMs + 1000, cEvaluate);
            keepAlive(waitPhase);
        });
    }

    void press() {
        if (phase == EvaluationPhase::WaitWhiteCard) {
            ++evalGen;  // ends the keep-alive and the pending press of this prompt
            prompt(cTestCard, EvaluationPhase::WaitTestCard);
        } else if (phase == EvaluationPhase::WaitTestCard) {
            ++evalGen;
            phase = EvaluationPhase::Running;
            sendEmpty(cEvaluationRun, cEvaluate);
            if (sc.evaluation.runMs > kLongWaitMs) sendBusy(sc.evaluation.runMs, cEvaluate);
            afterInEvaluation(sc.evaluation.runMs, [this] { finish(); });
        }
    }

    void finish() {
        phase = EvaluationPhase::Idle;
        if (sc.evaluation.errorCode) return sendDeviceError(sc.evaluation.errorCode, 0, cEvaluate);
        ++evaluationCount;
        Random rnd(sc.generator.seed * 104729ull + evaluationCount);
        Measurement m = makeMeasurement(active, sc.evaluation.values, rnd, rnd.next());
        m.values.resize(active.resultCount);
        auto clock = deviceClock();
        m.date = clock ? *clock : TDateData{};
        m.invalid = sc.evaluation.invalid;
        if (clock && expiredOn(active, *clock)) m.invalid |= 0x40;
        m.measureID = ++measureCounter;
        writeRecord(m, active);
        if (sc.evaluation.store) {
            storeMeasurement(m, active, false);
            writePointers();
        }
        last = std::move(m);
        imagePos = 0;
        sendEmpty(cAck, cEvaluate);
    }

    void formatDB(std::uint8_t flags) {
        if (busyEvaluating()) return sendCommError(ceCommandError, cFormatDB);
        cancelEvaluation();
        phase = EvaluationPhase::Formatting;
        if (sc.evaluation.formatMs > kLongWaitMs) sendBusy(sc.evaluation.formatMs, cFormatDB);
        afterInEvaluation(sc.evaluation.formatMs, [this, flags] {
            clearRing(cfgRing, 0);
            clearRing(resRing, 0);
            ringConfigs.clear();
            if (flags & 0x01) {
                std::fill_n(data->bytes.begin(), layout.configListSize, 0xFF);
                configListUsed = 0;
            }
            writePointers();
            phase = EvaluationPhase::Idle;
            sendEmpty(cAck, cFormatDB);
        });
    }
};

SimDevice::SimDevice(std::int64_t hostTime) : SimDevice(Scenario::demo(), hostTime) {}

namespace {
// Only what would leave the device without a memory to play in is refused;
// references to missing configurations are played as gaps (see the header).
const Scenario& checked(const Scenario& scenario) {
    std::string error;
    auto layout = resolveLayout(scenario, error);
    if (layout) {
        std::size_t list = 1;
        for (const auto& c : scenario.configs)
            if (c.stored) list += configToBytes(c).size();
        if (list > layout->configListSize)
            error = "the stored configurations do not fit between config-start and config-stop";
    }
    if (!error.empty()) throw std::invalid_argument("unusable simulator scenario: " + error);
    return scenario;
}
}  // namespace

SimDevice::SimDevice(const Scenario& scenario, std::int64_t hostTime)
    : d(std::make_unique<Impl>(checked(scenario), hostTime)) {}

SimDevice::~SimDevice() = default;

void SimDevice::receive(const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size && !d->shutdown && !d->closed; ++i) d->receiveByte(data[i]);
}

void SimDevice::advance(std::uint32_t ms) {
    d->advance(ms);
}
std::uint64_t SimDevice::nowMs() const {
    return d->now;
}

std::optional<std::uint64_t> SimDevice::nextEventMs() const {
    if (d->events.empty() || d->shutdown || d->closed) return std::nullopt;
    return d->events.begin()->first;
}

tByteBuffer SimDevice::takeOutput() {
    tByteBuffer out;
    out.swap(d->out);
    return out;
}

bool SimDevice::hasOutput() const {
    return !d->out.empty();
}

void SimDevice::setOutputHandler(std::function<void(const std::uint8_t*, std::size_t)> handler) {
    d->handler = std::move(handler);
    if (d->handler && !d->out.empty()) {
        tByteBuffer pending = takeOutput();
        d->handler(pending.data(), pending.size());
    }
}

void SimDevice::setHostTime(std::int64_t localSeconds) {
    d->hostAt0 = localSeconds - static_cast<std::int64_t>(d->now / 1000);
}

std::optional<TDateData> SimDevice::deviceClock() const {
    return d->deviceClock();
}
void SimDevice::pressButton() {
    d->press();
}
bool SimDevice::shutdownRequested() const {
    return d->shutdown;
}
bool SimDevice::lineClosed() const {
    return d->closed;
}

std::optional<tByteBuffer> SimDevice::read(std::uint32_t address, std::uint32_t count) const {
    return d->read(address, count);
}

bool SimDevice::write(std::uint32_t address, const tByteBuffer& bytes) {
    return d->write(address, bytes.data(), static_cast<std::uint32_t>(bytes.size())) == 0;
}

const Scenario& SimDevice::scenario() const {
    return d->sc;
}
EvaluationPhase SimDevice::evaluationPhase() const {
    return d->phase;
}
bool SimDevice::buttonDisabled() const {
    return d->buttonDisabled;
}

std::size_t SimDevice::storedResultCount() const {
    return static_cast<std::size_t>(std::count_if(d->resRing.entries.begin(),
                                                  d->resRing.entries.end(),
                                                  [](const auto& e) { return e.id != 0; }));
}

std::size_t SimDevice::storedResultConfigCount() const {
    return d->cfgRing.entries.size();
}
std::size_t SimDevice::framesReceived() const {
    return d->received;
}
std::size_t SimDevice::framesSent() const {
    return d->sent;
}
std::uint32_t SimDevice::configMemorySize() const {
    return static_cast<std::uint32_t>(d->configMem->bytes.size());
}
tByteBuffer SimDevice::activeConfigBytes() const {
    return d->active.bytes;
}
std::string SimDevice::lcdText() const {
    return d->lcd;
}

}  // namespace kyvo::sim
