// The developer modes as a person runs them: the real program as a child
// process, with the fake yt-dlp first on PATH and every outside service (the
// innertube API, the image host, Invidious) standing on 127.0.0.1; whatever
// tries to reach another address is counted by a trap and fails the test.
// For each mode: a success, an empty answer and a failing backend, with its
// standard output, standard error and exit status as the program gives them.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "probe_world.h"
#include "vorn_ui/image_decode.h"
#include "vorn_ui/theme.h"

namespace sarn::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The innertube answers of a working platform.
void answer_working_api(ProbeWorld& world) {
    world.answer("search:popular:*", {200, "innertube-popular.json"});
    world.answer("search:*", {200, "innertube-search.json"});
    world.answer("browse:FEtrending", {400, "innertube-trending-retired-400.json"});
    world.answer("next:rustvid0001", {200, "innertube-watch.json"});
    world.answer("browse:UCferris0000000000000001", {200, "innertube-channel.json"});
}

void make_working_world(ProbeWorld& world) {
    answer_working_api(world);
    world.set_ytdlp(ProbeWorld::working_ytdlp());
}

class ProbeProgram : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_world.ok()) << "the local world did not start (server, trap or clip)"; }
    void TearDown() override {
        EXPECT_EQ(m_world.outside_attempts(), 0) << "something tried to reach an address other than 127.0.0.1";
    }

    // The innertube answers of a working platform.
    void working_api() { answer_working_api(m_world); }

    std::string origin() const { return m_world.origin(); }
    // The text with "{{ORIGIN}}" replaced by the world's origin.
    std::string with_origin(std::string text) const {
        for (std::size_t at = text.find("{{ORIGIN}}"); at != std::string::npos; at = text.find("{{ORIGIN}}", at)) {
            text.replace(at, 10, origin());
        }
        return text;
    }

    ProbeWorld m_world;
};

// A port on 127.0.0.1 where nothing listens.
int closed_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 1;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    if (fd >= 0) close(fd);
    return port;
}

std::string explain(const Finished& done) {
    return fmt::format("status {}\n--- stdout\n{}--- stderr\n{}---", done.status, done.out, done.err);
}

// What the search still logs when the search answers ({{ORIGIN}} as in Case::out).
const std::string kSearchStillLog =
    "live-shots[search]: rustypipe search for \"rust programming\"…\n"
    "  4 videos, 1 playlists, 1 creators\n"
    "  fetched avatar for \"Quiet Coder\": {{ORIGIN}}/img/avatar-quiet.png\n"
    "  prewarming 8 thumbnails + avatars…\n"
    "  images settled: 0 still pending\n"
    "  -- render-time channel-record state --\n"
    "     id=\"UCferris0000000000000001\" name=\"Ferris Talks\" avatar=set store=DECODED\n"
    "     id=\"UCcrab00000000000000002\" name=\"Crab Lab\" avatar=set store=DECODED\n"
    "     id=\"UCquiet00000000000000003\" name=\"Quiet Coder\" avatar=set store=DECODED\n";

// One run of a mode and everything it should say.
struct Case {
    const char* name;
    std::function<void(ProbeWorld&)> setup;
    std::vector<std::string> args;
    int status;
    std::string out;  // {{ORIGIN}} stands for the world's origin
    std::string err;
};

class ProbeCases : public ProbeProgram {
protected:
    void run_cases(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            ProbeWorld world;
            ASSERT_TRUE(world.ok());
            c.setup(world);
            const Finished done = world.run(c.args);
            const auto origin_of = [&](std::string text) {
                for (std::size_t at = text.find("{{ORIGIN}}"); at != std::string::npos;
                     at = text.find("{{ORIGIN}}", at)) {
                    text.replace(at, 10, world.origin());
                }
                return text;
            };
            EXPECT_EQ(done.status, c.status) << explain(done);
            EXPECT_EQ(done.out, origin_of(c.out));
            EXPECT_EQ(done.err, origin_of(c.err));
            EXPECT_EQ(world.outside_attempts(), 0) << "something tried to reach an address other than 127.0.0.1";
        }
    }
};

const std::string kPopularLine = " popular videos; top: [popular0001] Most watched this week (9876543 views)\n";

// ---- trending ----

TEST_F(ProbeCases, Trending) {
    const std::string head =
        "probe-trending: calling the dedicated trending endpoint (FEtrending)…\n"
        "  dedicated endpoint FAILED (as expected, it is retired): trending: HTTP 400: Request contains an invalid "
        "argument.\n"
        "\n"
        "probe-trending: composing a REAL popular feed via view-count-sorted, last-week search…\n";
    const std::string constructing = "probe-trending: constructing the live rustypipe backend…\n";
    const std::string refused = "HTTP 400: Request contains an invalid argument.\n";
    run_cases({
        {"every topic answers", answer_working_api, {"--probe-trending"}, 0,
         head + "        news: 2" + kPopularLine + "       music: 2" + kPopularLine + "      gaming: 2" + kPopularLine +
             "  technology: 2" + kPopularLine + "      sports: 2" + kPopularLine + "     science: 2" + kPopularLine +
             "probe-trending: composed feed draws on 12 real popular videos across 6 topics.\n",
         constructing},
        {"one topic answers: still six topics asked",
         [](ProbeWorld& w) {
             answer_working_api(w);
             w.answer("search:popular:*", {400, "innertube-trending-retired-400.json"});
             w.answer("search:popular:music", {200, "innertube-popular.json"});
         },
         {"--probe-trending"}, 0,
         head + "       music: 2" + kPopularLine +
             "probe-trending: composed feed draws on 2 real popular videos across 6 topics.\n",
         constructing + "        news: FAILED: popular_search \"news\": " + refused +
             "      gaming: FAILED: popular_search \"gaming\": " + refused +
             "  technology: FAILED: popular_search \"technology\": " + refused +
             "      sports: FAILED: popular_search \"sports\": " + refused +
             "     science: FAILED: popular_search \"science\": " + refused},
        {"an empty answer everywhere",
         [](ProbeWorld& w) {
             answer_working_api(w);
             w.answer("search:popular:*", {200, "innertube-search-empty.json"});
         },
         {"--probe-trending"}, 2,
         head + "        news: empty\n       music: empty\n      gaming: empty\n  technology: empty\n"
                "      sports: empty\n     science: empty\n",
         constructing + "probe-trending: no popular results at all — network/parse failure.\n"},
        {"a failing service", [](ProbeWorld& w) { w.fail_api(500); }, {"--probe-trending"}, 2,
         "probe-trending: calling the dedicated trending endpoint (FEtrending)…\n"
         "  dedicated endpoint FAILED (as expected, it is retired): trending: HTTP 500: Internal error encountered.\n"
         "\n"
         "probe-trending: composing a REAL popular feed via view-count-sorted, last-week search…\n",
         constructing + "        news: FAILED: popular_search \"news\": HTTP 500: Internal error encountered.\n" +
             "       music: FAILED: popular_search \"music\": HTTP 500: Internal error encountered.\n" +
             "      gaming: FAILED: popular_search \"gaming\": HTTP 500: Internal error encountered.\n" +
             "  technology: FAILED: popular_search \"technology\": HTTP 500: Internal error encountered.\n" +
             "      sports: FAILED: popular_search \"sports\": HTTP 500: Internal error encountered.\n" +
             "     science: FAILED: popular_search \"science\": HTTP 500: Internal error encountered.\n" +
             "probe-trending: no popular results at all — network/parse failure.\n"},
    });
}

// ---- yt-dlp ----

TEST_F(ProbeCases, YtDlp) {
    const std::string head =
        "probe-ytdlp: backend = yt-dlp 2025.06.30\n"
        "probe-ytdlp: searching YouTube for \"blender open movie\" …\n";
    const std::string results =
        "  3 REAL results from YouTube:\n"
        "   1. [ytdlp000001] Big Buck Bunny 60fps 4K — Blender (1000000 views)\n"
        "        thumb={{ORIGIN}}/img/thumb-bbb.jpg\n"
        "   2. [ytdlp000002] Sintel — Blender (500000 views)\n"
        "        thumb=https://i.ytimg.com/vi/ytdlp000002/hqdefault.jpg\n"
        "   3. [ytdlp000003] Ownership explained — Crab Lab (7 views)\n"
        "        thumb={{ORIGIN}}/img/thumb-crab.jpg\n"
        "\n"
        "probe-ytdlp: video_details [ytdlp000001] …\n"
        "  title=\"Big Buck Bunny 60fps 4K\" channel=\"Blender\" views=1000000 likes=4321 desc_len=49\n"
        "  thumb=https://i.ytimg.com/vi/ytdlp000001/hqdefault.jpg\n"
        "\n"
        "probe-ytdlp: channel [UCblender000000000000001] …\n";
    const std::string constructing = "probe-ytdlp: constructing the yt-dlp backend…\n";
    run_cases({
        {"search, details and channel", make_working_world, {"--probe-ytdlp"}, 0,
         head + results +
             "  \"Blender\" (1870000 subscribers, verified=true); 4 uploads\n"
             "  avatar_url = {{ORIGIN}}/img/avatar-blender.png\n"
             "  banner_url = {{ORIGIN}}/img/banner-blender.jpg\n"
             "    upload [ytdlp000001] Big Buck Bunny 60fps 4K — thumb={{ORIGIN}}/img/thumb-bbb.jpg\n"
             "    upload [ytdlp000002] Sintel — thumb=https://i.ytimg.com/vi/ytdlp000002/hqdefault.jpg\n"
             "    upload [ytdlp000004] Tears of Steel — thumb=https://i.ytimg.com/vi/ytdlp000004/hqdefault.jpg\n",
         constructing},
        {"a channel without a banner is warned about",
         [](ProbeWorld& w) {
             w.set_ytdlp("[when UCblender]\nstdout-file {{ytdlp-channel-quiet.json}}\n" + ProbeWorld::working_ytdlp());
         },
         {"--probe-ytdlp"}, 0,
         head + results +
             "  \"Quiet Coder\" (900 subscribers, verified=false); 1 uploads\n"
             "  avatar_url = {{ORIGIN}}/img/avatar-quiet.png\n"
             "  banner_url = <none>\n"
             "    upload [rustvid0004] Writing a parser by hand — thumb=https://i.ytimg.com/vi/rustvid0004/hqdefault.jpg\n",
         constructing + "probe-ytdlp: WARNING — channel avatar/banner url missing.\n"},
        {"an empty answer",
         [](ProbeWorld& w) {
             w.set_ytdlp("[when ytsearch30:]\nstdout-file {{ytdlp-search-empty.json}}\n" + ProbeWorld::working_ytdlp());
         },
         {"--probe-ytdlp"}, 2, head + "  0 REAL results from YouTube:\n",
         constructing + "probe-ytdlp: EMPTY result set — reached yt-dlp but nothing parsed.\n"},
        {"a failing yt-dlp",
         [](ProbeWorld& w) {
             w.set_ytdlp("[when ytsearch30:]\nstderr ERROR: [youtube:search] Unable to download API page: HTTP Error "
                         "503\\n\nexit 1\n" +
                         ProbeWorld::working_ytdlp());
         },
         {"--probe-ytdlp", "big buck"}, 1,
         "probe-ytdlp: backend = yt-dlp 2025.06.30\n"
         "probe-ytdlp: searching YouTube for \"big buck\" …\n",
         constructing +
             "Error: \"yt-dlp failed: ERROR: [youtube:search] Unable to download API page: HTTP Error 503\"\n"},
    });
}

// ---- avatars ----

TEST_F(ProbeCases, Avatars) {
    const std::string constructing = "probe-avatars: constructing yt-dlp + rustypipe backends…\n";
    run_cases({
        {"both backends answer", make_working_world, {"--probe-avatars"}, 0,
         "\n== yt-dlp search \"blender open movie\" ==\n"
         "  [ytdlp000001] chan_id=\"UCblender000000000000001\" name=\"Blender\" avatar=<EMPTY>\n"
         "  [ytdlp000002] chan_id=\"UCblender000000000000001\" name=\"Blender\" avatar=<EMPTY>\n"
         "  [ytdlp000003] chan_id=\"UCcrab00000000000000002\" name=\"Crab Lab\" avatar=<EMPTY>\n"
         "\n== rustypipe search_items \"blender open movie\" ==\n"
         "  4 videos, 1 playlists, 1 creators\n"
         "  vid [rustvid0001] chan_id=\"UCferris0000000000000001\" name=\"Ferris Talks\" "
         "avatar={{ORIGIN}}/img/avatar-ferris.png\n"
         "  vid [rustvid0002] chan_id=\"UCcrab00000000000000002\" name=\"Crab Lab\" avatar={{ORIGIN}}/img/avatar-crab.jpg\n"
         "  vid [rustvid0003] chan_id=\"UCferris0000000000000001\" name=\"Ferris Talks\" "
         "avatar={{ORIGIN}}/img/avatar-ferris.png\n"
         "  vid [rustvid0004] chan_id=\"UCquiet00000000000000003\" name=\"Quiet Coder\" avatar=<none>\n"
         "  creator id=\"UCcrab00000000000000002\" name=\"Crab Lab\" avatar={{ORIGIN}}/img/avatar-crab.jpg\n"
         "\n== fetch-test rustypipe avatar URLs through the real ImageStore ==\n"
         "  DECODED id=\"UCcrab00000000000000002\"\n"
         "     {{ORIGIN}}/img/avatar-crab.jpg\n"
         "  DECODED id=\"UCferris0000000000000001\"\n"
         "     {{ORIGIN}}/img/avatar-ferris.png\n"
         "\n== by-CHANNEL-ID fold match: 1/3 yt-dlp videos would get an avatar ==\n"
         "== by-NORMALIZED-NAME fold match: 1/3 yt-dlp videos would get an avatar ==\n"
         "\n== dominant yt-dlp channel: \"Blender\" id=\"UCblender000000000000001\" (2 videos) ==\n"
         "  yt-dlp channel(UCblender000000000000001) → id=\"UCblender000000000000001\" name=\"Blender\" subs=1870000 "
         "avatar={{ORIGIN}}/img/avatar-blender.png\n"
         "  rustypipe channel FAILED: channel: HTTP 404: Requested entity was not found.\n"
         "\n== fetch + decode avatar URLs (real transport + ImageStore decoder) ==\n" +
             fmt::format("  rustypipe video-item avatar: {} bytes, format=PNG, ImageStore.decode=OK — "
                         "{{{{ORIGIN}}}}/img/avatar-ferris.png\n",
                         picture_for("/img/avatar-ferris.png", false).size()) +
             fmt::format("  rustypipe creator-row avatar: {} bytes, format=JPEG, ImageStore.decode=OK — "
                         "{{{{ORIGIN}}}}/img/avatar-crab.jpg\n",
                         picture_for("/img/avatar-crab.jpg", true).size()) +
             fmt::format("  yt-dlp channel-page avatar: {} bytes, format=PNG, ImageStore.decode=OK — "
                         "{{{{ORIGIN}}}}/img/avatar-blender.png\n",
                         picture_for("/img/avatar-blender.png", false).size()) +
             fmt::format("  video thumbnail (control): {} bytes, format=JPEG, ImageStore.decode=OK — "
                         "https://i.ytimg.com/vi/rustvid0001/hqdefault.jpg\n",
                         picture_for("/vi/rustvid0001/hqdefault.jpg", true).size()),
         constructing},
        {"empty answers from both",
         [](ProbeWorld& w) {
             w.answer("search:*", {200, "innertube-search-empty.json"});
             w.set_ytdlp("[when ytsearch30:]\nstdout-file {{ytdlp-search-empty.json}}\n" + ProbeWorld::working_ytdlp());
         },
         {"--probe-avatars"}, 0,
         "\n== yt-dlp search \"blender open movie\" ==\n"
         "\n== rustypipe search_items \"blender open movie\" ==\n"
         "  0 videos, 0 playlists, 0 creators\n"
         "\n== fetch-test rustypipe avatar URLs through the real ImageStore ==\n"
         "\n== by-CHANNEL-ID fold match: 0/0 yt-dlp videos would get an avatar ==\n"
         "== by-NORMALIZED-NAME fold match: 0/0 yt-dlp videos would get an avatar ==\n"
         "\n== fetch + decode avatar URLs (real transport + ImageStore decoder) ==\n",
         constructing},
        {"a failing innertube service",
         [](ProbeWorld& w) {
             w.set_ytdlp(ProbeWorld::working_ytdlp());
             w.fail_api(500);
         },
         {"--probe-avatars", "sintel"}, 1,
         "\n== yt-dlp search \"sintel\" ==\n"
         "  [ytdlp000001] chan_id=\"UCblender000000000000001\" name=\"Blender\" avatar=<EMPTY>\n"
         "  [ytdlp000002] chan_id=\"UCblender000000000000001\" name=\"Blender\" avatar=<EMPTY>\n"
         "  [ytdlp000003] chan_id=\"UCcrab00000000000000002\" name=\"Crab Lab\" avatar=<EMPTY>\n"
         "\n== rustypipe search_items \"sintel\" ==\n",
         constructing + "Error: \"search_items: HTTP 500: Internal error encountered.\"\n"},
    });
}

// ---- live catalogue ----

TEST_F(ProbeCases, Live) {
    const std::string head =
        "probe: backend = no_botguard (metadata only)\n"
        "probe: searching YouTube for \"rust programming\" …\n";
    const std::string results =
        "probe: 4 REAL results from YouTube:\n"
        "   1. [rustvid0001] Rust in 100 seconds  — Ferris Talks (1234567 views)\n"
        "   2. [rustvid0002] Ownership explained  — Crab Lab (456789 views)\n"
        "   3. [rustvid0003] Async Rust from scratch  — Ferris Talks (98765 views)\n"
        "   4. [rustvid0004] Writing a parser by hand  — Quiet Coder (12345 views)\n"
        "\n"
        "probe: video_details [rustvid0001] …\n";
    const std::string constructing = "probe: constructing the live rustypipe backend…\n";
    const std::string trending_failed = "  trending failed: trending: HTTP 400: Request contains an invalid argument.\n";
    run_cases({
        {"search and the details around it", answer_working_api, {"--probe"}, 0,
         head + results +
             "  title=\"Rust in 100 seconds\" channel=\"Ferris Talks\" views=1234567 likes=4321 desc_len=12\n"
             "probe: related [rustvid0001] …\n"
             "  2 recommendations; first: \"Rust vs. the world\"\n"
             "probe: channel_videos [UCferris0000000000000001] …\n"
             "  \"Ferris Talks\" (1200000 subs, verified=true); 2 uploads; first: \"Rust in 100 seconds\"\n"
             "probe: trending …\n",
         constructing + trending_failed},
        {"no related videos, no channel: still a success",
         [](ProbeWorld& w) {
             answer_working_api(w);
             w.answer("next:rustvid0001", {200, "innertube-watch-no-related.json"});
             w.answer("browse:UCferris0000000000000001", {404, "innertube-search-empty.json"});
         },
         {"--probe=rust programming"}, 0,
         head + results +
             "  title=\"Rust in 100 seconds\" channel=\"Ferris Talks\" views=1234567 likes=0 desc_len=0\n"
             "probe: related [rustvid0001] …\n"
             "  0 recommendations; first: \"<none>\"\n"
             "probe: channel_videos [UCferris0000000000000001] …\n"
             "probe: trending …\n",
         constructing + "  channel_videos failed: channel: HTTP 404\n" + trending_failed},
        {"an empty answer",
         [](ProbeWorld& w) { w.answer("search:*", {200, "innertube-search-empty.json"}); },
         {"--probe"}, 2, head + "probe: 0 REAL results from YouTube:\n",
         constructing + "probe: EMPTY result set — network reached YouTube but no videos parsed.\n"},
        {"a failing service", [](ProbeWorld& w) { w.fail_api(500); }, {"--probe", "--probe-whatever"}, 2, head,
         constructing + "probe: LIVE SEARCH FAILED (network/parse): search: HTTP 500: Internal error encountered.\n"},
    });
}

// ---- media engine ----

// The engine probe watches for 20 seconds whatever happens; its picture
// lines depend on the clip's timing, so they are checked by their shape.
TEST_F(ProbeProgram, EngineDecodesTheLocalClip) {
    m_world.set_ytdlp(ProbeWorld::working_ytdlp());
    const Finished done = m_world.run({"--probe-engine", "localclip"});
    ASSERT_EQ(done.status, 0) << explain(done);
    EXPECT_EQ(done.err, "probe-engine: constructing the yt-dlp backend…\n");
    EXPECT_TRUE(done.out.starts_with(with_origin("probe-engine: resolved 240p; url(host)={{ORIGIN}}/clip.webm\n"
                                                 "probe-engine: engine real_decode=true (decode compiled=true)\n")))
        << done.out;
    const std::regex frame(R"(  frame ([0-9]+): 320x240 pts=[0-9]+ms checksum=0x[0-9a-f]{16}\n)");
    std::vector<std::string> numbers;
    for (auto it = std::sregex_iterator(done.out.begin(), done.out.end(), frame); it != std::sregex_iterator(); ++it) {
        numbers.push_back((*it)[1]);
    }
    EXPECT_EQ(numbers, (std::vector<std::string>{"1", "2", "3"})) << done.out;
    EXPECT_NE(done.out.find("probe-engine: duration known = "), std::string::npos) << done.out;
    std::smatch last;
    ASSERT_TRUE(std::regex_search(done.out, last,
                                  std::regex(R"(probe-engine: ([0-9]+) DISTINCT frames; final pos=[0-9]+ms )"
                                             R"(dur=Some\([0-9]+\)ms buffering=[0-9]+%\n)"
                                             R"(probe-engine: REAL playback through the media engine — ([0-9]+) )"
                                             R"(distinct pictures\.\n$)")))
        << done.out;
    EXPECT_EQ(last[1], last[2]);
    EXPECT_GT(std::stoi(last[1]), 3) << "a moving ball gives a new picture every frame";
}

TEST_F(ProbeProgram, EngineFallsBackToInvidious) {
    m_world.set_ytdlp("[when best[protocol^=https]\nstderr ERROR: [youtube] aqz-KE-bpKQ: Sign in to confirm\\n\nexit 1\n" +
                      ProbeWorld::working_ytdlp());
    m_world.serve_invidious();
    const Finished done = m_world.run({"--probe-engine"});
    ASSERT_EQ(done.status, 0) << explain(done);
    EXPECT_TRUE(done.out.starts_with(with_origin("probe-engine: resolved 720p; url(host)={{ORIGIN}}/latest_version\n")))
        << done.out;
    EXPECT_NE(done.out.find("probe-engine: REAL playback through the media engine — "), std::string::npos) << done.out;
}

TEST_F(ProbeProgram, EngineWithAStreamThatIsNoVideo) {
    m_world.set_ytdlp("[when best[protocol^=https]\nstdout-file {{ytdlp-stream-broken.txt}}\n" + ProbeWorld::working_ytdlp());
    const Finished done = m_world.run({"--probe-engine", "broken"});
    ASSERT_EQ(done.status, 3) << explain(done);
    EXPECT_TRUE(done.out.starts_with(with_origin("probe-engine: resolved 240p; url(host)={{ORIGIN}}/broken.webm\n")))
        << done.out;
    EXPECT_TRUE(std::regex_search(done.out, std::regex(R"(\nprobe-engine: 0 DISTINCT frames; final pos=0ms dur=Nonems buffering=[0-9]+%\n$)")))
        << done.out;
    EXPECT_EQ(done.out.find("  frame "), std::string::npos) << done.out;
    EXPECT_TRUE(done.err.starts_with("probe-engine: constructing the yt-dlp backend…\nprobe-engine: ENGINE ERROR: "))
        << done.err;
    EXPECT_TRUE(done.err.ends_with(
        "probe-engine: the media engine produced NO frame (errored=true) — reported honestly, not faked.\n"))
        << done.err;
}

TEST_F(ProbeProgram, EngineWithoutAnyStream) {
    m_world.set_ytdlp("[when best[protocol^=https]\nstderr ERROR: [youtube] x: Video unavailable\\n\nexit 1\n" +
                      ProbeWorld::working_ytdlp());
    const Finished done = m_world.run({"--probe-gst=gone"});
    EXPECT_EQ(done.status, 1) << explain(done);
    EXPECT_EQ(done.out, "");
    EXPECT_EQ(done.err,
              "probe-engine: constructing the yt-dlp backend…\n"
              "Error: \"no directly-playable stream resolved\"\n");
    // Both sources were asked: yt-dlp, then Invidious for both formats.
    const auto requests = m_world.requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [](const std::string& r) { return r.starts_with("GET /latest_version"); }),
              2);
}

// ---- live screenshots ----

// The picture of a PNG file.
std::optional<vorn_ui::image_decode::Rgba> read_png(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (vorn_ui::image_decode::sniff(bytes) != vorn_ui::image_decode::Format::Png) return std::nullopt;
    auto picture = vorn_ui::image_decode::decode(bytes);
    if (!picture) return std::nullopt;
    return std::move(*picture);
}

struct Pixel {
    int r, g, b;
};

Pixel at(const vorn_ui::image_decode::Rgba& picture, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* p = &picture.pixels[(static_cast<std::size_t>(y) * picture.width + x) * 4];
    return {p[0], p[1], p[2]};
}

// The mean colour of a square of 2r+1 pixels around (x, y).
Pixel mean_around(const vorn_ui::image_decode::Rgba& picture, std::uint32_t x, std::uint32_t y, std::uint32_t r) {
    long sr = 0, sg = 0, sb = 0, n = 0;
    for (std::uint32_t yy = y - r; yy <= y + r; ++yy) {
        for (std::uint32_t xx = x - r; xx <= x + r; ++xx) {
            const Pixel p = at(picture, xx, yy);
            sr += p.r, sg += p.g, sb += p.b, ++n;
        }
    }
    return {static_cast<int>(sr / n), static_cast<int>(sg / n), static_cast<int>(sb / n)};
}

bool near(Pixel a, Pixel b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

Pixel pixel_of(vorn_ui::Color c) {
    return {static_cast<int>(std::lround(c.r * 255)), static_cast<int>(std::lround(c.g * 255)),
            static_cast<int>(std::lround(c.b * 255))};
}

std::string show(Pixel p) { return fmt::format("({}, {}, {})", p.r, p.g, p.b); }

// The centre colour of the picture the image host serves for a path.
Pixel served_centre(const std::string& path) {
    const auto bytes = picture_for(path, !path.ends_with(".png"));
    auto picture = vorn_ui::image_decode::decode(bytes);
    if (!picture) return {-1000, -1000, -1000};
    return mean_around(*picture, picture->width / 2, picture->height / 2, 3);
}

TEST_F(ProbeProgram, ShotsOfEveryStillInEveryTheme) {
    working_api();
    m_world.set_ytdlp(ProbeWorld::working_ytdlp());
    const struct {
        const char* value;
        vorn_ui::Theme theme;
    } themes[] = {
        {"dark", vorn_ui::Theme::dark()},
        {"light", vorn_ui::Theme::light()},
        {"high-contrast", vorn_ui::Theme::high_contrast()},
        {"Light", vorn_ui::Theme::dark()},  // the comparison is exact
    };
    for (const auto& t : themes) {
        SCOPED_TRACE(t.value);
        const fs::path dir = m_world.home().root() / fmt::format("shots-{}", t.value) / "new";
        const Finished done = m_world.run({"--live-shots", dir.string()}, true, {{"VORN_SHOTS_THEME", t.value}});
        ASSERT_EQ(done.status, 0) << explain(done);
        const std::string d = dir.string();
        EXPECT_EQ(done.out,
                  with_origin("live-shots[watch]: metadata + rangeable stream for [aqz-KE-bpKQ]…\n"
                              "  resolved 240p stream; decoding a real frame via the media engine…\n"
                              "  creator avatar: {{ORIGIN}}/img/avatar-blender.png\n"
                              "sarn: wrote shot to " + d + "/watch.png\n"
                              "  wrote " + d + "/watch.png\n"
                              + kSearchStillLog +
                              "sarn: wrote shot to " + d + "/search.png\n"
                              "  wrote " + d + "/search.png\n"
                              "sarn: wrote shot to " + d + "/home.png\n"
                              "  wrote " + d + "/home.png\n"
                              "live-shots[playlist]: fetching PLrust000000000000000001 via yt-dlp…\n"
                              "sarn: wrote shot to " + d + "/playlist.png\n"
                              "  wrote " + d + "/playlist.png (3 videos)\n"
                              "live-shots: done (" + d + ")\n"));
        EXPECT_EQ(done.err, "");

        const Pixel background = pixel_of(t.theme.background);
        std::map<std::string, vorn_ui::image_decode::Rgba> shots;
        for (const char* name : {"watch.png", "search.png", "home.png", "playlist.png"}) {
            auto picture = read_png(dir / name);
            ASSERT_TRUE(picture.has_value()) << name;
            EXPECT_EQ(picture->width, 1280u) << name;
            EXPECT_EQ(picture->height, 860u) << name;
            // An empty stretch of the page shows the theme's background.
            const Pixel empty = at(*picture, 1200, 800);
            EXPECT_TRUE(near(empty, background, 3)) << name << " shows " << show(empty) << ", not " << show(background);
            shots.emplace(name, std::move(*picture));
            if (const char* keep = std::getenv("VORN_SHOT_DIR")) {
                std::error_code ec;
                fs::copy_file(dir / name, fs::path(keep) / fmt::format("{}-{}", t.value, name),
                              fs::copy_options::overwrite_existing, ec);
            }
        }
        // The watch still shows a decoded picture of the clip: a white ball on black.
        std::size_t white = 0, black = 0;
        for (std::uint32_t y = 80; y < 560; y += 4) {
            for (std::uint32_t x = 200; x < 1160; x += 4) {
                const Pixel p = at(shots.at("watch.png"), x, y);
                if (p.r > 235 && p.g > 235 && p.b > 235) ++white;
                if (p.r < 12 && p.g < 12 && p.b < 12) ++black;
            }
        }
        EXPECT_GT(white, 50u) << "no ball on the player";
        EXPECT_GT(black, 10'000u) << "no picture on the player";
        // Pictures that arrived are drawn, not their placeholders: the first
        // search result's thumbnail, the avatar beside it (a light disc on a
        // gradient, where a placeholder shows initials), the same card on
        // Home, the playlist's cover.
        const Pixel thumb = served_centre("/vi/rustvid0001/hqdefault.jpg");
        const Pixel search_thumb = mean_around(shots.at("search.png"), 295, 644, 3);
        EXPECT_TRUE(near(search_thumb, thumb, 24)) << show(search_thumb) << " vs " << show(thumb);
        const Pixel home_thumb = mean_around(shots.at("home.png"), 295, 224, 3);
        EXPECT_TRUE(near(home_thumb, thumb, 24)) << show(home_thumb) << " vs " << show(thumb);
        const Pixel disc = mean_around(shots.at("search.png"), 133, 753, 1);
        EXPECT_TRUE(near(disc, {245, 237, 224}, 20)) << show(disc);
        // (The playlist page takes its cover from yt-dlp: the first video's picture.)
        const Pixel cover = served_centre("/img/lesson-1.jpg");
        const Pixel playlist_cover = mean_around(shots.at("playlist.png"), 230, 157, 3);
        EXPECT_TRUE(near(playlist_cover, cover, 24)) << show(playlist_cover) << " vs " << show(cover);
    }
}

TEST_F(ProbeCases, ShotsThatCannotBeMade) {
    run_cases({
        {"no stream: no watch still, the others are made",
         [](ProbeWorld& w) {
             answer_working_api(w);
             w.set_ytdlp("[when best[protocol^=https]\nexit 1\n" + ProbeWorld::working_ytdlp());
         },
         {"--live-shots=", "--probe"}, 0,
         "live-shots[watch]: metadata + rangeable stream for [aqz-KE-bpKQ]…\n"
         + kSearchStillLog +
         "sarn: wrote shot to search.png\n"
         "  wrote search.png\n"
         "sarn: wrote shot to home.png\n"
         "  wrote home.png\n"
         "live-shots[playlist]: fetching PLrust000000000000000001 via yt-dlp…\n"
         "sarn: wrote shot to playlist.png\n"
         "  wrote playlist.png (3 videos)\n"
         "live-shots: done ()\n",
         "live-shots[watch]: no Invidious proxy served bytes and no direct URL resolved — skipped the watch still "
         "(reported honestly, not faked).\n"},
        {"an empty search: only the watch still, and no playlist looked for",
         [](ProbeWorld& w) {
             w.answer("search:*", {200, "innertube-search-empty.json"});
             w.set_ytdlp(ProbeWorld::working_ytdlp());
         },
         {"--live-shots", "out", "cats"}, 0,
         "live-shots[watch]: metadata + rangeable stream for [aqz-KE-bpKQ]…\n"
         "  resolved 240p stream; decoding a real frame via the media engine…\n"
         "  creator avatar: {{ORIGIN}}/img/avatar-blender.png\n"
         "sarn: wrote shot to out/watch.png\n"
         "  wrote out/watch.png\n"
         "live-shots[search]: rustypipe search for \"cats\"…\n"
         "live-shots: done (out)\n",
         "live-shots[search]: empty result set — skipping search/home/playlist stills.\n"},
        {"a failing innertube service and no details: the fallback record, then the search fails",
         [](ProbeWorld& w) {
             w.fail_api(500);
             w.set_ytdlp("[when best[protocol^=https]\nstdout-file {{ytdlp-stream.txt}}\n[when v=aqz-KE-bpKQ]\nexit 1\n"
                         "[when /videos]\nexit 1\n" +
                         ProbeWorld::working_ytdlp());
         },
         {"--live-shots", "out"}, 0,
         "live-shots[watch]: metadata + rangeable stream for [aqz-KE-bpKQ]…\n"
         "  resolved 240p stream; decoding a real frame via the media engine…\n"
         "sarn: wrote shot to out/watch.png\n"
         "  wrote out/watch.png\n"
         "live-shots[search]: rustypipe search for \"rust programming\"…\n"
         "live-shots: done (out)\n",
         "live-shots[search]: rustypipe search failed: search_items: HTTP 500: Internal error encountered.\n"},
        {"no playlist resolves",
         [](ProbeWorld& w) {
             answer_working_api(w);
             w.set_ytdlp("[when playlist?list=]\nstderr ERROR: This playlist does not exist\\n\nexit 1\n" +
                         ProbeWorld::working_ytdlp());
         },
         {"--live-shots", "out"}, 0,
         "live-shots[watch]: metadata + rangeable stream for [aqz-KE-bpKQ]…\n"
         "  resolved 240p stream; decoding a real frame via the media engine…\n"
         "  creator avatar: {{ORIGIN}}/img/avatar-blender.png\n"
         "sarn: wrote shot to out/watch.png\n"
         "  wrote out/watch.png\n"
         + kSearchStillLog +
         "sarn: wrote shot to out/search.png\n"
         "  wrote out/search.png\n"
         "sarn: wrote shot to out/home.png\n"
         "  wrote out/home.png\n"
         "live-shots[playlist]: fetching PLrust000000000000000001 via yt-dlp…\n"
         "live-shots: done (out)\n",
         "live-shots[playlist]: no listed playlist resolved — skipping playlist still.\n"},
    });
}

// ---- without any backend ----

// No yt-dlp on PATH and nothing answering at the origin: every mode ends on
// its own, with its error text and status.
TEST_F(ProbeProgram, EveryModeEndsWithoutAnyBackend) {
    const std::string dead_origin = fmt::format("http://127.0.0.1:{}", closed_port());
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err_start;
        std::string err_end;
    } cases[] = {
        {{"--probe-trending"}, 2, "probe-trending: constructing the live rustypipe backend…\n        news: FAILED: popular_search \"news\": ",
         "probe-trending: no popular results at all — network/parse failure.\n"},
        {{"--probe-engine"}, 1, "probe-engine: constructing the yt-dlp backend…\nError: \"yt-dlp backend: yt-dlp not runnable: ", "\"\n"},
        {{"--probe-ytdlp"}, 1, "probe-ytdlp: constructing the yt-dlp backend…\nError: \"yt-dlp backend: yt-dlp not runnable: ", "\"\n"},
        {{"--probe-avatars"}, 1, "probe-avatars: constructing yt-dlp + rustypipe backends…\nError: \"yt-dlp: yt-dlp not runnable: ", "\"\n"},
        {{"--probe"}, 2, "probe: constructing the live rustypipe backend…\nprobe: LIVE SEARCH FAILED (network/parse): search: ", "\n"},
        {{"--live-shots", "out"}, 1, "Error: \"yt-dlp backend: yt-dlp not runnable: ", "\"\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        const Finished done = m_world.run(c.args, false, {{"VORN_SARN_TEST_ORIGIN", dead_origin}}, 60s);
        ASSERT_NE(done.status, -1) << "still running after a minute\n" << explain(done);
        EXPECT_EQ(done.status, c.status) << explain(done);
        EXPECT_TRUE(done.err.starts_with(c.err_start)) << done.err;
        EXPECT_TRUE(done.err.ends_with(c.err_end)) << done.err;
    }
    EXPECT_FALSE(fs::exists(m_world.home().root() / "out" / "watch.png"));
}

}  // namespace
}  // namespace sarn::test
