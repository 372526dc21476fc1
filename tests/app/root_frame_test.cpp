#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "root_harness.h"
#include "sarn/actions/owner_history.h"
#include "sarn/sync/queue.h"
#include "vorn_log/log.h"

namespace sarn {
namespace {

using test::quiet_options;
using test::controlled_sync;
using test::RootHarness;

TEST(RootSharedProjection, FollowsTheDocumentAndComparesBeforeReplacing) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    const Library before = h.app().library();
    // No "sarn" map: nothing changes, nothing to rebuild.
    EXPECT_FALSE(h.app().load_shared_state(h.document()));

    const std::string liked = before.videos[1].id;
    h.apply_shared(action::SetVideoLiked{liked, true});
    h.apply_shared(action::SetQueueMembership{"q1", true});
    h.apply_shared(action::SetQueueMembership{"q2", true});
    h.apply_shared(action::SetQueueMembership{"q1", false});
    h.apply_shared(action::SetSubscription{"UCsub", true});
    h.apply_shared(action::SetSetting{Setting::Autoplay, false});
    h.apply_shared(action::SetPreferredQuality{"480p"});
    h.apply_shared(action::SetSponsorCategory{SponsorCategory::Intro, SponsorMode::Show});
    h.apply_shared(action::SetCommentLiked{"c1", false});
    EXPECT_TRUE(h.frame());

    const Library& lib = h.app().library();
    EXPECT_EQ(lib.likes, std::vector<std::string>{liked});
    EXPECT_EQ(lib.queue, std::vector<std::string>{"q2"});
    // The first subscriptions map starts from the sample's subscriptions.
    std::vector<std::string> subscriptions = before.subscriptions;
    subscriptions.push_back("UCsub");
    std::sort(subscriptions.begin(), subscriptions.end());
    EXPECT_EQ(lib.subscriptions, subscriptions);
    EXPECT_FALSE(lib.settings.autoplay);
    EXPECT_EQ(lib.settings.preferred_quality, "480p");
    EXPECT_EQ(lib.settings.sponsor_categories.at("intro"), SponsorMode::Show);
    EXPECT_EQ(lib.comment_likes.at("c1"), false);
    // An unchanged document changes nothing the next frame.
    EXPECT_FALSE(h.frame());
}

TEST(RootSharedProjection, ValuesOfTheWrongTypeAreIgnored) {
    RootHarness h(SarnApp::create(quiet_options()));
    auto& doc = h.document();
    auto sarn = doc.put_object(automerge::ObjId::root(), "sarn", automerge::ObjType::map);
    ASSERT_TRUE(sarn);
    auto settings = doc.put_object(*sarn, "settings", automerge::ObjType::map);
    ASSERT_TRUE(settings);
    ASSERT_TRUE(doc.put(*settings, "autoplay", automerge::Value::str("true")));
    ASSERT_TRUE(doc.put(*settings, "preferred_quality", automerge::Value::str("4k")));
    ASSERT_TRUE(doc.put(*settings, "dearrow", automerge::Value::boolean(false)));
    doc.commit();
    h.frame();
    EXPECT_TRUE(h.app().library().settings.autoplay);
    EXPECT_EQ(h.app().library().settings.preferred_quality, "1080p");
    EXPECT_FALSE(h.app().library().settings.dearrow);
}

TEST(RootSharedProjection, ChangesOfTwoCopiesThatCreatedTheSameMapsAtOnceAreAllSeen) {
    // Two instances start on a document without the "sarn" map; each makes
    // its own changes, and one merges the other's file: the document then
    // holds two concurrent "sarn" maps (and two "likes" maps), one of them
    // the winner. Neither instance's changes may disappear.
    const Library sample = Library::sample();
    const std::string first = sample.videos.at(0).id;
    const std::string second = sample.videos.at(1).id;
    auto dispatch = [](automerge::Document& doc, const SarnAction& action) {
        vorn_ui::bound_dispatch::DispatchState state;
        ASSERT_TRUE(vorn_ui::action_host::ActionHost::dispatch_with_context(state, doc, kSharedActionKind,
                                                                            TypedSarnAction(action), nullptr));
    };
    automerge::Document a;
    automerge::Document b;
    dispatch(a, action::SetVideoLiked{first, true});
    dispatch(a, action::SetQueueMembership{"qa", true});
    dispatch(a, action::SetSetting{Setting::Autoplay, false});
    dispatch(b, action::SetVideoLiked{second, true});
    dispatch(b, action::SetSubscription{"UCb", true});
    dispatch(b, action::SetSetting{Setting::ShowComments, false});
    for (bool a_merges : {true, false}) {
        SCOPED_TRACE(a_merges ? "a merges b" : "b merges a");
        automerge::Document merged = a_merges ? a.fork() : b.fork();
        ASSERT_TRUE(merged.merge(a_merges ? b : a));
        SarnApp app = SarnApp::create(quiet_options());
        EXPECT_TRUE(app.load_shared_state(merged));
        const Library& lib = app.library();
        EXPECT_TRUE(lib.is_liked(first));
        EXPECT_TRUE(lib.is_liked(second));
        EXPECT_EQ(lib.queue, std::vector<std::string>{"qa"});
        EXPECT_EQ(lib.subscriptions, std::vector<std::string>{"UCb"});
        EXPECT_FALSE(lib.settings.autoplay);
        EXPECT_FALSE(lib.settings.show_comments);
    }

    // A later change in the winning map overrides the other copy's value.
    automerge::Document merged = a.fork();
    ASSERT_TRUE(merged.merge(b));
    dispatch(merged, action::SetVideoLiked{first, false});
    dispatch(merged, action::SetVideoLiked{second, false});
    SarnApp app = SarnApp::create(quiet_options());
    (void)app.load_shared_state(merged);
    EXPECT_FALSE(app.library().is_liked(first));
    EXPECT_FALSE(app.library().is_liked(second));
}

TEST(RootDeviceSync, FirstFrameAsksForOnePassAndEqualStatusesCountOnce) {
    auto [handle, peer] = controlled_sync();
    RootHarness h(SarnApp::create(quiet_options()).with_device_sync(std::move(handle)));
    h.frame();
    auto first = peer.commands.try_receive();
    ASSERT_TRUE(first.has_value());
    const auto* sync_now = std::get_if<sync_command::SyncNow>(&*first);
    ASSERT_NE(sync_now, nullptr);
    EXPECT_EQ(sync_now->subscriptions, h.app().library().subscriptions);
    h.frame();
    EXPECT_FALSE(peer.commands.try_receive().has_value());

    SyncStatusEvent status{"key", "Syncing…", {}, DeviceSyncState::Syncing};
    peer.events.try_send(sync_event::Status{status});
    peer.events.try_send(sync_event::Status{status});
    EXPECT_TRUE(h.frame());
    EXPECT_EQ(h.app().device_sync().state(), DeviceSyncState::Syncing);
    EXPECT_FALSE(h.frame());
}

TEST(RootDeviceSync, ImportsWhatPeersSentWithinItsBounds) {
    auto [handle, peer] = controlled_sync();
    RootHarness h(SarnApp::create(quiet_options()).with_library(Library{}).with_device_sync(std::move(handle)));
    h.frame();

    PullResult pulled;
    pulled.subscription_urls = {
        "https://m.youtube.com/@phone",                      // stored under the bare origin
        "  https://www.youtube.com/channel/UCabc  ",         // trimmed
        "https://example.com/@other",                        // not the platform
        "https://youtube.com/" + std::string(300, 'x'),      // too long
        "https://youtube.com/@phone",                        // already imported above
    };
    for (int i = 0; i < 150; ++i) pulled.history_urls.push_back("h" + std::to_string(i));
    pulled.history_urls.insert(pulled.history_urls.begin() + 1, "h0");       // a duplicate in one message
    pulled.history_urls.insert(pulled.history_urls.begin() + 2, "bad\tid");  // a control character
    PlaybackSettings theirs;
    theirs.autoplay = false;
    theirs.preferred_quality = "720p";
    theirs.sponsor_categories["filler"] = SponsorMode::Show;
    pulled.settings = theirs;
    peer.events.try_send(sync_event::Pulled{pulled});
    EXPECT_TRUE(h.frame());

    const Library& lib = h.app().library();
    EXPECT_EQ(lib.subscriptions,
              (std::vector<std::string>{"https://youtube.com/@phone", "https://youtube.com/channel/UCabc"}));
    EXPECT_FALSE(lib.settings.autoplay);
    EXPECT_EQ(lib.settings.preferred_quality, "720p");
    EXPECT_EQ(lib.settings.sponsor_categories.at("filler"), SponsorMode::Show);
    // The list holds the newest 50 of what arrived; the first id is the newest.
    ASSERT_EQ(lib.history.size(), kHistoryLimit);
    EXPECT_EQ(lib.history.front(), "h0");
    EXPECT_EQ(std::count(lib.history.begin(), lib.history.end(), "h0"), 1);

    // Only the first 100 texts of the message were looked at.
    const auto map = owner_history_map(h.app().history_store().document());
    ASSERT_TRUE(map.has_value());
    const auto entries = entries_after_clear(h.app().history_store().document(), *map, Removals::Skip);
    EXPECT_EQ(entries.size(), 98u);  // 100 texts, one duplicate, one refused
}

TEST(RootHistory, LegacyHistoryIsMigratedOnceAndTheMarkerComesLast) {
    RootHarness h(SarnApp::create(quiet_options()).with_library(Library{}));
    const std::string owner = h.app().library().profile;
    auto& doc = h.document();
    auto sarn = doc.put_object(automerge::ObjId::root(), "sarn", automerge::ObjType::map);
    auto priv = doc.put_object(*sarn, "private_history", automerge::ObjType::map);
    auto mine = doc.put_object(*priv, owner, automerge::ObjType::map);
    auto entries = doc.put_object(*mine, "entries", automerge::ObjType::map);
    const HistoryEntryRecord record{true, 1000, "m1"};
    ASSERT_TRUE(doc.put(*entries, "old_video", automerge::Value::str(*record.to_json())));
    doc.commit();

    vorn_log::CaptureSink log;
    h.frame();
    EXPECT_TRUE(h.app().history_store().legacy_migration_done());
    EXPECT_EQ(h.app().library().history, std::vector<std::string>{"old_video"});
    EXPECT_EQ(log.with_message("migrated legacy shared Sarn history locally; existing shared replicas and exports "
                               "cannot be recalled")
                  .size(),
              1u);
    h.frame();
    EXPECT_EQ(log.with_message("migrated legacy shared Sarn history locally; existing shared replicas and exports "
                               "cannot be recalled")
                  .size(),
              1u);
}

TEST(RootPlayback, AutoplayAndSkipsFollowTheLibraryPosition) {
    Library lib = Library::sample();
    Video& video = lib.videos.front();
    video.duration = 30;
    video.sponsor = {Segment{SponsorCategory::Sponsor, 10, 20, 1}};
    const std::string id = video.id;
    lib.up_next_for = id;
    lib.up_next = {lib.videos[1].id};
    const std::string next = lib.videos[1].id;
    RootHarness h(SarnApp::create(quiet_options()).with_library(lib).with_route(Route::watch(id)));
    SarnApp& app = h.app();

    app.library_mut().position = 20.0;  // a segment's end is outside it
    EXPECT_FALSE(app.auto_skip());
    app.library_mut().position = 10.0;
    EXPECT_TRUE(app.auto_skip());
    EXPECT_EQ(app.library().position, 20.0);
    EXPECT_EQ(app.library().notices.front(), "Skipped Sponsor (0:10–0:20)");

    app.library_mut().position = 29.990;
    EXPECT_FALSE(app.autoplay_next());
    app.library_mut().position = 29.999;
    EXPECT_TRUE(app.autoplay_next());
    EXPECT_EQ(app.library().route, Route::watch(next));
    EXPECT_EQ(app.library().history.front(), next);
}

TEST(RootPlayback, UnknownDurationNeverEndsTheVideo) {
    Library lib = Library::sample();
    lib.videos.front().duration = 0;  // a live stream
    const std::string id = lib.videos.front().id;
    lib.up_next_for = id;
    lib.up_next = {lib.videos[1].id};
    RootHarness h(SarnApp::create(quiet_options()).with_library(lib).with_route(Route::watch(id)));
    h.frame();
    h.app().library_mut().position = 1e6;
    EXPECT_FALSE(h.app().autoplay_next());
    h.run({intent::Seek{0.9}, intent::SkipSegment{12.0}});
    EXPECT_EQ(h.app().library().route, Route::watch(id));
    EXPECT_TRUE(h.app().library().notices.empty());
}

TEST(RootPlayback, PlayerQualityChoiceIsStoredInTheSharedDocument) {
    Library lib = Library::sample();
    const std::string id = lib.videos.front().id;
    RootHarness h(SarnApp::create(quiet_options()).with_library(lib).with_demo_player(id));
    h.frame();
    // The player cycles its "resolution" setting: 720p.
    auto& player = *h.app().player();
    player.set_setting({"resolution", 0, "Quality", 0, {"1080p", "720p", "480p", "Auto"}, 0});
    player.reveal_controls();
    vorn_ui::layout::LayoutTree place;
    vorn_ui::widget::NodeRegistry registry;
    vorn_ui::widget::Environment env;
    vorn_ui::widget::LayoutContext lcx{place, registry, env};
    const auto node = player.build_layout(lcx);
    vorn_ui::layout::Style fixed = **place.style(node);
    fixed.size = {vorn_ui::layout::Dimension::length(640), vorn_ui::layout::Dimension::length(360)};
    ASSERT_TRUE(place.set_style(node, fixed));
    ASSERT_TRUE(place.compute_layout(node, {vorn_ui::layout::AvailableSpace::definite(640),
                                            vorn_ui::layout::AvailableSpace::definite(360)}));
    player.apply_layout(place, node, {0, 0});
    const auto rects = player.control_rects();
    ASSERT_GT(rects.setting.area(), 0.0);
    vorn_ui::widget::RuntimeState state;
    vorn_ui::layout::LayoutTree tree;
    vorn_ui::widget::EventContext cx({}, state, 1.0, tree);
    const vorn_ui::Point centre{(rects.setting.x0 + rects.setting.x1) / 2, (rects.setting.y0 + rects.setting.y1) / 2};
    player.handle_event(vorn_ui::PointerButtonEvent{vorn_ui::PointerButton::Primary, true, centre}, cx, 0);
    player.handle_event(vorn_ui::PointerButtonEvent{vorn_ui::PointerButton::Primary, false, centre}, cx, 0);
    h.frame();
    EXPECT_EQ(h.app().library().settings.preferred_quality, "720p");
    // The next projection keeps it: the document holds it too.
    h.frame();
    EXPECT_EQ(h.app().library().settings.preferred_quality, "720p");
}

// An opened video's history entry is written on the history store's writer
// thread: it is on disk once the root has gone, and a write that fails shows
// the history notice at a following frame.
TEST(RootHistory, OpenedVideosReachTheDiskAndAFailedWriteShowsTheNotice) {
    std::string pattern = (std::filesystem::temp_directory_path() / "sarn-root-history-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path dir = pattern;
    SarnAppOptions options = quiet_options();
    options.history_data_dir = std::optional<std::filesystem::path>(dir);

    std::string owner;
    std::vector<std::string> opened;
    {
        RootHarness h(SarnApp::create(options));
        h.frame();
        owner = h.app().library().profile;
        for (std::size_t i = 0; i < 5; ++i) {
            opened.push_back(h.app().library().videos[i].id);
            h.run({intent::OpenVideo{opened.back()}});
            h.frame();
        }
        EXPECT_FALSE(h.app().library().history_notice);
    }  // the root waits for its pending writes
    {
        auto reopened = OwnerHistoryStore::open_in(dir, owner);
        ASSERT_FALSE(reopened.recovery_required());
        std::vector<std::string> on_disk;
        const auto map = owner_history_map(reopened.document());
        ASSERT_TRUE(map);
        for (const auto& entry : entries_after_clear(reopened.document(), *map, Removals::Skip)) {
            on_disk.push_back(entry.video_id);
        }
        std::sort(on_disk.begin(), on_disk.end());
        std::sort(opened.begin(), opened.end());
        opened.erase(std::unique(opened.begin(), opened.end()), opened.end());
        EXPECT_EQ(on_disk, opened);
    }

    {
        RootHarness h(SarnApp::create(options));
        h.frame();
        // The file's place is taken by a folder: the replace cannot land.
        const auto file = OwnerHistoryStore::history_path(dir, owner);
        std::filesystem::remove(file);
        std::filesystem::create_directories(file / "blocker");
        h.run({intent::OpenVideo{h.app().library().videos[0].id}});
        for (int i = 0; i < 2000 && !h.app().library().history_notice; ++i) {
            h.frame();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(h.app().library().history_notice, kHistorySaveFailedText);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

}  // namespace
}  // namespace sarn
