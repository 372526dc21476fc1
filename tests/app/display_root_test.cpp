// The root on a HiDPI display and in a narrow window, and what its player
// shows while a watch page's stream is on its way or did not come.
#include <gtest/gtest.h>

#include "page_test_support.h"
#include "root_harness.h"
#include "sarn/app/action_tree.h"
#include "sarn/app/widgets/thumbnail.h"
#include "vorn_ui/widget/nav_split.h"

namespace sarn {
namespace {

using screens::test::all_of;
using test::quiet_options;
using test::RootHarness;
using vorn_ui::widget::video_player::Standby;

vorn_ui::OperationRequest operation(std::uint32_t type, const SarnOperation& op) {
    return {type, std::string(kOperationKind), encode_json(op)};
}

bool sidebar_shown(RootHarness& h) {
    const auto splits = all_of<vorn_ui::widget::NavSplit>(h.app());
    EXPECT_EQ(splits.size(), 1u);
    return !splits.empty() && splits[0]->sidebar_shown();
}

void press_and_release(RootHarness& h, vorn_ui::Point device) {
    h.send(vorn_ui::PointerMoveEvent{device});
    vorn_ui::PointerButtonEvent press;
    press.button = vorn_ui::PointerButton::Primary;
    press.position = device;
    press.pressed = true;
    h.send(press);
    press.pressed = false;
    h.send(press);
}

TEST(Display, NarrowStartShowsTheSidebarThenBehavesLikeAnyCompactWindow) {
    RootHarness h(SarnApp::create(quiet_options()).with_viewport_size(560, 800).with_narrow(true), 560, 800);
    h.frame();
    ASSERT_TRUE(h.app().is_compact());
    EXPECT_TRUE(sidebar_shown(h)) << "a narrow start opens with the sidebar";

    // The menu button's operation hides it and shows it again.
    EXPECT_TRUE(h.app().perform_operation(operation(2, operation::ToggleSidebar{})).is_handled());
    h.frame();
    EXPECT_FALSE(sidebar_shown(h));
    EXPECT_TRUE(h.app().perform_operation(operation(2, operation::ToggleSidebar{})).is_handled());
    h.frame();
    EXPECT_TRUE(sidebar_shown(h));

    // Escape hides it without going anywhere.
    h.run({intent::Navigate{Route::trending()}, intent::ToggleNavigation{}});
    h.frame();
    ASSERT_TRUE(sidebar_shown(h));
    h.key(vorn_ui::NamedKey::Escape);
    h.frame();
    EXPECT_FALSE(sidebar_shown(h));
    EXPECT_EQ(h.app().library().route, Route::trending());

    // Picking a page from it closes it, as in any compact window.
    h.run({intent::ToggleNavigation{}});
    h.frame();
    ASSERT_TRUE(sidebar_shown(h));
    h.run({intent::Navigate{Route::history()}});
    h.frame();
    EXPECT_FALSE(sidebar_shown(h));

    // With an explicit size wide enough the window is not compact, and the
    // sidebar is simply there; the menu button still hides it.
    RootHarness wide(SarnApp::create(quiet_options()).with_viewport_size(1000, 800).with_narrow(true), 1000, 800);
    wide.frame();
    EXPECT_TRUE(sidebar_shown(wide));
    wide.app().perform_operation(operation(2, operation::ToggleSidebar{}));
    wide.frame();
    EXPECT_FALSE(sidebar_shown(wide));
}

TEST(Display, HomeAtScaleTwoKeepsEveryPictureInShapeAndCardsOpen) {
    RootHarness h(SarnApp::create(quiet_options()).with_viewport_size(1280, 800).with_route(Route::home()), 1280,
                  800, 2.0f);
    h.frame();
    h.frame();
    const auto thumbs = all_of<widgets::Thumbnail>(h.app());
    ASSERT_FALSE(thumbs.empty());
    for (const auto* thumb : thumbs) {
        const vorn_ui::Rect box = thumb->bounds();
        ASSERT_GT(box.height(), 0) << thumb->seed();
        EXPECT_NEAR(box.width() / box.height(), 16.0 / 9.0, 16.0 / 9.0 * 0.02) << thumb->seed();
    }
    // The first card, clicked at its centre in device pixels, opens its video.
    const auto cards = screens::test::with_id_prefix(screens::test::dump_tree(h.app()), "video_card_");
    ASSERT_FALSE(cards.empty());
    const vorn_ui::Point centre = cards.front().rect.center();
    press_and_release(h, {centre.x * 2, centre.y * 2});
    h.frame();
    EXPECT_EQ(h.app().library().route, Route::watch(cards.front().id.substr(std::string("video_card_").size())));
}

TEST(Display, PlayerWaitsForTheStreamAndSaysWhyNoneCame) {
    test::StalledWorkers workers;
    RootHarness h(SarnApp::create(workers.options()).start_live());
    h.frame();
    Video a, b;
    a.id = "va";
    b.id = "vb";
    std::vector<std::string> pending;
    h.app().apply_fetch_result(FetchResult{FetchResult::HomeFeed{{a, b}}}, pending);
    const auto standby = [&] { return h.app().player()->standby(); };

    // Nothing is shown of the page's stream until it comes: the mark says it is on its way.
    h.run({intent::OpenVideo{"va"}});
    h.frame();
    ASSERT_TRUE(standby().has_value());
    EXPECT_TRUE(standby()->waiting);
    EXPECT_EQ(standby()->message, "");

    // A second page asks for its own stream; the worker answers in order, so
    // the first "no stream" is the first page's.
    h.run({intent::OpenVideo{"vb"}});
    h.frame();
    h.app().apply_fetch_result(FetchResult{FetchResult::Note{std::string(kNoStreamNote)}}, pending);
    h.frame();
    ASSERT_TRUE(standby().has_value());
    EXPECT_TRUE(standby()->waiting) << "the failure was the other page's";
    h.app().apply_fetch_result(FetchResult{FetchResult::Note{"stream: 720p video only [cdn]"}}, pending);
    h.app().apply_fetch_result(FetchResult{FetchResult::Note{std::string(kNoStreamNote)}}, pending);
    h.frame();
    ASSERT_TRUE(standby().has_value());
    EXPECT_FALSE(standby()->waiting);
    EXPECT_EQ(standby()->message, kNoStreamNote);

    // Back on the first page its stream is asked for again; this time it comes.
    h.run({intent::GoBack{}});
    h.frame();
    ASSERT_EQ(h.app().library().route, Route::watch("va"));
    ASSERT_TRUE(standby().has_value());
    EXPECT_TRUE(standby()->waiting);
    h.app().apply_fetch_result(FetchResult{FetchResult::StreamReady{"va", "file:///nonexistent.webm", "720p", true}},
                               pending);
    h.frame();
    EXPECT_FALSE(standby().has_value()) << "an opened stream is the player's to show";
    h.run({intent::Navigate{Route::home()}});
    h.frame();
    EXPECT_FALSE(standby().has_value());
}

TEST(Display, OfflineStartSaysThePlayerPlaysNothingAndStaysOffline) {
    Library sample = Library::sample();
    const std::string id = sample.videos.front().id;
    RootHarness h(SarnApp::create(quiet_options()).with_route(Route::watch(id)));
    h.frame();
    const auto& standby = h.app().player()->standby();
    ASSERT_TRUE(standby.has_value());
    EXPECT_FALSE(standby->waiting) << "offline no stream is asked for";
    EXPECT_EQ(standby->message, kOfflinePlayerText);

    // The worker that fetches the video's extras starts "connecting…"; the
    // sample's pill keeps its status until a query of the worker's answers.
    const BackendStatus before = h.app().library().status;
    std::vector<std::string> pending;
    EXPECT_FALSE(h.app().apply_fetch_result(FetchResult{FetchResult::Status{"connecting…", false}}, pending));
    EXPECT_EQ(h.app().library().status, before);
    EXPECT_TRUE(h.app().apply_fetch_result(FetchResult{FetchResult::Status{"live (rustypipe)", true}}, pending));
    EXPECT_TRUE(h.app().library().status.live);
}

}  // namespace
}  // namespace sarn
