// The parsers on small hand-written answers: the older renderer layouts, the
// newer view-model layouts side by side, and the mapping rules.
#include <gtest/gtest.h>

#include "recorded_answers.h"
#include "sarn/innertube/parse.h"

namespace sarn::innertube {
namespace {

std::string fixture(const std::string& name) {
    auto body = testing::read_file(std::filesystem::path(VORN_SOURCE_DIR) / "tests/innertube/fixtures" / name);
    EXPECT_TRUE(body.has_value()) << name;
    return body.value_or("");
}

TEST(SearchLayouts, SortsMixedItemsOfBothLayoutsInOrder) {
    auto page = parse_search(fixture("search-mixed.json"));
    ASSERT_TRUE(page.has_value()) << page.error();
    ASSERT_EQ(page->videos.size(), 3u);  // shorts and the item without id are left out
    ASSERT_EQ(page->channels.size(), 1u);
    ASSERT_EQ(page->playlists.size(), 2u);

    const Video& old = page->videos[0];
    EXPECT_EQ(old.id, "vidOld00001");
    EXPECT_EQ(old.title, "Old layout");
    EXPECT_EQ(old.channel_id, "UCold0000000000000000001");
    EXPECT_EQ(old.channel_name, "Old Owner");
    EXPECT_EQ(old.channel_avatar_url, "https://yt3.example/large");
    EXPECT_EQ(old.views, 1234567u);
    EXPECT_EQ(old.duration, 3723u);
    EXPECT_EQ(old.published, "3 days ago");
    EXPECT_EQ(old.description, "A snippet");

    const Video& fresh = page->videos[1];
    EXPECT_EQ(fresh.id, "vidNew00001");
    EXPECT_EQ(fresh.title, "New layout");
    EXPECT_EQ(fresh.channel_id, "UCnew0000000000000000001");
    EXPECT_EQ(fresh.channel_name, "New Owner");
    EXPECT_EQ(fresh.channel_avatar_url, "https://yt3.example/new");
    EXPECT_EQ(fresh.views, 2500000u);
    EXPECT_EQ(fresh.duration, 754u);
    EXPECT_EQ(fresh.published, "1 year ago");

    // A video item without a channel.
    const Video& orphan = page->videos[2];
    EXPECT_EQ(orphan.channel_name, "Unknown");
    EXPECT_EQ(orphan.channel_id, "");
    EXPECT_EQ(orphan.channel_seed, "");
    EXPECT_EQ(orphan.channel_avatar_url, "");
    EXPECT_TRUE(orphan.live);
    EXPECT_EQ(orphan.views, 1024u);

    const Channel& channel = page->channels[0];
    EXPECT_EQ(channel.id, "UCchan000000000000000001");
    EXPECT_EQ(channel.name, "Older Channel");
    EXPECT_EQ(channel.handle, "@olderchannel");
    EXPECT_EQ(channel.subscribers, 1200000u);
    EXPECT_TRUE(channel.verified);
    EXPECT_EQ(channel.description, "About us");
    EXPECT_EQ(channel.avatar_url, "https://yt3.example/a176");

    const Playlist& older = page->playlists[0];
    EXPECT_EQ(older.id, "PLolder0000000000000001");
    EXPECT_EQ(older.title, "Older Playlist");
    EXPECT_EQ(older.channel_id, "UClist000000000000000001");
    EXPECT_EQ(older.channel_name, "List Maker");
    EXPECT_EQ(older.thumbnail_url, "https://i.example/pl-big");
    EXPECT_EQ(older.video_count, 42u);

    const Playlist& newer = page->playlists[1];
    EXPECT_EQ(newer.id, "PLnew00000000000000001");
    EXPECT_EQ(newer.channel_id, "");
    EXPECT_EQ(newer.channel_name, "Unknown");
    EXPECT_EQ(newer.video_count, 7u);
    EXPECT_EQ(newer.thumbnail_url, "https://i.example/new-pl");
}

// A live stream in a search answer counts its viewers: "1,071 watching", with
// or without a LIVE badge, in either layout.
TEST(Display, SearchItemCountingWatchersIsALiveVideo) {
    const std::string answer = R"({"contents":{"twoColumnSearchResultsRenderer":{"primaryContents":{
      "sectionListRenderer":{"contents":[{"itemSectionRenderer":{"contents":[
        {"videoRenderer":{"videoId":"liveOld0001","title":{"simpleText":"Old live"},
          "viewCountText":{"simpleText":"1,071 watching"}}},
        {"lockupViewModel":{"contentId":"liveNew0001","contentType":"LOCKUP_CONTENT_TYPE_VIDEO",
          "metadata":{"lockupMetadataViewModel":{"title":{"content":"New live"},
            "metadata":{"contentMetadataViewModel":{"metadataRows":[
              {"metadataParts":[{"text":{"content":"1,071 watching"}}]}]}}}}}},
        {"videoRenderer":{"videoId":"upload00001","title":{"simpleText":"Upload"},
          "viewCountText":{"simpleText":"1,071 views"},"publishedTimeText":{"simpleText":"2 days ago"}}}
      ]}}]}}}}})";
    auto page = parse_search(answer);
    ASSERT_TRUE(page.has_value()) << page.error();
    ASSERT_EQ(page->videos.size(), 3u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(page->videos[i].live) << page->videos[i].id;
        EXPECT_EQ(page->videos[i].views, 1071u) << page->videos[i].id;
    }
    EXPECT_FALSE(page->videos[2].live);
    EXPECT_EQ(page->videos[2].views, 1071u);
}

TEST(WatchLayouts, OlderRenderersAndNestedRelated) {
    auto page = parse_watch(fixture("watch-renderer.json"));
    ASSERT_TRUE(page.has_value()) << page.error();
    EXPECT_EQ(page->video.id, "watchOld001");
    EXPECT_EQ(page->video.title, "An older watch page");
    EXPECT_EQ(page->video.views, 9876u);
    EXPECT_EQ(page->video.likes, 321u);
    EXPECT_EQ(page->video.published, "Mar 7, 2021");
    EXPECT_EQ(page->video.channel_id, "UCup0000000000000000001");
    EXPECT_EQ(page->video.channel_name, "Uploader");
    EXPECT_EQ(page->video.description, "Line one\nhttps://example.org/");
    EXPECT_EQ(page->comments_token, "comments-token");
    ASSERT_EQ(page->related.size(), 2u);  // the mix playlist is no video
    EXPECT_EQ(page->related[0].id, "related0001");
    EXPECT_EQ(page->related[0].duration, 42u);
    EXPECT_EQ(page->related[0].views, 15u);
    EXPECT_EQ(page->related[1].id, "related0002");
    EXPECT_TRUE(page->related[1].live);
    EXPECT_EQ(page->related[1].duration, 0u);
}

// A video of two collaborating channels: its owner block has no plain title,
// only the owner line and the dialog listing both channels. The first listed
// channel stands for the video's channel.
TEST(WatchLayouts, CollaboratorsGiveTheFirstChannelUnderTheOwnerLine) {
    auto page = parse_watch(fixture("watch-collaborators.json"));
    ASSERT_TRUE(page.has_value()) << page.error();
    const Video& v = page->video;
    EXPECT_EQ(v.id, "watchCollab1");
    EXPECT_EQ(v.channel_name, "Ada Makes and Bo Builds");
    EXPECT_EQ(v.channel_id, "UCada000000000000000001");
    EXPECT_EQ(v.channel_seed, "UCada000000000000000001");
    EXPECT_EQ(v.channel_avatar_url, "https://yt3.example/ada176");
    EXPECT_EQ(v.views, 2048u);
    EXPECT_EQ(v.description, "Both of us");
}

TEST(CommentLayouts, CommentRendererLayout) {
    auto comments = parse_comments(fixture("comments-renderer.json"));
    ASSERT_TRUE(comments.has_value()) << comments.error();
    ASSERT_EQ(comments->size(), 3u);
    const Comment& first = (*comments)[0];
    EXPECT_EQ(first.author, "ada lovelace");
    EXPECT_EQ(first.initials, "AL");
    EXPECT_EQ(first.text, "First line\nlink text");
    EXPECT_EQ(first.time_ago, "2 days ago");
    EXPECT_EQ(first.likes, 1200u);
    EXPECT_EQ(first.replies, 5u);
    EXPECT_TRUE(first.pinned);
    EXPECT_TRUE(first.hearted);
    EXPECT_EQ((*comments)[1].initials, "?");  // an author of only blanks
    EXPECT_EQ((*comments)[2].author, "Unknown");
    EXPECT_EQ((*comments)[2].likes, 7u);
    EXPECT_FALSE((*comments)[2].pinned);
}

TEST(ChannelLayouts, OlderHeaderWithGridUploads) {
    auto page = parse_channel(fixture("channel-c4.json"));
    ASSERT_TRUE(page.has_value()) << page.error();
    EXPECT_EQ(page->channel.id, "UCc4header0000000000001");
    EXPECT_EQ(page->channel.name, "Header Channel");
    EXPECT_EQ(page->channel.handle, "UCc4header0000000000001");  // no handle: the id
    EXPECT_EQ(page->channel.subscribers, 987000u);
    EXPECT_TRUE(page->channel.verified);
    EXPECT_EQ(page->channel.avatar_url, "https://yt3.example/c4-176");
    ASSERT_EQ(page->uploads.size(), 2u);
    // An upload without a channel of its own takes the page's channel.
    EXPECT_EQ(page->uploads[0].channel_id, "UCc4header0000000000001");
    EXPECT_EQ(page->uploads[0].channel_name, "Header Channel");
    EXPECT_EQ(page->uploads[0].views, 0u);  // "No views"
    EXPECT_EQ(page->uploads[0].duration, 300u);
    EXPECT_EQ(page->uploads[1].channel_id, "UCguest00000000000000001");
    EXPECT_EQ(page->uploads[1].channel_name, "Guest");
}

TEST(PlaylistLayouts, OlderHeaderWithoutThumbnailsTakesTheFirstVideos) {
    auto page = parse_playlist(fixture("playlist-header.json"), "");
    ASSERT_TRUE(page.has_value()) << page.error();
    EXPECT_EQ(page->playlist.id, "PLheader00000000000001");
    EXPECT_EQ(page->playlist.title, "Header Playlist");
    EXPECT_EQ(page->playlist.video_count, 1203u);
    EXPECT_EQ(page->playlist.channel_name, "Curator");
    EXPECT_EQ(page->playlist.thumbnail_url, "https://i.ytimg.com/vi/plvideo0001/hqdefault.jpg");
    EXPECT_EQ(page->playlist.video_ids, (std::vector<std::string>{"plvideo0001", "plvideo0002"}));
    EXPECT_EQ(page->videos[0].duration, 61u);
    EXPECT_EQ(page->videos[0].views, 12u);
    EXPECT_EQ(page->videos[0].published, "5 days ago");
    // The items carry no byline: they are the playlist owner's.
    for (const Video& video : page->videos) {
        EXPECT_EQ(video.channel_name, "Curator") << video.id;
        EXPECT_EQ(video.channel_id, "UCcurator000000000000001") << video.id;
        EXPECT_EQ(video.channel_seed, "UCcurator000000000000001") << video.id;
    }
}

// A course playlist: lessons without a byline get the owner's channel and
// avatar; a lesson that names its own channel keeps it.
TEST(PlaylistLayouts, ItemsWithoutBylineBelongToThePlaylistOwner) {
    auto page = parse_playlist(fixture("playlist-course.json"), "VLPLcourse0000000000000001");
    ASSERT_TRUE(page.has_value()) << page.error();
    EXPECT_EQ(page->playlist.id, "PLcourse0000000000000001");
    EXPECT_EQ(page->playlist.channel_id, "UCwool0000000000000000001");
    EXPECT_EQ(page->playlist.channel_name, "Wool School");
    EXPECT_EQ(page->playlist.video_count, 3u);
    ASSERT_EQ(page->videos.size(), 3u);
    struct Row {
        const char* id;
        const char* channel_id;
        const char* channel_name;
        const char* avatar;
    };
    static const Row kRows[] = {
        {"lesson00001", "UCwool0000000000000000001", "Wool School", "https://yt3.example/wool48"},
        {"lesson00002", "UCguest000000000000000001", "Guest Knitter", ""},
        {"lesson00003", "UCwool0000000000000000001", "Wool School", "https://yt3.example/wool48"},
    };
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
        const Video& video = page->videos[i];
        SCOPED_TRACE(kRows[i].id);
        EXPECT_EQ(video.id, kRows[i].id);
        EXPECT_EQ(video.channel_id, kRows[i].channel_id);
        EXPECT_EQ(video.channel_seed, kRows[i].channel_id);
        EXPECT_EQ(video.channel_name, kRows[i].channel_name);
        EXPECT_EQ(video.channel_avatar_url, kRows[i].avatar);
    }
}

TEST(ResolveLayouts, HandleAddressToChannelId) {
    auto id = parse_resolved_channel(fixture("resolve-handle.json"));
    ASSERT_TRUE(id.has_value()) << id.error();
    EXPECT_EQ(*id, "UCresolved00000000000001");
    EXPECT_FALSE(parse_resolved_channel(R"({"endpoint":{"urlEndpoint":{"url":"https://example.org"}}})").has_value());
    EXPECT_FALSE(parse_resolved_channel(R"({"endpoint":{"browseEndpoint":{"browseId":"VLPL123"}}})").has_value());
}

TEST(Thumbnails, LargestAreaWinsLaterOnTiesAndSchemeIsAdded) {
    struct Case {
        const char* json;
        const char* best;
    };
    static const Case kCases[] = {
        {R"([])", ""},
        {R"([{"url":"a","width":10,"height":10},{"url":"b","width":20,"height":5}])", "b"},   // tie: later
        {R"([{"url":"a","width":30,"height":30},{"url":"b","width":20,"height":5}])", "a"},
        {R"([{"url":"//host/x","width":9,"height":9}])", "https://host/x"},
        {R"([{"url":"a"},{"url":"b","width":-5,"height":3}])", "b"},  // unknown sizes count 0
        {R"({"url":"not a list"})", ""},
    };
    for (const auto& c : kCases) EXPECT_EQ(best_thumbnail_url_of(c.json), c.best) << c.json;
    EXPECT_EQ(video_thumbnail_url("abc"), "https://i.ytimg.com/vi/abc/hqdefault.jpg");
    EXPECT_EQ(video_thumbnail_url(""), "");
    EXPECT_EQ(video_thumbnail_url("a&b#c/d"), "https://i.ytimg.com/vi/a%26b%23c%2Fd/hqdefault.jpg");
}

}  // namespace
}  // namespace sarn::innertube
