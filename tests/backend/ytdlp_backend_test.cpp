#include "sarn/backend/ytdlp_backend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include <fmt/format.h>

#include "vorn_test/fake_ytdlp.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using sarn::YtDlpBackend;
namespace ytdlp = sarn::ytdlp;

std::int64_t day(int y, unsigned m, unsigned d) {
    return std::chrono::sys_days{std::chrono::year{y} / std::chrono::month{m} / std::chrono::day{d}}
        .time_since_epoch()
        .count();
}

YtDlpBackend probe_fake(vorn_test::FakeYtDlp& fake, const std::string& rest) {
    fake.set_scenario("[when --version]\nstdout  2099.01.01 \\n\n" + rest);
    auto backend = YtDlpBackend::probe(fake.program());
    EXPECT_TRUE(backend.has_value()) << backend.error();
    return std::move(*backend);
}

TEST(YtDlpProbe, ReadsTheTrimmedVersion) {
    vorn_test::FakeYtDlp fake;
    YtDlpBackend backend = probe_fake(fake, "");
    EXPECT_EQ(backend.version(), "2099.01.01");
    EXPECT_EQ(backend.name(), "yt-dlp 2099.01.01");
    ASSERT_EQ(fake.runs().size(), 1u);
    EXPECT_EQ(fake.runs()[0], std::vector<std::string>{"--version"});
}

TEST(YtDlpProbe, FailuresHaveTheirTexts) {
    auto missing = YtDlpBackend::probe("/nonexistent/yt-dlp");
    ASSERT_FALSE(missing.has_value());
    EXPECT_TRUE(missing.error().starts_with("yt-dlp not runnable: ")) << missing.error();

    vorn_test::FakeYtDlp fake;
    fake.set_scenario("stdout 1.0\nexit 2\n");
    auto failed = YtDlpBackend::probe(fake.program());
    ASSERT_FALSE(failed.has_value());
    EXPECT_EQ(failed.error(), "yt-dlp --version failed");

    // The product's limit is 3 s: the hung program is ended by it, not waited
    // for (the text says which limit ended it; the time it took depends on the
    // machine's load).
    fake.set_scenario("ignore-term\nsleep 30\n");
    auto hung = YtDlpBackend::probe(fake.program());
    ASSERT_FALSE(hung.has_value());
    EXPECT_EQ(hung.error(), fake.program() + " timed out after 3 s");
}

TEST(YtDlpProbe, RealProgramAnswersItsVersion) {
    if (!std::filesystem::exists("/usr/bin/yt-dlp")) GTEST_SKIP() << "yt-dlp is not installed";
    // The Python program can take longer than the product's 3 s to start on a
    // loaded machine; this checks its answer, not its speed.
    auto backend = YtDlpBackend::probe("yt-dlp", 120s);
    ASSERT_TRUE(backend.has_value()) << backend.error();
    EXPECT_FALSE(backend->version().empty());
    EXPECT_EQ(backend->name(), "yt-dlp " + backend->version());
}

TEST(YtDlpBackendRuns, ArgumentListsAreExact) {
    vorn_test::FakeYtDlp fake;
    YtDlpBackend backend = probe_fake(fake, "[always]\nstdout {\"entries\":[]}\n");
    const std::string list_prefix[] = {"-J", "--flat-playlist", "--no-warnings", "--playlist-end", "30"};
    const auto flat = [&](std::string url) {
        std::vector<std::string> args(std::begin(list_prefix), std::end(list_prefix));
        args.push_back(std::move(url));
        return args;
    };
    const std::string video_template =
        "%(id)j\t%(title)j\t%(channel)j\t%(channel_id)j\t%(uploader_id)j\t%(view_count)j\t%(like_count)j\t"
        "%(duration)j\t%(upload_date)j\t%(description)j\t%(is_live)j";
    const std::string playback_template =
        "%(url)j\t%(width)j\t%(height)j\t%(fps)j\t%(format_note)j\t%(resolution)j\t%(ext)j\t%(vcodec)j\t%(acodec)j";

    ASSERT_TRUE(backend.search("cats & dogs").has_value());
    ASSERT_TRUE(backend.trending().has_value());
    ASSERT_TRUE(backend.channel("UCabc").has_value());
    ASSERT_TRUE(backend.channel("@someone").has_value());
    ASSERT_TRUE(backend.channel("someone").has_value());
    ASSERT_TRUE(backend.channel("https://www.youtube.com/@x/videos/").has_value());
    ASSERT_TRUE(backend.channel("a&b#c").has_value());
    ASSERT_TRUE(backend.playlist("PLx&y").has_value());
    ASSERT_TRUE(backend.playlist("https://m.youtube.com/playlist?list=PL1").has_value());
    ASSERT_TRUE(backend.video("v&list=x#t").has_value());
    (void)backend.playback_source("abc");
    ASSERT_TRUE(backend.related("abc").has_value());

    const std::vector<std::vector<std::string>> expected = {
        {"--version"},
        {"-J", "--flat-playlist", "--no-warnings", "ytsearch30:cats & dogs"},
        flat("https://www.youtube.com/feed/trending"),
        flat("https://www.youtube.com/channel/UCabc/videos"),
        flat("https://www.youtube.com/@someone/videos"),
        flat("https://www.youtube.com/@someone/videos"),
        flat("https://youtube.com/@x/videos"),
        flat("https://www.youtube.com/@a%26b%23c/videos"),
        flat("https://www.youtube.com/playlist?list=PLx%26y"),
        flat("https://youtube.com/playlist?list=PL1"),
        {"--no-warnings", "--no-playlist", "--print", video_template,
         "https://www.youtube.com/watch?v=v%26list%3Dx%23t"},
        {"--no-warnings", "--no-playlist", "-f", std::string(ytdlp::kStreamFormat), "--print", playback_template,
         "https://www.youtube.com/watch?v=abc"},
    };
    EXPECT_EQ(fake.runs(), expected);
    EXPECT_EQ(ytdlp::kStreamFormat.size(), 107u);
}

TEST(YtDlpBackendRuns, AddressesOffThePlatformAreRefusedWithoutARun) {
    vorn_test::FakeYtDlp fake;
    YtDlpBackend backend = probe_fake(fake, "[always]\nstdout {}\n");
    for (const char* id : {"https://evil.example/@x", "http://www.youtube.com/@x", "https://youtube.com.evil.example/x",
                           "httpfoo", "https://www.youtube.com/"}) {
        auto channel = backend.channel(id);
        ASSERT_FALSE(channel.has_value()) << id;
        EXPECT_EQ(channel.error(), std::string("refusing an address outside the platform: ") + id);
        auto playlist = backend.playlist(id);
        ASSERT_FALSE(playlist.has_value()) << id;
        EXPECT_EQ(playlist.error(), channel.error());
    }
    EXPECT_EQ(fake.runs().size(), 1u);  // only the probe ran
}

TEST(YtDlpBackendRuns, FailedRunsHaveTheirTexts) {
    vorn_test::FakeYtDlp fake;
    YtDlpBackend backend = probe_fake(fake, "");
    struct Row {
        std::string scenario;
        std::string error;  // exact, or a prefix when it ends with "*"
    };
    const Row rows[] = {
        {"[always]\nstderr WARNING: a\\n  ERROR: it broke  \\n\nexit 1\n", "yt-dlp failed: ERROR: it broke"},
        {"[always]\nexit 1\n", "yt-dlp failed: "},
        {"[always]\nstdout <html>not json\n", "yt-dlp JSON parse: *"},
        {"[always]\nstdout {\"a\":1} trailing\n", "yt-dlp JSON parse: *"},
        {"[always]\nstdout \n", "yt-dlp JSON parse: *"},
        {"[always]\nflood 9000000\n", fake.program() + " output passed the limit of 8388608 bytes"},
    };
    for (const Row& row : rows) {
        fake.set_scenario("[when --version]\nstdout 1\n" + row.scenario);
        auto page = backend.search("x");
        ASSERT_FALSE(page.has_value()) << row.scenario;
        if (row.error.ends_with('*')) {
            EXPECT_TRUE(page.error().starts_with(row.error.substr(0, row.error.size() - 1))) << page.error();
        } else {
            EXPECT_EQ(page.error(), row.error);
        }
    }
}

TEST(YtDlpMapping, EntryFieldsWithFallbacksAndWrongTypes) {
    const std::int64_t today = day(2024, 6, 1);
    const json full = json::parse(R"({
        "id": "v1", "fulltitle": "Full", "uploader_id": "@up", "uploader": "Up",
        "view_count": 12, "like_count": 3, "duration": 61.9, "description": "d",
        "is_live": true, "upload_date": "20240531",
        "thumbnails": [{"url": "small", "width": 10, "height": 10},
                       {"url": "big", "width": 100, "height": 50, "preference": -5},
                       {"url": "", "width": 1000, "height": 1000},
                       {"url": "tie", "width": 50, "height": 100}]})");
    sarn::Video v = ytdlp::video_from_entry(full, "Search", today);
    EXPECT_EQ(v.id, "v1");
    EXPECT_EQ(v.seed, "v1");
    EXPECT_EQ(v.title, "Full");
    EXPECT_EQ(v.channel_id, "@up");
    EXPECT_EQ(v.channel_name, "Up");
    EXPECT_EQ(v.channel_seed, "@up");
    EXPECT_EQ(v.views, 12u);
    EXPECT_EQ(v.likes, 3u);
    EXPECT_EQ(v.duration, 61u);
    EXPECT_TRUE(v.live);
    EXPECT_EQ(v.published, "1 day ago");
    EXPECT_EQ(v.category, "Search");
    EXPECT_EQ(v.thumbnail_url, "tie");  // equal keys: the later entry
    EXPECT_FALSE(v.dearrow_title.has_value());
    EXPECT_FALSE(v.dearrow_thumb);

    const json wrong = json::parse(R"({"id": "w", "title": 5, "channel": ["x"], "view_count": "12",
        "like_count": -4, "duration": "long", "is_live": "yes", "upload_date": 20240101,
        "thumbnails": "none", "description": null})");
    sarn::Video w = ytdlp::video_from_entry(wrong, "Video", today);
    EXPECT_EQ(w.title, "");
    EXPECT_EQ(w.channel_name, "Unknown");
    EXPECT_EQ(w.channel_seed, "w");
    EXPECT_EQ(w.views, 0u);
    EXPECT_EQ(w.likes, 0u);
    EXPECT_EQ(w.duration, 0u);
    EXPECT_FALSE(w.live);
    EXPECT_EQ(w.published, "");
    EXPECT_EQ(w.thumbnail_url, "https://i.ytimg.com/vi/w/hqdefault.jpg");

    EXPECT_EQ(ytdlp::video_from_entry(json::parse(R"({"id":"h","duration":1e12})"), "S", today).duration,
              4294967295u);
    EXPECT_EQ(ytdlp::video_from_entry(json::parse(R"({"id":"n","duration":-3})"), "S", today).duration, 0u);
    // Best thumbnail with an empty url falls back to the image host.
    EXPECT_EQ(ytdlp::video_from_entry(json::parse(R"({"id":"e","thumbnails":[{"url":""}]})"), "S", today)
                  .thumbnail_url,
              "https://i.ytimg.com/vi/e/hqdefault.jpg");
    // Not an object at all.
    EXPECT_EQ(ytdlp::video_from_entry(json(42), "S", today).id, "");
}

TEST(YtDlpMapping, EntriesSkipNullsAndEntriesWithoutId) {
    const json result = json::parse(R"({"entries": [null, 5, "x", {"id": ""}, {"id": 7}, {"id": "ok"}, []]})");
    auto videos = ytdlp::videos_from_result(result, "Trending", 0);
    ASSERT_EQ(videos.size(), 1u);
    EXPECT_EQ(videos[0].id, "ok");
    EXPECT_EQ(videos[0].category, "Trending");
    EXPECT_TRUE(ytdlp::videos_from_result(json::parse(R"({"entries": {}})"), "T", 0).empty());
    EXPECT_TRUE(ytdlp::videos_from_result(json(nullptr), "T", 0).empty());
}

TEST(YtDlpMapping, PublishedTexts) {
    const std::int64_t today = day(2024, 6, 1);
    struct Row {
        std::int64_t days_ago;
        std::string_view text;
    };
    const Row rows[] = {{0, "today"},          {1, "1 day ago"},      {2, "2 days ago"},      {6, "6 days ago"},
                        {7, "1 week ago"},     {13, "1 week ago"},    {14, "2 weeks ago"},    {29, "4 weeks ago"},
                        {30, "1 month ago"},   {59, "1 month ago"},   {60, "2 months ago"},   {364, "12 months ago"}};
    for (const Row& row : rows) {
        const auto date = std::chrono::year_month_day{std::chrono::sys_days{std::chrono::days{today - row.days_ago}}};
        const std::string text = fmt::format("{:04}{:02}{:02}", static_cast<int>(date.year()),
                                             static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
        EXPECT_EQ(ytdlp::published_text(text, today), row.text) << text;
    }
    EXPECT_EQ(ytdlp::published_text("20230602", today), "Jun 2, 2023");  // 365 days
    EXPECT_EQ(ytdlp::published_text("20240602", today), "Jun 2, 2024");  // future
    EXPECT_EQ(ytdlp::published_text("20210307", today), "Mar 7, 2021");
    // The 30th of February counts as the 1st of March in a leap year.
    EXPECT_EQ(ytdlp::published_text("20240230", day(2024, 3, 1)), "today");
    for (const char* unchanged : {"2024061", "2024-06-01", "20241301", "20240100", "20240132", "", "2024061x"}) {
        EXPECT_EQ(ytdlp::published_text(unchanged, today), unchanged);
    }
}

TEST(YtDlpMapping, ChannelRecordAvatarBannerAndUploads) {
    const json result = json::parse(R"({
        "id": "UCid", "channel": "Chan", "uploader_id": "@chan", "channel_follower_count": 1200,
        "channel_is_verified": true, "description": "about",
        "thumbnails": [
            {"url": "wide-small", "width": 1060, "height": 175},
            {"url": "wide-big", "width": 2560, "height": 424},
            {"url": "square", "width": 900, "height": 900},
            {"url": "nearly-square", "width": 176, "height": 170},
            {"url": "tall", "width": 100, "height": 900}],
        "entries": [{"id": "u1", "channel": "", "uploader_id": "x"},
                    {"id": "u2", "channel": "Other", "channel_id": "UCother"}]})");
    auto page = ytdlp::channel_from_result(result, 0);
    EXPECT_EQ(page.channel.id, "UCid");
    EXPECT_EQ(page.channel.name, "Chan");
    EXPECT_EQ(page.channel.handle, "@chan");
    EXPECT_EQ(page.channel.subscribers, 1200u);
    EXPECT_TRUE(page.channel.verified);
    EXPECT_EQ(page.channel.description, "about");
    EXPECT_EQ(page.channel.seed, "UCid");
    EXPECT_EQ(page.channel.banner_url, "wide-big");
    EXPECT_EQ(page.channel.avatar_url, "square");
    ASSERT_EQ(page.videos.size(), 2u);
    EXPECT_EQ(page.videos[0].channel_id, "UCid");
    EXPECT_EQ(page.videos[0].channel_name, "x");  // uploader_id is a name fallback
    EXPECT_EQ(page.videos[1].channel_name, "Other");
    EXPECT_EQ(page.videos[1].channel_id, "UCid");
    EXPECT_EQ(page.videos[1].channel_seed, "UCid");
    EXPECT_EQ(page.videos[0].category, "Channel");

    const json uncropped = json::parse(R"({"channel_id": "UC2", "title": "T",
        "thumbnails": [{"id": "banner_uncropped", "url": "b"}, {"id": "avatar_uncropped", "url": "a"},
                       {"id": "avatar_uncropped", "url": "a2"}, {"url": "sq", "width": 10, "height": 10}],
        "entries": [{"id": "u"}]})");
    auto second = ytdlp::channel_from_result(uncropped, 0);
    EXPECT_EQ(second.channel.avatar_url, "a");
    EXPECT_EQ(second.channel.banner_url, "b");
    EXPECT_EQ(second.channel.name, "T");
    EXPECT_EQ(second.channel.handle, "UC2");
    EXPECT_EQ(second.videos[0].channel_name, "T");  // "Unknown" is replaced

    auto bare = ytdlp::channel_from_result(json::parse(R"({"id": "x", "thumbnails": 3})"), 0);
    EXPECT_EQ(bare.channel.handle, "x");
    EXPECT_EQ(bare.channel.avatar_url, "");
    EXPECT_EQ(bare.channel.banner_url, "");
}

TEST(YtDlpMapping, PlaylistRecord) {
    const json result = json::parse(R"({"id": "PL1", "playlist_title": "Mix", "uploader_id": "@u",
        "uploader": "U", "playlist_count": 0, "entries": [{"id": "a", "thumbnails": [{"url": "ta"}]}, {"id": "b"}]})");
    auto answer = ytdlp::playlist_from_result(result, "asked", 0);
    EXPECT_EQ(answer.playlist.id, "PL1");
    EXPECT_EQ(answer.playlist.title, "Mix");
    EXPECT_EQ(answer.playlist.channel_id, "@u");
    EXPECT_EQ(answer.playlist.channel_name, "U");
    EXPECT_EQ(answer.playlist.thumbnail_url, "ta");
    EXPECT_EQ(answer.playlist.seed, "PL1");
    EXPECT_EQ(answer.playlist.video_ids, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(answer.playlist.video_count, 0u);  // present, so taken as given
    EXPECT_EQ(answer.videos[0].category, "Playlist");

    auto fallback = ytdlp::playlist_from_result(json::parse(R"({"playlist_count": -1, "entries": [{"id": "a"}]})"),
                                                "asked", 0);
    EXPECT_EQ(fallback.playlist.id, "asked");
    EXPECT_EQ(fallback.playlist.video_count, 1u);
    EXPECT_EQ(ytdlp::playlist_from_result(json::object(), "e", 0).playlist.thumbnail_url, "");
}

TEST(YtDlpMapping, PrintOutputAndPlaybackSource) {
    const std::string_view fields[] = {"url", "width", "height", "fps", "format_note", "resolution",
                                       "ext", "vcodec", "acodec"};
    const json parsed = ytdlp::parse_print_output(
        "\"https://cdn/x\"\t1280\t720\t29.97\tNA\t\"1280x720\"\t\"mp4\"\t\"avc1\"\t\"none\"\nsecond line", fields);
    EXPECT_TRUE(parsed["format_note"].is_null());  // "NA" is not JSON
    auto source = ytdlp::playback_from_fields(parsed, "abc");
    ASSERT_TRUE(source.has_value()) << source.error();
    EXPECT_EQ(*source, (sarn::PlaybackSource{"https://cdn/x", "mp4; avc1", "1280x720", 1280, 720, false, 30}));

    const json short_line = ytdlp::parse_print_output("\"https://cdn/y\"\t640", fields);
    EXPECT_TRUE(short_line["height"].is_null());
    EXPECT_TRUE(short_line["acodec"].is_null());
    auto partial = ytdlp::playback_from_fields(short_line, "abc");
    ASSERT_TRUE(partial.has_value());
    EXPECT_EQ(partial->width, 640u);
    EXPECT_EQ(partial->height, 0u);
    EXPECT_EQ(partial->fps, 1);
    EXPECT_FALSE(partial->has_audio);
    EXPECT_EQ(partial->format, "; ");

    auto audio = ytdlp::playback_from_fields(json::parse(R"({"url":"u","acodec":"mp4a","fps":1000,"format_note":"720p"})"),
                                             "abc");
    ASSERT_TRUE(audio.has_value());
    EXPECT_TRUE(audio->has_audio);
    EXPECT_EQ(audio->fps, 255);
    EXPECT_EQ(audio->quality, "720p");

    auto none = ytdlp::playback_from_fields(ytdlp::parse_print_output("", fields), "abc");
    ASSERT_FALSE(none.has_value());
    EXPECT_EQ(none.error(), "no directly-playable https format for abc! (DRM-only or extraction changed)");
}

TEST(YtDlpBackendRuns, VideoAndPlaybackFromPrintRuns) {
    vorn_test::FakeYtDlp fake;
    YtDlpBackend backend = probe_fake(
        fake,
        "[when -f]\nstdout \"https://cdn/s\"\\t1920\\t1080\\t59.94\\t\"1080p\"\\t\"1920x1080\"\\t\"mp4\"\\t\"avc1\"\\t"
        "\"mp4a\"\\n\n"
        "[always]\nstdout \"vid\"\\t\"Title\\\\tTab\"\\t\"Chan\"\\t\"UCc\"\\t\"@c\"\\t10\\t2\\t30\\t\"19990101\"\\tnull\\tfalse\\n\n");
    auto video = backend.video("vid");
    ASSERT_TRUE(video.has_value()) << video.error();
    ASSERT_NE(video->as_video(), nullptr);
    const sarn::Video& v = video->as_video()->video;
    EXPECT_EQ(v.id, "vid");
    EXPECT_EQ(v.title, "Title\tTab");
    EXPECT_EQ(v.channel_id, "UCc");
    EXPECT_EQ(v.views, 10u);
    EXPECT_EQ(v.published, "Jan 1, 1999");
    EXPECT_EQ(v.category, "Video");
    EXPECT_EQ(v.thumbnail_url, "https://i.ytimg.com/vi/vid/hqdefault.jpg");

    auto source = backend.playback_source("vid");
    ASSERT_TRUE(source.has_value()) << source.error();
    EXPECT_EQ(source->url, "https://cdn/s");
    EXPECT_EQ(source->fps, 60);
    EXPECT_TRUE(source->has_audio);
    EXPECT_EQ(source->quality, "1080p");

    // The defaults: comments are empty, popular_search is search.
    auto comments = backend.comments("vid");
    ASSERT_TRUE(comments.has_value());
    EXPECT_TRUE(comments->empty());
}

TEST(YtDlpMapping, LastErrorLine) {
    struct Row {
        std::string_view in;
        std::string_view out;
    };
    const Row rows[] = {{"", ""}, {"one", "one"}, {"a\nb\n", "b"}, {"a\n  b  \n", "b"}, {"a\nb\n\n", ""},
                        {"\n", ""}, {"a\r\nb\r\n", "b"}};
    for (const Row& row : rows) EXPECT_EQ(ytdlp::last_error_line(row.in), row.out) << row.in;
}

}  // namespace
