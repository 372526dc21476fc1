// The watch page: its tree and layout as numbers through the runtime's
// solver (player size, wide and stacked bodies), the player configuration
// (skip marks, quality setting), the skip button, the controls by synthetic
// clicks, and renders in the three themes at display scale 1 and 2.
//
// Set VORN_SARN_WATCH_SHOTS to a directory to keep the renders as PNG files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include <fmt/format.h>

#include "page_test_support.h"
#include "sarn/app/screens/blocks.h"
#include "sarn/app/screens/watch_page.h"
#include "sarn/app/widgets/player_host.h"
#include "sarn/app/widgets/switch.h"
#include "test_widgets.h"
#include "vorn_ui/offscreen.h"

namespace sarn::screens::test {
namespace {

using vorn_ui_test::Harness;
using widgets::PlayerHost;
namespace ui = vorn_ui;
using ui::widget::Widget;
using ui::widget::scrollable::Scrollable;
using ui::widget::video_player::SponsorMark;
using ui::widget::video_player::VideoPlayer;

// ---- tree helpers ----

const Flex* by_label(const Widget& root, std::string_view label) {
    for (const Flex* f : all_of<Flex>(root))
        if (f->label() == label) return f;
    return nullptr;
}

// ---- fixture ----

Video make_video(std::string id, std::string channel_id, std::string channel_name, std::string category) {
    Video v;
    v.id = id;
    v.title = "Video " + id;
    v.channel_id = std::move(channel_id);
    v.channel_name = std::move(channel_name);
    v.views = 1000;
    v.published = "1 day ago";
    v.duration = 300;
    v.seed = id;
    v.category = std::move(category);
    return v;
}

// One watched video with four segments (intro shown, sponsor skipped, filler
// disabled, outro skipped) and two comments; a live stream; a video without
// comments on a channel the library lacks; seven related videos.
Library watch_library() {
    Library lib;
    Channel ada;
    ada.id = "c_ada";
    ada.name = "Ada Lovelace";
    ada.handle = "@ada";
    ada.subscribers = 12'300;
    ada.seed = "c_ada";
    lib.channels.push_back(ada);

    Video v = make_video("v_engine", "c_ada", "Ada Lovelace", "science");
    v.title = "Engines of the mind";
    v.dearrow_title = "How the analytical engine works";
    v.views = 45'678;
    v.published = "2 days ago";
    v.duration = 600;
    v.description = "Notes on the analytical engine, its mill and its store.";
    v.likes = 1234;
    v.sponsor = {{SponsorCategory::Intro, 0, 30, 4},
                 {SponsorCategory::Sponsor, 60, 120, 9},
                 {SponsorCategory::Filler, 300, 330, 1},
                 {SponsorCategory::Outro, 570, 600, 2}};
    v.comments = {{"Charles Babbage", "CB", "The mill is the heart of it.", 2500, "1 day ago", true, true, 3},
                  {"Mary Somerville", "MS", "Lovely notes.", 7, "3 hours ago", false, false, 0}};
    lib.videos.push_back(v);

    Video live = make_video("v_live", "c_ada", "Ada Lovelace", "live");
    live.duration = 0;
    live.live = true;
    live.sponsor = {{SponsorCategory::Intro, 0, 5, 1}, {SponsorCategory::Sponsor, 10, 20, 1}};
    lib.videos.push_back(live);

    Video quiet = make_video("v_quiet", "c_nobody", "Nobody Known", "misc");
    quiet.description = "No one has said anything yet.";
    lib.videos.push_back(quiet);

    for (int i = 1; i <= 7; ++i)
        lib.videos.push_back(make_video(fmt::format("r{}", i), "c_ada", "Ada Lovelace", "science"));

    lib.settings.sponsor_categories["intro"] = SponsorMode::Show;
    lib.route = Route::watch("v_engine");
    return lib;
}

// The page built and laid out alone at the content width, in a viewport
// tall enough to hold all of it.
struct WatchFixture : ::testing::Test {
    Library library = watch_library();
    IntentQueue queue;
    std::shared_ptr<VideoPlayer> player = std::make_shared<VideoPlayer>();
    Harness h;
    std::optional<Scrollable> page;

    Scrollable& build(std::string_view id, double width = 1194, double viewport_height = 800, float scale = 1.0f,
                      ui::Theme theme = ui::Theme::dark()) {
        h.env.theme = theme.with_scale(scale);
        h.env.scale = scale;
        const PageContext cx{library, h.env, queue, std::nullopt};
        page.emplace(watch_page(cx, id, player, width, viewport_height));
        h.layout(*page, width, 4000);
        return *page;
    }
    const Widget& need(std::string_view id) {
        const Widget* w = find_id(*page, id);
        if (!w) ADD_FAILURE() << "no widget " << id;
        return w ? *w : *page;
    }
    const PlayerHost* host() {
        const auto hosts = all_of<PlayerHost>(*page);
        return hosts.size() == 1 ? hosts[0] : nullptr;
    }
    // A press and a release at the middle of the widget.
    std::vector<ControlIntent> click(const Widget& w) {
        click_centre(h, *page, w);
        return take_intents(queue);
    }
};

constexpr double kTolerance = 0.51;  // the solver rounds edges to whole pixels

void expect_rect(const ui::Rect& got, double x0, double y0, double x1, double y1, const std::string& what) {
    EXPECT_NEAR(got.x0, x0, kTolerance) << what;
    EXPECT_NEAR(got.y0, y0, kTolerance) << what;
    EXPECT_NEAR(got.x1, x1, kTolerance) << what;
    EXPECT_NEAR(got.y1, y1, kTolerance) << what;
}

// ---- layout ----

TEST_F(WatchFixture, PlayerSizeAndBodyFormFollowTheContentWidthAndWindowHeight) {
    // Player width min(H × 0.65 × 16 / 9, W), at least 1; height 9 / 16 of it,
    // at least 1; centred. The up-next column goes beside the main column once
    // the padded body (W − 40) is 900 wide.
    struct Case {
        double width, height;
        float scale;
        double player_w, player_h;
        bool wide;
    } cases[] = {
        {1194, 800, 1.0f, 924.444, 520.0, true},  // 1280 window beside the rail
        {1194, 800, 2.0f, 924.444, 520.0, true},  // logical pixels at any display scale
        {1194, 400, 1.0f, 462.222, 260.0, true},  // a short window: the height limits the player
        {940, 800, 1.0f, 924.444, 520.0, true},
        {939, 800, 1.0f, 924.444, 520.0, false},
        {700, 800, 1.0f, 700.0, 393.75, false},
        {560, 800, 1.0f, 560.0, 315.0, false},  // the narrow window
        {560, 800, 2.0f, 560.0, 315.0, false},
        {560, 1, 1.0f, 1.156, 1.0, false},  // the least window height the root passes
    };
    for (const Case& c : cases) {
        const std::string what = fmt::format("{} x {} at {}", c.width, c.height, c.scale);
        build("v_engine", c.width, c.height, c.scale);
        const PlayerHost* ph = host();
        ASSERT_NE(ph, nullptr) << what;
        EXPECT_FLOAT_EQ(ph->height(), static_cast<float>(c.player_h)) << what;
        const double x0 = (c.width - c.player_w) / 2;
        expect_rect(ph->bounds(), x0, 0, x0 + c.player_w, c.player_h, what);

        // The padded body below the player; its one child is the body.
        const Flex& column = page_column(*page);
        const Widget& padded = *column.children()[1];
        expect_rect(padded.bounds(), 0, c.player_h, c.width, padded.bounds().y1, what);
        const Flex& body = dynamic_cast<const Flex&>(*padded.children()[0]);
        const Widget& main = *body.children()[0];
        const Widget& up_next = *body.children()[1];
        EXPECT_EQ(body.direction(), c.wide ? widgets::FlexDirection::Row : widgets::FlexDirection::Column) << what;
        if (c.wide) {
            const double up_x0 = c.width - 20 - 360;
            EXPECT_NEAR(main.bounds().x0, 20, kTolerance) << what;
            EXPECT_NEAR(main.bounds().x1, up_x0 - 24, kTolerance) << what;
            EXPECT_NEAR(up_next.bounds().x0, up_x0, kTolerance) << what;
            EXPECT_NEAR(up_next.bounds().x1, c.width - 20, kTolerance) << what;
            EXPECT_NEAR(up_next.bounds().y0, main.bounds().y0, kTolerance) << what;  // both at the top
        } else {
            EXPECT_NEAR(main.bounds().x0, 20, kTolerance) << what;
            EXPECT_NEAR(main.bounds().x1, c.width - 20, kTolerance) << what;
            EXPECT_NEAR(up_next.bounds().x0, 20, kTolerance) << what;
            EXPECT_NEAR(up_next.bounds().x1, c.width - 20, kTolerance) << what;
            EXPECT_NEAR(up_next.bounds().y0, main.bounds().y1 + 24, kTolerance) << what;  // below, gap 24
        }
        EXPECT_NEAR(main.bounds().y0, c.player_h + 20, kTolerance) << what;
    }
}

TEST_F(WatchFixture, NothingReachesPastTheContentWidth) {
    // Long texts wrap inside the columns at every width the page takes.
    library.find_video("v_engine")->description = std::string(60, 'W') + " " + std::string(400, 'x');
    library.notices = {"Skipped Sponsor (1:00–2:00)", "Link copied: https://youtu.be/v_engine"};
    for (const double width : {1194.0, 940.0, 939.0, 560.0, 360.0}) {
        build("v_engine", width);
        walk(*page, [&](const Widget& w) {
            const auto* f = dynamic_cast<const Flex*>(&w);
            const ui::Rect r = f ? f->solved_box() : w.bounds();
            EXPECT_LE(r.x1, width + kTolerance) << width << " " << w.type_name() << " " << w.widget_id().value_or("");
            EXPECT_GE(r.x0, -kTolerance) << width << " " << w.type_name();
        });
    }
}

TEST_F(WatchFixture, StageHoldsAPlayerHostOverTheSharedPlayerAcrossRebuilds) {
    build("v_engine");
    const PlayerHost* first = host();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->player().get(), player.get());
    EXPECT_EQ(first->widget_id(), "watch_video_surface");
    player->seek(30'000);

    Scrollable& rebuilt = build("v_engine");
    const auto hosts = all_of<PlayerHost>(rebuilt);
    ASSERT_EQ(hosts.size(), 1u);
    EXPECT_EQ(hosts[0]->player().get(), player.get());
    build("v_engine");
    EXPECT_EQ(host()->player().get(), player.get());
    EXPECT_EQ(player->position_ms(), 30'000u);  // the player kept its state through both rebuilds
    EXPECT_EQ(player->settings().size(), 1u);   // the same setting entry, updated in place
}

// ---- the player's configuration ----

SponsorMark mark(float start, float end, SponsorCategory category) {
    const Rgb c = category_colour(category);
    return {start, end, ui::Color::rgba8(c.r, c.g, c.b)};
}

bool same_marks(const std::vector<SponsorMark>& a, const std::vector<SponsorMark>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].start != b[i].start || a[i].end != b[i].end || !(a[i].color == b[i].color)) return false;
    return true;
}

TEST_F(WatchFixture, SkipMarksFollowTheSettingsAndTheVideosLength) {
    struct Case {
        std::string name;
        std::string video;
        std::function<void(Library&)> change;
        std::vector<SponsorMark> marks;
    } cases[] = {
        {"defaults: filler disabled",
         "v_engine",
         [](Library&) {},
         {mark(0.0f, 0.05f, SponsorCategory::Intro), mark(0.1f, 0.2f, SponsorCategory::Sponsor),
          mark(0.95f, 1.0f, SponsorCategory::Outro)}},
        {"filler shown",
         "v_engine",
         [](Library& l) { l.settings.sponsor_categories["filler"] = SponsorMode::Show; },
         {mark(0.0f, 0.05f, SponsorCategory::Intro), mark(0.1f, 0.2f, SponsorCategory::Sponsor),
          mark(0.5f, 0.55f, SponsorCategory::Filler), mark(0.95f, 1.0f, SponsorCategory::Outro)}},
        {"SponsorBlock off", "v_engine", [](Library& l) { l.settings.sponsorblock = false; }, {}},
        {"every category disabled",
         "v_engine",
         [](Library& l) {
             for (const SponsorCategory c : kAllSponsorCategories)
                 l.settings.sponsor_categories[std::string(category_key(c))] = SponsorMode::Disabled;
         },
         {}},
        // A live stream has no length to take fractions of: no marks at all
        // (not its seconds over 1, which would paint most of the bar).
        {"live stream of duration 0", "v_live", [](Library&) {}, {}},
        {"duration 0 without the live flag", "v_live", [](Library& l) { l.find_video("v_live")->live = false; }, {}},
    };
    for (const Case& c : cases) {
        library = watch_library();
        c.change(library);
        player->set_sponsor_marks({mark(0.3f, 0.4f, SponsorCategory::Preview)});  // from an earlier page
        build(c.video);
        EXPECT_TRUE(same_marks(player->sponsor_marks(), c.marks)) << c.name;
        const Widget& stage = *page_column(*page).children()[0];
        EXPECT_EQ(stage.widget_id(), c.marks.empty() ? std::nullopt : std::optional<std::string_view>("sb_timeline"))
            << c.name;
    }
}

TEST_F(WatchFixture, QualitySettingSelectsThePreferredQuality) {
    const std::vector<std::string> options = {"1080p", "720p", "480p", "auto"};
    struct Case {
        std::string preferred;
        std::size_t selected;
    } cases[] = {{"1080p", 0}, {"720p", 1}, {"480p", 2}, {"auto", 3}, {"4k", 0}, {"", 0}};
    for (const Case& c : cases) {
        library.settings.preferred_quality = c.preferred;
        build("v_engine");
        ASSERT_EQ(player->settings().size(), 1u);
        const auto& s = player->settings()[0];
        EXPECT_EQ(s.id, "resolution");
        EXPECT_EQ(s.kind, 9u);
        EXPECT_EQ(s.label, "Resolution");
        EXPECT_EQ(s.value, 1);
        EXPECT_EQ(s.options, options);
        EXPECT_EQ(s.selected, c.selected) << c.preferred;
    }
}

TEST_F(WatchFixture, UnknownVideoShowsItsEmptyStateAndLeavesThePlayerAlone) {
    player->set_sponsor_marks({mark(0.1f, 0.2f, SponsorCategory::Sponsor)});
    build("v_missing");
    EXPECT_EQ(texts_of(*page), (std::vector<std::string>{"Video unavailable", ""}));
    EXPECT_EQ(host(), nullptr);
    EXPECT_EQ(player->sponsor_marks().size(), 1u);
    EXPECT_TRUE(player->settings().empty());
    // The padding 24 around the empty state, which fills the width.
    const Flex& column = page_column(*page);
    expect_rect(column.children()[0]->bounds(), 24, 24, 1194 - 24, column.children()[0]->bounds().y1, "state");
}

// ---- the skip button ----

TEST_F(WatchFixture, SkipButtonShowsInsideShownSegmentsOnly) {
    struct Case {
        std::string name;
        std::string video;
        double position;
        std::function<void(Library&)> change;
        std::optional<double> skip_to;  // the button and its target
    } cases[] = {
        {"inside the shown intro", "v_engine", 10, [](Library&) {}, 30.0},
        {"at the intro's start", "v_engine", 0, [](Library&) {}, 30.0},
        {"exactly at the intro's end", "v_engine", 30, [](Library&) {}, std::nullopt},
        {"inside the skipped sponsor", "v_engine", 90, [](Library&) {}, std::nullopt},
        {"SponsorBlock off", "v_engine", 10, [](Library& l) { l.settings.sponsorblock = false; }, std::nullopt},
        {"sponsor switched to shown", "v_engine", 90,
         [](Library& l) { l.settings.sponsor_categories["sponsor"] = SponsorMode::Show; }, 120.0},
        // Skipping needs the length, which a live stream lacks.
        {"live stream inside its shown intro", "v_live", 2, [](Library&) {}, std::nullopt},
    };
    for (const Case& c : cases) {
        library = watch_library();
        c.change(library);
        library.position = c.position;
        build(c.video);
        const Widget* button = find_id(*page, "sb_skip_btn");
        ASSERT_EQ(button != nullptr, c.skip_to.has_value()) << c.name;
        if (!button) continue;
        EXPECT_EQ(click(*button), (std::vector<ControlIntent>{intent::SkipSegment{*c.skip_to}})) << c.name;
    }
}

TEST_F(WatchFixture, SkipButtonSitsAtTheLowerRightOfThePlayer) {
    library.position = 12;
    build("v_engine");
    const auto& button = dynamic_cast<const Flex&>(need("sb_skip_btn"));
    const ui::Rect player_box = host()->bounds();
    EXPECT_NEAR(button.bounds().x1, player_box.x1 - 16, kTolerance);
    EXPECT_NEAR(button.bounds().y1, player_box.y1 - 52, kTolerance);
    EXPECT_EQ(button.accessibility()->name, "Skip Intermission / intro");
    EXPECT_EQ(texts_of(button), std::vector<std::string>{"Skip Intermission / intro"});
    EXPECT_EQ(button.background()->fill, ui::Color::rgba8(0, 0, 0, 200));
    EXPECT_EQ(button.background()->border->color, ui::Color::rgba8(255, 255, 255, 40));
    EXPECT_EQ(button.hover_background()->fill, h.env.theme.accent);
    EXPECT_FALSE(button.hover_background()->border.has_value());
    // A click on the player beside the button reaches the player, not the button.
    const auto c = player_box.center();
    h.send(*page, vorn_ui_test::press(c.x, c.y));
    h.send(*page, vorn_ui_test::release(c.x, c.y));
    EXPECT_TRUE(take_intents(queue).empty());
}

// ---- the main column ----

TEST_F(WatchFixture, TitleCountsAndChannelLineFollowTheLibrary) {
    struct Case {
        std::string name;
        std::function<void(Library&)> change;
        std::string title, likes, dislikes, subscribe;
        bool like_active;
    } cases[] = {
        {"defaults", [](Library&) {}, "How the analytical engine works", "1.2K", "—", "Subscribe", false},
        {"liked, subscribed, dislikes known",
         [](Library& l) {
             l.likes = {"v_engine"};
             l.subscriptions = {"c_ada"};
             l.dislikes["v_engine"] = 5400;
         },
         "How the analytical engine works", "1.2K", "5.4K", "Subscribed", true},
        {"crowd titles off", [](Library& l) { l.settings.dearrow_titles = false; }, "Engines of the mind", "1.2K", "—",
         "Subscribe", false},
        {"dislikes off", [](Library& l) { l.settings.return_dislike = false; }, "How the analytical engine works",
         "1.2K", "", "Subscribe", false},
    };
    for (const Case& c : cases) {
        library = watch_library();
        c.change(library);
        build("v_engine");
        const ui::Theme& theme = h.env.theme;
        EXPECT_TRUE(has_text(*page, c.title)) << c.name;
        EXPECT_TRUE(has_text(*page, "45K views • 2 days ago")) << c.name;
        const auto& like = dynamic_cast<const Flex&>(need("like_btn"));
        EXPECT_EQ(texts_of(like), std::vector<std::string>{c.likes}) << c.name;
        EXPECT_EQ(like.background()->fill, c.like_active ? theme.selection : theme.control) << c.name;
        const Widget* dislike = find_id(*page, "dislike_pill");
        EXPECT_EQ(dislike != nullptr, !c.dislikes.empty()) << c.name;
        if (dislike) {
            EXPECT_EQ(texts_of(*dislike), std::vector<std::string>{c.dislikes}) << c.name;
            EXPECT_FALSE(dislike->is_focusable()) << c.name;  // a count, no control
        }
        const auto& subscribe = dynamic_cast<const Flex&>(need("subscribe_btn"));
        EXPECT_EQ(texts_of(subscribe), std::vector<std::string>{c.subscribe}) << c.name;
        EXPECT_EQ(subscribe.background()->fill, c.subscribe == "Subscribe" ? theme.selection : theme.control);
        EXPECT_NE(find_id(*page, "queue_btn_v_engine"), nullptr);
        EXPECT_TRUE(has_text(*page, "12K subscribers")) << c.name;
    }
}

TEST_F(WatchFixture, ChannelOutsideTheLibraryHasNoSubscriberLine) {
    build("v_quiet");
    const Flex* creator = by_label(*page, "Open creator: Nobody Known");
    ASSERT_NE(creator, nullptr);
    EXPECT_EQ(texts_of(*creator), std::vector<std::string>{"Nobody Known"});
}

// The line under the title joins only what the video has, as the cards do.
using Display = WatchFixture;

TEST_F(Display, WatchPageMetaLineHasNoDanglingSeparator) {
    struct Case {
        std::uint64_t views;
        const char* published;
        bool live;
        const char* line;
    } cases[] = {
        {1000, "", false, "1K views"},
        {0, "2 days ago", false, "2 days ago"},
        {1071, "", true, "1K watching"},
    };
    for (const Case& c : cases) {
        Video& v = *library.find_video("v_engine");
        v.views = c.views;
        v.published = c.published;
        v.live = c.live;
        build("v_engine");
        EXPECT_TRUE(has_text(*page, c.line)) << c.line;
        for (const std::string& text : texts_of(*page)) EXPECT_FALSE(text.ends_with(" • ")) << text;
    }
}

TEST_F(WatchFixture, ControlsQueueTheirIntents) {
    library.find_video("r1")->title = "The difference engine";
    build("v_engine");
    struct Case {
        std::string name;
        std::function<const Widget*(const Widget&)> find;
        ControlIntent intent;
    } cases[] = {
        {"like", [](const Widget& p) { return find_id(p, "like_btn"); }, intent::ToggleLike{"v_engine"}},
        {"share", [](const Widget& p) { return find_id(p, "share_btn"); }, intent::CopyShareLink{"v_engine"}},
        {"subscribe", [](const Widget& p) { return find_id(p, "subscribe_btn"); }, intent::ToggleSubscription{"c_ada"}},
        {"settings", [](const Widget& p) { return find_id(p, "watch_settings"); }, intent::Navigate{Route::settings()}},
        {"creator", [](const Widget& p) { return by_label(p, "Open creator: Ada Lovelace"); },
         intent::OpenCreator{"c_ada"}},
        {"autoplay", [](const Widget& p) -> const Widget* { return all_of<widgets::Switch>(p).at(0); },
         intent::ToggleSetting{Setting::Autoplay}},
        {"up next", [](const Widget& p) { return by_label(p, "Open video: The difference engine"); },
         intent::OpenVideo{"r1"}},
    };
    for (const Case& c : cases) {
        const Widget* w = c.find(*page);
        ASSERT_NE(w, nullptr) << c.name;
        EXPECT_EQ(click(*w), std::vector<ControlIntent>{c.intent}) << c.name;
    }
    const auto switches = all_of<widgets::Switch>(*page);
    ASSERT_EQ(switches.size(), 1u);
    EXPECT_TRUE(switches[0]->on());
    EXPECT_EQ(switches[0]->label(), "Autoplay");
}

TEST_F(WatchFixture, NoticesShowTheNewestFour) {
    build("v_engine");
    EXPECT_EQ(find_id(*page, "notices"), nullptr);
    library.notices = {"n1", "n2", "n3", "n4", "n5", "n6"};
    build("v_engine");
    EXPECT_EQ(texts_of(need("notices")), (std::vector<std::string>{"n1", "n2", "n3", "n4"}));
}

TEST_F(WatchFixture, CommentsFollowTheShowCommentsSetting) {
    build("v_engine");
    EXPECT_TRUE(has_text(*page, "2 Comments"));
    for (const char* text : {"Pinned", "Charles Babbage", "1 day ago", "The mill is the heart of it.", "2.5K",
                             "3 replies", "Mary Somerville", "Lovely notes.", "7"})
        EXPECT_TRUE(has_text(*page, text)) << text;
    EXPECT_FALSE(has_text(*page, "0 replies"));
    const auto texts = texts_of(*page);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Pinned"), 1);

    library.settings.show_comments = false;
    build("v_engine");
    EXPECT_TRUE(has_text(*page, "2 Comments"));
    EXPECT_TRUE(has_text(*page, "Comments hidden (enable in settings)."));
    EXPECT_FALSE(has_text(*page, "Charles Babbage"));

    library.settings.show_comments = true;
    build("v_quiet");
    EXPECT_TRUE(has_text(*page, "0 Comments"));
    EXPECT_FALSE(has_text(*page, "Comments hidden (enable in settings)."));
}

TEST_F(WatchFixture, UpNextListsTheFirstSixOfTheLibrarysList) {
    build("v_engine");
    std::vector<std::string> rows;
    for (const Flex* f : all_of<Flex>(*page))
        if (f->intent() && std::holds_alternative<intent::OpenVideo>(*f->intent()))
            rows.push_back(std::get<intent::OpenVideo>(*f->intent()).video_id);
    EXPECT_EQ(rows, (std::vector<std::string>{"r1", "r2", "r3", "r4", "r5", "r6"}));

    library.up_next_for = "v_engine";
    library.up_next = {"v_quiet", "unknown", "r7"};
    build("v_engine");
    rows.clear();
    for (const Flex* f : all_of<Flex>(*page))
        if (f->intent() && std::holds_alternative<intent::OpenVideo>(*f->intent()))
            rows.push_back(std::get<intent::OpenVideo>(*f->intent()).video_id);
    EXPECT_EQ(rows, (std::vector<std::string>{"v_quiet", "r7"}));
}

// ---- renders ----

ui::offscreen::RenderedImage render_page(Scrollable& page, Harness& h, double width, double height, float scale) {
    ui::Scene scene;
    ui::widget::DrawContext dcx{h.env.theme, h.text, h.permissions};
    page.draw_with_presence(scene, ui::Affine::scale(scale), dcx,
                            ui::widget::PresenceContext{ui::Rect{0, 0, width, height}});
    auto renderer = ui::offscreen::OffscreenRenderer::create(static_cast<std::uint32_t>(width * scale),
                                                             static_cast<std::uint32_t>(height * scale));
    EXPECT_TRUE(renderer.has_value());
    auto image = renderer->render_resilient(scene, h.env.theme.background);
    EXPECT_TRUE(image.has_value());
    return std::move(*image);
}

TEST_F(WatchFixture, RendersInEveryThemeWidthAndScale) {
    const char* dir = std::getenv("VORN_SARN_WATCH_SHOTS");
    struct Theme {
        const char* name;
        ui::Theme theme;
    } themes[] = {{"dark", ui::Theme::dark()}, {"light", ui::Theme::light()}, {"contrast", ui::Theme::high_contrast()}};
    struct Shot {
        const char* name;
        const char* video;
        double width, height;
        float scale;
        bool every_theme;
        std::function<void(Library&)> change;
    } shots[] = {
        {"wide", "v_engine", 1194, 800, 1.0f, true, [](Library&) {}},
        {"narrow", "v_engine", 560, 800, 1.0f, true, [](Library&) {}},
        {"wide-x2", "v_engine", 1194, 800, 2.0f, true, [](Library&) {}},
        {"narrow-x2", "v_engine", 560, 800, 2.0f, true, [](Library&) {}},
        {"threshold-939", "v_engine", 939, 800, 1.0f, false, [](Library&) {}},
        {"threshold-940", "v_engine", 940, 800, 1.0f, false, [](Library&) {}},
        {"full-wide", "v_engine", 1194, 2000, 1.0f, false, [](Library&) {}},
        {"full-narrow", "v_engine", 560, 2600, 1.0f, false, [](Library&) {}},
        {"comments-hidden", "v_engine", 1194, 2000, 1.0f, false, [](Library& l) { l.settings.show_comments = false; }},
        {"no-comments", "v_quiet", 1194, 1400, 1.0f, false, [](Library&) {}},
        {"live", "v_live", 1194, 1400, 1.0f, false, [](Library&) {}},
        {"unknown", "v_missing", 1194, 800, 1.0f, false, [](Library&) {}},
        {"unknown-narrow-x2", "v_missing", 560, 800, 2.0f, false, [](Library&) {}},
    };
    for (const Shot& s : shots) {
        for (const Theme& t : themes) {
            if (!s.every_theme && std::string_view(t.name) != "dark") continue;
            library = watch_library();
            library.position = 12;  // inside the shown intro: the skip button shows
            library.likes = {"v_engine"};
            library.notices = {"Skipped Sponsor (1:00–2:00)", "Link copied: https://youtu.be/v_engine"};
            s.change(library);
            player = std::make_shared<VideoPlayer>();
            player->reveal_controls();
            // The player's size follows the 800-high window; the picture shows
            // as much of the page as its own height holds.
            Scrollable& p = build(s.video, s.width, 800, s.scale, t.theme);
            h.layout(p, s.width, s.height);
            const auto image = render_page(p, h, s.width, s.height, s.scale);
            ASSERT_EQ(image.width, static_cast<std::uint32_t>(s.width * s.scale));
            if (dir) {
                auto png = ui::offscreen::encode_png(image.width, image.height, image.rgba);
                ASSERT_TRUE(png.has_value());
                const auto path = std::filesystem::path(dir) / fmt::format("watch-{}-{}.png", s.name, t.name);
                ASSERT_TRUE(ui::offscreen::write_file_atomically(path, *png).has_value());
            }
        }
    }
}

}  // namespace
}  // namespace sarn::screens::test
