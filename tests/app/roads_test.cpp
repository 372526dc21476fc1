// Whole roads through the live root, headless, with real ends on this
// machine: a search from its submit to the results on the page through a
// real fetch worker over the fake yt-dlp (with the innertube enrichment from
// a stand-in on 127.0.0.1); a stream the worker resolved opening the player
// on the synthesized engine; and a history write the disk refuses, with the
// history file the same, byte for byte, before and after.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "../innertube/fake_platform.h"
#include "../support/stand_in_fetch.h"
#include "page_test_support.h"
#include "root_harness.h"
#include "vorn_test/fake_ytdlp.h"

namespace sarn {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using innertube::testing::FakePlatform;
using innertube::testing::project_fixture;
using test::quiet_options;
using test::RootHarness;

bool frames_until(RootHarness& h, const std::function<bool()>& done, std::chrono::seconds limit = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        h.frame();
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

std::string read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The live root whose worker runs the fake yt-dlp, with every other outside
// address at the stand-in.
class LiveRoad : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(platform.started());
        // No session bus: the player's media keys are declined at once.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vorn-test-bus", 1);
    }

    SarnApp live_root() {
        SarnAppOptions options = quiet_options();
        options.fetch_config = [origin = platform.origin()] {
            FetchWorkerConfig config = support::stand_in_fetch_config(origin, 8);
            config.ytdlp_program = vorn_test::FakeYtDlp::program();
            return config;
        };
        return SarnApp::create(options).start_live();
    }

    // The scenario of a yt-dlp that knows one search, one video and its stream.
    void ytdlp_knows(const std::string& extra = "") {
        const std::string search = ytdlp.write_file(
            "search.json",
            R"({"_type":"playlist","id":"cats","entries":[)"
            R"({"_type":"url","id":"ytcat000001","title":"A cat at the window","channel":"Old Owner",)"
            R"("channel_id":"UCold0000000000000000001","view_count":4200,"duration":61},)"
            R"({"_type":"url","id":"ytcat000002","title":"Two cats and a box","channel":"Box Lab",)"
            R"("channel_id":"UCbox0000000000000000001","view_count":77,"duration":305}]})");
        ytdlp.set_scenario(fmt::format(
            "[when --version]\nstdout 2025.06.30\\n\n"
            "[when ytsearch30:cats]\nstdout-file {}\n"
            "[when best[protocol]\nstdout \"{}/clip.webm\"\\t320\\t240\\t30\\t\"240p\"\\t\"320x240\"\\t\"webm\"\\t\"vp8\"\\t"
            "\"vorbis\"\\n\n"
            "[when %(id)j]\nstdout \"ytcat000001\"\\t\"A cat at the window\"\\t\"Old Owner\"\\t"
            "\"UCold0000000000000000001\"\\t\"@oldowner\"\\t4200\\t12\\t61\\t\"20240101\"\\t\"Purring.\"\\tfalse\\n\n"
            "{}[always]\nexit 1\n",
            search, platform.origin(), extra));
    }

    FakePlatform platform;
    vorn_test::FakeYtDlp ytdlp;
};

TEST_F(LiveRoad, SearchFromSubmitToResults) {
    ytdlp_knows();
    platform.answer("search:cats", project_fixture("search-mixed.json"));
    RootHarness h(live_root());
    h.frame();
    // A click into the top bar's search input, the query typed, Enter.
    const auto input = screens::test::find_id(screens::test::dump_tree(h.app()), "search_input");
    ASSERT_TRUE(input.has_value());
    const double x = (input->rect.x0 + input->rect.x1) / 2, y = (input->rect.y0 + input->rect.y1) / 2;
    h.send(vorn_ui::PointerMoveEvent{{x, y}});
    h.send(vorn_ui::PointerButtonEvent{vorn_ui::PointerButton::Primary, true, {x, y}});
    h.send(vorn_ui::PointerButtonEvent{vorn_ui::PointerButton::Primary, false, {x, y}});
    h.send(vorn_ui::TextInputEvent{"cats"});
    EXPECT_EQ(h.app().search_text().text(), "cats");
    h.key(vorn_ui::NamedKey::Enter);
    EXPECT_EQ(h.app().library().route, Route::search("cats"));
    EXPECT_TRUE(h.app().library().search_loading);
    // The answer, not the loading flag: a home feed that fails first says
    // "offline", which clears the flag while the search is still out.
    ASSERT_TRUE(frames_until(h, [&] {
        const Library& lib = h.app().library();
        return !lib.search_result_videos.empty() || lib.search_error.has_value();
    }));
    h.frame();

    const Library& lib = h.app().library();
    EXPECT_FALSE(lib.search_error.has_value());
    EXPECT_EQ(lib.search_result_videos, (std::vector<std::string>{"ytcat000001", "ytcat000002"}));
    EXPECT_EQ(lib.search_result_channels, std::vector<std::string>{"UCchan000000000000000001"});
    EXPECT_EQ(lib.search_result_playlists.size(), 2u);
    // The yt-dlp video of a channel the enrichment knows got its avatar.
    ASSERT_NE(lib.find_video("ytcat000001"), nullptr);
    EXPECT_EQ(lib.find_video("ytcat000001")->channel_avatar_url, "https://yt3.example/large");
    EXPECT_EQ(lib.status.text, "live (rustypipe)");

    const auto rows = screens::test::dump_tree(h.app());
    EXPECT_TRUE(screens::test::find_id(rows, "video_card_ytcat000001"));
    EXPECT_TRUE(screens::test::find_id(rows, "video_card_ytcat000002"));
    const std::string page = screens::test::dump_text(rows);
    EXPECT_NE(page.find("Two cats and a box"), std::string::npos) << page;
    EXPECT_NE(page.find("Older Channel"), std::string::npos) << "the enrichment's creator:\n" << page;

    bool searched = false;
    for (const auto& run : ytdlp.runs()) {
        for (const auto& arg : run) searched = searched || arg == "ytsearch30:cats";
    }
    EXPECT_TRUE(searched);
    EXPECT_EQ(platform.count("search:cats"), 1);
}

TEST_F(LiveRoad, StreamReadyOpensThePlayerOnTheSynthesizedEngine) {
    ytdlp_knows();
    RootHarness h(live_root());
    h.app().player()->set_engine(media::engine::MediaEngine::create_synthesized(media::engine::EngineOptions{
        .audio = media::engine::AudioOutput::Null, .synthesized_width = 320, .synthesized_height = 180}));
    h.frame();
    h.run({intent::OpenVideo{"ytcat000001"}});
    EXPECT_EQ(h.app().library().route, Route::watch("ytcat000001"));
    ASSERT_TRUE(frames_until(h, [&] { return h.app().loaded_video() == std::optional<std::string>("ytcat000001"); }))
        << "no stream reached the player";
    EXPECT_TRUE(h.app().library().playing);
    const auto* engine = h.app().player()->engine();
    ASSERT_NE(engine, nullptr);
    EXPECT_TRUE(engine->is_synthesized());
    EXPECT_EQ(engine->address(), platform.origin() + "/clip.webm");
    ASSERT_TRUE(frames_until(h, [&] { return engine->is_playing() && engine->latest_frame().has_value(); }))
        << "the engine shows no picture";
    EXPECT_TRUE(h.app().needs_animation_frame()) << "a playing stream keeps the frames coming";

    // The details came too, and the page holds the player.
    ASSERT_TRUE(frames_until(h, [&] {
        const Video* v = h.app().library().find_video("ytcat000001");
        return v != nullptr && v->description == "Purring.";
    }));
    const auto rows = screens::test::dump_tree(h.app());
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const auto& r) { return r.type == "PlayerHost"; }));

    // Leaving the watch page unloads and pauses it.
    h.run({intent::GoBack{}});
    h.frame();
    EXPECT_FALSE(h.app().loaded_video().has_value());
    EXPECT_FALSE(h.app().player()->is_playing());
}

// A file-size limit below any save makes the disk refuse the write
// while the history file stays where it is: the notice shows, the file is
// byte for byte what it was and no temporary file is left beside it; with
// the limit lifted the next entry is saved again.
TEST(RootHistoryRoad, ARefusedWriteLeavesTheFileAsItWas) {
    std::string pattern = (fs::temp_directory_path() / "sarn-refused-history-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    SarnAppOptions options = quiet_options();
    options.history_data_dir = std::optional<fs::path>(dir);
    fs::path file;
    std::vector<std::string> ids;
    {
        RootHarness h(SarnApp::create(options));
        h.frame();
        file = OwnerHistoryStore::history_path(dir, h.app().library().profile);
        for (std::size_t i = 0; i < 4; ++i) ids.push_back(h.app().library().videos.at(i).id);
        h.run({intent::OpenVideo{ids[0]}});
        h.run({intent::OpenVideo{ids[1]}});
    }  // the root waits for its pending writes
    const std::string before = read_bytes(file);
    ASSERT_FALSE(before.empty());
    {
        RootHarness h(SarnApp::create(options));
        h.frame();
        const Library& lib = h.app().library();
        ASSERT_EQ(lib.history.size(), 2u);

        ::signal(SIGXFSZ, SIG_IGN);
        rlimit kept{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &kept), 0);
        rlimit tight = kept;
        tight.rlim_cur = 16;  // far below any save of a history document
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
        h.run({intent::OpenVideo{ids[2]}});
        const bool refused = frames_until(h, [&] { return lib.history_notice.has_value(); });
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &kept), 0);
        ASSERT_TRUE(refused) << "the refused write showed no notice";
        EXPECT_EQ(lib.history_notice, kHistorySaveFailedText);
        EXPECT_TRUE(read_bytes(file) == before) << "the history file changed";
        std::vector<std::string> beside;
        for (const auto& entry : fs::directory_iterator(file.parent_path())) {
            beside.push_back(entry.path().filename().string());
        }
        const std::string name = file.filename().string();
        EXPECT_EQ(beside.size(), 2u) << fmt::format("{}", fmt::join(beside, ", "));  // the file and its lock
        for (const auto& b : beside) EXPECT_TRUE(b == name || b == name + ".lock") << b;

        h.run({intent::OpenVideo{ids[3]}});
    }
    EXPECT_NE(read_bytes(file), before) << "the next entry was not saved";
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

}  // namespace
}  // namespace sarn
