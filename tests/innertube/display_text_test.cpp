#include <gtest/gtest.h>

#include "sarn/innertube/display_text.h"

namespace sarn::innertube {
namespace {

TEST(DisplayText, Counts) {
    struct Case {
        const char* text;
        std::optional<std::uint64_t> count;
    };
    static const Case kCases[] = {
        {"1,862 views", 1862},
        {"12,916 views", 12916},
        {"2.6m views", 2600000},
        {"2.6M views", 2600000},
        {"1.8k views", 1800},
        {"8.84k subscribers", 8840},
        {"25m subscribers", 25000000},
        {"1.15m subscribers", 1150000},
        {"1.2B views", 1200000000},
        {"2.3 million subscribers", 2300000},
        {"23.2 thousand subscribers", 23200},
        {"10,226 watching now", 10226},
        {"like this video along with 469,694 other people", 469694},
        {"1 234 567 views", 1234567},
        {"1\xC2\xA0" "234 views", 1234},
        {"5 months ago", 5},  // "m" starting a word is no scale
        {"49 videos", 49},
        {"No views", 0},
        {"No subscribers", 0},
        {"Nothing here", std::nullopt},
        {"No", std::nullopt},
        {"", std::nullopt},
        {"Like", std::nullopt},
        {"99999999999999999999999 views", UINT64_MAX},
        {"99999999999999999999999B views", UINT64_MAX},
    };
    for (const auto& c : kCases) EXPECT_EQ(parse_count(c.text), c.count) << c.text;
}

// Every count form of the British and the American English interfaces.
TEST(DisplayText, CountsOfBothEnglishInterfaces) {
    struct Case {
        const char* text;
        std::optional<std::uint64_t> count;
    };
    static const Case kCases[] = {
        // British English
        {"2.3bn views", 2'300'000'000},
        {"2bn views", 2'000'000'000},
        {"12.4bn views", 12'400'000'000},
        {"1.2M views", 1'200'000},
        {"12M views", 12'000'000},
        {"3.4K views", 3'400},
        {"856K subscribers", 856'000},
        // American English
        {"2.3B views", 2'300'000'000},
        {"2B views", 2'000'000'000},
        {"1.2M subscribers", 1'200'000},
        {"15M views", 15'000'000},
        {"9.9K views", 9'900},
        {"10K views", 10'000},
        // Either
        {"No views", 0},
        {"1 view", 1},
        {"0 views", 0},
        {"999 views", 999},
        {"1,234 views", 1'234},
        {"1,234,567 views", 1'234'567},
        {"12,345,678,901 views", 12'345'678'901},
        {"1,234,567 watching", 1'234'567},
        {"2bn", 2'000'000'000},
        {"4.5k", 4'500},
    };
    for (const auto& c : kCases) EXPECT_EQ(parse_count(c.text), c.count) << c.text;
}

TEST(DisplayText, Durations) {
    struct Case {
        const char* text;
        std::optional<std::uint32_t> seconds;
    };
    static const Case kCases[] = {
        {"2:16", 136},       {"1:07:34", 4054}, {"0:42", 42},     {" 12:00 ", 720}, {"59", 59},
        {"LIVE", std::nullopt}, {"SHORTS", std::nullopt}, {"", std::nullopt}, {"1::2", std::nullopt},
        {"1:2:3:4", std::nullopt}, {":30", std::nullopt}, {"4:", std::nullopt}, {"99999999999:00", std::nullopt},
    };
    for (const auto& c : kCases) EXPECT_EQ(parse_duration(c.text), c.seconds) << c.text;
}

TEST(DisplayText, CommentInitials) {
    struct Case {
        const char* author;
        const char* initials;
    };
    static const Case kCases[] = {
        {"ada lovelace", "AL"},
        {"grace brewster hopper", "GB"},  // only the first two words
        {"   ", "?"},
        {"", "?"},
        {"@mkbhd", "M"},
        {"@", "@"},
        {"Émile zola", "\xC3\x89Z"},  // a whole character, only ASCII is upper-cased
        {"\t x \n y", "XY"},
        {"ada\xC2\xA0lovelace", "AL"},              // a no-break space separates words
        {"\xE3\x80\x80kim\xE2\x80\x83lee", "KL"},   // ideographic and em spaces
        {"x\xE2\x80\x8By", "X"},                   // a zero-width space does not
    };
    for (const auto& c : kCases) EXPECT_EQ(comment_initials(c.author), c.initials) << c.author;
}

}  // namespace
}  // namespace sarn::innertube
