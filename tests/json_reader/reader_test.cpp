// The reader's building blocks, exercised through small shapes of the kind
// other vocabularies use: a plain record, a two-variant enum and a recursive
// enum. Expected texts are the reference decoder's.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "json_reader/reader.h"
#include "json_reader/text.h"

namespace json_reader {
namespace {

struct Record {
    bool present = false;
    std::uint64_t watched_at_ms = 0;
    std::string mutation_id;
};

constexpr std::array<std::string_view, 3> kRecordFields = {"present", "watched_at_ms", "mutation_id"};

Result<Record> read_record(Reader& reader) {
    Record record;
    auto done = reader.read_struct(StructShape{"struct HistoryEntryRecord", kRecordFields},
                                   [&](std::size_t index, Reader& r) -> Result<void> {
                                       switch (index) {
                                           case 0: {
                                               auto v = r.read_bool();
                                               if (!v) return std::unexpected(v.error());
                                               record.present = *v;
                                               return {};
                                           }
                                           case 1: {
                                               auto v = r.read_u64();
                                               if (!v) return std::unexpected(v.error());
                                               record.watched_at_ms = *v;
                                               return {};
                                           }
                                           default: {
                                               auto v = r.read_string();
                                               if (!v) return std::unexpected(v.error());
                                               record.mutation_id = *v;
                                               return {};
                                           }
                                       }
                                   });
    if (!done) return std::unexpected(done.error());
    return record;
}

std::string outcome(const Result<Record>& result) {
    if (!result) return "error: " + result.error().text();
    return "ok: " + std::to_string(result->present) + " " + std::to_string(result->watched_at_ms) + " " +
           result->mutation_id;
}

TEST(ReaderStruct, ObjectAndArrayFormsAndTheirRefusals) {
    struct Row {
        std::string_view input;
        std::string_view expected;
    };
    const Row rows[] = {
        {R"({"present":true,"watched_at_ms":5,"mutation_id":"m"})", "ok: 1 5 m"},
        {R"({"mutation_id":"m","x":[],"present":false,"watched_at_ms":0})", "ok: 0 0 m"},
        {R"([true,5,"m"])", "ok: 1 5 m"},
        {R"([true,5])", "error: invalid length 2, expected struct HistoryEntryRecord with 3 elements at line 1 column 8"},
        {R"([true])", "error: invalid length 1, expected struct HistoryEntryRecord with 3 elements at line 1 column 6"},
        {R"({"present":true,"mutation_id":"m"})", "error: missing field `watched_at_ms` at line 1 column 34"},
        {R"("x")", R"(error: invalid type: string "x", expected struct HistoryEntryRecord at line 1 column 3)"},
        {R"(null)", "error: invalid type: null, expected struct HistoryEntryRecord at line 1 column 4"},
        {R"({"present":true,"watched_at_ms":5,"mutation_id":"m")", "error: EOF while parsing an object at line 1 column 51"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(outcome(Reader::decode(row.input, read_record)), row.expected) << row.input;
    }
}

enum class Pair { Alpha, Beta };
constexpr std::array<std::string_view, 2> kPairNames = {"Alpha", "Beta"};

Result<Pair> read_pair(Reader& reader) {
    return reader.read_enum<Pair>(kPairNames, [](std::size_t index, VariantAccess& access) -> Result<Pair> {
        if (auto unit = access.unit(); !unit) return std::unexpected(unit.error());
        return static_cast<Pair>(index);
    });
}

TEST(ReaderEnum, UnitVariantsAndTheTwoNameWording) {
    EXPECT_EQ(Reader::decode(R"({"Beta":null})", read_pair), Pair::Beta);
    EXPECT_EQ(Reader::decode(R"("Gamma")", read_pair).error().text(),
              "unknown variant `Gamma`, expected `Alpha` or `Beta` at line 1 column 7");
    EXPECT_EQ(Reader::decode(R"({"Beta":{}})", read_pair).error().text(),
              "invalid type: map, expected unit at line 1 column 8");
    const std::array<std::string_view, 1> one = {"Only"};
    EXPECT_EQ(Error::unknown_variant("x", one).message, "unknown variant `x`, expected `Only`");
    EXPECT_EQ(Error::unknown_variant("x", {}).message, "unknown variant `x`, there are no variants");
}

// enum Nest { End, Deeper { inner: Nest } }: answers the depth.
constexpr std::array<std::string_view, 2> kNestNames = {"End", "Deeper"};
constexpr std::array<std::string_view, 1> kNestFields = {"inner"};

Result<int> read_nest(Reader& reader) {
    return reader.read_enum<int>(kNestNames, [](std::size_t index, VariantAccess& access) -> Result<int> {
        if (index == 0) {
            if (auto unit = access.unit(); !unit) return std::unexpected(unit.error());
            return 0;
        }
        int depth = 0;
        auto done = access.struct_fields(StructShape{"struct variant Nest::Deeper", kNestFields},
                                         [&](std::size_t, Reader& r) -> Result<void> {
                                             auto inner = read_nest(r);
                                             if (!inner) return std::unexpected(inner.error());
                                             depth = *inner + 1;
                                             return {};
                                         });
        if (!done) return std::unexpected(done.error());
        return depth;
    });
}

std::string nested_objects(int levels) {
    std::string s = R"("End")";
    for (int i = 0; i < levels; ++i) s = R"({"Deeper":{"inner":)" + s + "}}";
    return s;
}

std::string nested_arrays(int levels) {
    std::string s = R"("End")";
    for (int i = 0; i < levels; ++i) s = R"({"Deeper":[)" + s + "]}";
    return s;
}

TEST(ReaderNesting, StopsAtTheReferenceDepthButSkipsAnyDepth) {
    // Each level opens an enum object and a struct: 63 levels fit in 128.
    EXPECT_EQ(Reader::decode(nested_objects(63), read_nest), 63);
    EXPECT_EQ(Reader::decode(nested_objects(64), read_nest).error().text(), "recursion limit exceeded at line 1 column 1208");
    EXPECT_EQ(Reader::decode(nested_objects(5000), read_nest).error().text(), "recursion limit exceeded at line 1 column 1208");
    EXPECT_EQ(Reader::decode(nested_arrays(63), read_nest), 63);
    EXPECT_EQ(Reader::decode(nested_arrays(64), read_nest).error().text(), "recursion limit exceeded at line 1 column 704");
    // Skipped members have no depth limit and do not recurse.
    const std::string deep = std::string(R"({"Deeper":{"inner":"End","x":)") + std::string(200000, '[') +
                             std::string(200000, ']') + "}}";
    EXPECT_EQ(Reader::decode(deep, read_nest), 1);
}

TEST(ReaderText, FloatsShowAsTheReferenceLibraryShowsThem) {
    struct Row {
        double value;
        std::string text;
    };
    const Row rows[] = {
        {1.5, "1.5"},     {1000.0, "1000.0"},     {-0.0, "-0.0"},   {0.0, "0.0"},
        {1e-7, "0.0000001"}, {18446744073709551616.0, "18446744073709552000.0"},
        {0.1, "0.1"},     {-2.5e-3, "-0.0025"},   {123.456, "123.456"},
        {1e21, "1000000000000000000000.0"}, {5e-324, "0." + std::string(323, '0') + "5"},
    };
    for (const Row& row : rows) EXPECT_EQ(display_float(row.value), row.text) << row.value;
}

TEST(ReaderText, Utf8ChecksAndLossyText) {
    EXPECT_TRUE(is_valid_utf8(""));
    EXPECT_TRUE(is_valid_utf8("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"));
    for (std::string_view bad : {"\x80", "\xc3", "\xc0\xaf", "\xe0\x80\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xf8"}) {
        EXPECT_FALSE(is_valid_utf8(bad)) << testing::PrintToString(std::string(bad));
    }
    // One replacement per maximal invalid subsequence.
    EXPECT_EQ(lossy_utf8("a\xe2\x82z"), "a\xef\xbf\xbdz");
    EXPECT_EQ(lossy_utf8("\xed\xa0\x80"), "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");
    EXPECT_EQ(lossy_utf8("\xf0\x9f\x98"), "\xef\xbf\xbd");
}

}  // namespace
}  // namespace json_reader
