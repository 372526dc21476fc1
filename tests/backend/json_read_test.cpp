#include "sarn/backend/json_read.h"

#include <gtest/gtest.h>

#include "sarn/backend/text.h"

namespace {

namespace jr = sarn::json_read;
using nlohmann::json;

TEST(JsonRead, ReadersAreTotal) {
    const json v = json::parse(R"({"s": "x", "e": "", "n": 5, "neg": -5, "f": 2.5, "b": true,
        "big": 18446744073709551615, "o": {}, "a": [1]})");
    EXPECT_EQ(jr::text(v, "s"), "x");
    EXPECT_EQ(jr::text(v, "n"), "");
    EXPECT_EQ(jr::text(v, "missing"), "");
    EXPECT_EQ(jr::first_text(v, {"e", "n", "s"}), "x");
    EXPECT_EQ(jr::first_text(v, {"e", "missing"}), "");
    EXPECT_EQ(jr::count(v, "n"), 5u);
    EXPECT_EQ(jr::count(v, "neg"), 0u);
    EXPECT_EQ(jr::count(v, "f"), 0u);
    EXPECT_EQ(jr::count(v, "s"), 0u);
    EXPECT_EQ(jr::count(v, "big"), 18446744073709551615u);
    EXPECT_FALSE(jr::count_if_present(v, "neg").has_value());
    EXPECT_EQ(jr::signed_count(v, "neg"), -5);
    EXPECT_EQ(jr::signed_count(v, "big"), 0);
    EXPECT_EQ(jr::signed_count(v, "f"), 0);
    EXPECT_TRUE(jr::flag(v, "b"));
    EXPECT_FALSE(jr::flag(v, "n"));
    EXPECT_DOUBLE_EQ(jr::number(v, "f"), 2.5);
    EXPECT_DOUBLE_EQ(jr::number(v, "neg"), -5.0);
    EXPECT_DOUBLE_EQ(jr::number(v, "s"), 0.0);
    EXPECT_NE(jr::array(v, "a"), nullptr);
    EXPECT_EQ(jr::array(v, "o"), nullptr);
    for (const json& not_object : {json(nullptr), json(3), json("s"), json::array({1})}) {
        EXPECT_EQ(jr::text(not_object, "s"), "");
        EXPECT_EQ(jr::count(not_object, "n"), 0u);
        EXPECT_EQ(jr::member(not_object, "s"), nullptr);
    }
}

TEST(JsonRead, ParseRefusesBadAndDeepInput) {
    EXPECT_TRUE(jr::parse(R"({"a": [1, 2]})").has_value());
    EXPECT_FALSE(jr::parse("").has_value());
    EXPECT_FALSE(jr::parse("{").has_value());
    EXPECT_FALSE(jr::parse("[1] 2").has_value());
    EXPECT_FALSE(jr::parse("\"\xff\"").has_value());
    EXPECT_FALSE(jr::parse(std::string(100000, '[')).has_value());
    EXPECT_TRUE(jr::parse(std::string(200, '[') + std::string(200, ']')).has_value());
    // Brackets inside strings do not count as nesting.
    EXPECT_TRUE(jr::parse("\"" + std::string(1000, '[') + "\"").has_value());
}

TEST(Utf8Lossy, ReplacesInvalidSequences) {
    struct Row {
        std::string_view in;
        std::string_view out;
    };
    const Row rows[] = {
        {"plain", "plain"},
        {"é€𝄞", "é€𝄞"},
        {"a\xff" "b", "a\xEF\xBF\xBD" "b"},
        {"\xC3", "\xEF\xBF\xBD"},                       // cut short
        {"\xE2\x82", "\xEF\xBF\xBD"},                   // one replacement for the broken prefix
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},       // overlong
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
        {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // past U+10FFFF
    };
    for (const Row& row : rows) EXPECT_EQ(sarn::utf8_lossy(row.in), row.out);
}

TEST(TrimWhiteSpace, UnicodeWhiteSpaceAtBothEnds) {
    struct Row {
        std::string_view in;
        std::string_view out;
    };
    const Row rows[] = {
        {"  a b \t\n", "a b"},
        {"\xC2\xA0x\xE3\x80\x80", "x"},          // no-break space, ideographic space
        {"\xE2\x80\x83x\xE2\x80\xA8", "x"},      // em space, line separator
        {"\xC3\xA9", "\xC3\xA9"},                 // a letter stays whole
        {"x\xE2\x80\x8B", "x\xE2\x80\x8B"},      // zero-width space is no white space
        {" \xC2", "\xC2"},                        // a cut character is kept
        {"\xC2\xA0", ""},
        {"", ""},
    };
    for (const Row& row : rows) EXPECT_EQ(sarn::trim_white_space(row.in), row.out) << row.in;
}

}  // namespace
