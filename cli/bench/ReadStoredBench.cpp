// Reading stored data from kyvo-sim --baud 38400 over a pseudo-terminal:
// wall time of the whole read divided by the time its bytes need on the
// wire (all bytes both ways, 10 bits each). 1.0 means the program adds no
// waiting of its own between blocks.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "app/LinkDeviceLink.h"
#include "app/Main.h"
#include "app/tests/Harness.h"
#include "cli/RealTimeLoop.h"
#include "cli/tests/SimProcess.h"
#include "sim/Scenario.h"

namespace kyvo {
namespace {

constexpr int kBaud = 38400;

// Counts every byte that passes the link in either direction.
class CountingLink final : public IDeviceLink {
  public:
    explicit CountingLink(IDeviceLink& inner) : in_(inner) {
        in_.OnReceive = [this] {
            if (OnReceive) OnReceive();
        };
        in_.OnError = [this](ELinkError e) {
            if (OnError) OnError(e);
        };
    }
    bool SendByte(std::uint8_t b) override {
        ++sent;
        return in_.SendByte(b);
    }
    bool SendBuffer() override { return in_.SendBuffer(); }
    bool FtdiMode() const override { return in_.FtdiMode(); }
    bool OpenFtdi(int i, int baud) override { return in_.OpenFtdi(i, baud); }
    bool OpenSerial(const std::string& n, int baud) override { return in_.OpenSerial(n, baud); }
    void ClosePort() override { in_.ClosePort(); }
    bool IsOpen() const override { return in_.IsOpen(); }
    bool GetByte(std::uint8_t& b) override {
        const bool got = in_.GetByte(b);
        if (got) ++received;
        return got;
    }
    TFTDIDeviceEntry CurrentDevice() const override { return in_.CurrentDevice(); }
    bool UpdateDeviceList(std::vector<TFTDIDeviceEntry>& d, int& e, int l) override {
        return in_.UpdateDeviceList(d, e, l);
    }
    std::vector<std::string> GetComPorts() override { return in_.GetComPorts(); }
    std::uint64_t sent = 0, received = 0;

  private:
    IDeviceLink& in_;
};

void ReadStoredData64K(benchmark::State& state) {
    const std::string scenario = "/tmp/kyvo-bench-read64k.scn";
    std::ofstream(scenario) << sim::demoScenarioText()
                            << "\n[memory]\nresult-start = 0x0000\nresult-stop = 0xF7FF\n"
                               "result-cfg-start = 0xF800\nresult-cfg-stop = 0xFFFF\n";
    for (auto _ : state) {
        kyvo::testing::SimProcess simProc(
            {"--baud", std::to_string(kBaud), "--scenario", scenario});
        if (simProc.port.empty()) {
            state.SkipWithError("kyvo-sim did not start");
            return;
        }
        cli::RealTimeLoop loop;
        SystemClock clock;
        testing::FakeView view;
        view.ComEditText = simProc.port;
        view.BaudEditText = std::to_string(kBaud);
        testing::MemKeyStore prog, user;
        user.Values["Setup/AddDataBehaviour"] = "Add";
        testing::EnglishLanguage lang;
        LinkDeviceLink link(loop.MainThread(), false, false);
        CountingLink counted(link);
        // No device memory folder: every iteration is a whole read.
        TMainDeps deps;
        deps.View = &view;
        deps.Timers = &loop;
        deps.Clock = &clock;
        deps.Link = &counted;
        deps.ProgSettings = &prog;
        deps.UserSettings = &user;
        deps.Language = &lang;
        deps.ConfigFolder = "/tmp/";
        TForm_Main main(deps);
        main.FormCreate();
        loop.RunUntil([&] { return main.Initialized(); }, 2000);
        main.Button_OpenClick();
        loop.RunUntil([&] { return main.State().Current == stReady; }, 10000);
        // Without the clock poll in between: only the read is timed.
        bool done = false;
        main.OnStoredDataRead = [&](TForm_Main&, int) { done = true; };
        loop.RunUntil([&] { return main.State().Current == stReady && !main.ActionPending(); },
                      2000);
        counted.sent = counted.received = 0;
        const auto t0 = std::chrono::steady_clock::now();
        main.Button_ReadDataClick();
        loop.RunUntil([&] { return done; }, 120000);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double wire = static_cast<double>(counted.sent + counted.received) * 10.0 / kBaud;
        state.SetIterationTime(wall);
        state.counters["ratio"] = wall / wire;
        state.counters["wire_s"] = wire;
        state.counters["bytes"] = static_cast<double>(counted.sent + counted.received);
        state.counters["measurements"] = static_cast<double>(main.MeasureList.size());
        main.FormDestroy();
    }
}
BENCHMARK(ReadStoredData64K)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace kyvo

BENCHMARK_MAIN();
