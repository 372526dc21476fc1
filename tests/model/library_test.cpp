#include "sarn/model/library.h"
#include "sarn/model/platform_url.h"

#include <gtest/gtest.h>

#include <limits>

namespace sarn {
namespace {

Video make_video(std::string id, std::string channel_id = "UCa", std::string category = "") {
    Video video;
    video.id = std::move(id);
    video.title = "Title " + video.id;
    video.channel_id = std::move(channel_id);
    video.channel_name = "Channel " + video.channel_id;
    video.category = std::move(category);
    return video;
}

std::vector<std::string> ids_of(const std::vector<const Video*>& videos) {
    std::vector<std::string> out;
    for (const Video* video : videos) out.push_back(video->id);
    return out;
}

TEST(Library, DefaultsMatchAFreshModel) {
    Library library;
    EXPECT_EQ(library.profile, "profile:local");
    EXPECT_EQ(library.status, (BackendStatus{"sample data", false}));
    EXPECT_EQ(library.route, Route::home());
    EXPECT_EQ(library.search_filter, (SearchTypeFilter{true, true, true, true}));
    EXPECT_FALSE(library.history_notice || library.home_error || library.search_error);
}

TEST(Library, UpsertVideoKeepsStoredExtrasWhenTheNewCopyLacksThem) {
    Library library;
    Video stored = make_video("v1");
    stored.sponsor = {Segment{SponsorCategory::Intro, 1.0, 2.0, 3}};
    stored.comments = {Comment{"A", "A", "hi", 1, "1 day ago", false, false, 0}};
    stored.dearrow_title = "Crowd title";
    stored.thumbnail_url = "https://i.example/old.jpg";
    stored.dearrow_thumb = true;
    stored.likes = 5;
    library.upsert_video(stored);

    Video fresh = make_video("v1");
    fresh.title = "New title";
    fresh.likes = 9;
    fresh.dearrow_thumb = false;
    library.upsert_video(fresh);

    ASSERT_EQ(library.videos.size(), 1u);
    const Video& merged = library.videos[0];
    EXPECT_EQ(merged.sponsor, stored.sponsor);
    EXPECT_EQ(merged.comments, stored.comments);
    EXPECT_EQ(merged.dearrow_title, stored.dearrow_title);
    EXPECT_EQ(merged.thumbnail_url, stored.thumbnail_url);
    EXPECT_EQ(merged.title, "New title");
    EXPECT_EQ(merged.likes, 9u);
    EXPECT_FALSE(merged.dearrow_thumb);

    library.upsert_video(make_video("v2"));
    EXPECT_EQ(library.videos.size(), 2u);
}

TEST(Library, UpsertChannelAndPlaylistKeepImagesAndVideoIds) {
    Library library;
    library.upsert_channel(Channel{"UC1", "One", "@one", 10, false, "", "UC1", "https://a/av.jpg", "https://a/ban.jpg"});
    library.upsert_channel(Channel{"UC1", "One!", "@one", 20, true, "", "UC1", "", ""});
    ASSERT_EQ(library.channels.size(), 1u);
    EXPECT_EQ(library.channels[0].name, "One!");
    EXPECT_EQ(library.channels[0].avatar_url, "https://a/av.jpg");
    EXPECT_EQ(library.channels[0].banner_url, "https://a/ban.jpg");

    library.upsert_playlist(Playlist{"PL1", "List", "UC1", "One", "", "PL1", {"a", "b"}, 2});
    library.upsert_playlist(Playlist{"PL1", "List 2", "UC1", "One", "", "PL1", {}, 7});
    ASSERT_EQ(library.playlists.size(), 1u);
    EXPECT_EQ(library.playlists[0].video_ids, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(library.playlists[0].video_count, 7u);
    EXPECT_EQ(library.playlists[0].title, "List 2");
}

TEST(Library, HistoryAndNoticeBounds) {
    Library library;
    library.history = {"b", "a", "c"};
    library.remember_watched("a");
    EXPECT_EQ(library.history, (std::vector<std::string>{"a", "b", "c"}));

    library.history.clear();
    for (int i = 0; i < 50; ++i) library.history.push_back("old" + std::to_string(i));
    library.remember_watched("new");
    ASSERT_EQ(library.history.size(), 50u);
    EXPECT_EQ(library.history.front(), "new");
    EXPECT_EQ(library.history.back(), "old48");

    for (int i = 0; i < 9; ++i) library.push_recent_entry("n" + std::to_string(i));
    ASSERT_EQ(library.notices.size(), 8u);
    EXPECT_EQ(library.notices.front(), "n8");
    EXPECT_EQ(library.notices.back(), "n1");
    library.push_recent_entry("same");
    library.push_recent_entry("same");
    EXPECT_EQ(library.notices[0], "same");
    EXPECT_EQ(library.notices[1], "same");
}

TEST(Library, ProjectHistorySortsByTimeThenIdAndKeepsFifty) {
    Library library;
    library.project_history({{"b", 5}, {"a", 5}, {"c", 9}, {"d", 1}});
    EXPECT_EQ(library.history, (std::vector<std::string>{"c", "a", "b", "d"}));
    std::vector<HistoryPair> many;
    for (int i = 0; i < 60; ++i) many.emplace_back("v" + std::to_string(i), static_cast<std::uint64_t>(i));
    library.project_history(many);
    ASSERT_EQ(library.history.size(), 50u);
    EXPECT_EQ(library.history.front(), "v59");
    EXPECT_EQ(library.history.back(), "v10");

    // The same id under two watch times is listed once, at its newest time,
    // and the bound counts distinct ids.
    struct Row {
        std::vector<HistoryPair> entries;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {{{"a", 1}, {"b", 2}, {"a", 3}}, {"a", "b"}},
        {{{"a", 7}, {"a", 7}}, {"a"}},
        {{}, {}},
    };
    for (const Row& row : rows) {
        library.project_history(row.entries);
        EXPECT_EQ(library.history, row.expected);
    }
    std::vector<HistoryPair> doubled;
    for (int i = 0; i < 60; ++i) {
        doubled.emplace_back("v" + std::to_string(i), static_cast<std::uint64_t>(2 * i + 1));
        doubled.emplace_back("v" + std::to_string(i), static_cast<std::uint64_t>(2 * i));
    }
    library.project_history(doubled);
    ASSERT_EQ(library.history.size(), 50u);
    EXPECT_EQ(library.history.back(), "v10");
}

TEST(Library, ToggleLikeMovesAnEntryToTheEnd) {
    Library library;
    library.likes = {"a", "b", "c"};
    library.toggle_like("b");
    EXPECT_EQ(library.likes, (std::vector<std::string>{"a", "c"}));
    library.toggle_like("b");
    EXPECT_EQ(library.likes, (std::vector<std::string>{"a", "c", "b"}));
    EXPECT_TRUE(library.is_liked("b"));
    Video video = make_video("b");
    video.likes = 4;
    EXPECT_EQ(library.count_with_own(video), 5u);
    video.likes = std::numeric_limits<std::uint64_t>::max();  // a count from the network
    EXPECT_EQ(library.count_with_own(video), std::numeric_limits<std::uint64_t>::max());
}

TEST(Library, SubscriptionsMatchIdsHandlesAndAddressesOfKnownChannels) {
    Library library;
    library.channels.push_back(Channel{"UC1", "One", "/@one", 0, false, "", "UC1", "", ""});
    library.subscriptions = {"https://youtube.com/@one"};
    EXPECT_TRUE(library.is_subscribed("UC1"));
    EXPECT_EQ(library.find_subscription("UC1"), "https://youtube.com/@one");
    // An address imported from another device is stored normalised; it must
    // still match the channel it names.
    library.subscriptions = {*normalize_watch_url("https://www.youtube.com/@one")};
    EXPECT_TRUE(library.is_subscribed("UC1"));

    Library without_channel;
    without_channel.subscriptions = library.subscriptions;
    EXPECT_FALSE(without_channel.is_subscribed("UC1"));

    library.subscriptions = {"x", "/@one", "y"};
    library.toggle_subscription("UC1");
    EXPECT_EQ(library.subscriptions, (std::vector<std::string>{"x", "y"}));
    library.toggle_subscription("UC1");
    EXPECT_EQ(library.subscriptions, (std::vector<std::string>{"x", "y", "UC1"}));
}

TEST(Library, SubscriptionUrlForEachKindOfEntry) {
    Library library;
    library.channels.push_back(Channel{"UC1", "One", "//@one", 0, false, "", "UC1", "", ""});
    library.channels.push_back(Channel{"UC2", "Two", "https://m.youtube.com/@two", 0, false, "", "UC2", "", ""});
    library.channels.push_back(Channel{"UC3", "Three", "https://example.com/@three", 0, false, "", "UC3", "", ""});
    EXPECT_EQ(library.subscription_url("UC1"), "https://youtube.com/@one");
    EXPECT_EQ(library.subscription_url("UC2"), "https://youtube.com/@two");
    EXPECT_EQ(library.subscription_url("UC3"), std::nullopt);
    EXPECT_EQ(library.subscription_url("https://www.youtube.com/@four"), "https://youtube.com/@four");
    EXPECT_EQ(library.subscription_url("UCunknown"), std::nullopt);
}

TEST(Library, LocalSearchTrimsAndFoldsUnicode) {
    Library library;
    Video a = make_video("a");
    a.channel_name = "ÉCOLE Numérique";
    Video b = make_video("b");
    b.title = "Straße Bahn";
    Video c = make_video("c");
    c.category = "Music";
    c.dearrow_title = "école hidden";
    library.videos = {a, b, c};

    struct Row {
        const char* query;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {"  école ", {"a"}},
        {"ÉCOLE", {"a"}},
        {"STRASSE", {}},  // lower-casing, not case folding
        {"straße", {"b"}},
        {"music", {"c"}},
        {"", {"a", "b", "c"}},
        {"   ", {"a", "b", "c"}},
        {"zzz", {}},
    };
    for (const Row& row : rows) EXPECT_EQ(ids_of(library.search_library(row.query)), row.expected) << row.query;
    EXPECT_EQ(lowercase("\xff\xfe ABC"), "\xef\xbf\xbd\xef\xbf\xbd abc");  // invalid UTF-8 never throws
}

TEST(Library, StoredSearchResultsAndTheirFallbacks) {
    Library library;
    library.videos = {make_video("a"), make_video("b")};
    library.channels.push_back(Channel{"UCa", "A", "@a", 0, false, "", "UCa", "", ""});
    library.search_results_query = "Title";
    library.search_result_videos = {"b"};
    library.search_result_channels = {"UCa", "UCmissing"};
    EXPECT_EQ(ids_of(library.search_results("Title")), (std::vector<std::string>{"b"}));
    EXPECT_EQ(library.search_result_channel_records("Title").size(), 1u);
    EXPECT_TRUE(library.search_result_channel_records("title").empty());
    library.search_result_videos = {"unknown"};
    EXPECT_EQ(ids_of(library.search_results("Title")), (std::vector<std::string>{"a", "b"}));
}

TEST(Library, RelatedVideosPutTheSameCategoryFirst) {
    Library library;
    library.videos = {make_video("a", "UCa", "x"), make_video("b", "UCa", ""), make_video("c", "UCa", "x"),
                      make_video("d", "UCa", "")};
    EXPECT_EQ(ids_of(library.related_videos("a")), (std::vector<std::string>{"c", "b", "d"}));
    EXPECT_EQ(ids_of(library.related_videos("nope")), (std::vector<std::string>{"b", "d", "a", "c"}));
    library.up_next_for = "a";
    library.up_next = {"d"};
    EXPECT_EQ(ids_of(library.up_next_videos("a")), (std::vector<std::string>{"d"}));
    EXPECT_EQ(ids_of(library.up_next_videos("b")), (std::vector<std::string>{"d", "a", "c"}));
}

TEST(Library, ChannelAvatarsAreFilledAndShared) {
    Library library;
    library.ensure_channel_stub("", "nobody");
    EXPECT_TRUE(library.channels.empty());
    library.ensure_channel_stub("UC1", "Alpha");
    library.ensure_channel_stub("UC1", "Other");
    ASSERT_EQ(library.channels.size(), 1u);
    EXPECT_EQ(library.channels[0], (Channel{"UC1", "Alpha", "UC1", 0, false, "", "UC1", "", ""}));

    EXPECT_FALSE(library.fill_channel_avatars("UC1", "Alpha", ""));
    library.ensure_channel_stub("UC2", " alpha ");
    EXPECT_TRUE(library.fill_channel_avatars("", "ALPHA", "https://a/1.jpg"));
    EXPECT_EQ(library.channels[0].avatar_url, "https://a/1.jpg");
    EXPECT_EQ(library.channels[1].avatar_url, "https://a/1.jpg");

    library.ensure_channel_stub("UC3", "Beta");
    library.fill_channel_avatar("UC3", "https://b/2.jpg");
    library.fill_channel_avatar("UC3", "https://b/ignored.jpg");
    EXPECT_EQ(library.channels[2].avatar_url, "https://b/2.jpg");
    library.ensure_channel_stub("UC4", "beta");
    library.share_channel_avatars();
    EXPECT_EQ(library.channels[3].avatar_url, "https://b/2.jpg");
}

TEST(Library, IngestReplacesVideosAndResetsStoredAnswers) {
    Library library;
    library.videos = {make_video("old")};
    library.search_results_query = "q";
    library.search_result_videos = {"old"};
    library.search_result_channels = {"UCx"};
    library.up_next_for = "old";
    library.up_next = {"x"};
    Video fresh = make_video("new", "UCn");
    fresh.channel_avatar_url = "https://a/n.jpg";
    library.ingest_catalog_videos({fresh}, "live · popular");
    EXPECT_EQ(ids_of(library.search_library("")), (std::vector<std::string>{"new"}));
    ASSERT_NE(library.find_channel("UCn"), nullptr);
    EXPECT_EQ(library.find_channel("UCn")->avatar_url, "https://a/n.jpg");
    EXPECT_TRUE(library.search_results_query.empty() && library.search_result_videos.empty());
    EXPECT_EQ(library.search_result_channels, (std::vector<std::string>{"UCx"}));
    EXPECT_TRUE(library.up_next_for.empty() && library.up_next.empty());
    EXPECT_EQ(library.status, (BackendStatus{"live · popular", true}));

    library.ingest_catalog_videos({}, "empty");
    EXPECT_TRUE(library.videos.empty());
    EXPECT_TRUE(library.status.live);
}

TEST(Library, DisplayTitleAndThumbnailFollowTheSwitches) {
    Library library;
    Video video = make_video("v");
    video.thumbnail_url = "https://own.jpg";
    video.dearrow_title = "";
    EXPECT_EQ(Library::display_title(video, true), "");
    EXPECT_EQ(Library::display_title(video, false), video.title);
    library.crowd_thumbnails["v"] = "https://crowd.jpg";
    EXPECT_EQ(library.thumbnail_for(video), "https://crowd.jpg");
    library.settings.dearrow_thumbnails = false;
    EXPECT_EQ(library.thumbnail_for(video), "https://own.jpg");
    library.settings.dearrow_thumbnails = true;
    library.crowd_thumbnails["v"] = "";
    EXPECT_EQ(library.thumbnail_for(video), "https://own.jpg");
}

}  // namespace
}  // namespace sarn
