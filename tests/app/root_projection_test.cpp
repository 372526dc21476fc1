// The per-frame projections skip the documents only while nothing they read
// or wrote has changed: every change of their inputs still shows in the
// next frame.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "root_harness.h"
#include "sarn/actions/owner_history.h"
#include "sarn/sync/queue.h"

namespace sarn {
namespace {

using test::quiet_options;
using test::RootHarness;

Video video(std::string id) {
    Video v;
    v.id = std::move(id);
    v.title = "Title " + v.id;
    v.channel_id = "UCchan";
    v.channel_name = "Chan";
    v.duration = 100;
    return v;
}

Library two_videos() {
    Library library;
    library.videos = {video("v1"), video("v2")};
    return library;
}

// A root whose shared document likes v1, v3 (not in the Library yet) and
// subscribes to one channel, projected once.
struct Projected {
    RootHarness h{SarnApp::create(quiet_options()).with_library(two_videos())};
    Projected() {
        h.apply_shared(action::SetVideoLiked{"v1", true});
        h.apply_shared(action::SetVideoLiked{"v3", true});
        h.apply_shared(action::SetSubscription{"UCchan", true});
        h.frame();
        h.frame();  // the layout settles on the window's width
    }
    const Library& library() { return h.app().library(); }
};

TEST(RootProjection, AFrameWithNothingChangedLeavesTheLibraryAsProjected) {
    Projected p;
    ASSERT_EQ(p.library().likes, std::vector<std::string>{"v1"});
    ASSERT_EQ(p.library().subscriptions, std::vector<std::string>{"UCchan"});
    EXPECT_FALSE(p.h.frame());  // nothing to rebuild
    EXPECT_FALSE(p.h.frame());
    EXPECT_EQ(p.library().likes, std::vector<std::string>{"v1"});
}

TEST(RootProjection, EveryChangedInputProjectsAgain) {
    struct Case {
        const char* name;
        std::function<void(Projected&)> change;
        std::function<void(Projected&)> check;
    };
    const Case cases[] = {
        {"an action on the document",
         [](Projected& p) { p.h.apply_shared(action::SetQueueMembership{"v2", true}); },
         [](Projected& p) { EXPECT_EQ(p.library().queue, std::vector<std::string>{"v2"}); }},
        {"a write not committed yet",
         [](Projected& p) {
             auto& doc = p.h.document();
             auto sarn = doc.get(automerge::ObjId::root(), "sarn");
             ASSERT_TRUE(sarn && *sarn);
             auto likes = doc.get((*sarn)->id, "likes");
             ASSERT_TRUE(likes && *likes);
             ASSERT_TRUE(doc.put((*likes)->id, "v2", automerge::Value::boolean(true)));
         },
         [](Projected& p) {
             EXPECT_EQ(p.library().likes, (std::vector<std::string>{"v1", "v2"}));
             EXPECT_EQ(p.h.document().pending_ops(), 1u) << "the projection commits nobody's writes";
         }},
        {"a liked video arriving in the Library",
         [](Projected& p) { p.h.app().library_mut().upsert_video(video("v3")); },
         [](Projected& p) { EXPECT_EQ(p.library().likes, (std::vector<std::string>{"v1", "v3"})); }},
        {"the videos reordered",
         [](Projected& p) {
             auto& videos = p.h.app().library_mut().videos;
             videos.push_back(video("v3"));
             std::reverse(videos.begin(), videos.end());
         },
         [](Projected& p) { EXPECT_EQ(p.library().likes, (std::vector<std::string>{"v3", "v1"})); }},
        {"a local like the document never took",
         [](Projected& p) { p.h.app().library_mut().toggle_like("v2"); },
         [](Projected& p) { EXPECT_EQ(p.library().likes, std::vector<std::string>{"v1"}); }},
        {"a local unsubscribe the document never took",
         [](Projected& p) { p.h.app().library_mut().subscriptions.clear(); },
         [](Projected& p) { EXPECT_EQ(p.library().subscriptions, std::vector<std::string>{"UCchan"}); }},
        {"a local setting the document never took",
         [](Projected& p) {
             p.h.apply_shared(action::SetSetting{Setting::Autoplay, true});
             p.h.frame();
             p.h.app().library_mut().settings.autoplay = false;
         },
         [](Projected& p) { EXPECT_TRUE(p.library().settings.autoplay); }},
        {"a Library swapped for another",
         [](Projected& p) {
             Library other = two_videos();
             other.profile = p.library().profile;
             p.h.app().library_mut() = std::move(other);
         },
         [](Projected& p) {
             const Library& l = p.library();
             EXPECT_EQ(l.likes, std::vector<std::string>{"v1"});
             EXPECT_EQ(l.subscriptions, std::vector<std::string>{"UCchan"});
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Projected p;
        c.change(p);
        p.h.frame();
        c.check(p);
        EXPECT_FALSE(p.h.frame()) << "a second frame finds nothing more";
    }
}

TEST(RootProjection, ADocumentOfOtherContentInThePlaceOfTheFirstProjects) {
    Projected p;
    automerge::Document other;
    vorn_ui::bound_dispatch::DispatchState state;
    ASSERT_TRUE(vorn_ui::action_host::ActionHost::dispatch_with_context(
        state, other, kSharedActionKind, TypedSarnAction(action::SetVideoLiked{"v2", true}), nullptr));
    p.h.document() = std::move(other);
    EXPECT_TRUE(p.h.frame());
    EXPECT_EQ(p.library().likes, std::vector<std::string>{"v2"});
    // A part the new document lacks stays as it was.
    EXPECT_EQ(p.library().subscriptions, std::vector<std::string>{"UCchan"});
}

TEST(RootProjection, OwnerHistoryChangesShowAndLocalChangesArePutRight) {
    RootHarness h(SarnApp::create(quiet_options()).with_library(two_videos()));
    h.frame();
    ASSERT_TRUE(h.app().perform_operation({1, "sarn.operation", R"({"RecordHistory":{"video_id":"v1"}})"}).is_handled());
    h.frame();
    ASSERT_EQ(h.app().library().history, std::vector<std::string>{"v1"});

    // An entry the store took behind the root's back.
    vorn_ui::bound_dispatch::DispatchState state;
    auto& store = const_cast<OwnerHistoryStore&>(h.app().history_store());
    ASSERT_TRUE(store.dispatch(state, OwnerHistoryAction::set_entry("v2", unix_now_ms() + 10, true, "test:v2")));
    EXPECT_TRUE(h.frame());
    EXPECT_EQ(h.app().library().history, (std::vector<std::string>{"v2", "v1"}));

    // A list changed in the Library alone goes back to the store's.
    h.app().library_mut().history.clear();
    EXPECT_TRUE(h.frame());
    EXPECT_EQ(h.app().library().history, (std::vector<std::string>{"v2", "v1"}));
    EXPECT_FALSE(h.frame());
}

TEST(RootProjection, ImportedPeerSettingsShowInTheSameFrame) {
    auto [event_tx, event_rx] = make_queue<SyncWorkerEvent>(0);
    auto [command_tx, command_rx] = make_queue<SyncCommand>(8);
    DeviceSyncHandle handle(std::move(event_rx), std::move(command_tx), "Ready", DeviceSyncState::Ready);
    RootHarness h(SarnApp::create(quiet_options()).with_library(two_videos()).with_device_sync(std::move(handle)));
    h.frame();
    h.frame();
    PullResult pulled;
    PlaybackSettings theirs;
    theirs.preferred_quality = "480p";
    pulled.settings = theirs;
    pulled.subscription_urls = {"https://youtube.com/@peer"};
    ASSERT_TRUE(event_tx.try_send(sync_event::Pulled{pulled}));
    EXPECT_TRUE(h.frame());
    EXPECT_EQ(h.app().library().settings.preferred_quality, "480p");
    EXPECT_EQ(h.app().library().subscriptions, std::vector<std::string>{"https://youtube.com/@peer"});
}

}  // namespace
}  // namespace sarn
