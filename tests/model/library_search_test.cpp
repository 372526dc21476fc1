// The local search matches ASCII fields in place and others through full
// Unicode lower-casing; both must find exactly what lower-casing every field
// would find, and a limit keeps the first matches in order.
#include <gtest/gtest.h>

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <string>
#include <vector>

#include "sarn/model/library.h"

namespace sarn {
namespace {

std::string lowered(const std::string& text) {
    icu::UnicodeString unicode =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.toLower(icu::Locale::getRoot());
    std::string out;
    unicode.toUTF8String(out);
    return out;
}

TEST(LibrarySearch, FindsWhatLowerCasingEveryFieldFinds) {
    const std::vector<std::string> titles = {
        "Rust TALK 2024", "rust talk", "İstanbul at night", "KELVIN \xe2\x84\xaa scale", "Straße", "ÉCOLE",
        "plain ascii", "\xff broken UTF-8 TALK", "MiXeD CaSe", "istanbul", "Ωmega", "",
    };
    const std::vector<std::string> queries = {"talk", "TALK", "  Rust ", "i̇stanbul", "istanbul", "k", "ß",
                                              "école", "mixed case", "ω", "\xff", "zzz", "st"};
    Library library;
    for (std::size_t i = 0; i < titles.size(); ++i) {
        Video video;
        video.id = "v" + std::to_string(i);
        video.title = titles[i];
        video.channel_name = i % 3 == 0 ? "CHANNEL Über" : "channel";
        video.category = i % 4 == 0 ? "Science" : "";
        library.videos.push_back(std::move(video));
    }
    for (const std::string& query : queries) {
        const std::string needle = lowercase(query);
        std::vector<std::string> expected;
        for (const Video& video : library.videos) {
            if (lowered(video.title).find(needle) != std::string::npos ||
                lowered(video.channel_name).find(needle) != std::string::npos ||
                lowered(video.category).find(needle) != std::string::npos) {
                expected.push_back(video.id);
            }
        }
        std::vector<std::string> found;
        for (const Video* video : library.search_library(query)) found.push_back(video->id);
        EXPECT_EQ(found, expected) << query;

        // The first two of them, when limited to two.
        std::vector<std::string> first;
        for (const Video* video : library.search_library(query, 2)) first.push_back(video->id);
        expected.resize(std::min<std::size_t>(expected.size(), 2));
        EXPECT_EQ(first, expected) << query;
    }
}

}  // namespace
}  // namespace sarn
