// Archive benchmark (run by scripts/bench-archive, never by the tests):
// stores generated measurements (five result rows and a 256-value image
// each) into SQLite and into a throw-away PostgreSQL server, then times a
// sorted, filtered page of 100 rows and text searches at 100,000 and at
// 1,000,000 measurements.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/testsupport/TempPostgres.h"
#include "protocol/ByteBuffer.h"

using namespace kyvo;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kTests[] = {"CRP quantitative", "HbA1c",        "Drug screen", "Fertility panel",
                              "D-Dimer",          "Troponin I",   "TSH",         "PSA",
                              "Ferritin",         "Procalcitonin"};

TMeasureSet Generate(int n) {
    TMeasureSet s;
    char id[64];
    std::snprintf(id, sizeof id, "12 3 %d %d 1807 %04d %d", n % 10, n % 7, n % 20, 30000000 + n);
    s.TestID = id;
    s.TestName = kTests[n % 10];
    s.LotNr = "L" + std::to_string(2000 + n % 50);
    s.Distr_Manu = "Kyvo Diagnostics";
    const int day = n % 1000;  // about three years of measurements
    setDateData(s.DateTime, static_cast<std::uint8_t>(23 + day / 336),
                static_cast<std::uint8_t>(1 + day / 28 % 12),
                static_cast<std::uint8_t>(1 + day % 28), static_cast<std::uint8_t>(n % 24),
                static_cast<std::uint8_t>(n / 24 % 60), static_cast<std::uint8_t>(n / 7 % 60));
    if (n % 10 == 0) s.UserComment = "Nachkontrolle " + std::to_string(n % 997);
    if (n % 5 == 0) s.PatientID = "PAT-" + std::to_string(n % 20011);
    s.Voltage = std::to_string(3600 + n % 400);
    s.Temperature = "22.50";
    const char* names[] = {"CRP", "Ratio", "Control", "T/C", "Index"};
    for (int r = 0; r < 5; ++r) {
        s.ResultList.push_back({"Valid", names[r],
                                std::to_string((n * (r + 3)) % 500) + "." + std::to_string(n % 100),
                                "mg/l", r == 1 ? "positive" : ""});
    }
    s.MeasureResult.LineCount = 3;
    for (std::size_t i = 0; i < 3; ++i)
        s.MeasureResult.Results().Line[i].MeanValue = static_cast<float>(n % 1000) + 0.5f;
    std::vector<std::int32_t> image(256);
    for (int k = 0; k < 256; ++k) image[static_cast<std::size_t>(k)] = 100 + (k * 37 + n) % 3000;
    ScaleLineImage(s, image);
    return s;
}

double CpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Median of five runs, in milliseconds; the first run warms the caches.
double TimeMs(const std::function<std::size_t()>& query, std::size_t& rows) {
    std::vector<double> ms;
    for (int i = 0; i < 6; ++i) {
        const auto t0 = Clock::now();
        rows = query();
        if (i) ms.push_back(Seconds(t0) * 1000);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

void Fill(IArchive& a, int from, int to, std::size_t batch, const TArchiveActor& actor,
          const char* engine) {
    const auto t0 = Clock::now();
    const double cpu0 = CpuSeconds();
    double genCpu = 0;
    std::vector<TMeasureSet> sets;
    std::vector<const TMeasureSet*> ptrs;
    double genSeconds = 0;
    for (int n = from; n < to;) {
        const auto g0 = Clock::now();
        const double gc0 = CpuSeconds();
        sets.clear();
        ptrs.clear();
        for (; n < to && sets.size() < batch; ++n) sets.push_back(Generate(n));
        for (const auto& s : sets) ptrs.push_back(&s);
        genSeconds += Seconds(g0);
        genCpu += CpuSeconds() - gc0;
        a.StoreMany(ptrs, TArchiveDevice{"", "2.13", "6"}, EArchiveSource::DeviceRead, actor);
    }
    const double secs = Seconds(t0) - genSeconds;
    const double cpu = CpuSeconds() - cpu0 - genCpu;
    std::printf(
        "%-8s store %7d measurements, StoreMany per %zu: %6.1f s, %7.0f measurements/s"
        " (this process's CPU: %.1f s)\n",
        engine, to - from, batch, secs, (to - from) / secs, cpu);
    std::fflush(stdout);
}

void SingleStores(IArchive& a, int from, int count, const TArchiveActor& actor,
                  const char* engine) {
    const auto t0 = Clock::now();
    for (int n = from; n < from + count; ++n) {
        a.Store(Generate(n), TArchiveDevice{"", "2.13", "6"}, EArchiveSource::Measurement, actor);
    }
    const double secs = Seconds(t0);
    std::printf(
        "%-8s store %7d measurements, Store (one transaction each): %6.2f s, %7.0f "
        "measurements/s\n",
        engine, count, secs, count / secs);
    std::fflush(stdout);
}

void Queries(IArchive& a, const char* engine, const char* size) {
    struct TQuery {
        const char* name;
        TArchiveFilter f;
        bool count;
    };
    std::vector<TQuery> qs;
    TArchiveFilter f;
    f.Sort = EArchiveSort::DateTime;
    f.Descending = true;
    f.Limit = 100;
    qs.push_back({"newest 100 by date", f, false});
    f.Offset = 5000;
    qs.push_back({"page 51 by date", f, false});
    f = {};
    f.Test = "HbA1c";
    f.From = "2024-01-01";
    f.To = "2024-12-31";
    f.Sort = EArchiveSort::DateTime;
    f.Limit = 100;
    qs.push_back({"test + year, 100 by date", f, false});
    f = {};
    f.Lot = "L2017";
    f.Sort = EArchiveSort::PatientId;
    f.Descending = true;
    f.Limit = 100;
    qs.push_back({"lot, 100 by patient desc", f, false});
    f = {};
    f.Text = "nachkontrolle 123";
    f.Sort = EArchiveSort::DateTime;
    f.Limit = 100;
    qs.push_back({"text 'nachkontrolle 123', 100", f, false});
    f = {};
    f.Text = "pat-4242";
    f.Limit = 100;
    qs.push_back({"text 'pat-4242', 100", f, false});
    f = {};
    f.Text = "zzz-nothing";
    f.Limit = 100;
    qs.push_back({"text without a hit, 100", f, false});
    f = {};
    f.Test = "TSH";
    qs.push_back({"count of a test", f, true});
    f = {};
    qs.push_back({"count of all", f, true});
    for (const auto& q : qs) {
        std::size_t rows = 0;
        const double ms = TimeMs(
            [&]() -> std::size_t {
                return q.count ? static_cast<std::size_t>(a.Count(q.f)) : a.List(q.f).size();
            },
            rows);
        std::printf("%-8s %-5s %-32s %8.1f ms  (%zu %s)\n", engine, size, q.name, ms, rows,
                    q.count ? "counted" : "rows");
    }
    std::fflush(stdout);
}

// Quality control on top: three CRP materials, every hundredth CRP
// measurement marked as a control of one of them, then the listings that
// carry role and QC-failed flag, the first one after a change (which
// evaluates every control again) and the ones after it.
void QualityControl(IArchive& a, int count, const TArchiveActor& actor, const char* engine,
                    const char* size) {
    for (int level = 1; level <= 3; ++level) {
        qc::TControlMaterial m;
        m.Name = "CRP-L" + std::to_string(level);
        m.Test = "CRP quantitative";
        m.Result = "CRP";
        m.Lot = "C-" + std::string(size);
        m.Level = level;
        m.Mean = 250;
        m.Sd = 100;
        m.Opened = "2020-01-01";
        a.AddMaterial(m, actor);
    }
    const auto t0 = Clock::now();
    int marked = 0;
    for (int n = 0; n < count; n += 1000) {
        const auto id = a.FindByTestId(Generate(n).TestID);
        if (!id) continue;
        a.SetRole(*id, "control", "CRP-L" + std::to_string(1 + n / 1000 % 3), actor);
        ++marked;
    }
    std::printf("%-8s %-5s mark %d controls, one transaction each: %.2f s\n", engine, size, marked,
                Seconds(t0));
    TArchiveFilter f;
    f.Sort = EArchiveSort::DateTime;
    f.Descending = true;
    f.Limit = 100;
    auto once = [&](const char* name, const std::function<std::size_t()>& q) {
        const auto t = Clock::now();
        const std::size_t rows = q();
        std::printf("%-8s %-5s %-32s %8.1f ms  (%zu rows)\n", engine, size, name, Seconds(t) * 1000,
                    rows);
    };
    once("newest 100, first after a change", [&] { return a.List(f).size(); });
    std::size_t rows = 0;
    double ms = TimeMs([&] { return a.List(f).size(); }, rows);
    std::printf("%-8s %-5s %-32s %8.1f ms  (%zu rows)\n", engine, size, "newest 100 with QC", ms,
                rows);
    f.Role = "patient";
    ms = TimeMs([&] { return a.List(f).size(); }, rows);
    std::printf("%-8s %-5s %-32s %8.1f ms  (%zu rows)\n", engine, size, "patients, newest 100", ms,
                rows);
    f.Role = "control";
    ms = TimeMs([&] { return a.List(f).size(); }, rows);
    std::printf("%-8s %-5s %-32s %8.1f ms  (%zu rows)\n", engine, size, "controls, newest 100", ms,
                rows);
    ms = TimeMs([&] { return a.QcOverview().Violations.size(); }, rows);
    std::printf("%-8s %-5s %-32s %8.1f ms  (%zu violations)\n", engine, size,
                "QC overview (every control)", ms, rows);
    std::fflush(stdout);
}

void Run(const std::string& engine, const std::string& location, int large) {
    const TArchiveActor actor{"bench", "host", "kyvo-archive-bench", "0"};
    auto a = OpenArchive(location);
    const char* e = engine.c_str();
    Fill(*a, 0, 100000, 1000, actor, e);
    SingleStores(*a, 2000000, 2000, actor, e);
    Queries(*a, e, "100k");
    QualityControl(*a, 100000, actor, e, "100k");
    if (large > 100000) {
        Fill(*a, 100000, large, 1000, actor, e);
        Queries(*a, e, large >= 1000000 ? "1M" : "large");
        QualityControl(*a, large, actor, e, large >= 1000000 ? "1M" : "large");
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool sqlite = true, postgres = true;
    int large = 1000000;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--sqlite-only")
            postgres = false;
        else if (a == "--postgres-only")
            sqlite = false;
        else if (a == "--no-million")
            large = 0;
        else {
            std::fprintf(stderr, "usage: %s [--sqlite-only | --postgres-only] [--no-million]\n",
                         argv[0]);
            return 2;
        }
    }
    {
        // The figures depend on what else runs: say it.
        std::ifstream load("/proc/loadavg");
        std::string l;
        std::getline(load, l);
        std::printf("load average at start: %s\n", l.c_str());
    }
    try {
        if (sqlite) {
            std::string tmpl =
                (std::filesystem::temp_directory_path() / "kyvo-archive-bench-XXXXXX").string();
            const std::string dir = ::mkdtemp(tmpl.data());
            Run("sqlite", "sqlite:" + dir + "/bench.sqlite", large);
            std::filesystem::remove_all(dir);
        }
        if (postgres) {
            if (const auto why = testing::TTempPostgres::Unavailable(); !why.empty()) {
                std::printf("postgres skipped: %s\n", why.c_str());
            } else {
                testing::TTempPostgres pg(true);  // fsync on: what a real server does
                Run("postgres", pg.CreateDatabase("bench"), large);
            }
        }
    } catch (const std::exception& ex) {
        std::fprintf(stderr, "archive bench: %s\n", ex.what());
        return 1;
    }
    return 0;
}
