// Encoding and decoding of the action vocabulary, in actions per second.
// After the Google Benchmark runs, prints our decoder and encoder against a
// baseline measured in the same run: nlohmann's DOM parse of the same bytes
// (which checks syntax only and builds no typed value) and nlohmann's dump of
// a prebuilt tree of the same documents.
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sarn/model/action.h"
#include "sarn/model/operation.h"

namespace {

// One value of every action variant, with texts of a realistic length.
const std::vector<sarn::SarnAction>& actions() {
    using namespace sarn::action;
    static const std::vector<sarn::SarnAction> values = {
        LikeVideo{"dQw4w9WgXcQ"},
        SetVideoLiked{"dQw4w9WgXcQ", true},
        AddToQueue{"9bZkp7q19f0"},
        SetQueueMembership{"9bZkp7q19f0", false},
        SetHistoryEntry{"user:4f1c2a9e", "kJQP7kiw5Fk", 1733829123456, true, "user:4f1c2a9e:watch:kJQP7kiw5Fk:1733829123456"},
        ClearHistory{"user:4f1c2a9e", 1733829123456, "user:4f1c2a9e:clear:all:1733829123456"},
        ToggleSubscription{"UCuAXFkgsw1L7xaCfnd5JJOw"},
        SetSubscription{"UCuAXFkgsw1L7xaCfnd5JJOw", true},
        SetSetting{sarn::Setting::DeArrowThumbnails, false},
        CyclePreferredQuality{},
        SetPreferredQuality{"1080p"},
        SetSponsorCategory{sarn::SponsorCategory::MusicOfftopic, sarn::SponsorMode::Show},
        LikeComment{"dQw4w9WgXcQ", 17, "UgzX1b2c3d4e5f6g7h8i9j"},
        SetCommentLiked{"UgzX1b2c3d4e5f6g7h8i9j", true},
        ReplyToComment{"dQw4w9WgXcQ", 17, "UgzX1b2c3d4e5f6g7h8i9j", "Totally agree \u2014 the bridge at 2:31 is the best part!"},
        SetCommentReply{"UgzX1b2c3d4e5f6g7h8i9j", "reply-0f1e2d3c4b5a6978", "Thanks, \"noted\".", true},
    };
    return values;
}

const std::vector<std::string>& documents() {
    static const std::vector<std::string> docs = [] {
        std::vector<std::string> out;
        for (const auto& action : actions()) out.push_back(sarn::encode_json(action));
        return out;
    }();
    return docs;
}

const std::vector<nlohmann::json>& trees() {
    static const std::vector<nlohmann::json> values = [] {
        std::vector<nlohmann::json> out;
        for (const auto& doc : documents()) out.push_back(nlohmann::json::parse(doc));
        return out;
    }();
    return values;
}

void decode_all() {
    for (const auto& doc : documents()) benchmark::DoNotOptimize(sarn::decode_action(doc));
}
void parse_all_baseline() {
    for (const auto& doc : documents()) benchmark::DoNotOptimize(nlohmann::json::parse(doc, nullptr, false));
}
void encode_all() {
    for (const auto& action : actions()) benchmark::DoNotOptimize(sarn::encode_json(action));
}
void dump_all_baseline() {
    for (const auto& tree : trees()) benchmark::DoNotOptimize(tree.dump());
}

void BM_DecodeAction(benchmark::State& state) {
    for (auto _ : state) decode_all();
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * documents().size()));
}
BENCHMARK(BM_DecodeAction);

void BM_EncodeAction(benchmark::State& state) {
    for (auto _ : state) encode_all();
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * actions().size()));
}
BENCHMARK(BM_EncodeAction);

void BM_DebugText(benchmark::State& state) {
    for (auto _ : state) {
        for (const auto& action : actions()) benchmark::DoNotOptimize(sarn::debug_text(action));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * actions().size()));
}
BENCHMARK(BM_DebugText);

void BM_DecodeOperation(benchmark::State& state) {
    static const std::string doc = sarn::encode_json(sarn::SarnOperation(sarn::operation::Navigate{sarn::Route::search("lofi hip hop")}));
    for (auto _ : state) benchmark::DoNotOptimize(sarn::decode_operation(doc));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_DecodeOperation);

void BM_BaselineNlohmannParse(benchmark::State& state) {
    for (auto _ : state) parse_all_baseline();
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * documents().size()));
}
BENCHMARK(BM_BaselineNlohmannParse);

void BM_BaselineNlohmannDump(benchmark::State& state) {
    for (auto _ : state) dump_all_baseline();
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * trees().size()));
}
BENCHMARK(BM_BaselineNlohmannDump);

template <class Fn>
double seconds_per_run(Fn&& fn) {
    using Clock = std::chrono::steady_clock;
    for (int i = 0; i < 100; ++i) fn();
    int runs = 0;
    const auto start = Clock::now();
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

    const double count = static_cast<double>(documents().size());
    const double decode = seconds_per_run(decode_all) / count;
    const double parse = seconds_per_run(parse_all_baseline) / count;
    const double encode = seconds_per_run(encode_all) / count;
    const double dump = seconds_per_run(dump_all_baseline) / count;
    fmt::print("decode_action:          {:.0f} ns per action, {:.2f} M actions/s\n", decode * 1e9, 1e-6 / decode);
    fmt::print("baseline nlohmann parse: {:.0f} ns per action, {:.2f} M actions/s\n", parse * 1e9, 1e-6 / parse);
    fmt::print("ratio parse/decode:      {:.1f}x\n", parse / decode);
    fmt::print("encode_json:            {:.0f} ns per action, {:.2f} M actions/s\n", encode * 1e9, 1e-6 / encode);
    fmt::print("baseline nlohmann dump:  {:.0f} ns per action, {:.2f} M actions/s\n", dump * 1e9, 1e-6 / dump);
    fmt::print("ratio dump/encode:       {:.1f}x\n", dump / encode);
    return 0;
}
