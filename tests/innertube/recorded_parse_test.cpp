// The parsers against real answers of the platform's web API.
#include <gtest/gtest.h>

#include <algorithm>

#include "recorded_answers.h"
#include "sarn/innertube/parse.h"

namespace sarn::innertube {
namespace {

const Video* find_video(const std::vector<Video>& videos, std::string_view id) {
    auto it = std::find_if(videos.begin(), videos.end(), [&](const Video& v) { return v.id == id; });
    return it == videos.end() ? nullptr : &*it;
}

struct SearchCase {
    const char* file;
    std::size_t videos;
    std::size_t channels;
    std::size_t playlists;
};

TEST(RecordedSearch, CountsOfEveryAnswer) {
    static const SearchCase kCases[] = {
        {"search-all.json", 20, 0, 0},       // shorts grids and shelves left out
        {"search-videos.json", 20, 0, 0},
        {"search-channels.json", 0, 20, 0},
        {"search-playlists.json", 0, 0, 20},  // 19 playlists and one podcast
        {"search-few-results.json", 0, 0, 0},  // continuation: "No more results"
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.file);
        SARN_RECORDED_OR_SKIP(body, c.file);
        auto page = parse_search(body);
        ASSERT_TRUE(page.has_value()) << page.error();
        EXPECT_EQ(page->videos.size(), c.videos);
        EXPECT_EQ(page->channels.size(), c.channels);
        EXPECT_EQ(page->playlists.size(), c.playlists);
    }
}

TEST(RecordedSearch, VideoItemsOfTheOlderLayout) {
    SARN_RECORDED_OR_SKIP(body, "search-all.json");
    auto page = parse_search(body);
    ASSERT_TRUE(page.has_value()) << page.error();
    const Video& first = page->videos.front();
    EXPECT_EQ(first.id, "6GDBMbMU0ew");
    EXPECT_EQ(first.seed, "6GDBMbMU0ew");
    EXPECT_EQ(first.title, "FIRST FOOTAGE of the 2026 F1 Cars at Barcelona Shakedown Test!");
    EXPECT_EQ(first.channel_id, "UC6agiNZlMdGE9yqtQT9n8aw");
    EXPECT_EQ(first.channel_seed, "UC6agiNZlMdGE9yqtQT9n8aw");
    EXPECT_EQ(first.channel_name, "BackMarkers F1 Show");
    EXPECT_TRUE(first.channel_avatar_url.starts_with("https://yt3.ggpht.com/"));
    EXPECT_EQ(first.views, 1862u);
    EXPECT_EQ(first.duration, 136u);  // "2:16"
    EXPECT_EQ(first.published, "2 hours ago");
    EXPECT_TRUE(first.description.starts_with("The first fan footage of the new 2026 Formula 1 cars"));
    EXPECT_EQ(first.thumbnail_url, "https://i.ytimg.com/vi/6GDBMbMU0ew/hqdefault.jpg");
    EXPECT_EQ(first.category, "Search");
    EXPECT_FALSE(first.live);

    const Video* stream = find_video(page->videos, "Mqvkv2k8Xfo");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->duration, 28974u);  // "8:02:54"
    EXPECT_EQ(stream->published, "Streamed 3 hours ago");
    EXPECT_EQ(stream->views, 124139u);
}

TEST(RecordedSearch, VideosOnlyAnswerFirstAndLastItems) {
    SARN_RECORDED_OR_SKIP(body, "search-videos.json");
    auto page = parse_search(body);
    ASSERT_TRUE(page.has_value()) << page.error();
    const Video& first = page->videos.front();
    EXPECT_EQ(first.id, "Z8KYabgkMbw");
    EXPECT_EQ(first.title, "Blind Test TOUT GENRE | 140 extraits");
    EXPECT_EQ(first.channel_name, "Blind Test & Chill");
    EXPECT_EQ(first.channel_id, "UCuEBTg6pcG7s3PpPGRtFKQA");
    EXPECT_EQ(first.views, 390201u);
    EXPECT_EQ(first.duration, 2840u);  // "47:20"
    EXPECT_EQ(first.published, "9 months ago");
    const Video& last = page->videos.back();
    EXPECT_EQ(last.id, "oo2aNvVDpAM");
    EXPECT_EQ(last.title, "Would You Rather - REAL or CAKE \xF0\x9F\xA7\x80\xF0\x9F\x8E\x82\xF0\x9F\x8D\xB0 Daily Quiz");
    EXPECT_EQ(last.views, 2756650u);
    EXPECT_EQ(last.duration, 1432u);  // "23:52"
    // The two recommendation shelves ("Popular in Lyon", "Channels new to
    // you") are not results of the query.
    EXPECT_EQ(find_video(page->videos, "YuumdQCliwQ"), nullptr);
    EXPECT_EQ(find_video(page->videos, "Mv70uh16iUY"), nullptr);
}

TEST(RecordedSearch, ChannelItemsReadTheHandleAndSubscribers) {
    SARN_RECORDED_OR_SKIP(body, "search-channels.json");
    auto page = parse_search(body);
    ASSERT_TRUE(page.has_value()) << page.error();
    const Channel& first = page->channels.front();
    EXPECT_EQ(first.id, "UCZRcA_nO3Kt-SOml2mY8D9g");
    EXPECT_EQ(first.name, "test");
    // This layout keeps the handle where the subscriber count used to be.
    EXPECT_EQ(first.handle, "@tutorialismic");
    EXPECT_EQ(first.subscribers, 234000u);
    EXPECT_EQ(first.seed, first.id);
    EXPECT_FALSE(first.verified);
    // Protocol-relative avatar addresses are made https; the largest wins.
    EXPECT_TRUE(first.avatar_url.starts_with("https://yt3.ggpht.com/"));
    EXPECT_NE(first.avatar_url.find("=s176"), std::string::npos);
    EXPECT_TRUE(first.banner_url.empty());

    auto hero = std::find_if(page->channels.begin(), page->channels.end(),
                             [](const Channel& c) { return c.id == "UCmr0l4AQm0Y7hKA0zC-jJVA"; });
    ASSERT_NE(hero, page->channels.end());
    EXPECT_TRUE(hero->verified);
    EXPECT_EQ(hero->subscribers, 1150000u);  // "1.15m subscribers"

    // A topic channel has no handle: the id stands in.
    auto topic = std::find_if(page->channels.begin(), page->channels.end(),
                              [](const Channel& c) { return c.name == "Test - Topic"; });
    ASSERT_NE(topic, page->channels.end());
    EXPECT_EQ(topic->handle, topic->id);
}

TEST(RecordedSearch, PlaylistItemsOfTheViewModelLayout) {
    SARN_RECORDED_OR_SKIP(body, "search-playlists.json");
    auto page = parse_search(body);
    ASSERT_TRUE(page.has_value()) << page.error();
    const Playlist& first = page->playlists.front();
    EXPECT_EQ(first.id, "PLAD454F0807B6CB80");
    EXPECT_EQ(first.title, "Tests du grenier");
    EXPECT_EQ(first.channel_id, "UC_yP2DpIgs5Y1uWC0T03Chw");
    EXPECT_EQ(first.channel_name, "Joueur Du Grenier");
    EXPECT_EQ(first.video_count, 102u);
    EXPECT_EQ(first.seed, first.id);
    EXPECT_TRUE(first.video_ids.empty());
    EXPECT_TRUE(first.thumbnail_url.starts_with("https://i.ytimg.com/vi/Zw6s3g1VpUc/"));
    EXPECT_EQ(page->playlists[6].video_count, 773u);
}

struct WatchCase {
    const char* file;
    const char* id;
    std::uint64_t views;
    std::uint64_t likes;
    bool live;
    const char* published;
    const char* channel_id;
    bool has_comments;
};

TEST(RecordedWatch, DetailsOfEveryAnswer) {
    static const WatchCase kCases[] = {
        {"next-video-cc.json", "M4gD1WSo5mA", 12916, 72, false, "28 Jan 2015", "UCuLGmD72gJDBwmLw06X58SA", false},
        // A live stream: the view count is "watching now"; likes are exact
        // from the button's label, not the rounded "5.3k".
        {"next-video-live.json", "X4VbdwhkE10", 10226, 5366, true, "Started streaming on 4 Jun 2026",
         "UCSJ4gkVC6NrvII8umztf0Ow", false},
        {"next-video-ratings-disabled.json", "it3OtbTxQk0", 46409, 0, false, "13 Jan 2023", "UCdq61m8s_48EhJ5OM_MCeGw",
         false},
        {"next-comments-first.json", "QqsLTNkzvaY", 18567581, 469694, false, "27 Apr 2021", "UCsXVk37bltHxD1rDPwtNM8Q",
         true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.file);
        SARN_RECORDED_OR_SKIP(body, c.file);
        auto page = parse_watch(body);
        ASSERT_TRUE(page.has_value()) << page.error();
        const Video& v = page->video;
        EXPECT_EQ(v.id, c.id);
        EXPECT_EQ(v.views, c.views);
        EXPECT_EQ(v.likes, c.likes);
        EXPECT_EQ(v.live, c.live);
        EXPECT_EQ(v.published, c.published);
        EXPECT_EQ(v.channel_id, c.channel_id);
        EXPECT_EQ(v.channel_seed, c.channel_id);
        EXPECT_FALSE(v.channel_avatar_url.empty());
        EXPECT_FALSE(v.description.empty());
        EXPECT_EQ(v.category, "Video");
        EXPECT_EQ(v.duration, 0u);
        EXPECT_EQ(v.thumbnail_url, std::string("https://i.ytimg.com/vi/") + c.id + "/hqdefault.jpg");
        EXPECT_EQ(page->related.size(), 20u);
        EXPECT_EQ(!page->comments_token.empty(), c.has_comments);
    }
}

TEST(RecordedWatch, RelatedVideosOfTheViewModelLayout) {
    SARN_RECORDED_OR_SKIP(body, "next-video-cc.json");
    auto page = parse_watch(body);
    ASSERT_TRUE(page.has_value()) << page.error();
    EXPECT_EQ(page->video.title,
              "William Fisher, CopyrightX: Lecture 3.2, The Subject Matter of Copyright: Drama and choreography");
    EXPECT_EQ(page->video.channel_name, "The Berkman Klein Center for Internet & Society");
    EXPECT_TRUE(page->video.description.starts_with("The terms on which this lecture may be used"));

    const Video& next = page->related.front();
    EXPECT_EQ(next.id, "2GGE_ToREPw");
    EXPECT_EQ(next.title, "William Fisher, CopyrightX: Lecture 3.3, The Subject Matter of Copyright: Music");
    EXPECT_EQ(next.channel_name, "The Berkman Klein Center for Internet & Society");
    EXPECT_EQ(next.channel_id, "UCuLGmD72gJDBwmLw06X58SA");
    EXPECT_EQ(next.views, 21000u);  // "21k views"
    EXPECT_EQ(next.published, "11 years ago");
    EXPECT_EQ(next.duration, 1446u);
    EXPECT_EQ(next.category, "Search");
}

TEST(RecordedWatch, LiveRelatedVideosAreMarkedLive) {
    SARN_RECORDED_OR_SKIP(body, "next-video-live.json");
    auto page = parse_watch(body);
    ASSERT_TRUE(page.has_value()) << page.error();
    const Video* radio = find_video(page->related, "JD-kMIpDfnY");
    ASSERT_NE(radio, nullptr);
    EXPECT_TRUE(radio->live);
    EXPECT_EQ(radio->duration, 0u);
}

TEST(RecordedWatch, CommentsTokenOpensTheRecordedCommentPage) {
    SARN_RECORDED_OR_SKIP(body, "next-comments-first.json");
    SARN_RECORDED_OR_SKIP(index, "index.json");
    auto page = parse_watch(body);
    ASSERT_TRUE(page.has_value()) << page.error();
    EXPECT_EQ(page->comments_token, "Eg0SC1Fxc0xUTmt6dmFZGAYyJSIRIgtRcXNMVE5renZhWTAAeAJCEGNvbW1lbnRzLXNlY3Rpb24%3D");
    EXPECT_NE(index.find(page->comments_token), std::string::npos);
}

TEST(RecordedComments, EntityBatchLayout) {
    SARN_RECORDED_OR_SKIP(body, "next-comments-page.json");
    auto comments = parse_comments(body);
    ASSERT_TRUE(comments.has_value()) << comments.error();
    ASSERT_EQ(comments->size(), 20u);
    const Comment& pinned = comments->front();
    EXPECT_EQ(pinned.author, "@kurzgesagt");
    EXPECT_EQ(pinned.initials, "K");
    EXPECT_TRUE(pinned.pinned);
    EXPECT_FALSE(pinned.hearted);
    EXPECT_EQ(pinned.likes, 19000u);  // "19k"
    EXPECT_EQ(pinned.replies, 436u);
    EXPECT_EQ(pinned.time_ago, "4 years ago (edited)");
    EXPECT_TRUE(pinned.text.starts_with("Ok, phew. So we are done explaining"));

    const Comment& hearted = (*comments)[2];
    EXPECT_EQ(hearted.author, "@mkbhd");
    EXPECT_TRUE(hearted.hearted);
    EXPECT_FALSE(hearted.pinned);
    EXPECT_EQ(hearted.text, "My brain hurts. I love it.");
    EXPECT_EQ(hearted.likes, 42000u);

    EXPECT_EQ((*comments)[8].replies, 0u);  // no reply count at all
    EXPECT_EQ(std::count_if(comments->begin(), comments->end(), [](const Comment& c) { return c.pinned; }), 1);
    EXPECT_EQ(std::count_if(comments->begin(), comments->end(), [](const Comment& c) { return c.hearted; }), 1);
}

TEST(RecordedChannel, BothLayoutsOfTheVideosTab) {
    struct Case {
        const char* file;
        const char* id;
        const char* name;
        const char* handle;
        std::uint64_t subscribers;
        bool verified;
        const char* first_upload;
        std::uint32_t first_duration;
    };
    static const Case kCases[] = {
        // Uploads in the older videoRenderer layout.
        {"browse-channel-home.json", "UCsXVk37bltHxD1rDPwtNM8Q", "Kurzgesagt – In a Nutshell", "@kurzgesagt", 25000000,
         true, "D0WQK7cMJn8", 183},
        // Uploads as lockup view models.
        {"browse-channel-videos.json", "UCTwECeGqMZee77BjdoYtI2Q", "Creative Commons", "@creativecommons", 8840, false,
         "BD-LB23rRBE", 4054},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.file);
        SARN_RECORDED_OR_SKIP(body, c.file);
        auto page = parse_channel(body);
        ASSERT_TRUE(page.has_value()) << page.error();
        EXPECT_EQ(page->channel.id, c.id);
        EXPECT_EQ(page->channel.seed, c.id);
        EXPECT_EQ(page->channel.name, c.name);
        EXPECT_EQ(page->channel.handle, c.handle);
        EXPECT_EQ(page->channel.subscribers, c.subscribers);
        EXPECT_EQ(page->channel.verified, c.verified);
        EXPECT_FALSE(page->channel.description.empty());
        EXPECT_TRUE(page->channel.avatar_url.starts_with("https://yt3.googleusercontent.com/"));
        EXPECT_TRUE(page->channel.banner_url.empty());
        ASSERT_EQ(page->uploads.size(), 30u);
        EXPECT_EQ(page->uploads.front().id, c.first_upload);
        EXPECT_EQ(page->uploads.front().duration, c.first_duration);
        for (const Video& upload : page->uploads) {
            EXPECT_EQ(upload.channel_id, c.id);
            EXPECT_EQ(upload.channel_name, c.name);
        }
    }
}

TEST(RecordedChannel, RemovedChannelGivesTheAlertText) {
    SARN_RECORDED_OR_SKIP(body, "browse-channel-unavailable.json");
    auto page = parse_channel(body);
    ASSERT_FALSE(page.has_value());
    EXPECT_EQ(page.error(), "This channel was removed because it violated our Community Guidelines.");
}

TEST(RecordedPlaylist, FirstPageWithSidebar) {
    SARN_RECORDED_OR_SKIP(body, "browse-playlist.json");
    auto page = parse_playlist(body, "VLPL8dPuuaLjXtOAKed_MxxWBNaPno5h3Zs8");
    ASSERT_TRUE(page.has_value()) << page.error();
    const Playlist& p = page->playlist;
    EXPECT_EQ(p.id, "PL8dPuuaLjXtOAKed_MxxWBNaPno5h3Zs8");
    EXPECT_EQ(p.title, "Anatomy & Physiology");
    EXPECT_EQ(p.channel_id, "UCX6b17PVsYBQ0ip5gyeme-Q");
    EXPECT_EQ(p.channel_name, "CrashCourse");
    EXPECT_EQ(p.video_count, 49u);
    EXPECT_TRUE(p.thumbnail_url.starts_with("https://i.ytimg.com/vi/pVkUCrgQCCc/"));
    ASSERT_EQ(page->videos.size(), 49u);
    ASSERT_EQ(p.video_ids.size(), 49u);
    EXPECT_EQ(p.video_ids.front(), "pVkUCrgQCCc");
    const Video& first = page->videos.front();
    EXPECT_EQ(first.title, "Crash Course Anatomy & Physiology Preview");
    EXPECT_EQ(first.duration, 113u);
    EXPECT_EQ(first.views, 2600000u);  // "2.6m views"
    EXPECT_EQ(first.published, "11 years ago");
    EXPECT_EQ(first.channel_name, "CrashCourse");
}

TEST(RecordedPlaylist, UnviewablePlaylistGivesTheAlertText) {
    SARN_RECORDED_OR_SKIP(body, "browse-playlist-unavailable.json");
    auto page = parse_playlist(body, "VLINVALID_ID");
    ASSERT_FALSE(page.has_value());
    EXPECT_EQ(page.error(), "This playlist type is unviewable.");
}

TEST(RecordedFeed, GridShelfOfABrowseFeed) {
    SARN_RECORDED_OR_SKIP(body, "browse-trending-gaming.json");
    auto videos = parse_video_feed(body);
    ASSERT_TRUE(videos.has_value()) << videos.error();
    ASSERT_EQ(videos->size(), 50u);
    EXPECT_EQ(videos->front().id, "-_DaUyAB_DE");
    EXPECT_EQ(videos->front().channel_name, "Dream");
    EXPECT_EQ(videos->front().views, 3172670u);
    EXPECT_EQ(videos->front().duration, 3160u);  // from the time-status overlay
}

TEST(RecordedFeed, RetiredTrendingAnswerIsAnError) {
    SARN_RECORDED_OR_SKIP(body, "browse-trending-retired-400.json");
    auto videos = parse_video_feed(body);
    ASSERT_FALSE(videos.has_value());
    EXPECT_EQ(videos.error(), "Request contains an invalid argument.");
    EXPECT_EQ(api_error_message(body), "Request contains an invalid argument.");
}

// Every recorded answer, cut at many places, goes through every parser
// without a crash: each cut either fails or gives what was complete.
TEST(RecordedTruncated, EveryCutOfEveryAnswerFailsCleanly) {
    if (!std::filesystem::exists(testing::recorded_dir())) GTEST_SKIP() << "recorded answers not present";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(testing::recorded_dir())) {
        if (entry.path().extension() != ".json" || entry.path().filename() == "index.json") continue;
        auto body = testing::read_file(entry.path());
        ASSERT_TRUE(body.has_value());
        ++files;
        for (int cut = 1; cut < 16; ++cut) {
            std::string_view part(body->data(), body->size() * cut / 16);
            EXPECT_FALSE(parse_search(part).has_value()) << entry.path();
            EXPECT_FALSE(parse_watch(part).has_value());
            auto comments = parse_comments(part);
            EXPECT_TRUE(!comments.has_value() || comments->empty());
            EXPECT_FALSE(parse_channel(part).has_value());
            EXPECT_FALSE(parse_playlist(part, "PLx").has_value());
            EXPECT_FALSE(parse_video_feed(part).has_value());
        }
    }
    EXPECT_EQ(files, 17);
}

}  // namespace
}  // namespace sarn::innertube
