#include <gtest/gtest.h>

#include "root_harness.h"
#include "sarn/app/action_tree.h"
#include "sarn/sync/queue.h"

namespace sarn {
namespace {

using test::quiet_options;
using test::RootHarness;
using vorn_ui::Modifiers;
using vorn_ui::NamedKey;

TEST(RootKeys, ShortcutsActOnPressesByTheirRules) {
    RootHarness h(SarnApp::create(quiet_options()).with_viewport_size(1280, 800));
    h.frame();
    EXPECT_TRUE(h.character("K", Modifiers{Modifiers::kControl}));
    EXPECT_TRUE(h.app().library().palette_open);
    EXPECT_TRUE(h.character("k", Modifiers{Modifiers::kControl}));
    EXPECT_FALSE(h.app().library().palette_open);
    EXPECT_FALSE(h.character("k"));  // no Control: typing
    EXPECT_FALSE(h.app().library().palette_open);

    // Back keys need a page to go back to.
    EXPECT_FALSE(h.key(NamedKey::BrowserBack));
    h.run({intent::Navigate{Route::trending()}});
    EXPECT_TRUE(h.key(NamedKey::ArrowLeft, Modifiers{Modifiers::kAlt}));
    EXPECT_EQ(h.app().library().route, Route::home());

    // A release never acts.
    h.run({intent::Navigate{Route::trending()}});
    auto release = vorn_ui::KeyEvent::named_key(NamedKey::BrowserBack);
    release.released = true;
    h.send(release);
    EXPECT_EQ(h.app().library().route, Route::trending());

    // Escape closes the palette first, then goes back.
    h.run({intent::OpenActionSearch{}});
    EXPECT_TRUE(h.key(NamedKey::Escape));
    EXPECT_FALSE(h.app().library().palette_open);
    EXPECT_EQ(h.app().library().route, Route::trending());
    EXPECT_TRUE(h.key(NamedKey::Escape));
    EXPECT_EQ(h.app().library().route, Route::home());
}

TEST(RootKeys, EscapeInACompactWindowHidesTheShownSidebarInstead) {
    RootHarness h(SarnApp::create(quiet_options()).with_viewport_size(560, 800), 560, 800);
    h.frame();
    h.run({intent::Navigate{Route::trending()}, intent::ToggleNavigation{}});
    ASSERT_TRUE(h.app().sidebar_visible());
    h.key(NamedKey::Escape);
    EXPECT_FALSE(h.app().sidebar_visible());
    EXPECT_EQ(h.app().library().route, Route::trending());
}

TEST(RootKeys, EnterSearchesOnlyFromTheSearchInput) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    h.key(NamedKey::Enter);
    EXPECT_EQ(h.app().library().route, Route::home());
}

TEST(RootGestures, EdgeSwipeGoesBackOnce) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    h.run({intent::Navigate{Route::trending()}, intent::Navigate{Route::queue()}});
    using vorn_ui::PointerButton;
    h.send(vorn_ui::PointerMoveEvent{{10, 300}});
    h.send(vorn_ui::PointerButtonEvent{PointerButton::Primary, true, {10, 300}});
    h.send(vorn_ui::PointerMoveEvent{{60, 310}});
    EXPECT_EQ(h.app().library().route, Route::queue());
    h.send(vorn_ui::PointerMoveEvent{{95, 320}});
    EXPECT_EQ(h.app().library().route, Route::trending());
    h.send(vorn_ui::PointerMoveEvent{{300, 320}});  // fired once per swipe
    EXPECT_EQ(h.app().library().route, Route::trending());
    h.send(vorn_ui::PointerButtonEvent{PointerButton::Primary, false, {300, 320}});

    // A press away from the edge, or a mostly vertical drag, does nothing.
    h.send(vorn_ui::PointerMoveEvent{{200, 300}});
    h.send(vorn_ui::PointerButtonEvent{PointerButton::Primary, true, {200, 300}});
    h.send(vorn_ui::PointerMoveEvent{{400, 300}});
    h.send(vorn_ui::PointerButtonEvent{PointerButton::Primary, false, {400, 300}});
    h.send(vorn_ui::PointerMoveEvent{{5, 100}});
    h.send(vorn_ui::PointerButtonEvent{PointerButton::Primary, true, {5, 100}});
    h.send(vorn_ui::PointerMoveEvent{{90, 300}});
    EXPECT_EQ(h.app().library().route, Route::trending());
}

TEST(RootIntents, LibraryIntentsDispatchAbsoluteActionsAndApplyAtOnce) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    const Library& lib = h.app().library();
    const std::string video = lib.videos[2].id;
    const bool liked = lib.is_liked(video);
    h.run({intent::ToggleLike{video}, intent::ToggleSetting{Setting::DeArrow}, intent::SetQuality{"480p"},
           intent::SetQuality{"4k"}, intent::CycleSegmentMode{SponsorCategory::Filler}});
    EXPECT_EQ(h.app().library().is_liked(video), !liked);
    EXPECT_FALSE(h.app().library().settings.dearrow);
    EXPECT_EQ(h.app().library().settings.preferred_quality, "480p");
    // Filler is stored Disabled: its next mode is Skip.
    EXPECT_EQ(h.app().library().settings.sponsor_categories.at("filler"), SponsorMode::Skip);
    h.frame();
    EXPECT_EQ(h.dispatches(), 1);
    // After the projection the document agrees.
    EXPECT_EQ(h.app().library().is_liked(video), !liked);
    EXPECT_FALSE(h.app().library().settings.dearrow);
    EXPECT_EQ(h.app().library().settings.preferred_quality, "480p");
    EXPECT_EQ(h.app().library().settings.sponsor_categories.at("filler"), SponsorMode::Skip);
}

TEST(RootIntents, SeekClampsAndSkipsReportTheirTime) {
    Library lib = Library::sample();
    lib.videos.front().duration = 600;
    lib.videos.front().sponsor.clear();
    lib.settings.autoplay = false;  // the end of the video stays on its page
    const std::string id = lib.videos.front().id;
    RootHarness h(SarnApp::create(quiet_options()).with_library(lib).with_route(Route::watch(id)));
    h.frame();
    h.run({intent::Seek{0.5}});
    EXPECT_EQ(h.app().library().position, 300.0);
    EXPECT_EQ(h.app().player()->position_ms(), 300'000u);
    h.run({intent::Seek{2.0}});
    EXPECT_EQ(h.app().library().position, 600.0);
    h.run({intent::SkipSegment{-5}});
    EXPECT_EQ(h.app().library().position, 0.0);
    EXPECT_EQ(h.app().library().notices.front(), "Skipped to 0:00");
}

TEST(RootIntents, SearchReadsTheInputAndSubmitsOfflineToo) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    h.app().search_text().publish("rust");
    h.run({intent::Search{}});
    EXPECT_EQ(h.app().library().route, Route::search("rust"));
    EXPECT_EQ(h.app().library().search_query, "rust");
    EXPECT_FALSE(h.app().library().search_loading);  // not live
    // The worker of these tests cannot start: the page says why.
    ASSERT_TRUE(h.app().library().search_error.has_value());
    h.app().search_text().publish("");
    h.run({intent::Search{}});
    EXPECT_EQ(h.app().library().route, Route::search(""));
    EXPECT_EQ(h.app().navigation().back, std::vector<Route>{Route::home()});
}

TEST(RootIntents, ResultTypeFilterToggles) {
    SearchTypeFilter filter;
    toggle_result_type(filter, intent::ResultType::Videos);
    EXPECT_EQ(filter, (SearchTypeFilter{true, false, false, false}));
    toggle_result_type(filter, intent::ResultType::Creators);
    EXPECT_EQ(filter, (SearchTypeFilter{true, false, true, false}));
    toggle_result_type(filter, intent::ResultType::Videos);
    toggle_result_type(filter, intent::ResultType::Creators);
    EXPECT_EQ(filter, SearchTypeFilter{});
}

TEST(RootIntents, SearchResultLinksOpenOnlyWhatTheyName) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    const std::string channel = h.app().library().channels.front().id;
    h.run({intent::OpenActionSearch{}, intent::OpenSearchResult{"sarn://channel/" + channel}});
    EXPECT_EQ(h.app().library().route, Route::channel(channel));
    EXPECT_FALSE(h.app().library().palette_open);

    const std::size_t history = h.app().library().history.size();
    h.run({intent::OpenActionSearch{}, intent::OpenSearchResult{"sarn://watch/"}});
    EXPECT_EQ(h.app().library().route, Route::channel(channel));
    EXPECT_EQ(h.app().library().history.size(), history);  // nothing recorded
    h.run({intent::OpenActionSearch{}, intent::OpenSearchResult{"https://example.com/"}});
    EXPECT_FALSE(h.app().library().palette_open);
    EXPECT_EQ(h.app().library().route, Route::channel(channel));
}

TEST(RootIntents, OpenVideoRecordsHistoryAndClearEmptiesIt) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    const std::string id = h.app().library().videos[3].id;
    h.run({intent::OpenVideo{id}});
    EXPECT_EQ(h.app().library().route, Route::watch(id));
    EXPECT_EQ(h.app().library().history.front(), id);
    EXPECT_TRUE(h.app().library().playing);
    h.frame();
    EXPECT_EQ(h.app().library().history.front(), id);  // the owner-local document agrees
    h.run({intent::ClearHistory{}});
    EXPECT_TRUE(h.app().library().history.empty());
    EXPECT_EQ(h.app().library().notices.front(), "Watch history cleared for this profile");
    h.frame();
    EXPECT_TRUE(h.app().library().history.empty());
}

TEST(RootIntents, PairingWithoutAnInviteSendsNothing) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    h.run({intent::PairDevice{}});
    EXPECT_EQ(h.app().library().notices.front(), "Paste a pairing invite first, or unlock the desktop secret broker");
    EXPECT_FALSE(h.app().take_control_invocation().has_value());
}

// ---- operations ----

vorn_ui::OperationRequest operation(std::uint32_t type, const SarnOperation& op) {
    return {type, std::string(kOperationKind), encode_json(op)};
}

TEST(RootOperations, DeclaredContractAndPayloadAreChecked) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    SarnApp& app = h.app();
    using Status = vorn_ui::OperationResult::Status;
    EXPECT_EQ(app.perform_operation(operation(0, operation::ToggleSidebar{})).status, Status::NotHandled);
    EXPECT_EQ(app.perform_operation({2, "other.kind", "\"ToggleSidebar\""}).status, Status::NotHandled);
    EXPECT_EQ(app.perform_operation({2, std::string(kOperationKind), "{\"Nope\":1}"}).status, Status::Failed);
    const auto mismatch = app.perform_operation(operation(1, operation::Navigate{Route::settings()}));
    EXPECT_EQ(mismatch.status, Status::Failed);
    EXPECT_EQ(mismatch.error, kOperationContractMismatch);
    EXPECT_EQ(app.library().route, Route::home());
    EXPECT_EQ(app.perform_operation(operation(2, operation::Navigate{Route::settings()})).status, Status::Handled);
    EXPECT_EQ(app.library().route, Route::settings());
}

TEST(RootOperations, EffectsAndTheirNotices) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    SarnApp& app = h.app();
    struct Case {
        std::uint32_t type;
        SarnOperation op;
        std::string notice;
    } cases[] = {
        {2, operation::OpenVideo{"missing"}, "That video is no longer available"},
        {2, operation::OpenChannel{"missing"}, "That creator is no longer available"},
        {2, operation::OpenPlaylist{"missing"}, "That playlist is no longer available"},
        {1, operation::Download{"v1"}, "Downloads are unavailable for v1: no storage capability"},
        {1, operation::PairDevice{""}, "Device pairing is busy or unavailable"},
        {1, operation::SyncDevices{}, "Device sync is busy or unavailable"},
        {1, operation::ApproveDevice{"p"}, "Could not queue device approval"},
        {1, operation::RevokeDevice{"p"}, "Could not queue device revocation"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(app.perform_operation(operation(c.type, c.op)).is_handled());
        EXPECT_EQ(app.library().notices.front(), c.notice) << debug_text(c.op);
    }

    const std::string id = app.library().videos.front().id;
    app.perform_operation(operation(1, operation::RecordHistory{id}));
    EXPECT_EQ(app.library().history.front(), id);
    app.perform_operation(operation(1, operation::RemoveHistory{id}));
    EXPECT_EQ(std::count(app.library().history.begin(), app.library().history.end(), id), 0);
    app.perform_operation(operation(1, operation::ClearHistory{}));
    EXPECT_TRUE(app.library().history.empty());
    h.frame();
    EXPECT_TRUE(app.library().history.empty());

    app.perform_operation(operation(2, operation::ToggleSidebar{}));
    EXPECT_EQ(app.sidebar_override(), 0);
}

TEST(RootOperations, DeviceIntentsQueueInvocationsThatRunAsOperations) {
    auto [event_tx, event_rx] = make_queue<SyncWorkerEvent>(0);
    auto [command_tx, command_rx] = make_queue<SyncCommand>(8);
    DeviceSyncHandle handle(std::move(event_rx), std::move(command_tx), "Ready", DeviceSyncState::Ready);
    {
        std::lock_guard lock(handle.pending_invite()->mutex);
        handle.pending_invite()->text = "  grayjay://invite  ";
    }
    RootHarness h(SarnApp::create(quiet_options()).with_device_sync(std::move(handle)));
    h.frame();
    (void)command_rx.try_receive();  // the first frame's sync pass
    h.run({intent::PairDevice{}});
    auto invocation = h.app().take_control_invocation();
    ASSERT_TRUE(invocation.has_value());
    const auto roots = h.app().action_resources();
    auto encoded = vorn_actions::resource::run_invocation(roots, *invocation);
    ASSERT_TRUE(encoded.has_value());
    EXPECT_TRUE(h.app().perform_operation({1, encoded->kind, encoded->payload}).is_handled());
    auto command = command_rx.try_receive();
    ASSERT_TRUE(command.has_value());
    ASSERT_TRUE(std::holds_alternative<sync_command::Pair>(*command));
    EXPECT_EQ(std::get<sync_command::Pair>(*command).invite, "grayjay://invite");
    // The pasted invite was wiped when taken.
    EXPECT_TRUE(h.app().device_sync().pending_invite()->text.empty());
}

TEST(RootOperations, WatchPageBindsPlayPauseAndShare) {
    Library lib = Library::sample();
    const std::string id = lib.videos.front().id;
    RootHarness h(SarnApp::create(quiet_options()).with_library(lib).with_route(Route::watch(id)));
    h.frame();
    const auto bindings = h.app().control_action_bindings();
    ASSERT_GE(bindings.size(), 2u);
    EXPECT_EQ(bindings[0].control_id, "sarn.watch.play-pause");
    EXPECT_EQ(bindings[0].address, (vorn_ui::ActionAddress{"sarn.current:" + id, "play-pause"}));
    EXPECT_EQ(bindings[1].control_id, "sarn.watch.share");

    h.run({intent::TogglePlayback{}});
    auto invocation = h.app().take_control_invocation();
    ASSERT_TRUE(invocation.has_value());
    EXPECT_EQ(invocation->address.action, "play-pause");

    h.run({intent::Navigate{Route::home()}});
    h.frame();
    EXPECT_TRUE(h.app().control_action_bindings().empty() ||
                h.app().control_action_bindings().front().control_id != "sarn.watch.play-pause");
}

}  // namespace
}  // namespace sarn
