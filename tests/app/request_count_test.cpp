// What the platform's web API receives for what the user does, counted by a
// stand-in for it on 127.0.0.1, with the live root and a real fetch worker
// whose primary backend is the innertube client (no yt-dlp): opening a video
// asks for its watch page once (its details, related videos and the token of
// its first comment page come from that one answer) and for that comment
// page once; a search is asked once, its answer serving both the video list
// and the enrichment's mixed items. The same roads with the sharing of
// answers turned off (a cache capacity of 0) ask for the watch page three
// times and for the search twice, and both show the same pages.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "../innertube/fake_platform.h"
#include "../support/stand_in_fetch.h"
#include "page_test_support.h"
#include "root_harness.h"

namespace sarn {
namespace {

using namespace std::chrono_literals;
using innertube::testing::FakePlatform;
using innertube::testing::project_fixture;
using test::quiet_options;
using test::RootHarness;

constexpr const char* kVideo = "watchOld001";  // tests/innertube/fixtures/watch-renderer.json
constexpr const char* kQuery = "mixed";        // tests/innertube/fixtures/search-mixed.json

// The live root over a fetch worker that talks to the stand-in only.
SarnApp live_root(const std::string& origin, std::size_t answer_cache_capacity) {
    SarnAppOptions options = quiet_options();
    options.fetch_config = [origin, answer_cache_capacity] {
        return support::stand_in_fetch_config(origin, answer_cache_capacity);
    };
    return SarnApp::create(options).start_live();
}

class Road {
public:
    explicit Road(std::size_t answer_cache_capacity) : m_harness(live_root(m_platform.origin(), answer_cache_capacity)) {
        m_platform.answer(std::string("next:") + kVideo, project_fixture("watch-renderer.json"));
        m_platform.answer("next:comments-token", project_fixture("comments-renderer.json"));
        m_platform.answer(std::string("search:") + kQuery, project_fixture("search-mixed.json"));
    }

    bool ok() const { return m_platform.started(); }
    FakePlatform& platform() { return m_platform; }
    RootHarness& harness() { return m_harness; }
    const Library& library() { return m_harness.app().library(); }

    // Frames until `done` holds (or a long limit passes).
    bool frames_until(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            m_harness.frame();
            std::this_thread::sleep_for(2ms);
        }
        return true;
    }

    // Lets every request asked so far finish and its results land: the
    // worker answers in order, so once it asks for a playlist submitted
    // now, everything before it has been sent; a few frames take it in.
    bool settle() {
        const std::string sentinel = "settled" + std::to_string(++m_settles);
        m_harness.app().submit_request(FetchRequest::playlist(sentinel));
        if (!frames_until([&] { return m_platform.count("browse:VL" + sentinel) > 0; })) return false;
        for (int i = 0; i < 5; ++i) m_harness.frame();
        return true;
    }

    // The page as rows of widgets, texts and places.
    std::string page() { return screens::test::dump_text(screens::test::dump_tree(m_harness.app())); }

    // Opens the video and waits for its details, related videos and comments.
    bool open_video() {
        m_harness.run({intent::OpenVideo{kVideo}});
        const bool applied = frames_until([&] {
            const Video* v = library().find_video(kVideo);
            return v != nullptr && !v->comments.empty() && library().up_next_for == kVideo;
        });
        return applied && settle();
    }

    bool search() {
        m_harness.app().search_text().publish(kQuery);
        m_harness.run({intent::Search{}});
        const bool applied = frames_until([&] { return !library().search_loading && library().search_query == kQuery; });
        return applied && !library().search_result_videos.empty() && settle();
    }

private:
    FakePlatform m_platform;  // outlives the root whose worker talks to it
    RootHarness m_harness;
    int m_settles = 0;
};

struct Counts {
    int watch_pages = 0;
    int comment_pages = 0;
    int searches = 0;
    friend bool operator==(const Counts&, const Counts&) = default;
};

void PrintTo(const Counts& c, std::ostream* out) {
    *out << "watch pages " << c.watch_pages << ", comment pages " << c.comment_pages << ", searches " << c.searches;
}

Counts counted(FakePlatform& platform) {
    return {platform.count(std::string("next:") + kVideo), platform.count("next:comments-token"),
            platform.count(std::string("search:") + kQuery)};
}

TEST(RequestCount, OneWatchPageAndOneSearchAnswerServeEachRoad) {
    struct Case {
        const char* name;
        std::size_t capacity;
        Counts after_video, after_search;
    };
    const Case cases[] = {
        {"answers shared", 8, {1, 1, 0}, {1, 1, 1}},
        {"sharing turned off", 0, {3, 1, 0}, {3, 1, 2}},
    };
    std::vector<std::string> watch_pages, search_pages;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Road road(c.capacity);
        ASSERT_TRUE(road.ok());
        road.harness().frame();
        ASSERT_TRUE(road.frames_until([&] { return !road.library().home_loading; })) << "no home feed answer";
        ASSERT_TRUE(road.open_video()) << "the video's details, related videos and comments did not arrive";
        EXPECT_EQ(counted(road.platform()), c.after_video);
        watch_pages.push_back(road.page());
        ASSERT_TRUE(road.search()) << "the search did not answer";
        EXPECT_EQ(counted(road.platform()), c.after_search);
        search_pages.push_back(road.page());
    }
    ASSERT_EQ(watch_pages.size(), 2u);
    EXPECT_NE(watch_pages[0].find("Compact one"), std::string::npos) << "no related video on the page:\n" << watch_pages[0];
    EXPECT_NE(watch_pages[0].find("ada lovelace"), std::string::npos) << "no comment on the page:\n" << watch_pages[0];
    EXPECT_EQ(watch_pages[0], watch_pages[1]);
    ASSERT_EQ(search_pages.size(), 2u);
    EXPECT_NE(search_pages[0].find("Older Channel"), std::string::npos) << "no creator on the page:\n" << search_pages[0];
    EXPECT_EQ(search_pages[0], search_pages[1]);
}

}  // namespace
}  // namespace sarn
