#include <gtest/gtest.h>

#include <atomic>

#include "root_harness.h"
#include "sarn/app/navigation.h"

namespace sarn {
namespace {

using test::quiet_options;
using test::RootHarness;

TEST(RootLayoutRules, CompactAndSidebarFollowWidthAndScale) {
    struct Case {
        double width;
        float scale;
        bool compact;
        double sidebar;
    } cases[] = {
        {0, 1.0f, true, 86},     {-10, 2.0f, true, -10},  {759, 1.0f, true, 86},    {760, 1.0f, false, 86},
        {1000, 1.0f, false, 86}, {1000, 1.5f, true, 264}, {1760, 1.5f, false, 264}, {400, 2.0f, true, 400},
        {480, 2.0f, true, 480},  {481, 2.0f, true, 264},
    };
    for (const auto& c : cases) {
        RootHarness h(SarnApp::create(quiet_options()).with_viewport_size(c.width, 800), std::max(c.width, 1.0), 800,
                      c.scale);
        h.frame();
        // The frame lays the root out in the viewport it was given; a negative
        // width stays as the builder clamped it.
        if (c.width <= 0) {
            SarnApp app = SarnApp::create(quiet_options()).with_viewport_size(c.width, 800);
            EXPECT_TRUE(app.is_compact());
            continue;
        }
        EXPECT_EQ(h.app().is_compact(), c.compact) << c.width << " @" << c.scale;
        EXPECT_EQ(h.app().sidebar_width(), c.sidebar) << c.width << " @" << c.scale;
        EXPECT_EQ(h.app().sidebar_visible(), !c.compact);
    }
}

TEST(RootLayoutRules, SidebarOverrideWinsUntilTheCompactThresholdIsCrossed) {
    RootHarness wide(SarnApp::create(quiet_options()).with_viewport_size(1280, 800));
    wide.frame();
    wide.run({intent::ToggleNavigation{}});
    EXPECT_EQ(wide.app().sidebar_override(), 0);
    EXPECT_FALSE(wide.app().sidebar_visible());
    EXPECT_EQ(wide.app().layout_metrics(), 1280);

    RootHarness narrow(SarnApp::create(quiet_options()).with_viewport_size(560, 800), 560, 800);
    narrow.frame();
    EXPECT_FALSE(narrow.app().sidebar_visible());
    narrow.run({intent::ToggleNavigation{}});
    EXPECT_EQ(narrow.app().sidebar_override(), 1);
    EXPECT_TRUE(narrow.app().sidebar_visible());
    // Compact: the content keeps the whole width under a shown sidebar.
    EXPECT_EQ(narrow.app().layout_metrics(), 560);
    // Navigating in a compact window hides the sidebar again.
    narrow.run({intent::Navigate{Route::trending()}});
    EXPECT_EQ(narrow.app().sidebar_override(), 0);
}

TEST(Navigation, StackRules) {
    Navigation nav;
    nav.navigate(Route::trending());
    nav.navigate(Route::home());
    EXPECT_EQ(nav.back.size(), 2u);
    nav.navigate(Route::home());
    EXPECT_EQ(nav.back.size(), 2u);

    Navigation empty;
    EXPECT_FALSE(empty.go_back());
    EXPECT_EQ(empty.current, Route::home());

    // From Search("a") with [Home, Search("b")], a search for "b" pops it.
    Navigation searches{Route::search("a"), {Route::home(), Route::search("b")}};
    searches.replace(Route::search("b"));
    EXPECT_EQ(searches.current, Route::search("b"));
    EXPECT_EQ(searches.back, std::vector<Route>{Route::home()});
}

TEST(Navigation, SearchesReplaceEachOtherAndLibraryFollows) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    h.app().navigate(Route::search("a"));
    h.app().navigate(Route::search("b"));
    EXPECT_EQ(h.app().navigation().back, std::vector<Route>{Route::home()});
    EXPECT_EQ(h.app().library().route, Route::search("b"));
    h.run({intent::GoBack{}});
    EXPECT_EQ(h.app().library().route, Route::home());
    EXPECT_EQ(h.app().navigation().current, Route::home());
}

TEST(Navigation, TableAndLinks) {
    const Library library = Library::sample();
    const Video& video = library.videos.front();
    struct Case {
        Route route;
        std::string key;
        std::string screen;
    } cases[] = {
        {Route::home(), "home", "Home"},
        {Route::subscriptions(), "subs", "Subscriptions"},
        {Route::queue(), "queue", "Shared watch queue"},
        {Route::watch(video.id), "watch:" + video.id, video.title},
        {Route::watch("nope"), "watch:nope", "Video"},
        {Route::channel("nope"), "channel:nope", "Creator"},
        {Route::playlist("nope"), "playlist:nope", "Playlist"},
        {Route::search("rust"), "search:rust", "Search results for rust"},
        {Route::history(), "history", "Watch history"},
        {Route::settings(), "settings", "Settings"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(route_scroll_key(c.route), c.key);
        EXPECT_EQ(route_screen_name(c.route, library), c.screen);
    }
    EXPECT_EQ(parse_watch_link(watch_link("abc")), "abc");
    EXPECT_EQ(parse_watch_link("sarn://watch/"), "");
    EXPECT_EQ(parse_watch_link(channel_link("UCx")), std::nullopt);
    EXPECT_EQ(parse_channel_link(channel_link("UCx")), "UCx");
}

TEST(RootStartStates, BuildersSetWhatTheyName) {
    SarnApp routed = SarnApp::create(quiet_options()).with_route(Route::search("rust"));
    EXPECT_EQ(routed.search_text().text(), "rust");
    EXPECT_EQ(routed.library().search_query, "rust");
    EXPECT_TRUE(routed.navigation().back.empty());

    SarnApp empty = SarnApp::create(quiet_options()).with_offline_empty_state();
    EXPECT_TRUE(empty.library().videos.empty());
    EXPECT_EQ(empty.library().status.text, "offline — network unavailable");

    SarnApp loading = SarnApp::create(quiet_options()).with_loading_state();
    EXPECT_TRUE(loading.library().home_loading);
    EXPECT_TRUE(loading.library().videos.empty());

    SarnApp palette = SarnApp::create(quiet_options()).with_palette("ru");
    EXPECT_TRUE(palette.library().palette_open);
    EXPECT_EQ(palette.palette_text().text(), "ru");

    for (auto [width, offset] : {std::pair{560.0, 1330.0f}, std::pair{1280.0, 930.0f}}) {
        SarnApp demo = SarnApp::create(quiet_options()).with_viewport_size(width, 800).with_device_sync_demo();
        EXPECT_EQ(demo.library().route, Route::settings());
        ASSERT_TRUE(demo.scroll_offsets().contains("settings"));
        EXPECT_EQ(demo.scroll_offsets().at("settings")->y, offset);
        EXPECT_EQ(demo.device_sync().peers().size(), 2u);
    }

    Library small;
    small.search_query = "abc";
    SarnApp with_library = SarnApp::create(quiet_options()).with_library(small);
    EXPECT_EQ(with_library.search_text().text(), "abc");
    EXPECT_FALSE(with_library.history_store().path().has_value());
}

TEST(RootStartStates, OfflineFramesNeverSubmitRequests) {
    RootHarness h(SarnApp::create(quiet_options()));
    for (int i = 0; i < 5; ++i) h.frame();
    EXPECT_FALSE(h.app().fetch_worker_exists());
    EXPECT_FALSE(h.app().needs_idle_sync());
}

TEST(RootFetchRequests, FullQueueShowsWhyOnTheRightPage) {
    // A worker whose thread never reads: the 33rd request finds the queue full.
    test::StalledWorkers stalled;
    SarnApp app = SarnApp::create(stalled.options()).start_live();
    app.library_mut().search_query = "q";
    for (int i = 0; i < 32; ++i) app.submit_request(FetchRequest::video("v"));
    EXPECT_TRUE(app.library().notices.empty());

    app.library_mut().home_loading = true;
    app.submit_request(FetchRequest::home_feed());
    EXPECT_FALSE(app.library().home_loading);
    EXPECT_EQ(app.library().home_error, std::string(kTooManyRequestsText));
    EXPECT_TRUE(app.library().notices.empty());

    app.library_mut().search_loading = true;
    app.submit_request(FetchRequest::search("other"));  // not the shown search: nothing
    EXPECT_TRUE(app.library().search_loading);
    app.submit_request(FetchRequest::search("q"));
    EXPECT_FALSE(app.library().search_loading);
    EXPECT_EQ(app.library().search_error, std::string(kTooManyRequestsText));

    app.submit_request(FetchRequest::channel("c"));
    ASSERT_EQ(app.library().notices.size(), 1u);
    EXPECT_EQ(app.library().notices.front(), kTooManyRequestsText);
}

TEST(RootFetchRequests, AWorkerThatCannotStartSaysSoAndIsTriedAgain) {
    auto attempts = std::make_shared<std::atomic<int>>(0);
    SarnAppOptions options = quiet_options();
    options.fetch_config = [attempts] {
        FetchWorkerConfig config;
        config.start_thread = [attempts](std::function<void()>) -> std::expected<void, std::string> {
            ++*attempts;
            return std::unexpected(std::string("Resource temporarily unavailable"));
        };
        return config;
    };
    SarnApp app = SarnApp::create(std::move(options));
    app.library_mut().search_query = "q";
    app.submit_request(FetchRequest::search("q"));
    ASSERT_TRUE(app.library().search_error.has_value());
    EXPECT_NE(*app.library().search_error, kTooManyRequestsText);
    EXPECT_NE(app.library().search_error->find("failed to spawn the sarn-fetch worker thread"), std::string::npos);
    EXPECT_FALSE(app.fetch_worker_exists());
    app.submit_request(FetchRequest::search("q"));
    EXPECT_EQ(attempts->load(), 2);
}

}  // namespace
}  // namespace sarn

namespace sarn {
namespace {

// The offline Home says "return Home to load videos": coming back does ask.
TEST(RootFetchRequests, ReturningToAnEmptyHomeAsksForTheFeed) {
    test::StalledWorkers stalled;
    RootHarness h(SarnApp::create(stalled.options()).with_offline_empty_state());
    h.frame();
    EXPECT_FALSE(h.app().fetch_worker_exists());
    h.run({intent::Navigate{Route::trending()}});
    EXPECT_FALSE(h.app().fetch_worker_exists());
    h.run({intent::GoBack{}});
    EXPECT_TRUE(h.app().fetch_worker_exists());
    EXPECT_TRUE(h.app().library().home_loading);
    // While it loads, going back and forth asks nothing more.
    h.run({intent::Navigate{Route::trending()}, intent::GoBack{}});
    EXPECT_TRUE(h.app().library().home_loading);
}

}  // namespace
}  // namespace sarn
