#include <gtest/gtest.h>

#include "sarn/app/palette_search.h"

namespace sarn {
namespace {

Video video(std::string id, std::string title) {
    Video v;
    v.id = std::move(id);
    v.title = std::move(title);
    v.channel_name = "Chan";
    v.seed = v.id;
    v.duration = 61;
    return v;
}
Channel channel(std::string id, std::string name, std::string handle) {
    Channel c;
    c.id = std::move(id);
    c.name = std::move(name);
    c.handle = std::move(handle);
    c.seed = c.id;
    return c;
}

TEST(PaletteSearch, VideosFirstThenChannelsWithinFifty) {
    Library lib;
    for (int i = 0; i < 60; ++i) lib.videos.push_back(video("v" + std::to_string(i), "Rust talk " + std::to_string(i)));
    lib.channels = {channel("c1", "RUST Weekly", "@weekly")};
    PaletteSource source = palette_source_for(lib);
    const auto entries = palette_channel_matches(source, lib, "  rust ");
    ASSERT_EQ(entries.size(), 50u);
    EXPECT_EQ(entries.front().link, "sarn://watch/v0");
    EXPECT_EQ(entries.front().kind, kPaletteVideoKind);
    EXPECT_EQ(entries.front().duration, 61u);
    EXPECT_EQ(entries.back().kind, kPaletteVideoKind);  // no room left for channels
}

TEST(PaletteSearch, ChannelsMatchByNameOrHandleAmongTheExaminedRecords) {
    Library lib;
    lib.channels = {channel("c1", "Deep SPACE", "@deep"), channel("c2", "Other", "@spacebar"),
                    channel("c3", "Nothing", "@none")};
    PaletteSource source = palette_source_for(lib);
    const auto entries = palette_channel_matches(source, lib, "sp");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].link, "sarn://channel/c1");
    EXPECT_EQ(entries[0].secondary, "@deep");
    EXPECT_EQ(entries[1].title, "Other");
    EXPECT_TRUE(palette_channel_matches(source, lib, "   ").empty());

    // With 40 video entries only the first ten channel records are looked at.
    Library many;
    for (int i = 0; i < 40; ++i) many.videos.push_back(video("v" + std::to_string(i), "zeta " + std::to_string(i)));
    for (int i = 0; i < 10; ++i) many.channels.push_back(channel("x" + std::to_string(i), "plain", "@plain"));
    many.channels.push_back(channel("late", "Zeta channel", "@zeta"));
    PaletteSource many_source = palette_source_for(many);
    const auto limited = palette_channel_matches(many_source, many, "zeta");
    EXPECT_EQ(limited.size(), 40u);
}

TEST(LibraryCatalog, GroupsOfAHundredWithOpenActions) {
    Library lib;
    for (int i = 0; i < 120; ++i) lib.videos.push_back(video("v" + std::to_string(i), "Video " + std::to_string(i)));
    lib.videos.push_back(video("v0", "Replaced title"));  // same id: one result
    for (int i = 0; i < 120; ++i) lib.history.push_back("v" + std::to_string(i));
    lib.history.insert(lib.history.begin(), "unknown");
    lib.channels = {channel("c1", "Chan", "@chan")};
    auto catalog = register_library_catalog(lib);
    const auto stats = catalog->stats();
    // 100 videos, 1 creator, 99 history entries (the unknown one counted toward the hundred).
    EXPECT_EQ(stats.entries, 200u);
    const auto creator = catalog->get("sarn.channel:c1");
    ASSERT_TRUE(creator.has_value());
    EXPECT_EQ(creator->section, "Creators");
    EXPECT_EQ(creator->icon, std::optional<std::uint16_t>(4));
    EXPECT_EQ(creator->action_address(), (vorn_ui::ActionAddress{"sarn.channel:c1", "open"}));
    SarnSearchProvider provider(catalog);
    EXPECT_EQ(provider.name(), "Sarn");
    EXPECT_FALSE(provider.search("chan").empty());
}

TEST(LibraryCatalog, UpsertRefusesResultsOfAnotherKey) {
    auto catalog = vorn_ui::search::SearchCatalog::make("Sarn");
    vorn_ui::search::SearchResult r;
    r.title = "T";
    r.action = vorn_ui::search::SearchResult::action_text({"sarn.video:a", "open"});
    catalog_upsert(*catalog, "sarn.video:b", "t", r);
    catalog_upsert(*catalog, "", "t", r);
    EXPECT_EQ(catalog->stats().entries, 0u);
    catalog_upsert(*catalog, "sarn.video:a", "t", r);
    EXPECT_EQ(catalog->stats().entries, 1u);
}

}  // namespace
}  // namespace sarn
