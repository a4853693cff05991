// Throughput of the queues and of the worker's data path, and the round
// trip of one request and answer over a pseudo-terminal.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include "link/FastRingBufferByte.h"
#include "link/SeriellThread.h"

namespace kyvo {
namespace {

void BM_RingBufferBlockAddAndTake(benchmark::State& state) {
    const auto block = static_cast<std::int32_t>(state.range(0));
    TFastRingBufferByte q(TSeriellThread::kDefaultBufferSize, false);
    std::vector<std::uint8_t> in(static_cast<std::size_t>(block), 0x5A), out(in.size());
    for (auto _ : state) {
        q.Add(in.data(), block);
        benchmark::DoNotOptimize(q.Take(out.data(), block));
    }
    state.SetBytesProcessed(state.iterations() * block);
}
BENCHMARK(BM_RingBufferBlockAddAndTake)->Arg(1)->Arg(768)->Arg(16384);

void BM_RingBufferBytewiseGet(benchmark::State& state) {
    TFastRingBufferByte q(TSeriellThread::kDefaultBufferSize, false);
    std::vector<std::uint8_t> in(768, 0x5A);
    for (auto _ : state) {
        q.Add(in.data(), 768);
        std::uint8_t b;
        while (q.Get(b)) benchmark::DoNotOptimize(b);
    }
    state.SetBytesProcessed(state.iterations() * 768);
}
BENCHMARK(BM_RingBufferBytewiseGet);

// One worker round moving a full chunk each way through a loopback.
void BM_WorkerRoundFullChunks(benchmark::State& state) {
    DirectMainThread main;
    TSeriellThread port(true, main, TSeriellThread::kDefaultBufferSize,
                        std::make_unique<FTDIDirect>(nullptr));
    auto wire = std::make_shared<LoopbackPort>();
    port.OpenPort(wire, 921600);
    std::vector<std::uint8_t> chunk(TSeriellThread::kChunkSize, 0xA5);
    tByteBuffer sink;
    port.OnReceive = [&](TSeriellThread* s) { s->read(sink, -1); };
    for (auto _ : state) {
        wire->push(chunk);
        port.Send(chunk);
        port.Round();
    }
    state.SetBytesProcessed(state.iterations() * 2 * static_cast<std::int64_t>(chunk.size()));
}
BENCHMARK(BM_WorkerRoundFullChunks);

// A 12-byte request leaves through the running worker, the "device" on the
// master side answers 40 bytes, and the answer reaches OnReceive.
void BM_PtyRequestAnswerRoundTrip(benchmark::State& state) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    char name[128] = {};
    ptsname_r(master, name, sizeof name);
    QueuedMainThread main;
    TSeriellThread port(false, main, TSeriellThread::kDefaultBufferSize,
                        std::make_unique<FTDIDirect>(nullptr));
    if (!port.OpenPort(std::string(name), 115200)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    std::size_t got = 0;
    port.OnReceive = [&](TSeriellThread* s) {
        std::uint8_t b;
        while (s->GetByte(b)) ++got;
    };
    const tByteBuffer request(12, 0x11);
    const std::vector<std::uint8_t> answer(40, 0x22);
    std::uint8_t buf[256];
    for (auto _ : state) {
        got = 0;
        port.Send(request);
        port.SendBuffer();
        std::size_t seen = 0;
        while (seen < request.size()) {
            struct pollfd p {
                master, POLLIN, 0
            };
            poll(&p, 1, 1000);
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) seen += static_cast<std::size_t>(n);
        }
        if (::write(master, answer.data(), answer.size()) < 0) break;
        while (got < answer.size()) main.waitAndRun(std::chrono::milliseconds(100));
    }
    port.ClosePort();
    ::close(master);
}
BENCHMARK(BM_PtyRequestAnswerRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kyvo

BENCHMARK_MAIN();
