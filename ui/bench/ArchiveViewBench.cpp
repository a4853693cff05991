// The archive window over 1,000,000 measurements in a SQLite archive: the
// first paint (open, count, first page, painted rows), a jump to the middle,
// a filter and a sort, each until the visible rows show their texts.
//   QT_QPA_PLATFORM=offscreen build/ui/bench/ui_archive_bench
// The archive is made once (a few minutes) at $KYVO_ARCHIVE_BENCH_FILE, by
// default /tmp/kyvo-archive-bench-1m.sqlite, and reused while it holds the
// full count.
//   ui_archive_bench --demo-archive PATH
// instead makes a small archive of 500 measurements with line images at
// PATH, to look at the window with.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QScrollBar>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "../tests/WindowRig.h"
#include "archive/Archive.h"
#include "ui/ArchiveView.h"

namespace {

using namespace kyvo;

constexpr int kCount = 1000000;

std::string benchFile() {
    const QByteArray env = qgetenv("KYVO_ARCHIVE_BENCH_FILE");
    return env.isEmpty() ? std::string("/tmp/kyvo-archive-bench-1m.sqlite") : env.toStdString();
}

TMeasureSet benchSet(int n) {
    static const char* const tests[] = {"CRP quantitative", "HbA1c", "D-Dimer", "TSH", "PCT"};
    TMeasureSet s;
    s.TestID = "12 3 1 7 1807 " + std::to_string(1000 + n % 9) + " " + std::to_string(40000000 + n);
    s.TestName = tests[n % 5];
    s.LotNr = "L" + std::to_string(2000 + n % 97);
    s.Distr_Manu = "Kyvo Diagnostics";
    // About 20 years of measurements, several a day.
    setDateData(s.DateTime, std::uint8_t(6 + n / 50000), std::uint8_t(1 + n / 4000 % 12),
                std::uint8_t(1 + n / 150 % 28), std::uint8_t(n / 7 % 24), std::uint8_t(n % 60),
                std::uint8_t(n * 7 % 60));
    s.UserComment = n % 50 == 0 ? "repeat sample" : "";
    s.Voltage = "3700";
    s.Temperature = "22.50";
    s.ResultList.push_back({"Valid", "CRP", std::to_string(n % 90) + ".25", "mg/l", "normal"});
    return s;
}

void makeArchiveOnce(const std::string& path) {
    const std::string location = "sqlite:" + path;
    {
        std::error_code ec;
        if (std::filesystem::exists(path, ec) && OpenArchive(location)->Count({}) == kCount) return;
        std::filesystem::remove(path, ec);
    }
    auto archive = OpenArchive(location);
    const TArchiveActor actor = DefaultActor("ui_archive_bench", "0");
    constexpr int kBatch = 20000;
    QElapsedTimer t;
    t.start();
    for (int first = 0; first < kCount; first += kBatch) {
        std::vector<TMeasureSet> sets;
        sets.reserve(kBatch);
        for (int n = first; n < first + kBatch; ++n) sets.push_back(benchSet(n));
        std::vector<const TMeasureSet*> ptrs;
        for (const auto& s : sets) ptrs.push_back(&s);
        archive->StoreMany(ptrs, {"1807 1000", "V1.5", "6"}, EArchiveSource::DeviceRead, actor);
        std::fprintf(stderr, "\rmaking the archive: %d of %d (%lld s)", first + kBatch, kCount,
                     t.elapsed() / 1000);
    }
    std::fprintf(stderr, "\n");
}

struct Fixture {
    Fixture() {
        makeArchiveOnce(benchFile());
        rig.user.Values["Archive/Location"] = "sqlite:" + benchFile();
        rig.Start();
    }
    test::WindowRig rig;
};

std::unique_ptr<Fixture> shared;
Fixture& fixture() {
    if (!shared) shared = std::make_unique<Fixture>();
    return *shared;
}

// Until every visible row shows its texts, then one paint.
bool waitPainted(TArchiveWindow& w, int expectedRows = -1) {
    QElapsedTimer t;
    t.start();
    QTableView* table = w.table();
    while (t.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ArchiveTableModel* m = w.model();
        if (!m->counted() || (expectedRows >= 0 && m->rowCount() != expectedRows)) continue;
        const int first = table->rowAt(0);
        int last = table->rowAt(table->viewport()->height() - 1);
        if (last < 0) last = m->rowCount() - 1;
        if (first < 0 || (m->rowAt(first) && m->rowAt(last))) {
            table->viewport()->repaint();
            return true;
        }
    }
    return false;
}

void FirstPaint(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        auto* w = installArchiveView(f.rig.window, *f.rig.main, f.rig.user, &f.rig.lang);
        w->resize(1000, 600);
        w->show();
        if (!waitPainted(*w, kCount)) state.SkipWithError("no first paint within 60 s");
        state.PauseTiming();
        delete w;
        state.ResumeTiming();
    }
    state.SetLabel("1,000,000 measurements: open, count, first page, paint");
}
BENCHMARK(FirstPaint)->Unit(benchmark::kMillisecond)->Iterations(5);

TArchiveWindow* openWindow(Fixture& f) {
    static TArchiveWindow* w = nullptr;
    if (!w) {
        w = installArchiveView(f.rig.window, *f.rig.main, f.rig.user, &f.rig.lang);
        w->resize(1000, 600);
        w->show();
        waitPainted(*w, kCount);
    }
    return w;
}

void JumpToTheMiddle(benchmark::State& state) {
    Fixture& f = fixture();
    TArchiveWindow* w = openWindow(f);
    QScrollBar* bar = w->table()->verticalScrollBar();
    int step = 0;
    for (auto _ : state) {
        // A different page each time: nothing comes from the cache.
        bar->setValue(bar->maximum() / 2 + (++step) * 5000);
        if (!waitPainted(*w)) state.SkipWithError("no paint");
    }
    state.SetLabel("row 500,000 and on");
}
BENCHMARK(JumpToTheMiddle)->Unit(benchmark::kMillisecond)->Iterations(10);

void FilterByLot(benchmark::State& state) {
    Fixture& f = fixture();
    TArchiveWindow* w = openWindow(f);
    int lot = 0;
    for (auto _ : state) {
        w->lotField()->setText(QString("L%1").arg(2000 + (lot++ % 97)));
        w->applyFilter();
        if (!waitPainted(*w)) state.SkipWithError("no paint");
    }
    w->lotField()->clear();
    w->applyFilter();
    waitPainted(*w, kCount);
}
BENCHMARK(FilterByLot)->Unit(benchmark::kMillisecond)->Iterations(5);

void SortByTestName(benchmark::State& state) {
    Fixture& f = fixture();
    TArchiveWindow* w = openWindow(f);
    bool descending = false;
    for (auto _ : state) {
        w->table()->sortByColumn(int(EArchiveColumn::TestName),
                                 descending ? Qt::DescendingOrder : Qt::AscendingOrder);
        descending = !descending;
        if (!waitPainted(*w, kCount)) state.SkipWithError("no paint");
    }
}
BENCHMARK(SortByTestName)->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace

void makeDemoArchive(const std::string& path) {
    auto archive = OpenArchive("sqlite:" + path);
    std::vector<TMeasureSet> sets;
    for (int n = 0; n < 500; ++n) {
        TMeasureSet s = benchSet(n * 1999);
        s.ResultList.push_back({"Valid", "Ratio", n % 7 ? "<0.5" : "1.8", "", "negative"});
        // Two lines on a falling background.
        std::vector<std::int32_t> image;
        for (int k = 0; k < 256; ++k) {
            const int control = std::abs(k - 80) < 6 ? 900 : 0;
            const int test = std::abs(k - 170) < 6 ? 200 + 9 * (n % 80) : 0;
            image.push_back(3300 - 4 * k + (k * 37 + n) % 40 - control - test);
        }
        ScaleLineImage(s, image);
        sets.push_back(std::move(s));
    }
    std::vector<const TMeasureSet*> ptrs;
    for (const auto& s : sets) ptrs.push_back(&s);
    archive->StoreMany(ptrs, {"1807 1000", "V1.5", "6"}, EArchiveSource::DeviceRead,
                       DefaultActor("ui_archive_bench", "0"));
}

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--demo-archive") {
        makeDemoArchive(argv[2]);
        return 0;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    shared.reset();
    benchmark::Shutdown();
    return 0;
}
