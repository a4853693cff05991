// How fast the engine answers: block reads as the program makes them, the
// whole stored data of the demo device, and building a device.
#include <benchmark/benchmark.h>

#include "sim/SimDevice.h"

namespace {

using kyvo::tByteBuffer;
using kyvo::tCursor;

tByteBuffer readFrame(std::uint32_t address, std::uint16_t count) {
    tByteBuffer body{0x20, 0x52, 0x00};
    tCursor c = 3;
    kyvo::bufAddDWord(body, c, address);
    kyvo::bufAddWord(body, c, count);
    std::uint8_t crc = 0;
    for (std::uint8_t b : body) crc ^= b;
    body.push_back(crc);
    tByteBuffer wire{0xFE};
    for (std::uint8_t b : body) {
        wire.push_back(b);
        if (b == 0xFE) wire.push_back(0xFE);
    }
    return wire;
}

void BM_Read768ByteBlock(benchmark::State& state) {
    kyvo::sim::SimDevice dev;
    const tByteBuffer request = readFrame(0x80000, 768);
    std::size_t bytes = 0;
    for (auto _ : state) {
        dev.receive(request);
        tByteBuffer out = dev.takeOutput();
        bytes += out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_Read768ByteBlock);

// Both rings of the demo device (64 KiB of result memory) in 768-byte blocks.
void BM_ReadDemoResultMemory(benchmark::State& state) {
    kyvo::sim::SimDevice dev;
    std::vector<tByteBuffer> requests;
    for (std::uint32_t off = 0; off < 0x10000; off += 768)
        requests.push_back(
            readFrame(0x80000 + off,
                      static_cast<std::uint16_t>(std::min<std::uint32_t>(768, 0x10000 - off))));
    for (auto _ : state) {
        for (const auto& r : requests) {
            dev.receive(r);
            benchmark::DoNotOptimize(dev.takeOutput());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 0x10000);
}
BENCHMARK(BM_ReadDemoResultMemory);

void BM_BuildDemoDevice(benchmark::State& state) {
    const kyvo::sim::Scenario demo = kyvo::sim::Scenario::demo();
    for (auto _ : state) {
        kyvo::sim::SimDevice dev(demo);
        benchmark::DoNotOptimize(dev.storedResultCount());
    }
}
BENCHMARK(BM_BuildDemoDevice);

}  // namespace

BENCHMARK_MAIN();
