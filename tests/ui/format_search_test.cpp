#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "vorn_ui/color_compat.h"
#include "vorn_ui/control.h"
#include "vorn_ui/format.h"
#include "vorn_ui/search.h"
#include "vorn_ui/theme.h"

namespace {

using namespace vorn_ui;
using namespace vorn_ui::search;

TEST(Formatters, CountsDurationsAndAges) {
  struct Count {
    std::uint64_t n;
    const char* text;
  };
  const Count counts[] = {{0, "0"},           {999, "999"},       {1000, "1K"},          {1099, "1K"},
                          {1500, "1.5K"},     {9999, "9.9K"},     {12345, "12K"},        {999999, "999K"},
                          {1000000, "1M"},    {2750000, "2.7M"},  {1000000000, "1B"},    {18446744073709551615ull, "18446744T"}};
  for (const Count& c : counts) EXPECT_EQ(format::compact_count(c.n), c.text) << c.n;

  struct Time {
    std::uint64_t s;
    const char* text;
  };
  const Time times[] = {{0, "0:00"}, {5, "0:05"}, {59, "0:59"}, {754, "12:34"}, {3600, "1:00:00"}, {3723, "1:02:03"}};
  for (const Time& t : times) EXPECT_EQ(format::timecode(t.s), t.text) << t.s;

  const Time ages[] = {{0, "just now"},           {59, "just now"},          {60, "1 minute ago"},
                       {300, "5 minutes ago"},    {7200, "2 hours ago"},     {86400, "1 day ago"},
                       {15 * 86400, "2 weeks ago"}, {95 * 86400, "3 months ago"}, {800 * 86400, "2 years ago"}};
  for (const Time& t : ages) EXPECT_EQ(format::relative(t.s), t.text) << t.s;
}

TEST(Colours, EightBitAccessorsRoundAndClamp) {
  EXPECT_EQ(color_compat::ColorCompat(Color::rgba8(70, 48, 166)).r(), 70);
  EXPECT_EQ(color_compat::ColorCompat(Color{0.5f, 2.0f, -1.0f, 1.0f}).r(), 128);
  EXPECT_EQ(color_compat::ColorCompat(Color{0.5f, 2.0f, -1.0f, 1.0f}).g(), 255);
  EXPECT_EQ(color_compat::ColorCompat(Color{0.5f, 2.0f, -1.0f, 1.0f}).b(), 0);
  EXPECT_EQ(Theme::by_name("light").kind, Theme::Kind::Light);
  EXPECT_EQ(Theme::by_name("high-contrast").kind, Theme::Kind::HighContrast);
  EXPECT_EQ(Theme::by_name("Light").kind, Theme::Kind::Dark);
}

double luminance(Color c) {
  auto lin = [](std::uint8_t v) {
    const double x = v / 255.0;
    return x <= 0.03928 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
  };
  color_compat::ColorCompat cc(c);
  return 0.2126 * lin(cc.r()) + 0.7152 * lin(cc.g()) + 0.0722 * lin(cc.b());
}

double contrast(Color a, Color b) {
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST(Colours, ThemeTextIsReadableOnEverySurface) {
  for (const Theme& t : {Theme::dark(), Theme::light(), Theme::high_contrast()}) {
    const double need = t.kind == Theme::Kind::HighContrast ? 7.0 : 4.5;
    for (Color surface : {t.background, t.chrome, t.raised, t.control, t.control_hover, t.tile}) {
      EXPECT_GE(contrast(t.text, surface), need) << static_cast<int>(t.kind);
      EXPECT_GE(contrast(t.text_muted, surface), 4.5) << static_cast<int>(t.kind);
    }
    EXPECT_GE(contrast(t.accent, t.background), 3.0) << static_cast<int>(t.kind);
  }
}

TEST(ActionAddresses, EncodeAndDecode) {
  const ActionAddress samples[] = {{"sarn.video:abc", "open"}, {"sarn.history:a#b%c", "open"}, {"x", ""}};
  for (const auto& a : samples) EXPECT_EQ(vorn_ui::decode_address(vorn_ui::encode_address(a)), a);
  for (const char* bad : {"", "no-hash", "#open", "a#b#c", "a%2#b", "a%zz#b"})
    EXPECT_FALSE(decode_address(bad).has_value()) << bad;
}

SearchResult result(const std::string& key, const std::string& title, const std::string& section = "Videos") {
  return {title, section, SearchResult::action_text({key, "open"}), std::nullopt, std::uint16_t{74}};
}

TEST(SearchCatalogs, NormalizationAndPostings) {
  EXPECT_EQ(normalize_search_text("  Rust\tPROGRAMMING — Ünïcode!! "), "rust programming unicode");
  EXPECT_EQ(normalize_search_text("Pokémon ﬁle STRASSE Straße"), "pokemon file strasse strasse");
  EXPECT_EQ(normalize_search_text("Ἀθῆναι"), "αθηναι");
  // Marks of other scripts carry meaning and stay (decomposed).
  EXPECT_EQ(normalize_search_text("ライブ"), normalize_search_text("ライブ"));
  EXPECT_NE(normalize_search_text("ライブ"), normalize_search_text("ライフ"));
  EXPECT_EQ(normalize_search_text(std::string("a\0b", 3)), "a b");
  EXPECT_EQ(index_tokens("rust rust go"), (std::vector<std::string>{"rust", "go"}));
  EXPECT_EQ(index_grams("go").size(), 1u);
  EXPECT_EQ(index_grams("rust").size(), 2u);  // "rus", "ust"

  auto r = result("sarn.video:v1", "Rust in 100 seconds");
  EXPECT_EQ(r.action_address(), (ActionAddress{"sarn.video:v1", "open"}));
  SearchResult plain = r;
  plain.action = "open";
  EXPECT_FALSE(plain.action_address().has_value());
}

TEST(SearchCatalogs, QueriesMatchWordsAndParts) {
  SearchCatalog catalog("Sarn");
  EXPECT_EQ(*catalog.name(), "Sarn");
  catalog.upsert("sarn.video:v1", std::string("Rust in 100 seconds\0Fireship\0v1", 31), result("sarn.video:v1", "Rust in 100 seconds"));
  catalog.upsert("sarn.video:v2", std::string("Learning Go\0Gopher Academy\0v2", 30), result("sarn.video:v2", "Learning Go"));
  catalog.upsert("sarn.channel:c1", std::string("Fireship\0@fireship\0c1", 21), result("sarn.channel:c1", "Fireship", "Creators"));

  auto titles = [](const std::vector<SearchResult>& rs) {
    std::vector<std::string> out;
    for (const auto& r : rs) out.push_back(r.title);
    return out;
  };
  EXPECT_EQ(titles(catalog.search_limited("fire", 10)), (std::vector<std::string>{"Fireship", "Rust in 100 seconds"}));
  EXPECT_EQ(titles(catalog.search_limited("RUST 100", 10)), (std::vector<std::string>{"Rust in 100 seconds"}));
  EXPECT_EQ(titles(catalog.search_limited("pher", 10)), (std::vector<std::string>{"Learning Go"}));  // inside a word
  EXPECT_TRUE(catalog.search_limited("rust go", 10).empty());  // every word must match
  EXPECT_TRUE(catalog.search_limited("   ", 10).empty());
  EXPECT_EQ(catalog.search_limited("fire", 1).size(), 1u);

  // The same key replaces the entry and its postings.
  catalog.upsert("sarn.video:v1", "Zig tour", result("sarn.video:v1", "Zig tour"));
  EXPECT_EQ(catalog.stats().entries, 3u);
  EXPECT_EQ(titles(catalog.search_limited("fire", 10)), (std::vector<std::string>{"Fireship"}));
  EXPECT_EQ(titles(catalog.search_limited("zig", 10)), (std::vector<std::string>{"Zig tour"}));
  EXPECT_TRUE(catalog.remove("sarn.video:v1"));
  EXPECT_FALSE(catalog.remove("sarn.video:v1"));
  EXPECT_TRUE(catalog.search_limited("zig", 10).empty());
}

TEST(SearchCatalogs, PagesAndCursors) {
  SearchCatalog catalog("Sarn");
  for (int i = 0; i < 5; ++i) {
    const std::string key = "sarn.video:" + std::to_string(i);
    catalog.upsert(key, "clip " + std::to_string(i), result(key, "clip " + std::to_string(i)));
  }
  auto first = catalog.query_page("clip", std::nullopt, 2);
  ASSERT_EQ(first.results.size(), 2u);
  ASSERT_TRUE(first.next.has_value());
  EXPECT_EQ(first.results[0].title, "clip 0");
  auto second = catalog.query_page("clip", first.next, 2);
  EXPECT_EQ(second.results[0].title, "clip 2");
  auto third = catalog.query_page("clip", second.next, 2);
  EXPECT_EQ(third.results.size(), 1u);
  EXPECT_FALSE(third.next.has_value());
  EXPECT_TRUE(catalog.cursor_is_current(*first.next));
  catalog.upsert("sarn.video:9", "clip 9", result("sarn.video:9", "clip 9"));
  EXPECT_FALSE(catalog.cursor_is_current(*first.next));
  // An old cursor starts over.
  EXPECT_EQ(catalog.query_page("clip", first.next, 2).results[0].title, "clip 0");
}

}  // namespace
