// The creator, playlist and search pages: their states for each Library,
// their texts and controls, and where their blocks land, as numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "page_test_support.h"
#include "sarn/app/format.h"
#include "sarn/app/screens/browse_pages.h"
#include "sarn/app/widgets/image_box.h"
#include "vorn_ui/format.h"
#include "vorn_ui/widget/icon_widget.h"

namespace sarn::screens::test {
namespace {

using widgets::ImageBox;
using widgets::Thumbnail;

auto channel_of(std::string id) {
    return [id](const PageContext& cx) { return channel_page(cx, id); };
}
auto playlist_of(std::string id) {
    return [id](const PageContext& cx) { return playlist_page(cx, id); };
}
auto search_for(std::string query) {
    return [query](const PageContext& cx) { return search_page(cx, query); };
}

// How many texts the widget draws (a thumbnail's only text is its badge).
std::size_t texts_drawn(LaidPage& laid, const Widget& widget) {
    ui::Scene scene;
    ui::widget::DrawContext dcx{laid.h.env.theme, laid.h.text, laid.h.permissions};
    const_cast<Widget&>(widget).draw(scene, ui::Affine::identity(), dcx);
    std::size_t n = 0;
    for (const auto& c : scene.commands()) n += std::holds_alternative<ui::TextCommand>(c) ? 1 : 0;
    return n;
}

// ---- channel ----

TEST(ChannelPage, AnUnknownChannelSaysSo) {
    Built built(Library{}, channel_of("UCnone"));
    EXPECT_EQ(texts_of(built.page()), (std::vector<std::string>{"Channel not found", ""}));
    EXPECT_EQ(control_names(built.page()), std::vector<std::string>{});
}

TEST(ChannelPage, HeaderLineAndSubscribePillFollowTheRecord) {
    struct Case {
        std::uint64_t subscribers;
        bool subscribed;
        std::string line;
        std::string pill;
        bool pill_active;
    };
    const std::string thousands = *subscriber_count_text(1200);
    const Case cases[] = {
        {0, false, "@UCa", "Subscribe", true},
        {1200, false, "@UCa  •  " + thousands, "Subscribe", true},
        {1200, true, "@UCa  •  " + thousands, "Subscribed", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line + " " + c.pill);
        Library library;
        library.channels = {channel_record("UCa", "Alpha", c.subscribers)};
        library.channels[0].description = "About Alpha";
        if (c.subscribed) library.subscriptions = {"UCa"};
        Built built(library, channel_of("UCa"));
        EXPECT_EQ(texts_of(built.page()), (std::vector<std::string>{"Alpha", c.line, "About Alpha", c.pill, "Videos"}));
        const auto* pill = dynamic_cast<const Flex*>(find_control(built.page(), c.pill));
        ASSERT_NE(pill, nullptr);
        EXPECT_EQ(pill->background()->fill == built.env.theme.selection, c.pill_active);
        built.laid->click(*pill);
        EXPECT_EQ(take_intents(built.queue), (std::vector<ControlIntent>{intent::ToggleSubscription{"UCa"}}));
    }
}

TEST(ChannelPage, BannerHeaderAndTheChannelsOwnVideos) {
    Library library;
    library.channels = {channel_record("UCa", "Alpha", 5), channel_record("UCb", "Beta")};
    library.channels[0].verified = true;
    library.channels[0].banner_url = "https://img.invalid/banner.jpg";
    library.videos = {video_record("a1", "UCa"), video_record("b1", "UCb"), video_record("a2", "UCa")};
    Built built(library, channel_of("UCa"));
    const auto banners = all_of<ImageBox>(built.page());
    ASSERT_EQ(banners.size(), 1u);
    EXPECT_EQ(banners[0]->image_url(), "https://img.invalid/banner.jpg");
    EXPECT_EQ(banners[0]->seed(), "UCa");
    EXPECT_EQ(banners[0]->bounds(), (ui::Rect{24, 24, 976, 184}));
    // The header row below the banner: the 86 avatar first.
    const auto avatars = all_of<widgets::ChannelAvatar>(built.page());
    ASSERT_FALSE(avatars.empty());
    EXPECT_EQ(avatars[0]->bounds().x0, 24);
    EXPECT_EQ(avatars[0]->bounds().width(), 86);
    EXPECT_EQ(avatars[0]->bounds().y0, 184 + 18);
    // The verified mark follows the name in the header.
    const Widget& header = *built.laid->column().children()[1];
    std::size_t marks = 0;
    for (const auto* icon : all_of<ui::widget::IconWidget>(header)) marks += icon->icon() == kIconVerified ? 1 : 0;
    EXPECT_EQ(marks, 1u);
    EXPECT_EQ(ids_with_prefix(built.page(), "video_card_"),
              (std::vector<std::string>{"video_card_a1", "video_card_a2"}));

    library.videos.clear();
    Built empty(library, channel_of("UCa"));
    EXPECT_EQ(find_id(empty.page(), "video_grid")->children().size(), 0u);
}

// ---- playlist ----

TEST(PlaylistPage, AnUnknownPlaylistIsUnavailable) {
    Built built(Library{}, playlist_of("PLnone"));
    EXPECT_EQ(texts_of(built.page()), (std::vector<std::string>{"Playlist unavailable", ""}));
}

TEST(PlaylistPage, ListsTheVideosItResolvesAndPlaysTheFirst) {
    struct Case {
        const char* name;
        std::vector<std::string> ids;
        std::vector<std::string> rows;
        std::optional<std::string> play;
    };
    const Case cases[] = {
        {"none resolved", {"x1", "x2"}, {}, std::nullopt},
        {"unknown ids skipped", {"x1", "b", "x2", "a"}, {"Open video: Title b", "Open video: Title a"}, "b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Library library;
        library.videos = {video_record("a", "UCa"), video_record("b", "UCb")};
        library.playlists = {playlist_record("PL1", c.ids, 1234)};
        Built built(library, playlist_of("PL1"));
        std::vector<std::string> rows;
        for (const auto& name : control_names(built.page()))
            if (name.starts_with("Open video: ")) rows.push_back(name);
        EXPECT_EQ(rows, c.rows);
        // The line reports the source's count, not the resolved one.
        const std::string line = fmt::format("Curator  •  {} videos", vorn_ui::format::compact_count(1234));
        EXPECT_TRUE(has_text(built.page(), line));
        EXPECT_EQ(has_text(built.page(), "Loading playlist…"), c.rows.empty());
        const Widget* play = find_id(built.page(), "playlist_play");
        EXPECT_EQ(play != nullptr, c.play.has_value());
        if (play) {
            built.laid->click(*play);
            EXPECT_EQ(take_intents(built.queue), (std::vector<ControlIntent>{intent::OpenVideo{*c.play}}));
        }
    }
}

TEST(PlaylistPage, CoverIsA240WidePictureWithoutTimeBadge) {
    Library library;
    library.playlists = {playlist_record("PL1", {}, 3)};
    library.playlists[0].thumbnail_url = "https://img.invalid/cover.jpg";
    Built built(library, playlist_of("PL1"));
    const auto covers = all_of<Thumbnail>(built.page());
    ASSERT_EQ(covers.size(), 1u);
    EXPECT_EQ(covers[0]->bounds(), (ui::Rect{24, 24, 264, 159}));
    EXPECT_EQ(covers[0]->image_url(), "https://img.invalid/cover.jpg");
    EXPECT_FALSE(covers[0]->badge_text().has_value());
    // The info column starts 18 right of the cover, at the top.
    const auto title = all_of<Text>(built.page())[0];
    EXPECT_EQ(title->content(), "Playlist PL1");
    EXPECT_EQ(title->bounds().x0, 264 + 18);
    EXPECT_EQ(title->bounds().y0, 24);
    EXPECT_EQ(texts_drawn(*built.laid, *covers[0]), 0u);
}

// ---- search ----

// A library that answers the query "cats" with two videos, one playlist and
// one creator.
Library answered_library() {
    Library library;
    library.videos = {video_record("v1", "UCa"), video_record("v2", "UCb")};
    library.channels = {channel_record("UCa", "Alpha", 1200)};
    library.playlists = {playlist_record("PL1", {"v1"}, 2)};
    library.search_results_query = "cats";
    library.search_result_videos = {"v1", "v2"};
    library.search_result_channels = {"UCa"};
    library.search_result_playlists = {"PL1"};
    return library;
}

TEST(SearchPage, ShowsTheFirstStateThatHolds) {
    struct Case {
        const char* name;
        std::string query;
        bool loading;
        std::optional<std::string> error;
        std::optional<std::string> summary;
        std::string title;  // of the empty state, or the results column's first id
        std::size_t placeholders;
    };
    const Case cases[] = {
        {"loading", "cats", true, "late", std::nullopt, "", 8},
        {"error", "cats", false, "Too many requests are pending. Please try again.", std::nullopt, "Search delayed", 0},
        {"blank query over stored results", "   ", false, std::nullopt, std::nullopt, "Search Sarn", 0},
        {"nothing found", "zebra", false, std::nullopt, std::nullopt, "No results", 0},
        {"results", "cats", false, std::nullopt, "4 results shown", "creator_results", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Library library = answered_library();
        if (c.query != "zebra") library.search_results_query = c.query;  // the stored answer is for this query
        library.search_loading = c.loading;
        library.search_error = c.error;
        Built built(library, search_for(c.query));
        EXPECT_EQ(ids_with_prefix(built.page(), "type_chip_"),
                  (std::vector<std::string>{"type_chip_video", "type_chip_playlist", "type_chip_creator"}));
        const Widget* summary = find_id(built.page(), "search_results_summary");
        EXPECT_EQ(summary != nullptr, c.summary.has_value());
        if (summary) {
            EXPECT_EQ(texts_of(*summary), (std::vector<std::string>{"Search results", *c.summary}));
        }
        if (c.placeholders) {
            EXPECT_EQ(find_id(built.page(), "video_grid")->children().size(), c.placeholders);
        } else if (c.summary) {
            EXPECT_NE(find_id(built.page(), c.title), nullptr);
        } else {
            EXPECT_TRUE(has_text(built.page(), c.title));
        }
    }
}

TEST(SearchPage, TypeFiltersChooseTheListsAndTheChips) {
    struct Case {
        SearchTypeFilter filter;
        std::vector<std::string> sections;  // ids of the results column's children
        std::vector<bool> chips_selected;
        std::string summary;
    };
    const Case cases[] = {
        {{true, true, true, true},
         {"creator_results", "playlist_grid", "video_grid"},
         {true, true, true},
         "4 results shown"},
        {{false, false, true, false}, {"creator_results"}, {false, false, true}, "1 result shown"},
        {{true, true, false, false}, {"playlist_grid", "video_grid"}, {true, true, false}, "3 results shown"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.summary);
        Library library = answered_library();
        library.search_filter = c.filter;
        Built built(library, search_for("cats"));
        const Widget* creators = find_id(built.page(), "creator_results");
        const Widget* anchor = creators ? creators : find_id(built.page(), "playlist_grid");
        ASSERT_NE(anchor, nullptr);
        // The results column is the parent of the first section: the page's last child.
        const Widget& results = *built.laid->column().children().back();
        std::vector<std::string> sections;
        for (const auto& child : results.children()) sections.emplace_back(child->widget_id().value_or("?"));
        EXPECT_EQ(sections, c.sections);
        std::vector<bool> selected;
        for (const char* id : {"type_chip_video", "type_chip_playlist", "type_chip_creator"})
            selected.push_back(flex_id(built.page(), id).background()->fill == built.env.theme.selection);
        EXPECT_EQ(selected, c.chips_selected);
        EXPECT_EQ(texts_of(flex_id(built.page(), "search_results_summary"))[1], c.summary);
    }
}

TEST(SearchPage, AChipTogglesItsType) {
    Built built(answered_library(), search_for("cats"));
    const Flex& chip = flex_id(built.page(), "type_chip_playlist");
    EXPECT_EQ(chip.accessibility()->name, "Playlist");
    EXPECT_EQ(chip.action_label(), "Toggle result type");
    built.laid->click(chip);
    EXPECT_EQ(take_intents(built.queue),
              (std::vector<ControlIntent>{intent::ToggleResultType{intent::ResultType::Playlists}}));
}

TEST(SearchPage, ASingleVideoStandsAloneCentred) {
    Library library = answered_library();
    library.search_result_videos = {"v1"};
    library.search_result_channels.clear();
    library.search_result_playlists.clear();
    Built built(library, search_for("cats"));
    const Flex& sparse = flex_id(built.page(), "sparse_video_result");
    // 440 wide in the middle of the 952 inside the padding.
    EXPECT_EQ(sparse.bounds().x0, 24);
    EXPECT_EQ(sparse.bounds().x1, 976);
    EXPECT_EQ(built.laid->rect("video_card_v1").x0, 24 + (952 - 440) / 2);
    EXPECT_EQ(built.laid->rect("video_card_v1").width(), 440);
    EXPECT_EQ(texts_of(flex_id(built.page(), "search_results_summary"))[1], "1 result shown");

    // Where the page is narrower than 440 plus its padding, the card takes
    // the room there is.
    Built narrow(library, search_for("cats"), 420, 2.0f);
    EXPECT_EQ(narrow.laid->rect("video_card_v1"),
              (ui::Rect{24, narrow.laid->rect("video_card_v1").y0, 396, narrow.laid->rect("video_card_v1").y1}));
    EXPECT_EQ(narrow.laid->column().bounds().width(), 420);

    // One video beside a creator is an ordinary grid of one card.
    library.search_result_channels = {"UCa"};
    Built pair(library, search_for("cats"));
    EXPECT_EQ(find_id(pair.page(), "sparse_video_result"), nullptr);
    EXPECT_EQ(ids_with_prefix(flex_id(pair.page(), "video_grid"), "video_card_"),
              std::vector<std::string>{"video_card_v1"});
}

TEST(SearchPage, CreatorCardsNameHandleAndSubscribers) {
    const std::string thousands = *subscriber_count_text(1200);
    struct Case {
        std::string handle;
        std::uint64_t subscribers;
        std::optional<std::string> meta;
    };
    const Case cases[] = {
        {"@alpha", 1200, "@alpha • " + thousands},
        {"@alpha", 0, "@alpha"},
        {"UCa", 1200, thousands},
        {"UCa", 0, std::nullopt},
        {"", 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.handle + fmt::format(" {}", c.subscribers));
        Library library = answered_library();
        library.channels[0].handle = c.handle;
        library.channels[0].subscribers = c.subscribers;
        Built built(library, search_for("cats"));
        const Flex& card = flex_id(built.page(), "creator_card_UCa");
        std::vector<std::string> expected{"Alpha"};
        if (c.meta) expected.push_back(*c.meta);
        expected.push_back("View");
        EXPECT_EQ(texts_of(card), expected);
    }
    // The card and its View pill open the creator, once per click.
    Built built(answered_library(), search_for("cats"));
    const Flex& card = flex_id(built.page(), "creator_card_UCa");
    EXPECT_EQ(card.accessibility()->name, "Open creator: Alpha");
    built.laid->click(*find_control(card, "View"));
    EXPECT_EQ(take_intents(built.queue), (std::vector<ControlIntent>{intent::OpenCreator{"UCa"}}));
    built.laid->click(*card.children()[0]);  // the avatar
    EXPECT_EQ(take_intents(built.queue), (std::vector<ControlIntent>{intent::OpenCreator{"UCa"}}));
}

// At display scale 1.5 and more the playlist grid is one start-aligned
// column: a card must keep the column's width there instead of shrinking to
// its content; and a playlist cover carries no time badge at any scale.
TEST(SearchPage, PlaylistCardsKeepTheirWidthAndShowNoTimeBadge) {
    Library library = answered_library();
    library.playlists.push_back(playlist_record("PL2", {}, 40));
    library.search_result_playlists = {"PL1", "PL2"};
    struct Case {
        float scale;
        ui::Rect first, second;
    };
    // The solver rounds every edge to a whole pixel.
    const double column = (952.0 - 2 * 18) / 3;
    const Case cases[] = {
        {1.0f,
         {24, 0, std::round(24 + column), 0},
         {std::round(24 + column + 18), 0, std::round(24 + 2 * column + 18), 0}},
        {1.5f, {24, 0, 976, 0}, {24, 0, 976, 0}},
        {2.0f, {24, 0, 976, 0}, {24, 0, 976, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scale);
        Built built(library, search_for("cats"), 1000, c.scale);
        const ui::Rect first = built.laid->rect("playlist_card_PL1");
        const ui::Rect second = built.laid->rect("playlist_card_PL2");
        EXPECT_NEAR(first.x0, c.first.x0, 0.01);
        EXPECT_NEAR(first.x1, c.first.x1, 0.01);
        EXPECT_NEAR(second.x0, c.second.x0, 0.01);
        EXPECT_NEAR(second.x1, c.second.x1, 0.01);
        for (const Thumbnail* cover : all_of<Thumbnail>(flex_id(built.page(), "playlist_grid"))) {
            EXPECT_FALSE(cover->badge_text().has_value());
            EXPECT_EQ(texts_drawn(*built.laid, *cover), 0u);
            EXPECT_NEAR(cover->bounds().width(), first.width() - 12, 1.0);  // the card's padding of 6, rounded
        }
    }
}

}  // namespace
}  // namespace sarn::screens::test
