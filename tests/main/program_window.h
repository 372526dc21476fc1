// What the window tests of the program share: its window on a private X
// server driven by XTest, its home, bus and proxy trap, the test server that
// stands in for every outside origin, and the headless twin of the root that
// says where a control lies and what the window should show.
//
// Test thread only, except where a member says otherwise.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "automerge/document.h"
#include "page_test_support.h"
#include "program_process.h"
#include "root_harness.h"
#include "sarn/actions/owner_history.h"
#include "sarn/backend/ytdlp_backend.h"
#include "sarn/main/launch.h"
#include "vorn_test/local_server.h"
#include "vorn_ui/persist.h"
#include "vorn_ui/theme.h"
#include "x_client.h"
#include "xvfb_display.h"

// The tree helpers live with the page tests now.
namespace sarn::test {
using screens::test::dump_text;
using screens::test::dump_tree;
using screens::test::DumpRow;
using screens::test::find_id;
using screens::test::find_text;
using screens::test::with_id_prefix;
}  // namespace sarn::test

namespace sarn::entry::window {

using namespace std::chrono_literals;
using vorn_test::XClient;
using Shot = XClient::Shot;
using Args = std::vector<std::string>;

inline constexpr const char* kWindowTitle = "org.vorn.Sarn";

// What the test server answers for every video's extras.
inline const std::vector<Segment> kServedSegments = {Segment{SponsorCategory::Sponsor, 0.5, 1.5, 7}};
inline constexpr std::uint64_t kServedDislikes = 4242;

// What waits on the fetch worker's road (its queue of yt-dlp runs and HTTP
// requests, answered one at a time) gets longer on a loaded machine.
inline constexpr std::chrono::milliseconds kWorkerRoad = 30s;

inline bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return done();
}

inline std::uint32_t rgb(vorn_ui::Color color) {
    auto channel = [](float v) { return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
    return channel(color.r) << 16 | channel(color.g) << 8 | channel(color.b);
}

inline bool near(std::uint32_t got, std::uint32_t want, int tolerance = 6) {
    for (int shift : {16, 8, 0}) {
        const int a = static_cast<int>((got >> shift) & 0xFF), b = static_cast<int>((want >> shift) & 0xFF);
        if (std::abs(a - b) > tolerance) return false;
    }
    return true;
}

// The share of the rectangle's pixels that differ from the twin's picture.
inline double differing_share(const Shot& shot, const vorn_ui::offscreen::RenderedImage& want, vorn_ui::Rect r) {
    const int x0 = std::max(0, static_cast<int>(r.x0)), y0 = std::max(0, static_cast<int>(r.y0));
    const int x1 = std::min({shot.w, static_cast<int>(want.width), static_cast<int>(r.x1)});
    const int y1 = std::min({shot.h, static_cast<int>(want.height), static_cast<int>(r.y1)});
    if (x1 <= x0 || y1 <= y0) return 1.0;
    long differ = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const std::uint32_t expected = want.rgba_at(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)) >> 8;
            if (!near(shot.at(x, y), expected, 24)) ++differ;
        }
    }
    return static_cast<double>(differ) / (static_cast<double>(x1 - x0) * (y1 - y0));
}

inline vorn_ui::launch::LaunchArgs parse(Args argv) {
    argv.insert(argv.begin(), "vorn-sarn");
    const std::vector<std::string> switches(std::begin(kLaunchSwitches), std::end(kLaunchSwitches));
    const std::vector<std::string> valued(std::begin(kValuedLaunchOptions), std::end(kValuedLaunchOptions));
    return vorn_ui::launch::LaunchArgs::parse(argv, switches, valued);
}

// The root in the window's start state, laid out headless at the window's size.
// Its fetch worker takes requests and never answers: the twin gets the
// answers the program got from the test.
class Twin {
public:
    Twin(const Args& args, vorn_ui::Theme theme = vorn_ui::Theme::dark(), double width = 1280, double height = 800,
         std::function<void(SarnAppOptions&)> adjust = {})
        : m_harness(app_from_args(parse(args), options_with(adjust)), width, height, 1.0f, theme) {
        m_harness.frame();
    }
    // A root the caller builds with options(); `prepare` sees its harness
    // before the first frame (the document the program opened, say).
    explicit Twin(const std::function<SarnApp(SarnAppOptions)>& build,
                  const std::function<void(test::RootHarness&)>& prepare = {})
        : Twin(build, 1.0f, 1280, 800, vorn_ui::Theme::dark(), prepare) {}
    // The same at a display scale (the size in logical pixels).
    Twin(const std::function<SarnApp(SarnAppOptions)>& build, float scale, double width = 1280, double height = 800,
         vorn_ui::Theme theme = vorn_ui::Theme::dark(), const std::function<void(test::RootHarness&)>& prepare = {})
        : m_harness(build(options_with({})), width, height, scale, theme) {
        if (prepare) prepare(m_harness);
        m_harness.frame();
    }
    test::RootHarness& harness() { return m_harness; }
    // The extras the test server answers for the video, as the program got them.
    void take_extras(const std::string& video_id) {
        take(FetchResult{FetchResult::SponsorSegments{video_id, kServedSegments}});
        take(FetchResult{FetchResult::Dislikes{video_id, kServedDislikes}});
    }
    // Waits for the pictures the page asked for, then draws with them.
    void settle_images() {
        const auto& store = m_harness.app().image_store();
        if (!store) return;
        m_harness.frame();
        EXPECT_TRUE(store->block_until_idle(std::chrono::seconds(5)));
        m_harness.frame();
        m_harness.frame();
    }
    // Takes a result as if the fetch worker had sent it, then a frame.
    void take(FetchResult result) {
        std::vector<std::string> channels;
        (void)m_harness.app().apply_fetch_result(std::move(result), channels);
        // The program rebuilds its page after results; a navigation to the
        // page it is on does the same here without changing anything else.
        m_harness.run({intent::Navigate{m_harness.app().library().route}});
        m_harness.frame();
    }
    void run(std::vector<ControlIntent> intents) {
        m_harness.run(std::move(intents));
        m_harness.frame();
    }
    std::optional<screens::test::DumpRow> find(std::string_view id) { return screens::test::find_id(screens::test::dump_tree(m_harness.app()), id); }
    vorn_ui::Point centre_of(std::string_view id) {
        const auto row = find(id);
        EXPECT_TRUE(row.has_value()) << "no widget " << id << " in\n" << screens::test::dump_text(screens::test::dump_tree(m_harness.app()));
        if (!row) return {};
        return {(row->rect.x0 + row->rect.x1) / 2, (row->rect.y0 + row->rect.y1) / 2};
    }
    vorn_ui::offscreen::RenderedImage picture() { return m_harness.render(); }

private:
    SarnAppOptions options_with(const std::function<void(SarnAppOptions&)>& adjust) {
        SarnAppOptions options = m_workers.options();
        if (adjust) adjust(options);
        return options;
    }

    test::StalledWorkers m_workers;  // outlives the root that holds its workers
    test::RootHarness m_harness;
};

// The colour of every served thumbnail, to be found again in the window.
inline constexpr std::uint32_t kThumbnailColour = 0xC81EA0;

inline const std::vector<std::uint8_t>& thumbnail_png() {
    static const std::vector<std::uint8_t> png = [] {
        std::vector<std::uint8_t> rgba;
        for (int i = 0; i < 320 * 180; ++i) rgba.insert(rgba.end(), {0xC8, 0x1E, 0xA0, 0xFF});
        return vorn_ui::offscreen::encode_png(320, 180, rgba).value_or(std::vector<std::uint8_t>{});
    }();
    return png;
}

// A 60-second 320x240 VP8 clip at 10 frames a second without sound, made
// once per build tree (as long as the videos the fake yt-dlp describes).
inline constexpr int kClipSeconds = 60;
inline std::string test_clip() {
    const std::filesystem::path path = std::filesystem::path(VORN_BINARY_DIR) / "tests" / "main" / "clip-320x240-60s.webm";
    if (!std::filesystem::exists(path)) {
        const auto part = path.string() + "." + std::to_string(::getpid());
        const std::string command = fmt::format(
            "gst-launch-1.0 -q videotestsrc num-buffers={} pattern=ball ! "
            "video/x-raw,width=320,height=240,framerate=10/1 ! vp8enc deadline=1 ! webmmux ! filesink location={} "
            ">/dev/null 2>&1",
            kClipSeconds * 10, part);
        if (std::system(command.c_str()) == 0) std::filesystem::rename(part, path);
    }
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ProgramWindow : public ::testing::Test {
protected:
    // The X server's screen, "WxHxDEPTH".
    explicit ProgramWindow(const char* screen = "1280x900x24") : m_display(screen) {}

    void SetUp() override {
        ASSERT_TRUE(m_display.ok()) << "Xvfb did not start";
        ASSERT_TRUE(m_bus.ok()) << "dbus-daemon did not start";
        ASSERT_TRUE(m_trap.ok());
        m_server.server().set_logger([this](const httplib::Request& request, const httplib::Response&) {
            std::lock_guard lock(m_mu);
            m_requests.push_back(request.method + " " + request.path);
        });
        // The crowd-sourced services, the thumbnails and the clip, all here.
        auto& server = m_server.server();
        server.Get(R"(/thumb/(\d+)\.png)", [](const httplib::Request&, httplib::Response& response) {
            const auto& png = thumbnail_png();
            response.set_content(std::string(png.begin(), png.end()), "image/png");
        });
        server.Get("/clip.webm", [this](const httplib::Request&, httplib::Response& response) {
            std::lock_guard lock(m_mu);
            if (m_clip.empty()) {
                response.status = 404;
                return;
            }
            response.set_content(m_clip, "video/webm");
        });
        server.Get("/api/skipSegments", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(R"([{"category":"sponsor","segment":[0.5,1.5],"UUID":"s1","votes":7}])",
                                 "application/json");  // kServedSegments
        });
        server.Get("/votes", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(R"({"likes":900,"dislikes":4242})", "application/json");  // kServedDislikes
        });
        add_routes(server);
        ASSERT_TRUE(m_server.start());
        ASSERT_TRUE(m_x.ok());
        m_x.park_pointer();
    }

    // Further answers of the test server, registered before it starts.
    virtual void add_routes(httplib::Server&) {}

    // The program's environment: its home, the bus, every outside address on
    // this machine.
    std::map<std::string, std::string> environment() {
        auto env = m_home.environment();
        env["DISPLAY"] = m_display.name();
        env["DBUS_SESSION_BUS_ADDRESS"] = m_bus.address();
        env["VORN_SARN_TEST_ORIGIN"] = m_server.base_url();
        env["VORN_SARN_INVIDIOUS"] = m_server.base_url();
        // HTTP clients that honour the proxy settings send anything for
        // another machine to the trap. (Plain http_proxy is left unset: the
        // media engine's HTTP source takes it without the exceptions, and the
        // stream it plays is on this machine anyway.)
        for (const char* proxy : {"https_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"}) env[proxy] = m_trap.url();
        env["no_proxy"] = env["NO_PROXY"] = "127.0.0.1,localhost";
        return env;
    }

    struct Running {
        vorn_test::ProgramProcess process;
        unsigned long window = 0;
    };

    // Starts the program and waits for its window and first frame.
    std::optional<Running> launch(const Args& args, std::map<std::string, std::string> extra = {}) {
        auto env = environment();
        for (auto& [k, v] : extra) env[k] = v;
        Args argv{vorn_test::program_path()};
        argv.insert(argv.end(), args.begin(), args.end());
        auto process = vorn_test::ProgramProcess::start(argv, env, m_home.root());
        if (!process) {
            ADD_FAILURE() << "the program did not start";
            return std::nullopt;
        }
        std::optional<unsigned long> window;
        const bool found = wait_until([&] { return !process->running() || (window = m_x.find_window(kWindowTitle)); });
        if (!found || !window) {
            ADD_FAILURE() << "no window titled " << kWindowTitle << "; status "
                          << process->wait(0ms).value_or(-1) << "; stderr:\n"
                          << process->standard_error();
            return std::nullopt;
        }
        return Running{std::move(*process), *window};
    }

    // A second instance while `first` runs: both windows have the same
    // title, so its window is the one that is not first's.
    std::optional<Running> launch_beside(const Running& first, const Args& args) {
        Args argv{vorn_test::program_path()};
        argv.insert(argv.end(), args.begin(), args.end());
        auto process = vorn_test::ProgramProcess::start(argv, environment(), m_home.root());
        if (!process) return std::nullopt;
        std::optional<unsigned long> window;
        wait_until([&] {
            for (unsigned long w : m_x.find_windows(kWindowTitle)) {
                if (w != first.window) window = w;
            }
            return window.has_value();
        });
        if (!window) return std::nullopt;
        return Running{std::move(*process), *window};
    }

    std::optional<Shot> shot(const Running& running) { return m_x.screenshot(running.window); }

    // Waits until the window shows the twin's picture in the rectangle.
    bool shows(const Running& running, Twin& twin, vorn_ui::Rect region, double share = 0.001) {
        const auto want = twin.picture();
        double last = 1.0;
        const bool ok = wait_until([&] {
            const auto s = shot(running);
            if (!s) return false;
            last = differing_share(*s, want, region);
            if (std::getenv("VORN_TEST_VERBOSE")) fprintf(stderr, "share %.5f\n", last);
            return last <= share;
        }, 10s);
        if (!ok) {
            ADD_FAILURE() << fmt::format("{:.1f}% of ({:.0f},{:.0f})-({:.0f},{:.0f}) differ from the twin", last * 100,
                                         region.x0, region.y0, region.x1, region.y1);
            keep_pictures(running, want);
        }
        return ok;
    }

    // With VORN_SHOT_DIR set, a mismatch leaves both pictures there.
    void keep_pictures(const Running& running, const vorn_ui::offscreen::RenderedImage& want) {
        const char* dir = std::getenv("VORN_SHOT_DIR");
        const auto s = shot(running);
        if (dir == nullptr || !s) return;
        static int serial = 0;
        const std::string name = fmt::format("{}/{}-{}", dir, ::testing::UnitTest::GetInstance()->current_test_info()->name(),
                                             serial++);
        std::vector<std::uint8_t> rgba;
        for (std::uint32_t px : s->px) rgba.insert(rgba.end(), {std::uint8_t(px >> 16), std::uint8_t(px >> 8), std::uint8_t(px), 0xFF});
        if (auto png = vorn_ui::offscreen::encode_png(s->w, s->h, rgba)) {
            (void)vorn_ui::offscreen::write_file_atomically(name + "-window.png", *png);
        }
        if (auto png = vorn_ui::offscreen::encode_png(want.width, want.height, want.rgba)) {
            (void)vorn_ui::offscreen::write_file_atomically(name + "-twin.png", *png);
        }
    }

    // A click, then the pointer goes away again (the twin shows no hover).
    void click(const Running& running, vorn_ui::Point at) {
        m_x.click(running.window, static_cast<int>(at.x), static_cast<int>(at.y));
        m_x.park_pointer();
    }

    // Closes the window as a window manager does; the program ends with 0.
    void close_and_expect_clean_exit(Running& running) {
        m_x.close(running.window);
        const auto status = running.process.wait(10s);
        ASSERT_TRUE(status.has_value()) << "the program did not end after its window was closed";
        EXPECT_EQ(*status, 0) << running.process.standard_error();
        EXPECT_EQ(vorn_test::gstreamer_complaints(running.process.standard_error()), "");
    }

    std::vector<std::string> requests() {
        std::lock_guard lock(m_mu);
        return m_requests;
    }

    void TearDown() override { EXPECT_EQ(m_trap.connections(), 0) << "something tried to reach an outside address"; }

    vorn_test::XvfbDisplay m_display;
    vorn_test::DbusSession m_bus;
    vorn_test::ConnectionTrap m_trap;
    vorn_test::LocalServer m_server;
    vorn_test::ProgramHome m_home;
    XClient m_x;
    std::mutex m_mu;
    std::vector<std::string> m_requests;  // guarded by m_mu
    std::string m_clip;                   // guarded by m_mu
};

// The watch-history entries in the owner-local history files, newest first.
inline std::vector<std::string> history_in(const vorn_test::ProgramHome& home) {
    std::vector<std::string> ids;
    for (const auto& path : home.history_files()) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        auto document = automerge::Document::load(bytes);
        if (!document) continue;
        const auto map = owner_history_map(*document);
        if (!map) continue;
        for (const auto& entry : entries_after_clear(*document, *map, Removals::Skip)) ids.push_back(entry.video_id);
    }
    return ids;
}

inline bool ran_ytdlp_with(const vorn_test::ProgramHome& home, std::string_view needle) {
    for (const auto& run : home.ytdlp_runs()) {
        for (const auto& arg : run) {
            if (arg.find(needle) != std::string::npos) return true;
        }
    }
    return false;
}

// The library as the shared document on disk holds it, projected the way the
// program projects it.
inline Library shared_library_in(const vorn_test::ProgramHome& home) {
    auto store = vorn_ui::persist::DocumentStore::open_at(home.shared_document());
    SarnApp app = SarnApp::create(test::quiet_options());
    (void)app.load_shared_state(store.document());
    return app.library();
}

// The feed the fake yt-dlp answers for trending: 30 videos "Feed video NN"
// whose thumbnails are on the test server.
inline std::string feed_json(const std::string& origin, std::string_view prefix, int count) {
    nlohmann::json entries = nlohmann::json::array();
    for (int i = 1; i <= count; ++i) {
        const std::string n = fmt::format("{:02}", i);
        entries.push_back({{"id", fmt::format("{}{}", prefix, n)},
                           {"title", fmt::format("{} video {}", prefix == "feed" ? "Feed" : "Found", n)},
                           {"channel", i % 2 ? "Channel One" : "Channel Two"},
                           {"channel_id", i % 2 ? "UCone" : "UCtwo"},
                           {"view_count", 1000 * i},
                           {"duration", kClipSeconds},
                           {"thumbnails", {{{"url", fmt::format("{}/thumb/{}.png", origin, i)}, {"width", 320}, {"height", 180}}}}});
    }
    return nlohmann::json{{"entries", entries}}.dump();
}

// The live root; thumbnails as the server serves them, without asking it
// (its log is the program's).
inline SarnApp live_twin_app(SarnAppOptions options) {
    options.image_store = [] {
        return vorn_ui::image_store::ImageStore::create(
            [](const std::string& address) -> std::optional<std::vector<std::uint8_t>> {
                if (address.find("/thumb/") == std::string::npos) return std::nullopt;
                return thumbnail_png();
            });
    };
    return live_app(std::move(options));
}

}  // namespace sarn::entry::window
