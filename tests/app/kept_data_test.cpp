// What the user keeps, through the root widget: the kept records across a
// restart of the live app, the notices of stored data that cannot be kept,
// the first write of the offline sample, concurrent library roots, the skip
// category's stored mode, and the opening of a short clip.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <variant>

#include <fmt/format.h>

#include "page_test_support.h"
#include "root_harness.h"
#include "sarn/actions/library_maps.h"
#include "sarn/app/action_tree.h"
#include "sarn/actions/owner_history.h"
#include "test_dir.h"
#include "vorn_test/local_server.h"

namespace sarn {
namespace {

using screens::test::channel_record;
using screens::test::texts_of;
using screens::test::video_record;
using test::RootHarness;
using test::StalledWorkers;
using vorn_test::TempDir;

// Every text of the page tree, one string.
std::string page_text(SarnApp& app) {
    std::string out;
    for (const std::string& text : texts_of(*app.page_tree())) out += text + "\n";
    return out;
}

bool shows(SarnApp& app, std::string_view text) { return page_text(app).find(text) != std::string::npos; }

void take(RootHarness& h, FetchResult result) {
    std::vector<std::string> channels;
    (void)h.app().apply_fetch_result(std::move(result), channels);
    h.frame();
    h.frame();
}

void go(RootHarness& h, Route route) {
    h.run({intent::Navigate{std::move(route)}});
    h.frame();
}

KeptRecords records_in(const std::filesystem::path& data) {
    const KeptRecordsStore store = KeptRecordsStore::open_in(data);
    EXPECT_FALSE(store.read_error().has_value()) << *store.read_error();
    return store.records();
}

std::vector<std::string> video_ids(const KeptRecords& records) {
    std::vector<std::string> out;
    for (const Video& video : records.videos) out.push_back(video.id);
    std::sort(out.begin(), out.end());
    return out;
}

// A live app whose history and kept records live in `data`, as one user.
class LiveOnDisk {
public:
    explicit LiveOnDisk(const std::filesystem::path& data) : m_data(data) {}
    SarnApp app() const {
        SarnAppOptions options = m_workers.options();
        options.history_data_dir = std::optional<std::filesystem::path>(m_data);
        return SarnApp::create(std::move(options)).start_live();
    }

private:
    std::filesystem::path m_data;
    StalledWorkers m_workers;
};

// ---- the kept records across a restart ----

TEST(KeptData, TheListsShowTheirRecordsAfterARestartOffline) {
    TempDir data;
    LiveOnDisk live(data.path());
    std::vector<std::uint8_t> saved_document;
    {
        RootHarness h(live.app());
        h.frame();
        // Two likes, one of them queued, one subscription; two videos watched.
        h.apply_shared(action::SetVideoLiked{"v1", true});
        h.apply_shared(action::SetVideoLiked{"v2", true});
        h.apply_shared(action::SetQueueMembership{"v1", true});
        h.apply_shared(action::SetSubscription{"UCa", true});
        for (const char* id : {"v2", "v4"}) {
            ASSERT_TRUE(h.app().dispatch_history_action(OwnerHistoryAction::set_entry(id, 1000, true, "m")));
        }
        h.frame();
        // The records come from the feed and a channel page.
        std::vector<Video> feed;
        for (const char* id : {"v1", "v2", "v3", "v4", "v5"}) feed.push_back(video_record(id, "UCa"));
        take(h, FetchResult{FetchResult::HomeFeed{feed}});
        take(h, FetchResult{FetchResult::ChannelPage{channel_record("UCa", "Channel A", 10), {}}});
        // A later feed without them leaves them kept.
        take(h, FetchResult{FetchResult::HomeFeed{{video_record("other", "UCb")}}});
        h.app().finish_record_writes();
        EXPECT_EQ(video_ids(records_in(data.path())), (std::vector<std::string>{"v1", "v2", "v4"}));
        saved_document = h.document().save();
    }

    // Started again, offline: no feed, no worker answers.
    RootHarness h(live.app());
    auto document = automerge::Document::load(saved_document);
    ASSERT_TRUE(document.has_value());
    h.document() = std::move(*document);
    h.frame();
    EXPECT_TRUE(h.app().library().videos.empty());
    EXPECT_TRUE(h.app().library().is_liked("v1"));
    EXPECT_TRUE(h.app().library().is_liked("v2"));

    go(h, Route::queue());
    EXPECT_TRUE(shows(h.app(), "Title v1")) << page_text(h.app());
    go(h, Route::history());
    EXPECT_TRUE(shows(h.app(), "Title v2") && shows(h.app(), "Title v4")) << page_text(h.app());
    go(h, Route::subscriptions());
    EXPECT_TRUE(shows(h.app(), "Channel A")) << page_text(h.app());
    for (const Route& page : {Route::queue(), Route::history(), Route::subscriptions()}) {
        go(h, page);
        EXPECT_FALSE(shows(h.app(), "need metadata")) << page_text(h.app());
    }
    EXPECT_EQ(h.app().record_requests().in_flight(), 0u);  // nothing was missing

    // A liked video opened from the queue shows its like.
    go(h, Route::queue());
    h.run({intent::OpenVideo{"v1"}});
    h.frame();
    EXPECT_EQ(h.app().library().route, Route::watch("v1"));
    EXPECT_TRUE(h.app().library().is_liked("v1"));
    EXPECT_TRUE(shows(h.app(), "Title v1"));
}

TEST(KeptData, RecordsFollowTheListsAndTheFreshestRecord) {
    TempDir data;
    LiveOnDisk live(data.path());
    RootHarness h(live.app());
    h.frame();
    h.apply_shared(action::SetVideoLiked{"v1", true});
    h.apply_shared(action::SetQueueMembership{"v2", true});
    take(h, FetchResult{FetchResult::HomeFeed{{video_record("v1", "UCa"), video_record("v2", "UCa")}}});
    h.app().finish_record_writes();
    ASSERT_EQ(video_ids(records_in(data.path())), (std::vector<std::string>{"v1", "v2"}));

    // A fresher record of a kept video replaces it, keeping the thumbnail
    // address it lacks.
    Video fresh = video_record("v2", "UCa");
    fresh.thumbnail_url = "https://t/v2.jpg";
    take(h, FetchResult{FetchResult::VideoDetails{fresh, {}}});
    fresh.title = "Renamed";
    fresh.thumbnail_url.clear();
    take(h, FetchResult{FetchResult::HomeFeed{{fresh}}});
    h.app().finish_record_writes();
    const KeptRecords kept = records_in(data.path());
    ASSERT_EQ(kept.videos.size(), 2u);
    const auto v2 = std::find_if(kept.videos.begin(), kept.videos.end(), [](const Video& v) { return v.id == "v2"; });
    EXPECT_EQ(v2->title, "Renamed");
    EXPECT_EQ(v2->thumbnail_url, "https://t/v2.jpg");

    // What no list holds any more is dropped, from the file and the Library.
    h.apply_shared(action::SetVideoLiked{"v1", false});
    h.frame();
    h.app().finish_record_writes();
    EXPECT_EQ(video_ids(records_in(data.path())), std::vector<std::string>{"v2"});
    EXPECT_EQ(h.app().library().find_video("v1"), nullptr);
}

TEST(KeptData, SubscriptionsKeepTheirChannelsWhateverTheEntrysForm) {
    TempDir data;
    LiveOnDisk live(data.path());
    RootHarness h(live.app());
    h.frame();
    h.apply_shared(action::SetSubscription{"https://youtube.com/channel/UCa", true});
    h.apply_shared(action::SetSubscription{"https://youtube.com/@bee", true});
    take(h, FetchResult{FetchResult::ChannelPage{channel_record("UCa", "Channel A"), {}}});
    take(h, FetchResult{FetchResult::ChannelPage{channel_record("UCb", "Bee"), {}}});  // handle "@UCb"
    Channel bee = channel_record("UCbee", "Bee Real");
    bee.handle = "@bee";
    take(h, FetchResult{FetchResult::ChannelPage{bee, {}}});
    h.app().finish_record_writes();
    std::vector<std::string> ids;
    for (const Channel& c : records_in(data.path()).channels) ids.push_back(c.id);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"UCa", "UCbee"}));

    // After a restart their tiles show, and none is said to be missing.
    RootHarness again(live.app());
    again.document() = h.document().fork();
    again.frame();
    go(again, Route::subscriptions());
    EXPECT_TRUE(shows(again.app(), "Channel A") && shows(again.app(), "Bee Real")) << page_text(again.app());
    EXPECT_FALSE(shows(again.app(), "need metadata"));
}

TEST(KeptData, PagesAskForTheRecordsTheyLackAFewAtATime) {
    StalledWorkers workers;
    RootHarness h(SarnApp::create(workers.options()).start_live());
    h.frame();
    for (int i = 0; i < 5; ++i) h.apply_shared(action::SetQueueMembership{fmt::format("q{}", i), true});
    h.frame();
    EXPECT_EQ(h.app().record_requests().in_flight(), 0u);  // not on the queue's page
    go(h, Route::queue());
    EXPECT_EQ(h.app().record_requests().in_flight(), RecordRequests::kInFlight);
    EXPECT_TRUE(shows(h.app(), "5 queued item(s) need metadata"));
    // One arrives: the next is asked for.
    take(h, FetchResult{FetchResult::VideoDetails{video_record("q0", "UCa"), {}}});
    go(h, Route::queue());
    EXPECT_EQ(h.app().record_requests().in_flight(), RecordRequests::kInFlight);
    EXPECT_TRUE(shows(h.app(), "4 queued item(s) need metadata"));
}

TEST(KeptData, RecordRequestsGoAFewAtATimeAndOnceEach) {
    Library library;
    RecordRequests requests;
    const auto t0 = RecordRequests::Clock::now();
    const std::vector<std::string> ids = {"a", "b", "c", "d", ""};
    const std::vector<std::string> entries = {"https://youtube.com/@known", "UCx"};
    library.channels.push_back(channel_record("UCk", "Known"));
    library.channels.back().handle = "@known";

    auto kinds = [](const std::vector<FetchRequest>& out) {
        std::vector<std::string> texts;
        for (const FetchRequest& r : out) texts.push_back(fmt::format("{}:{}", static_cast<int>(r.kind), r.text));
        return texts;
    };
    const auto video = [](const char* id) {
        return fmt::format("{}:{}", static_cast<int>(FetchRequestKind::Video), id);
    };
    EXPECT_EQ(kinds(requests.next(library, ids, entries, t0)),
              (std::vector<std::string>{video("a"), video("b"), video("c")}));
    EXPECT_TRUE(requests.next(library, ids, entries, t0).empty());  // three out
    library.videos.push_back(video_record("b", "UC"));
    EXPECT_EQ(kinds(requests.next(library, ids, entries, t0)), std::vector<std::string>{video("d")});
    // The known channel's address is not asked for; the unknown id is, once a slot is free.
    const auto later = t0 + RecordRequests::kPatience;
    EXPECT_EQ(kinds(requests.next(library, ids, entries, later)),
              std::vector<std::string>{fmt::format("{}:UCx", static_cast<int>(FetchRequestKind::Channel))});
    // Each once per run, even when it never came.
    EXPECT_TRUE(requests.next(library, ids, entries, later + RecordRequests::kPatience).empty());
}

// ---- stored data that cannot be kept ----

TEST(KeptData, AnUnreadableRecordsFileIsSaidAndLeftUntilARecordChanges) {
    TempDir data;
    const auto path = KeptRecordsStore::records_path(data.path());
    vorn_test::write_file_creating_parent(path, "{\"version\":1,\"videos\":[{\"id\":");
    LiveOnDisk live(data.path());
    RootHarness h(live.app());
    h.frame();
    EXPECT_TRUE(shows(h.app(), "Saved video details unavailable")) << page_text(h.app());
    h.apply_shared(action::SetVideoLiked{"v1", true});
    for (int i = 0; i < 3; ++i) h.frame();
    h.app().finish_record_writes();
    EXPECT_EQ(vorn_test::read_file(path), "{\"version\":1,\"videos\":[{\"id\":");
    // The lists still work; the first record to keep replaces the file.
    take(h, FetchResult{FetchResult::HomeFeed{{video_record("v1", "UCa")}}});
    EXPECT_TRUE(h.app().library().is_liked("v1"));
    h.app().finish_record_writes();
    EXPECT_EQ(video_ids(records_in(data.path())), std::vector<std::string>{"v1"});
}

TEST(KeptData, ALibraryFileThatDidNotLoadIsSaidOnEveryPageAndNothingIsDropped) {
    TempDir data;
    const auto path = KeptRecordsStore::records_path(data.path());
    KeptRecords kept{{kept_fields(video_record("v1", "UCa"))}, {}};
    vorn_test::write_file_creating_parent(path, encode_kept_records(kept));
    const std::string before = vorn_test::read_file(path);

    LiveOnDisk live(data.path());
    RootHarness h(live.app());
    h.set_document_error("the file does not load");
    h.frame();
    for (const Route& page : {Route::home(), Route::queue(), Route::settings()}) {
        go(h, page);
        EXPECT_TRUE(shows(h.app(), "Library changes are not being saved")) << page_text(h.app());
        EXPECT_TRUE(shows(h.app(), kLibraryOpenFailedText));
    }
    h.shoot("storage-notices");
    // The empty document in memory names none of the user's lists: the
    // records stay, on disk and for the lookups.
    h.apply_shared(action::SetVideoLiked{"v9", true});
    take(h, FetchResult{FetchResult::HomeFeed{{video_record("v9", "UCa")}}});
    h.app().finish_record_writes();
    EXPECT_EQ(vorn_test::read_file(path), before);
    EXPECT_NE(h.app().library().find_video("v1"), nullptr);

    // Once the runtime says the document is well, the notice goes.
    h.set_document_error(std::nullopt);
    h.frame();
    h.frame();
    EXPECT_FALSE(shows(h.app(), "Library changes are not being saved"));
}

TEST(KeptData, AHistoryThatCouldNotBeOpenedStaysSaidAndKeepsItsRecords) {
    TempDir data;
    SarnAppOptions probe = StalledWorkers().options();
    const std::string owner = history_owner_id_from(*probe.identity);
    vorn_test::write_file_creating_parent(OwnerHistoryStore::history_path(data.path(), owner), "not a history");
    vorn_test::write_file_creating_parent(KeptRecordsStore::records_path(data.path()),
              encode_kept_records(KeptRecords{{kept_fields(video_record("watched", "UCa"))}, {}}));

    LiveOnDisk live(data.path());
    RootHarness h(live.app());
    EXPECT_EQ(h.app().library().history_notice, kHistoryOpenFailedText);  // the live start keeps it
    h.frame();
    go(h, Route::history());
    EXPECT_TRUE(shows(h.app(), "History recovery needed"));
    h.apply_shared(action::SetVideoLiked{"v1", true});
    take(h, FetchResult{FetchResult::HomeFeed{{video_record("v1", "UCa")}}});
    h.app().finish_record_writes();
    // The history the store could not read may name it: it is not dropped.
    EXPECT_EQ(video_ids(records_in(data.path())), (std::vector<std::string>{"v1", "watched"}));
}

// ---- the first write of the offline sample ----

TEST(KeptData, TheSamplesFirstChangeKeepsItsLists) {
    const Library sample = Library::sample();
    ASSERT_GE(sample.videos.size(), 6u);
    // The sample subscribes to channels but likes and queues nothing; a
    // catalogue that shows likes and a queue before the document holds any
    // is made here from it.
    const std::vector<std::string> shown_likes = {sample.videos[1].id, sample.videos[2].id};
    const std::vector<std::string> shown_queue = {sample.videos[3].id, sample.videos[4].id};
    auto show_lists = [&](SarnApp& app) {
        app.library_mut().likes = shown_likes;
        app.library_mut().queue = shown_queue;
    };
    const std::string sample_channel = sample.subscriptions.front();
    const std::string other = sample.videos[5].id;
    const long subs = static_cast<long>(sample.subscriptions.size());
    const long likes = static_cast<long>(shown_likes.size());
    const long queue = static_cast<long>(shown_queue.size());
    // A page control's intent, or the runtime's own action surfaces (the
    // action search, device sync), which write without the root's help.
    using Change = std::variant<ControlIntent, SarnAction>;
    const struct {
        const char* name;
        Change change;
        long subscriptions, likes, queue;  // the list lengths after the change
    } cases[] = {
        {"subscribe from a page", intent::ToggleSubscription{"UCnew"}, subs + 1, likes, queue},
        {"unsubscribe from a page", intent::ToggleSubscription{sample_channel}, subs - 1, likes, queue},
        {"subscribe from the action search", action::SetSubscription{"UCnew", true}, subs + 1, likes, queue},
        {"unsubscribe from the action search", action::SetSubscription{sample_channel, false}, subs - 1, likes, queue},
        {"like from a page", intent::ToggleLike{other}, subs, likes + 1, queue},
        {"unlike from a page", intent::ToggleLike{shown_likes.front()}, subs, likes - 1, queue},
        {"like from the action search", action::SetVideoLiked{other, true}, subs, likes + 1, queue},
        {"queue from the action search", action::SetQueueMembership{other, true}, subs, likes, queue + 1},
        {"unqueue from the action search", action::SetQueueMembership{shown_queue.front(), false}, subs, likes, queue - 1},
    };
    auto expect_lists = [](const Library& library, const auto& c) {
        EXPECT_EQ(static_cast<long>(library.subscriptions.size()), c.subscriptions);
        EXPECT_EQ(static_cast<long>(library.likes.size()), c.likes);
        EXPECT_EQ(static_cast<long>(library.queue.size()), c.queue);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RootHarness h(SarnApp::create(test::quiet_options()).with_route(Route::watch(sample.videos[0].id)));
        show_lists(h.app());
        h.frame();
        if (const auto* control = std::get_if<ControlIntent>(&c.change)) {
            h.run({*control});
        } else {
            h.apply_shared(std::get<SarnAction>(c.change));
        }
        h.frame();
        h.frame();
        expect_lists(h.app().library(), c);
        // After a restart over the same catalogue, from the document alone.
        SarnApp restarted = SarnApp::create(test::quiet_options());
        show_lists(restarted);
        (void)restarted.load_shared_state(h.document());
        expect_lists(restarted.library(), c);
    }
}

// ---- concurrent library roots ----

TEST(KeptData, TheRootMovesALosingLibraryRootIntoTheWinner) {
    RootHarness h(SarnApp::create(test::quiet_options()).with_library(Library{}));
    h.frame();
    automerge::Document other;
    h.apply_shared(action::SetVideoLiked{"v1", true});
    ASSERT_TRUE(apply_shared_action(action::SetSubscription{"UC1", true}, other));
    other.commit();
    ASSERT_TRUE(h.document().merge(other));
    ASSERT_EQ(LibraryMaps::root(h.document()).maps().size(), 2u);
    h.frame();
    h.frame();
    EXPECT_TRUE(convergence_actions(h.document()).empty());
    const auto winner = child_map(h.document(), automerge::ObjId::root(), "sarn");
    ASSERT_TRUE(winner.has_value());
    for (const auto& [list, key] : {std::pair{"likes", "v1"}, std::pair{"subscriptions", "UC1"}}) {
        const auto map = child_map(h.document(), *winner, list);
        ASSERT_TRUE(map.has_value()) << list;
        const auto item = h.document().get(*map, key);
        ASSERT_TRUE(item && *item) << list;
        EXPECT_EQ((*item)->value.as_bool(), true);
    }
    EXPECT_EQ(h.app().library().subscriptions, std::vector<std::string>{"UC1"});
}

// ---- a skip category's click ----

TEST(KeptData, ASkipCategoryClickStepsTheStoredModeAlsoWhileSponsorBlockIsOff) {
    RootHarness h(SarnApp::create(test::quiet_options()).with_route(Route::settings()));
    h.frame();
    h.apply_shared(action::SetSponsorCategory{SponsorCategory::Intro, SponsorMode::Show});
    h.apply_shared(action::SetSetting{Setting::SponsorBlock, false});
    h.frame();
    h.run({intent::CycleSegmentMode{SponsorCategory::Intro}});
    h.frame();
    EXPECT_EQ(h.app().library().settings.sponsor_categories.at("intro"), SponsorMode::Disabled);
    // What a restart reads back: the next mode after Show, not Skip.
    SarnApp restarted = SarnApp::create(test::quiet_options());
    (void)restarted.load_shared_state(h.document());
    EXPECT_EQ(restarted.library().settings.sponsor_categories.at("intro"), SponsorMode::Disabled);
}

// ---- liked comments ----

// Every address of a resource tree, depth first.
void collect_addresses(const vorn_actions::resource::Resource& resource, std::vector<std::string>& out) {
    out.push_back(resource.id);
    for (const auto& child : resource.children) collect_addresses(child, out);
}

TEST(KeptData, ALikedCommentKeepsItsKeyWhenItsTimeTextMoves) {
    Library library = Library::sample();
    Video& video = library.videos.front();
    ASSERT_FALSE(video.comments.empty());
    const std::string today = comment_content_key(video.id, video.comments.front());
    Comment tomorrow = video.comments.front();
    tomorrow.time_ago = "1 day ago";
    tomorrow.likes += 10;
    EXPECT_EQ(comment_content_key(video.id, tomorrow), today);
    // Its replies keep their ids: they depend on the key and the text alone.
    EXPECT_EQ(reply_id_for("abc", ""), "reply-fc182483ee0806dc");

    // The watched video's tree names every resource once.
    library.route = Route::watch(video.id);
    std::vector<std::string> addresses;
    for (const auto& root : action_resources_tree(library)) collect_addresses(root, addresses);
    std::vector<std::string> sorted = addresses;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
    EXPECT_NE(std::find(addresses.begin(), addresses.end(), "sarn.comment:" + today), addresses.end());
}

// ---- a short clip ----

// A 30-second clip whose container names no duration, made once per build
// tree. Streamed without a length, its duration is unknown when it starts to
// play, as a network stream's often is.
std::optional<std::string> clip_without_duration() {
    const auto path = std::filesystem::path(VORN_BINARY_DIR) / "tests" / "app" / "clip-30s-streamable.webm";
    if (!std::filesystem::exists(path)) {
        const auto part = path.string() + "." + std::to_string(::getpid());
        const std::string command = fmt::format(
            "gst-launch-1.0 -q videotestsrc num-buffers=300 ! video/x-raw,width=160,height=120,framerate=10/1 ! "
            "vp8enc deadline=1 ! webmmux streamable=true ! filesink location={} >/dev/null 2>&1",
            part);
        if (std::system(command.c_str()) != 0) return std::nullopt;
        std::filesystem::rename(part, path);
    }
    return vorn_test::read_file(path);
}

TEST(KeptData, AShortClipIsNotSoughtAgainstThePlaceholderDuration) {
    const auto clip = clip_without_duration();
    if (!clip || clip->empty()) GTEST_SKIP() << "gst-launch-1.0 made no clip";
    vorn_test::LocalServer server;
    // Sent in chunks, without a length: nothing tells its duration up front.
    server.server().Get("/clip.webm", [&](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("video/webm", [&](std::size_t offset, httplib::DataSink& sink) {
            if (offset < clip->size()) {
                sink.write(clip->data() + offset, std::min<std::size_t>(64 * 1024, clip->size() - offset));
            } else {
                sink.done();
            }
            return true;
        });
    });
    ASSERT_TRUE(server.start());

    SarnApp app =
        SarnApp::create(test::quiet_options()).open_and_play("vid", server.base_url() + "/clip.webm");
    const auto* engine = app.player()->engine();
    ASSERT_NE(engine, nullptr);
    if (!engine->decodes()) GTEST_SKIP() << "no media framework";
    ASSERT_NE(app.player()->state_value(), 2) << "the clip did not open: " << engine->last_error().value_or("");
    // Not sent past its end: the 32 s seek needs a real duration of more than 40 s.
    EXPECT_LT(engine->position_ms(), 30'000u) << "duration " << engine->duration_ms().value_or(0);
    EXPECT_EQ(app.loaded_video(), std::optional<std::string>("vid"));
}

}  // namespace
}  // namespace sarn
