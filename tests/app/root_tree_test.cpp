#include <gtest/gtest.h>

#include "page_test_support.h"
#include "root_harness.h"
#include "vorn_ui/widget/text_input.h"

namespace sarn {
namespace {

using screens::test::dump_text;
using screens::test::dump_tree;
using screens::test::find_id;
using screens::test::with_id_prefix;
using test::quiet_options;
using test::RootHarness;

// The shell's boxes as the responsive rules place them.
TEST(RootTree, ShellGeometryFollowsWidthAndScale) {
    struct Case {
        double width;
        float scale;
        bool toggle_sidebar;  // ask for the sidebar in a compact window
        bool search_box;      // else the compact search button
        double sidebar;       // 0: not shown
    } cases[] = {
        {1280, 1.0f, false, true, 86}, {560, 1.0f, false, true, 0},  {560, 1.0f, true, true, 86},
        {1280, 2.0f, false, true, 0},  {1280, 2.0f, true, true, 264}, {2000, 2.0f, false, true, 264},
        {400, 2.0f, true, false, 400},
    };
    for (const auto& c : cases) {
        RootHarness h(SarnApp::create(quiet_options()).with_viewport_size(c.width, 800), c.width, 800, c.scale);
        h.frame();
        if (c.toggle_sidebar) {
            h.run({intent::ToggleNavigation{}});
            h.frame();
        }
        const auto rows = dump_tree(*h.app().page_tree());
        const std::string where = fmt::format("{}@{}\n{}", c.width, c.scale, dump_text(rows));
        const auto toggle = find_id(rows, "nav_toggle");
        ASSERT_TRUE(toggle.has_value()) << where;
        // The top bar is 66 high across the window; its first control is the navigation toggle.
        EXPECT_EQ(toggle->rect.x0, 20) << where;
        EXPECT_EQ(toggle->rect.y0, 13) << where;
        EXPECT_EQ(find_id(rows, "search_input").has_value(), c.search_box) << where;
        EXPECT_EQ(find_id(rows, "compact_search").has_value(), !c.search_box) << where;
        const auto home = find_id(rows, "nav_home");
        if (c.sidebar == 0) {
            EXPECT_TRUE(!home || home->rect.width() == 0) << where;
        } else {
            ASSERT_TRUE(home.has_value()) << where;
            // The entry fills the sidebar inside its 8-wide side padding.
            EXPECT_EQ(home->rect.width(), c.sidebar - 16) << where;
            EXPECT_EQ(home->rect.y0 >= 66 + 14, true) << where;
        }
    }
}

TEST(RootTree, BackButtonFollowsTheBackStack) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    EXPECT_FALSE(find_id(dump_tree(*h.app().page_tree()), "back_btn").has_value());
    h.run({intent::Navigate{Route::trending()}});
    h.frame();
    const auto rows = dump_tree(*h.app().page_tree());
    const auto back = find_id(rows, "back_btn");
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->rect.x0, 20 + 40 + 16);
    EXPECT_EQ(back->text, "Go back");
}

TEST(RootTree, ShrinkingPastTheThresholdRebuildsOnceAndResetsTheSidebar) {
    RootHarness h(SarnApp::create(quiet_options()).with_viewport_size(1280, 800));
    h.frame();
    h.run({intent::ToggleNavigation{}});  // hidden by hand
    h.frame();
    EXPECT_EQ(h.app().sidebar_override(), 0);
    h.resize(700, 800);
    h.frame();  // placed at the new width: back to automatic, rebuild asked
    EXPECT_EQ(h.app().sidebar_override(), 2);
    EXPECT_TRUE(h.frame());
    EXPECT_FALSE(h.frame());
    EXPECT_FALSE(h.app().sidebar_visible());
}

TEST(RootTree, AccessibilityNamesTheScreen) {
    RootHarness h(SarnApp::create(quiet_options()).with_loading_state());
    h.frame();
    auto node = h.app().accessibility();
    ASSERT_TRUE(node.has_value());
    EXPECT_EQ(node->name, "Sarn — Home");
    EXPECT_EQ(node->description, "Privacy-respecting video client; offline");
    EXPECT_TRUE(node->busy);
    EXPECT_FALSE(node->announcement.has_value());
    h.app().library_mut().push_recent_entry("older");
    h.app().library_mut().push_recent_entry("newest");
    h.app().library_mut().home_loading = false;
    h.app().library_mut().status.live = true;
    h.run({intent::Navigate{Route::search("cats")}});
    node = h.app().accessibility();
    EXPECT_EQ(node->name, "Sarn — Search results for cats");
    EXPECT_EQ(node->description, "Privacy-respecting video client; live catalogue");
    EXPECT_EQ(node->announcement, "newest");
}

TEST(RootTree, EnterSearchesFromTheFocusedSearchInputOnly) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    // Enter on a focused card opens the card, not the search page.
    auto* card = find_id(*h.app().page_tree(), "nav_trending");
    ASSERT_NE(card, nullptr);
    card->set_focus(true);
    h.key(vorn_ui::NamedKey::Enter);
    EXPECT_NE(h.app().library().route.kind, Route::Kind::Search);
    card->set_focus(false);

    h.frame();
    auto* input = find_id(*h.app().page_tree(), "search_input");
    ASSERT_NE(input, nullptr);
    input->set_focus(true);
    h.app().search_text().publish("donut");
    h.key(vorn_ui::NamedKey::Enter);
    EXPECT_EQ(h.app().library().route, Route::search("donut"));
}

TEST(RootTree, PlayerViewIsTheSharedPlayers) {
    Library lib = Library::sample();
    const std::string id = lib.videos.front().id;
    RootHarness h(SarnApp::create(quiet_options()).with_library(lib).with_demo_player(id));
    h.frame();
    EXPECT_EQ(h.app().value(), h.app().player()->host_value());
    EXPECT_FALSE(h.app().state().has_value());
    h.app().set_state(true);
    EXPECT_EQ(h.app().state(), std::optional<bool>(true));
    EXPECT_EQ(h.app().player()->host_state(), std::optional<bool>(true));
}

}  // namespace
}  // namespace sarn

namespace sarn {
namespace {

// Every route at both widths and scales: the page's scroll container fills
// the content pane beside the sidebar and below the 66-high top bar; the
// home grid has the columns that fit 300-wide tracks; the watch player is
// 16:9 at 0.65 of the window height, capped by the content width.
TEST(RootTree, EveryRouteFillsTheContentPane) {
    const Library sample = Library::sample();
    const std::vector<Route> routes = {
        Route::home(),  Route::trending(),
        Route::subscriptions(), Route::queue(),
        Route::watch(sample.videos.front().id), Route::channel(sample.channels.front().id),
        Route::playlist("none"), Route::search("rust"),
        Route::history(), Route::settings(),
    };
    struct Size {
        double width;
        float scale;
        double content_x;     // where the page starts (the sidebar's width, or 0)
        std::size_t columns;  // home cards in the first row
        double player_width;  // watch page
    } sizes[] = {
        // 1280 at scale 1: 1280 − 86 = 1194 wide; 1146 inside the padding: three 300 tracks with 18 gaps.
        {1280, 1.0f, 86, 3, 1194 > 800 * 0.65 * 16 / 9 ? std::floor(800 * 0.65 * 16 / 9) : 1194},
        // 560 at scale 1 is compact: no sidebar, one column, the player capped by the width.
        {560, 1.0f, 0, 1, 560},
        // Scale 2 below 1760 is compact too; its grid is a single column.
        {1280, 2.0f, 0, 1, std::floor(800 * 0.65 * 16 / 9)},
        {560, 2.0f, 0, 1, 560},
    };
    for (const auto& size : sizes) {
        for (const Route& route : routes) {
            RootHarness h(SarnApp::create(quiet_options()).with_viewport_size(size.width, 800).with_route(route),
                          size.width, 800, size.scale);
            h.frame();
            const std::string where = fmt::format("{} {}@{}", route_scroll_key(route), size.width, size.scale);
            const auto* scroller = h.app().page_scroller();
            ASSERT_NE(scroller, nullptr) << where;
            const vorn_ui::Rect box = scroller->bounds();
            EXPECT_EQ(box.x0, size.content_x) << where;
            EXPECT_EQ(box.y0, 66) << where;
            EXPECT_EQ(box.x1, size.width) << where;
            EXPECT_EQ(box.y1, 800) << where;

            const auto rows = dump_tree(*h.app().page_tree());
            if (route.kind == Route::Kind::Home) {
                const auto cards = with_id_prefix(rows, "video_card_");
                ASSERT_FALSE(cards.empty()) << where;
                std::size_t first_row = 0;
                for (const auto& card : cards) first_row += card.rect.y0 == cards.front().rect.y0 ? 1 : 0;
                EXPECT_EQ(first_row, size.columns) << where;
            }
            if (route.kind == Route::Kind::Watch) {
                const auto player = find_id(rows, "watch_video_surface");
                ASSERT_TRUE(player.has_value()) << where;
                EXPECT_NEAR(player->rect.width(), size.player_width, 1.0) << where;
                EXPECT_NEAR(player->rect.height(), player->rect.width() * 9 / 16, 1.0) << where;
            }
        }
    }
}

}  // namespace
}  // namespace sarn
