// The feed pages: which state each shows for which Library, the counts and
// controls they offer, and where their cards land, as numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "page_test_support.h"
#include "root_harness.h"
#include "sarn/app/screens/feed_pages.h"

namespace sarn::screens::test {
namespace {

// A Library holding the videos, each of its own channel unless given.
Library with_videos(std::vector<Video> videos) {
    Library library;
    library.videos = std::move(videos);
    return library;
}

// The line that names the entries without records: shown exactly when one
// is expected, and then with the expected text.
void expect_missing_line(const std::vector<std::string>& texts, const std::optional<std::string>& missing) {
    bool missing_shown = false;
    for (const auto& t : texts)
        if (t.find("need metadata") != std::string::npos) {
            EXPECT_EQ(std::optional<std::string>(t), missing);
            missing_shown = true;
        }
    EXPECT_EQ(missing_shown, missing.has_value());
}

// ---- home ----

TEST(HomePage, ShowsTheFirstStateThatHolds) {
    struct Case {
        const char* name;
        bool videos;
        bool loading;
        std::optional<std::string> error;
        std::string status;
        // Expected: cards, placeholders, or the empty state's title and body.
        std::size_t cards;
        std::size_t placeholders;
        std::string title;
        std::string body;
    };
    const std::string offline_body =
        "Reconnect, then search or return Home to load videos. Your subscriptions and watch history remain "
        "available.";
    const Case cases[] = {
        {"videos win over everything", true, true, "busy", "offline — no live data", 2, 0, "", ""},
        {"loading wins over an error and offline", false, true, "busy", "offline — no live data", 0, 12, "", ""},
        {"the error wins over offline", false, false, "Too many requests are pending. Please try again.", "offline", 0,
         0, "Home refresh delayed", "Too many requests are pending. Please try again."},
        {"no live data", false, false, std::nullopt, "offline — no live data", 0, 0, "You're offline", offline_body},
        {"capitals do not matter", false, false, std::nullopt, "OFFLINE — Sample Data", 0, 0, "You're offline",
         offline_body},
        {"connecting", false, false, std::nullopt, "connecting…", 0, 0, "Nothing to show yet",
         "Search for something, or check back when the trending feed loads."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Library library = c.videos ? with_videos({video_record("a", "UCa"), video_record("b", "UCb")}) : Library{};
        library.home_loading = c.loading;
        library.home_error = c.error;
        library.status.text = c.status;
        Built built(library, home_page);
        EXPECT_EQ(ids_with_prefix(built.page(), "video_card_").size(), c.cards);
        const Widget* grid = find_id(built.page(), "video_grid");
        EXPECT_EQ(grid != nullptr, c.cards + c.placeholders > 0);
        if (c.placeholders > 0) {
            EXPECT_EQ(grid->children().size(), c.placeholders);
            EXPECT_EQ(control_names(built.page()), std::vector<std::string>{});
        }
        const std::vector<std::string> texts = texts_of(built.page());
        if (c.title.empty()) {
            // Only the header's texts besides the cards'.
            EXPECT_EQ(texts[0], "Home");
            EXPECT_EQ(texts[1], "Recent and popular");
            if (c.cards == 0) {
                EXPECT_EQ(texts.size(), 2u);
            }
        } else {
            EXPECT_EQ(texts, (std::vector<std::string>{"Home", "Recent and popular", c.title, c.body}));
        }
    }
}

TEST(HomePage, CardsFillTheGridInCatalogueOrder) {
    Library library = with_videos(
        {video_record("a", "UCa"), video_record("b", "UCb"), video_record("c", "UCc"), video_record("d", "UCd")});
    // 1000 wide: padding 24, the header's 21-size title (26.25 high), gap 18,
    // then three columns of (952 - 2 × 18) / 3 in the grid; a card is 6 + 169
    // thumbnail + 9 + 55.375 details (14.5, 12.5 and 12.5 lines, gaps 3) + 6.
    // The solver rounds every edge to a whole pixel.
    const double column = (952.0 - 36.0) / 3.0;
    const double top = 24 + 26.25 + 18;
    const double card = 6 + 169 + 9 + (18.125 + 15.625 + 15.625 + 6) + 6;
    struct Expect {
        const char* id;
        ui::Rect rect;
    } expected[] = {
        {"video_card_a", {24, top, 24 + column, top + card}},
        {"video_card_b", {24 + column + 18, top, 24 + 2 * column + 18, top + card}},
        {"video_card_c", {24 + 2 * (column + 18), top, 24 + 3 * column + 36, top + card}},
        {"video_card_d", {24, top + card + 18, 24 + column, top + 2 * card + 18}},
    };
    Built built(library, home_page);
    EXPECT_EQ(ids_with_prefix(built.page(), "video_card_"),
              (std::vector<std::string>{"video_card_a", "video_card_b", "video_card_c", "video_card_d"}));
    for (const Expect& e : expected) {
        const ui::Rect r = built.laid->rect(e.id);
        EXPECT_EQ(
            r, (ui::Rect{std::round(e.rect.x0), std::round(e.rect.y0), std::round(e.rect.x1), std::round(e.rect.y1)}))
            << e.id;
    }

    // At scale 1.5 the header is the title row over a 38 gap, and the cards
    // stand one per line across the whole column, 24 apart.
    Built large(library, home_page, 1000, 1.5f);
    const double large_top = 24 + 26.25 + 38 + 18;
    const ui::Rect a = large.laid->rect("video_card_a");
    const ui::Rect b = large.laid->rect("video_card_b");
    EXPECT_EQ(a.x0, 24);
    EXPECT_EQ(a.x1, 976);
    EXPECT_EQ(a.y0, std::round(large_top));
    EXPECT_EQ(b.x0, 24);
    EXPECT_EQ(b.y0, a.y1 + 24);
}

TEST(HomePage, ACardOpensItsVideo) {
    Library library = with_videos({video_record("a", "UCa"), video_record("b", "UCb")});
    Built built(library, home_page);
    built.laid->click(*find_id(built.page(), "video_card_b"));
    EXPECT_EQ(take_intents(built.queue), (std::vector<ControlIntent>{intent::OpenVideo{"b"}}));
}

// The offline Home advises to return Home: the live root asks for the feed
// again when the user comes back to an empty Home, and the page then shows
// the feed loading instead of the advice (or a stale error).
TEST(HomePage, OfflineAdviceHoldsWhenTheUserReturnsHome) {
    // A worker that takes requests and never answers; the test answers for it.
    sarn::test::StalledWorkers stalled;
    sarn::test::RootHarness root(SarnApp::create(stalled.options()).start_live());
    root.frame();  // asks for the home feed
    SarnApp& app = root.app();
    ASSERT_TRUE(app.live());
    ASSERT_TRUE(app.library().home_loading);

    const ui::widget::Environment env = environment_at(1.0f);
    auto home_state = [&] {
        const PageContext cx{app.library(), env, IntentQueue{}, std::nullopt};
        LaidPage laid(home_page(cx), 1000);
        if (const Widget* grid = find_id(laid.page, "video_grid")) {
            return fmt::format("{} placeholders", grid->children().size());
        }
        return texts_of(laid.page).at(2);
    };
    EXPECT_EQ(home_state(), "12 placeholders");

    std::vector<std::string> pending;
    app.apply_fetch_result(FetchResult{FetchResult::Status{"offline — no live data", false}}, pending);
    EXPECT_EQ(home_state(), "You're offline");

    // Away and back again.
    root.run({intent::Navigate{Route::trending()}});
    EXPECT_EQ(home_state(), "You're offline");  // nothing asked while elsewhere
    root.run({intent::Navigate{Route::home()}});
    EXPECT_TRUE(app.library().home_loading);
    EXPECT_EQ(home_state(), "12 placeholders");

    // Choosing Home while on the empty Home asks again too, and a refused
    // request of before does not linger.
    app.apply_fetch_result(FetchResult{FetchResult::Status{"offline — no live data", false}}, pending);
    app.library_mut().home_error = "Too many requests are pending. Please try again.";
    EXPECT_EQ(home_state(), "Home refresh delayed");
    root.run({intent::Navigate{Route::home()}});
    EXPECT_FALSE(app.library().home_error.has_value());
    EXPECT_EQ(home_state(), "12 placeholders");
}

// ---- trending ----

TEST(TrendingPage, SortsByViewsKeepingCatalogueOrderForTies) {
    Library library = with_videos({video_record("low", "UCa", 10), video_record("tie1", "UCb", 500),
                                   video_record("top", "UCc", 9000), video_record("tie2", "UCd", 500)});
    Built built(library, trending_page);
    EXPECT_EQ(ids_with_prefix(built.page(), "video_card_"),
              (std::vector<std::string>{"video_card_top", "video_card_tie1", "video_card_tie2", "video_card_low"}));

    Built empty(Library{}, trending_page);
    EXPECT_EQ(find_id(empty.page(), "video_grid")->children().size(), 0u);
    EXPECT_EQ(texts_of(empty.page()), (std::vector<std::string>{"Trending", "Most-watched right now"}));
}

// ---- subscriptions ----

// The live app starts with an empty catalogue while the subscription list
// comes from the shared document: entries without a channel record count,
// and the page says how many it cannot show instead of "No subscriptions yet".
TEST(SubscriptionsPage, CountsEveryEntryAndNamesThoseItCannotShow) {
    const std::string address = std::string(kPlatformWebPrefix) + "@elsewhere";
    struct Case {
        const char* name;
        std::vector<std::string> subscriptions;
        bool catalogue;  // the channels UCa and UCb with one video each
        std::string subtitle;
        std::vector<std::string> tiles;
        std::optional<std::string> missing;
        std::string uploads;  // the grid's card ids joined, or the empty state's title
    };
    const Case cases[] = {
        {"nothing subscribed", {}, true, "0 channels", {}, std::nullopt, "No subscriptions yet"},
        {"records not loaded yet",
         {"UCa", "UCb", address},
         false,
         "3 channels",
         {},
         "3 subscribed channel(s) need metadata before they can be shown.",
         "Uploads not loaded yet"},
        {"one known, an address and an unknown id",
         {"UCb", address, "UCzz"},
         true,
         "3 channels",
         {"Open creator: Beta"},
         "2 subscribed channel(s) need metadata before they can be shown.",
         "video_card_b1"},
        {"all known",
         {"UCa", "UCb"},
         true,
         "2 channels",
         {"Open creator: Alpha", "Open creator: Beta"},
         std::nullopt,
         "video_card_a1 video_card_b1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Library library;
        if (c.catalogue) {
            library.channels = {channel_record("UCa", "Alpha"), channel_record("UCb", "Beta")};
            library.videos = {video_record("a1", "UCa"), video_record("b1", "UCb")};
        }
        library.subscriptions = c.subscriptions;
        Built built(library, subscriptions_page);
        const std::vector<std::string> texts = texts_of(built.page());
        EXPECT_EQ(texts.at(1), c.subtitle);
        std::vector<std::string> tiles;
        for (const auto& name : control_names(built.page()))
            if (name.starts_with("Open creator: ")) tiles.push_back(name);
        EXPECT_EQ(tiles, c.tiles);
        expect_missing_line(texts, c.missing);
        if (const Widget* grid = find_id(built.page(), "video_grid")) {
            EXPECT_EQ(fmt::format("{}", fmt::join(ids_with_prefix(*grid, "video_card_"), " ")), c.uploads);
        } else {
            EXPECT_TRUE(has_text(built.page(), c.uploads)) << c.uploads;
        }
        EXPECT_EQ(has_text(built.page(), "No subscriptions yet"), c.subscriptions.empty());
    }
}

TEST(SubscriptionsPage, ATileOpensItsCreator) {
    Library library;
    library.channels = {channel_record("UCa", "Alpha"), channel_record("UCb", "Beta")};
    library.subscriptions = {"UCa", "UCb"};
    Built built(library, subscriptions_page);
    const Widget* tile = find_control(built.page(), "Open creator: Beta");
    ASSERT_NE(tile, nullptr);
    // 96 wide, after the first tile and the 18 gap, below the header.
    EXPECT_EQ(tile->bounds().x0, 24 + 96 + 18);
    EXPECT_EQ(tile->bounds().width(), 96);
    EXPECT_EQ(tile->bounds().y0, std::round(24 + 26.25 + 18));
    built.laid->click(*tile);
    EXPECT_EQ(take_intents(built.queue), (std::vector<ControlIntent>{intent::OpenCreator{"UCb"}}));

    // A name that wraps makes its tile taller, not its neighbours' avatars lower.
    library.channels[0].name = "A channel name long enough to wrap";
    Built wrapped(library, subscriptions_page);
    const auto avatars = all_of<widgets::ChannelAvatar>(wrapped.page());
    ASSERT_EQ(avatars.size(), 2u);
    EXPECT_EQ(avatars[0]->bounds().y0, avatars[1]->bounds().y0);
}

// ---- queue ----

TEST(QueuePage, CountsEveryEntryAndNamesTheUnresolved) {
    struct Case {
        std::vector<std::string> queue;
        std::string subtitle;
        std::vector<std::string> rows;
        std::optional<std::string> missing;
    };
    const Case cases[] = {
        {{"a"}, "1 saved video", {"queue_btn_a"}, std::nullopt},
        {{"a", "b"}, "2 saved videos", {"queue_btn_a", "queue_btn_b"}, std::nullopt},
        {{"a", "gone", "b"},
         "3 saved videos",
         {"queue_btn_a", "queue_btn_b"},
         "1 queued item(s) need metadata before they can be shown."},
        {{"gone"}, "1 saved video", {}, "1 queued item(s) need metadata before they can be shown."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.subtitle);
        Library library = with_videos({video_record("a", "UCa"), video_record("b", "UCb")});
        library.queue = c.queue;
        Built built(library, [](const PageContext& cx) { return queue_page(cx, 1000); });
        const std::vector<std::string> texts = texts_of(built.page());
        EXPECT_EQ(texts.at(1), c.subtitle);
        EXPECT_EQ(ids_with_prefix(built.page(), "queue_btn_"), c.rows);
        EXPECT_EQ(find_id(built.page(), "queue_empty_state") != nullptr, c.rows.empty());
        EXPECT_EQ(c.missing.has_value(), texts.back().find("need metadata") != std::string::npos);
        if (c.missing) {
            EXPECT_EQ(texts.back(), *c.missing);
        }
    }
}

// At scale 1.5 and more the heading and the empty state are columns of the
// list width min(max(W - 64, 1), 920); in a page of at most 920 with padding
// 24 they stay inside its 872 (a wider column would overflow by 48 and make
// the page scroll sideways).
TEST(QueuePage, LargeScaleColumnsTakeTheListWidthWithinThePage) {
    Library library;
    library.queue = {"gone1", "gone2"};
    struct Case {
        double content_width;
        float list_width;
        double column_width;  // as laid out
        double page_width;
    } cases[] = {{500, 436, 436, 500}, {984, 920, 872, 920}, {2000, 920, 872, 920}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content_width);
        Built built(
            library, [&](const PageContext& cx) { return queue_page(cx, c.content_width); }, c.content_width, 1.5f);
        const Flex& heading = flex_id(built.page(), "queue_heading");
        const Flex& empty = flex_id(built.page(), "queue_empty_state");
        EXPECT_EQ(heading.width(), FlexSize::px(c.list_width));
        EXPECT_EQ(empty.width(), FlexSize::px(c.list_width));
        EXPECT_EQ(heading.bounds().width(), c.column_width);
        EXPECT_EQ(empty.bounds().width(), c.column_width);
        const ui::Rect page = built.laid->rect("queue_page");
        EXPECT_EQ(page.x0, 0);
        EXPECT_EQ(page.x1, c.page_width);  // nothing reaches past the page
    }
    // A content width of 50 still gives a list width of 1.
    Built narrow(
        library, [](const PageContext& cx) { return queue_page(cx, 50); }, 50, 1.5f);
    EXPECT_EQ(flex_id(narrow.page(), "queue_heading").width(), FlexSize::px(1));
    Built built(
        library, [](const PageContext& cx) { return queue_page(cx, 1000); }, 1000, 1.5f);
    for (const auto& [id, text] : std::vector<std::pair<std::string, std::string>>{
             {"queue_heading_title", "Shared queue"},
             {"queue_heading_count", "2 saved"},
             {"queue_heading_membership", "Membership is shared."},
             {"queue_heading_order", "Playback order stays local."},
             {"queue_empty_title", "Queue empty"},
             {"queue_empty_add", "Add from a video's watch page."},
             {"queue_empty_sync", "Sync needs a collaboration host."},
         }) {
        const auto* t = dynamic_cast<const Text*>(find_id(built.page(), id));
        ASSERT_NE(t, nullptr) << id;
        EXPECT_EQ(t->content(), text);
    }
}

// ---- history ----

// The history list holds ids of the owner-local store, whose records the
// live catalogue may not hold yet: such a history is not "nothing watched",
// it can be cleared, and the page says how many entries it cannot show.
TEST(HistoryPage, FollowsTheListNotTheRecordsItResolves) {
    struct Case {
        const char* name;
        std::vector<std::string> history;
        std::optional<std::string> notice;
        std::vector<std::string> rows;
        bool nothing_watched;
        std::optional<std::string> missing;
    };
    const Case cases[] = {
        {"empty", {}, std::nullopt, {}, true, std::nullopt},
        {"empty with a recovery notice", {}, "Watch history couldn't be opened.", {}, true, std::nullopt},
        {"records not loaded yet",
         {"x1", "x2", "x3"},
         std::nullopt,
         {},
         false,
         "3 watched item(s) need metadata before they can be shown."},
        {"partly known",
         {"b", "x1", "a"},
         std::nullopt,
         {"Open video: Title b", "Open video: Title a"},
         false,
         "1 watched item(s) need metadata before they can be shown."},
        {"all known", {"a", "b"}, std::nullopt, {"Open video: Title a", "Open video: Title b"}, false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Library library = with_videos({video_record("a", "UCa"), video_record("b", "UCb")});
        library.history = c.history;
        library.history_notice = c.notice;
        Built built(library, history_page);
        std::vector<std::string> rows;
        bool clear = false;
        for (const auto& name : control_names(built.page())) {
            if (name.starts_with("Open video: ")) rows.push_back(name);
            if (name == "Clear history") clear = true;
        }
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(clear, !c.history.empty());
        EXPECT_EQ(has_text(built.page(), "Nothing watched yet"), c.nothing_watched);
        EXPECT_EQ(has_text(built.page(), "History recovery needed"), c.notice.has_value());
        const std::vector<std::string> texts = texts_of(built.page());
        expect_missing_line(texts, c.missing);
        if (c.notice) {
            EXPECT_EQ(texts.back(), *c.notice);  // the recovery notice comes last
        }
    }
}

TEST(HistoryPage, ClearHistorySitsAtTheHeaderEndAndClears) {
    Library library = with_videos({video_record("a", "UCa")});
    library.history = {"a", "unknown"};
    Built built(library, history_page, 1200);
    // The page stops at 820; the pill ends at its padding.
    EXPECT_EQ(built.laid->column().bounds().width(), 820);
    const Widget* clear = find_control(built.page(), "Clear history");
    ASSERT_NE(clear, nullptr);
    EXPECT_EQ(clear->bounds().x1, 820 - 24);
    built.laid->click(*clear);
    EXPECT_EQ(take_intents(built.queue), (std::vector<ControlIntent>{intent::ClearHistory{}}));
}

}  // namespace
}  // namespace sarn::screens::test
