#include "sarn/backend/catalog_backend.h"

#include <gtest/gtest.h>

#include <map>

#include "sarn/backend/platform.h"

namespace {

using sarn::CatalogBackend;
using sarn::CatalogPage;
using sarn::CatalogQuery;
using sarn::CatalogResult;

static sarn::Video make_video(std::string id) {
    sarn::Video v;
    v.id = std::move(id);
    return v;
}

std::vector<std::string> ids(const std::vector<sarn::Video>& videos) {
    std::vector<std::string> out;
    for (const auto& v : videos) out.push_back(v.id);
    return out;
}

// Answers channel queries from a table and records every call by name.
class ScriptedBackend : public CatalogBackend {
public:
    std::vector<std::string> calls;
    std::map<std::string, CatalogResult<CatalogPage>> channels;

    std::string_view name() const override { return "scripted"; }
    CatalogResult<CatalogPage> search(std::string_view q) override {
        calls.push_back("search:" + std::string(q));
        return CatalogPage::of_videos({make_video("s-" + std::string(q))});
    }
    CatalogResult<CatalogPage> video(std::string_view id) override {
        calls.push_back("video:" + std::string(id));
        return CatalogPage::of_video(make_video(std::string(id)));
    }
    CatalogResult<CatalogPage> channel(std::string_view id) override {
        calls.push_back("channel:" + std::string(id));
        auto found = channels.find(std::string(id));
        if (found == channels.end()) return std::unexpected(std::string("no such channel"));
        return found->second;
    }
    CatalogResult<CatalogPage> related(std::string_view id) override {
        calls.push_back("related:" + std::string(id));
        return CatalogPage::of_videos({});
    }
    CatalogResult<CatalogPage> trending() override {
        calls.push_back("trending");
        return CatalogPage::of_videos({make_video("t1")});
    }
};

CatalogPage channel_page(std::string id, std::vector<std::string> uploads) {
    sarn::Channel channel;
    channel.id = std::move(id);
    std::vector<sarn::Video> videos;
    for (auto& u : uploads) videos.push_back(make_video(std::move(u)));
    return CatalogPage::of_channel(std::move(channel), std::move(videos));
}

TEST(InterleaveVideoLists, TakesOneFromEveryListPerPass) {
    std::vector<std::vector<sarn::Video>> lists = {
        {make_video("a1"), make_video("a2"), make_video("a3")}, {make_video("b1")}, {make_video("c1"), make_video("c2")}, {}};
    EXPECT_EQ(ids(sarn::interleave_video_lists(std::move(lists))),
              (std::vector<std::string>{"a1", "b1", "c1", "a2", "c2", "a3"}));
    EXPECT_TRUE(sarn::interleave_video_lists({}).empty());
}

TEST(SubscriptionFeed, EmptyListAnswersNoVideosWithoutAnyQuery) {
    ScriptedBackend backend;
    auto page = backend.subscription_feed({});
    ASSERT_TRUE(page.has_value());
    ASSERT_NE(page->as_videos(), nullptr);
    EXPECT_TRUE(page->as_videos()->videos.empty());
    EXPECT_TRUE(backend.calls.empty());
}

TEST(SubscriptionFeed, NothingContributedFails) {
    ScriptedBackend backend;
    backend.channels.emplace("empty", channel_page("empty", {}));
    backend.channels.emplace("wrong-kind", CatalogPage::of_videos({make_video("x")}));
    const std::vector<std::string> subs = {"missing", "empty", "wrong-kind"};
    auto page = backend.subscription_feed(subs);
    ASSERT_FALSE(page.has_value());
    EXPECT_EQ(page.error(), "no uploads across subscriptions");
    EXPECT_EQ(backend.calls, (std::vector<std::string>{"channel:missing", "channel:empty", "channel:wrong-kind"}));
}

TEST(SubscriptionFeed, InterleavesUploadsInIdOrderKeepingDuplicates) {
    ScriptedBackend backend;
    backend.channels.emplace("one", channel_page("one", {"o1", "shared", "o3"}));
    backend.channels.emplace("two", channel_page("two", {"shared"}));
    const std::vector<std::string> subs = {"one", "broken", "two"};
    auto page = backend.run_query(CatalogQuery{CatalogQuery::SubscriptionFeed{subs}});
    ASSERT_TRUE(page.has_value()) << page.error();
    ASSERT_NE(page->as_videos(), nullptr);
    EXPECT_EQ(ids(page->as_videos()->videos), (std::vector<std::string>{"o1", "shared", "shared", "o3"}));
}

TEST(RunQuery, DispatchesEachVariantToItsOperation) {
    struct Row {
        CatalogQuery query;
        std::string call;
    };
    const Row rows[] = {
        {{CatalogQuery::Search{"cats"}}, "search:cats"},
        {{CatalogQuery::Video{"v1"}}, "video:v1"},
        {{CatalogQuery::Channel{"c1"}}, "channel:c1"},
        {{CatalogQuery::Related{"v2"}}, "related:v2"},
        {{CatalogQuery::Trending{}}, "trending"},
    };
    for (const Row& row : rows) {
        ScriptedBackend backend;
        (void)backend.run_query(row.query);
        EXPECT_EQ(backend.calls, std::vector<std::string>{row.call});
    }
}

TEST(CatalogBackendDefaults, PlaylistPlaybackCommentsAndPopularSearch) {
    ScriptedBackend backend;
    auto playlist = backend.playlist("PL1");
    ASSERT_FALSE(playlist.has_value());
    EXPECT_EQ(playlist.error(), "this backend cannot resolve playlists");
    auto source = backend.playback_source("v");
    ASSERT_FALSE(source.has_value());
    EXPECT_EQ(source.error(), "this backend cannot resolve a playback source");
    auto comments = backend.comments("v");
    ASSERT_TRUE(comments.has_value());
    EXPECT_TRUE(comments->empty());
    auto popular = backend.popular_search("news");
    ASSERT_TRUE(popular.has_value());
    EXPECT_EQ(ids(popular->as_videos()->videos), std::vector<std::string>{"s-news"});
    EXPECT_EQ(backend.calls, std::vector<std::string>{"search:news"});
}

TEST(CatalogQueryDebugText, NamesTheVariantAndQuotesItsPayload) {
    struct Row {
        CatalogQuery query;
        std::string_view text;
    };
    const Row rows[] = {
        {{CatalogQuery::Trending{}}, "Trending"},
        {{CatalogQuery::Search{"lo-fi beats"}}, R"(Search("lo-fi beats"))"},
        {{CatalogQuery::Search{"say \"hi\"\\\n\t"}}, R"(Search("say \"hi\"\\\n\t"))"},
        {{CatalogQuery::Video{"abc"}}, R"(Video("abc"))"},
        {{CatalogQuery::Channel{"@me"}}, R"(Channel("@me"))"},
        {{CatalogQuery::Related{"x"}}, R"(Related("x"))"},
        {{CatalogQuery::SubscriptionFeed{{"a", "b"}}}, R"(SubscriptionFeed(["a", "b"]))"},
        {{CatalogQuery::SubscriptionFeed{{}}}, R"(SubscriptionFeed([]))"},
    };
    for (const Row& row : rows) EXPECT_EQ(row.query.debug_text(), row.text);
    EXPECT_EQ(sarn::debug_quoted(std::string_view("\x01", 1)), R"("\u{1}")");
}

TEST(PlatformAddresses, IdsArePercentEncoded) {
    EXPECT_EQ(sarn::thumbnail_url("abc"), "https://i.ytimg.com/vi/abc/hqdefault.jpg");
    EXPECT_EQ(sarn::thumbnail_url(""), "");
    EXPECT_EQ(sarn::watch_page_url("a&b#c"), "https://www.youtube.com/watch?v=a%26b%23c");
    EXPECT_EQ(sarn::playlist_page_url("PL x"), "https://www.youtube.com/playlist?list=PL%20x");
    EXPECT_EQ(sarn::handle_page_url("me"), "https://www.youtube.com/@me");
    EXPECT_EQ(sarn::channel_page_url("UC1/.."), "https://www.youtube.com/channel/UC1%2F..");
}

}  // namespace
