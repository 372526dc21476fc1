// What the action palette's entries cost for one keystroke over a library of
// 10,000 videos (a tenth of their titles beyond ASCII) and 300 channels:
// queries typed letter by letter, from one letter that matches most titles
// to words that match few or none. Each keystroke builds the palette's
// source from the Library and takes its entries, as the overlay does. The
// baseline is a linear scan of the titles (each lower-cased and searched),
// timed in the same run. The goal is a median under 2 ms.
#include <fmt/format.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "frame_rig.h"
#include "sarn/app/palette_search.h"

namespace {

using namespace sarn;

constexpr std::size_t kVideos = 10'000;
constexpr std::size_t kChannels = 300;
constexpr double kGoalMs = 2.0;

Library big_library() {
    static const char* const kWords[] = {"mortar", "garden", "rocket", "kitchen", "guitar", "review", "travel",
                                         "science", "history", "build", "repair", "live", "music", "news"};
    static const char* const kOthers[] = {"Café à Paris", "Путешествие на север", "日本の旅", "Straße der Musik",
                                          "Ελληνική κουζίνα"};
    Library library;
    for (std::size_t c = 0; c < kChannels; ++c) {
        Channel channel;
        channel.id = fmt::format("UCpal{:04}", c);
        channel.name = fmt::format("{} Channel {}", kWords[c % std::size(kWords)], c);
        channel.handle = fmt::format("@{}{}", kWords[(c + 3) % std::size(kWords)], c);
        library.channels.push_back(std::move(channel));
    }
    for (std::size_t i = 0; i < kVideos; ++i) {
        Video video;
        video.id = fmt::format("pal{:08}", i);
        video.title = i % 10 == 9 ? fmt::format("{} {}", kOthers[(i / 10) % std::size(kOthers)], i)
                                  : fmt::format("How to {} a {} in {} steps", kWords[i % std::size(kWords)],
                                                kWords[(i / 7) % std::size(kWords)], i % 40);
        const Channel& channel = library.channels[i % kChannels];
        video.channel_id = channel.id;
        video.channel_name = channel.name;
        video.category = kWords[(i / 3) % std::size(kWords)];
        video.duration = 30 + static_cast<std::uint32_t>(i % 3000);
        library.videos.push_back(std::move(video));
    }
    return library;
}

// Every prefix of each word, as the user types it.
std::vector<std::string> keystrokes() {
    std::vector<std::string> out;
    for (const std::string word : {"mortar", "café", "日本の", "qzx", "3 steps"}) {
        for (std::size_t i = 1; i <= word.size(); ++i) {
            // Only whole characters.
            if (i < word.size() && (static_cast<unsigned char>(word[i]) & 0xc0) == 0x80) continue;
            out.push_back(word.substr(0, i));
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const Library library = big_library();
    const auto queries = keystrokes();

    std::vector<double> entries_ms;
    std::vector<double> scan_ms;
    std::size_t shown = 0;
    std::size_t scanned_matches = 0;
    for (int round = 0; round < rounds; ++round) {
        for (const std::string& query : queries) {
            {
                const auto t0 = bench::Clock::now();
                PaletteSource source = palette_source_for(library);
                const auto entries = palette_channel_matches(source, library, query);
                entries_ms.push_back(bench::ms_since(t0));
                shown += entries.size();
            }
            {
                const auto t0 = bench::Clock::now();
                const std::string needle = lowercase(query);
                std::vector<const Video*> found;
                for (const Video& video : library.videos) {
                    if (lowercase(video.title).find(needle) != std::string::npos) found.push_back(&video);
                }
                scan_ms.push_back(bench::ms_since(t0));
                scanned_matches += found.size();
            }
        }
    }
    const double entries = bench::median_of(entries_ms);
    const double scan = bench::median_of(scan_ms);
    fmt::print("app palette entries per keystroke: {} videos, {} channels, {} keystrokes x {} rounds\n", kVideos,
               kChannels, queries.size(), rounds);
    fmt::print("    baseline: linear scan of the titles median {:8.3f} ms ({} matches in all)\n", scan,
               scanned_matches);
    fmt::print("    palette entries                     median {:8.3f} ms, max {:8.3f} ms ({} entries in all)\n",
               entries, *std::max_element(entries_ms.begin(), entries_ms.end()), shown);
    fmt::print("    ratio scan/entries {:.1f}x; goal, median under {:.0f} ms: {}\n", entries > 0 ? scan / entries : 0.0,
               kGoalMs, entries < kGoalMs ? "goal met" : "goal not met");
    return 0;
}
