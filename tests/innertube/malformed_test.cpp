// Bad answers: every parser gives an error text or fewer items, never an
// exception or a crash.
#include <gtest/gtest.h>

#include "sarn/innertube/parse.h"

namespace sarn::innertube {
namespace {

std::string nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

std::string nested_objects(int depth) {
    std::string out;
    for (int i = 0; i < depth; ++i) out += R"({"contents":)";
    out += "[]";
    for (int i = 0; i < depth; ++i) out += "}";
    return out;
}

TEST(MalformedAnswers, UnusableBodiesAreErrorsForEveryParser) {
    const std::string kBodies[] = {
        "",
        "   \n",
        "{",
        "[]",
        "null",
        "42",
        "\"text\"",
        "{\"contents\": }",
        "{\"a\":1}{\"b\":2}",
        std::string("{\"x\":\"\xff\xfe\"}"),
        nested(5000),
        nested_objects(3000),
    };
    for (const std::string& body : kBodies) {
        SCOPED_TRACE(body.substr(0, 40));
        auto search = parse_search(body);
        ASSERT_FALSE(search.has_value());
        EXPECT_FALSE(search.error().empty());
        EXPECT_FALSE(parse_watch(body).has_value());
        auto comments = parse_comments(body);
        EXPECT_TRUE(!comments.has_value() || comments->empty());
        EXPECT_FALSE(parse_channel(body).has_value());
        EXPECT_FALSE(parse_playlist(body, "PLx").has_value());
        EXPECT_FALSE(parse_resolved_channel(body).has_value());
        EXPECT_EQ(api_error_message(body), "");
        (void)parse_video_feed(body);  // a deep "contents" chain is a feed of nothing
    }
}

TEST(MalformedAnswers, EmptyAnswerSaysSo) {
    EXPECT_EQ(parse_search("").error(), "empty answer");
    EXPECT_TRUE(parse_search("{").error().starts_with("malformed JSON answer"));
}

TEST(MalformedAnswers, WrongMemberTypesGiveEmptyFieldsOrSkipItems) {
    const std::string body = R"({"contents":{"twoColumnSearchResultsRenderer":{"primaryContents":{"sectionListRenderer":{"contents":[
      {"itemSectionRenderer":{"contents":[
        {"videoRenderer":{"videoId":7,"title":"numeric id, skipped"}},
        {"videoRenderer":{"videoId":"typed00001","title":{"runs":"x"},"lengthText":{"simpleText":12},
          "viewCountText":[],"ownerText":{"runs":[{"text":5,"navigationEndpoint":{"browseEndpoint":{"browseId":[]}}}]},
          "channelThumbnailSupportedRenderers":{"channelThumbnailWithLinkRenderer":{"thumbnail":{"thumbnails":[{"url":1,"width":"9"}]}}}}},
        {"channelRenderer":{"channelId":{"id":"x"}}},
        {"channelRenderer":{"channelId":"UCtyped","title":[],"subscriberCountText":3,"thumbnail":"none"}},
        {"playlistRenderer":{"playlistId":"PLtyped","videoCount":12,"thumbnails":[[]]}},
        {"lockupViewModel":{"contentId":"vidLockup1","contentType":"LOCKUP_CONTENT_TYPE_VIDEO",
          "metadata":{"lockupMetadataViewModel":{"metadata":{"contentMetadataViewModel":{"metadataRows":[{"metadataParts":[{"text":7}]},"row"]}}}}}},
        "not an item", 5, null
      ]}},
      {"itemSectionRenderer":{"contents":{"not":"an array"}}},
      "junk"
    ]}}}}})";
    auto page = parse_search(body);
    ASSERT_TRUE(page.has_value()) << page.error();
    ASSERT_EQ(page->videos.size(), 2u);
    EXPECT_EQ(page->videos[0].id, "typed00001");
    EXPECT_EQ(page->videos[0].title, "");
    EXPECT_EQ(page->videos[0].duration, 0u);
    EXPECT_EQ(page->videos[0].views, 0u);
    EXPECT_EQ(page->videos[0].channel_name, "Unknown");
    EXPECT_EQ(page->videos[1].id, "vidLockup1");
    ASSERT_EQ(page->channels.size(), 1u);
    EXPECT_EQ(page->channels[0].id, "UCtyped");
    EXPECT_EQ(page->channels[0].handle, "UCtyped");
    EXPECT_EQ(page->channels[0].subscribers, 0u);
    ASSERT_EQ(page->playlists.size(), 1u);
    EXPECT_EQ(page->playlists[0].video_count, 0u);
}

TEST(MalformedAnswers, MissingMembersGiveErrorsNamingWhatIsMissing) {
    EXPECT_EQ(parse_search("{}").error(), "no search results in the answer");
    EXPECT_EQ(parse_watch("{}").error(), "no video details in the answer");
    ASSERT_TRUE(parse_comments("{}").has_value());  // a page without items
    EXPECT_TRUE(parse_comments("{}")->empty());
    EXPECT_EQ(parse_channel("{}").error(), "no channel page in the answer");
    EXPECT_EQ(parse_playlist("{}", "PLx").error(), "no playlist in the answer");
    EXPECT_EQ(parse_channel(R"({"contents":{}})").error(), "no channel id in the answer");
    EXPECT_EQ(parse_watch(R"({"contents":{"twoColumnWatchNextResults":{"results":{"results":{"contents":[
        {"videoPrimaryInfoRenderer":{}}]}}}}})").error(), "no video id in the answer");
    EXPECT_EQ(parse_watch(R"({"contents":{"twoColumnWatchNextResults":{"results":{"results":{"contents":[
        {"itemSectionRenderer":{"contents":[{"backgroundPromoRenderer":{"title":{"runs":[
          {"text":"This video isn't available anymore"}]}}}]}}]}}}}})").error(), "This video isn't available anymore");
    // A comment thread whose entity is missing from the batch is skipped.
    auto comments = parse_comments(R"({"onResponseReceivedEndpoints":[{"appendContinuationItemsAction":{"continuationItems":[
        {"commentThreadRenderer":{"commentViewModel":{"commentViewModel":{"commentKey":"absent"}}}}]}}]})");
    ASSERT_TRUE(comments.has_value());
    EXPECT_TRUE(comments->empty());
    // API errors and alerts win over the generic texts.
    EXPECT_EQ(parse_watch(R"({"error":{"code":404,"message":"Requested entity was not found."}})").error(),
              "Requested entity was not found.");
    EXPECT_EQ(parse_video_feed(R"({"error":{"code":400}})").error(), "API error 400");
}

}  // namespace
}  // namespace sarn::innertube
