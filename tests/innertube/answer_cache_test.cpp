// The answers the innertube client keeps: the cache alone on a clock of the
// test's own, then backends sharing one through the fetch worker's factory
// against the stand-in platform on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>

#include "fake_platform.h"
#include "sarn/innertube/answer_cache.h"
#include "sarn/innertube/live_backend.h"

namespace sarn {
namespace {

using namespace std::chrono_literals;
using innertube::AnswerCache;
using innertube::SearchPage;
using innertube::WatchPage;
using innertube::testing::FakePlatform;
using innertube::testing::project_fixture;

WatchPage watch_page(std::string id) {
    WatchPage page;
    page.video.id = std::move(id);
    page.comments_token = "token-" + page.video.id;
    return page;
}

TEST(AnswerCache, KeepsFreshAnswersOfTheirKindWithinItsCapacity) {
    AnswerCache::Clock::time_point now{};
    AnswerCache cache(2, 30s, [&] { return now; });
    cache.keep(AnswerCache::watch_key("a"), watch_page("a"));
    cache.keep(AnswerCache::watch_key("b"), watch_page("b"));

    const auto a = cache.find<WatchPage>(AnswerCache::watch_key("a"));
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->comments_token, "token-a");
    EXPECT_FALSE(cache.find<SearchPage>(AnswerCache::watch_key("a"))) << "an answer of another kind";
    EXPECT_FALSE(cache.find<WatchPage>(AnswerCache::search_key("8AEB", "a"))) << "a search is not a watch page";

    // "a" was used last: a third answer pushes "b" out.
    cache.keep(AnswerCache::search_key("8AEB", "q"), SearchPage{});
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_FALSE(cache.find<WatchPage>(AnswerCache::watch_key("b")));
    EXPECT_TRUE(cache.find<WatchPage>(AnswerCache::watch_key("a")));

    // Kept again, an answer is fresh again; past its lifetime it is gone.
    now += 20s;
    cache.keep(AnswerCache::watch_key("a"), watch_page("a"));
    now += 20s;
    EXPECT_TRUE(cache.find<WatchPage>(AnswerCache::watch_key("a")));
    EXPECT_FALSE(cache.find<SearchPage>(AnswerCache::search_key("8AEB", "q"))) << "40 s old";
    now += 11s;
    EXPECT_FALSE(cache.find<WatchPage>(AnswerCache::watch_key("a")));
    EXPECT_EQ(cache.size(), 0u);

    AnswerCache none(0, 30s);
    none.keep(AnswerCache::watch_key("a"), watch_page("a"));
    EXPECT_FALSE(none.find<WatchPage>(AnswerCache::watch_key("a")));
}

class SharedAnswers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(platform.started());
        platform.answer("next:watchOld001", project_fixture("watch-renderer.json"));
        platform.answer("next:comments-token", project_fixture("comments-renderer.json"));
        platform.answer("search:mixed", project_fixture("search-mixed.json"));
    }

    LiveBackendFactory factory(std::size_t capacity = 8) {
        innertube::ClientConfig config;
        config.origin = platform.origin();
        config.call_budget = 5s;
        config.retry_delay = 10ms;
        config.answer_cache_capacity = capacity;
        return live_backend_factory(config);
    }

    static std::unique_ptr<LiveCatalogBackend> start(const LiveBackendFactory& make) {
        auto started = make();
        EXPECT_TRUE(started.has_value());
        return started ? std::move(*started) : nullptr;
    }

    FakePlatform platform;
};

// The fetch worker's two backends come from one factory: what one asked
// for, the other has.
TEST_F(SharedAnswers, BackendsOfOneFactoryAskOnce) {
    const LiveBackendFactory make = factory();
    auto primary = start(make);
    auto enrichment = start(make);
    ASSERT_TRUE(primary && enrichment);

    auto related = primary->related("watchOld001");
    ASSERT_TRUE(related.has_value()) << related.error();
    auto details = primary->video("watchOld001");
    ASSERT_TRUE(details.has_value()) << details.error();
    auto comments = enrichment->comments("watchOld001");
    ASSERT_TRUE(comments.has_value()) << comments.error();
    EXPECT_EQ(related->as_videos()->videos.size(), 2u);
    EXPECT_EQ(details->as_video()->video.title, "An older watch page");
    EXPECT_EQ(comments->size(), 3u);
    EXPECT_EQ(platform.count("next:watchOld001"), 1);
    EXPECT_EQ(platform.count("next:comments-token"), 1) << "comment pages are not kept";

    ASSERT_TRUE(primary->search("mixed").has_value());
    auto items = enrichment->search_items("mixed");
    ASSERT_TRUE(items.has_value()) << items.error();
    EXPECT_EQ(items->channels.size(), 1u);
    EXPECT_EQ(platform.count("search:mixed"), 1);

    // Another factory, or none kept: asked again.
    ASSERT_TRUE(start(factory())->video("watchOld001").has_value());
    ASSERT_TRUE(start(factory(0))->video("watchOld001").has_value());
    EXPECT_EQ(platform.count("next:watchOld001"), 3);
}

TEST_F(SharedAnswers, FailuresAreNotKept) {
    auto backend = start(factory());
    ASSERT_TRUE(backend);
    platform.fail_next(1, 404);
    EXPECT_FALSE(backend->video("watchOld001").has_value());
    platform.answer("next:broken0001", "{\"contents\":");
    EXPECT_FALSE(backend->video("broken0001").has_value());
    EXPECT_TRUE(backend->video("watchOld001").has_value());
    EXPECT_FALSE(backend->video("broken0001").has_value());
    EXPECT_EQ(platform.count("next:watchOld001"), 2);
    EXPECT_EQ(platform.count("next:broken0001"), 2);
}

}  // namespace
}  // namespace sarn
