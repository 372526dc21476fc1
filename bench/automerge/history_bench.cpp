// Loads and saves owner history documents (owner_history/entries, each entry
// the JSON text of its record, one change per entry) of 1,000, 10,000 and
// 50,000 entries with our engine and with the official package under Node in
// the same run, and prints the time ratios and whether both wrote the same
// bytes.
#include <automerge/document.h>
#include <fmt/core.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
    pclose(pipe);
    return out;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

}  // namespace

int main() {
    const fs::path harness = fs::path(VORN_SOURCE_DIR) / "tests" / "automerge" / "node";
    const fs::path work = fs::path(VORN_BINARY_DIR) / "automerge-bench";
    fs::create_directories(work);
    if (!fs::exists(harness / "node_modules" / "@automerge" / "automerge")) {
        fmt::print(stderr, "the official package is missing: run scripts/setup.sh\n");
        return 1;
    }
    fmt::print("{:>8} {:>12} {:>12} {:>8} {:>12} {:>12} {:>8}  {}\n", "entries", "load ours", "load node",
               "ratio", "save ours", "save node", "ratio", "output");
    for (int entries : {1000, 10000, 50000}) {
        const int rounds = entries >= 50000 ? 3 : 5;
        const fs::path file = work / fmt::format("history-{}.automerge", entries);
        std::string report = run(fmt::format("cd '{}' && node bench_peer.mjs {} '{}' {}", harness.string(), entries,
                                             file.string(), rounds));
        auto official = nlohmann::json::parse(report, nullptr, false);
        if (official.is_discarded()) {
            fmt::print(stderr, "node peer failed: {}\n", report);
            return 1;
        }
        std::ifstream in(file, std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});

        // One untimed round first (the official side has warmed up on
        // building the document), then the median of seven.
        std::vector<double> loads, saves;
        std::vector<std::uint8_t> ours;
        for (int r = 0; r < 8; ++r) {
            auto t0 = Clock::now();
            auto doc = automerge::Document::load(bytes);
            if (r > 0) loads.push_back(ms_since(t0));
            if (!doc) {
                fmt::print(stderr, "load failed: {}\n", doc.error().message);
                return 1;
            }
            auto t1 = Clock::now();
            ours = doc->save();
            if (r > 0) saves.push_back(ms_since(t1));
        }
        double lo = median(loads), so = median(saves);
        double ln = official["load_ms"].get<double>(), sn = official["save_ms"].get<double>();
        const char* same = ours == bytes ? "identical bytes" : "BYTES DIFFER";
        fmt::print("{:>8} {:>10.2f}ms {:>10.2f}ms {:>7.1f}x {:>10.2f}ms {:>10.2f}ms {:>7.1f}x  {} ({} bytes)\n", entries,
                   lo, ln, ln / lo, so, sn, sn / so, same, bytes.size());
    }
    return 0;
}
