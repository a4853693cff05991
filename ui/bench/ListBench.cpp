// The measurement list with 100,000 entries: sorting by the date column and
// repainting the visible rows, scrolling a page, and the presenter's repaint
// with the columns fitted to their content. Run offscreen:
//   QT_QPA_PLATFORM=offscreen build/ui/bench/ui_list_bench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QScrollBar>
#include <random>

#include "ui/MainWindow.h"
#include "ui/QtPlatform.h"

namespace {

using namespace kyvo;

constexpr int kCount = 100000;

TMeasureList makeList() {
    std::mt19937 rng(42);
    TMeasureList list;
    list.reserve(kCount);
    for (int i = 0; i < kCount; ++i) {
        auto m = std::make_unique<TMeasureSet>();
        m->TestID = "12 3 " + std::to_string(i % 7) + " " + std::to_string(i) + " 1807 0042";
        m->TestName = i % 3 ? "CRP quantitative" : "Drug screen";
        m->LotNr = "L" + std::to_string(rng() % 10000);
        m->Distr_Manu = "Kyvo Diagnostics";
        setDateData(m->DateTime, std::uint8_t(20 + rng() % 7), std::uint8_t(1 + rng() % 12),
                    std::uint8_t(1 + rng() % 28), std::uint8_t(rng() % 24),
                    std::uint8_t(rng() % 60), std::uint8_t(rng() % 60));
        list.push_back(std::move(m));
    }
    return list;
}

struct Fixture {
    Fixture() : list(makeList()) {
        window.attach(&list, &mode, nullptr, &collation);
        window.resize(1000, 700);
        window.show();
        window.SetListCount(EList::Measurements, kCount);
        QApplication::processEvents();
    }
    TMeasureList list;
    ESortType mode = Unsorted;
    QtCollation collation;
    TMainWindow window;
};

std::unique_ptr<Fixture> shared;
Fixture& fixture() {
    if (!shared) shared = std::make_unique<Fixture>();
    return *shared;
}

void SortByDateAndRepaint(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        // Alternates DateTimeUp and DateTimeDown, as repeated clicks do.
        f.window.measureColumnClick(4);
        f.window.measurementView()->viewport()->repaint();
    }
    state.SetLabel("100,000 measurements");
}
BENCHMARK(SortByDateAndRepaint)->Unit(benchmark::kMillisecond);

void SortByTestNameAndRepaint(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        f.window.measureColumnClick(1);
        f.window.measurementView()->viewport()->repaint();
    }
    state.SetLabel("100,000 measurements, locale collation");
}
BENCHMARK(SortByTestNameAndRepaint)->Unit(benchmark::kMillisecond);

void ScrollOnePageAndRepaint(benchmark::State& state) {
    Fixture& f = fixture();
    QScrollBar* bar = f.window.measurementView()->verticalScrollBar();
    for (auto _ : state) {
        const int next = bar->value() + bar->pageStep();
        bar->setValue(next > bar->maximum() ? 0 : next);
        f.window.measurementView()->viewport()->repaint();
    }
}
BENCHMARK(ScrollOnePageAndRepaint)->Unit(benchmark::kMillisecond);

// What the presenter's repaint of the list costs: the rows are fetched again
// and the columns fitted to their content (at most a sample of the rows is
// measured, as a double click on a border does).
void RepaintListAndFitColumns(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        f.window.RepaintList(EList::Measurements);
        f.window.measurementView()->viewport()->repaint();
    }
    state.SetLabel("100,000 measurements");
}
BENCHMARK(RepaintListAndFitColumns)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    shared.reset();
    benchmark::Shutdown();
    return 0;
}
