// The fetch worker with our live backend in its seam, against the fake
// platform: without yt-dlp the innertube backend is the primary and the
// enrichment client, trending fails and the popular feed is composed.
#include <gtest/gtest.h>

#include <thread>

#include "fake_platform.h"
#include "sarn/innertube/fetch_wiring.h"

namespace sarn {
namespace {

using innertube::testing::FakePlatform;

class LiveFetchWorker : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(innertube::testing::recorded_dir())) GTEST_SKIP() << "recorded answers not present";
        ASSERT_TRUE(platform.started());
        innertube::ClientConfig client;
        client.origin = platform.origin();
        client.call_budget = std::chrono::milliseconds(5000);
        config = live_fetch_worker_config(client);
        config.ytdlp_program = "/nonexistent/yt-dlp";
        // No outside service is asked in these tests; point them nowhere.
        config.extras = {"http://127.0.0.1:9", "http://127.0.0.1:9", "http://127.0.0.1:9"};
    }

    std::vector<FetchResult> run(std::vector<FetchRequest> requests) {
        auto [request_tx, request_rx] = bounded_queue<FetchRequest>(kFetchRequestCapacity);
        auto [result_tx, result_rx] = bounded_queue<FetchResult>(kFetchResultCapacity);
        for (auto& request : requests) EXPECT_TRUE(request_tx.try_send(std::move(request)).has_value());
        request_tx.close();
        std::thread worker(fetch_worker_main, std::move(request_rx), std::move(result_tx), config);
        std::vector<FetchResult> out;
        while (auto result = result_rx.recv()) out.push_back(std::move(*result));
        worker.join();
        return out;
    }

    static std::vector<std::string> notes(const std::vector<FetchResult>& results) {
        std::vector<std::string> out;
        for (const auto& r : results) {
            if (const auto* note = r.as<FetchResult::Note>()) out.push_back(note->text);
        }
        return out;
    }

    template <class V>
    static const V* first(const std::vector<FetchResult>& results) {
        for (const auto& r : results) {
            if (const auto* v = r.as<V>()) return v;
        }
        return nullptr;
    }

    FakePlatform platform;
    FetchWorkerConfig config;
};

TEST_F(LiveFetchWorker, StartsOnTheInnertubeBackendAndComposesThePopularFeed) {
    auto results = run({FetchRequest::home_feed()});
    auto texts = notes(results);
    ASSERT_GE(texts.size(), 4u);
    EXPECT_TRUE(texts[0].starts_with("yt-dlp unavailable (")) << texts[0];
    EXPECT_TRUE(texts[0].ends_with("); falling back to rustypipe")) << texts[0];
    EXPECT_EQ(texts[1], "live backend ready (fallback): no_botguard (metadata only)");
    EXPECT_EQ(texts[2], "live Trending: trending: HTTP 400: Request contains an invalid argument.");
    EXPECT_EQ(texts[3],
              "dedicated trending endpoint retired — composed real popular feed (20 videos, view-sorted across 6 topics)");
    const auto* feed = first<FetchResult::HomeFeed>(results);
    ASSERT_NE(feed, nullptr);
    EXPECT_EQ(feed->videos.size(), 20u);
    ASSERT_TRUE(results.back().as<FetchResult::Status>() != nullptr);
    EXPECT_EQ(results.back().as<FetchResult::Status>()->text, "live · popular");
}

TEST_F(LiveFetchWorker, SearchVideoChannelAndPlaylistPages) {
    auto results = run({FetchRequest::search("test"), FetchRequest::video("QqsLTNkzvaY"),
                        FetchRequest::channel("@kurzgesagt"), FetchRequest::playlist("PL8dPuuaLjXtOAKed_MxxWBNaPno5h3Zs8")});
    const auto* search = first<FetchResult::SearchResults>(results);
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(search->query, "test");
    EXPECT_EQ(search->videos.size(), 20u);

    const auto* details = first<FetchResult::VideoDetails>(results);
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(details->video.id, "QqsLTNkzvaY");
    EXPECT_EQ(details->related.size(), 20u);
    const auto* comments = first<FetchResult::Comments>(results);
    ASSERT_NE(comments, nullptr);
    EXPECT_EQ(comments->video_id, "QqsLTNkzvaY");
    EXPECT_EQ(comments->comments.size(), 20u);

    const auto* channel = first<FetchResult::ChannelPage>(results);
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(channel->channel.id, "UCsXVk37bltHxD1rDPwtNM8Q");
    EXPECT_EQ(channel->videos.size(), 30u);

    const auto* playlist = first<FetchResult::PlaylistPage>(results);
    ASSERT_NE(playlist, nullptr);
    EXPECT_EQ(playlist->playlist.title, "Anatomy & Physiology");
    EXPECT_EQ(playlist->videos.size(), 49u);
}

}  // namespace
}  // namespace sarn
