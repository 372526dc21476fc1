#include "sarn/backend/library_backend.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using sarn::Library;
using sarn::LibraryBackend;
using sarn::SponsorCategory;

std::vector<std::string> ids(const std::vector<sarn::Video>& videos) {
    std::vector<std::string> out;
    for (const auto& v : videos) out.push_back(v.id);
    return out;
}

TEST(SampleLibrary, HasTheFixedShape) {
    const Library sample = Library::sample();
    ASSERT_EQ(sample.channels.size(), 6u);
    ASSERT_EQ(sample.videos.size(), 12u);
    std::size_t comments = 0;
    for (const auto& v : sample.videos) comments += v.comments.size();
    EXPECT_EQ(comments, 21u);
    EXPECT_TRUE(sample.playlists.empty());

    for (const auto& c : sample.channels) {
        EXPECT_TRUE(c.id.starts_with("ch_")) << c.id;
        EXPECT_TRUE(c.handle.starts_with("@")) << c.handle;
        EXPECT_EQ(c.seed, c.id);
        EXPECT_TRUE(c.avatar_url.empty() && c.banner_url.empty());
    }
    const std::uint64_t subscribers[] = {1'780'000, 742'000, 22'300'000, 318'000, 980'000, 2'100'000};
    const bool verified[] = {true, true, true, true, false, false};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(sample.channels[i].subscribers, subscribers[i]);
        EXPECT_EQ(sample.channels[i].verified, verified[i]);
    }

    struct Row {
        const char* id;
        std::size_t channel;
        const char* category;
        const char* published;
        std::vector<SponsorCategory> segments;
        std::size_t comments;
        bool crowd_title;
    };
    using enum SponsorCategory;
    const Row rows[] = {
        {"vid_rust_async", 1, "Programming", "3 days ago", {Intro, Sponsor, Interaction, Outro}, 4, true},
        {"vid_black_holes", 2, "Science", "1 week ago", {Sponsor, SelfPromo, Outro}, 3, true},
        {"vid_donut", 0, "Tutorial", "2 months ago", {Intro, Interaction}, 2, false},
        {"vid_privacy", 3, "Privacy", "5 days ago", {Sponsor, SelfPromo, Filler}, 2, true},
        {"vid_synth", 4, "Music", "3 weeks ago", {Sponsor, MusicOfftopic, Outro}, 2, false},
        {"vid_lofi", 5, "Music", "Streaming", {}, 2, false},
        {"vid_gpu", 1, "Programming", "4 days ago", {Intro, Sponsor}, 1, true},
        {"vid_solar", 2, "Science", "1 month ago", {Sponsor, Preview}, 1, false},
        {"vid_fuse", 1, "Programming", "6 days ago", {Sponsor, Interaction}, 1, true},
        {"vid_color", 2, "Science", "2 weeks ago", {Sponsor}, 1, false},
        {"vid_amp", 4, "Music", "1 week ago", {Sponsor, Outro}, 1, false},
        {"vid_compose", 3, "Tech", "2 days ago", {Intro, Sponsor, SelfPromo}, 1, true},
    };
    for (std::size_t i = 0; i < 12; ++i) {
        const auto& v = sample.videos[i];
        const Row& row = rows[i];
        const auto& owner = sample.channels[row.channel];
        EXPECT_EQ(v.id, row.id);
        EXPECT_EQ(v.seed, v.id);
        EXPECT_EQ(v.channel_id, owner.id) << v.id;
        EXPECT_EQ(v.channel_name, owner.name) << v.id;
        EXPECT_EQ(v.channel_seed, owner.seed) << v.id;
        EXPECT_NE(sample.find_channel(v.channel_id), nullptr);
        EXPECT_EQ(v.category, row.category);
        EXPECT_EQ(v.published, row.published);
        std::vector<SponsorCategory> categories;
        for (const auto& s : v.sponsor) {
            categories.push_back(s.category);
            EXPECT_LE(s.start, s.end);
            EXPECT_LE(s.end, v.duration) << v.id;
        }
        EXPECT_EQ(categories, row.segments) << v.id;
        EXPECT_EQ(v.comments.size(), row.comments) << v.id;
        EXPECT_EQ(v.dearrow_title.has_value(), row.crowd_title) << v.id;
        EXPECT_EQ(v.dearrow_thumb, row.crowd_title) << v.id;
        EXPECT_FALSE(v.live);
        EXPECT_TRUE(v.thumbnail_url.empty() && v.channel_avatar_url.empty());
        EXPECT_GE(v.views, 188'000u);
        EXPECT_LE(v.views, 41'000'000u);
        EXPECT_GE(v.likes, 14'000u);
        EXPECT_LE(v.likes, 980'000u);
        EXPECT_GT(v.duration, 0u);
        EXPECT_LE(v.duration, 1'800u);
        for (std::size_t k = 0; k < v.comments.size(); ++k) {
            const auto& c = v.comments[k];
            const bool channel_comment = k == 0 && (i == 0 || i == 1 || i == 3);
            EXPECT_EQ(c.pinned, channel_comment) << v.id << " comment " << k;
            EXPECT_EQ(c.initials.size(), 2u);
            if (!channel_comment) {
                EXPECT_FALSE(c.hearted);
                EXPECT_TRUE(c.author.starts_with("@"));
            }
        }
    }
    const auto& first = sample.videos[0];
    EXPECT_EQ(first.views, 842'000u);
    EXPECT_EQ(first.likes, 48'000u);
    EXPECT_EQ(first.duration, 1'620u);
    EXPECT_EQ(first.sponsor, (std::vector<sarn::Segment>{{Intro, 0, 18, 412},
                                                          {Sponsor, 1'440, 1'570, 1'893},
                                                          {Interaction, 540, 552, 233},
                                                          {Outro, 1'565, 1'620, 188}}));
    const std::pair<std::size_t, std::uint32_t> pinned[] = {{0, 41}, {1, 120}, {3, 33}};
    for (auto [index, replies] : pinned) {
        const auto& c = sample.videos[index].comments[0];
        EXPECT_EQ(c.author, sample.find_channel(sample.videos[index].channel_id)->name);
        EXPECT_EQ(c.replies, replies);
        EXPECT_EQ(c.hearted, index != 3);
    }

    EXPECT_EQ(sample.subscriptions, (std::vector<std::string>{"ch_stack", "ch_quanta", "ch_mesh"}));
    EXPECT_TRUE(sample.queue.empty());
    EXPECT_TRUE(sample.likes.empty());
    EXPECT_EQ(sample.history, (std::vector<std::string>{"vid_black_holes", "vid_donut"}));
    EXPECT_EQ(sample.dislikes, (std::map<std::string, std::uint64_t, std::less<>>{{"vid_rust_async", 1'240},
                                                                                   {"vid_black_holes", 8'400},
                                                                                   {"vid_donut", 2'300},
                                                                                   {"vid_privacy", 3'050},
                                                                                   {"vid_gpu", 410}}));
    EXPECT_EQ(sample.profile, "profile:local");
    EXPECT_EQ(sample.status, (sarn::BackendStatus{"offline — sample data", false}));
    EXPECT_EQ(sample.settings, sarn::PlaybackSettings{});
    EXPECT_EQ(sample.position, 0.0);
    EXPECT_TRUE(sample.search_query.empty() && sample.palette_query.empty());
}

TEST(LibraryBackend, AnswersFromItsRecords) {
    LibraryBackend backend = LibraryBackend::owning(Library::sample());
    EXPECT_EQ(backend.name(), "offline sample");

    auto trending = backend.trending();
    ASSERT_TRUE(trending.has_value());
    const auto order = ids(trending->as_videos()->videos);
    ASSERT_EQ(order.size(), 12u);
    EXPECT_EQ(order[0], "vid_lofi");
    EXPECT_EQ(order[1], "vid_solar");

    auto video = backend.video("vid_donut");
    ASSERT_TRUE(video.has_value());
    EXPECT_EQ(video->as_video()->video.id, "vid_donut");
    auto no_video = backend.video("nope");
    ASSERT_FALSE(no_video.has_value());
    EXPECT_EQ(no_video.error(), "no sample video nope");

    auto channel = backend.channel("ch_quanta");
    ASSERT_TRUE(channel.has_value());
    EXPECT_EQ(channel->as_channel()->channel.name, "Quanta Drawn");
    EXPECT_EQ(ids(channel->as_channel()->videos),
              (std::vector<std::string>{"vid_black_holes", "vid_solar", "vid_color"}));
    auto no_channel = backend.channel("ch_missing");
    ASSERT_FALSE(no_channel.has_value());
    EXPECT_EQ(no_channel.error(), "no sample channel ch_missing");

    auto search = backend.search("  SCIENCE ");
    ASSERT_TRUE(search.has_value());
    EXPECT_EQ(ids(search->as_videos()->videos),
              (std::vector<std::string>{"vid_black_holes", "vid_solar", "vid_color"}));
    auto related = backend.related("vid_synth");
    ASSERT_TRUE(related.has_value());
    EXPECT_EQ(related->as_videos()->videos.front().id, "vid_lofi");  // same category first

    auto playlist = backend.playlist("PL");
    ASSERT_FALSE(playlist.has_value());
    EXPECT_EQ(playlist.error(), "this backend cannot resolve playlists");
    auto comments = backend.comments("vid_rust_async");
    ASSERT_TRUE(comments.has_value());
    EXPECT_TRUE(comments->empty());

    const Library& library = backend.library();
    auto feed = backend.subscription_feed(library.subscriptions);
    ASSERT_TRUE(feed.has_value()) << feed.error();
    EXPECT_EQ(ids(feed->as_videos()->videos),
              (std::vector<std::string>{"vid_rust_async", "vid_black_holes", "vid_donut", "vid_gpu", "vid_solar",
                                        "vid_fuse", "vid_color"}));
}

TEST(LibraryBackend, TrendingKeepsTheOrderOfEqualCounts) {
    Library library;
    for (auto [id, views] : {std::pair{"a", 5}, {"b", 9}, {"c", 5}, {"d", 9}, {"e", 5}}) {
        sarn::Video v;
        v.id = id;
        v.views = static_cast<std::uint64_t>(views);
        library.videos.push_back(v);
    }
    LibraryBackend backend(library);
    auto trending = backend.trending();
    ASSERT_TRUE(trending.has_value());
    EXPECT_EQ(ids(trending->as_videos()->videos), (std::vector<std::string>{"b", "d", "a", "c", "e"}));
}

}  // namespace
