#include <gtest/gtest.h>

#include "root_harness.h"

namespace sarn {
namespace {

using test::quiet_options;
using test::RootHarness;

Video video(std::string id, std::string channel_id, std::string channel_name = "Chan", std::string avatar = "") {
    Video v;
    v.id = std::move(id);
    v.title = "Title " + v.id;
    v.channel_id = std::move(channel_id);
    v.channel_name = std::move(channel_name);
    v.channel_avatar_url = std::move(avatar);
    v.duration = 100;
    return v;
}

SarnApp empty_app() { return SarnApp::create(quiet_options()).with_library(Library{}); }

TEST(RootFetchResults, SearchResultsStoreRecordsAndAskForMissingChannels) {
    SarnApp app = empty_app().with_route(Route::search("q"));
    std::vector<std::string> pending;
    FetchResult::SearchResults results;
    results.query = "q";
    for (int i = 0; i < 8; ++i) results.videos.push_back(video("v" + std::to_string(i), "UC" + std::to_string(i)));
    results.videos.push_back(video("dup", "UC0"));
    Channel found;
    found.id = "UC0";
    found.name = "Chan";
    found.handle = "@chan0";
    found.subscribers = 42;
    found.verified = true;
    results.channels = {found};
    Playlist list;
    list.id = "PL1";
    list.title = "List";
    list.channel_id = "UCpl";
    list.channel_name = "Lister";
    results.playlists = {list};
    app.library_mut().search_loading = true;
    app.library_mut().search_error = "old";
    ASSERT_TRUE(app.apply_fetch_result(FetchResult{results}, pending));

    const Library& lib = app.library();
    EXPECT_FALSE(lib.search_loading);
    EXPECT_FALSE(lib.search_error.has_value());
    EXPECT_EQ(lib.search_result_videos.size(), 9u);
    EXPECT_EQ(lib.search_result_playlists, std::vector<std::string>{"PL1"});
    ASSERT_NE(lib.find_channel("UCpl"), nullptr);  // the playlist's channel got a stub
    const Channel* merged = lib.find_channel("UC0");
    ASSERT_NE(merged, nullptr);
    EXPECT_EQ(merged->handle, "@chan0");  // the stub's handle was its id
    EXPECT_EQ(merged->subscribers, 42u);
    EXPECT_TRUE(merged->verified);
    // At most six channels without avatars, each once.
    EXPECT_EQ(pending, (std::vector<std::string>{"UC0", "UC1", "UC2", "UC3", "UC4", "UC5"}));
}

TEST(RootFetchResults, StaleSearchResultsKeepNavigationInStep) {
    RootHarness h(empty_app());
    h.frame();
    h.app().navigate(Route::search("new"));
    std::vector<std::string> pending;
    FetchResult::SearchResults stale;
    stale.query = "old";
    h.app().apply_fetch_result(FetchResult{stale}, pending);
    EXPECT_EQ(h.app().library().route, Route::search("old"));
    EXPECT_EQ(h.app().navigation().current, h.app().library().route);
}

TEST(RootFetchResults, ExtrasApplyToKnownVideosOnly) {
    SarnApp app = empty_app();
    std::vector<std::string> pending;
    app.library_mut().upsert_video(video("known", "UCk"));
    struct Case {
        FetchResult result;
        bool changed;
    } cases[] = {
        {FetchResult{FetchResult::SponsorSegments{"missing", {Segment{}}}}, false},
        {FetchResult{FetchResult::SponsorSegments{"known", {Segment{SponsorCategory::Intro, 1, 2, 3}}}}, true},
        {FetchResult{FetchResult::Comments{"missing", {Comment{}}}}, false},
        {FetchResult{FetchResult::Branding{"missing", "T", std::nullopt}}, false},
        {FetchResult{FetchResult::Branding{"missing", std::nullopt, "https://img/x"}}, true},
        {FetchResult{FetchResult::Branding{"known", "Better title", std::nullopt}}, true},
        {FetchResult{FetchResult::Dislikes{"missing", 7}}, true},
        {FetchResult{FetchResult::Note{"hello"}}, false},
    };
    for (auto& c : cases) EXPECT_EQ(app.apply_fetch_result(std::move(c.result), pending), c.changed);
    const Video* known = app.library().find_video("known");
    EXPECT_EQ(known->sponsor.size(), 1u);
    EXPECT_EQ(known->dearrow_title, "Better title");
    EXPECT_FALSE(known->dearrow_thumb);
    EXPECT_EQ(app.library().crowd_thumbnails.at("missing"), "https://img/x");
    EXPECT_EQ(app.library().dislikes.at("missing"), 7u);
}

TEST(RootFetchResults, StatusAndHomeFeed) {
    test::StalledWorkers workers;
    SarnApp app = SarnApp::create(workers.options()).start_live();
    std::vector<std::string> pending;
    app.library_mut().home_loading = true;
    app.library_mut().search_loading = true;
    EXPECT_TRUE(app.apply_fetch_result(FetchResult{FetchResult::Status{"connecting…", false}}, pending));
    EXPECT_TRUE(app.library().home_loading);
    EXPECT_FALSE(app.apply_fetch_result(FetchResult{FetchResult::Status{"connecting…", false}}, pending));
    EXPECT_TRUE(app.apply_fetch_result(FetchResult{FetchResult::Status{"Offline — no live data", false}}, pending));
    EXPECT_FALSE(app.library().home_loading);
    EXPECT_FALSE(app.library().search_loading);

    app.library_mut().home_loading = true;
    app.library_mut().home_error = "x";
    EXPECT_TRUE(app.apply_fetch_result(FetchResult{FetchResult::HomeFeed{{video("a", "UCa", "A", "https://av")}}},
                                       pending));
    EXPECT_FALSE(app.library().home_loading);
    EXPECT_FALSE(app.library().home_error.has_value());
    EXPECT_EQ(app.library().status.text, "live (rustypipe)");
    EXPECT_EQ(app.library().find_channel("UCa")->avatar_url, "https://av");
}

TEST(RootFetchResults, DetailsKeepUpNextWhenRelatedIsEmpty) {
    SarnApp app = empty_app();
    std::vector<std::string> pending;
    FetchResult::VideoDetails details{video("main", "UCm"), {video("r1", "UCr"), video("r2", "UCr")}};
    app.apply_fetch_result(FetchResult{details}, pending);
    EXPECT_EQ(app.library().up_next_for, "main");
    EXPECT_EQ(app.library().up_next, (std::vector<std::string>{"r1", "r2"}));
    EXPECT_EQ(pending, std::vector<std::string>{"UCm"});
    app.apply_fetch_result(FetchResult{FetchResult::VideoDetails{video("main", "UCm"), {}}}, pending);
    EXPECT_EQ(app.library().up_next, (std::vector<std::string>{"r1", "r2"}));
}

TEST(RootFetchResults, StreamForALeftPageIsDropped) {
    Library lib = Library::sample();
    const std::string id = lib.videos.front().id;
    RootHarness h(SarnApp::create(quiet_options()).with_library(lib).with_route(Route::watch(id)));
    h.frame();
    h.app().navigate(Route::home());
    std::vector<std::string> pending;
    EXPECT_FALSE(h.app().apply_fetch_result(FetchResult{FetchResult::StreamReady{id, "file:///x.webm", "720p", true}},
                                            pending));
    EXPECT_FALSE(h.app().loaded_video().has_value());
    EXPECT_EQ(h.app().player()->address(), "");
}

TEST(RootFetchResults, ChannelDetailsAreRequestedOncePerRun) {
    SarnApp app = SarnApp::create(quiet_options()).with_library(Library{}).start_live();
    app.ensure_channel_details("UCx");
    const bool first = app.fetch_worker_exists() || !app.library().notices.empty();
    EXPECT_TRUE(first);
    const std::size_t notices = app.library().notices.size();
    app.ensure_channel_details("UCx");
    app.ensure_channel_details("");
    EXPECT_EQ(app.library().notices.size(), notices);
}

}  // namespace
}  // namespace sarn
