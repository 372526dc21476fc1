#include "sarn/backend/fetch_worker.h"
#include "sarn/backend/network_failure.h"
#include "sarn/backend/ytdlp_backend.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include <fmt/format.h>

#include "vorn_log/log.h"
#include "vorn_test/fake_ytdlp.h"
#include "vorn_test/local_server.h"

namespace {

using namespace std::chrono_literals;
using sarn::CatalogPage;
using sarn::CatalogResult;
using sarn::FetchRequest;
using sarn::FetchResult;

sarn::Video make_video(std::string id, std::string channel_id = {}, std::string channel_name = {},
                       std::string avatar = {}) {
    sarn::Video v;
    v.id = std::move(id);
    v.channel_id = std::move(channel_id);
    v.channel_name = std::move(channel_name);
    v.channel_avatar_url = std::move(avatar);
    return v;
}

std::string join_ids(const std::vector<sarn::Video>& videos) {
    std::string out;
    for (const auto& v : videos) out += (out.empty() ? "" : ",") + v.id;
    return out;
}

// One line per result, so whole sequences compare at once.
std::string describe(const FetchResult& result) {
    struct Visitor {
        std::string operator()(const FetchResult::SponsorSegments& r) const {
            return fmt::format("SponsorSegments {} x{}", r.video_id, r.segments.size());
        }
        std::string operator()(const FetchResult::Branding& r) const {
            return fmt::format("Branding {} {} {}", r.video_id, r.title.value_or("-"), r.thumbnail.value_or("-"));
        }
        std::string operator()(const FetchResult::Dislikes& r) const {
            return fmt::format("Dislikes {} {}", r.video_id, r.dislikes);
        }
        std::string operator()(const FetchResult::SearchResults& r) const {
            std::string channels, playlists;
            for (const auto& c : r.channels) channels += (channels.empty() ? "" : ",") + c.id;
            for (const auto& p : r.playlists) playlists += (playlists.empty() ? "" : ",") + p.id;
            return fmt::format("SearchResults {} [{}] [{}] [{}]", r.query, join_ids(r.videos), channels, playlists);
        }
        std::string operator()(const FetchResult::PlaylistPage& r) const {
            return fmt::format("PlaylistPage {} [{}]", r.playlist.id, join_ids(r.videos));
        }
        std::string operator()(const FetchResult::HomeFeed& r) const {
            return fmt::format("HomeFeed [{}]", join_ids(r.videos));
        }
        std::string operator()(const FetchResult::VideoDetails& r) const {
            return fmt::format("VideoDetails {} [{}]", r.video.id, join_ids(r.related));
        }
        std::string operator()(const FetchResult::Comments& r) const {
            return fmt::format("Comments {} x{}", r.video_id, r.comments.size());
        }
        std::string operator()(const FetchResult::ChannelPage& r) const {
            return fmt::format("ChannelPage {} [{}]", r.channel.id, join_ids(r.videos));
        }
        std::string operator()(const FetchResult::Status& r) const {
            return fmt::format("Status {}{}", r.text, r.live ? " (live)" : "");
        }
        std::string operator()(const FetchResult::StreamReady& r) const {
            return fmt::format("StreamReady {} {} {} {}", r.video_id, r.url, r.quality, r.has_audio ? "audio" : "mute");
        }
        std::string operator()(const FetchResult::Note& r) const { return "Note " + r.text; }
    };
    return std::visit(Visitor{}, result.value);
}

// What the scripted innertube stand-in answers, and what it was asked.
struct LiveScript {
    std::mutex mutex;
    bool fail_start = false;
    int starts = 0;
    std::vector<std::string> start_threads;
    std::vector<std::string> calls;
    CatalogResult<sarn::SearchItems> items = sarn::SearchItems{};
    std::map<std::string, CatalogResult<CatalogPage>> popular;
    CatalogResult<std::vector<sarn::Comment>> comments = std::vector<sarn::Comment>{};
    CatalogResult<sarn::PlaylistAnswer> playlist = std::unexpected(std::string("no playlist"));
    std::function<void()> during_search_items;
};

class FakeLive : public sarn::LiveCatalogBackend {
public:
    explicit FakeLive(std::shared_ptr<LiveScript> script) : m_script(std::move(script)) {}
    std::string_view name() const override { return "no_botguard (metadata only)"; }
    CatalogResult<CatalogPage> search(std::string_view q) override { return fail("search", q); }
    CatalogResult<CatalogPage> video(std::string_view id) override { return fail("video", id); }
    CatalogResult<CatalogPage> channel(std::string_view id) override { return fail("channel", id); }
    CatalogResult<CatalogPage> related(std::string_view id) override { return fail("related", id); }
    CatalogResult<CatalogPage> trending() override { return fail("trending", ""); }
    CatalogResult<CatalogPage> popular_search(std::string_view topic) override {
        std::lock_guard lock(m_script->mutex);
        m_script->calls.push_back("popular:" + std::string(topic));
        auto found = m_script->popular.find(std::string(topic));
        if (found == m_script->popular.end()) return std::unexpected(std::string("no answer"));
        return found->second;
    }
    CatalogResult<std::vector<sarn::Comment>> comments(std::string_view id) override {
        std::lock_guard lock(m_script->mutex);
        m_script->calls.push_back("comments:" + std::string(id));
        return m_script->comments;
    }
    CatalogResult<sarn::SearchItems> search_items(std::string_view text) override {
        std::function<void()> hook;
        {
            std::lock_guard lock(m_script->mutex);
            m_script->calls.push_back("search_items:" + std::string(text));
            hook = m_script->during_search_items;
        }
        if (hook) hook();
        std::lock_guard lock(m_script->mutex);
        return m_script->items;
    }
    CatalogResult<sarn::PlaylistAnswer> fetch_playlist(std::string_view id) override {
        std::lock_guard lock(m_script->mutex);
        m_script->calls.push_back("fetch_playlist:" + std::string(id));
        return m_script->playlist;
    }

private:
    CatalogResult<CatalogPage> fail(const char* what, std::string_view arg) {
        std::lock_guard lock(m_script->mutex);
        m_script->calls.push_back(std::string(what) + ":" + std::string(arg));
        return std::unexpected(std::string("not scripted"));
    }
    std::shared_ptr<LiveScript> m_script;
};

sarn::LiveBackendFactory factory_for(std::shared_ptr<LiveScript> script) {
    return [script]() -> CatalogResult<std::unique_ptr<sarn::LiveCatalogBackend>> {
        std::lock_guard lock(script->mutex);
        ++script->starts;
        char name[32] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        script->start_threads.emplace_back(name);
        if (script->fail_start) return std::unexpected(std::string("innertube start failed"));
        return std::make_unique<FakeLive>(script);
    };
}

class FetchWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& s = server.server();
        s.Get("/api/skipSegments", [](const httplib::Request& req, httplib::Response& res) {
            if (req.get_param_value("videoID") == "unknown") {
                res.status = 404;
                return;
            }
            res.set_content(R"([{"category":"sponsor","segment":[10,20],"votes":3}])", "application/json");
        });
        s.Get("/api/branding", [](const httplib::Request&, httplib::Response& res) { res.status = 500; });
        s.Get("/votes", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"({"dislikes": 77})", "application/json");
        });
        s.Get("/inv/latest_version", [](const httplib::Request& req, httplib::Response& res) {
            if (req.get_param_value("itag") == "18") res.set_content("bytes", "video/mp4");
        });
        ASSERT_TRUE(server.start());
        config.ytdlp_program = "/nonexistent/yt-dlp";
        config.live_backend = factory_for(live);
        config.extras = {server.base_url(), "http://thumbs.test", server.base_url()};
        config.invidious = sarn::InvidiousProbeOptions{{server.base_url() + "/inv"}, 1000ms, 3000ms};
        config.http_timeout = 2000ms;
    }

    // Uses the fake yt-dlp as the primary backend with these scenario
    // sections (after its version answer).
    void use_ytdlp(const std::string& sections) {
        fake.set_scenario("[when --version]\nstdout 2024.01.01\n" + sections);
        config.ytdlp_program = fake.program();
    }

    // Runs the worker over the requests until it ends; every result in order.
    std::vector<std::string> run(std::vector<FetchRequest> requests) {
        auto [request_tx, request_rx] = sarn::bounded_queue<FetchRequest>(sarn::kFetchRequestCapacity);
        auto [result_tx, result_rx] = sarn::bounded_queue<FetchResult>(sarn::kFetchResultCapacity);
        for (auto& request : requests) EXPECT_TRUE(request_tx.try_send(std::move(request)).has_value());
        request_tx.close();
        std::thread worker(sarn::fetch_worker_main, std::move(request_rx), std::move(result_tx), config);
        std::vector<std::string> out;
        while (auto result = result_rx.recv()) out.push_back(describe(*result));
        worker.join();
        return out;
    }

    vorn_test::LocalServer server;
    vorn_test::FakeYtDlp fake;
    std::shared_ptr<LiveScript> live = std::make_shared<LiveScript>();
    sarn::FetchWorkerConfig config;
};

using Lines = std::vector<std::string>;

// The results after the start-up ones.
Lines after(const Lines& lines, std::size_t skip) {
    return lines.size() <= skip ? Lines{} : Lines(lines.begin() + static_cast<std::ptrdiff_t>(skip), lines.end());
}

TEST_F(FetchWorkerTest, WithoutAnyBackendStartsOfflineAndHomeFeedFails) {
    live->fail_start = true;
    const Lines results = run({FetchRequest::home_feed(), FetchRequest::home_feed()});
    ASSERT_FALSE(results.empty());
    EXPECT_TRUE(results[0].starts_with("Note yt-dlp unavailable (yt-dlp not runnable: ")) << results[0];
    EXPECT_TRUE(results[0].ends_with("); falling back to rustypipe")) << results[0];
    const Lines rest(results.begin() + 1, results.end());
    EXPECT_EQ(rest, (Lines{
                        "Note live backend unavailable (innertube start failed); no live catalogue available",
                        "Status offline",
                        "Note rustypipe enrichment unavailable (innertube start failed)",
                        "Status offline — no live data",
                        "Status offline — no live data",  // never retried
                    }));
    EXPECT_EQ(live->starts, 2);
}

TEST_F(FetchWorkerTest, UnsetFactoryIsReportedAsUnavailable) {
    config.live_backend = nullptr;
    const Lines results = run({FetchRequest::search("q")});
    EXPECT_EQ(Lines(results.begin() + 1, results.end()),
              (Lines{
                  "Note live backend unavailable (the innertube client is not part of this build); no live catalogue "
                  "available",
                  "Status offline",
                  "Note rustypipe enrichment unavailable (the innertube client is not part of this build)",
                  "SearchResults q [] [] []",
              }));
}

TEST_F(FetchWorkerTest, YtDlpPrimaryStartsConnectingAndAnswersSearchWithEnrichment) {
    use_ytdlp(
        "[when ytsearch]\nstdout {\"entries\":[{\"id\":\"y1\",\"channel_id\":\"UC1\",\"channel\":\"One\"},"
        "{\"id\":\"y2\",\"channel\":\"Second Chan\"},{\"id\":\"y3\",\"channel\":\"Nobody\"}]}\n");
    {
        std::lock_guard lock(live->mutex);
        sarn::SearchItems items;
        items.videos = {make_video("e1", "UC1", "One", "avatar-first"), make_video("e2", "UC1", "One", "avatar-later"),
                        make_video("e3", "UCx", "SECOND CHAN", "avatar-by-name")};
        sarn::Channel channel;
        channel.id = "UCc";
        channel.avatar_url = "channel-avatar";
        items.channels = {channel};
        sarn::Playlist playlist;
        playlist.id = "PL1";
        items.playlists = {playlist};
        live->items = items;
    }
    auto [request_tx, request_rx] = sarn::bounded_queue<FetchRequest>(32);
    auto [result_tx, result_rx] = sarn::bounded_queue<FetchResult>(128);
    ASSERT_TRUE(request_tx.try_send(FetchRequest::search("cats & dogs")).has_value());
    request_tx.close();
    std::thread worker(sarn::fetch_worker_main, std::move(request_rx), std::move(result_tx), config);
    std::vector<FetchResult> results;
    while (auto result = result_rx.recv()) results.push_back(std::move(*result));
    worker.join();

    Lines lines;
    for (const auto& r : results) lines.push_back(describe(r));
    EXPECT_EQ(lines, (Lines{
                         "Note live backend ready: yt-dlp 2024.01.01",
                         "Status connecting…",
                         "Status live (rustypipe) (live)",
                         "SearchResults cats & dogs [y1,y2,y3] [UCc] [PL1]",
                     }));
    const auto* search = results.back().as<FetchResult::SearchResults>();
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(search->videos[0].channel_avatar_url, "avatar-first");
    EXPECT_EQ(search->videos[1].channel_avatar_url, "avatar-by-name");
    EXPECT_EQ(search->videos[2].channel_avatar_url, "");
    EXPECT_EQ(fake.runs().back(),
              (std::vector<std::string>{"-J", "--flat-playlist", "--no-warnings", "ytsearch30:cats & dogs"}));
}

TEST_F(FetchWorkerTest, FailedSearchStillEndsWithItsResults) {
    use_ytdlp("[when ytsearch]\nstdout not json\n");
    {
        std::lock_guard lock(live->mutex);
        sarn::SearchItems items;
        items.videos = {make_video("e1")};
        live->items = items;
    }
    const Lines results = run({FetchRequest::search("q"), FetchRequest::search("again")});
    ASSERT_EQ(results.size(), 6u);
    EXPECT_TRUE(results[2].starts_with("Note live Search(\"q\"): yt-dlp JSON parse: ")) << results[2];
    EXPECT_EQ(results[3], "SearchResults q [e1] [] []");  // enrichment videos take the place
    EXPECT_TRUE(results[4].starts_with("Note live Search(\"again\"): ")) << results[4];
    EXPECT_EQ(results[5], "SearchResults again [e1] [] []");

    live->items = std::unexpected(std::string("quota"));
    live->fail_start = false;
    const Lines failing = run({FetchRequest::search("x")});
    EXPECT_EQ(Lines(failing.end() - 2, failing.end()), (Lines{"Note search enrich: quota", "SearchResults x [] [] []"}));
}

TEST_F(FetchWorkerTest, HomeFeedPrefersTrendingThenComposesAPopularFeed) {
    use_ytdlp("[when /feed/trending]\nstdout {\"entries\":[{\"id\":\"t1\"},{\"id\":\"t2\"}]}\n");
    EXPECT_EQ(after(run({FetchRequest::home_feed()}), 2),
              (Lines{"HomeFeed [t1,t2]", "Status live · trending (live)"}));

    use_ytdlp("[when /feed/trending]\nstdout {\"entries\":[]}\n");
    {
        std::lock_guard lock(live->mutex);
        live->popular.emplace("music", CatalogPage::of_videos({make_video("m1"), make_video("shared"), make_video("m3")}));
        live->popular.emplace("gaming", CatalogPage::of_videos({}));
        live->popular.emplace("technology", CatalogPage::of_video(make_video("wrong-kind")));
        live->popular.emplace("science", CatalogPage::of_videos({make_video("shared"), make_video("s2")}));
    }
    const Lines results = run({FetchRequest::home_feed()});
    EXPECT_EQ(Lines(results.begin() + 2, results.end()),
              (Lines{
                  "Note popular seed \"news\": no answer",
                  "Note popular seed \"sports\": no answer",
                  "Note dedicated trending endpoint retired — composed real popular feed (4 videos, view-sorted "
                  "across 6 topics)",
                  "HomeFeed [m1,shared,s2,m3]",
                  "Status live · popular (live)",
              }));
}

TEST_F(FetchWorkerTest, HomeFeedWithoutEnrichmentSeedsFromThePrimary) {
    live->fail_start = true;
    use_ytdlp("[when /feed/trending]\nstderr ERROR: gone\\n\nexit 1\n[when ytsearch30:news]\n"
              "stdout {\"entries\":[{\"id\":\"n1\"}]}\n[when ytsearch]\nstdout {\"entries\":[]}\n");
    const Lines results = run({FetchRequest::home_feed()});
    EXPECT_EQ(Lines(results.begin() + 2, results.end()),
              (Lines{
                  "Note rustypipe enrichment unavailable (innertube start failed)",
                  "Note live Trending: yt-dlp failed: ERROR: gone",
                  "Note dedicated trending endpoint retired — composed real popular feed (1 videos, view-sorted "
                  "across 6 topics)",
                  "HomeFeed [n1]",
                  "Status live · popular (live)",
              }));
}

// Queries that cannot reach the network say "offline" at once, not after
// the whole request; the next query that answers makes it live again.
using Display = FetchWorkerTest;

TEST_F(Display, UnreachableNetworkPostsTheOfflineStatusAtTheFirstFailedQuery) {
    use_ytdlp(
        "[when /feed/trending]\nstderr ERROR: [youtube:tab] trending: Unable to download webpage: <urlopen error "
        "[Errno -3] Temporary failure in name resolution> (caused by TransportError)\\n\nexit 1\n"
        "[when ytsearch30:up]\nstdout {\"entries\":[{\"id\":\"u1\"}]}\n"
        "[when ytsearch]\nstderr ERROR: [youtube:search] Unable to download API page: HTTP Error 429: Too Many "
        "Requests\\n\nexit 1\n");
    {
        std::lock_guard lock(live->mutex);
        live->popular["news"] =
            std::unexpected(std::string("popular_search \"news\": could not connect (Failed to connect to 127.0.0.1 "
                                        "port 9: Connection refused)"));
        live->items = std::unexpected(std::string("search_items: HTTP 503"));
    }
    const Lines results = run({FetchRequest::home_feed(), FetchRequest::search("down"), FetchRequest::search("up")});
    EXPECT_EQ(after(results, 2),
              (Lines{
                  "Note live Trending: yt-dlp failed: ERROR: [youtube:tab] trending: Unable to download webpage: "
                  "<urlopen error [Errno -3] Temporary failure in name resolution> (caused by TransportError)",
                  "Status offline — no live data",  // the first failed query, before the popular feed is tried
                  "Note popular seed \"news\": popular_search \"news\": could not connect (Failed to connect to "
                  "127.0.0.1 port 9: Connection refused)",
                  "Status offline — no live data",
                  "Note popular seed \"music\": no answer",
                  "Note popular seed \"gaming\": no answer",
                  "Note popular seed \"technology\": no answer",
                  "Note popular seed \"sports\": no answer",
                  "Note popular seed \"science\": no answer",
                  "Status offline — no live data",
                  // A refused answer is no sign of a missing network.
                  "Note live Search(\"down\"): yt-dlp failed: ERROR: [youtube:search] Unable to download API page: "
                  "HTTP Error 429: Too Many Requests",
                  "Note search enrich: search_items: HTTP 503",
                  "SearchResults down [] [] []",
                  "Status live (rustypipe) (live)",
                  "Note search enrich: search_items: HTTP 503",
                  "SearchResults up [u1] [] []",
              }));
}

TEST_F(Display, NetworkFailureTextsAreToldFromRefusedAnswers) {
    const struct {
        const char* text;
        bool unreachable;
    } cases[] = {
        {"search: could not connect (Could not resolve host: www.example.com)", true},
        {"trending: could not connect (Failed to connect to 127.0.0.1 port 9: Connection refused)", true},
        {"yt-dlp failed: ERROR: [youtube] x: Unable to download API page: <urlopen error [Errno 111] Connection "
         "refused>",
         true},
        {"yt-dlp failed: ERROR: Unable to download webpage: <urlopen error [Errno -2] Name or service not known>", true},
        {"yt-dlp failed: ERROR: [Errno 101] Network is unreachable", true},
        {"yt-dlp failed: ERROR: Failed to resolve 'www.example.com' ([Errno -3] Temporary failure in name resolution)",
         true},
        {"search: HTTP 400: Request contains an invalid argument.", false},
        {"video: request timed out (Operation timed out after 8000 milliseconds)", false},
        {"yt-dlp failed: ERROR: [youtube] x: Video unavailable", false},
        {"yt-dlp JSON parse: unexpected end of input", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(sarn::network_unreachable(c.text), c.unreachable) << c.text;
}

// A flat search entry of a live stream: "live_status" says so and the
// viewers come as "concurrent_view_count" in place of "view_count".
TEST_F(Display, FlatLiveEntryIsALiveVideoCountingItsViewers) {
    const std::int64_t today = sarn::ytdlp::today_day_number();
    struct Case {
        const char* entry;
        bool live;
        std::uint64_t views;
    } cases[] = {
        {R"({"id": "a", "live_status": "is_live", "concurrent_view_count": 1071})", true, 1071},
        {R"({"id": "b", "live_status": "is_live", "view_count": 9, "concurrent_view_count": 1071})", true, 9},
        {R"({"id": "c", "live_status": "was_live", "view_count": 5000})", false, 5000},
        {R"({"id": "d", "live_status": "not_live", "concurrent_view_count": 1071})", false, 0},
    };
    for (const Case& c : cases) {
        const sarn::Video v = sarn::ytdlp::video_from_entry(nlohmann::json::parse(c.entry), "Search", today);
        EXPECT_EQ(v.live, c.live) << c.entry;
        EXPECT_EQ(v.views, c.views) << c.entry;
    }
}

TEST_F(FetchWorkerTest, VideoSendsDetailsAndCommentsEvenWhenDetailsFail) {
    live->comments = std::vector<sarn::Comment>(3);
    use_ytdlp("[when --print]\nstdout \"v1\"\\t\"Title\"\n");
    EXPECT_EQ(after(run({FetchRequest::video("v1")}), 2),
              (Lines{"Status live (rustypipe) (live)", "VideoDetails v1 []", "Comments v1 x3"}));

    use_ytdlp("[when --print]\nstderr ERROR: private video\\n\nexit 1\n");
    EXPECT_EQ(after(run({FetchRequest::video("v1")}), 2),
              (Lines{"Note live Video(\"v1\"): yt-dlp failed: ERROR: private video", "Comments v1 x3"}));

    live->comments = std::vector<sarn::Comment>{};
    EXPECT_EQ(run({FetchRequest::video("v1")}).size(), 3u);  // empty comments send nothing
    live->comments = std::unexpected(std::string("disabled"));
    EXPECT_EQ(run({FetchRequest::video("v1")}).back(), "Note comments: disabled");
}

TEST_F(FetchWorkerTest, ChannelAndPlaylist) {
    use_ytdlp(
        "[when /channel/UC1/videos]\nstdout {\"channel_id\":\"UC1\",\"channel\":\"C\",\"entries\":[{\"id\":\"u1\"}]}\n"
        "[when list=PLgood]\nstdout {\"id\":\"PLgood\",\"entries\":[{\"id\":\"p1\"}]}\n"
        "[always]\nstderr ERROR: nope\\n\nexit 1\n");
    {
        sarn::PlaylistAnswer answer;
        answer.playlist.id = "PLlive";
        answer.videos = {make_video("l1")};
        std::lock_guard lock(live->mutex);
        live->playlist = answer;
    }
    const Lines results = run({FetchRequest::channel("UC1"), FetchRequest::channel("UCbad"),
                               FetchRequest::playlist("PLgood"), FetchRequest::playlist("PLother")});
    EXPECT_EQ(Lines(results.begin() + 2, results.end()),
              (Lines{
                  "Status live (rustypipe) (live)",
                  "ChannelPage UC1 [u1]",
                  "Note live Channel(\"UCbad\"): yt-dlp failed: ERROR: nope",
                  "PlaylistPage PLgood [p1]",
                  "PlaylistPage PLlive [l1]",  // the primary's failure is dropped silently
              }));
    live->playlist = std::unexpected(std::string("gone"));
    EXPECT_EQ(run({FetchRequest::playlist("PLother")}).back(), "Note playlist PLother: unavailable");
}

TEST_F(FetchWorkerTest, StreamFromThePrimaryOrFromInvidious) {
    use_ytdlp("[when watch?v=direct]\nstdout \"https://cdn.example/v/1?sig=x\"\\t1280\\t720\\t30\\t\"720p\"\\tnull"
              "\\t\"mp4\"\\t\"avc1\"\\t\"none\"\n[always]\nexit 1\n");
    const Lines results = run({FetchRequest::stream("direct"), FetchRequest::stream("other")});
    EXPECT_EQ(Lines(results.begin() + 2, results.end()),
              (Lines{
                  "Note stream: 720p video only [cdn.example]",
                  "StreamReady direct https://cdn.example/v/1?sig=x 720p mute",
                  "Note stream: 360p video+audio [127.0.0.1:" + std::to_string(server.port()) + "]",
                  "StreamReady other " + server.base_url() + "/inv/latest_version?id=other&itag=18&local=true 360p audio",
              }));
    config.invidious->instances = {server.base_url() + "/missing"};
    EXPECT_EQ(run({FetchRequest::stream("x")}).back(),
              "Note could not resolve a playable stream (no Invidious instance served bytes, and no direct URL was "
              "available)");
}

TEST_F(FetchWorkerTest, VideoExtrasSendsEachPartOrItsNote) {
    const Lines results = run({FetchRequest::video_extras("abc"), FetchRequest::video_extras("unknown")});
    EXPECT_EQ(Lines(results.begin() + 3, results.end()),
              (Lines{
                  "SponsorSegments abc x1",
                  "Note DeArrow: HTTP status 500",
                  "Dislikes abc 77",
                  "SponsorSegments unknown x0",
                  "Note DeArrow: HTTP status 500",
                  "Dislikes unknown 77",
              }));
    EXPECT_EQ(live->starts, 1);  // extras never start the enrichment client
}

TEST(StreamHostLabel, HostOfTheAddress) {
    EXPECT_EQ(sarn::stream_host_label("https://r1.cdn.example:8443/path/v?x=https://other/"), "r1.cdn.example:8443");
    EXPECT_EQ(sarn::stream_host_label("https://host"), "host");
    EXPECT_EQ(sarn::stream_host_label("no scheme here/x"), "stream");
    EXPECT_EQ(sarn::stream_host_label("/a?b=c://d"), "stream");
}

TEST_F(FetchWorkerTest, FullResultQueueMakesTheWorkerWait) {
    live->fail_start = true;
    auto [request_tx, request_rx] = sarn::bounded_queue<FetchRequest>(sarn::kFetchRequestCapacity);
    auto [result_tx, result_rx] = sarn::bounded_queue<FetchResult>(sarn::kFetchResultCapacity);
    std::thread worker(sarn::fetch_worker_main, std::move(request_rx), std::move(result_tx), config);
    constexpr int kRequests = 200;
    std::atomic<int> pushed{0};
    std::thread pusher([&, tx = std::move(request_tx)]() mutable {
        while (pushed < kRequests) {
            if (tx.try_send(FetchRequest::home_feed())) {
                ++pushed;
            } else {
                std::this_thread::sleep_for(1ms);
            }
        }
    });
    for (int i = 0; i < 500 && result_rx.size() < sarn::kFetchResultCapacity; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(result_rx.size(), sarn::kFetchResultCapacity);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(result_rx.size(), sarn::kFetchResultCapacity);  // nothing dropped, nothing more
    EXPECT_LT(pushed.load(), kRequests);                       // the worker stopped reading requests

    std::vector<std::string> lines;
    while (auto result = result_rx.recv()) lines.push_back(describe(*result));
    pusher.join();
    worker.join();
    // 3 start-up results, 2 for the first home feed, 1 for each later one.
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(3 + 2 + (kRequests - 1)));
    EXPECT_EQ(lines[2], "Status offline");
    EXPECT_EQ(lines.back(), "Status offline — no live data");
}

TEST_F(FetchWorkerTest, ClosingRequestsMidRequestStillDeliversItsResults) {
    std::promise<void> entered, release;
    auto release_future = release.get_future().share();
    live->during_search_items = [&entered, release_future] {
        entered.set_value();
        release_future.wait();
    };
    auto [request_tx, request_rx] = sarn::bounded_queue<FetchRequest>(32);
    auto [result_tx, result_rx] = sarn::bounded_queue<FetchResult>(128);
    ASSERT_TRUE(request_tx.try_send(FetchRequest::search("slow")).has_value());
    std::thread worker(sarn::fetch_worker_main, std::move(request_rx), std::move(result_tx), config);
    entered.get_future().wait();
    request_tx.close();  // the interface dropped its handle mid-request
    release.set_value();
    Lines lines;
    while (auto result = result_rx.recv()) lines.push_back(describe(*result));
    worker.join();
    EXPECT_EQ(lines.back(), "SearchResults slow [] [] []");
}

TEST(FetchWorkerSpawn, FailedStartIsReportedAndRetriedOnTheNextRequest) {
    vorn_log::CaptureSink log;
    auto attempts = std::make_shared<std::atomic<int>>(0);
    sarn::FetchWorkerConfig config;
    config.ytdlp_program = "/nonexistent/yt-dlp";
    config.start_thread = [attempts](std::function<void()> body) -> std::expected<void, std::string> {
        if ((*attempts)++ == 0) return std::unexpected(std::string("Resource temporarily unavailable"));
        std::thread(std::move(body)).detach();
        return {};
    };

    auto direct = sarn::spawn_fetch_worker(config);
    ASSERT_FALSE(direct.has_value());
    EXPECT_EQ(direct.error(), "failed to spawn the sarn-fetch worker thread: Resource temporarily unavailable");
    const auto events = log.with_message(direct.error());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].target, "sarn::api");
    EXPECT_EQ(events[0].level, vorn_log::Level::Error);

    *attempts = 0;
    sarn::FetchWorker worker(config);
    auto first = worker.submit(FetchRequest::home_feed());
    ASSERT_FALSE(first.has_value());
    EXPECT_EQ(first.error(), sarn::FetchWorker::SubmitError::NotStarted);
    EXPECT_FALSE(worker.started());
    ASSERT_TRUE(worker.start_error().has_value());

    auto second = worker.submit(FetchRequest::home_feed());
    ASSERT_TRUE(second.has_value());
    EXPECT_TRUE(worker.started());
    EXPECT_FALSE(worker.start_error().has_value());
    std::vector<std::string> lines;
    for (int i = 0; i < 500 && lines.size() < 5; ++i) {
        for (auto& result : worker.take_results(32)) lines.push_back(describe(result));
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], "Status offline");
    EXPECT_EQ(lines[4], "Status offline — no live data");
}

TEST(FetchWorkerSpawn, RealThreadIsNamedAndEndsWhenRequestsClose) {
    auto script = std::make_shared<LiveScript>();
    script->fail_start = true;
    sarn::FetchWorkerConfig config;
    config.ytdlp_program = "/nonexistent/yt-dlp";
    config.live_backend = factory_for(script);
    auto handle = sarn::spawn_fetch_worker(config);
    ASSERT_TRUE(handle.has_value()) << handle.error();
    handle->requests().close();
    EXPECT_EQ(handle->try_submit(FetchRequest::home_feed()).error(), sarn::TrySendError::Closed);
    std::vector<std::string> lines;
    while (auto result = handle->results().recv()) lines.push_back(describe(*result));
    EXPECT_EQ(lines.size(), 3u);
    std::lock_guard lock(script->mutex);
    EXPECT_EQ(script->start_threads, std::vector<std::string>{"sarn-fetch"});
}

}  // namespace
