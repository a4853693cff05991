// The incremental read's plan over a remembered record (from the cache file,
// so any bytes) and a device's rings and pointers (from the line, so any
// bytes too): every request stays inside the rings, the plan ends, and each
// ring handed on is made only of the device's bytes or, where the memory was
// used, the remembered ones.
//
// Input: EEPROM version, configuration bits, the volatile record's first 64
// bytes (bounds and pointers now), a flag byte (bit 0: the record is this
// device's; bit 1: the remembered bounds are today's; bit 2: the remembered
// rings are padded to the rings' sizes), the index of the one request to
// answer short (255: none), per ring (configurations, then results) the
// remembered read and write pointers and a 16-bit-led block of remembered
// bytes, then per ring a 16-bit offset and a 16-bit-led patch the device
// wrote over the remembered bytes since.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "app/IncrementalRead.h"
#include "fuzz/FuzzInput.h"
#include "protocol/KyvoEEPROM15.h"

namespace {

using namespace kyvo;

struct Ring {
    std::uint32_t base = 0, size = 0;
    std::vector<std::uint8_t> remembered;  // padded or cut to size
    std::vector<std::uint8_t> device;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    TEEPROMMap map;
    map.NonVolatileData.EEPROMVersion = in.byte();
    map.NonVolatileData.KyvoCfgBits_0.Data = in.dword();
    map.VolatileData = volatileFromBytes(in.bytes(64));
    TDataRead reader;
    reader.SavedDataReadSrc = map.VolatileData.KyvoCfgBits.SeparateResultMemory()
                                  ? kResultMemoryAddress
                                  : kDataMemoryAddress;
    reader.SetResultStoragePointers(map.EEPROMVersion(), map.VolatileData);
    const std::uint8_t flags = in.byte();
    const std::uint8_t shortAt = in.byte();

    const auto& v = map.VolatileData;
    Ring cfg, res;
    cfg.base = reader.Placement(SpResultCfgData, map).address;
    cfg.size = reader.Placement(SpResultCfgData, map).size;
    res.base = reader.Placement(SpResultData, map).address;
    res.size = reader.Placement(SpResultData, map).size;
    // Larger rings are read whole and never kept; nothing to plan.
    if (cfg.size > kMaxStoredRingSize || res.size > kMaxStoredRingSize) return 0;

    TDeviceMemoryRecord record;
    record.Identity = (flags & 1) ? TStoredDataFetch::IdentityOf(map, reader) : in.bytes(40);
    record.ResultCfg = {v.StoredTestResultCfgStart, v.StoredTestResultCfgStop, 0, 0, {}};
    record.Result = {v.StoredTestResultStart, v.StoredTestResultStop, 0, 0, {}};
    if (!(flags & 2)) {
        record.ResultCfg.Start = in.word();
        record.Result.Stop = in.word();
    }
    for (const auto& [ring, kept] :
         {std::pair{&cfg, &record.ResultCfg}, std::pair{&res, &record.Result}}) {
        kept->ReadPtr = in.word();
        kept->WritePtr = in.word();
        kept->Bytes = in.block();
        if (flags & 4) kept->Bytes.resize(ring->size, 0xFF);
        ring->remembered = kept->Bytes;
        ring->remembered.resize(ring->size, 0xFF);
    }
    for (Ring* ring : {&cfg, &res}) {
        ring->device = ring->remembered;
        const std::uint16_t at = in.word();
        const tByteBuffer patch = in.block();
        if (ring->size == 0) continue;
        for (std::size_t i = 0; i < patch.size(); ++i)
            ring->device[(at + i) % ring->size] = patch[i];
    }

    TStoredDataFetch fetch(map, reader, record);
    unsigned requests = 0;
    bool shortReply = false;
    while (const auto rq = fetch.Next()) {
        // Each ring costs at most a header check in two parts and a window
        // grown block by block; far more requests than that is a plan that
        // does not end.
        if (++requests > 10000) std::abort();
        const Ring& ring = rq->Ring == ERingKind::ResultConfigs ? cfg : res;
        if (rq->Address < ring.base || rq->Size > ring.size ||
            rq->Address - ring.base > ring.size - rq->Size)
            std::abort();
        const auto from = ring.device.begin() + (rq->Address - ring.base);
        std::vector<std::uint8_t> reply(from, from + rq->Size);
        if (shortAt != 255 && requests - 1 == shortAt && !reply.empty()) {
            reply.pop_back();
            shortReply = true;
        }
        fetch.Deliver(reply);
    }

    const bool used = fetch.UsedMemory();
    for (const auto& [ring, image] :
         {std::pair{&cfg, &fetch.ResultCfgImage()}, std::pair{&res, &fetch.ResultImage()}}) {
        if (shortReply) continue;
        if (image->size() != ring->size) std::abort();
        for (std::size_t i = 0; i < image->size(); ++i)
            if ((*image)[i] != ring->device[i] && !(used && (*image)[i] == ring->remembered[i]))
                std::abort();
    }
    const auto kept = fetch.Record();
    if (kept && (kept->ResultCfg.Bytes != fetch.ResultCfgImage() ||
                 kept->Result.Bytes != fetch.ResultImage()))
        std::abort();
    if (!shortReply && !kept) std::abort();
    fuzz::keep(&requests, sizeof requests);
    return 0;
}
