// The probes over stand-in backends, in this process: the answers that no
// real backend gives (a page of the wrong kind), the image probe's
// bookkeeping, and the engine probe over the synthesized engine. What the
// probes print against the real backends is checked with the program itself
// in probe_process_test.cpp.
#include "sarn/main/probes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <fmt/format.h>

#include "sarn/main/live_shots.h"
#include "vorn_ui/image_decode.h"
#include "vorn_ui/offscreen.h"

namespace sarn::entry {
namespace {

using namespace std::chrono_literals;

// Standard output and error of a mode, kept in memory.
class Captured {
public:
    Captured() {
        m_out = open_memstream(&m_out_buf, &m_out_len);
        m_err = open_memstream(&m_err_buf, &m_err_len);
    }
    ~Captured() {
        close();
        std::free(m_out_buf);
        std::free(m_err_buf);
    }
    ModeOutput output() const { return ModeOutput{m_out, m_err}; }
    std::string out() {
        std::fflush(m_out);
        return std::string(m_out_buf, m_out_len);
    }
    std::string err() {
        std::fflush(m_err);
        return std::string(m_err_buf, m_err_len);
    }

private:
    void close() {
        if (m_out) std::fclose(m_out);
        if (m_err) std::fclose(m_err);
        m_out = m_err = nullptr;
    }
    std::FILE* m_out = nullptr;
    std::FILE* m_err = nullptr;
    char* m_out_buf = nullptr;
    char* m_err_buf = nullptr;
    std::size_t m_out_len = 0;
    std::size_t m_err_len = 0;
};

Video video(std::string id, std::string title) {
    Video v;
    v.id = std::move(id);
    v.title = std::move(title);
    v.channel_id = "UCx";
    v.channel_name = "X";
    return v;
}

// Answers whatever the test put in it; every query not set fails.
class StubBackend final : public LiveCatalogBackend {
public:
    CatalogResult<CatalogPage> search_answer = std::unexpected(std::string("no search"));
    CatalogResult<CatalogPage> video_answer = std::unexpected(std::string("no video"));
    CatalogResult<CatalogPage> channel_answer = std::unexpected(std::string("no channel"));
    CatalogResult<PlaybackSource> stream_answer = std::unexpected(std::string("no stream"));

    std::string_view name() const override { return "stub"; }
    CatalogResult<CatalogPage> search(std::string_view) override { return search_answer; }
    CatalogResult<CatalogPage> video(std::string_view) override { return video_answer; }
    CatalogResult<CatalogPage> channel(std::string_view) override { return channel_answer; }
    CatalogResult<CatalogPage> related(std::string_view) override { return std::unexpected(std::string("no related")); }
    CatalogResult<CatalogPage> trending() override { return std::unexpected(std::string("no trending")); }
    CatalogResult<PlaybackSource> playback_source(std::string_view) override { return stream_answer; }
    CatalogResult<SearchItems> search_items(std::string_view) override { return std::unexpected(std::string("no items")); }
    CatalogResult<PlaylistAnswer> fetch_playlist(std::string_view) override {
        return std::unexpected(std::string("no playlist"));
    }
};

DevServices stub_services(const Captured& captured, StubBackend backend) {
    auto shared = std::make_shared<StubBackend>(std::move(backend));
    DevServices services;
    services.start_ytdlp = [shared]() -> CatalogResult<std::unique_ptr<CatalogBackend>> {
        return std::make_unique<StubBackend>(*shared);
    };
    services.start_live = [shared]() -> CatalogResult<std::unique_ptr<LiveCatalogBackend>> {
        return std::make_unique<StubBackend>(*shared);
    };
    services.probe_invidious = [](std::string_view) { return std::optional<InvidiousStream>{}; };
    services.new_image_store = [] {
        return vorn_ui::image_store::ImageStore::create([](const std::string&) { return std::nullopt; });
    };
    services.new_media_engine = [] { return media::engine::MediaEngine::create_synthesized(); };
    services.output = captured.output();
    return services;
}

// An answer of another kind than the step asks for (a search that answers no
// list of videos, details that are no video, a channel that is none) is no
// result: the probe says so and ends with status 2, never with success.
TEST(ProbesMeetingAnUnexpectedAnswer, SayItAndFindNothing) {
    const CatalogPage found = CatalogPage::of_videos({video("v1", "One")});
    const CatalogPage a_video = CatalogPage::of_video(video("v1", "One"));
    const CatalogPage a_channel = CatalogPage::of_channel(Channel{}, {});
    const struct {
        const char* name;
        CatalogPage search, details, channel;
        ModeResult (*probe)(const DevServices&, std::string_view);
        std::string line;
        const char* not_after;  // a line the probe must not reach
    } cases[] = {
        {"yt-dlp probe, a video page for the search", a_video, a_video, a_channel, probe_ytdlp,
         "probe-ytdlp: unexpected result variant\n", "REAL results"},
        {"yt-dlp probe, a channel page for the search", a_channel, a_video, a_channel, probe_ytdlp,
         "probe-ytdlp: unexpected result variant\n", "REAL results"},
        {"yt-dlp probe, a channel page for the details", found, a_channel, a_channel, probe_ytdlp,
         "probe-ytdlp: video_details [v1] …\nprobe-ytdlp: unexpected result variant\n", "probe-ytdlp: channel ["},
        {"yt-dlp probe, a list of videos for the channel", found, a_video, found, probe_ytdlp,
         "probe-ytdlp: channel [UCx] …\nprobe-ytdlp: unexpected result variant\n", "subscribers"},
        {"live probe, a video page for the search", a_video, a_video, a_channel, probe_live,
         "probe: unexpected result variant: Video(Video { id: \"v1\", title: \"One\", dearrow_title: None, "
         "channel_id: \"UCx\", channel_name: \"X\", channel_seed: \"\", channel_avatar_url: \"\", views: 0, "
         "published: \"\", duration: 0, description: \"\", likes: 0, seed: \"\", thumbnail_url: \"\", category: "
         "\"\", dearrow_thumb: false, sponsor: [], comments: [], live: false })\n",
         "REAL results"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Captured captured;
        StubBackend backend;
        backend.search_answer = c.search;
        backend.video_answer = c.details;
        backend.channel_answer = c.channel;
        const ModeResult result = c.probe(stub_services(captured, backend), "q");
        ASSERT_TRUE(result.has_value()) << result.error().debug;
        EXPECT_EQ(*result, ModeExit::NothingFound);
        const std::string out = captured.out();
        EXPECT_TRUE(out.ends_with(c.line)) << out;
        EXPECT_EQ(out.find(c.not_after), std::string::npos) << out;
    }
}

TEST(ProbeImageUrl, OneLinePerAddressAndRun) {
    const auto png = vorn_ui::offscreen::encode_png(2, 2, std::vector<std::uint8_t>(16, 0xff));
    ASSERT_TRUE(png.has_value());
    const vorn_ui::image_store::FetchFunction fetch = [&](const std::string& address) -> std::optional<std::vector<std::uint8_t>> {
        if (address == "http://img/good.png") return *png;
        if (address == "http://img/html") return std::vector<std::uint8_t>{'<', 'h', 't', 'm', 'l', '>'};
        return std::nullopt;
    };
    Captured captured;
    ImageProbeContext context{{}, vorn_ui::image_store::ImageStore::create(fetch), fetch};
    const ModeOutput output = captured.output();
    probe_image_url(context, output, "first", "http://img/good.png", 5s);
    probe_image_url(context, output, "again", "http://img/good.png", 5s);
    probe_image_url(context, output, "nothing", "", 5s);
    probe_image_url(context, output, "not a picture", "http://img/html", 5s);
    probe_image_url(context, output, "gone", "http://img/missing?token=1", 5s);
    EXPECT_EQ(captured.out(),
              fmt::format("  first: {} bytes, format=PNG, ImageStore.decode=OK — http://img/good.png\n"
                          "  not a picture: 6 bytes, format=OTHER, ImageStore.decode=FAILED — http://img/html\n"
                          "  gone: FETCH FAILED (store.decode=false) — http://img/missing\n",
                          png->size()));
}

// The synthesized engine draws a new picture every frame: the probe counts
// them all but prints the first three only.
TEST(ProbeEngine, CountsDistinctPicturesAndPrintsThreeAtMost) {
    Captured captured;
    StubBackend backend;
    backend.stream_answer = PlaybackSource{"https://stream.invalid/clip.webm", "webm; vp9", "1080p", 1920, 1080, true, 30};
    DevServices services = stub_services(captured, backend);
    services.engine_watch = 1500ms;
    const ModeResult result = probe_engine(services, "abc");
    ASSERT_TRUE(result.has_value()) << result.error().debug;
    EXPECT_EQ(*result, ModeExit::Success);
    const std::string out = captured.out();
    EXPECT_TRUE(out.starts_with("probe-engine: resolved 1080p; url(host)=https://stream.invalid/clip.webm\n"
                                "probe-engine: engine real_decode=true (decode compiled=true)\n"))
        << out;
    std::size_t frame_lines = 0;
    for (std::size_t at = out.find("\n  frame "); at != std::string::npos; at = out.find("\n  frame ", at + 1)) ++frame_lines;
    EXPECT_EQ(frame_lines, 3u) << out;
    const auto count_at = out.find("probe-engine: REAL playback through the media engine — ");
    ASSERT_NE(count_at, std::string::npos) << out;
    EXPECT_GT(std::stoi(out.substr(count_at + std::string_view("probe-engine: REAL playback through the media engine — ").size())), 3)
        << out;
    EXPECT_EQ(captured.err(), "probe-engine: constructing the yt-dlp backend…\n");
}

TEST(ProbeEngine, WithoutAnyStreamEndsWithTheError) {
    Captured captured;
    const ModeResult result = probe_engine(stub_services(captured, StubBackend{}), "abc");
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().debug, "\"no directly-playable stream resolved\"");
    EXPECT_EQ(captured.out(), "");
}

// write_shot draws the root as the store holds its pictures: a thumbnail
// that has arrived is on the page, not its placeholder.
TEST(WriteShot, DrawsThePicturesTheStoreHolds) {
    std::vector<std::uint8_t> green(64 * 36 * 4);
    for (std::size_t i = 0; i < green.size(); i += 4) {
        green[i] = 20;
        green[i + 1] = 200;
        green[i + 2] = 40;
        green[i + 3] = 255;
    }
    const auto png = vorn_ui::offscreen::encode_png(64, 36, green);
    ASSERT_TRUE(png.has_value());
    auto store = vorn_ui::image_store::ImageStore::create(
        [&](const std::string&) -> std::optional<std::vector<std::uint8_t>> { return *png; });
    Library library;
    Video v = video("v1", "A green one");
    v.thumbnail_url = "http://img/green.png";
    library.upsert_video(v);
    library.route = Route::home();
    prewarm_images(store, std::vector<std::string>{v.thumbnail_url, ""});
    ASSERT_TRUE(store.block_until_idle(5s));

    SarnAppOptions options;
    options.history_data_dir.emplace(std::nullopt);
    SarnApp root = SarnApp::create(options).with_viewport_size(1280, 860).with_library(library).with_image_store(store);
    char dir_template[] = "/tmp/vorn-shot-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::filesystem::path path = std::filesystem::path(dir_template) / "deeper" / "home.png";
    Captured captured;
    auto written = write_shot(root, path, captured.output());
    ASSERT_TRUE(written.has_value()) << written.error().debug;
    EXPECT_EQ(captured.out(), "sarn: wrote shot to " + path.string() + "\n");

    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto picture = vorn_ui::image_decode::decode(bytes);
    ASSERT_TRUE(picture.has_value());
    EXPECT_EQ(picture->width, 1280u);
    EXPECT_EQ(picture->height, 860u);
    std::size_t green_pixels = 0;
    for (std::size_t i = 0; i < picture->pixels.size(); i += 4) {
        const auto* p = &picture->pixels[i];
        if (p[0] < 40 && p[1] > 180 && p[2] < 60) ++green_pixels;
    }
    EXPECT_GT(green_pixels, 20'000u) << "the thumbnail is not on the page";
    std::filesystem::remove_all(dir_template);
}

}  // namespace
}  // namespace sarn::entry
