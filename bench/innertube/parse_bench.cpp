// Parsing speed of the largest recorded search answer. The baseline is a
// plain nlohmann-json DOM parse of the same bytes (no records built), run in
// the same process; the summary prints the time per answer, MB/s and the
// ratio against that baseline.
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "sarn/innertube/parse.h"

namespace {

std::optional<std::string> largest_search_answer() {
    auto dir = std::filesystem::path(VORN_SHARED_DIR) / "fixtures" / "innertube";
    std::error_code ec;
    std::filesystem::path best;
    std::uintmax_t best_size = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        auto name = entry.path().filename().string();
        if (!name.starts_with("search-")) continue;
        if (entry.file_size() > best_size) {
            best_size = entry.file_size();
            best = entry.path();
        }
    }
    if (best.empty()) return std::nullopt;
    std::ifstream in(best, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

const std::optional<std::string>& body() {
    static const std::optional<std::string> answer = largest_search_answer();
    return answer;
}

void BM_ParseSearch(benchmark::State& state) {
    if (!body()) {
        state.SkipWithError("recorded answers not present");
        return;
    }
    for (auto _ : state) {
        auto page = sarn::innertube::parse_search(*body());
        benchmark::DoNotOptimize(page);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body()->size()));
}
BENCHMARK(BM_ParseSearch)->Unit(benchmark::kMillisecond);

void BM_BaselineNlohmannDom(benchmark::State& state) {
    if (!body()) {
        state.SkipWithError("recorded answers not present");
        return;
    }
    for (auto _ : state) {
        auto doc = nlohmann::json::parse(*body(), nullptr, false);
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body()->size()));
}
BENCHMARK(BM_BaselineNlohmannDom)->Unit(benchmark::kMillisecond);

template <class Fn>
double seconds_per_run(Fn&& fn) {
    using Clock = std::chrono::steady_clock;
    for (int i = 0; i < 5; ++i) fn();
    int runs = 0;
    auto start = Clock::now();
    do {
        fn();
        ++runs;
    } while (Clock::now() - start < std::chrono::milliseconds(500));
    return std::chrono::duration<double>(Clock::now() - start).count() / runs;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!body()) return 0;
    double ours = seconds_per_run([] { benchmark::DoNotOptimize(sarn::innertube::parse_search(*body())); });
    double baseline = seconds_per_run([] { benchmark::DoNotOptimize(nlohmann::json::parse(*body(), nullptr, false)); });
    double megabytes = static_cast<double>(body()->size()) / 1e6;
    fmt::print("search answer: {:.0f} KB\n", static_cast<double>(body()->size()) / 1e3);
    fmt::print("parse_search:           {:.3f} ms per answer, {:.0f} MB/s (goal: under 3 ms)\n", ours * 1e3,
               megabytes / ours);
    fmt::print("baseline nlohmann DOM:  {:.3f} ms per answer, {:.0f} MB/s\n", baseline * 1e3, megabytes / baseline);
    fmt::print("ratio baseline/ours:    {:.1f}x\n", baseline / ours);
    return 0;
}
