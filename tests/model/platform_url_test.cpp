#include "sarn/model/platform_url.h"

#include <gtest/gtest.h>

namespace sarn {
namespace {

TEST(NormalizeWatchUrl, AcceptsTheThreeOriginsAndRefusesTheRest) {
    const std::string long_rest(232, 'a');
    struct Row {
        std::string input;
        std::optional<std::string> expected;
    };
    const Row rows[] = {
        {"https://m.youtube.com/watch?v=abc", "https://youtube.com/watch?v=abc"},
        {"https://www.youtube.com/@handle", "https://youtube.com/@handle"},
        {"  https://youtube.com/channel/UC1  ", "https://youtube.com/channel/UC1"},
        {"https://youtube.com/" + long_rest, "https://youtube.com/" + long_rest},
        {"https://youtube.com/" + long_rest + "a", std::nullopt},
        {"https://youtube.com/", std::nullopt},
        {"https://youtube.com/a\tb", std::nullopt},
        {"https://youtube.com/a\xc2\x85" "b", std::nullopt},  // U+0085, a C1 control
        {"https://youtube.com/caf\xc3\xa9", "https://youtube.com/caf\xc3\xa9"},
        {"https://example.com/watch?v=abc", std::nullopt},
        {"http://youtube.com/watch", std::nullopt},
        {"https://youtube.com.evil/x", std::nullopt},
        {"", std::nullopt},
        // White space is trimmed by its Unicode property, not only ASCII.
        {"\xc2\xa0https://youtube.com/x\xe2\x80\x83", "https://youtube.com/x"},  // NBSP, em space
        {"https://youtube.com/x\xc2\x85", "https://youtube.com/x"},               // NEL, trailing
        {"\xe3\x80\x80https://www.youtube.com/@h\n", "https://youtube.com/@h"},    // ideographic space
        {"https://youtube.com/x\xe2\x80\x8b", "https://youtube.com/x\xe2\x80\x8b"},  // zero-width space stays
        {"\xc2\xa0\xe2\x80\x83", std::nullopt},
    };
    for (const Row& row : rows) EXPECT_EQ(normalize_watch_url(row.input), row.expected) << row.input;
}

}  // namespace
}  // namespace sarn
