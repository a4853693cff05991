// Saving, merging and loading a large long-layout result file.
//
//   kyvo_resultfile_bench                 Google Benchmark runs (save, merge, load)
//   kyvo_resultfile_bench --write <file>  writes the 10,000-line file once
//   kyvo_resultfile_bench --load <file>   loads it once and prints the time,
//                                         for measuring peak memory alone
//                                         (e.g. under /usr/bin/time -v)
//   kyvo_resultfile_bench --write-hostile <file>
//                                         writes 200,000 short lines (5.4 MB)
//   kyvo_resultfile_bench --merge <file> [N]
//                                         merges the first N (default 25) of
//                                         the 10,000 measurements into it once,
//                                         as kyvo-cli read --out does

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "files/AtomicFile.h"
#include "files/ResultFileReader.h"
#include "files/ResultFileWriter.h"
#include "files/TextCodec.h"

namespace kyvo {
namespace {

constexpr int kMeasurements = 10000;

class TSilentDialogs : public IResultFileDialogs {
  public:
    std::optional<std::string> ChooseSaveFile() override { return std::nullopt; }
    void RememberResultFile(const std::string&) override {}
    EDialogAnswer AskYesNoCancel(const TLangEntry&) override { return EDialogAnswer::Cancel; }
    void ShowMessage(const TLangEntry& text, const TLangEntry*, const std::string&) override {
        std::fprintf(stderr, "message %u\n", text.ID);
    }
};

// Ten results, ten lines and 256 image values each: the largest line a
// measurement can have.
TMeasureList makeList(int count) {
    TMeasureList list;
    for (int i = 0; i < count; ++i) {
        auto s = std::make_unique<TMeasureSet>();
        s->TestID =
            "1 2 3 " + std::to_string(i % 256) + " 1807 0042 " + std::to_string(33752069 + i);
        s->TestName = "Test name " + std::to_string(i % 17);
        s->LotNr = "LOT" + std::to_string(100000 + i);
        s->Distr_Manu = "Distributor and manufacturer";
        setDateData(s->DateTime, 18, static_cast<std::uint8_t>(1 + i % 12),
                    static_cast<std::uint8_t>(1 + i % 28), static_cast<std::uint8_t>(i % 24),
                    static_cast<std::uint8_t>(i % 60), static_cast<std::uint8_t>((i / 60) % 60));
        s->UserComment = i % 3 ? "" : "comment of measurement " + std::to_string(i);
        s->Voltage = std::to_string(3600 + i % 400);
        s->Temperature = "23.50";
        for (int r = 0; r < 10; ++r) {
            s->ResultList.push_back({"Valid", "Result " + std::to_string(r),
                                     std::to_string(r * 7 % 100) + ".5", "mg/l",
                                     r % 2 ? "positive" : ""});
        }
        s->MeasureResult.LineCount = 10;
        for (auto& l : s->MeasureResult.Results().Line) {
            l = {1234.56f, 12.5f, 3999.25f, 800.75f, 810.5f, 128.0f, 31, -5, 12};
        }
        std::vector<std::int32_t> image(kMaxImageValues);
        for (std::size_t k = 0; k < image.size(); ++k) {
            image[k] = static_cast<std::int32_t>((k * 131 + static_cast<std::size_t>(i)) % 4096);
        }
        ScaleLineImage(*s, image);
        list.push_back(std::move(s));
    }
    return list;
}

const TMeasureList& sharedList() {
    static const TMeasureList list = makeList(kMeasurements);
    return list;
}

std::string scratchFile(const char* name) {
    return (std::filesystem::temp_directory_path() /
            ("kyvo-bench-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

bool save(const TMeasureList& list, const std::string& path) {
    TSaveRequest r;
    r.Mode = ESaveMode::LastFile;
    r.Layout = TSVVLong;
    r.LastFile = path;
    TSilentDialogs dialogs;
    return SaveMeasureList(list, r, dialogs).Result == ESaveResult::Saved;
}

void BM_SaveNewFile(benchmark::State& state) {
    const auto& list = sharedList();
    const std::string path = scratchFile("fresh.tsv");
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(path);
        state.ResumeTiming();
        if (!save(list, path)) state.SkipWithError("save failed");
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
}
BENCHMARK(BM_SaveNewFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_MergeIntoFileWithTheSameLines(benchmark::State& state) {
    const auto& list = sharedList();
    const std::string path = scratchFile("merge.tsv");
    save(list, path);
    const auto before = std::filesystem::file_size(path);
    for (auto _ : state) {
        if (!save(list, path)) state.SkipWithError("save failed");
    }
    if (std::filesystem::file_size(path) != before) state.SkipWithError("merge changed the file");
    std::filesystem::remove(path);
}
BENCHMARK(BM_MergeIntoFileWithTheSameLines)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_LoadFile(benchmark::State& state) {
    const std::string path = scratchFile("load.tsv");
    save(sharedList(), path);
    TSilentDialogs dialogs;
    for (auto _ : state) {
        TMeasureList loaded;
        const auto out = LoadMeasureFile(path, TSVVLong, loaded, dialogs, Unsorted);
        if (out.Result != ELoadResult::Loaded || loaded.size() != kMeasurements) {
            state.SkipWithError("load failed");
        }
        state.PauseTiming();
        loaded.clear();
        state.ResumeTiming();
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int loadOnce(const char* path) {
    TSilentDialogs dialogs;
    TMeasureList loaded;
    const auto t0 = std::chrono::steady_clock::now();
    const auto out = LoadMeasureFile(path, TSVVLong, loaded, dialogs, Unsorted);
    const auto ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0);
    std::printf("loaded %zu measurements of %s (%ju bytes) in %.1f ms\n", loaded.size(), path,
                static_cast<std::uintmax_t>(std::filesystem::file_size(path)), ms.count());
    return out.Result == ELoadResult::Loaded ? 0 : 1;
}

// A file anyone could hand over: the long layout's header and 200,000 lines
// of just an ID, a date and empty fields (27 bytes each in UTF-16).
int writeHostile(const char* path) {
    std::vector<std::string> lines{BuildTsvHeader(TSVVLong)};
    for (int i = 0; i < 200000; ++i) lines.push_back(std::to_string(i) + "\t\t\t\t1\t");
    const std::string bytes = encodeTextLines(lines);
    return writeFileAtomically(path, bytes) ? 0 : 1;
}

int mergeOnce(const char* path, int count) {
    const TMeasureList list = makeList(count);
    const auto before = std::filesystem::file_size(path);
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = save(list, path);
    const auto ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0);
    std::printf("merged %d measurements into %s (%ju bytes, now %ju) in %.1f ms\n", count, path,
                static_cast<std::uintmax_t>(before),
                static_cast<std::uintmax_t>(std::filesystem::file_size(path)), ms.count());
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace kyvo

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write") == 0) {
        return kyvo::save(kyvo::makeList(kyvo::kMeasurements), argv[2]) ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "--load") == 0) return kyvo::loadOnce(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--write-hostile") == 0)
        return kyvo::writeHostile(argv[2]);
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--merge") == 0)
        return kyvo::mergeOnce(argv[2], argc == 4 ? std::atoi(argv[3]) : 25);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
