// The whole road: LiveBackend -> client -> HTTP -> a local server on
// 127.0.0.1 that answers with the recorded (or hand-written) answers ->
// parsers -> CatalogPage.
#include <gtest/gtest.h>

#include <chrono>

#include "fake_platform.h"
#include "sarn/innertube/live_backend.h"

namespace sarn {
namespace {

using innertube::testing::FakePlatform;
using innertube::testing::Json;
using innertube::testing::project_fixture;
using innertube::testing::start_and_wait;

class LiveBackendRoad : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(platform.started());
        backend = make_backend();
    }

    std::unique_ptr<LiveBackend> make_backend(std::chrono::milliseconds budget = std::chrono::milliseconds(5000),
                                              std::size_t body_limit = 32 * 1024 * 1024) {
        innertube::ClientConfig config;
        config.origin = platform.origin() + "/";
        config.call_budget = budget;
        config.retry_delay = std::chrono::milliseconds(10);
        config.body_limit = body_limit;
        // Every call goes on the wire here; kept answers have tests of their own.
        config.answer_cache_capacity = 0;
        auto started = LiveBackend::start(NullBotguard{}, config);
        EXPECT_TRUE(started.has_value());
        return started ? std::move(*started) : nullptr;
    }

    static bool have_recordings() { return std::filesystem::exists(innertube::testing::recorded_dir()); }

    FakePlatform platform;
    std::unique_ptr<LiveBackend> backend;
};

TEST_F(LiveBackendRoad, NameIsTheMetadataOnlyMode) {
    EXPECT_EQ(backend->name(), "no_botguard (metadata only)");
    struct Available final : BotguardProvider {
        std::string_view name() const override { return "test"; }
        std::optional<std::string> token() const override { return std::nullopt; }
        bool available() const override { return true; }
    };
    auto with_botguard = LiveBackend::start(Available{});
    ASSERT_TRUE(with_botguard.has_value());
    EXPECT_EQ((*with_botguard)->name(), "botguard enabled (streams available)");
    EXPECT_EQ(NullBotguard{}.name(), "null (metadata-only)");
}

TEST_F(LiveBackendRoad, FactoryStartsBackendsAgainstItsOrigin) {
    innertube::ClientConfig config;
    config.origin = platform.origin();
    LiveBackendFactory factory = live_backend_factory(config);
    auto started = factory();
    ASSERT_TRUE(started.has_value()) << started.error();
    EXPECT_EQ((*started)->name(), "no_botguard (metadata only)");
    platform.answer("search:mixed", project_fixture("search-mixed.json"));
    auto items = (*started)->search_items("mixed");
    ASSERT_TRUE(items.has_value()) << items.error();
    EXPECT_EQ(items->channels.size(), 1u);
    EXPECT_EQ(platform.requests(), 1);
}

TEST_F(LiveBackendRoad, SearchAnswersOnlyTheVideosAndSearchItemsAllThreeLists) {
    platform.answer("search:mixed", project_fixture("search-mixed.json"));
    auto page = backend->search("mixed");
    ASSERT_TRUE(page.has_value()) << page.error();
    ASSERT_NE(page->as_videos(), nullptr);
    EXPECT_EQ(page->as_videos()->videos.size(), 3u);

    auto items = backend->search_items("mixed");
    ASSERT_TRUE(items.has_value()) << items.error();
    EXPECT_EQ(items->videos.size(), 3u);
    EXPECT_EQ(items->channels.size(), 1u);
    ASSERT_EQ(items->playlists.size(), 2u);
    EXPECT_EQ(items->playlists[0].id, "PLolder0000000000000001");

    auto sent = platform.bodies();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0]["query"], "mixed");
    EXPECT_EQ(sent[0]["params"], "8AEB");
}

TEST_F(LiveBackendRoad, RecordedSearchAndPopularFilter) {
    if (!have_recordings()) GTEST_SKIP() << "recorded answers not present";
    auto page = backend->search("test");
    ASSERT_TRUE(page.has_value()) << page.error();
    EXPECT_EQ(page->as_videos()->videos.size(), 20u);
    EXPECT_EQ(page->as_videos()->videos.front().id, "6GDBMbMU0ew");

    auto popular = backend->popular_search("test");
    ASSERT_TRUE(popular.has_value()) << popular.error();
    EXPECT_EQ(popular->as_videos()->videos.front().id, "Z8KYabgkMbw");  // the filtered recording

    auto channels = backend->search_items("channels");
    ASSERT_TRUE(channels.has_value()) << channels.error();
    EXPECT_EQ(channels->channels.size(), 20u);
}

TEST_F(LiveBackendRoad, VideoRelatedAndComments) {
    if (!have_recordings()) GTEST_SKIP() << "recorded answers not present";
    auto video = backend->video("QqsLTNkzvaY");
    ASSERT_TRUE(video.has_value()) << video.error();
    ASSERT_NE(video->as_video(), nullptr);
    EXPECT_EQ(video->as_video()->video.title, "What If You Fall into a Black Hole?");
    EXPECT_EQ(video->as_video()->video.likes, 469694u);

    auto related = backend->related("QqsLTNkzvaY");
    ASSERT_TRUE(related.has_value()) << related.error();
    EXPECT_EQ(related->as_videos()->videos.size(), 20u);

    auto comments = backend->comments("QqsLTNkzvaY");
    ASSERT_TRUE(comments.has_value()) << comments.error();
    EXPECT_EQ(comments->size(), 20u);
    EXPECT_EQ(comments->front().author, "@kurzgesagt");

    // Comments turned off: no continuation, an empty list and no page request.
    int before = platform.requests();
    auto none = backend->comments("M4gD1WSo5mA");
    ASSERT_TRUE(none.has_value()) << none.error();
    EXPECT_TRUE(none->empty());
    EXPECT_EQ(platform.requests(), before + 1);
}

TEST_F(LiveBackendRoad, CommentsAreCutAtSixty) {
    platform.answer("next:many0000001", R"({"currentVideoEndpoint":{"watchEndpoint":{"videoId":"many0000001"}},
      "contents":{"twoColumnWatchNextResults":{"results":{"results":{"contents":[{"videoPrimaryInfoRenderer":{}},
      {"itemSectionRenderer":{"sectionIdentifier":"comment-item-section","contents":[
        {"continuationItemRenderer":{"continuationEndpoint":{"continuationCommand":{"token":"eighty"}}}}]}}]}}}}})");
    Json items = Json::array();
    for (int i = 0; i < 80; ++i) {
        items.push_back({{"commentThreadRenderer",
                          {{"comment",
                            {{"commentRenderer",
                              {{"authorText", {{"simpleText", "author " + std::to_string(i)}}},
                               {"contentText", {{"simpleText", "text"}}}}}}}}}});
    }
    platform.answer("next:eighty",
                    Json{{"onResponseReceivedEndpoints", {{{"appendContinuationItemsAction", {{"continuationItems", items}}}}}}}.dump());
    auto comments = backend->comments("many0000001");
    ASSERT_TRUE(comments.has_value()) << comments.error();
    ASSERT_EQ(comments->size(), 60u);
    EXPECT_EQ(comments->back().author, "author 59");
    EXPECT_EQ(comments->back().initials, "A5");
}

TEST_F(LiveBackendRoad, ChannelByIdHandleAndAddress) {
    if (!have_recordings()) GTEST_SKIP() << "recorded answers not present";
    for (const char* id : {"UCsXVk37bltHxD1rDPwtNM8Q", "@kurzgesagt", "kurzgesagt", "https://www.youtube.com/@kurzgesagt",
                           "https://www.youtube.com/channel/UCsXVk37bltHxD1rDPwtNM8Q/videos"}) {
        SCOPED_TRACE(id);
        auto page = backend->channel(id);
        ASSERT_TRUE(page.has_value()) << page.error();
        ASSERT_NE(page->as_channel(), nullptr);
        EXPECT_EQ(page->as_channel()->channel.id, "UCsXVk37bltHxD1rDPwtNM8Q");
        EXPECT_EQ(page->as_channel()->videos.size(), 30u);
    }
    auto sent = platform.bodies();
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[1]["url"], "https://www.youtube.com/@kurzgesagt");  // the handle is resolved first
    EXPECT_EQ(sent[2]["browseId"], "UCsXVk37bltHxD1rDPwtNM8Q");
    EXPECT_EQ(sent[2]["params"], "EgZ2aWRlb3PyBgQKAjoA");

    auto removed = backend->channel("UCoaO4U_p7G7AwalqSbGCZOA");
    ASSERT_FALSE(removed.has_value());
    EXPECT_EQ(removed.error(), "channel: This channel was removed because it violated our Community Guidelines.");
    auto unknown = backend->channel("@nobody");
    ASSERT_FALSE(unknown.has_value());
    EXPECT_EQ(unknown.error(), "channel: HTTP 404: Requested entity was not found.");
}

TEST_F(LiveBackendRoad, HandleGoesIntoTheResolvedAddressEncoded) {
    auto page = backend->channel("@a&b#c");
    ASSERT_FALSE(page.has_value());
    auto sent = platform.bodies();
    ASSERT_EQ(sent.size(), 1u);  // the unresolvable handle ends the query
    EXPECT_EQ(sent[0]["url"], "https://www.youtube.com/@a%26b%23c");
}

TEST_F(LiveBackendRoad, PlaylistThroughItsOwnOperationOnly) {
    if (!have_recordings()) GTEST_SKIP() << "recorded answers not present";
    auto answer = backend->fetch_playlist("PL8dPuuaLjXtOAKed_MxxWBNaPno5h3Zs8");
    ASSERT_TRUE(answer.has_value()) << answer.error();
    EXPECT_EQ(answer->playlist.id, "PL8dPuuaLjXtOAKed_MxxWBNaPno5h3Zs8");
    EXPECT_EQ(answer->playlist.title, "Anatomy & Physiology");
    EXPECT_EQ(answer->videos.size(), 49u);

    auto bad = backend->fetch_playlist("INVALID_ID");
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error(), "playlist INVALID_ID: This playlist type is unviewable.");
    // The catalogue interface keeps its defaults.
    EXPECT_EQ(backend->playlist("PL8dPuuaLjXtOAKed_MxxWBNaPno5h3Zs8").error(), "this backend cannot resolve playlists");
    EXPECT_EQ(backend->playback_source("QqsLTNkzvaY").error(), "this backend cannot resolve a playback source");
}

TEST_F(LiveBackendRoad, RetiredTrendingFailsCleanlyWithoutRetries) {
    if (!have_recordings()) GTEST_SKIP() << "recorded answers not present";
    auto page = backend->run_query(CatalogQuery{CatalogQuery::Trending{}});
    ASSERT_FALSE(page.has_value());
    EXPECT_EQ(page.error(), "trending: HTTP 400: Request contains an invalid argument.");
    EXPECT_EQ(platform.requests(), 1);  // a 400 is final
}

TEST_F(LiveBackendRoad, CallsShareOneKeptConnection) {
    platform.answer("search:again", project_fixture("search-mixed.json"));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(backend->search("again").has_value());
    auto ports = platform.client_ports();
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[1], ports[0]);
    EXPECT_EQ(ports[2], ports[0]);
}

TEST_F(LiveBackendRoad, ServerErrorsAreRetriedAtMostTwice) {
    platform.answer("search:retry", project_fixture("search-mixed.json"));
    platform.fail_next(2, 503);
    auto page = backend->search("retry");
    ASSERT_TRUE(page.has_value()) << page.error();
    EXPECT_EQ(platform.requests(), 3);

    platform.fail_next(5, 429, R"({"error":{"code":429,"message":"Too many requests"}})");
    auto limited = backend->search("retry");
    ASSERT_FALSE(limited.has_value());
    EXPECT_EQ(limited.error(), "search: HTTP 429: Too many requests");
    EXPECT_EQ(platform.requests(), 6);

    platform.fail_next(5, 404);
    auto missing = backend->search("retry");
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error(), "search: HTTP 404");
    EXPECT_EQ(platform.requests(), 7);
}

TEST_F(LiveBackendRoad, MalformedAnswersBecomeErrorTexts) {
    platform.answer("search:truncated", project_fixture("search-mixed.json").substr(0, 300));
    platform.answer("search:empty", "");
    auto truncated = backend->search("truncated");
    ASSERT_FALSE(truncated.has_value());
    EXPECT_TRUE(truncated.error().starts_with("search: malformed JSON answer")) << truncated.error();
    EXPECT_EQ(backend->search("empty").error(), "search: empty answer");
    EXPECT_EQ(backend->video("nothing").error(), "video: HTTP 404: Requested entity was not found.");
}

TEST_F(LiveBackendRoad, ConnectionErrorsAreRetriedThenReported) {
    int port = 0;
    {
        vorn_test::LocalServer closed;
        ASSERT_TRUE(start_and_wait(closed));
        port = closed.port();
    }
    innertube::ClientConfig config;
    config.origin = "http://127.0.0.1:" + std::to_string(port);
    config.retry_delay = std::chrono::milliseconds(10);
    config.call_budget = std::chrono::milliseconds(3000);
    auto started = LiveBackend::start(NullBotguard{}, config);
    ASSERT_TRUE(started.has_value());
    auto start = std::chrono::steady_clock::now();
    auto page = (*started)->search("anything");
    ASSERT_FALSE(page.has_value());
    EXPECT_TRUE(page.error().starts_with("search: could not connect")) << page.error();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
}

TEST_F(LiveBackendRoad, SlowAnswersEndAtTheCallBudget) {
    auto slow = make_backend(std::chrono::milliseconds(400));
    platform.answer("search:slow", project_fixture("search-mixed.json"));
    platform.delay_answers(std::chrono::milliseconds(1500));
    auto start = std::chrono::steady_clock::now();
    auto page = slow->search("slow");
    auto took = std::chrono::steady_clock::now() - start;
    platform.delay_answers(std::chrono::milliseconds(0));
    ASSERT_FALSE(page.has_value());
    EXPECT_TRUE(page.error().starts_with("search: request timed out")) << page.error();
    EXPECT_LT(took, std::chrono::milliseconds(1400));
    EXPECT_EQ(platform.requests(), 1);  // a timed-out attempt has used the budget
}

TEST_F(LiveBackendRoad, OversizedAnswersAreRefused) {
    auto capped = make_backend(std::chrono::milliseconds(5000), 1024);
    platform.answer("search:big", project_fixture("search-mixed.json"));
    auto page = capped->search("big");
    ASSERT_FALSE(page.has_value());
    EXPECT_TRUE(page.error().starts_with("search: response body exceeds 1024 bytes")) << page.error();
}

}  // namespace
}  // namespace sarn
