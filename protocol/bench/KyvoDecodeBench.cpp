// Decoding speed of received data frames, byte by byte through handleByte
// as the main window's receive handler feeds them.
#include <benchmark/benchmark.h>

#include "protocol/KyvoCommand.h"

namespace kyvo {
namespace {

class NullSender : public ISerialSender {
  public:
    bool SendByte(std::uint8_t) override { return true; }
    bool SendBuffer() override { return true; }
};

// Data frames of blockSize bytes each, with varied data that includes
// escaped start markers, until about 4 MB of wire bytes.
tByteBuffer dataFrameStream(std::size_t blockSize) {
    tByteBuffer wire;
    std::uint32_t address = 0x30000;
    std::uint32_t seed = 12345;
    while (wire.size() < (4u << 20)) {
        tByteBuffer body{0x20, 0x53, 0x00};
        for (int i = 0; i < 4; ++i) body.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
        body.push_back(static_cast<std::uint8_t>(blockSize));
        body.push_back(static_cast<std::uint8_t>(blockSize >> 8));
        for (std::size_t i = 0; i < blockSize; ++i) {
            seed = seed * 1103515245u + 12345u;
            body.push_back(static_cast<std::uint8_t>(seed >> 16));
        }
        std::uint8_t crc = 0;
        for (auto b : body) crc ^= b;
        body.push_back(crc);
        wire.push_back(0xFE);
        for (auto b : body) {
            wire.push_back(b);
            if (b == 0xFE) wire.push_back(0xFE);
        }
        address += static_cast<std::uint32_t>(blockSize);
    }
    return wire;
}

void BM_DecodeDataFrames(benchmark::State& state) {
    const tByteBuffer wire = dataFrameStream(static_cast<std::size_t>(state.range(0)));
    NullSender port;
    tKyvoCommand kyvo(port);
    std::size_t delivered = 0;
    kyvo.onDataReaded = [&](tKyvoCommand&, std::uint8_t, std::uint32_t, tByteBuffer& data) {
        delivered += data.size();
    };
    for (auto _ : state) {
        for (auto b : wire) kyvo.handleByte(b);
        benchmark::DoNotOptimize(delivered);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * wire.size()));
    if (delivered == 0) state.SkipWithError("no frame decoded");
}
BENCHMARK(BM_DecodeDataFrames)->Arg(768)->Arg(16374)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kyvo

BENCHMARK_MAIN();
