// Benchmark (not a test): the LIS outbox against a LIS on the loopback that
// acknowledges every message at once, on SQLite and on a throw-away
// PostgreSQL server (durable, as a real one).
//
// - throughput: N measurements wait in the outbox; one sender run delivers
//   them all (message made from the archive, send mark, MLLP exchange,
//   delivered mark, each with its audit row): messages per second;
// - latency: the background service runs; a measurement is stored (with the
//   outbox entry in its transaction) and the time until the LIS sent its
//   acknowledgement is taken, one measurement at a time.
//
//   kyvo_lis_bench [--sqlite-only|--postgres-only] [--messages N] [--samples N]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/testsupport/TempPostgres.h"
#include "lisfeed/LisOutbox.h"
#include "lisfeed/LisService.h"

namespace {

using namespace kyvo;
using Clock = std::chrono::steady_clock;

// Acknowledges every framed message at once; remembers when it answered
// each control id.
class LoopbackLis {
  public:
    LoopbackLis() {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listen_, 16);
        socklen_t len = sizeof addr;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~LoopbackLis() {
        stop_ = true;
        thread_.join();
        for (auto& [fd, d] : conns_) ::close(fd);
        ::close(listen_);
    }
    std::uint16_t Port() const { return port_; }
    // Waits until the control id was acknowledged; its time.
    std::optional<Clock::time_point> WaitFor(const std::string& id, std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, limit, [&] { return acked_.count(id) > 0; }))
            return std::nullopt;
        return acked_[id];
    }
    std::size_t Count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return acked_.size();
    }

  private:
    static std::string ControlIdOf(const std::string& msg) {
        std::size_t pos = 0;
        for (int i = 0; i < 9 && pos != std::string::npos; ++i) pos = msg.find('|', pos + 1);
        if (pos == std::string::npos) return {};
        return msg.substr(pos + 1, msg.find('|', pos + 1) - pos - 1);
    }
    void Serve() {
        while (!stop_) {
            std::vector<pollfd> fds{{listen_, POLLIN, 0}};
            for (auto& [fd, d] : conns_) fds.push_back({fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
            if (fds[0].revents & POLLIN) {
                const int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) conns_.emplace(c, lis::TMllpDeframer());
            }
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (!fds[i].revents) continue;
                const int fd = fds[i].fd;
                char buf[65536];
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) {
                    ::close(fd);
                    conns_.erase(fd);
                    continue;
                }
                auto& d = conns_.at(fd);
                d.Feed(std::string_view(buf, static_cast<std::size_t>(n)));
                while (const auto msg = d.Next()) {
                    const std::string id = ControlIdOf(*msg);
                    const std::string ack = lis::MllpFrame(
                        "MSH|^~\\&|LIS|LAB|KyvoDataReader||20261211140001+0100||ACK^R01^ACK|A" +
                        id + "|P|2.5.1\rMSA|AA|" + id + "\r");
                    ::send(fd, ack.data(), ack.size(), MSG_NOSIGNAL);
                    {
                        std::lock_guard<std::mutex> lock(mutex_);
                        acked_[id] = Clock::now();
                    }
                    changed_.notify_all();
                }
            }
        }
    }
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::map<int, lis::TMllpDeframer> conns_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, Clock::time_point> acked_;
};

TMeasureSet Measurement(int n) {
    TMeasureSet s;
    char id[64];
    std::snprintf(id, sizeof id, "12 3 1 7 1807 0042 %d", 40000000 + n);
    s.TestID = id;
    s.TestName = "CRP quantitative";
    s.LotNr = "L2026-11";
    setDateData(s.DateTime, 26, 12, static_cast<std::uint8_t>(1 + n % 28), 8,
                static_cast<std::uint8_t>(n % 60), static_cast<std::uint8_t>(n % 60));
    s.UserComment = n % 3 ? "" : "Pat. \"Müller\" | re-test";
    s.PatientID = "P-" + std::to_string(n);
    for (const char* name : {"CRP", "Ratio"}) {
        TResultSet r;
        r.Validity = "Valid";
        r.ResultName = name;
        r.ResultValue = std::to_string(n % 90) + ".25";
        r.UnitName = "mg/l";
        r.ClassName = "normal";
        s.ResultList.push_back(r);
    }
    return s;
}

const TArchiveActor kActor{"bench", "localhost", "kyvo_lis_bench", "0"};

void Bench(const std::string& engine, const std::string& location, int messages, int samples) {
    LoopbackLis lis;
    TLisSendSettings settings;
    settings.Send = true;
    settings.Host = "127.0.0.1";
    settings.Port = lis.Port();
    const TLisSenderConfig config = *MakeLisSenderConfig(settings).Config;

    // Throughput.
    {
        auto archive = OpenArchive(location);
        archive->SetLisQueueing(true);
        std::vector<TMeasureSet> sets;
        for (int n = 0; n < messages; ++n) sets.push_back(Measurement(n));
        std::vector<const TMeasureSet*> p;
        for (auto& s : sets) p.push_back(&s);
        for (std::size_t from = 0; from < p.size(); from += 500) {
            const std::vector<const TMeasureSet*> part(
                p.begin() + static_cast<std::ptrdiff_t>(from),
                p.begin() + static_cast<std::ptrdiff_t>(std::min(p.size(), from + 500)));
            archive->StoreMany(part, {}, EArchiveSource::DeviceRead, kActor);
        }
        lis::TMllpLink link(config.Endpoint, config.ConnectTimeout, config.AckTimeout);
        const auto t0 = Clock::now();
        const TLisRunResult r = RunLisOutbox(*archive, link, config, kActor, {});
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        std::printf("%-10s throughput: %d messages delivered in %.2f s = %.0f messages/s\n",
                    engine.c_str(), r.Delivered, s, r.Delivered / s);
    }

    // Latency through the background service.
    {
        TLisService service(location, kActor);
        settings.Automatic = true;
        service.Configure(settings);
        service.Start();
        auto archive = OpenArchive(location);
        archive->SetLisQueueing(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the service is up
        std::vector<double> ms;
        for (int k = 0; k < samples; ++k) {
            const TMeasureSet s = Measurement(messages + k);
            const auto t0 = Clock::now();
            archive->Store(s, {}, EArchiveSource::Measurement, kActor);
            const auto id = *archive->FindByTestId(s.TestID);
            const auto acked = lis.WaitFor(lis::ControlIdFor(id, 1), std::chrono::seconds(30));
            if (!acked) {
                const TLisServiceStatus st = service.Status();
                std::printf(
                    "%-10s latency: no acknowledgement within 30 s (working %d, other sender %d, "
                    "failed %d, waiting %lld: %s)\n",
                    engine.c_str(), st.Working, st.OtherSender, st.FailedAttempts,
                    static_cast<long long>(st.Counts.Waiting), st.LastError.c_str());
                return;
            }
            ms.push_back(std::chrono::duration<double, std::milli>(*acked - t0).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        service.Stop();
        std::sort(ms.begin(), ms.end());
        std::printf(
            "%-10s archive->ACK latency over %d measurements: median %.1f ms, 95th percentile "
            "%.1f ms, max %.1f ms\n",
            engine.c_str(), samples, ms[ms.size() / 2], ms[ms.size() * 95 / 100], ms.back());
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool sqlite = true, postgres = true;
    int messages = 2000, samples = 50;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--sqlite-only") postgres = false;
        if (a == "--postgres-only") sqlite = false;
        if (a == "--messages" && i + 1 < argc) messages = std::max(1, std::atoi(argv[++i]));
        if (a == "--samples" && i + 1 < argc) samples = std::max(1, std::atoi(argv[++i]));
    }
    std::string tmpl = (std::filesystem::temp_directory_path() / "kyvo-lis-bench-XXXXXX").string();
    const std::string dir = ::mkdtemp(tmpl.data());
    if (sqlite) Bench("sqlite", "sqlite:" + dir + "/archive.sqlite", messages, samples);
    if (postgres) {
        if (const auto why = kyvo::testing::TTempPostgres::Unavailable(); !why.empty()) {
            std::printf("postgres   skipped: %s\n", why.c_str());
        } else {
            kyvo::testing::TTempPostgres server(true);
            Bench("postgres", server.CreateDatabase("lisbench"), messages, samples);
        }
    }
    std::filesystem::remove_all(dir);
    return 0;
}
