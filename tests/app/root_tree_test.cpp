#include <gtest/gtest.h>

#include "root_harness.h"
#include "tree_dump.h"
#include "vorn_ui/widget/text_input.h"

namespace sarn {
namespace {

using test::dump_text;
using test::dump_tree;
using test::find_id;
using test::quiet_options;
using test::RootHarness;

vorn_ui::widget::Widget* find_widget(vorn_ui::widget::Widget& root, std::string_view id) {
    if (root.widget_id() == id) return &root;
    for (auto& child : root.children_mut()) {
        if (!child) continue;
        if (auto* found = find_widget(*child, id)) return found;
    }
    return nullptr;
}

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
    auto* card = find_widget(*h.app().page_tree(), "nav_trending");
    ASSERT_NE(card, nullptr);
    card->set_focus(true);
    h.key(vorn_ui::NamedKey::Enter);
    EXPECT_NE(h.app().library().route.kind, Route::Kind::Search);
    card->set_focus(false);

    h.frame();
    auto* input = find_widget(*h.app().page_tree(), "search_input");
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
