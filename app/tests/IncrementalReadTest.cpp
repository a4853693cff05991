#include "app/IncrementalRead.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>

#include "sim/SimDevice.h"
#include "testdata/TestResults.h"

namespace kyvo {
namespace {

// A device's two result rings as the device keeps them: each new entry goes
// after the newest, the oldest ones are dropped (their bytes stay until
// overwritten) while it does not fit, one byte is always left for the end
// mark. It starts from the simulator's demo memory, so that the entries are
// real ones the walks understand.
class RingDevice {
  public:
    struct Ring {
        std::uint32_t base = 0, size = 0;
        std::uint32_t read = 0, write = 0;
        std::deque<std::uint32_t> entries;  // sizes, oldest first
        std::vector<std::uint8_t> bytes;
    };

    explicit RingDevice(const sim::Scenario& s = sim::Scenario::demo()) {
        sim::SimDevice sim(s);
        map.NonVolatileData = nonVolatileFromBytes(*sim.read(kNonVolatileAddress, 128));
        map.VolatileData = volatileFromBytes(*sim.read(kVolatileAddress, 128));
        reader.SavedDataReadSrc = map.VolatileData.KyvoCfgBits.SeparateResultMemory()
                                      ? kResultMemoryAddress
                                      : kDataMemoryAddress;
        reader.SetResultStoragePointers(map.EEPROMVersion(), map.VolatileData);
        const auto& v = map.VolatileData;
        Load(cfg, SpResultCfgData, sim, v.StoredTestResultCfgReadPtr - v.StoredTestResultCfgStart,
             v.StoredTestResultCfgWritePtr - v.StoredTestResultCfgStart);
        Load(res, SpResultData, sim, v.StoredTestResultReadPtr - v.StoredTestResultStart,
             v.StoredTestResultWritePtr - v.StoredTestResultStart);
        // Templates for new measurements: the stored ones.
        for (std::uint32_t p = res.read, i = 0; i < res.entries.size(); ++i) {
            std::vector<std::uint8_t> e;
            for (std::uint32_t k = 0; k < res.entries[i]; ++k)
                e.push_back(res.bytes[(p + k) % res.size]);
            if (e[0] != 0) templates.push_back(e);
            p = (p + res.entries[i]) % res.size;
        }
    }

    // k new measurements, each a distinct copy of a stored one.
    void Measure(int k) {
        for (int i = 0; i < k; ++i) {
            std::vector<std::uint8_t> e = templates[counter % templates.size()];
            ++counter;
            e[3] = static_cast<std::uint8_t>(counter % 60);  // seconds and minutes of the date
            e[4] = static_cast<std::uint8_t>(counter / 60 % 60);
            Append(res, e);
        }
        Sync();
    }
    void Format() {
        for (Ring* r : {&cfg, &res}) {
            std::fill(r->bytes.begin(), r->bytes.end(), 0xFF);
            r->read = r->write = 0;
            r->entries.clear();
        }
        Sync();
    }
    // Re-stores the configuration entries the results refer to, at the
    // configuration ring's new start.
    void RestoreConfigs(const std::vector<std::vector<std::uint8_t>>& entries) {
        for (const auto& e : entries) Append(cfg, e);
        Sync();
    }
    std::vector<std::vector<std::uint8_t>> ConfigEntries() const {
        std::vector<std::vector<std::uint8_t>> out;
        for (std::uint32_t p = cfg.read, i = 0; i < cfg.entries.size(); ++i) {
            std::vector<std::uint8_t> e;
            for (std::uint32_t k = 0; k < cfg.entries[i]; ++k)
                e.push_back(cfg.bytes[(p + k) % cfg.size]);
            out.push_back(e);
            p = (p + cfg.entries[i]) % cfg.size;
        }
        return out;
    }

    // What readData answers.
    tByteBuffer Read(std::uint32_t address, std::uint32_t size) const {
        for (const Ring* r : {&cfg, &res})
            if (address >= r->base && address + size <= r->base + r->size)
                return tByteBuffer(r->bytes.begin() + (address - r->base),
                                   r->bytes.begin() + (address - r->base + size));
        ADD_FAILURE() << "read outside the rings at " << address;
        return {};
    }

    TEEPROMMap map;
    TDataRead reader;
    Ring cfg, res;
    std::uint8_t writeSkew = 0;  // a device whose write pointers lie ahead by this much
    bool frozenWrite = false;    // a device that never moves its write pointers

  private:
    void Load(Ring& r, EReadStep step, const sim::SimDevice& sim, int read, int write) {
        const TReadPlacement at = reader.Placement(step, map);
        r.base = at.address;
        r.size = at.size;
        r.bytes = *sim.read(at.address, at.size);
        r.read = static_cast<std::uint16_t>(read);
        r.write = static_cast<std::uint16_t>(write);
        for (std::uint32_t p = r.read; p != r.write;) {
            const std::uint32_t n = r.bytes[(p + 1) % r.size] | r.bytes[(p + 2) % r.size] << 8;
            r.entries.push_back(n);
            p = (p + n) % r.size;
        }
    }
    static void Append(Ring& r, const std::vector<std::uint8_t>& e) {
        const auto used = [&r] { return (r.write + r.size - r.read) % r.size; };
        while (used() + e.size() + 1 > r.size && !r.entries.empty()) {
            r.read = (r.read + r.entries.front()) % r.size;
            r.entries.pop_front();
        }
        for (std::size_t i = 0; i < e.size(); ++i) r.bytes[(r.write + i) % r.size] = e[i];
        r.write = static_cast<std::uint32_t>((r.write + e.size()) % r.size);
        r.bytes[r.write] = 0xFF;
        r.entries.push_back(static_cast<std::uint32_t>(e.size()));
    }
    void Sync() {
        auto& v = map.VolatileData;
        v.StoredTestResultCfgReadPtr =
            static_cast<std::uint16_t>(v.StoredTestResultCfgStart + cfg.read);
        v.StoredTestResultReadPtr = static_cast<std::uint16_t>(v.StoredTestResultStart + res.read);
        if (frozenWrite) return;
        v.StoredTestResultCfgWritePtr =
            static_cast<std::uint16_t>(v.StoredTestResultCfgStart + cfg.write + writeSkew);
        v.StoredTestResultWritePtr =
            static_cast<std::uint16_t>(v.StoredTestResultStart + res.write + writeSkew);
    }

    std::vector<std::vector<std::uint8_t>> templates;
    std::uint32_t counter = 0;
};

struct Outcome {
    tByteBuffer cfg, res;
    std::uint32_t fetched = 0, total = 0, requests = 0;
    bool usedMemory = false;
    std::optional<TDeviceMemoryRecord> record;
};

Outcome Fetch(const RingDevice& dev, const std::optional<TDeviceMemoryRecord>& cached) {
    TStoredDataFetch f(dev.map, dev.reader, cached);
    Outcome o;
    while (const auto rq = f.Next()) {
        EXPECT_LT(++o.requests, 1000u);
        if (o.requests >= 1000) break;
        f.Deliver(dev.Read(rq->Address, rq->Size));
    }
    o.cfg = f.ResultCfgImage();
    o.res = f.ResultImage();
    o.fetched = f.FetchedBytes();
    o.total = f.TotalBytes();
    o.usedMemory = f.UsedMemory();
    o.record = f.Record();
    return o;
}

// What the walks make of the rings: per configuration its ID and the dates
// of its results, oldest first.
std::vector<std::pair<int, std::vector<std::string>>> Walked(const RingDevice& dev,
                                                             const tByteBuffer& cfg,
                                                             const tByteBuffer& res) {
    std::vector<TKyvoResultData> list;
    ReadStoredResultConfigs(cfg, dev.map, list);
    ReadStoredResults(res, dev.map, list);
    std::vector<std::pair<int, std::vector<std::string>>> out;
    for (const auto& c : list) {
        std::vector<std::string> dates;
        for (const auto& r : c.Results) {
            const auto& d = r.KyvoResultList.Date;
            std::string text;
            for (std::uint8_t b : d.Data) text += std::to_string(b) + ".";
            dates.push_back(text);
        }
        out.emplace_back(c.ResultCfg.ID, dates);
    }
    return out;
}

// The invariant: whatever was fetched, the rings are the device's rings.
void ExpectSameAsWholeRead(const RingDevice& dev, const Outcome& o) {
    EXPECT_EQ(o.cfg, dev.cfg.bytes);
    EXPECT_EQ(o.res, dev.res.bytes);
    EXPECT_EQ(Walked(dev, o.cfg, o.res), Walked(dev, dev.cfg.bytes, dev.res.bytes));
    ASSERT_TRUE(o.record);
    EXPECT_EQ(o.record->ResultCfg.Bytes, dev.cfg.bytes);
    EXPECT_EQ(o.record->Result.Bytes, dev.res.bytes);
}

TEST(IncrementalRead, theDemoDeviceHasRoomForTheScenarios) {
    RingDevice dev;
    EXPECT_GE(dev.res.entries.size(), 5u);
    EXPECT_GE(dev.cfg.entries.size(), 1u);
    EXPECT_GT(dev.res.size, 8u * 1024);
}

TEST(IncrementalRead, firstContactReadsBothRingsWholeAndRemembersThem) {
    RingDevice dev;
    const Outcome o = Fetch(dev, std::nullopt);
    ExpectSameAsWholeRead(dev, o);
    EXPECT_FALSE(o.usedMemory);
    EXPECT_EQ(o.fetched, o.total);
    EXPECT_EQ(o.total, dev.cfg.size + dev.res.size);
}

struct ChangeCase {
    std::string name;
    std::function<void(RingDevice&)> change;
    bool incremental;          // the remembered bytes may be used
    std::uint32_t maxFetched;  // checked when incremental
};

void PrintTo(const ChangeCase& c, std::ostream* os) {
    *os << c.name;
}

class AfterAChange : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(AfterAChange, theRingsEqualTheDevicesAndOnlyWhatChangedIsFetched) {
    RingDevice dev;
    const Outcome first = Fetch(dev, std::nullopt);
    ASSERT_TRUE(first.record);
    GetParam().change(dev);
    const Outcome again = Fetch(dev, first.record);
    ExpectSameAsWholeRead(dev, again);
    RecordProperty("fetched", static_cast<int>(again.fetched));
    EXPECT_EQ(again.usedMemory, GetParam().incremental);
    if (GetParam().incremental) {
        EXPECT_LE(again.fetched, GetParam().maxFetched);
    } else {
        EXPECT_GE(again.fetched, again.total);
    }
    // And the read after that starts from the new memory.
    const Outcome third = Fetch(dev, again.record);
    ExpectSameAsWholeRead(dev, third);
    EXPECT_TRUE(third.usedMemory);
}

// Fills the result ring to just below wrapping, so that further measurements
// overwrite the oldest.
void FillRing(RingDevice& dev) {
    while (dev.res.size - (dev.res.write + dev.res.size - dev.res.read) % dev.res.size > 2000)
        dev.Measure(1);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, AfterAChange,
    ::testing::Values(ChangeCase{"nothingNew", [](RingDevice&) {}, true, 2 * 1024},
                      ChangeCase{"fiveNew", [](RingDevice& d) { d.Measure(5); }, true, 6 * 1024},
                      ChangeCase{"fiveNewWithAWritePointerThatLies",
                                 [](RingDevice& d) {
                                     d.writeSkew = 100;
                                     d.Measure(5);
                                 },
                                 true, 8 * 1024},
                      ChangeCase{"fiveNewWithAWritePointerThatNeverMoves",
                                 [](RingDevice& d) {
                                     d.frozenWrite = true;
                                     d.Measure(5);
                                 },
                                 true, 8 * 1024},
                      ChangeCase{"formattedThenThreeNewAtTheStart",
                                 [](RingDevice& d) {
                                     const auto configs = d.ConfigEntries();
                                     d.Format();
                                     d.RestoreConfigs(configs);
                                     d.Measure(3);
                                 },
                                 false, 0},
                      ChangeCase{"newestWrappedPastEverythingKnown",
                                 [](RingDevice& d) {
                                     for (std::uint32_t n = 0; n <= d.res.size;) {
                                         const std::uint32_t w = d.res.write;
                                         d.Measure(1);
                                         n += (d.res.write + d.res.size - w) % d.res.size;
                                     }
                                 },
                                 false, 0}),
    [](const auto& info) { return info.param.name; });

TEST(IncrementalRead, twentyNewThatOverwriteTheOldestMoveTheReadPointerAndFetchLittle) {
    RingDevice dev;
    FillRing(dev);
    const Outcome first = Fetch(dev, std::nullopt);
    const std::uint16_t readBefore = dev.map.VolatileData.StoredTestResultReadPtr;
    std::size_t before = 0;
    for (const auto& c : Walked(dev, first.cfg, first.res)) before += c.second.size();
    dev.Measure(20);
    ASSERT_NE(dev.map.VolatileData.StoredTestResultReadPtr, readBefore);
    const Outcome again = Fetch(dev, first.record);
    ExpectSameAsWholeRead(dev, again);
    EXPECT_TRUE(again.usedMemory);
    EXPECT_LT(again.fetched, again.total / 2);
    // Some of the oldest are gone: the list did not simply grow by twenty.
    std::size_t after = 0;
    for (const auto& c : Walked(dev, again.cfg, again.res)) after += c.second.size();
    EXPECT_LT(after, before + 20);
}

TEST(IncrementalRead, remembrancesThatDoNotFitThisDeviceAreNotUsed) {
    RingDevice dev;
    const auto first = Fetch(dev, std::nullopt).record;
    ASSERT_TRUE(first);
    dev.Measure(5);

    TDeviceMemoryRecord otherVersion = *first;
    otherVersion.Identity[0] = static_cast<std::uint8_t>(otherVersion.Identity[0] - 1);
    TDeviceMemoryRecord otherMemory = *first;  // same serial, other stored bytes
    for (std::size_t i = 0; i < otherMemory.Result.Bytes.size(); i += 7)
        otherMemory.Result.Bytes[i] ^= 0x5A;
    TDeviceMemoryRecord otherBounds = *first;
    otherBounds.Result.Stop = static_cast<std::uint16_t>(otherBounds.Result.Stop - 1);
    TDeviceMemoryRecord shortRing = *first;
    shortRing.Result.Bytes.pop_back();
    std::string damagedFile = encodeDeviceMemory(*first);
    damagedFile[damagedFile.size() / 3] ^= 0x10;

    const std::map<std::string, std::optional<TDeviceMemoryRecord>> cases = {
        {"another EEPROM version", otherVersion},
        {"another memory behind the same serial", otherMemory},
        {"other ring bounds", otherBounds},
        {"a ring shorter than the device's", shortRing},
        {"a damaged file", decodeDeviceMemory(damagedFile)},
    };
    for (const auto& [name, cached] : cases) {
        SCOPED_TRACE(name);
        const Outcome o = Fetch(dev, cached);
        ExpectSameAsWholeRead(dev, o);
        EXPECT_FALSE(o.usedMemory);
    }
}

TEST(IncrementalRead, oneChangedKeptByteThatTheChecksSeeMakesBothRingsWhole) {
    // The device rewrote the header of the oldest kept entry: not the
    // append-only device the fetch relies on.
    RingDevice dev;
    const auto first = Fetch(dev, std::nullopt).record;
    dev.Measure(2);
    dev.res.bytes[(dev.res.read + 5) % dev.res.size] ^= 0x01;
    const Outcome o = Fetch(dev, first);
    ExpectSameAsWholeRead(dev, o);
    EXPECT_FALSE(o.usedMemory);
}

TEST(IncrementalRead, aShortReplyIsHandedOnAsAWholeReadWouldAndNotRemembered) {
    RingDevice dev;
    TStoredDataFetch f(dev.map, dev.reader, std::nullopt);
    const auto rq = f.Next();
    ASSERT_TRUE(rq);
    tByteBuffer part = dev.Read(rq->Address, rq->Size);
    part.resize(part.size() / 2);
    f.Deliver(part);
    while (const auto next = f.Next()) f.Deliver(dev.Read(next->Address, next->Size));
    EXPECT_EQ(f.ResultCfgImage(), part);
    EXPECT_FALSE(f.Record());
}

}  // namespace
}  // namespace kyvo
